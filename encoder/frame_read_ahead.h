// Reads the compression run's source frames one ahead of the coding, on a thread of its own,
// so that reading, Motion-JPEG decoding and filtering overlap the encoder.
//
// The sources are not safe to use from two threads at once: every call on them, here and in
// the run, holds `sourceMutex`. One frame is held ahead, so memory does not grow with the movie.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace zov {

class FrameReadAhead {
 public:
  using ReadFn = std::function<bool(uint32_t frame, std::vector<uint8_t>& bitmap)>;
  FrameReadAhead(ReadFn read, std::mutex& sourceMutex, uint32_t frameCount);
  ~FrameReadAhead();
  FrameReadAhead(const FrameReadAhead&) = delete;
  FrameReadAhead& operator=(const FrameReadAhead&) = delete;

  // Frame `n`: the one read ahead when it is that frame, else read now. When `n` is the
  // furthest frame asked for so far, frame n + 1 is then read in the background.
  bool get(uint32_t n, std::vector<uint8_t>& bitmap);

 private:
  void loop();

  ReadFn read_;
  std::mutex& sourceMutex_;
  const uint32_t frameCount_;
  std::mutex mutex_;
  std::condition_variable changed_;
  bool quit_ = false;
  bool requested_ = false;  // the thread has a frame to read
  bool reading_ = false;    // the thread is reading it (it owns slot_)
  bool slotValid_ = false;  // slot_ holds frame slotFrame_ as read (slotOk_: successfully)
  bool slotOk_ = false;
  uint32_t slotFrame_ = 0;
  std::vector<uint8_t> slot_;
  int64_t furthest_ = -1;
  std::thread thread_;
};

}  // namespace zov

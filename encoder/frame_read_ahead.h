// Reads the compression run's source frames ahead of the coding, on a thread of its own, so
// that reading, Motion-JPEG decoding and filtering overlap the encoder.
//
// The sources are not safe to use from two threads at once: every call on them, here and in
// the run, holds `sourceMutex`. Two frames are held ahead (the one the next call codes and the
// one after it, which the encoder takes in beside the coding), so memory does not grow with the
// movie.
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
  // furthest frame asked for so far, frames n + 1 and n + 2 are then read in the background.
  bool get(uint32_t n, std::vector<uint8_t>& bitmap);

  // Frame `n` when it is being read ahead (waiting for it), without taking it: null when it is
  // not, or could not be read. The data stays valid until the next get().
  const std::vector<uint8_t>* peek(uint32_t n);

 private:
  static constexpr int kSlots = 2;
  struct Slot {
    bool requested = false;  // the thread is to read `frame` into data
    bool reading = false;    // the thread is reading it (it owns data)
    bool valid = false;      // data holds `frame` as read (ok: successfully)
    bool ok = false;
    uint32_t frame = 0;
    std::vector<uint8_t> data;
  };
  void loop();
  Slot* holding(uint32_t n);  // the slot requested, being read or holding frame n
  void request(uint32_t n, std::unique_lock<std::mutex>& lock);

  ReadFn read_;
  std::mutex& sourceMutex_;
  const uint32_t frameCount_;
  std::mutex mutex_;
  std::condition_variable changed_;
  bool quit_ = false;
  Slot slots_[kSlots];
  int64_t furthest_ = -1;
  std::thread thread_;
};

}  // namespace zov

// The four view locks of the compressor window and what each view shares with the compression
// thread: 0 the input view's frame, 1 the filtered-source view, 2 the output view, 3 the error
// (RMS) view. A lock is held only together with the view's existence: locking a view that does not
// exist releases the mutex again and reports the lock as not held.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "compressor/gui/codec_preview.h"

namespace zov {

enum ViewNumber : int { kInputView = 0, kFilterView = 1, kOutputView = 2, kRmsView = 3 };

// What a picture view shows: a 15-bit picture (bottom-up) and its title.
struct ViewPicture {
  std::vector<uint16_t> pixels;
  int width = 0, height = 0;
  uint32_t letterTop = 0, letterBottom = 0;  // black bands of the output views
  std::string title;
};

struct ViewSlot {
  std::mutex lock;
  bool exists = false;
  ViewPicture picture;
  std::unique_ptr<CodecPreview> decoder;  // the output and error views
};

class ViewSlots {
 public:
  ViewSlot& slot(int view) { return slots_[size_t(view)]; }
  // Takes view i's lock when the view exists; false (lock released) otherwise.
  bool lock(int view) {
    ViewSlot& s = slots_[size_t(view)];
    s.lock.lock();
    if (s.exists) return true;
    s.lock.unlock();
    return false;
  }
  void unlock(int view) { slots_[size_t(view)].lock.unlock(); }
  void setExists(int view, bool exists) {
    std::lock_guard guard(slots_[size_t(view)].lock);
    slots_[size_t(view)].exists = exists;
    if (!exists) {
      slots_[size_t(view)].picture = ViewPicture{};
      slots_[size_t(view)].decoder.reset();
    }
  }

 private:
  std::array<ViewSlot, 4> slots_;
};

}  // namespace zov

#include "encoder/frame_read_ahead.h"

namespace zov {

FrameReadAhead::FrameReadAhead(ReadFn read, std::mutex& sourceMutex, uint32_t frameCount)
    : read_(std::move(read)), sourceMutex_(sourceMutex), frameCount_(frameCount) {
  thread_ = std::thread([this] { loop(); });
}

FrameReadAhead::~FrameReadAhead() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    quit_ = true;
  }
  changed_.notify_all();
  thread_.join();
}

void FrameReadAhead::loop() {
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    changed_.wait(lock, [&] { return quit_ || requested_; });
    if (quit_) return;
    requested_ = false;
    reading_ = true;
    const uint32_t frame = slotFrame_;
    lock.unlock();
    bool ok;
    {
      std::lock_guard<std::mutex> source(sourceMutex_);
      ok = read_(frame, slot_);
    }
    lock.lock();
    slotOk_ = ok;
    slotValid_ = true;
    reading_ = false;
    changed_.notify_all();
  }
}

bool FrameReadAhead::get(uint32_t n, std::vector<uint8_t>& bitmap) {
  std::unique_lock<std::mutex> lock(mutex_);
  changed_.wait(lock, [&] { return !requested_ && !reading_; });
  bool ok;
  if (slotValid_ && slotFrame_ == n) {
    bitmap.swap(slot_);
    ok = slotOk_;
    slotValid_ = false;
  } else {
    lock.unlock();
    {
      std::lock_guard<std::mutex> source(sourceMutex_);
      ok = read_(n, bitmap);
    }
    lock.lock();
  }
  if (ok && int64_t(n) > furthest_) {
    furthest_ = n;
    if (n + 1 < frameCount_) {
      slotFrame_ = n + 1;
      slotValid_ = false;
      requested_ = true;
      changed_.notify_all();
    }
  }
  return ok;
}

}  // namespace zov

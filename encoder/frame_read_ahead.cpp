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
    // The lowest frame asked for first: the run needs it sooner.
    Slot* next = nullptr;
    changed_.wait(lock, [&] {
      next = nullptr;
      for (Slot& s : slots_)
        if (s.requested && (!next || s.frame < next->frame)) next = &s;
      return quit_ || next;
    });
    if (quit_) return;
    next->requested = false;
    next->reading = true;
    const uint32_t frame = next->frame;
    lock.unlock();
    bool ok;
    {
      std::lock_guard<std::mutex> source(sourceMutex_);
      ok = read_(frame, next->data);
    }
    lock.lock();
    next->ok = ok;
    next->valid = true;
    next->reading = false;
    changed_.notify_all();
  }
}

FrameReadAhead::Slot* FrameReadAhead::holding(uint32_t n) {
  for (Slot& s : slots_)
    if ((s.requested || s.reading || s.valid) && s.frame == n) return &s;
  return nullptr;
}

void FrameReadAhead::request(uint32_t n, std::unique_lock<std::mutex>& lock) {
  if (n >= frameCount_ || holding(n)) return;
  // A slot holding nothing or a frame the run has passed; one still being read is waited for.
  for (;;) {
    Slot* free = nullptr;
    for (Slot& s : slots_)
      if (!s.requested && !s.reading && (!s.valid || int64_t(s.frame) <= furthest_)) free = &s;
    if (free) {
      free->frame = n;
      free->valid = false;
      free->requested = true;
      changed_.notify_all();
      return;
    }
    bool busy = false;
    for (Slot& s : slots_) busy |= s.requested || s.reading;
    if (!busy) return;  // both slots hold frames the run still wants
    changed_.wait(lock);
  }
}

bool FrameReadAhead::get(uint32_t n, std::vector<uint8_t>& bitmap) {
  std::unique_lock<std::mutex> lock(mutex_);
  bool ok;
  if (Slot* s = holding(n)) {
    changed_.wait(lock, [&] { return s->valid; });
    bitmap.swap(s->data);
    ok = s->ok;
    s->valid = false;
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
    request(n + 1, lock);
    request(n + 2, lock);
  }
  return ok;
}

const std::vector<uint8_t>* FrameReadAhead::peek(uint32_t n) {
  std::unique_lock<std::mutex> lock(mutex_);
  Slot* s = holding(n);
  if (!s) return nullptr;
  changed_.wait(lock, [&] { return s->valid; });
  return s->ok ? &s->data : nullptr;
}

}  // namespace zov

#include "player/audio_output.h"

#include <chrono>
#include <cstring>
#include <mutex>

namespace zov::player {

void AudioOutput::applyGain(uint8_t* data, size_t size) const {
  if (!muted_ && volume_ == kVolumeMaximum) return;
  const uint32_t gain = muted_ ? 0 : volume_;
  if (format_.bitsPerSample == 16) {
    for (size_t i = 0; i + 1 < size; i += 2) {
      int16_t s;
      std::memcpy(&s, data + i, 2);
      s = int16_t((int32_t(s) * int32_t(gain)) / int32_t(kVolumeMaximum));
      std::memcpy(data + i, &s, 2);
    }
  } else {
    for (size_t i = 0; i < size; ++i)
      data[i] = uint8_t(128 + ((int32_t(data[i]) - 128) * int32_t(gain)) / int32_t(kVolumeMaximum));
  }
}

namespace {

// Consumes the queue at the stream's rate by the steady clock.
class NullAudioOutput : public AudioOutput {
 public:
  explicit NullAudioOutput(std::function<int64_t()> now) : now_(std::move(now)) {
    if (!now_)
      now_ = [] {
        return std::chrono::duration_cast<std::chrono::microseconds>(
                   std::chrono::steady_clock::now().time_since_epoch())
            .count();
      };
  }
  bool open(const AudioFormat& format) override {
    std::lock_guard lock(mutex_);
    if (format.sampleRate == 0 || format.bytesPerFrame() == 0) return false;
    format_ = format;
    resetLocked();
    return true;
  }
  void close() override { reset(); }
  void queue(const uint8_t*, size_t size) override {
    std::lock_guard lock(mutex_);
    queued_ += size / format_.bytesPerFrame();
  }
  size_t queuedBytes() const override {
    std::lock_guard lock(mutex_);
    const uint64_t played = playedLocked();
    return size_t(queued_ - played) * format_.bytesPerFrame();
  }
  void reset() override {
    std::lock_guard lock(mutex_);
    resetLocked();
  }
  void setPaused(bool paused) override {
    std::lock_guard lock(mutex_);
    if (paused == paused_) return;
    if (paused) {
      base_ = playedLocked();
    } else {
      since_ = now_();
    }
    paused_ = paused;
  }
  uint64_t playedFrames() const override {
    std::lock_guard lock(mutex_);
    return playedLocked();
  }

 private:
  void resetLocked() {
    queued_ = base_ = 0;
    paused_ = true;
  }
  uint64_t playedLocked() const {
    uint64_t played = base_;
    if (!paused_ && format_.sampleRate) {
      const int64_t us = now_() - since_;
      played += uint64_t(us) * format_.sampleRate / 1000000;
    }
    return played < queued_ ? played : queued_;
  }
  mutable std::mutex mutex_;
  uint64_t queued_ = 0, base_ = 0;
  bool paused_ = true;
  int64_t since_ = 0;
  std::function<int64_t()> now_;
};

}  // namespace

std::unique_ptr<AudioOutput> createNullAudioOutput(std::function<int64_t()> nowMicros) {
  return std::make_unique<NullAudioOutput>(std::move(nowMicros));
}

}  // namespace zov::player

// The SDL2 backend of the audio output: SDL's queue holds the PCM ahead of the play position.
// The device takes the queue a buffer at a time, so "queued minus waiting" runs a buffer ahead of
// what is heard and moves in buffer-sized jumps; the position is that count less one buffer, plus
// the time since the last jump at the stream's rate (at most one buffer).
#include <SDL.h>

#include <algorithm>
#include <chrono>
#include <vector>

#include "player/audio_output.h"

namespace zov::player {

namespace {

class SdlAudioOutput : public AudioOutput {
 public:
  ~SdlAudioOutput() override {
    close();
    SDL_QuitSubSystem(SDL_INIT_AUDIO);
  }
  bool open(const AudioFormat& format) override {
    close();
    if (format.sampleRate == 0 || format.bytesPerFrame() == 0) return false;
    SDL_AudioSpec want{}, have{};
    want.freq = int(format.sampleRate);
    want.format = format.bitsPerSample == 16 ? AUDIO_S16LSB : AUDIO_U8;
    want.channels = uint8_t(format.channels);
    // A buffer of about 20 ms keeps the clock's steps fine.
    want.samples = 64;
    while (want.samples * 2 <= format.sampleRate / 50) want.samples = uint16_t(want.samples * 2);
    device_ = SDL_OpenAudioDevice(nullptr, 0, &want, &have, 0);
    if (device_ == 0) return false;
    format_ = format;
    bufferFrames_ = have.samples;
    queuedFrames_ = 0;
    lastRaw_ = 0;
    paused_ = true;
    return true;
  }
  void close() override {
    if (device_) SDL_CloseAudioDevice(device_);
    device_ = 0;
    queuedFrames_ = 0;
  }
  void queue(const uint8_t* data, size_t size) override {
    if (!device_ || size == 0) return;
    scratch_.assign(data, data + size);
    applyGain(scratch_.data(), scratch_.size());
    SDL_QueueAudio(device_, scratch_.data(), uint32_t(scratch_.size()));
    queuedFrames_ += size / format_.bytesPerFrame();
  }
  size_t queuedBytes() const override { return device_ ? SDL_GetQueuedAudioSize(device_) : 0; }
  void reset() override {
    if (!device_) return;
    SDL_PauseAudioDevice(device_, 1);
    SDL_ClearQueuedAudio(device_);
    queuedFrames_ = 0;
    lastRaw_ = 0;
    paused_ = true;
  }
  void setPaused(bool paused) override {
    if (!device_) return;
    SDL_PauseAudioDevice(device_, paused ? 1 : 0);
    paused_ = paused;
    lastChange_ = Clock::now();
  }
  uint64_t playedFrames() const override {
    if (!device_) return 0;
    const uint64_t waiting = SDL_GetQueuedAudioSize(device_) / format_.bytesPerFrame();
    const uint64_t raw = queuedFrames_ > waiting ? queuedFrames_ - waiting : 0;
    const auto now = Clock::now();
    if (raw != lastRaw_) {
      lastRaw_ = raw;
      lastChange_ = now;
    }
    if (raw == 0) return 0;
    uint64_t since = 0;
    if (!paused_) {
      const auto us =
          std::chrono::duration_cast<std::chrono::microseconds>(now - lastChange_).count();
      since = uint64_t(us) * format_.sampleRate / 1000000;
    }
    const uint64_t taken = std::min<uint64_t>(raw, bufferFrames_);
    return raw - taken + std::min(since, taken);
  }

 private:
  using Clock = std::chrono::steady_clock;
  uint64_t bufferFrames_ = 0;
  mutable uint64_t lastRaw_ = 0;
  mutable Clock::time_point lastChange_;
  bool paused_ = true;
  SDL_AudioDeviceID device_ = 0;
  uint64_t queuedFrames_ = 0;
  std::vector<uint8_t> scratch_;
};

}  // namespace

std::unique_ptr<AudioOutput> createSdlAudioOutput(std::string* error) {
  // SDL's own SIGINT/SIGTERM handlers only queue a quit event that this program never reads:
  // the player handles the signals itself.
  SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
  if (SDL_InitSubSystem(SDL_INIT_AUDIO) != 0) {
    if (error) *error = SDL_GetError();
    return nullptr;
  }
  return std::make_unique<SdlAudioOutput>();
}

}  // namespace zov::player

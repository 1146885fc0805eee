// The SDL2 backend of the audio output: SDL's queue holds the PCM ahead of the play position;
// the position is what was queued minus what is still waiting.
#include <SDL.h>

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
    want.samples = 1024;
    device_ = SDL_OpenAudioDevice(nullptr, 0, &want, &have, 0);
    if (device_ == 0) return false;
    format_ = format;
    queuedFrames_ = 0;
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
  }
  void setPaused(bool paused) override {
    if (device_) SDL_PauseAudioDevice(device_, paused ? 1 : 0);
  }
  uint64_t playedFrames() const override {
    if (!device_) return 0;
    const uint64_t waiting = SDL_GetQueuedAudioSize(device_) / format_.bytesPerFrame();
    return queuedFrames_ > waiting ? queuedFrames_ - waiting : 0;
  }

 private:
  SDL_AudioDeviceID device_ = 0;
  uint64_t queuedFrames_ = 0;
  std::vector<uint8_t> scratch_;
};

}  // namespace

std::unique_ptr<AudioOutput> createSdlAudioOutput(std::string* error) {
  if (SDL_InitSubSystem(SDL_INIT_AUDIO) != 0) {
    if (error) *error = SDL_GetError();
    return nullptr;
  }
  return std::make_unique<SdlAudioOutput>();
}

}  // namespace zov::player

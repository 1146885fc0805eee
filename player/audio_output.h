// Audio output for the player: a PCM stream the movie window feeds ahead of the picture, whose
// play position is the playback clock. The SDL backend plays on the sound card (SDL's "dummy"
// driver consumes at the real rate without a card); the null backend only counts time, for
// tests and machines without audio. Volume and mute are the player's mixer controls and act on
// this stream alone.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace zov::player {

struct AudioFormat {
  uint32_t sampleRate = 0;
  uint16_t channels = 0;
  uint16_t bitsPerSample = 0;  // 8 (unsigned) or 16 (signed little-endian)
  uint32_t bytesPerFrame() const { return uint32_t(channels) * (bitsPerSample / 8); }
};

// The mixer's volume control range and steps.
inline constexpr uint32_t kVolumeMinimum = 0;
inline constexpr uint32_t kVolumeMaximum = 65535;
inline constexpr uint32_t kVolumeSteps = 16;

class AudioOutput {
 public:
  virtual ~AudioOutput() = default;
  // Prepares for a stream; the stream starts paused at position 0.
  virtual bool open(const AudioFormat& format) = 0;
  virtual void close() = 0;
  // Appends PCM data.
  virtual void queue(const uint8_t* data, size_t size) = 0;
  // Bytes queued but not played yet.
  virtual size_t queuedBytes() const = 0;
  // Drops what is queued and sets the position back to 0.
  virtual void reset() = 0;
  virtual void setPaused(bool paused) = 0;
  // Sample frames played since the last reset.
  virtual uint64_t playedFrames() const = 0;
  const AudioFormat& format() const { return format_; }

  // Mixer controls (volume in kVolumeMinimum..kVolumeMaximum).
  void setVolume(uint32_t volume) { volume_ = volume > kVolumeMaximum ? kVolumeMaximum : volume; }
  uint32_t volume() const { return volume_; }
  void setMuted(bool muted) { muted_ = muted; }
  bool muted() const { return muted_; }

 protected:
  // Applies volume and mute to data about to be queued.
  void applyGain(uint8_t* data, size_t size) const;
  AudioFormat format_;

 private:
  uint32_t volume_ = kVolumeMaximum;
  bool muted_ = false;
};

// Counts time at the stream's rate while not paused; plays nothing. nowMicros: the clock it
// counts by (default the steady clock; tests pass their own).
std::unique_ptr<AudioOutput> createNullAudioOutput(std::function<int64_t()> nowMicros = {});
// SDL2 audio; null when SDL cannot start an audio device (error names the reason).
std::unique_ptr<AudioOutput> createSdlAudioOutput(std::string* error);

}  // namespace zov::player

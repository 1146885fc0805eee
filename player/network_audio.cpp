#include "player/network_audio.h"

#include <chrono>
#include <cmath>
#include <cstring>
#include <thread>

namespace zov::player {

namespace {

int64_t steadyMicros() {
  return std::chrono::duration_cast<std::chrono::microseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

}  // namespace

std::unique_ptr<NetworkAudio> NetworkAudio::create(Obtain obtain, uint32_t chunks,
                                                   uint16_t channels, uint32_t rate, double fps,
                                                   std::string* error) {
  auto fail = [&](const char* text) {
    if (error) *error = text;
    return nullptr;
  };
  if (!obtain || chunks == 0) return fail("the network movie has no audio chunks");
  if (channels < 1 || channels > 2 || rate < 1000 || rate > 192000 || !(fps > 0.1 && fps < 1000))
    return fail("the network movie's audio format is not playable");
  uint32_t size = 0;
  obtain(0, &size);
  const double samplesPerChunk = double(rate) / fps;
  const double bytesPerSample = double(size) / (double(channels) * samplesPerChunk);
  uint16_t bits;
  if (bytesPerSample >= 0.5 && bytesPerSample < 1.5)
    bits = 8;
  else if (bytesPerSample >= 1.5 && bytesPerSample <= 3)
    bits = 16;
  else
    return fail("the network movie's audio chunks do not match its format");
  std::unique_ptr<NetworkAudio> a(new NetworkAudio);
  a->obtain_ = std::move(obtain);
  a->format_ = AudioFormat{rate, channels, bits};
  a->chunks_ = chunks;
  a->samplesPerChunk_ = samplesPerChunk;
  return a;
}

uint64_t NetworkAudio::nominalStart(uint32_t chunk) const {
  return uint64_t(std::llround(double(chunk) * samplesPerChunk_));
}

uint64_t NetworkAudio::length() const {
  return nominalStart(chunks_ + 1);
}

bool NetworkAudio::load(bool mayWait, int64_t deadlineMicros) {
  for (;;) {
    uint32_t size = 0;
    const void* at = obtain_(current_, &size);
    if (at) {
      data_.assign(static_cast<const uint8_t*>(at), static_cast<const uint8_t*>(at) + size);
      break;
    }
    if (!mayWait || steadyMicros() >= deadlineMicros) {
      if (mayWait) {
        // Waited long enough: this chunk's length of silence keeps the sound in step.
        data_.assign(size, format_.bitsPerSample == 8 ? 128 : 0);
        break;
      }
      return false;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  // A chunk that ends in a partial sample frame loses that part.
  data_.resize(data_.size() - data_.size() % format_.bytesPerFrame());
  loaded_ = true;
  return true;
}

size_t NetworkAudio::read(uint64_t start, uint64_t count, std::vector<uint8_t>& out) {
  out.clear();
  const uint32_t frameBytes = format_.bytesPerFrame();
  if (!placed_ || start != position_) {
    // Start in the chunk of the frame the position falls in.
    uint32_t chunk = uint32_t(std::min<double>(double(start) / samplesPerChunk_, chunks_));
    while (chunk > 0 && nominalStart(chunk) > start) --chunk;
    while (chunk + 1 < chunks_ && nominalStart(chunk + 1) <= start) ++chunk;
    current_ = chunk;
    offset_ = size_t(start - std::min(start, nominalStart(chunk))) * frameBytes;
    position_ = start;
    loaded_ = false;
    placed_ = true;
  }
  const size_t wanted = size_t(count) * frameBytes;
  const int64_t deadline = steadyMicros() + int64_t(retryMillis) * 1000;
  while (out.size() < wanted && current_ < chunks_) {
    // Only a read that has nothing yet waits (and, failing that, plays silence); one that has
    // some sound returns it and asks again next time.
    if (!loaded_ && !load(out.empty(), deadline)) break;
    if (offset_ < data_.size()) {
      const size_t n = std::min(wanted - out.size(), data_.size() - offset_);
      out.insert(out.end(), data_.begin() + long(offset_), data_.begin() + long(offset_ + n));
      offset_ += n;
    }
    if (offset_ >= data_.size()) {
      ++current_;
      offset_ = 0;
      loaded_ = false;
    }
  }
  position_ += out.size() / frameBytes;
  return out.size();
}

}  // namespace zov::player

// The sound of a movie played through the codec library's network movie source.
//
// The source's local file stands in for the remote stream file. Its audio track (format tag
// 0xFFFF) keeps the remote format's channel count and sample rate, but its average byte rate,
// block alignment and sample size are rewritten, and each of its audio chunks is a 368-byte stub
// whose first 4 bytes are the running audio chunk number. The real chunk comes from
// ZOVObtainAudio, which always reports the chunk's real size and gives its data once it is
// cached.
//
// Working out the real PCM format: the compressor stores its PCM audio (8-bit unsigned or 16-bit
// signed) one chunk per video frame, the preload chunks included, so chunk a holds the sound of
// frame a: about rate / fps sample frames. Hence
//   bytes per sample = chunk bytes / (channels x rate / fps),
// measured on chunk 0 and taken as 1 (8-bit) below 1.5 and as 2 (16-bit) from there up to 3;
// anything else is not a track this player can play.
//
// Reading: played on from where the last read ended, the chunks follow each other with their
// real sizes, so the sound is the stored PCM byte for byte. A read from elsewhere (a seek) starts
// in the chunk of the frame the position falls in, at the position's nominal offset in it. A
// chunk that is not cached yet is asked for again for a few milliseconds; a read that has
// gathered nothing by then gives the chunk's length of silence, so the picture never waits long.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "player/audio_output.h"

namespace zov::player {

class NetworkAudio {
 public:
  // ZOVObtainAudio's shape: the chunk's data or null; its size stored in *size either way.
  using Obtain = std::function<const void*(uint32_t chunk, uint32_t* size)>;

  // `chunks` audio chunks of `channels` channels at `rate` samples per second, one per frame at
  // `fps` frames per second. Null with `error` set when the format cannot be worked out.
  static std::unique_ptr<NetworkAudio> create(Obtain obtain, uint32_t chunks, uint16_t channels,
                                              uint32_t rate, double fps, std::string* error);

  const AudioFormat& format() const { return format_; }
  // Sample frames of the track: the nominal length plus one frame's worth, so that chunks a
  // little longer than nominal are not cut; the reads end where the chunks end.
  uint64_t length() const;
  // Up to `count` sample frames from sample frame `start` into `out`; the bytes read (0 at the
  // end).
  size_t read(uint64_t start, uint64_t count, std::vector<uint8_t>& out);
  // How long a read keeps asking for a chunk that is not cached yet.
  int retryMillis = 15;

 private:
  NetworkAudio() = default;
  uint64_t nominalStart(uint32_t chunk) const;
  // Loads chunk `current_` into `data_`; false when it is not cached (and may not wait longer).
  bool load(bool mayWait, int64_t deadlineMicros);

  Obtain obtain_;
  AudioFormat format_;
  uint32_t chunks_ = 0;
  double samplesPerChunk_ = 0;
  // The read cursor: chunk, byte offset in it, and the sample frame it stands at.
  uint32_t current_ = 0;
  size_t offset_ = 0;
  uint64_t position_ = 0;
  bool placed_ = false;  // the cursor stands at position_
  bool loaded_ = false;  // data_ holds chunk current_
  std::vector<uint8_t> data_;
};

}  // namespace zov::player

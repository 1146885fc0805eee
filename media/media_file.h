// A source container as the source reader sees it: one video stream of stored frames and at most
// one audio stream of samples, with random access to both. AVI files (avi_container.h) and
// YUV4MPEG2 streams with an optional WAV file (y4m_source.h) implement it.
//
// Implementations are safe to read from several threads at once (the video and the audio side
// of a source read concurrently); they never change after opening.
//
// A streamed source (YUV4MPEG2 on standard input) is read once, in order: its frame count is an
// upper bound (kStreamFrameLimit) until endsBefore() finds the end, and a frame long passed can't
// be read again.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "encoder/avi_writer_format.h"

namespace zov {

// The frame count a streamed source gives while its length is unknown.
constexpr uint32_t kStreamFrameLimit = 0x7FFFFFFF;

class MediaFile {
 public:
  virtual ~MediaFile() = default;

  virtual bool streamed() const { return false; }
  // For a streamed source: whether the stream ends before frame n (reading on up to it).
  virtual bool endsBefore(uint32_t /*n*/) const { return false; }
  // For a streamed source: nothing will ask for the frames before `before` again, so they are
  // dropped (and skipped when reading on).
  virtual void forget(uint32_t /*before*/) const {}

  // The file's timing: microseconds per frame (0 when unknown).
  virtual uint32_t microSecPerFrame() const = 0;

  virtual bool hasVideo() const = 0;
  // The video stream's header (type 'vids', handler, scale/rate, start, length ...).
  virtual const AviStreamHeader& videoHeader() const = 0;
  // The video stream's format (a BITMAPINFOHEADER, possibly followed by a palette).
  virtual const std::vector<uint8_t>& videoFormat() const = 0;
  // Stored frames the file really holds.
  virtual uint32_t frameCount() const = 0;
  // Size of stored frame n, or -1 when n is out of range.
  virtual int64_t frameSize(uint32_t n) const = 0;
  virtual bool isKeyFrame(uint32_t n) const = 0;
  // The key frame at or before n (n itself for an intra-only stream).
  virtual uint32_t previousKeyFrame(uint32_t n) const = 0;
  // Reads stored frame n; false when it can't be read whole.
  virtual bool readFrame(uint32_t n, std::vector<uint8_t>& out) const = 0;

  virtual bool hasAudio() const = 0;
  virtual const AviStreamHeader& audioHeader() const = 0;
  // The audio format (a WAVEFORMATEX or shorter PCMWAVEFORMAT).
  virtual const std::vector<uint8_t>& audioFormat() const = 0;
  // Length of the audio stream in blocks (sample frames of block-align bytes).
  virtual uint64_t audioLength() const = 0;
  // Reads up to `count` blocks from block `start` into `out` (resized to what was read);
  // returns the number of bytes read.
  virtual size_t readAudio(uint64_t start, uint64_t count, std::vector<uint8_t>& out) const = 0;
};

}  // namespace zov

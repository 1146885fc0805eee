// One compression session of libzov32: what a Video for Windows host's compression messages
// mean for the ZOV2 encoder. The host offers bottom-up (or top-down, negative height) RGB
// bitmaps of 16 (5-5-5), 24 or 32 bits; each ICM_COMPRESS codes one frame in that same call
// (the encoder's look-ahead mode, which answers one frame late, is not used).
//
// Settings: the encoder's defaults (the compressor's "zovcomp.ini" is not read), changed by
// ICM_COMPRESS_FRAMES_INFO: its quality 0..10000 chooses the image loss level (10000 lossless,
// 0 the coarsest level 7; -1 keeps the default), its key rate N asks for a key frame every N
// frames (1: every frame; 0 keeps the default of every fourth), its data rate (bytes per
// second, 0 none) turns on the encoder's data-rate control, and its rate and scale pace it.
// The first frame of a stream and every frame the host flags with ICCOMPRESS_KEYFRAME are key
// frames. A frame that data-rate control drops has size 0 and no key flag.
#pragma once

#include <cstdint>
#include <vector>

#include "encoder/compression_settings.h"
#include "platform/vfw.h"

namespace zov::zov32 {

class CompressionSession {
 public:
  CompressionSession();
  ~CompressionSession();
  CompressionSession(const CompressionSession&) = delete;
  CompressionSession& operator=(const CompressionSession&) = delete;

  LRESULT framesInfo(const ICCOMPRESSFRAMES* info);
  // ICERR_OK when the input (and the output, when given) can be coded.
  LRESULT query(const BITMAPINFOHEADER* in, const BITMAPINFOHEADER* out) const;
  // With `out` null: the size of the format (a BITMAPINFOHEADER); otherwise fills it.
  LRESULT getFormat(const BITMAPINFOHEADER* in, BITMAPINFOHEADER* out) const;
  // The largest frame, for the host's buffers.
  LRESULT getSize(const BITMAPINFOHEADER* in) const;
  LRESULT begin(const BITMAPINFOHEADER* in, const BITMAPINFOHEADER* out);
  LRESULT compress(const ICCOMPRESS* request);
  LRESULT end();

  // The encoder's picture after the last frame (15-bit, bottom-up), null before the first.
  const uint16_t* reconstruction() const;

 private:
  bool toPicture(const void* bits);

  CompressionSettings settings_;
  int width_ = 0, height_ = 0, bitCount_ = 0;
  bool topDown_ = false;
  bool begun_ = false;
  uint32_t framesCoded_ = 0;
  std::vector<uint16_t> picture_;
};

}  // namespace zov::zov32

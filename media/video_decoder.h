// Frame decoders for source video: stored frames in, bottom-up DIBs out.
//
// Handled here: uncompressed DIBs (8-bit palettized, 16-bit 5-5-5 or bit fields, 24, 32), packed
// and planar YUV (YUY2, UYVY, I420/IYUV, YV12, and the Y42B, 444P, Y800 layouts of YUV4MPEG2
// input) and Motion-JPEG through libjpeg-turbo. ZOV1/ZOV2 frames go to a decoder that the
// application installs with setZovDecoderFactory (the codec, reached through platform/vfw);
// without one they are unsupported like any other compression.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "encoder/avi_writer_format.h"

namespace zov {

// A decoded frame: a bottom-up DIB with lines padded to 4 bytes.
struct DecodedFrame {
  DibHeader header;              // width, height (positive), bit count 8/16/24/32, compression 0
  std::vector<uint8_t> palette;  // 8-bit frames: RGBQUAD entries (blue, green, red, 0)
  std::vector<uint8_t> pixels;
  size_t stride() const { return (size_t(header.width) * header.bitCount / 8 + 3) & ~size_t(3); }
};

class VideoDecoder {
 public:
  virtual ~VideoDecoder() = default;
  // Decodes one stored frame; false when the data can't be decoded. Frames of delta-coded
  // streams must be given in order from a key frame.
  virtual bool decode(const uint8_t* data, size_t size, DecodedFrame& out) = 0;
  // True when frames depend on earlier frames (the reader then decodes from the key frame).
  virtual bool needsSequence() const { return false; }
};

// Makes the decoder for a stream format (BITMAPINFOHEADER plus palette). On failure returns null
// with `error` set, e.g. "unsupported video compression 'cvid'".
std::unique_ptr<VideoDecoder> createVideoDecoder(const std::vector<uint8_t>& format,
                                                 std::string* error);

// The hook for ZOV1/ZOV2 sources: given the stream format, returns a decoder (or null).
using ZovDecoderFactory =
    std::function<std::unique_ptr<VideoDecoder>(const std::vector<uint8_t>& format)>;
void setZovDecoderFactory(ZovDecoderFactory factory);

// Colour conversion of one YCbCr sample (BT.601, studio range) to 8-bit B, G, R.
void yuvToBgr(int y, int cb, int cr, uint8_t* bgr);

}  // namespace zov

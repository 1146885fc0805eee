// A small encoder for tests and the bundled sample: V4 stream, RGB scheme, EDGE 0, no letterbox,
// no background. Key frames code every pixel by residuals; later frames cover unchanged 4 x 4
// tiles with Interframe blocks and code the rest. Each residual is the one symbol per component
// that the step-doubling code allows; a pixel none of whose symbol choices reaches its colour
// exactly becomes a 1 x 1 Rle block while its segment has room, else takes the nearest reachable
// colour. reconstruction() is therefore exactly what a correct decoder produces, lossless or not.
#pragma once

#include <cstdint>
#include <vector>

namespace zov::test {

struct ReferenceFrameStats {
  int interframeBlocks = 0;
  int chromaBlocks = 0;
  int rleBlocks = 0;
  int inexactPixels = 0;  // coded to the nearest reachable colour instead of exactly
  int nsym = 0;
  uint32_t n1 = 0, n2 = 0;
  int codeWidth = 0;  // W
};

class ReferenceEncoder {
 public:
  // width 1..640, height 1..480.
  ReferenceEncoder(int width, int height);

  // The stream format word for biCompression: 'zov2' tag with the V4 flag, scheme byte 0.
  uint32_t formatWord() const;

  // Encodes a 15-bit RGB555 picture (row 0 = bottom row, width x height values) as the next
  // frame of the stream. The first frame is always a key frame.
  std::vector<uint8_t> encode(const std::vector<uint16_t>& picture, bool key);

  // The picture a decoder holds after the last encoded frame.
  const std::vector<uint16_t>& reconstruction() const { return recon_; }
  const ReferenceFrameStats& lastStats() const { return stats_; }

  // Makes the stream a background stream (format flag Chroma: every frame carries a Chroma
  // list). Once a background is given, tiles equal to it become Chroma blocks. The background
  // itself travels as an embedded key frame in the first chunk (see embedBackground).
  void setChromaStream(bool on) { chromaStream_ = on; }
  void setBackground(const std::vector<uint16_t>& background);

  // Turns off the Rle escape (every unreachable pixel takes the nearest reachable colour).
  void setUseRle(bool on) { useRle_ = on; }

 private:
  int w_, h_;
  bool first_ = true;
  bool useRle_ = true;
  bool chromaStream_ = false;
  std::vector<uint16_t> background_;
  std::vector<uint16_t> recon_;
  ReferenceFrameStats stats_;
};

// The first chunk of a background stream: the frame's own data, then the background's key frame
// (coded for the same stream format), then the little-endian offset of the latter.
std::vector<uint8_t> embedBackground(const std::vector<uint8_t>& frame,
                                     const std::vector<uint8_t>& backgroundFrame);

// The 15-bit picture of a 24-bit bottom-up BGR DIB (rows padded to 4 bytes): the top five bits
// of every component.
std::vector<uint16_t> rgb24ToRgb555(const uint8_t* dib, int width, int height);

}  // namespace zov::test

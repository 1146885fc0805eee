// Input: 2 bytes width, 2 bytes height (little-endian, folded into 1..640 x 1..480), 2 bytes of
// the format word's lower half (scheme folded into 0..4), 1 byte of options, then frames, each
// a 2-byte little-endian length and that many bytes (the last frame takes what is left).
// The first frame of a Chroma stream goes through loadEmbeddedBackground as the codec does.
#include <cstddef>
#include <cstdint>

#include "format/decoder.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace zov;
  if (size < 7) return 0;
  const int width = 1 + (data[0] | data[1] << 8) % kMaxWidth;
  const int height = 1 + (data[2] | data[3] << 8) % kMaxHeight;
  uint32_t format = kZov2Tag | uint32_t(data[4]) % kSchemeCount | uint32_t(data[5]) << 8;
  DecoderOptions opt;
  opt.pixelKind = data[6] & 1 ? PixelKind::Rgb565 : PixelKind::Rgb555;
  opt.singleField = data[6] & 2;
  opt.interpolate = data[6] & 4;
  opt.noCache = data[6] & 8;
  opt.maintainUnchangedMap = !(data[6] & 16);
  static FrameDecoder decoder;  // reused, as a codec instance is across streams
  if (!decoder.prepareStream(width, height, format, opt)) return 0;
  data += 7;
  size -= 7;
  bool first = true;
  while (size > 0) {
    size_t n = size;
    if (size >= 2) {
      n = data[0] | data[1] << 8;
      data += 2;
      size -= 2;
      if (n > size) n = size;
    }
    size_t part = n;
    if (first && hasFlag(format, stream_flag::kChroma) && !hasFlag(format, stream_flag::kChroma1st))
      decoder.loadEmbeddedBackground(data, n, &part);
    first = false;
    decoder.decodeFrame(data, part);
    // Touch what the output stage reads.
    volatile uint32_t sink = 0;
    const size_t pixels = size_t(decoder.width()) * size_t(decoder.height());
    sink = sink + decoder.outputPicture()[pixels - 1] + decoder.unchangedMap()[pixels - 1] +
           decoder.entropyMap()[0];
    data += n;
    size -= n;
  }
  return 0;
}

#include "zovdec/picture_writer.h"

#include <cstring>

namespace zov::dec {
namespace {

// 5-bit component to 8 bits, its top bits repeated below it so that 31 becomes 255.
constexpr uint8_t widen(unsigned v5) {
  return static_cast<uint8_t>(v5 << 3 | v5 >> 2);
}

// One line of n pixels; the pixel loop is instantiated per format so it stays branch-free.
template <OutputFormat F>
void writeLine(const uint16_t* src, int n, uint8_t* dst) {
  for (int x = 0; x < n; ++x) {
    const unsigned p = src[x] & 0x7FFFu;
    if constexpr (F == OutputFormat::Rgb555 || F == OutputFormat::Rgb565) {
      const uint16_t v = F == OutputFormat::Rgb555 ? uint16_t(p) : uint16_t(p + (p & 0x7FE0u));
      std::memcpy(dst + 2 * x, &v, 2);
    } else {
      const uint8_t r = widen(p >> 10), g = widen((p >> 5) & 31), b = widen(p & 31);
      if constexpr (F == OutputFormat::Rgb24) {
        dst[3 * x] = r, dst[3 * x + 1] = g, dst[3 * x + 2] = b;
      } else if constexpr (F == OutputFormat::Bgr24) {
        dst[3 * x] = b, dst[3 * x + 1] = g, dst[3 * x + 2] = r;
      } else if constexpr (F == OutputFormat::Bgrx32) {
        dst[4 * x] = b, dst[4 * x + 1] = g, dst[4 * x + 2] = r, dst[4 * x + 3] = 255;
      } else {
        dst[4 * x] = r, dst[4 * x + 1] = g, dst[4 * x + 2] = b, dst[4 * x + 3] = 255;
      }
    }
  }
}

using LineWriter = void (*)(const uint16_t*, int, uint8_t*);

constexpr LineWriter kLineWriters[kOutputFormats] = {
    writeLine<OutputFormat::Rgb555>, writeLine<OutputFormat::Rgb565>,
    writeLine<OutputFormat::Rgb24>,  writeLine<OutputFormat::Bgr24>,
    writeLine<OutputFormat::Bgrx32>, writeLine<OutputFormat::Rgbx32>,
};

// Black in every format: 0 except the filler byte of the 32-bit formats.
void writeBlackLine(OutputFormat format, int n, uint8_t* dst) {
  const int bpp = bytesPerPixel(format);
  std::memset(dst, 0, size_t(n) * size_t(bpp));
  if (bpp == 4)
    for (int x = 0; x < n; ++x) dst[4 * x + 3] = 255;
}

}  // namespace

int bytesPerPixel(OutputFormat format) {
  switch (format) {
    case OutputFormat::Rgb555:
    case OutputFormat::Rgb565:
      return 2;
    case OutputFormat::Rgb24:
    case OutputFormat::Bgr24:
      return 3;
    default:
      return 4;
  }
}

int pictureRowOfLine(const PictureShape& s, int line) {
  const int row = s.wField ? line / 2 : line;
  const int active = s.height - s.marginBottom - s.marginTop;
  int a = row - s.marginBottom;  // row within the active area
  if (a < 0 || a >= active) return -1;
  if (s.sField && a % 2 == 0) {
    // An uncoded row shows the coded row above it (below it at the top edge).
    a = a + 1 < active ? a + 1 : a - 1;
    if (a < 0) return -1;
  }
  return s.marginBottom + a;
}

void writePicture(const uint16_t* picture, const PictureShape& shape, OutputFormat format,
                  uint8_t* dest, ptrdiff_t stride, bool bottomUp) {
  const LineWriter write = kLineWriters[static_cast<int>(format)];
  const int lines = shape.outputHeight();
  for (int line = 0; line < lines; ++line) {
    uint8_t* dst = dest + (bottomUp ? line : lines - 1 - line) * stride;
    const int row = pictureRowOfLine(shape, line);
    if (row < 0)
      writeBlackLine(format, shape.width, dst);
    else
      write(picture + size_t(row) * size_t(shape.width), shape.width, dst);
  }
}

}  // namespace zov::dec

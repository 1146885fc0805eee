// The per-method conversion tables of the output stage: for every 16-bit picture pixel (5-5-5,
// or 5-6-5 with the low green bit ignored) what the method writes for it, built through the
// brightness and gamma curve. Indexing by the raw picture pixel keeps the writers to one look-up
// per pixel in either pixel kind.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "format/gamma.h"
#include "format/stream_format.h"

namespace zov {

struct Rgb5 {
  int r, g, b;  // 0..31
};

inline Rgb5 components(uint16_t pixel, PixelKind kind) {
  if (kind == PixelKind::Rgb565) return {(pixel >> 11) & 31, (pixel >> 6) & 31, pixel & 31};
  return {(pixel >> 10) & 31, (pixel >> 5) & 31, pixel & 31};
}
inline uint16_t compose(int r, int g, int b, PixelKind kind) {
  if (kind == PixelKind::Rgb565) return static_cast<uint16_t>(r << 11 | g << 6 | b);
  return static_cast<uint16_t>(r << 10 | g << 5 | b);
}
// Masks of the three components of a pixel of the kind.
struct ComponentMasks {
  uint16_t r, g, b;
};
constexpr ComponentMasks componentMasks(PixelKind kind) {
  return kind == PixelKind::Rgb565 ? ComponentMasks{0xF800, 0x07C0, 0x001F}
                                   : ComponentMasks{0x7C00, 0x03E0, 0x001F};
}

// The grey level of a colour: c64 of its weighted luminance (0..62) on raw 5-bit components.
inline int greyLevel(const Rgb5& c, const Curve& curve) {
  return curve.c64[(60 * c.r + 118 * c.g + 22 * c.b) / 100];
}

// Y, U and V of YUY2/UYVY for curve values r, g, b (0..31), each quotient truncated.
struct Yuv {
  uint8_t y, u, v;
};
constexpr Yuv yuvOf(int r, int g, int b) {
  return {static_cast<uint8_t>((2392 * r + 4696 * g + 912 * b) / 1000),
          static_cast<uint8_t>((128000 - 1352 * r - 2656 * g + 4000 * b) / 1000),
          static_cast<uint8_t>((128000 + 4000 * r - 3352 * g - 648 * b) / 1000)};
}

inline constexpr int kPixelValues = 65536;

struct OutputTables {
  int method = -1;
  PixelKind kind = PixelKind::Rgb555;
  Curve curve;
  // Methods 0-4, 6, 13: the pixel with its components through the curve, in the picture's kind.
  std::vector<uint16_t> colour;
  // Method 5: the 2 x 2 pattern block: red only, green only (first line), full colour, blue
  // only (next line).
  std::vector<std::array<uint16_t, 4>> pattern2;
  // Method 4: curve values spread over 6-bit fields (red at 12, green at 6, blue at 0) so that
  // two can be added without carries, and the colour of half of such a sum.
  std::vector<uint32_t> spread;
  std::vector<uint16_t> halfSum;
  // Methods 9, 10: palette index of the grey level.
  std::vector<uint8_t> grey;
  // Methods 7, 11: the 2 x 2 block's indices: first line left, right; next line left, right.
  std::vector<std::array<uint8_t, 4>> dots4;
  // Methods 8, 12: the red, green and blue dot indices of the 3 x 3 block.
  std::vector<std::array<uint8_t, 3>> dots3;
  // Methods 14, 15: Y | U << 8 | V << 16.
  std::vector<uint32_t> yuv;
};

// Builds the tables `method` uses (only those) for pictures of `kind`.
OutputTables buildOutputTables(int method, PixelKind kind, const Curve& curve);

// The 2 x 2 and 3 x 3 dot indices of the 8-bit pattern methods for one colour, as the tables
// hold them (exposed for the palette checks).
std::array<uint8_t, 4> dots4For(int method, const Rgb5& c, const Curve& curve);
std::array<uint8_t, 3> dots3For(int method, const Rgb5& c, const Curve& curve);

}  // namespace zov

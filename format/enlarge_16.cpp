// Enlargements to 16-bit destinations: 4x pixel (3), 4x horizontal lines (4), 4x pattern (5)
// and 9x pattern (6). Block lines are counted in memory order: the first line of a block is
// the one at the lower address.
#include "format/output_walk.h"

namespace zov {
namespace {

using namespace output_detail;

// Method 3: every pixel twice on each of two lines.
struct Pixel2x2 {
  static void span(const RowContext& c, const uint16_t* src, uint8_t* dst, int x0, int x1, int) {
    const uint16_t* colour = c.t.colour.data();
    uint8_t* next = dst + c.g.lineStep;
    for (int x = x0; x < x1; ++x) {
      uint32_t v = colour[src[x]];
      v |= v << 16;
      store32(dst + 4 * x, v);
      store32(next + 4 * x, v);
    }
  }
};

// Method 4: each picture row on one line (the other line of the pair stays black). Even
// destination columns copy the pixel; odd columns hold the average of the pixel and its right
// neighbour, so horizontal edges are smoothed; the last column repeats its pixel. A pixel's
// average also depends on its left neighbour's column, so a changed stretch rewrites the
// average just before it.
struct HorizontalLines {
  static void span(const RowContext& c, const uint16_t* src, uint8_t* dst, int x0, int x1, int) {
    const uint16_t* colour = c.t.colour.data();
    const uint32_t* spread = c.t.spread.data();
    const uint16_t* half = c.t.halfSum.data();
    const int w = c.g.width;
    if (x0 > 0) store16(dst + 4 * x0 - 2, half[spread[src[x0 - 1]] + spread[src[x0]]]);
    for (int x = x0; x < x1; ++x) {
      uint16_t right = x + 1 < w ? half[spread[src[x]] + spread[src[x + 1]]] : colour[src[x]];
      store32(dst + 4 * x, static_cast<uint32_t>(colour[src[x]]) | uint32_t(right) << 16);
    }
  }
};

// Method 5: red only, green only on the first line; full colour, blue only on the next.
struct Pattern2x2 {
  static void span(const RowContext& c, const uint16_t* src, uint8_t* dst, int x0, int x1, int) {
    const auto* pattern = c.t.pattern2.data();
    uint8_t* next = dst + c.g.lineStep;
    for (int x = x0; x < x1; ++x) {
      const auto& p = pattern[src[x]];
      store32(dst + 4 * x, uint32_t(p[0]) | uint32_t(p[1]) << 16);
      store32(next + 4 * x, uint32_t(p[2]) | uint32_t(p[3]) << 16);
    }
  }
};

// Method 6: blocks A (full / red green blue / full) and B (red green blue / full / red green
// blue) alternate like a chess board: A at even columns of rows with an even count of rows
// still to write, at odd columns otherwise. The components go through the curve first, like
// every other method's, so brightness and gamma act here too.
struct Pattern3x3 {
  static void span(const RowContext& c, const uint16_t* src, uint8_t* dst, int x0, int x1,
                   int rowsLeft) {
    const uint16_t* colour = c.t.colour.data();
    const ComponentMasks m = componentMasks(c.t.kind);
    uint8_t* lines[3] = {dst, dst + c.g.lineStep, dst + 2 * c.g.lineStep};
    const int aParity = rowsLeft & 1;  // columns of this parity get block A
    for (int x = x0; x < x1; ++x) {
      const uint16_t full = colour[src[x]];
      const uint16_t dots[3] = {static_cast<uint16_t>(full & m.r),
                                static_cast<uint16_t>(full & m.g),
                                static_cast<uint16_t>(full & m.b)};
      const bool a = (x & 1) == aParity;
      for (int j = 0; j < 3; ++j) {
        uint8_t* p = lines[j] + 6 * x;
        if ((j == 1) != a) {  // A: lines 0 and 2 full; B: line 1 full
          store16(p, full), store16(p + 2, full), store16(p + 4, full);
        } else {
          store16(p, dots[0]), store16(p + 2, dots[1]), store16(p + 4, dots[2]);
        }
      }
    }
  }
};

}  // namespace

MethodWriters enlargeWriters16(int method) {
  switch (method) {
    case 3:
      return writersOf<Pixel2x2>();
    case 4:
      return writersOf<HorizontalLines>();
    case 5:
      return writersOf<Pattern2x2>();
    default:
      return writersOf<Pattern3x3>();
  }
}

}  // namespace zov

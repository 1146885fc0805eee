// Enlargements to 8-bit palette destinations: 4x pattern (7, 11), 9x pattern (8, 12) and
// 4x pixel enlargement of grey levels (10).
#include "format/output_walk.h"

namespace zov {
namespace {

using namespace output_detail;

// Methods 7 and 11: the first two indices on the first line, the other two on the next.
struct Dots2x2 {
  static void span(const RowContext& c, const uint16_t* src, uint8_t* dst, int x0, int x1, int) {
    const auto* dots = c.t.dots4.data();
    uint8_t* next = dst + c.g.lineStep;
    for (int x = x0; x < x1; ++x) {
      const auto& d = dots[src[x]];
      std::memcpy(dst + 2 * x, &d[0], 2);
      std::memcpy(next + 2 * x, &d[2], 2);
    }
  }
};

// Methods 8 and 12: each line of a block holds one red, one green and one blue dot, rotated by
// one place from line to line (R G B / G B R / B R G), so every column of the enlarged picture
// shows all three primaries and no primary forms vertical stripes.
struct Dots3x3 {
  static void span(const RowContext& c, const uint16_t* src, uint8_t* dst, int x0, int x1, int) {
    const auto* dots = c.t.dots3.data();
    uint8_t* lines[3] = {dst, dst + c.g.lineStep, dst + 2 * c.g.lineStep};
    for (int x = x0; x < x1; ++x) {
      const auto& d = dots[src[x]];
      for (int j = 0; j < 3; ++j) {
        uint8_t* p = lines[j] + 3 * x;
        p[0] = d[j % 3];
        p[1] = d[(j + 1) % 3];
        p[2] = d[(j + 2) % 3];
      }
    }
  }
};

// Method 10: the grey index twice on each of two lines.
struct Grey2x2 {
  static void span(const RowContext& c, const uint16_t* src, uint8_t* dst, int x0, int x1, int) {
    const uint8_t* grey = c.t.grey.data();
    uint8_t* next = dst + c.g.lineStep;
    for (int x = x0; x < x1; ++x) {
      uint8_t v = grey[src[x]];
      dst[2 * x] = dst[2 * x + 1] = next[2 * x] = next[2 * x + 1] = v;
    }
  }
};

}  // namespace

MethodWriters enlargeWriters8(int method) {
  switch (method) {
    case 7:
    case 11:
      return writersOf<Dots2x2>();
    case 8:
    case 12:
      return writersOf<Dots3x3>();
    default:
      return writersOf<Grey2x2>();
  }
}

}  // namespace zov

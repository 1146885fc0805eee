// Packed YUV output for overlays (methods 14 and 15): two pixels per 32-bit word, Y of each
// pixel with U and V of the pair's second pixel. A changed stretch is widened to whole pairs,
// since a pair's U and V come from its second pixel. An odd last pixel gets a half word (its Y
// and U for YUY2, U and Y for UYVY).
#include "format/output_walk.h"

namespace zov {
namespace {

using namespace output_detail;

template <bool Uyvy>
struct PackedYuv {
  static uint32_t word(uint32_t first, uint32_t second) {
    const uint32_t y0 = first & 0xFF, y1 = second & 0xFF;
    const uint32_t u = (second >> 8) & 0xFF, v = (second >> 16) & 0xFF;
    return Uyvy ? (u | y0 << 8 | v << 16 | y1 << 24) : (y0 | u << 8 | y1 << 16 | v << 24);
  }
  static void span(const RowContext& c, const uint16_t* src, uint8_t* dst, int x0, int x1, int) {
    const uint32_t* yuv = c.t.yuv.data();
    const int w = c.g.width;
    x0 &= ~1;
    x1 = (x1 + 1) & ~1;
    const int pairsEnd = x1 > (w & ~1) ? (w & ~1) : x1;
    for (int j = 0; j < c.g.linesPerRow; ++j) {
      uint8_t* line = dst + j * c.g.lineStep;
      for (int x = x0; x < pairsEnd; x += 2)
        store32(line + 2 * x, word(yuv[src[x]], yuv[src[x + 1]]));
      if (x1 > w) {  // odd width: the last pixel alone
        const uint32_t last = yuv[src[w - 1]];
        const uint8_t y = last & 0xFF, u = (last >> 8) & 0xFF;
        line[2 * (w - 1)] = Uyvy ? u : y;
        line[2 * (w - 1) + 1] = Uyvy ? y : u;
      }
    }
  }
};

}  // namespace

MethodWriters yuvWriters(int method) {
  if (method == 15) return writersOf<PackedYuv<true>>();
  return writersOf<PackedYuv<false>>();
}

}  // namespace zov

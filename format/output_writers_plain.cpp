// Methods without enlargement: 0 and 13's colour path, 1 (single field), 2 (wide field lines)
// and 9 (grey levels). Doubled fields repeat each row on both of its lines.
#include "format/output_walk.h"

namespace zov {
namespace {

using namespace output_detail;

struct Colour16 {
  static void span(const RowContext& c, const uint16_t* src, uint8_t* dst, int x0, int x1, int) {
    const uint16_t* colour = c.t.colour.data();
    for (int j = 0; j < c.g.linesPerRow; ++j) {
      uint8_t* line = dst + j * c.g.lineStep;
      for (int x = x0; x < x1; ++x) store16(line + 2 * x, colour[src[x]]);
    }
  }
};

struct Grey8 {
  static void span(const RowContext& c, const uint16_t* src, uint8_t* dst, int x0, int x1, int) {
    const uint8_t* grey = c.t.grey.data();
    for (int j = 0; j < c.g.linesPerRow; ++j) {
      uint8_t* line = dst + j * c.g.lineStep;
      for (int x = x0; x < x1; ++x) line[x] = grey[src[x]];
    }
  }
};

}  // namespace

MethodWriters plainWriters(int method) {
  if (method == 9) return writersOf<Grey8>();
  return writersOf<Colour16>();
}

}  // namespace zov

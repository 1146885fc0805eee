// The row walk shared by all writers: full frames visit every written picture row; changed
// blocks visit, per row, only the stretches outside unchanged runs, jumping each run by its
// stored width. A kernel writes picture columns [x0, x1) of one row to all of the row's
// destination lines; it is told how many rows are left (pattern parity depends on it).
#pragma once

#include <cstdint>
#include <cstring>

#include "format/output_writers.h"

namespace zov::output_detail {

inline void store16(uint8_t* p, uint16_t v) {
  std::memcpy(p, &v, 2);
}
inline void store32(uint8_t* p, uint32_t v) {
  std::memcpy(p, &v, 4);
}
inline uint64_t load64(const uint8_t* p) {
  uint64_t v;
  std::memcpy(&v, p, 8);
  return v;
}

struct RowContext {
  const OutputGeometry& g;
  const OutputTables& t;
};

// Kernel: static void span(const RowContext&, const uint16_t* srcRow, uint8_t* dstRow, int x0,
// int x1, int rowsLeft)
template <class Kernel>
void walkFull(const OutputFrame& f) {
  const OutputGeometry& g = *f.geometry;
  const RowContext ctx{g, *f.tables};
  const uint16_t* src = f.picture + g.srcFirst;
  uint8_t* dst = f.dest + g.firstPixelOffset;
  for (int i = 0; i < g.rows; ++i) {
    Kernel::span(ctx, src, dst, 0, g.width, g.rows - i);
    src += g.srcStep;
    dst += g.dstStep;
  }
}

template <class Kernel>
void walkChanged(const OutputFrame& f) {
  if (!f.unchangedMap) return walkFull<Kernel>(f);
  const OutputGeometry& g = *f.geometry;
  const RowContext ctx{g, *f.tables};
  const int w = g.width;
  const uint16_t* src = f.picture + g.srcFirst;
  const uint8_t* map = f.unchangedMap + g.srcFirst;
  uint8_t* dst = f.dest + g.firstPixelOffset;
  for (int i = 0; i < g.rows; ++i) {
    int x = 0;
    while (x < w) {
      if (map[x]) {
        x += map[x];  // a run never continues into the next row
        continue;
      }
      const int start = x;
      while (x + 8 <= w && load64(map + x) == 0) x += 8;
      while (x < w && map[x] == 0) ++x;
      Kernel::span(ctx, src, dst, start, x, g.rows - i);
    }
    src += g.srcStep;
    map += g.srcStep;
    dst += g.dstStep;
  }
}

template <class Kernel>
constexpr MethodWriters writersOf() {
  return {&walkFull<Kernel>, &walkChanged<Kernel>};
}

}  // namespace zov::output_detail

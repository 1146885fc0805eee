#include "encoder/unchanged_analysis.h"

#include <algorithm>
#include <cstring>

#include "encoder/unchanged_kernels.h"
#include "encoder/worker_pool.h"

namespace zov {
namespace {

// Candidates of a cell stay candidates only when the whole cell is: the cells of lines
// [first, end) (whole cell rows) of `cw` by `ch` pixels.
void keepWholeCellsBytes(uint8_t* map, int w, int lines, int first, int end, int cw, int ch) {
  for (int l = first; l < end; l += ch) {
    int cellLines = std::min(ch, lines - l);
    for (int x = 0; x < w; x += cw) {
      bool all = true;
      for (int dy = 0; dy < cellLines && all; ++dy)
        for (int dx = 0; dx < cw; ++dx) all &= map[size_t(l + dy) * w + x + dx] == kMapCandidate;
      if (all) continue;
      for (int dy = 0; dy < cellLines; ++dy)
        for (int dx = 0; dx < cw; ++dx) {
          uint8_t& m = map[size_t(l + dy) * w + x + dx];
          if (m == kMapCandidate) m = kMapCoded;
        }
    }
  }
}

// The same with a cell line (as wide as Word) taken as one word: its candidates found as the
// bytes that are zero after xor with 01 01 ..., exactly (no carry crosses a byte).
template <typename Word>
void keepWholeCells(uint8_t* map, int w, int lines, int first, int end, int ch) {
  static_assert(kMapCandidate == 1 && kMapCoded == 0);
  constexpr uint32_t ones = uint32_t(Word(~Word(0)) / 0xFF), low7 = ones * 0x7F, high = ones * 0x80;
  for (int l = first; l < end; l += ch) {
    const int cellLines = std::min(ch, lines - l);
    for (int x = 0; x < w; x += int(sizeof(Word))) {
      uint8_t* cell = map + size_t(l) * w + x;
      bool all = true;
      for (int dy = 0; dy < cellLines && all; ++dy) {
        Word v;
        std::memcpy(&v, cell + size_t(dy) * w, sizeof v);
        all = v == ones;
      }
      if (all) continue;
      for (int dy = 0; dy < cellLines; ++dy) {
        Word v;
        std::memcpy(&v, cell + size_t(dy) * w, sizeof v);
        const uint32_t t = uint32_t(v) ^ ones;
        const uint32_t candidates = ~(((t & low7) + low7) | t | low7) & high;
        v = Word(uint32_t(v) & ~((candidates >> 7) * 0xFF));
        std::memcpy(cell + size_t(dy) * w, &v, sizeof v);
      }
    }
  }
}

}  // namespace

void markUnchanged(EncoderBuffers& b, const uint8_t* cls, const uint8_t* lookCls, bool wholeCells) {
  const int w = b.width, lines = b.lines;
  uint8_t* map = b.blockMap.data();
  const UnchangedClassLineFn line = unchangedKernels().unchangedClassLine;
  // A pixel's test reads only the classes and writes only its own map entry, and a cell's only
  // its own pixels: the bands of lines go to the workers in any order (a band is a whole number
  // of cell rows).
  const int bands = (lines + kBandLines - 1) / kBandLines;
  b.pool->run(bands, [&](int band, int) {
    const int end = std::min(lines, (band + 1) * kBandLines);
    for (int l = band * kBandLines; l < end; ++l) {
      const size_t first = size_t(l) * w;
      line(map + first, cls + first, lookCls ? lookCls + first : nullptr, w,
           l > 0 && l < lines - 1);
    }
    if (!wholeCells) return;
    const int first = band * kBandLines;
    if (b.cellW == 4 && w % 4 == 0)
      keepWholeCells<uint32_t>(map, w, lines, first, end, b.cellH);
    else if (b.cellW == 2 && w % 2 == 0)
      keepWholeCells<uint16_t>(map, w, lines, first, end, b.cellH);
    else
      keepWholeCellsBytes(map, w, lines, first, end, b.cellW, b.cellH);
  });
}

void differenceClasses(WorkerPool& pool, const uint16_t* a, const uint16_t* b, uint8_t* out,
                       int width, int lines, uint32_t t, uint32_t n) {
  const DifferenceClassesFn f = unchangedKernels().differenceClasses;
  const int bands = (lines + kBandLines - 1) / kBandLines;
  pool.run(bands, [&](int band, int) {
    const size_t first = size_t(band) * kBandLines * width;
    const int end = std::min(lines, (band + 1) * kBandLines);
    f(a + first, b + first, out + first, int(size_t(end) * width - first), t, n);
  });
}

}  // namespace zov

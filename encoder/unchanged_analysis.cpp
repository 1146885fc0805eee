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

// The same with a cell line (as wide as Word) taken as one word, for cells of Ch lines: its
// candidates found as the bytes that are zero after xor with 01 01 ..., exactly (no carry
// crosses a byte), and kept where every line of the cell is all candidates. Without branches,
// so that the compiler takes several cells a step.
template <typename Word, int Ch>
void keepWholeCellRow(uint8_t* row, int w) {
  static_assert(kMapCandidate == 1 && kMapCoded == 0);
  constexpr Word ones = Word(~Word(0)) / 0xFF, low7 = Word(ones * 0x7F), high = Word(ones * 0x80);
  const int words = w / int(sizeof(Word));
  for (int k = 0; k < words; ++k) {
    uint8_t* cell = row + size_t(k) * sizeof(Word);
    Word v[Ch];
    Word all = Word(~Word(0));
    for (int dy = 0; dy < Ch; ++dy) {
      std::memcpy(&v[dy], cell + size_t(dy) * w, sizeof(Word));
      all &= Word(Word(0) - Word(v[dy] == ones));
    }
    for (int dy = 0; dy < Ch; ++dy) {
      const Word t = Word(v[dy] ^ ones);
      const Word candidates = Word(~Word(((t & low7) + low7) | t | low7) & high);
      const Word kept = Word(v[dy] & (Word(~Word((candidates >> 7) * 0xFF)) | all));
      std::memcpy(cell + size_t(dy) * w, &kept, sizeof(Word));
    }
  }
}

template <typename Word>
void keepWholeCells(uint8_t* map, int w, int lines, int first, int end, int ch) {
  for (int l = first; l < end; l += ch) {
    uint8_t* row = map + size_t(l) * w;
    switch (std::min(ch, lines - l)) {
      case 1:
        keepWholeCellRow<Word, 1>(row, w);
        break;
      case 2:
        keepWholeCellRow<Word, 2>(row, w);
        break;
      case 3:
        keepWholeCellRow<Word, 3>(row, w);
        break;
      default:
        keepWholeCellRow<Word, 4>(row, w);
        break;
    }
  }
}

}  // namespace

void markUnchanged(EncoderBuffers& b, const uint8_t* cls, const uint8_t* lookCls, bool wholeCells,
                   bool clear) {
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
      line(map + first, cls + first, lookCls ? lookCls + first : nullptr, w, l > 0 && l < lines - 1,
           clear);
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

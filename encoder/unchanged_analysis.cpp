#include "encoder/unchanged_analysis.h"

#include <algorithm>

#include "encoder/unchanged_kernels.h"
#include "encoder/worker_pool.h"

namespace zov {

void differenceMap(const uint16_t* a, const uint16_t* b, uint32_t* out, int n) {
  unchangedKernels().differenceMap(a, b, out, n);
}

void markUnchanged(EncoderBuffers& b, const uint32_t* diff, const uint32_t* lookDiff, uint32_t t,
                   uint32_t n, bool wholeCells) {
  const int w = b.width, lines = b.lines;
  uint8_t* map = b.blockMap.data();
  const UnchangedLineFn line = unchangedKernels().unchangedLine;
  // A pixel's test reads only the difference maps and writes only its own map entry, and a
  // cell's only its own pixels: the bands of lines go to the workers in any order (a band is a
  // whole number of cell rows).
  const int bands = (lines + kBandLines - 1) / kBandLines;
  b.pool->run(bands, [&](int band, int) {
    const int end = std::min(lines, (band + 1) * kBandLines);
    for (int l = band * kBandLines; l < end; ++l) {
      const size_t first = size_t(l) * w;
      line(map + first, diff + first, lookDiff ? lookDiff + first : nullptr, w,
           l > 0 && l < lines - 1, t, n);
    }
    if (!wholeCells) return;
    const int cw = b.cellW, ch = b.cellH;
    for (int l = band * kBandLines; l < end; l += ch) {
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
  });
}

void differenceMap(WorkerPool& pool, const uint16_t* a, const uint16_t* b, uint32_t* out, int width,
                   int lines) {
  const int bands = (lines + kBandLines - 1) / kBandLines;
  pool.run(bands, [&](int band, int) {
    const size_t first = size_t(band) * kBandLines * width;
    const int end = std::min(lines, (band + 1) * kBandLines);
    differenceMap(a + first, b + first, out + first, int(size_t(end) * width - first));
  });
}

}  // namespace zov

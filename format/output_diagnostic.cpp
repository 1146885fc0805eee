#include "format/output_diagnostic.h"

#include "format/output_walk.h"

namespace zov {

uint16_t diagnosticColour(uint16_t pixel, BlockKind block, PixelKind kind) {
  if (block == BlockKind::Coded) return pixel;
  uint16_t c = kind == PixelKind::Rgb565 ? from565(pixel) : static_cast<uint16_t>(pixel & 0x7FFF);
  c = (c >> 1) & 0x3DEF;  // every component halved: 0..15
  if (block == BlockKind::Filled) c += 16 << 5;
  if (block == BlockKind::Entropy) c += 16 << 10 | 16;
  return kind == PixelKind::Rgb565 ? to565(c) : c;
}

namespace {

using namespace output_detail;

// The view depends on the current frame's lists, not only on changed pixels, so both writers
// write the whole picture. Runs are read from the maps by their widths: the unchanged map
// gives Interframe runs, the block map the other blocks (the Entropy map telling Entropy
// blocks apart); pixels outside any run were coded.
void writeDiagnostic(const OutputFrame& f) {
  const OutputGeometry& g = *f.geometry;
  const OutputTables& t = *f.tables;
  const int w = g.width;
  const uint16_t* src = f.picture + g.srcFirst;
  uint8_t* dst = f.dest + g.firstPixelOffset;
  for (int i = 0; i < g.rows; ++i) {
    const ptrdiff_t rowStart = g.srcFirst + i * g.srcStep;
    const uint8_t* unchanged = f.unchangedMap ? f.unchangedMap + rowStart : nullptr;
    const uint8_t* blocks = f.blockMap ? f.blockMap + rowStart : nullptr;
    const uint8_t* entropy = f.entropyMap ? f.entropyMap + rowStart : nullptr;
    int x = 0;
    while (x < w) {
      BlockKind kind = BlockKind::Coded;
      int n = 1;
      if (unchanged && unchanged[x]) {
        kind = BlockKind::Interframe;
        n = unchanged[x];
      } else if (blocks && blocks[x]) {
        kind = entropy && entropy[x] ? BlockKind::Entropy : BlockKind::Filled;
        n = blocks[x];
      }
      const int end = x + n < w ? x + n : w;
      for (; x < end; ++x) {
        const uint16_t v = diagnosticColour(t.colour[src[x]], kind, t.kind);
        for (int j = 0; j < g.linesPerRow; ++j) store16(dst + j * g.lineStep + 2 * x, v);
      }
    }
    src += g.srcStep;
    dst += g.dstStep;
  }
}

}  // namespace

MethodWriters diagnosticWriters() {
  return {&writeDiagnostic, &writeDiagnostic};
}

}  // namespace zov

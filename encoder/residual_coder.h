// The coding passes: walks the coded picture in the decoder's order, chooses each coded
// component's symbols with the delta quantiser against the predictor the decoder will have,
// and writes the rebuilt values back, so that the encoder's picture is the decoder's.
#pragma once

#include <cstdint>
#include <vector>

#include "encoder/encoder_buffers.h"

namespace zov {

// One row walk of the coding passes, in the decoder's order.
struct CodedRow {
  int32_t line = 0;
  uint8_t part = 1;         // symbol part the row goes to
  uint8_t role = 0;         // how the row treats colour differences (RowRole)
  uint8_t sharingRows = 0;  // carrying rows: the sharing rows below that use its store
  int64_t remaining = 0;    // pixels not yet walked when the row starts
};

// Working space of the coding passes, allocated once per run. With more than one thread the
// rows after the first column are coded in bands beside each other, each row into a slot of
// its own, and then joined in the decoder's order.
struct ResidualScratch {
  std::vector<CodedRow> rows;  // every row of the picture, in the decoder's order
  // With helpers only:
  size_t slotBytes = 0;
  ZeroedBuffer<uint8_t> symbols;      // one slot of slotBytes per row (decoder order)
  std::vector<uint32_t> counts;       // symbols written per row
  std::vector<int64_t> peaks;         // per row: highest symbol budget use (see codeResiduals)
  std::vector<uint32_t> rowChroma;    // per line: the colour differences a carrying row stores
  std::vector<uint32_t> bandChroma;   // per band: the store as the band's first row finds it
  ZeroedBuffer<uint32_t> backup;      // targets of the coded picture, for coding rows again
  size_t groups = 0;                  // store entries per row
  std::vector<uint32_t> chunkCounts;  // symbol counts of each chunk of the parts

  void allocate(int width, int lines, int threads);
};

// Fills sym1/sym2, n1/n2 and symbolCounts from cur (type 0) or curYc (types 1..4), with the
// decoder's block view in coverWidth/entropyStart; cur becomes the reconstruction. The result
// does not depend on the number of threads of b.pool.
void codeResiduals(EncoderBuffers& b, bool enhancedEdges);

// The block widths the decoder will hold: coverWidth from the lists, and pixel 0 marked with
// width 1 (the seed) when no block covers it. Returns true when pixel 0 needs a seed.
bool buildCoverMaps(EncoderBuffers& b);

}  // namespace zov

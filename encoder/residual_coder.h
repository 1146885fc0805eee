// The coding passes: walks the coded picture in the decoder's order, chooses each coded
// component's symbols with the delta quantiser against the predictor the decoder will have,
// and writes the rebuilt values back, so that the encoder's picture is the decoder's.
#pragma once

#include "encoder/encoder_buffers.h"

namespace zov {

// Fills sym1/sym2, n1/n2 and symbolCounts from cur (type 0) or curYc (types 1..4), with the
// decoder's block view in coverWidth/entropyStart; cur becomes the reconstruction.
void codeResiduals(EncoderBuffers& b, bool enhancedEdges);

// The block widths the decoder will hold: coverWidth from the lists, and pixel 0 marked with
// width 1 (the seed) when no block covers it. Returns true when pixel 0 needs a seed.
bool buildCoverMaps(EncoderBuffers& b);

}  // namespace zov

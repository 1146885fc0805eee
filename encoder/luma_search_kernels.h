// The pre-quantiser's best-luma search, the encoder's most frequent question: which of the 32
// lumas of one chroma brings the result closest to a colour. The answer is the decoder-visible
// descent from the colour's own luma (downwards while the distance falls, then upwards while it
// still falls below the best), not the global minimum, and every version gives it exactly.
#pragma once

#include <cstdint>

namespace zov {

// `row`: the 32 table colours of one chroma, by luma. Returns the luma and its distance.
using BestLumaInRowFn = int (*)(const uint16_t* row, uint16_t colour, int start, int* distance);

struct LumaSearchKernels {
  BestLumaInRowFn bestLumaInRow;
};

// The plain C++ reference.
int bestLumaInRowScalar(const uint16_t* row, uint16_t colour, int start, int* distance);

// The table for the given processor flags (references where a flag is missing).
LumaSearchKernels lumaSearchKernelsFor(unsigned cpuFlags);
// The table for this process, chosen once from cpuFlags().
const LumaSearchKernels& lumaSearchKernels();

}  // namespace zov

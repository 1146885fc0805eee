// The marking of smooth-luma candidates, one coded line at a time. Every version gives the
// reference's map exactly.
#pragma once

#include <cstdint>

namespace zov {

// Pixels 1..width-2 of one coded line: `map` and `yc` point at the line's first pixel (yc holds
// 17-bit targets, luma in bits 12..16). A pixel whose map entry is kMapCoded becomes
// kMapSmoothCandidate when its luma and its left and right neighbours' lie within `loss` of each
// other (pixels the decoder interpolates: odd columns of odd lines, even columns of even ones;
// without enhanced edges also the left neighbour within 7 of the one before it) or within 7
// (the other pixels).
using SmoothLineFn = void (*)(uint8_t* map, const uint32_t* yc, int width, bool oddLine,
                              uint32_t loss, bool enhancedEdges);

struct SmoothKernels {
  SmoothLineFn smoothLine;
};

// The plain C++ reference.
void smoothLineScalar(uint8_t* map, const uint32_t* yc, int width, bool oddLine, uint32_t loss,
                      bool enhancedEdges);

// The table for the given processor flags (references where a flag is missing).
SmoothKernels smoothKernelsFor(unsigned cpuFlags);
// The table for this process, chosen once from cpuFlags().
const SmoothKernels& smoothKernels();

}  // namespace zov

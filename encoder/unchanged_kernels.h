// The per-pixel passes of the unchanged analysis: the difference map of two pictures and the
// test of one line of it. Every version gives the reference's result exactly.
#pragma once

#include <cstdint>

namespace zov {

// Colour distance (colourDistance) of every pixel of a to the same pixel of b.
using DifferenceMapFn = void (*)(const uint16_t* a, const uint16_t* b, uint32_t* out, int n);

// The unchanged test of one line of `width` pixels: `map` and `diff` point at the line's first
// pixel, the lines above and below are at -width and +width (read only when `inner`). Every
// pixel whose map entry is kMapCoded and that passes becomes kMapCandidate: a difference of at
// most t, or, for an inner pixel (inner line, not the first or last column), at most n with
// all eight neighbours at most n and at least five of the nine at most t. With `lookDiff` (the
// lookahead's map, laid out as diff), an inner pixel within n that fails the neighbourhood test
// still passes when its lookahead value does the same. Differences are below 2^31 (colour
// distances are at most 104749).
using UnchangedLineFn = void (*)(uint8_t* map, const uint32_t* diff, const uint32_t* lookDiff,
                                 int width, bool inner, uint32_t t, uint32_t n);

// The same test on classes: what the test asks of a difference is only whether it is at most t
// and whether it is above n, one byte per pixel (kWithinT | kBeyondN). Nine of them summed stay
// below 256, so a neighbourhood is quiet exactly when its sum is 5 to 15.
inline constexpr uint8_t kWithinT = 1, kBeyondN = 16;

// The class of every pixel of a against the same pixel of b, under thresholds t and n.
using DifferenceClassesFn = void (*)(const uint16_t* a, const uint16_t* b, uint8_t* out, int count,
                                     uint32_t t, uint32_t n);
// unchangedLine on the classes of the difference maps (and of the lookahead's, or null). With
// `clear` the map's entries are taken as kMapCoded whatever they hold: each is written.
using UnchangedClassLineFn = void (*)(uint8_t* map, const uint8_t* cls, const uint8_t* lookCls,
                                      int width, bool inner, bool clear);

struct UnchangedKernels {
  DifferenceMapFn differenceMap;
  UnchangedLineFn unchangedLine;
  DifferenceClassesFn differenceClasses;
  UnchangedClassLineFn unchangedClassLine;
};

// The plain C++ references.
void differenceMapScalar(const uint16_t* a, const uint16_t* b, uint32_t* out, int n);
void unchangedLineScalar(uint8_t* map, const uint32_t* diff, const uint32_t* lookDiff, int width,
                         bool inner, uint32_t t, uint32_t n);
void differenceClassesScalar(const uint16_t* a, const uint16_t* b, uint8_t* out, int count,
                             uint32_t t, uint32_t n);
void unchangedClassLineScalar(uint8_t* map, const uint8_t* cls, const uint8_t* lookCls, int width,
                              bool inner, bool clear);

// The table for the given processor flags (references where a flag is missing).
UnchangedKernels unchangedKernelsFor(unsigned cpuFlags);
// The table for this process, chosen once from cpuFlags().
const UnchangedKernels& unchangedKernels();

}  // namespace zov

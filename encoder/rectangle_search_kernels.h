// The rectangle search's kernels: the run map (candidates in a row to the right) of one line,
// equal neighbours of a line, and the heights of a line with the pixels whose simple bound
// reaches the minimum area. Every version gives the reference's output exactly.
#pragma once

#include <cstdint>

namespace zov {

// runs[x] = the number of entries equal to `candidate` from map[x] rightwards without a break,
// capped at 255 (0 where map[x] is not the candidate), for x in 0..width-1.
using RunMapLineFn = void (*)(const uint8_t* map, uint8_t* runs, int width, uint8_t candidate);

// out[x] = 1 where a[x] == b[x], else 0, for x in 0..n-1 (the values: 17-bit targets or
// colours).
using EqualLine32Fn = void (*)(const uint32_t* a, const uint32_t* b, uint8_t* out, int n);
using EqualLine16Fn = void (*)(const uint16_t* a, const uint16_t* b, uint8_t* out, int n);

// The candidate lines of one line from the line below: heights[x] = 0 where runs[x] is 0,
// else 1 + min(below[x], 254), where below[x] is 0 without a line below (below == nullptr) and
// where sameBelow is given and sameBelow[x] is 0. Writes the columns whose
// heights[x] * runs[x] reaches minArea to xs in increasing order and returns their count.
using HeightsLineFn = int (*)(const uint8_t* runs, const uint8_t* below, const uint8_t* sameBelow,
                              uint8_t* heights, int width, uint32_t minArea, int32_t* xs);

struct RectangleSearchKernels {
  RunMapLineFn runMapLine;
  EqualLine32Fn equalLine32;
  EqualLine16Fn equalLine16;
  HeightsLineFn heightsLine;
};

// The plain C++ references.
void runMapLineScalar(const uint8_t* map, uint8_t* runs, int width, uint8_t candidate);
void equalLine32Scalar(const uint32_t* a, const uint32_t* b, uint8_t* out, int n);
void equalLine16Scalar(const uint16_t* a, const uint16_t* b, uint8_t* out, int n);
int heightsLineScalar(const uint8_t* runs, const uint8_t* below, const uint8_t* sameBelow,
                      uint8_t* heights, int width, uint32_t minArea, int32_t* xs);

// The table for the given processor flags (references where a flag is missing).
RectangleSearchKernels rectangleSearchKernelsFor(unsigned cpuFlags);
// The table for this process, chosen once from cpuFlags().
const RectangleSearchKernels& rectangleSearchKernels();

}  // namespace zov

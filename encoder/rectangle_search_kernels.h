// The rectangle search's kernels: the run map (candidates in a row to the right) of one line.
// Every version gives the reference's map exactly.
#pragma once

#include <cstdint>

namespace zov {

// runs[x] = the number of entries equal to `candidate` from map[x] rightwards without a break,
// capped at 255 (0 where map[x] is not the candidate), for x in 0..width-1.
using RunMapLineFn = void (*)(const uint8_t* map, uint8_t* runs, int width, uint8_t candidate);

struct RectangleSearchKernels {
  RunMapLineFn runMapLine;
};

// The plain C++ reference.
void runMapLineScalar(const uint8_t* map, uint8_t* runs, int width, uint8_t candidate);

// The table for the given processor flags (references where a flag is missing).
RectangleSearchKernels rectangleSearchKernelsFor(unsigned cpuFlags);
// The table for this process, chosen once from cpuFlags().
const RectangleSearchKernels& rectangleSearchKernels();

}  // namespace zov

// The pre-quantiser's luma chain: the lumas of one line, each carried from its left neighbour's
// by the delta quantiser, with the line's targets and colours written as the decoder will
// rebuild them. Every version gives the reference's result exactly.
#pragma once

#include <cstdint>

namespace zov {

// One line of `width` pixels (width >= 2). Pixel 0 is done: its target (yc[0]) is the chain's
// start. For every later pixel x the luma wanted[x] is carried from the luma before it (with
// the extended-range code when `extended`, else with step doubling, which looks ahead at the
// source's own luma of pixel x + 1, yc[x + 1] >> 12, before it is overwritten); yc[x] becomes
// that luma << 12 | the chroma of its cell (chroma[x >> cellShift]), pic[x] the table colour
// ycToRgb[yc[x]]. `wanted` is scratch afterwards. Cells are 2 or 4 pixels wide (cellShift 1 or
// 2). The table needs two bytes of room after its last entry (ColourTables has them).
// `rows`, where given, is the same table by chroma (rows[chroma * 32 + y], as buildLumaRows lays
// it out, also with two bytes of room after it): a version may read the colours there, where a
// cell's pixels find theirs in one cache line instead of lines 8 KiB apart.
struct LumaLineJob {
  uint8_t* wanted;
  uint32_t* yc;
  uint16_t* pic;
  const uint32_t* chroma;
  const uint16_t* ycToRgb;
  int width;
  int cellShift;
  bool extended;
  const uint16_t* rows = nullptr;
};

using LumaLineFn = void (*)(const LumaLineJob& job);

struct PrequantiseKernels {
  LumaLineFn lumaLine;
};

// The plain C++ reference: the chain pixel by pixel.
void lumaLineScalar(const LumaLineJob& job);

// The table for the given processor flags (references where a flag is missing).
PrequantiseKernels prequantiseKernelsFor(unsigned cpuFlags);
// The table for this process, chosen once from cpuFlags().
const PrequantiseKernels& prequantiseKernels();

}  // namespace zov

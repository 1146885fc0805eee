// The coding passes' kernels: the stretches of a sharing row in which every coded pixel is one
// Y step of at most 6 from its predictor. Such a step is coded exactly by one symbol (step + 7)
// under either code, so the rebuilt values are the targets' lumas with the row's colour
// differences and the stretch needs no walk state beyond the last Y. Every version gives the
// reference's symbols, values and colours exactly.
#pragma once

#include <cstdint>

namespace zov {

// One stretch of a sharing row. Pixel i lies at column `column` + i; `target` and `rgb` point
// at pixel 0. Targets are 17-bit values (luma in bits 12..16) and become the rebuilt values;
// `rgb` gets their colours from `toRgb` (ColourTables::ycToRgb, which the vector versions read
// two bytes past the looked-up entry). `chroma` is the row's colour-difference store, one
// entry per group of 2^shift columns. `y` is the rebuilt Y the first step starts from.
struct LumaStretch {
  uint32_t* target;
  uint16_t* rgb;
  const uint16_t* toRgb;
  uint32_t* chroma;  // sharing rows read it, carrying rows write it
  uint8_t* out;      // one symbol per coded pixel
  int column;
  int count;
  int shift;
  uint32_t y;
  uint32_t colour;  // lumaSteps: the colour difference before the first group start
};

// Pixels 0 .. count-1 outside Entropy runs, each coded from the one before it; a pixel takes
// its group's stored colour difference when the group starts at or after `column`, else
// `colour`. Stops before the first step larger than 6; returns the pixels coded.
using LumaStepsFn = int (*)(const LumaStretch& s);

// The same in a carrying row: a pixel at a group start is coded in full (Y, then both colour
// differences, each a step of at most 6 from the pixel before) and stores its colour
// difference in its group's entry; the others keep the colour difference of the pixel before
// them (`colour` before the first). Stops before the first pixel with a larger step; returns
// the pixels coded (their symbols: one each and two more per group start).
using CarryingStepsFn = int (*)(const LumaStretch& s);

// Pairs 0 .. count-1 of an Entropy run: pixel 2k is interpolated, pixel 2k+1 coded from the
// coded pixel before it; the interpolated Y is halfway (rounded down) between its neighbours.
// Both take their group's stored colour difference. Stops before the first pair whose step is
// larger than 6; returns the pairs coded.
using EntropyPairsFn = int (*)(const LumaStretch& s);

// The same in a carrying row: the coded pixel as in carryingSteps (in full at a group start);
// the interpolated one keeps the colour difference of the pixel before it. Returns the pairs
// coded (their symbols: one each and two more per coded group start).
using CarryingPairsFn = int (*)(const LumaStretch& s);

// Adds to counts[v] (v 0..15) the symbols of s[0..n-1] whose low four bits are v.
using CountSymbolsFn = void (*)(const uint8_t* s, uint32_t n, uint32_t* counts);

struct ResidualKernels {
  LumaStepsFn lumaSteps;
  CarryingStepsFn carryingSteps;
  EntropyPairsFn entropyPairs;
  CarryingPairsFn carryingPairs;
  CountSymbolsFn countSymbols;
};

// The plain C++ references.
int lumaStepsScalar(const LumaStretch& s);
int carryingStepsScalar(const LumaStretch& s);
int entropyPairsScalar(const LumaStretch& s);
int carryingPairsScalar(const LumaStretch& s);
void countSymbolsScalar(const uint8_t* s, uint32_t n, uint32_t* counts);

// The table for the given processor flags (references where a flag is missing).
ResidualKernels residualKernelsFor(unsigned cpuFlags);
// The table for this process, chosen once from cpuFlags().
const ResidualKernels& residualKernels();

}  // namespace zov

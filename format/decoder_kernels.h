// The decoder's hot kernels, behind a table of function pointers chosen once from the
// processor's flags (format/cpu_features.h). Each has a plain C++ reference; the vector versions
// give exactly its results (tests/kernels/kernel_check compares them byte for byte).
#pragma once

#include <cstdint>

namespace zov {

// The inside of an Entropy run in a row that shares its colour difference (the rows of 411,
// 811 and 1611 that do not carry it): pairs of an interpolated pixel at column x + 2k and a coded
// pixel at x + 2k + 1 that reads one Y step, symbols[k]. The coded pixel's luminance is the
// previous one's plus the step; the interpolated one lies halfway (rounded down) between its
// neighbours. Both take the colour difference of their group: c12[column] holds it in the low
// 12 bits of the 17-bit luminance value (the caller keeps 16 entries of slack past the row).
//
// `y` is the running luminance with its bias of 64 (in 64..95). With `edge` set, symbols 0 and
// 14 begin an extended-range step, which the kernel leaves to its caller. Stops before the first
// pair whose symbol does that or whose luminance leaves 64..95, and returns the pairs written
// (at most `pairs`) and the luminance after them. May read up to seven symbols past
// symbols[pairs - 1] (the decoder's symbol buffer keeps that slack) but never uses them.
struct SharingPairs {
  int x;
  bool edge;
  const uint16_t* c12;
  const uint16_t* colours;  // ColourTables::ycToRgbByChroma
  uint16_t* row;            // the picture row
  // The run starts at the first pair's coded pixel: its interpolated pixel (column x, before
  // the run) is not written, so the walk needs no branch on the parity of the run's start.
  bool codedFirst;
  // The row's length. The vector versions write a step's pixels with stores of a fixed width
  // over what the row holds (the pixels outside the run keep their values) where those lie
  // within it; the row is read and written only within [0, width).
  int width;
};
// The pairs written and the running luminance after them. The symbols, the pairs and the
// luminance go in and come out in registers: they are the walk's chain from run to run, which
// a trip through memory (the job, an output pointer) would lengthen by a store and a load each.
struct SharingPairsDone {
  int pairs;
  int y;
};
using SharingPairsFn = SharingPairsDone (*)(const SharingPairs& job, const uint8_t* symbols,
                                            int pairs, int y);

// The inside of an Entropy run in a row that carries colour difference (the coded columns are
// the even ones): pairs of an interpolated pixel at column x + 2k (x odd) and a coded pixel at
// x + 2k + 1. A coded pixel at a group start (its column a multiple of 1 << groupShift) reads
// three steps, Y, Cr and Cb, and stores its colour difference in chroma[column >> groupShift];
// any other coded pixel reads the Y step only. The interpolated pixel takes its left
// neighbour's colour difference and the luminance halfway (rounded down) between its neighbours.
//
// `value` is the running value (running_value.h). Stops before the first pair one of whose
// symbols is 0 or 14 (an extended-range step or a doubled step: left to the caller, in either
// code) or whose coded pixel leaves the range; returns the pairs written (at most `pairs`), the
// symbols they took and the value after them. Reads at most 3 * pairs symbols.
struct CarryingPairs {
  int x;
  int groupShift;           // 1 or 2
  uint32_t* chroma;         // the chroma store: colour differences of the running value, per group
  const uint16_t* colours;  // ColourTables::ycToRgbByChroma
  uint16_t* row;            // the picture row
  bool codedFirst;          // as in SharingPairs
};
// The pairs written, the symbols they took and the running value after them (in registers, as
// for SharingPairsDone).
struct CarryingPairsDone {
  int pairs;
  int used;
  uint32_t value;
};
using CarryingPairsFn = CarryingPairsDone (*)(const CarryingPairs& job, const uint8_t* symbols,
                                              int pairs, uint32_t value);

// A whole row in the extended-range code, in vectors rather than pixel by pixel
// (decoder_rows_avx512.cpp tells how): the same pixels, symbols and chroma store as the
// walk. For a row that shares its colour difference the caller has set the row's column 0 and
// filled c12 from the chroma store; a row that carries it writes the chroma store.
struct RowJob {
  const uint8_t* bm;        // the row's block map bytes
  const uint8_t* em;        // the row's Entropy map bytes
  const uint16_t* c12;      // sharing rows: the store's colour differences per column
  const uint16_t* colours;  // ColourTables::ycToRgbByChroma
  const uint32_t* rgbToYc;  // ColourTables::rgbToYc, for the covered pixels
  uint16_t* row;            // the picture row
  int width;
  int groupShift;  // log2 of the column group: 1 (411) or 2 (811, 1611)
  bool oddRow;     // odd rows code the even columns of Entropy runs
  uint32_t start;  // the running value of column 0
  // Carrying rows: the chroma store, and the block and Entropy maps of the rows that share
  // what this one carries (whether a covered block's colour differences are stored).
  uint32_t* chroma = nullptr;
  const uint8_t* partnerBm[3] = {};
  const uint8_t* partnerEm[3] = {};
  int partners = 0;
};
// Returns the symbols the row took; or -1, having written nothing, where it leaves the row to
// the walk (an extended step of three or more symbols, a component out of range). Reads up to
// 31 symbols past those it takes (the decoder's symbol buffer keeps that slack).
using RowFn = int (*)(const RowJob& job, const uint8_t* symbols);

struct DecoderKernels {
  SharingPairsFn sharingPairs;
  CarryingPairsFn carryingPairs;
  RowFn sharingRow;   // null where the processor has no vector version
  RowFn carryingRow;  // the same
};

// The plain C++ references.
SharingPairsDone sharingPairsScalar(const SharingPairs& job, const uint8_t* symbols, int pairs,
                                    int y);
int sharingRowScalar(const RowJob& job, const uint8_t* symbols);
int carryingRowScalar(const RowJob& job, const uint8_t* symbols);
CarryingPairsDone carryingPairsScalar(const CarryingPairs& job, const uint8_t* symbols, int pairs,
                                      uint32_t value);
#ifdef ZOV_DECODER_AVX2
// The sharing-row kernel with its look-ups gathered (decoder_kernels_avx2.cpp, built for AVX2).
SharingPairsDone sharingPairsAvx2(const SharingPairs& job, const uint8_t* symbols, int pairs,
                                  int y);
#endif
#ifdef ZOV_DECODER_AVX512
// decoder_rows_avx512.cpp, built for AVX-512 with VBMI and VBMI2.
int sharingRowAvx512(const RowJob& job, const uint8_t* symbols);
int carryingRowAvx512(const RowJob& job, const uint8_t* symbols);
#endif
// carryingPairs a group of two pairs at a time where groups are four columns (plain C++; the
// table holds it from SSE2 on, so that the reference stays what ZOV_CPU=scalar runs).
CarryingPairsDone carryingPairsGrouped(const CarryingPairs& job, const uint8_t* symbols, int pairs,
                                       uint32_t value);

// The table for the given processor flags (references where a flag is missing).
DecoderKernels decoderKernelsFor(unsigned cpuFlags);
// The table for this process, chosen once from cpuFlags().
const DecoderKernels& decoderKernels();

}  // namespace zov

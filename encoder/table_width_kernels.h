// The table-width cost model's kernel: the modelled decoding cost of the frame's stream under
// a look-up width. Every version gives the reference's numbers exactly, so the chosen width
// never depends on the kernel path.
#pragma once

#include <cstddef>
#include <cstdint>

namespace zov {

// The stream of codes from bit `first` to `end` as the decoder reads it with a table `width`
// bits wide: each look-up takes as many whole codes as fit the window, at most six. Returns
// the look-ups (two where the window straddles a word) plus the number of distinct window
// patterns; `seen` (2^width flags) is scratch. `stream` holds the codes in the frame's word
// alignment (bit b at bit 31 - b % 32 of word b / 32, `first` below 32), `ends` marks the last
// bit of every code (bit b at bit b % 32 of word b / 32); both have at least two zero words
// past `end`. The width is at least the longest code's length.
//
// With `lengthOf` (the length of the code each `longest`-bit prefix starts with, see
// fillCodeLengths), `taken` (kWidthCostTaken bytes of scratch) and `joined` (the stream's words
// in overlapping pairs, joined[w] = stream[w] << 32 | stream[w + 1], for every word up to the
// one holding bit
// `end` - 1), a version may walk by the stream's bits alone: a window's bits tell
// which whole codes it holds, so the bits a look-up takes come from a table per width, built
// from the table of the width below. Such a version reads `ends` only to find a code start
// near the middle of a long stream, and not at all when given one in `middle`; with
// TableWidthKernels::needsEnds false, `ends` may then be null.
struct WidthCostJob {
  const uint32_t* ends;
  const uint32_t* stream;
  uint64_t first;
  uint64_t end;
  uint8_t* seen;
  const uint8_t* lengthOf = nullptr;
  int longest = 0;
  uint8_t* taken = nullptr;
  const uint64_t* joined = nullptr;
  uint64_t middle = 0;  // a code start between first and end, or 0
};
inline constexpr size_t kWidthCostTaken = (size_t(3) << 16) + 64;  // gathers read past

// lengthOf for a code (lengths[s] 0 for unused symbols; `longest` its longest length, 1..15):
// 2^longest entries.
void fillCodeLengths(const uint8_t lengths[16], const uint32_t codes[16], int longest,
                     uint8_t* lengthOf);
// The costs of `count` consecutive widths from `width` (costs[k]: width + k), count at most
// kMaxWidthsAtOnce and width + count at most 16; `seen` has room for kWidthCostSeen flags
// (each width's walk flags its own 2^width, or twice that when walked in two halves).
inline constexpr int kMaxWidthsAtOnce = 3;
inline constexpr size_t kWidthCostSeen = size_t(1) << 16;
using WidthCostsFn = void (*)(const WidthCostJob& job, int width, int count, uint64_t* costs);

struct TableWidthKernels {
  WidthCostsFn widthCosts;
  // How many widths a call of widthCosts best takes: the model asks for that many at once
  // (it may then know one cost more than it needs; the choice is the same).
  int widthsAtOnce;
  // Whether widthCosts reads the code ends even with the bits-taken tables and a middle.
  bool needsEnds;
};

// The plain C++ references: widthCostScalar walks the stream once for one width.
uint64_t widthCostScalar(const WidthCostJob& job, int width);
void widthCostsScalar(const WidthCostJob& job, int width, int count, uint64_t* costs);

// The table for the given processor flags (references where a flag is missing).
TableWidthKernels tableWidthKernelsFor(unsigned cpuFlags);
// The table for this process, chosen once from cpuFlags().
const TableWidthKernels& tableWidthKernels();

}  // namespace zov

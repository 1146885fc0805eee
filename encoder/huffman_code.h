// The frame's Huffman code: built from the symbol counts by a two-queue merge with a fixed
// tie rule, so that the code (and the frame) depends on nothing but the counts; and the
// decoder look-up width W chosen to minimise the decoder's work on this frame's stream.
#pragma once

#include <cstdint>

#include "encoder/encoder_buffers.h"
#include "encoder/table_width_kernels.h"

namespace zov {

class WorkerPool;

struct HuffmanCode {
  int leafCount = 0;
  uint8_t leafOrder[16] = {};  // symbol values in tree-walk order (the order written)
  uint32_t code[16] = {};      // per symbol value, code bits (first bit most significant)
  uint8_t length[16] = {};     // per symbol value, 0 = unused
  int maxLength = 0;
  // The tree shape as written: one bit per node of the walk (1 internal, 0 leaf).
  uint32_t shapeBits = 0;
  int shapeLength = 0;
};

// Builds the code for the symbols with a non-zero count (at least two of them).
void buildHuffmanCode(const uint32_t counts[16], HuffmanCode& out);

// Words a stream of n codes from bit `first` (below 32) takes in packCodes' buffers.
inline uint64_t packedWords(uint64_t n, unsigned first) {
  return (first + 15 * n + 31) / 32 + 2;
}

// Packs the codes of symbols1 then symbols2 into `words` (most significant bit first, as the
// frame holds them) from bit `first` (below 32) of word 0 on, the bits before it zero, and
// marks the last bit of every code in `ends` (bit b at bit b % 32 of word b / 32, least
// significant first). Both get two zero words past the stream; each has room for
// packedWords(n1 + n2, first) words. Returns the bit where the stream ends. With `ends` null
// the ends are not marked and `middle` (if given) gets the bit where the code of the middle
// symbol starts, for the cost model (without ends that is the faster packing).
uint64_t packCodes(const HuffmanCode& code, const uint8_t* symbols1, uint32_t n1,
                   const uint8_t* symbols2, uint32_t n2, unsigned first, uint32_t* words,
                   uint32_t* ends, uint64_t* middle = nullptr);

// The cost model's working space (chooseTableWidth's `scratch`): pattern flags and bits-taken
// tables for two groups of widths at once, and the code's lengths by prefix.
inline constexpr size_t kTableWidthScratch =
    2 * kWidthCostSeen + 2 * kWidthCostTaken + (size_t(1) << 15);

// Chooses W from the longest code length up to 15 while the modelled decoding cost strictly
// falls. `words` and `ends` are packCodes' output for the frame's codes from bit `first` (the
// first code's position within its word of the frame) to `end`; `ends` may be null with
// `middle` packCodes' middle when tableWidthKernels().needsEnds is false. `joined` has room for
// (end + 31) / 32 words (the words in overlapping pairs, for the cost model's kernel). `scratch`
// has room for kTableWidthScratch bytes; with a pool of more than one thread some costs are
// computed side by side.
int chooseTableWidth(const HuffmanCode& code, const uint32_t* words, const uint32_t* ends,
                     unsigned first, uint64_t end, uint64_t* joined, uint8_t* scratch,
                     WorkerPool* pool = nullptr, uint64_t middle = 0);

}  // namespace zov

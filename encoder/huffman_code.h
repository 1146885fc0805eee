// The frame's Huffman code: built from the symbol counts by a two-queue merge with a fixed
// tie rule, so that the code (and the frame) depends on nothing but the counts; and the
// decoder look-up width W chosen to minimise the decoder's work on this frame's stream.
#pragma once

#include <cstdint>

#include "encoder/encoder_buffers.h"

namespace zov {

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

// Chooses W from the longest code length up to 15 while the modelled decoding cost strictly
// falls. `stream` holds the frame's codes from bit 0 on (first bit = bit 31 of word 0);
// `startBit` is the position of the first code within the frame. `seen` has room for 2^15
// flags, `scratch` for n1 + n2 + 16 words.
int chooseTableWidth(const HuffmanCode& code, const uint32_t* stream, uint64_t streamBits,
                     uint64_t startBit, const uint8_t* symbols1, uint32_t n1,
                     const uint8_t* symbols2, uint32_t n2, uint8_t* seen, uint32_t* scratch);

}  // namespace zov

// The decoder's working state that the interface does not show: shared by decoder.cpp (header,
// lists, residual section) and decoder_schemes.cpp (reconstruction).
#pragma once

#include <cstdint>
#include <vector>

#include "format/bit_reader.h"
#include "format/decoder.h"
#include "format/huffman_table.h"

namespace zov {

// The most symbols a frame may carry: three per pixel of 640 x 480.
inline constexpr uint32_t kMaxSymbols = 921600;
// Slack after the symbols: neutral steps (7) that end any extended-range run, enough for the
// reconstruction to finish the row in which a too-short stream runs out.
inline constexpr uint32_t kSymbolSlack = 3 * kMaxWidth + 64;

struct FrameDecoder::Impl {
  BitReader reader;
  HuffmanTable huffman;
  std::vector<CodeLeaf> leaves;
  std::vector<uint8_t> symbolValues;
  std::vector<uint8_t> symbols = std::vector<uint8_t>(kMaxSymbols + kSymbolSlack, 7);
  std::vector<uint32_t> columnStore;  // running value of column 0, per coded row
  std::vector<uint32_t> chromaStore;  // colour differences per column group
  std::vector<uint16_t> c12;          // per column, its group's (the row walk's); 16 spare
  uint32_t n1 = 0, n2 = 0;            // symbols of part 1 and part 2 in this frame
  bool part2 = true;                  // part 2 is decoded this frame
  const char* fault = nullptr;
};

}  // namespace zov

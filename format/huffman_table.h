// The frame's Huffman code: its tree shape as written in the frame, and the look-up tables that
// decode it. The multi-symbol table maps every W-bit window of the stream to the symbols of all
// complete codes the window holds from its first bit on (up to seven), so a typical look-up
// yields several symbols at once.
#pragma once

#include <cstdint>
#include <vector>

#include "format/bit_reader.h"

namespace zov {

inline constexpr int kMaxLookupWidth = 16;
inline constexpr int kMaxSymbolsPerLookup = 7;

struct CodeLeaf {
  uint32_t code = 0;  // most significant bit first, `length` bits
  int length = 0;
  uint8_t symbol = 0;
};

enum class TreeStatus { Ok, TooFewLeaves, TooManyLeaves, TooLong };

// Reads a tree shape (pre-order walk, 1 = internal node entered, 0 = leaf, the 1-branch first)
// for `symbols.size()` leaves, assigning the k-th symbol to leaf k. Codes longer than maxLength
// are refused. Reads stop as soon as the shape is complete or found wrong.
TreeStatus readTreeShape(BitReader& reader, const std::vector<uint8_t>& symbols, int maxLength,
                         std::vector<CodeLeaf>& leaves);

// Where a chain of look-ups stood: its bit and the symbols it had written (see decode).
struct ChainMark {
  uint64_t bit;
  uint32_t symbols;
};

class HuffmanTable {
 public:
  // Builds the tables for a complete prefix code whose codes are at most `width` bits long and
  // whose symbols are below 16.
  void build(const std::vector<CodeLeaf>& leaves, int width);
  int width() const { return width_; }

  // Decodes `count` symbols into out (one symbol per byte). Writes up to 7 bytes past
  // out[count - 1]; the caller keeps that slack.
  void decode(BitReader& reader, uint8_t* out, uint32_t count);
  // The same for the given processor flags (format/cpu_features.h): without kCpuSse2
  // (ZOV_CPU=scalar) as one chain of look-ups, the reference that kernel_check compares the
  // two chains with.
  void decode(BitReader& reader, uint8_t* out, uint32_t count, unsigned cpuFlags);

 private:
  void buildByPrefix(const std::vector<CodeLeaf>& leaves, int width, int shortest);
  void decodeSerial(BitReader& reader, uint8_t* out, uint32_t count) const;
  bool decodePaired(BitReader& reader, uint8_t* out, uint32_t count);

  int width_ = 0;
  // Per window: the bits taken by all complete codes from its first bit on (bits 0-4), their
  // symbols (bytes 1-7) and count (bits 61-63); see build.
  std::vector<uint64_t> multi_;
  // Per window: the first code's symbol (bits 0-7) and length (bits 8-15).
  std::vector<uint16_t> single_;
  // The build's tables of narrower windows (see buildByPrefix).
  std::vector<uint64_t> narrower_;
  // The second half's symbols and its reader every block of look-ups (see decodePaired).
  std::vector<uint8_t> second_;
  std::vector<uint8_t> bytes_;  // the stream's words with their bytes in reading order
  std::vector<ChainMark> marks_;
};

}  // namespace zov

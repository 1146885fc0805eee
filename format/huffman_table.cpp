#include "format/huffman_table.h"

#include <bit>
#include <cstring>

namespace zov {

// The look-up entries hold their symbols in bytes 1-7 of a 64-bit word, stored whole.
static_assert(std::endian::native == std::endian::little);

// A multi-symbol entry: bits 0-4 the bits its codes take (0..16), bytes 1-7 its symbols (4-bit
// values, so the top bits of the last byte are free) and bits 61-63 their count (0..7). The bits
// come first so that the decoder shifts its cache by the entry itself (x86 takes a shift count
// modulo 64): no instruction between a look-up and the next one's index.
constexpr int kEntryCountShift = 61;

TreeStatus readTreeShape(BitReader& reader, const std::vector<uint8_t>& symbols, int maxLength,
                         std::vector<CodeLeaf>& leaves) {
  leaves.clear();
  // The walk keeps the path to the current node: `code` holds one bit per level, 1 while in a
  // node's first-visited branch. After a leaf it climbs while in 0-branches and then turns the
  // deepest 1-branch into its 0-branch; climbing past the root completes the tree.
  uint32_t code = 0;
  int length = 0;
  for (;;) {
    if (reader.readBit()) {
      if (length >= maxLength) return TreeStatus::TooLong;  // its leaves would be deeper still
      code = code << 1 | 1;
      ++length;
      continue;
    }
    if (leaves.size() >= symbols.size()) return TreeStatus::TooManyLeaves;
    leaves.push_back({code, length, symbols[leaves.size()]});
    while (length > 0 && (code & 1) == 0) {
      code >>= 1;
      --length;
    }
    if (length == 0) break;
    code ^= 1;
  }
  return leaves.size() == symbols.size() ? TreeStatus::Ok : TreeStatus::TooFewLeaves;
}

void HuffmanTable::build(const std::vector<CodeLeaf>& leaves, int width) {
  width_ = width;
  const uint32_t size = uint32_t{1} << width;
  single_.resize(size);
  multi_.resize(size);
  for (const CodeLeaf& leaf : leaves) {
    const int spare = width - leaf.length;
    const uint32_t first = leaf.code << spare;
    const uint32_t last = first + (uint32_t{1} << spare);
    const uint16_t entry = static_cast<uint16_t>(leaf.symbol | leaf.length << 8);
    for (uint32_t v = first; v < last; ++v) single_[v] = entry;
  }
  const uint32_t mask = size - 1;
  for (uint32_t v = 0; v < size; ++v) {
    uint64_t symbols = 0;
    int used = 0, count = 0;
    while (count < kMaxSymbolsPerLookup) {
      const uint16_t e = single_[(v << used) & mask];
      const int len = e >> 8;
      if (used + len > width) break;  // this code runs past the window
      symbols |= uint64_t(e & 0xFF) << (8 * count);
      used += len;
      ++count;
    }
    multi_[v] = uint64_t(used) | symbols << 8 | uint64_t(count) << kEntryCountShift;
  }
}

void HuffmanTable::decode(BitReader& reader, uint8_t* out, uint32_t count) const {
  // The reader is worked on as a local copy: the byte stores to `out` may alias anything, so
  // with the caller's reader every look-up would store and reload the cache and its counters.
  BitReader in = reader;
  const uint64_t* const multi = multi_.data();
  const int w = width_;
  const int drop = 64 - w;
  // While at least seven symbols remain (out <= bulkEnd), a look-up's symbols are taken whole.
  uint8_t* const start = out;
  const uintptr_t bulkEnd = count >= kMaxSymbolsPerLookup
                                ? reinterpret_cast<uintptr_t>(out + (count - kMaxSymbolsPerLookup))
                                : 0;
  in.takeCodes([&] { return reinterpret_cast<uintptr_t>(out) <= bulkEnd; },
               [&](uint64_t window) {
                 const uint64_t e = multi[window >> drop];
                 // Bytes 0-6 the symbols; byte 7 is overwritten by the next entry or the slack.
                 const uint64_t symbols = e << (64 - kEntryCountShift) >> 11;
                 std::memcpy(out, &symbols, 8);
                 out += e >> kEntryCountShift;
                 return e;  // its low bits are the bits its codes take
               });
  count -= static_cast<uint32_t>(out - start);
  // The tail one code at a time, so that no bit past the last code is consumed.
  for (; count > 0; --count) {
    const uint16_t e = single_[in.peek(w)];
    *out++ = static_cast<uint8_t>(e);
    in.skip(e >> 8);
  }
  reader = in;
}

}  // namespace zov

#include "format/huffman_table.h"

#include <bit>
#include <cstring>

namespace zov {

// The look-up entries hold their symbols in bytes 0-6 of a 64-bit word, stored whole.
static_assert(std::endian::native == std::endian::little);

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
    multi_[v] = symbols | uint64_t(count | used << 3) << 56;
  }
}

void HuffmanTable::decode(BitReader& reader, uint8_t* out, uint32_t count) const {
  // The reader is worked on as a local copy: the byte stores to `out` may alias anything, so
  // with the caller's reader every look-up would store and reload the cache and its counters.
  BitReader in = reader;
  const int w = width_;
  const uint64_t* multi = multi_.data();
  // While at least fourteen symbols remain, the two entries of a step are used whole.
  const int drop = 64 - w;
  in.takeCodes([&] { return count >= 2 * kMaxSymbolsPerLookup; },
               [&](uint64_t window) {
                 const uint64_t e = multi[window >> drop];
                 std::memcpy(out, &e, 8);  // byte 7 is overwritten by the next entry or the slack
                 const uint32_t n = static_cast<uint32_t>(e >> 56) & 7;
                 out += n;
                 count -= n;
                 return static_cast<int>(e >> 59);
               });
  // The tail one code at a time, so that no bit past the last code is consumed.
  for (; count > 0; --count) {
    const uint16_t e = single_[in.peek(w)];
    *out++ = static_cast<uint8_t>(e);
    in.skip(e >> 8);
  }
  reader = in;
}

}  // namespace zov

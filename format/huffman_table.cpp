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

void HuffmanTable::decode(BitReader& reader, uint8_t* out, uint32_t count) {
  if (!decodePaired(reader, out, count)) decodeSerial(reader, out, count);
}

void HuffmanTable::decodeSerial(BitReader& reader, uint8_t* out, uint32_t count) const {
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

// Each look-up waits for the one before it, so one chain of look-ups leaves most of the
// processor idle. The symbols are therefore decoded as two chains at once: the first from the
// start, the second from a word in the middle of the chunk. The second starts on a bit that
// need not begin a code; its first symbols are wrong, but a prefix code falls back into step
// within a few codes. Where the first chain reaches a bit on which the second began a look-up,
// both decode the same from there on: the second chain's symbols from that look-up on are the
// rest of the stream. The first chain walks its last stretch one code at a time, so it meets
// every code start; should the second chain not have fallen into step within its first block
// of look-ups (a code whose codes all have one length can stay out of step for ever), the first
// chain simply decodes the rest itself.
//
// The second chain decodes into second_ and keeps its reader after every block of look-ups (a
// mark): it may run past the end of the stream, which only the meeting point tells, and is then
// taken back to the last mark before that end and finishes from there as a single chain does.
bool HuffmanTable::decodePaired(BitReader& reader, uint8_t* out, uint32_t count) {
  constexpr int kBlock = 64;                  // look-ups per chain between checks
  constexpr uint32_t kMinCount = 8192;        // below this the set-up does not pay
  constexpr uint64_t kMinBits = 64 * 32 * 2;  // bits each chain must have at least
  const uint64_t start = reader.bitPosition();
  const uint64_t total = reader.totalBits();
  if (count < kMinCount || total < start + 2 * kMinBits) return false;
  const uint64_t split = (start + (total - start) / 2) & ~uint64_t{31};
  const size_t room = size_t(count) + 8 * kBlock;
  if (second_.size() < room) second_.resize(room);
  BitReader second = reader.from(split);
  BitReader::Run a(reader), b(second);
  const uint8_t* const splitByte = reader.begin() + split / 8;
  const uint64_t* const multi = multi_.data();
  const int drop = 64 - width_;
  uint8_t* outA = out;
  uint8_t* const bBase = second_.data();
  uint8_t* outB = bBase;
  // The second chain's first look-ups: where each began and how many symbols came before it.
  uint64_t begun[kBlock];
  uint32_t before[kBlock];
  marks_.clear();
  marks_.push_back({b, 0});

  auto look = [&](BitReader::Run& run, uint8_t*& o) {
    const uint64_t e = multi[run.window() >> drop];
    const uint64_t symbols = e << (64 - kEntryCountShift) >> 11;
    std::memcpy(o, &symbols, 8);
    o += e >> kEntryCountShift;
    run.stepWithin(e);
  };
  // A block needs both chains within their words (the first before the split), the first
  // chain's symbols within count and the second's within second_.
  auto blockFits = [&] {
    return a.within(kBlock, splitByte) && b.within(kBlock, reader.end()) &&
           size_t(outA - out) + kMaxSymbolsPerLookup * (kBlock + 1) <= count &&
           size_t(outB - bBase) + kMaxSymbolsPerLookup * (kBlock + 1) + 8 <= room;
  };
  if (!blockFits()) return false;
  for (int i = 0; i < kBlock; ++i) {
    begun[i] = b.position();
    before[i] = static_cast<uint32_t>(outB - bBase);
    look(a, outA);
    look(b, outB);
  }
  marks_.push_back({b, static_cast<uint32_t>(outB - bBase)});
  while (blockFits()) {
    for (int i = 0; i < kBlock; ++i) {
      look(a, outA);
      look(b, outB);
    }
    marks_.push_back({b, static_cast<uint32_t>(outB - bBase)});
  }

  // The first chain alone up to the split, whole look-ups while they end before it...
  const uintptr_t bulkEnd = reinterpret_cast<uintptr_t>(out + (count - kMaxSymbolsPerLookup));
  while (reinterpret_cast<uintptr_t>(outA) <= bulkEnd && a.position() + kMaxLookupWidth <= split) {
    const uint64_t e = multi[a.window() >> drop];
    const uint64_t symbols = e << (64 - kEntryCountShift) >> 11;
    std::memcpy(outA, &symbols, 8);
    outA += e >> kEntryCountShift;
    a.step(e);
  }
  BitReader first = reader;
  a.finish(first);
  // ... then one code at a time until it meets a look-up of the second chain.
  uint8_t* const endA = out + count;
  uint64_t at = first.bitPosition();
  int j = 0;
  for (;;) {
    while (j < kBlock && begun[j] < at) ++j;
    if (j == kBlock || outA == endA) {  // no meeting: the first chain decodes the rest
      decodeSerial(first, outA, static_cast<uint32_t>(endA - outA));
      reader = first;
      return true;
    }
    if (begun[j] == at) break;
    const uint16_t e = single_[first.peek(width_)];
    *outA++ = static_cast<uint8_t>(e);
    first.skip(e >> 8);
    at += e >> 8;
  }
  // The second chain's symbols up to the end of the stream, and the last mark within them.
  const size_t rest = size_t(endA - outA);
  const size_t needed = size_t(before[j]) + rest;
  if (needed + 8 > room) {
    decodeSerial(first, outA, static_cast<uint32_t>(rest));
    reader = first;
    return true;
  }
  size_t m = marks_.size() - 1;
  while (marks_[m].symbols > needed) --m;
  BitReader tail = second;
  marks_[m].run.finish(tail);
  decodeSerial(tail, bBase + marks_[m].symbols, static_cast<uint32_t>(needed - marks_[m].symbols));
  std::memcpy(outA, bBase + before[j], rest);
  reader = tail;
  return true;
}

}  // namespace zov

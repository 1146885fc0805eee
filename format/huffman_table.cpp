#include "format/huffman_table.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <utility>

#include "format/cpu_features.h"

namespace zov {

// The look-up entries hold their symbols in bytes 1-7 of a 64-bit word, stored whole.
static_assert(std::endian::native == std::endian::little);

// A multi-symbol entry: bits 0-4 the bits its codes take (0..16), bytes 1-7 its symbols (4-bit
// values, so the top bits of the last byte are free) and bits 61-63 their count (0..7). The bits
// come first so that the decoder shifts its cache by the entry itself (x86 takes a shift count
// modulo 64): no instruction between a look-up and the next one's index.
constexpr int kEntryCountShift = 61;

// Writes the symbols of multi-symbol entry `e` at o and moves o past them; returns e, whose low
// bits are the bits its codes take. Bytes 0-6 are the symbols; byte 7 is overwritten by the
// next entry or the slack.
[[gnu::always_inline]] static inline uint64_t putSymbols(uint64_t e, uint8_t*& o) {
  const uint64_t symbols = e << (64 - kEntryCountShift) >> 11;
  std::memcpy(o, &symbols, 8);
  o += e >> kEntryCountShift;
  return e;
}

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
  int shortest = kMaxLookupWidth;
  for (const CodeLeaf& leaf : leaves) shortest = std::min(shortest, leaf.length);
  if (width < (kMaxSymbolsPerLookup + 1) * shortest) {
    buildByPrefix(leaves, width, shortest);
    return;
  }
  // Windows that may hold more codes than an entry takes: code by code, up to seven.
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

// No window holds more than seven codes: every entry is its first code before the entry of the
// narrower window that follows that code. The tables of all narrower windows that occur (k bits,
// from 0 to width - shortest; the table of k bits at k_[1 << k]) are built from the narrowest
// up, each code's range of windows from the table its rest falls in, one add and two masks an
// entry, without a branch on the stream's codes.
void HuffmanTable::buildByPrefix(const std::vector<CodeLeaf>& leaves, int width, int shortest) {
  const int top = width - shortest;
  if (narrower_.size() < size_t(2) << top) narrower_.resize(size_t(2) << top);
  auto table = [&](int k) {
    return k == width ? multi_.data() : narrower_.data() + (size_t(1) << k);
  };
  // The rest's symbols move up a byte (it holds at most six), its bits and count stay in place
  // and grow by the code's.
  constexpr uint64_t kSymbols = 0x00FFFFFFFFFFFF00;
  constexpr uint64_t kBitsAndCount = ~uint64_t{0} << kEntryCountShift | 31;
  for (int k = 0; k <= width; k = k == top ? width : k + 1) {
    uint64_t* const t = table(k);
    std::memset(t, 0, sizeof(uint64_t) << k);  // windows whose first code runs past them
    for (const CodeLeaf& leaf : leaves) {
      if (leaf.length > k) continue;
      const int spare = k - leaf.length;
      const uint64_t* const rest = table(spare);
      uint64_t* const range = t + (size_t(leaf.code) << spare);
      const uint64_t add =
          uint64_t(leaf.symbol) << 8 | uint64_t(leaf.length) | uint64_t{1} << kEntryCountShift;
      for (size_t r = 0; r < size_t(1) << spare; ++r)
        range[r] = ((rest[r] & kSymbols) << 8) + (rest[r] & kBitsAndCount) + add;
    }
  }
}

void HuffmanTable::decode(BitReader& reader, uint8_t* out, uint32_t count) {
  decode(reader, out, count, cpuFlags());
}

void HuffmanTable::decode(BitReader& reader, uint8_t* out, uint32_t count, unsigned flags) {
  if (!(flags & kCpuSse2) || !decodePaired(reader, out, count)) decodeSerial(reader, out, count);
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
               [&](uint64_t window) { return putSymbols(multi[window >> drop], out); });
  count -= static_cast<uint32_t>(out - start);
  // The tail one code at a time, so that no bit past the last code is consumed.
  for (; count > 0; --count) {
    const uint16_t e = single_[in.peek(w)];
    *out++ = static_cast<uint8_t>(e);
    in.skip(e >> 8);
  }
  reader = in;
}

namespace {

// A chain of look-ups over the stream's bytes in reading order (see decodePaired): `cache`
// holds `count` bits of the stream from bit 63 on, `p` the byte of the first bit not among them
// (so p * 8 - count bits were consumed). As the reader's bulk loop, the next look-up reads
// `window` (the cache before the last join) and a join lands in the cache for the look-up after
// next, off the chain from one look-up to the next. A join leaves at least 56 bits, so joining
// every second look-up keeps at least 24 (more than the widest table's 16) in every window.
struct Chain {
  uint64_t window;
  uint64_t cache;
  int count;
  const uint8_t* p;

  Chain(const uint8_t* bytes, uint64_t bit) : cache(0), count(0), p(bytes + bit / 8) {
    join();
    cache <<= bit % 8;
    count -= static_cast<int>(bit % 8);
    window = cache;
  }
  uint64_t consumedFrom(const uint8_t* bytes) const {
    return uint64_t(p - bytes) * 8 - static_cast<uint64_t>(count);
  }
  void join() {
    uint64_t next;
    std::memcpy(&next, p, 8);
    cache |= __builtin_bswap64(next) >> count;
    p += (63 - count) >> 3;
    count |= 56;
  }
  // One look-up's shift; `join` on every second.
  template <bool kJoin>
  void take(uint64_t e) {
    const int used = static_cast<int>(e & 63);
    window = cache << used;
    cache = window;
    count -= used;
    if (kJoin) join();
  }
};

constexpr int kBlock = 64;  // look-ups per chain between marks
// Bytes a chain's p may advance in a block (16 bits a look-up at most), plus a join's read.
constexpr size_t kBlockBytes = 2 * kBlock + 8;

// `blocks` blocks of look-ups on both chains, the caller having checked that they fit. Compiled
// for each table width, so that the index is a shift by a constant. (A copy compiled for BMI2,
// shifts by any register, ran about a quarter slower.)
template <int kWidth>
void pairedBlocksOf(const uint64_t* multi, Chain& ca, uint8_t*& oa, Chain& cb, uint8_t*& ob,
                    size_t blocks, const uint8_t* bytes, const uint8_t* bBase, ChainMark* ends) {
  Chain a = ca, b = cb;
  uint8_t* outA = oa;
  uint8_t* outB = ob;
  auto look = [&](const Chain& c, uint8_t*& o) {
    return putSymbols(multi[c.window >> (64 - kWidth)], o);
  };
  for (size_t k = 0; k < blocks; ++k) {
    for (int i = 0; i < kBlock; i += 2) {
      a.take<false>(look(a, outA));
      b.take<false>(look(b, outB));
      a.take<true>(look(a, outA));
      b.take<true>(look(b, outB));
    }
    ends[k] = {b.consumedFrom(bytes), static_cast<uint32_t>(outB - bBase)};
  }
  ca = a;
  cb = b;
  oa = outA;
  ob = outB;
}

using PairedFn = void (*)(const uint64_t*, Chain&, uint8_t*&, Chain&, uint8_t*&, size_t,
                          const uint8_t*, const uint8_t*, ChainMark*);

template <int... kWidths>
constexpr std::array<PairedFn, 17> pairedTable(std::integer_sequence<int, kWidths...>) {
  return {nullptr, &pairedBlocksOf<kWidths + 1>...};
}

// The block loop for a table width.
PairedFn pairedBlocks(int width) {
  static constexpr auto table = pairedTable(std::make_integer_sequence<int, 16>());
  return table[width];
}

}  // namespace

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
// The chains read a copy of the chunk's words with their bytes in reading order (bytes_), so
// that eight bytes from any byte on are 64 bits of the stream: a join every second look-up.
// The second chain decodes into second_ and notes where it was after every block of look-ups (a
// mark): it may run past the end of the stream, which only the meeting point tells, and is then
// taken back to the last mark before that end and finishes from there as a single chain does.
bool HuffmanTable::decodePaired(BitReader& reader, uint8_t* out, uint32_t count) {
  constexpr uint32_t kMinCount = 8192;        // below this the set-up does not pay
  constexpr uint64_t kMinBits = 64 * 32 * 2;  // bits each chain must have at least
  const uint64_t start = reader.bitPosition();
  const uint64_t total = reader.totalBits();
  if (count < kMinCount || total < start + 2 * kMinBits) return false;
  const uint64_t split = (start + (total - start) / 2) & ~uint64_t{31};

  // The words from the one holding `start` to the chunk's end, bytes in reading order (the final
  // partial word as the reader takes it), then zeros for the eight-byte reads.
  const uint64_t firstWord = start / 32;
  const uint8_t* const chunk = reader.begin();
  const size_t chunkBytes = size_t(reader.end() - chunk);
  const size_t words = size_t(total / 32 - firstWord);
  if (bytes_.size() < words * 4 + 16) bytes_.resize(words * 4 + 16);
  uint8_t* const bytes = bytes_.data();
  const uint8_t* const from = chunk + firstWord * 4;
  const size_t whole = std::min(words, (chunkBytes - size_t(firstWord) * 4) / 4);
  for (size_t i = 0; i + 2 <= whole; i += 2) {  // two words at a time
    uint64_t pair;
    std::memcpy(&pair, from + 4 * i, 8);
    pair = std::rotl(__builtin_bswap64(pair), 32);
    std::memcpy(bytes + 4 * i, &pair, 8);
  }
  if (whole % 2 != 0) {
    uint32_t word;
    std::memcpy(&word, from + 4 * (whole - 1), 4);
    word = __builtin_bswap32(word);
    std::memcpy(bytes + 4 * (whole - 1), &word, 4);
  }
  if (whole < words) {  // the final partial word: its missing (high) bytes are zero
    uint32_t word = 0;
    for (size_t k = 0; 4 * whole + k < chunkBytes - size_t(firstWord) * 4; ++k)
      word |= uint32_t(from[4 * whole + k]) << (8 * k);
    word = __builtin_bswap32(word);
    std::memcpy(bytes + 4 * whole, &word, 4);
  }
  std::memset(bytes + 4 * words, 0, 16);
  const uint64_t base = firstWord * 32;  // the copy's first bit in the chunk
  const uint8_t* const bytesEnd = bytes + 4 * words;
  const uint8_t* const splitByte = bytes + (split - base) / 8;

  const size_t room = size_t(count) + 8 * kBlock;
  if (second_.size() < room) second_.resize(room);
  Chain a(bytes, start - base), b(bytes, split - base);
  const uint64_t* const multi = multi_.data();
  const int drop = 64 - width_;
  uint8_t* outA = out;
  uint8_t* const bBase = second_.data();
  uint8_t* outB = bBase;
  // A block needs both chains within the copy's words (the first before the split), the first
  // chain's symbols within count and the second's within second_. As many blocks as surely fit
  // are run at once, and again until none does.
  auto blocksThatFit = [&] {
    const size_t symbols = kMaxSymbolsPerLookup * kBlock;
    const uint8_t* const limitA = splitByte - kBlockBytes;
    const uint8_t* const limitB = bytesEnd - kBlockBytes;
    if (a.p > limitA || b.p > limitB) return size_t{0};
    const size_t leftA = count - size_t(outA - out) - kMaxSymbolsPerLookup;
    const size_t leftB = room - size_t(outB - bBase) - 2 * kMaxSymbolsPerLookup;
    return std::min({size_t(limitA - a.p) / (2 * kBlock) + 1,
                     size_t(limitB - b.p) / (2 * kBlock) + 1, leftA / symbols, leftB / symbols});
  };
  // The second chain's first look-ups: where each began and how many symbols came before it.
  uint64_t begun[kBlock];
  uint32_t before[kBlock];
  if (blocksThatFit() == 0) return false;
  for (int i = 0; i < kBlock; i += 2) {
    auto look = [&](Chain& c, uint8_t*& o) { return putSymbols(multi[c.window >> drop], o); };
    begun[i] = base + b.consumedFrom(bytes);
    before[i] = static_cast<uint32_t>(outB - bBase);
    a.take<false>(look(a, outA));
    b.take<false>(look(b, outB));
    begun[i + 1] = base + b.consumedFrom(bytes);
    before[i + 1] = static_cast<uint32_t>(outB - bBase);
    a.take<true>(look(a, outA));
    b.take<true>(look(b, outB));
  }
  marks_.assign(1, {split - base, 0});
  marks_.push_back({b.consumedFrom(bytes), static_cast<uint32_t>(outB - bBase)});
  const PairedFn paired = pairedBlocks(width_);
  for (size_t n; (n = blocksThatFit()) > 0;) {
    const size_t have = marks_.size();
    marks_.resize(have + n);
    paired(multi, a, outA, b, outB, n, bytes, bBase, marks_.data() + have);
  }

  // The first chain alone up to the split, whole look-ups while they end before it...
  BitReader first = reader.at(base + a.consumedFrom(bytes));
  uint8_t* const endA = out + count;
  const uintptr_t bulkEnd = reinterpret_cast<uintptr_t>(endA - kMaxSymbolsPerLookup);
  BitReader::Run run(first);
  while (reinterpret_cast<uintptr_t>(outA) <= bulkEnd &&
         run.position() + kMaxLookupWidth <= split) {
    run.step(putSymbols(multi[run.window() >> drop], outA));
  }
  run.finish(first);
  // ... then one code at a time until it meets a look-up of the second chain.
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
  BitReader tail = reader.at(base + marks_[m].bit);
  decodeSerial(tail, bBase + marks_[m].symbols, static_cast<uint32_t>(needed - marks_[m].symbols));
  std::memcpy(outA, bBase + before[j], rest);
  reader = tail;
  return true;
}

}  // namespace zov

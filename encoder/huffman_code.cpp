#include "encoder/huffman_code.h"

#include <algorithm>
#include <cstring>

#include "encoder/table_width_kernels.h"
#include "encoder/worker_pool.h"
#include "format/cpu_features.h"

namespace zov {
namespace {

struct Node {
  uint64_t weight = 0;
  int left = -1, right = -1;  // children; -1 for leaves
  int symbol = -1;
};

void walk(const Node* nodes, int n, uint32_t prefix, int depth, HuffmanCode& out) {
  const Node& node = nodes[n];
  if (node.left < 0) {
    out.shapeBits <<= 1;  // leaf: 0
    ++out.shapeLength;
    out.leafOrder[out.leafCount++] = static_cast<uint8_t>(node.symbol);
    out.code[node.symbol] = prefix;
    out.length[node.symbol] = static_cast<uint8_t>(depth);
    out.maxLength = std::max(out.maxLength, depth);
    return;
  }
  out.shapeBits = out.shapeBits << 1 | 1;
  ++out.shapeLength;
  // The left child is the 1-branch and is visited first.
  walk(nodes, node.left, prefix << 1 | 1, depth + 1, out);
  walk(nodes, node.right, prefix << 1, depth + 1, out);
}

}  // namespace

void buildHuffmanCode(const uint32_t counts[16], HuffmanCode& out) {
  out = HuffmanCode{};
  Node nodes[32];
  int leaves = 0;
  int order[16];
  for (int s = 0; s < 16; ++s)
    if (counts[s]) order[leaves++] = s;
  // Ascending count, ties by ascending symbol value (insertion sort: stable, no allocation).
  for (int k = 1; k < leaves; ++k) {
    int v = order[k], j = k;
    for (; j > 0 && counts[order[j - 1]] > counts[v]; --j) order[j] = order[j - 1];
    order[j] = v;
  }
  for (int k = 0; k < leaves; ++k) {
    nodes[k].weight = counts[order[k]];
    nodes[k].symbol = order[k];
  }
  int nextLeaf = 0, nextInner = leaves, made = leaves;
  auto take = [&]() {
    // Strict less-than: on equal weights the leaf goes first.
    if (nextLeaf < leaves &&
        (nextInner >= made || nodes[nextLeaf].weight <= nodes[nextInner].weight))
      return nextLeaf++;
    return nextInner++;
  };
  for (int merges = 0; merges < leaves - 1; ++merges) {
    int a = take();
    int b = take();
    Node& n = nodes[made++];
    n.weight = nodes[a].weight + nodes[b].weight;
    n.left = std::min(a, b);
    n.right = std::max(a, b);
  }
  walk(nodes, made - 1, 0, 0, out);
}

namespace {

// The codes of every pair of symbols, indexed by the two symbol bytes read as one
// little-endian 16-bit number (first symbol low): the pair's code, length and code ends
// (bit k: a code ends at bit k of the pair).
struct PairCodes {
  static constexpr size_t kSize = 0x0F10;
  uint32_t code[kSize];
  uint32_t ends[kSize];
  uint8_t length[kSize];
};

void fillPairs(const HuffmanCode& c, PairCodes& t) {
  for (int a = 0; a < 16; ++a) {
    if (!c.length[a]) continue;
    for (int b = 0; b < 16; ++b) {
      if (!c.length[b]) continue;
      const size_t at = size_t(a) | size_t(b) << 8;
      const uint32_t length = uint32_t(c.length[a]) + c.length[b];
      t.code[at] = c.code[a] << c.length[b] | c.code[b];
      t.length[at] = uint8_t(length);
      t.ends[at] = 1u << (c.length[a] - 1) | 1u << (length - 1);
    }
  }
}

// Codes of symbols[0..n-1] onto the stream: `acc` holds the `bits` (below 32) not yet in a
// word, right-aligned (bits above them are stale), `endAcc` their code ends from bit 0 on.
// A pair of codes at a time: at most 31 + 2 * 15 bits are pending before a word is written.
inline void pack(const HuffmanCode& code, const PairCodes& pairs, const uint8_t* symbols,
                 uint32_t n, uint64_t& acc, uint64_t& endAcc, uint32_t& bits, uint32_t*& words,
                 uint32_t*& ends) {
  auto flush = [&] {
    if (bits >= 32) {
      bits -= 32;
      *words++ = uint32_t(acc >> bits);
      *ends++ = uint32_t(endAcc);
      endAcc >>= 32;
    }
  };
  const uint8_t* const stop = symbols + (n & ~1u);
  for (; symbols != stop; symbols += 2) {
    uint16_t pair;
    std::memcpy(&pair, symbols, 2);
    const uint32_t length = pairs.length[pair];
    acc = acc << length | pairs.code[pair];
    endAcc |= uint64_t(pairs.ends[pair]) << bits;
    bits += length;
    flush();
  }
  if (n & 1) {
    const uint32_t length = code.length[*symbols];
    acc = acc << length | code.code[*symbols];
    bits += length;
    endAcc |= uint64_t{1} << (bits - 1);
    flush();
  }
}

uint64_t packWithEnds(const HuffmanCode& code, const PairCodes& pairs, const uint8_t* symbols1,
                      uint32_t n1, const uint8_t* symbols2, uint32_t n2, unsigned first,
                      uint32_t* words, uint32_t* ends) {
  uint64_t acc = 0, endAcc = 0;
  uint32_t bits = first;
  uint32_t *w = words, *e = ends;
  pack(code, pairs, symbols1, n1, acc, endAcc, bits, w, e);
  pack(code, pairs, symbols2, n2, acc, endAcc, bits, w, e);
  const uint64_t end = uint64_t(w - words) * 32 + bits;
  if (bits) *w++ = uint32_t(acc << (32 - bits)), *e++ = uint32_t(endAcc);
  w[0] = w[1] = e[0] = e[1] = 0;
  return end;
}

// The codes without their ends, as a stream of bytes, most significant bit first: `acc` holds
// the `bits` not yet whole bytes, right-aligned (bits above them are stale), fewer than 8
// between steps. Every step stores the pending bits as eight bytes and moves on by the whole
// bytes among them, so no step branches on the footage. Two pairs of codes go in a step
// while they fit the accumulator with the 7 bits pending (codes of up to 14 bits).
struct BytePacker {
  uint64_t acc = 0;
  uint32_t bits = 0;
  uint8_t* at;

  // At least one bit is pending (a code was just added), so the shift is below 64.
  [[gnu::always_inline]] void flush() {
    const uint64_t top = __builtin_bswap64(acc << ((0u - bits) & 63));
    std::memcpy(at, &top, 8);
    at += bits >> 3;
    bits &= 7;
  }
  [[gnu::always_inline]] void add(uint32_t length, uint32_t code) {
    acc = acc << length | code;
    bits += length;
  }
  uint64_t position(const uint8_t* base) const { return uint64_t(at - base) * 8 + bits; }
};

template <bool kTwoPairs>
[[gnu::always_inline]] inline void packBytes(const HuffmanCode& code, const PairCodes& pairs,
                                             const uint8_t* symbols, uint32_t n, BytePacker& p) {
  const uint8_t* const stop = symbols + (n & ~3u);
  for (; symbols != stop; symbols += 4) {
    uint16_t a, b;
    std::memcpy(&a, symbols, 2);
    std::memcpy(&b, symbols + 2, 2);
    p.add(pairs.length[a], pairs.code[a]);
    if constexpr (!kTwoPairs) p.flush();
    p.add(pairs.length[b], pairs.code[b]);
    p.flush();
  }
  for (uint32_t k = 0; k < (n & 3); ++k) {
    p.add(code.length[symbols[k]], code.code[symbols[k]]);
    p.flush();
  }
}

[[gnu::always_inline]] inline uint64_t packWithoutEnds(
    const HuffmanCode& code, const PairCodes& pairs, const uint8_t* symbols1, uint32_t n1,
    const uint8_t* symbols2, uint32_t n2, unsigned first, uint32_t* words, uint64_t* middle) {
  uint8_t* const base = reinterpret_cast<uint8_t*>(words);
  words[0] = 0;  // the bits before the first code
  BytePacker p;
  p.at = base + first / 8;
  p.bits = first % 8;
  const bool twoPairs = code.maxLength <= 14;
  auto run = [&](const uint8_t* symbols, uint32_t n) {
    if (twoPairs)
      packBytes<true>(code, pairs, symbols, n, p);
    else
      packBytes<false>(code, pairs, symbols, n, p);
  };
  // The code at the middle symbol starts the cost model's second halves.
  const uint32_t half = uint32_t((uint64_t(n1) + n2) / 2);
  if (half < n1) {
    run(symbols1, half);
    *middle = p.position(base);
    run(symbols1 + half, n1 - half);
    run(symbols2, n2);
  } else {
    run(symbols1, n1);
    run(symbols2, half - n1);
    *middle = p.position(base);
    run(symbols2 + (half - n1), n2 - half + n1);
  }
  const uint64_t end = p.position(base);
  // The bytes of the last flush past the stream are zero. The frame's words from the bytes.
  const uint64_t used = (end + 31) / 32;
  for (uint64_t w = 0; w < used; ++w) {
    uint32_t v;
    std::memcpy(&v, base + 4 * w, 4);
    words[w] = __builtin_bswap32(v);
  }
  words[used] = words[used + 1] = 0;
  return end;
}

// The same packing compiled for processors with BMI2 (shifts by a register without moving
// the count first), and without.
#if defined(__x86_64__)
__attribute__((target("bmi,bmi2"))) uint64_t packWithoutEndsBmi2(
    const HuffmanCode& code, const PairCodes& pairs, const uint8_t* symbols1, uint32_t n1,
    const uint8_t* symbols2, uint32_t n2, unsigned first, uint32_t* words, uint64_t* middle) {
  return packWithoutEnds(code, pairs, symbols1, n1, symbols2, n2, first, words, middle);
}
#endif
uint64_t packWithoutEndsPlain(const HuffmanCode& code, const PairCodes& pairs,
                              const uint8_t* symbols1, uint32_t n1, const uint8_t* symbols2,
                              uint32_t n2, unsigned first, uint32_t* words, uint64_t* middle) {
  return packWithoutEnds(code, pairs, symbols1, n1, symbols2, n2, first, words, middle);
}

}  // namespace

uint64_t packCodes(const HuffmanCode& code, const uint8_t* symbols1, uint32_t n1,
                   const uint8_t* symbols2, uint32_t n2, unsigned first, uint32_t* words,
                   uint32_t* ends, uint64_t* middle) {
  PairCodes pairs;
  fillPairs(code, pairs);
  uint64_t atMiddle = 0;
  auto withoutEnds = packWithoutEndsPlain;
#if defined(__x86_64__)
  if (cpuFlags() & kCpuBmi2) withoutEnds = packWithoutEndsBmi2;
#endif
  const uint64_t end =
      ends ? packWithEnds(code, pairs, symbols1, n1, symbols2, n2, first, words, ends)
           : withoutEnds(code, pairs, symbols1, n1, symbols2, n2, first, words, &atMiddle);
  if (middle) *middle = atMiddle;
  return end;
}

int chooseTableWidth(const HuffmanCode& code, const uint32_t* words, const uint32_t* ends,
                     unsigned first, uint64_t end, uint64_t* joined, uint8_t* scratch,
                     WorkerPool* pool, uint64_t middle) {
  const TableWidthKernels& k = tableWidthKernels();
  // With helpers, two runs of widths at once (each in flags and tables of its own): the costs
  // are the same whoever computes them, so the choice does not depend on the threads.
  const int runs = pool && pool->threads() > 1 ? 2 : 1;
  const int longest = std::max(code.maxLength, 1);
  uint8_t* const seen = scratch;
  uint8_t* const taken = scratch + 2 * kWidthCostSeen;
  uint8_t* const lengthOf = taken + 2 * kWidthCostTaken;
  fillCodeLengths(code.length, code.code, longest, lengthOf);
  for (uint64_t w = 0; w < (end + 31) / 32; ++w)
    joined[w] = uint64_t(words[w]) << 32 | words[w + 1];
  const WidthCostJob jobs[2] = {
      {ends, words, first, end, seen, lengthOf, longest, taken, joined, middle},
      {ends, words, first, end, seen + kWidthCostSeen, lengthOf, longest, taken + kWidthCostTaken,
       joined, middle}};
  // The costs by width, asked for as many widths at once as the kernel takes best.
  uint64_t costs[16 + 2 * kMaxWidthsAtOnce];
  int known = 0;  // costs[width] known for widths below this
  auto cost = [&](int width) {
    if (width >= known) {
      int from[2], count[2];
      for (int r = 0; r < 2; ++r) {
        from[r] = r ? from[0] + count[0] : width;
        count[r] = r < runs ? std::max(0, std::min(k.widthsAtOnce, 16 - from[r])) : 0;
      }
      if (count[1] > 0)
        pool->run(2,
                  [&](int r, int) { k.widthCosts(jobs[r], from[r], count[r], costs + from[r]); });
      else
        k.widthCosts(jobs[0], from[0], count[0], costs + from[0]);
      known = from[1] + count[1];
    }
    return costs[width];
  };
  int best = std::max(code.maxLength, 1);
  uint64_t bestCost = cost(best);
  for (int width = best + 1; width <= 15; ++width) {
    uint64_t c = cost(width);
    if (c >= bestCost) break;
    best = width;
    bestCost = c;
  }
  return best;
}

}  // namespace zov

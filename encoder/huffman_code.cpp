#include "encoder/huffman_code.h"

#include <algorithm>
#include <cstring>

#include "encoder/table_width_kernels.h"

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

// Codes of symbols[0..n-1] onto the stream: `acc` holds the `bits` (below 32) not yet in a
// word, right-aligned (bits above them are stale), `endAcc` their code ends from bit 0 on.
// Two codes at a time: at most 31 + 2 * 15 bits are pending before a word is written.
inline void pack(const HuffmanCode& code, const uint8_t* symbols, uint32_t n, uint64_t& acc,
                 uint64_t& endAcc, uint32_t& bits, uint32_t*& words, uint32_t*& ends) {
  auto one = [&](uint8_t s) {
    const uint32_t length = code.length[s];
    acc = acc << length | code.code[s];
    bits += length;
    endAcc |= uint64_t{1} << (bits - 1);
  };
  auto flush = [&] {
    if (bits >= 32) {
      bits -= 32;
      *words++ = uint32_t(acc >> bits);
      *ends++ = uint32_t(endAcc);
      endAcc >>= 32;
    }
  };
  uint32_t i = 0;
  for (; i + 2 <= n; i += 2) {
    one(symbols[i]);
    one(symbols[i + 1]);
    flush();
  }
  if (i < n) one(symbols[i]), flush();
}

}  // namespace

uint64_t packCodes(const HuffmanCode& code, const uint8_t* symbols1, uint32_t n1,
                   const uint8_t* symbols2, uint32_t n2, unsigned first, uint32_t* words,
                   uint32_t* ends) {
  uint64_t acc = 0, endAcc = 0;
  uint32_t bits = first;
  uint32_t *w = words, *e = ends;
  pack(code, symbols1, n1, acc, endAcc, bits, w, e);
  pack(code, symbols2, n2, acc, endAcc, bits, w, e);
  const uint64_t end = uint64_t(w - words) * 32 + bits;
  if (bits) *w++ = uint32_t(acc << (32 - bits)), *e++ = uint32_t(endAcc);
  w[0] = w[1] = e[0] = e[1] = 0;
  return end;
}

int chooseTableWidth(const HuffmanCode& code, const uint32_t* words, const uint32_t* ends,
                     unsigned first, uint64_t end, uint8_t* seen) {
  const TableWidthKernels& k = tableWidthKernels();
  const WidthCostJob job{ends, words, first, end, seen};
  // The costs by width, asked for as many widths at once as the kernel takes best.
  uint64_t costs[16 + kMaxWidthsAtOnce];
  int known = 0;  // costs[width] known for widths below this
  auto cost = [&](int width) {
    if (width >= known) {
      const int count = std::min(k.widthsAtOnce, 16 - width);
      k.widthCosts(job, width, count, costs + width);
      known = width + count;
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

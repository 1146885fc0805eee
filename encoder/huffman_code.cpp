#include "encoder/huffman_code.h"

#include <algorithm>
#include <cstring>

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

// The next `width` bits of the stream from bit position pos (zeros past the end).
inline uint32_t bitsAt(const uint32_t* stream, uint64_t words, uint64_t pos, int width) {
  uint64_t w = pos >> 5;
  int off = static_cast<int>(pos & 31);
  uint64_t hi = w < words ? stream[w] : 0;
  uint64_t lo = w + 1 < words ? stream[w + 1] : 0;
  uint64_t both = hi << 32 | lo;
  return static_cast<uint32_t>((both << off) >> (64 - width));
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

int chooseTableWidth(const HuffmanCode& code, const uint32_t* stream, uint64_t streamBits,
                     uint64_t startBit, const uint8_t* symbols1, uint32_t n1,
                     const uint8_t* symbols2, uint32_t n2, uint8_t* seen, uint32_t* positions) {
  const uint64_t words = (streamBits + 31) / 32;
  const uint64_t total = uint64_t(n1) + n2;
  // positions[i]: where code i starts; past the end, positions no window reaches.
  uint32_t at = 0;
  for (uint32_t i = 0; i < n1; ++i) positions[i] = at, at += code.length[symbols1[i]];
  for (uint32_t i = 0; i < n2; ++i) positions[n1 + i] = at, at += code.length[symbols2[i]];
  positions[total] = at;
  for (int k = 1; k <= 6; ++k) positions[total + k] = 0xFFFFFFFFu;
  auto cost = [&](int width) {
    std::memset(seen, 0, size_t(1) << width);
    uint64_t lookups = 0, distinct = 0;
    for (uint64_t i = 0; i < total;) {
      // As many whole codes as fit the window, at most six (codes are at least one bit long,
      // so the ones that fit are a run from i).
      const uint32_t pos = positions[i];
      const uint64_t limit = uint64_t(pos) + uint64_t(width);
      const uint32_t* p = positions + i;
      const uint64_t fit = uint64_t(p[1] <= limit) + (p[2] <= limit) + (p[3] <= limit) +
                           (p[4] <= limit) + (p[5] <= limit) + (p[6] <= limit);
      uint32_t pattern = bitsAt(stream, words, pos, width);
      distinct += seen[pattern] == 0;
      seen[pattern] = 1;
      lookups += ((startBit + pos) & 31) + uint64_t(width) > 32 ? 2 : 1;
      i += fit;
    }
    return lookups + distinct;
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

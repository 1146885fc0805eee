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

int chooseTableWidth(const HuffmanCode& code, const uint32_t* stream, uint64_t streamBits,
                     uint64_t startBit, const uint8_t* symbols1, uint32_t n1,
                     const uint8_t* symbols2, uint32_t n2, uint8_t* seen, uint32_t* scratch) {
  const TableWidthKernels& k = tableWidthKernels();
  // The codes and their ends in the frame's word alignment, each with two zero words after.
  const unsigned first = unsigned(startBit & 31);
  const uint64_t words = (first + streamBits + 31) / 32;
  uint32_t* aligned = scratch + words + 2;
  alignStream(stream, streamBits, first, aligned);
  std::memset(scratch, 0, (words + 2) * sizeof(uint32_t));
  const uint32_t end = k.codeEnds(code.length, symbols2, n2,
                                  k.codeEnds(code.length, symbols1, n1, first, scratch), scratch);
  const WidthCostJob job{scratch, aligned, first, end, seen};
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

#include "support/frame_builder.h"

#include <algorithm>
#include <array>
#include <bit>
#include <queue>
#include <stdexcept>

namespace zov::test {

std::vector<Code> codeFromLengths(const std::vector<int>& lengths,
                                  const std::vector<uint8_t>& symbolValues) {
  std::vector<size_t> order(lengths.size());
  for (size_t i = 0; i < order.size(); ++i) order[i] = i;
  std::stable_sort(order.begin(), order.end(),
                   [&](size_t a, size_t b) { return lengths[a] < lengths[b]; });
  std::vector<Code> leaves;
  uint32_t next = 0;
  int len = 0;
  for (size_t i : order) {
    next <<= (lengths[i] - len);
    len = lengths[i];
    leaves.push_back({next, len, symbolValues[i]});
    ++next;
  }
  if (lengths.size() > 1 && next != (uint32_t{1} << len))
    throw std::invalid_argument("code lengths do not make a complete code");
  // Walk order: at the first differing bit the 1-branch comes first.
  std::sort(leaves.begin(), leaves.end(), [](const Code& a, const Code& b) {
    return (a.bits << (16 - a.length)) > (b.bits << (16 - b.length));
  });
  return leaves;
}

std::vector<Code> codeFor(const std::vector<uint8_t>& symbols) {
  std::array<uint64_t, 16> freq{};
  for (uint8_t s : symbols) ++freq[s & 15];
  std::vector<uint8_t> values;
  for (int s = 0; s < 16; ++s)
    if (freq[s]) values.push_back(uint8_t(s));
  if (values.empty()) values.push_back(7);
  if (values.size() == 1) return {Code{0, 0, values[0]}};
  // Huffman lengths.
  struct Node {
    uint64_t weight;
    int index;
  };
  auto cmp = [](const Node& a, const Node& b) { return a.weight > b.weight; };
  std::priority_queue<Node, std::vector<Node>, decltype(cmp)> heap(cmp);
  std::vector<int> parent(values.size() * 2, -1);
  int nextIndex = static_cast<int>(values.size());
  for (size_t i = 0; i < values.size(); ++i) heap.push({freq[values[i]], int(i)});
  while (heap.size() > 1) {
    Node a = heap.top();
    heap.pop();
    Node b = heap.top();
    heap.pop();
    parent[a.index] = parent[b.index] = nextIndex;
    heap.push({a.weight + b.weight, nextIndex++});
  }
  std::vector<int> lengths(values.size());
  for (size_t i = 0; i < values.size(); ++i) {
    int d = 0;
    for (int n = int(i); parent[n] != -1; n = parent[n]) ++d;
    lengths[i] = d;
  }
  return codeFromLengths(lengths, values);
}

FrameWriter::FrameWriter(int width, int height, uint32_t formatWord)
    : width_(width), height_(height), format_(formatWord) {
  setLetterbox(0, 0);
}

void FrameWriter::setLetterbox(int top, int bottom) {
  const uint32_t area = uint32_t(width_) * uint32_t(height_ - top - bottom);
  const bool sfield = hasFlag(format_, stream_flag::kSField);
  posBits_ = std::bit_width(sfield ? area / 2 : area);
  countBits_ = area > 76800 ? 19 : 18;
  segments_ = static_cast<int>((area + 8191) / 8192);
}

void FrameWriter::keyHeaderV4(Scheme scheme, bool enpy, bool edge, bool lbox, int top, int bottom,
                              bool flat) {
  w_.write(1, 1);
  w_.write(uint32_t(scheme), 3);
  w_.write(enpy, 1);
  w_.write(edge, 1);
  w_.write(flat, 1);
  w_.write(lbox, 1);
  if (lbox) {
    w_.write(uint32_t(top), 8);
    w_.write(uint32_t(bottom), 8);
  }
  setLetterbox(lbox ? top : 0, lbox ? bottom : 0);
}

void FrameWriter::headerPreV4(bool key, int top, int bottom) {
  w_.write(key, 1);
  if (hasFlag(format_, stream_flag::kLbox)) {
    w_.write(uint32_t(top), 8);
    w_.write(uint32_t(bottom), 8);
    setLetterbox(top, bottom);
  }
}

void FrameWriter::list(std::vector<Block> blocks, bool rle, bool forceLong) {
  std::stable_sort(blocks.begin(), blocks.end(),
                   [](const Block& a, const Block& b) { return a.pos / 8192 < b.pos / 8192; });
  auto isShort = [&](const Block& b) { return !forceLong && b.width <= 16 && b.height <= 16; };
  auto entry = [&](const Block& b, int posBits, uint32_t base) {
    const int sizeBits = isShort(b) ? 4 : 8;
    w_.write(b.pos - base, posBits);
    w_.write(uint32_t(b.width - 1), sizeBits);
    w_.write(uint32_t(b.height - 1), sizeBits);
    if (rle) w_.write(b.colour, 15);
  };
  if (hasFlag(format_, stream_flag::kV4)) {
    for (int k = 0; k < segments_; ++k) {
      const uint32_t base = uint32_t(k) * 8192;
      std::vector<Block> longs, shorts;
      for (const Block& b : blocks)
        if (b.pos / 8192 == uint32_t(k)) (isShort(b) ? shorts : longs).push_back(b);
      w_.write(uint32_t(longs.size()), 8);
      w_.write(uint32_t(shorts.size()), 8);
      for (const Block& b : longs) entry(b, 13, base);
      for (const Block& b : shorts) entry(b, 13, base);
    }
  } else {
    std::vector<Block> longs, shorts;
    for (const Block& b : blocks) (isShort(b) ? shorts : longs).push_back(b);
    w_.write(uint32_t(longs.size()), 12);
    w_.write(uint32_t(shorts.size()), 12);
    for (const Block& b : longs) entry(b, posBits_, 0);
    for (const Block& b : shorts) entry(b, posBits_, 0);
  }
}

void FrameWriter::codeTable(const std::vector<Code>& leaves, int lookupWidth) {
  w_.write(uint32_t(lookupWidth), 4);
  for (const Code& c : leaves) w_.write(c.symbol, 4);
  // Pre-order walk, 1-branch first: 1 entering an internal node, 0 at a leaf.
  auto isLeaf = [&](uint32_t bits, int length) {
    for (const Code& c : leaves)
      if (c.bits == bits && c.length == length) return true;
    return false;
  };
  auto walk = [&](auto&& self, uint32_t bits, int length) -> void {
    if (isLeaf(bits, length) || length > 16) {
      w_.write(0, 1);
      return;
    }
    w_.write(1, 1);
    self(self, bits << 1 | 1, length + 1);
    self(self, bits << 1, length + 1);
  };
  walk(walk, 0, 0);
}

void FrameWriter::counts(uint32_t n1, uint32_t n2) {
  w_.write(n1, countBits_);
  w_.write(n2, countBits_);
}

void FrameWriter::codes(const std::vector<Code>& leaves, const std::vector<uint8_t>& symbols) {
  for (uint8_t s : symbols) {
    auto it =
        std::find_if(leaves.begin(), leaves.end(), [&](const Code& c) { return c.symbol == s; });
    if (it == leaves.end()) throw std::invalid_argument("symbol without a code");
    w_.write(it->bits, it->length);
  }
}

std::vector<uint8_t> FrameWriter::finish(int paddingBits) {
  w_.writeZeros(size_t(paddingBits));
  w_.finishWord();
  return w_.bytes();
}

std::vector<uint8_t> buildFrame(int width, int height, uint32_t formatWord, const FrameSpec& spec,
                                int prevTop, int prevBottom) {
  FrameWriter f(width, height, formatWord);
  const bool v4 = hasFlag(formatWord, stream_flag::kV4);
  f.setLetterbox(prevTop, prevBottom);
  if (v4) {
    if (spec.key)
      f.keyHeaderV4(spec.scheme, spec.enpy, spec.edge, spec.lbox, spec.top, spec.bottom);
    else
      f.interHeaderV4();
  } else {
    f.headerPreV4(spec.key, spec.top, spec.bottom);
  }
  if (!spec.key) f.list(spec.interframe, false);
  if (hasFlag(formatWord, stream_flag::kChroma | stream_flag::kChroma1st))
    f.list(spec.chroma, false);
  f.list(spec.rle, true);
  const bool enpy = v4 ? spec.enpy : hasFlag(formatWord, stream_flag::kEnpy);
  if (enpy) f.list(spec.entropy, false);
  if (!spec.residuals) {
    f.nsym(0);
    return f.finish();
  }
  std::vector<uint8_t> all = spec.part1;
  all.insert(all.end(), spec.part2.begin(), spec.part2.end());
  const std::vector<Code> leaves =
      spec.codeLengths.empty() ? codeFor(all) : codeFromLengths(spec.codeLengths, spec.codeSymbols);
  f.nsym(static_cast<int>(leaves.size()));
  if (spec.seed) f.seed(*spec.seed);
  int lookupWidth = 0;
  if (leaves.size() == 1) {
    f.singleSymbol(leaves[0].symbol);
  } else {
    for (const Code& c : leaves) lookupWidth = std::max(lookupWidth, c.length);
    lookupWidth = std::max(lookupWidth, spec.lookupWidth);
    f.codeTable(leaves, lookupWidth);
  }
  f.counts(uint32_t(spec.part1.size()), uint32_t(spec.part2.size()));
  if (leaves.size() > 1) f.codes(leaves, all);
  return f.finish(std::max(lookupWidth, 1));
}

}  // namespace zov::test

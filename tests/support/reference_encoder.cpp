#include "support/reference_encoder.h"

#include <algorithm>
#include <array>
#include <cstdlib>
#include <map>
#include <memory>
#include <queue>
#include <stdexcept>

#include "format/bit_writer.h"
#include "format/stream_format.h"

namespace zov::test {
namespace {

constexpr int kSegment = 8192;
constexpr int kMaxEntries = 255;

struct Block {
  int pos;  // raster position of the block's first pixel
  int w, h;
  uint16_t colour;
};

// One list of blocks, kept per segment and per entry size as the V4 lists are written.
class SegmentedList {
 public:
  explicit SegmentedList(int area) : segments_((area + kSegment - 1) / kSegment) {}

  static bool isShort(int w, int h) { return w <= 16 && h <= 16; }

  bool canAdd(int pos, int w, int h) const {
    const Segment& s = segments_[pos / kSegment];
    return (isShort(w, h) ? s.shorts.size() : s.longs.size()) < kMaxEntries;
  }
  void add(const Block& b) {
    Segment& s = segments_[b.pos / kSegment];
    (isShort(b.w, b.h) ? s.shorts : s.longs).push_back(b);
    ++count_;
  }
  int count() const { return count_; }

  void write(BitWriter& out, bool withColour) const {
    for (size_t k = 0; k < segments_.size(); ++k) {
      const Segment& s = segments_[k];
      out.write(static_cast<uint32_t>(s.longs.size()), 8);
      out.write(static_cast<uint32_t>(s.shorts.size()), 8);
      for (const Block& b : s.longs) writeEntry(out, b, int(k), 8, withColour);
      for (const Block& b : s.shorts) writeEntry(out, b, int(k), 4, withColour);
    }
  }

 private:
  struct Segment {
    std::vector<Block> longs, shorts;
  };
  static void writeEntry(BitWriter& out, const Block& b, int k, int sizeBits, bool withColour) {
    out.write(static_cast<uint32_t>(b.pos - k * kSegment), 13);
    out.write(static_cast<uint32_t>(b.w - 1), sizeBits);
    out.write(static_cast<uint32_t>(b.h - 1), sizeBits);
    if (withColour) out.write(b.colour & 0x7FFF, 15);
  }
  std::vector<Segment> segments_;
  int count_ = 0;
};

// The symbol of one component: the step-doubling code of EDGE 0 reads one symbol per component
// and pixel; 0 and 14 (the largest steps) leave the component's state doubled.
struct Choice {
  int symbol;
  int value;
  bool doubled;
};

Choice chooseSymbol(int predicted, int target, bool doubled) {
  Choice best{7, predicted, doubled};
  int bestErr = 1 << 30;
  for (int s = 0; s <= 14; ++s) {
    int step = doubled ? 2 * (s - 7) : s - 7;
    int v = predicted + step;
    if (v < 0 || v > 31) continue;  // components never leave their field
    bool nextDoubled = s == 0 || s == 14;
    // Exactness first, then a normal state for the next pixel, then the smaller step.
    int err = std::abs(target - v) * 64 + (nextDoubled ? 32 : 0) + std::abs(step);
    if (err < bestErr) {
      bestErr = err;
      best = {s, v, nextDoubled};
    }
  }
  return best;
}

int component(uint16_t c, int i) {
  return (c >> (10 - 5 * i)) & 31;
}

// Code lengths of a Huffman code for the used symbols. With at most 15 leaves no code is longer
// than 14 bits, within the format's limit of 15.
std::array<int, 15> huffmanLengths(const std::array<uint64_t, 15>& counts) {
  struct Node {
    uint64_t weight;
    int index;
  };
  auto cmp = [](const Node& a, const Node& b) {
    return a.weight != b.weight ? a.weight > b.weight : a.index > b.index;
  };
  std::priority_queue<Node, std::vector<Node>, decltype(cmp)> queue(cmp);
  std::vector<int> parent(30, -1);
  for (int s = 0; s < 15; ++s)
    if (counts[s]) queue.push({counts[s], s});
  int next = 15;
  while (queue.size() > 1) {
    Node a = queue.top();
    queue.pop();
    Node b = queue.top();
    queue.pop();
    parent[a.index] = next;
    parent[b.index] = next;
    queue.push({a.weight + b.weight, next++});
  }
  std::array<int, 15> lengths{};
  for (int s = 0; s < 15; ++s) {
    if (!counts[s]) continue;
    int depth = 0;
    for (int n = s; parent[n] >= 0; n = parent[n]) ++depth;
    lengths[s] = depth;
  }
  return lengths;
}

struct CodeTable {
  std::array<uint32_t, 15> code{};
  std::array<int, 15> length{};
  std::vector<int> leafSymbols;  // in the order of the shape walk
  std::vector<bool> shape;       // 1 = internal node, 0 = leaf
  int width = 0;                 // W
};

// Canonical codes from the lengths, then the tree's shape in pre-order, 1-branch first.
CodeTable buildCodeTable(const std::array<uint64_t, 15>& counts) {
  CodeTable t;
  t.length = huffmanLengths(counts);
  std::vector<int> order;
  for (int s = 0; s < 15; ++s)
    if (t.length[s]) order.push_back(s);
  std::sort(order.begin(), order.end(), [&](int a, int b) {
    return t.length[a] != t.length[b] ? t.length[a] < t.length[b] : a < b;
  });
  uint32_t code = 0;
  int len = t.length[order[0]];
  for (size_t k = 0; k < order.size(); ++k) {
    int s = order[k];
    code <<= (t.length[s] - len);
    len = t.length[s];
    t.code[s] = code++;
    t.width = std::max(t.width, len);
  }
  struct Trie {
    int child[2] = {-1, -1};
    int symbol = -1;
  };
  std::vector<Trie> nodes(1);
  for (int s : order) {
    int n = 0;
    for (int b = t.length[s] - 1; b >= 0; --b) {
      int bit = (t.code[s] >> b) & 1;
      if (nodes[n].child[bit] < 0) {
        nodes[n].child[bit] = static_cast<int>(nodes.size());
        nodes.emplace_back();
      }
      n = nodes[n].child[bit];
    }
    nodes[n].symbol = s;
  }
  auto walk = [&](auto&& self, int n) -> void {
    if (nodes[n].symbol >= 0) {
      t.shape.push_back(false);
      t.leafSymbols.push_back(nodes[n].symbol);
      return;
    }
    if (nodes[n].child[0] < 0 || nodes[n].child[1] < 0)
      throw std::logic_error("reference encoder: incomplete prefix code");
    t.shape.push_back(true);
    self(self, nodes[n].child[1]);
    self(self, nodes[n].child[0]);
  };
  walk(walk, 0);
  return t;
}

// Tiles of 4 x 4 (clipped at the picture's edges) where picture equals reference and nothing is
// covered yet, joined into runs along each tile row and stacked into taller blocks where the run
// below has the same columns.
std::vector<Block> sameTiles(const std::vector<uint16_t>& picture,
                             const std::vector<uint16_t>& reference,
                             const std::vector<uint8_t>& cover, int w, int h) {
  std::vector<Block> blocks;
  std::map<std::pair<int, int>, size_t> open;  // (column, width) of the previous tile row
  for (int y0 = 0; y0 < h; y0 += 4) {
    int th = std::min(4, h - y0);
    std::map<std::pair<int, int>, size_t> now;
    auto tileSame = [&](int x0) {
      for (int y = y0; y < y0 + th; ++y) {
        for (int x = x0; x < std::min(x0 + 4, w); ++x) {
          size_t i = size_t(y) * w + x;
          if (cover[i] || (picture[i] & 0x7FFF) != reference[i]) return false;
        }
      }
      return true;
    };
    for (int x0 = 0; x0 < w;) {
      if (!tileSame(x0)) {
        x0 += 4;
        continue;
      }
      int x1 = x0;
      while (x1 < w && x1 - x0 + 4 <= 252 && tileSame(x1)) x1 += 4;
      int bw = std::min(x1, w) - x0;
      auto it = open.find({x0, bw});
      if (it != open.end() && blocks[it->second].h + th <= 255) {
        blocks[it->second].h += th;
        now[{x0, bw}] = it->second;
      } else {
        now[{x0, bw}] = blocks.size();
        blocks.push_back({y0 * w + x0, bw, th, 0});
      }
      x0 = x1;
    }
    open = std::move(now);
  }
  return blocks;
}

}  // namespace

ReferenceEncoder::ReferenceEncoder(int width, int height)
    : w_(width), h_(height), recon_(size_t(width) * size_t(height), 0) {
  if (width < 1 || width > kMaxWidth || height < 1 || height > kMaxHeight)
    throw std::invalid_argument("reference encoder: picture size out of range");
}

uint32_t ReferenceEncoder::formatWord() const {
  return kZov2Tag | stream_flag::kV4 | (chromaStream_ ? stream_flag::kChroma : 0);
}

void ReferenceEncoder::setBackground(const std::vector<uint16_t>& background) {
  if (background.size() != recon_.size())
    throw std::invalid_argument("reference encoder: wrong background size");
  background_ = background;
  for (auto& v : background_) v &= 0x7FFF;
}

std::vector<uint8_t> ReferenceEncoder::encode(const std::vector<uint16_t>& picture, bool key) {
  const int w = w_, h = h_, area = w * h;
  if (picture.size() != size_t(area))
    throw std::invalid_argument("reference encoder: wrong picture size");
  key = key || first_;
  first_ = false;
  stats_ = {};

  // 0 = coded by residuals, 1 = Interframe block, 2 = Rle block or the seed.
  std::vector<uint8_t> cover(size_t(area), 0);
  SegmentedList interframe(area), chroma(area), rle(area);

  // Interframe blocks over tiles unchanged from the previous picture, then Chroma blocks over
  // tiles equal to the background.
  auto coverTiles = [&](const std::vector<uint16_t>& reference, SegmentedList& list, uint8_t mark) {
    for (const Block& b : sameTiles(picture, reference, cover, w, h)) {
      if (!list.canAdd(b.pos, b.w, b.h)) continue;  // beyond the segment's room: code it
      list.add(b);
      for (int y = 0; y < b.h; ++y) std::fill_n(cover.begin() + b.pos + y * w, b.w, mark);
      for (int y = 0; y < b.h; ++y)
        std::copy_n(reference.begin() + b.pos + y * w, b.w, recon_.begin() + b.pos + y * w);
    }
  };
  if (!key) coverTiles(recon_, interframe, 1);
  if (chromaStream_ && !background_.empty()) coverTiles(background_, chroma, 1);
  stats_.chromaBlocks = chroma.count();
  stats_.interframeBlocks = interframe.count();

  std::vector<uint8_t> part1, part2;
  bool seed = cover[0] == 0;
  if (seed) {
    recon_[0] = picture[0] & 0x7FFF;
    cover[0] = 2;
  }

  // Codes pixel i from the predicted colour with the walk's step states, or makes it an Rle
  // block; returns false when it became a block (the walk then treats it as covered).
  auto codePixel = [&](size_t i, uint16_t predicted, std::array<bool, 3>& doubled,
                       std::vector<uint8_t>& out) {
    uint16_t target = picture[i] & 0x7FFF;
    std::array<Choice, 3> c;
    bool exact = true;
    for (int k = 0; k < 3; ++k) {
      c[k] = chooseSymbol(component(predicted, k), component(target, k), doubled[k]);
      exact = exact && c[k].value == component(target, k);
    }
    if (!exact && useRle_ && rle.canAdd(int(i), 1, 1)) {
      rle.add({int(i), 1, 1, target});
      cover[i] = 2;
      recon_[i] = target;
      return false;
    }
    if (!exact) ++stats_.inexactPixels;
    for (int k = 0; k < 3; ++k) {
      out.push_back(static_cast<uint8_t>(c[k].symbol));
      doubled[k] = c[k].doubled;
    }
    recon_[i] = static_cast<uint16_t>(c[0].value << 10 | c[1].value << 5 | c[2].value);
    return true;
  };

  // Column pass: column 0 upwards through the rows, each pixel predicted from the one below it
  // in the buffer; its symbols open part 1.
  std::array<bool, 3> doubled{};
  for (int y = 1; y < h; ++y) {
    size_t i = size_t(y) * w;
    if (cover[i] || !codePixel(i, recon_[i - w], doubled, part1)) doubled = {};
  }
  // Rows: part 1 the odd rows, part 2 the even rows, each from column 1 rightwards.
  for (int pass = 0; pass < 2; ++pass) {
    for (int y = pass == 0 ? 1 : 0; y < h; y += 2) {
      size_t row = size_t(y) * w;
      doubled = {};
      for (int x = 1; x < w; ++x) {
        size_t i = row + x;
        if (cover[i] || !codePixel(i, recon_[i - 1], doubled, pass == 0 ? part1 : part2))
          doubled = {};
      }
    }
  }
  stats_.rleBlocks = rle.count();

  std::array<uint64_t, 15> counts{};
  for (uint8_t s : part1) ++counts[s];
  for (uint8_t s : part2) ++counts[s];
  int nsym = 0;
  for (uint64_t c : counts) nsym += c ? 1 : 0;
  // A seed needs the residual section even when no symbol follows it.
  if (nsym == 0 && seed) {
    nsym = 1;
    counts[7] = 1;
  }

  BitWriter out(size_t(area) * 2);
  out.write(key ? 1 : 0, 1);
  if (key) {
    out.write(0, 3);  // scheme RGB
    out.write(0, 1);  // ENPY
    out.write(0, 1);  // EDGE
    out.write(0, 1);  // FLAT
    out.write(0, 1);  // LBOX
  } else {
    interframe.write(out, false);
  }
  if (chromaStream_) chroma.write(out, false);
  rle.write(out, true);
  out.write(static_cast<uint32_t>(nsym), 4);
  stats_.nsym = nsym;
  if (nsym > 0) {
    if (seed) out.write(recon_[0], 15);
    CodeTable table;
    if (nsym == 1) {
      for (int s = 0; s < 15; ++s)
        if (counts[s]) out.write(uint32_t(s), 4);
    } else {
      table = buildCodeTable(counts);
      out.write(static_cast<uint32_t>(table.width), 4);
      for (int s : table.leafSymbols) out.write(uint32_t(s), 4);
      for (bool b : table.shape) out.writeBit(b);
    }
    int q = area > kSmallPixels ? 19 : 18;
    out.write(static_cast<uint32_t>(part1.size()), q);
    out.write(static_cast<uint32_t>(part2.size()), q);
    stats_.n1 = static_cast<uint32_t>(part1.size());
    stats_.n2 = static_cast<uint32_t>(part2.size());
    stats_.codeWidth = table.width;
    if (nsym > 1) {
      for (uint8_t s : part1) out.write(table.code[s], table.length[s]);
      for (uint8_t s : part2) out.write(table.code[s], table.length[s]);
    }
    // At least W zero bits close the codes, so a decoder's look-up window never reads past them.
    out.writeZeros(32);
  }
  out.finishWord();
  return out.bytes();
}

std::vector<uint8_t> embedBackground(const std::vector<uint8_t>& frame,
                                     const std::vector<uint8_t>& backgroundFrame) {
  std::vector<uint8_t> chunk(frame);
  chunk.insert(chunk.end(), backgroundFrame.begin(), backgroundFrame.end());
  uint32_t offset = static_cast<uint32_t>(frame.size());
  for (int i = 0; i < 4; ++i) chunk.push_back(uint8_t(offset >> (8 * i)));
  return chunk;
}

std::vector<uint16_t> rgb24ToRgb555(const uint8_t* dib, int width, int height) {
  size_t stride = (size_t(width) * 3 + 3) & ~size_t{3};
  std::vector<uint16_t> out(size_t(width) * size_t(height));
  for (int y = 0; y < height; ++y) {
    const uint8_t* p = dib + stride * size_t(y);
    for (int x = 0; x < width; ++x, p += 3)
      out[size_t(y) * width + x] =
          static_cast<uint16_t>((p[2] >> 3) << 10 | (p[1] >> 3) << 5 | (p[0] >> 3));
  }
  return out;
}

}  // namespace zov::test

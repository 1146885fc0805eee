#include "encoder/rectangle_search.h"

#include <algorithm>
#include <cstring>

namespace zov {
namespace {

struct Best {
  int area = 0;
  int line = 0, col = 0, width = 0, height = 0;
};

}  // namespace

int searchRectangles(EncoderBuffers& b, const RectangleSearch& rule, RectList& list,
                     bool& overflowed) {
  const int w = b.width, lines = b.lines;
  uint8_t* map = b.blockMap.data();
  uint8_t* runs = b.runs.data();
  uint32_t* cache = b.areaCache.data();
  const uint32_t* value = b.type == 0 ? nullptr : b.curYc.data();
  const uint16_t* colour = b.cur.data();
  auto same = [&](size_t i, size_t j) {
    return value ? value[i] == value[j] : colour[i] == colour[j];
  };

  // Run map: candidates in a row to the right, capped at 255.
  const uint8_t cand = rule.candidate;
  for (int l = 0; l < lines; ++l) {
    const size_t base = size_t(l) * w;
    const uint8_t* m = map + base;
    uint8_t* r = runs + base;
    int run = 0;
    if (!rule.sameValue) {
      for (int x = w - 1; x >= 0; --x) {
        run = m[x] == cand ? std::min(run + 1, 255) : 0;
        r[x] = static_cast<uint8_t>(run);
      }
    } else {
      for (int x = w - 1; x >= 0; --x) {
        size_t i = base + x;
        if (m[x] != cand)
          run = 0;
        else if (run > 0 && !same(i, i + 1))
          run = 1;
        else
          run = std::min(run + 1, 255);
        r[x] = static_cast<uint8_t>(run);
      }
    }
    // A block starting at column 0 is one pixel wide: the decoder's row walk starts at
    // column 1 whatever covers column 0, so a wider block there would be coded over.
    r[0] = std::min<uint8_t>(r[0], 1);
  }
  // Upper bound of the area reachable from each pixel: its run times the candidate lines
  // below it (same value for solid rectangles). The area cache keeps it, lowered to the exact
  // largest area whenever a pixel is examined; the bounds stay valid as rectangles are taken.
  // Only pixels that start a run enter the queue: a pixel whose left neighbour's run reaches
  // one further starts no rectangle that the neighbour could not widen. Taking a rectangle
  // makes the pixels right of it run starts, and they enter then. The queue has one bucket
  // per bound (areas are at most 255 x 255), each a list threaded through the pixels.
  int32_t* head = b.bucketHead.data();
  int32_t* next = b.bucketNext.data();
  std::fill(head, head + kMaxArea + 1, -1);
  // Which buckets hold a pixel: one bit per bucket, and one per word of those bits.
  constexpr int kWords = (kMaxArea + 64) / 64;
  uint64_t occupied[kWords] = {};
  uint64_t summary[(kWords + 63) / 64] = {};
  uint32_t top = 0;  // no bucket above it holds a pixel
  uint8_t* queued = b.heapFlag.data();
  auto push = [&](size_t i, uint32_t bound) {
    queued[i] = 1;
    next[i] = head[bound];
    head[bound] = int32_t(i);
    occupied[bound >> 6] |= uint64_t{1} << (bound & 63);
    summary[bound >> 12] |= uint64_t{1} << (bound >> 6 & 63);
    top = std::max(top, bound);
  };
  auto popFrom = [&](uint32_t bound) {
    const size_t i = size_t(head[bound]);
    head[bound] = next[i];
    if (head[bound] < 0) {
      uint64_t& word = occupied[bound >> 6];
      word &= ~(uint64_t{1} << (bound & 63));
      if (word == 0) summary[bound >> 12] &= ~(uint64_t{1} << (bound >> 6 & 63));
    }
    return i;
  };
  uint32_t* height = b.scratchHeights.data();
  const uint32_t minArea = uint32_t(rule.minArea);
  for (int l = lines - 1; l >= 0; --l) {
    const size_t base = size_t(l) * w;
    const uint8_t* r = runs + base;
    const uint8_t* rb = l + 1 < lines ? r + w : nullptr;
    uint32_t* hgt = height + base;
    const uint32_t* hb = l + 1 < lines ? hgt + w : nullptr;
    int left = 0;
    for (int x = 0; x < w; ++x) {
      const int run = r[x];
      uint32_t hx = 0;
      if (run) {
        uint32_t below = 0;
        if (rb && rb[x] && (!rule.sameValue || same(base + x, base + x + w)))
          below = std::min<uint32_t>(hb[x], 254);
        hx = below + 1;
      }
      hgt[x] = hx;
      const uint32_t bound = hx * uint32_t(run);
      const size_t i = base + x;
      cache[i] = bound;
      const bool start = left <= run && bound >= minArea;
      queued[i] = 0;
      if (start) push(i, bound);
      left = run;
    }
  }

  // The largest rectangle from pixel i with the current runs.
  auto largestFrom = [&](size_t i, Best& out) {
    int l = int(i / size_t(w)), x = int(i % size_t(w));
    int width = runs[i], maxLines = std::min(255, lines - l);
    out = Best{};
    for (int h = 0; h < maxLines && width; ++h) {
      size_t j = i + size_t(h) * w;
      if (runs[j] == 0 || (rule.sameValue && h > 0 && !same(j, i))) break;
      width = std::min<int>(width, runs[j]);
      if (width * (h + 1) > out.area) out = {width * (h + 1), l, x, width, h + 1};
      if (width * maxLines <= out.area) break;
    }
  };

  int taken = 0;
  const int segments = static_cast<int>(list.longCount.size());
  // Lowers top to the fullest occupied bucket; every queued bound is at least minArea.
  auto settle = [&]() {
    int word = int(top >> 6);
    uint64_t bits = occupied[word] & (~uint64_t{0} >> (63 - (top & 63)));
    if (bits == 0) {
      int k = word >> 6;
      uint64_t words = summary[k] & ((uint64_t{1} << (word & 63)) - 1);
      while (words == 0 && k > 0) words = summary[--k];
      if (words == 0) {
        top = 0;
        return false;
      }
      word = k * 64 + 63 - __builtin_clzll(words);
      bits = occupied[word];
    }
    top = uint32_t(word * 64 + 63 - __builtin_clzll(bits));
    return true;
  };
  while (static_cast<int>(list.rects.size()) < kMaxRectsPerList && settle()) {
    size_t i = popFrom(top);
    queued[i] = 0;
    if (head[top] >= 0) {  // the next pop is a random pixel: fetch it while this one is examined
      __builtin_prefetch(&next[head[top]]);
      __builtin_prefetch(&runs[head[top]]);
    }
    Best best;
    largestFrom(i, best);
    cache[i] = uint32_t(best.area);
    if (best.area < rule.minArea) continue;
    // At least every bound left: nothing larger remains, take it; else queue it again.
    if (settle() && uint32_t(best.area) < top) {
      push(i, uint32_t(best.area));
      continue;
    }
    BlockRect rect;
    rect.pos = static_cast<uint32_t>(best.line * w + best.col);
    rect.width = static_cast<uint16_t>(best.width);
    rect.height = static_cast<uint16_t>(best.height);
    rect.colour = colour[rect.pos];
    int seg = static_cast<int>(rect.pos / kSegmentPositions);
    bool longEntry = isLongEntry(rect);
    uint16_t& count = longEntry ? list.longCount[seg] : list.shortCount[seg];
    bool accept = seg < segments && count < 255;
    if (!accept) overflowed = true;
    for (int l = 0; l < best.height; ++l) {
      size_t base = size_t(best.line + l) * w;
      for (int x = best.col; x < best.col + best.width; ++x) {
        if (accept) map[base + x] = rule.marker;
        runs[base + x] = 0;
      }
      // Runs to the left that reached into the rectangle end at its left edge.
      for (int x = best.col - 1; x >= 0 && runs[base + x] > best.col - x; --x)
        runs[base + x] = static_cast<uint8_t>(best.col - x);
    }
    if (accept) {
      ++count;
      list.rects.push_back(rect);
      ++taken;
    }
    // Pixels right of the rectangle now start runs.
    if (best.col + best.width < w) {
      for (int l = 0; l < best.height; ++l) {
        size_t j = size_t(best.line + l) * w + size_t(best.col + best.width);
        if (runs[j] && !queued[j] && cache[j] >= minArea) push(j, cache[j]);
      }
    }
  }
  return taken;
}

}  // namespace zov

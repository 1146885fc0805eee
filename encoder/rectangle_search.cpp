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
  }
  // Upper bound of the area reachable from each pixel: its run times the candidate lines
  // below it (same value for solid rectangles). The area cache keeps it, lowered to the exact
  // largest area whenever a pixel is examined; the bounds stay valid as rectangles are taken.
  // Every pixel that can start the largest rectangle enters the queue. One that cannot: a
  // pixel whose left neighbour's run reaches exactly one further (so the neighbour is a
  // candidate in the same run, not capped) and whose candidate column is no longer than the
  // neighbour's. Every rectangle from it then has a strictly larger one, one pixel wider,
  // from the neighbour, which also comes first in the scan. That stays true until a taken
  // rectangle ends at the neighbour's column somewhere in the pixel's column; such pixels
  // enter the queue then (see below). The queue has one bucket per bound (areas are at most
  // 255 x 255), each a list threaded through the pixels.
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
      const bool start = bound >= minArea && (left <= run || hx > hgt[x - 1]);
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
  // Levels from the fullest bound down. A level's pixels are examined in scan order (line,
  // then column): the first whose largest area reaches the level is the largest rectangle
  // left and, among equal areas, the first of the scan (at a pixel, the lowest one). The
  // others go back at their exact area, always below the level, so a level is complete when
  // it is taken out of the queue.
  int32_t* order = b.levelOrder.data();
  bool full = false;
  while (!full && settle()) {
    const uint32_t level = top;
    int n = 0;
    while (head[level] >= 0) order[n++] = int32_t(popFrom(level));
    if (!std::is_sorted(order, order + n)) std::sort(order, order + n);
    for (int k = 0; k < n; ++k) {
      const size_t i = size_t(order[k]);
      queued[i] = 0;
      if (full) break;  // the next search resets the queue flags
      if (k + 1 < n) __builtin_prefetch(&runs[size_t(order[k + 1])]);
      Best best;
      largestFrom(i, best);
      cache[i] = uint32_t(best.area);
      if (uint32_t(best.area) < level) {
        if (best.area >= rule.minArea) push(i, uint32_t(best.area));
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
        full = static_cast<int>(list.rects.size()) >= kMaxRectsPerList;
      }
      // The column right of the rectangle: its pixels beside the rectangle, and those above
      // whose candidate column reaches down into it, lose their left neighbour's column and
      // may now start a rectangle. They were held back as smaller than the neighbour's, which
      // is at most this level, so they go in below it.
      const int xr = best.col + best.width;
      if (xr < w) {
        auto enter = [&](size_t j) {
          const uint32_t bound = std::min(cache[j], level - 1);
          if (!queued[j] && bound >= minArea) push(j, bound);
        };
        for (int l = 0; l < best.height; ++l) {
          size_t j = size_t(best.line + l) * w + size_t(xr);
          if (runs[j]) enter(j);
        }
        size_t j = size_t(best.line) * w + size_t(xr);
        for (int up = 1; up < 255 && best.line - up >= 0; ++up) {
          const size_t above = j - size_t(w);
          if (!runs[above] || (rule.sameValue && !same(above, j))) break;
          j = above;
          enter(j);
        }
      }
    }
  }
  return taken;
}

}  // namespace zov

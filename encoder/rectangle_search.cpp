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
  for (int l = 0; l < lines; ++l) {
    size_t base = size_t(l) * w;
    int run = 0;
    for (int x = w - 1; x >= 0; --x) {
      size_t i = base + x;
      if (map[i] != rule.candidate) {
        run = 0;
      } else if (run > 0 && rule.sameValue && !same(i, i + 1)) {
        run = 1;
      } else {
        run = std::min(run + 1, 255);
      }
      // A block starting at column 0 is one pixel wide: the decoder's row walk starts at
      // column 1 whatever covers column 0, so a wider block there would be coded over.
      runs[i] = static_cast<uint8_t>(x == 0 ? std::min(run, 1) : run);
    }
  }
  std::fill(cache, cache + b.pixels, UINT32_MAX);

  int taken = 0;
  int previousArea = INT32_MAX;
  int startLine = 0;
  const int segments = static_cast<int>(list.longCount.size());
  while (static_cast<int>(list.rects.size()) < kMaxRectsPerList) {
    Best best;
    bool early = false;
    for (;;) {
      best = Best{};
      for (int l = startLine; l < lines && !early; ++l) {
        size_t base = size_t(l) * w;
        for (int x = 0; x < w; ++x) {
          size_t i = base + x;
          int r = runs[i];
          if (r == 0 || cache[i] <= uint32_t(best.area)) continue;
          int width = r, largest = 0;
          int maxLines = std::min(255, lines - l);
          uint32_t bound = 0;
          for (int h = 0; h < maxLines; ++h) {
            size_t j = i + size_t(h) * w;
            int r2 = runs[j];
            if (r2 == 0) break;
            if (rule.sameValue && h > 0 && !same(j, i)) break;
            width = std::min(width, r2);
            int area = width * (h + 1);
            largest = std::max(largest, area);
            if (area > rule.minArea - 1 && area > best.area) best = {area, l, x, width, h + 1};
            // Nothing taller from here can beat the best: keep a bound and stop growing.
            int reach = width * maxLines;
            if (reach <= best.area) {
              bound = static_cast<uint32_t>(reach);
              break;
            }
          }
          cache[i] = std::max(bound, static_cast<uint32_t>(largest));
          if (best.area >= previousArea) {
            early = true;
            break;
          }
        }
      }
      if (early || startLine == 0) break;
      startLine = 0;  // no early take: the lines above the start may hold the largest
    }
    if (best.area < rule.minArea || best.area == 0) break;

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
    previousArea = best.area;
    startLine = best.line;
  }
  return taken;
}

}  // namespace zov

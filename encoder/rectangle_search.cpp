#include "encoder/rectangle_search.h"

#include <algorithm>
#include <cstring>

#include "encoder/rectangle_search_kernels.h"

namespace zov {
namespace {

struct Best {
  int area = 0;
  int line = 0, col = 0, width = 0, height = 0;
};

// n bytes of p set to v. Rectangles are small (most under 16 pixels a side): a few word stores,
// overlapping at the end, instead of a call.
inline void fillBytes(uint8_t* p, uint8_t v, size_t n) {
  if (n >= 8) {
    const uint64_t word = 0x0101010101010101u * v;
    if (n > 16) {
      for (size_t k = 16; k < n; k += 16) {
        std::memcpy(p + k - 16, &word, 8);
        std::memcpy(p + k - 8, &word, 8);
      }
      std::memcpy(p + n - 16, &word, 8);
    }
    std::memcpy(p, &word, 8);
    std::memcpy(p + n - 8, &word, 8);
  } else if (n >= 4) {
    const uint32_t word = 0x01010101u * v;
    std::memcpy(p, &word, 4);
    std::memcpy(p + n - 4, &word, 4);
  } else if (n > 0) {
    p[0] = v;
    p[n / 2] = v;
    p[n - 1] = v;
  }
}

}  // namespace

int searchRectangles(EncoderBuffers& b, const RectangleSearch& rule, RectList& list,
                     bool& overflowed) {
  const int w = b.width, lines = b.lines;
  uint8_t* map = b.blockMap.data();
  uint8_t* runs = b.runs.data();
  const uint32_t* value = b.type == 0 ? nullptr : b.curYc.data();
  const uint16_t* colour = b.cur.data();
  auto same = [&](size_t i, size_t j) {
    return value ? value[i] == value[j] : colour[i] == colour[j];
  };

  // Run map: candidates in a row to the right, capped at 255. For solid rectangles a run goes
  // on while the right neighbour is a candidate of the same value.
  // The rule in locals: the byte stores below could otherwise change it.
  const uint8_t cand = rule.candidate, marker = rule.marker;
  const bool sameValue = rule.sameValue;
  const int minSize = rule.minArea;
  const RectangleSearchKernels& kernels = rectangleSearchKernels();
  for (int l = 0; l < lines; ++l) {
    const size_t base = size_t(l) * w;
    if (!sameValue)
      kernels.runMapLine(map + base, runs + base, w, cand);
    else if (value)
      kernels.sameRunLine32(map + base, value + base, runs + base, w, cand);
    else
      kernels.sameRunLine16(map + base, colour + base, runs + base, w, cand);
  }
  // The runs by column as well (a column's lines one after another), for the walks down a
  // column; made once the queue holds a pixel, and kept equal to the map of runs from then on.
  uint8_t* byColumn = b.runsByColumn.data();
  const size_t stride = size_t(lines);

  // Upper bound of the area reachable from each pixel: its run times the candidate lines
  // below it (same value for solid rectangles). The area cache keeps it, lowered to the exact
  // largest area whenever a pixel is examined; the bounds stay valid as rectangles are taken.
  // Every pixel from which the largest rectangle can start enters the queue. A rectangle that
  // has a strictly larger one from a pixel earlier in the scan never is the one taken:
  //  * below a candidate whose run is at least as long (same value for solid rectangles), each
  //    rectangle of the pixel grows one line upwards (unless it is 255 lines high already);
  //  * inside a row run (the left neighbour's run reaches exactly one further, not capped), a
  //    rectangle no taller than the neighbour's candidate column grows one pixel leftwards:
  //    only taller ones count, so the bound is the pixel's column times its narrowest run of
  //    the first line and of the line where the neighbour's column ends.
  // That holds until a taken rectangle covers or shortens the line above, or ends at the left
  // neighbour's column within the pixel's column; such pixels get their whole bound then
  // (see below). The queue has one bucket per bound (areas are at most 255 x 255), each a
  // chain of chunks of pixels: taking a level out reads its pixels one after another (a list
  // threaded through the pixels made that a chain of dependent loads, one cache miss per
  // pixel). A bucket's head is 16 times its first chunk plus the pixels in that chunk (1 to 15;
  // the others are full), or -1. Every search leaves the queue empty (all heads -1, no pixel
  // flagged) as the buffers start out, so it needs no clearing here.
  static_assert(kChunkPixels == 15);
  int32_t* head = b.bucketHead.data();
  SearchSlot* slot = b.searchSlots.data();
  SearchChunk* chunks = b.searchChunks.data();
  // Chunks given back (linked through `next`), and the first never used in this search: at most
  // one partly filled chunk per bucket, so the pool never runs out.
  int32_t freeChunks = -1, unused = 0;
  auto release = [&](int32_t c) {
    chunks[c].next = freeChunks;
    freeChunks = c;
  };
  // Which buckets hold a pixel: one bit per bucket, and one per word of those bits.
  constexpr int kWords = (kMaxArea + 64) / 64;
  uint64_t occupied[kWords] = {};
  uint64_t summary[(kWords + 63) / 64] = {};
  uint32_t top = 0;  // no bucket above it holds a pixel
  auto push = [&](size_t i, uint32_t bound) {
    slot[i].bound = static_cast<uint16_t>(bound);
    slot[i].queued = 1;
    // An empty bucket (-1) reads as a full chunk -1.
    int32_t c = head[bound] >> 4, filled = head[bound] & 15;
    if (filled == kChunkPixels) {
      int32_t fresh = freeChunks;
      if (fresh >= 0)
        freeChunks = chunks[fresh].next;
      else
        fresh = unused++;
      chunks[fresh].next = c;
      c = fresh;
      filled = 0;
    }
    chunks[c].pixel[filled] = int32_t(i);
    head[bound] = c * 16 + filled + 1;
    uint64_t& word = occupied[bound >> 6];
    if (word == 0) summary[bound >> 12] |= uint64_t{1} << (bound >> 6 & 63);
    word |= uint64_t{1} << (bound & 63);
  };
  // Rare (a queued pixel whose bound rises): the pixel's place in its bucket takes the bucket's
  // last pixel.
  auto unlink = [&](size_t i, uint32_t bound) {
    const int32_t first = head[bound] >> 4, filled = head[bound] & 15;
    int32_t* at = nullptr;
    for (int32_t c = first, count = filled; !at; c = chunks[c].next, count = kChunkPixels)
      for (int k = 0; k < count; ++k)
        if (chunks[c].pixel[k] == int32_t(i)) at = &chunks[c].pixel[k];
    *at = chunks[first].pixel[filled - 1];
    if (filled > 1) {
      head[bound] = first * 16 + filled - 1;
    } else {
      const int32_t after = chunks[first].next;
      head[bound] = after < 0 ? -1 : after * 16 + kChunkPixels;
      release(first);
    }
    if (head[bound] < 0) {
      uint64_t& word = occupied[bound >> 6];
      word &= ~(uint64_t{1} << (bound & 63));
      if (word == 0) summary[bound >> 12] &= ~(uint64_t{1} << (bound >> 6 & 63));
    }
  };
  // The heights of a line come in vectors with the pixels whose simple bound (run times
  // height) reaches the minimum and which neither the line above nor the left neighbour holds
  // back outright (a neighbour as tall leaves no taller rectangle); only those are looked at
  // further. For solid rectangles the equal neighbours of each pair of lines are
  // found once: a line's above is the next line's below.
  uint8_t* height = b.scratchHeights.data();
  int32_t* columns = b.levelOrder.data();  // a line's columns until the queue runs
  uint8_t* sameBelow = b.searchLine.data();
  uint8_t* sameAbove = sameBelow + w + 1;
  const uint32_t minArea = uint32_t(minSize);
  for (int l = lines - 1; l >= 0; --l) {
    const size_t base = size_t(l) * w;
    const uint8_t* r = runs + base;
    uint8_t* hgt = height + base;
    const bool hasBelow = l + 1 < lines;
    if (sameValue && l > 0) {
      if (value)
        kernels.equalLine32(value + base - w, value + base, sameAbove, w);
      else
        kernels.equalLine16(colour + base - w, colour + base, sameAbove, w);
    }
    HeightsLineJob job;
    job.runs = r;
    job.above = l > 0 ? r - w : nullptr;
    job.sameAbove = sameValue && l > 0 ? sameAbove : nullptr;
    job.below = hasBelow ? hgt + w : nullptr;
    job.sameBelow = sameValue && hasBelow ? sameBelow : nullptr;
    job.heights = hgt;
    job.width = w;
    job.minArea = minArea;
    job.columns = columns;
    const int n = kernels.heightsLine(job);
    // The bounds first, each kept with its column (both below 2^16) and its bucket's head
    // fetched, then the pushes: the heads are scattered over the bounds.
    for (int k = 0; k < n; ++k) {
      const int x = columns[k];
      const int run = r[x];
      const uint32_t hx = hgt[x];
      uint32_t bound = hx * uint32_t(run);
      if (x > 0 && r[x - 1] > run) {
        const uint32_t k2 = hgt[x - 1];
        bound = hx > k2 ? hx * std::min<uint32_t>(uint32_t(run), r[x + k2 * size_t(w)]) : 0;
      }
      __builtin_prefetch(head + bound);
      columns[k] = int32_t(bound << 16 | uint32_t(x));
    }
    // Right to left, as the lines go bottom-up: pixels enter their lists in falling scan order,
    // so each list starts out in scan order and a level mostly needs no sorting.
    for (int k = n - 1; k >= 0; --k) {
      const uint32_t bound = uint32_t(columns[k]) >> 16;
      if (bound >= minArea) {
        push(base + (uint32_t(columns[k]) & 0xFFFF), bound);
        top = std::max(top, bound);
      }
    }
    std::swap(sameBelow, sameAbove);
  }

  bool queuedAny = false;
  for (uint64_t word : summary) queuedAny |= word != 0;
  if (!queuedAny) return 0;
  kernels.transposeRuns(runs, w, lines, byColumn);

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
  uint32_t level = 0;
  // Below a candidate whose run is at least as long (same value for solid rectangles) a pixel
  // is held back as in the first pass, whatever held it back before: taken rectangles shorten
  // runs from the right, which often leaves a pixel's run shorter than the one above. It comes
  // back through `enter` when the line above loses that run.
  auto heldBack = [&](size_t i) {
    return i >= size_t(w) && height[i] < 255 && runs[i - w] >= runs[i] &&
           (!sameValue || same(i - w, i));
  };
  // So is a pixel inside a row run whose left neighbour's candidate column is at least as long
  // as its own: each of its rectangles grows one pixel leftwards. It comes back through
  // `enter` when a taken rectangle ends at the neighbour's column within the pixel's column.
  auto heldBackLeft = [&](size_t i, size_t line, size_t col) {
    if (col == 0 || runs[i - 1] <= runs[i] || height[i - 1] < height[i]) return false;
    const uint8_t* own = byColumn + col * stride + line;
    const void* ownEnd = std::memchr(own, 0, height[i]);
    const size_t down = ownEnd ? size_t(static_cast<const uint8_t*>(ownEnd) - own) : height[i];
    return std::memchr(own - stride, 0, down) == nullptr;
  };
  // A pixel whose held-back rectangles now count: below this level (see below).
  auto enter = [&](size_t j) __attribute__((always_inline)) {
    const uint32_t bound = std::min(uint32_t(runs[j]) * height[j], level - 1);
    if (bound < minArea || heldBack(j)) return;
    if (j > 0 && runs[j - 1] > runs[j] && heldBackLeft(j, j / size_t(w), j % size_t(w))) return;
    if (slot[j].queued) {
      if (slot[j].bound >= bound) return;
      unlink(j, slot[j].bound);
    }
    push(j, bound);
  };
  // The whole level leaves the queue at once, newest pixel first (so that the first pass's
  // pixels, pushed in falling scan order, come out in scan order). Pixels a taken rectangle has
  // covered since they were queued (their run is 0 now and stays so) leave it there: most of a
  // level on a picture the rectangles mostly cover; without a branch, as the pixels' loads are
  // independent of each other.
  auto takeLevel = [&]() {
    int n = 0;
    for (int32_t c = head[level] >> 4, count = head[level] & 15; c >= 0; count = kChunkPixels) {
      const int32_t after = chunks[c].next;
      if (after >= 0) __builtin_prefetch(&chunks[after]);
      for (int k = count - 1; k >= 0; --k) {
        const int32_t i = chunks[c].pixel[k];
        const bool open = runs[i] != 0;
        slot[i].queued = open;
        order[n] = i;
        n += open;
      }
      release(c);
      c = after;
    }
    head[level] = -1;
    occupied[level >> 6] &= ~(uint64_t{1} << (level & 63));
    if (occupied[level >> 6] == 0) summary[level >> 12] &= ~(uint64_t{1} << (level >> 6 & 63));
    return n;
  };
  while (!full && settle()) {
    level = top;
    const int n = takeLevel();
    if (n == 0) continue;
    if (n <= 16) {
      for (int k = 1; k < n; ++k) {
        const int32_t v = order[k];
        int at = k;
        for (; at > 0 && order[at - 1] > v; --at) order[at] = order[at - 1];
        order[at] = v;
      }
    } else if (!std::is_sorted(order, order + n)) {
      std::sort(order, order + n);
    }
    // Each pixel's line and column are found (one division) when it is the next one, and
    // its column prefetched.
    size_t nextLine = size_t(order[0]) / size_t(w), nextCol = size_t(order[0]) % size_t(w);
    for (int k = 0; k < n; ++k) {
      const size_t i = size_t(order[k]);
      slot[i].queued = 0;
      const size_t line = nextLine, col = nextCol;
      if (k + 1 < n) {
        const size_t o = size_t(order[k + 1]);
        nextLine = o / size_t(w);
        nextCol = o % size_t(w);
        __builtin_prefetch(byColumn + nextCol * stride + nextLine);
      }
      // A pixel the line above holds back has only rectangles smaller than the largest left,
      // which is at most the level: it leaves the queue unexamined.
      if (heldBack(i)) continue;
      // So does one the left neighbour holds back (see above).
      if (heldBackLeft(i, line, col)) continue;
      const ColumnBest found =
          kernels.largestInColumn(byColumn + col * stride + line, int(height[i]), minSize);
      Best best;
      best.area = found.area;
      best.width = found.width;
      best.height = found.height;
      if (uint32_t(best.area) < level) {
        if (best.area >= minSize) push(i, uint32_t(best.area));
        continue;
      }
      best.line = int(line);
      best.col = int(col);
      BlockRect rect;
      rect.pos = static_cast<uint32_t>(i);
      rect.width = static_cast<uint16_t>(best.width);
      rect.height = static_cast<uint16_t>(best.height);
      // Only solid entries carry a colour (and the picture's colours are far from the cache by
      // now on the other searches).
      if (sameValue) rect.colour = colour[rect.pos];
      int seg = static_cast<int>(rect.pos / kSegmentPositions);
      bool longEntry = isLongEntry(rect);
      uint16_t& count = longEntry ? list.longCount[seg] : list.shortCount[seg];
      bool accept = seg < segments && count < 255;
      if (!accept) overflowed = true;
      {
        // Locals, so that the byte stores below need no reloads.
        const int col0 = best.col, across = best.width, down = best.height;
        const size_t line0 = size_t(best.line);

        uint8_t* columnTop = byColumn + size_t(col0) * stride + line0;
        for (int x = 0; x < across; ++x, columnTop += stride) fillBytes(columnTop, 0, size_t(down));
        uint8_t* row = runs + line0 * size_t(w);
        for (int l = 0; l < down; ++l, row += w) {
          if (accept) fillBytes(map + (row - runs) + col0, marker, size_t(across));
          fillBytes(row + col0, 0, size_t(across));
          // Runs to the left that reached into the rectangle end at its left edge: the
          // candidates left of it, up to 254 of them.
          int x = col0 - 1;
          uint8_t* column = byColumn + size_t(x < 0 ? 0 : x) * stride + line0 + size_t(l);
          for (uint8_t run = 1; x >= 0 && row[x] > run; --x, ++run, column -= stride) {
            row[x] = run;
            *column = run;
          }
          if (l + 1 < down || line0 + size_t(down) >= size_t(lines)) continue;
          const uint8_t* below = row + w;
          const size_t belowBase = size_t(below - runs);
          for (int c = x + 1; c < col0; ++c)
            if (below[c] > col0 - c) enter(belowBase + size_t(c));
          for (int c = col0; c < col0 + across; ++c)
            if (below[c]) enter(belowBase + size_t(c));
        }
      }
      if (accept) {
        ++count;
        list.rects.push_back(rect);
        ++taken;
        full = static_cast<int>(list.rects.size()) >= kMaxRectsPerList;
      }
      // The line below the rectangle lost its line above (or its runs) just now. The column
      // right of the rectangle: its pixels beside the rectangle, and those above whose
      // candidate column reaches down into it, lose their left neighbour's column. Their
      // rectangles that were smaller than a neighbour's now count; those are below this level
      // (the neighbour's were at most the level), and so is every pixel of this level still
      // to come, that is all but the ones already queued here.
      const int xr = best.col + best.width;
      if (xr < w) {
        for (int l = 0; l < best.height; ++l) {
          size_t j = size_t(best.line + l) * w + size_t(xr);
          if (runs[j]) enter(j);
        }
        size_t j = size_t(best.line) * w + size_t(xr);
        for (int up = 1; up < 255 && best.line - up >= 0; ++up) {
          const size_t above = j - size_t(w);
          if (!runs[above] || (sameValue && !same(above, j))) break;
          j = above;
          enter(j);
        }
      }
      if (full) {
        for (int rest = k + 1; rest < n; ++rest) slot[order[rest]].queued = 0;
        break;
      }
    }
  }
  // A full list leaves pixels in the queue: it is emptied for the next search.
  while (settle()) {
    level = top;
    const int n = takeLevel();
    for (int k = 0; k < n; ++k) slot[order[k]].queued = 0;
  }
  return taken;
}

}  // namespace zov

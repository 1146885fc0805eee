// The rectangle search: the largest rectangle first, from any pixel of a run (not only the one
// that starts it), equal areas in scan order, and blocks that start at column 0 as wide as
// their pixels allow. Whole pictures go through the encoder and the decoder shows the blocks.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "encoder/rectangle_search.h"
#include "format/decoder.h"
#include "support/encoder_harness.h"

namespace zov {
namespace {

constexpr int kW = 80, kH = 60;
constexpr uint16_t kShape = 11 << 10 | 14 << 5 | 9;

// A one-pixel checkerboard of two close colours: no solid run there is longer than one pixel.
test::Picture checkerboard() {
  test::Picture p(size_t(kW) * kH);
  for (int y = 0; y < kH; ++y)
    for (int x = 0; x < kW; ++x)
      p[size_t(y) * kW + x] =
          ((x + y) & 1) ? uint16_t(10 << 10 | 10 << 5 | 10) : uint16_t(12 << 10 | 12 << 5 | 12);
  return p;
}

void paint(test::Picture& p, int line, int col, int width, int height) {
  for (int y = line; y < line + height; ++y)
    for (int x = col; x < col + width; ++x) p[size_t(y) * kW + x] = kShape;
}

// Codes one lossless RGB key frame and returns the decoder that decoded it.
std::unique_ptr<FrameDecoder> codeLossless(const test::Picture& p) {
  CompressionSettings s;
  s.CompressionType = 0;
  s.ImageLossLevel = 0;
  s.updateDerived();
  test::EncodedRun run = test::encodePictures(s, kW, kH, {p});
  EXPECT_TRUE(run.ok) << run.failure;
  auto dec = std::make_unique<FrameDecoder>();
  EXPECT_TRUE(dec->prepareStream(kW, kH, run.formatWord, {}));
  if (run.frames.empty()) return dec;
  EXPECT_EQ(dec->decodeFrame(run.frames[0].data(), run.frames[0].size()), DecodeStatus::Ok);
  return dec;
}

int rleEntries(const FrameDecoder& d) {
  const auto rle = size_t(BlockList::Rle);
  return d.lastFrame().longEntries[rle] + d.lastFrame().shortEntries[rle];
}

TEST(RectangleSearch, ARectangleMayStartInsideARowRun) {
  // Line 10 holds 20 equal pixels from column 10, lines 11-25 only from column 20: the largest
  // rectangle is 10 x 16 from the middle of line 10's run; the rest of that run (10 pixels) is
  // below the solid minimum of 12.
  test::Picture p = checkerboard();
  paint(p, 10, 10, 20, 1);
  paint(p, 11, 20, 10, 15);
  auto dec = codeLossless(p);
  EXPECT_EQ(rleEntries(*dec), 1);
  const uint8_t* map = dec->blockMap();
  EXPECT_EQ(map[10 * kW + 10], 0);
  for (int line = 10; line <= 25; ++line) EXPECT_EQ(map[line * kW + 20], 10) << line;
}

TEST(RectangleSearch, ABlockAtColumnZeroKeepsItsWidth) {
  test::Picture p = checkerboard();
  paint(p, 30, 0, 6, 10);
  auto dec = codeLossless(p);
  EXPECT_EQ(rleEntries(*dec), 1);
  for (int line = 30; line < 40; ++line) EXPECT_EQ(dec->blockMap()[line * kW], 6) << line;
}

// Buffers for a search of its own on a width x lines picture, every pixel coded.
void prepare(EncoderBuffers& b, int width, int lines, int type) {
  b.width = width;
  b.lines = lines;
  b.pixels = width * lines;
  b.type = type;
  const size_t n = size_t(b.pixels);
  b.cur.assign(n, 0);
  b.curYc.assign(n, 0);
  b.blockMap.assign(n, kMapCoded);
  b.runs.assign(n, 0);
  b.runsByColumn.assign(n + 32, 0);
  b.scratchHeights.assign(n, 0);
  b.searchLine.assign(2 * (size_t(width) + 1), 0);
  b.bucketHead.assign(kMaxArea + 1, -1);
  b.searchSlots.assign(n, SearchSlot{});
  b.searchChunks.assign(n / kChunkPixels + kMaxArea + 2, SearchChunk{});
  b.levelOrder.assign(n, 0);
}

TEST(RectangleSearch, EqualAreasComeOutInScanOrder) {
  // Three 4 x 4 squares and, at (12, 0), a shape whose largest area 8 comes as 4 x 2 and 2 x 4:
  // lowest line first, then lowest column, and at one pixel the smaller height.
  EncoderBuffers b;
  prepare(b, 24, 16, 0);
  auto mark = [&](int line, int col, int width, int height) {
    for (int y = line; y < line + height; ++y)
      for (int x = col; x < col + width; ++x) b.blockMap[size_t(y) * b.width + x] = kMapCandidate;
  };
  mark(6, 0, 4, 4);
  mark(0, 10, 4, 4);
  mark(0, 0, 4, 4);
  mark(12, 20, 4, 2);
  mark(14, 20, 2, 2);
  RectList list;
  list.longCount.assign(1, 0);
  list.shortCount.assign(1, 0);
  bool overflowed = false;
  RectangleSearch rule;
  rule.minArea = 8;
  ASSERT_EQ(searchRectangles(b, rule, list, overflowed), 4);
  auto at = [&](int k) {
    const BlockRect& r = list.rects[size_t(k)];
    return std::vector<int>{int(r.pos) / b.width, int(r.pos) % b.width, r.width, r.height};
  };
  EXPECT_EQ(at(0), (std::vector<int>{0, 0, 4, 4}));
  EXPECT_EQ(at(1), (std::vector<int>{0, 10, 4, 4}));
  EXPECT_EQ(at(2), (std::vector<int>{6, 0, 4, 4}));
  EXPECT_EQ(at(3), (std::vector<int>{12, 20, 4, 2}));
  EXPECT_FALSE(overflowed);
}

TEST(RectangleSearch, AFullListLeavesNothingBehindForTheNextSearch) {
  // Dominoes and single pixels on every other line, far more than a list holds: the list fills
  // up among the dominoes with pixels still queued. A second search on the same buffers, of
  // candidates with scattered holes, takes what it takes on buffers of its own.
  const int size = 512;
  EncoderBuffers b;
  prepare(b, size, size, 0);
  for (int y = 0; y < size; y += 2)
    for (int x = 0; x < size; ++x)
      if (x % 6 < 2 || x % 6 == 3) b.blockMap[size_t(y) * size + x] = kMapCandidate;
  RectangleSearch rule;
  rule.minArea = 1;
  auto search = [&](EncoderBuffers& buffers, RectList& list) {
    list.longCount.assign(size_t(buffers.pixels) / kSegmentPositions + 1, 0);
    list.shortCount.assign(list.longCount.size(), 0);
    bool overflowed = false;
    searchRectangles(buffers, rule, list, overflowed);
  };
  RectList first, again, own;
  search(b, first);
  ASSERT_EQ(int(first.rects.size()), kMaxRectsPerList);
  std::mt19937 random(77);
  std::fill(b.blockMap.begin(), b.blockMap.end(), kMapCandidate);
  for (int k = 0; k < 4000; ++k) b.blockMap[random() % b.blockMap.size()] = kMapCoded;
  EncoderBuffers fresh;
  prepare(fresh, size, size, 0);
  fresh.blockMap = b.blockMap;
  search(b, again);
  search(fresh, own);
  ASSERT_EQ(again.rects.size(), own.rects.size());
  for (size_t k = 0; k < own.rects.size(); ++k) {
    ASSERT_EQ(again.rects[k].pos, own.rects[k].pos) << k;
    ASSERT_EQ(again.rects[k].width, own.rects[k].width) << k;
    ASSERT_EQ(again.rects[k].height, own.rects[k].height) << k;
  }
  EXPECT_EQ(b.blockMap, fresh.blockMap);
}

// The greedy search done the slow way: the largest rectangle of untaken candidates (one value
// throughout for solid rectangles, at most 255 x 255), ties to the first pixel in scan order
// and there to the lower height; the 256th of a size class in a segment is passed over.
std::vector<std::vector<int>> slowSearch(const EncoderBuffers& b, const RectangleSearch& rule) {
  const int w = b.width, lines = b.lines;
  std::vector<uint8_t> open(size_t(b.pixels));
  for (size_t i = 0; i < open.size(); ++i) open[i] = b.blockMap[i] == rule.candidate;
  auto value = [&](size_t i) { return b.type == 0 ? uint32_t(b.cur[i]) : b.curYc[i]; };
  std::vector<int> runs(open.size());
  std::vector<uint16_t> longCount(8, 0), shortCount(8, 0);
  std::vector<std::vector<int>> out;
  while (int(out.size()) < kMaxRectsPerList) {
    for (int y = 0; y < lines; ++y)
      for (int x = w - 1, run = 0; x >= 0; --x) {
        const size_t i = size_t(y) * w + x;
        const bool goesOn = x + 1 < w && (!rule.sameValue || value(i) == value(i + 1));
        run = open[i] ? std::min((goesOn ? run : 0) + 1, 255) : 0;
        runs[i] = run;
      }
    int bestArea = 0;
    std::vector<int> best;
    for (int y = 0; y < lines; ++y)
      for (int x = 0; x < w; ++x) {
        const size_t i = size_t(y) * w + x;
        int width = 255;
        for (int h = 1; h <= 255 && y + h <= lines; ++h) {
          const size_t j = i + size_t(h - 1) * w;
          if (rule.sameValue && value(j) != value(i)) break;
          width = std::min(width, runs[j]);
          if (width == 0) break;
          if (width * h > bestArea) {
            bestArea = width * h;
            best = {y, x, width, h};
          }
        }
      }
    if (bestArea < rule.minArea) break;
    BlockRect r;
    r.width = uint16_t(best[2]);
    r.height = uint16_t(best[3]);
    uint16_t& count =
        (isLongEntry(r) ? longCount
                        : shortCount)[size_t(best[0] * w + best[1]) / kSegmentPositions];
    for (int y = best[0]; y < best[0] + best[3]; ++y)
      for (int x = best[1]; x < best[1] + best[2]; ++x) open[size_t(y) * w + x] = 0;
    if (count == 255) continue;
    ++count;
    out.push_back(best);
  }
  return out;
}

TEST(RectangleSearch, TakesWhatTheSlowSearchTakes) {
  // Random pictures of overlapping blocks, some candidate, some of few values, with noise: the
  // unchanged kind of search and solid ones on colours and on targets, against the slow way.
  // One picture is wider than 255 and one taller, for the caps.
  std::mt19937 random(1208);
  struct Shape {
    int width, lines, type;
    bool sameValue;
    int minArea;
  };
  const Shape shapes[] = {{48, 40, 0, false, 6}, {48, 40, 0, true, 4},    {48, 40, 1, true, 12},
                          {37, 29, 2, false, 1}, {300, 12, 0, false, 24}, {6, 300, 1, true, 24},
                          {64, 64, 0, true, 2}};
  for (const Shape& shape : shapes)
    for (int pass = 0; pass < 6; ++pass) {
      EncoderBuffers b;
      prepare(b, shape.width, shape.lines, shape.type);
      const int w = b.width, lines = b.lines;
      std::uniform_int_distribution<int> pick(0, 1 << 20);
      const int values = 1 + pick(random) % 4, density = pick(random) % 4;
      for (int k = 0; k < 30 + 10 * density; ++k) {
        const int y0 = pick(random) % lines, x0 = pick(random) % w;
        const int h = 1 + pick(random) % std::min(lines, 40),
                  wd = 1 + pick(random) % std::min(w, 60);
        const bool candidate = pick(random) % 4 != 0;
        const int v = pick(random) % values;
        for (int y = y0; y < std::min(lines, y0 + h); ++y)
          for (int x = x0; x < std::min(w, x0 + wd); ++x) {
            const size_t i = size_t(y) * w + x;
            b.blockMap[i] = candidate ? kMapCandidate : kMapCoded;
            b.cur[i] = uint16_t(v * 1001);
            b.curYc[i] = uint32_t(v * 70001) & 0x1FFFF;
          }
      }
      for (int k = 0; k < b.pixels / 20; ++k) {
        const size_t i = size_t(pick(random) % b.pixels);
        b.blockMap[i] = pick(random) % 2 ? kMapCandidate : kMapCoded;
        b.cur[i] = uint16_t(pick(random) % values * 1001);
      }
      RectangleSearch rule;
      rule.candidate = shape.sameValue ? kMapCoded : kMapCandidate;
      rule.marker = kMapSolid;
      rule.sameValue = shape.sameValue;
      rule.minArea = shape.minArea;
      const auto expected = slowSearch(b, rule);
      const std::vector<uint8_t> before(b.blockMap.begin(), b.blockMap.end());
      RectList list;
      list.longCount.assign(size_t(b.pixels) / kSegmentPositions + 1, 0);
      list.shortCount.assign(list.longCount.size(), 0);
      bool overflowed = false;
      const int taken = searchRectangles(b, rule, list, overflowed);
      ASSERT_EQ(taken, int(expected.size())) << shape.width << "x" << shape.lines << " " << pass;
      std::vector<uint8_t> map = before;
      for (int k = 0; k < taken; ++k) {
        const BlockRect& r = list.rects[size_t(k)];
        const std::vector<int> got{int(r.pos) / w, int(r.pos) % w, r.width, r.height};
        ASSERT_EQ(got, expected[size_t(k)])
            << shape.width << "x" << shape.lines << " " << pass << " rectangle " << k;
        if (shape.sameValue) {
          EXPECT_EQ(r.colour, b.cur[r.pos]);
        }
        for (int y = got[0]; y < got[0] + got[3]; ++y)
          for (int x = got[1]; x < got[1] + got[2]; ++x) map[size_t(y) * w + x] = kMapSolid;
      }
      EXPECT_EQ(b.blockMap, map) << shape.width << "x" << shape.lines << " " << pass;
    }
}

}  // namespace
}  // namespace zov

// The rectangle search: the largest rectangle first, from any pixel of a run (not only the one
// that starts it), equal areas in scan order, and blocks that start at column 0 as wide as
// their pixels allow. Whole pictures go through the encoder and the decoder shows the blocks.
#include <gtest/gtest.h>

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

TEST(RectangleSearch, EqualAreasComeOutInScanOrder) {
  // Three 4 x 4 squares and, at (12, 0), a shape whose largest area 8 comes as 4 x 2 and 2 x 4:
  // lowest line first, then lowest column, and at one pixel the smaller height.
  EncoderBuffers b;
  b.width = 24;
  b.lines = 16;
  b.pixels = b.width * b.lines;
  b.type = 0;
  const size_t n = size_t(b.pixels);
  b.cur.assign(n, 0);
  b.blockMap.assign(n, kMapCoded);
  b.runs.assign(n, 0);
  b.heapFlag.assign(n, 0);
  b.areaCache.assign(n, 0);
  b.scratchHeights.assign(n, 0);
  b.bucketHead.assign(kMaxArea + 1, -1);
  b.bucketNext.assign(n, -1);
  b.bucketPrev.assign(n, -1);
  b.levelOrder.assign(n, 0);
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

}  // namespace
}  // namespace zov

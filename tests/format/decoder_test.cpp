// Hand-built frames for each feature of the decoder: headers and letterbox, the four lists, the
// seed, NSYM 0 and 1, both residual codes, single field, backgrounds and the post filter.
#include "format/decoder.h"

#include <gtest/gtest.h>

#include <random>

#include "format/colour_tables.h"
#include "support/frame_builder.h"

namespace zov {
namespace {

using test::Block;
using test::buildFrame;
using test::FrameSpec;

constexpr uint32_t kV4 = kZov2Tag | stream_flag::kV4;

uint16_t rgb(int r, int g, int b) {
  return uint16_t(r << 10 | g << 5 | b);
}

struct Stream {
  Stream(int w, int h, uint32_t format, DecoderOptions opt = {}) : w(w), h(h), format(format) {
    EXPECT_TRUE(dec.prepareStream(w, h, format, opt));
  }
  DecodeStatus decode(const FrameSpec& spec) {
    auto bytes = buildFrame(w, h, format, spec, dec.topMargin(), dec.bottomMargin());
    return dec.decodeFrame(bytes.data(), bytes.size());
  }
  uint16_t at(int x, int row) const { return dec.picture()[row * w + x]; }
  int w, h;
  uint32_t format;
  FrameDecoder dec;
};

FrameSpec rleKey(uint16_t colour, int w, int h) {
  FrameSpec s;
  s.rle.push_back({0, w, h, colour});
  s.residuals = false;
  return s;
}

TEST(DecoderPrepare, RefusesUnacceptableFormats) {
  FrameDecoder d;
  EXPECT_FALSE(d.prepareStream(641, 480, kV4, {}));
  EXPECT_FALSE(d.prepareStream(640, 481, kV4, {}));
  EXPECT_FALSE(d.prepareStream(0, 10, kV4, {}));
  EXPECT_FALSE(d.prepareStream(10, 0, kV4, {}));
  EXPECT_FALSE(d.prepareStream(10, 10, kV4 | 5, {}));
  EXPECT_TRUE(d.prepareStream(640, 480, kV4 | 4, {}));
  EXPECT_EQ(d.scheme(), Scheme::Yc1611);
  // An unprepared decoder refuses frames instead of touching buffers it does not have.
  FrameDecoder fresh;
  uint8_t byte = 0;
  EXPECT_EQ(fresh.decodeFrame(&byte, 1), DecodeStatus::Damaged);
}

TEST(DecoderResiduals, NsymZeroKeepsThePreviousPicture) {
  Stream s(5, 3, kV4);
  ASSERT_EQ(s.decode(rleKey(rgb(1, 2, 3), 5, 3)), DecodeStatus::Ok);
  FrameSpec f;
  f.key = false;
  f.residuals = false;
  ASSERT_EQ(s.decode(f), DecodeStatus::Ok);
  for (int i = 0; i < 15; ++i) EXPECT_EQ(s.dec.picture()[i], rgb(1, 2, 3));
  EXPECT_FALSE(s.dec.lastFrame().key);
}

TEST(DecoderResiduals, SeedOnlyWhenTheFirstPixelIsUncovered) {
  // RGB 3x1: the single row is part 2. Seed, then two pixels of NSYM 1 (symbol 8: +1 each).
  Stream s(3, 1, kV4);
  FrameSpec f;
  f.seed = rgb(4, 5, 6);
  f.part2.assign(6, 8);
  ASSERT_EQ(s.decode(f), DecodeStatus::Ok) << s.dec.lastFrame().fault;
  EXPECT_TRUE(s.dec.lastFrame().seed);
  EXPECT_EQ(s.dec.lastFrame().nsym, 1);
  EXPECT_EQ(s.at(0, 0), rgb(4, 5, 6));
  EXPECT_EQ(s.at(1, 0), rgb(5, 6, 7));
  EXPECT_EQ(s.at(2, 0), rgb(6, 7, 8));
  // NSYM 1 carries no code bits: header 8 + Rle counts 16 + NSYM 4 + seed 15 + symbol 4 +
  // counts 36 bits.
  EXPECT_EQ(s.dec.lastFrame().bitsRead, 8u + 16 + 4 + 15 + 4 + 36);

  // The first pixel covered by an Rle block: no seed, its colour comes from the block.
  FrameSpec g;
  g.rle.push_back({0, 1, 1, rgb(10, 10, 10)});
  g.part2 = {7, 7, 7, 9, 7, 5};
  ASSERT_EQ(s.decode(g), DecodeStatus::Ok) << s.dec.lastFrame().fault;
  EXPECT_FALSE(s.dec.lastFrame().seed);
  EXPECT_EQ(s.at(0, 0), rgb(10, 10, 10));
  EXPECT_EQ(s.at(1, 0), rgb(10, 10, 10));
  EXPECT_EQ(s.at(2, 0), rgb(12, 10, 8));
}

TEST(DecoderResiduals, DoublingCodeFourteenFourteenEight) {
  // Red steps 14, 14, 8, 8 in consecutive pixels: +7, +14 (doubled), +2 (back to normal), +1.
  Stream s(5, 1, kV4);
  FrameSpec f;
  f.seed = rgb(0, 0, 0);
  for (int r : {14, 14, 8, 8}) {
    f.part2.push_back(uint8_t(r));
    f.part2.push_back(7);
    f.part2.push_back(7);
  }
  ASSERT_EQ(s.decode(f), DecodeStatus::Ok) << s.dec.lastFrame().fault;
  EXPECT_EQ(s.at(1, 0) >> 10, 7);
  EXPECT_EQ(s.at(2, 0) >> 10, 21);
  EXPECT_EQ(s.at(3, 0) >> 10, 23);
  EXPECT_EQ(s.at(4, 0) >> 10, 24);
}

TEST(DecoderResiduals, ExtendedCodeFourteenFourteenNine) {
  // EDGE 1: 14, 14, 9 in one component add 7 + 14 + 4 = 25; the next symbol is the next
  // component's.
  Stream s(3, 1, kV4);
  FrameSpec f;
  f.edge = true;
  f.seed = rgb(0, 0, 0);
  f.part2 = {14, 14, 9, 8, 7, /*pixel 2*/ 0, 9, 7, 7};
  ASSERT_EQ(s.decode(f), DecodeStatus::Ok) << s.dec.lastFrame().fault;
  EXPECT_EQ(s.at(1, 0), rgb(25, 1, 0));
  EXPECT_EQ(s.at(2, 0), rgb(25 - 7 + 4, 1, 0));
}

TEST(DecoderResiduals, ColumnPassThenOddRowsThenEvenRows) {
  // RGB 2x3, every step +1 (symbol 8) in red only, the rest 7: column pass rows 1, 2 (part 1),
  // then row 1 (part 1), then rows 0 and 2 (part 2).
  Stream s(2, 3, kV4);
  FrameSpec f;
  f.seed = rgb(0, 0, 0);
  f.part1 = {8, 7, 7, 9, 7, 7, /*row 1 col 1*/ 10, 7, 7};
  f.part2 = {/*row 0*/ 11, 7, 7, /*row 2*/ 12, 7, 7};
  ASSERT_EQ(s.decode(f), DecodeStatus::Ok) << s.dec.lastFrame().fault;
  EXPECT_EQ(s.at(0, 0) >> 10, 0);
  EXPECT_EQ(s.at(0, 1) >> 10, 1);
  EXPECT_EQ(s.at(0, 2) >> 10, 3);
  EXPECT_EQ(s.at(1, 1) >> 10, 4);
  EXPECT_EQ(s.at(1, 0) >> 10, 4);
  EXPECT_EQ(s.at(1, 2) >> 10, 8);
}

TEST(DecoderResiduals, CoveredRunToTheRowEndEndsTheRow) {
  Stream s(4, 2, kV4);
  FrameSpec f;
  f.seed = rgb(1, 1, 1);
  f.rle.push_back({1 * 4 + 2, 2, 1, rgb(9, 9, 9)});  // row 1, columns 2-3
  f.rle.push_back({1, 1, 1, rgb(20, 0, 0)});         // row 0, column 1
  // Column pass row 1; row 1 column 1 (then the run ends the row); row 0 columns 2, 3 after the
  // covered pixel at column 1.
  f.part1 = {8, 7, 7, 8, 7, 7};
  f.part2 = {8, 7, 7, 8, 7, 7};
  ASSERT_EQ(s.decode(f), DecodeStatus::Ok) << s.dec.lastFrame().fault;
  EXPECT_EQ(s.at(0, 1), rgb(2, 1, 1));
  EXPECT_EQ(s.at(1, 1), rgb(3, 1, 1));
  EXPECT_EQ(s.at(2, 1), rgb(9, 9, 9));
  EXPECT_EQ(s.at(2, 0), rgb(21, 0, 0));
  EXPECT_EQ(s.at(3, 0), rgb(22, 0, 0));
}

TEST(DecoderLists, InterframeChromaRleAndTheirMaps) {
  Stream s(8, 4, kV4 | stream_flag::kChroma);
  std::vector<uint16_t> bg(32);
  for (int i = 0; i < 32; ++i) bg[size_t(i)] = uint16_t(i * 1000 & 0x7FFF);
  s.dec.setBackground(bg.data(), PixelKind::Rgb555);
  ASSERT_EQ(s.decode(rleKey(rgb(3, 3, 3), 8, 4)), DecodeStatus::Ok);
  FrameSpec f;
  f.key = false;
  f.interframe.push_back({0, 4, 2});
  f.chroma.push_back({4, 2, 3});
  f.rle.push_back({2 * 8, 3, 2, rgb(31, 0, 0)});
  f.residuals = false;
  ASSERT_EQ(s.decode(f), DecodeStatus::Ok) << s.dec.lastFrame().fault;
  const FrameInfo& info = s.dec.lastFrame();
  EXPECT_EQ(info.shortEntries[0], 1);
  EXPECT_EQ(info.shortEntries[1], 1);
  EXPECT_EQ(info.shortEntries[2], 1);
  EXPECT_FALSE(info.present[3]);
  EXPECT_EQ(s.at(0, 0), rgb(3, 3, 3));
  EXPECT_EQ(s.at(4, 1), bg[12]);
  EXPECT_EQ(s.at(5, 2), bg[21]);
  EXPECT_EQ(s.at(2, 3), rgb(31, 0, 0));
  EXPECT_EQ(s.at(7, 3), rgb(3, 3, 3));
  const uint8_t* um = s.dec.unchangedMap();
  const uint8_t* bm = s.dec.blockMap();
  EXPECT_EQ(um[0], 4);
  EXPECT_EQ(um[8], 4);
  EXPECT_EQ(um[4], 0);  // Chroma blocks change pixels
  EXPECT_EQ(bm[4], 2);
  EXPECT_EQ(bm[5], 0);
  EXPECT_EQ(bm[20], 2);
  EXPECT_EQ(bm[16], 3);
  EXPECT_TRUE(s.dec.unchangedMapMaintained());
}

TEST(DecoderLists, TheNextFrameClearsTheMapsOfTheLast) {
  // Blocks in most lines of the maps (cleared whole), in most of the block map's but few of the
  // unchanged map's, and in few of either (cleared block row by block row).
  for (const auto& [w, h] : {std::pair{8, 4}, std::pair{16, 64}, std::pair{640, 480}}) {
    Stream s(w, h, kV4);
    FrameSpec key;
    key.residuals = false;
    ASSERT_EQ(s.decode(key), DecodeStatus::Ok);
    FrameSpec f;
    f.key = false;
    f.interframe.push_back({0, 4, 2});
    f.rle.push_back({uint32_t(2 * w), 3, std::min(h - 2, 200), rgb(31, 0, 0)});
    f.residuals = false;
    ASSERT_EQ(s.decode(f), DecodeStatus::Ok) << s.dec.lastFrame().fault;
    ASSERT_EQ(s.dec.unchangedMap()[w], 4);
    FrameSpec g = f;
    g.interframe.clear();
    g.rle = {{uint32_t(w + 4), 2, 1, rgb(1, 1, 1)}};
    ASSERT_EQ(s.decode(g), DecodeStatus::Ok) << s.dec.lastFrame().fault;
    for (int i = 0; i < w * h; ++i) {
      ASSERT_EQ(s.dec.blockMap()[i], i == w + 4 ? 2 : 0) << w << " " << i;
      ASSERT_EQ(s.dec.unchangedMap()[i], 0) << w << " " << i;
    }
  }
}

TEST(DecoderLists, LongEntriesAndSegmentsOfA640x480Stream) {
  // 38 segments per list; a block in the last segment and a long block across many rows.
  Stream s(640, 480, kV4);
  FrameSpec f;
  f.rle.push_back({0, 640, 200, rgb(1, 1, 1)});
  f.rle.push_back({200 * 640, 640, 255, rgb(2, 2, 2)});
  f.rle.push_back({455 * 640, 300, 25, rgb(3, 3, 3)});
  f.rle.push_back({455 * 640 + 300, 200, 25, rgb(4, 4, 4)});
  f.rle.push_back({455 * 640 + 500, 140, 25, rgb(5, 5, 5)});
  f.residuals = false;
  ASSERT_EQ(s.decode(f), DecodeStatus::Ok) << s.dec.lastFrame().fault;
  EXPECT_EQ(s.dec.lastFrame().longEntries[2], 5);
  // 8 header bits, 38 segments of two counts, 5 long entries of 13 + 16 + 15, NSYM.
  EXPECT_EQ(s.dec.lastFrame().bitsRead, 8u + 38 * 16 + 5 * 44 + 4);
  EXPECT_EQ(s.at(639, 479), rgb(5, 5, 5));
  EXPECT_EQ(s.at(0, 300), rgb(2, 2, 2));
}

TEST(DecoderLists, PreV4ListsUsePositionBitsOfTheArea) {
  // 320 x 240: 17 position bits, 12-bit counts, no segments; the stream's LBOX and ENPY flags.
  const uint32_t format = kZov2Tag | 2 | stream_flag::kLbox | stream_flag::kEnpy;
  Stream s(320, 240, format);
  test::FrameWriter probe(320, 240, format);
  EXPECT_EQ(probe.positionBits(), 17);
  EXPECT_EQ(test::FrameWriter(640, 480, 0).positionBits(), 19);
  EXPECT_EQ(test::FrameWriter(160, 120, 0).positionBits(), 15);
  EXPECT_EQ(test::FrameWriter(160, 120, stream_flag::kSField).positionBits(), 14);
  FrameSpec f;
  f.top = 10;
  f.bottom = 20;
  f.rle.push_back({0, 160, 210, rgb(7, 7, 7)});
  f.rle.push_back({160, 160, 210, rgb(7, 7, 7)});
  f.residuals = false;
  ASSERT_EQ(s.decode(f), DecodeStatus::Ok) << s.dec.lastFrame().fault;
  EXPECT_EQ(s.dec.scheme(), Scheme::Yc411);
  EXPECT_TRUE(s.dec.enpy());
  EXPECT_EQ(s.dec.bottomMargin(), 20);
  EXPECT_EQ(s.dec.topMargin(), 10);
  EXPECT_EQ(s.at(0, 19), 0);
  EXPECT_EQ(s.at(0, 20), rgb(7, 7, 7));
  EXPECT_EQ(s.at(319, 229), rgb(7, 7, 7));
  EXPECT_EQ(s.at(0, 230), 0);
  // 1 + 16 header bits, Rle: 24 + 2 x (17 + 16 + 15), Entropy: 24, NSYM 4.
  EXPECT_EQ(s.dec.lastFrame().bitsRead, 17u + 24 + 96 + 24 + 4);
}

TEST(DecoderHeader, LetterboxChangesAndTheUnchangedMapOfTheMargins) {
  Stream s(300, 10, kV4);
  FrameSpec f = rleKey(rgb(1, 0, 0), 300, 7);
  f.lbox = true;
  f.top = 1;
  f.bottom = 2;
  ASSERT_EQ(s.decode(f), DecodeStatus::Ok) << s.dec.lastFrame().fault;
  EXPECT_TRUE(s.dec.letterboxSet());
  EXPECT_EQ(s.dec.activeHeight(), 7);
  const uint8_t* um = s.dec.unchangedMap();
  for (int row : {0, 1, 9}) {
    EXPECT_EQ(um[row * 300], 255);
    EXPECT_EQ(um[row * 300 + 255], 45);
    EXPECT_EQ(um[row * 300 + 1], 0);
  }
  EXPECT_EQ(um[2 * 300], 0);
  EXPECT_EQ(s.at(0, 1), 0);  // margins are never written
  EXPECT_EQ(s.at(0, 2), rgb(1, 0, 0));
  // The same fields again change nothing.
  ASSERT_EQ(s.decode(f), DecodeStatus::Ok);
  EXPECT_FALSE(s.dec.letterboxSet());
  // A non-key frame keeps the letterbox.
  FrameSpec inter;
  inter.key = false;
  inter.residuals = false;
  inter.interframe.push_back({0, 255, 7});
  ASSERT_EQ(s.decode(inter), DecodeStatus::Ok) << s.dec.lastFrame().fault;
  EXPECT_EQ(s.dec.bottomMargin(), 2);
  // A key frame without LBOX restores the full picture.
  ASSERT_EQ(s.decode(rleKey(rgb(0, 1, 0), 300, 10)), DecodeStatus::Ok);
  EXPECT_TRUE(s.dec.letterboxRemoved());
  EXPECT_EQ(s.dec.activeHeight(), 10);
  EXPECT_EQ(s.at(0, 0), rgb(0, 1, 0));
  EXPECT_EQ(um[0], 0);
}

TEST(DecoderHeader, NonKeyFramesKeepSchemeAndFlags) {
  Stream s(4, 4, kV4);
  FrameSpec f = rleKey(rgb(1, 1, 1), 4, 4);
  f.scheme = Scheme::Yc811;
  f.edge = true;
  f.enpy = true;
  ASSERT_EQ(s.decode(f), DecodeStatus::Ok);
  FrameSpec g;
  g.key = false;
  g.enpy = true;  // the Entropy list is present in the following frames
  g.residuals = false;
  ASSERT_EQ(s.decode(g), DecodeStatus::Ok) << s.dec.lastFrame().fault;
  EXPECT_EQ(s.dec.scheme(), Scheme::Yc811);
  EXPECT_TRUE(s.dec.edge());
  EXPECT_TRUE(s.dec.lastFrame().present[3]);
  EXPECT_EQ(s.dec.lastFrame().bitsRead, 1u + 16 * 3 + 4);
}

TEST(DecoderSField, BlocksCountCodedRows) {
  // A block of height 3 at coded row 1 covers picture rows 3, 5 and 7.
  Stream s(4, 10, kV4 | stream_flag::kSField);
  FrameSpec f;
  f.rle.push_back({4, 2, 3, rgb(5, 5, 5)});
  f.residuals = false;
  ASSERT_EQ(s.decode(f), DecodeStatus::Ok) << s.dec.lastFrame().fault;
  for (int row = 0; row < 10; ++row)
    EXPECT_EQ(s.at(0, row), (row == 3 || row == 5 || row == 7) ? rgb(5, 5, 5) : 0) << row;
}

TEST(DecoderSingleField, PartTwoRowsKeepTheirValues) {
  DecoderOptions opt;
  opt.singleField = true;
  Stream s(2, 2, kV4, opt);
  ASSERT_EQ(s.decode(rleKey(rgb(9, 9, 9), 2, 2)), DecodeStatus::Ok);
  FrameSpec f;
  f.seed = rgb(1, 1, 1);
  f.part1 = {8, 7, 7, 8, 7, 7};  // column pass row 1, row 1 column 1
  f.part2 = {8, 7, 7};           // row 0 column 1: not decoded
  ASSERT_EQ(s.decode(f), DecodeStatus::Ok) << s.dec.lastFrame().fault;
  EXPECT_EQ(s.at(0, 1), rgb(2, 1, 1));
  EXPECT_EQ(s.at(1, 1), rgb(3, 1, 1));
  EXPECT_EQ(s.at(1, 0), rgb(9, 9, 9));
}

TEST(DecoderBackground, EmbeddedInTheFirstChunk) {
  const uint32_t format = kV4 | stream_flag::kChroma;
  Stream s(4, 2, format);
  // Background: a key frame of one colour.
  auto background = buildFrame(4, 2, format, rleKey(rgb(0, 31, 0), 4, 2));
  FrameSpec f;
  f.chroma.push_back({0, 2, 2});
  f.rle.push_back({2, 2, 2, rgb(31, 0, 0)});
  f.residuals = false;
  auto own = buildFrame(4, 2, format, f);
  std::vector<uint8_t> chunk = own;
  chunk.insert(chunk.end(), background.begin(), background.end());
  const uint32_t offset = uint32_t(own.size());
  for (int i = 0; i < 4; ++i) chunk.push_back(uint8_t(offset >> (8 * i)));
  size_t part = 0;
  ASSERT_TRUE(s.dec.loadEmbeddedBackground(chunk.data(), chunk.size(), &part));
  EXPECT_EQ(part, own.size());
  EXPECT_TRUE(s.dec.hasBackground());
  ASSERT_EQ(s.dec.decodeFrame(chunk.data(), part), DecodeStatus::Ok);
  EXPECT_EQ(s.at(0, 0), rgb(0, 31, 0));
  EXPECT_EQ(s.at(1, 1), rgb(0, 31, 0));
  EXPECT_EQ(s.at(2, 0), rgb(31, 0, 0));
  // An offset beyond the chunk is refused.
  chunk[chunk.size() - 1] = 0x7F;
  EXPECT_FALSE(s.dec.loadEmbeddedBackground(chunk.data(), chunk.size(), &part));
}

TEST(DecoderBackground, Chroma1stTakesTheFirstDecodedPicture) {
  const uint32_t format = kV4 | stream_flag::kChroma1st;
  Stream s(4, 2, format);
  EXPECT_TRUE(s.dec.usesBackground());
  ASSERT_EQ(s.decode(rleKey(rgb(0, 0, 31), 4, 2)), DecodeStatus::Ok);
  EXPECT_TRUE(s.dec.hasBackground());
  ASSERT_EQ(s.decode(rleKey(rgb(1, 1, 1), 4, 2)), DecodeStatus::Ok);
  FrameSpec f;
  f.key = false;
  f.chroma.push_back({0, 4, 2});
  f.residuals = false;
  ASSERT_EQ(s.decode(f), DecodeStatus::Ok);
  EXPECT_EQ(s.at(3, 1), rgb(0, 0, 31));
}

TEST(DecoderPixelKind, Rle565AndConversionOnOptionChange) {
  DecoderOptions opt;
  opt.pixelKind = PixelKind::Rgb565;
  Stream s(2, 1, kV4, opt);
  ASSERT_EQ(s.decode(rleKey(rgb(31, 17, 3), 2, 1)), DecodeStatus::Ok);
  EXPECT_EQ(s.at(0, 0), to565(rgb(31, 17, 3)));
  opt.pixelKind = PixelKind::Rgb555;
  s.dec.setOptions(opt);
  EXPECT_EQ(s.at(1, 0), rgb(31, 17, 3));
}

TEST(DecoderPostFilter, RunsOn811WithInterpolateAndChangesOnlyBlue) {
  DecoderOptions opt;
  opt.interpolate = true;
  Stream s(8, 1, kV4, opt);
  FrameSpec f;
  f.scheme = Scheme::Yc811;
  f.residuals = false;
  for (int x = 0; x < 8; ++x)
    f.rle.push_back({uint32_t(x), 1, 1, x == 4 ? rgb(0, 0, 20) : rgb(2, 2, 2)});
  ASSERT_EQ(s.decode(f), DecodeStatus::Ok) << s.dec.lastFrame().fault;
  EXPECT_TRUE(s.dec.postFilterActive());
  EXPECT_FALSE(s.dec.unchangedMapMaintained());
  const uint16_t* out = s.dec.outputPicture();
  EXPECT_EQ(s.at(4, 0), rgb(0, 0, 20));  // the picture is the reference and stays
  // Pair (2, 3): the next pair's first pixel is bluish, so its blues become (2 + 20) / 2.
  EXPECT_EQ(out[2], rgb(2, 2, 11));
  EXPECT_EQ(out[3], rgb(2, 2, 11));
  EXPECT_EQ(out[0], rgb(2, 2, 2));  // the first pair is copied
  EXPECT_EQ(out[6], rgb(2, 2, 2));  // the last pair has no next pair
  for (int x = 0; x < 8; ++x) EXPECT_EQ(out[x] & ~31, s.at(x, 0) & ~31);
  // Switched on between frames, the filtered picture is ready at once.
  opt.interpolate = false;
  s.dec.setOptions(opt);
  EXPECT_EQ(s.dec.outputPicture(), s.dec.picture());
  opt.interpolate = true;
  s.dec.setOptions(opt);
  EXPECT_EQ(s.dec.outputPicture()[2], rgb(2, 2, 11));
  // Off for other schemes and under the single-field method.
  f.scheme = Scheme::Yc411;
  ASSERT_EQ(s.decode(f), DecodeStatus::Ok);
  EXPECT_FALSE(s.dec.postFilterActive());
  opt.singleField = true;
  s.dec.setOptions(opt);
  f.scheme = Scheme::Yc1611;
  ASSERT_EQ(s.decode(f), DecodeStatus::Ok);
  EXPECT_FALSE(s.dec.postFilterActive());
}

TEST(DecoderEntropy, InterpolatesHalfTheLuminanceSamples) {
  // 422, one odd row (row 1) of width 6: an Entropy run over columns 1-5. Odd rows code even
  // columns: 2 and 4 are coded (full pixels), 1 and 3 interpolated, 5 interpolated but last
  // with nothing after it, so coded instead.
  const ColourTables& t = colourTables(PixelKind::Rgb555);
  Stream s(6, 2, kV4);
  FrameSpec f;
  f.scheme = Scheme::Yc422;
  f.enpy = true;
  f.rle.push_back({0, 6, 1, rgb(0, 0, 0)});  // row 0 all covered
  f.entropy.push_back({7, 5, 1});
  f.seed.reset();
  // Column pass row 1 (full, Y +4), then column 2 (Y +6 from column 0's value), column 4
  // (Y +2), column 5 (Y +2), colour differences unchanged.
  f.part1 = {11, 7, 7, 13, 7, 7, 9, 7, 7, 9, 7, 7};
  ASSERT_EQ(s.decode(f), DecodeStatus::Ok) << s.dec.lastFrame().fault;
  const uint32_t y0 = t.rgbToYc[0];
  auto withY = [&](int dy) { return t.ycToRgb[y0 + uint32_t(dy) * 4096]; };
  EXPECT_EQ(s.at(0, 1), withY(4));
  EXPECT_EQ(s.at(2, 1), withY(10));
  EXPECT_EQ(s.at(1, 1), withY(7));  // 4 + (10 - 4) / 2
  EXPECT_EQ(s.at(4, 1), withY(12));
  EXPECT_EQ(s.at(3, 1), withY(11));
  EXPECT_EQ(s.at(5, 1), withY(14));
}

TEST(DecoderEntropy, AnInterpolatedLastPixelTakesTheUncoveredPixelAfterItsRun) {
  // 422, width 8, an Entropy run over columns 1-5 of the odd row 1, columns 6 and 7 uncovered.
  // Column 5 reads nothing: column 6 is decoded first (a full pixel, from column 4's value) and
  // is its right neighbour; column 7 continues from column 6.
  const ColourTables& t = colourTables(PixelKind::Rgb555);
  Stream s(8, 2, kV4);
  FrameSpec f;
  f.scheme = Scheme::Yc422;
  f.enpy = true;
  f.rle.push_back({0, 8, 1, rgb(0, 0, 0)});
  f.entropy.push_back({9, 5, 1});
  f.seed.reset();
  // Column pass (Y +4), column 2 (Y +6), column 4 (+2), column 6 (+2), column 7 (Y +1).
  f.part1 = {11, 7, 7, 13, 7, 7, 9, 7, 7, 9, 7, 7, 8};
  ASSERT_EQ(s.decode(f), DecodeStatus::Ok) << s.dec.lastFrame().fault;
  const uint32_t y0 = t.rgbToYc[0];
  auto withY = [&](int dy) { return t.ycToRgb[y0 + uint32_t(dy) * 4096]; };
  EXPECT_EQ(s.at(4, 1), withY(12));
  EXPECT_EQ(s.at(6, 1), withY(14));
  EXPECT_EQ(s.at(5, 1), withY(13));  // 12 + (14 - 12) / 2
  EXPECT_EQ(s.at(7, 1), withY(15));
}

TEST(DecoderEntropy, EveryCodedRowOfAnSFieldStreamIsAnOddRow) {
  // SField, 422: coded row 0 (picture row 1) holds an Entropy run over columns 1-5 after a
  // covered column 0. As an odd row it codes the even columns 2 and 4 (and the last column 5).
  const ColourTables& t = colourTables(PixelKind::Rgb555);
  Stream s(6, 4, kV4 | stream_flag::kSField);
  FrameSpec f;
  f.scheme = Scheme::Yc422;
  f.enpy = true;
  f.rle.push_back({0, 1, 1, rgb(0, 0, 0)});
  f.rle.push_back({6, 6, 1, rgb(0, 0, 0)});
  f.entropy.push_back({1, 5, 1});
  f.seed.reset();
  f.part1 = {13, 7, 7, 9, 7, 7, 9, 7, 7};  // columns 2 (Y +6), 4 (+2), 5 (+2)
  ASSERT_EQ(s.decode(f), DecodeStatus::Ok) << s.dec.lastFrame().fault;
  const uint32_t y0 = t.rgbToYc[0];
  auto withY = [&](int dy) { return t.ycToRgb[y0 + uint32_t(dy) * 4096]; };
  EXPECT_EQ(s.at(1, 1), withY(3));
  EXPECT_EQ(s.at(2, 1), withY(6));
  EXPECT_EQ(s.at(3, 1), withY(7));
  EXPECT_EQ(s.at(4, 1), withY(8));
  EXPECT_EQ(s.at(5, 1), withY(10));
}

}  // namespace
}  // namespace zov

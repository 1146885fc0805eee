#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <vector>

#include "format/output_stage.h"
#include "format/palette.h"

namespace zov {
namespace {

constexpr uint16_t kWhite = 0x7FFF, kBlack = 0;
constexpr uint16_t kRed = 0x7C00, kGreen = 0x03E0, kBlue = 0x001F;

struct Out {
  OutputStage stage;
  std::vector<uint8_t> dest;
};

// Writes a bottom-up picture with the method, neutral curve unless given.
Out render(int method, int w, int h, const std::vector<uint16_t>& pic,
           PixelKind kind = PixelKind::Rgb555, Curve curve = makeCurve(40, 0),
           bool topDown = false) {
  Out o;
  OutputLayout l;
  l.width = w;
  l.height = h;
  EXPECT_TRUE(o.stage.setup(method, l, kind, topDown, 0, curve));
  o.dest.assign(o.stage.geometry().requiredBytes(), 0xEE);
  o.stage.writeFullFrame({pic.data()}, o.dest.data());
  return o;
}

uint16_t px16(const Out& o, int x, int line) {
  const auto& g = o.stage.geometry();
  uint16_t v;
  std::memcpy(&v, o.dest.data() + line * g.pitch + 2 * x, 2);
  return v;
}
uint8_t px8(const Out& o, int x, int line) {
  return o.dest[line * o.stage.geometry().pitch + x];
}

TEST(Enlarge, Pattern2x2DrawsPrimariesAndFullColour) {
  Out white = render(5, 1, 1, {kWhite});
  EXPECT_EQ(px16(white, 0, 0), kRed);
  EXPECT_EQ(px16(white, 1, 0), kGreen);
  EXPECT_EQ(px16(white, 0, 1), kWhite);
  EXPECT_EQ(px16(white, 1, 1), kBlue);
  Out black = render(5, 1, 1, {kBlack});
  for (int i = 0; i < 4; ++i) EXPECT_EQ(px16(black, i & 1, i >> 1), 0);

  Out w565 = render(5, 1, 1, {to565(kWhite)}, PixelKind::Rgb565);
  EXPECT_EQ(px16(w565, 0, 0), 0xF800);
  EXPECT_EQ(px16(w565, 1, 0), 0x07C0) << "5-6-5 green with its low bit 0";
  EXPECT_EQ(px16(w565, 1, 1), 0x001F);
}

TEST(Enlarge, Pattern3x3AlternatesBlocksLikeAChessBoard) {
  const int w = 4, h = 3;
  std::vector<uint16_t> pic(w * h, kWhite);
  Out o = render(6, w, h, pic);
  // Block A has a full-colour first line; block B starts with red, green, blue.
  auto isA = [&](int x, int row) { return px16(o, 3 * x + 1, 3 * row) == kWhite; };
  for (int row = 0; row < h; ++row) {
    for (int x = 0; x < w; ++x) {
      if (x + 1 < w) {
        EXPECT_NE(isA(x, row), isA(x + 1, row)) << "row " << row << " col " << x;
      }
      if (row + 1 < h) {
        EXPECT_NE(isA(x, row), isA(x, row + 1)) << "row " << row << " col " << x;
      }
    }
  }
  // Three rows to write at the first row written (odd): block A at odd columns.
  EXPECT_FALSE(isA(0, 0));
  EXPECT_EQ(px16(o, 0, 0), kRed);
  EXPECT_EQ(px16(o, 1, 0), kGreen);
  EXPECT_EQ(px16(o, 2, 0), kBlue);
  EXPECT_EQ(px16(o, 1, 1), kWhite);
  EXPECT_EQ(px16(o, 2, 2), kBlue);
  EXPECT_TRUE(isA(1, 0));
  EXPECT_EQ(px16(o, 4, 1), kGreen) << "block A's middle line holds the primaries";
}

TEST(Enlarge, PixelEnlargementRepeatsThePixelOrItsCurvedColour) {
  Out o = render(3, 2, 1, {0x1234 & 0x7FFF, kRed});
  for (int line = 0; line < 2; ++line) {
    EXPECT_EQ(px16(o, 0, line), 0x1234);
    EXPECT_EQ(px16(o, 1, line), 0x1234);
    EXPECT_EQ(px16(o, 3, line), kRed);
  }
  Out bright = render(3, 1, 1, {0}, PixelKind::Rgb555, makeCurve(40, 3));
  EXPECT_EQ(px16(bright, 1, 1), 3 << 10 | 3 << 5 | 3);
}

TEST(Enlarge, HorizontalLinesAverageNeighboursOnEveryOtherLine) {
  // Red 10 and red 21: the average 15.5 rounds up to 16.
  Out o = render(4, 2, 1, {10 << 10, 21 << 10});
  EXPECT_EQ(px16(o, 0, 1), 10 << 10);
  EXPECT_EQ(px16(o, 1, 1), 16 << 10);
  EXPECT_EQ(px16(o, 2, 1), 21 << 10);
  EXPECT_EQ(px16(o, 3, 1), 21 << 10) << "the last column repeats its pixel";
  EXPECT_EQ(px16(o, 0, 0), 0xEEEE) << "the other line is left to the caller";
}

TEST(Enlarge, EightBitPatternsOfMethods7And11) {
  Out w7 = render(7, 1, 1, {kWhite});
  EXPECT_EQ(px8(w7, 0, 0), 41 + 31);  // green dot
  EXPECT_EQ(px8(w7, 1, 0), 72 + 31);  // blue dot
  EXPECT_EQ(px8(w7, 0, 1), 10 + 31);  // red dot
  EXPECT_EQ(px8(w7, 1, 1), 41 + 31);
  Out red7 = render(7, 1, 1, {kRed});
  EXPECT_EQ(px8(red7, 0, 0), 10) << "a green dot of level 0 is black";
  EXPECT_EQ(px8(red7, 1, 0), 10);
  EXPECT_EQ(px8(red7, 0, 1), 41);

  Out w11 = render(11, 1, 1, {kWhite});  // grey level c64[62] = 62
  EXPECT_EQ(px8(w11, 0, 0), 10 + 62);
  EXPECT_EQ(px8(w11, 1, 0), 199 + 31);
  EXPECT_EQ(px8(w11, 0, 1), 73 + 62);
  EXPECT_EQ(px8(w11, 1, 1), 136 + 62);
  Out b11 = render(11, 1, 1, {kBlack});
  for (int i = 0; i < 4; ++i) EXPECT_EQ(px8(b11, i & 1, i >> 1), 10);
  Out dim = render(11, 1, 1, {0x0001 << 5});  // green 1: level (118 / 100) = 1, blue 1/2 = 0
  EXPECT_EQ(px8(dim, 1, 0), 10) << "a blue dot of level 0 is black";
  EXPECT_EQ(px8(dim, 0, 0), 11);
}

TEST(Enlarge, EightBit3x3DotsAndGreyEnlargement) {
  Out o8 = render(8, 1, 1, {kWhite});
  for (int line = 0; line < 3; ++line) {
    std::set<int> inLine;
    for (int x = 0; x < 3; ++x) inLine.insert(px8(o8, x, line));
    EXPECT_EQ(inLine, (std::set<int>{41, 72, 103})) << "one dot of each primary per line";
  }
  Out b12 = render(12, 1, 1, {kBlack});
  for (int i = 0; i < 9; ++i) EXPECT_EQ(px8(b12, i % 3, i / 3), 10);
  Out w12 = render(12, 1, 1, {kWhite});
  std::set<int> dots;
  for (int i = 0; i < 9; ++i) dots.insert(px8(w12, i % 3, i / 3));
  EXPECT_EQ(dots, (std::set<int>{10 + 62, 73 + 62, 136 + 62}));

  Out g10 = render(10, 1, 1, {kWhite});
  for (int i = 0; i < 4; ++i) EXPECT_EQ(px8(g10, i & 1, i >> 1), 72);
  // Grey index of pure green 31: 10 + (118 * 31) / 100 = 10 + 36.
  Out g9 = render(9, 1, 1, {kGreen});
  EXPECT_EQ(px8(g9, 0, 0), 46);
}

TEST(Enlarge, PackedYuvOrdersAndValues) {
  // White: Y = 8000 * 31 / 1000 = 248, U = V = 128. Blue: Y 28, U 252, V 107.
  Out y = render(14, 2, 1, {kWhite, kBlue});
  EXPECT_EQ(y.dest[0], 248);
  EXPECT_EQ(y.dest[1], 252) << "U of the pair's second pixel";
  EXPECT_EQ(y.dest[2], 28);
  EXPECT_EQ(y.dest[3], 107);
  Out u = render(15, 2, 1, {kWhite, kBlue});
  EXPECT_EQ(u.dest[0], 252);
  EXPECT_EQ(u.dest[1], 248);
  EXPECT_EQ(u.dest[2], 107);
  EXPECT_EQ(u.dest[3], 28);
  Out black = render(14, 1, 1, {kBlack});  // an odd last pixel: Y and U only
  EXPECT_EQ(black.dest[0], 0);
  EXPECT_EQ(black.dest[1], 128);
}

TEST(Enlarge, DiagnosticViewMarksEachList) {
  const int w = 8;
  std::vector<uint16_t> pic(w, kWhite);
  std::vector<uint8_t> unchanged(w, 0), blocks(w, 0), entropy(w, 0);
  unchanged[0] = 2, blocks[0] = 2;
  blocks[2] = 2;
  blocks[4] = 3, entropy[4] = 1;
  OutputStage s;
  OutputLayout l{w, 1};
  ASSERT_TRUE(s.setup(13, l, PixelKind::Rgb555, false, 0, makeCurve(40, 0)));
  std::vector<uint8_t> d(s.geometry().requiredBytes());
  s.writeFullFrame({pic.data(), unchanged.data(), blocks.data(), entropy.data()}, d.data());
  auto at = [&](int x) { return uint16_t(d[2 * x] | d[2 * x + 1] << 8); };
  EXPECT_EQ(at(0), 0x3DEF) << "Interframe blocks at half brightness";
  EXPECT_EQ(at(1), 0x3DEF);
  EXPECT_EQ(at(2), 15 << 10 | 31 << 5 | 15) << "solid and background blocks tinted green";
  EXPECT_EQ(at(4), 31 << 10 | 15 << 5 | 31) << "Entropy blocks tinted magenta";
  EXPECT_EQ(at(6), 31 << 10 | 15 << 5 | 31);
  EXPECT_EQ(at(7), kWhite) << "coded pixels as they are";
}

}  // namespace
}  // namespace zov

namespace zov {
namespace {

// Brightness reaches every method through its tables: at the lowest offset every method shows
// black, whatever the colour.
TEST(Enlarge, EveryMethodGoesThroughTheCurve) {
  const Curve black = makeCurve(40, -64);
  for (int method = 0; method < kOutputMethods; ++method) {
    if (method == 2) continue;  // WField streams only; method 0 covers the same tables
    for (uint16_t colour : {kWhite, kRed, uint16_t(0x2D6B)}) {
      Out o = render(method, 2, 1, {colour, colour}, PixelKind::Rgb555, black);
      const OutputGeometry& g = o.stage.geometry();
      for (int line = 0; line < g.destHeight; ++line) {
        if (method == 1 || (method == 4 && line == 0)) continue;  // lines never written
        for (int x = 0; x < g.destWidth; ++x) {
          const uint8_t* p = o.dest.data() + line * g.pitch + x * g.bytesPerPixel;
          switch (g.pixels) {
            case DestPixels::Rgb16:
              ASSERT_EQ(p[0] | p[1] << 8, 0) << "method " << method;
              break;
            case DestPixels::Palette8:
              ASSERT_EQ(p[0], 10) << "method " << method;
              break;
            default: {
              const bool luma = g.pixels == DestPixels::Yuy2;  // Y first in YUY2, second in UYVY
              ASSERT_EQ(p[luma ? 0 : 1], 0) << "method " << method;
              ASSERT_EQ(p[luma ? 1 : 0], 128) << "method " << method;
            }
          }
        }
      }
    }
  }
}

}  // namespace
}  // namespace zov

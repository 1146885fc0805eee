#include <gtest/gtest.h>

#include "format/output_tables.h"
#include "format/palette.h"

namespace zov {
namespace {

PaletteEntry lv(int r, int g, int b) {
  return PaletteEntry{uint8_t(4 * b + 1), uint8_t(4 * g + 1), uint8_t(4 * r + 1), 0};
}

// Distinct static colours so that misplaced copies show.
StaticColours testStatics() {
  StaticColours s{};
  for (int i = 0; i < 20; ++i)
    s[i] = PaletteEntry{uint8_t(i), uint8_t(100 + i), uint8_t(200 + i), 0};
  return s;
}

void expectStatics(const Palette& p) {
  const StaticColours s = testStatics();
  for (int i = 0; i < 10; ++i) EXPECT_EQ(p[i], s[i]) << "entry " << i;
  for (int i = 0; i < 10; ++i) EXPECT_EQ(p[246 + i], s[10 + i]) << "entry " << 246 + i;
}

void expectZero(const Palette& p, int from, int to) {
  for (int i = from; i <= to; ++i) EXPECT_EQ(p[i], PaletteEntry{}) << "entry " << i << " stays 0";
}

TEST(Palette, Method7HasTheNonUniformRamps) {
  Palette p = methodPalette(7, testStatics());
  expectStatics(p);
  EXPECT_EQ(p[10], lv(0, 0, 0));
  const int redBlue[] = {2, 4, 8, 10, 14, 16, 18};
  for (int i = 0; i < 7; ++i) {
    EXPECT_EQ(p[11 + i], lv(redBlue[i], 0, 0));
    EXPECT_EQ(p[73 + i], lv(0, 0, redBlue[i]));
  }
  EXPECT_EQ(p[38], lv(60, 0, 0));
  EXPECT_EQ(p[41], lv(63, 0, 0));
  EXPECT_EQ(p[103], lv(0, 0, 63));
  const int green[] = {1, 3, 5, 6, 8, 10};
  for (int i = 0; i < 6; ++i) EXPECT_EQ(p[42 + i], lv(0, green[i], 0));
  EXPECT_EQ(p[71], lv(0, 58, 0));
  EXPECT_EQ(p[72], lv(0, 60, 0));
  EXPECT_EQ(p[104], lv(20, 20, 20));
  EXPECT_EQ(p[105], lv(44, 44, 44));
  EXPECT_EQ(p[106], lv(63, 63, 63));
  expectZero(p, 107, 245);
}

TEST(Palette, Method8HasLinearRamps) {
  Palette p = methodPalette(8, testStatics());
  expectStatics(p);
  for (int i = 0; i < 31; ++i) {
    EXPECT_EQ(p[11 + i], lv(2 * (i + 1), 0, 0));
    EXPECT_EQ(p[42 + i], lv(0, 2 * (i + 1), 0));
    EXPECT_EQ(p[73 + i], lv(0, 0, 2 * (i + 1)));
  }
  EXPECT_EQ(p[106], lv(63, 63, 63));
  expectZero(p, 107, 245);
}

TEST(Palette, GreyAndPrimaryLayoutsOfMethods9To12) {
  for (int m : {9, 10}) {
    Palette p = methodPalette(m, testStatics());
    expectStatics(p);
    for (int v = 0; v < 64; ++v) EXPECT_EQ(p[10 + v], lv(v, v, v));
    expectZero(p, 74, 245);
  }
  Palette p11 = methodPalette(11, testStatics());
  for (int v = 0; v < 64; ++v) EXPECT_EQ(p11[10 + v], lv(v, v, v));
  for (int v = 1; v < 64; ++v) EXPECT_EQ(p11[73 + v], lv(v, 0, 0));
  for (int v = 1; v < 64; ++v) EXPECT_EQ(p11[136 + v], lv(0, v, 0));
  for (int v = 1; v < 32; ++v) EXPECT_EQ(p11[199 + v], lv(0, 0, v));
  expectZero(p11, 231, 245);

  Palette p12 = methodPalette(12, testStatics());
  expectStatics(p12);
  EXPECT_EQ(p12[10], lv(0, 0, 0));
  for (int v = 1; v < 64; ++v) {
    EXPECT_EQ(p12[10 + v], lv(v, 0, 0));
    EXPECT_EQ(p12[73 + v], lv(0, v, 0));
    EXPECT_EQ(p12[136 + v], lv(0, 0, v));
  }
  EXPECT_EQ(p12[200], lv(20, 20, 20));
  EXPECT_EQ(p12[202], lv(63, 63, 63));
  expectZero(p12, 203, 245);
}

TEST(Palette, SixteenBitMethodsHaveOnlyStaticColours) {
  Palette p = methodPalette(5, testStatics());
  expectStatics(p);
  expectZero(p, 10, 245);
}

// Every dot index a method's tables produce must name a palette entry of the right primary.
TEST(Palette, PatternDotsFallOnTheirRamps) {
  const Curve c = makeCurve(40, 0);
  for (int method : {7, 8, 11, 12}) {
    Palette p = methodPalette(method, defaultStaticColours());
    for (int colour = 0; colour < 32768; colour += 7) {
      Rgb5 rgb = components(static_cast<uint16_t>(colour), PixelKind::Rgb555);
      std::vector<uint8_t> dots;
      if (method == 7 || method == 11) {
        auto d = dots4For(method, rgb, c);
        dots.assign(d.begin(), d.end());
      } else {
        auto d = dots3For(method, rgb, c);
        dots.assign(d.begin(), d.end());
      }
      for (uint8_t index : dots) {
        ASSERT_GE(index, 10) << "method " << method << " colour " << colour;
        ASSERT_LE(index, 230);
        const PaletteEntry& e = p[index];
        int lit = (e.red > 1) + (e.green > 1) + (e.blue > 1);
        ASSERT_TRUE(lit <= 1 || (e.red == e.green && e.green == e.blue))
            << "method " << method << " index " << int(index) << " is neither primary nor grey";
      }
    }
  }
}

}  // namespace
}  // namespace zov

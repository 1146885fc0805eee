#include <gtest/gtest.h>

#include "format/gamma.h"

namespace zov {
namespace {

TEST(Gamma, QuotedRowsAreReproducedExactly) {
  const std::array<uint8_t, 32> row0 = {0, 0, 1, 1, 1, 2,  2,  3,  3,  3,  4,  4,  5,  5,  6,  6,
                                        7, 7, 8, 8, 9, 10, 10, 11, 12, 13, 14, 15, 16, 17, 19, 22};
  const std::array<uint8_t, 32> row80 = {9,  10, 13, 15, 16, 17, 18, 19, 20, 21, 22,
                                         22, 23, 24, 24, 25, 25, 26, 26, 27, 27, 28,
                                         28, 29, 29, 29, 30, 30, 31, 31, 31, 31};
  EXPECT_EQ(gammaTable()[0], row0);
  EXPECT_EQ(gammaTable()[80], row80);
  for (int i = 0; i < 32; ++i) {
    EXPECT_EQ(gammaTable()[40][i], i) << "row 40 is the identity";
  }
  for (int j = 0; j < 64; ++j) {
    EXPECT_EQ(gammaTable64()[40][j], j) << "row 40 is the identity";
  }
  EXPECT_EQ(gammaTable64()[0][63], 45) << "row 0 takes white to 22 of 31, about 45 of 63";
  EXPECT_EQ(gammaTable64()[80][0], 18) << "row 80 lifts black to 9 of 31, 18 of 63";
}

template <size_t N>
void expectMonotone(const std::array<std::array<uint8_t, N>, kGammaRows>& t, int top) {
  for (int g = 0; g < kGammaRows; ++g) {
    for (size_t i = 0; i < N; ++i) {
      ASSERT_LE(t[g][i], top);
      if (i > 0) {
        ASSERT_LE(t[g][i - 1], t[g][i]) << "row " << g << " falls at " << i;
      }
      if (g > 0) {
        ASSERT_LE(t[g - 1][i], t[g][i]) << "column " << i << " darkens at row " << g;
      }
      if (g < kNeutralGamma) {
        ASSERT_LE(t[g][i], i) << "rows below 40 never brighten";
      }
      if (g > kNeutralGamma) {
        ASSERT_GE(t[g][i], i) << "rows above 40 never darken";
      }
    }
  }
}

TEST(Gamma, RowsDarkenBelowAndBrightenAboveTheNeutralRowMonotonically) {
  expectMonotone(gammaTable(), 31);
  expectMonotone(gammaTable64(), 63);
  // The steps between neighbouring rows are small: the rows form a smooth family.
  for (int g = 1; g < kGammaRows; ++g)
    for (int i = 0; i < 32; ++i) ASSERT_LE(gammaTable()[g][i] - gammaTable()[g - 1][i], 1);
}

TEST(Gamma, CurveAddsBrightnessAndClamps) {
  Curve neutral = makeCurve(40, 0);
  EXPECT_TRUE(neutral.neutral);
  for (int i = 0; i < 32; ++i) {
    EXPECT_EQ(neutral.c32[i], i);
  }

  for (int b : {31, 32, 100}) {
    Curve c = makeCurve(40, b);
    for (int i = 0; i < 32; ++i) ASSERT_EQ(c.c32[i], 31) << "brightness " << b;
  }
  for (int b : {-31, -32, -100}) {
    Curve c = makeCurve(40, b);
    for (int i = 0; i < 32; ++i) ASSERT_EQ(c.c32[i], 0) << "brightness " << b;
  }
  Curve up = makeCurve(40, 5);
  EXPECT_FALSE(up.neutral);
  EXPECT_EQ(up.c32[0], 5);
  EXPECT_EQ(up.c32[30], 31);
  EXPECT_EQ(up.c64[60], 63);
  EXPECT_EQ(up.c64[10], 15) << "the 6-bit curve takes the same offset, unscaled";

  Curve dark = makeCurve(0, 0);
  EXPECT_EQ(dark.c32[31], 22);
  Curve clampedIndex = makeCurve(-5, 0);
  EXPECT_EQ(clampedIndex.c32, dark.c32) << "gamma indices are clamped to 0..80";
  EXPECT_EQ(makeCurve(200, 0).c32, makeCurve(80, 0).c32);
}

}  // namespace
}  // namespace zov

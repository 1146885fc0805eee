#include "format/gamma.h"

#include <algorithm>

namespace zov {
namespace {

// The darkest and brightest rows; every other row lies between one of them and the identity.
constexpr std::array<uint8_t, 32> kDarkest = {0,  0,  1,  1,  1,  2,  2,  3,  3,  3, 4,
                                              4,  5,  5,  6,  6,  7,  7,  8,  8,  9, 10,
                                              10, 11, 12, 13, 14, 15, 16, 17, 19, 22};
constexpr std::array<uint8_t, 32> kBrightest = {9,  10, 13, 15, 16, 17, 18, 19, 20, 21, 22,
                                                22, 23, 24, 24, 25, 25, 26, 26, 27, 27, 28,
                                                28, 29, 29, 29, 30, 30, 31, 31, 31, 31};

// Floor division that also rounds negative quotients down.
constexpr int floorDiv(int a, int b) {
  return a >= 0 ? a / b : -((-a + b - 1) / b);
}

// Row g is the blend of the identity and the extreme row on its side, weighted by the distance
// from the neutral row and rounded half up: G[g][i] = i + round((E[i] - i) * |g - 40| / 40).
// The blend is linear in g, so each column moves monotonically from the darkest value through
// the identity to the brightest; each row stays non-decreasing in i because both rows it
// blends are. Rows 0, 40 and 80 reproduce the extremes and the identity exactly.
std::array<std::array<uint8_t, 32>, kGammaRows> buildTable() {
  std::array<std::array<uint8_t, 32>, kGammaRows> t{};
  for (int g = 0; g < kGammaRows; ++g) {
    const auto& extreme = g < kNeutralGamma ? kDarkest : kBrightest;
    int weight = g < kNeutralGamma ? kNeutralGamma - g : g - kNeutralGamma;
    for (int i = 0; i < 32; ++i) {
      int num = (extreme[i] - i) * weight;
      t[g][i] = static_cast<uint8_t>(i + floorDiv(2 * num + kNeutralGamma, 2 * kNeutralGamma));
    }
  }
  return t;
}

// The 64-entry rows follow the same curve at twice the resolution: the 32-entry row is read as
// a piecewise linear function on 0..31, sampled at j * 31 / 63 and scaled back by 63 / 31,
// rounded to nearest (31 is odd, so there are no ties). The identity stays the identity and
// monotonicity is kept.
std::array<std::array<uint8_t, 64>, kGammaRows> buildTable64(
    const std::array<std::array<uint8_t, 32>, kGammaRows>& g32) {
  std::array<std::array<uint8_t, 64>, kGammaRows> t{};
  for (int g = 0; g < kGammaRows; ++g) {
    const auto& row = g32[g];
    for (int j = 0; j < 64; ++j) {
      int k = std::min(31 * j / 63, 30);  // segment start, x = 31 j / 63 lies in [k, k + 1]
      // 31 * value = 63 * row[k] + (row[k+1] - row[k]) * (31 j - 63 k)
      int num = 63 * row[k] + (row[k + 1] - row[k]) * (31 * j - 63 * k);
      t[g][j] = static_cast<uint8_t>(std::clamp((2 * num + 31) / 62, 0, 63));
    }
  }
  return t;
}

}  // namespace

const std::array<std::array<uint8_t, 32>, kGammaRows>& gammaTable() {
  static const auto table = buildTable();
  return table;
}

const std::array<std::array<uint8_t, 64>, kGammaRows>& gammaTable64() {
  static const auto table = buildTable64(gammaTable());
  return table;
}

Curve makeCurve(int gammaIndex, int brightness) {
  int g = std::clamp(gammaIndex, 0, kGammaRows - 1);
  int b = std::clamp(brightness, -64, 64);  // beyond this every entry is clamped anyway
  Curve c;
  c.neutral = true;
  for (int i = 0; i < 32; ++i) {
    c.c32[i] = static_cast<uint8_t>(std::clamp(gammaTable()[g][i] + b, 0, 31));
    c.neutral &= c.c32[i] == i;
  }
  for (int j = 0; j < 64; ++j) {
    c.c64[j] = static_cast<uint8_t>(std::clamp(gammaTable64()[g][j] + b, 0, 63));
    c.neutral &= c.c64[j] == j;
  }
  return c;
}

}  // namespace zov

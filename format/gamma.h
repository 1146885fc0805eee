// Brightness and gamma: the curves every output method passes a picture colour through before it
// writes it. A 32-entry curve maps 5-bit components; a 64-entry variant maps the 6-bit grey
// levels of the 8-bit grey and pattern methods.
#pragma once

#include <array>
#include <cstdint>

namespace zov {

inline constexpr int kGammaRows = 81;
inline constexpr int kNeutralGamma = 40;

// The fixed gamma table G: 81 rows of 32 values; row 40 is the identity, lower rows darken
// and higher rows brighten.
const std::array<std::array<uint8_t, 32>, kGammaRows>& gammaTable();
// Its 64-entry variant for 6-bit levels.
const std::array<std::array<uint8_t, 64>, kGammaRows>& gammaTable64();

struct Curve {
  std::array<uint8_t, 32> c32;  // 5-bit component -> 5-bit component
  std::array<uint8_t, 64> c64;  // 6-bit level -> 6-bit level
  bool neutral = true;          // both are the identity
};

// The curves for a gamma index (0..80, clamped) and a signed brightness offset (any value;
// results are clamped to 0..31 and 0..63).
Curve makeCurve(int gammaIndex, int brightness);

}  // namespace zov

// The running value of the residual walk: one 32-bit register holding the three components of a
// pixel, each in its own byte with a bias of 64. One table look-up and one 32-bit addition apply
// a step to a component; the bias keeps a single step (at most 14) from borrowing from or
// carrying into the neighbouring component, so a component carried out of range is caught by
// one mask test per pixel instead of silently corrupting its neighbours.
//
//   bits 16-23  component 0: Y (luminance schemes) or red (RGB), value + 64
//   bits  8-15  component 1: Cr + 31 or green, value + 64
//   bits  0- 7  component 2: Cb + 31 or blue, value + 64
//
// The step-doubling states (EDGE 0) are kept beside the value, one bit per component: the state
// after a symbol is just whether it was 0 or 14, so it need not travel through the additions.
#pragma once

#include <array>
#include <cstdint>

#include "format/stream_format.h"

namespace zov::running {

inline constexpr uint32_t kBias = 0x404040;
inline constexpr uint32_t kValueMask = 0xFFFFFF;
inline constexpr uint32_t kChromaMask = 0xFFFF;  // both colour differences
// A pixel is in range when every component's byte lies in 64..95 (5 bits) or 64..127 (6 bits).
inline constexpr uint32_t kYcCheckMask = 0xE0C0C0;
inline constexpr uint32_t kRgbCheckMask = 0xE0E0E0;
inline constexpr uint32_t kCheckExpected = 0x404040;

constexpr int componentShift(int c) {
  return 16 - 8 * c;
}

// 17-bit luminance value <-> running value.
constexpr uint32_t fromYc(uint32_t yc) {
  return (((yc >> 12) & 31) << 16 | ((yc >> 6) & 63) << 8 | (yc & 63)) + kBias;
}
constexpr uint32_t toYc(uint32_t r) {
  return (r >> 4 & 0x1F000) | (r >> 2 & 0xFC0) | (r & 0x3F);
}
// Running value -> index in ColourTables::ycToRgbByChroma (chromaMajor(toYc(r))).
constexpr uint32_t toChromaMajor(uint32_t r) {
  return (r << 3 & 0x1F800) | (r << 5 & 0x7E0) | (r >> 16 & 31);
}
constexpr int yOf(uint32_t r) {
  return static_cast<int>(r >> 16 & 0xFF);
}

// 15-bit colour <-> running value.
constexpr uint32_t fromRgb555(uint32_t c) {
  return (((c >> 10) & 31) << 16 | ((c >> 5) & 31) << 8 | (c & 31)) + kBias;
}
constexpr uint16_t toRgb555(uint32_t r) {
  return static_cast<uint16_t>((r >> 6 & 0x7C00) | (r >> 3 & 0x3E0) | (r & 0x1F));
}
constexpr uint16_t toRgb565(uint32_t r) {
  return static_cast<uint16_t>((r >> 5 & 0xF800) | (r >> 2 & 0x7C0) | (r & 0x1F));
}

// Step tables. doubling[c][state][s]: the addend of symbol s for component c in the
// step-doubling code (state 1 = doubled: twice the step). plain[c][s]: the addend of s - 7
// (extended-range code, and the first step of an extended run).
struct StepTables {
  std::array<std::array<std::array<uint32_t, 16>, 2>, 3> doubling{};
  std::array<std::array<uint32_t, 16>, 3> plain{};
};

constexpr StepTables buildStepTables() {
  StepTables t{};
  for (int c = 0; c < 3; ++c) {
    const int shift = componentShift(c);
    for (int s = 0; s < 16; ++s) {
      // Symbol 15 never reaches the tables (the code table refuses it); give it step 0.
      const int step = s == 15 ? 0 : s - 7;
      const uint32_t one = static_cast<uint32_t>(step) << shift;
      const uint32_t two = static_cast<uint32_t>(2 * step) << shift;
      t.plain[c][s] = one;
      t.doubling[c][0][s] = one;
      t.doubling[c][1][s] = two;
    }
  }
  return t;
}

inline constexpr StepTables kSteps = buildStepTables();

}  // namespace zov::running

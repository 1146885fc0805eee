// The colour tables shared by the decoder and the encoder: a 17-bit luminance/colour-difference
// value Y * 4096 + (Cr + 31) * 64 + (Cb + 31) and its 15-bit colour, and the reverse table.
// Both are built once per process and pixel kind, from the integer coefficients 701, -357, -172
// and 886 per 1000; decoder and encoder must agree on them exactly.
#pragma once

#include <array>
#include <cstdint>

#include "format/stream_format.h"

namespace zov {

inline constexpr int kYcValues = 1 << 17;

constexpr uint32_t ycValue(int y, int cr, int cb) {
  return static_cast<uint32_t>(y * 4096 + (cr + 31) * 64 + (cb + 31));
}
constexpr int ycY(uint32_t v) {
  return static_cast<int>(v >> 12) & 31;
}
constexpr int ycCr(uint32_t v) {
  return static_cast<int>((v >> 6) & 63) - 31;
}
constexpr int ycCb(uint32_t v) {
  return static_cast<int>(v & 63) - 31;
}
// The index of a 17-bit value in ColourTables::ycToRgbByChroma.
constexpr uint32_t chromaMajor(uint32_t v) {
  return (v & 0xFFF) << 5 | (v >> 12 & 31);
}

struct ColourTables {
  // Colour of each 17-bit value, in the table's pixel kind (5-6-5 with the low green bit 0).
  std::array<uint16_t, kYcValues> ycToRgb;
  // The same colours by chroma first: index (value & 0xFFF) * 32 + Y. The decoder's row walk
  // looks colours up here, because neighbouring pixels mostly share their colour difference and
  // then find their colours in one cache line rather than 32 lines 8 KiB apart.
  std::array<uint16_t, kYcValues> ycToRgbByChroma;
  // A 17-bit value for each 16-bit pixel of the table's pixel kind.
  std::array<uint32_t, 65536> rgbToYc;
};

// The process-wide tables for a pixel kind; built on first use, thread-safe, never freed.
const ColourTables& colourTables(PixelKind kind);

// The 15-bit colour of a 17-bit value, or -1 when a quotient falls outside 0..31 before
// clamping (such values are never chosen by the reverse table).
int exactColourOfYc(uint32_t value);

}  // namespace zov

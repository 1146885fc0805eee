// Colour distance and the nearest-colour conversion of 24- and 32-bit pixels to 15 bits.
#pragma once

#include <cstddef>
#include <cstdint>

namespace zov {

// Weighted squared distance of two 15-bit colours on their 5-bit components.
inline int colourDistance(uint16_t a, uint16_t b) {
  int dr = int(a >> 10 & 31) - int(b >> 10 & 31);
  int dg = int(a >> 5 & 31) - int(b >> 5 & 31);
  int db = int(a & 31) - int(b & 31);
  return 30 * dr * dr + 59 * dg * dg + 20 * db * db;
}

// The 15-bit colour nearest to an 8-bit-per-component colour: exact multiples of 8 keep their
// top five bits; otherwise every combination of the level below, the one below that and the one
// above is tried per component and the smallest weighted distance wins (first found on ties,
// red outermost, then green, then blue).
uint16_t nearestColour(int r, int g, int b);

// Converts one row of bottom-up DIB pixels (24-bit BGR or 32-bit BGRx) to 15-bit colour.
void convertRowTo15(const uint8_t* src, int bitsPerPixel, int width, uint16_t* dst);

}  // namespace zov

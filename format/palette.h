// The 256-entry palettes of the 8-bit output methods (7..12), in DIB colour-table order
// (blue, green, red, reserved). Entries 0-9 and 246-255 are the 20 static colours of the
// system palette, which the caller supplies as the display reports them; the method's own
// entries are 6-bit levels v written as 4 v + 1.
#pragma once

#include <array>
#include <cstdint>

namespace zov {

struct PaletteEntry {  // the layout of RGBQUAD
  uint8_t blue = 0, green = 0, red = 0, reserved = 0;
  friend bool operator==(const PaletteEntry&, const PaletteEntry&) = default;
};

using Palette = std::array<PaletteEntry, 256>;
using StaticColours = std::array<PaletteEntry, 20>;  // entries 0-9, then 246-255

// The usual 20 static colours of a 256-colour display, for hosts without a system palette and
// for previews.
const StaticColours& defaultStaticColours();

// The palette of an 8-bit method; all zero apart from the static colours for other methods.
Palette methodPalette(int method, const StaticColours& statics);

// Ramp positions used by the pattern tables: the palette index of the first entry of each
// primary ramp (level 1 of the ramp sits at base + 1).
namespace palette_layout {
inline constexpr int kBlack = 10;
// Method 7 and 8: 31 levels of red at 11-41, green 42-72, blue 73-103; greys 104-106.
inline constexpr int kRamp31Red = 10, kRamp31Green = 41, kRamp31Blue = 72;
inline constexpr int kFirstGreys = 104;
// Methods 9, 10, 11: 64 greys at 10-73.
inline constexpr int kGreyBase = 10;
// Method 11: red 1..63 at 74-136, green 1..63 at 137-199, blue 1..31 at 200-230.
inline constexpr int kM11Red = 73, kM11Green = 136, kM11Blue = 199;
// Method 12: red 1..63 at 11-73, green at 74-136, blue at 137-199; greys 200-202.
inline constexpr int kM12Red = 10, kM12Green = 73, kM12Blue = 136;
inline constexpr int kM12Greys = 200;
}  // namespace palette_layout

// The non-uniform 6-bit ramps of method 7 (31 levels each, index 0 is level 1 of the ramp).
const std::array<uint8_t, 31>& method7RedBlueLevels();
const std::array<uint8_t, 31>& method7GreenLevels();

}  // namespace zov

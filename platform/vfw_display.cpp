#include "platform/vfw_display.h"

#include <cstdlib>

namespace zov::vfw {

int displayBitsPerPixel() {
  if (const char* env = std::getenv("ZOV_DISPLAY_BITS"); env && *env) {
    char* end = nullptr;
    long bits = std::strtol(env, &end, 10);
    if (end && *end == '\0' && bits > 0 && bits <= 32) return static_cast<int>(bits);
  }
  return 16;
}

UINT getSystemPaletteEntries(UINT first, UINT count, PALETTEENTRY* entries) {
  // The static colours every 256-colour Windows screen reserves.
  static constexpr PALETTEENTRY kLow[10] = {
      {0, 0, 0, 0},       {128, 0, 0, 0},    {0, 128, 0, 0},   {128, 128, 0, 0},
      {0, 0, 128, 0},     {128, 0, 128, 0},  {0, 128, 128, 0}, {192, 192, 192, 0},
      {192, 220, 192, 0}, {166, 202, 240, 0}};
  static constexpr PALETTEENTRY kHigh[10] = {
      {255, 251, 240, 0}, {160, 160, 164, 0}, {128, 128, 128, 0}, {255, 0, 0, 0},
      {0, 255, 0, 0},     {255, 255, 0, 0},   {0, 0, 255, 0},     {255, 0, 255, 0},
      {0, 255, 255, 0},   {255, 255, 255, 0}};
  if (!entries) return 0;
  UINT written = 0;
  for (UINT i = first; i < 256 && written < count; ++i, ++written) {
    PALETTEENTRY e{0, 0, 0, 0};
    if (i < 10)
      e = kLow[i];
    else if (i >= 246)
      e = kHigh[i - 246];
    entries[written] = e;
  }
  return written;
}

}  // namespace zov::vfw

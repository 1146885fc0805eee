// Loads the chroma-key background bitmap (a Windows .bmp of 16, 24 or 32 bits per pixel, the
// size of the compressed frame) into a 15-bit picture in the bitmap's own line order.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace zov {

// Returns false with the message in *error ("Cannot open file ...", "... is not a valid Windows
// bitmap file", the resolution and bit-depth messages).
bool loadBackgroundBitmap(const std::string& path, int width, int height,
                          std::vector<uint16_t>& out, std::string* error);

}  // namespace zov

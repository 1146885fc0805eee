// Writes a 5-5-5 picture as an 8-bit RGB PNG through libpng.
#pragma once

#include <cstdint>
#include <string>

namespace zov::info {

// pixels: width x height RGB555 values, rows in buffer order (row 0 = bottom of the image, as the
// decoder stores them). The PNG has the top row first, as a viewer shows the picture.
bool writePng555(const std::string& path, const uint16_t* pixels, int width, int height,
                 std::string& error);

// rgb: width x height pixels of red, green, blue bytes, top row first.
bool writePngRgb(const std::string& path, const uint8_t* rgb, int width, int height,
                 std::string& error);

}  // namespace zov::info

#include "tools/zovinfo/png_writer.h"

#include <png.h>

#include <cerrno>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <vector>

namespace zov::info {
namespace {

// Spreads a 5-bit component over 8 bits so that 31 becomes 255.
uint8_t expand5(unsigned v) {
  return static_cast<uint8_t>(v << 3 | v >> 2);
}

void onPngError(png_structp png, png_const_charp message) {
  auto* error = static_cast<std::string*>(png_get_error_ptr(png));
  if (error) *error = message;
  png_longjmp(png, 1);
}
void onPngWarning(png_structp, png_const_charp) {}

}  // namespace

bool writePng555(const std::string& path, const uint16_t* pixels, int width, int height,
                 std::string& error) {
  std::vector<uint8_t> rows(size_t(width) * 3 * size_t(height));
  for (int y = 0; y < height; ++y) {
    // Output row y is the image's y-th row from the top: buffer row height-1-y.
    const uint16_t* src = pixels + size_t(height - 1 - y) * size_t(width);
    uint8_t* dst = rows.data() + size_t(y) * size_t(width) * 3;
    for (int x = 0; x < width; ++x) {
      uint16_t p = src[x];
      *dst++ = expand5((p >> 10) & 31);
      *dst++ = expand5((p >> 5) & 31);
      *dst++ = expand5(p & 31);
    }
  }
  return writePngRgb(path, rows.data(), width, height, error);
}

bool writePngRgb(const std::string& path, const uint8_t* rgb, int width, int height,
                 std::string& error) {
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) {
    error = std::strerror(errno);
    return false;
  }
  std::vector<png_bytep> rowPointers(static_cast<size_t>(height));
  for (int y = 0; y < height; ++y)
    rowPointers[size_t(y)] = const_cast<uint8_t*>(rgb) + size_t(y) * size_t(width) * 3;

  png_structp png =
      png_create_write_struct(PNG_LIBPNG_VER_STRING, &error, onPngError, onPngWarning);
  png_infop info = png ? png_create_info_struct(png) : nullptr;
  if (!png || !info) {
    png_destroy_write_struct(&png, nullptr);
    std::fclose(f);
    error = "out of memory";
    return false;
  }
  if (setjmp(png_jmpbuf(png))) {
    png_destroy_write_struct(&png, &info);
    std::fclose(f);
    return false;
  }
  png_init_io(png, f);
  png_set_IHDR(png, info, static_cast<png_uint_32>(width), static_cast<png_uint_32>(height), 8,
               PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
               PNG_FILTER_TYPE_DEFAULT);
  png_write_info(png, info);
  png_write_image(png, rowPointers.data());
  png_write_end(png, nullptr);
  png_destroy_write_struct(&png, &info);
  if (std::fclose(f) != 0) {
    error = std::strerror(errno);
    return false;
  }
  return true;
}

}  // namespace zov::info

#include "encoder/background_bitmap.h"

#include <cstdio>
#include <memory>

#include "encoder/colour_quantiser.h"

namespace zov {
namespace {

uint32_t le32(const uint8_t* p) {
  return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}
uint16_t le16(const uint8_t* p) {
  return static_cast<uint16_t>(p[0] | p[1] << 8);
}

std::string format(const char* fmt, const std::string& a) {
  char buf[600];
  std::snprintf(buf, sizeof buf, fmt, a.c_str());
  return buf;
}

}  // namespace

bool loadBackgroundBitmap(const std::string& path, int width, int height,
                          std::vector<uint16_t>& out, std::string* error) {
  std::unique_ptr<FILE, int (*)(FILE*)> f(std::fopen(path.c_str(), "rb"), &std::fclose);
  if (!f) {
    *error = format("Cannot open file %s", path);
    return false;
  }
  uint8_t fileHeader[14], info[40];
  if (std::fread(fileHeader, 1, 14, f.get()) != 14 || fileHeader[0] != 'B' ||
      fileHeader[1] != 'M' || std::fread(info, 1, 40, f.get()) != 40) {
    *error = format("%s is not a valid Windows bitmap file", path);
    return false;
  }
  uint32_t headerSize = le32(info);
  int32_t bw = int32_t(le32(info + 4)), bh = int32_t(le32(info + 8));
  int bits = le16(info + 14);
  uint32_t compression = le32(info + 16), imageSize = le32(info + 20);
  uint32_t used = le32(info + 32), important = le32(info + 36);
  if (bw != width || bh != height) {
    char buf[200];
    std::snprintf(
        buf, sizeof buf,
        "The chroma keying bitmap at %1dx%1d must be the same resolution as the video at %1dx%1d",
        int(bw), int(bh), width, height);
    *error = buf;
    return false;
  }
  if (headerSize < 40 || compression != 0) {
    *error = format("%s is not a valid Windows bitmap file", path);
    return false;
  }
  if (bits != 16 && bits != 24 && bits != 32) {
    char buf[600];
    std::snprintf(buf, sizeof buf, "%s is %d bits and must be 16, 24, or 32 bits", path.c_str(),
                  bits);
    *error = buf;
    return false;
  }
  long skip = long(headerSize - 40) + 4L * long(used ? used : important);
  if (skip && std::fseek(f.get(), skip, SEEK_CUR) != 0) {
    *error = format("%s is not a valid Windows bitmap file", path);
    return false;
  }
  size_t lineBytes = (size_t(width) * bits + 31) / 32 * 4;
  size_t size = lineBytes * size_t(height);
  if (imageSize != 0 && imageSize < size) size = imageSize;  // a short image reads as black
  std::vector<uint8_t> pixels(lineBytes * size_t(height), 0);
  if (std::fread(pixels.data(), 1, size, f.get()) != size) {
    *error = format("%s is not a valid Windows bitmap file", path);
    return false;
  }
  out.assign(size_t(width) * height, 0);
  for (int l = 0; l < height; ++l) {
    const uint8_t* src = pixels.data() + lineBytes * size_t(l);
    uint16_t* dst = out.data() + size_t(l) * width;
    if (bits == 16) {
      for (int x = 0; x < width; ++x) dst[x] = le16(src + 2 * x) & 0x7FFF;
    } else {
      convertRowTo15(src, bits, width, dst);
    }
  }
  return true;
}

}  // namespace zov

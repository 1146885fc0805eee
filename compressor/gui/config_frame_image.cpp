#include "compressor/gui/config_frame_image.h"

#include <cstring>

#include "media/source_file.h"

namespace zov {

namespace {
int32_t le32(const uint8_t* p) {
  return int32_t(uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 |
                 uint32_t(p[3]) << 24);
}
uint16_t le16(const uint8_t* p) {
  return uint16_t(p[0] | p[1] << 8);
}
QRgb rgb15(uint16_t v) {
  int r = (v >> 10) & 31, g = (v >> 5) & 31, b = v & 31;
  return qRgb(r << 3 | r >> 2, g << 3 | g >> 2, b << 3 | b >> 2);
}
}  // namespace

QImage imageFrom15Bit(const uint16_t* pixels, int width, int height) {
  if (width <= 0 || height <= 0) return {};
  QImage image(width, height, QImage::Format_RGB32);
  for (int y = 0; y < height; ++y) {
    const uint16_t* line = pixels + size_t(height - 1 - y) * width;
    auto* out = reinterpret_cast<QRgb*>(image.scanLine(y));
    for (int x = 0; x < width; ++x) out[x] = rgb15(line[x]);
  }
  return image;
}

QImage imageFromPackedBitmap(const std::vector<uint8_t>& bitmap) {
  if (bitmap.size() < 40) return {};
  const uint8_t* h = bitmap.data();
  int32_t headerSize = le32(h);
  int32_t width = le32(h + 4), height = le32(h + 8);
  int bits = le16(h + 14);
  if (headerSize < 40 || width <= 0 || height == 0 || width > 16384) return {};
  bool bottomUp = height > 0;
  if (height < 0) height = -height;
  if (height > 16384) return {};
  size_t stride = (size_t(width) * bits + 31) / 32 * 4;
  if (bits != 15 && bits != 16 && bits != 24 && bits != 32) return {};
  if (bitmap.size() < size_t(headerSize) + stride * height) return {};
  const uint8_t* pixels = h + headerSize;
  QImage image(width, height, QImage::Format_RGB32);
  for (int y = 0; y < height; ++y) {
    const uint8_t* line = pixels + stride * size_t(bottomUp ? height - 1 - y : y);
    auto* out = reinterpret_cast<QRgb*>(image.scanLine(y));
    for (int x = 0; x < width; ++x) {
      if (bits <= 16) {
        out[x] = rgb15(le16(line + 2 * x));
      } else {
        const uint8_t* p = line + size_t(x) * (bits / 8);
        out[x] = qRgb(p[2], p[1], p[0]);
      }
    }
  }
  return image;
}

bool fetchFrame15(SourceFile& source, uint32_t frame, std::vector<uint16_t>& pixels, int& width,
                  int& height, bool absolute) {
  std::vector<uint8_t> bitmap;
  // A preview leaves the frame the input window shows alone.
  const uint32_t shown = source.CurrentFrame;
  bool ok = absolute ? source.getFrameAbsolute(frame, bitmap, nullptr, true, false, false)
                     : source.getFrame(frame, bitmap, nullptr, true, false, false);
  source.CurrentFrame = shown;
  if (!ok) return false;
  if (bitmap.size() < 40) return false;
  width = le32(bitmap.data() + 4);
  height = le32(bitmap.data() + 8);
  if (height < 0) height = -height;
  if (width <= 0 || height <= 0 || le16(bitmap.data() + 14) > 16) return false;
  size_t stride = (size_t(width) * 16 + 31) / 32 * 4;
  if (bitmap.size() < 40 + stride * height) return false;
  pixels.resize(size_t(width) * height);
  for (int y = 0; y < height; ++y) {
    std::memcpy(pixels.data() + size_t(y) * width, bitmap.data() + 40 + stride * y,
                size_t(width) * 2);
  }
  return true;
}

}  // namespace zov

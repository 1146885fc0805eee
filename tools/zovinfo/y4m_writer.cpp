#include "tools/zovinfo/y4m_writer.h"

namespace zov::info {
namespace {

uint8_t expand5(unsigned v) {
  return uint8_t((v << 3) | (v >> 2));
}

uint8_t clampByte(int v) {
  return uint8_t(v < 0 ? 0 : v > 255 ? 255 : v);
}

}  // namespace

Y4mWriter::Y4mWriter(std::ostream& out, int width, int height, uint32_t rate, uint32_t scale)
    : out_(out), width_(width), height_(height), planes_(size_t(width) * size_t(height) * 3) {
  if (rate == 0 || scale == 0) rate = scale = 1;
  out_ << "YUV4MPEG2 W" << width << " H" << height << " F" << rate << ":" << scale
       << " Ip A1:1 C444\n";
}

bool Y4mWriter::write(const uint16_t* picture) {
  size_t plane = size_t(width_) * size_t(height_);
  for (int y = 0; y < height_; ++y) {
    const uint16_t* row = picture + size_t(height_ - 1 - y) * size_t(width_);
    for (int x = 0; x < width_; ++x) {
      int r = expand5((row[x] >> 10) & 31), g = expand5((row[x] >> 5) & 31),
          b = expand5(row[x] & 31);
      size_t at = size_t(y) * size_t(width_) + size_t(x);
      // BT.601 in 8-bit fixed point, rounded.
      planes_[at] = char(clampByte((66 * r + 129 * g + 25 * b + 128 + (16 << 8)) >> 8));
      planes_[plane + at] = char(clampByte((-38 * r - 74 * g + 112 * b + 128 + (128 << 8)) >> 8));
      planes_[2 * plane + at] =
          char(clampByte((112 * r - 94 * g - 18 * b + 128 + (128 << 8)) >> 8));
    }
  }
  out_ << "FRAME\n";
  out_.write(planes_.data(), std::streamsize(planes_.size()));
  return bool(out_);
}

}  // namespace zov::info

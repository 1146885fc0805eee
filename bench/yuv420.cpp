#include "yuv420.h"

namespace zov::bench {
namespace {

uint8_t expand5(int v) {
  return uint8_t(v << 3 | v >> 2);
}

}  // namespace

Yuv420 toYuv(const Picture& pic, int w, int h) {
  Yuv420 out{w, h, std::vector<uint8_t>(size_t(w) * h), {}, {}};
  std::vector<int> u(size_t(w) * h), v(size_t(w) * h);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      const uint16_t c = pic[size_t(h - 1 - y) * w + x];
      const int r = expand5(c >> 10 & 31), g = expand5(c >> 5 & 31), b = expand5(c & 31);
      const size_t i = size_t(y) * w + x;
      out.y[i] = uint8_t(((66 * r + 129 * g + 25 * b + 128) >> 8) + 16);
      u[i] = ((-38 * r - 74 * g + 112 * b + 128) >> 8) + 128;
      v[i] = ((112 * r - 94 * g - 18 * b + 128) >> 8) + 128;
    }
  const int cw = w / 2, ch = h / 2;
  out.u.resize(size_t(cw) * ch);
  out.v.resize(size_t(cw) * ch);
  for (int y = 0; y < ch; ++y)
    for (int x = 0; x < cw; ++x) {
      const size_t i = size_t(2 * y) * w + 2 * x;
      out.u[size_t(y) * cw + x] = uint8_t((u[i] + u[i + 1] + u[i + w] + u[i + w + 1] + 2) / 4);
      out.v[size_t(y) * cw + x] = uint8_t((v[i] + v[i + 1] + v[i + w] + v[i + w + 1] + 2) / 4);
    }
  return out;
}

}  // namespace zov::bench

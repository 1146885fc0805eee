#include "format/post_filter.h"

#include <cstring>

namespace zov {
namespace {

template <bool Rgb565>
void filterRow(const uint16_t* s, uint16_t* d, int w) {
  auto red = [](uint16_t p) { return Rgb565 ? p >> 11 : p >> 10 & 31; };
  auto green = [](uint16_t p) { return Rgb565 ? p >> 6 & 31 : p >> 5 & 31; };
  auto bluish = [&](uint16_t p) {
    const int b = p & 31;
    return b > red(p) + 2 && b > green(p) + 2;
  };
  std::memcpy(d, s, size_t(w) * 2);
  for (int x = 2; x + 2 < w; x += 2) {
    const uint16_t next = s[x + 2];
    if (!bluish(s[x + 1]) && !bluish(next)) continue;
    const int nb = next & 31;
    d[x] = static_cast<uint16_t>((s[x] & ~31) | (((s[x] & 31) + nb) >> 1));
    d[x + 1] = static_cast<uint16_t>((s[x + 1] & ~31) | (((s[x + 1] & 31) + nb) >> 1));
  }
}

}  // namespace

void postFilter(const uint16_t* src, uint16_t* dst, int w, int h, int rowBegin, int rowEnd,
                PixelKind kind) {
  for (int row = 0; row < h; ++row) {
    const uint16_t* s = src + size_t(row) * w;
    uint16_t* d = dst + size_t(row) * w;
    if (row < rowBegin || row >= rowEnd)
      std::memcpy(d, s, size_t(w) * 2);
    else if (kind == PixelKind::Rgb565)
      filterRow<true>(s, d, w);
    else
      filterRow<false>(s, d, w);
  }
}

}  // namespace zov

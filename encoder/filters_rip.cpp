// Rip: removes isolated pixels that break an otherwise even area. Neighbours are compared by a
// coarse luminance class; a pixel whose direct neighbours agree (and whose diagonal neighbours
// mostly agree too) takes the average colour of its direct neighbours.
#include <array>

#include "encoder/filters.h"

namespace zov {
namespace {

using ClassTable = std::array<uint16_t, 32768>;

// Built at the first use and kept for the process.
const ClassTable& classTable() {
  static const ClassTable table = [] {
    ClassTable t{};
    for (int v = 0; v < 32768; ++v) {
      t[v] = uint16_t((19 * (v >> 10 & 31) + 70 * (v >> 5 & 31) + 11 * (v & 31)) / 50);
    }
    return t;
  }();
  return table;
}

inline uint16_t average(const uint16_t* v, int count) {
  int r = 0, g = 0, b = 0;
  for (int i = 0; i < count; ++i) r += v[i] >> 10 & 31, g += v[i] >> 5 & 31, b += v[i] & 31;
  return uint16_t((r / count) << 10 | (g / count) << 5 | (b / count));
}

inline uint16_t average4(uint16_t a, uint16_t b, uint16_t c, uint16_t d) {
  // The four red, green and blue sums fit their fields' neighbours apart, so add in one word
  // each for red+blue and green.
  uint32_t rb = uint32_t(a & 0x7C1F) + (b & 0x7C1F) + (c & 0x7C1F) + (d & 0x7C1F);
  uint32_t g = uint32_t(a & 0x03E0) + (b & 0x03E0) + (c & 0x03E0) + (d & 0x03E0);
  return uint16_t((rb >> 2 & 0x7C1F) | (g >> 2 & 0x03E0));
}

// A border pixel (edge or corner) from the unfiltered frame.
uint16_t ripBorder(const uint16_t* px, const ClassTable& cls, int w, int h, int x, int y) {
  const uint16_t* p = px + size_t(y) * w + x;
  bool up = y > 0, down = y<h - 1, left = x> 0, right = x < w - 1;
  uint16_t direct[3];
  uint16_t diagonal[2];
  int nd = 0, ng = 0;
  if (up) direct[nd++] = p[-w];
  if (down) direct[nd++] = p[w];
  if (left) direct[nd++] = p[-1];
  if (right) direct[nd++] = p[1];
  if (up && left) diagonal[ng++] = p[-w - 1];
  if (up && right) diagonal[ng++] = p[-w + 1];
  if (down && left) diagonal[ng++] = p[w - 1];
  if (down && right) diagonal[ng++] = p[w + 1];
  int c = cls[direct[0] & 0x7FFF];
  for (int i = 1; i < nd; ++i)
    if (cls[direct[i] & 0x7FFF] != c) return *p;
  if (nd == 3) {  // edge: not both diagonals may differ
    if (cls[diagonal[0] & 0x7FFF] != c && cls[diagonal[1] & 0x7FFF] != c) return *p;
  }
  return average(direct, nd);
}

}  // namespace

int ripClass(uint16_t colour) {
  return classTable()[colour & 0x7FFF];
}

void filterRip(uint16_t* pixels, uint8_t* work, int w, int h) {
  if (w < 3 || h < 3) return;
  const ClassTable& table = classTable();
  const size_t n = size_t(w) * h;
  // The work buffer holds the result (2 bytes a pixel) and then a byte plane of classes, so
  // that the interior compares bytes without a table look-up per neighbour.
  uint16_t* out = reinterpret_cast<uint16_t*>(work);
  uint8_t* cls = work + 2 * n;
  for (size_t i = 0; i < n; ++i) cls[i] = uint8_t(table[pixels[i] & 0x7FFF]);
  for (int x = 0; x < w; ++x) {
    out[x] = ripBorder(pixels, table, w, h, x, 0);
    out[size_t(h - 1) * w + x] = ripBorder(pixels, table, w, h, x, h - 1);
  }
  for (int y = 1; y < h - 1; ++y) {
    const size_t row = size_t(y) * w;
    const uint16_t* __restrict up = pixels + row - w;
    const uint16_t* __restrict mid = pixels + row;
    const uint16_t* __restrict dn = pixels + row + w;
    const uint8_t* __restrict cu = cls + row - w;
    const uint8_t* __restrict cm = cls + row;
    const uint8_t* __restrict cd = cls + row + w;
    uint16_t* __restrict o = out + row;
    o[0] = ripBorder(pixels, table, w, h, 0, y);
    o[w - 1] = ripBorder(pixels, table, w, h, w - 1, y);
    for (int x = 1; x < w - 1; ++x) {
      const uint8_t c = cu[x];
      const bool direct = (cd[x] == c) & (cm[x - 1] == c) & (cm[x + 1] == c);
      const int differing =
          (cu[x - 1] != c) + (cu[x + 1] != c) + (cd[x - 1] != c) + (cd[x + 1] != c);
      const uint16_t smoothed = average4(up[x], dn[x], mid[x - 1], mid[x + 1]);
      o[x] = (direct & (differing <= 1)) ? smoothed : mid[x];
    }
  }
  std::copy(out, out + n, pixels);
}

}  // namespace zov

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
  const ClassTable& cls = classTable();
  uint16_t* out = reinterpret_cast<uint16_t*>(work);
  size_t n = size_t(w) * h;
  for (int x = 0; x < w; ++x) {
    out[x] = ripBorder(pixels, cls, w, h, x, 0);
    out[size_t(h - 1) * w + x] = ripBorder(pixels, cls, w, h, x, h - 1);
  }
  for (int y = 1; y < h - 1; ++y) {
    const uint16_t* up = pixels + size_t(y - 1) * w;
    const uint16_t* mid = up + w;
    const uint16_t* dn = mid + w;
    uint16_t* o = out + size_t(y) * w;
    o[0] = ripBorder(pixels, cls, w, h, 0, y);
    o[w - 1] = ripBorder(pixels, cls, w, h, w - 1, y);
    for (int x = 1; x < w - 1; ++x) {
      int c = cls[up[x] & 0x7FFF];
      if (cls[dn[x] & 0x7FFF] != c || cls[mid[x - 1] & 0x7FFF] != c ||
          cls[mid[x + 1] & 0x7FFF] != c) {
        o[x] = mid[x];
        continue;
      }
      int differing = (cls[up[x - 1] & 0x7FFF] != c) + (cls[up[x + 1] & 0x7FFF] != c) +
                      (cls[dn[x - 1] & 0x7FFF] != c) + (cls[dn[x + 1] & 0x7FFF] != c);
      o[x] = differing <= 1 ? average4(up[x], dn[x], mid[x - 1], mid[x + 1]) : mid[x];
    }
  }
  std::copy(out, out + n, pixels);
}

}  // namespace zov

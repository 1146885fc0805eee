// Shared machinery of the neighbourhood filters: splitting a frame into byte planes and walking a
// plane's 3 x 3 windows, with the interior as a tight loop and the border (edges and corners,
// a few thousand pixels at most) through one general path that sees only the existing
// neighbours.
#pragma once

#include <cstddef>
#include <cstdint>

namespace zov::filter_detail {

// The existing neighbours of a border pixel, direct ones (up, down, left, right) first.
struct BorderWindow {
  int centre = 0;
  int directCount = 0;
  int diagonalCount = 0;
  int direct[4] = {};
  int diagonal[4] = {};
  int count() const { return directCount + diagonalCount; }
};

inline void gatherBorder(const uint8_t* plane, int w, int h, int x, int y, BorderWindow& bw) {
  const uint8_t* p = plane + size_t(y) * w + x;
  bw.centre = *p;
  bw.directCount = bw.diagonalCount = 0;
  bool up = y > 0, down = y<h - 1, left = x> 0, right = x < w - 1;
  if (up) bw.direct[bw.directCount++] = p[-w];
  if (down) bw.direct[bw.directCount++] = p[w];
  if (left) bw.direct[bw.directCount++] = p[-1];
  if (right) bw.direct[bw.directCount++] = p[1];
  if (up && left) bw.diagonal[bw.diagonalCount++] = p[-w - 1];
  if (up && right) bw.diagonal[bw.diagonalCount++] = p[-w + 1];
  if (down && left) bw.diagonal[bw.diagonalCount++] = p[w - 1];
  if (down && right) bw.diagonal[bw.diagonalCount++] = p[w + 1];
}

// Walks every window of a w x h plane (w, h >= 3). The kernel gives
//   int inner(nw, n, ne, w, c, e, sw, s, se)  for interior pixels, and
//   int border(const BorderWindow&)           for edge and corner pixels;
// out(index, value) receives each result. The plane is only read, so results may go anywhere
// but the plane.
template <class Kernel, class Out>
void walkPlane(const uint8_t* plane, int w, int h, const Kernel& k, Out&& out) {
  BorderWindow bw;
  auto border = [&](int x, int y) {
    gatherBorder(plane, w, h, x, y, bw);
    out(size_t(y) * w + x, k.border(bw));
  };
  for (int x = 0; x < w; ++x) border(x, 0);
  for (int y = 1; y < h - 1; ++y) {
    // The plane is never written while it is walked; saying so lets the compiler keep the
    // window in registers across the stores of the results.
    const uint8_t* __restrict up = plane + size_t(y - 1) * w;
    const uint8_t* __restrict mid = up + w;
    const uint8_t* __restrict dn = mid + w;
    size_t row = size_t(y) * w;
    border(0, y);
    for (int x = 1; x < w - 1; ++x) {
      out(row + x, k.inner(up[x - 1], up[x], up[x + 1], mid[x - 1], mid[x], mid[x + 1], dn[x - 1],
                           dn[x], dn[x + 1]));
    }
    border(w - 1, y);
  }
  for (int x = 0; x < w; ++x) border(x, h - 1);
}

// Splits 15-bit pixels into red, green and blue byte planes of n bytes each.
inline void splitPlanes(const uint16_t* pixels, size_t n, uint8_t* r, uint8_t* g, uint8_t* b) {
  for (size_t i = 0; i < n; ++i) {
    uint16_t v = pixels[i];
    r[i] = uint8_t(v >> 10 & 31);
    g[i] = uint8_t(v >> 5 & 31);
    b[i] = uint8_t(v & 31);
  }
}

// Filters the three component planes of a frame with one kernel and recombines the results into
// the frame: red overwrites the pixel, green and blue are or-ed in.
template <class Kernel>
void filterComponentPlanes(uint16_t* pixels, uint8_t* work, int w, int h, const Kernel& k) {
  size_t n = size_t(w) * h;
  uint8_t* r = work;
  uint8_t* g = work + n;
  uint8_t* b = work + 2 * n;
  splitPlanes(pixels, n, r, g, b);
  walkPlane(r, w, h, k, [pixels](size_t i, int v) { pixels[i] = uint16_t(v << 10); });
  walkPlane(g, w, h, k, [pixels](size_t i, int v) { pixels[i] |= uint16_t(v << 5); });
  walkPlane(b, w, h, k, [pixels](size_t i, int v) { pixels[i] |= uint16_t(v); });
}

// The low-pass window weights of a level (1..4): inner centre, direct and diagonal weights and
// their sum. A border pixel keeps the neighbour weights and puts the missing ones on itself.
struct LowPassWeights {
  int centre, direct, diagonal, divisor;
};
inline constexpr LowPassWeights kLowPassWeights[4] = {
    {16, 1, 1, 24}, {4, 3, 1, 20}, {2, 1, 1, 10}, {1, 1, 1, 9}};

template <int Level>
struct LowPassKernel {
  static constexpr LowPassWeights W = kLowPassWeights[Level - 1];
  int inner(int nw, int n, int ne, int w, int c, int e, int sw, int s, int se) const {
    return (W.centre * c + W.direct * (n + s + w + e) + W.diagonal * (nw + ne + sw + se)) /
           W.divisor;
  }
  int border(const BorderWindow& bw) const {
    int sum = 0, weight = 0;
    for (int i = 0; i < bw.directCount; ++i) sum += W.direct * bw.direct[i];
    for (int i = 0; i < bw.diagonalCount; ++i) sum += W.diagonal * bw.diagonal[i];
    weight = W.direct * bw.directCount + W.diagonal * bw.diagonalCount;
    return (sum + (W.divisor - weight) * bw.centre) / W.divisor;
  }
};

}  // namespace zov::filter_detail

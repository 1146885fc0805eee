// Sharpening filters: inverted low-pass (levels 1..4) and high-pass. Both work on one byte plane
// S = R + G + B (0..93) and move all three components of a pixel by the same step, so the
// pixel's hue is kept while its contrast against the surroundings grows.
#include <algorithm>

#include "encoder/filter_planes.h"
#include "encoder/filters.h"

namespace zov {
namespace {

using filter_detail::BorderWindow;

// Builds S for every pixel into the plane.
void buildSumPlane(const uint16_t* pixels, size_t n, uint8_t* s) {
  for (size_t i = 0; i < n; ++i) {
    uint16_t v = pixels[i];
    s[i] = uint8_t((v >> 10 & 31) + (v >> 5 & 31) + (v & 31));
  }
}

// Moves all three components by a signed step, each held within 0..31. A step of 0 leaves the
// pixel exactly as it was. Written without branches so that rows vectorise.
inline uint16_t shifted(uint16_t v, int step) {
  int r = std::clamp((v >> 10 & 31) + step, 0, 31);
  int g = std::clamp((v >> 5 & 31) + step, 0, 31);
  int b = std::clamp((v & 31) + step, 0, 31);
  return step ? uint16_t(r << 10 | g << 5 | b) : v;
}

template <int Level>
void invertedLowPassLevel(uint16_t* pixels, uint8_t* work, int w, int h) {
  size_t n = size_t(w) * h;
  uint8_t* s = work;
  buildSumPlane(pixels, n, s);
  filter_detail::walkPlane(s, w, h, filter_detail::LowPassKernel<Level>{},
                           [pixels, s](size_t i, int low) {
                             // Away from the surroundings by a third of the difference
                             // (division truncates toward zero, as both directions need).
                             pixels[i] = shifted(pixels[i], (s[i] - low) / 3);
                           });
}

// H = (k * S - sum of the neighbours) / 12 with k making the weights add up to 12.
struct HighPassKernel {
  int inner(int nw, int n, int ne, int w, int c, int e, int sw, int s, int se) const {
    return (20 * c - (nw + n + ne + w + e + sw + s + se)) / 12;
  }
  int border(const BorderWindow& bw) const {
    int sum = 0;
    for (int i = 0; i < bw.directCount; ++i) sum += bw.direct[i];
    for (int i = 0; i < bw.diagonalCount; ++i) sum += bw.diagonal[i];
    return ((12 + bw.count()) * bw.centre - sum) / 12;  // C++ division truncates toward zero
  }
};

}  // namespace

void filterInvertedLowPass(uint16_t* pixels, uint8_t* work, int w, int h, int level) {
  if (w < 3 || h < 3) return;
  switch (level) {
    case 1:
      return invertedLowPassLevel<1>(pixels, work, w, h);
    case 2:
      return invertedLowPassLevel<2>(pixels, work, w, h);
    case 3:
      return invertedLowPassLevel<3>(pixels, work, w, h);
    case 4:
      return invertedLowPassLevel<4>(pixels, work, w, h);
    default:
      return;
  }
}

void filterHighPass(uint16_t* pixels, uint8_t* work, int w, int h) {
  if (w < 3 || h < 3) return;
  size_t n = size_t(w) * h;
  uint8_t* s = work;
  buildSumPlane(pixels, n, s);
  filter_detail::walkPlane(s, w, h, HighPassKernel{}, [pixels, s](size_t i, int high) {
    // A strong peak turns white. Below 124 the value always fits a signed byte (it is at least
    // -62), so no narrowing is needed.
    uint16_t moved = shifted(pixels[i], (high - s[i]) / 3);
    pixels[i] = high >= 124 ? uint16_t(0x7FFF) : moved;
  });
}

}  // namespace zov

// Smoothing filters over component planes: low-pass (levels 1..4), median and flatten.
#include <algorithm>

#include "encoder/filter_planes.h"
#include "encoder/filters.h"

namespace zov {
namespace {

using filter_detail::BorderWindow;

template <int Level>
void lowPassLevel(uint16_t* pixels, uint8_t* work, int w, int h) {
  filter_detail::filterComponentPlanes(pixels, work, w, h, filter_detail::LowPassKernel<Level>{});
}

inline void order(uint8_t& a, uint8_t& b) {
  uint8_t lo = std::min(a, b);
  b = std::max(a, b);
  a = lo;
}

struct MedianKernel {
  // The classic 19-exchange network that leaves the median of nine in p4.
  // Kept in bytes so that the compiler can sort many windows at once.
  int inner(uint8_t p0, uint8_t p1, uint8_t p2, uint8_t p3, uint8_t p4, uint8_t p5, uint8_t p6,
            uint8_t p7, uint8_t p8) const {
    order(p1, p2), order(p4, p5), order(p7, p8), order(p0, p1), order(p3, p4), order(p6, p7);
    order(p1, p2), order(p4, p5), order(p7, p8), order(p0, p3), order(p5, p8), order(p4, p7);
    order(p3, p6), order(p1, p4), order(p2, p5), order(p4, p7), order(p4, p2), order(p6, p4);
    order(p4, p2);
    return p4;
  }
  // An edge value joins its five neighbours four times, so the median of those nine values is
  // the value itself held within the neighbours' range. Corners stay as they are.
  int border(const BorderWindow& bw) const {
    if (bw.count() == 3) return bw.centre;
    int lo = 31, hi = 0;
    for (int i = 0; i < bw.directCount; ++i)
      lo = std::min(lo, bw.direct[i]), hi = std::max(hi, bw.direct[i]);
    for (int i = 0; i < bw.diagonalCount; ++i)
      lo = std::min(lo, bw.diagonal[i]), hi = std::max(hi, bw.diagonal[i]);
    return std::clamp(bw.centre, lo, hi);
  }
};

struct FlattenKernel {
  int threshold;
  bool near(int v, int c) const { return v - c <= threshold && c - v <= threshold; }
  // Every neighbour is within the threshold when the largest and the smallest are; the sum of
  // eight 5-bit values fits a byte, so the whole test runs on bytes.
  int inner(uint8_t nw, uint8_t n, uint8_t ne, uint8_t w, uint8_t c, uint8_t e, uint8_t sw,
            uint8_t s, uint8_t se) const {
    uint8_t hi = std::max({nw, n, ne, w, e, sw, s, se});
    uint8_t lo = std::min({nw, n, ne, w, e, sw, s, se});
    uint8_t sum = uint8_t(nw + n + ne + w + e + sw + s + se);
    bool flat = hi <= c + threshold && lo + threshold >= c;
    return flat ? sum >> 3 : c;
  }
  int border(const BorderWindow& bw) const {
    int sum = 0;
    for (int i = 0; i < bw.directCount; ++i) {
      if (!near(bw.direct[i], bw.centre)) return bw.centre;
      sum += bw.direct[i];
    }
    for (int i = 0; i < bw.diagonalCount; ++i) {
      if (!near(bw.diagonal[i], bw.centre)) return bw.centre;
      sum += bw.diagonal[i];
    }
    return sum / bw.count();
  }
};

bool tooSmall(int w, int h) {
  return w < 3 || h < 3;
}

}  // namespace

void filterLowPass(uint16_t* pixels, uint8_t* work, int w, int h, int level) {
  if (tooSmall(w, h)) return;
  switch (level) {
    case 1:
      return lowPassLevel<1>(pixels, work, w, h);
    case 2:
      return lowPassLevel<2>(pixels, work, w, h);
    case 3:
      return lowPassLevel<3>(pixels, work, w, h);
    case 4:
      return lowPassLevel<4>(pixels, work, w, h);
    default:
      return;
  }
}

void filterMedian(uint16_t* pixels, uint8_t* work, int w, int h) {
  if (tooSmall(w, h)) return;
  filter_detail::filterComponentPlanes(pixels, work, w, h, MedianKernel{});
}

void filterFlatten(uint16_t* pixels, uint8_t* work, int w, int h, int level) {
  if (tooSmall(w, h)) return;
  filter_detail::filterComponentPlanes(pixels, work, w, h, FlattenKernel{2 * level});
}

}  // namespace zov

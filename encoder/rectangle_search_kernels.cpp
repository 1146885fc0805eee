#include "encoder/rectangle_search_kernels.h"

#include <algorithm>

#include "format/cpu_features.h"

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#define ZOV_X86 1
#endif

namespace zov {

void runMapLineScalar(const uint8_t* map, uint8_t* runs, int width, uint8_t candidate) {
  int run = 0;
  for (int x = width - 1; x >= 0; --x) {
    run = map[x] == candidate ? std::min(run + 1, 255) : 0;
    runs[x] = static_cast<uint8_t>(run);
  }
}

void equalLine32Scalar(const uint32_t* a, const uint32_t* b, uint8_t* out, int n) {
  for (int x = 0; x < n; ++x) out[x] = a[x] == b[x];
}

void equalLine16Scalar(const uint16_t* a, const uint16_t* b, uint8_t* out, int n) {
  for (int x = 0; x < n; ++x) out[x] = a[x] == b[x];
}

int heightsLineScalar(const uint8_t* runs, const uint8_t* below, const uint8_t* sameBelow,
                      uint8_t* heights, int width, uint32_t minArea, int32_t* xs) {
  int n = 0;
  for (int x = 0; x < width; ++x) {
    uint32_t h = 0;
    if (runs[x]) {
      const uint32_t down = below && (!sameBelow || sameBelow[x]) ? below[x] : 0;
      h = std::min<uint32_t>(down, 254) + 1;
    }
    heights[x] = static_cast<uint8_t>(h);
    if (h * runs[x] >= minArea) xs[n++] = x;
  }
  return n;
}

namespace {

#ifdef ZOV_X86

// Sixteen entries a step from the right. Within a step the runs double in four rounds: after
// the round of k every entry holds its run capped at 2k (an entry whose run reached k adds the
// capped run k entries on); an entry whose run reaches the step's end then adds the run where
// the step on its right begins, saturating at 255 as the reference does.
__attribute__((target("sse2"))) void runMapLineSse2(const uint8_t* map, uint8_t* runs, int width,
                                                    uint8_t candidate) {
  const int tail = width % 16;
  runMapLineScalar(map + width - tail, runs + width - tail, tail, candidate);
  const __m128i cand = _mm_set1_epi8(static_cast<char>(candidate));
  const __m128i one = _mm_set1_epi8(1);
  // 16 - x for each entry x of a step: the entries whose run reaches the step's end.
  const __m128i toEnd = _mm_setr_epi8(16, 15, 14, 13, 12, 11, 10, 9, 8, 7, 6, 5, 4, 3, 2, 1);
  __m128i carry = _mm_set1_epi8(static_cast<char>(tail ? runs[width - tail] : 0));
  for (int x = width - tail - 16; x >= 0; x -= 16) {
    const __m128i m = _mm_loadu_si128(reinterpret_cast<const __m128i*>(map + x));
    __m128i r = _mm_and_si128(_mm_cmpeq_epi8(m, cand), one);
    r = _mm_add_epi8(r, _mm_and_si128(_mm_cmpeq_epi8(r, one), _mm_srli_si128(r, 1)));
    r = _mm_add_epi8(r, _mm_and_si128(_mm_cmpeq_epi8(r, _mm_set1_epi8(2)), _mm_srli_si128(r, 2)));
    r = _mm_add_epi8(r, _mm_and_si128(_mm_cmpeq_epi8(r, _mm_set1_epi8(4)), _mm_srli_si128(r, 4)));
    r = _mm_add_epi8(r, _mm_and_si128(_mm_cmpeq_epi8(r, _mm_set1_epi8(8)), _mm_srli_si128(r, 8)));
    r = _mm_adds_epu8(r, _mm_and_si128(_mm_cmpeq_epi8(r, toEnd), carry));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(runs + x), r);
    // The run at the step's first entry, for the step on its left.
    carry =
        _mm_shuffle_epi32(_mm_unpacklo_epi16(_mm_unpacklo_epi8(r, r), _mm_unpacklo_epi8(r, r)), 0);
  }
}

__attribute__((target("sse2"))) void equalLine32Sse2(const uint32_t* a, const uint32_t* b,
                                                     uint8_t* out, int n) {
  const __m128i one = _mm_set1_epi8(1);
  int x = 0;
  for (; x + 16 <= n; x += 16) {
    __m128i e[4];
    for (int k = 0; k < 4; ++k)
      e[k] = _mm_cmpeq_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(a + x + 4 * k)),
                             _mm_loadu_si128(reinterpret_cast<const __m128i*>(b + x + 4 * k)));
    const __m128i packed =
        _mm_packs_epi16(_mm_packs_epi32(e[0], e[1]), _mm_packs_epi32(e[2], e[3]));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + x), _mm_and_si128(packed, one));
  }
  equalLine32Scalar(a + x, b + x, out + x, n - x);
}

__attribute__((target("sse2"))) void equalLine16Sse2(const uint16_t* a, const uint16_t* b,
                                                     uint8_t* out, int n) {
  const __m128i one = _mm_set1_epi8(1);
  int x = 0;
  for (; x + 16 <= n; x += 16) {
    const __m128i lo = _mm_cmpeq_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(a + x)),
                                       _mm_loadu_si128(reinterpret_cast<const __m128i*>(b + x)));
    const __m128i hi =
        _mm_cmpeq_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(a + x + 8)),
                        _mm_loadu_si128(reinterpret_cast<const __m128i*>(b + x + 8)));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + x),
                     _mm_and_si128(_mm_packs_epi16(lo, hi), one));
  }
  equalLine16Scalar(a + x, b + x, out + x, n - x);
}

// Sixteen entries a step: the heights in bytes, the products of height and run in 16-bit
// lanes (at most 255 x 255) against minArea - 1 by a saturating subtraction; the columns of
// the step's mask are written out. A step without a candidate stores zero heights only.
__attribute__((target("sse2"))) int heightsLineSse2(const uint8_t* runs, const uint8_t* below,
                                                    const uint8_t* sameBelow, uint8_t* heights,
                                                    int width, uint32_t minArea, int32_t* xs) {
  const __m128i zero = _mm_setzero_si128();
  const __m128i one = _mm_set1_epi8(1);
  const __m128i cap = _mm_set1_epi8(static_cast<char>(254));
  const __m128i limit =
      _mm_set1_epi16(static_cast<short>(std::min<uint32_t>(minArea > 0 ? minArea - 1 : 0, 65535)));
  const bool all = minArea == 0;
  int n = 0, x = 0;
  for (; x + 16 <= width; x += 16) {
    const __m128i r = _mm_loadu_si128(reinterpret_cast<const __m128i*>(runs + x));
    const __m128i none = _mm_cmpeq_epi8(r, zero);
    if (_mm_movemask_epi8(none) == 0xFFFF) {
      _mm_storeu_si128(reinterpret_cast<__m128i*>(heights + x), zero);
      if (all)
        for (int k = 0; k < 16; ++k) xs[n++] = x + k;
      continue;
    }
    __m128i down = zero;
    if (below) {
      down = _mm_loadu_si128(reinterpret_cast<const __m128i*>(below + x));
      if (sameBelow)
        down = _mm_andnot_si128(
            _mm_cmpeq_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(sameBelow + x)), zero),
            down);
    }
    const __m128i h = _mm_andnot_si128(none, _mm_add_epi8(_mm_min_epu8(down, cap), one));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(heights + x), h);
    const __m128i lo = _mm_mullo_epi16(_mm_unpacklo_epi8(h, zero), _mm_unpacklo_epi8(r, zero));
    const __m128i hi = _mm_mullo_epi16(_mm_unpackhi_epi8(h, zero), _mm_unpackhi_epi8(r, zero));
    // Lanes at or below minArea - 1 are zero after the subtraction.
    const __m128i small = _mm_packs_epi16(_mm_cmpeq_epi16(_mm_subs_epu16(lo, limit), zero),
                                          _mm_cmpeq_epi16(_mm_subs_epu16(hi, limit), zero));
    unsigned mask = ~unsigned(_mm_movemask_epi8(small)) & 0xFFFF;
    if (all) mask = 0xFFFF;
    while (mask) {
      xs[n++] = x + __builtin_ctz(mask);
      mask &= mask - 1;
    }
  }
  const int tail =
      heightsLineScalar(runs + x, below ? below + x : nullptr, sameBelow ? sameBelow + x : nullptr,
                        heights + x, width - x, minArea, xs + n);
  for (int k = n; k < n + tail; ++k) xs[k] += x;
  return n + tail;
}

#endif

}  // namespace

RectangleSearchKernels rectangleSearchKernelsFor(unsigned flags) {
  RectangleSearchKernels k{runMapLineScalar, equalLine32Scalar, equalLine16Scalar,
                           heightsLineScalar};
#ifdef ZOV_X86
  if (flags & kCpuSse2) {
    k.runMapLine = runMapLineSse2;
    k.equalLine32 = equalLine32Sse2;
    k.equalLine16 = equalLine16Sse2;
    k.heightsLine = heightsLineSse2;
  }
#else
  (void)flags;
#endif
  return k;
}

const RectangleSearchKernels& rectangleSearchKernels() {
  static const RectangleSearchKernels k = rectangleSearchKernelsFor(cpuFlags());
  return k;
}

}  // namespace zov

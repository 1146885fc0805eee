#include "encoder/rgb15_kernels.h"

#include <cstring>

#include "format/cpu_features.h"

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#define ZOV_X86 1
#endif

namespace zov {

namespace {

inline uint16_t level(uint8_t x) {
  const int l = (x + 3) >> 3;
  return uint16_t(l > 31 ? 31 : l);
}

#ifdef ZOV_X86

// The component levels are a saturating add of 3 and a shift: 252 + 3 and above saturate at
// 255, whose level is 31 like the clamp's.

// Four pixels, each loaded as the 32 bits at its first byte (blue, green, red, and the next
// pixel's blue, which the masks drop), to four 15-bit colours in 32-bit lanes.
__attribute__((target("sse2"))) inline __m128i colours4Sse2(const uint8_t* p) {
  uint32_t v[4];
  for (int i = 0; i < 4; ++i) std::memcpy(&v[i], p + 3 * i, 4);
  __m128i t = _mm_set_epi32(int(v[3]), int(v[2]), int(v[1]), int(v[0]));
  t = _mm_adds_epu8(t, _mm_set1_epi8(3));
  const __m128i b = _mm_and_si128(_mm_srli_epi32(t, 3), _mm_set1_epi32(0x001F));
  const __m128i g = _mm_and_si128(_mm_srli_epi32(t, 6), _mm_set1_epi32(0x03E0));
  const __m128i r = _mm_and_si128(_mm_srli_epi32(t, 9), _mm_set1_epi32(0x7C00));
  return _mm_or_si128(_mm_or_si128(b, g), r);
}

__attribute__((target("sse2"))) void bgr24To15Sse2(const uint8_t* bgr, int width, uint16_t* dst) {
  int x = 0;
  // The last pixel's 32-bit load would read past the line: it is left to the plain loop.
  for (; x + 9 <= width; x += 8) {
    const __m128i lo = colours4Sse2(bgr + 3 * x), hi = colours4Sse2(bgr + 3 * x + 12);
    // The colours are below 2^15, so the signed saturating pack keeps them.
    _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + x), _mm_packs_epi32(lo, hi));
  }
  bgr24To15Scalar(bgr + 3 * x, width - x, dst + x);
}

// Eight pixels: the 16 bytes at the first and at the fifth pixel, one per half, are spread to
// one pixel per 32-bit lane (blue, green, red, 0), turned into levels and combined with
// multiply-adds: blue + 32 * green and red in 16 bits, then the first + 1024 * the second.
__attribute__((target("avx2"))) inline __m256i colours8Avx2(const uint8_t* p) {
  const __m256i raw = _mm256_inserti128_si256(
      _mm256_castsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p))),
      _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 12)), 1);
  const __m256i spread = _mm256_shuffle_epi8(
      raw, _mm256_setr_epi8(0, 1, 2, -1, 3, 4, 5, -1, 6, 7, 8, -1, 9, 10, 11, -1, 0, 1, 2, -1, 3, 4,
                            5, -1, 6, 7, 8, -1, 9, 10, 11, -1));
  __m256i t = _mm256_adds_epu8(spread, _mm256_set1_epi8(3));
  t = _mm256_and_si256(_mm256_srli_epi16(t, 3), _mm256_set1_epi8(0x1F));
  const __m256i pairs = _mm256_maddubs_epi16(t, _mm256_set1_epi32(0x00012001));
  return _mm256_madd_epi16(pairs, _mm256_set1_epi32(0x04000001));
}

__attribute__((target("avx2"))) void bgr24To15Avx2(const uint8_t* bgr, int width, uint16_t* dst) {
  int x = 0;
  // Sixteen pixels a step; the second half's load reads 4 bytes beyond its pixels, so the
  // loop stops while at least two pixels remain after the step.
  for (; x + 18 <= width; x += 16) {
    const __m256i a = colours8Avx2(bgr + 3 * x), b = colours8Avx2(bgr + 3 * x + 24);
    // Pack within halves (a0 b0 a1 b1 in 64-bit pieces), then put the pieces in order.
    const __m256i packed = _mm256_permute4x64_epi64(_mm256_packus_epi32(a, b), 0xD8);
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(dst + x), packed);
  }
  bgr24To15Sse2(bgr + 3 * x, width - x, dst + x);
}

#endif

}  // namespace

void bgr24To15Scalar(const uint8_t* bgr, int width, uint16_t* dst) {
  for (int x = 0; x < width; ++x, bgr += 3)
    dst[x] = uint16_t(level(bgr[2]) << 10 | level(bgr[1]) << 5 | level(bgr[0]));
}

Rgb15Kernels rgb15KernelsFor(unsigned flags) {
  Rgb15Kernels k{bgr24To15Scalar};
#ifdef ZOV_X86
  if (flags & kCpuSse2) k = {bgr24To15Sse2};
  if (flags & kCpuAvx2) k = {bgr24To15Avx2};
#else
  (void)flags;
#endif
  return k;
}

const Rgb15Kernels& rgb15Kernels() {
  static const Rgb15Kernels k = rgb15KernelsFor(cpuFlags());
  return k;
}

}  // namespace zov

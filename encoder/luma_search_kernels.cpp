#include "encoder/luma_search_kernels.h"

#include "encoder/colour_quantiser.h"
#include "format/cpu_features.h"

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#define ZOV_X86 1
#endif

namespace zov {

int bestLumaInRowScalar(const uint16_t* row, uint16_t colour, int start, int* distance) {
  int best = start;
  int bestD = colourDistance(colour, row[start]);
  if (bestD != 0) {
    for (int y = start - 1; y >= 0; --y) {
      int d = colourDistance(colour, row[y]);
      if (d >= bestD) break;
      best = y;
      bestD = d;
      if (d == 0) break;
    }
  }
  if (bestD != 0) {
    for (int y = start + 1; y <= 31; ++y) {
      int d = colourDistance(colour, row[y]);
      if (d >= bestD) break;
      best = y;
      bestD = d;
      if (d == 0) break;
    }
  }
  *distance = bestD;
  return best;
}

namespace {

// The descent on all 32 distances at once. `falling` bit y: d[y] < d[y + 1]; `rising` bit y:
// d[y + 1] < d[y] (bit 31 of both is meaningless). Downwards the search takes every luma below
// the start while the distance falls; upwards its first step must beat the best of the way
// down, and after that it goes on while the distance falls.
inline int descend(const int32_t* d, uint32_t falling, uint32_t rising, int start, int* distance) {
  int best = start;
  if (d[start] != 0 && start > 0) {
    const uint32_t stops = ~falling & ((1u << start) - 1);
    best = stops ? 32 - __builtin_clz(stops) : 0;
  }
  if (d[best] != 0 && start < 31 && d[start + 1] < d[best]) {
    const uint32_t stops = ~rising & (0x7FFFFFFFu & ~((2u << start) - 1));
    best = stops ? __builtin_ctz(stops) : 31;
  }
  *distance = d[best];
  return best;
}

#ifdef ZOV_X86

// AVX2: the 32 distances in four registers of eight. (An SSE2 version of the same costs more
// than the reference's short walks: on footage most descents end after two or three steps.)
__attribute__((target("avx2"))) int bestLumaInRowAvx2(const uint16_t* row, uint16_t colour,
                                                      int start, int* distance) {
  alignas(32) int32_t d[32];
  // Each 32-bit lane holds one table colour as (red, green) in its two halves, and blue.
  const __m256i target = _mm256_set1_epi32(int(colour >> 10 & 31) | int(colour >> 5 & 31) << 16);
  const __m256i targetB = _mm256_set1_epi32(colour & 31);
  const __m256i weightsRG = _mm256_set1_epi32(30 | 59 << 16);
  const __m256i weightB = _mm256_set1_epi32(20);
  const __m256i five = _mm256_set1_epi32(31), fiveHigh = _mm256_set1_epi32(31 << 16);
  __m256i dv[5];
  for (int k = 0; k < 4; ++k) {
    const __m256i c =
        _mm256_cvtepu16_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(row + 8 * k)));
    const __m256i rg = _mm256_or_si256(_mm256_and_si256(_mm256_srli_epi32(c, 10), five),
                                       _mm256_and_si256(_mm256_slli_epi32(c, 11), fiveHigh));
    const __m256i drg = _mm256_sub_epi16(rg, target);
    const __m256i db = _mm256_sub_epi16(_mm256_and_si256(c, five), targetB);
    dv[k] = _mm256_add_epi32(_mm256_madd_epi16(drg, _mm256_mullo_epi16(drg, weightsRG)),
                             _mm256_madd_epi16(db, _mm256_mullo_epi16(db, weightB)));
    _mm256_store_si256(reinterpret_cast<__m256i*>(d + 8 * k), dv[k]);
  }
  dv[4] = _mm256_setzero_si256();
  const __m256i rotate = _mm256_setr_epi32(1, 2, 3, 4, 5, 6, 7, 0);
  uint32_t falling = 0, rising = 0;
  for (int k = 0; k < 4; ++k) {
    const __m256i next = _mm256_blend_epi32(_mm256_permutevar8x32_epi32(dv[k], rotate),
                                            _mm256_permutevar8x32_epi32(dv[k + 1], rotate), 0x80);
    falling |= uint32_t(_mm256_movemask_ps(_mm256_castsi256_ps(_mm256_cmpgt_epi32(next, dv[k]))))
               << 8 * k;
    rising |= uint32_t(_mm256_movemask_ps(_mm256_castsi256_ps(_mm256_cmpgt_epi32(dv[k], next))))
              << 8 * k;
  }
  return descend(d, falling, rising, start, distance);
}

#endif

}  // namespace

LumaSearchKernels lumaSearchKernelsFor(unsigned flags) {
  LumaSearchKernels k{bestLumaInRowScalar};
#ifdef ZOV_X86
  if (flags & kCpuAvx2) k.bestLumaInRow = bestLumaInRowAvx2;
#else
  (void)flags;
#endif
  return k;
}

const LumaSearchKernels& lumaSearchKernels() {
  static const LumaSearchKernels k = lumaSearchKernelsFor(cpuFlags());
  return k;
}

}  // namespace zov

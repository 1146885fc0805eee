#include "encoder/prequantise_kernels.h"

#include <algorithm>
#include <cstring>

#include "encoder/delta_quantiser.h"
#include "format/cpu_features.h"

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#define ZOV_X86 1
#endif

namespace zov {
namespace {

// Pixels [from, to) of the chain from the luma `pred` before them; returns the last one's.
template <bool Extended>
inline int chainPixels(const LumaLineJob& j, int from, int to, int pred, bool& doubled) {
  SilentSymbols none;
  const int w = j.width;
  for (int x = from; x < to; ++x) {
    const bool hasNext = x + 1 < w;
    const int y = Extended ? quantiseExtended(j.wanted[x], pred, true, none)
                           : quantiseDoubling(j.wanted[x], pred, hasNext,
                                              hasNext ? int(j.yc[x + 1] >> 12) : 0, doubled, none);
    j.yc[x] = uint32_t(y) << 12 | j.chroma[x >> j.cellShift];
    j.pic[x] = j.ycToRgb[j.yc[x]];
    pred = y;
  }
  return pred;
}

template <bool Extended>
void lumaLineScalarT(const LumaLineJob& j) {
  bool doubled = false;
  chainPixels<Extended>(j, 1, j.width, int(j.yc[0] >> 12), doubled);
}

#ifdef ZOV_X86

// The vector versions take sixteen pixels at once where the chain cannot but take every wanted
// luma: a step of -6..6 is taken as it is by both codes (for step doubling, only while no
// doubled step is pending and no edge of 14 or more lies ahead). Assuming every pixel of a block
// gets its wanted luma, each step is known beforehand (the first one from the luma before the
// block); up to the first pixel where that fails, the assumption holds. The block is written as
// wanted and the pixels from that one on go pixel by pixel. Blocks start at multiples of 16
// (whole cells); in the first one pixel 0 (done) counts as taken and is put back afterwards.
// With step doubling the last pixel (which has nothing to look ahead at) and what is left after
// the last whole block go pixel by pixel.

// The lumas of four targets.
__attribute__((target("sse2"))) inline __m128i lumas4(const uint32_t* yc) {
  return _mm_srli_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(yc)), 12);
}

// Bits of the lanes of the block `cur` whose step from `before` is taken as it is.
template <bool Extended>
__attribute__((target("sse2"))) inline int takenAsWanted(const LumaLineJob& j, int x, __m128i cur,
                                                         __m128i before) {
  const __m128i zero = _mm_setzero_si128();
  // -6 <= d <= 6 as 0 <= d + 6 <= 12 unsigned.
  const __m128i d = _mm_add_epi8(_mm_sub_epi8(cur, before), _mm_set1_epi8(6));
  __m128i ok = _mm_cmpeq_epi8(_mm_subs_epu8(d, _mm_set1_epi8(12)), zero);
  if (!Extended) {
    // The sources' own lumas of the pixels to the right: -13 <= e <= 13.
    const uint32_t* n = j.yc + x + 1;
    const __m128i next = _mm_packus_epi16(_mm_packs_epi32(lumas4(n), lumas4(n + 4)),
                                          _mm_packs_epi32(lumas4(n + 8), lumas4(n + 12)));
    const __m128i e = _mm_add_epi8(_mm_sub_epi8(next, before), _mm_set1_epi8(13));
    ok = _mm_and_si128(ok, _mm_cmpeq_epi8(_mm_subs_epu8(e, _mm_set1_epi8(26)), zero));
  }
  return _mm_movemask_epi8(ok);
}

// The targets and colours of the block at x from its lumas (bytes).
template <int Shift>
__attribute__((target("sse2"))) inline void blockSse2(const LumaLineJob& j, int x, __m128i lumas) {
  const __m128i zero = _mm_setzero_si128();
  const __m128i lo16 = _mm_unpacklo_epi8(lumas, zero), hi16 = _mm_unpackhi_epi8(lumas, zero);
  __m128i y[4] = {_mm_unpacklo_epi16(lo16, zero), _mm_unpackhi_epi16(lo16, zero),
                  _mm_unpacklo_epi16(hi16, zero), _mm_unpackhi_epi16(hi16, zero)};
  __m128i c[4];
  if (Shift == 2) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(j.chroma + x / 4));
    c[0] = _mm_shuffle_epi32(v, 0x00);
    c[1] = _mm_shuffle_epi32(v, 0x55);
    c[2] = _mm_shuffle_epi32(v, 0xAA);
    c[3] = _mm_shuffle_epi32(v, 0xFF);
  } else {
    const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(j.chroma + x / 2));
    const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(j.chroma + x / 2 + 4));
    c[0] = _mm_shuffle_epi32(a, 0x50);
    c[1] = _mm_shuffle_epi32(a, 0xFA);
    c[2] = _mm_shuffle_epi32(b, 0x50);
    c[3] = _mm_shuffle_epi32(b, 0xFA);
  }
  for (int k = 0; k < 4; ++k)
    _mm_storeu_si128(reinterpret_cast<__m128i*>(j.yc + x + 4 * k),
                     _mm_or_si128(_mm_slli_epi32(y[k], 12), c[k]));
  for (int i = x; i < x + 16; ++i) j.pic[i] = j.ycToRgb[j.yc[i]];
}

// The same with AVX2: the chromas spread by one permutation, the colours gathered (in the time
// of the look-ups one by one here, with fewer instructions).
template <int Shift>
__attribute__((target("avx2"))) inline void blockAvx2(const LumaLineJob& j, int x, __m128i lumas) {
  constexpr bool four = Shift == 2;
  // Lane i of a block takes the chroma of cell i >> cellShift of the block.
  const __m256i pickLo =
      four ? _mm256_setr_epi32(0, 0, 0, 0, 1, 1, 1, 1) : _mm256_setr_epi32(0, 0, 1, 1, 2, 2, 3, 3);
  const __m256i pickHi =
      four ? _mm256_setr_epi32(2, 2, 2, 2, 3, 3, 3, 3) : _mm256_setr_epi32(4, 4, 5, 5, 6, 6, 7, 7);
  const __m256i c = four ? _mm256_broadcastsi128_si256(
                               _mm_loadu_si128(reinterpret_cast<const __m128i*>(j.chroma + x / 4)))
                         : _mm256_loadu_si256(reinterpret_cast<const __m256i*>(j.chroma + x / 2));
  const __m256i chromaLo = _mm256_permutevar8x32_epi32(c, pickLo);
  const __m256i chromaHi = _mm256_permutevar8x32_epi32(c, pickHi);
  const __m256i yLo = _mm256_cvtepu8_epi32(lumas),
                yHi = _mm256_cvtepu8_epi32(_mm_srli_si128(lumas, 8));
  const __m256i lo = _mm256_or_si256(_mm256_slli_epi32(yLo, 12), chromaLo);
  const __m256i hi = _mm256_or_si256(_mm256_slli_epi32(yHi, 12), chromaHi);
  _mm256_storeu_si256(reinterpret_cast<__m256i*>(j.yc + x), lo);
  _mm256_storeu_si256(reinterpret_cast<__m256i*>(j.yc + x + 8), hi);
  // Each colour as the low half of the 32 bits at its entry, from the table by chroma where
  // given (a cell's four colours in one cache line).
  const bool byChroma = j.rows != nullptr;
  const int* table = reinterpret_cast<const int*>(byChroma ? j.rows : j.ycToRgb);
  const __m256i atLo = byChroma ? _mm256_or_si256(_mm256_slli_epi32(chromaLo, 5), yLo) : lo;
  const __m256i atHi = byChroma ? _mm256_or_si256(_mm256_slli_epi32(chromaHi, 5), yHi) : hi;
  const __m256i low16 = _mm256_set1_epi32(0xFFFF);
  const __m256i clo = _mm256_and_si256(_mm256_i32gather_epi32(table, atLo, 2), low16);
  const __m256i chi = _mm256_and_si256(_mm256_i32gather_epi32(table, atHi, 2), low16);
  _mm256_storeu_si256(reinterpret_cast<__m256i*>(j.pic + x),
                      _mm256_permute4x64_epi64(_mm256_packus_epi32(clo, chi), 0xD8));
}

// The line in blocks of sixteen; Block writes one block as wanted.
template <bool Extended, typename Block>
inline void lumaLineBlocks(const LumaLineJob& job, Block block) {
  // A copy the stores through its pointers cannot reach, kept in registers.
  const LumaLineJob j = job;
  const int w = j.width;
  const uint32_t yc0 = j.yc[0];
  const uint16_t pic0 = j.pic[0];
  // With step doubling a block must not hold the last pixel.
  const int blocksEnd = Extended ? w : w - 1;
  bool doubled = false;
  int pred = int(j.yc[0] >> 12);
  j.wanted[0] = uint8_t(pred);
  int x = 0;
  for (; x + 16 <= blocksEnd; x += 16) {
    int taken = 0;
    if (Extended || !doubled) {
      const __m128i cur = _mm_loadu_si128(reinterpret_cast<const __m128i*>(j.wanted + x));
      // Each lane's luma before it: the block shifted by one, the luma before the block in
      // lane 0 (put in the register: stored beside the block and read back with it, it waited
      // for the store on every block). Pixel 0 stands for itself (the step into pixel 1 is from
      // its luma).
      const __m128i before =
          _mm_or_si128(_mm_slli_si128(cur, 1), _mm_cvtsi32_si128(x > 0 ? pred & 0xFF : 0));
      taken = takenAsWanted<Extended>(j, x, cur, before) | (x == 0 ? 1 : 0);
    }
    // The lanes before the first that is not taken are done.
    const int done = __builtin_ctz(~unsigned(taken) | 0x10000u);
    if (done > 0) {
      // Step doubling goes on reading the sources' lumas after the lanes done.
      uint32_t sources[16];
      if (!Extended && done < 16) std::memcpy(sources, j.yc + x, sizeof sources);
      block(j, x, _mm_loadu_si128(reinterpret_cast<const __m128i*>(j.wanted + x)));
      if (x == 0) j.yc[0] = yc0, j.pic[0] = pic0;
      if (!Extended && done < 16)
        std::memcpy(j.yc + x + done, sources + done, sizeof(uint32_t) * size_t(16 - done));
      pred = j.wanted[x + done - 1];
    }
    if (done < 16) pred = chainPixels<Extended>(j, x + done, x + 16, pred, doubled);
  }
  chainPixels<Extended>(j, std::max(x, 1), w, pred, doubled);
}

template <bool Extended, int Shift>
__attribute__((target("sse2"))) void lumaLineSse2T(const LumaLineJob& j) {
  lumaLineBlocks<Extended>(j, blockSse2<Shift>);
}

void lumaLineSse2(const LumaLineJob& j) {
  if (j.cellShift == 2)
    (j.extended ? lumaLineSse2T<true, 2> : lumaLineSse2T<false, 2>)(j);
  else if (j.cellShift == 1)
    (j.extended ? lumaLineSse2T<true, 1> : lumaLineSse2T<false, 1>)(j);
  else
    lumaLineScalar(j);
}

template <bool Extended, int Shift>
__attribute__((target("avx2"))) void lumaLineAvx2T(const LumaLineJob& j) {
  lumaLineBlocks<Extended>(j, blockAvx2<Shift>);
}

void lumaLineAvx2(const LumaLineJob& j) {
  if (j.cellShift == 2)
    (j.extended ? lumaLineAvx2T<true, 2> : lumaLineAvx2T<false, 2>)(j);
  else if (j.cellShift == 1)
    (j.extended ? lumaLineAvx2T<true, 1> : lumaLineAvx2T<false, 1>)(j);
  else
    lumaLineScalar(j);
}

#endif

}  // namespace

void lumaLineScalar(const LumaLineJob& j) {
  if (j.extended)
    lumaLineScalarT<true>(j);
  else
    lumaLineScalarT<false>(j);
}

PrequantiseKernels prequantiseKernelsFor(unsigned flags) {
  PrequantiseKernels k{lumaLineScalar};
#ifdef ZOV_X86
  if (flags & kCpuSse2) k = {lumaLineSse2};
  if (flags & kCpuAvx2) k = {lumaLineAvx2};
#else
  (void)flags;
#endif
  return k;
}

const PrequantiseKernels& prequantiseKernels() {
  static const PrequantiseKernels k = prequantiseKernelsFor(cpuFlags());
  return k;
}

}  // namespace zov

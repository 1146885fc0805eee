#include "encoder/smooth_kernels.h"

#include <algorithm>
#include <cstdlib>

#include "encoder/encoder_buffers.h"
#include "format/cpu_features.h"

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#define ZOV_X86 1
#endif

namespace zov {
namespace {

void smoothPixels(uint8_t* map, const uint32_t* yc, bool oddLine, uint32_t loss, bool edge,
                  int from, int to) {
  const int lossLevel = int(std::min<uint32_t>(loss, 64));
  for (int x = from; x < to; ++x) {
    if (map[x] != kMapCoded) continue;
    const int left = int(yc[x - 1] >> 12), here = int(yc[x] >> 12), right = int(yc[x + 1] >> 12);
    const int a = std::abs(here - left), c = std::abs(right - here), d = std::abs(right - left);
    bool ok;
    if (oddLine == ((x & 1) != 0)) {
      ok = a < lossLevel && c < lossLevel && d < lossLevel;
      if (ok && !edge && x >= 2) ok = std::abs(left - int(yc[x - 2] >> 12)) < 7;
    } else {
      ok = a < 7 && c < 7 && d < 7;
    }
    if (ok) map[x] = kMapSmoothCandidate;
  }
}

#ifdef ZOV_X86
// Sixteen lumas (bits 12..16 of the targets) as bytes.
__attribute__((target("sse2"))) inline __m128i lumas16(const uint32_t* yc) {
  const __m128i* p = reinterpret_cast<const __m128i*>(yc);
  __m128i lo = _mm_packs_epi32(_mm_srli_epi32(_mm_loadu_si128(p), 12),
                               _mm_srli_epi32(_mm_loadu_si128(p + 1), 12));
  __m128i hi = _mm_packs_epi32(_mm_srli_epi32(_mm_loadu_si128(p + 2), 12),
                               _mm_srli_epi32(_mm_loadu_si128(p + 3), 12));
  return _mm_packus_epi16(lo, hi);
}

// 0xFF where |a - b| <= limit (bytes).
__attribute__((target("sse2"))) inline __m128i within(__m128i a, __m128i b, __m128i limit) {
  __m128i d = _mm_or_si128(_mm_subs_epu8(a, b), _mm_subs_epu8(b, a));
  return _mm_cmpeq_epi8(_mm_min_epu8(d, limit), d);
}

__attribute__((target("sse2"))) void smoothLineSse2(uint8_t* map, const uint32_t* yc, int width,
                                                    bool oddLine, uint32_t loss, bool edge) {
  if (width < 3) return;
  // The line's lumas as bytes, two spare in front for the left neighbours of column 2.
  alignas(16) uint8_t luma[kMaxWidth + 32];
  uint8_t* l = luma + 16;
  int x = 0;
  for (; x + 16 <= width; x += 16)
    _mm_storeu_si128(reinterpret_cast<__m128i*>(l + x), lumas16(yc + x));
  for (; x < width; ++x) l[x] = uint8_t(yc[x] >> 12);
  // Columns 2.. in steps of sixteen: lane k is column x + k, so the interpolated lanes
  // alternate with the same phase in every step.
  const __m128i interpolated =
      oddLine ? _mm_set1_epi16(int16_t(0xFF00)) : _mm_set1_epi16(int16_t(0x00FF));
  const bool anyLoss = loss > 0;
  const __m128i lossLimit = _mm_set1_epi8(char(std::min<uint32_t>(loss, 64) - (anyLoss ? 1 : 0)));
  const __m128i six = _mm_set1_epi8(6);
  const __m128i candidate = _mm_set1_epi8(char(kMapSmoothCandidate));
  smoothPixels(map, yc, oddLine, loss, edge, 1, std::min(2, width - 1));
  for (x = 2; x + 17 <= width; x += 16) {
    const __m128i left = _mm_loadu_si128(reinterpret_cast<const __m128i*>(l + x - 1));
    const __m128i here = _mm_loadu_si128(reinterpret_cast<const __m128i*>(l + x));
    const __m128i right = _mm_loadu_si128(reinterpret_cast<const __m128i*>(l + x + 1));
    __m128i plain = _mm_and_si128(_mm_and_si128(within(here, left, six), within(right, here, six)),
                                  within(right, left, six));
    __m128i inter = _mm_setzero_si128();
    if (anyLoss) {
      inter = _mm_and_si128(
          _mm_and_si128(within(here, left, lossLimit), within(right, here, lossLimit)),
          within(right, left, lossLimit));
      if (!edge) {
        const __m128i left2 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(l + x - 2));
        inter = _mm_and_si128(inter, within(left, left2, six));
      }
    }
    const __m128i ok =
        _mm_or_si128(_mm_and_si128(interpolated, inter), _mm_andnot_si128(interpolated, plain));
    __m128i* m = reinterpret_cast<__m128i*>(map + x);
    const __m128i entries = _mm_loadu_si128(m);
    const __m128i coded = _mm_cmpeq_epi8(entries, _mm_setzero_si128());
    _mm_storeu_si128(m, _mm_or_si128(entries, _mm_and_si128(_mm_and_si128(ok, coded), candidate)));
  }
  smoothPixels(map, yc, oddLine, loss, edge, std::max(x, 2), width - 1);
}

// Thirty-two lumas (bits 12..16 of the targets) as bytes: the packs interleave the halves of
// the registers, a permutation of the 4-byte groups puts them back in order.
__attribute__((target("avx2"))) inline __m256i lumas32(const uint32_t* yc) {
  const __m256i* p = reinterpret_cast<const __m256i*>(yc);
  const __m256i lo = _mm256_packs_epi32(_mm256_srli_epi32(_mm256_loadu_si256(p), 12),
                                        _mm256_srli_epi32(_mm256_loadu_si256(p + 1), 12));
  const __m256i hi = _mm256_packs_epi32(_mm256_srli_epi32(_mm256_loadu_si256(p + 2), 12),
                                        _mm256_srli_epi32(_mm256_loadu_si256(p + 3), 12));
  return _mm256_permutevar8x32_epi32(_mm256_packus_epi16(lo, hi),
                                     _mm256_setr_epi32(0, 4, 1, 5, 2, 6, 3, 7));
}

__attribute__((target("avx2"))) inline __m256i within32(__m256i a, __m256i b, __m256i limit) {
  const __m256i d = _mm256_or_si256(_mm256_subs_epu8(a, b), _mm256_subs_epu8(b, a));
  return _mm256_cmpeq_epi8(_mm256_min_epu8(d, limit), d);
}

// Thirty-two pixels from column `at` of a line whose lumas are `l`.
struct SmoothStep32 {
  __m256i oddLanes, evenLanes, lossLimit, six, candidate;
  bool oddLine, anyLoss, edge;
};

__attribute__((target("avx2"))) inline void smoothStep32(const SmoothStep32& k, uint8_t* map,
                                                         const uint8_t* l, int at) {
  // Lane j is column at + j: the interpolated lanes are the odd ones when the columns of at's
  // parity are not interpolated.
  const __m256i interpolated = (k.oddLine == ((at & 1) != 0)) ? k.evenLanes : k.oddLanes;
  const __m256i left = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(l + at - 1));
  const __m256i here = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(l + at));
  const __m256i right = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(l + at + 1));
  const __m256i plain =
      _mm256_and_si256(_mm256_and_si256(within32(here, left, k.six), within32(right, here, k.six)),
                       within32(right, left, k.six));
  __m256i inter = _mm256_setzero_si256();
  if (k.anyLoss) {
    inter = _mm256_and_si256(
        _mm256_and_si256(within32(here, left, k.lossLimit), within32(right, here, k.lossLimit)),
        within32(right, left, k.lossLimit));
    if (!k.edge) {
      const __m256i left2 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(l + at - 2));
      inter = _mm256_and_si256(inter, within32(left, left2, k.six));
    }
  }
  const __m256i ok = _mm256_or_si256(_mm256_and_si256(interpolated, inter),
                                     _mm256_andnot_si256(interpolated, plain));
  __m256i* m = reinterpret_cast<__m256i*>(map + at);
  const __m256i entries = _mm256_loadu_si256(m);
  const __m256i coded = _mm256_cmpeq_epi8(entries, _mm256_setzero_si256());
  _mm256_storeu_si256(
      m, _mm256_or_si256(entries, _mm256_and_si256(_mm256_and_si256(ok, coded), k.candidate)));
}

// The SSE2 version's steps with thirty-two pixels; the last step ends at column width - 2 and
// may overlap the one before (a pixel marked already is no longer coded, so it stays as it is).
__attribute__((target("avx2"))) void smoothLineAvx2(uint8_t* map, const uint32_t* yc, int width,
                                                    bool oddLine, uint32_t loss, bool edge) {
  if (width < 35) {
    smoothLineSse2(map, yc, width, oddLine, loss, edge);
    return;
  }
  alignas(32) uint8_t l[kMaxWidth + 32];
  int x = 0;
  for (; x + 32 <= width; x += 32)
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(l + x), lumas32(yc + x));
  for (; x < width; ++x) l[x] = uint8_t(yc[x] >> 12);
  SmoothStep32 k;
  k.oddLanes = _mm256_set1_epi16(int16_t(0xFF00));
  k.evenLanes = _mm256_set1_epi16(int16_t(0x00FF));
  k.anyLoss = loss > 0;
  k.lossLimit = _mm256_set1_epi8(char(std::min<uint32_t>(loss, 64) - (k.anyLoss ? 1 : 0)));
  k.six = _mm256_set1_epi8(6);
  k.candidate = _mm256_set1_epi8(char(kMapSmoothCandidate));
  k.oddLine = oddLine;
  k.edge = edge;
  smoothPixels(map, yc, oddLine, loss, edge, 1, 2);
  for (x = 2; x + 33 <= width; x += 32) smoothStep32(k, map, l, x);
  if (x < width - 1) smoothStep32(k, map, l, width - 33);
}
#endif

}  // namespace

void smoothLineScalar(uint8_t* map, const uint32_t* yc, int width, bool oddLine, uint32_t loss,
                      bool enhancedEdges) {
  smoothPixels(map, yc, oddLine, loss, enhancedEdges, 1, width - 1);
}

SmoothKernels smoothKernelsFor(unsigned flags) {
  SmoothKernels k{smoothLineScalar};
#ifdef ZOV_X86
  if (flags & kCpuSse2) k = {smoothLineSse2};
  if (flags & kCpuAvx2) k = {smoothLineAvx2};
#else
  (void)flags;
#endif
  return k;
}

const SmoothKernels& smoothKernels() {
  static const SmoothKernels k = smoothKernelsFor(cpuFlags());
  return k;
}

}  // namespace zov

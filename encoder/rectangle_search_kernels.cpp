#include "encoder/rectangle_search_kernels.h"

#include <algorithm>
#include <cstddef>
#include <cstring>

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

namespace {

// Entries from..to-1 of a line, right to left, from the run at `to` (none at the line's end).
template <typename T>
void sameRunsFrom(const uint8_t* map, const T* value, uint8_t* runs, int from, int to, int width,
                  uint8_t candidate) {
  int run = to < width ? runs[to] : 0;
  for (int x = to - 1; x >= from; --x) {
    if (map[x] != candidate)
      run = 0;
    else
      run = run > 0 && value[x] == value[x + 1] ? std::min(run + 1, 255) : 1;
    runs[x] = static_cast<uint8_t>(run);
  }
}

}  // namespace

void sameRunLine32Scalar(const uint8_t* map, const uint32_t* value, uint8_t* runs, int width,
                         uint8_t candidate) {
  sameRunsFrom(map, value, runs, 0, width, width, candidate);
}

void sameRunLine16Scalar(const uint8_t* map, const uint16_t* value, uint8_t* runs, int width,
                         uint8_t candidate) {
  sameRunsFrom(map, value, runs, 0, width, width, candidate);
}

void equalLine32Scalar(const uint32_t* a, const uint32_t* b, uint8_t* out, int n) {
  for (int x = 0; x < n; ++x) out[x] = a[x] == b[x];
}

void equalLine16Scalar(const uint16_t* a, const uint16_t* b, uint8_t* out, int n) {
  for (int x = 0; x < n; ++x) out[x] = a[x] == b[x];
}

namespace {

// The reference over columns from..width-1 of a job.
int heightsFrom(const HeightsLineJob& job, int from, int n) {
  const uint8_t* runs = job.runs;
  for (int x = from; x < job.width; ++x) {
    uint32_t h = 0;
    if (runs[x]) {
      const bool down = job.below && (!job.sameBelow || job.sameBelow[x]);
      h = std::min<uint32_t>(down ? job.below[x] : 0, 254) + 1;
    }
    job.heights[x] = static_cast<uint8_t>(h);
    const bool held =
        job.above && h < 255 && job.above[x] >= runs[x] && (!job.sameAbove || job.sameAbove[x]);
    const bool heldLeft =
        job.minArea > 0 && x > 0 && runs[x - 1] > runs[x] && job.heights[x - 1] >= h;
    if (h * runs[x] >= job.minArea && !held && !heldLeft) job.columns[n++] = x;
  }
  return n;
}

}  // namespace

int heightsLineScalar(const HeightsLineJob& job) {
  return heightsFrom(job, 0, 0);
}

ColumnBest largestInColumnScalar(const uint8_t* column, int maxLines, int minArea) {
  int width = column[0];
  int need = minArea - 1;  // an area counts when it is above this
  ColumnBest out;
  for (int h = 1; h <= maxLines; ++h) {
    const int run = column[h - 1];
    if (run < width) {
      if (run == 0) break;
      width = run;
    }
    if (width * h > need) {
      need = width * h;
      out.area = need;
      out.width = width;
      out.height = h;
    }
    if (width * maxLines <= need) break;
  }
  return out;
}

namespace {

// Lines l0.. of the map, in blocks of 32 x 32 (the writes go down columns).
void transposeFrom(const uint8_t* runs, int width, int lines, uint8_t* byColumn, int l0) {
  const size_t stride = size_t(lines);
  for (int lb = l0; lb < lines; lb += 32)
    for (int xb = 0; xb < width; xb += 32)
      for (int x = xb; x < std::min(xb + 32, width); ++x)
        for (int l = lb; l < std::min(lb + 32, lines); ++l)
          byColumn[size_t(x) * stride + size_t(l)] = runs[size_t(l) * width + size_t(x)];
}

}  // namespace

void replaceEntriesScalar(uint8_t* map, int n, uint8_t from, uint8_t to) {
  for (int i = 0; i < n; ++i) map[i] = map[i] == from ? to : map[i];
}

void transposeRunsScalar(const uint8_t* runs, int width, int lines, uint8_t* byColumn) {
  transposeFrom(runs, width, lines, byColumn, 0);
}

namespace {

#ifdef ZOV_X86

// Blocks of 16 x 16 through four rounds of interleaving line k with line k + 8 (after the
// fourth, register k holds column k); the lines and columns past the last whole block as the
// reference does them.
__attribute__((target("sse2"))) void transposeRunsSse2(const uint8_t* runs, int width, int lines,
                                                       uint8_t* byColumn) {
  const int lines16 = lines - lines % 16, width16 = width - width % 16;
  for (int l0 = 0; l0 < lines16; l0 += 16)
    for (int x0 = 0; x0 < width16; x0 += 16) {
      __m128i r[16], t[16];
      for (int k = 0; k < 16; ++k)
        r[k] = _mm_loadu_si128(
            reinterpret_cast<const __m128i*>(runs + size_t(l0 + k) * width + size_t(x0)));
      for (int round = 0; round < 4; ++round) {
        for (int k = 0; k < 8; ++k) {
          t[2 * k] = _mm_unpacklo_epi8(r[k], r[k + 8]);
          t[2 * k + 1] = _mm_unpackhi_epi8(r[k], r[k + 8]);
        }
        for (int k = 0; k < 16; ++k) r[k] = t[k];
      }
      for (int k = 0; k < 16; ++k)
        _mm_storeu_si128(reinterpret_cast<__m128i*>(byColumn + size_t(x0 + k) * lines + size_t(l0)),
                         r[k]);
    }
  // The columns right of the blocks on their lines, then the lines below them.
  if (width16 < width)
    for (int l = 0; l < lines16; ++l)
      for (int x = width16; x < width; ++x)
        byColumn[size_t(x) * lines + size_t(l)] = runs[size_t(l) * width + size_t(x)];
  transposeFrom(runs, width, lines, byColumn, lines16);
}

// Blocks of 32 x 32: the SSE2 version's four rounds on each half of 16 lines (the register
// halves are two 16 x 16 blocks side by side), then the two halves of each column joined. The
// lines and columns past the last whole block as the reference does them.
__attribute__((target("avx2"))) void transposeRunsAvx2(const uint8_t* runs, int width, int lines,
                                                       uint8_t* byColumn) {
  const int lines32 = lines - lines % 32, width32 = width - width % 32;
  for (int l0 = 0; l0 < lines32; l0 += 32)
    for (int x0 = 0; x0 < width32; x0 += 32) {
      __m256i half[2][16];
      for (int h = 0; h < 2; ++h) {
        __m256i* r = half[h];
        __m256i t[16];
        for (int k = 0; k < 16; ++k)
          r[k] = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(
              runs + size_t(l0 + 16 * h + k) * width + size_t(x0)));
        for (int round = 0; round < 4; ++round) {
          for (int k = 0; k < 8; ++k) {
            t[2 * k] = _mm256_unpacklo_epi8(r[k], r[k + 8]);
            t[2 * k + 1] = _mm256_unpackhi_epi8(r[k], r[k + 8]);
          }
          for (int k = 0; k < 16; ++k) r[k] = t[k];
        }
      }
      // Register k of a half: column x0 + k in its lower half, x0 + 16 + k in its upper one.
      for (int k = 0; k < 16; ++k) {
        _mm256_storeu_si256(
            reinterpret_cast<__m256i*>(byColumn + size_t(x0 + k) * lines + size_t(l0)),
            _mm256_permute2x128_si256(half[0][k], half[1][k], 0x20));
        _mm256_storeu_si256(
            reinterpret_cast<__m256i*>(byColumn + size_t(x0 + 16 + k) * lines + size_t(l0)),
            _mm256_permute2x128_si256(half[0][k], half[1][k], 0x31));
      }
    }
  if (width32 < width)
    for (int l = 0; l < lines32; ++l)
      for (int x = width32; x < width; ++x)
        byColumn[size_t(x) * lines + size_t(l)] = runs[size_t(l) * width + size_t(x)];
  transposeFrom(runs, width, lines, byColumn, lines32);
}

// Thirty-two entries a step, the rest as the reference does them.
__attribute__((target("avx2"))) void replaceEntriesAvx2(uint8_t* map, int n, uint8_t from,
                                                        uint8_t to) {
  const __m256i f = _mm256_set1_epi8(static_cast<char>(from));
  const __m256i t = _mm256_set1_epi8(static_cast<char>(to));
  int i = 0;
  for (; i + 32 <= n; i += 32) {
    __m256i* p = reinterpret_cast<__m256i*>(map + i);
    const __m256i v = _mm256_loadu_si256(p);
    _mm256_storeu_si256(p, _mm256_blendv_epi8(v, t, _mm256_cmpeq_epi8(v, f)));
  }
  replaceEntriesScalar(map + i, n - i, from, to);
}

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

// Thirty-two entries a step, as the SSE2 version with a fifth round (the shifts cross the
// halves of the register). A step without a candidate stores zeros and one of candidates only
// its distances to the step's end plus the carry, which is most steps of a search's map.
__attribute__((target("avx2"))) void runMapLineAvx2(const uint8_t* map, uint8_t* runs, int width,
                                                    uint8_t candidate) {
  const int tail = width % 32;
  runMapLineScalar(map + width - tail, runs + width - tail, tail, candidate);
  const __m256i cand = _mm256_set1_epi8(static_cast<char>(candidate));
  const __m256i zero = _mm256_setzero_si256();
  const __m256i one = _mm256_set1_epi8(1);
  const __m256i toEnd = _mm256_setr_epi8(32, 31, 30, 29, 28, 27, 26, 25, 24, 23, 22, 21, 20, 19, 18,
                                         17, 16, 15, 14, 13, 12, 11, 10, 9, 8, 7, 6, 5, 4, 3, 2, 1);
  int carry = tail ? runs[width - tail] : 0;
  for (int x = width - tail - 32; x >= 0; x -= 32) {
    const __m256i is =
        _mm256_cmpeq_epi8(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(map + x)), cand);
    const unsigned mask = unsigned(_mm256_movemask_epi8(is));
    __m256i r;
    if (mask == 0) {
      _mm256_storeu_si256(reinterpret_cast<__m256i*>(runs + x), zero);
      carry = 0;
      continue;
    }
    const __m256i carried = _mm256_set1_epi8(static_cast<char>(carry));
    if (mask == 0xFFFFFFFFu) {
      r = _mm256_adds_epu8(toEnd, carried);
    } else {
      r = _mm256_and_si256(is, one);
      // Entries 1, 2, 4, 8 and 16 on: the upper half moved down into the lower one.
      __m256i up = _mm256_permute2x128_si256(r, r, 0x81);
      r = _mm256_add_epi8(
          r, _mm256_and_si256(_mm256_cmpeq_epi8(r, one), _mm256_alignr_epi8(up, r, 1)));
      up = _mm256_permute2x128_si256(r, r, 0x81);
      r = _mm256_add_epi8(r, _mm256_and_si256(_mm256_cmpeq_epi8(r, _mm256_set1_epi8(2)),
                                              _mm256_alignr_epi8(up, r, 2)));
      up = _mm256_permute2x128_si256(r, r, 0x81);
      r = _mm256_add_epi8(r, _mm256_and_si256(_mm256_cmpeq_epi8(r, _mm256_set1_epi8(4)),
                                              _mm256_alignr_epi8(up, r, 4)));
      up = _mm256_permute2x128_si256(r, r, 0x81);
      r = _mm256_add_epi8(r, _mm256_and_si256(_mm256_cmpeq_epi8(r, _mm256_set1_epi8(8)),
                                              _mm256_alignr_epi8(up, r, 8)));
      up = _mm256_permute2x128_si256(r, r, 0x81);
      r = _mm256_add_epi8(r, _mm256_and_si256(_mm256_cmpeq_epi8(r, _mm256_set1_epi8(16)), up));
      r = _mm256_adds_epu8(r, _mm256_and_si256(_mm256_cmpeq_epi8(r, toEnd), carried));
    }
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(runs + x), r);
    carry = _mm_cvtsi128_si32(_mm256_castsi256_si128(r)) & 0xFF;
  }
}

// 0xFF in byte k where a[k] == b[k], for k in 0..31, in order.
__attribute__((target("avx2"))) inline __m256i equal32(const uint32_t* a, const uint32_t* b) {
  __m256i e[4];
  for (int k = 0; k < 4; ++k)
    e[k] = _mm256_cmpeq_epi32(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(a + 8 * k)),
                              _mm256_loadu_si256(reinterpret_cast<const __m256i*>(b + 8 * k)));
  // The packs interleave the halves: 4-byte groups 0, 4, 1, 5, 2, 6, 3, 7.
  const __m256i packed =
      _mm256_packs_epi16(_mm256_packs_epi32(e[0], e[1]), _mm256_packs_epi32(e[2], e[3]));
  return _mm256_permutevar8x32_epi32(packed, _mm256_setr_epi32(0, 4, 1, 5, 2, 6, 3, 7));
}

__attribute__((target("avx2"))) inline __m256i equal32(const uint16_t* a, const uint16_t* b) {
  const __m256i lo = _mm256_cmpeq_epi16(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(a)),
                                        _mm256_loadu_si256(reinterpret_cast<const __m256i*>(b)));
  const __m256i hi =
      _mm256_cmpeq_epi16(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(a + 16)),
                         _mm256_loadu_si256(reinterpret_cast<const __m256i*>(b + 16)));
  return _mm256_permute4x64_epi64(_mm256_packs_epi16(lo, hi), 0xD8);
}

// Thirty-two entries from x: `next` points at the values and map entries one further on (both
// readable for 32 entries). A run goes on where an entry and its right neighbour are candidates
// of one value (a link); the links' own run map, doubled as in runMapLineAvx2 from the links
// at the step's end (the run there, less one), gives each candidate its run less one.
template <typename T>
__attribute__((target("avx2"))) inline int sameRunStep(const uint8_t* map, const T* value,
                                                       const uint8_t* nextMap, const T* nextValue,
                                                       uint8_t* runs, __m256i cand, int carry) {
  const __m256i one = _mm256_set1_epi8(1);
  const __m256i is =
      _mm256_cmpeq_epi8(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(map)), cand);
  const __m256i nextIs =
      _mm256_cmpeq_epi8(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(nextMap)), cand);
  const __m256i link = _mm256_and_si256(_mm256_and_si256(is, nextIs), equal32(value, nextValue));
  const unsigned mask = unsigned(_mm256_movemask_epi8(link));
  const __m256i carried = _mm256_set1_epi8(static_cast<char>(carry > 0 ? carry - 1 : 0));
  const __m256i toEnd = _mm256_setr_epi8(32, 31, 30, 29, 28, 27, 26, 25, 24, 23, 22, 21, 20, 19, 18,
                                         17, 16, 15, 14, 13, 12, 11, 10, 9, 8, 7, 6, 5, 4, 3, 2, 1);
  __m256i r;
  if (mask == 0) {
    r = _mm256_and_si256(is, one);
  } else {
    __m256i l;
    if (mask == 0xFFFFFFFFu) {
      l = _mm256_adds_epu8(toEnd, carried);
    } else {
      l = _mm256_and_si256(link, one);
      __m256i up = _mm256_permute2x128_si256(l, l, 0x81);
      l = _mm256_add_epi8(
          l, _mm256_and_si256(_mm256_cmpeq_epi8(l, one), _mm256_alignr_epi8(up, l, 1)));
      up = _mm256_permute2x128_si256(l, l, 0x81);
      l = _mm256_add_epi8(l, _mm256_and_si256(_mm256_cmpeq_epi8(l, _mm256_set1_epi8(2)),
                                              _mm256_alignr_epi8(up, l, 2)));
      up = _mm256_permute2x128_si256(l, l, 0x81);
      l = _mm256_add_epi8(l, _mm256_and_si256(_mm256_cmpeq_epi8(l, _mm256_set1_epi8(4)),
                                              _mm256_alignr_epi8(up, l, 4)));
      up = _mm256_permute2x128_si256(l, l, 0x81);
      l = _mm256_add_epi8(l, _mm256_and_si256(_mm256_cmpeq_epi8(l, _mm256_set1_epi8(8)),
                                              _mm256_alignr_epi8(up, l, 8)));
      up = _mm256_permute2x128_si256(l, l, 0x81);
      l = _mm256_add_epi8(l, _mm256_and_si256(_mm256_cmpeq_epi8(l, _mm256_set1_epi8(16)), up));
      l = _mm256_adds_epu8(l, _mm256_and_si256(_mm256_cmpeq_epi8(l, toEnd), carried));
    }
    r = _mm256_and_si256(is, _mm256_adds_epu8(l, one));
  }
  _mm256_storeu_si256(reinterpret_cast<__m256i*>(runs), r);
  return _mm_cvtsi128_si32(_mm256_castsi256_si128(r)) & 0xFF;
}

// Steps of 32 from the right; the step that ends the line reads its right neighbours from a
// copy with a non-candidate after the last entry, the entries left of the last whole step go
// as the reference does them.
template <typename T>
__attribute__((target("avx2"))) void sameRunLineAvx2(const uint8_t* map, const T* value,
                                                     uint8_t* runs, int width, uint8_t candidate) {
  if (width < 32) {
    sameRunsFrom(map, value, runs, 0, width, width, candidate);
    return;
  }
  const __m256i cand = _mm256_set1_epi8(static_cast<char>(candidate));
  int x = width - 32;
  alignas(32) uint8_t lastMap[64];
  alignas(32) T lastValue[64];
  std::copy(map + x + 1, map + width, lastMap);
  std::copy(value + x + 1, value + width, lastValue);
  lastMap[31] = static_cast<uint8_t>(candidate + 1);
  lastValue[31] = 0;
  int carry = sameRunStep(map + x, value + x, lastMap, lastValue, runs + x, cand, 0);
  for (x -= 32; x >= 0; x -= 32)
    carry = sameRunStep(map + x, value + x, map + x + 1, value + x + 1, runs + x, cand, carry);
  sameRunsFrom(map, value, runs, 0, x + 32, width, candidate);
}

__attribute__((target("avx2"))) void sameRunLine32Avx2(const uint8_t* map, const uint32_t* value,
                                                       uint8_t* runs, int width,
                                                       uint8_t candidate) {
  sameRunLineAvx2(map, value, runs, width, candidate);
}

__attribute__((target("avx2"))) void sameRunLine16Avx2(const uint8_t* map, const uint16_t* value,
                                                       uint8_t* runs, int width,
                                                       uint8_t candidate) {
  sameRunLineAvx2(map, value, runs, width, candidate);
}

__attribute__((target("avx2"))) void equalLine32Avx2(const uint32_t* a, const uint32_t* b,
                                                     uint8_t* out, int n) {
  const __m256i one = _mm256_set1_epi8(1);
  int x = 0;
  for (; x + 32 <= n; x += 32)
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + x),
                        _mm256_and_si256(equal32(a + x, b + x), one));
  equalLine32Scalar(a + x, b + x, out + x, n - x);
}

// 0xFF in byte k where a[k] == b[k], for k in 0..15.
__attribute__((target("sse2"))) inline __m128i equal16(const uint32_t* a, const uint32_t* b) {
  __m128i e[4];
  for (int k = 0; k < 4; ++k)
    e[k] = _mm_cmpeq_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(a + 4 * k)),
                           _mm_loadu_si128(reinterpret_cast<const __m128i*>(b + 4 * k)));
  return _mm_packs_epi16(_mm_packs_epi32(e[0], e[1]), _mm_packs_epi32(e[2], e[3]));
}

__attribute__((target("sse2"))) inline __m128i equal16(const uint16_t* a, const uint16_t* b) {
  return _mm_packs_epi16(_mm_cmpeq_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(a)),
                                         _mm_loadu_si128(reinterpret_cast<const __m128i*>(b))),
                         _mm_cmpeq_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(a + 8)),
                                         _mm_loadu_si128(reinterpret_cast<const __m128i*>(b + 8))));
}

// The AVX2 step's work on sixteen entries, the links' runs doubled in four rounds.
template <typename T>
__attribute__((target("sse2"))) inline int sameRunStep16(const uint8_t* map, const T* value,
                                                         const uint8_t* nextMap, const T* nextValue,
                                                         uint8_t* runs, __m128i cand, int carry) {
  const __m128i one = _mm_set1_epi8(1);
  const __m128i is = _mm_cmpeq_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(map)), cand);
  const __m128i nextIs =
      _mm_cmpeq_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(nextMap)), cand);
  const __m128i link = _mm_and_si128(_mm_and_si128(is, nextIs), equal16(value, nextValue));
  const int mask = _mm_movemask_epi8(link);
  __m128i r;
  if (mask == 0) {
    r = _mm_and_si128(is, one);
  } else {
    const __m128i carried = _mm_set1_epi8(static_cast<char>(carry > 0 ? carry - 1 : 0));
    const __m128i toEnd = _mm_setr_epi8(16, 15, 14, 13, 12, 11, 10, 9, 8, 7, 6, 5, 4, 3, 2, 1);
    __m128i l = _mm_and_si128(link, one);
    l = _mm_add_epi8(l, _mm_and_si128(_mm_cmpeq_epi8(l, one), _mm_srli_si128(l, 1)));
    l = _mm_add_epi8(l, _mm_and_si128(_mm_cmpeq_epi8(l, _mm_set1_epi8(2)), _mm_srli_si128(l, 2)));
    l = _mm_add_epi8(l, _mm_and_si128(_mm_cmpeq_epi8(l, _mm_set1_epi8(4)), _mm_srli_si128(l, 4)));
    l = _mm_add_epi8(l, _mm_and_si128(_mm_cmpeq_epi8(l, _mm_set1_epi8(8)), _mm_srli_si128(l, 8)));
    l = _mm_adds_epu8(l, _mm_and_si128(_mm_cmpeq_epi8(l, toEnd), carried));
    r = _mm_and_si128(is, _mm_adds_epu8(l, one));
  }
  _mm_storeu_si128(reinterpret_cast<__m128i*>(runs), r);
  return _mm_cvtsi128_si32(r) & 0xFF;
}

template <typename T>
__attribute__((target("sse2"))) void sameRunLineSse2(const uint8_t* map, const T* value,
                                                     uint8_t* runs, int width, uint8_t candidate) {
  if (width < 16) {
    sameRunsFrom(map, value, runs, 0, width, width, candidate);
    return;
  }
  const __m128i cand = _mm_set1_epi8(static_cast<char>(candidate));
  int x = width - 16;
  uint8_t lastMap[16];
  T lastValue[16];
  std::copy(map + x + 1, map + width, lastMap);
  std::copy(value + x + 1, value + width, lastValue);
  lastMap[15] = static_cast<uint8_t>(candidate + 1);
  lastValue[15] = 0;
  int carry = sameRunStep16(map + x, value + x, lastMap, lastValue, runs + x, cand, 0);
  for (x -= 16; x >= 0; x -= 16)
    carry = sameRunStep16(map + x, value + x, map + x + 1, value + x + 1, runs + x, cand, carry);
  sameRunsFrom(map, value, runs, 0, x + 16, width, candidate);
}

__attribute__((target("sse2"))) void sameRunLine32Sse2(const uint8_t* map, const uint32_t* value,
                                                       uint8_t* runs, int width,
                                                       uint8_t candidate) {
  sameRunLineSse2(map, value, runs, width, candidate);
}

__attribute__((target("sse2"))) void sameRunLine16Sse2(const uint8_t* map, const uint16_t* value,
                                                       uint8_t* runs, int width,
                                                       uint8_t candidate) {
  sameRunLineSse2(map, value, runs, width, candidate);
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

__attribute__((target("sse2"))) inline __m128i load16(const uint8_t* p) {
  return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
}

__attribute__((target("avx2"))) inline __m256i load32(const uint8_t* p) {
  return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
}

// Sixteen entries a step: the heights in bytes, the products of height and run in 16-bit
// lanes (at most 255 x 255) against minArea - 1 by a saturating subtraction, the hold-backs by
// the line above and by the left neighbour by byte compares; the columns of the step's mask are
// written out. A step without a candidate stores zero heights only.
__attribute__((target("sse2"))) int heightsLineSse2(const HeightsLineJob& job) {
  const __m128i zero = _mm_setzero_si128();
  const __m128i ones = _mm_cmpeq_epi8(zero, zero);
  const __m128i one = _mm_set1_epi8(1);
  const __m128i cap = _mm_set1_epi8(static_cast<char>(254));
  const __m128i limit = _mm_set1_epi16(
      static_cast<short>(std::min<uint32_t>(job.minArea > 0 ? job.minArea - 1 : 0, 65535)));
  const bool all = job.minArea == 0;
  // The previous step's runs and heights, for the left neighbours (a zero run left of
  // column 0).
  __m128i prevR = zero, prevH = zero;
  int n = 0, x = 0;
  for (; x + 16 <= job.width; x += 16) {
    const __m128i r = load16(job.runs + x);
    const __m128i none = _mm_cmpeq_epi8(r, zero);
    if (_mm_movemask_epi8(none) == 0xFFFF && !all) {
      _mm_storeu_si128(reinterpret_cast<__m128i*>(job.heights + x), zero);
      prevR = zero;
      prevH = zero;
      continue;
    }
    __m128i down = zero;
    if (job.below) {
      down = load16(job.below + x);
      if (job.sameBelow)
        down = _mm_andnot_si128(_mm_cmpeq_epi8(load16(job.sameBelow + x), zero), down);
    }
    const __m128i h = _mm_andnot_si128(none, _mm_add_epi8(_mm_min_epu8(down, cap), one));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(job.heights + x), h);
    // Lanes at or below minArea - 1 are zero after the subtraction.
    __m128i skip = zero;
    if (!all) {
      const __m128i lo = _mm_mullo_epi16(_mm_unpacklo_epi8(h, zero), _mm_unpacklo_epi8(r, zero));
      const __m128i hi = _mm_mullo_epi16(_mm_unpackhi_epi8(h, zero), _mm_unpackhi_epi8(r, zero));
      skip = _mm_packs_epi16(_mm_cmpeq_epi16(_mm_subs_epu16(lo, limit), zero),
                             _mm_cmpeq_epi16(_mm_subs_epu16(hi, limit), zero));
      // Held back by the left neighbour: its run longer, its height at least as great.
      const __m128i leftR = _mm_or_si128(_mm_slli_si128(r, 1), _mm_srli_si128(prevR, 15));
      const __m128i leftH = _mm_or_si128(_mm_slli_si128(h, 1), _mm_srli_si128(prevH, 15));
      const __m128i shorter = _mm_andnot_si128(_mm_cmpeq_epi8(_mm_max_epu8(leftR, r), r), ones);
      const __m128i lower = _mm_cmpeq_epi8(_mm_max_epu8(leftH, h), leftH);
      skip = _mm_or_si128(skip, _mm_and_si128(shorter, lower));
    }
    prevR = r;
    prevH = h;
    if (job.above) {
      const __m128i a = load16(job.above + x);
      __m128i held =
          _mm_andnot_si128(_mm_cmpeq_epi8(h, ones), _mm_cmpeq_epi8(_mm_max_epu8(a, r), a));
      if (job.sameAbove)
        held = _mm_andnot_si128(_mm_cmpeq_epi8(load16(job.sameAbove + x), zero), held);
      skip = _mm_or_si128(skip, held);
    }
    unsigned mask = ~unsigned(_mm_movemask_epi8(skip)) & 0xFFFF;
    while (mask) {
      job.columns[n++] = x + __builtin_ctz(mask);
      mask &= mask - 1;
    }
  }
  return heightsFrom(job, x, n);
}

// The same thirty-two entries a step; the 16-bit lanes of each half are packed back in order.
__attribute__((target("avx2"))) int heightsLineAvx2(const HeightsLineJob& job) {
  const __m256i zero = _mm256_setzero_si256();
  const __m256i ones = _mm256_cmpeq_epi8(zero, zero);
  const __m256i one = _mm256_set1_epi8(1);
  const __m256i cap = _mm256_set1_epi8(static_cast<char>(254));
  const __m256i limit = _mm256_set1_epi16(
      static_cast<short>(std::min<uint32_t>(job.minArea > 0 ? job.minArea - 1 : 0, 65535)));
  const bool all = job.minArea == 0;
  __m256i prevR = zero, prevH = zero;
  int n = 0, x = 0;
  for (; x + 32 <= job.width; x += 32) {
    const __m256i r = load32(job.runs + x);
    const __m256i none = _mm256_cmpeq_epi8(r, zero);
    if (_mm256_movemask_epi8(none) == -1 && !all) {
      _mm256_storeu_si256(reinterpret_cast<__m256i*>(job.heights + x), zero);
      prevR = zero;
      prevH = zero;
      continue;
    }
    __m256i down = zero;
    if (job.below) {
      down = load32(job.below + x);
      if (job.sameBelow)
        down = _mm256_andnot_si256(_mm256_cmpeq_epi8(load32(job.sameBelow + x), zero), down);
    }
    const __m256i h = _mm256_andnot_si256(none, _mm256_add_epi8(_mm256_min_epu8(down, cap), one));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(job.heights + x), h);
    __m256i skip = zero;
    if (!all) {
      const __m256i lo =
          _mm256_mullo_epi16(_mm256_unpacklo_epi8(h, zero), _mm256_unpacklo_epi8(r, zero));
      const __m256i hi =
          _mm256_mullo_epi16(_mm256_unpackhi_epi8(h, zero), _mm256_unpackhi_epi8(r, zero));
      skip = _mm256_packs_epi16(_mm256_cmpeq_epi16(_mm256_subs_epu16(lo, limit), zero),
                                _mm256_cmpeq_epi16(_mm256_subs_epu16(hi, limit), zero));
      // Every entry's left neighbour: the entries one byte up, the step's first from the
      // previous step's last (a zero run left of column 0).
      const __m256i leftR = _mm256_alignr_epi8(r, _mm256_permute2x128_si256(r, prevR, 0x03), 15);
      const __m256i leftH = _mm256_alignr_epi8(h, _mm256_permute2x128_si256(h, prevH, 0x03), 15);
      const __m256i shorter =
          _mm256_andnot_si256(_mm256_cmpeq_epi8(_mm256_max_epu8(leftR, r), r), ones);
      const __m256i lower = _mm256_cmpeq_epi8(_mm256_max_epu8(leftH, h), leftH);
      skip = _mm256_or_si256(skip, _mm256_and_si256(shorter, lower));
    }
    prevR = r;
    prevH = h;
    if (job.above) {
      const __m256i a = load32(job.above + x);
      __m256i held = _mm256_andnot_si256(_mm256_cmpeq_epi8(h, ones),
                                         _mm256_cmpeq_epi8(_mm256_max_epu8(a, r), a));
      if (job.sameAbove)
        held = _mm256_andnot_si256(_mm256_cmpeq_epi8(load32(job.sameAbove + x), zero), held);
      skip = _mm256_or_si256(skip, held);
    }
    uint32_t mask = ~uint32_t(_mm256_movemask_epi8(skip));
    while (mask) {
      job.columns[n++] = x + __builtin_ctz(mask);
      mask &= mask - 1;
    }
  }
  return heightsFrom(job, x, n);
}

// Thirty-two lines a step: the running least run by five shifted minimums (the shifts cross
// the halves of the register; carried in from the step above), the areas in 16-bit lanes (at
// most 255 x 255), their largest by the minimum position of the complements and its first lane
// by a compare. Lanes past maxLines are 0.
__attribute__((target("avx2"))) ColumnBest largestInColumnAvx2(const uint8_t* column, int maxLines,
                                                               int minArea) {
  const __m256i full = _mm256_set1_epi8(-1);
  const __m256i lane = _mm256_setr_epi8(0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16,
                                        17, 18, 19, 20, 21, 22, 23, 24, 25, 26, 27, 28, 29, 30, 31);
  const __m256i thirtyTwo = _mm256_set1_epi16(32);
  __m256i hLo = _mm256_setr_epi16(1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16);
  __m256i hHi = _mm256_add_epi16(hLo, _mm256_set1_epi16(16));
  // The result in locals, joined in a register on return: the fields stored one by one and
  // returned in a register pair were read back wider than they were written, and the forward
  // from the stores stalled.
  int area = 0, bestWidth = 0, bestHeight = 0;
  int need = minArea - 1;
  __m256i carry = full;
  for (int h0 = 0; h0 < maxLines; h0 += 32) {
    __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(column + h0));
    if (maxLines - h0 < 32)
      v = _mm256_and_si256(
          v, _mm256_cmpgt_epi8(_mm256_set1_epi8(static_cast<char>(maxLines - h0)), lane));
    // Entry j takes the least of entries j - k..j: the entries k lines up, 0xFF above the first.
    __m256i up = _mm256_permute2x128_si256(v, full, 0x02);
    v = _mm256_min_epu8(v, _mm256_alignr_epi8(v, up, 15));
    up = _mm256_permute2x128_si256(v, full, 0x02);
    v = _mm256_min_epu8(v, _mm256_alignr_epi8(v, up, 14));
    up = _mm256_permute2x128_si256(v, full, 0x02);
    v = _mm256_min_epu8(v, _mm256_alignr_epi8(v, up, 12));
    up = _mm256_permute2x128_si256(v, full, 0x02);
    v = _mm256_min_epu8(v, _mm256_alignr_epi8(v, up, 8));
    v = _mm256_min_epu8(v, _mm256_permute2x128_si256(v, full, 0x02));
    v = _mm256_min_epu8(v, carry);
    const __m256i lo = _mm256_mullo_epi16(_mm256_cvtepu8_epi16(_mm256_castsi256_si128(v)), hLo);
    const __m256i hi =
        _mm256_mullo_epi16(_mm256_cvtepu8_epi16(_mm256_extracti128_si256(v, 1)), hHi);
    const __m256i most = _mm256_max_epu16(lo, hi);
    const __m128i top = _mm_minpos_epu16(_mm_xor_si128(
        _mm_max_epu16(_mm256_castsi256_si128(most), _mm256_extracti128_si256(most, 1)),
        _mm256_castsi256_si128(full)));
    const int largest = 0xFFFF - _mm_extract_epi16(top, 0);
    if (largest > need) {
      const __m256i m = _mm256_set1_epi16(static_cast<short>(largest));
      // The packs interleave the halves: 8-byte groups 0, 2, 1, 3.
      const __m256i hits = _mm256_permute4x64_epi64(
          _mm256_packs_epi16(_mm256_cmpeq_epi16(lo, m), _mm256_cmpeq_epi16(hi, m)), 0xD8);
      const unsigned at = unsigned(_mm256_movemask_epi8(hits));
      alignas(32) uint8_t widths[32];
      _mm256_store_si256(reinterpret_cast<__m256i*>(widths), v);
      const int k = __builtin_ctz(at);
      need = largest;
      area = largest;
      bestWidth = widths[k];
      bestHeight = h0 + k + 1;
    }
    const int width = _mm256_extract_epi8(v, 31);
    if (width == 0 || width * maxLines <= need) break;
    carry = _mm256_set1_epi8(static_cast<char>(width));
    hLo = _mm256_add_epi16(hLo, thirtyTwo);
    hHi = _mm256_add_epi16(hHi, thirtyTwo);
  }
  ColumnBest out;
  const uint64_t areaAndWidth = uint32_t(area) | uint64_t(uint32_t(bestWidth)) << 32;
  static_assert(offsetof(ColumnBest, width) == 4);
  std::memcpy(&out.area, &areaAndWidth, 8);
  out.height = bestHeight;
  return out;
}

#endif

}  // namespace

RectangleSearchKernels rectangleSearchKernelsFor(unsigned flags) {
  RectangleSearchKernels k{runMapLineScalar,      sameRunLine32Scalar, sameRunLine16Scalar,
                           equalLine32Scalar,     equalLine16Scalar,   heightsLineScalar,
                           largestInColumnScalar, transposeRunsScalar, replaceEntriesScalar};
#ifdef ZOV_X86
  if (flags & kCpuSse2) {
    k.runMapLine = runMapLineSse2;
    k.sameRunLine32 = sameRunLine32Sse2;
    k.sameRunLine16 = sameRunLine16Sse2;
    k.equalLine32 = equalLine32Sse2;
    k.equalLine16 = equalLine16Sse2;
    k.heightsLine = heightsLineSse2;
    k.transposeRuns = transposeRunsSse2;
  }
  if (flags & kCpuAvx2) {
    k.runMapLine = runMapLineAvx2;
    k.sameRunLine32 = sameRunLine32Avx2;
    k.sameRunLine16 = sameRunLine16Avx2;
    k.equalLine32 = equalLine32Avx2;
    k.heightsLine = heightsLineAvx2;
    k.largestInColumn = largestInColumnAvx2;
    k.transposeRuns = transposeRunsAvx2;
    k.replaceEntries = replaceEntriesAvx2;
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

#include "encoder/table_width_kernels.h"

#include <algorithm>
#include <cstring>

#include "format/cpu_features.h"

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#define ZOV_X86 1
#endif

namespace zov {
namespace {

// The next `width` bits of the stream from bit position pos (zeros past the end).
inline uint32_t bitsAt(const uint32_t* stream, uint64_t words, uint64_t pos, int width) {
  uint64_t w = pos >> 5;
  int off = static_cast<int>(pos & 31);
  uint64_t hi = w < words ? stream[w] : 0;
  uint64_t lo = w + 1 < words ? stream[w + 1] : 0;
  uint64_t both = hi << 32 | lo;
  return static_cast<uint32_t>((both << off) >> (64 - width));
}

// How many whole codes from code i fit a window of `width` bits, at most six (codes are at
// least one bit long, so the ones that fit are a run from i).
inline uint32_t codesThatFit(const uint32_t* positions, uint64_t i, int width) {
  const uint32_t* p = positions + i;
  const uint64_t limit = uint64_t(p[0]) + uint64_t(width);
  return uint32_t(p[1] <= limit) + (p[2] <= limit) + (p[3] <= limit) + (p[4] <= limit) +
         (p[5] <= limit) + (p[6] <= limit);
}

// One look-up of a walk: the counts, then the code after the codes it takes.
struct Walk {
  uint64_t i = 0, lookups = 0, distinct = 0;
  uint8_t* seen;
};
inline void lookUp(const WidthCostJob& job, int width, Walk& w) {
  const uint32_t pos = job.positions[w.i];
  const uint32_t pattern = bitsAt(job.stream, job.words, pos, width);
  w.distinct += w.seen[pattern] == 0;
  w.seen[pattern] = 1;
  w.lookups += ((job.startBit + pos) & 31) + uint64_t(width) > 32 ? 2 : 1;
  w.i += codesThatFit(job.positions, w.i, width);
}

}  // namespace

uint32_t codePositionsScalar(const uint8_t* lengths, const uint8_t* symbols, uint32_t n,
                             uint32_t at, uint32_t* positions) {
  for (uint32_t i = 0; i < n; ++i) positions[i] = at, at += lengths[symbols[i]];
  return at;
}

uint64_t widthCostScalar(const WidthCostJob& job, int width) {
  std::memset(job.seen, 0, size_t(1) << width);
  uint64_t lookups = 0, distinct = 0;
  for (uint64_t i = 0; i < job.total;) {
    const uint32_t pos = job.positions[i];
    const uint32_t pattern = bitsAt(job.stream, job.words, pos, width);
    distinct += job.seen[pattern] == 0;
    job.seen[pattern] = 1;
    lookups += ((job.startBit + pos) & 31) + uint64_t(width) > 32 ? 2 : 1;
    i += codesThatFit(job.positions, i, width);
  }
  return lookups + distinct;
}

void widthCostsScalar(const WidthCostJob& job, int width, int count, uint64_t* costs) {
  for (int k = 0; k < count; ++k) costs[k] = widthCostScalar(job, width + k);
}

namespace {

#ifdef ZOV_X86

// Several widths in one pass: the walk is a chain of dependent loads (where the next look-up
// starts follows from the codes this one takes), so one walk leaves the processor mostly
// waiting; independent walks side by side fill the gaps. Counting the codes that fit with
// vector compares (all codes of a piece at once, then walking) was tried and was slower: a
// look-up takes five or six codes on footage, so the vector pass counts five or six times as
// many codes as the walk visits. Plain C++, taking the vector paths' place.
template <int N>
void walkTogether(const WidthCostJob& job, int width, uint64_t* costs) {
  // The walks' flags side by side in the one buffer: 2^width, 2^(width+1) ...
  std::memset(job.seen, 0, ((size_t(1) << N) - 1) << width);
  Walk w[N];
  for (int k = 0; k < N; ++k) w[k].seen = job.seen + (((size_t(1) << k) - 1) << width);
  for (;;) {
    bool all = true;
    for (int k = 0; k < N; ++k) all &= w[k].i < job.total;
    if (!all) break;
    for (int k = 0; k < N; ++k) lookUp(job, width + k, w[k]);
  }
  for (int k = 0; k < N; ++k) {
    while (w[k].i < job.total) lookUp(job, width + k, w[k]);
    costs[k] = w[k].lookups + w[k].distinct;
  }
}

void widthCostsInterleaved(const WidthCostJob& job, int width, int count, uint64_t* costs) {
  // As many walks at once as their flags fit the buffer (three up to width 12, two at 13).
  while (count > 0) {
    int n = count;
    while (n > 1 && (((size_t(1) << n) - 1) << width) > kWidthCostSeen) --n;
    if (n == 3)
      walkTogether<3>(job, width, costs);
    else if (n == 2)
      walkTogether<2>(job, width, costs);
    else
      costs[0] = widthCostScalar(job, width);
    width += n, costs += n, count -= n;
  }
}

// positions of eight codes of the given lengths from `running` (every lane the same), which
// moves past them.
__attribute__((target("avx2"))) inline void positions8(__m128i lengths, __m256i& running,
                                                       uint32_t* out) {
  const __m256i v = _mm256_cvtepu8_epi32(lengths);
  __m256i s = _mm256_add_epi32(v, _mm256_slli_si256(v, 4));
  s = _mm256_add_epi32(s, _mm256_slli_si256(s, 8));
  // The low half's total carried into the high half.
  const __m256i lowTotal = _mm256_shuffle_epi32(s, 0xFF);
  s = _mm256_add_epi32(s, _mm256_permute2x128_si256(lowTotal, lowTotal, 0x08));
  _mm256_storeu_si256(reinterpret_cast<__m256i*>(out),
                      _mm256_add_epi32(running, _mm256_sub_epi32(s, v)));
  running = _mm256_add_epi32(running, _mm256_permutevar8x32_epi32(s, _mm256_set1_epi32(7)));
}

// Sixteen codes a step: the lengths looked up with a byte shuffle (symbols are 0..15), the
// running sum in two registers of eight.
__attribute__((target("avx2"))) uint32_t codePositionsAvx2(const uint8_t* lengths,
                                                           const uint8_t* symbols, uint32_t n,
                                                           uint32_t at, uint32_t* positions) {
  const __m128i table = _mm_loadu_si128(reinterpret_cast<const __m128i*>(lengths));
  __m256i running = _mm256_set1_epi32(int(at));
  uint32_t i = 0;
  for (; i + 16 <= n; i += 16) {
    const __m128i l =
        _mm_shuffle_epi8(table, _mm_loadu_si128(reinterpret_cast<const __m128i*>(symbols + i)));
    positions8(l, running, positions + i);
    positions8(_mm_srli_si128(l, 8), running, positions + i + 8);
  }
  return codePositionsScalar(lengths, symbols + i, n - i, uint32_t(_mm256_cvtsi256_si32(running)),
                             positions + i);
}

#endif

}  // namespace

TableWidthKernels tableWidthKernelsFor(unsigned flags) {
  TableWidthKernels k{codePositionsScalar, widthCostsScalar, 1};
#ifdef ZOV_X86
  if (flags & kCpuSse2) k.widthCosts = widthCostsInterleaved, k.widthsAtOnce = kMaxWidthsAtOnce;
  if (flags & kCpuAvx2) k.codePositions = codePositionsAvx2;
#else
  (void)flags;
#endif
  return k;
}

const TableWidthKernels& tableWidthKernels() {
  static const TableWidthKernels k = tableWidthKernelsFor(cpuFlags());
  return k;
}

}  // namespace zov

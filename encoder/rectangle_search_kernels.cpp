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

#endif

}  // namespace

RectangleSearchKernels rectangleSearchKernelsFor(unsigned flags) {
  RectangleSearchKernels k{runMapLineScalar};
#ifdef ZOV_X86
  if (flags & kCpuSse2) k.runMapLine = runMapLineSse2;
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

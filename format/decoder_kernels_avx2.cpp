// The decoder's AVX2 kernels. This file alone is compiled for AVX2 (format/CMakeLists.txt); the
// table in decoder_kernels.cpp calls it only where the processor has AVX2.
#include "format/decoder_kernels.h"

#ifdef ZOV_DECODER_AVX2

#include <immintrin.h>

#include <cstddef>

#include "format/colour_tables.h"
#include "format/decoder_kernels_sharing.h"

namespace zov {

// A gather lane reads the 32 bits at its entry and keeps the low half: the last entry's high half
// is the first of the table that follows in ColourTables, so no read leaves the tables.
static_assert(offsetof(ColourTables, rgbToYc) ==
              offsetof(ColourTables, ycToRgbByChroma) + sizeof(ColourTables::ycToRgbByChroma));

// sharingPairsSse2 with the look-ups gathered, eight lanes at a time, where the SSE2 version
// inserts the sixteen colours one by one (two instructions each on the shuffle port, which the
// running sums and unpacks already keep busy). `colours` is ColourTables::ycToRgbByChroma.
SharingPairsDone sharingPairsAvx2(const SharingPairs& j, const uint8_t* symbols, int pairs, int y) {
  const __m256i lanes = _mm256_setr_epi16(0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15);
  const __m256i lowHalf = _mm256_set1_epi32(0xFFFF);
  const int* const table = reinterpret_cast<const int*>(j.colours);
  const auto put = [&](uint16_t * out, bool fits, __m128i c0, __m128i c1, __m128i y0, __m128i y1,
                       int from, int count) __attribute__((always_inline)) {
    const __m256i i0 =
        _mm256_or_si256(_mm256_slli_epi32(_mm256_cvtepu16_epi32(c0), 5), _mm256_cvtepu16_epi32(y0));
    const __m256i i1 =
        _mm256_or_si256(_mm256_slli_epi32(_mm256_cvtepu16_epi32(c1), 5), _mm256_cvtepu16_epi32(y1));
    if (fits) {
      const __m256i a = _mm256_and_si256(_mm256_i32gather_epi32(table, i0, 2), lowHalf);
      const __m256i b = _mm256_and_si256(_mm256_i32gather_epi32(table, i1, 2), lowHalf);
      const __m256i px = _mm256_permute4x64_epi64(_mm256_packus_epi32(a, b), 0xD8);
      const __m256i mask = _mm256_andnot_si256(
          _mm256_cmpgt_epi16(_mm256_set1_epi16(static_cast<int16_t>(from)), lanes),
          _mm256_cmpgt_epi16(_mm256_set1_epi16(static_cast<int16_t>(count)), lanes));
      __m256i* const o = reinterpret_cast<__m256i*>(out);
      _mm256_storeu_si256(o, _mm256_blendv_epi8(_mm256_loadu_si256(o), px, mask));
    } else {
      alignas(32) uint32_t index[16];
      _mm256_store_si256(reinterpret_cast<__m256i*>(index), i0);
      _mm256_store_si256(reinterpret_cast<__m256i*>(index + 8), i1);
      putPixelsAtRowEnd(out, index, j.colours, from, count);
    }
  };
  return sharingPairsVector(j, symbols, pairs, y, put);
}

}  // namespace zov

#endif

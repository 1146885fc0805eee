// The vector sharing-row kernel's walk, shared by the SSE2 and AVX2 versions, which differ only
// in how the sixteen colours of a group of eight pairs are looked up and written. Included by
// one source file per instruction set, each compiled for it: everything here has internal
// linkage and calls no out-of-line function, so no code built for AVX2 can be linked into a
// caller on another path.
#pragma once

#include <emmintrin.h>

#include <cstdint>

#include "format/decoder_kernels.h"

namespace zov {
namespace {

// Eight pairs at a time: the luminances are a running sum of the steps, found in three
// shift-and-add rounds; one compare mask finds the first pair the reference would stop at. Runs
// are short on camera footage (half of them under five pairs), so the last group of eight is
// taken whole too, with the lanes past the end masked off.
//
// `put(out, fits, c0, c1, y0, y1, from, count)` writes pixels [from, count) of the group at out,
// the sixteen pixels' colour differences (c12) in c0 and c1 and their luminances in y0 and y1
// (the index of pixel i in the chroma-first table is c12 << 5 | Y); where the row holds all
// sixteen (`fits`) it may write them with wider stores, keeping the values outside
// [from, count).
template <class Put>
[[gnu::always_inline]] inline SharingPairsDone sharingPairsVector(const SharingPairs& j,
                                                                  const uint8_t* symbols, int pairs,
                                                                  int y, Put&& put) {
  int left = y;
  int k = 0;
  const __m128i zero = _mm_setzero_si128();
  const __m128i seven = _mm_set1_epi16(7), fourteen = _mm_set1_epi16(14);
  const __m128i low = _mm_set1_epi16(64), high = _mm_set1_epi16(95);
  const __m128i five = _mm_set1_epi16(31);
  bool skipFirst = j.codedFirst;
  if (pairs <= 0) return {0, y};
  for (;;) {
    int64_t bytes;
    __builtin_memcpy(&bytes, symbols + k, 8);
    const __m128i s = _mm_unpacklo_epi8(_mm_cvtsi64_si128(bytes), zero);
    const __m128i extended =
        j.edge ? _mm_or_si128(_mm_cmpeq_epi16(s, zero), _mm_cmpeq_epi16(s, fourteen)) : zero;
    __m128i d = _mm_sub_epi16(s, seven);
    d = _mm_add_epi16(d, _mm_slli_si128(d, 2));
    d = _mm_add_epi16(d, _mm_slli_si128(d, 4));
    d = _mm_add_epi16(d, _mm_slli_si128(d, 8));
    const __m128i r = _mm_add_epi16(d, _mm_set1_epi16(static_cast<int16_t>(left)));
    const __m128i outside = _mm_or_si128(_mm_cmplt_epi16(r, low), _mm_cmpgt_epi16(r, high));
    const __m128i l = _mm_insert_epi16(_mm_slli_si128(r, 2), left, 0);
    const __m128i m = _mm_add_epi16(l, _mm_srai_epi16(_mm_sub_epi16(r, l), 1));
    // Columns in order: interpolated, coded, interpolated, ...
    const int x0 = j.x + 2 * k;
    const __m128i y0 = _mm_and_si128(_mm_unpacklo_epi16(m, r), five);
    const __m128i y1 = _mm_and_si128(_mm_unpackhi_epi16(m, r), five);
    const __m128i c0 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(j.c12 + x0));
    const __m128i c1 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(j.c12 + x0 + 8));
    const int rest = pairs - k;
    const int lanes = rest < 8 ? rest : 8;
    alignas(16) int16_t sums[8];
    _mm_store_si128(reinterpret_cast<__m128i*>(sums), d);
    uint16_t* out = j.row + x0;
    const bool fits = x0 + 16 <= j.width;
    const unsigned inRun = (1u << (2 * lanes)) - 1;
    const unsigned extendedStops = static_cast<unsigned>(_mm_movemask_epi8(extended)) & inRun;
    const unsigned rangeStops = static_cast<unsigned>(_mm_movemask_epi8(outside)) & inRun;
    const auto stop = [&](unsigned stops) __attribute__((always_inline)) {
      const int n = __builtin_ctz(stops) / 2;
      put(out, fits, c0, c1, y0, y1, int(skipFirst), 2 * n);
      left += n ? sums[n - 1] : 0;
      k += n;
    };
    // An extended step in the group is found from the symbols alone, before the luminances
    // that depend on the run so far: that branch, the one taken now and then, is settled
    // early. A luminance out of range (a damaged stream) is tested apart.
    if (extendedStops != 0) [[unlikely]] {
      stop(extendedStops | rangeStops);
      break;
    }
    if (rangeStops != 0) [[unlikely]] {
      stop(rangeStops);
      break;
    }
    // Otherwise the pairs written follow from the run's length alone, so that the walk's next
    // symbols, the next group and the luminance after it wait only for the steps' sum, not for
    // the compare mask; and the run's end, a branch no predictor foresees, is known as soon as
    // the group starts.
    put(out, fits, c0, c1, y0, y1, int(skipFirst), 2 * lanes);
    skipFirst = false;
    left += sums[lanes - 1];
    k += lanes;
    if (rest <= 8) break;
  }
  return {k, left};
}

// The pixels [from, count) of a group one by one from its look-up indices, for a group that
// reaches past the row's end. The first pixel goes to a scratch word when it is not to be
// written (without a branch: the loop then always starts at the second).
[[gnu::always_inline]] inline void putPixelsAtRowEnd(uint16_t* out, const uint32_t* index,
                                                     const uint16_t* colours, int from, int count) {
  uint16_t scratch;
  *(from != 0 || count == 0 ? &scratch : out) = colours[index[0]];
  for (int i = 1; i < count; ++i) out[i] = colours[index[i]];
}

}  // namespace
}  // namespace zov

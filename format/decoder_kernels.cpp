#include "format/decoder_kernels.h"

#include "format/cpu_features.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#define ZOV_SSE2 1
#endif

namespace zov {

namespace {

inline uint16_t colourOf(const SharingPairs& j, int y, int column) {
  return j.colours[uint32_t(j.c12[column]) << 5 | uint32_t(y & 31)];
}

}  // namespace

int sharingPairsScalar(const SharingPairs& j, int* y) {
  int left = *y;
  int k = 0;
  for (; k < j.pairs; ++k) {
    const int s = j.symbols[k];
    if (j.edge && (s == 0 || s == 14)) break;
    const int right = left + s - 7;
    if (right < 64 || right > 95) break;
    const int x = j.x + 2 * k;
    j.row[x] = colourOf(j, left + ((right - left) >> 1), x);
    j.row[x + 1] = colourOf(j, right, x + 1);
    left = right;
  }
  *y = left;
  return k;
}

namespace {

#ifdef ZOV_SSE2

// Eight pairs at a time: the luminances are a running sum of the steps, found in three
// shift-and-add rounds; one compare mask finds the first pair the reference would stop at. Runs
// are short on camera footage (half of them under five pairs), so the last group of eight is
// taken whole too, with the lanes past the end masked off. The 17-bit indices are assembled in
// the registers; only the table look-ups are scalar (SSE2 has no gather).
int sharingPairsSse2(const SharingPairs& j, int* y) {
  int left = *y;
  int k = 0;
  const __m128i zero = _mm_setzero_si128();
  const __m128i seven = _mm_set1_epi16(7), fourteen = _mm_set1_epi16(14);
  const __m128i low = _mm_set1_epi16(64), high = _mm_set1_epi16(95);
  const __m128i five = _mm_set1_epi16(31);
  alignas(16) uint32_t index[16];
  while (k < j.pairs) {
    int64_t bytes;
    __builtin_memcpy(&bytes, j.symbols + k, 8);
    const __m128i s = _mm_unpacklo_epi8(_mm_cvtsi64_si128(bytes), zero);
    __m128i bad =
        j.edge ? _mm_or_si128(_mm_cmpeq_epi16(s, zero), _mm_cmpeq_epi16(s, fourteen)) : zero;
    __m128i d = _mm_sub_epi16(s, seven);
    d = _mm_add_epi16(d, _mm_slli_si128(d, 2));
    d = _mm_add_epi16(d, _mm_slli_si128(d, 4));
    d = _mm_add_epi16(d, _mm_slli_si128(d, 8));
    const __m128i r = _mm_add_epi16(d, _mm_set1_epi16(static_cast<int16_t>(left)));
    bad = _mm_or_si128(bad, _mm_or_si128(_mm_cmplt_epi16(r, low), _mm_cmpgt_epi16(r, high)));
    const __m128i l = _mm_insert_epi16(_mm_slli_si128(r, 2), left, 0);
    const __m128i m = _mm_add_epi16(l, _mm_srai_epi16(_mm_sub_epi16(r, l), 1));
    // Columns in order: interpolated, coded, interpolated, ...; index = c12 << 5 | Y.
    const int x0 = j.x + 2 * k;
    const __m128i y0 = _mm_and_si128(_mm_unpacklo_epi16(m, r), five);
    const __m128i y1 = _mm_and_si128(_mm_unpackhi_epi16(m, r), five);
    const __m128i c0 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(j.c12 + x0));
    const __m128i c1 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(j.c12 + x0 + 8));
    // c12 << 5 spans 17 bits: its low 16 join Y in the low half, the top bit goes high.
    const __m128i lo0 = _mm_or_si128(_mm_slli_epi16(c0, 5), y0);
    const __m128i lo1 = _mm_or_si128(_mm_slli_epi16(c1, 5), y1);
    const __m128i hi0 = _mm_srli_epi16(c0, 11), hi1 = _mm_srli_epi16(c1, 11);
    _mm_store_si128(reinterpret_cast<__m128i*>(index), _mm_unpacklo_epi16(lo0, hi0));
    _mm_store_si128(reinterpret_cast<__m128i*>(index + 4), _mm_unpackhi_epi16(lo0, hi0));
    _mm_store_si128(reinterpret_cast<__m128i*>(index + 8), _mm_unpacklo_epi16(lo1, hi1));
    _mm_store_si128(reinterpret_cast<__m128i*>(index + 12), _mm_unpackhi_epi16(lo1, hi1));
    const int rest = j.pairs - k;
    unsigned stops = static_cast<unsigned>(_mm_movemask_epi8(bad));
    if (rest < 8) stops |= ~0u << (2 * rest);
    const int n = stops ? __builtin_ctz(stops) / 2 : 8;
    uint16_t* out = j.row + x0;
    for (int i = 0; i < 2 * n; ++i) out[i] = j.colours[index[i]];
    if (n) {
      alignas(16) int16_t rights[8];
      _mm_store_si128(reinterpret_cast<__m128i*>(rights), r);
      left = rights[n - 1];
    }
    k += n;
    if (n < 8) break;
  }
  *y = left;
  return k;
}

#endif

}  // namespace

DecoderKernels decoderKernelsFor(unsigned flags) {
  DecoderKernels k{sharingPairsScalar};
#ifdef ZOV_SSE2
  if (flags & kCpuSse2) k.sharingPairs = sharingPairsSse2;
#else
  (void)flags;
#endif
  return k;
}

const DecoderKernels& decoderKernels() {
  static const DecoderKernels k = decoderKernelsFor(cpuFlags());
  return k;
}

}  // namespace zov

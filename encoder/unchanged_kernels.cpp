#include "encoder/unchanged_kernels.h"

#include <algorithm>
#include <climits>
#include <cstring>

#include "encoder/colour_quantiser.h"
#include "encoder/encoder_buffers.h"
#include "format/cpu_features.h"

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#define ZOV_X86 1
#endif

namespace zov {
namespace {

// Neighbourhood test: all eight neighbours within n and at least five of the nine within t
// (the median of the nine within t).
bool quietNeighbourhood(const uint32_t* d, int x, int w, uint32_t t, uint32_t n) {
  const uint32_t* rows[3] = {d + x - w, d + x, d + x + w};
  int within = 0;
  for (const uint32_t* r : rows) {
    for (int dx = -1; dx <= 1; ++dx) {
      uint32_t v = r[dx];
      if (v > n) return false;
      within += v <= t;
    }
  }
  return within >= 5;
}

// The test of pixels [from, to) of a line, one at a time.
void unchangedPixels(uint8_t* map, const uint32_t* diff, const uint32_t* lookDiff, int w,
                     bool inner, uint32_t t, uint32_t n, int from, int to) {
  for (int x = from; x < to; ++x) {
    if (map[x] != kMapCoded) continue;
    uint32_t d = diff[x];
    bool unchanged = d <= t;
    if (!unchanged && d <= n && inner && x > 0 && x < w - 1) {
      unchanged = quietNeighbourhood(diff, x, w, t, n);
      if (!unchanged && lookDiff) {
        uint32_t e = lookDiff[x];
        unchanged = e <= t || (e <= n && quietNeighbourhood(lookDiff, x, w, t, n));
      }
    }
    if (unchanged) map[x] = kMapCandidate;
  }
}

}  // namespace

void differenceMapScalar(const uint16_t* a, const uint16_t* b, uint32_t* out, int n) {
  for (int i = 0; i < n; ++i) out[i] = uint32_t(colourDistance(a[i], b[i]));
}

void unchangedLineScalar(uint8_t* map, const uint32_t* diff, const uint32_t* lookDiff, int width,
                         bool inner, uint32_t t, uint32_t n) {
  unchangedPixels(map, diff, lookDiff, width, inner, t, n, 0, width);
}

void differenceClassesScalar(const uint16_t* a, const uint16_t* b, uint8_t* out, int count,
                             uint32_t t, uint32_t n) {
  for (int i = 0; i < count; ++i) {
    const uint32_t d = uint32_t(colourDistance(a[i], b[i]));
    out[i] = uint8_t((d <= t ? kWithinT : 0) | (d > n ? kBeyondN : 0));
  }
}

namespace {

// quietNeighbourhood on classes.
bool quietClasses(const uint8_t* c, int x, int w) {
  int within = 0;
  for (const uint8_t* r : {c + x - w, c + x, c + x + w})
    for (int dx = -1; dx <= 1; ++dx) {
      if (r[dx] & kBeyondN) return false;
      within += r[dx] & kWithinT;
    }
  return within >= 5;
}

// unchangedPixels on classes.
// With `clear` every entry is taken as kMapCoded and written.
void unchangedClassPixels(uint8_t* map, const uint8_t* cls, const uint8_t* lookCls, int w,
                          bool inner, bool clear, int from, int to) {
  for (int x = from; x < to; ++x) {
    if (clear)
      map[x] = kMapCoded;
    else if (map[x] != kMapCoded)
      continue;
    const uint8_t c = cls[x];
    bool unchanged = (c & kWithinT) != 0;
    if (!unchanged && !(c & kBeyondN) && inner && x > 0 && x < w - 1) {
      unchanged = quietClasses(cls, x, w);
      if (!unchanged && lookCls) {
        const uint8_t e = lookCls[x];
        unchanged = (e & kWithinT) || (!(e & kBeyondN) && quietClasses(lookCls, x, w));
      }
    }
    if (unchanged) map[x] = kMapCandidate;
  }
}

}  // namespace

void unchangedClassLineScalar(uint8_t* map, const uint8_t* cls, const uint8_t* lookCls, int width,
                              bool inner, bool clear) {
  unchangedClassPixels(map, cls, lookCls, width, inner, clear, 0, width);
}

namespace {

#ifdef ZOV_X86

// The thresholds as signed lanes: differences are below 2^31, so clamping keeps every compare.
inline int signedLimit(uint32_t v) {
  return int(std::min<uint32_t>(v, INT_MAX));
}

// ---- SSE2: eight pixels a step, as two registers of four differences ----

__attribute__((target("sse2"))) inline __m128i distances4(__m128i sr, __m128i sg, __m128i sb,
                                                          bool high) {
  const __m128i wrg = _mm_set1_epi32(30 | 59 << 16), wb = _mm_set1_epi32(20);
  const __m128i zero = _mm_setzero_si128();
  const __m128i rg = high ? _mm_unpackhi_epi16(sr, sg) : _mm_unpacklo_epi16(sr, sg);
  const __m128i b = high ? _mm_unpackhi_epi16(sb, zero) : _mm_unpacklo_epi16(sb, zero);
  return _mm_add_epi32(_mm_madd_epi16(rg, wrg), _mm_madd_epi16(b, wb));
}

__attribute__((target("sse2"))) void differenceMapSse2(const uint16_t* a, const uint16_t* b,
                                                       uint32_t* out, int n) {
  const __m128i five = _mm_set1_epi16(31);
  int i = 0;
  for (; i + 8 <= n; i += 8) {
    const __m128i va = _mm_loadu_si128(reinterpret_cast<const __m128i*>(a + i));
    const __m128i vb = _mm_loadu_si128(reinterpret_cast<const __m128i*>(b + i));
    const __m128i dr = _mm_sub_epi16(_mm_and_si128(_mm_srli_epi16(va, 10), five),
                                     _mm_and_si128(_mm_srli_epi16(vb, 10), five));
    const __m128i dg = _mm_sub_epi16(_mm_and_si128(_mm_srli_epi16(va, 5), five),
                                     _mm_and_si128(_mm_srli_epi16(vb, 5), five));
    const __m128i db = _mm_sub_epi16(_mm_and_si128(va, five), _mm_and_si128(vb, five));
    const __m128i sr = _mm_mullo_epi16(dr, dr), sg = _mm_mullo_epi16(dg, dg),
                  sb = _mm_mullo_epi16(db, db);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i), distances4(sr, sg, sb, false));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i + 4), distances4(sr, sg, sb, true));
  }
  differenceMapScalar(a + i, b + i, out + i, n - i);
}

// Lanes (all ones) of four pixels at d whose neighbourhoods are quiet.
__attribute__((target("sse2"))) inline __m128i quiet4(const uint32_t* d, int w, __m128i vt,
                                                      __m128i vn) {
  const __m128i ones = _mm_set1_epi32(-1);
  __m128i ok = ones, within = _mm_setzero_si128();
  for (const uint32_t* r : {d - w, d, d + w})
    for (int dx = -1; dx <= 1; ++dx) {
      const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(r + dx));
      ok = _mm_andnot_si128(_mm_cmpgt_epi32(v, vn), ok);
      within = _mm_add_epi32(within, _mm_andnot_si128(_mm_cmpgt_epi32(v, vt), ones));
    }
  // within counts -1 per value within t.
  return _mm_and_si128(ok, _mm_cmplt_epi32(within, _mm_set1_epi32(-4)));
}

// Lanes (all ones) of four inner pixels at x that pass the test.
__attribute__((target("sse2"))) inline __m128i unchanged4(const uint32_t* diff,
                                                          const uint32_t* lookDiff, int x, int w,
                                                          __m128i vt, __m128i vn) {
  const __m128i d = _mm_loadu_si128(reinterpret_cast<const __m128i*>(diff + x));
  const __m128i gtT = _mm_cmpgt_epi32(d, vt);
  const __m128i need = _mm_andnot_si128(_mm_cmpgt_epi32(d, vn), gtT);
  __m128i pass = _mm_xor_si128(gtT, _mm_set1_epi32(-1));
  if (_mm_movemask_epi8(need) == 0) return pass;
  const __m128i q = quiet4(diff + x, w, vt, vn);
  pass = _mm_or_si128(pass, _mm_and_si128(need, q));
  const __m128i rest = _mm_andnot_si128(q, need);
  if (!lookDiff || _mm_movemask_epi8(rest) == 0) return pass;
  const __m128i e = _mm_loadu_si128(reinterpret_cast<const __m128i*>(lookDiff + x));
  const __m128i eWithinT = _mm_xor_si128(_mm_cmpgt_epi32(e, vt), _mm_set1_epi32(-1));
  const __m128i eQuiet = _mm_andnot_si128(_mm_cmpgt_epi32(e, vn), quiet4(lookDiff + x, w, vt, vn));
  return _mm_or_si128(pass, _mm_and_si128(rest, _mm_or_si128(eWithinT, eQuiet)));
}

// Sets kMapCandidate in the eight map entries at m that are kMapCoded and pass (pass: 16-bit
// lanes, all ones or zero).
__attribute__((target("sse2"))) inline void mark8(uint8_t* m, __m128i pass16) {
  static_assert(kMapCoded == 0 && kMapCandidate == 1);
  const __m128i cur = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(m));
  const __m128i pass8 = _mm_packs_epi16(pass16, pass16);
  const __m128i set = _mm_and_si128(_mm_and_si128(pass8, _mm_cmpeq_epi8(cur, _mm_setzero_si128())),
                                    _mm_set1_epi8(1));
  _mm_storel_epi64(reinterpret_cast<__m128i*>(m), _mm_or_si128(cur, set));
}

__attribute__((target("sse2"))) void unchangedLineSse2(uint8_t* map, const uint32_t* diff,
                                                       const uint32_t* lookDiff, int w, bool inner,
                                                       uint32_t t, uint32_t n) {
  const __m128i vt = _mm_set1_epi32(signedLimit(t)), vn = _mm_set1_epi32(signedLimit(n));
  if (!inner) {
    int x = 0;
    for (; x + 8 <= w; x += 8) {
      const __m128i lo =
          _mm_cmpgt_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(diff + x)), vt);
      const __m128i hi =
          _mm_cmpgt_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(diff + x + 4)), vt);
      mark8(map + x, _mm_xor_si128(_mm_packs_epi32(lo, hi), _mm_set1_epi32(-1)));
    }
    unchangedPixels(map, diff, lookDiff, w, inner, t, n, x, w);
    return;
  }
  // Columns 1 .. w-2 eight at a time (each step reads one column either side).
  int x = 1;
  for (; x + 9 <= w; x += 8) {
    const __m128i lo = unchanged4(diff, lookDiff, x, w, vt, vn);
    const __m128i hi = unchanged4(diff, lookDiff, x + 4, w, vt, vn);
    mark8(map + x, _mm_packs_epi32(lo, hi));
  }
  unchangedPixels(map, diff, lookDiff, w, inner, t, n, 0, 1);
  unchangedPixels(map, diff, lookDiff, w, inner, t, n, x, w);
}

// ---- Classes, SSE2: sixteen pixels a step ----

// The classes of eight distances (two registers of four) as eight 16-bit lanes.
__attribute__((target("sse2"))) inline __m128i classes8(__m128i lo, __m128i hi, __m128i vt,
                                                        __m128i vn) {
  const __m128i within = _mm_andnot_si128(
      _mm_packs_epi32(_mm_cmpgt_epi32(lo, vt), _mm_cmpgt_epi32(hi, vt)), _mm_set1_epi16(kWithinT));
  const __m128i beyond = _mm_and_si128(
      _mm_packs_epi32(_mm_cmpgt_epi32(lo, vn), _mm_cmpgt_epi32(hi, vn)), _mm_set1_epi16(kBeyondN));
  return _mm_or_si128(within, beyond);
}

// The distances of eight pixels as two registers of four.
__attribute__((target("sse2"))) inline void distances8(const uint16_t* a, const uint16_t* b,
                                                       __m128i& lo, __m128i& hi) {
  const __m128i five = _mm_set1_epi16(31);
  const __m128i va = _mm_loadu_si128(reinterpret_cast<const __m128i*>(a));
  const __m128i vb = _mm_loadu_si128(reinterpret_cast<const __m128i*>(b));
  const __m128i dr = _mm_sub_epi16(_mm_and_si128(_mm_srli_epi16(va, 10), five),
                                   _mm_and_si128(_mm_srli_epi16(vb, 10), five));
  const __m128i dg = _mm_sub_epi16(_mm_and_si128(_mm_srli_epi16(va, 5), five),
                                   _mm_and_si128(_mm_srli_epi16(vb, 5), five));
  const __m128i db = _mm_sub_epi16(_mm_and_si128(va, five), _mm_and_si128(vb, five));
  const __m128i sr = _mm_mullo_epi16(dr, dr), sg = _mm_mullo_epi16(dg, dg),
                sb = _mm_mullo_epi16(db, db);
  lo = distances4(sr, sg, sb, false);
  hi = distances4(sr, sg, sb, true);
}

// Thresholds below 65535 (the settings' range) are taken on distances in 16-bit lanes that
// saturate at 65535: such a distance is at most the threshold exactly when the true one is.
inline bool narrowLimits(uint32_t t, uint32_t n) {
  return t < 0xFFFF && n < 0xFFFF;
}

// The classes of eight pixels in 16-bit lanes, the distances saturated.
// `weights`: 30, 59 and 20 in 16-bit lanes.
__attribute__((target("sse2"))) inline __m128i narrowClasses8(const uint16_t* a, const uint16_t* b,
                                                              __m128i vt, __m128i vn,
                                                              const __m128i* weights) {
  const __m128i five = _mm_set1_epi16(31), zero = _mm_setzero_si128();
  const __m128i va = _mm_loadu_si128(reinterpret_cast<const __m128i*>(a));
  const __m128i vb = _mm_loadu_si128(reinterpret_cast<const __m128i*>(b));
  const __m128i dr = _mm_sub_epi16(_mm_and_si128(_mm_srli_epi16(va, 10), five),
                                   _mm_and_si128(_mm_srli_epi16(vb, 10), five));
  const __m128i dg = _mm_sub_epi16(_mm_and_si128(_mm_srli_epi16(va, 5), five),
                                   _mm_and_si128(_mm_srli_epi16(vb, 5), five));
  const __m128i db = _mm_sub_epi16(_mm_and_si128(va, five), _mm_and_si128(vb, five));
  // Each weighted square fits 16 bits (59 * 31 * 31 = 56699).
  const __m128i d =
      _mm_adds_epu16(_mm_adds_epu16(_mm_mullo_epi16(_mm_mullo_epi16(dr, dr), weights[0]),
                                    _mm_mullo_epi16(_mm_mullo_epi16(dg, dg), weights[1])),
                     _mm_mullo_epi16(_mm_mullo_epi16(db, db), weights[2]));
  const __m128i within =
      _mm_and_si128(_mm_cmpeq_epi16(_mm_subs_epu16(d, vt), zero), _mm_set1_epi16(kWithinT));
  const __m128i beyond =
      _mm_andnot_si128(_mm_cmpeq_epi16(_mm_subs_epu16(d, vn), zero), _mm_set1_epi16(kBeyondN));
  return _mm_or_si128(within, beyond);
}

__attribute__((target("sse2"))) void differenceClassesSse2(const uint16_t* a, const uint16_t* b,
                                                           uint8_t* out, int count, uint32_t t,
                                                           uint32_t n) {
  int i = 0;
  if (narrowLimits(t, n)) {
    const __m128i vt = _mm_set1_epi16(short(t)), vn = _mm_set1_epi16(short(n));
    __m128i weights[3] = {_mm_set1_epi16(30), _mm_set1_epi16(59), _mm_set1_epi16(20)};
    // Kept as multiplications: the compiler would make each a longer chain of shifts and adds.
    __asm__("" : "+x"(weights[0]), "+x"(weights[1]), "+x"(weights[2]));
    for (; i + 16 <= count; i += 16)
      _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i),
                       _mm_packus_epi16(narrowClasses8(a + i, b + i, vt, vn, weights),
                                        narrowClasses8(a + i + 8, b + i + 8, vt, vn, weights)));
    return differenceClassesScalar(a + i, b + i, out + i, count - i, t, n);
  }
  const __m128i vt = _mm_set1_epi32(signedLimit(t)), vn = _mm_set1_epi32(signedLimit(n));
  for (; i + 16 <= count; i += 16) {
    __m128i lo, hi, lo2, hi2;
    distances8(a + i, b + i, lo, hi);
    distances8(a + i + 8, b + i + 8, lo2, hi2);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i),
                     _mm_packus_epi16(classes8(lo, hi, vt, vn), classes8(lo2, hi2, vt, vn)));
  }
  differenceClassesScalar(a + i, b + i, out + i, count - i, t, n);
}

// Lanes (bytes, all ones) whose class has `bit`.
__attribute__((target("sse2"))) inline __m128i hasBit16(__m128i c, uint8_t bit) {
  const __m128i m = _mm_set1_epi8(char(bit));
  return _mm_cmpeq_epi8(_mm_and_si128(c, m), m);
}

// Lanes (bytes, all ones) of sixteen pixels at c whose neighbourhoods are quiet: the nine
// classes summed are 5 to 15.
__attribute__((target("sse2"))) inline __m128i quietClasses16(const uint8_t* c, int w) {
  __m128i sum = _mm_setzero_si128();
  for (const uint8_t* r : {c - w, c, c + w})
    for (int dx = -1; dx <= 1; ++dx)
      sum = _mm_add_epi8(sum, _mm_loadu_si128(reinterpret_cast<const __m128i*>(r + dx)));
  return _mm_cmpeq_epi8(_mm_subs_epu8(_mm_sub_epi8(sum, _mm_set1_epi8(5)), _mm_set1_epi8(10)),
                        _mm_setzero_si128());
}

// Sets kMapCandidate in the sixteen map entries at m that are kMapCoded and pass (bytes); with
// `clear` writes every entry (kMapCandidate or kMapCoded).
__attribute__((target("sse2"))) inline void markClasses16(uint8_t* m, __m128i pass, bool clear) {
  static_assert(kMapCoded == 0 && kMapCandidate == 1);
  if (clear) {
    _mm_storeu_si128(reinterpret_cast<__m128i*>(m), _mm_and_si128(pass, _mm_set1_epi8(1)));
    return;
  }
  const __m128i cur = _mm_loadu_si128(reinterpret_cast<const __m128i*>(m));
  const __m128i set = _mm_and_si128(_mm_and_si128(pass, _mm_cmpeq_epi8(cur, _mm_setzero_si128())),
                                    _mm_set1_epi8(1));
  _mm_storeu_si128(reinterpret_cast<__m128i*>(m), _mm_or_si128(cur, set));
}

// The test of the sixteen inner pixels at x.
__attribute__((target("sse2"))) inline void classStep16(uint8_t* map, const uint8_t* cls,
                                                        const uint8_t* lookCls, int x, int w,
                                                        bool clear) {
  const __m128i c = _mm_loadu_si128(reinterpret_cast<const __m128i*>(cls + x));
  __m128i pass = hasBit16(c, kWithinT);
  const __m128i need =
      _mm_andnot_si128(_mm_or_si128(pass, hasBit16(c, kBeyondN)), _mm_set1_epi8(-1));
  if (_mm_movemask_epi8(need) != 0) {
    const __m128i q = quietClasses16(cls + x, w);
    pass = _mm_or_si128(pass, _mm_and_si128(need, q));
    const __m128i rest = _mm_andnot_si128(q, need);
    if (lookCls && _mm_movemask_epi8(rest) != 0) {
      const __m128i e = _mm_loadu_si128(reinterpret_cast<const __m128i*>(lookCls + x));
      const __m128i eQuiet =
          _mm_andnot_si128(hasBit16(e, kBeyondN), quietClasses16(lookCls + x, w));
      pass = _mm_or_si128(pass, _mm_and_si128(rest, _mm_or_si128(hasBit16(e, kWithinT), eQuiet)));
    }
  }
  markClasses16(map + x, pass, clear);
}

// The steps cover the line; the last one ends at the line's end (or its last inner column) and
// may overlap the one before: marking a pixel again changes nothing, as the test does not read
// the map.
__attribute__((target("sse2"))) void unchangedClassLineSse2(uint8_t* map, const uint8_t* cls,
                                                            const uint8_t* lookCls, int w,
                                                            bool inner, bool clear) {
  if (!inner) {
    if (w < 16) return unchangedClassPixels(map, cls, lookCls, w, inner, clear, 0, w);
    for (int x = 0;; x += 16) {
      x = std::min(x, w - 16);
      markClasses16(map + x,
                    hasBit16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(cls + x)), kWithinT),
                    clear);
      if (x == w - 16) return;
    }
  }
  unchangedClassPixels(map, cls, lookCls, w, inner, clear, 0, 1);
  if (w < 18) return unchangedClassPixels(map, cls, lookCls, w, inner, clear, 1, w);
  // Columns 1 .. w-2 sixteen at a time (each step reads one column either side).
  for (int x = 1;; x += 16) {
    x = std::min(x, w - 17);
    classStep16(map, cls, lookCls, x, w, clear);
    if (x == w - 17) break;
  }
  unchangedClassPixels(map, cls, lookCls, w, inner, clear, w - 1, w);
}

// ---- AVX2: sixteen pixels a step, as two registers of eight differences ----

__attribute__((target("avx2"))) void differenceMapAvx2(const uint16_t* a, const uint16_t* b,
                                                       uint32_t* out, int n) {
  const __m256i five = _mm256_set1_epi16(31), zero = _mm256_setzero_si256();
  const __m256i wrg = _mm256_set1_epi32(30 | 59 << 16), wb = _mm256_set1_epi32(20);
  int i = 0;
  for (; i + 16 <= n; i += 16) {
    const __m256i va = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(a + i));
    const __m256i vb = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(b + i));
    const __m256i dr = _mm256_sub_epi16(_mm256_and_si256(_mm256_srli_epi16(va, 10), five),
                                        _mm256_and_si256(_mm256_srli_epi16(vb, 10), five));
    const __m256i dg = _mm256_sub_epi16(_mm256_and_si256(_mm256_srli_epi16(va, 5), five),
                                        _mm256_and_si256(_mm256_srli_epi16(vb, 5), five));
    const __m256i db = _mm256_sub_epi16(_mm256_and_si256(va, five), _mm256_and_si256(vb, five));
    const __m256i sr = _mm256_mullo_epi16(dr, dr), sg = _mm256_mullo_epi16(dg, dg),
                  sb = _mm256_mullo_epi16(db, db);
    // In-lane unpacking: lo holds pixels 0-3 and 8-11, hi 4-7 and 12-15.
    const __m256i lo = _mm256_add_epi32(_mm256_madd_epi16(_mm256_unpacklo_epi16(sr, sg), wrg),
                                        _mm256_madd_epi16(_mm256_unpacklo_epi16(sb, zero), wb));
    const __m256i hi = _mm256_add_epi32(_mm256_madd_epi16(_mm256_unpackhi_epi16(sr, sg), wrg),
                                        _mm256_madd_epi16(_mm256_unpackhi_epi16(sb, zero), wb));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + i),
                        _mm256_permute2x128_si256(lo, hi, 0x20));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + i + 8),
                        _mm256_permute2x128_si256(lo, hi, 0x31));
  }
  differenceMapScalar(a + i, b + i, out + i, n - i);
}

__attribute__((target("avx2"))) inline __m256i quiet8(const uint32_t* d, int w, __m256i vt,
                                                      __m256i vn) {
  const __m256i ones = _mm256_set1_epi32(-1);
  __m256i ok = ones, within = _mm256_setzero_si256();
  for (const uint32_t* r : {d - w, d, d + w})
    for (int dx = -1; dx <= 1; ++dx) {
      const __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(r + dx));
      ok = _mm256_andnot_si256(_mm256_cmpgt_epi32(v, vn), ok);
      within = _mm256_add_epi32(within, _mm256_andnot_si256(_mm256_cmpgt_epi32(v, vt), ones));
    }
  return _mm256_and_si256(ok, _mm256_cmpgt_epi32(_mm256_set1_epi32(-4), within));
}

__attribute__((target("avx2"))) inline __m256i unchanged8(const uint32_t* diff,
                                                          const uint32_t* lookDiff, int x, int w,
                                                          __m256i vt, __m256i vn) {
  const __m256i ones = _mm256_set1_epi32(-1);
  const __m256i d = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(diff + x));
  const __m256i gtT = _mm256_cmpgt_epi32(d, vt);
  const __m256i need = _mm256_andnot_si256(_mm256_cmpgt_epi32(d, vn), gtT);
  __m256i pass = _mm256_xor_si256(gtT, ones);
  if (_mm256_testz_si256(need, need)) return pass;
  const __m256i q = quiet8(diff + x, w, vt, vn);
  pass = _mm256_or_si256(pass, _mm256_and_si256(need, q));
  const __m256i rest = _mm256_andnot_si256(q, need);
  if (!lookDiff || _mm256_testz_si256(rest, rest)) return pass;
  const __m256i e = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(lookDiff + x));
  const __m256i eWithinT = _mm256_xor_si256(_mm256_cmpgt_epi32(e, vt), ones);
  const __m256i eQuiet =
      _mm256_andnot_si256(_mm256_cmpgt_epi32(e, vn), quiet8(lookDiff + x, w, vt, vn));
  return _mm256_or_si256(pass, _mm256_and_si256(rest, _mm256_or_si256(eWithinT, eQuiet)));
}

// Sets kMapCandidate in the sixteen map entries at m that are kMapCoded and pass (lo: pixels
// 0-7, hi: 8-15, 32-bit lanes all ones or zero).
__attribute__((target("avx2"))) inline void mark16(uint8_t* m, __m256i lo, __m256i hi) {
  // packs works within 128-bit lanes: 0-3 8-11 4-7 12-15, put back in order.
  const __m256i p16 = _mm256_permute4x64_epi64(_mm256_packs_epi32(lo, hi), 0xD8);
  const __m128i pass8 =
      _mm_packs_epi16(_mm256_castsi256_si128(p16), _mm256_extracti128_si256(p16, 1));
  const __m128i cur = _mm_loadu_si128(reinterpret_cast<const __m128i*>(m));
  const __m128i set = _mm_and_si128(_mm_and_si128(pass8, _mm_cmpeq_epi8(cur, _mm_setzero_si128())),
                                    _mm_set1_epi8(1));
  _mm_storeu_si128(reinterpret_cast<__m128i*>(m), _mm_or_si128(cur, set));
}

__attribute__((target("avx2"))) void unchangedLineAvx2(uint8_t* map, const uint32_t* diff,
                                                       const uint32_t* lookDiff, int w, bool inner,
                                                       uint32_t t, uint32_t n) {
  const __m256i vt = _mm256_set1_epi32(signedLimit(t)), vn = _mm256_set1_epi32(signedLimit(n));
  const __m256i ones = _mm256_set1_epi32(-1);
  if (!inner) {
    int x = 0;
    for (; x + 16 <= w; x += 16) {
      const __m256i lo =
          _mm256_cmpgt_epi32(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(diff + x)), vt);
      const __m256i hi = _mm256_cmpgt_epi32(
          _mm256_loadu_si256(reinterpret_cast<const __m256i*>(diff + x + 8)), vt);
      mark16(map + x, _mm256_xor_si256(lo, ones), _mm256_xor_si256(hi, ones));
    }
    unchangedPixels(map, diff, lookDiff, w, inner, t, n, x, w);
    return;
  }
  int x = 1;
  for (; x + 17 <= w; x += 16)
    mark16(map + x, unchanged8(diff, lookDiff, x, w, vt, vn),
           unchanged8(diff, lookDiff, x + 8, w, vt, vn));
  unchangedPixels(map, diff, lookDiff, w, inner, t, n, 0, 1);
  unchangedPixels(map, diff, lookDiff, w, inner, t, n, x, w);
}

// ---- Classes, AVX2: 32 pixels a step ----

// The classes of sixteen pixels as 16-bit lanes, in order: the in-lane unpacking puts pixels
// 0-3 and 8-11 in lo, 4-7 and 12-15 in hi, which the in-lane packing puts back.
__attribute__((target("avx2"))) inline __m256i classes16(const uint16_t* pa, const uint16_t* pb,
                                                         __m256i vt, __m256i vn) {
  const __m256i five = _mm256_set1_epi16(31), zero = _mm256_setzero_si256();
  const __m256i wrg = _mm256_set1_epi32(30 | 59 << 16), wb = _mm256_set1_epi32(20);
  const __m256i va = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(pa));
  const __m256i vb = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(pb));
  const __m256i dr = _mm256_sub_epi16(_mm256_and_si256(_mm256_srli_epi16(va, 10), five),
                                      _mm256_and_si256(_mm256_srli_epi16(vb, 10), five));
  const __m256i dg = _mm256_sub_epi16(_mm256_and_si256(_mm256_srli_epi16(va, 5), five),
                                      _mm256_and_si256(_mm256_srli_epi16(vb, 5), five));
  const __m256i db = _mm256_sub_epi16(_mm256_and_si256(va, five), _mm256_and_si256(vb, five));
  const __m256i sr = _mm256_mullo_epi16(dr, dr), sg = _mm256_mullo_epi16(dg, dg),
                sb = _mm256_mullo_epi16(db, db);
  const __m256i lo = _mm256_add_epi32(_mm256_madd_epi16(_mm256_unpacklo_epi16(sr, sg), wrg),
                                      _mm256_madd_epi16(_mm256_unpacklo_epi16(sb, zero), wb));
  const __m256i hi = _mm256_add_epi32(_mm256_madd_epi16(_mm256_unpackhi_epi16(sr, sg), wrg),
                                      _mm256_madd_epi16(_mm256_unpackhi_epi16(sb, zero), wb));
  const __m256i gtT = _mm256_packs_epi32(_mm256_cmpgt_epi32(lo, vt), _mm256_cmpgt_epi32(hi, vt));
  const __m256i gtN = _mm256_packs_epi32(_mm256_cmpgt_epi32(lo, vn), _mm256_cmpgt_epi32(hi, vn));
  return _mm256_or_si256(_mm256_andnot_si256(gtT, _mm256_set1_epi16(kWithinT)),
                         _mm256_and_si256(gtN, _mm256_set1_epi16(kBeyondN)));
}

// As narrowClasses8, sixteen pixels.
// `weights`: 30, 59 and 20 in 16-bit lanes.
__attribute__((target("avx2"))) inline __m256i narrowClasses16(const uint16_t* a, const uint16_t* b,
                                                               __m256i vt, __m256i vn,
                                                               const __m256i* weights) {
  const __m256i five = _mm256_set1_epi16(31), zero = _mm256_setzero_si256();
  const __m256i va = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(a));
  const __m256i vb = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(b));
  const __m256i dr = _mm256_sub_epi16(_mm256_and_si256(_mm256_srli_epi16(va, 10), five),
                                      _mm256_and_si256(_mm256_srli_epi16(vb, 10), five));
  const __m256i dg = _mm256_sub_epi16(_mm256_and_si256(_mm256_srli_epi16(va, 5), five),
                                      _mm256_and_si256(_mm256_srli_epi16(vb, 5), five));
  const __m256i db = _mm256_sub_epi16(_mm256_and_si256(va, five), _mm256_and_si256(vb, five));
  const __m256i d = _mm256_adds_epu16(
      _mm256_adds_epu16(_mm256_mullo_epi16(_mm256_mullo_epi16(dr, dr), weights[0]),
                        _mm256_mullo_epi16(_mm256_mullo_epi16(dg, dg), weights[1])),
      _mm256_mullo_epi16(_mm256_mullo_epi16(db, db), weights[2]));
  const __m256i within = _mm256_and_si256(_mm256_cmpeq_epi16(_mm256_subs_epu16(d, vt), zero),
                                          _mm256_set1_epi16(kWithinT));
  const __m256i beyond = _mm256_andnot_si256(_mm256_cmpeq_epi16(_mm256_subs_epu16(d, vn), zero),
                                             _mm256_set1_epi16(kBeyondN));
  return _mm256_or_si256(within, beyond);
}

__attribute__((target("avx2"))) void differenceClassesAvx2(const uint16_t* a, const uint16_t* b,
                                                           uint8_t* out, int count, uint32_t t,
                                                           uint32_t n) {
  int i = 0;
  if (narrowLimits(t, n)) {
    const __m256i vt = _mm256_set1_epi16(short(t)), vn = _mm256_set1_epi16(short(n));
    __m256i weights[3] = {_mm256_set1_epi16(30), _mm256_set1_epi16(59), _mm256_set1_epi16(20)};
    // Kept as multiplications: the compiler would make each a longer chain of shifts and adds.
    __asm__("" : "+x"(weights[0]), "+x"(weights[1]), "+x"(weights[2]));
    for (; i + 32 <= count; i += 32) {
      const __m256i p =
          _mm256_packus_epi16(narrowClasses16(a + i, b + i, vt, vn, weights),
                              narrowClasses16(a + i + 16, b + i + 16, vt, vn, weights));
      _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + i), _mm256_permute4x64_epi64(p, 0xD8));
    }
    return differenceClassesScalar(a + i, b + i, out + i, count - i, t, n);
  }
  const __m256i vt = _mm256_set1_epi32(signedLimit(t)), vn = _mm256_set1_epi32(signedLimit(n));
  for (; i + 32 <= count; i += 32) {
    const __m256i p = _mm256_packus_epi16(classes16(a + i, b + i, vt, vn),
                                          classes16(a + i + 16, b + i + 16, vt, vn));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + i), _mm256_permute4x64_epi64(p, 0xD8));
  }
  differenceClassesScalar(a + i, b + i, out + i, count - i, t, n);
}

__attribute__((target("avx2"))) inline __m256i hasBit32(__m256i c, uint8_t bit) {
  const __m256i m = _mm256_set1_epi8(char(bit));
  return _mm256_cmpeq_epi8(_mm256_and_si256(c, m), m);
}

__attribute__((target("avx2"))) inline __m256i quietClasses32(const uint8_t* c, int w) {
  __m256i sum = _mm256_setzero_si256();
  for (const uint8_t* r : {c - w, c, c + w})
    for (int dx = -1; dx <= 1; ++dx)
      sum = _mm256_add_epi8(sum, _mm256_loadu_si256(reinterpret_cast<const __m256i*>(r + dx)));
  return _mm256_cmpeq_epi8(
      _mm256_subs_epu8(_mm256_sub_epi8(sum, _mm256_set1_epi8(5)), _mm256_set1_epi8(10)),
      _mm256_setzero_si256());
}

__attribute__((target("avx2"))) inline void markClasses32(uint8_t* m, __m256i pass, bool clear) {
  if (clear) {
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(m), _mm256_and_si256(pass, _mm256_set1_epi8(1)));
    return;
  }
  const __m256i cur = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(m));
  const __m256i set = _mm256_and_si256(
      _mm256_and_si256(pass, _mm256_cmpeq_epi8(cur, _mm256_setzero_si256())), _mm256_set1_epi8(1));
  _mm256_storeu_si256(reinterpret_cast<__m256i*>(m), _mm256_or_si256(cur, set));
}

__attribute__((target("avx2"))) inline void classStep32(uint8_t* map, const uint8_t* cls,
                                                        const uint8_t* lookCls, int x, int w,
                                                        bool clear) {
  const __m256i c = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(cls + x));
  __m256i pass = hasBit32(c, kWithinT);
  const __m256i need =
      _mm256_andnot_si256(_mm256_or_si256(pass, hasBit32(c, kBeyondN)), _mm256_set1_epi8(-1));
  if (!_mm256_testz_si256(need, need)) {
    const __m256i q = quietClasses32(cls + x, w);
    pass = _mm256_or_si256(pass, _mm256_and_si256(need, q));
    const __m256i rest = _mm256_andnot_si256(q, need);
    if (lookCls && !_mm256_testz_si256(rest, rest)) {
      const __m256i e = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(lookCls + x));
      const __m256i eQuiet =
          _mm256_andnot_si256(hasBit32(e, kBeyondN), quietClasses32(lookCls + x, w));
      pass = _mm256_or_si256(
          pass, _mm256_and_si256(rest, _mm256_or_si256(hasBit32(e, kWithinT), eQuiet)));
    }
  }
  markClasses32(map + x, pass, clear);
}

// As unchangedClassLineSse2, 32 pixels a step.
__attribute__((target("avx2"))) void unchangedClassLineAvx2(uint8_t* map, const uint8_t* cls,
                                                            const uint8_t* lookCls, int w,
                                                            bool inner, bool clear) {
  if (w < 34) return unchangedClassLineSse2(map, cls, lookCls, w, inner, clear);
  if (!inner) {
    for (int x = 0;; x += 32) {
      x = std::min(x, w - 32);
      markClasses32(
          map + x,
          hasBit32(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(cls + x)), kWithinT), clear);
      if (x == w - 32) return;
    }
  }
  unchangedClassPixels(map, cls, lookCls, w, inner, clear, 0, 1);
  for (int x = 1;; x += 32) {
    x = std::min(x, w - 33);
    classStep32(map, cls, lookCls, x, w, clear);
    if (x == w - 33) break;
  }
  unchangedClassPixels(map, cls, lookCls, w, inner, clear, w - 1, w);
}

#endif

}  // namespace

UnchangedKernels unchangedKernelsFor(unsigned flags) {
  UnchangedKernels k{differenceMapScalar, unchangedLineScalar, differenceClassesScalar,
                     unchangedClassLineScalar};
#ifdef ZOV_X86
  if (flags & kCpuSse2)
    k = {differenceMapSse2, unchangedLineSse2, differenceClassesSse2, unchangedClassLineSse2};
  if (flags & kCpuAvx2)
    k = {differenceMapAvx2, unchangedLineAvx2, differenceClassesAvx2, unchangedClassLineAvx2};
#else
  (void)flags;
#endif
  return k;
}

const UnchangedKernels& unchangedKernels() {
  static const UnchangedKernels k = unchangedKernelsFor(cpuFlags());
  return k;
}

}  // namespace zov

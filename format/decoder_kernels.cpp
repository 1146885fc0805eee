#include "format/decoder_kernels.h"

#include <algorithm>

#include "format/cpu_features.h"
#include "format/stream_format.h"

#if defined(__SSE2__)
#include <emmintrin.h>

#include "format/decoder_kernels_sharing.h"
#define ZOV_SSE2 1
#endif

namespace zov {

SharingPairsDone sharingPairsScalar(const SharingPairs& j, const uint8_t* symbols, int pairs,
                                    int y) {
  // Step per symbol; with `edge`, symbols 0 and 14 step far out of range instead, so one range
  // test per pair stops before them as well.
  static constexpr int kPlain[16] = {-7, -6, -5, -4, -3, -2, -1, 0, 1, 2, 3, 4, 5, 6, 7, 8};
  static constexpr int kEdge[16] = {256, -6, -5, -4, -3, -2, -1, 0, 1, 2, 3, 4, 5, 6, 256, 8};
  const int* const step = j.edge ? kEdge : kPlain;
  const uint16_t* const c12 = j.c12 + j.x;
  const uint16_t* const colours = j.colours;
  uint16_t* const row = j.row + j.x;
  int left = y;
  int k = 0;
  for (; k < pairs; ++k) {
    const int right = left + step[symbols[k]];
    if (unsigned(right - 64) > 31) break;
    if (k > 0 || !j.codedFirst)
      row[2 * k] = colours[uint32_t(c12[2 * k]) << 5 | uint32_t((left + right) >> 1 & 31)];
    row[2 * k + 1] = colours[uint32_t(c12[2 * k + 1]) << 5 | uint32_t(right & 31)];
    left = right;
  }
  return {k, left};
}

namespace {

// The whole-row reference for both kinds of row: the walk's rules, pixel by pixel, without its
// shortcuts. The carrying rows' colour differences are kept as their components (Cr, Cb, biased
// by 64), the sharing rows' as the twelve index bits.
int rowReference(const RowJob& j, const uint8_t* symbols, bool carrying) {
  const int w = j.width, groupMask = (1 << j.groupShift) - 1;
  // Each pixel's kind from the blocks' widths.
  enum Kind : uint8_t { Plain, Covered, Entropy };
  Kind kind[kMaxWidth];
  for (int x = 0; x < w;) {
    if (j.bm[x] == 0) {
      kind[x++] = Plain;
      continue;
    }
    const Kind k = j.em[x] != 0 ? Entropy : Covered;
    for (const int end = std::min(w, x + j.bm[x]); x < end; ++x) kind[x] = k;
  }
  const auto coveredYc = [&](int x) { return j.rgbToYc[j.row[x]]; };
  // One step: its symbol, and while the last one read was 0 or 14 one more at twice its step.
  // A third 0 or 14 in a row leaves the row to the walk.
  int p = 0;
  const auto ext = [](uint8_t s) { return s == 0 || s == 14; };
  const auto readStep = [&](int& step) {
    uint8_t s = symbols[p++];
    int streak = ext(s);
    step = s - 7;
    while (ext(s)) {
      s = symbols[p++];
      streak = ext(s) ? streak + 1 : 0;
      if (streak >= 3) return false;
      step += 2 * (s - 7);
    }
    return true;
  };
  int ys[kMaxWidth + 1], cs[kMaxWidth];
  bool between[kMaxWidth] = {};
  int y = int(j.start >> 16 & 0xFF), cr = int(j.start >> 8 & 0xFF), cb = int(j.start & 0xFF);
  int c = ((cr & 63) << 6) | (cb & 63);
  const auto index = [&] { return carrying ? ((cr & 63) << 6) | (cb & 63) : c; };
  uint32_t stored[kMaxWidth] = {};  // carrying rows: what each group start stores (0: nothing)
  ys[0] = y;
  for (int x = 1; x < w; ++x) {
    if (kind[x] == Covered) {
      const uint32_t yc = coveredYc(x);
      ys[x] = int(yc >> 12 & 31) + 64;
      if (x + 1 == w || kind[x + 1] != Covered) {
        y = ys[x];
        cr = int(yc >> 6 & 63) + 64;
        cb = int(yc & 63) + 64;
        c = int(yc & 0xFFF);
      }
      continue;
    }
    const bool entropy = kind[x] == Entropy;
    if (entropy && ((x & 1) == 0) != j.oddRow && x + 1 < w) {
      between[x] = true;
      ys[x] = y;
      cs[x] = carrying ? index() : j.c12[x];
      continue;
    }
    const bool groupStart = (x & groupMask) == 0;
    int step = 0;
    if (!readStep(step)) return -1;
    y += step;
    if (carrying && groupStart) {
      if (!readStep(step)) return -1;
      cr += step;
      if (!readStep(step)) return -1;
      cb += step;
      stored[x] = uint32_t(cr) << 8 | uint32_t(cb);
    }
    if (y < 64 || y > 95 || cr < 64 || cr > 127 || cb < 64 || cb > 127) return -1;
    ys[x] = y;
    if (!carrying && (entropy || groupStart)) c = j.c12[x];
    cs[x] = index();
  }
  for (int x = 1; x < w; ++x) {
    if (kind[x] == Covered) continue;
    const int v = between[x] ? ys[x - 1] + ((ys[x + 1] - ys[x - 1]) >> 1) : ys[x];
    j.row[x] = j.colours[uint32_t(cs[x]) << 5 | uint32_t(v & 31)];
  }
  if (!carrying) return p;
  for (int x = 1; x < w; ++x)
    if (stored[x] != 0) j.chroma[x >> j.groupShift] = stored[x];
  // A covered block's colour differences at its group starts, unless every row that shares
  // them has an equally long covered block at the same column (a block at column 0 only where
  // it covers more than column 0).
  for (int x = j.bm[0] > 1 ? 0 : 1; x < w; x += j.bm[x] ? j.bm[x] : 1) {
    const int n = j.bm[x];
    if (n == 0 || j.em[x] != 0) continue;
    bool needed = false;
    for (int i = 0; i < j.partners; ++i) needed |= j.partnerBm[i][x] < n || j.partnerEm[i][x] != 0;
    if (!needed) continue;
    for (int g = (x + groupMask) & ~groupMask; g < x + n; g += groupMask + 1) {
      const uint32_t yc = coveredYc(g);
      j.chroma[g >> j.groupShift] = ((yc >> 6 & 63) + 64) << 8 | ((yc & 63) + 64);
    }
  }
  return p;
}

}  // namespace

int sharingRowScalar(const RowJob& j, const uint8_t* symbols) {
  return rowReference(j, symbols, false);
}

int carryingRowScalar(const RowJob& j, const uint8_t* symbols) {
  return rowReference(j, symbols, true);
}

namespace {

// The running value's layout (format/running_value.h): Y in bits 16-23, the colour differences
// in bits 0-15, each with a bias of 64; in range when Y lies in 64..95 and both colour
// differences in 64..127.
constexpr uint32_t kCheckExpected = 0x404040;

// Step addends per symbol for the component at `shift`. Symbols 0 and 14 (and 15, which no
// sound stream holds) add a flag in bits 24-31 instead, where the running value is zero: one
// mask test then finds both a symbol the kernel must leave and a value out of range.
struct FlaggedSteps {
  uint32_t step[16];
};
constexpr FlaggedSteps flaggedSteps(int shift) {
  FlaggedSteps t{};
  for (int s = 0; s < 16; ++s)
    t.step[s] = s == 0 || s >= 14 ? uint32_t{1} << 24 : uint32_t(s - 7) << shift;
  return t;
}
constexpr FlaggedSteps kStepY = flaggedSteps(16), kStepCr = flaggedSteps(8),
                       kStepCb = flaggedSteps(0);
constexpr uint32_t kStopMask = 0xFFE0C0C0;

// The colour difference part of a running value's index in the chroma-first colour table.
inline uint32_t chromaPart(uint32_t r) {
  return (r << 3 & 0x1F800) | (r << 5 & 0x7E0);
}

// A carrying-row walk over pairs of an interpolated and a coded pixel. Beside the running value
// it keeps the row of the colour table its colour difference selects, so each pixel is one
// look-up by its luminance; the interpolated pixel's luminance is the mean of its neighbours',
// rounded down. The job's fields are held in locals: the stores to the chroma store could alias
// them.
struct CarryingWalk {
  const uint8_t* p;
  uint32_t* const chroma;
  const uint16_t* const colours;
  uint16_t* const row;
  uint32_t r;
  const uint16_t* line;
  uint32_t yLeft;
  int xc;  // the pair's coded pixel
  int k = 0;

  CarryingWalk(const CarryingPairs& j, const uint8_t* symbols, uint32_t value)
      : p(symbols),
        chroma(j.chroma),
        colours(j.colours),
        row(j.row),
        r(value),
        line(j.colours + chromaPart(value)),
        yLeft(value >> 16),
        xc(j.x + 1) {}

  // One pair, a group's full pair where the coded pixel starts a group; false where the
  // symbols or the value call for the pixel-by-pixel rules.
  [[gnu::always_inline]] bool pair(int shift) {
    uint32_t next;
    if ((xc & ((1 << shift) - 1)) == 0) {
      next = r + kStepY.step[p[0]] + kStepCr.step[p[1]] + kStepCb.step[p[2]];
      if ((next & kStopMask) != kCheckExpected) return false;
      chroma[xc >> shift] = next & 0xFFFF;
      p += 3;
      const uint32_t y = next >> 16;
      row[xc - 1] = line[((yLeft + y) >> 1) & 31];
      line = colours + chromaPart(next);
      row[xc] = line[y & 31];
      yLeft = y;
    } else {
      next = r + kStepY.step[p[0]];
      if ((next & kStopMask) != kCheckExpected) return false;
      p += 1;
      const uint32_t y = next >> 16;
      row[xc - 1] = line[((yLeft + y) >> 1) & 31];
      row[xc] = line[y & 31];
      yLeft = y;
    }
    r = next;
    ++k;
    xc += 2;
    return true;
  }

  // A run that starts at a coded pixel: its interpolated pixel (the one before the run) is
  // written like any other and put back at the end, so the loops have no test for it.
  CarryingPairsDone done(const CarryingPairs& j, const uint8_t* symbols, uint16_t before) {
    const uint16_t put = row[j.x];
    row[j.x] = j.codedFirst ? before : put;
    return {k, int(p - symbols), r};
  }
};

}  // namespace

CarryingPairsDone carryingPairsScalar(const CarryingPairs& j, const uint8_t* symbols, int pairs,
                                      uint32_t value) {
  CarryingWalk walk(j, symbols, value);
  const uint16_t before = j.row[j.x];
  while (walk.k < pairs && walk.pair(j.groupShift)) {
  }
  return walk.done(j, symbols, before);
}

// The same a group at a time where a group is two pairs (16:1:1 and 8:1:1): its full pair and
// the pair that reads a Y step only are taken together, with one range test for both, so the
// loop neither tests where a group starts nor stops twice a group. Pairs before the first group
// start and a group that holds a stop go through the reference's steps.
CarryingPairsDone carryingPairsGrouped(const CarryingPairs& j, const uint8_t* symbols, int pairs,
                                       uint32_t value) {
  if (j.groupShift != 2) return carryingPairsScalar(j, symbols, pairs, value);
  CarryingWalk w(j, symbols, value);
  const uint16_t before = j.row[j.x];
  if ((w.xc & 3) != 0 && w.k < pairs && !w.pair(2)) pairs = w.k;
  for (; w.k + 2 <= pairs; w.k += 2, w.xc += 4) {
    const uint8_t* p = w.p;
    const uint32_t a = w.r + kStepY.step[p[0]] + kStepCr.step[p[1]] + kStepCb.step[p[2]];
    const uint32_t b = a + kStepY.step[p[3]];
    if ((((a & kStopMask) ^ kCheckExpected) | ((b & kStopMask) ^ kCheckExpected)) != 0) break;
    w.chroma[w.xc >> 2] = a & 0xFFFF;
    w.p = p + 4;
    const uint32_t ya = a >> 16, yb = b >> 16;
    uint16_t* const row = w.row;
    const int xc = w.xc;
    row[xc - 1] = w.line[((w.yLeft + ya) >> 1) & 31];
    w.line = w.colours + chromaPart(a);
    row[xc] = w.line[ya & 31];
    row[xc + 1] = w.line[((ya + yb) >> 1) & 31];
    row[xc + 2] = w.line[yb & 31];
    w.yLeft = yb;
    w.r = b;
  }
  while (w.k < pairs && w.pair(2)) {
  }
  return w.done(j, symbols, before);
}

namespace {

#ifdef ZOV_SSE2

// The sixteen pixels of a step, looked up by their indices, of which lanes [from, count) are
// written at out: two vector stores over what the row holds, so the number written takes no
// loop (its end follows the run's length, which no branch predictor foresees).
inline void putPixels16(uint16_t* out, const uint32_t* index, const uint16_t* colours, int from,
                        int count) {
  __m128i a = _mm_cvtsi32_si128(colours[index[0]]);
  __m128i b = _mm_cvtsi32_si128(colours[index[8]]);
  a = _mm_insert_epi16(a, colours[index[1]], 1);
  b = _mm_insert_epi16(b, colours[index[9]], 1);
  a = _mm_insert_epi16(a, colours[index[2]], 2);
  b = _mm_insert_epi16(b, colours[index[10]], 2);
  a = _mm_insert_epi16(a, colours[index[3]], 3);
  b = _mm_insert_epi16(b, colours[index[11]], 3);
  a = _mm_insert_epi16(a, colours[index[4]], 4);
  b = _mm_insert_epi16(b, colours[index[12]], 4);
  a = _mm_insert_epi16(a, colours[index[5]], 5);
  b = _mm_insert_epi16(b, colours[index[13]], 5);
  a = _mm_insert_epi16(a, colours[index[6]], 6);
  b = _mm_insert_epi16(b, colours[index[14]], 6);
  a = _mm_insert_epi16(a, colours[index[7]], 7);
  b = _mm_insert_epi16(b, colours[index[15]], 7);
  const __m128i lanesA = _mm_setr_epi16(0, 1, 2, 3, 4, 5, 6, 7);
  const __m128i lanesB = _mm_setr_epi16(8, 9, 10, 11, 12, 13, 14, 15);
  const __m128i c = _mm_set1_epi16(static_cast<int16_t>(count));
  const __m128i f = _mm_set1_epi16(static_cast<int16_t>(from));
  const __m128i mA = _mm_andnot_si128(_mm_cmpgt_epi16(f, lanesA), _mm_cmpgt_epi16(c, lanesA));
  const __m128i mB = _mm_andnot_si128(_mm_cmpgt_epi16(f, lanesB), _mm_cmpgt_epi16(c, lanesB));
  __m128i* const o = reinterpret_cast<__m128i*>(out);
  const __m128i oldA = _mm_loadu_si128(o), oldB = _mm_loadu_si128(o + 1);
  _mm_storeu_si128(o, _mm_or_si128(_mm_and_si128(mA, a), _mm_andnot_si128(mA, oldA)));
  _mm_storeu_si128(o + 1, _mm_or_si128(_mm_and_si128(mB, b), _mm_andnot_si128(mB, oldB)));
}

// The SSE2 version: the 17-bit indices are assembled in the registers and the look-ups are
// scalar (SSE2 has no gather). The indices are read back from memory, one load a lane, where
// taking them out of the registers costs two or three instructions a lane.
SharingPairsDone sharingPairsSse2(const SharingPairs& j, const uint8_t* symbols, int pairs, int y) {
  alignas(16) uint32_t index[16];
  const auto put = [&](uint16_t * out, bool fits, __m128i c0, __m128i c1, __m128i y0, __m128i y1,
                       int from, int count) __attribute__((always_inline)) {
    // c12 << 5 spans 17 bits: its low 16 join Y in the low half, the top bit goes high.
    const __m128i lo0 = _mm_or_si128(_mm_slli_epi16(c0, 5), y0);
    const __m128i lo1 = _mm_or_si128(_mm_slli_epi16(c1, 5), y1);
    const __m128i hi0 = _mm_srli_epi16(c0, 11), hi1 = _mm_srli_epi16(c1, 11);
    _mm_store_si128(reinterpret_cast<__m128i*>(index), _mm_unpacklo_epi16(lo0, hi0));
    _mm_store_si128(reinterpret_cast<__m128i*>(index + 4), _mm_unpackhi_epi16(lo0, hi0));
    _mm_store_si128(reinterpret_cast<__m128i*>(index + 8), _mm_unpacklo_epi16(lo1, hi1));
    _mm_store_si128(reinterpret_cast<__m128i*>(index + 12), _mm_unpackhi_epi16(lo1, hi1));
    asm volatile("" : : "r"(index) : "memory");
    if (fits)
      putPixels16(out, index, j.colours, from, count);
    else
      putPixelsAtRowEnd(out, index, j.colours, from, count);
  };
  return sharingPairsVector(j, symbols, pairs, y, put);
}

#endif

}  // namespace

DecoderKernels decoderKernelsFor(unsigned flags) {
  DecoderKernels k{sharingPairsScalar, carryingPairsScalar, nullptr, nullptr};
#ifdef ZOV_SSE2
  if (flags & kCpuSse2) k = {sharingPairsSse2, carryingPairsGrouped, nullptr, nullptr};
#ifdef ZOV_DECODER_AVX2
  if (flags & kCpuAvx2) k.sharingPairs = sharingPairsAvx2;
#endif
#ifdef ZOV_DECODER_AVX512
  if (flags & kCpuAvx512) {
    k.sharingRow = sharingRowAvx512;
    k.carryingRow = carryingRowAvx512;
  }
#endif
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

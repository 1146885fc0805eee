// A whole sharing row in vectors (AVX-512 with VBMI2). This file alone is compiled for it
// (format/CMakeLists.txt); the table in decoder_kernels.cpp calls it only where the processor
// has it. Nothing here is inline with external linkage, so no code built for AVX-512 can be
// linked into a caller on another path.
//
// The pixel-by-pixel walk pays a branch the predictor cannot foresee at most runs' ends (about
// forty runs a row on camera footage). Here the row is taken apart by kind first, as bit masks
// of the whole row, and then every stage is a pass over the row with no branch on the pixels:
//  1. the block map's widths become masks of covered and Entropy pixels (a prefix XOR of the
//     blocks' starts and ends), and from them the pixels that read a step (plain pixels and the
//     coded pixels of Entropy runs), the interpolated ones, and those whose value restarts the
//     running value (the ends of covered runs and column 0);
//  2. the symbols become the running sums of their steps, one per step, an extended step's
//     further symbols counted twice into the step they extend;
//  3. each pixel's luminance is the running sum at its step, less that at the last restart,
//     plus the restart's luminance; its colour difference that of the last pixel that set it;
//  4. interpolated pixels take the mean of their neighbours, and the colours are gathered.
// What the vector passes cannot settle at once, an extended step of three or more symbols and a
// luminance out of range, is left to the walk: it then decodes the row again from its start.
#include "format/decoder_kernels.h"

#ifdef ZOV_DECODER_AVX512

#include <immintrin.h>

#include <bit>
#include <cstdint>

#include "format/stream_format.h"

namespace zov {
namespace {

constexpr int kWords = (kMaxWidth + 63) / 64;

struct Lanes {
  __m512i iota, iota32, up1;
  Lanes()
      : iota(_mm512_set_epi16(31, 30, 29, 28, 27, 26, 25, 24, 23, 22, 21, 20, 19, 18, 17, 16, 15,
                              14, 13, 12, 11, 10, 9, 8, 7, 6, 5, 4, 3, 2, 1, 0)),
        iota32(_mm512_add_epi16(iota, _mm512_set1_epi16(32))),
        up1(_mm512_sub_epi16(iota, _mm512_set1_epi16(1))) {}
};

// Lane i takes lane i - k (zeros below k); k counts 16-bit lanes.
template <int k>
__m512i shiftUp(const Lanes& l, __m512i v) {
  if constexpr (k == 1)
    return _mm512_maskz_permutexvar_epi16(0xFFFFFFFEu, l.up1, v);
  else
    return _mm512_maskz_alignr_epi32(__mmask16(0xFFFF << (k / 2)), v, v, 16 - k / 2);
}

__m512i prefixSum(const Lanes& l, __m512i v) {
  v = _mm512_add_epi16(v, shiftUp<1>(l, v));
  v = _mm512_add_epi16(v, shiftUp<2>(l, v));
  v = _mm512_add_epi16(v, shiftUp<4>(l, v));
  v = _mm512_add_epi16(v, shiftUp<8>(l, v));
  return _mm512_add_epi16(v, shiftUp<16>(l, v));
}

// Each lane takes v at the last lane of `flags` at or below it, or `before` (every lane the
// same) where there is none.
__m512i carry(const Lanes& l, __m512i v, __mmask32 flags, __m512i before) {
  __m512i at = _mm512_maskz_mov_epi16(flags, l.iota32);
  at = _mm512_max_epu16(at, shiftUp<1>(l, at));
  at = _mm512_max_epu16(at, shiftUp<2>(l, at));
  at = _mm512_max_epu16(at, shiftUp<4>(l, at));
  at = _mm512_max_epu16(at, shiftUp<8>(l, at));
  at = _mm512_max_epu16(at, shiftUp<16>(l, at));
  return _mm512_permutex2var_epi16(before, at, v);
}

__m512i lastLane(__m512i v) {
  return _mm512_permutexvar_epi16(_mm512_set1_epi16(31), v);
}

uint64_t prefixXor(uint64_t x) {
  x ^= x << 1;
  x ^= x << 2;
  x ^= x << 4;
  x ^= x << 8;
  x ^= x << 16;
  return x ^ (x << 32);
}

// The running sums of the first n steps of the symbols at `symbols`, into sums[0 .. n). Returns
// the symbols they take, or -1 at an extended step of three or more symbols (whose further
// symbols could carry the luminance out of its byte on the way).
int stepSums(const Lanes& l, const uint8_t* symbols, int n, int16_t* sums) {
  if (n == 0) return 0;
  const __m512i seven = _mm512_set1_epi16(7), fourteen = _mm512_set1_epi16(14);
  __m512i sum = _mm512_setzero_si512();
  uint64_t before = 0;  // whether the last two symbols were 0 or 14 (bits 1 and 0)
  int have = 0, used = 0;
  for (;;) {
    const __m512i s =
        _mm512_cvtepu8_epi16(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(symbols + used)));
    const __mmask32 ext =
        _mm512_cmpeq_epi16_mask(s, _mm512_setzero_si512()) | _mm512_cmpeq_epi16_mask(s, fourteen);
    uint64_t e = uint64_t(ext) << 2 | before;
    __mmask32 ends = ~ext;
    const int count = std::popcount(uint32_t(ends));
    const bool last = have + count >= n;
    int taken = 32;
    if (last) {
      // Only the symbols up to the last step's end count, also for the test below.
      ends = __mmask32(_pdep_u32(uint32_t((uint64_t{1} << (n - have)) - 1), ends));
      taken = 32 - std::countl_zero(uint32_t(ends));
      e &= (uint64_t{4} << taken) - 1;
    }
    if ((e & e >> 1 & e >> 2) != 0) return -1;
    // A symbol after a 0 or 14 continues that step with twice its own.
    const __mmask32 more = __mmask32(e >> 1);
    __m512i w = _mm512_sub_epi16(s, seven);
    w = _mm512_mask_add_epi16(w, more, w, w);
    const __m512i run = _mm512_add_epi16(prefixSum(l, w), sum);
    _mm512_storeu_si512(sums + have, _mm512_maskz_compress_epi16(ends, run));
    if (last) return used + taken;
    have += count;
    sum = lastLane(run);
    before = e >> 32;
    used += 32;
  }
}

}  // namespace

int sharingRowAvx512(const SharingRow& j, const uint8_t* symbols) {
  const Lanes l;
  const int w = j.width, words = (w + 63) / 64, chunks = (w + 31) / 32;

  // 1. The row's pixels by kind, a bit each.
  uint64_t startAll[kWords + 1] = {}, startE[kWords + 1] = {}, endAll[kWords + 1] = {},
                             endE[kWords + 1] = {};
  for (int k = 0; k < words; ++k) {
    const int left = w - 64 * k;
    const __mmask64 valid = left >= 64 ? ~__mmask64{0} : (__mmask64{1} << left) - 1;
    const __m512i b = _mm512_maskz_loadu_epi8(valid, j.bm + 64 * k);
    const __m512i e = _mm512_maskz_loadu_epi8(valid, j.em + 64 * k);
    startAll[k] = _mm512_test_epi8_mask(b, b);
    startE[k] = startAll[k] & _mm512_test_epi8_mask(e, e);
  }
  for (int k = 0; k < words; ++k) {
    for (uint64_t s = startAll[k]; s != 0; s &= s - 1) {
      const int x = 64 * k + std::countr_zero(s);
      const int end = x + j.bm[x];
      endAll[end >> 6] |= uint64_t{1} << (end & 63);
      endE[end >> 6] |= uint64_t(startE[k] >> (x & 63) & 1) << (end & 63);
    }
  }
  uint64_t covered[kWords + 1] = {}, entropy[kWords + 1] = {};
  {
    uint64_t c = 0, e = 0;
    for (int k = 0; k < words; ++k) {
      covered[k] = prefixXor(startAll[k] ^ endAll[k]) ^ (0 - c);
      entropy[k] = prefixXor(startE[k] ^ endE[k]) ^ (0 - e);
      c = covered[k] >> 63;
      e = entropy[k] >> 63;
    }
  }
  entropy[0] &= ~uint64_t{1};  // column 0 is the column pass's (no Entropy run starts there)
  const uint64_t codedColumns = j.oddRow ? 0x5555555555555555u : 0xAAAAAAAAAAAAAAAAu;
  const uint64_t groupStarts = j.groupShift == 1 ? 0x5555555555555555u : 0x1111111111111111u;
  uint64_t stepping[kWords] = {}, interpolated[kWords] = {}, restart[kWords] = {},
           setsColour[kWords] = {}, written[kWords] = {};
  int steps = 0;
  for (int k = 0; k < words; ++k) {
    const int left = w - 64 * k;
    const uint64_t valid = left >= 64 ? ~uint64_t{0} : (uint64_t{1} << left) - 1;
    // The last pixel of a row has no right neighbour: coded even where it would be interpolated.
    const uint64_t lastPixel = left <= 64 ? uint64_t{1} << (left - 1) : 0;
    const uint64_t plain = ~covered[k] & valid & (k == 0 ? ~uint64_t{1} : ~uint64_t{0});
    const uint64_t coded = entropy[k] & (codedColumns | lastPixel);
    const uint64_t blocked = covered[k] & ~entropy[k];
    const uint64_t blockedBelow = k > 0 ? (covered[k - 1] & ~entropy[k - 1]) >> 63 : 0;
    const uint64_t blockedAbove = covered[k + 1] & ~entropy[k + 1] & 1;
    const uint64_t firstBlocked = blocked & ~(blocked << 1 | blockedBelow);
    const uint64_t lastBlocked = blocked & ~(blocked >> 1 | blockedAbove << 63);
    stepping[k] = plain | coded;
    interpolated[k] = entropy[k] & ~coded;
    restart[k] = firstBlocked | lastBlocked | (k == 0 ? 1 : 0);
    setsColour[k] = coded | (plain & groupStarts) | restart[k];
    written[k] = plain | entropy[k];
    steps += std::popcount(stepping[k]);
  }

  // Restarts: the value of column 0, and of the covered pixels at covered runs' ends.
  alignas(64) int16_t restartY[kMaxWidth + 32], restartC[kMaxWidth + 32];
  for (int k = 0; k < words; ++k) {
    for (uint64_t s = restart[k] & (k == 0 ? ~uint64_t{1} : ~uint64_t{0}); s != 0; s &= s - 1) {
      const int x = 64 * k + std::countr_zero(s);
      const uint32_t yc = j.rgbToYc[j.row[x]];
      restartY[x] = int16_t((yc >> 12 & 31) + 64);
      restartC[x] = int16_t(yc & 0xFFF);
    }
  }
  restartY[0] = int16_t(j.start >> 16 & 0xFF);
  restartC[0] = int16_t((j.start >> 2 & 0xFC0) | (j.start & 0x3F));

  // 2. The steps' running sums.
  alignas(64) int16_t sums[kMaxWidth + 64];
  const int used = stepSums(l, symbols, steps, sums);
  if (used < 0) return -1;

  // 3. Luminances and colour differences, before interpolation.
  alignas(64) int16_t ys[kMaxWidth + 64];  // ys[1 + x]: pixel x
  alignas(64) int16_t cs[kMaxWidth + 32];
  const auto bits = [](const uint64_t* m, int c) { return __mmask32(m[c >> 1] >> (c & 1) * 32); };
  __m512i sumBefore = _mm512_setzero_si512(), baseBefore = sumBefore, colourBefore = sumBefore;
  __mmask32 outside = 0;
  int at = 0;
  for (int c = 0; c < chunks; ++c) {
    const int x0 = 32 * c;
    const __mmask32 valid = w - x0 >= 32 ? ~__mmask32{0} : (__mmask32{1} << (w - x0)) - 1;
    const __mmask32 step = bits(stepping, c), re = bits(restart, c);
    const __m512i own = _mm512_maskz_expand_epi16(step, _mm512_loadu_si512(sums + at));
    at += std::popcount(uint32_t(step));
    const __m512i sum = carry(l, own, step, sumBefore);
    const __m512i restartAt = _mm512_maskz_loadu_epi16(re, restartY + x0);
    const __m512i base = carry(l, _mm512_sub_epi16(restartAt, sum), re, baseBefore);
    const __m512i y = _mm512_add_epi16(base, sum);
    outside |= _mm512_mask_cmplt_epi16_mask(step, y, _mm512_set1_epi16(64)) |
               _mm512_mask_cmpgt_epi16_mask(step, y, _mm512_set1_epi16(95));
    _mm512_storeu_si512(ys + 1 + x0, y);
    const __m512i group = _mm512_maskz_loadu_epi16(valid, j.c12 + x0);
    const __m512i set =
        _mm512_mask_blend_epi16(re, group, _mm512_maskz_loadu_epi16(re, restartC + x0));
    const __m512i colour = carry(l, set, bits(setsColour, c), colourBefore);
    // Entropy pixels take their group's colour difference whatever came before.
    _mm512_storeu_si512(cs + x0, _mm512_mask_blend_epi16(bits(entropy, c), colour, group));
    sumBefore = lastLane(sum);
    baseBefore = lastLane(base);
    colourBefore = lastLane(colour);
  }
  if (outside != 0) return -1;
  ys[1 + 32 * chunks] = 0;

  // 4. Interpolation and the colours.
  const int* const table = reinterpret_cast<const int*>(j.colours);
  for (int c = 0; c < chunks; ++c) {
    const int x0 = 32 * c;
    const __mmask32 out = bits(written, c);
    const __m512i left = _mm512_loadu_si512(ys + x0);
    const __m512i right = _mm512_loadu_si512(ys + 2 + x0);
    const __m512i mean =
        _mm512_add_epi16(left, _mm512_srai_epi16(_mm512_sub_epi16(right, left), 1));
    const __m512i y =
        _mm512_mask_blend_epi16(bits(interpolated, c), _mm512_loadu_si512(ys + 1 + x0), mean);
    // The look-up index c12 << 5 | Y has 17 bits: put together in 32-bit lanes.
    const __m512i colour = _mm512_loadu_si512(cs + x0);
    const __m512i low = _mm512_and_si512(y, _mm512_set1_epi16(31));
    const auto index = [&](int half) __attribute__((always_inline)) {
      const __m256i cd =
          half ? _mm512_extracti64x4_epi64(colour, 1) : _mm512_castsi512_si256(colour);
      const __m256i v = half ? _mm512_extracti64x4_epi64(low, 1) : _mm512_castsi512_si256(low);
      return _mm512_or_si512(_mm512_slli_epi32(_mm512_cvtepu16_epi32(cd), 5),
                             _mm512_cvtepu16_epi32(v));
    };
    const __m512i lo = index(0), hi = index(1);
    const __m512i a =
        _mm512_mask_i32gather_epi32(_mm512_setzero_si512(), __mmask16(out), lo, table, 2);
    const __m512i b =
        _mm512_mask_i32gather_epi32(_mm512_setzero_si512(), __mmask16(out >> 16), hi, table, 2);
    const __m512i px = _mm512_inserti64x4(_mm512_castsi256_si512(_mm512_cvtepi32_epi16(a)),
                                          _mm512_cvtepi32_epi16(b), 1);
    _mm512_mask_storeu_epi16(j.row + x0, out, px);
  }
  return used;
}

}  // namespace zov

#endif

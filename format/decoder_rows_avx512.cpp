// Whole rows in vectors (AVX-512 with VBMI and VBMI2): the rows that share their colour
// difference and those that carry it, in the extended-range code. This file alone is compiled
// for it (format/CMakeLists.txt); the table in decoder_kernels.cpp calls it only where the
// processor has it. Nothing here is inline with external linkage, so no code built for AVX-512
// can be linked into a caller on another path.
//
// The pixel-by-pixel walk pays a branch the predictor cannot foresee at most runs' ends (about
// forty runs a row on camera footage). Here the row is taken apart by kind first, as bit masks
// of the whole row, and then every stage is a pass over the row with no branch on the pixels:
//  1. the block map's widths become masks of covered and Entropy pixels (a prefix maximum of
//     how far the blocks reach), and from them the pixels that read a step (plain pixels and the
//     coded pixels of Entropy runs), the interpolated ones, and those whose value restarts the
//     running value (the ends of covered runs and column 0);
//  2. the symbols become the running sums of their steps, one per step, an extended step's
//     further symbols counted twice into the step they extend;
//  3. each pixel's components are the running sums of their steps from the last restart, plus
//     the restart's; in a sharing row the colour difference is instead that of the last pixel
//     that set it (its group's or a restart's); a carrying row's full pixels (three steps at a
//     group's first column) store theirs;
//  4. interpolated pixels take the mean of their neighbours, and the colours are gathered.
// What the vector passes cannot settle at once, an extended step of three or more symbols and a
// component out of range, is left to the walk: it then decodes the row again from its start.
#include "format/decoder_kernels.h"

#ifdef ZOV_DECODER_AVX512

#include <immintrin.h>

#include <algorithm>
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

// For each lane, 32 + the last lane of `flags` at or below it, or 0 where there is none.
__m512i lastFlagged(const Lanes& l, __mmask32 flags) {
  __m512i at = _mm512_maskz_mov_epi16(flags, l.iota32);
  at = _mm512_max_epu16(at, shiftUp<1>(l, at));
  at = _mm512_max_epu16(at, shiftUp<2>(l, at));
  at = _mm512_max_epu16(at, shiftUp<4>(l, at));
  at = _mm512_max_epu16(at, shiftUp<8>(l, at));
  return _mm512_max_epu16(at, shiftUp<16>(l, at));
}

// Each lane takes v at the last lane of `flags` at or below it, or `before` (every lane the
// same) where there is none.
__m512i carry(const Lanes& l, __m512i v, __mmask32 flags, __m512i before) {
  return _mm512_permutex2var_epi16(before, lastFlagged(l, flags), v);
}

__m512i lastLane(__m512i v) {
  return _mm512_permutexvar_epi16(_mm512_set1_epi16(31), v);
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

// The row's pixels by kind, a bit each (bits from the row's width on are clear).
struct RowMasks {
  int words = 0, chunks = 0;
  uint64_t covered[kWords + 1] = {}, entropy[kWords + 1] = {};
  uint64_t plain[kWords] = {}, coded[kWords] = {};
  uint64_t stepping[kWords] = {};      // read a step: plain pixels and coded Entropy pixels
  uint64_t interpolated[kWords] = {};  // Entropy pixels between two others
  uint64_t restart[kWords] = {};       // column 0 and the first and last pixel of covered runs
  uint64_t written[kWords] = {};       // every pixel but column 0 and the covered ones
  uint64_t startAll[kWords + 1] = {}, startE[kWords + 1] = {};  // the blocks' first columns

  __mmask32 bits(const uint64_t* m, int chunk) const {
    return __mmask32(m[chunk >> 1] >> (chunk & 1) * 32);
  }
};

void classify(const RowJob& j, RowMasks& m) {
  const int w = j.width;
  m.words = (w + 63) / 64;
  m.chunks = (w + 31) / 32;
  // A pixel is covered when a block starting at or before it reaches past it: within a word of
  // 64 pixels a prefix maximum of the starts' reach (in bytes, saturated: only reaches within
  // the word matter), and from the words before, the last block's end (blocks do not overlap,
  // so the last to start reaches furthest).
  const __m512i iota = _mm512_set_epi8(
      63, 62, 61, 60, 59, 58, 57, 56, 55, 54, 53, 52, 51, 50, 49, 48, 47, 46, 45, 44, 43, 42, 41,
      40, 39, 38, 37, 36, 35, 34, 33, 32, 31, 30, 29, 28, 27, 26, 25, 24, 23, 22, 21, 20, 19, 18,
      17, 16, 15, 14, 13, 12, 11, 10, 9, 8, 7, 6, 5, 4, 3, 2, 1, 0);
  const auto prefixMax = [&](__m512i v) __attribute__((always_inline)) {
    for (int k = 1; k < 64; k *= 2)
      v = _mm512_max_epu8(
          v, _mm512_maskz_permutexvar_epi8(~__mmask64{0} << k,
                                           _mm512_sub_epi8(iota, _mm512_set1_epi8(char(k))), v));
    return v;
  };
  const __m512i word = _mm512_set1_epi8(64), one = _mm512_set1_epi8(1);
  const __m512i oddIota = _mm512_add_epi8(_mm512_add_epi8(iota, iota), one);  // 2 x + 1
  int lastEnd = 0;
  bool lastEntropy = false;
  for (int k = 0; k < m.words; ++k) {
    const int left = w - 64 * k;
    const __mmask64 valid = left >= 64 ? ~__mmask64{0} : (__mmask64{1} << left) - 1;
    const __m512i b = _mm512_maskz_loadu_epi8(valid, j.bm + 64 * k);
    const __m512i e = _mm512_maskz_loadu_epi8(valid, j.em + 64 * k);
    const __mmask64 starts = _mm512_test_epi8_mask(b, b);
    const __mmask64 startsE = starts & _mm512_test_epi8_mask(e, e);
    m.startAll[k] = starts;
    m.startE[k] = startsE;
    // One prefix maximum serves both: a start's reach (at most 64: only one block of a word
    // reaches past it, the last) doubled, plus one for an Entropy run. Ends grow from block to
    // block, so the maximum is the last block's, with its kind in the low bit.
    const __m512i reach = _mm512_min_epu8(_mm512_maskz_adds_epu8(starts, iota, b), word);
    const __m512i twice = _mm512_add_epi8(reach, reach);
    const __m512i last = prefixMax(_mm512_mask_add_epi8(twice, startsE, twice, one));
    const int before = std::clamp(lastEnd - 64 * k, 0, 64);
    const uint64_t fromBefore = before == 64 ? ~uint64_t{0} : (uint64_t{1} << before) - 1;
    const uint64_t within = _mm512_cmpgt_epu8_mask(last, oddIota);
    m.covered[k] = within | fromBefore;
    m.entropy[k] = (within & _mm512_test_epi8_mask(last, one)) | (lastEntropy ? fromBefore : 0);
    if (starts != 0) {
      const int x = 64 * k + 63 - std::countl_zero(uint64_t(starts));
      lastEnd = x + j.bm[x];
      lastEntropy = (uint64_t(startsE) >> (x & 63) & 1) != 0;
    }
  }
  m.entropy[0] &= ~uint64_t{1};  // column 0 is the column pass's (no Entropy run starts there)
  const uint64_t codedColumns = j.oddRow ? 0x5555555555555555u : 0xAAAAAAAAAAAAAAAAu;
  for (int k = 0; k < m.words; ++k) {
    const int left = w - 64 * k;
    const uint64_t valid = left >= 64 ? ~uint64_t{0} : (uint64_t{1} << left) - 1;
    // The last pixel of a row has no right neighbour: coded even where it would be interpolated.
    const uint64_t lastPixel = left <= 64 ? uint64_t{1} << (left - 1) : 0;
    m.plain[k] = ~m.covered[k] & valid & (k == 0 ? ~uint64_t{1} : ~uint64_t{0});
    m.coded[k] = m.entropy[k] & (codedColumns | lastPixel);
    const uint64_t blocked = m.covered[k] & ~m.entropy[k];
    const uint64_t blockedBelow = k > 0 ? (m.covered[k - 1] & ~m.entropy[k - 1]) >> 63 : 0;
    const uint64_t blockedAbove = m.covered[k + 1] & ~m.entropy[k + 1] & 1;
    const uint64_t firstBlocked = blocked & ~(blocked << 1 | blockedBelow);
    const uint64_t lastBlocked = blocked & ~(blocked >> 1 | blockedAbove << 63);
    m.stepping[k] = m.plain[k] | m.coded[k];
    m.interpolated[k] = m.entropy[k] & ~m.coded[k];
    m.restart[k] = firstBlocked | lastBlocked | (k == 0 ? 1 : 0);
    m.written[k] = m.plain[k] | m.entropy[k];
  }
}

// The components at the restarts, biased by 64: column 0's from the row's start, the covered
// pixels' from the picture.
struct Restarts {
  alignas(64) int16_t y[kMaxWidth + 32], cr[kMaxWidth + 32], cb[kMaxWidth + 32];
};

void fillRestarts(const Lanes& l, const RowJob& j, const RowMasks& m, Restarts& r) {
  // Their columns listed first, so that one loop with one end takes them all.
  alignas(64) int16_t at[kMaxWidth + 32];
  int n = 0;
  for (int c = 0; c < m.chunks; ++c) {
    const __mmask32 re = m.bits(m.restart, c) & (c == 0 ? ~__mmask32{1} : ~__mmask32{0});
    _mm512_storeu_si512(at + n,
                        _mm512_maskz_compress_epi16(
                            re, _mm512_add_epi16(l.iota, _mm512_set1_epi16(int16_t(32 * c)))));
    n += std::popcount(uint32_t(re));
  }
  for (int i = 0; i < n; ++i) {
    const int x = at[i];
    const uint32_t yc = j.rgbToYc[j.row[x]];
    r.y[x] = int16_t((yc >> 12 & 31) + 64);
    r.cr[x] = int16_t((yc >> 6 & 63) + 64);
    r.cb[x] = int16_t((yc & 63) + 64);
  }
  r.y[0] = int16_t(j.start >> 16 & 0xFF);
  r.cr[0] = int16_t(j.start >> 8 & 0xFF);
  r.cb[0] = int16_t(j.start & 0xFF);
}

// The colour difference's twelve bits of the look-up index from the biased components.
__m512i chromaIndex(__m512i cr, __m512i cb) {
  const __m512i six = _mm512_set1_epi16(63);
  return _mm512_or_si512(_mm512_slli_epi16(_mm512_and_si512(cr, six), 6),
                         _mm512_and_si512(cb, six));
}

// Interpolation and the colours: ys[1 + x] holds pixel x's luminance, cs[x] its colour
// difference's index bits; writes every pixel of `written`.
void putRow(const RowJob& j, const RowMasks& m, int16_t* ys, const int16_t* cs) {
  ys[1 + 32 * m.chunks] = 0;
  const int* const table = reinterpret_cast<const int*>(j.colours);
  for (int c = 0; c < m.chunks; ++c) {
    const int x0 = 32 * c;
    const __mmask32 out = m.bits(m.written, c);
    const __m512i left = _mm512_loadu_si512(ys + x0);
    const __m512i right = _mm512_loadu_si512(ys + 2 + x0);
    const __m512i mean =
        _mm512_add_epi16(left, _mm512_srai_epi16(_mm512_sub_epi16(right, left), 1));
    const __m512i y =
        _mm512_mask_blend_epi16(m.bits(m.interpolated, c), _mm512_loadu_si512(ys + 1 + x0), mean);
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
    const __m512i a =
        _mm512_mask_i32gather_epi32(_mm512_setzero_si512(), __mmask16(out), index(0), table, 2);
    const __m512i b = _mm512_mask_i32gather_epi32(_mm512_setzero_si512(), __mmask16(out >> 16),
                                                  index(1), table, 2);
    const __m512i px = _mm512_inserti64x4(_mm512_castsi256_si512(_mm512_cvtepi32_epi16(a)),
                                          _mm512_cvtepi32_epi16(b), 1);
    _mm512_mask_storeu_epi16(j.row + x0, out, px);
  }
}

uint64_t groupStartColumns(int groupShift) {
  return groupShift == 1 ? 0x5555555555555555u : 0x1111111111111111u;
}

// What both kinds of row start from: the pixels by kind, the values at the restarts, and the
// pixels at the groups' first columns that read a step. In a sharing row those take their
// group's colour difference; in a carrying row they are full pixels, which read three steps
// (Y, Cr, Cb) and store theirs.
struct Row {
  RowMasks m;
  Restarts r;
  uint64_t atGroupStart[kWords] = {};
  int stepping = 0, full = 0;  // the pixels that read a step, and those at group starts
  Row(const Lanes& l, const RowJob& j) {
    classify(j, m);
    fillRestarts(l, j, m, r);
    const uint64_t groupStarts = groupStartColumns(j.groupShift);
    for (int k = 0; k < m.words; ++k) {
      atGroupStart[k] = m.stepping[k] & groupStarts;
      stepping += std::popcount(m.stepping[k]);
      full += std::popcount(atGroupStart[k]);
    }
  }
};

}  // namespace

int sharingRowAvx512(const RowJob& j, const uint8_t* symbols) {
  const Lanes l;
  const Row row(l, j);
  const RowMasks& m = row.m;
  const Restarts& r = row.r;
  // The pixels that set the colour difference later pixels keep: coded Entropy pixels, plain
  // pixels at group starts (their group's) and restarts (their own).
  uint64_t setsColour[kWords] = {};
  for (int k = 0; k < m.words; ++k) setsColour[k] = m.coded[k] | row.atGroupStart[k] | m.restart[k];
  const int steps = row.stepping;

  // The steps' running sums.
  alignas(64) int16_t sums[kMaxWidth + 64];
  const int used = stepSums(l, symbols, steps, sums);
  if (used < 0) return -1;

  // Luminances and colour differences, before interpolation.
  alignas(64) int16_t ys[kMaxWidth + 64];  // ys[1 + x]: pixel x
  alignas(64) int16_t cs[kMaxWidth + 32];
  __m512i sumBefore = _mm512_setzero_si512(), baseBefore = sumBefore, colourBefore = sumBefore;
  __mmask32 outside = 0;
  int at = 0;
  for (int c = 0; c < m.chunks; ++c) {
    const int x0 = 32 * c;
    const __mmask32 valid =
        j.width - x0 >= 32 ? ~__mmask32{0} : (__mmask32{1} << (j.width - x0)) - 1;
    const __mmask32 step = m.bits(m.stepping, c), re = m.bits(m.restart, c);
    const __m512i own = _mm512_maskz_expand_epi16(step, _mm512_loadu_si512(sums + at));
    at += std::popcount(uint32_t(step));
    const __m512i sum = carry(l, own, step, sumBefore);
    const __m512i restartAt = _mm512_maskz_loadu_epi16(re, r.y + x0);
    const __m512i base = carry(l, _mm512_sub_epi16(restartAt, sum), re, baseBefore);
    const __m512i y = _mm512_add_epi16(base, sum);
    outside |= _mm512_mask_cmplt_epi16_mask(step, y, _mm512_set1_epi16(64)) |
               _mm512_mask_cmpgt_epi16_mask(step, y, _mm512_set1_epi16(95));
    _mm512_storeu_si512(ys + 1 + x0, y);
    const __m512i group = _mm512_maskz_loadu_epi16(valid, j.c12 + x0);
    const __m512i restartColour = chromaIndex(_mm512_maskz_loadu_epi16(re, r.cr + x0),
                                              _mm512_maskz_loadu_epi16(re, r.cb + x0));
    const __m512i set = _mm512_mask_blend_epi16(re, group, restartColour);
    const __m512i colour = carry(l, set, m.bits(setsColour, c), colourBefore);
    // Entropy pixels take their group's colour difference whatever came before.
    _mm512_storeu_si512(cs + x0, _mm512_mask_blend_epi16(m.bits(m.entropy, c), colour, group));
    sumBefore = lastLane(sum);
    baseBefore = lastLane(base);
    colourBefore = lastLane(colour);
  }
  if (outside != 0) return -1;
  putRow(j, m, ys, cs);
  return used;
}

int carryingRowAvx512(const RowJob& j, const uint8_t* symbols) {
  const Lanes l;
  const Row row(l, j);
  const RowMasks& m = row.m;
  const Restarts& r = row.r;
  const uint64_t* const full = row.atGroupStart;
  const int steps = row.stepping + 2 * row.full;

  // The steps' running sums, then each step's own value (sums[0] stays 0).
  alignas(64) int16_t sums[3 * kMaxWidth + 64];
  alignas(64) int16_t own[3 * kMaxWidth + 160];
  sums[0] = 0;
  const int used = stepSums(l, symbols, steps, sums + 1);
  if (used < 0) return -1;
  for (int k = 0; k < steps; k += 32)
    _mm512_storeu_si512(
        own + k, _mm512_sub_epi16(_mm512_loadu_si512(sums + 1 + k), _mm512_loadu_si512(sums + k)));

  // Each pixel's steps from its first step's place among the chunk's: a prefix count of the
  // steps (one per pixel, three per full one). A chunk takes at most 96 steps, looked up in
  // two tables of 64.
  alignas(64) int16_t ys[kMaxWidth + 64];
  alignas(64) int16_t cs[kMaxWidth + 32];
  alignas(64) int16_t store[kMaxWidth + 32];  // the colour difference as the store holds it
  const __m512i one = _mm512_set1_epi16(1), two = _mm512_set1_epi16(2);
  __m512i cumBefore[3] = {_mm512_setzero_si512(), _mm512_setzero_si512(), _mm512_setzero_si512()};
  __m512i baseBefore[3] = {cumBefore[0], cumBefore[0], cumBefore[0]};
  const int16_t* const restartOf[3] = {r.y, r.cr, r.cb};
  __mmask32 outside = 0;
  int at = 0;
  for (int c = 0; c < m.chunks; ++c) {
    const int x0 = 32 * c;
    const __mmask32 step = m.bits(m.stepping, c), fullHere = m.bits(full, c);
    const __mmask32 re = m.bits(m.restart, c);
    const __m512i count =
        _mm512_add_epi16(_mm512_maskz_mov_epi16(step, one), _mm512_maskz_mov_epi16(fullHere, two));
    const __m512i first = _mm512_sub_epi16(prefixSum(l, count), count);
    const __m512i t0 = _mm512_loadu_si512(own + at), t1 = _mm512_loadu_si512(own + at + 32);
    const __m512i t2 = _mm512_loadu_si512(own + at + 64), t3 = _mm512_loadu_si512(own + at + 96);
    at += std::popcount(uint32_t(step)) + 2 * std::popcount(uint32_t(fullHere));
    // The restarts' place, once for the three components.
    const __m512i last = lastFlagged(l, re);
    __m512i value[3];
    for (int k = 0; k < 3; ++k) {
      const __m512i place = _mm512_add_epi16(first, _mm512_set1_epi16(int16_t(k)));
      const __m512i low = _mm512_permutex2var_epi16(t0, place, t1);
      const __m512i high = _mm512_permutex2var_epi16(t2, place, t3);
      const __mmask32 upper = _mm512_test_epi16_mask(place, _mm512_set1_epi16(64));
      const __m512i d = _mm512_maskz_mov_epi16(k == 0 ? step : fullHere,
                                               _mm512_mask_blend_epi16(upper, low, high));
      const __m512i cum = _mm512_add_epi16(prefixSum(l, d), cumBefore[k]);
      const __m512i restartAt = _mm512_maskz_loadu_epi16(re, restartOf[k] + x0);
      const __m512i base =
          _mm512_permutex2var_epi16(baseBefore[k], last, _mm512_sub_epi16(restartAt, cum));
      value[k] = _mm512_add_epi16(base, cum);
      cumBefore[k] = lastLane(cum);
      baseBefore[k] = lastLane(base);
    }
    const __m512i low = _mm512_set1_epi16(64);
    outside |= _mm512_mask_cmplt_epi16_mask(step, value[0], low) |
               _mm512_mask_cmpgt_epi16_mask(step, value[0], _mm512_set1_epi16(95)) |
               _mm512_mask_cmplt_epi16_mask(step, value[1], low) |
               _mm512_mask_cmpgt_epi16_mask(step, value[1], _mm512_set1_epi16(127)) |
               _mm512_mask_cmplt_epi16_mask(step, value[2], low) |
               _mm512_mask_cmpgt_epi16_mask(step, value[2], _mm512_set1_epi16(127));
    _mm512_storeu_si512(ys + 1 + x0, value[0]);
    _mm512_storeu_si512(cs + x0, chromaIndex(value[1], value[2]));
    _mm512_storeu_si512(store + x0, _mm512_or_si512(_mm512_slli_epi16(value[1], 8), value[2]));
  }
  if (outside != 0) return -1;
  putRow(j, m, ys, cs);

  // The chroma store: every full pixel's colour difference, at its group (the groups' first
  // lanes of each chunk picked out and widened to the store's 32 bits).
  const int shift = j.groupShift;
  const uint32_t firstLanes = shift == 1 ? 0x55555555u : 0x11111111u;
  const __m512i pickFirst = _mm512_slli_epi16(l.iota, shift);
  for (int c = 0; c < m.chunks; ++c) {
    const __mmask16 groups = __mmask16(_pext_u32(m.bits(full, c), firstLanes));
    const __m512i picked = _mm512_permutexvar_epi16(pickFirst, _mm512_loadu_si512(store + 32 * c));
    _mm512_mask_storeu_epi32(j.chroma + (32 * c >> shift), groups,
                             _mm512_cvtepu16_epi32(_mm512_castsi512_si256(picked)));
  }
  // And the covered pixels' at the group starts of each covered block, unless every row that
  // shares the colour difference has an equally long covered block (not an Entropy run) at the
  // same column. A block at column 0 counts only where it covers more than column 0.
  for (int k = 0; k < m.words; ++k)
    for (uint64_t s = m.startAll[k] & ~m.startE[k]; s != 0; s &= s - 1) {
      const int x = 64 * k + std::countr_zero(s), n = j.bm[x];
      if (x == 0 && n == 1) continue;
      bool needed = false;
      for (int i = 0; i < j.partners && !needed; ++i)
        needed = j.partnerBm[i][x] < n || j.partnerEm[i][x] != 0;
      if (!needed) continue;
      const int g = 1 << shift;
      for (int gs = (x + g - 1) & ~(g - 1); gs < x + n; gs += g) {
        const uint32_t yc = j.rgbToYc[j.row[gs]];
        j.chroma[gs >> shift] = ((yc >> 6 & 63) + 64) << 8 | ((yc & 63) + 64);
      }
    }
  return used;
}

}  // namespace zov

#endif

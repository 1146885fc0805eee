#include "encoder/residual_kernels.h"

#include <algorithm>

#include "format/cpu_features.h"

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#define ZOV_X86 1
#endif

namespace zov {

namespace {

// A carrying row's symbols of a pixel of step `step` (within 6): at a group start the pixel in
// full, the Y step then both colour-difference steps, and the group's colour difference stored;
// false (nothing written) when a colour-difference step is beyond 6.
inline bool carryingSymbols(uint32_t target, int step, bool groupStart, uint32_t& colour,
                            uint8_t*& out, uint32_t* store) {
  if (!groupStart) {
    *out++ = uint8_t(step + 7);
    return true;
  }
  const int cr = int(target >> 6 & 63), cb = int(target & 63);
  const int crStep = cr - int(colour >> 6 & 63), cbStep = cb - int(colour & 63);
  if (crStep < -6 || crStep > 6 || cbStep < -6 || cbStep > 6) return false;
  out[0] = uint8_t(step + 7);
  out[1] = uint8_t(crStep + 7);
  out[2] = uint8_t(cbStep + 7);
  out += 3;
  colour = uint32_t(cr) << 6 | uint32_t(cb);
  *store = colour;
  return true;
}

}  // namespace

int lumaStepsScalar(const LumaStretch& job) {
  const LumaStretch s = job;  // a copy the stores cannot reach, kept in registers
  const int groupMask = (1 << s.shift) - 1;
  int y = int(s.y);
  uint32_t colour = s.colour;
  for (int i = 0; i < s.count; ++i) {
    const int column = s.column + i;
    if ((column & groupMask) == 0) colour = s.chroma[column >> s.shift];
    const int wanted = int(s.target[i] >> 12);
    const int step = wanted - y;
    if (step < -6 || step > 6) return i;
    s.out[i] = uint8_t(step + 7);
    y = wanted;
    const uint32_t v = uint32_t(wanted) << 12 | colour;
    s.target[i] = v;
    s.rgb[i] = s.toRgb[v];
  }
  return s.count;
}

int carryingStepsScalar(const LumaStretch& job) {
  const LumaStretch s = job;  // a copy the stores cannot reach, kept in registers
  const int groupMask = (1 << s.shift) - 1;
  int y = int(s.y);
  uint32_t colour = s.colour;
  uint8_t* out = s.out;
  for (int i = 0; i < s.count; ++i) {
    const int column = s.column + i;
    const uint32_t t = s.target[i];
    const int wanted = int(t >> 12);
    const int step = wanted - y;
    if (step < -6 || step > 6) return i;
    if (!carryingSymbols(t, step, (column & groupMask) == 0, colour, out,
                         &s.chroma[column >> s.shift]))
      return i;
    y = wanted;
    const uint32_t v = uint32_t(wanted) << 12 | colour;
    s.target[i] = v;
    s.rgb[i] = s.toRgb[v];
  }
  return s.count;
}

int entropyPairsScalar(const LumaStretch& job) {
  const LumaStretch s = job;  // a copy the stores cannot reach, kept in registers
  int y = int(s.y);
  for (int k = 0; k < s.count; ++k) {
    const int at = 2 * k + 1, column = s.column + at;
    const int wanted = int(s.target[at] >> 12);
    const int step = wanted - y;
    if (step < -6 || step > 6) return k;
    s.out[k] = uint8_t(step + 7);
    const uint32_t coded = uint32_t(wanted) << 12 | s.chroma[column >> s.shift];
    s.target[at] = coded;
    s.rgb[at] = s.toRgb[coded];
    const uint32_t between = uint32_t(y + (step >> 1)) << 12 | s.chroma[(column - 1) >> s.shift];
    s.target[at - 1] = between;
    s.rgb[at - 1] = s.toRgb[between];
    y = wanted;
  }
  return s.count;
}

int carryingPairsScalar(const LumaStretch& job) {
  const LumaStretch s = job;  // a copy the stores cannot reach, kept in registers
  const int groupMask = (1 << s.shift) - 1;
  int y = int(s.y);
  uint32_t colour = s.colour;
  uint8_t* out = s.out;
  for (int k = 0; k < s.count; ++k) {
    const int at = 2 * k + 1, column = s.column + at;
    const uint32_t t = s.target[at];
    const int wanted = int(t >> 12);
    const int step = wanted - y;
    if (step < -6 || step > 6) return k;
    const uint32_t left = colour;
    if (!carryingSymbols(t, step, (column & groupMask) == 0, colour, out,
                         &s.chroma[column >> s.shift]))
      return k;
    const uint32_t coded = uint32_t(wanted) << 12 | colour;
    s.target[at] = coded;
    s.rgb[at] = s.toRgb[coded];
    const uint32_t between = uint32_t(y + (step >> 1)) << 12 | left;
    s.target[at - 1] = between;
    s.rgb[at - 1] = s.toRgb[between];
    y = wanted;
  }
  return s.count;
}

void countSymbolsScalar(const uint8_t* s, uint32_t n, uint32_t* counts) {
  uint32_t part[4][16] = {};
  uint32_t i = 0;
  for (; i + 4 <= n; i += 4) {
    ++part[0][s[i] & 15];
    ++part[1][s[i + 1] & 15];
    ++part[2][s[i + 2] & 15];
    ++part[3][s[i + 3] & 15];
  }
  for (; i < n; ++i) ++part[0][s[i] & 15];
  for (int k = 0; k < 16; ++k) counts[k] += part[0][k] + part[1][k] + part[2][k] + part[3][k];
}

namespace {

#ifdef ZOV_X86

// Below these lengths (pixels, pairs) the references are faster: the vector versions pay for
// their set-up and for the look-up of the colours (a gather), which on processors with slow
// gathers wins only over longer stretches; the carrying rows' version also works out its
// lanes' layout first. (A vector version of the carrying rows' pairs was slower than the
// reference at every length on such a processor and is not kept.)
constexpr int kStepsFrom = 16, kPairsFrom = 8, kCarryingStepsFrom = 32;

// The colours of eight 17-bit values, looked up together (each gather lane reads the entry
// and the one after it) and stored as eight 16-bit colours.
__attribute__((target("avx2"))) inline void colours8(const uint16_t* toRgb, __m256i values,
                                                     uint16_t* rgb) {
  __m256i c = _mm256_i32gather_epi32(reinterpret_cast<const int*>(toRgb), values, 2);
  c = _mm256_and_si256(c, _mm256_set1_epi32(0xFFFF));
  c = _mm256_permute4x64_epi64(_mm256_packus_epi32(c, c), 0x08);
  _mm_storeu_si128(reinterpret_cast<__m128i*>(rgb), _mm256_castsi256_si128(c));
}

// The first `count` of eight lanes: targets stored under a mask, colours blended with the old.
__attribute__((target("avx2"), always_inline)) inline void storeFirstLanes(uint32_t* target,
                                                                           uint16_t* rgb,
                                                                           const uint16_t* toRgb,
                                                                           __m256i v, int count) {
  const __m256i lanes = _mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7);
  const __m256i keep = _mm256_cmpgt_epi32(_mm256_set1_epi32(count), lanes);
  _mm256_maskstore_epi32(reinterpret_cast<int*>(target), keep, v);
  const __m128i old = _mm_loadu_si128(reinterpret_cast<const __m128i*>(rgb));
  alignas(16) uint16_t fresh[8];
  colours8(toRgb, v, fresh);
  const __m128i keepWords =
      _mm256_castsi256_si128(_mm256_permute4x64_epi64(_mm256_packs_epi32(keep, keep), 0x08));
  _mm_storeu_si128(
      reinterpret_cast<__m128i*>(rgb),
      _mm_blendv_epi8(old, _mm_load_si128(reinterpret_cast<const __m128i*>(fresh)), keepWords));
}

// The colour-difference entries of eight consecutive columns from `column`: each lane's entry
// relative to the first lane's, and the entries they cover (read with a mask, so nothing past
// the last one is touched). The same in every step of eight columns, and they depend only on
// the column's place in its group (groups of 2 or 4 columns): taken from a table.
struct EntryLanes {
  __m256i index, covered;
};
struct EntryLaneTable {
  int32_t index[2][4][8];
  int32_t covered[2][4][8];
};
constexpr EntryLaneTable entryLaneTable() {
  EntryLaneTable t{};
  for (int shift = 1; shift <= 2; ++shift)
    for (int phase = 0; phase < (1 << shift); ++phase)
      for (int j = 0; j < 8; ++j) {
        t.index[shift - 1][phase][j] = ((phase + j) >> shift);
        t.covered[shift - 1][phase][j] = j <= ((phase + 7) >> shift) ? -1 : 0;
      }
  return t;
}
alignas(32) constexpr EntryLaneTable kEntryLanes = entryLaneTable();
__attribute__((target("avx2"))) inline EntryLanes entryLanes(int column, int shift) {
  const int phase = column & ((1 << shift) - 1);
  return {
      _mm256_loadu_si256(reinterpret_cast<const __m256i*>(kEntryLanes.index[shift - 1][phase])),
      _mm256_loadu_si256(reinterpret_cast<const __m256i*>(kEntryLanes.covered[shift - 1][phase]))};
}
__attribute__((target("avx2"))) inline __m256i entriesOf(const uint32_t* chroma, int column,
                                                         int shift, const EntryLanes& e) {
  const __m256i entries =
      _mm256_maskload_epi32(reinterpret_cast<const int*>(chroma + (column >> shift)), e.covered);
  return _mm256_permutevar8x32_epi32(entries, e.index);
}

// The low bytes of the eight 32-bit lanes stored as eight bytes.
__attribute__((target("avx2"))) inline void storeLowBytes8(uint8_t* out, __m256i lanes) {
  const __m256i low = _mm256_shuffle_epi8(
      lanes, _mm256_setr_epi8(0, 4, 8, 12, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, 0, 4, 8,
                              12, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1));
  const __m256i both = _mm256_permutevar8x32_epi32(low, _mm256_setr_epi32(0, 4, 1, 1, 1, 1, 1, 1));
  _mm_storel_epi64(reinterpret_cast<__m128i*>(out), _mm256_castsi256_si128(both));
}

// Codes the eight pixels of a stretch from i: false (nothing but the pixels before the first
// step larger than 6 written, their count in `done`) when a step is larger than 6.
__attribute__((target("avx2"), always_inline)) inline bool lumaSteps8(uint32_t* target,
                                                                      uint16_t* rgb, uint8_t* out,
                                                                      const uint16_t* toRgb,
                                                                      __m256i stored, __m256i& last,
                                                                      int& done) {
  const __m256i toLeft = _mm256_setr_epi32(7, 0, 1, 2, 3, 4, 5, 6);
  const __m256i six = _mm256_set1_epi32(6), seven = _mm256_set1_epi32(7);
  const __m256i y =
      _mm256_srli_epi32(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(target)), 12);
  const __m256i left = _mm256_blend_epi32(_mm256_permutevar8x32_epi32(y, toLeft), last, 1);
  const __m256i step = _mm256_sub_epi32(y, left);
  const __m256i large = _mm256_cmpgt_epi32(_mm256_abs_epi32(step), six);
  const __m256i v = _mm256_or_si256(_mm256_slli_epi32(y, 12), stored);
  storeLowBytes8(out, _mm256_add_epi32(step, seven));
  last = _mm256_permutevar8x32_epi32(y, _mm256_set1_epi32(7));
  if (_mm256_testz_si256(large, large)) {
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(target), v);
    colours8(toRgb, v, rgb);
    return true;
  }
  done = __builtin_ctz(unsigned(_mm256_movemask_ps(_mm256_castsi256_ps(large))));
  if (done == 0) return false;
  // The lanes before the larger step.
  storeFirstLanes(target, rgb, toRgb, v, done);
  return false;
}

// Eight pixels a step: the lumas, their left neighbours (the last Y before them in lane 0) and
// the steps in vectors. The last eight pixels are taken as a step of their own, overlapping the
// one before (a coded pixel keeps its luma, so coding it again changes nothing). In a step
// with a step larger than 6, the pixels before it are written under a mask.
__attribute__((target("avx2"))) int lumaStepsAvx2(const LumaStretch& s) {
  const int n = s.count;
  if (n < kStepsFrom) return lumaStepsScalar(s);
  const __m256i lanes = _mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7);
  // Lanes whose group starts before the stretch take `colour` (only in the first step).
  const __m256i groupStart = _mm256_set1_epi32(~((1 << s.shift) - 1));
  const __m256i own = _mm256_cmpgt_epi32(
      _mm256_and_si256(_mm256_add_epi32(_mm256_set1_epi32(s.column), lanes), groupStart),
      _mm256_set1_epi32(s.column - 1));
  const __m256i first = _mm256_blendv_epi8(
      _mm256_set1_epi32(int(s.colour)),
      entriesOf(s.chroma, s.column, s.shift, entryLanes(s.column, s.shift)), own);
  EntryLanes entries = entryLanes(s.column, s.shift);
  __m256i last = _mm256_set1_epi32(int(s.y));
  // The fields in locals (the byte stores of the symbols could otherwise reach them), read one
  // by one (a copy of the whole would read them wider than the caller wrote them).
  uint32_t* const target = s.target;
  uint16_t* const rgb = s.rgb;
  uint8_t* const out = s.out;
  const uint16_t* const toRgb = s.toRgb;
  const uint32_t* const chroma = s.chroma;
  const int column = s.column, shift = s.shift;
  int done = 0;
  if (!lumaSteps8(target, rgb, out, toRgb, first, last, done)) return done;
  int i = 8;
  for (; i + 8 <= n; i += 8)
    if (!lumaSteps8(target + i, rgb + i, out + i, toRgb,
                    entriesOf(chroma, column + i, shift, entries), last, done))
      return i + done;
  if (i == n) return n;
  // The last eight pixels, from n - 8 (at least 8: no lane takes `colour`).
  const int from = n - 8;
  entries = entryLanes(column + from, shift);
  last = _mm256_set1_epi32(int(target[from - 1] >> 12));
  if (!lumaSteps8(target + from, rgb + from, out + from, toRgb,
                  entriesOf(chroma, column + from, shift, entries), last, done))
    return from + done;
  return n;
}

// The lanes of a carrying row's step of eight pixels, by the first column's place in its group
// (groups of 2 or 4 columns): the same in every step.
struct CarryingLanes {
  alignas(32) int32_t fromLane[8];  // the lane of its group start; negative: an earlier step's
  alignas(32) int32_t isStart[8];
  alignas(32) int32_t startLanes[8];
  // Symbol sources: bytes 0..7 the Y steps, 8..15 the Cr steps; the Cb steps apart.
  alignas(16) int8_t firstBytes[16];
  alignas(16) int8_t moreBytes[16];
  int starts, symbols;
};
struct CarryingLaneTable {
  CarryingLanes at[2][4];
};
constexpr CarryingLaneTable carryingLaneTable() {
  CarryingLaneTable t{};
  for (int shift = 1; shift <= 2; ++shift)
    for (int column = 0; column < (1 << shift); ++column) {
      CarryingLanes& l = t.at[shift - 1][column];
      const int groupMask = (1 << shift) - 1;
      int starts = 0, symbols = 0;
      for (int j = 0; j < 8; ++j) {
        const int phase = (column + j) & groupMask;
        l.fromLane[j] = j - phase;
        l.isStart[j] = phase == 0 ? -1 : 0;
        l.moreBytes[symbols] = -128;
        l.firstBytes[symbols++] = int8_t(j);
        if (phase == 0) {
          l.startLanes[starts++] = j;
          l.moreBytes[symbols] = -128;
          l.firstBytes[symbols++] = int8_t(8 + j);
          l.firstBytes[symbols] = -128;
          l.moreBytes[symbols++] = int8_t(j);
        }
      }
      for (int k = symbols; k < 16; ++k) l.firstBytes[k] = l.moreBytes[k] = -128;
      l.starts = starts;
      l.symbols = symbols;
    }
  return t;
}
constexpr CarryingLaneTable kCarryingLanes = carryingLaneTable();

// Eight pixels a step, as lumaStepsAvx2; the group starts fall on the same lanes in every
// step, so where each lane's colour difference comes from, where the stored entries are and
// the order of the symbols (Y, and at group starts both colour differences) are worked out once.
__attribute__((target("avx2,ssse3"))) int carryingStepsAvx2(const LumaStretch& s) {
  const int n = s.count;
  if (n < kCarryingStepsFrom) return carryingStepsScalar(s);
  const CarryingLanes& lanes = kCarryingLanes.at[s.shift - 1][s.column & ((1 << s.shift) - 1)];
  const int starts = lanes.starts, symbols = lanes.symbols;
  const int32_t* const startLanes = lanes.startLanes;
  const __m256i from = _mm256_load_si256(reinterpret_cast<const __m256i*>(lanes.fromLane));
  const __m256i earlier = _mm256_cmpgt_epi32(_mm256_setzero_si256(), from);
  const __m256i start = _mm256_load_si256(reinterpret_cast<const __m256i*>(lanes.isStart));
  const __m256i gather = _mm256_load_si256(reinterpret_cast<const __m256i*>(startLanes));
  const __m128i first = _mm_load_si128(reinterpret_cast<const __m128i*>(lanes.firstBytes));
  const __m128i more = _mm_load_si128(reinterpret_cast<const __m128i*>(lanes.moreBytes));
  const __m256i toLeft = _mm256_setr_epi32(7, 0, 1, 2, 3, 4, 5, 6);
  const __m256i six = _mm256_set1_epi32(6), seven = _mm256_set1_epi32(7);
  const __m256i low12 = _mm256_set1_epi32(0xFFF), low6 = _mm256_set1_epi32(63);
  __m256i lastY = _mm256_set1_epi32(int(s.y));
  __m256i lastColour = _mm256_set1_epi32(int(s.colour));
  uint8_t* out = s.out;
  // The fields in locals: the byte stores of the symbols could otherwise reach them.
  uint32_t* const target = s.target;
  uint16_t* const rgb = s.rgb;
  const uint16_t* const toRgb = s.toRgb;
  uint32_t* const chroma = s.chroma;
  const int column = s.column, shift = s.shift;
  const __m256i byLane = _mm256_setr_epi32(0, 4, 1, 5, 2, 6, 3, 7);
  int i = 0;
  for (; i + 8 <= n; i += 8) {
    const __m256i t = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(target + i));
    const __m256i y = _mm256_srli_epi32(t, 12);
    const __m256i colour = _mm256_and_si256(t, low12);
    const __m256i step =
        _mm256_sub_epi32(y, _mm256_blend_epi32(_mm256_permutevar8x32_epi32(y, toLeft), lastY, 1));
    // Each lane's colour difference, and the one before it.
    const __m256i own =
        _mm256_blendv_epi8(_mm256_permutevar8x32_epi32(colour, from), lastColour, earlier);
    const __m256i before =
        _mm256_blend_epi32(_mm256_permutevar8x32_epi32(own, toLeft), lastColour, 1);
    const __m256i crStep = _mm256_and_si256(
        start, _mm256_sub_epi32(_mm256_srli_epi32(colour, 6), _mm256_srli_epi32(before, 6)));
    const __m256i cbStep = _mm256_and_si256(
        start, _mm256_sub_epi32(_mm256_and_si256(colour, low6), _mm256_and_si256(before, low6)));
    const __m256i large =
        _mm256_or_si256(_mm256_cmpgt_epi32(_mm256_abs_epi32(step), six),
                        _mm256_or_si256(_mm256_cmpgt_epi32(_mm256_abs_epi32(crStep), six),
                                        _mm256_cmpgt_epi32(_mm256_abs_epi32(cbStep), six)));
    if (!_mm256_testz_si256(large, large)) break;
    const __m256i v = _mm256_or_si256(_mm256_slli_epi32(y, 12), own);
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(target + i), v);
    colours8(toRgb, v, rgb + i);
    const __m128i stored = _mm256_castsi256_si128(_mm256_permutevar8x32_epi32(colour, gather));
    uint32_t* entry = chroma + ((column + i + startLanes[0]) >> shift);
    if (starts == 2)
      _mm_storel_epi64(reinterpret_cast<__m128i*>(entry), stored);
    else
      _mm_storeu_si128(reinterpret_cast<__m128i*>(entry), stored);
    // The three steps of every lane as bytes in one pack: Y steps then Cr steps in the low
    // half, the Cb steps in the high half's first eight bytes.
    const __m256i packed = _mm256_permutevar8x32_epi32(
        _mm256_packus_epi16(
            _mm256_packs_epi32(_mm256_add_epi32(step, seven), _mm256_add_epi32(crStep, seven)),
            _mm256_packs_epi32(_mm256_add_epi32(cbStep, seven), _mm256_add_epi32(cbStep, seven))),
        byLane);
    const __m128i yCr = _mm256_castsi256_si128(packed);
    const __m128i cb = _mm256_extracti128_si256(packed, 1);
    const __m128i bytes = _mm_or_si128(_mm_shuffle_epi8(yCr, first), _mm_shuffle_epi8(cb, more));
    if (symbols == 16) {
      _mm_storeu_si128(reinterpret_cast<__m128i*>(out), bytes);
    } else {
      const uint32_t last = uint32_t(_mm_extract_epi32(bytes, 2));
      _mm_storel_epi64(reinterpret_cast<__m128i*>(out), bytes);
      __builtin_memcpy(out + 8, &last, 4);
    }
    out += symbols;
    lastY = _mm256_permutevar8x32_epi32(y, _mm256_set1_epi32(7));
    lastColour = _mm256_permutevar8x32_epi32(own, _mm256_set1_epi32(7));
  }
  if (i == n) return n;
  if (i == 0) return carryingStepsScalar(s);
  LumaStretch rest = s;
  rest.target += i, rest.rgb += i, rest.column += i, rest.count -= i;
  rest.out = out;
  rest.y = target[i - 1] >> 12;
  rest.colour = target[i - 1] & 0xFFF;
  return i + carryingStepsScalar(rest);
}

// Codes the four pairs of an Entropy run from pixel 0 of `target`: false (nothing but the pairs
// before the first step larger than 6 written, their count in `done`) when a step is larger
// than 6. Lane 2k interpolated, lane 2k+1 coded; each lane pair holds the coded Y before the
// pair and the one it codes, so the interpolated lane takes half the step and the coded lane
// all of it.
__attribute__((target("avx2"), always_inline)) inline bool entropyPairs4(
    uint32_t* target, uint16_t* rgb, uint8_t* out, const uint16_t* toRgb, __m256i stored,
    __m256i& last, int& done) {
  const __m256i before = _mm256_setr_epi32(7, 7, 1, 1, 3, 3, 5, 5);
  const __m256i after = _mm256_setr_epi32(1, 1, 3, 3, 5, 5, 7, 7);
  const __m256i six = _mm256_set1_epi32(6), seven = _mm256_set1_epi32(7);
  const __m256i y =
      _mm256_srli_epi32(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(target)), 12);
  const __m256i from = _mm256_blend_epi32(_mm256_permutevar8x32_epi32(y, before), last, 3);
  const __m256i step = _mm256_sub_epi32(_mm256_permutevar8x32_epi32(y, after), from);
  const __m256i large = _mm256_cmpgt_epi32(_mm256_abs_epi32(step), six);
  const __m256i rebuilt =
      _mm256_add_epi32(from, _mm256_blend_epi32(_mm256_srai_epi32(step, 1), step, 0xAA));
  const __m256i v = _mm256_or_si256(_mm256_slli_epi32(rebuilt, 12), stored);
  // The coded lanes' steps as four bytes.
  const __m256i low = _mm256_shuffle_epi8(
      _mm256_add_epi32(step, seven),
      _mm256_setr_epi8(4, 12, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, 4, 12, -1, -1,
                       -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1));
  const __m256i both = _mm256_unpacklo_epi16(low, _mm256_permute4x64_epi64(low, 0x02));
  const uint32_t symbols = uint32_t(_mm256_cvtsi256_si32(both));
  __builtin_memcpy(out, &symbols, 4);
  last = _mm256_permutevar8x32_epi32(y, _mm256_set1_epi32(7));
  if (_mm256_testz_si256(large, large)) {
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(target), v);
    colours8(toRgb, v, rgb);
    return true;
  }
  done = __builtin_ctz(unsigned(_mm256_movemask_ps(_mm256_castsi256_ps(large)))) / 2;
  if (done == 0) return false;
  // The pairs before the larger step.
  storeFirstLanes(target, rgb, toRgb, v, 2 * done);
  return false;
}

// Four pairs (eight pixels) a step. The last four pairs are taken as a step of their own,
// overlapping the one before (a coded pixel keeps its luma and an interpolated one's target is
// not read, so coding a pair again changes nothing). In a step with a step larger than 6, the
// pairs before it are written under a mask.
__attribute__((target("avx2"))) int entropyPairsAvx2(const LumaStretch& s) {
  const int n = s.count;
  if (n < kPairsFrom) return entropyPairsScalar(s);
  // The fields in locals: the byte stores of the symbols could otherwise reach them.
  uint32_t* const target = s.target;
  uint16_t* const rgb = s.rgb;
  uint8_t* const out = s.out;
  const uint16_t* const toRgb = s.toRgb;
  const uint32_t* const chroma = s.chroma;
  const int column = s.column, shift = s.shift;
  EntryLanes entries = entryLanes(column, shift);
  __m256i last = _mm256_set1_epi32(int(s.y));
  int done = 0, k = 0;
  for (; k + 4 <= n; k += 4)
    if (!entropyPairs4(target + 2 * k, rgb + 2 * k, out + k, toRgb,
                       entriesOf(chroma, column + 2 * k, shift, entries), last, done))
      return k + done;
  if (k == n) return n;
  // The last four pairs, from n - 4.
  const int from = n - 4;
  entries = entryLanes(column + 2 * from, shift);
  last = _mm256_set1_epi32(int(target[2 * from - 1] >> 12));
  if (!entropyPairs4(target + 2 * from, rgb + 2 * from, out + from, toRgb,
                     entriesOf(chroma, column + 2 * from, shift, entries), last, done))
    return from + done;
  return n;
}

// The bytes of eight lanes of counters (one per value from `first`), 32 symbols a step: each
// value's equal bytes (0xFF) subtracted from its counter, at most 255 steps before the bytes
// are summed into the counts.
template <int kFirst>
__attribute__((target("avx2"))) inline void countEight(const uint8_t* s, uint32_t steps,
                                                       uint32_t* counts) {
  const __m256i low = _mm256_set1_epi8(15);
  __m256i c[8];
  for (int v = 0; v < 8; ++v) c[v] = _mm256_setzero_si256();
  for (uint32_t k = 0; k < steps; ++k) {
    const __m256i b =
        _mm256_and_si256(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(s) + k), low);
    for (int v = 0; v < 8; ++v)
      c[v] = _mm256_sub_epi8(c[v], _mm256_cmpeq_epi8(b, _mm256_set1_epi8(char(kFirst + v))));
  }
  for (int v = 0; v < 8; ++v) {
    const __m256i sums = _mm256_sad_epu8(c[v], _mm256_setzero_si256());
    const __m128i half =
        _mm_add_epi64(_mm256_castsi256_si128(sums), _mm256_extracti128_si256(sums, 1));
    counts[kFirst + v] += uint32_t(_mm_cvtsi128_si64(half) + _mm_extract_epi64(half, 1));
  }
}

__attribute__((target("avx2"))) void countSymbolsAvx2(const uint8_t* s, uint32_t n,
                                                      uint32_t* counts) {
  uint32_t i = 0;
  while (n - i >= 32) {
    const uint32_t steps = std::min<uint32_t>((n - i) / 32, 255);
    countEight<0>(s + i, steps, counts);
    countEight<8>(s + i, steps, counts);
    i += 32 * steps;
  }
  countSymbolsScalar(s + i, n - i, counts);
}

#endif

}  // namespace

ResidualKernels residualKernelsFor(unsigned flags) {
  ResidualKernels k{lumaStepsScalar, carryingStepsScalar, entropyPairsScalar, carryingPairsScalar,
                    countSymbolsScalar};
#ifdef ZOV_X86
  if (flags & kCpuAvx2)
    k = {lumaStepsAvx2, carryingStepsAvx2, entropyPairsAvx2, carryingPairsScalar, countSymbolsAvx2};
#else
  (void)flags;
#endif
  return k;
}

const ResidualKernels& residualKernels() {
  static const ResidualKernels k = residualKernelsFor(cpuFlags());
  return k;
}

}  // namespace zov

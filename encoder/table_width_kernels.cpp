#include "encoder/table_width_kernels.h"

#include <algorithm>
#include <bit>
#include <cstring>

#include "format/cpu_features.h"

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#define ZOV_X86 1
#endif

namespace zov {
namespace {

// The next `width` bits of the stream from bit position pos.
inline uint32_t bitsAt(const uint32_t* stream, uint64_t pos, int width) {
  const uint64_t w = pos >> 5;
  const uint64_t both = uint64_t(stream[w]) << 32 | stream[w + 1];
  return static_cast<uint32_t>((both << (pos & 31)) >> (64 - width));
}

// Bits pos .. pos + width - 1 of the code ends, bit pos lowest.
inline uint64_t endsAt(const uint32_t* ends, uint64_t pos, int width) {
  const uint64_t w = pos >> 5;
  const uint64_t both = uint64_t(ends[w]) | uint64_t(ends[w + 1]) << 32;
  return (both >> (pos & 31)) & ((uint64_t{1} << width) - 1);
}

// The bits a look-up takes, given the ends of the codes in its window (bit k: a code ends at
// bit k of the window): up to the end of the sixth code, or of the last one that fits. The
// first code always fits, so the window is never empty.
inline int bitsTaken(uint64_t window) {
  uint64_t sixth = window;
  for (int k = 0; k < 5; ++k) sixth &= sixth - 1;  // drops the lowest five ends
  return sixth ? std::countr_zero(sixth) + 1 : std::bit_width(window);
}

// The look-ups one window at bit pos costs: two where it straddles a word.
inline uint64_t lookupsAt(uint64_t pos, int width) {
  return ((pos & 31) + uint64_t(width) + 31) >> 5;
}

// The flags set among `count`.
inline uint64_t flagsSet(const uint8_t* seen, size_t count) {
  uint64_t n = 0;
  for (size_t i = 0; i < count; ++i) n += seen[i];
  return n;
}

}  // namespace

uint64_t widthCostScalar(const WidthCostJob& job, int width) {
  std::memset(job.seen, 0, size_t(1) << width);
  uint64_t lookups = 0;
  for (uint64_t pos = job.first; pos < job.end;) {
    job.seen[bitsAt(job.stream, pos, width)] = 1;
    lookups += lookupsAt(pos, width);
    pos += uint64_t(bitsTaken(endsAt(job.ends, pos, width)));
  }
  return lookups + flagsSet(job.seen, size_t(1) << width);
}

void fillCodeLengths(const uint8_t lengths[16], const uint32_t codes[16], int longest,
                     uint8_t* lengthOf) {
  for (int s = 0; s < 16; ++s)
    if (lengths[s])
      std::memset(lengthOf + (size_t(codes[s]) << (longest - lengths[s])), lengths[s],
                  size_t(1) << (longest - lengths[s]));
}

void widthCostsScalar(const WidthCostJob& job, int width, int count, uint64_t* costs) {
  for (int k = 0; k < count; ++k) costs[k] = widthCostScalar(job, width + k);
}

namespace {

#ifdef ZOV_X86

// Up to three widths side by side in plain C++ (for processors without BMI2): the walk is a
// chain of dependent loads, so independent walks fill each other's gaps.
void widthCostsInterleaved(const WidthCostJob& job, int width, int count, uint64_t* costs) {
  while (count > 0) {
    int n = std::min(count, kMaxWidthsAtOnce);
    while (n > 1 && (((size_t(1) << n) - 1) << width) > kWidthCostSeen) --n;
    std::memset(job.seen, 0, ((size_t(1) << n) - 1) << width);
    uint64_t pos[kMaxWidthsAtOnce], lookups[kMaxWidthsAtOnce];
    uint8_t* seen[kMaxWidthsAtOnce];
    for (int k = 0; k < n; ++k)
      pos[k] = job.first, lookups[k] = 0, seen[k] = job.seen + (((size_t(1) << k) - 1) << width);
    auto step = [&](int k) {
      const int w = width + k;
      seen[k][bitsAt(job.stream, pos[k], w)] = 1;
      lookups[k] += lookupsAt(pos[k], w);
      pos[k] += uint64_t(bitsTaken(endsAt(job.ends, pos[k], w)));
    };
    if (n == 3)
      while (pos[0] < job.end && pos[1] < job.end && pos[2] < job.end) step(0), step(1), step(2);
    else if (n == 2)
      while (pos[0] < job.end && pos[1] < job.end) step(0), step(1);
    for (int k = 0; k < n; ++k) {
      while (pos[k] < job.end) step(k);
      costs[k] = lookups[k] + flagsSet(seen[k], size_t(1) << (width + k));
    }
    width += n, costs += n, count -= n;
  }
}

#ifdef __x86_64__

// The bits-taken tables: width w's at taken + 2^w (entry: the bits a look-up of the window's
// w bits takes), the whole codes it holds at taken + 2^16 + 2^w.
// The words the walks read: the joined pairs with the tables, else the stream itself.
template <bool kTaken>
inline const uint8_t* streamBytes(const WidthCostJob& job) {
  if constexpr (kTaken)
    return reinterpret_cast<const uint8_t*>(job.joined);
  else
    return reinterpret_cast<const uint8_t*>(job.stream);
}

template <bool kTaken>
inline const uint8_t* advanceTable(const WidthCostJob& job, int width) {
  if constexpr (kTaken)
    return job.taken + (size_t(1) << std::min(width, 15));
  else
    return reinterpret_cast<const uint8_t*>(job.ends);
}

// The tables up to width `upTo`, each from the one below: a window one bit wider holds the
// same codes and at most one more, which then ends on its last bit (it did not fit one bit
// less), so it is the `rest` bits after the codes held. isCode[2^r + x]: the r bits x are a
// code (a rest longer than the longest code comes only after six codes, and its entry is not
// used).
__attribute__((target("avx2,bmi,bmi2"))) void buildTaken(const WidthCostJob& job, int upTo) {
  uint8_t* const bits = job.taken;
  uint8_t* const codes = job.taken + (size_t(1) << 16);
  uint8_t* const isCode = job.taken + (size_t(2) << 16);
  const int longest = job.longest;
  for (int r = 1; r <= longest; ++r)
    for (uint32_t x = 0; x < (1u << r); ++x)
      isCode[(1u << r) | x] = job.lengthOf[x << (longest - r)] == r;
  bits[1] = codes[1] = 0;  // width 0: nothing
  for (int w = 1; w <= upTo; ++w) {
    const uint8_t* const bitsBelow = bits + (size_t(1) << (w - 1));
    const uint8_t* const codesBelow = codes + (size_t(1) << (w - 1));
    uint8_t* const bitsHere = bits + (size_t(1) << w);
    uint8_t* const codesHere = codes + (size_t(1) << w);
    uint32_t q = 0;
    // Eight windows of the width below a step: their two children each, in vectors.
    const __m256i width = _mm256_set1_epi32(w), six = _mm256_set1_epi32(6);
    const __m256i one = _mm256_set1_epi32(1), eight = _mm256_set1_epi32(8);
    const __m256i lanes = _mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7);
    for (; q + 8 <= (1u << (w - 1)); q += 8) {
      const __m256i taken =
          _mm256_cvtepu8_epi32(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(bitsBelow + q)));
      const __m256i held =
          _mm256_cvtepu8_epi32(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(codesBelow + q)));
      const __m256i rest = _mm256_sub_epi32(width, taken);
      const __m256i open = _mm256_and_si256(_mm256_cmpgt_epi32(six, held), one);
      const __m256i top = _mm256_sllv_epi32(one, rest);
      const __m256i low = _mm256_sub_epi32(top, one);
      const __m256i even = _mm256_slli_epi32(_mm256_add_epi32(_mm256_set1_epi32(int(q)), lanes), 1);
      __m256i bytes[2];
      for (int b = 0; b < 2; ++b) {
        const __m256i p = _mm256_or_si256(even, b ? one : _mm256_setzero_si256());
        const __m256i at = _mm256_or_si256(top, _mm256_and_si256(p, low));
        const __m256i fits = _mm256_and_si256(
            _mm256_i32gather_epi32(reinterpret_cast<const int*>(isCode), at, 1), open);
        const __m256i newBits = _mm256_add_epi32(
            taken, _mm256_and_si256(rest, _mm256_sub_epi32(_mm256_setzero_si256(), fits)));
        const __m256i newCodes = _mm256_add_epi32(held, fits);
        // bits in byte 0, codes in byte 2 of each lane, shifted by the child's byte
        bytes[b] = _mm256_sllv_epi32(_mm256_or_si256(newBits, _mm256_slli_epi32(newCodes, 16)),
                                     b ? eight : _mm256_setzero_si256());
      }
      // Lane k: bits of children 2k, 2k + 1 in its low half, their codes in its high half.
      const __m256i both = _mm256_or_si256(bytes[0], bytes[1]);
      const __m256i bitsPairs = _mm256_and_si256(both, _mm256_set1_epi32(0xFFFF));
      const __m256i codesPairs = _mm256_srli_epi32(both, 16);
      const __m256i packed =
          _mm256_permute4x64_epi64(_mm256_packus_epi32(bitsPairs, codesPairs), 0xD8);
      _mm_storeu_si128(reinterpret_cast<__m128i*>(bitsHere + 2 * q),
                       _mm256_castsi256_si128(packed));
      _mm_storeu_si128(reinterpret_cast<__m128i*>(codesHere + 2 * q),
                       _mm256_extracti128_si256(packed, 1));
    }
    for (; q < (1u << (w - 1)); ++q) {
      const uint32_t taken = bitsBelow[q], held = codesBelow[q];
      const uint32_t rest = uint32_t(w) - taken;
      const uint32_t open = held < 6 ? 1u : 0;  // six codes are the most a look-up takes
      for (uint32_t p = 2 * q; p < 2 * q + 2; ++p) {
        const uint32_t fits = isCode[(1u << rest) | _bzhi_u32(p, rest)] & open;
        bitsHere[p] = uint8_t(taken + (rest & (0u - fits)));
        codesHere[p] = uint8_t(held + fits);
      }
    }
  }
}

// One look-up with BMI2: the window's pattern from the two stream words at pos (one unaligned
// 64-bit load, halves swapped), the first six code ends kept by a bit deposit and the last of
// them found by a bit scan; `whole` counts the windows within one word (a look-up costs two
// where the window straddles a word: look-ups = 2 * windows - whole). The flags of the walk
// are at `seen` + Offset; `five` holds 5 (in a register, so that the word index is one
// three-operand shift).
template <int W, size_t Offset>
__attribute__((target("bmi,bmi2"), always_inline)) inline void flagBmi2(const uint8_t* stream,
                                                                        uint64_t five, uint64_t pos,
                                                                        uint64_t& whole,
                                                                        uint8_t* seen) {
  const uint64_t byte = (pos >> five) * 4;
  const unsigned off = unsigned(_bzhi_u64(pos, unsigned(five)));
  uint64_t s;
  std::memcpy(&s, stream + byte, 8);
  s = s << 32 | s >> 32;
  seen[Offset + ((s << off) >> (64 - W))] = 1;
  // whole += off < 33 - W, as a compare and an add with carry (into memory: the side-by-side
  // walks have more counters than registers)
  __asm__("cmp %2, %1\n\tadcq $0, %0" : "+rm"(whole) : "r"(off), "i"(33 - W) : "cc");
}

template <int W>
__attribute__((target("bmi,bmi2"), always_inline)) inline void advanceBmi2(const uint8_t* ends,
                                                                           uint64_t five,
                                                                           uint64_t& pos) {
  uint64_t m;
  std::memcpy(&m, ends + (pos >> five) * 4, 8);
  const unsigned off = unsigned(_bzhi_u64(pos, unsigned(five)));
  const uint64_t six = _pdep_u64(0x3F, (m >> off) & ((uint64_t{1} << W) - 1));
  uint64_t last;  // the bit of the last end kept (the builtins' int would cost a widening)
  __asm__("bsr %1, %0" : "=r"(last) : "r"(six));
  pos += last + 1;
}

// By the bits-taken table of width W (kTaken) instead: the window's pattern gives both the
// flag and the bits the look-up takes, so `ends` is that table.
template <int W, bool kTaken>
__attribute__((target("bmi,bmi2"), always_inline)) inline void advanceBy(const uint8_t* stream,
                                                                         const uint8_t* ends,
                                                                         uint64_t five,
                                                                         uint64_t& pos) {
  if constexpr (kTaken) {  // `stream` is the joined words
    const unsigned off = unsigned(_bzhi_u64(pos, unsigned(five)));
    uint64_t s;
    std::memcpy(&s, stream + (pos >> five) * 8, 8);
    pos += ends[(s << off) >> (64 - W)];
  } else {
    advanceBmi2<W>(ends, five, pos);
  }
}

// With the tables, the one of width W at `ends` + TableAt.
template <int W, size_t Offset, size_t TableAt, bool kTaken>
__attribute__((target("bmi,bmi2"), always_inline)) inline void lookUpAtBmi2(
    const uint8_t* stream, const uint8_t* ends, uint64_t five, uint64_t& pos, uint64_t& whole,
    uint8_t* seen) {
  if constexpr (kTaken) {  // `stream` is the joined words
    const unsigned off = unsigned(_bzhi_u64(pos, unsigned(five)));
    uint64_t s;
    std::memcpy(&s, stream + (pos >> five) * 8, 8);
    const uint64_t pattern = (s << off) >> (64 - W);
    seen[Offset + pattern] = 1;
    __asm__("cmp %2, %1\n\tadcq $0, %0" : "+rm"(whole) : "r"(off), "i"(33 - W) : "cc");
    pos += ends[TableAt + pattern];
  } else {
    flagBmi2<W, Offset>(stream, five, pos, whole, seen);
    advanceBmi2<W>(ends, five, pos);
  }
}

template <int W, size_t Offset, bool kTaken>
__attribute__((target("bmi,bmi2"), always_inline)) inline void lookUpBmi2(
    const uint8_t* stream, const uint8_t* ends, uint64_t five, uint64_t& pos, uint64_t& whole,
    uint8_t* seen) {
  lookUpAtBmi2<W, Offset, 0, kTaken>(stream, ends, five, pos, whole, seen);
}

__attribute__((target("popcnt"))) uint64_t flagsSetPopcnt(const uint8_t* seen, size_t count) {
  if (count < 8) return flagsSet(seen, count);
  uint64_t n = 0;
  for (size_t i = 0; i < count; i += 8) {  // a power of two from 8 on
    uint64_t w;
    std::memcpy(&w, seen + i, 8);
    n += uint64_t(__builtin_popcountll(w));  // flags are 0 or 1
  }
  return n;
}

// N widths from W in one pass: the walk is a chain of dependent loads (where the next look-up
// starts follows from the codes this one takes), so one walk leaves the processor mostly
// waiting; independent walks side by side fill the gaps. The walks go in blocks of look-ups
// without a bound check (a look-up moves at most its width on), then each to its end.
template <int W, int N, bool kTaken>
__attribute__((target("bmi,bmi2"))) void walkTogetherBmi2(const WidthCostJob& job,
                                                          uint64_t* costs) {
  // The walks' flags side by side in the one buffer: 2^W, 2^(W+1) ...
  std::memset(job.seen, 0, ((size_t(1) << N) - 1) << W);
  uint8_t* const seen = job.seen;
  constexpr size_t kAt1 = size_t(1) << W, kAt2 = size_t(3) << W;  // where walks 1 and 2 flag
  const uint8_t* const stream = streamBytes<kTaken>(job);
  const uint8_t* const ends0 = advanceTable<kTaken>(job, W);
  const uint8_t* const ends1 = advanceTable<kTaken>(job, W + 1);
  const uint8_t* const ends2 = advanceTable<kTaken>(job, W + 2);
  const uint64_t end = job.end;
  uint64_t five = 5;
  __asm__("" : "+r"(five));  // kept in a register, not folded into the shifts
  uint64_t pos0 = job.first, pos1 = job.first, pos2 = job.first;
  uint64_t whole0 = 0, whole1 = 0, whole2 = 0, windows = 0;
  for (;;) {
    const uint64_t furthest = std::max({pos0, N > 1 ? pos1 : 0, N > 2 ? pos2 : 0});
    const uint64_t steps = furthest < end ? (end - furthest) / (W + N - 1) : 0;
    if (steps < 8) break;
    windows += steps;
    for (uint64_t j = steps; j > 0; --j) {
      lookUpBmi2<W, 0, kTaken>(stream, ends0, five, pos0, whole0, seen);
      if constexpr (N > 1) lookUpBmi2<W + 1, kAt1, kTaken>(stream, ends1, five, pos1, whole1, seen);
      if constexpr (N > 2) lookUpBmi2<W + 2, kAt2, kTaken>(stream, ends2, five, pos2, whole2, seen);
    }
  }
  uint64_t more = 0;
  for (; pos0 < end; ++more) lookUpBmi2<W, 0, kTaken>(stream, ends0, five, pos0, whole0, seen);
  costs[0] = 2 * (windows + more) - whole0 + flagsSetPopcnt(seen, size_t(1) << W);
  if constexpr (N > 1) {
    for (more = 0; pos1 < end; ++more)
      lookUpBmi2<W + 1, kAt1, kTaken>(stream, ends1, five, pos1, whole1, seen);
    costs[1] = 2 * (windows + more) - whole1 + flagsSetPopcnt(seen + kAt1, size_t(2) << W);
  }
  if constexpr (N > 2) {
    for (more = 0; pos2 < end; ++more)
      lookUpBmi2<W + 2, kAt2, kTaken>(stream, ends2, five, pos2, whole2, seen);
    costs[2] = 2 * (windows + more) - whole2 + flagsSetPopcnt(seen + kAt2, size_t(4) << W);
  }
}

// The flags set in either of two runs of `count` flags.
__attribute__((target("popcnt"))) uint64_t flagsEitherPopcnt(const uint8_t* a, const uint8_t* b,
                                                             size_t count) {
  uint64_t n = 0;
  if (count < 8) {
    for (size_t i = 0; i < count; ++i) n += a[i] | b[i];
    return n;
  }
  for (size_t i = 0; i < count; i += 8) {
    uint64_t x, y;
    std::memcpy(&x, a + i, 8);
    std::memcpy(&y, b + i, 8);
    n += uint64_t(__builtin_popcountll(x | y));
  }
  return n;
}

// A walk split in two for twice the independent chains: the second half starts at a code near
// the middle of the stream (any code start will do) and only notes where its first kNoted
// look-ups start;
// the first half, walked up to there, goes on until it meets one of them. From there on the
// two are the same walk, so the noted look-ups from the meeting on are counted and the second
// half's flags join the first's. If they never meet, the first half walks to the end alone.
constexpr int kNoted = 64;
constexpr uint64_t kSplitFrom = 16384;  // bits of stream; shorter ones are walked whole

template <int W, bool kTaken>
__attribute__((target("bmi,bmi2"), always_inline)) inline void note(const uint8_t* stream,
                                                                    const uint8_t* ends,
                                                                    uint64_t five, uint64_t& pos,
                                                                    uint64_t* noted) {
  for (int k = 0; k < kNoted; ++k) {
    noted[k] = pos;
    advanceBy<W, kTaken>(stream, ends, five, pos);
  }
}

// `whole` counts the windows within one word of both halves together (the side-by-side walks
// keep one counter a width, in a register). Should the halves never meet, the first half is
// walked again alone, from the start.
template <int W, size_t AtA, size_t AtB, bool kTaken>
__attribute__((target("bmi,bmi2"))) uint64_t finishSplit(const WidthCostJob& job, uint64_t five,
                                                         uint64_t windows, uint64_t posA,
                                                         uint64_t posB, uint64_t whole,
                                                         const uint64_t* noted) {
  const uint8_t* const stream = streamBytes<kTaken>(job);
  const uint8_t* const ends = advanceTable<kTaken>(job, W);
  uint8_t* const seen = job.seen;
  const uint64_t end = job.end;
  uint64_t windowsB = windows, windowsA = windows;
  for (; posB < end; ++windowsB) lookUpBmi2<W, AtB, kTaken>(stream, ends, five, posB, whole, seen);
  int k = 0;
  for (;;) {
    while (k < kNoted && noted[k] < posA) ++k;
    if (k == kNoted || noted[k] == posA) break;
    lookUpBmi2<W, AtA, kTaken>(stream, ends, five, posA, whole, seen);
    ++windowsA;
  }
  if (k == kNoted) {
    std::memset(seen + AtA, 0, size_t(1) << W);
    uint64_t wholeA = 0;
    windowsA = 0;
    for (posA = job.first; posA < end; ++windowsA)
      lookUpBmi2<W, AtA, kTaken>(stream, ends, five, posA, wholeA, seen);
    return 2 * windowsA - wholeA + flagsSetPopcnt(seen + AtA, size_t(1) << W);
  }
  for (; k < kNoted; ++k, ++windowsA) {
    if constexpr (kTaken) {
      const unsigned off = unsigned(_bzhi_u64(noted[k], unsigned(five)));
      uint64_t bits;
      std::memcpy(&bits, stream + (noted[k] >> five) * 8, 8);
      seen[AtA + ((bits << off) >> (64 - W))] = 1;
      whole += off < 33 - W;
    } else {
      flagBmi2<W, AtA>(stream, five, noted[k], whole, seen);
    }
  }
  return 2 * (windowsA + windowsB) - whole +
         flagsEitherPopcnt(seen + AtA, seen + AtB, size_t(1) << W);
}

// Bits of stream a half keeps at least on either side of where the second half starts (its
// noted look-ups must lie within the stream).
constexpr uint64_t kSplitMargin = 2048;

// The first code starting at or after bit `at` (which lies inside the stream).
uint64_t codeStartFrom(const uint32_t* ends, uint64_t at) {
  uint64_t w = (at - 1) >> 5;
  uint32_t m = ends[w] >> ((at - 1) & 31) << ((at - 1) & 31);
  while (m == 0) m = ends[++w];
  return w * 32 + uint64_t(__builtin_ctz(m)) + 1;
}

// N widths from W, each walk split in two (flags of the second halves after the first's).
template <int W, int N, bool kTaken>
__attribute__((target("bmi,bmi2"))) void walkSplitBmi2(const WidthCostJob& job, uint64_t* costs) {
  constexpr size_t kHalf = ((size_t(1) << N) - 1) << W;
  constexpr size_t kAt1 = size_t(1) << W, kAt2 = size_t(3) << W;
  std::memset(job.seen, 0, 2 * kHalf);
  uint8_t* const seen = job.seen;
  const uint8_t* const stream = streamBytes<kTaken>(job);
  const uint8_t* const ends0 = advanceTable<kTaken>(job, W);
  const uint8_t* const ends1 = advanceTable<kTaken>(job, W + 1);
  const uint8_t* const ends2 = advanceTable<kTaken>(job, W + 2);
  // The tables of the wider walks at fixed distances from the first (width w's at taken + 2^w),
  // so that the side-by-side walks need one register for all three.
  constexpr size_t kTable1 = kTaken ? size_t(1) << W : 0, kTable2 = kTaken ? size_t(3) << W : 0;
  const uint8_t* const table1 = kTaken ? ends0 : ends1;
  const uint8_t* const table2 = kTaken ? ends0 : ends2;
  const uint64_t end = job.end;
  uint64_t five = 5;
  __asm__("" : "+r"(five));  // kept in a register, not folded into the shifts
  const uint64_t second = job.middle;
  uint64_t noted[3][kNoted];
  uint64_t a0 = job.first, a1 = job.first, a2 = job.first, b0 = second, b1 = second, b2 = second;
  uint64_t w0 = 0, w1 = 0, w2 = 0, windows = 0;
  note<W, kTaken>(stream, ends0, five, b0, noted[0]);
  if constexpr (N > 1) note<W + 1, kTaken>(stream, ends1, five, b1, noted[1]);
  if constexpr (N > 2) note<W + 2, kTaken>(stream, ends2, five, b2, noted[2]);
  for (;;) {
    uint64_t steps = std::min((noted[0][0] - a0) / W, (end - b0) / W);
    if constexpr (N > 1)
      steps = std::min({steps, (noted[1][0] - a1) / (W + 1), (end - b1) / (W + 1)});
    if constexpr (N > 2)
      steps = std::min({steps, (noted[2][0] - a2) / (W + 2), (end - b2) / (W + 2)});
    if (steps < 8) break;
    windows += steps;
    for (uint64_t j = steps; j > 0; --j) {
      lookUpAtBmi2<W, 0, 0, kTaken>(stream, ends0, five, a0, w0, seen);
      lookUpAtBmi2<W, kHalf, 0, kTaken>(stream, ends0, five, b0, w0, seen);
      if constexpr (N > 1) {
        lookUpAtBmi2<W + 1, kAt1, kTable1, kTaken>(stream, table1, five, a1, w1, seen);
        lookUpAtBmi2<W + 1, kHalf + kAt1, kTable1, kTaken>(stream, table1, five, b1, w1, seen);
      }
      if constexpr (N > 2) {
        lookUpAtBmi2<W + 2, kAt2, kTable2, kTaken>(stream, table2, five, a2, w2, seen);
        lookUpAtBmi2<W + 2, kHalf + kAt2, kTable2, kTaken>(stream, table2, five, b2, w2, seen);
      }
    }
  }
  costs[0] = finishSplit<W, 0, kHalf, kTaken>(job, five, windows, a0, b0, w0, noted[0]);
  if constexpr (N > 1)
    costs[1] =
        finishSplit<W + 1, kAt1, kHalf + kAt1, kTaken>(job, five, windows, a1, b1, w1, noted[1]);
  if constexpr (N > 2)
    costs[2] =
        finishSplit<W + 2, kAt2, kHalf + kAt2, kTaken>(job, five, windows, a2, b2, w2, noted[2]);
}

using WalkFn = void (*)(const WidthCostJob&, uint64_t*);
// walks[n - 1][width - 1]: n walks from `width` (those past width 15 are never called).
template <bool kTaken, int... W>
constexpr WalkFn walkTable[3][sizeof...(W)] = {{walkTogetherBmi2<W, 1, kTaken>...},
                                               {walkTogetherBmi2<W, 2, kTaken>...},
                                               {walkTogetherBmi2<W, 3, kTaken>...}};
template <bool kTaken, int... W>
constexpr WalkFn splitTable[3][sizeof...(W)] = {{walkSplitBmi2<W, 1, kTaken>...},
                                                {walkSplitBmi2<W, 2, kTaken>...},
                                                {walkSplitBmi2<W, 3, kTaken>...}};
constexpr auto& walks = walkTable<false, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15>;
constexpr auto& splitWalks = splitTable<false, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15>;
constexpr auto& takenWalks = walkTable<true, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15>;
constexpr auto& takenSplitWalks =
    splitTable<true, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15>;

void widthCostsBmi2(const WidthCostJob& job, int width, int count, uint64_t* costs) {
  // As many walks at once as their flags fit the buffer, twice over (three up to width 12,
  // two at 13, one from 14 on); long streams with each walk split in two.
  const bool byTaken = job.lengthOf && job.taken && job.joined;
  // The second halves start at the middle given, else at the first code from the middle on.
  WidthCostJob halves = job;
  if (job.end - job.first >= kSplitFrom && !job.middle)
    halves.middle = codeStartFrom(job.ends, job.first + (job.end - job.first) / 2);
  const bool split = job.end - job.first >= kSplitFrom &&
                     halves.middle >= job.first + kSplitMargin &&
                     halves.middle + kSplitMargin <= job.end;
  if (byTaken) buildTaken(job, width + count - 1);
  while (count > 0) {
    int n = count;
    while (n > 1 && 2 * (((size_t(1) << n) - 1) << width) > kWidthCostSeen) --n;
    if (byTaken)
      (split ? takenSplitWalks : takenWalks)[n - 1][width - 1](halves, costs);
    else
      (split ? splitWalks : walks)[n - 1][width - 1](halves, costs);
    width += n, costs += n, count -= n;
  }
}

#endif  // __x86_64__

#endif

}  // namespace

TableWidthKernels tableWidthKernelsFor(unsigned flags) {
  TableWidthKernels k{widthCostsScalar, 1, true};
#ifdef ZOV_X86
  if (flags & kCpuSse2) k.widthCosts = widthCostsInterleaved, k.widthsAtOnce = kMaxWidthsAtOnce;
#ifdef __x86_64__
  if ((flags & kCpuAvx2) && (flags & kCpuBmi2))
    k.widthCosts = widthCostsBmi2, k.widthsAtOnce = kMaxWidthsAtOnce, k.needsEnds = false;
#endif
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

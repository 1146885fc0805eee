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
  __asm__("cmp %2, %1\n\tadcq $0, %0" : "+m"(whole) : "r"(off), "i"(33 - W) : "cc");
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

template <int W, size_t Offset>
__attribute__((target("bmi,bmi2"), always_inline)) inline void lookUpBmi2(
    const uint8_t* stream, const uint8_t* ends, uint64_t five, uint64_t& pos, uint64_t& whole,
    uint8_t* seen) {
  flagBmi2<W, Offset>(stream, five, pos, whole, seen);
  advanceBmi2<W>(ends, five, pos);
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
template <int W, int N>
__attribute__((target("bmi,bmi2"))) void walkTogetherBmi2(const WidthCostJob& job,
                                                          uint64_t* costs) {
  // The walks' flags side by side in the one buffer: 2^W, 2^(W+1) ...
  std::memset(job.seen, 0, ((size_t(1) << N) - 1) << W);
  uint8_t* const seen = job.seen;
  constexpr size_t kAt1 = size_t(1) << W, kAt2 = size_t(3) << W;  // where walks 1 and 2 flag
  const uint8_t* const stream = reinterpret_cast<const uint8_t*>(job.stream);
  const uint8_t* const ends = reinterpret_cast<const uint8_t*>(job.ends);
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
      lookUpBmi2<W, 0>(stream, ends, five, pos0, whole0, seen);
      if constexpr (N > 1) lookUpBmi2<W + 1, kAt1>(stream, ends, five, pos1, whole1, seen);
      if constexpr (N > 2) lookUpBmi2<W + 2, kAt2>(stream, ends, five, pos2, whole2, seen);
    }
  }
  uint64_t more = 0;
  for (; pos0 < end; ++more) lookUpBmi2<W, 0>(stream, ends, five, pos0, whole0, seen);
  costs[0] = 2 * (windows + more) - whole0 + flagsSetPopcnt(seen, size_t(1) << W);
  if constexpr (N > 1) {
    for (more = 0; pos1 < end; ++more)
      lookUpBmi2<W + 1, kAt1>(stream, ends, five, pos1, whole1, seen);
    costs[1] = 2 * (windows + more) - whole1 + flagsSetPopcnt(seen + kAt1, size_t(2) << W);
  }
  if constexpr (N > 2) {
    for (more = 0; pos2 < end; ++more)
      lookUpBmi2<W + 2, kAt2>(stream, ends, five, pos2, whole2, seen);
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

// A walk split in two for twice the independent chains: the second half starts at the first
// code from the middle of the stream on and only notes where its first kNoted look-ups start;
// the first half, walked up to there, goes on until it meets one of them. From there on the
// two are the same walk, so the noted look-ups from the meeting on are counted and the second
// half's flags join the first's. If they never meet, the first half walks to the end alone.
constexpr int kNoted = 64;
constexpr uint64_t kSplitFrom = 16384;  // bits of stream; shorter ones are walked whole

template <int W>
__attribute__((target("bmi,bmi2"), always_inline)) inline void note(const uint8_t* ends,
                                                                    uint64_t five, uint64_t& pos,
                                                                    uint64_t* noted) {
  for (int k = 0; k < kNoted; ++k) {
    noted[k] = pos;
    advanceBmi2<W>(ends, five, pos);
  }
}

template <int W, size_t AtA, size_t AtB>
__attribute__((target("bmi,bmi2"))) uint64_t finishSplit(const WidthCostJob& job, uint64_t five,
                                                         uint64_t windows, uint64_t posA,
                                                         uint64_t wholeA, uint64_t posB,
                                                         uint64_t wholeB, const uint64_t* noted) {
  const uint8_t* const stream = reinterpret_cast<const uint8_t*>(job.stream);
  const uint8_t* const ends = reinterpret_cast<const uint8_t*>(job.ends);
  uint8_t* const seen = job.seen;
  const uint64_t end = job.end;
  uint64_t windowsB = windows, windowsA = windows;
  for (; posB < end; ++windowsB) lookUpBmi2<W, AtB>(stream, ends, five, posB, wholeB, seen);
  int k = 0;
  for (;;) {
    while (k < kNoted && noted[k] < posA) ++k;
    if (k == kNoted || noted[k] == posA) break;
    lookUpBmi2<W, AtA>(stream, ends, five, posA, wholeA, seen);
    ++windowsA;
  }
  if (k == kNoted) {
    for (; posA < end; ++windowsA) lookUpBmi2<W, AtA>(stream, ends, five, posA, wholeA, seen);
    return 2 * windowsA - wholeA + flagsSetPopcnt(seen + AtA, size_t(1) << W);
  }
  for (; k < kNoted; ++k, ++windowsA) flagBmi2<W, AtA>(stream, five, noted[k], wholeA, seen);
  return 2 * (windowsA + windowsB) - wholeA - wholeB +
         flagsEitherPopcnt(seen + AtA, seen + AtB, size_t(1) << W);
}

// The first code starting at or after bit `at` (which lies inside the stream).
uint64_t codeStartFrom(const uint32_t* ends, uint64_t at) {
  uint64_t w = (at - 1) >> 5;
  uint32_t m = ends[w] >> ((at - 1) & 31) << ((at - 1) & 31);
  while (m == 0) m = ends[++w];
  return w * 32 + uint64_t(__builtin_ctz(m)) + 1;
}

// N widths from W, each walk split in two (flags of the second halves after the first's).
template <int W, int N>
__attribute__((target("bmi,bmi2"))) void walkSplitBmi2(const WidthCostJob& job, uint64_t* costs) {
  constexpr size_t kHalf = ((size_t(1) << N) - 1) << W;
  constexpr size_t kAt1 = size_t(1) << W, kAt2 = size_t(3) << W;
  std::memset(job.seen, 0, 2 * kHalf);
  uint8_t* const seen = job.seen;
  const uint8_t* const stream = reinterpret_cast<const uint8_t*>(job.stream);
  const uint8_t* const ends = reinterpret_cast<const uint8_t*>(job.ends);
  const uint64_t end = job.end;
  uint64_t five = 5;
  __asm__("" : "+r"(five));  // kept in a register, not folded into the shifts
  const uint64_t second = codeStartFrom(job.ends, job.first + (end - job.first) / 2);
  uint64_t noted[3][kNoted];
  uint64_t a0 = job.first, a1 = job.first, a2 = job.first, b0 = second, b1 = second, b2 = second;
  uint64_t wa0 = 0, wa1 = 0, wa2 = 0, wb0 = 0, wb1 = 0, wb2 = 0, windows = 0;
  note<W>(ends, five, b0, noted[0]);
  if constexpr (N > 1) note<W + 1>(ends, five, b1, noted[1]);
  if constexpr (N > 2) note<W + 2>(ends, five, b2, noted[2]);
  for (;;) {
    uint64_t steps = std::min((noted[0][0] - a0) / W, (end - b0) / W);
    if constexpr (N > 1)
      steps = std::min({steps, (noted[1][0] - a1) / (W + 1), (end - b1) / (W + 1)});
    if constexpr (N > 2)
      steps = std::min({steps, (noted[2][0] - a2) / (W + 2), (end - b2) / (W + 2)});
    if (steps < 8) break;
    windows += steps;
    for (uint64_t j = steps; j > 0; --j) {
      lookUpBmi2<W, 0>(stream, ends, five, a0, wa0, seen);
      lookUpBmi2<W, kHalf>(stream, ends, five, b0, wb0, seen);
      if constexpr (N > 1) {
        lookUpBmi2<W + 1, kAt1>(stream, ends, five, a1, wa1, seen);
        lookUpBmi2<W + 1, kHalf + kAt1>(stream, ends, five, b1, wb1, seen);
      }
      if constexpr (N > 2) {
        lookUpBmi2<W + 2, kAt2>(stream, ends, five, a2, wa2, seen);
        lookUpBmi2<W + 2, kHalf + kAt2>(stream, ends, five, b2, wb2, seen);
      }
    }
  }
  costs[0] = finishSplit<W, 0, kHalf>(job, five, windows, a0, wa0, b0, wb0, noted[0]);
  if constexpr (N > 1)
    costs[1] =
        finishSplit<W + 1, kAt1, kHalf + kAt1>(job, five, windows, a1, wa1, b1, wb1, noted[1]);
  if constexpr (N > 2)
    costs[2] =
        finishSplit<W + 2, kAt2, kHalf + kAt2>(job, five, windows, a2, wa2, b2, wb2, noted[2]);
}

using WalkFn = void (*)(const WidthCostJob&, uint64_t*);
// walks[n - 1][width - 1]: n walks from `width` (those past width 15 are never called).
template <int... W>
constexpr WalkFn walkTable[3][sizeof...(W)] = {
    {walkTogetherBmi2<W, 1>...}, {walkTogetherBmi2<W, 2>...}, {walkTogetherBmi2<W, 3>...}};
template <int... W>
constexpr WalkFn splitTable[3][sizeof...(W)] = {
    {walkSplitBmi2<W, 1>...}, {walkSplitBmi2<W, 2>...}, {walkSplitBmi2<W, 3>...}};
constexpr auto& walks = walkTable<1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15>;
constexpr auto& splitWalks = splitTable<1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15>;

void widthCostsBmi2(const WidthCostJob& job, int width, int count, uint64_t* costs) {
  // As many walks at once as their flags fit the buffer, twice over (three up to width 12,
  // two at 13, one from 14 on); long streams with each walk split in two.
  const bool split = job.end - job.first >= kSplitFrom;
  while (count > 0) {
    int n = count;
    while (n > 1 && 2 * (((size_t(1) << n) - 1) << width) > kWidthCostSeen) --n;
    (split ? splitWalks : walks)[n - 1][width - 1](job, costs);
    width += n, costs += n, count -= n;
  }
}

#endif  // __x86_64__

#endif

}  // namespace

TableWidthKernels tableWidthKernelsFor(unsigned flags) {
  TableWidthKernels k{widthCostsScalar, 1};
#ifdef ZOV_X86
  if (flags & kCpuSse2) k.widthCosts = widthCostsInterleaved, k.widthsAtOnce = kMaxWidthsAtOnce;
#ifdef __x86_64__
  if ((flags & kCpuAvx2) && (flags & kCpuBmi2))
    k.widthCosts = widthCostsBmi2, k.widthsAtOnce = kMaxWidthsAtOnce;
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

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

// The next `width` bits of the stream from bit position pos (zeros past the end).
inline uint32_t bitsAt(const uint32_t* stream, uint64_t words, uint64_t pos, int width) {
  uint64_t w = pos >> 5;
  int off = static_cast<int>(pos & 31);
  uint64_t hi = w < words ? stream[w] : 0;
  uint64_t lo = w + 1 < words ? stream[w + 1] : 0;
  uint64_t both = hi << 32 | lo;
  return static_cast<uint32_t>((both << off) >> (64 - width));
}

// Bits pos .. pos + width - 1 of the code ends, bit pos lowest.
inline uint64_t endsAt(const uint32_t* ends, uint64_t pos, int width) {
  const uint64_t w = pos >> 5;
  const uint64_t both = uint64_t(ends[w]) | uint64_t(ends[w + 1]) << 32;
  return (both >> (pos & 31)) & ((uint64_t{1} << width) - 1);
}

// The bits a look-up takes, given the ends of the codes in its window (bit k: a code ends at
// bit k of the window): up to the end of the sixth code, or of the last one that fits. The
// first code always fits (no code is longer than the width), so the window is never empty.
inline int bitsTaken(uint64_t window) {
  uint64_t beyond = window;
  for (int k = 0; k < 6 && beyond; ++k) beyond &= beyond - 1;  // drops the lowest six ends
  return std::bit_width(window ^ beyond);
}

// The look-ups one window at bit pos costs: two where it straddles a word of the frame.
inline uint64_t lookupsAt(uint64_t startBit, uint64_t pos, int width) {
  return (((startBit + pos) & 31) + uint64_t(width) + 31) >> 5;
}

// The flags set among `count`.
inline uint64_t flagsSet(const uint8_t* seen, size_t count) {
  uint64_t n = 0;
  for (size_t i = 0; i < count; ++i) n += seen[i];
  return n;
}

}  // namespace

uint32_t codeEndsScalar(const uint8_t* lengths, const uint8_t* symbols, uint32_t n, uint32_t at,
                        uint32_t* ends) {
  for (uint32_t i = 0; i < n; ++i) {
    at += lengths[symbols[i]];
    ends[(at - 1) >> 5] |= 1u << ((at - 1) & 31);
  }
  return at;
}

uint64_t widthCostScalar(const WidthCostJob& job, int width) {
  std::memset(job.seen, 0, size_t(1) << width);
  uint64_t lookups = 0;
  for (uint64_t pos = 0; pos < job.end;) {
    job.seen[bitsAt(job.stream, job.words, pos, width)] = 1;
    lookups += lookupsAt(job.startBit, pos, width);
    pos += uint64_t(bitsTaken(endsAt(job.ends, pos, width)));
  }
  return lookups + flagsSet(job.seen, size_t(1) << width);
}

void widthCostsScalar(const WidthCostJob& job, int width, int count, uint64_t* costs) {
  for (int k = 0; k < count; ++k) costs[k] = widthCostScalar(job, width + k);
}

namespace {

#ifdef ZOV_X86

// One look-up with BMI2: the window's pattern from the two stream words at pos (read as one
// unaligned 64-bit load, halves swapped), the first six code ends kept by a bit deposit and
// the last of them found by a bit scan. The stream must have a word past pos's.
__attribute__((target("bmi,bmi2"), always_inline)) inline void lookUpBmi2(
    const uint8_t* stream, const uint8_t* ends, uint64_t startBit, int width, uint64_t& pos,
    uint64_t& lookups, uint8_t* seen) {
  const uint64_t byte = (pos >> 5) * 4;
  const unsigned off = unsigned(pos & 31);
  uint64_t s, m;
  std::memcpy(&s, stream + byte, 8);
  std::memcpy(&m, ends + byte, 8);
  s = s << 32 | s >> 32;
  seen[(s << off) >> (64 - width)] = 1;
  lookups += lookupsAt(startBit, pos, width);
  pos += uint64_t(64 - __builtin_clzll(_pdep_u64(0x3F, _bzhi_u64(m >> off, unsigned(width)))));
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

// Several widths in one pass: the walk is a chain of dependent loads (where the next look-up
// starts follows from the codes this one takes), so one walk leaves the processor mostly
// waiting; independent walks side by side fill the gaps.
template <int N>
__attribute__((target("bmi,bmi2"))) void walkTogetherBmi2(const WidthCostJob& job, int width,
                                                          uint64_t* costs) {
  // The walks' flags side by side in the one buffer: 2^width, 2^(width+1) ...
  std::memset(job.seen, 0, ((size_t(1) << N) - 1) << width);
  uint8_t* seen[N];
  uint64_t pos[N], lookups[N];
  for (int k = 0; k < N; ++k) {
    seen[k] = job.seen + (((size_t(1) << k) - 1) << width);
    pos[k] = 0, lookups[k] = 0;
  }
  const uint8_t* stream = reinterpret_cast<const uint8_t*>(job.stream);
  const uint8_t* ends = reinterpret_cast<const uint8_t*>(job.ends);
  // Up to here the stream word after pos's can be read.
  const uint64_t safe = std::min(job.end, job.words > 0 ? (job.words - 1) * 32 : 0);
  for (;;) {
    bool all = true;
    for (int k = 0; k < N; ++k) all &= pos[k] < safe;
    if (!all) break;
    for (int k = 0; k < N; ++k)
      lookUpBmi2(stream, ends, job.startBit, width + k, pos[k], lookups[k], seen[k]);
  }
  for (int k = 0; k < N; ++k) {
    const int w = width + k;
    while (pos[k] < safe) lookUpBmi2(stream, ends, job.startBit, w, pos[k], lookups[k], seen[k]);
    for (; pos[k] < job.end; pos[k] += uint64_t(bitsTaken(endsAt(job.ends, pos[k], w)))) {
      seen[k][bitsAt(job.stream, job.words, pos[k], w)] = 1;
      lookups[k] += lookupsAt(job.startBit, pos[k], w);
    }
    costs[k] = lookups[k] + flagsSetPopcnt(seen[k], size_t(1) << w);
  }
}

void widthCostsBmi2(const WidthCostJob& job, int width, int count, uint64_t* costs) {
  // As many walks at once as their flags fit the buffer (three up to width 12, two at 13).
  while (count > 0) {
    int n = count;
    while (n > 1 && (((size_t(1) << n) - 1) << width) > kWidthCostSeen) --n;
    if (n == 3)
      walkTogetherBmi2<3>(job, width, costs);
    else if (n == 2)
      walkTogetherBmi2<2>(job, width, costs);
    else
      walkTogetherBmi2<1>(job, width, costs);
    width += n, costs += n, count -= n;
  }
}

#endif

}  // namespace

TableWidthKernels tableWidthKernelsFor(unsigned flags) {
  TableWidthKernels k{codeEndsScalar, widthCostsScalar, 1};
#ifdef ZOV_X86
  if ((flags & kCpuAvx2) && (flags & kCpuBmi2))
    k.widthCosts = widthCostsBmi2, k.widthsAtOnce = kMaxWidthsAtOnce;
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

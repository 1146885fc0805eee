// The table-width cost model's kernel against its reference and a walk code by code: the cost
// of a stream under every width, on symbol streams made from the teapot's frames and on random
// codes and streams.
#include <algorithm>
#include <cstdio>

#include "encoder/huffman_code.h"
#include "encoder/table_width_kernels.h"
#include "format/bit_writer.h"
#include "kernel_cases.h"

namespace zov::test {
namespace {

// A frame's symbols as the coder's might look: small steps between neighbouring footage
// colours are frequent, large ones rare.
std::vector<uint8_t> footageSymbols(const KernelInputs& in, size_t from, size_t count) {
  std::vector<uint8_t> s;
  const std::vector<uint16_t>& c = in.footageColours;
  for (size_t i = from + 1; i < c.size() && s.size() < count; ++i) {
    const int step = std::abs(int(c[i] >> 5 & 31) - int(c[i - 1] >> 5 & 31)) +
                     std::abs(int(c[i] & 31) - int(c[i - 1] & 31));
    s.push_back(uint8_t(std::min(step, 15)));
  }
  return s;
}

// The stream of a symbol sequence under its own code, and as the model takes it.
struct CodedStream {
  HuffmanCode code;
  std::vector<uint8_t> symbols;
  BitWriter bits;
  uint64_t bitCount = 0;
  unsigned first = 0;  // where the codes start in their word
  std::vector<uint32_t> ends, aligned;
  uint64_t middle = 0;  // where the middle symbol's code starts (packed without the ends)
};

bool codeFor(CodedStream& s, unsigned first = 0) {
  s.first = first;
  uint32_t counts[16] = {};
  for (uint8_t v : s.symbols) ++counts[v];
  if (std::count_if(counts, counts + 16, [](uint32_t c) { return c != 0; }) < 2) return false;
  buildHuffmanCode(counts, s.code);
  s.bits.reset();
  for (uint8_t v : s.symbols) s.bits.write(s.code.code[v], s.code.length[v]);
  s.bitCount = s.bits.bitCount();
  s.bits.finishWord();
  s.ends.assign(packedWords(s.symbols.size(), first), 0);
  s.aligned.assign(s.ends.size(), 0);
  packCodes(s.code, s.symbols.data(), uint32_t(s.symbols.size()), nullptr, 0, first,
            s.aligned.data(), s.ends.data());
  std::vector<uint32_t> bare(s.aligned.size());
  packCodes(s.code, s.symbols.data(), uint32_t(s.symbols.size()), nullptr, 0, first, bare.data(),
            nullptr, &s.middle);
  return true;
}

// The stream's words in overlapping pairs, as the model's caller makes them.
std::vector<uint64_t> joinedWords(const CodedStream& s) {
  std::vector<uint64_t> joined(s.aligned.size() - 1);
  for (size_t w = 0; w < joined.size(); ++w)
    joined[w] = uint64_t(s.aligned[w]) << 32 | s.aligned[w + 1];
  return joined;
}

// ---- Cost of a stream under one width ----

bool costSame(unsigned flags) {
  return tableWidthKernelsFor(flags).widthCosts == widthCostsScalar;
}

// The decoder's walk as it is defined, code by code: each look-up takes the whole codes that
// fit its window, at most six. The model's walks over the code ends must agree with it.
uint64_t plainWalkCost(const CodedStream& s, int width) {
  std::vector<uint64_t> at(s.symbols.size() + 7, ~uint64_t{0});
  uint64_t p = 0;
  for (size_t i = 0; i < s.symbols.size(); ++i) at[i] = p, p += s.code.length[s.symbols[i]];
  at[s.symbols.size()] = p;
  std::vector<bool> seen(size_t(1) << width);
  uint64_t cost = 0;
  for (size_t i = 0; i < s.symbols.size();) {
    uint32_t pattern = 0;
    for (int b = 0; b < width; ++b) {
      const uint64_t bit = at[i] + uint64_t(b);
      const uint32_t word = bit / 32 < s.bits.words().size() ? s.bits.words()[bit / 32] : 0;
      pattern = pattern << 1 | (word >> (31 - bit % 32) & 1);
    }
    cost += !seen[pattern];
    seen[pattern] = true;
    cost += ((s.first + at[i]) % 32) + uint64_t(width) > 32 ? 2 : 1;
    size_t k = 1;
    while (k < 6 && at[i + k + 1] <= at[i] + uint64_t(width)) ++k;
    i += k;
  }
  return cost;
}

// Every width the model tries (from the longest code on) at the given start bit.
bool costWidths(WidthCostsFn f, const CodedStream& s, const WidthCostJob& job,
                bool againstPlainWalk, std::string& why) {
  WidthCostJob withEnds = job;  // the reference walks the ends
  withEnds.ends = s.ends.data();
  for (int width = std::max(s.code.maxLength, 1); width <= 15; ++width)
    for (int count = 1; count <= std::min(kMaxWidthsAtOnce, 16 - width); ++count) {
      uint64_t got[kMaxWidthsAtOnce] = {};
      f(job, width, count, got);
      for (int k = 0; k < count; ++k) {
        const uint64_t ref = againstPlainWalk && count == 1 ? plainWalkCost(s, width)
                                                            : widthCostScalar(withEnds, width + k);
        if (got[k] == ref) continue;
        why = std::to_string(s.symbols.size()) + " codes, longest " +
              std::to_string(s.code.maxLength) + ", first bit " + std::to_string(s.first) +
              ", width " + std::to_string(width + k) + " (of " + std::to_string(count) +
              " at once): cost " + std::to_string(got[k]) + ", reference " + std::to_string(ref);
        return false;
      }
    }
  return true;
}

// The same by the code ends, by the bits-taken tables, and (for a version that needs no ends)
// by the tables with the packer's middle and no ends.
bool costOne(WidthCostsFn f, const CodedStream& s, std::vector<uint8_t>& seen,
             bool againstPlainWalk, std::string& why, bool needsEnds = true) {
  const int longest = std::max(s.code.maxLength, 1);
  std::vector<uint8_t> lengthOf(size_t(1) << longest), taken(kWidthCostTaken);
  fillCodeLengths(s.code.length, s.code.code, longest, lengthOf.data());
  const std::vector<uint64_t> joined = joinedWords(s);
  for (int way = 0; way < (needsEnds ? 2 : 3); ++way) {
    WidthCostJob job{s.ends.data(), s.aligned.data(), s.first, s.first + s.bitCount, seen.data()};
    if (way > 0)
      job.lengthOf = lengthOf.data(), job.longest = longest, job.taken = taken.data(),
      job.joined = joined.data();
    if (way == 2) job.ends = nullptr, job.middle = s.middle;
    if (!costWidths(f, s, job, againstPlainWalk && way == 0, why)) {
      if (way == 1) why += " (by the bits-taken tables)";
      if (way == 2)
        why += " (by the bits-taken tables, no ends, middle at " + std::to_string(s.middle) + ")";
      return false;
    }
  }
  return true;
}

bool costCheck(unsigned flags, KernelInputs& in, std::string& why) {
  const WidthCostsFn f = tableWidthKernelsFor(flags).widthCosts;
  const bool needsEnds = tableWidthKernelsFor(flags).needsEnds;
  std::vector<uint8_t> seen(kWidthCostSeen);
  CodedStream s;
  for (size_t from = 0; from < 4 * 65536; from += 65536) {
    s.symbols = footageSymbols(in, from, 30000);
    if (codeFor(s, unsigned(from / 65536 * 9)) && (!costOne(f, s, seen, false, why, needsEnds) ||
                                                   !costOne(widthCostsScalar, s, seen, true, why)))
      return false;
  }
  // Long streams of two one-bit codes: a look-up always takes six, so walks started at
  // different codes may never fall into step.
  for (size_t n = 20000; n < 20006; ++n) {
    s.symbols.assign(n, 0);
    for (size_t i = 0; i < n; i += 2) s.symbols[i] = 1;
    if (codeFor(s, unsigned(n % 32)) && (!costOne(f, s, seen, false, why, needsEnds) ||
                                         !costOne(widthCostsScalar, s, seen, true, why)))
      return false;
  }
  // Random streams of every short length and skew (long codes where few symbols dominate).
  std::uniform_int_distribution<int> count(2, 1500), used(2, 16), start(0, 31);
  for (int pass = 0; pass < 600; ++pass) {
    const int symbols = used(in.random);
    std::geometric_distribution<int> skewed(pass % 3 ? 0.5 : 0.1);
    s.symbols.resize(size_t(pass < 300 ? pass % 60 + 2 : count(in.random)));
    for (uint8_t& v : s.symbols) v = uint8_t(std::min(skewed(in.random), symbols - 1));
    if (codeFor(s, unsigned(start(in.random))) && (!costOne(f, s, seen, false, why, needsEnds) ||
                                                   !costOne(widthCostsScalar, s, seen, true, why)))
      return false;
  }
  return true;
}

// Six widths from the longest code on (at most 15), as the model asks for them on the pan.
uint64_t costBench(unsigned flags, KernelInputs& in) {
  const TableWidthKernels k = tableWidthKernelsFor(flags);
  std::vector<uint8_t> seen(kWidthCostSeen);
  CodedStream s;
  s.symbols = footageSymbols(in, 0, 200000);
  codeFor(s, 5);
  // With the bits-taken tables, as the encoder asks.
  const int longest = std::max(s.code.maxLength, 1);
  std::vector<uint8_t> lengthOf(size_t(1) << longest), taken(kWidthCostTaken);
  fillCodeLengths(s.code.length, s.code.code, longest, lengthOf.data());
  const WidthCostJob job{s.ends.data(), s.aligned.data(), s.first, s.first + s.bitCount,
                         seen.data(),   lengthOf.data(),  longest, taken.data()};
  const int first = s.code.maxLength, last = std::min(15, first + 5);
  uint64_t calls = 0, sink = 0, costs[kMaxWidthsAtOnce];
  for (int pass = 0; pass < 10; ++pass)
    for (int width = first; width <= last; width += k.widthsAtOnce) {
      k.widthCosts(job, width, std::min(k.widthsAtOnce, 16 - width), costs);
      sink += costs[0];
      calls += uint64_t(k.widthsAtOnce);
    }
  if (sink == 1) std::printf(" ");
  return calls;
}

}  // namespace

std::vector<KernelCase> tableWidthCases() {
  return {{"table-width costs (width)", costSame, costCheck, costBench}};
}

}  // namespace zov::test

// The unchanged analysis's kernels against their references: the difference map and the
// per-line unchanged test, and the rectangle search's kernels (run maps, equal neighbours,
// heights, column walks, the runs by column, the candidates' return to coded) over the maps the
// test makes, on the teapot's frames and on random pictures.
#include <algorithm>
#include <cstdio>

#include "encoder/encoder_buffers.h"
#include "encoder/rectangle_search_kernels.h"
#include "encoder/unchanged_kernels.h"
#include "kernel_cases.h"

namespace zov::test {
namespace {

constexpr int kSide = 256;  // the teapot clip's frames
constexpr size_t kFrame = size_t(kSide) * kSide;

size_t frameCount(const KernelInputs& in) {
  return in.footageColours.size() / kFrame;
}
const uint16_t* frame(const KernelInputs& in, size_t k) {
  return in.footageColours.data() + (k % frameCount(in)) * kFrame;
}

// ---- Difference map ----

bool diffSame(unsigned flags) {
  return unchangedKernelsFor(flags).differenceMap == differenceMapScalar;
}

bool diffOne(DifferenceMapFn f, const uint16_t* a, const uint16_t* b, int n, std::string& why) {
  std::vector<uint32_t> ref(size_t(n) + 1, 0xDEADBEEF), got(size_t(n) + 1, 0xDEADBEEF);
  differenceMapScalar(a, b, ref.data(), n);
  f(a, b, got.data(), n);
  if (got == ref) return true;
  const size_t i = size_t(std::mismatch(got.begin(), got.end(), ref.begin()).first - got.begin());
  why = "n " + std::to_string(n) + " pixel " + std::to_string(i) + ": " + std::to_string(got[i]) +
        ", reference " + std::to_string(ref[i]);
  return false;
}

bool diffCheck(unsigned flags, KernelInputs& in, std::string& why) {
  const DifferenceMapFn f = unchangedKernelsFor(flags).differenceMap;
  for (size_t k = 0; k + 1 < frameCount(in); ++k)
    if (!diffOne(f, frame(in, k), frame(in, k + 1), int(kFrame), why)) return false;
  // Any 16-bit values (the top bit is not part of the colour) and every short length.
  std::uniform_int_distribution<int> value(0, 0xFFFF);
  std::vector<uint16_t> a(200), b(200);
  for (int pass = 0; pass < 2000; ++pass) {
    for (size_t i = 0; i < a.size(); ++i)
      a[i] = uint16_t(value(in.random)), b[i] = uint16_t(value(in.random));
    if (!diffOne(f, a.data(), b.data(), pass % 200, why)) return false;
  }
  return true;
}

uint64_t diffBench(unsigned flags, KernelInputs& in) {
  const DifferenceMapFn f = unchangedKernelsFor(flags).differenceMap;
  std::vector<uint32_t> out(kFrame);
  uint64_t calls = 0;
  for (int pass = 0; pass < 200; ++pass, ++calls)
    f(frame(in, size_t(pass)), frame(in, size_t(pass) + 1), out.data(), int(kFrame));
  if (out[12345] == 1) std::printf(" ");
  return calls;
}

// ---- Unchanged test of a line ----

bool lineSame(unsigned flags) {
  return unchangedKernelsFor(flags).unchangedLine == unchangedLineScalar;
}

// Every line of a picture through the reference and through f, on copies of the same map.
bool lineOne(UnchangedLineFn f, const std::vector<uint8_t>& map, const uint32_t* diff,
             const uint32_t* look, int w, int lines, uint32_t t, uint32_t n, std::string& why) {
  std::vector<uint8_t> ref = map, got = map;
  for (int l = 0; l < lines; ++l) {
    const size_t first = size_t(l) * w;
    const bool inner = l > 0 && l < lines - 1;
    unchangedLineScalar(ref.data() + first, diff + first, look ? look + first : nullptr, w, inner,
                        t, n);
    f(got.data() + first, diff + first, look ? look + first : nullptr, w, inner, t, n);
  }
  if (got == ref) return true;
  const size_t i = size_t(std::mismatch(got.begin(), got.end(), ref.begin()).first - got.begin());
  why = std::to_string(w) + "x" + std::to_string(lines) + " t " + std::to_string(t) + " n " +
        std::to_string(n) + (look ? " with lookahead" : "") + ": pixel " + std::to_string(i % w) +
        "," + std::to_string(i / w) + " map " + std::to_string(got[i]) + ", reference " +
        std::to_string(ref[i]) + " (difference " + std::to_string(diff[i]) + ")";
  return false;
}

// The differences the line test is checked on, each through `one` (which compares a version on
// them with the reference).
template <typename One>
bool lineInputs(KernelInputs& in, std::string& why, One one) {
  // Real maps: each frame against the one before, the one after that as the lookahead, under
  // thresholds of the settings' range, on a clear map and on one partly covered already.
  std::vector<uint32_t> diff(kFrame), look(kFrame);
  std::vector<uint8_t> clear(kFrame, kMapCoded), covered(kFrame, kMapCoded);
  for (size_t i = 0; i < kFrame; i += 7) covered[i] = i % 3 ? kMapUnchanged : kMapCandidate;
  const uint32_t limits[][2] = {{0, 0}, {30, 80}, {100, 300}, {200, 200}, {10, 1000}};
  for (size_t k = 0; k + 1 < frameCount(in); ++k) {
    differenceMapScalar(frame(in, k + 1), frame(in, k), diff.data(), int(kFrame));
    differenceMapScalar(frame(in, k + 2), frame(in, k), look.data(), int(kFrame));
    const uint32_t* looks[] = {nullptr, look.data()};
    for (const auto& tn : limits)
      for (const uint32_t* l : looks)
        for (const auto* m : {&clear, &covered})
          if (!one(*m, diff.data(), l, kSide, kSide, tn[0], tn[1], why)) return false;
  }
  // Random pictures of every small size, the differences gathered around the thresholds so
  // that every branch is taken, thresholds up to the largest unsigned values.
  std::uniform_int_distribution<int> width(1, 70), lines(1, 6), pick(0, 7);
  std::uniform_int_distribution<uint32_t> any(0, 104749), limit(0, 2000);
  for (int pass = 0; pass < 4000; ++pass) {
    const int w = width(in.random), h = lines(in.random);
    uint32_t t = limit(in.random), n = t + limit(in.random);
    if (pass % 50 == 0) n = 0xFFFFFFFFu;
    if (pass % 100 == 0) t = n;
    const size_t size = size_t(w) * h;
    std::vector<uint32_t> d(size), e(size);
    std::vector<uint8_t> map(size);
    auto near = [&](uint32_t v) {
      std::uniform_int_distribution<int> off(-2, 2);
      return uint32_t(
          std::clamp<int64_t>(int64_t(std::min<uint32_t>(v, 104749)) + off(in.random), 0, 104749));
    };
    for (size_t i = 0; i < size; ++i) {
      const int p = pick(in.random);
      d[i] = p < 3 ? near(t) : p < 5 ? near(n) : p < 7 ? limit(in.random) : any(in.random);
      e[i] = pick(in.random) < 4 ? near(t) : near(n);
      map[i] = pick(in.random) == 0 ? uint8_t(pick(in.random) * 37) : uint8_t(kMapCoded);
    }
    if (!one(map, d.data(), pass % 2 ? e.data() : nullptr, w, h, t, n, why)) return false;
  }
  return true;
}

bool lineCheck(unsigned flags, KernelInputs& in, std::string& why) {
  const UnchangedLineFn f = unchangedKernelsFor(flags).unchangedLine;
  return lineInputs(in, why,
                    [&](const std::vector<uint8_t>& map, const uint32_t* diff, const uint32_t* look,
                        int w, int lines, uint32_t t, uint32_t n, std::string& what) {
                      return lineOne(f, map, diff, look, w, lines, t, n, what);
                    });
}

uint64_t lineBench(unsigned flags, KernelInputs& in) {
  const UnchangedLineFn f = unchangedKernelsFor(flags).unchangedLine;
  std::vector<uint32_t> diff(kFrame), look(kFrame);
  std::vector<uint8_t> map(kFrame);
  differenceMapScalar(frame(in, 1), frame(in, 0), diff.data(), int(kFrame));
  differenceMapScalar(frame(in, 2), frame(in, 0), look.data(), int(kFrame));
  uint64_t calls = 0;
  for (int pass = 0; pass < 100; ++pass) {
    std::fill(map.begin(), map.end(), kMapCoded);
    for (int l = 0; l < kSide; ++l, ++calls) {
      const size_t first = size_t(l) * kSide;
      f(map.data() + first, diff.data() + first, look.data() + first, kSide, l > 0 && l < kSide - 1,
        30, 80);
    }
  }
  if (map[12345] == 7) std::printf(" ");
  return calls;
}

// ---- The same on difference classes ----

bool classesSame(unsigned flags) {
  return unchangedKernelsFor(flags).differenceClasses == differenceClassesScalar;
}

// The classes of f against those of the distances, thresholded here.
bool classesOne(DifferenceClassesFn f, const uint16_t* a, const uint16_t* b, int count, uint32_t t,
                uint32_t n, std::string& why) {
  std::vector<uint32_t> d(size_t(count) + 1);
  differenceMapScalar(a, b, d.data(), count);
  std::vector<uint8_t> ref(size_t(count) + 1, 0xA5), got(size_t(count) + 1, 0xA5);
  for (int i = 0; i < count; ++i)
    ref[size_t(i)] =
        uint8_t((d[size_t(i)] <= t ? kWithinT : 0) | (d[size_t(i)] > n ? kBeyondN : 0));
  f(a, b, got.data(), count, t, n);
  if (got == ref) return true;
  const size_t i = size_t(std::mismatch(got.begin(), got.end(), ref.begin()).first - got.begin());
  why = "count " + std::to_string(count) + " t " + std::to_string(t) + " n " + std::to_string(n) +
        " pixel " + std::to_string(i) + ": " + std::to_string(got[i]) + ", reference " +
        std::to_string(ref[i]);
  return false;
}

bool classesCheck(unsigned flags, KernelInputs& in, std::string& why) {
  const DifferenceClassesFn f = unchangedKernelsFor(flags).differenceClasses;
  for (const DifferenceClassesFn g : {differenceClassesScalar, f})
    for (size_t k = 0; k + 1 < frameCount(in); ++k)
      if (!classesOne(g, frame(in, k), frame(in, k + 1), int(kFrame), 30 * uint32_t(k % 4),
                      80 * uint32_t(k % 5), why))
        return false;
  // Any 16-bit values, every short length, thresholds at the distances' ends and beyond 2^31.
  std::uniform_int_distribution<int> value(0, 0xFFFF);
  std::uniform_int_distribution<uint32_t> limit(0, 104750);
  std::vector<uint16_t> a(200), b(200);
  for (int pass = 0; pass < 2000; ++pass) {
    for (size_t i = 0; i < a.size(); ++i)
      a[i] = uint16_t(value(in.random)), b[i] = uint16_t(value(in.random));
    uint32_t t = limit(in.random), n = limit(in.random);
    if (pass % 3 == 0) t %= 2000, n %= 2000;
    // Either side of the 16-bit lanes' limit.
    if (pass % 7 == 0) t = 0xFFFE + uint32_t(pass / 7 % 3);
    if (pass % 11 == 0) n = 0xFFFE + uint32_t(pass / 11 % 3);
    if (pass % 10 == 0) t = 0xFFFFFFFFu;
    if (pass % 15 == 0) n = 0x80000000u;
    if (!classesOne(f, a.data(), b.data(), pass % 200, t, n, why)) return false;
  }
  return true;
}

uint64_t classesBench(unsigned flags, KernelInputs& in) {
  const DifferenceClassesFn f = unchangedKernelsFor(flags).differenceClasses;
  std::vector<uint8_t> out(kFrame);
  uint64_t calls = 0;
  for (int pass = 0; pass < 200; ++pass, ++calls)
    f(frame(in, size_t(pass)), frame(in, size_t(pass) + 1), out.data(), int(kFrame), 30, 80);
  if (out[12345] == 7) std::printf(" ");
  return calls;
}

bool classLineSame(unsigned flags) {
  return unchangedKernelsFor(flags).unchangedClassLine == unchangedClassLineScalar;
}

// Every line of a picture through the test on distances (the reference) and through the class
// reference and f on the classes; and with `clear` on the same map, which must come out as the
// reference's on a clear map.
bool classLineOne(UnchangedClassLineFn f, const std::vector<uint8_t>& map, const uint32_t* diff,
                  const uint32_t* look, int w, int lines, uint32_t t, uint32_t n,
                  std::string& why) {
  const size_t size = size_t(w) * size_t(lines);
  std::vector<uint8_t> cls(size), lookCls(size);
  for (size_t i = 0; i < size; ++i) {
    cls[i] = uint8_t((diff[i] <= t ? kWithinT : 0) | (diff[i] > n ? kBeyondN : 0));
    if (look) lookCls[i] = uint8_t((look[i] <= t ? kWithinT : 0) | (look[i] > n ? kBeyondN : 0));
  }
  for (const bool clear : {false, true}) {
    std::vector<uint8_t> ref = clear ? std::vector<uint8_t>(size, kMapCoded) : map;
    std::vector<uint8_t> got[2] = {map, map};
    for (int l = 0; l < lines; ++l) {
      const size_t first = size_t(l) * w;
      const bool inner = l > 0 && l < lines - 1;
      unchangedLineScalar(ref.data() + first, diff + first, look ? look + first : nullptr, w, inner,
                          t, n);
      for (int k = 0; k < 2; ++k)
        (k ? f : unchangedClassLineScalar)(got[k].data() + first, cls.data() + first,
                                           look ? lookCls.data() + first : nullptr, w, inner,
                                           clear);
    }
    for (int k = 0; k < 2; ++k) {
      if (got[k] == ref) continue;
      const size_t i =
          size_t(std::mismatch(got[k].begin(), got[k].end(), ref.begin()).first - got[k].begin());
      why = std::string(k ? "" : "class reference: ") + std::to_string(w) + "x" +
            std::to_string(lines) + " t " + std::to_string(t) + " n " + std::to_string(n) +
            (look ? " with lookahead" : "") + (clear ? " clearing" : "") + ": pixel " +
            std::to_string(i) + " " + std::to_string(got[k][i]) + ", reference " +
            std::to_string(ref[i]);
      return false;
    }
  }
  return true;
}

bool classLineCheck(unsigned flags, KernelInputs& in, std::string& why) {
  const UnchangedClassLineFn f = unchangedKernelsFor(flags).unchangedClassLine;
  return lineInputs(in, why,
                    [&](const std::vector<uint8_t>& map, const uint32_t* diff, const uint32_t* look,
                        int w, int lines, uint32_t t, uint32_t n, std::string& what) {
                      return classLineOne(f, map, diff, look, w, lines, t, n, what);
                    });
}

uint64_t classLineBench(unsigned flags, KernelInputs& in) {
  const UnchangedClassLineFn f = unchangedKernelsFor(flags).unchangedClassLine;
  std::vector<uint8_t> cls(kFrame), look(kFrame), map(kFrame);
  differenceClassesScalar(frame(in, 1), frame(in, 0), cls.data(), int(kFrame), 30, 80);
  differenceClassesScalar(frame(in, 2), frame(in, 0), look.data(), int(kFrame), 30, 80);
  uint64_t calls = 0;
  for (int pass = 0; pass < 100; ++pass) {
    std::fill(map.begin(), map.end(), kMapCoded);
    for (int l = 0; l < kSide; ++l, ++calls) {
      const size_t first = size_t(l) * kSide;
      f(map.data() + first, cls.data() + first, look.data() + first, kSide, l > 0 && l < kSide - 1,
        true);
    }
  }
  if (map[12345] == 7) std::printf(" ");
  return calls;
}

// ---- Run map of the rectangle search ----

bool runsSame(unsigned flags) {
  return rectangleSearchKernelsFor(flags).runMapLine == runMapLineScalar;
}

bool runsOne(RunMapLineFn f, const uint8_t* map, int w, uint8_t candidate, std::string& why) {
  std::vector<uint8_t> ref(size_t(w) + 1, 0xAB), got(size_t(w) + 1, 0xAB);
  runMapLineScalar(map, ref.data(), w, candidate);
  f(map, got.data(), w, candidate);
  if (got == ref) return true;
  const size_t i = size_t(std::mismatch(got.begin(), got.end(), ref.begin()).first - got.begin());
  why = "width " + std::to_string(w) + " candidate " + std::to_string(candidate) + ": entry " +
        std::to_string(i) + " run " + std::to_string(got[i]) + ", reference " +
        std::to_string(ref[i]);
  return false;
}

// The unchanged test's map of each teapot frame against the one before.
std::vector<uint8_t> footageMap(const KernelInputs& in, size_t k, uint32_t t, uint32_t n) {
  std::vector<uint32_t> diff(kFrame);
  std::vector<uint8_t> map(kFrame, kMapCoded);
  differenceMapScalar(frame(in, k + 1), frame(in, k), diff.data(), int(kFrame));
  for (int l = 0; l < kSide; ++l)
    unchangedLineScalar(map.data() + size_t(l) * kSide, diff.data() + size_t(l) * kSide, nullptr,
                        kSide, l > 0 && l < kSide - 1, t, n);
  return map;
}

bool runsCheck(unsigned flags, KernelInputs& in, std::string& why) {
  const RunMapLineFn f = rectangleSearchKernelsFor(flags).runMapLine;
  for (size_t k = 0; k + 1 < frameCount(in); ++k)
    for (uint32_t t : {0u, 30u, 300u, 100000u}) {
      const std::vector<uint8_t> map = footageMap(in, k, t, t * 3);
      for (int l = 0; l < kSide; ++l)
        for (uint8_t c : {uint8_t(kMapCandidate), uint8_t(kMapCoded)})
          if (!runsOne(f, map.data() + size_t(l) * kSide, kSide, c, why)) return false;
      // One long line: runs past the cap of 255.
      if (!runsOne(f, map.data(), int(kFrame), kMapCandidate, why)) return false;
    }
  // Random lines of every width up to 600, from sparse to nearly all candidates.
  std::uniform_int_distribution<int> width(0, 600), percent(0, 100), value(0, 99);
  for (int pass = 0; pass < 3000; ++pass) {
    const int w = pass < 100 ? pass : width(in.random), p = percent(in.random);
    std::vector<uint8_t> map(static_cast<size_t>(w));
    for (uint8_t& m : map)
      m = value(in.random) < p ? uint8_t(kMapCandidate) : uint8_t(value(in.random) % 3);
    if (!runsOne(f, map.data(), w, kMapCandidate, why)) return false;
  }
  return true;
}

uint64_t runsBench(unsigned flags, KernelInputs& in) {
  const RunMapLineFn f = rectangleSearchKernelsFor(flags).runMapLine;
  const std::vector<uint8_t> map = footageMap(in, 0, 30, 90);
  std::vector<uint8_t> runs(kFrame);
  uint64_t calls = 0;
  for (int pass = 0; pass < 200; ++pass)
    for (int l = 0; l < kSide; ++l, ++calls)
      f(map.data() + size_t(l) * kSide, runs.data() + size_t(l) * kSide, kSide, kMapCandidate);
  if (runs[12345] == 7) std::printf(" ");
  return calls;
}

// ---- Solid rectangles' runs ----

bool sameRunsSame(unsigned flags) {
  const RectangleSearchKernels k = rectangleSearchKernelsFor(flags);
  return k.sameRunLine32 == sameRunLine32Scalar && k.sameRunLine16 == sameRunLine16Scalar;
}

// Both widths of value through f and the reference; the values are exactly `w` long, so that a
// read past the line's end would take whatever follows.
bool sameRunsOne(const RectangleSearchKernels& k, const uint8_t* map, const uint32_t* value, int w,
                 uint8_t candidate, std::string& why) {
  std::vector<uint16_t> value16(value, value + w);
  for (uint16_t& v : value16) v = uint16_t(v >> 1);
  for (int bits : {32, 16}) {
    std::vector<uint8_t> ref(size_t(w) + 1, 0xAB), got(size_t(w) + 1, 0xAB);
    if (bits == 32) {
      sameRunLine32Scalar(map, value, ref.data(), w, candidate);
      k.sameRunLine32(map, value, got.data(), w, candidate);
    } else {
      sameRunLine16Scalar(map, value16.data(), ref.data(), w, candidate);
      k.sameRunLine16(map, value16.data(), got.data(), w, candidate);
    }
    if (got == ref) continue;
    const size_t i = size_t(std::mismatch(got.begin(), got.end(), ref.begin()).first - got.begin());
    why = std::to_string(bits) + "-bit, width " + std::to_string(w) + " candidate " +
          std::to_string(candidate) + ": entry " + std::to_string(i) + " run " +
          std::to_string(got[i]) + ", reference " + std::to_string(ref[i]);
    return false;
  }
  return true;
}

bool sameRunsCheck(unsigned flags, KernelInputs& in, std::string& why) {
  const RectangleSearchKernels k = rectangleSearchKernelsFor(flags);
  // The teapot's colours as targets (spread over 17 bits) on the unchanged test's maps.
  for (size_t f = 0; f + 1 < frameCount(in); ++f) {
    const uint16_t* c = frame(in, f);
    std::vector<uint32_t> t(kFrame);
    for (size_t i = 0; i < kFrame; ++i) t[i] = uint32_t(c[i]) * 0x10101u & 0x1FFFF;
    const std::vector<uint8_t> map = footageMap(in, f, 30, 90);
    for (int l = 0; l < kSide; ++l)
      for (uint8_t cand : {uint8_t(kMapCandidate), uint8_t(kMapCoded)})
        if (!sameRunsOne(k, map.data() + size_t(l) * kSide, t.data() + size_t(l) * kSide, kSide,
                         cand, why))
          return false;
  }
  // Random lines of every width up to 700 with one to four values (runs past 255 among them),
  // values differing in one high bit, from sparse to all candidates.
  std::uniform_int_distribution<int> width(0, 700), percent(0, 100), bit(0, 16);
  for (int pass = 0; pass < 3000; ++pass) {
    const int w = pass < 100 ? pass : width(in.random), p = percent(in.random);
    const int kinds = 1 + pass % 4;
    std::vector<uint32_t> value(static_cast<size_t>(w));
    std::vector<uint8_t> map(static_cast<size_t>(w));
    const uint32_t high = 1u << bit(in.random);
    for (int x = 0; x < w; ++x) {
      value[size_t(x)] = (percent(in.random) % kinds ? high : 0) | 0x3;
      map[size_t(x)] = percent(in.random) < p ? uint8_t(255) : uint8_t(percent(in.random) % 3);
    }
    if (!sameRunsOne(k, map.data(), value.data(), w, 255, why)) return false;
  }
  return true;
}

uint64_t sameRunsBench(unsigned flags, KernelInputs& in) {
  const RectangleSearchKernels k = rectangleSearchKernelsFor(flags);
  const uint16_t* c = frame(in, 0);
  std::vector<uint32_t> t(kFrame);
  for (size_t i = 0; i < kFrame; ++i) t[i] = uint32_t(c[i] & 0x7BDE);  // fewer levels: runs
  const std::vector<uint8_t> map = footageMap(in, 0, 30, 90);
  std::vector<uint8_t> runs(kFrame);
  uint64_t calls = 0;
  for (int pass = 0; pass < 200; ++pass)
    for (int l = 0; l < kSide; ++l, ++calls) {
      const size_t base = size_t(l) * kSide;
      k.sameRunLine32(map.data() + base, t.data() + base, runs.data() + base, kSide, kMapCoded);
    }
  if (runs[12345] == 7) std::printf(" ");
  return calls;
}

// ---- Equal neighbours and heights of the rectangle search ----

bool equalSame(unsigned flags) {
  const RectangleSearchKernels k = rectangleSearchKernelsFor(flags);
  return k.equalLine32 == equalLine32Scalar && k.equalLine16 == equalLine16Scalar;
}

template <typename T, typename Fn, typename Ref>
bool equalOne(Fn f, Ref ref, const T* a, const T* b, int n, std::string& why) {
  std::vector<uint8_t> want(size_t(n) + 1, 0xAB), got(size_t(n) + 1, 0xAB);
  ref(a, b, want.data(), n);
  f(a, b, got.data(), n);
  if (got == want) return true;
  const size_t i = size_t(std::mismatch(got.begin(), got.end(), want.begin()).first - got.begin());
  why = std::to_string(sizeof(T) * 8) + "-bit, n " + std::to_string(n) + ": entry " +
        std::to_string(i) + " gives " + std::to_string(got[i]) + ", reference " +
        std::to_string(want[i]);
  return false;
}

bool equalCheck(unsigned flags, KernelInputs& in, std::string& why) {
  const RectangleSearchKernels k = rectangleSearchKernelsFor(flags);
  // The teapot's colours against the right neighbour and the pixel below, and as targets
  // (the colour spread over 17 bits, so that every byte of a lane matters).
  for (size_t f = 0; f < frameCount(in); ++f) {
    const uint16_t* c = frame(in, f);
    std::vector<uint32_t> t(kFrame);
    for (size_t i = 0; i < kFrame; ++i) t[i] = uint32_t(c[i]) * 0x10101u & 0x1FFFF;
    for (int l = 0; l + 1 < kSide; ++l) {
      const size_t base = size_t(l) * kSide;
      if (!equalOne(k.equalLine16, equalLine16Scalar, c + base, c + base + 1, kSide - 1, why) ||
          !equalOne(k.equalLine16, equalLine16Scalar, c + base, c + base + kSide, kSide, why) ||
          !equalOne(k.equalLine32, equalLine32Scalar, t.data() + base, t.data() + base + 1,
                    kSide - 1, why) ||
          !equalOne(k.equalLine32, equalLine32Scalar, t.data() + base, t.data() + base + kSide,
                    kSide, why))
        return false;
    }
  }
  // Random lines of every length up to 600 with few values; values differing in one high bit.
  std::uniform_int_distribution<int> length(0, 600), value(0, 2), bit(0, 16);
  for (int pass = 0; pass < 2000; ++pass) {
    const int n = pass < 100 ? pass : length(in.random);
    std::vector<uint32_t> a(size_t(n) + 1), b(size_t(n) + 1);
    std::vector<uint16_t> a16(size_t(n) + 1), b16(size_t(n) + 1);
    for (int x = 0; x <= n; ++x) {
      a[size_t(x)] = uint32_t(value(in.random)) << bit(in.random);
      b[size_t(x)] = value(in.random) ? a[size_t(x)] : a[size_t(x)] ^ (1u << bit(in.random));
      a16[size_t(x)] = uint16_t(a[size_t(x)] >> 1);
      b16[size_t(x)] = uint16_t(b[size_t(x)] >> 1);
    }
    if (!equalOne(k.equalLine32, equalLine32Scalar, a.data(), b.data(), n, why) ||
        !equalOne(k.equalLine16, equalLine16Scalar, a16.data(), b16.data(), n, why))
      return false;
  }
  return true;
}

uint64_t equalBench(unsigned flags, KernelInputs& in) {
  const RectangleSearchKernels k = rectangleSearchKernelsFor(flags);
  const uint16_t* c = frame(in, 0);
  std::vector<uint32_t> t(c, c + kFrame);
  std::vector<uint8_t> out(kSide);
  uint64_t calls = 0;
  for (int pass = 0; pass < 200; ++pass)
    for (int l = 0; l + 1 < kSide; ++l, calls += 2) {
      const size_t base = size_t(l) * kSide;
      k.equalLine32(t.data() + base, t.data() + base + kSide, out.data(), kSide);
      k.equalLine16(c + base, c + base + 1, out.data(), kSide - 1);
    }
  if (out[17] == 7) std::printf(" ");
  return calls;
}

bool heightsSame(unsigned flags) {
  return rectangleSearchKernelsFor(flags).heightsLine == heightsLineScalar;
}

// Runs one job through f and the reference; job.heights and job.columns are filled by the
// reference (the heights feed the next line).
bool heightsOne(HeightsLineFn f, HeightsLineJob job, std::vector<uint8_t>& heights,
                std::string& why) {
  const size_t w = size_t(job.width);
  std::vector<uint8_t> got(w + 1, 0xAB);
  heights.assign(w + 1, 0xAB);
  std::vector<int32_t> wantColumns(w + 1, -7), gotColumns(w + 1, -7);
  job.heights = heights.data();
  job.columns = wantColumns.data();
  const int want = heightsLineScalar(job);
  job.heights = got.data();
  job.columns = gotColumns.data();
  const int n = f(job);
  const std::string what = "width " + std::to_string(w) + " minArea " +
                           std::to_string(job.minArea) + (job.below ? "" : " (last line)") +
                           (job.above ? "" : " (first line)") +
                           (job.sameBelow || job.sameAbove ? " same-value" : "");
  if (got != heights) {
    const size_t i =
        size_t(std::mismatch(got.begin(), got.end(), heights.begin()).first - got.begin());
    why = what + ": height " + std::to_string(i) + " is " + std::to_string(got[i]) +
          ", reference " + std::to_string(heights[i]);
    return false;
  }
  if (n != want || gotColumns != wantColumns) {
    why = what + ": " + std::to_string(n) + " columns, reference " + std::to_string(want);
    return false;
  }
  return true;
}

bool heightsCheck(unsigned flags, KernelInputs& in, std::string& why) {
  const HeightsLineFn f = rectangleSearchKernelsFor(flags).heightsLine;
  std::vector<uint8_t> heights;
  // The teapot's unchanged maps, bottom-up as the search goes, each line from the reference's
  // heights of the line below; every other line with neighbours of one value above and below.
  for (size_t k = 0; k + 1 < frameCount(in); ++k)
    for (uint32_t t : {30u, 300u}) {
      const std::vector<uint8_t> map = footageMap(in, k, t, t * 3);
      std::vector<uint8_t> runs(kFrame), same(kSide), sameUp(kSide);
      for (int l = 0; l < kSide; ++l)
        runMapLineScalar(map.data() + size_t(l) * kSide, runs.data() + size_t(l) * kSide, kSide,
                         kMapCandidate);
      for (uint32_t minArea : {0u, 1u, 12u, 46u, 400u, 65025u, 70000u}) {
        std::vector<uint8_t> below;
        for (int l = kSide - 1; l >= 0; --l) {
          for (int x = 0; x < kSide; ++x) {
            same[size_t(x)] = uint8_t((x * 7 + l) % 5 != 0);
            sameUp[size_t(x)] = uint8_t((x * 3 + l) % 4 != 0);
          }
          HeightsLineJob job{};
          job.runs = runs.data() + size_t(l) * kSide;
          job.above = l > 0 ? job.runs - kSide : nullptr;
          job.sameAbove = l % 2 && l > 0 ? sameUp.data() : nullptr;
          job.below = below.empty() ? nullptr : below.data();
          job.sameBelow = l % 2 && !below.empty() ? same.data() : nullptr;
          job.width = kSide;
          job.minArea = minArea;
          if (!heightsOne(f, job, heights, why)) return false;
          below.assign(heights.begin(), heights.end() - 1);
        }
      }
    }
  // Random lines of every width up to 600: runs, runs above and heights below up to 255.
  std::uniform_int_distribution<int> width(0, 600), byte(0, 255), percent(0, 99);
  for (int pass = 0; pass < 3000; ++pass) {
    const int w = pass < 100 ? pass : width(in.random), p = percent(in.random);
    std::vector<uint8_t> runs(size_t(w) + 1), above(size_t(w) + 1), below(size_t(w) + 1),
        same(size_t(w) + 1), sameUp(size_t(w) + 1);
    for (int x = 0; x < w; ++x) {
      runs[size_t(x)] = percent(in.random) < p ? uint8_t(byte(in.random)) : 0;
      // Often the same run above (the hold-back), sometimes one more or less.
      const int a =
          percent(in.random) < 50 ? runs[size_t(x)] + percent(in.random) % 3 - 1 : byte(in.random);
      above[size_t(x)] = uint8_t(std::clamp(a, 0, 255));
      below[size_t(x)] = percent(in.random) < p ? uint8_t(byte(in.random)) : 0;
      // Heights of 255 and beyond come from below (254 and 255).
      if (percent(in.random) < 5) below[size_t(x)] = uint8_t(254 + percent(in.random) % 2);
      same[size_t(x)] = uint8_t(percent(in.random) < 50 ? 0 : 1 + percent(in.random));
      sameUp[size_t(x)] = uint8_t(percent(in.random) < 30 ? 0 : 1 + percent(in.random));
    }
    HeightsLineJob job{};
    job.runs = runs.data();
    job.above = pass % 5 ? above.data() : nullptr;
    job.sameAbove = pass % 2 && job.above ? sameUp.data() : nullptr;
    job.below = pass % 3 ? below.data() : nullptr;
    job.sameBelow = pass % 2 && job.below ? same.data() : nullptr;
    job.width = w;
    job.minArea =
        uint32_t(percent(in.random) < 10 ? byte(in.random) * byte(in.random) : percent(in.random));
    if (!heightsOne(f, job, heights, why)) return false;
  }
  return true;
}

uint64_t heightsBench(unsigned flags, KernelInputs& in) {
  const HeightsLineFn f = rectangleSearchKernelsFor(flags).heightsLine;
  const std::vector<uint8_t> map = footageMap(in, 0, 30, 90);
  std::vector<uint8_t> runs(kFrame), heights(kFrame);
  std::vector<int32_t> columns(kSide);
  for (int l = 0; l < kSide; ++l)
    runMapLineScalar(map.data() + size_t(l) * kSide, runs.data() + size_t(l) * kSide, kSide,
                     kMapCandidate);
  uint64_t calls = 0, found = 0;
  for (int pass = 0; pass < 200; ++pass)
    for (int l = kSide - 1; l >= 0; --l, ++calls) {
      const size_t base = size_t(l) * kSide;
      HeightsLineJob job{};
      job.runs = runs.data() + base;
      job.above = l > 0 ? job.runs - kSide : nullptr;
      job.below = l + 1 < kSide ? heights.data() + base + kSide : nullptr;
      job.heights = heights.data() + base;
      job.width = kSide;
      job.minArea = 46;
      job.columns = columns.data();
      found += uint64_t(f(job));
    }
  if (found == 7) std::printf(" ");
  return calls;
}

bool columnSame(unsigned flags) {
  return rectangleSearchKernelsFor(flags).largestInColumn == largestInColumnScalar;
}

bool columnCheck(unsigned flags, KernelInputs& in, std::string& why) {
  const LargestInColumnFn f = rectangleSearchKernelsFor(flags).largestInColumn;
  auto one = [&](const uint8_t* column, int maxLines, int minArea) {
    const ColumnBest want = largestInColumnScalar(column, maxLines, minArea);
    const ColumnBest got = f(column, maxLines, minArea);
    if (got.area == want.area && got.width == want.width && got.height == want.height) return true;
    why = "maxLines " + std::to_string(maxLines) + " minArea " + std::to_string(minArea) +
          ": area " + std::to_string(got.area) + " (" + std::to_string(got.width) + " x " +
          std::to_string(got.height) + "), reference " + std::to_string(want.area) + " (" +
          std::to_string(want.width) + " x " + std::to_string(want.height) + ")";
    return false;
  };
  // The columns of the teapot's run maps from every line, as the search walks them.
  for (size_t k = 0; k + 1 < frameCount(in); k += 3) {
    const std::vector<uint8_t> map = footageMap(in, k, 300, 900);
    std::vector<uint8_t> runs(kFrame), byColumn(kFrame + 32);
    for (int l = 0; l < kSide; ++l)
      runMapLineScalar(map.data() + size_t(l) * kSide, runs.data() + size_t(l) * kSide, kSide,
                       kMapCandidate);
    for (int l = 0; l < kSide; ++l)
      for (int x = 0; x < kSide; ++x) byColumn[size_t(x) * kSide + l] = runs[size_t(l) * kSide + x];
    for (int x = 0; x < kSide; x += 3)
      for (int l = 0; l < kSide; ++l) {
        int h = 0;  // the candidate lines from l down, as the search's heights
        while (l + h < kSide && h < 255 && byColumn[size_t(x) * kSide + l + h]) ++h;
        for (int minArea : {1, 46})
          if (!one(byColumn.data() + size_t(x) * kSide + l, std::max(h, 1), minArea)) return false;
      }
  }
  // Random columns of every height up to 255: narrowing slowly, in steps, with equal areas at
  // several heights, and with a 0 inside.
  std::uniform_int_distribution<int> height(1, 255), byte(0, 255), percent(0, 99);
  std::vector<uint8_t> column(255 + 32);
  for (int pass = 0; pass < 20000; ++pass) {
    const int maxLines = pass < 255 ? pass + 1 : height(in.random);
    int run = byte(in.random);
    const int shape = pass % 4;
    for (int h = 0; h < 255 + 32; ++h) {
      if (shape == 0)
        run = byte(in.random);
      else if (shape == 1 && percent(in.random) < 20)
        run = std::max(0, run - percent(in.random) % 9);
      else if (shape == 2)
        run = h < 2 * maxLines / 3 ? 240 : 120;  // equal areas
      column[size_t(h)] = uint8_t(std::max(run, shape == 3 ? 0 : 1));
    }
    if (shape == 3) column[size_t(percent(in.random) % maxLines)] = 0;
    const int minArea =
        percent(in.random) < 10 ? byte(in.random) * byte(in.random) : byte(in.random) % 50;
    if (!one(column.data(), maxLines, minArea)) return false;
  }
  return true;
}

uint64_t columnBench(unsigned flags, KernelInputs& in) {
  const LargestInColumnFn f = rectangleSearchKernelsFor(flags).largestInColumn;
  const std::vector<uint8_t> map = footageMap(in, 0, 300, 900);
  std::vector<uint8_t> runs(kFrame), byColumn(kFrame + 32), heights(kFrame);
  for (int l = 0; l < kSide; ++l)
    runMapLineScalar(map.data() + size_t(l) * kSide, runs.data() + size_t(l) * kSide, kSide,
                     kMapCandidate);
  for (int l = 0; l < kSide; ++l)
    for (int x = 0; x < kSide; ++x) byColumn[size_t(x) * kSide + l] = runs[size_t(l) * kSide + x];
  for (int x = 0; x < kSide; ++x)
    for (int l = kSide - 1; l >= 0; --l) {
      const size_t i = size_t(x) * kSide + l;
      heights[i] = !byColumn[i]    ? 0
                   : l + 1 < kSide ? uint8_t(std::min(heights[i + 1], uint8_t(254)) + 1)
                                   : 1;
    }
  uint64_t calls = 0, total = 0;
  for (int pass = 0; pass < 20; ++pass)
    for (size_t i = 0; i < kFrame; ++i)
      if (heights[i]) {
        total += uint64_t(f(byColumn.data() + i, heights[i], 46).area);
        ++calls;
      }
  if (total == 7) std::printf(" ");
  return calls;
}

bool replaceSame(unsigned flags) {
  return rectangleSearchKernelsFor(flags).replaceEntries == replaceEntriesScalar;
}

bool replaceCheck(unsigned flags, KernelInputs& in, std::string& why) {
  const ReplaceEntriesFn f = rectangleSearchKernelsFor(flags).replaceEntries;
  // Maps of every length up to 700 from few values (the block-map values and 255), every one
  // of them replaced; the byte past the end must stay.
  std::uniform_int_distribution<int> length(0, 700), value(0, 8);
  for (int pass = 0; pass < 2000; ++pass) {
    const int n = pass < 100 ? pass : length(in.random);
    std::vector<uint8_t> map(size_t(n) + 1);
    for (uint8_t& m : map) m = uint8_t(value(in.random) == 8 ? 255 : value(in.random));
    const uint8_t from = map[size_t(pass) % map.size()], to = uint8_t(value(in.random));
    std::vector<uint8_t> want = map, got = map;
    replaceEntriesScalar(want.data(), n, from, to);
    f(got.data(), n, from, to);
    if (got != want) {
      const size_t i =
          size_t(std::mismatch(got.begin(), got.end(), want.begin()).first - got.begin());
      why = "n " + std::to_string(n) + " from " + std::to_string(from) + " to " +
            std::to_string(to) + ": entry " + std::to_string(i) + " is " + std::to_string(got[i]) +
            ", reference " + std::to_string(want[i]);
      return false;
    }
  }
  return true;
}

uint64_t replaceBench(unsigned flags, KernelInputs& in) {
  const ReplaceEntriesFn f = rectangleSearchKernelsFor(flags).replaceEntries;
  std::vector<uint8_t> map = footageMap(in, 0, 30, 90);
  uint64_t calls = 0;
  for (int pass = 0; pass < 500; ++pass, ++calls)
    f(map.data(), int(kFrame), pass & 1 ? kMapCoded : kMapCandidate,
      pass & 1 ? kMapCandidate : kMapCoded);
  if (map[4321] == 7) std::printf(" ");
  return calls;
}

bool transposeSame(unsigned flags) {
  return rectangleSearchKernelsFor(flags).transposeRuns == transposeRunsScalar;
}

bool transposeOne(TransposeRunsFn f, const uint8_t* runs, int w, int lines, std::string& why) {
  const size_t n = size_t(w) * size_t(lines);
  std::vector<uint8_t> want(n + 1, 0xAB), got(n + 1, 0xAB);
  transposeRunsScalar(runs, w, lines, want.data());
  f(runs, w, lines, got.data());
  if (got == want) return true;
  const size_t i = size_t(std::mismatch(got.begin(), got.end(), want.begin()).first - got.begin());
  why = std::to_string(w) + " x " + std::to_string(lines) + ": entry " + std::to_string(i) +
        " is " + std::to_string(got[i]) + ", reference " + std::to_string(want[i]);
  return false;
}

bool transposeCheck(unsigned flags, KernelInputs& in, std::string& why) {
  const TransposeRunsFn f = rectangleSearchKernelsFor(flags).transposeRuns;
  // Every entry distinct within a block of 256: a misplaced entry shows.
  std::vector<uint8_t> runs(size_t(kFrame) + 64);
  for (size_t i = 0; i < runs.size(); ++i) runs[i] = uint8_t(i * 7 + i / 256);
  for (int w : {kSide, 1, 15, 16, 17, 33, 640, 721})
    for (int lines : {1, 15, 16, 17, 48, 95, 102})
      if (size_t(w) * size_t(lines) <= runs.size() && !transposeOne(f, runs.data(), w, lines, why))
        return false;
  std::uniform_int_distribution<int> side(1, 300);
  for (int pass = 0; pass < 200; ++pass) {
    const int w = side(in.random), lines = side(in.random) % 200 + 1;
    if (!transposeOne(f, runs.data(), w, lines, why)) return false;
  }
  return true;
}

uint64_t transposeBench(unsigned flags, KernelInputs& in) {
  const TransposeRunsFn f = rectangleSearchKernelsFor(flags).transposeRuns;
  const uint16_t* c = frame(in, 0);
  std::vector<uint8_t> runs(kFrame), out(kFrame);
  for (size_t i = 0; i < kFrame; ++i) runs[i] = uint8_t(c[i]);
  uint64_t calls = 0;
  for (int pass = 0; pass < 500; ++pass, ++calls) f(runs.data(), kSide, kSide, out.data());
  if (out[4321] == 7) std::printf(" ");
  return calls;
}

}  // namespace

std::vector<KernelCase> unchangedCases() {
  return {{"difference map (frame)", diffSame, diffCheck, diffBench},
          {"unchanged test (line)", lineSame, lineCheck, lineBench},
          {"difference classes (frame)", classesSame, classesCheck, classesBench},
          {"unchanged test on classes (line)", classLineSame, classLineCheck, classLineBench},
          {"rectangle run map (line)", runsSame, runsCheck, runsBench},
          {"rectangle solid runs (line)", sameRunsSame, sameRunsCheck, sameRunsBench},
          {"rectangle equal neighbours (line)", equalSame, equalCheck, equalBench},
          {"rectangle heights (line)", heightsSame, heightsCheck, heightsBench},
          {"rectangle largest down a column", columnSame, columnCheck, columnBench},
          {"rectangle runs by column (map)", transposeSame, transposeCheck, transposeBench},
          {"rectangle candidates back to coded (map)", replaceSame, replaceCheck, replaceBench}};
}

}  // namespace zov::test

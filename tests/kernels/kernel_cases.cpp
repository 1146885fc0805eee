#include "kernel_cases.h"

#include <algorithm>
#include <cstdio>
#include <iterator>

#include "encoder/luma_search_kernels.h"
#include "encoder/prequantise_kernels.h"
#include "encoder/residual_kernels.h"
#include "encoder/rgb15_kernels.h"
#include "format/colour_tables.h"

namespace zov::test {
namespace {

std::string hex(uint32_t v) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "%#x", v);
  return buf;
}

// ---- Best-luma search ----

// The colour table by chroma rows, as the pre-quantiser keeps it.
const std::vector<uint16_t>& lumaRows() {
  static const std::vector<uint16_t> rows = [] {
    const ColourTables& t = colourTables(PixelKind::Rgb555);
    std::vector<uint16_t> r(static_cast<size_t>(kYcValues) + 2);  // as the encoder keeps it
    for (uint32_t c = 0; c < 4096; ++c)
      for (uint32_t y = 0; y < 32; ++y) r[c * 32 + y] = t.ycToRgb[y << 12 | c];
    return r;
  }();
  return rows;
}

bool lumaSame(unsigned flags) {
  return lumaSearchKernelsFor(flags).bestLumaInRow == bestLumaInRowScalar;
}

bool lumaOne(BestLumaInRowFn f, const uint16_t* row, uint16_t colour, int start, std::string& why) {
  int dRef = -1, d = -1;
  const int yRef = bestLumaInRowScalar(row, colour, start, &dRef);
  const int y = f(row, colour, start, &d);
  if (y == yRef && d == dRef) return true;
  why = "colour " + hex(colour) + " start " + std::to_string(start) + ": luma " +
        std::to_string(y) + " distance " + std::to_string(d) + ", reference " +
        std::to_string(yRef) + " " + std::to_string(dRef);
  return false;
}

bool lumaCheck(unsigned flags, KernelInputs& in, std::string& why) {
  const BestLumaInRowFn f = lumaSearchKernelsFor(flags).bestLumaInRow;
  const ColourTables& t = colourTables(PixelKind::Rgb555);
  const std::vector<uint16_t>& rows = lumaRows();
  // Real questions: footage colours under the chromas of their neighbours, from their own luma.
  const std::vector<uint16_t>& c = in.footageColours;
  for (size_t i = 0; i + 7 < c.size(); i += 3) {
    const uint32_t chroma = t.rgbToYc[c[i + 7]] & 0xFFF;
    if (!lumaOne(f, rows.data() + chroma * 32, c[i], int(t.rgbToYc[c[i]] >> 12), why)) return false;
  }
  // Random rows (any 15-bit colours, not only the table's) and every start.
  std::uniform_int_distribution<int> colour(0, 0x7FFF), small(0, 3);
  uint16_t row[32];
  for (int n = 0; n < 20000; ++n) {
    const bool flatRuns = small(in.random) == 0;  // equal neighbours test the ties
    for (int y = 0; y < 32; ++y)
      row[y] = flatRuns && y > 0 && small(in.random) ? row[y - 1] : uint16_t(colour(in.random));
    const uint16_t target = uint16_t(colour(in.random));
    if (!lumaOne(f, row, target, n % 32, why)) return false;
    if (!lumaOne(f, row, row[n % 32], (n * 7) % 32, why)) return false;
  }
  // Every chroma row of the table with colours across the cube.
  for (uint32_t chroma = 0; chroma < 4096; ++chroma) {
    const uint16_t target = uint16_t(colour(in.random));
    if (!lumaOne(f, rows.data() + chroma * 32, target, int(t.rgbToYc[target] >> 12), why))
      return false;
  }
  return true;
}

uint64_t lumaBench(unsigned flags, KernelInputs& in) {
  const BestLumaInRowFn f = lumaSearchKernelsFor(flags).bestLumaInRow;
  const ColourTables& t = colourTables(PixelKind::Rgb555);
  const std::vector<uint16_t>& rows = lumaRows();
  const std::vector<uint16_t>& c = in.footageColours;
  uint64_t calls = 0, sink = 0;
  for (int pass = 0; pass < 4; ++pass)
    for (size_t i = 0; i + 7 < c.size(); ++i) {
      const uint32_t chroma = t.rgbToYc[c[i + 7]] & 0xFFF;
      int d = 0;
      sink += uint64_t(f(rows.data() + chroma * 32, c[i], int(t.rgbToYc[c[i]] >> 12), &d)) + d;
      ++calls;
    }
  if (sink == 1) std::printf(" ");
  return calls;
}

// ---- Best-luma distances of a cell's colours under one chroma (the vote) ----

const std::vector<LumaRowModel>& lumaModels() {
  static const std::vector<LumaRowModel> models = [] {
    std::vector<LumaRowModel> m(4096);
    buildLumaRowModels(lumaRows().data(), m.data());
    return m;
  }();
  return models;
}

bool distancesSame(unsigned flags) {
  return lumaSearchKernelsFor(flags).lumaDistances == lumaDistancesScalar;
}

void fillColours(VoteColours& c, const uint16_t* colours, int count) {
  setVoteColours(c, colours, count, colourTables(PixelKind::Rgb555).rgbToYc.data());
}

bool distancesOne(LumaDistancesFn f, const VoteColours& c, uint32_t chroma, std::string& why) {
  alignas(32) uint32_t ref[16] = {}, got[16] = {}, than[16] = {};
  uint8_t refLuma[16] = {}, gotLuma[16] = {};
  const uint16_t* row = lumaRows().data() + chroma * 32;
  VoteTally refTally, gotTally;
  lumaDistancesScalar(lumaModels()[chroma], row, c, than, refLuma, ref, &refTally);
  // The tally against distances one below, equal to and one above the right ones.
  for (int u = 0; u < c.count; ++u) than[u] = uint32_t(std::max(0, int(ref[u]) + u % 3 - 1));
  lumaDistancesScalar(lumaModels()[chroma], row, c, than, refLuma, ref, &refTally);
  // The lanes a version leaves to the caller get the reference's walk, as the vote does.
  uint32_t left = f(lumaModels()[chroma], row, c, than, gotLuma, got, &gotTally);
  if (left >> c.count || gotTally.undone != __builtin_popcount(left)) {
    why = "lanes beyond the cell's colours reported undone, or the undone miscounted";
    return false;
  }
  for (; left; left &= left - 1) {
    const int u = __builtin_ctz(left);
    int d = 0;
    gotLuma[u] = uint8_t(bestLumaInRowScalar(row, c.colour[u], c.start[u], &d));
    got[u] = uint32_t(d);
    gotTally.closer += got[u] < than[u];
    gotTally.sum += got[u];
  }
  for (int u = 0; u < c.count; ++u) {
    if (got[u] == ref[u] && gotLuma[u] == refLuma[u]) continue;
    why = "chroma " + hex(chroma) + " colour " + hex(c.colour[u]) + " (lane " + std::to_string(u) +
          " of " + std::to_string(c.count) + "): luma " + std::to_string(gotLuma[u]) +
          " distance " + std::to_string(got[u]) + ", reference " + std::to_string(refLuma[u]) +
          " " + std::to_string(ref[u]);
    return false;
  }
  if (gotTally.closer != refTally.closer || gotTally.sum != refTally.sum) {
    why = "chroma " + hex(chroma) + ": tally " + std::to_string(gotTally.closer) + " closer, sum " +
          std::to_string(gotTally.sum) + ", reference " + std::to_string(refTally.closer) + " " +
          std::to_string(refTally.sum);
    return false;
  }
  return true;
}

bool distancesCheck(unsigned flags, KernelInputs& in, std::string& why) {
  const LumaDistancesFn f = lumaSearchKernelsFor(flags).lumaDistances;
  const ColourTables& t = colourTables(PixelKind::Rgb555);
  VoteColours c;
  // Real cells: sixteen footage colours under the chroma of each of them.
  const std::vector<uint16_t>& fc = in.footageColours;
  for (size_t i = 0; i + 16 <= fc.size(); i += 16 * 7) {
    fillColours(c, fc.data() + i, 16);
    for (int u = 0; u < 16; u += 3)
      if (!distancesOne(f, c, t.rgbToYc[fc[i + size_t(u)]] & 0xFFF, why)) return false;
  }
  // Every chroma with random colours, some of them at the cube's faces (clamped rows), and
  // every cell size.
  std::uniform_int_distribution<int> colour(0, 0x7FFF), level(0, 31), face(0, 3), size(1, 16);
  uint16_t colours[16];
  for (int pass = 0; pass < 8; ++pass)
    for (uint32_t chroma = 0; chroma < 4096; ++chroma) {
      for (uint16_t& v : colours) {
        int r = level(in.random), g = level(in.random), b = level(in.random);
        if (face(in.random) == 0) r = r < 16 ? 0 : 31;
        if (face(in.random) == 0) g = g < 16 ? 0 : 31;
        if (face(in.random) == 0) b = b < 16 ? 0 : 31;
        v = pass % 2 ? uint16_t(colour(in.random)) : uint16_t(r << 10 | g << 5 | b);
      }
      fillColours(c, colours, pass < 4 ? 16 : size(in.random));
      if (!distancesOne(f, c, chroma, why)) return false;
    }
  // Every colour, from its own luma, under a spread of chromas: walks that start on the row's
  // line and beyond either end of it, stay there or cross an end.
  for (uint32_t chroma = 0; chroma < 4096; chroma += 61)
    for (int first = 0; first < 32768; first += 16) {
      for (int u = 0; u < 16; ++u) colours[u] = uint16_t(first + u);
      fillColours(c, colours, 16);
      if (!distancesOne(f, c, chroma, why)) return false;
    }
  return true;
}

uint64_t distancesBench(unsigned flags, KernelInputs& in) {
  const LumaDistancesFn f = lumaSearchKernelsFor(flags).lumaDistances;
  const ColourTables& t = colourTables(PixelKind::Rgb555);
  const std::vector<uint16_t>& fc = in.footageColours;
  const std::vector<uint16_t>& rows = lumaRows();
  const std::vector<LumaRowModel>& models = lumaModels();
  VoteColours c;
  alignas(32) uint32_t d[16], than[16] = {};
  uint8_t y[16];
  VoteTally tally;
  uint64_t calls = 0, sink = 0;
  for (size_t i = 0; i + 16 <= fc.size(); i += 16) {
    fillColours(c, fc.data() + i, 16);
    for (int u = 0; u < 16; u += 2) {
      const uint32_t chroma = t.rgbToYc[fc[i + size_t(u)]] & 0xFFF;
      // The lanes left undone are walked, as the vote does (through its cache).
      for (uint32_t left = f(models[chroma], rows.data() + chroma * 32, c, than, y, d, &tally);
           left; left &= left - 1) {
        int walked = 0;
        const int v = __builtin_ctz(left);
        bestLumaInRowScalar(rows.data() + chroma * 32, c.colour[v], c.start[v], &walked);
        d[v] = uint32_t(walked);
      }
      sink += d[u] + y[u] + tally.sum;
      ++calls;
    }
  }
  if (sink == 1) std::printf(" ");
  return calls;
}

// ---- The vote's bookkeeping of a cell: distinct chromas, filling, tally of a proposal ----

bool bookkeepingSame(unsigned flags) {
  const LumaSearchKernels k = lumaSearchKernelsFor(flags);
  return k.voteChromas == voteChromasScalar && k.voteFill == voteFillScalar &&
         k.voteTally == voteTallyScalar;
}

// One cell of n pixels; entries from n on hold leftovers that must not count.
bool bookkeepingOne(const LumaSearchKernels& k, const uint16_t* colours, const uint32_t* ycs,
                    const uint32_t* d, const uint32_t* than, int n, std::string& why) {
  uint32_t refChromas[16] = {}, gotChromas[16] = {};
  const int refCount = voteChromasScalar(ycs, n, refChromas);
  const int gotCount = k.voteChromas(ycs, n, gotChromas);
  if (refCount != gotCount || !std::equal(refChromas, refChromas + refCount, gotChromas)) {
    why = "distinct chromas of " + std::to_string(n) + " pixels: " + std::to_string(gotCount) +
          ", reference " + std::to_string(refCount) + " (first " + hex(ycs[0]) + ")";
    return false;
  }
  VoteColours ref, got;
  std::fill(std::begin(got.r), std::end(got.r), int16_t(-1));
  std::fill(std::begin(got.start), std::end(got.start), int16_t(-1));
  voteFillScalar(ref, colours, ycs, n);
  k.voteFill(got, colours, ycs, n);
  for (int u = 0; u < 16; ++u)
    if (ref.colour[u] != got.colour[u] || ref.r[u] != got.r[u] || ref.g[u] != got.g[u] ||
        ref.b[u] != got.b[u] || ref.start[u] != got.start[u] ||
        ref.weighted[u] != got.weighted[u] || ref.count != got.count) {
      why = "filling " + std::to_string(n) + " pixels: lane " + std::to_string(u) + " colour " +
            hex(got.colour[u]) + " start " + std::to_string(got.start[u]) + ", reference " +
            hex(ref.colour[u]) + " " + std::to_string(ref.start[u]);
      return false;
    }
  uint32_t refSum = 0, gotSum = 1;
  const int refCloser = voteTallyScalar(d, than, n, &refSum);
  const int gotCloser = k.voteTally(d, than, n, &gotSum);
  if (refCloser != gotCloser || refSum != gotSum) {
    why = "tally of " + std::to_string(n) + " pixels: " + std::to_string(gotCloser) +
          " closer, sum " + std::to_string(gotSum) + ", reference " + std::to_string(refCloser) +
          " " + std::to_string(refSum);
    return false;
  }
  return true;
}

bool bookkeepingCheck(unsigned flags, KernelInputs& in, std::string& why) {
  const LumaSearchKernels k = lumaSearchKernelsFor(flags);
  const ColourTables& t = colourTables(PixelKind::Rgb555);
  const std::vector<uint16_t>& fc = in.footageColours;
  // Distances as the kernels give them (below 2^17), many equal to the best's.
  std::uniform_int_distribution<uint32_t> distance(0, 109 * 31 * 31), coin(0, 3);
  std::uniform_int_distribution<int> colour(0, 0x7FFF), pick(0, 5), size(1, 16);
  const int sizes[] = {2, 4, 8, 16};
  uint16_t colours[16];
  uint32_t ycs[16], d[16], than[16];
  for (int cell = 0; cell < 40000; ++cell) {
    const size_t at = (size_t(cell) * 16) % (fc.size() - 16);
    const bool fewColours = cell % 3 == 0;  // repeated colours and chromas, as in flat areas
    for (int u = 0; u < 16; ++u) {
      colours[u] = cell % 2 ? fc[at + size_t(fewColours ? pick(in.random) : u)]
                            : uint16_t(colour(in.random));
      if (fewColours && cell % 2 == 0 && u > 0 && coin(in.random)) colours[u] = colours[u - 1];
      ycs[u] = t.rgbToYc[colours[u]];
      d[u] = distance(in.random);
      than[u] = coin(in.random) == 0 ? d[u] : distance(in.random);
    }
    const int n = cell % 5 == 4 ? size(in.random) : sizes[cell % 4];
    if (!bookkeepingOne(k, colours, ycs, d, than, n, why)) return false;
  }
  return true;
}

uint64_t bookkeepingBench(unsigned flags, KernelInputs& in) {
  const LumaSearchKernels k = lumaSearchKernelsFor(flags);
  const ColourTables& t = colourTables(PixelKind::Rgb555);
  const std::vector<uint16_t>& fc = in.footageColours;
  std::vector<uint32_t> ycs(fc.size());
  for (size_t i = 0; i < fc.size(); ++i) ycs[i] = t.rgbToYc[fc[i]];
  VoteColours c;
  uint32_t chromas[16], sum = 0;
  uint64_t calls = 0, sink = 0;
  // As the vote does per cell: the chromas, the filling and a tally for about five proposals.
  for (int pass = 0; pass < 4; ++pass)
    for (size_t i = 0; i + 32 <= fc.size(); i += 16) {
      sink += uint64_t(k.voteChromas(ycs.data() + i, 16, chromas));
      k.voteFill(c, fc.data() + i, ycs.data() + i, 16);
      for (int p = 0; p < 5; ++p)
        sink +=
            uint64_t(k.voteTally(ycs.data() + i + size_t(p), ycs.data() + i + 16, 16, &sum)) + sum;
      sink += uint64_t(c.start[3]);
      ++calls;
    }
  if (sink == 1) std::printf(" ");
  return calls;
}

// ---- The whole vote of a cell ----

bool voteSame(unsigned flags) {
  return lumaSearchKernelsFor(flags).voteCell == voteCellScalar;
}

// A worker's view of the tables for the vote, with a cache of its own.
struct VoteWorker {
  std::vector<uint64_t> cache = std::vector<uint64_t>(size_t(1) << kLumaCacheBits, 0);
  VoteCellContext context(BestLumaInRowFn search) {
    return {lumaModels().data(), lumaRows().data(), colourTables(PixelKind::Rgb555).rgbToYc.data(),
            cache.data(), search};
  }
};

bool voteCheck(unsigned flags, KernelInputs& in, std::string& why) {
  const LumaSearchKernels k = lumaSearchKernelsFor(flags);
  const ColourTables& t = colourTables(PixelKind::Rgb555);
  VoteWorker refWorker, gotWorker;
  const VoteCellContext refCtx = refWorker.context(bestLumaInRowScalar);
  const VoteCellContext gotCtx = gotWorker.context(k.bestLumaInRow);
  const std::vector<uint16_t>& fc = in.footageColours;
  std::uniform_int_distribution<int> level(0, 31), face(0, 3), pick(0, 3), size(1, 16), near(-2, 2);
  const int sizes[] = {16, 8, 4, 2};
  alignas(32) uint16_t colours[16];
  alignas(32) uint32_t ycs[16];
  for (int cell = 0; cell < 60000; ++cell) {
    // Footage cells, and cells of a few colours close to each other (the proposals' tallies
    // often come out at exactly half), some at the cube's faces (walks beyond the row's line).
    if (cell % 2 == 0) {
      const size_t at = (size_t(cell) * 8) % (fc.size() - 16);
      std::copy(fc.begin() + long(at), fc.begin() + long(at) + 16, colours);
    } else {
      uint16_t palette[4];
      int r = level(in.random), g = level(in.random), b = level(in.random);
      if (face(in.random) == 0) r = r < 16 ? 0 : 31;
      if (face(in.random) == 0) b = b < 16 ? 0 : 31;
      for (uint16_t& p : palette)
        p = uint16_t(std::clamp(r + near(in.random), 0, 31) << 10 |
                     std::clamp(g + near(in.random), 0, 31) << 5 |
                     std::clamp(b + near(in.random), 0, 31));
      for (uint16_t& v : colours) v = palette[pick(in.random)];
    }
    for (int u = 0; u < 16; ++u) ycs[u] = t.rgbToYc[colours[u]];
    const int n = cell % 7 == 6 ? size(in.random) : sizes[cell % 4];
    uint8_t refLumas[16] = {}, gotLumas[16] = {};
    const uint32_t ref = voteCellScalar(refCtx, colours, ycs, n, refLumas);
    const uint32_t got = k.voteCell(gotCtx, colours, ycs, n, gotLumas);
    if (got == ref && std::equal(refLumas, refLumas + n, gotLumas)) continue;
    why = "cell of " + std::to_string(n) + " pixels (first " + hex(colours[0]) + "): chroma " +
          hex(got) + ", reference " + hex(ref);
    for (int u = 0; u < n; ++u)
      if (gotLumas[u] != refLumas[u]) {
        why += ", pixel " + std::to_string(u) + " luma " + std::to_string(gotLumas[u]) +
               ", reference " + std::to_string(refLumas[u]);
        break;
      }
    return false;
  }
  return true;
}

uint64_t voteBench(unsigned flags, KernelInputs& in) {
  const LumaSearchKernels k = lumaSearchKernelsFor(flags);
  const ColourTables& t = colourTables(PixelKind::Rgb555);
  const std::vector<uint16_t>& fc = in.footageColours;
  std::vector<uint32_t> ycs(fc.size());
  for (size_t i = 0; i < fc.size(); ++i) ycs[i] = t.rgbToYc[fc[i]];
  VoteWorker worker;
  const VoteCellContext ctx = worker.context(k.bestLumaInRow);
  uint8_t lumas[16];
  uint64_t calls = 0, sink = 0;
  for (int pass = 0; pass < 4; ++pass)
    for (size_t i = 0; i + 16 <= fc.size(); i += 16, ++calls)
      sink += k.voteCell(ctx, fc.data() + i, ycs.data() + i, 16, lumas) + lumas[5];
  if (sink == 1) std::printf(" ");
  return calls;
}

// ---- 24-bit to 15-bit colour ----

bool rgb15Same(unsigned flags) {
  return rgb15KernelsFor(flags).bgr24To15 == bgr24To15Scalar;
}

// Every width up to 80, on random bytes with the clamp's edge (252-255)
// and zero frequent. The line fills its buffer exactly, so that a read past it lands outside
// (the sanitizer builds catch it), and the guard entry after the output must stay.
bool rgb15Check(unsigned flags, KernelInputs& in, std::string& why) {
  const Bgr24To15Fn f = rgb15KernelsFor(flags).bgr24To15;
  std::uniform_int_distribution<int> pick(0, 9), any(0, 255), edge(252, 255);
  for (int pass = 0; pass < 3000; ++pass) {
    const int w = pass % 81;
    std::vector<uint8_t> line(size_t(3) * w);
    for (uint8_t& b : line) {
      const int p = pick(in.random);
      b = uint8_t(p == 0 ? 0 : p < 3 ? edge(in.random) : any(in.random));
    }
    std::vector<uint16_t> ref(size_t(w) + 1, 0xBEEF), got(size_t(w) + 1, 0xBEEF);
    bgr24To15Scalar(line.data(), w, ref.data());
    f(line.data(), w, got.data());
    if (got == ref) continue;
    const size_t i = size_t(std::mismatch(got.begin(), got.end(), ref.begin()).first - got.begin());
    why = "width " + std::to_string(w) + " pixel " + std::to_string(i) + ": " + hex(got[i]) +
          ", reference " + hex(ref[i]);
    return false;
  }
  return true;
}

uint64_t rgb15Bench(unsigned flags, KernelInputs& in) {
  const Bgr24To15Fn f = rgb15KernelsFor(flags).bgr24To15;
  std::uniform_int_distribution<int> any(0, 255);
  std::vector<uint8_t> frame(size_t(640) * 480 * 3);
  for (uint8_t& b : frame) b = uint8_t(any(in.random));
  std::vector<uint16_t> out(size_t(640) * 480);
  uint64_t calls = 0;
  for (int pass = 0; pass < 100; ++pass)
    for (int y = 0; y < 480; ++y, ++calls)
      f(frame.data() + size_t(y) * 640 * 3, 640, out.data() + size_t(y) * 640);
  if (out[12345] == 1) std::printf(" ");
  return calls;
}

// ---- The pre-quantiser's luma chain along a line ----

bool lumaLineSame(unsigned flags) {
  return prequantiseKernelsFor(flags).lumaLine == lumaLineScalar;
}

// One line: the sources' colours give the targets the chain reads ahead (and the first pixel's),
// `wanted` the lumas to carry, each cell the chroma of its first pixel.
struct ChainLine {
  std::vector<uint32_t> yc, chroma;
  std::vector<uint8_t> wanted;
  int width = 0, cellShift = 2;
};

ChainLine chainLine(const uint16_t* colours, int w, int cellShift) {
  const ColourTables& t = colourTables(PixelKind::Rgb555);
  ChainLine c;
  c.width = w, c.cellShift = cellShift;
  c.yc.resize(size_t(w));
  c.wanted.resize(size_t(w));
  c.chroma.resize(size_t(w >> cellShift) + 1);
  for (int x = 0; x < w; ++x) {
    c.yc[size_t(x)] = t.rgbToYc[colours[x]];
    c.wanted[size_t(x)] = uint8_t(c.yc[size_t(x)] >> 12);
  }
  for (size_t k = 0; k < c.chroma.size(); ++k)
    c.chroma[k] = c.yc[std::min(k << cellShift, size_t(w) - 1)] & 0xFFF;
  return c;
}

// The chain of one line through the reference and f (reading the colours from the table as it
// is and from the table by chroma); the entries after the line must stay.
bool lumaLineOne(LumaLineFn f, const ChainLine& c, bool extended, std::string& why) {
  const ColourTables& t = colourTables(PixelKind::Rgb555);
  const size_t w = size_t(c.width);
  std::vector<uint8_t> wanted[3];
  std::vector<uint32_t> yc[3];
  std::vector<uint16_t> pic[3];
  for (int k = 0; k < 3; ++k) {
    wanted[k] = c.wanted;
    yc[k] = c.yc;
    yc[k].push_back(0xDEADBEEF);
    pic[k].assign(w + 1, 0xBEEF);
    const LumaLineJob job{wanted[k].data(), yc[k].data(),     pic[k].data(),
                          c.chroma.data(),  t.ycToRgb.data(), c.width,
                          c.cellShift,      extended,         k == 2 ? lumaRows().data() : nullptr};
    (k == 0 ? lumaLineScalar : f)(job);
  }
  for (int k = 1; k < 3; ++k) {
    if (yc[k] == yc[0] && pic[k] == pic[0]) continue;
    const size_t i =
        yc[k] != yc[0]
            ? size_t(std::mismatch(yc[k].begin(), yc[k].end(), yc[0].begin()).first - yc[k].begin())
            : size_t(std::mismatch(pic[k].begin(), pic[k].end(), pic[0].begin()).first -
                     pic[k].begin());
    why = std::string(extended ? "extended" : "doubling") + (k == 2 ? ", by chroma," : "") +
          " width " + std::to_string(w) + " cell shift " + std::to_string(c.cellShift) + " pixel " +
          std::to_string(i) + ": " + hex(yc[k][i]) + "/" + hex(pic[k][i]) + ", reference " +
          hex(yc[0][i]) + "/" + hex(pic[0][i]);
    return false;
  }
  return true;
}

// Lines of footage (their own lumas wanted, and lumas a step or two off as under another
// chroma), and random lines whose lumas walk in small steps with jumps of every size, so that
// both codes double, anticipate edges and fall back in every lane; every width up to 100.
bool lumaLineCheck(unsigned flags, KernelInputs& in, std::string& why) {
  const LumaLineFn f = prequantiseKernelsFor(flags).lumaLine;
  const std::vector<uint16_t>& fc = in.footageColours;
  std::uniform_int_distribution<int> pick(0, 99), any(0, 31), step(-3, 3), colour(0, 0x7FFF);
  for (int pass = 0; pass < 4000; ++pass) {
    const bool extended = pass % 2 == 0;
    const int shift = 1 + (pass / 2) % 2;
    const int w = pass < 400 ? 2 + pass / 4 % 99 : 640;
    const size_t at = size_t(pass) * 997 % (fc.size() - size_t(w));
    ChainLine c = chainLine(fc.data() + at, w, shift);
    if (pass % 3 == 1) {
      for (uint8_t& y : c.wanted) y = uint8_t(std::clamp(y + step(in.random) / 2, 0, 31));
    } else if (pass % 3 == 2) {
      // A walk with jumps; the sources' lumas (read ahead) follow it or not.
      const int jumps = pass % 7 * 3;
      int y = any(in.random);
      for (int x = 0; x < w; ++x) {
        y = pick(in.random) < jumps ? any(in.random) : std::clamp(y + step(in.random), 0, 31);
        c.wanted[size_t(x)] = uint8_t(y);
        const int own = pick(in.random) < jumps ? any(in.random) : y;
        c.yc[size_t(x)] = uint32_t(own) << 12 | uint32_t(colour(in.random) & 0xFFF);
      }
    }
    if (!lumaLineOne(f, c, extended, why)) return false;
  }
  return true;
}

uint64_t lumaLineBench(unsigned flags, KernelInputs& in) {
  const ColourTables& t = colourTables(PixelKind::Rgb555);
  const LumaLineFn f = prequantiseKernelsFor(flags).lumaLine;
  constexpr int kW = 640;
  std::vector<ChainLine> lines;
  for (size_t at = 0; at + kW <= in.footageColours.size() && lines.size() < 480; at += 7 * kW)
    lines.push_back(chainLine(in.footageColours.data() + at, kW, 2));
  std::vector<uint8_t> wanted(kW);
  std::vector<uint32_t> yc(kW);
  std::vector<uint16_t> pic(kW);
  uint64_t calls = 0;
  for (int pass = 0; pass < 20; ++pass)
    for (const ChainLine& c : lines) {
      std::copy(c.wanted.begin(), c.wanted.end(), wanted.begin());
      std::copy(c.yc.begin(), c.yc.end(), yc.begin());
      f({wanted.data(), yc.data(), pic.data(), c.chroma.data(), t.ycToRgb.data(), kW, 2, true,
         lumaRows().data()});
      ++calls;
    }
  if (pic[123] == 1) std::printf(" ");
  return calls;
}

// ---- Residual coding: sharing-row stretches of one-symbol Y steps ----

bool residualSame(unsigned flags) {
  const ResidualKernels k = residualKernelsFor(flags);
  return k.lumaSteps == lumaStepsScalar && k.carryingSteps == carryingStepsScalar &&
         k.entropyPairs == entropyPairsScalar && k.carryingPairs == carryingPairsScalar;
}

bool countSame(unsigned flags) {
  return residualKernelsFor(flags).countSymbols == countSymbolsScalar;
}

// One stretch: targets, colour-difference store and the walk's state.
struct StretchInput {
  std::vector<uint32_t> target, chroma;
  int column = 0, count = 0, shift = 1;
  uint32_t y = 0, colour = 0;
};

enum class Stretch { Steps, Carrying, Pairs, CarryingPairs };

bool residualOne(Stretch kind, const ResidualKernels& k, const StretchInput& in, std::string& why) {
  const ColourTables& t = colourTables(PixelKind::Rgb555);
  const ResidualKernels ref = residualKernelsFor(0);
  std::vector<uint32_t> target[2] = {in.target, in.target}, chroma[2] = {in.chroma, in.chroma};
  std::vector<uint16_t> rgb[2] = {std::vector<uint16_t>(in.target.size(), 0xABCD),
                                  std::vector<uint16_t>(in.target.size(), 0xABCD)};
  std::vector<uint8_t> out[2] = {std::vector<uint8_t>(3 * in.target.size() + 16, 0xEE),
                                 std::vector<uint8_t>(3 * in.target.size() + 16, 0xEE)};
  int done[2];
  for (int r = 0; r < 2; ++r) {
    const ResidualKernels& f = r ? k : ref;
    const LumaStretch s{target[r].data(), rgb[r].data(), t.ycToRgb.data(),
                        chroma[r].data(), out[r].data(), in.column,
                        in.count,         in.shift,      in.y,
                        in.colour};
    done[r] = kind == Stretch::Steps      ? f.lumaSteps(s)
              : kind == Stretch::Carrying ? f.carryingSteps(s)
              : kind == Stretch::Pairs    ? f.entropyPairs(s)
                                          : f.carryingPairs(s);
  }
  // Bytes past the symbols may be overwritten (a vector store); symbols are never 0xEE.
  const long used = std::find(out[0].begin(), out[0].end(), uint8_t(0xEE)) - out[0].begin();
  const bool sameSymbols = std::equal(out[0].begin(), out[0].begin() + used, out[1].begin());
  if (done[0] == done[1] && target[0] == target[1] && rgb[0] == rgb[1] && sameSymbols &&
      chroma[0] == chroma[1])
    return true;
  const char* names[] = {"steps", "carrying steps", "pairs", "carrying pairs"};
  why = std::string(names[int(kind)]) + " from column " + std::to_string(in.column) + ", count " +
        std::to_string(in.count) + ", shift " + std::to_string(in.shift) + ": coded " +
        std::to_string(done[1]) + ", reference " + std::to_string(done[0]);
  for (size_t i = 0; i < target[0].size(); ++i)
    if (target[0][i] != target[1][i] || rgb[0][i] != rgb[1][i]) {
      why += "; pixel " + std::to_string(i) + ": " + hex(target[1][i]) + " " + hex(rgb[1][i]) +
             ", reference " + hex(target[0][i]) + " " + hex(rgb[0][i]);
      break;
    }
  if (!sameSymbols) why += "; symbols differ";
  if (chroma[0] != chroma[1]) why += "; stored colour differences differ";
  return false;
}

// Targets whose lumas and colour differences walk in steps that mostly stay within 6 (a larger
// one every `rare` steps on average); a store of any colour differences for the line's groups.
void randomStretch(std::mt19937& random, StretchInput& in, int pixels, int rare) {
  std::uniform_int_distribution<int> small(-6, 6), large(-31, 31), y(0, 31), any(0, 0xFFF),
      column(1, 600), shift(1, 2), once(0, rare);
  in.shift = shift(random);
  in.column = column(random);
  in.y = uint32_t(y(random));
  in.colour = uint32_t(any(random));
  in.chroma.resize(size_t(in.column + pixels) / 2 + 2);
  for (uint32_t& c : in.chroma) c = uint32_t(any(random));
  in.target.resize(size_t(pixels));
  int luma = int(in.y), cr = int(in.colour >> 6), cb = int(in.colour & 63);
  for (uint32_t& v : in.target) {
    luma = std::clamp(luma + (once(random) == 0 ? large(random) : small(random)), 0, 31);
    cr = std::clamp(cr + (once(random) == 0 ? large(random) : small(random)), 0, 63);
    cb = std::clamp(cb + (once(random) == 0 ? large(random) : small(random)), 0, 63);
    v = uint32_t(luma) << 12 | uint32_t(cr) << 6 | uint32_t(cb);
  }
}

// Symbol counts of every length up to 300 and of long runs (past 255 steps of 32), from any
// byte (the counts take its low four bits) and from symbols as the coder writes them.
bool countCheck(unsigned flags, KernelInputs& in, std::string& why) {
  const ResidualKernels k = residualKernelsFor(flags);
  std::mt19937& random = in.random;
  std::vector<uint8_t> s(20000);
  for (int pass = 0; pass < 400; ++pass) {
    const uint32_t n = pass < 300 ? uint32_t(pass) : uint32_t(random() % s.size());
    for (uint32_t i = 0; i < n; ++i)
      s[i] = uint8_t(pass & 1 ? random() : 7 + int(random() % 3) - int(random() % 3));
    uint32_t got[16], ref[16];
    for (int v = 0; v < 16; ++v) got[v] = ref[v] = uint32_t(v);  // they add to the counts
    countSymbolsScalar(s.data(), n, ref);
    k.countSymbols(s.data(), n, got);
    if (!std::equal(got, got + 16, ref)) {
      why = "symbol counts of " + std::to_string(n) + " bytes differ";
      return false;
    }
  }
  return true;
}

bool residualCheck(unsigned flags, KernelInputs& in, std::string& why) {
  const ResidualKernels k = residualKernelsFor(flags);
  const ColourTables& t = colourTables(PixelKind::Rgb555);
  StretchInput s;
  // Every length up to 40 pixels and long ones, with steps beyond 6 from never to often.
  for (int pass = 0; pass < 6000; ++pass) {
    const int pixels = pass < 2000 ? pass % 40 + 2 : 2 + int(in.random() % 700);
    const int rare = pass % 4 == 0 ? 100000 : 2 + pass % 97;
    randomStretch(in.random, s, pixels, rare);
    s.count = pixels;
    if (!residualOne(Stretch::Steps, k, s, why) || !residualOne(Stretch::Carrying, k, s, why))
      return false;
    s.count = pixels / 2;
    if (!residualOne(Stretch::Pairs, k, s, why) || !residualOne(Stretch::CarryingPairs, k, s, why))
      return false;
  }
  // The teapot's lines as targets.
  const std::vector<uint16_t>& c = in.footageColours;
  for (size_t line = 0; line + 256 <= c.size() && line < 256 * 256; line += 256 * 3) {
    randomStretch(in.random, s, 256, 1);
    for (int x = 0; x < 256; ++x) s.target[size_t(x)] = t.rgbToYc[c[line + size_t(x)]];
    s.y = s.target[0] >> 12;
    s.count = 256;
    if (!residualOne(Stretch::Steps, k, s, why) || !residualOne(Stretch::Carrying, k, s, why))
      return false;
    s.count = 128;
    if (!residualOne(Stretch::Pairs, k, s, why) || !residualOne(Stretch::CarryingPairs, k, s, why))
      return false;
  }
  return true;
}

uint64_t countBench(unsigned flags, KernelInputs& in) {
  const CountSymbolsFn f = residualKernelsFor(flags).countSymbols;
  std::vector<uint8_t> symbols(640);
  for (uint8_t& b : symbols) b = uint8_t(7 + int(in.random() % 5) - int(in.random() % 5));
  uint32_t counts[16] = {};
  uint64_t calls = 0;
  for (int pass = 0; pass < 100000; ++pass, ++calls)
    f(symbols.data(), uint32_t(symbols.size()), counts);
  if (counts[7] == 1) std::printf(" ");
  return calls;
}

uint64_t residualBench(unsigned flags, KernelInputs& in) {
  const ResidualKernels k = residualKernelsFor(flags);
  const ColourTables& t = colourTables(PixelKind::Rgb555);
  // Smooth stretches of 8 to 64 pixels, as the Entropy runs and uncovered stretches of a
  // sharing row on the pan.
  std::vector<StretchInput> stretches(512);
  for (size_t i = 0; i < stretches.size(); ++i)
    randomStretch(in.random, stretches[i], 8 + int(i % 57), 400);
  std::vector<uint32_t> target(64);
  std::vector<uint16_t> rgb(64);
  std::vector<uint8_t> out(3 * 64 + 16);
  uint64_t calls = 0, sink = 0;
  for (int pass = 0; pass < 400; ++pass)
    for (StretchInput& s : stretches) {
      std::copy(s.target.begin(), s.target.end(), target.begin());
      const int pixels = int(s.target.size());
      LumaStretch job{target.data(), rgb.data(), t.ycToRgb.data(), s.chroma.data(),
                      out.data(),    s.column,   pixels,           s.shift,
                      s.y,           s.colour};
      sink += uint64_t(k.lumaSteps(job));
      std::copy(s.target.begin(), s.target.end(), target.begin());
      job.count = pixels / 2;
      sink += uint64_t(k.entropyPairs(job));
      std::copy(s.target.begin(), s.target.end(), target.begin());
      job.count = pixels;
      sink += uint64_t(k.carryingSteps(job));
      std::copy(s.target.begin(), s.target.end(), target.begin());
      job.count = pixels / 2;
      sink += uint64_t(k.carryingPairs(job));
      calls += 4;
    }
  if (sink == 1) std::printf(" ");
  return calls;
}

}  // namespace

const std::vector<KernelCase>& kernelCases() {
  static const std::vector<KernelCase> cases = [] {
    std::vector<KernelCase> c = {
        {"best-luma search", lumaSame, lumaCheck, lumaBench},
        {"best-luma distances (vote)", distancesSame, distancesCheck, distancesBench},
        {"vote bookkeeping (cell)", bookkeepingSame, bookkeepingCheck, bookkeepingBench},
        {"common chroma vote (cell)", voteSame, voteCheck, voteBench},
        sharingPairsCase(),
        sharingRowCase(),
        carryingRowCase(),
        carryingPairsCase(),
        symbolDecodingCase(),
        smoothLineCase(),
        {"24-bit to 15-bit colour (line)", rgb15Same, rgb15Check, rgb15Bench},
        {"luma chain (pre-quantisation line)", lumaLineSame, lumaLineCheck, lumaLineBench},
        {"residual steps and pairs (row)", residualSame, residualCheck, residualBench},
        {"symbol counts (row of 640)", countSame, countCheck, countBench},
    };
    for (const KernelCase& u : unchangedCases()) c.push_back(u);
    for (const KernelCase& u : tableWidthCases()) c.push_back(u);
    return c;
  }();
  return cases;
}

}  // namespace zov::test

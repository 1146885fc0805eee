#include "kernel_cases.h"

#include <cstdio>

#include "encoder/luma_search_kernels.h"
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
    std::vector<uint16_t> r(static_cast<size_t>(kYcValues));
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

}  // namespace

const std::vector<KernelCase>& kernelCases() {
  static const std::vector<KernelCase> cases = {
      {"best-luma search", lumaSame, lumaCheck, lumaBench},
      sharingPairsCase(),
  };
  return cases;
}

}  // namespace zov::test

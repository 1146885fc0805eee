// The smooth-luma candidate marking against its reference, on the teapot's targets and on
// random lines whose lumas differ by little (so that every limit is met and missed).
#include <algorithm>
#include <cstdio>

#include "encoder/encoder_buffers.h"
#include "encoder/smooth_kernels.h"
#include "format/colour_tables.h"
#include "kernel_cases.h"

namespace zov::test {
namespace {

constexpr uint8_t kEntries[] = {kMapCoded,  kMapCoded, kMapCoded,    kMapCandidate,
                                kMapSmooth, kMapSolid, kMapUnchanged};

bool smoothSame(unsigned flags) {
  return smoothKernelsFor(flags).smoothLine == smoothLineScalar;
}

bool smoothOne(SmoothLineFn f, const std::vector<uint8_t>& map, const uint32_t* yc, int w, bool odd,
               uint32_t loss, bool edge, std::string& why) {
  std::vector<uint8_t> ref = map, got = map;
  smoothLineScalar(ref.data(), yc, w, odd, loss, edge);
  f(got.data(), yc, w, odd, loss, edge);
  if (got == ref) return true;
  const size_t i = size_t(std::mismatch(got.begin(), got.end(), ref.begin()).first - got.begin());
  why = "width " + std::to_string(w) + (odd ? " odd" : " even") + " loss " + std::to_string(loss) +
        (edge ? " edges" : "") + " column " + std::to_string(i) + ": " + std::to_string(got[i]) +
        ", reference " + std::to_string(ref[i]);
  return false;
}

bool smoothCheck(unsigned flags, KernelInputs& in, std::string& why) {
  const SmoothLineFn f = smoothKernelsFor(flags).smoothLine;
  const ColourTables& t = colourTables(PixelKind::Rgb555);
  std::uniform_int_distribution<int> entry(0, int(sizeof kEntries) - 1), step(-8, 8), width(3, 640),
      start(0, 31), lossOf(0, 9);
  std::vector<uint8_t> map(640 + 1);
  std::vector<uint32_t> yc(640 + 1);
  // Footage: lines of 256 of the teapot's colours as targets.
  for (size_t line = 0; line + 256 <= in.footageColours.size() && line < 256 * 256; line += 256) {
    for (int x = 0; x < 256; ++x) {
      yc[size_t(x)] = t.rgbToYc[in.footageColours[line + size_t(x)]];
      map[size_t(x)] = kEntries[entry(in.random)];
    }
    std::vector<uint8_t> m(map.begin(), map.begin() + 256);
    for (bool edge : {false, true})
      if (!smoothOne(f, m, yc.data(), 256, (line / 256) & 1, 7, edge, why)) return false;
  }
  // Random lines of every width, lumas in small steps, targets with chroma bits set.
  for (int pass = 0; pass < 4000; ++pass) {
    const int w = pass < 640 ? pass % 638 + 3 : width(in.random);
    int y = start(in.random);
    for (int x = 0; x < w; ++x) {
      y = std::clamp(y + step(in.random), 0, 31);
      yc[size_t(x)] = uint32_t(y) << 12 | uint32_t(in.random() & 0xFFF);
      map[size_t(x)] = kEntries[entry(in.random)];
    }
    std::vector<uint8_t> m(map.begin(), map.begin() + w);
    const uint32_t loss = pass % 50 == 0 ? 1000u : uint32_t(lossOf(in.random));
    if (!smoothOne(f, m, yc.data(), w, pass & 1, loss, (pass & 2) != 0, why)) return false;
  }
  return true;
}

uint64_t smoothBench(unsigned flags, KernelInputs& in) {
  const SmoothLineFn f = smoothKernelsFor(flags).smoothLine;
  const ColourTables& t = colourTables(PixelKind::Rgb555);
  const size_t n = std::min<size_t>(in.footageColours.size(), 256 * 256);
  std::vector<uint32_t> yc(n);
  for (size_t i = 0; i < n; ++i) yc[i] = t.rgbToYc[in.footageColours[i]];
  std::vector<uint8_t> map(n);
  uint64_t calls = 0;
  for (int pass = 0; pass < 20; ++pass) {
    std::fill(map.begin(), map.end(), uint8_t(kMapCoded));
    for (size_t line = 0; line + 256 <= n; line += 256, ++calls)
      f(map.data() + line, yc.data() + line, 256, (line / 256) & 1, 7, false);
  }
  if (map[1000] == 0xEE) std::printf(" ");
  return calls;
}

}  // namespace

KernelCase smoothLineCase() {
  return {"smooth-luma candidates of a line", smoothSame, smoothCheck, smoothBench};
}

}  // namespace zov::test

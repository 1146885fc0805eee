// Output speed in picture pixels per second (counters "pix/s"), for the common methods: full
// frames and changed-block writes over a map where about half of the picture lies in
// unchanged runs, on a 320 x 240 synthetic picture (smooth gradients with noise, as decoded
// video looks to the tables: every table entry reachable, neighbouring pixels alike); and on
// the teapot clip's second frame, with the runs of 4 x 4 blocks that barely changed since the
// first frame as unchanged runs.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <random>
#include <vector>

#include "format/output_stage.h"
#include "support/footage_avi.h"

namespace zov {
namespace {

constexpr int kW = 320, kH = 240;

struct Scene {
  std::vector<uint16_t> picture;
  std::vector<uint8_t> unchanged;
  Scene() : picture(kW * kH), unchanged(kW * kH, 0) {
    std::mt19937 rng(42);
    for (int y = 0; y < kH; ++y)
      for (int x = 0; x < kW; ++x) {
        int r = (x * 31 / kW + static_cast<int>(rng() % 3)) % 32;
        int g = (y * 31 / kH + static_cast<int>(rng() % 3)) % 32;
        int b = ((x + y) * 31 / (kW + kH)) % 32;
        picture[y * kW + x] = static_cast<uint16_t>(r << 10 | g << 5 | b);
      }
    // 8 x 8 blocks, half of them unchanged, in a checker of 16-pixel-wide runs.
    for (int y = 0; y < kH; ++y)
      for (int x = 0; x < kW; x += 32)
        if (((y / 8) & 1) == 0)
          unchanged[y * kW + x] = 16;
        else
          unchanged[y * kW + x + 16] = 16;
  }
};

const Scene& scene() {
  static const Scene s;
  return s;
}

// The teapot clip (256 x 256, 24-bit): frame 1 in 5-5-5, and as unchanged runs the 4 x 4
// blocks whose components moved by at most 1 (of 31) since frame 0.
struct Footage555 {
  int width = 0, height = 0;
  std::vector<uint16_t> picture;
  std::vector<uint8_t> unchanged;
  double unchangedShare = 0;
  Footage555() {
    test::Footage f;
    if (!test::loadUncompressedAvi(ZOV_TEST_DATA_DIR "/teapot-256x256-rgb24.avi", f, 2) ||
        f.frames.size() < 2 || f.bitsPerPixel != 24)
      return;
    width = f.width, height = f.height;
    const size_t stride = (static_cast<size_t>(width) * 3 + 3) & ~size_t(3);
    auto colour = [&](int frame, int x, int y) {
      const uint8_t* p = f.frames[frame].data() + y * stride + 3 * x;
      return static_cast<uint16_t>((p[2] >> 3) << 10 | (p[1] >> 3) << 5 | (p[0] >> 3));
    };
    picture.resize(static_cast<size_t>(width) * height);
    unchanged.assign(picture.size(), 0);
    for (int y = 0; y < height; ++y)
      for (int x = 0; x < width; ++x) picture[y * width + x] = colour(1, x, y);
    std::vector<bool> still(picture.size(), false);
    for (int by = 0; by + 4 <= height; by += 4)
      for (int bx = 0; bx + 4 <= width; bx += 4) {
        bool same = true;
        for (int y = by; y < by + 4; ++y)
          for (int x = bx; x < bx + 4; ++x) {
            uint16_t a = colour(0, x, y), b = colour(1, x, y);
            for (int shift : {10, 5, 0})
              same &= std::abs(((a >> shift) & 31) - ((b >> shift) & 31)) <= 1;
          }
        for (int y = by; y < by + 4; ++y)
          for (int x = bx; x < bx + 4; ++x) still[y * width + x] = same;
      }
    size_t count = 0;
    for (int y = 0; y < height; ++y)
      for (int x = 0; x < width;) {
        int n = 0;
        while (x + n < width && n < 255 && still[y * width + x + n]) ++n;
        if (n)
          unchanged[y * width + x] = static_cast<uint8_t>(n), count += n, x += n;
        else
          ++x;
      }
    unchangedShare = double(count) / picture.size();
  }
};

const Footage555& footage() {
  static const Footage555 f;
  return f;
}

void runFootage(benchmark::State& state, int method, bool changed) {
  const Footage555& f = footage();
  OutputLayout l{f.width, f.height};
  OutputStage stage;
  if (f.picture.empty() || !stage.setup(method, l, PixelKind::Rgb555, false, 0, makeCurve(40, 0))) {
    state.SkipWithError("teapot clip not readable");
    return;
  }
  std::vector<uint8_t> dest(stage.geometry().requiredBytes());
  OutputPictures in{f.picture.data(), f.unchanged.data()};
  for (auto _ : state) {
    if (changed)
      stage.writeChangedBlocks(in, dest.data());
    else
      stage.writeFullFrame(in, dest.data());
    benchmark::DoNotOptimize(dest.data());
    benchmark::ClobberMemory();
  }
  state.counters["pix/s"] =
      benchmark::Counter(double(f.width) * f.height, benchmark::Counter::kIsIterationInvariantRate);
  state.counters["unchanged"] = f.unchangedShare;
}

void run(benchmark::State& state, int method, bool changed, bool curved) {
  OutputLayout l{kW, kH};
  OutputStage stage;
  if (!stage.setup(method, l, PixelKind::Rgb555, false, 0,
                   curved ? makeCurve(50, 2) : makeCurve(40, 0))) {
    state.SkipWithError("setup failed");
    return;
  }
  std::vector<uint8_t> dest(stage.geometry().requiredBytes());
  const Scene& s = scene();
  OutputPictures in{s.picture.data(), s.unchanged.data()};
  for (auto _ : state) {
    if (changed)
      stage.writeChangedBlocks(in, dest.data());
    else
      stage.writeFullFrame(in, dest.data());
    benchmark::DoNotOptimize(dest.data());
    benchmark::ClobberMemory();
  }
  state.counters["pix/s"] =
      benchmark::Counter(double(kW) * kH, benchmark::Counter::kIsIterationInvariantRate);
}

void BM_Full(benchmark::State& st) {
  run(st, static_cast<int>(st.range(0)), false, false);
}
void BM_Changed(benchmark::State& st) {
  run(st, static_cast<int>(st.range(0)), true, false);
}
void BM_FullCurved(benchmark::State& st) {
  run(st, static_cast<int>(st.range(0)), false, true);
}

BENCHMARK(BM_Full)->Arg(0)->Arg(5)->Arg(7)->Arg(14)->Arg(3)->Arg(6)->Arg(9)->Arg(12);
BENCHMARK(BM_Changed)->Arg(0)->Arg(5)->Arg(7)->Arg(14);
BENCHMARK(BM_FullCurved)->Arg(0);

void BM_TeapotFull(benchmark::State& st) {
  runFootage(st, static_cast<int>(st.range(0)), false);
}
void BM_TeapotChanged(benchmark::State& st) {
  runFootage(st, static_cast<int>(st.range(0)), true);
}
BENCHMARK(BM_TeapotFull)->Arg(0)->Arg(5)->Arg(7)->Arg(14);
BENCHMARK(BM_TeapotChanged)->Arg(0)->Arg(5)->Arg(7)->Arg(14);

}  // namespace
}  // namespace zov

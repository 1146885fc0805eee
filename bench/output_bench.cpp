// Output speed in picture pixels per second (counters "pix/s"), for the common methods: full
// frames and changed-block writes over a map where about half of the picture lies in
// unchanged runs, on a 320 x 240 synthetic picture (smooth gradients with noise, as decoded
// video looks to the tables: every table entry reachable, neighbouring pixels alike).
#include <benchmark/benchmark.h>

#include <random>
#include <vector>

#include "format/output_stage.h"

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

}  // namespace
}  // namespace zov

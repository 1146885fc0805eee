// Filter speed at 640 x 480, the largest frame the compressor makes: pixels per second for every
// kind (and every level of the kinds with per-level routines). Each iteration restores the frame
// first so that every pass sees the same picture; that copy is part of the timing.
#include <benchmark/benchmark.h>

#include <cstring>
#include <random>
#include <vector>

#include "encoder/filters.h"

namespace {

constexpr int kWidth = 640, kHeight = 480;

// Soft gradients with noise and a few hard edges, like a camera frame.
std::vector<uint16_t> cameraLikeFrame() {
  std::mt19937 rng(7);
  std::vector<uint16_t> f(size_t(kWidth) * kHeight);
  for (int y = 0; y < kHeight; ++y) {
    for (int x = 0; x < kWidth; ++x) {
      int noise = int(rng() % 3) - 1;
      int r = (x * 31 / kWidth + noise) & 31;
      int g = (y * 31 / kHeight + ((x / 80 + y / 60) % 2) * 8) & 31;
      int b = (((x + y) / 40) % 32 + noise) & 31;
      f[size_t(y) * kWidth + x] = uint16_t(r << 10 | g << 5 | b);
    }
  }
  return f;
}

void BM_Filter(benchmark::State& state) {
  const zov::FilterEntry entry{int32_t(state.range(0)), int32_t(state.range(1))};
  const std::vector<uint16_t> source = cameraLikeFrame();
  std::vector<uint16_t> frame = source;
  std::vector<uint8_t> work(zov::filterWorkBufferSize(kWidth, kHeight));
  for (auto _ : state) {
    std::memcpy(frame.data(), source.data(), source.size() * sizeof(uint16_t));
    zov::runFilter(entry, frame.data(), work.data(), kWidth, kHeight);
    benchmark::DoNotOptimize(frame.data());
    benchmark::ClobberMemory();
  }
  state.SetLabel(zov::kFilterKinds[entry.kind].name);
  state.counters["Mpix"] = benchmark::Counter(double(kWidth) * kHeight / 1e6,
                                              benchmark::Counter::kIsIterationInvariantRate);
}

BENCHMARK(BM_Filter)
    ->ArgNames({"kind", "level"})
    ->Args({0, 1})
    ->Args({0, 4})
    ->Args({1, 1})
    ->Args({2, 1})
    ->Args({3, 1})
    ->Args({3, 2})
    ->Args({3, 3})
    ->Args({3, 4})
    ->Args({4, 3})
    ->Args({5, 1})
    ->Args({6, 150})
    ->Args({7, 5})
    ->Args({8, -200})
    ->Unit(benchmark::kMicrosecond);

}  // namespace

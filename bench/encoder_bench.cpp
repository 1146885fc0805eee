// Encoder throughput on real footage (the teapot clip and the Motion-JPEG camera pan, at
// 320 x 240 and 640 x 480 through the source reader) for the presets "Video",
// "Smoke/Clouds/Rain" and "Animation" and for FastCompression, on one core and on two threads.
// Counters: Mpix/s (pixels coded per second of process CPU time), bits per pixel and PSNR of the
// encoder's reconstruction against the 15-bit source.
#include <benchmark/benchmark.h>

#include "encoder/zov2_encoder.h"
#include "encoder_footage.h"

namespace zov::bench {
namespace {

// Codes the clip as the compression run does (periodic key frames, enhanced interframe mode
// one call late); only the encoder calls are timed.
void encodeClip(benchmark::State& state, uint32_t threads) {
  const int w = int(state.range(0)), h = int(state.range(1));
  const auto preset = PresetKind(state.range(2));
  const auto kind = ClipKind(state.range(3));
  const Clip& clip = footage(kind, w, h);
  if (clip.pictures.empty()) {
    state.SkipWithError("footage missing");
    return;
  }
  state.SetLabel(caseLabel(preset, kind, w, h));
  const size_t capacity = zov::maxFrameBytes(w, h);
  std::vector<uint8_t> out(capacity);
  const size_t count = clip.pictures.size();
  std::vector<Picture> rebuilt(count);
  size_t bytes = 0;
  for (auto _ : state) {
    state.PauseTiming();
    CompressionSettings s = runSettings(preset, threads);
    zov::EncoderSetup setup{w, h, uint32_t(count), nullptr};
    zov::StartEncoder(s, setup);
    state.ResumeTiming();
    bytes = codeClip(s, clip, out, [&](size_t n, size_t) {
      state.PauseTiming();
      const uint16_t* rec = zov::encoderReconstruction(s);
      rebuilt[n].assign(rec, rec + size_t(w) * h);
      state.ResumeTiming();
    });
    state.PauseTiming();
    zov::EndEncoder(s);
    state.ResumeTiming();
  }
  const double pixels = double(w) * h * double(count);
  state.counters["Mpix/s"] =
      benchmark::Counter(pixels * double(state.iterations()) / 1e6, benchmark::Counter::kIsRate);
  state.counters["bpp"] = double(bytes) * 8.0 / pixels;
  double psnr = 0;
  for (size_t i = 0; i < count; ++i) psnr += zov::test::psnr15(clip.pictures[i], rebuilt[i]);
  state.counters["PSNR"] = psnr / double(count);
}

void BM_Encode(benchmark::State& state) {
  encodeClip(state, 1);
}

// Two threads: pixels per second of the wall clock (the process's CPU time counts both).
void BM_Encode2Threads(benchmark::State& state) {
  encodeClip(state, 2);
}

BENCHMARK(BM_Encode)
    ->Apply([](benchmark::internal::Benchmark* b) { addCases(b); })
    ->Unit(benchmark::kMillisecond)
    ->MeasureProcessCPUTime();
BENCHMARK(BM_Encode2Threads)
    ->Apply([](benchmark::internal::Benchmark* b) { addCases(b); })
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

}  // namespace
}  // namespace zov::bench

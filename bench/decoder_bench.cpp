// Decoder throughput on the compressed footage of the encoder benchmark, key frames and
// interframes apart: every iteration decodes the whole stream in order, and the thread CPU
// time of the frames of one kind is what is reported (manual time).
// Counters: Mpix/s (pixels of that kind decoded per second), bits per pixel of the stream.
#include <benchmark/benchmark.h>

#include <ctime>

#include "encoder_footage.h"
#include "format/decoder.h"

namespace zov::bench {
namespace {

double threadSeconds() {
  timespec t{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return double(t.tv_sec) + double(t.tv_nsec) * 1e-9;
}

// Args: width, height, preset, clip, frame kind (0 key frames, 1 interframes).
void BM_Decode(benchmark::State& state) {
  const int w = int(state.range(0)), h = int(state.range(1));
  const auto preset = PresetKind(state.range(2));
  const auto kind = ClipKind(state.range(3));
  const bool wantKey = state.range(4) == 0;
  const Clip& clip = footage(kind, w, h);
  if (clip.pictures.empty()) {
    state.SkipWithError("footage missing");
    return;
  }
  state.SetLabel(caseLabel(preset, kind, w, h) + (wantKey ? " key frames" : " interframes"));
  zov::test::HarnessOptions o;
  o.verify = false;
  o.replay = false;
  const zov::test::EncodedRun run =
      zov::test::encodePictures(presetSettings(preset), w, h, clip.pictures, o);
  size_t frames = 0;
  for (size_t i = 0; i < run.frames.size(); ++i) frames += run.keyFrames[i] == wantKey;
  if (!run.ok || frames == 0) {
    state.SkipWithError(run.ok ? "no frames of this kind" : "encoding failed");
    return;
  }
  zov::FrameDecoder d;
  for (auto _ : state) {
    d.prepareStream(w, h, run.formatWord, zov::DecoderOptions{});
    double seconds = 0;
    for (size_t i = 0; i < run.frames.size(); ++i) {
      const double start = threadSeconds();
      d.decodeFrame(run.frames[i].data(), run.frames[i].size());
      if (run.keyFrames[i] == wantKey) seconds += threadSeconds() - start;
    }
    benchmark::DoNotOptimize(d.picture());
    state.SetIterationTime(seconds);
  }
  const double pixels = double(w) * h * double(frames);
  state.counters["Mpix/s"] =
      benchmark::Counter(pixels * double(state.iterations()) / 1e6, benchmark::Counter::kIsRate);
  state.counters["frames"] = double(frames);
  state.counters["bpp"] = double(run.bytes) * 8.0 / (double(w) * h * double(run.frames.size()));
}

BENCHMARK(BM_Decode)
    ->Apply([](benchmark::internal::Benchmark* b) {
      addCases(b, {0, 1});
    })
    ->Unit(benchmark::kMillisecond)
    ->UseManualTime();

}  // namespace
}  // namespace zov::bench

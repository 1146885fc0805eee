// Encoder throughput on real footage (the teapot clip and the Motion-JPEG camera pan, at
// 320 x 240 and 640 x 480 through the source reader) for the presets "Video",
// "Smoke/Clouds/Rain" and "Animation" and for FastCompression, on one core and on two threads.
// Counters: Mpix/s (pixels coded per second of process CPU time), bits per pixel and PSNR of the
// encoder's reconstruction against the 15-bit source. BM_VoteCells times the common-chroma vote
// alone on the pan's 4 x 4 cells.
#include <benchmark/benchmark.h>

#include "encoder/luma_search_kernels.h"
#include "encoder/prequantise.h"
#include "encoder/zov2_encoder.h"
#include "encoder_footage.h"
#include "format/colour_tables.h"
#include "format/stream_format.h"

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

// The vote of each of the 576,000 4 x 4 cells of the pan's 30 frames at 640 x 480 (the encoder
// votes on 554,356 of them in FastCompression, the others being unchanged), through the
// process's kernel. (kernel_check --bench votes on runs of 16 pixels of the teapot, which take
// about half as long a cell: the pan's cells are the harder case the encoder meets.)
void BM_VoteCells(benchmark::State& state) {
  const Clip& clip = footage(kPan, 640, 480);
  if (clip.pictures.empty()) {
    state.SkipWithError("footage missing");
    return;
  }
  const ColourTables& t = colourTables(PixelKind::Rgb555);
  std::vector<uint16_t> rows(size_t(kYcValues) + 2);
  buildLumaRows(t, rows.data());
  std::vector<LumaRowModel> models(4096);
  buildLumaRowModels(rows.data(), models.data());
  std::vector<uint64_t> cache(size_t(1) << kLumaCacheBits);
  const LumaSearchKernels& k = lumaSearchKernels();
  const VoteCellContext ctx{models.data(), rows.data(), t.rgbToYc.data(), cache.data(),
                            k.bestLumaInRow};
  // The cells laid out as the vote reads them: colours and targets line by line.
  std::vector<uint16_t> colours;
  std::vector<uint32_t> ycs;
  for (const Picture& p : clip.pictures)
    for (int cy = 0; cy + 4 <= clip.height; cy += 4)
      for (int cx = 0; cx + 4 <= clip.width; cx += 4)
        for (int dy = 0; dy < 4; ++dy)
          for (int dx = 0; dx < 4; ++dx) {
            const uint16_t c = p[size_t(cy + dy) * size_t(clip.width) + size_t(cx + dx)];
            colours.push_back(c);
            ycs.push_back(t.rgbToYc[c]);
          }
  const size_t cells = colours.size() / 16;
  uint8_t lumas[16];
  uint64_t sink = 0;
  for (auto _ : state)
    for (size_t i = 0; i < cells; ++i)
      sink += k.voteCell(ctx, colours.data() + i * 16, ycs.data() + i * 16, 16, lumas) + lumas[5];
  benchmark::DoNotOptimize(sink);
  // Seconds per cell (printed with its prefix: n for nanoseconds).
  state.counters["s/cell"] = benchmark::Counter(
      double(cells), benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

BENCHMARK(BM_VoteCells)->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime();

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

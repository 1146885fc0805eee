// Encoder and decoder throughput on real footage (the teapot clip, resampled to 320 x 240 and
// 640 x 480; and, when the shared test data lies beside the repository, the 320 x 240 camera
// pan and the 640 x 480 screen recording at their own sizes), for the
// compression presets "Video", "Smoke/Clouds/Rain" and "Animation" and for FastCompression.
// Counters: Mpix/s (pixels coded per second), bits per pixel and PSNR against the 15-bit source.
#include <benchmark/benchmark.h>

#include <map>
#include <string>
#include <tuple>

#include "encoder/zov2_encoder.h"
#include "format/decoder.h"
#include "support/encoder_harness.h"
#include "support/footage_avi.h"

namespace {

using zov::CompressionSettings;
using zov::test::Picture;

struct Clip {
  int width = 0, height = 0;
  std::vector<Picture> pictures;
};

// Bilinear resampling of the teapot frames to the wanted size.
// A clip of the shared test data at its own size (none when the folder is not there).
Clip loadShared(const char* name, int maxFrames) {
  Clip clip;
  zov::test::Footage f;
  for (std::string dir : {std::string(ZOV_TEST_DATA_DIR) + "/../../../shared/testdata",
                          std::string("/work/shared/testdata")})
    if (zov::test::loadUncompressedAvi(dir + "/" + name, f, maxFrames)) break;
  clip.width = f.width;
  clip.height = f.height;
  for (const auto& frame : f.frames)
    clip.pictures.push_back(zov::test::toPicture15(frame, f.width, f.height, f.bitsPerPixel));
  return clip;
}

Clip loadClip(int w, int h, int source = 0) {
  static std::map<std::tuple<int, int, int>, Clip> cache;
  auto key = std::make_tuple(w, h, source);
  if (cache.count(key)) return cache[key];
  if (source == 1) return cache[key] = loadShared("pan-320x240-rgb24-pcm.avi", 24);
  if (source == 2) return cache[key] = loadShared("screen-640x480-rgb555.avi", 24);
  zov::test::Footage f;
  Clip clip{w, h, {}};
  if (!zov::test::loadUncompressedAvi(std::string(ZOV_TEST_DATA_DIR) + "/teapot-256x256-rgb24.avi",
                                      f, 24))
    return clip;
  size_t line = size_t((f.width * f.bitsPerPixel + 31) / 32 * 4);
  int bpp = f.bitsPerPixel / 8;
  for (const auto& frame : f.frames) {
    std::vector<uint8_t> dib(size_t(w) * h * 3);
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) {
        double sx = (x + 0.5) * f.width / w - 0.5, sy = (y + 0.5) * f.height / h - 0.5;
        int x0 = std::max(0, int(sx)), y0 = std::max(0, int(sy));
        int x1 = std::min(f.width - 1, x0 + 1), y1 = std::min(f.height - 1, y0 + 1);
        double fx = std::max(0.0, sx - x0), fy = std::max(0.0, sy - y0);
        for (int c = 0; c < 3; ++c) {
          auto at = [&](int xx, int yy) { return double(frame[line * yy + size_t(xx) * bpp + c]); };
          double v = (at(x0, y0) * (1 - fx) + at(x1, y0) * fx) * (1 - fy) +
                     (at(x0, y1) * (1 - fx) + at(x1, y1) * fx) * fy;
          dib[(size_t(y) * w + x) * 3 + c] = uint8_t(v + 0.5);
        }
      }
    clip.pictures.push_back(zov::test::toPicture15(dib, w, h, 24));
  }
  cache[key] = clip;
  return clip;
}

CompressionSettings preset(int which) {
  CompressionSettings s;
  switch (which) {
    case 0:  // Video
      s.CompressionType = 4, s.InterframeDetection = 8, s.NoiseReduction = 50, s.ImageLossLevel = 7;
      break;
    case 1:  // Smoke/Clouds/Rain
      s.CompressionType = 4, s.InterframeDetection = 5, s.NoiseReduction = 15, s.ImageLossLevel = 7;
      break;
    case 2:  // Animation
      s.CompressionType = 0, s.InterframeDetection = 0, s.NoiseReduction = 0, s.ImageLossLevel = 0;
      break;
    default:  // FastCompression on the Video preset
      s.CompressionType = 4, s.InterframeDetection = 8, s.NoiseReduction = 50, s.ImageLossLevel = 7;
      s.FastCompression = true;
      break;
  }
  s.FieldType = 0;
  s.EnhancedEdges = true;
  s.KeyRate = 3;
  s.updateDerived();
  return s;
}

const char* const kPresetNames[] = {"Video", "SmokeCloudsRain", "Animation", "FastCompression"};
const char* const kClipNames[] = {"teapot", "pan", "screen"};

// Codes the clip as the compression run does (periodic key frames, enhanced interframe mode
// one call late); only the encoder calls are timed.
void BM_Encode(benchmark::State& state) {
  const int w = int(state.range(0)), h = int(state.range(1)), which = int(state.range(2));
  Clip clip = loadClip(w, h, int(state.range(3)));
  if (clip.pictures.empty() || clip.width != w) {
    state.SkipWithError("footage missing");
    return;
  }
  state.SetLabel(std::string(kPresetNames[which]) + " " + kClipNames[state.range(3)]);
  const size_t capacity = zov::maxFrameBytes(w, h);
  std::vector<uint8_t> out(capacity);
  const size_t count = clip.pictures.size();
  std::vector<Picture> rebuilt(count);
  size_t bytes = 0;
  for (auto _ : state) {
    state.PauseTiming();
    CompressionSettings s = preset(which);
    s.LossyActive = !s.FastCompression && s.CompressionType != 0 && s.Lossy;
    s.KeyCountdown = s.FastCompression || s.KeyRate == 0 ? 0 : s.KeyRate + 1;
    s.FrameRate = 15;
    zov::EncoderSetup setup{w, h, uint32_t(count), nullptr};
    zov::StartEncoder(s, setup);
    bytes = 0;
    state.ResumeTiming();
    size_t coded = 0;
    auto call = [&](size_t n, const Picture* pic) {
      bool key = n < 2;
      if (!key && s.KeyCountdown != 0 && --s.KeyCountdown == 0) {
        s.KeyCountdown = s.KeyRate + 1;
        key = true;
      }
      s.KeyFrame = key;
      s.FinalCall = pic == nullptr;
      bool first = s.EnhancedInterframe && s.FirstCall;
      zov::CompressParams p{pic ? pic->data() : nullptr, out.data(), capacity, 0};
      zov::EncodeFrame(s, p);
      if (first) return;
      bytes += p.outputLength;
      state.PauseTiming();
      const uint16_t* rec = zov::encoderReconstruction(s);
      rebuilt[coded++].assign(rec, rec + size_t(w) * h);
      state.ResumeTiming();
    };
    if (s.EnhancedInterframe) {
      call(0, &clip.pictures[0]);
      for (size_t i = 0; i < count; ++i) call(i, i + 1 < count ? &clip.pictures[i + 1] : nullptr);
    } else {
      for (size_t i = 0; i < count; ++i) call(i, &clip.pictures[i]);
    }
    state.PauseTiming();
    zov::EndEncoder(s);
    state.ResumeTiming();
  }
  double pixels = double(w) * h * double(count);
  state.counters["Mpix/s"] =
      benchmark::Counter(pixels * double(state.iterations()) / 1e6, benchmark::Counter::kIsRate);
  state.counters["bpp"] = double(bytes) * 8.0 / pixels;
  double psnr = 0;
  for (size_t i = 0; i < count; ++i) psnr += zov::test::psnr15(clip.pictures[i], rebuilt[i]);
  state.counters["PSNR"] = psnr / double(count);
}

void BM_Decode(benchmark::State& state) {
  const int w = int(state.range(0)), h = int(state.range(1)), which = int(state.range(2));
  Clip clip = loadClip(w, h, int(state.range(3)));
  if (clip.pictures.empty() || clip.width != w) {
    state.SkipWithError("footage missing");
    return;
  }
  state.SetLabel(std::string(kPresetNames[which]) + " " + kClipNames[state.range(3)]);
  zov::test::HarnessOptions o;
  o.verify = false;
  o.replay = false;
  zov::test::EncodedRun run = zov::test::encodePictures(preset(which), w, h, clip.pictures, o);
  zov::FrameDecoder d;
  for (auto _ : state) {
    d.prepareStream(w, h, run.formatWord, zov::DecoderOptions{});
    for (const auto& f : run.frames) d.decodeFrame(f.data(), f.size());
    benchmark::DoNotOptimize(d.picture());
  }
  double pixels = double(w) * h * double(clip.pictures.size());
  state.counters["Mpix/s"] =
      benchmark::Counter(pixels * double(state.iterations()) / 1e6, benchmark::Counter::kIsRate);
  state.counters["bpp"] = double(run.bytes) * 8.0 / pixels;
}

void sizes(benchmark::internal::Benchmark* b) {
  for (int which = 0; which < 4; ++which) {
    b->Args({320, 240, which, 0});
    b->Args({640, 480, which, 0});
    b->Args({320, 240, which, 1});
    b->Args({640, 480, which, 2});
  }
  b->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime();
}

BENCHMARK(BM_Encode)->Apply(sizes);
BENCHMARK(BM_Decode)->Apply(sizes);

}  // namespace

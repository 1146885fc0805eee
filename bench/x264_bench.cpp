// The footage of the encoder benchmark through libx264 (one thread, 8-bit 4:2:0, BT.601 video
// range) at the bitrate the ZOV2 encoder reached on the same case, for comparison.
// Counters: Mpix/s (pixels encoded per second of process CPU time), bits per pixel x264
// actually spent, and PSNR of x264's reconstruction, turned back to 15-bit colour, against the
// 15-bit source (the measure of the encoder benchmark).
#include <benchmark/benchmark.h>
#include <x264.h>

#include <algorithm>
#include <cstring>

#include "encoder_footage.h"
#include "yuv420.h"

namespace zov::bench {
namespace {

const char* const kX264Presets[] = {"medium", "veryfast"};

uint8_t clamp255(int v) {
  return uint8_t(std::clamp(v, 0, 255));
}

// x264's reconstruction (planar or interleaved chroma) back to a bottom-up 15-bit picture.
Picture fromRecon(const x264_image_t& img, int w, int h) {
  Picture out(size_t(w) * h);
  const bool nv12 = (img.i_csp & X264_CSP_MASK) == X264_CSP_NV12;
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      const int yy = img.plane[0][size_t(y) * img.i_stride[0] + x];
      int cb, cr;
      if (nv12) {
        const uint8_t* row = img.plane[1] + size_t(y / 2) * img.i_stride[1];
        cb = row[2 * (x / 2)];
        cr = row[2 * (x / 2) + 1];
      } else {
        cb = img.plane[1][size_t(y / 2) * img.i_stride[1] + x / 2];
        cr = img.plane[2][size_t(y / 2) * img.i_stride[2] + x / 2];
      }
      const int c = yy - 16, d = cb - 128, e = cr - 128;
      const int r = clamp255((298 * c + 409 * e + 128) >> 8);
      const int g = clamp255((298 * c - 100 * d - 208 * e + 128) >> 8);
      const int b = clamp255((298 * c + 516 * d + 128) >> 8);
      auto to5 = [](int v) { return (v * 31 + 127) / 255; };
      out[size_t(h - 1 - y) * w + x] = uint16_t(to5(r) << 10 | to5(g) << 5 | to5(b));
    }
  return out;
}

// Args: width, height, ZOV preset whose bitrate is matched, clip, x264 preset.
void BM_X264(benchmark::State& state) {
  const int w = int(state.range(0)), h = int(state.range(1));
  const auto preset = PresetKind(state.range(2));
  const auto kind = ClipKind(state.range(3));
  const char* x264Preset = kX264Presets[state.range(4)];
  const Clip& clip = footage(kind, w, h);
  if (clip.pictures.empty()) {
    state.SkipWithError("footage missing");
    return;
  }
  state.SetLabel(caseLabel(preset, kind, w, h) + " bitrate with x264 " + x264Preset);
  zov::test::HarnessOptions o;
  o.verify = false;
  o.replay = false;
  const zov::test::EncodedRun run =
      zov::test::encodePictures(presetSettings(preset), w, h, clip.pictures, o);
  if (!run.ok) {
    state.SkipWithError("ZOV2 encoding failed");
    return;
  }
  const int fps = 15;
  const size_t count = clip.pictures.size();
  const double seconds = double(count) / fps;
  const int kbps = std::max(1, int(double(run.bytes) * 8.0 / 1000.0 / seconds + 0.5));
  std::vector<Yuv420> input;
  for (const Picture& p : clip.pictures) input.push_back(toYuv(p, w, h));

  std::vector<Picture> rebuilt(count);
  size_t bytes = 0;
  for (auto _ : state) {
    x264_param_t p;
    x264_param_default_preset(&p, x264Preset, nullptr);
    p.i_threads = 1;
    p.i_lookahead_threads = 1;
    p.b_sliced_threads = 0;
    p.i_width = w;
    p.i_height = h;
    p.i_csp = X264_CSP_I420;
    p.i_bitdepth = 8;
    p.i_fps_num = uint32_t(fps);
    p.i_fps_den = 1;
    p.rc.i_rc_method = X264_RC_ABR;
    p.rc.i_bitrate = kbps;
    p.b_full_recon = 1;
    p.i_log_level = X264_LOG_NONE;
    x264_param_apply_profile(&p, "high");
    x264_t* encoder = x264_encoder_open(&p);
    if (!encoder) {
      state.SkipWithError("x264_encoder_open failed");
      return;
    }
    bytes = 0;
    x264_nal_t* nals = nullptr;
    int nalCount = 0;
    x264_picture_t in, out;
    auto take = [&](int size) {
      if (size <= 0) return;
      bytes += size_t(size);
      state.PauseTiming();
      if (out.i_pts >= 0 && size_t(out.i_pts) < count)
        rebuilt[size_t(out.i_pts)] = fromRecon(out.img, w, h);
      state.ResumeTiming();
    };
    for (size_t i = 0; i < count; ++i) {
      x264_picture_init(&in);
      in.img.i_csp = X264_CSP_I420;
      in.img.i_plane = 3;
      in.img.plane[0] = input[i].y.data();
      in.img.plane[1] = input[i].u.data();
      in.img.plane[2] = input[i].v.data();
      in.img.i_stride[0] = w;
      in.img.i_stride[1] = in.img.i_stride[2] = w / 2;
      in.i_pts = int64_t(i);
      take(x264_encoder_encode(encoder, &nals, &nalCount, &in, &out));
    }
    while (x264_encoder_delayed_frames(encoder) > 0)
      take(x264_encoder_encode(encoder, &nals, &nalCount, nullptr, &out));
    x264_encoder_close(encoder);
  }
  const double pixels = double(w) * h * double(count);
  state.counters["Mpix/s"] =
      benchmark::Counter(pixels * double(state.iterations()) / 1e6, benchmark::Counter::kIsRate);
  state.counters["bpp"] = double(bytes) * 8.0 / pixels;
  state.counters["zov_bpp"] = double(run.bytes) * 8.0 / pixels;
  double psnr = 0;
  for (size_t i = 0; i < count; ++i)
    psnr += rebuilt[i].empty() ? 0.0 : zov::test::psnr15(clip.pictures[i], rebuilt[i]);
  state.counters["PSNR"] = psnr / double(count);
}

BENCHMARK(BM_X264)
    ->Apply([](benchmark::internal::Benchmark* b) {
      addCases(b, {0, 1});
    })
    ->Unit(benchmark::kMillisecond)
    ->MeasureProcessCPUTime();

}  // namespace
}  // namespace zov::bench

// Decode speed of ZOV2 beside current AV1 and VP8/VP9 decoders, in one run: the first 30 frames
// of the 640x480 pan, coded by ZOV2's "Video" preset and by libaom (AV1, for libdav1d) and
// libvpx (VP8, VP9) at the size ZOV2 reached (the fixed quantiser nearest to it), 8-bit 4:2:0,
// one thread everywhere.
// Every iteration decodes the whole stream with a fresh decoder; the thread CPU time of the
// decoding calls is what is reported (manual time). ZOV2 is given for key frames, interframes
// and the whole stream. Counters: Mpix/s, bits per pixel of the stream, and ZOV2's.
#include <aom/aom_encoder.h>
#include <aom/aomcx.h>
#include <benchmark/benchmark.h>
#include <dav1d/dav1d.h>
#include <vpx/vp8cx.h>
#include <vpx/vp8dx.h>
#include <vpx/vpx_decoder.h>
#include <vpx/vpx_encoder.h>

#include <cstring>
#include <ctime>

#include "encoder_footage.h"
#include "format/decoder.h"
#include "yuv420.h"

namespace zov::bench {
namespace {

constexpr int kW = 640, kH = 480, kFps = 15;  // the rate only sets the time base

double threadSeconds() {
  timespec t{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return double(t.tv_sec) + double(t.tv_nsec) * 1e-9;
}

using Packets = std::vector<std::vector<uint8_t>>;

struct Streams {
  bool ok = false;
  const char* failure = "";
  zov::test::EncodedRun zov;
  Packets av1, vp8, vp9;
};

size_t bytesOf(const Packets& p) {
  size_t n = 0;
  for (const auto& f : p) n += f.size();
  return n;
}

// One contiguous I420 picture per frame, as both encoders' image wrappers want it.
std::vector<std::vector<uint8_t>> planarFrames(const Clip& clip) {
  std::vector<std::vector<uint8_t>> frames;
  for (const Picture& p : clip.pictures) {
    const Yuv420 yuv = toYuv(p, kW, kH);
    std::vector<uint8_t> f(yuv.y);
    f.insert(f.end(), yuv.u.begin(), yuv.u.end());
    f.insert(f.end(), yuv.v.begin(), yuv.v.end());
    frames.push_back(std::move(f));
  }
  return frames;
}

bool encodeAv1(const std::vector<std::vector<uint8_t>>& frames, int q, Packets& out) {
  aom_codec_enc_cfg_t cfg;
  if (aom_codec_enc_config_default(aom_codec_av1_cx(), &cfg, AOM_USAGE_GOOD_QUALITY)) return false;
  cfg.g_w = kW;
  cfg.g_h = kH;
  cfg.g_timebase = {1, kFps};
  cfg.g_threads = 1;
  cfg.rc_end_usage = AOM_VBR;
  cfg.rc_min_quantizer = cfg.rc_max_quantizer = unsigned(q);
  aom_codec_ctx_t c;
  if (aom_codec_enc_init(&c, aom_codec_av1_cx(), &cfg, 0)) return false;
  aom_codec_control(&c, AOME_SET_CPUUSED, 6);
  auto drain = [&] {
    aom_codec_iter_t it = nullptr;
    while (const aom_codec_cx_pkt_t* pkt = aom_codec_get_cx_data(&c, &it))
      if (pkt->kind == AOM_CODEC_CX_FRAME_PKT) {
        const auto* b = static_cast<const uint8_t*>(pkt->data.frame.buf);
        out.emplace_back(b, b + pkt->data.frame.sz);
      }
  };
  bool ok = true;
  for (size_t i = 0; i < frames.size() && ok; ++i) {
    aom_image_t img;
    aom_img_wrap(&img, AOM_IMG_FMT_I420, kW, kH, 1, const_cast<uint8_t*>(frames[i].data()));
    ok = aom_codec_encode(&c, &img, aom_codec_pts_t(i), 1, 0) == AOM_CODEC_OK;
    drain();
  }
  while (ok) {  // flush the look-ahead
    const size_t before = out.size();
    ok = aom_codec_encode(&c, nullptr, 0, 1, 0) == AOM_CODEC_OK;
    drain();
    if (out.size() == before) break;
  }
  aom_codec_destroy(&c);
  return ok && !out.empty();
}

bool encodeVpx(vpx_codec_iface_t* iface, const std::vector<std::vector<uint8_t>>& frames, int q,
               Packets& out) {
  vpx_codec_enc_cfg_t cfg;
  if (vpx_codec_enc_config_default(iface, &cfg, 0)) return false;
  cfg.g_w = kW;
  cfg.g_h = kH;
  cfg.g_timebase = {1, kFps};
  cfg.g_threads = 1;
  cfg.rc_end_usage = VPX_VBR;
  cfg.rc_min_quantizer = cfg.rc_max_quantizer = unsigned(q);
  vpx_codec_ctx_t c;
  if (vpx_codec_enc_init(&c, iface, &cfg, 0)) return false;
  vpx_codec_control(&c, VP8E_SET_CPUUSED, 4);
  auto drain = [&] {
    vpx_codec_iter_t it = nullptr;
    while (const vpx_codec_cx_pkt_t* pkt = vpx_codec_get_cx_data(&c, &it))
      if (pkt->kind == VPX_CODEC_CX_FRAME_PKT) {
        const auto* b = static_cast<const uint8_t*>(pkt->data.frame.buf);
        out.emplace_back(b, b + pkt->data.frame.sz);
      }
  };
  bool ok = true;
  for (size_t i = 0; i < frames.size() && ok; ++i) {
    vpx_image_t img;
    vpx_img_wrap(&img, VPX_IMG_FMT_I420, kW, kH, 1, const_cast<uint8_t*>(frames[i].data()));
    ok = vpx_codec_encode(&c, &img, vpx_codec_pts_t(i), 1, 0, VPX_DL_GOOD_QUALITY) == VPX_CODEC_OK;
    drain();
  }
  while (ok) {
    const size_t before = out.size();
    ok = vpx_codec_encode(&c, nullptr, 0, 1, 0, VPX_DL_GOOD_QUALITY) == VPX_CODEC_OK;
    drain();
    if (out.size() == before) break;
  }
  vpx_codec_destroy(&c);
  return ok && !out.empty();
}

// The stream of the fixed quantiser (0..63) whose size comes nearest to `target` bytes, by
// bisection (sizes fall as the quantiser rises). Rate control over 30 frames lands far off a
// bitrate this high (libaom's VBR 70 % over, CBR and libvpx's default quantiser range less
// than half), so the quantiser is searched instead.
template <typename Encode>
bool matchBytes(Encode encode, size_t target, Packets& best) {
  int lo = 0, hi = 63;
  size_t bestBytes = 0;
  auto tryQ = [&](int q) {
    Packets p;
    if (!encode(q, p)) return size_t(0);
    const size_t n = bytesOf(p);
    const auto off = [&](size_t b) { return b > target ? b - target : target - b; };
    if (best.empty() || off(n) < off(bestBytes)) best = std::move(p), bestBytes = n;
    return n;
  };
  while (lo <= hi) {
    const int q = (lo + hi) / 2;
    const size_t n = tryQ(q);
    if (n == 0) return false;
    if (n > target)
      lo = q + 1;
    else
      hi = q - 1;
  }
  return !best.empty();
}

const Streams& streams() {
  static const Streams s = [] {
    Streams r;
    const Clip& clip = footage(kPan, kW, kH);
    if (clip.pictures.empty()) return r.failure = "footage missing", r;
    zov::test::HarnessOptions o;
    o.verify = false;
    o.replay = false;
    r.zov = zov::test::encodePictures(presetSettings(kVideo), kW, kH, clip.pictures, o);
    if (!r.zov.ok) return r.failure = "ZOV2 encoding failed", r;
    const auto frames = planarFrames(clip);
    if (!matchBytes([&](int q, Packets& p) { return encodeAv1(frames, q, p); }, r.zov.bytes, r.av1))
      return r.failure = "libaom encoding failed", r;
    if (!matchBytes([&](int q, Packets& p) { return encodeVpx(vpx_codec_vp8_cx(), frames, q, p); },
                    r.zov.bytes, r.vp8))
      return r.failure = "VP8 encoding failed", r;
    if (!matchBytes([&](int q, Packets& p) { return encodeVpx(vpx_codec_vp9_cx(), frames, q, p); },
                    r.zov.bytes, r.vp9))
      return r.failure = "VP9 encoding failed", r;
    r.ok = true;
    return r;
  }();
  return s;
}

// Seconds of thread CPU time to decode the packets with dav1d; 0 on failure.
double decodeAv1(const Packets& packets) {
  Dav1dSettings s;
  dav1d_default_settings(&s);
  s.n_threads = 1;
  s.max_frame_delay = 1;
  Dav1dContext* c = nullptr;
  if (dav1d_open(&c, &s) < 0) return 0;
  size_t pictures = 0;
  const double start = threadSeconds();
  auto take = [&] {
    Dav1dPicture pic{};
    const int res = dav1d_get_picture(c, &pic);
    if (res < 0) return false;
    dav1d_picture_unref(&pic);
    ++pictures;
    return true;
  };
  for (const auto& p : packets) {
    Dav1dData data{};
    std::memcpy(dav1d_data_create(&data, p.size()), p.data(), p.size());
    while (data.sz > 0) {
      const int res = dav1d_send_data(c, &data);
      if (res < 0 && res != DAV1D_ERR(EAGAIN)) {
        dav1d_data_unref(&data);
        dav1d_close(&c);
        return 0;
      }
      while (take()) {
      }
    }
  }
  for (int tries = 0; tries < 64 && pictures < packets.size(); ++tries) take();
  const double seconds = threadSeconds() - start;
  dav1d_close(&c);
  return pictures == size_t(kClipFrames) ? seconds : 0;
}

double decodeVpx(vpx_codec_iface_t* iface, const Packets& packets) {
  vpx_codec_dec_cfg_t cfg{};
  cfg.threads = 1;
  cfg.w = kW;
  cfg.h = kH;
  vpx_codec_ctx_t c;
  if (vpx_codec_dec_init(&c, iface, &cfg, 0)) return 0;
  size_t pictures = 0;
  const double start = threadSeconds();
  for (const auto& p : packets) {
    if (vpx_codec_decode(&c, p.data(), unsigned(p.size()), nullptr, 0)) break;
    vpx_codec_iter_t it = nullptr;
    while (vpx_codec_get_frame(&c, &it)) ++pictures;
  }
  const double seconds = threadSeconds() - start;
  vpx_codec_destroy(&c);
  return pictures == size_t(kClipFrames) ? seconds : 0;
}

// ZOV2 frames of one kind (0 key, 1 inter, 2 all), decoded in stream order.
double decodeZov(const zov::test::EncodedRun& run, int kind, size_t* frames) {
  zov::FrameDecoder d;
  d.prepareStream(kW, kH, run.formatWord, zov::DecoderOptions{});
  double seconds = 0;
  *frames = 0;
  for (size_t i = 0; i < run.frames.size(); ++i) {
    const bool counted = kind == 2 || (kind == 0) == run.keyFrames[i];
    const double start = threadSeconds();
    d.decodeFrame(run.frames[i].data(), run.frames[i].size());
    if (counted) seconds += threadSeconds() - start, ++*frames;
  }
  benchmark::DoNotOptimize(d.picture());
  return seconds;
}

const char* const kNames[] = {
    "ZOV2 Video key frames",
    "ZOV2 Video interframes",
    "ZOV2 Video all frames",
    "AV1 (libaom cpu-used 6, fixed quantiser) with dav1d",
    "VP8 (libvpx cpu-used 4, fixed quantiser) with libvpx",
    "VP9 (libvpx cpu-used 4, fixed quantiser) with libvpx",
};

// Arg: 0-2 ZOV2 (key, inter, all), 3 dav1d, 4 VP8, 5 VP9.
void BM_PeerDecode(benchmark::State& state) {
  const int which = int(state.range(0));
  const Streams& s = streams();
  if (!s.ok) {
    state.SkipWithError(s.failure);
    return;
  }
  state.SetLabel(kNames[which]);
  size_t frames = kClipFrames;
  size_t bytes = s.zov.bytes;
  for (auto _ : state) {
    double seconds = 0;
    switch (which) {
      case 3:
        seconds = decodeAv1(s.av1), bytes = bytesOf(s.av1);
        break;
      case 4:
        seconds = decodeVpx(vpx_codec_vp8_dx(), s.vp8), bytes = bytesOf(s.vp8);
        break;
      case 5:
        seconds = decodeVpx(vpx_codec_vp9_dx(), s.vp9), bytes = bytesOf(s.vp9);
        break;
      default:
        seconds = decodeZov(s.zov, which, &frames);
    }
    if (seconds <= 0) {
      state.SkipWithError("decoding failed");
      return;
    }
    state.SetIterationTime(seconds);
  }
  const double all = double(kW) * kH * kClipFrames;
  state.counters["Mpix/s"] =
      benchmark::Counter(double(kW) * kH * double(frames) * double(state.iterations()) / 1e6,
                         benchmark::Counter::kIsRate);
  state.counters["bpp"] = double(bytes) * 8.0 / all;
  state.counters["zov_bpp"] = double(s.zov.bytes) * 8.0 / all;
}

BENCHMARK(BM_PeerDecode)->DenseRange(0, 5)->Unit(benchmark::kMillisecond)->UseManualTime();

}  // namespace
}  // namespace zov::bench

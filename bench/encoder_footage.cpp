#include "encoder_footage.h"

#include <map>
#include <tuple>

#include "encoder/zov2_encoder.h"
#include "media/source_file.h"
#include "media/source_messages.h"

namespace zov::bench {

const Clip& footage(ClipKind kind, int width, int height, int frames) {
  static std::map<std::tuple<int, int, int, int>, Clip> cache;
  const auto key = std::make_tuple(int(kind), width, height, frames);
  auto found = cache.find(key);
  if (found != cache.end()) return found->second;
  Clip& clip = cache[key];
  // The reader's questions (none are expected) are answered "cancel".
  setSourceMessageSink([](const std::string&, SourceMessageStyle) { return kSourceAnswerCancel; });
  const std::string path =
      std::string(ZOV_TEST_DATA_DIR) +
      (kind == kTeapot ? "/teapot-256x256-rgb24.avi" : "/pan-640x480-mjpeg-pcm.avi");
  SourceFile source(path);
  if (!source.Opened || source.FrameCount < uint32_t(frames)) return clip;
  if (int(source.Width) != width || int(source.Height) != height) {
    source.ResizeWidth = uint32_t(width);
    source.ResizeHeight = uint32_t(height);
    source.ResizeInterpolate = true;
  }
  std::vector<uint8_t> bitmap;
  const size_t bytes = 40 + size_t(width) * size_t(height) * 2;
  for (uint32_t i = 0; i < uint32_t(frames); ++i) {
    if (!source.getFrame(i, bitmap, nullptr, true, false, true) || bitmap.size() != bytes) {
      clip.pictures.clear();
      return clip;
    }
    const auto* pixels = reinterpret_cast<const uint16_t*>(bitmap.data() + 40);
    clip.pictures.emplace_back(pixels, pixels + size_t(width) * size_t(height));
  }
  clip.width = width;
  clip.height = height;
  return clip;
}

CompressionSettings presetSettings(PresetKind preset) {
  CompressionSettings s;
  switch (preset) {
    case kSmokeCloudsRain:
      s.CompressionType = 4, s.InterframeDetection = 5, s.NoiseReduction = 15, s.ImageLossLevel = 7;
      break;
    case kAnimation:
      s.CompressionType = 0, s.InterframeDetection = 0, s.NoiseReduction = 0, s.ImageLossLevel = 0;
      break;
    case kVideo:
    case kFast:
      s.CompressionType = 4, s.InterframeDetection = 8, s.NoiseReduction = 50, s.ImageLossLevel = 7;
      break;
  }
  s.FastCompression = preset == kFast;
  s.FieldType = 0;
  s.EnhancedEdges = true;
  s.KeyRate = 3;
  s.updateDerived();
  return s;
}

CompressionSettings runSettings(PresetKind preset, uint32_t threads) {
  CompressionSettings s = presetSettings(preset);
  s.threads = threads;
  s.LossyActive = !s.FastCompression && s.CompressionType != 0 && s.Lossy;
  s.KeyCountdown = s.FastCompression || s.KeyRate == 0 ? 0 : s.KeyRate + 1;
  s.FrameRate = 15;
  return s;
}

size_t codeClip(CompressionSettings& s, const Clip& clip, std::vector<uint8_t>& out,
                const std::function<void(size_t, size_t)>& coded) {
  const size_t count = clip.pictures.size();
  size_t bytes = 0, done = 0;
  auto call = [&](size_t n, const Picture* pic) {
    bool key = n < 2;
    if (!key && s.KeyCountdown != 0 && --s.KeyCountdown == 0) {
      s.KeyCountdown = s.KeyRate + 1;
      key = true;
    }
    s.KeyFrame = key;
    s.FinalCall = pic == nullptr;
    const bool first = s.EnhancedInterframe && s.FirstCall;
    CompressParams p{pic ? pic->data() : nullptr, out.data(), out.size(), 0};
    // The picture of the next call, as the compression run hands it in.
    if (pic && pic + 1 < clip.pictures.data() + count) p.next = (pic + 1)->data();
    EncodeFrame(s, p);
    if (first) return;
    bytes += p.outputLength;
    coded(done++, p.outputLength);
  };
  if (s.EnhancedInterframe) {
    call(0, &clip.pictures[0]);
    for (size_t i = 0; i < count; ++i) call(i, i + 1 < count ? &clip.pictures[i + 1] : nullptr);
  } else {
    for (size_t i = 0; i < count; ++i) call(i, &clip.pictures[i]);
  }
  return bytes;
}

std::string caseLabel(PresetKind preset, ClipKind kind, int width, int height) {
  static const char* const presets[] = {"Video", "Smoke/Clouds/Rain", "Animation",
                                        "FastCompression"};
  return std::string(presets[preset]) + (kind == kTeapot ? " teapot " : " pan ") +
         std::to_string(width) + "x" + std::to_string(height);
}

void addCases(benchmark::internal::Benchmark* b, std::vector<int64_t> extra) {
  if (extra.empty()) extra.push_back(-1);
  for (int preset = 0; preset < 4; ++preset)
    for (int clip = 0; clip < 2; ++clip)
      for (int64_t size : {320, 640})
        for (int64_t e : extra) {
          std::vector<int64_t> args{size, size * 3 / 4, preset, clip};
          if (e >= 0) args.push_back(e);
          b->Args(args);
        }
}

}  // namespace zov::bench

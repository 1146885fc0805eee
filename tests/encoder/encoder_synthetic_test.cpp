// The encoder's invariant on synthetic sequences that stress particular paths: noise (no
// unchanged areas, extreme steps), gradients and flat areas (solid and smooth-luma rectangles),
// scrolling and scene cuts (key-frame decisions), the smallest and largest sizes, single and
// wide field, letterbox, key rates, data rates and fast compression.
#include <gtest/gtest.h>

#include <random>

#include "support/encoder_harness.h"

namespace zov::test {
namespace {

uint16_t rgb(int r, int g, int b) {
  return uint16_t((r & 31) << 10 | (g & 31) << 5 | (b & 31));
}

// A scene: gradients, a flat box and a noisy patch, moved by `shift` columns; `seed` changes
// the noise and, when `cut` is set, the whole layout.
Picture scene(int w, int h, int shift, uint32_t seed, bool cut = false) {
  Picture p(size_t(w) * h);
  std::mt19937 rng(seed);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      int sx = x + shift;
      uint16_t c = cut ? rgb(31 - sx * 31 / (w + 64), y * 31 / h, (sx ^ y) & 31)
                       : rgb(sx * 31 / (w + 64), (y * 31) / h, ((sx + y) / 8) & 31);
      if (sx % 97 > 40 && sx % 97 < 80 && y > h / 4 && y < h / 2) c = rgb(4, 20, 9);  // flat box
      if (x > w / 2 && y > h / 2 && x < w / 2 + 40 && y < h / 2 + 30)
        c = uint16_t(rng() & 0x7FFF);  // noise
      p[size_t(y) * w + x] = c;
    }
  return p;
}

std::vector<Picture> sequence(int w, int h, int frames, bool cutHalfway = false) {
  std::vector<Picture> v;
  for (int f = 0; f < frames; ++f)
    v.push_back(scene(w, h, f * 3, uint32_t(f), cutHalfway && f >= frames / 2));
  return v;
}

std::vector<Picture> noise(int w, int h, int frames) {
  std::mt19937 rng(7);
  std::vector<Picture> v(size_t(frames), Picture(size_t(w) * h));
  for (auto& p : v)
    for (auto& px : p) px = uint16_t(rng() & 0x7FFF);
  return v;
}

CompressionSettings settings(uint32_t type, bool edge, uint32_t loss) {
  CompressionSettings s;
  s.CompressionType = type;
  s.EnhancedEdges = edge;
  s.ImageLossLevel = loss;
  s.updateDerived();
  return s;
}

std::string describe(const CompressionSettings& s) {
  return "type " + std::to_string(s.CompressionType) + " edge " + std::to_string(s.EnhancedEdges) +
         " loss " + std::to_string(s.ImageLossLevel) + " field " + std::to_string(s.FieldType) +
         " keyrate " + std::to_string(s.KeyRate) + " fast " + std::to_string(s.FastCompression);
}

void expectInvariant(const CompressionSettings& s, int w, int h, const std::vector<Picture>& pics,
                     const HarnessOptions& o = {}) {
  EncodedRun run = encodePictures(s, w, h, pics, o);
  EXPECT_TRUE(run.ok) << run.failure << " (" << describe(s) << ", " << w << "x" << h << ")";
  EXPECT_EQ(run.frames.size(), pics.size()) << describe(s);
}

TEST(EncoderSynthetic, SmallestSizeEverySchemeFieldTypeAndEdgeMode) {
  auto pics = sequence(80, 60, 4, true);
  for (uint32_t type = 0; type <= 4; ++type)
    for (uint32_t field = 0; field <= 2; ++field)
      for (bool edge : {false, true}) {
        CompressionSettings s = settings(type, edge, 7);
        s.FieldType = field;
        s.updateDerived();
        expectInvariant(s, 80, 60, pics);
      }
}

TEST(EncoderSynthetic, NoiseWithExtremeStepsStaysWithinTheSymbolLimit) {
  // 640 x 480 noise with the extended-range code would need more than three symbols per pixel.
  auto pics = noise(640, 480, 2);
  EncodedRun run = encodePictures(settings(0, true, 0), 640, 480, pics);
  EXPECT_TRUE(run.ok) << run.failure;
  EXPECT_TRUE(run.keyFrames.at(1)) << "noise leaves nothing unchanged: a key frame";
  pics.resize(1);
  run = encodePictures(settings(4, true, 0), 640, 480, pics);
  EXPECT_TRUE(run.ok) << run.failure;
}

TEST(EncoderSynthetic, LargestSizeScrollingWithSceneCut) {
  auto pics = sequence(640, 480, 3, true);
  for (uint32_t type : {0u, 4u}) expectInvariant(settings(type, type != 0, 7), 640, 480, pics);
}

TEST(EncoderSynthetic, KeyRatesFastCompressionAndLossLevels) {
  auto pics = sequence(160, 120, 6);
  for (uint32_t keyRate : {0u, 1u, 3u})
    for (bool fast : {false, true})
      for (uint32_t loss : {1u, 7u}) {
        CompressionSettings s = settings(3, true, loss);
        s.KeyRate = keyRate;
        s.FastCompression = fast;
        HarnessOptions o;
        o.dualInitialKeyFrames = keyRate != 1;
        expectInvariant(s, 160, 120, pics, o);
      }
}

TEST(EncoderSynthetic, FastCompressionCodesEveryFrameAsKeyFrame) {
  CompressionSettings s = settings(4, true, 7);
  s.FastCompression = true;
  EncodedRun run = encodePictures(s, 160, 120, sequence(160, 120, 5));
  ASSERT_TRUE(run.ok) << run.failure;
  for (bool key : run.keyFrames) EXPECT_TRUE(key);
}

TEST(EncoderSynthetic, IdenticalFramesBecomeUnchangedRectanglesWithNoSymbols) {
  std::vector<Picture> pics(4, scene(160, 120, 0, 1));
  CompressionSettings s = settings(0, true, 0);
  s.KeyRate = 10;
  HarnessOptions o;
  o.dualInitialKeyFrames = false;
  EncodedRun run = encodePictures(s, 160, 120, pics, o);
  ASSERT_TRUE(run.ok) << run.failure;
  EXPECT_FALSE(run.keyFrames[2]);
  EXPECT_LT(run.frames[2].size(), 200u) << "an unchanged frame is its lists alone";
}

TEST(EncoderSynthetic, UniformPictureBecomesSolidRectangles) {
  std::vector<Picture> pics(2, Picture(size_t(160) * 120, rgb(3, 17, 29)));
  for (uint32_t type : {0u, 4u}) {
    EncodedRun run = encodePictures(settings(type, true, 7), 160, 120, pics);
    ASSERT_TRUE(run.ok) << run.failure;
    EXPECT_LT(run.frames[0].size(), 120u) << "type " << type;
  }
}

TEST(EncoderSynthetic, LetterboxOnEveryKeyFrame) {
  auto pics = sequence(160, 120, 6);
  for (uint32_t type : {0u, 4u}) {
    CompressionSettings s = settings(type, false, 7);
    s.LetterboxPresent = true;
    s.LetterboxTopLines = 12;
    s.LetterboxBottomLines = 8;
    expectInvariant(s, 160, 120, pics);
  }
}

TEST(EncoderSynthetic, DataRateTooLowAlternatesCodedAndSkippedFrames) {
  auto pics = sequence(160, 120, 10);
  for (uint32_t keyRate : {0u, 3u}) {  // without and with enhanced interframe mode
    CompressionSettings s = settings(4, true, 7);
    s.KeyRate = keyRate;
    s.DataRate = 1024;  // 1 KB per second at 15 frames per second
    s.DataRateControl = true;
    EncodedRun run = encodePictures(s, 160, 120, pics);
    EXPECT_TRUE(run.ok) << run.failure;
    EXPECT_GT(run.skipped, 2) << "keyrate " << keyRate;
    EXPECT_LT(run.skipped, 9) << "keyrate " << keyRate;
  }
}

TEST(EncoderSynthetic, ForceAndIncreaseKeyRateKeepTheInvariant) {
  auto pics = sequence(160, 120, 10, true);
  CompressionSettings s = settings(2, true, 7);
  s.DataRateControl = true;
  s.ForceKeyFrame = true;
  s.ForceKeyFramePercent = 50;
  s.IncreaseKeyRate = true;
  expectInvariant(s, 160, 120, pics);
}

}  // namespace
}  // namespace zov::test

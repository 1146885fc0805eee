// Chroma keying: green and blue screens against black or a background bitmap, and background
// screening against the first frame or a bitmap. The stream must decode to the encoder's
// picture, including the embedded background frame, and keyed areas must show the background.
#include <gtest/gtest.h>

#include "encoder/chroma_key.h"
#include "encoder/encoder_buffers.h"
#include "support/encoder_harness.h"

namespace zov::test {
namespace {

constexpr int kW = 160, kH = 120;

uint16_t rgb(int r, int g, int b) {
  return uint16_t(r << 10 | g << 5 | b);
}

// A screen of the given colour on the left, a moving figure on the right.
std::vector<Picture> screened(uint16_t screen, int frames) {
  std::vector<Picture> v;
  for (int f = 0; f < frames; ++f) {
    Picture p(size_t(kW) * kH);
    for (int y = 0; y < kH; ++y)
      for (int x = 0; x < kW; ++x)
        p[size_t(y) * kW + x] =
            x < 90 ? screen : rgb((x + f) % 32, (y / 4) % 32, (x * y / 64 + f) % 32);
    v.push_back(std::move(p));
  }
  return v;
}

Picture backdrop() {
  Picture p(size_t(kW) * kH);
  for (int y = 0; y < kH; ++y)
    for (int x = 0; x < kW; ++x) p[size_t(y) * kW + x] = rgb(y * 31 / kH, 8, x * 31 / kW);
  return p;
}

CompressionSettings keying(uint32_t screening, uint32_t type) {
  CompressionSettings s;
  s.CompressionType = type;
  s.ChromaKeying = true;
  s.ChromaScreening = screening;
  s.ChromaGreen = screening == kScreeningBlue ? 2 : 16;
  s.ChromaBlue = screening == kScreeningBlue ? 16 : 2;
  s.ChromaRed = 2;
  s.updateDerived();
  return s;
}

TEST(EncoderChromaKey, ScreensAgainstBlackAndAgainstABitmapInEveryScheme) {
  Picture bg = backdrop();
  for (uint32_t screening : {kScreeningGreen, kScreeningBlue})
    for (uint32_t type : {0u, 1u, 4u})
      for (bool bitmap : {false, true})
        for (uint32_t keyRate : {0u, 3u}) {
          CompressionSettings s = keying(screening, type);
          s.KeyRate = keyRate;
          HarnessOptions o;
          o.backgroundBitmap = bitmap ? &bg : nullptr;
          o.keepReconstructions = true;
          auto pics = screened(screening == kScreeningBlue ? rgb(0, 0, 31) : rgb(0, 31, 0), 4);
          EncodedRun run = encodePictures(s, kW, kH, pics, o);
          std::string what = "screening " + std::to_string(screening) + " type " +
                             std::to_string(type) + " bitmap " + std::to_string(bitmap) +
                             " keyrate " + std::to_string(keyRate);
          ASSERT_TRUE(run.ok) << run.failure << " " << what;
          EXPECT_EQ((run.formatWord & 0x1000) != 0, bitmap) << what;
          // Inside the screen, away from the blended edge, the background shows.
          const Picture& last = run.reconstructions.back();
          int far = 0;
          for (int y = 10; y < kH - 10; ++y)
            for (int x = 10; x < 80; ++x) {
              uint16_t want = bitmap ? bg[size_t(y) * kW + x] : 0;
              int d = std::abs(int(last[size_t(y) * kW + x] >> 5 & 31) - int(want >> 5 & 31));
              far += d > 3;
            }
          EXPECT_EQ(far, 0) << what;
        }
}

TEST(EncoderChromaKey, BackgroundScreeningAgainstTheFirstFrameOrABitmap) {
  Picture bg = backdrop();
  for (bool bitmap : {false, true})
    for (uint32_t type : {0u, 3u}) {
      CompressionSettings s = keying(kScreeningBackground, type);
      HarnessOptions o;
      o.backgroundBitmap = bitmap ? &bg : nullptr;
      // The set stays where it is (the backdrop) while a figure moves over it.
      std::vector<Picture> pics;
      for (int f = 0; f < 6; ++f) {
        Picture p = bg;
        for (int y = 40; y < 80; ++y)
          for (int x = 20 + 8 * f; x < 50 + 8 * f; ++x) p[size_t(y) * kW + x] = rgb(31, 31, f);
        pics.push_back(std::move(p));
      }
      EncodedRun run = encodePictures(s, kW, kH, pics, o);
      ASSERT_TRUE(run.ok) << run.failure << " bitmap " << bitmap << " type " << type;
      EXPECT_EQ(run.formatWord & 0x1100, bitmap ? 0x1000u : 0x0100u);
    }
}

TEST(EncoderChromaKey, KeyRuleSpillRemovalAndGapClosing) {
  EncoderBuffers b;
  b.width = 8;
  b.lines = 4;
  b.pixels = 32;
  b.work.assign(32, 0);
  b.keyMapCopy.assign(32, 0);
  CompressionSettings s = keying(kScreeningGreen, 0);
  s.ChromaGreen = 10;
  s.ChromaAntialiasing = false;
  Picture p(32, rgb(10, 12, 4));  // green above both: spill, comes down to 10
  p[0] = rgb(2, 20, 3);           // keyed: G >= 10, G > 2 + R, G > 2 + B
  p[1] = rgb(24, 25, 3);          // not keyed (G not above 2 + R), but a gap
  p[2] = rgb(0, 31, 0);           // keyed
  p[3] = rgb(10, 12, 9);          // G = 12 > 2 + 10 is false: not keyed
  std::vector<uint8_t> key(32);
  chromaKey(b, s, p.data(), key.data());
  EXPECT_EQ(key[0], 1);
  EXPECT_EQ(p[0], 0);
  EXPECT_EQ(p[1], 0) << "a lone unkeyed pixel between keyed ones is closed (black without bitmap)";
  EXPECT_EQ(key[1], 0) << "without a bitmap the key map keeps the gap";
  EXPECT_EQ(key[2], 1);
  EXPECT_EQ(key[3], 0);
  EXPECT_EQ(p[3], rgb(10, 10, 9)) << "spill: green down to the larger of red and blue";
  EXPECT_EQ(p[8], rgb(10, 10, 4));
}

}  // namespace
}  // namespace zov::test

#include <gtest/gtest.h>

#include <random>

#include "format/decoder.h"
#include "support/reference_encoder.h"

namespace zov::test {
namespace {

// Encodes pictures with the reference encoder and checks that the frame decoder reproduces the
// encoder's reconstruction exactly, whatever the content.
void expectRoundTrip(int w, int h, const std::vector<std::vector<uint16_t>>& pictures, bool useRle,
                     const char* what) {
  ReferenceEncoder enc(w, h);
  enc.setUseRle(useRle);
  FrameDecoder dec;
  ASSERT_TRUE(dec.prepareStream(w, h, enc.formatWord(), DecoderOptions{}));
  for (size_t n = 0; n < pictures.size(); ++n) {
    auto bytes = enc.encode(pictures[n], n == 0);
    ASSERT_EQ(dec.decodeFrame(bytes.data(), bytes.size()), DecodeStatus::Ok)
        << what << " frame " << n << ": " << (dec.lastFrame().fault ? dec.lastFrame().fault : "");
    std::vector<uint16_t> got(dec.picture(), dec.picture() + size_t(w) * size_t(h));
    ASSERT_EQ(got, enc.reconstruction()) << what << " frame " << n;
    EXPECT_EQ(dec.lastFrame().nsym, enc.lastStats().nsym);
    EXPECT_EQ(dec.lastFrame().n1, enc.lastStats().n1);
    EXPECT_EQ(dec.lastFrame().n2, enc.lastStats().n2);
  }
}

std::vector<uint16_t> noise(int w, int h, std::mt19937& rng) {
  std::vector<uint16_t> p(size_t(w) * size_t(h));
  for (auto& v : p) v = uint16_t(rng() & 0x7FFF);
  return p;
}

std::vector<uint16_t> gradient(int w, int h, int shift) {
  std::vector<uint16_t> p(size_t(w) * size_t(h));
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x)
      p[size_t(y) * w + x] =
          uint16_t(((x + shift) / 8 % 32) << 10 | (y / 4 % 32) << 5 | ((x + y) % 32));
  return p;
}

TEST(ReferenceEncoder, SmoothPicturesAreCodedLosslessly) {
  ReferenceEncoder enc(64, 32);
  auto p = gradient(64, 32, 0);
  enc.encode(p, true);
  EXPECT_EQ(enc.reconstruction(), p);
  EXPECT_EQ(enc.lastStats().inexactPixels, 0);
  expectRoundTrip(64, 32, {gradient(64, 32, 0), gradient(64, 32, 3), gradient(64, 32, 3)}, true,
                  "gradient");
}

TEST(ReferenceEncoder, NoiseRoundTripsWithAndWithoutRleEscapes) {
  std::mt19937 rng(11);
  expectRoundTrip(40, 20, {noise(40, 20, rng), noise(40, 20, rng)}, true, "noise, Rle");
  expectRoundTrip(40, 20, {noise(40, 20, rng), noise(40, 20, rng)}, false, "noise, nearest");
}

TEST(ReferenceEncoder, UnchangedFramesAndTinyPicturesRoundTrip) {
  std::mt19937 rng(3);
  auto p = noise(8, 8, rng);
  expectRoundTrip(8, 8, {p, p, p}, true, "unchanged");       // NSYM 0 after the key frame
  expectRoundTrip(1, 1, {{0x1234}, {0x4321}}, true, "1x1");  // a seed and nothing else
  expectRoundTrip(3, 2, {noise(3, 2, rng), noise(3, 2, rng)}, true, "3x2");
  ReferenceEncoder enc(8, 8);
  enc.encode(p, true);
  enc.encode(p, false);
  EXPECT_EQ(enc.lastStats().nsym, 0);
  EXPECT_EQ(enc.lastStats().interframeBlocks, 1);  // the whole picture, one stacked block
}

TEST(ReferenceEncoder, FullSizePicturesUseEverySegment) {
  std::mt19937 rng(5);
  auto a = gradient(640, 480, 0);
  auto b = a;
  // Changes scattered so that blocks fall into many of the 38 segments.
  for (int i = 0; i < 2000; ++i) b[rng() % b.size()] = uint16_t(rng() & 0x7FFF);
  expectRoundTrip(640, 480, {a, b}, true, "640x480");
}

}  // namespace
}  // namespace zov::test

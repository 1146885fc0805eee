// Every frame the encoder writes must decode to exactly the encoder's reconstruction: checked
// frame by frame inside the encoder (VerifyFrames) and again by replaying the stream through a
// fresh decoder, over a grid of settings on real footage and on synthetic sequences.
#include <gtest/gtest.h>

#include <random>

#include "support/encoder_harness.h"
#include "support/footage_avi.h"

namespace zov::test {
namespace {

const std::vector<Picture>& teapot() {
  static std::vector<Picture> pictures = [] {
    Footage f;
    std::vector<Picture> out;
    if (loadUncompressedAvi(std::string(ZOV_TEST_DATA_DIR) + "/teapot-256x256-rgb24.avi", f, 5))
      for (const auto& frame : f.frames)
        out.push_back(toPicture15(frame, f.width, f.height, f.bitsPerPixel));
    return out;
  }();
  return pictures;
}

CompressionSettings videoPreset() {
  CompressionSettings s;
  s.CompressionType = 4;
  s.FieldType = 0;
  s.InterframeDetection = 8;
  s.NoiseReduction = 50;
  s.ImageLossLevel = 7;
  s.FastCompression = false;
  s.EnhancedEdges = true;
  s.KeyRate = 3;
  s.updateDerived();
  return s;
}

void expectInvariant(const CompressionSettings& s, int w, int h, const std::vector<Picture>& pics,
                     const HarnessOptions& o = {}) {
  EncodedRun run = encodePictures(s, w, h, pics, o);
  EXPECT_TRUE(run.ok) << run.failure << " (type " << s.CompressionType << ", edge "
                      << s.EnhancedEdges << ", loss " << s.ImageLossLevel << ", field "
                      << s.FieldType << ", fast " << s.FastCompression << ")";
  EXPECT_EQ(run.frames.size(), pics.size());
}

// Threads split the pre-quantisation and take the next picture in while a frame is coded; none
// of it may change a byte, whether the hint about the next picture is right or wrong. Three
// threads give two helpers taking tasks from the same end, and lines quantised by workers other
// than the one that voted on their cells.
TEST(EncoderInvariant, TwoThreadsAndNextPictureHintsWriteTheSameFrames) {
  const auto& pics = teapot();
  ASSERT_GE(pics.size(), 4u) << "teapot footage missing";
  for (bool fast : {false, true}) {
    CompressionSettings s = videoPreset();
    s.FastCompression = fast;
    s.updateDerived();
    const EncodedRun one = encodePictures(s, 256, 256, pics);
    ASSERT_TRUE(one.ok) << one.failure;
    for (uint32_t threads : {2u, 3u}) {
      s.threads = threads;
      for (bool wrong : {false, true}) {
        HarnessOptions o;
        o.hintNext = true;
        o.wrongHints = wrong;
        const EncodedRun many = encodePictures(s, 256, 256, pics, o);
        ASSERT_TRUE(many.ok) << many.failure;
        EXPECT_TRUE(many.frames == one.frames)
            << "fast " << fast << ", " << threads << " threads, wrong hints " << wrong;
      }
    }
  }
}

// A 640x480 frame of noise needs more symbols than the decoder accepts, so the extended-range
// code is given up where the frame's remaining budget runs short. Two threads code rows before
// the symbols ahead of them are known; half flat and half noise (either way up) makes the
// budget run short in the middle of such rows. The frames must still be those of one thread.
TEST(EncoderInvariant, TwoThreadsNearTheSymbolLimitWriteTheSameFrames) {
  const int w = 640, h = 480;
  std::mt19937 rng(7);
  std::vector<Picture> pics;
  for (int split : {h / 4, h / 2, 3 * h / 4}) {
    for (bool noiseFirst : {false, true}) {
      Picture p(size_t(w) * h);
      for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
          p[size_t(y) * w + x] =
              (y < split) == noiseFirst ? uint16_t(rng() & 0x7FFF) : uint16_t(0x3DEF);
      pics.push_back(std::move(p));
    }
  }
  for (uint32_t type : {0u, 1u, 2u, 4u}) {
    CompressionSettings s = videoPreset();
    s.CompressionType = type;
    s.KeyRate = 1;
    s.updateDerived();
    HarnessOptions o;
    o.dualInitialKeyFrames = false;
    const EncodedRun one = encodePictures(s, w, h, pics, o);
    ASSERT_TRUE(one.ok) << one.failure;
    s.threads = 2;
    const EncodedRun two = encodePictures(s, w, h, pics, o);
    ASSERT_TRUE(two.ok) << two.failure;
    EXPECT_TRUE(two.frames == one.frames) << "type " << type;
  }
}

TEST(EncoderInvariant, TeapotEverySchemeEdgeModeAndLossLevel) {
  const auto& pics = teapot();
  ASSERT_GE(pics.size(), 4u) << "teapot footage missing";
  for (uint32_t type = 0; type <= 4; ++type)
    for (bool edge : {false, true})
      for (uint32_t loss : {0u, 7u}) {
        CompressionSettings s = videoPreset();
        s.CompressionType = type;
        s.EnhancedEdges = edge;
        s.ImageLossLevel = loss;
        s.updateDerived();
        expectInvariant(s, 256, 256, pics);
      }
}

TEST(EncoderInvariant, TeapotSingleFieldLossy) {
  // Entropy runs of single-field streams: every coded line is an odd line of the picture.
  const auto& pics = teapot();
  ASSERT_GE(pics.size(), 4u) << "teapot footage missing";
  for (uint32_t type = 1; type <= 4; ++type)
    for (bool edge : {false, true}) {
      CompressionSettings s = videoPreset();
      s.CompressionType = type;
      s.EnhancedEdges = edge;
      s.FieldType = kFieldSingle;
      s.updateDerived();
      expectInvariant(s, 256, 256, pics);
    }
}

}  // namespace
}  // namespace zov::test

// The real clips that nobody on the project wrote: every frame of the 24-bit teapot and of the
// Motion-JPEG pan decodes, and the pan's audio comes back exactly as its chunks hold it. The
// other clips of ../shared/testdata are read when that folder is present.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>

#include "media/avi_container.h"
#include "media/source_file.h"
#include "media/source_messages.h"
#include "support/avi_fixtures.h"

namespace zov {
namespace {

std::string dataFile(const char* name) {
  return std::string(ZOV_TEST_DATA_DIR) + "/" + name;
}

// The shared clip folder beside the repository, or empty.
std::string sharedClip(const char* name) {
  for (const char* base : {ZOV_TEST_DATA_DIR "/../../../shared/testdata",
                           ZOV_TEST_DATA_DIR "/../../shared/testdata"}) {
    std::string p = std::string(base) + "/" + name;
    if (std::filesystem::exists(p)) return p;
  }
  return {};
}

class QuietMessages {
 public:
  QuietMessages() {
    setSourceMessageSink([this](const std::string& t, SourceMessageStyle) {
      texts.push_back(t);
      return kSourceAnswerCancel;
    });
  }
  ~QuietMessages() { setSourceMessageSink(nullptr); }
  std::vector<std::string> texts;
};

double psnr(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b) {
  double se = 0;
  for (size_t i = 40; i < a.size(); ++i) {
    double d = double(a[i]) - b[i];
    se += d * d;
  }
  double mse = se / double(a.size() - 40);
  return mse == 0 ? 99 : 10 * std::log10(255.0 * 255.0 / mse);
}

double mean(const std::vector<uint8_t>& a) {
  double s = 0;
  for (size_t i = 40; i < a.size(); ++i) s += a[i];
  return s / double(a.size() - 40);
}

TEST(RealClips, TeapotFramesAreTheStoredPixels) {
  QuietMessages q;
  const std::string path = dataFile("teapot-256x256-rgb24.avi");
  SourceFile s(path);
  ASSERT_TRUE(s.Opened);
  EXPECT_EQ(s.FrameCount, 45u);
  EXPECT_EQ(s.Width, 256u);
  EXPECT_EQ(s.Height, 256u);
  EXPECT_EQ(s.BitCount, 24u);
  EXPECT_EQ(s.MicroSecPerFrame, 33333u);
  EXPECT_FALSE(s.HasAudio);
  EXPECT_EQ(s.Handler, "DIB ");
  auto c = AviContainer::open(path, nullptr);
  ASSERT_TRUE(c);
  std::vector<uint8_t> bmp, raw;
  for (uint32_t i = 0; i < 45; ++i) {
    bool key = false;
    ASSERT_TRUE(s.getFrame(i, bmp, &key, false, false, false));
    EXPECT_TRUE(key);
    ASSERT_TRUE(c->readFrame(i, raw));
    ASSERT_EQ(bmp.size(), 40 + raw.size());
    EXPECT_TRUE(std::equal(raw.begin(), raw.end(), bmp.begin() + 40)) << "frame " << i;
  }
  ASSERT_TRUE(s.getFrame(44, bmp, nullptr, true, false, false));
  EXPECT_EQ(bmp.size(), 40u + 256 * 256 * 2);
  EXPECT_TRUE(q.texts.empty());
}

TEST(RealClips, MotionJpegPanDecodesPlausiblyAndItsAudioMatchesTheChunks) {
  QuietMessages q;
  const std::string path = dataFile("pan-640x480-mjpeg-pcm.avi");
  SourceFile s(path);
  ASSERT_TRUE(s.Opened);
  EXPECT_EQ(s.FrameCount, 150u);
  EXPECT_EQ(s.Width, 640u);
  EXPECT_EQ(s.Height, 480u);
  EXPECT_EQ(s.BitCount, 24u);
  ASSERT_TRUE(s.HasAudio);
  EXPECT_EQ(s.AudioRate, 44100u);
  EXPECT_EQ(s.AudioChannels, 2u);
  EXPECT_EQ(s.AudioBlockAlign, 4u);
  EXPECT_EQ(s.AudioLength, 220500u);
  EXPECT_EQ(s.AudioPreloadFrames, 23u);  // 30 * 0.75 + 0.9

  std::vector<uint8_t> prev, cur;
  int lowPsnr = 0;
  for (uint32_t i = 0; i < 150; ++i) {
    ASSERT_TRUE(s.getFrame(i, cur, nullptr, false, false, false)) << "frame " << i;
    double m = mean(cur);
    EXPECT_GT(m, 20) << "frame " << i << " is nearly black";
    EXPECT_LT(m, 240) << "frame " << i << " is nearly white";
    if (!prev.empty()) {
      double p = psnr(prev, cur);
      // A slow pan: neighbouring frames are alike, except across the cut at frame 75.
      if (p < 18) ++lowPsnr;
      if (i != 75) {
        EXPECT_GT(p, 18) << "frames " << i - 1 << " and " << i;
      }
    }
    prev.swap(cur);
  }
  EXPECT_LE(lowPsnr, 1);
  EXPECT_TRUE(q.texts.empty());

  // Audio: frame k holds floor((k+1)*rate/fps + 1/2) - floor(k*rate/fps + 1/2) sample frames,
  // exactly the bytes of chunk k.
  auto c = AviContainer::open(path, nullptr);
  ASSERT_TRUE(c);
  ASSERT_EQ(c->audioEntries().size(), 150u);
  std::vector<uint8_t> audio, chunk;
  for (uint32_t k = 0; k < 150; ++k) {
    uint32_t size = 0;
    ASSERT_TRUE(s.readAudioForFrame(k, audio, &size));
    uint64_t n = uint64_t(std::floor((k + 1) * 44100.0 / 30 + 0.5)) -
                 uint64_t(std::floor(k * 44100.0 / 30 + 0.5));
    ASSERT_EQ(size, n * 4) << "frame " << k;
    const auto& e = c->audioEntries()[k];
    ASSERT_EQ(e.size, size);
    uint64_t start = 0;
    for (uint32_t j = 0; j < k; ++j) start += c->audioEntries()[j].size;
    ASSERT_EQ(c->readAudio(start / 4, n, chunk), size);
    EXPECT_EQ(audio, chunk) << "frame " << k;
  }
}

TEST(RealClips, SharedClipsWhenPresent) {
  std::string pan = sharedClip("pan-320x240-rgb24-pcm.avi");
  std::string screen = sharedClip("screen-640x480-rgb555.avi");
  if (pan.empty() && screen.empty()) GTEST_SKIP() << "../shared/testdata is not beside the clone";
  QuietMessages q;
  if (!pan.empty()) {
    SourceFile s(pan);
    ASSERT_TRUE(s.Opened);
    EXPECT_EQ(s.FrameCount, 60u);
    EXPECT_EQ(s.AudioRate, 22050u);
    EXPECT_EQ(s.AudioChannels, 1u);
    std::vector<uint8_t> a;
    uint32_t size = 0;
    for (uint32_t k = 0; k < 60; ++k) {
      ASSERT_TRUE(s.readAudioForFrame(k, a, &size));
      EXPECT_EQ(size, 2940u);
    }
  }
  if (!screen.empty()) {
    SourceFile s(screen);
    ASSERT_TRUE(s.Opened);
    EXPECT_EQ(s.BitCount, 16u);
    EXPECT_EQ(s.FrameCount, 30u);
    auto c = AviContainer::open(screen, nullptr);
    ASSERT_TRUE(c);
    std::vector<uint8_t> bmp, raw;
    for (uint32_t i = 0; i < 30; i += 7) {
      ASSERT_TRUE(s.getFrame(i, bmp, nullptr, true, false, false));
      ASSERT_TRUE(c->readFrame(i, raw));
      // 15-bit frames keep their values.
      EXPECT_TRUE(std::equal(raw.begin(), raw.end(), bmp.begin() + 40));
    }
  }
  EXPECT_TRUE(q.texts.empty());
}

}  // namespace
}  // namespace zov

// The source reader: opening checks and their messages, frame fetch with crop, conversion,
// stripping and resizing, the audio options, the open-file table and data-rate sampling.
#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <mutex>

#include "encoder/colour_quantiser.h"
#include "media/source_file.h"
#include "media/source_messages.h"
#include "support/avi_fixtures.h"

namespace zov {
namespace {

using test::FixtureMovie;

// Records the reader's messages for one test and restores the default after.
class MessageLog {
 public:
  MessageLog() {
    setSourceMessageSink([this](const std::string& t, SourceMessageStyle) {
      std::lock_guard<std::mutex> lock(mutex_);
      texts_.push_back(t);
      return kSourceAnswerCancel;
    });
  }
  ~MessageLog() { setSourceMessageSink(nullptr); }
  std::vector<std::string> texts() {
    std::lock_guard<std::mutex> lock(mutex_);
    return texts_;
  }

 private:
  std::mutex mutex_;
  std::vector<std::string> texts_;
};

class AudioOptionsScope {
 public:
  explicit AudioOptionsScope(SourceAudioOptions o) {
    SourceEnvironment env;
    env.audioOptions = [o] { return o; };
    setSourceEnvironment(env);
  }
  ~AudioOptionsScope() { setSourceEnvironment({}); }
};

FixtureMovie tinyMovie(int frames, int w = 8, int h = 8) {
  FixtureMovie m;
  m.width = w;
  m.height = h;
  for (int i = 0; i < frames; ++i)
    m.frames.push_back(test::makeDib24(w, h, [i](int x, int y) {
      return uint32_t((x * 30 + i) & 255) << 16 | uint32_t((y * 30) & 255) << 8 | 0x40;
    }));
  return m;
}

// Audio chunks holding `total` sample frames spread over the movie's frames.
void addAudio(FixtureMovie& m, uint16_t channels, uint16_t bits, uint32_t rate, uint32_t total,
              uint32_t seed = 1) {
  m.channels = channels;
  m.bitsPerSample = bits;
  m.sampleRate = rate;
  const uint32_t align = channels * bits / 8;
  const size_t n = m.frames.size();
  uint32_t done = 0, x = seed;
  m.audio.clear();
  for (size_t i = 0; i < n; ++i) {
    uint32_t upto = uint32_t(uint64_t(total) * (i + 1) / n);
    std::vector<uint8_t> a(size_t(upto - done) * align);
    for (auto& b : a) b = uint8_t((x = x * 1103515245 + 12345) >> 16);
    m.audio.push_back(a);
    done = upto;
  }
}

std::vector<uint8_t> allAudio(const FixtureMovie& m) {
  std::vector<uint8_t> all;
  for (auto& a : m.audio) all.insert(all.end(), a.begin(), a.end());
  return all;
}

TEST(SourceFileOpening, ShortAudioReducesTheFrameCountWithAWarning) {
  MessageLog log;
  std::string dir = test::tempFolder("short-audio");
  FixtureMovie m = tinyMovie(300);
  m.microSecPerFrame = 66667;  // 15 frames per second
  addAudio(m, 1, 16, 22050, 400000);
  ASSERT_EQ(test::writeFixture(dir + "/a.avi", m), 300);
  SourceFile s(dir + "/a.avi");
  ASSERT_TRUE(s.Opened);
  EXPECT_EQ(s.FrameCount, 272u);
  EXPECT_EQ(s.ExtractionEnd, 271u);
  ASSERT_EQ(log.texts().size(), 1u);
  EXPECT_EQ(log.texts()[0], "AVC0013W WARNING! The amount of audio in " + dir +
                                "/a.avi is less than the amount of video.\rThe number of "
                                "available frames is being reduced from 300 to 272.");
  EXPECT_EQ(s.AudioPreloadFrames, 12u);  // 15 * 0.75 + 0.9
  EXPECT_TRUE(s.HasAudio);
  EXPECT_TRUE(s.AudioIsPcm);
  EXPECT_EQ(s.AudioRate, 22050u);
  EXPECT_EQ(s.AudioLength, 400000u);
}

TEST(SourceFileOpening, CompressedAudioIsDroppedAndOtherFailuresAreReported) {
  MessageLog log;
  std::string dir = test::tempFolder("adpcm");
  FixtureMovie m = tinyMovie(10);
  addAudio(m, 1, 16, 22050, 14700);
  m.formatTag = 2;
  ASSERT_EQ(test::writeFixture(dir + "/a.avi", m), 10);
  SourceFile s(dir + "/a.avi");
  EXPECT_TRUE(s.Opened);
  EXPECT_FALSE(s.HasAudio);
  ASSERT_EQ(log.texts().size(), 1u);
  EXPECT_EQ(log.texts()[0],
            "AVC0012E Currently only PCM (uncompressed) is supported: audio disabled for this "
            "video");

  SourceFile missing(dir + "/none.avi");
  EXPECT_FALSE(missing.Opened);
  ASSERT_EQ(log.texts().size(), 2u);
  EXPECT_EQ(log.texts()[1].rfind("AVC0016Q Unable to open file", 0), 0u);

  FixtureMovie odd = tinyMovie(3);
  odd.compression = makeFourCC("cvid");
  ASSERT_EQ(test::writeFixture(dir + "/cvid.avi", odd), 3);
  SourceFile unsupported(dir + "/cvid.avi");
  EXPECT_FALSE(unsupported.Opened);
  ASSERT_EQ(log.texts().size(), 3u);
  EXPECT_EQ(log.texts()[2],
            "AVC0018E Unable to prepare video stream\nunsupported video compression 'cvid'");
}

TEST(SourceFileFrames, CropConversionAndBlackReplacement) {
  MessageLog log;
  std::string dir = test::tempFolder("crop");
  const int w = 20, h = 12;
  FixtureMovie m = tinyMovie(3, w, h);
  m.frames[2].resize(10);  // can't be decoded
  ASSERT_EQ(test::writeFixture(dir + "/c.avi", m), 3);
  SourceFile s(dir + "/c.avi");
  ASSERT_TRUE(s.Opened);
  EXPECT_EQ(s.Width, 20u);
  EXPECT_EQ(s.BitCount, 24u);
  s.CropX = 4;
  s.CropY = 2;
  s.CropWidth = 8;
  s.CropHeight = 6;
  std::vector<uint8_t> bmp;
  bool key = false;
  ASSERT_TRUE(s.getFrame(1, bmp, &key, false, false, false));
  EXPECT_TRUE(key);
  DibHeader hd = DibHeader::unpack(bmp.data(), 40);
  EXPECT_EQ(hd.width, 8);
  EXPECT_EQ(hd.height, 6);
  EXPECT_EQ(hd.sizeImage, 8u * 6 * 3);
  ASSERT_EQ(bmp.size(), 40u + 8 * 6 * 3);
  // Stored line k of the crop is frame line Height - CropY - CropHeight + k (bottom-up).
  const size_t stride = (w * 3 + 3) & ~3;
  for (int k = 0; k < 6; ++k)
    for (int x = 0; x < 8; ++x)
      for (int c = 0; c < 3; ++c)
        ASSERT_EQ(bmp[40 + (k * 8 + x) * 3 + c],
                  m.frames[1][stride * (h - 2 - 6 + k) + (4 + x) * 3 + c]);

  ASSERT_TRUE(s.getFrame(1, bmp, nullptr, true, false, false));
  hd = DibHeader::unpack(bmp.data(), 40);
  EXPECT_EQ(hd.bitCount, 16);
  const uint8_t* p = &m.frames[1][stride * (h - 8) + 4 * 3];
  EXPECT_EQ(getLE16(&bmp[40]), nearestColour(p[2], p[1], p[0]));
  EXPECT_EQ(s.CurrentFrame, 1u);

  // A crop reaching past the frame's right and bottom edges, read into the buffer that holds
  // the frame above: what lies outside the frame is black, not left over.
  s.CropX = 16;
  s.CropY = 8;
  ASSERT_TRUE(s.getFrame(1, bmp, nullptr, true, false, false));
  ASSERT_EQ(bmp.size(), 40u + 8 * 6 * 2);
  for (int k = 0; k < 6; ++k)
    for (int x = 0; x < 8; ++x) {
      const int line = h - 8 - 6 + k;  // the frame line of stored crop line k
      const uint8_t* q = &m.frames[1][stride * size_t(std::max(line, 0)) + (16 + x) * 3];
      ASSERT_EQ(getLE16(&bmp[40 + 2 * (k * 8 + x)]),
                line < 0 || x >= 4 ? 0 : nearestColour(q[2], q[1], q[0]))
          << k << "," << x;
    }
  s.CropX = 4;
  s.CropY = 2;

  ASSERT_TRUE(s.getFrame(2, bmp, nullptr, false, false, false));
  ASSERT_EQ(log.texts().size(), 1u);
  EXPECT_EQ(log.texts()[0], "AVC0021E Unable to get video frame");
  for (size_t i = 40; i < bmp.size(); ++i) ASSERT_EQ(bmp[i], 0);

  std::vector<uint8_t> raw;
  ASSERT_TRUE(s.readRawFrame(1, raw, &key));
  EXPECT_EQ(raw.size(), 40 + m.frames[1].size());
  EXPECT_EQ(getLE32(&raw[20]), m.frames[1].size());
  EXPECT_TRUE(std::equal(m.frames[1].begin(), m.frames[1].end(), raw.begin() + 40));
  EXPECT_EQ(s.rawFrameSize(2), 10);
}

TEST(SourceFileFrames, FieldStrippingAndResizing) {
  // 4 x 4 picture, stored lines 0..3; pixel value = line * 4 + column in blue.
  std::vector<uint16_t> pic(16);
  for (int i = 0; i < 16; ++i) pic[i] = uint16_t(i);
  std::vector<uint16_t> strip = pic;
  EXPECT_EQ(stripFields15(strip.data(), 4, 4, 1), 2);
  EXPECT_EQ(strip[4], 8);  // stored line 1 = source line 2
  strip = pic;
  stripFields15(strip.data(), 4, 4, 2);
  EXPECT_EQ(strip[0], 4);
  EXPECT_EQ(strip[4], 12);

  std::vector<uint16_t> out(4);
  resizeFrame15(pic.data(), 4, 4, out.data(), 2, 2, false);
  EXPECT_EQ(out, (std::vector<uint16_t>{0, 2, 8, 10}));
  // Interpolated: positions start a quarter step in (512/1024 = half a pixel), blending right
  // and down neighbours: value ~ 0.5 + 0.5 * 4 = 2.5 -> 2 (truncated).
  resizeFrame15(pic.data(), 4, 4, out.data(), 2, 2, true);
  EXPECT_EQ(out[0], 2);
  EXPECT_EQ(out[1], 4);
  // Enlarging: the last column and line repeat their pixels, no reads outside.
  std::vector<uint16_t> big(64);
  resizeFrame15(pic.data(), 4, 4, big.data(), 8, 8, true);
  EXPECT_EQ(big[63], 15);
  // Channels blend separately and stay within five bits.
  uint16_t two[2] = {uint16_t(31 << 10), uint16_t(31)};
  uint16_t one[1];
  resizeFrame15(two, 2, 1, one, 1, 1, true);
  EXPECT_EQ(one[0] >> 10 & 31, 15);
  EXPECT_EQ(one[0] & 31, 15);
}

TEST(SourceFileFrames, ResizeThroughGetFrame) {
  MessageLog log;
  std::string dir = test::tempFolder("resize");
  FixtureMovie m = tinyMovie(2, 16, 16);
  ASSERT_EQ(test::writeFixture(dir + "/r.avi", m), 2);
  SourceFile s(dir + "/r.avi");
  ASSERT_TRUE(s.Opened);
  s.ResizeStripType = 1;
  EXPECT_EQ(s.outputWidth(), 16u);
  EXPECT_EQ(s.pictureHeight(), 8u);
  s.LetterBoxTop = 2;
  s.LetterBoxBottom = 2;
  EXPECT_EQ(s.outputHeight(), 12u);
  std::vector<uint8_t> bmp;
  ASSERT_TRUE(s.getFrame(0, bmp, nullptr, true, false, true));
  DibHeader hd = DibHeader::unpack(bmp.data(), 40);
  EXPECT_EQ(hd.width, 16);
  EXPECT_EQ(hd.height, 8);
  s.ResizeWidth = 8;
  s.ResizeHeight = 4;
  ASSERT_TRUE(s.getFrame(0, bmp, nullptr, true, false, true));
  hd = DibHeader::unpack(bmp.data(), 40);
  EXPECT_EQ(hd.width, 8);
  EXPECT_EQ(hd.height, 4);
  EXPECT_EQ(bmp.size(), 40u + 8 * 4 * 2);

  // The filter hook sees the final 15-bit picture.
  int calls = 0;
  SourceEnvironment env;
  env.applyFilters = [&](uint16_t* px, int fw, int fh) {
    ++calls;
    EXPECT_EQ(fw, 8);
    EXPECT_EQ(fh, 4);
    px[0] = 0x7FFF;
  };
  setSourceEnvironment(env);
  ASSERT_TRUE(s.getFrame(0, bmp, nullptr, true, true, true));
  setSourceEnvironment({});
  EXPECT_EQ(calls, 1);
  EXPECT_EQ(getLE16(&bmp[40]), 0x7FFF);
  EXPECT_TRUE(log.texts().empty());
}

TEST(SourceFileAudio, PerFrameBlocksFollowTheFractionRule) {
  MessageLog log;
  std::string dir = test::tempFolder("audio-rule");
  FixtureMovie m = tinyMovie(20);
  m.microSecPerFrame = 33367;  // 29.97 frames per second
  addAudio(m, 2, 16, 44100, 30000);
  ASSERT_EQ(test::writeFixture(dir + "/a.avi", m), 20);
  SourceFile s(dir + "/a.avi");
  ASSERT_TRUE(s.Opened);
  s.ExtractionStart = 3;
  const auto all = allAudio(m);
  const double sp = 44100 / (1000000.0 / 33367);
  const double f = 3 * sp - std::trunc(3 * sp);
  for (uint32_t i = 0; i + 3 < 19; ++i) {
    uint32_t a = 3 + i;
    uint64_t start = uint64_t(a * sp - f + 0.5), end = uint64_t((a + 1) * sp - f + 0.5);
    std::vector<uint8_t> buf;
    uint32_t size = 0;
    ASSERT_TRUE(s.readAudioForFrame(i, buf, &size));
    ASSERT_EQ(size, (end - start) * 4) << "frame " << i;
    EXPECT_EQ(s.audioBytesForFrame(i), size);
    EXPECT_TRUE(std::equal(buf.begin(), buf.end(), all.begin() + long(start * 4)));
  }
  EXPECT_TRUE(log.texts().empty());
}

TEST(SourceFileAudio, MixToMonoEightBitAndDownsampling) {
  MessageLog log;
  std::string dir = test::tempFolder("audio-conv");
  FixtureMovie m = tinyMovie(4);
  m.microSecPerFrame = 40000;  // 25 fps: 1764 samples per frame at 44100
  addAudio(m, 2, 16, 44100, 4 * 1764);
  ASSERT_EQ(test::writeFixture(dir + "/a.avi", m), 4);
  const auto all = allAudio(m);
  auto sample = [&](size_t frame, int ch) {
    return int(int16_t(getLE16(&all[frame * 4 + ch * 2])));
  };
  SourceFile s(dir + "/a.avi");
  ASSERT_TRUE(s.Opened);
  std::vector<uint8_t> buf;
  uint32_t size = 0;
  {
    AudioOptionsScope o({true, true, 0});
    EXPECT_EQ(s.effectiveChannels(), 1u);
    EXPECT_EQ(s.effectiveBlockAlign(), 1u);
    ASSERT_TRUE(s.readAudioForFrame(1, buf, &size));
    ASSERT_EQ(size, 1764u);
    for (size_t i = 0; i < 1764; ++i) {
      int mono = (sample(1764 + i, 0) + sample(1764 + i, 1)) / 2;
      ASSERT_EQ(buf[i], uint8_t(mono / 256 + 128)) << i;
    }
    std::vector<uint8_t> fmt;
    ASSERT_TRUE(s.readAudioFormat(fmt));
    EXPECT_EQ(getLE16(&fmt[2]), 1);
    EXPECT_EQ(getLE32(&fmt[8]), 44100u);
    EXPECT_EQ(getLE16(&fmt[12]), 1);
    EXPECT_EQ(getLE16(&fmt[14]), 8);
  }
  {
    AudioOptionsScope o({false, false, 22050});
    EXPECT_EQ(s.effectiveSampleRate(), 22050u);
    ASSERT_TRUE(s.readAudioForFrame(0, buf, &size));
    ASSERT_EQ(size, 882u * 4);
    for (size_t i = 0; i < 882; ++i)
      for (int c = 0; c < 2; ++c)
        ASSERT_EQ(int16_t(getLE16(&buf[i * 4 + c * 2])),
                  (sample(2 * i, c) + sample(2 * i + 1, c)) / 2);
    AviStreamHeader info;
    ASSERT_TRUE(s.audioStreamInfo(info));
    EXPECT_EQ(info.rate / info.scale, 22050u);
    EXPECT_EQ(info.length, 4u * 1764 / 2);
    EXPECT_EQ(s.audioSamplesForRange(), 4u * 882);
  }
  EXPECT_TRUE(log.texts().empty());
}

TEST(SourceFileAudio, NoResamplingByANonIntegerFactorAndDisplayAudio) {
  MessageLog log;
  std::string dir = test::tempFolder("audio-32k");
  FixtureMovie m = tinyMovie(4);
  m.microSecPerFrame = 40000;
  addAudio(m, 1, 16, 32000, 4 * 1280);
  ASSERT_EQ(test::writeFixture(dir + "/a.avi", m), 4);
  SourceFile s(dir + "/a.avi");
  ASSERT_TRUE(s.Opened);
  AudioOptionsScope o({false, false, 22050});
  EXPECT_EQ(s.effectiveSampleRate(), 32000u);
  std::vector<uint8_t> buf;
  uint32_t size = 0;
  ASSERT_TRUE(s.readAudioForFrame(0, buf, &size));
  EXPECT_EQ(size, 1280u * 2);
  ASSERT_TRUE(s.readAudioForDisplay(2, buf, &size, 0));
  EXPECT_EQ(size, 1280u);  // 8-bit mono; 32000 is no multiple of 11025
  const auto all = allAudio(m);
  EXPECT_EQ(buf[5], uint8_t(int(int16_t(getLE16(&all[(2 * 1280 + 5) * 2]))) / 256 + 128));
}

TEST(SourceFileTable, AThirdSourceClosesTheFirstWhichReopensOnDemand) {
  MessageLog log;
  std::string dir = test::tempFolder("table");
  FixtureMovie m = tinyMovie(3);
  ASSERT_EQ(test::writeFixture(dir + "/a.avi", m), 3);
  SourceFile a(dir + "/a.avi"), b(dir + "/a.avi");
  EXPECT_TRUE(a.fileIsOpen());
  EXPECT_TRUE(b.fileIsOpen());
  SourceFile c(dir + "/a.avi");
  EXPECT_FALSE(a.fileIsOpen());
  EXPECT_TRUE(b.fileIsOpen());
  EXPECT_TRUE(c.fileIsOpen());
  std::vector<uint8_t> bmp;
  ASSERT_TRUE(a.getFrame(1, bmp, nullptr, true, false, false));
  EXPECT_TRUE(a.fileIsOpen());
  EXPECT_FALSE(b.fileIsOpen()) << "the older entry is the one closed";
  EXPECT_TRUE(log.texts().empty());
}

TEST(SourceFileDataRate, PartialLastSecondIsExtrapolated) {
  MessageLog log;
  std::string dir = test::tempFolder("rate");
  FixtureMovie m;
  m.microSecPerFrame = 33333;  // 30 fps
  m.width = 16;
  m.height = 16;
  for (int i = 0; i < 95; ++i) m.frames.push_back(std::vector<uint8_t>(16 * 16 * 3, uint8_t(i)));
  ASSERT_EQ(test::writeFixture(dir + "/r.avi", m), 95);
  SourceFile s(dir + "/r.avi");
  ASSERT_TRUE(s.Opened);
  ASSERT_TRUE(s.sampleDataRate());
  ASSERT_EQ(s.RateSampleCount, 4u);
  // 30 frames of 768 bytes a second = 22.5 KB; the fourth second has 5 frames, counted as 30.
  for (int j = 0; j < 4; ++j) EXPECT_EQ(s.RateSamples[j], 22) << j;
  EXPECT_EQ(s.RateMinKB, 22u);
  EXPECT_EQ(s.RateMaxKB, 22u);
  EXPECT_EQ(s.RateAverageKB, uint32_t(95 * 768 / 1024.0 / (95 / (1000000.0 / 33333))));
}

TEST(SourceFileDataRate, TheAverageIsTheBytesReadOverTheRangesDuration) {
  // 45 frames at 30 fps: the second sample covers 15 frames and is extrapolated to a full
  // second, but the average is the real rate (a constant 22.5 KB a second), not more.
  MessageLog log;
  std::string dir = test::tempFolder("rate45");
  FixtureMovie m;
  m.microSecPerFrame = 33333;
  m.width = 16;
  m.height = 16;
  for (int i = 0; i < 45; ++i) m.frames.push_back(std::vector<uint8_t>(16 * 16 * 3, uint8_t(i)));
  ASSERT_EQ(writeFixture(dir + "/r.avi", m), 45);
  SourceFile s(dir + "/r.avi");
  ASSERT_TRUE(s.Opened);
  ASSERT_TRUE(s.sampleDataRate());
  ASSERT_EQ(s.RateSampleCount, 2u);
  EXPECT_EQ(s.RateSamples[1], 22);
  EXPECT_EQ(s.RateAverageKB, 22u);
}

TEST(SourceFileYuv4Mpeg, FramesAndWavAudio) {
  MessageLog log;
  std::string dir = test::tempFolder("y4m");
  const int w = 8, h = 4;
  {
    std::ofstream y(dir + "/v.y4m", std::ios::binary);
    y << "YUV4MPEG2 W8 H4 F25:1 Ip A1:1 C420jpeg\n";
    for (int i = 0; i < 3; ++i) {
      y << "FRAME\n";
      std::string planes(w * h, char(16 + 50 * i));
      planes += std::string(2 * (w / 2) * (h / 2), char(128));
      y << planes;
    }
    std::ofstream wav(dir + "/a.wav", std::ios::binary);
    uint8_t hdr[44] = {};
    std::memcpy(hdr, "RIFF", 4);
    putLE32(hdr + 4, 36 + 3 * 882 * 2);
    std::memcpy(hdr + 8, "WAVEfmt ", 8);
    putLE32(hdr + 16, 16);
    putLE16(hdr + 20, 1);
    putLE16(hdr + 22, 1);
    putLE32(hdr + 24, 22050);
    putLE32(hdr + 28, 44100);
    putLE16(hdr + 32, 2);
    putLE16(hdr + 34, 16);
    std::memcpy(hdr + 36, "data", 4);
    putLE32(hdr + 40, 3 * 882 * 2);
    wav.write(reinterpret_cast<const char*>(hdr), 44);
    std::vector<char> pcm(3 * 882 * 2, 1);
    wav.write(pcm.data(), long(pcm.size()));
  }
  SourceFile s(dir + "/v.y4m", dir + "/a.wav");
  ASSERT_TRUE(s.Opened);
  EXPECT_EQ(s.FrameCount, 3u);
  EXPECT_EQ(s.MicroSecPerFrame, 40000u);
  EXPECT_EQ(s.Width, 8u);
  EXPECT_EQ(s.BitCount, 24u);
  EXPECT_TRUE(s.HasAudio);
  std::vector<uint8_t> bmp;
  ASSERT_TRUE(s.getFrame(2, bmp, nullptr, false, false, false));
  // Y = 116 grey: (116 - 16) * 255 / 219 = 116.4
  EXPECT_EQ(bmp[40], 116);
  EXPECT_EQ(bmp[41], 116);
  uint32_t size = 0;
  std::vector<uint8_t> audio;
  ASSERT_TRUE(s.readAudioForFrame(1, audio, &size));
  EXPECT_EQ(size, 882u * 2);
  EXPECT_TRUE(log.texts().empty());
}

TEST(SourceFileYuv4Mpeg, DeeperSamplesAreRefusedNotMisread) {
  MessageLog log;
  std::string dir = test::tempFolder("y4m-deep");
  {
    // Two 10-bit frames hold as many bytes as four 8-bit ones: read as 8-bit they were garbage.
    std::ofstream y(dir + "/v.y4m", std::ios::binary);
    y << "YUV4MPEG2 W8 H4 F25:1 C420p10\n";
    for (int i = 0; i < 2; ++i) y << "FRAME\n" << std::string(2 * 48, char(0x40));
  }
  SourceFile s(dir + "/v.y4m");
  EXPECT_FALSE(s.Opened);
  ASSERT_FALSE(log.texts().empty());
  EXPECT_NE(log.texts().back().find("\"C420p10\" is not supported"), std::string::npos)
      << log.texts().back();
}

}  // namespace
}  // namespace zov

namespace zov {
namespace {

TEST(SourceFileFrames, PalettizedFramesAreExpandedTo24Bit) {
  MessageLog log;
  std::string dir = test::tempFolder("pal8");
  FixtureMovie m;
  m.width = 4;
  m.height = 2;
  m.bitCount = 8;
  m.frames.push_back({0, 1, 2, 3, 3, 2, 1, 0});
  ASSERT_EQ(test::writeFixture(dir + "/p.avi", m), 1);
  std::vector<uint8_t> palette(256 * 4, 0);
  for (int i = 0; i < 4; ++i) {
    palette[4 * i] = uint8_t(10 + i);       // blue
    palette[4 * i + 1] = uint8_t(100 + i);  // green
    palette[4 * i + 2] = uint8_t(200 + i);  // red
  }
  test::appendToVideoFormat(dir + "/p.avi", palette);
  SourceFile s(dir + "/p.avi");
  ASSERT_TRUE(s.Opened);
  EXPECT_EQ(s.BitCount, 24u);
  std::vector<uint8_t> bmp;
  ASSERT_TRUE(s.getFrame(0, bmp, nullptr, false, false, false));
  ASSERT_EQ(bmp.size(), 40u + 4 * 2 * 3);
  EXPECT_EQ(DibHeader::unpack(bmp.data(), 40).bitCount, 24);
  // Pixel 1 of stored line 0 is index 1; pixel 0 of stored line 1 is index 3.
  EXPECT_EQ(bmp[40 + 3], 11);
  EXPECT_EQ(bmp[40 + 4], 101);
  EXPECT_EQ(bmp[40 + 5], 201);
  EXPECT_EQ(bmp[40 + 12 + 2], 203);
  EXPECT_TRUE(log.texts().empty());
}

// A stand-in for the codec: "decodes" a ZOV frame by filling a 15-bit picture with its first
// byte, and counts the frames it was given (delta frames need their predecessors).
class FakeZovDecoder : public VideoDecoder {
 public:
  FakeZovDecoder(int w, int h, int* decoded) : w_(w), h_(h), decoded_(decoded) {}
  bool decode(const uint8_t* data, size_t size, DecodedFrame& out) override {
    if (size == 0) return false;
    ++*decoded_;
    out.header = DibHeader{};
    out.header.width = w_;
    out.header.height = h_;
    out.header.bitCount = 16;
    out.pixels.assign(out.stride() * size_t(h_), 0);
    for (size_t i = 0; i + 1 < out.pixels.size(); i += 2) putLE16(&out.pixels[i], data[0]);
    return true;
  }
  bool needsSequence() const override { return true; }

 private:
  int w_, h_;
  int* decoded_;
};

TEST(SourceFileZov, CompressedSourcesGoThroughTheCodecHook) {
  MessageLog log;
  std::string dir = test::tempFolder("zov");
  FixtureMovie m;
  m.mode = RunMode::Compress;
  m.width = 8;
  m.height = 4;
  m.compressionWord = 0x32760000u | 0x0200u | 0x8000u;  // V4, single field
  for (int i = 0; i < 6; ++i) m.frames.push_back(std::vector<uint8_t>(5, uint8_t(i + 1)));
  m.keys = {true, false, false, true, false, false};
  ASSERT_EQ(test::writeFixture(dir + "/z.avi", m), 6);

  // Without the codec the source can't be prepared.
  {
    SourceFile s(dir + "/z.avi");
    EXPECT_FALSE(s.Opened);
    ASSERT_EQ(log.texts().size(), 1u);
    EXPECT_EQ(log.texts()[0],
              "AVC0018E Unable to prepare video stream\nunsupported video compression 'zov2'");
  }
  int decoded = 0;
  setZovDecoderFactory([&](const std::vector<uint8_t>& format) -> std::unique_ptr<VideoDecoder> {
    DibHeader h = DibHeader::unpack(format.data(), format.size());
    return std::make_unique<FakeZovDecoder>(h.width, h.height, &decoded);
  });
  SourceFile s(dir + "/z.avi");
  ASSERT_TRUE(s.Opened);
  EXPECT_EQ(s.Handler, "zov2");
  EXPECT_TRUE(s.FormatV4);
  EXPECT_TRUE(s.SingleFieldSource);
  EXPECT_FALSE(s.WideFieldSource);
  EXPECT_FALSE(s.Chroma);
  EXPECT_FALSE(s.NeedsSpecial);
  EXPECT_EQ(s.BitCount, 16u);
  EXPECT_TRUE(s.isKeyFrame(3));
  EXPECT_FALSE(s.isKeyFrame(4));
  std::vector<uint8_t> bmp;
  decoded = 0;
  bool key = true;
  ASSERT_TRUE(s.getFrame(5, bmp, &key, true, false, false));
  EXPECT_FALSE(key);
  EXPECT_EQ(decoded, 3) << "frame 5 decodes from key frame 3";
  EXPECT_EQ(getLE16(&bmp[40]), 6);
  decoded = 0;
  ASSERT_TRUE(s.getFrame(2, bmp, nullptr, true, false, false));
  EXPECT_EQ(decoded, 3) << "going back decodes from key frame 0";
  decoded = 0;
  ASSERT_TRUE(s.getFrame(3, bmp, nullptr, true, false, false));
  EXPECT_EQ(decoded, 1) << "the next frame continues from the decoder's picture";
  setZovDecoderFactory(nullptr);
}

}  // namespace
}  // namespace zov

#include "media/vfw_zov_decoder.h"
#include "platform/ui.h"

namespace zov {
namespace {

TEST(SourceMessages, RoutedToThePlatformMessageBoxWithRetry) {
  RecordingMessageBox boxes;
  ScopedMessageBoxSink scope(&boxes);
  boxes.script({IDRETRY, IDCANCEL});
  routeSourceMessagesToMessageBox(nullptr);
  std::string dir = test::tempFolder("route");
  SourceFile s(dir + "/missing.avi");
  setSourceMessageSink(nullptr);
  EXPECT_FALSE(s.Opened);
  auto b = boxes.boxes();
  ASSERT_EQ(b.size(), 2u) << "Retry tries again, Cancel gives up";
  EXPECT_EQ(b[0].title, "ZOV Compressor");
  EXPECT_EQ(b[0].text.rfind("AVC0016Q Unable to open file", 0), 0u);
  EXPECT_EQ(b[0].style, uint32_t(MB_RETRYCANCEL | MB_ICONSTOP));
}

TEST(SourceFileZov, WithoutACodecLibraryZovSourcesAreUnsupported) {
  std::vector<uint8_t> format(40, 0);
  putLE32(&format[0], 40);
  putLE32(&format[4], 8);
  putLE32(&format[8], 8);
  putLE32(&format[16], 0x32760200u);
  setenv("ZOV_CODEC_PATH", "/nonexistent-zov", 1);
  // Either no codec is installed here, or one is and it decodes: both are fine, but no crash.
  auto d = openVfwZovDecoder(format);
  format[19] = '9';
  EXPECT_FALSE(openVfwZovDecoder(format)) << "only zov1 and zov2 go to the codec";
}

}  // namespace
}  // namespace zov

#include <thread>

namespace zov {
namespace {

TEST(SourceFileTable, ThreadsReadWhileTheTableClosesAndReopensFiles) {
  MessageLog log;
  std::string dir = test::tempFolder("threads");
  FixtureMovie m = tinyMovie(30);
  addAudio(m, 1, 16, 22050, 30 * 1470);
  ASSERT_EQ(test::writeFixture(dir + "/t.avi", m), 30);
  SourceFile a(dir + "/t.avi"), b(dir + "/t.avi"), c(dir + "/t.avi");
  ASSERT_TRUE(a.Opened && b.Opened && c.Opened);
  std::atomic<int> failures{0};
  auto video = [&](SourceFile* s) {
    std::vector<uint8_t> bmp;
    for (int i = 0; i < 200; ++i)
      if (!s->getFrame(uint32_t(i % 30), bmp, nullptr, true, false, false)) ++failures;
  };
  auto audio = [&](SourceFile* s) {
    std::vector<uint8_t> buf;
    uint32_t size = 0;
    for (int i = 0; i < 200; ++i)
      if (!s->readAudioForFrame(uint32_t(i % 30), buf, &size) || size != 2940) ++failures;
  };
  std::vector<std::thread> threads;
  for (SourceFile* s : {&a, &b, &c}) {
    threads.emplace_back(video, s);
    threads.emplace_back(audio, s);
  }
  for (auto& t : threads) t.join();
  EXPECT_EQ(failures, 0);
  int open = int(a.fileIsOpen()) + int(b.fileIsOpen()) + int(c.fileIsOpen());
  EXPECT_LE(open, 2) << "more than two sources hold their file open";
  EXPECT_TRUE(log.texts().empty());
}

}  // namespace
}  // namespace zov

#include <turbojpeg.h>

namespace zov {
namespace {

std::vector<uint8_t> jpegOf(int w, int h, uint8_t grey) {
  tjhandle tj = tjInitCompress();
  std::vector<uint8_t> rgb(size_t(w) * h * 3, grey);
  unsigned char* jpg = nullptr;
  unsigned long n = 0;
  tjCompress2(tj, rgb.data(), w, 0, h, TJPF_RGB, &jpg, &n, TJSAMP_422, 95, 0);
  std::vector<uint8_t> out(jpg, jpg + n);
  tjFree(jpg);
  tjDestroy(tj);
  return out;
}

TEST(SourceFileFrames, MotionJpegWithTwoFieldsPerChunkIsWoven) {
  MessageLog log;
  std::string dir = test::tempFolder("fields");
  FixtureMovie m;
  m.width = 16;
  m.height = 16;
  m.compression = makeFourCC("MJPG");
  std::vector<uint8_t> frame = jpegOf(16, 8, 40), second = jpegOf(16, 8, 200);
  frame.insert(frame.end(), second.begin(), second.end());
  m.frames.push_back(frame);
  m.frames.push_back(jpegOf(16, 16, 120));
  ASSERT_EQ(test::writeFixture(dir + "/f.avi", m), 2);
  SourceFile s(dir + "/f.avi");
  ASSERT_TRUE(s.Opened);
  std::vector<uint8_t> bmp;
  ASSERT_TRUE(s.getFrame(0, bmp, nullptr, false, false, false));
  // Bottom-up: stored line 15 is the top line (first field), stored line 14 the second field.
  auto grey = [&](int stored) { return int(bmp[40 + size_t(stored) * 16 * 3 + 1]); };
  EXPECT_NEAR(grey(15), 40, 3);
  EXPECT_NEAR(grey(14), 200, 3);
  EXPECT_NEAR(grey(0), 200, 3);
  ASSERT_TRUE(s.getFrame(1, bmp, nullptr, false, false, false));
  EXPECT_NEAR(grey(7), 120, 3);
  EXPECT_TRUE(log.texts().empty());
}

}  // namespace
}  // namespace zov

#include <fcntl.h>
#include <unistd.h>

namespace zov {
namespace {

TEST(SourceFileYuv4Mpeg, StandardInputIsStreamedOnceAndACutLastFrameDropped) {
  MessageLog log;
  std::string dir = test::tempFolder("y4m-stdin");
  {
    std::ofstream y(dir + "/in.y4m", std::ios::binary);
    y << "YUV4MPEG2 W4 H2 F30000:1001 C444 XCOLORRANGE=LIMITED\n";
    for (int i = 0; i < 6; ++i) y << "FRAME\n" << std::string(24, char(100 + i));
    y << "FRAME\n" << std::string(10, 'x');  // the writer was stopped mid-frame
  }
  // Standard input stays the file while the source reads: it reads on as frames are asked for.
  int saved = ::dup(0);
  int in = ::open((dir + "/in.y4m").c_str(), O_RDONLY);
  ASSERT_GE(in, 0);
  ::dup2(in, 0);
  ::close(in);
  struct Restore {
    int saved;
    ~Restore() {
      ::dup2(saved, 0);
      ::close(saved);
    }
  } restore{saved};
  SourceFile s("-");
  ASSERT_TRUE(s.Opened);
  EXPECT_TRUE(s.Streamed);
  EXPECT_EQ(s.FrameCount, kStreamFrameLimit) << "the length is known only at the end";
  EXPECT_EQ(s.MicroSecPerFrame, 33367u);
  EXPECT_EQ(s.Width, 4u);
  std::vector<uint8_t> bmp, fourth;
  ASSERT_TRUE(s.getFrame(4, fourth, nullptr, false, false, false));
  ASSERT_TRUE(s.getFrame(2, bmp, nullptr, false, false, false)) << "two frames stay in reach";
  EXPECT_NE(bmp, fourth);
  EXPECT_FALSE(s.streamEndsBefore(5));
  EXPECT_TRUE(s.streamEndsBefore(6)) << "the cut last frame is no frame";
  EXPECT_TRUE(log.texts().empty());
  // Once closed, the stream can't be read again: said so, not read as another stream.
  s.closeFile();
  EXPECT_FALSE(s.getFrame(0, bmp, nullptr, false, false, false));
  ASSERT_FALSE(log.texts().empty());
  EXPECT_NE(log.texts()[0].find("read only once"), std::string::npos) << log.texts()[0];
}

}  // namespace
}  // namespace zov

namespace zov {
namespace {

// Rewrites one 32-bit value of a file.
void patch32(const std::string& path, size_t at, uint32_t value) {
  std::vector<uint8_t> f = test::readFileBytes(path);
  putLE32(&f[at], value);
  std::ofstream(path, std::ios::binary | std::ios::trunc)
      .write(reinterpret_cast<const char*>(f.data()), long(f.size()));
}

TEST(SourceFileOpening, StreamChecksReportTheirMessages) {
  MessageLog log;
  std::string dir = test::tempFolder("checks");
  FixtureMovie m = tinyMovie(3);
  // RIFF(12) LIST hdrl(12) avih(8+56) LIST strl(12) strh(8): the video strh data start at 108.
  const size_t strh = 108;
  ASSERT_EQ(test::writeFixture(dir + "/start.avi", m), 3);
  patch32(dir + "/start.avi", strh + 28, 5);
  SourceFile notZero(dir + "/start.avi");
  EXPECT_FALSE(notZero.Opened);

  ASSERT_EQ(test::writeFixture(dir + "/novideo.avi", m), 3);
  patch32(dir + "/novideo.avi", strh, makeFourCC("txts"));
  SourceFile noVideo(dir + "/novideo.avi");
  EXPECT_FALSE(noVideo.Opened);

  ASSERT_EQ(test::writeFixture(dir + "/timing.avi", m), 3);
  patch32(dir + "/timing.avi", 32, 0);         // avih microseconds per frame
  patch32(dir + "/timing.avi", strh + 24, 0);  // strh rate
  SourceFile noTiming(dir + "/timing.avi");
  EXPECT_FALSE(noTiming.Opened);

  EXPECT_EQ(log.texts(), (std::vector<std::string>{"AVC0005E Video stream is not zero-based",
                                                   "AVC0017E Unable to open video stream",
                                                   "AVC0004E Unable to determine video timing"}));
}

}  // namespace
}  // namespace zov

namespace zov {
namespace {

TEST(SourceFileFrames, FastColourConversionEqualsTheNearestColourSearch) {
  std::vector<uint8_t> line(256 * 3);
  std::vector<uint16_t> fast(256);
  uint32_t x = 12345;
  for (int r = 0; r < 256; ++r)
    for (int g = r % 7; g < 256; g += 7) {
      for (int b = 0; b < 256; ++b) {
        line[3 * b] = uint8_t(b);
        line[3 * b + 1] = uint8_t(g);
        line[3 * b + 2] = uint8_t((x = x * 1103515245 + 12345) >> 24);
        if (b == 0) line[3 * b + 2] = uint8_t(r);
      }
      convertRowTo15Fast(line.data(), 24, 256, fast.data());
      for (int b = 0; b < 256; ++b)
        ASSERT_EQ(fast[b], nearestColour(line[3 * b + 2], line[3 * b + 1], line[3 * b]))
            << "r " << int(line[3 * b + 2]) << " g " << g << " b " << b;
    }
}

}  // namespace
}  // namespace zov

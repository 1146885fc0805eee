// The chroma-key background: buffers by method, bitmap files of every accepted depth and the
// loader's messages, and what the page shows.
#include <gtest/gtest.h>

#include <fstream>

#include "compressor/background_bitmap_file.h"
#include "platform/ui.h"
#include "support/avi_fixtures.h"

namespace zov {
namespace {

void put16(std::vector<uint8_t>& v, uint32_t x) {
  v.push_back(uint8_t(x));
  v.push_back(uint8_t(x >> 8));
}
void put32(std::vector<uint8_t>& v, uint32_t x) {
  put16(v, x & 0xFFFF);
  put16(v, x >> 16);
}

struct BitmapSpec {
  int width = 8, height = 4, bits = 24;
  uint32_t headerSize = 40;
  uint32_t compression = 0;
  uint32_t usedColours = 0;
  char type[2] = {'B', 'M'};
};

// A bottom-up bitmap whose pixel at stored line l, column x comes from pixel(x, l) as 0xRRGGBB
// (16-bit bitmaps take the low 16 bits as the pixel word).
template <class F>
std::vector<uint8_t> makeBitmap(const BitmapSpec& s, F pixel) {
  size_t line = (size_t(s.width) * s.bits + 31) / 32 * 4;
  std::vector<uint8_t> v = {uint8_t(s.type[0]), uint8_t(s.type[1])};
  uint32_t offset = 14 + s.headerSize + 4 * s.usedColours;
  put32(v, uint32_t(offset + line * s.height));
  put32(v, 0);
  put32(v, offset);
  put32(v, s.headerSize);
  put32(v, uint32_t(s.width));
  put32(v, uint32_t(s.height));
  put16(v, 1);
  put16(v, uint32_t(s.bits));
  put32(v, s.compression);
  put32(v, 0);  // image size: computed
  put32(v, 2835);
  put32(v, 2835);
  put32(v, s.usedColours);
  put32(v, 0);
  v.resize(14 + s.headerSize, 0xEE);  // extended header bytes
  for (uint32_t i = 0; i < s.usedColours; ++i) put32(v, 0x00ABCDEF);
  for (int l = 0; l < s.height; ++l) {
    size_t start = v.size();
    for (int x = 0; x < s.width; ++x) {
      uint32_t c = pixel(x, l);
      if (s.bits == 16) {
        put16(v, c & 0xFFFF);
      } else if (s.bits == 8) {
        v.push_back(uint8_t(c));
      } else {
        v.push_back(uint8_t(c));
        v.push_back(uint8_t(c >> 8));
        v.push_back(uint8_t(c >> 16));
        if (s.bits == 32) v.push_back(0x99);
      }
    }
    v.resize(start + line, 0);
  }
  return v;
}

class ChromaBackground : public ::testing::Test {
 protected:
  void SetUp() override { dir_ = test::tempFolder("chroma-background"); }
  std::string write(const std::string& name, const std::vector<uint8_t>& bytes) {
    std::string path = dir_ + "/" + name;
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    return path;
  }
  CompressionSettings keyed(const std::string& path) {
    CompressionSettings s;
    s.ChromaKeying = true;
    s.ChromaBackground = path;
    return s;
  }
  std::string dir_;
  RecordingMessageBox boxes_;
  ScopedMessageBoxSink scoped_{&boxes_};
};

uint32_t gradient(int x, int l) {
  return uint32_t(x * 32) << 16 | uint32_t(l * 64) << 8 | 0x80;
}
uint16_t gradient15(int x, int l) {
  return uint16_t((x * 32 >> 3) << 10 | (l * 64 >> 3) << 5 | (0x80 >> 3));
}

TEST_F(ChromaBackground, BuffersFollowTheMethod) {
  CompressionSettings s;
  ChromaKeyBuffers b;
  EXPECT_TRUE(prepareChromaKeyBuffers(s, 8, 4, b));
  EXPECT_TRUE(b.keyMask.empty());
  EXPECT_TRUE(b.background.empty());
  s.ChromaKeying = true;
  EXPECT_TRUE(prepareChromaKeyBuffers(s, 8, 4, b));
  EXPECT_EQ(b.keyMask.size(), 32u);
  EXPECT_TRUE(b.background.empty());
  s.ChromaScreening = kScreeningBackground;  // no path: no file is read, the picture is black
  EXPECT_TRUE(prepareChromaKeyBuffers(s, 8, 4, b));
  EXPECT_EQ(b.background, std::vector<uint16_t>(32, 0));
  EXPECT_FALSE(b.bitmapLoaded);
  EXPECT_TRUE(boxes_.texts().empty());
  // A path without chroma keying is never read.
  s.ChromaKeying = false;
  s.ChromaBackground = dir_ + "/missing.bmp";
  EXPECT_TRUE(prepareChromaKeyBuffers(s, 8, 4, b));
}

TEST_F(ChromaBackground, LoadsEveryAcceptedDepthInLineOrder) {
  for (int bits : {24, 32}) {
    BitmapSpec spec;
    spec.bits = bits;
    std::string path = write("g" + std::to_string(bits) + ".bmp", makeBitmap(spec, gradient));
    ChromaKeyBuffers b;
    ASSERT_TRUE(prepareChromaKeyBuffers(keyed(path), 8, 4, b)) << bits;
    ASSERT_TRUE(b.bitmapLoaded);
    for (int l = 0; l < 4; ++l)
      for (int x = 0; x < 8; ++x) EXPECT_EQ(b.background[l * 8 + x], gradient15(x, l)) << bits;
  }
  // 16-bit pixels are copied with the top bit cleared; an extended header and a colour table
  // are skipped.
  BitmapSpec spec;
  spec.bits = 16;
  spec.headerSize = 108;
  spec.usedColours = 3;
  std::string path = write(
      "g16.bmp", makeBitmap(spec, [](int x, int l) { return uint32_t(0x8000 | (x * 37 + l)); }));
  ChromaKeyBuffers b;
  ASSERT_TRUE(prepareChromaKeyBuffers(keyed(path), 8, 4, b));
  EXPECT_EQ(b.background[3 * 8 + 5], uint16_t(5 * 37 + 3));
  EXPECT_TRUE(boxes_.texts().empty());
}

TEST_F(ChromaBackground, LoaderMessages) {
  BitmapSpec spec;
  spec.width = 320;
  spec.height = 240;
  std::string full = write("full.bmp", makeBitmap(spec, gradient));
  ChromaKeyBuffers b;
  EXPECT_TRUE(prepareChromaKeyBuffers(keyed(full), 320, 240, b));
  EXPECT_FALSE(prepareChromaKeyBuffers(keyed(full), 160, 120, b));
  EXPECT_TRUE(b.background.empty() && b.keyMask.empty());

  BitmapSpec eight;
  eight.bits = 8;
  eight.usedColours = 256;
  std::string palettized = write("eight.bmp", makeBitmap(eight, gradient));
  EXPECT_FALSE(prepareChromaKeyBuffers(keyed(palettized), 8, 4, b));

  BitmapSpec notBm;
  notBm.type[0] = 'P';
  std::string wrong = write("wrong.bmp", makeBitmap(notBm, gradient));
  EXPECT_FALSE(prepareChromaKeyBuffers(keyed(wrong), 8, 4, b));

  std::string truncated = write("short.bmp", {'B', 'M', 1, 2, 3});
  EXPECT_FALSE(prepareChromaKeyBuffers(keyed(truncated), 8, 4, b));

  std::string missing = dir_ + "/missing.bmp";
  EXPECT_FALSE(prepareChromaKeyBuffers(keyed(missing), 8, 4, b));

  EXPECT_EQ(boxes_.texts(),
            (std::vector<std::string>{
                "The chroma keying bitmap at 320x240 must be the same resolution as the video at "
                "160x120",
                palettized + " is 8 bits and must be 16, 24, or 32 bits",
                wrong + " is not a valid Windows bitmap file",
                truncated + " is not a valid Windows bitmap file",
                "Cannot open file " + missing,
            }));
  for (const auto& box : boxes_.boxes()) {
    EXPECT_EQ(box.title, "Chroma Keying");
    EXPECT_EQ(box.owner, nullptr);
    EXPECT_EQ(box.style & MB_ICONMASK, uint32_t(MB_ICONSTOP));
    EXPECT_TRUE(box.style & MB_SETFOREGROUND);
  }
}

TEST(ChromaPage, BackgroundLineButtonAndEnabling) {
  CompressionSettings s;
  EXPECT_EQ(chromaBackgroundLabel(s), "Black");
  EXPECT_EQ(chromaBackgroundButtonText(s), "&Browse...");
  EXPECT_EQ(chromaPreviewSource(s), ChromaPreviewSource::Black);
  s.ChromaScreening = kScreeningBackground;
  EXPECT_EQ(chromaBackgroundLabel(s), "First frame");
  EXPECT_EQ(chromaPreviewSource(s), ChromaPreviewSource::FirstFrame);
  s.ChromaBackground = "/home/me/studio/backdrop.bmp";
  EXPECT_EQ(chromaBackgroundLabel(s), "backdrop.bmp");
  EXPECT_EQ(chromaBackgroundButtonText(s), "&Clear");
  EXPECT_EQ(chromaPreviewSource(s), ChromaPreviewSource::Bitmap);

  ChromaPageEnabling e = chromaPageEnabling(s, false);
  EXPECT_TRUE(e.methodButtons);
  EXPECT_FALSE(e.colourLevels);  // chroma keying off
  EXPECT_TRUE(e.backgroundOptions);
  EXPECT_FALSE(e.backgroundFile);
  s.ChromaKeying = true;
  s.ChromaScreening = kScreeningBlue;
  e = chromaPageEnabling(s, false);
  EXPECT_TRUE(e.colourLevels);
  EXPECT_FALSE(e.backgroundOptions);
  EXPECT_TRUE(e.backgroundFile);
  e = chromaPageEnabling(s, true);
  EXPECT_FALSE(e.methodButtons || e.colourLevels || e.backgroundFile);
}

}  // namespace
}  // namespace zov

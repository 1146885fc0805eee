// Loading the chroma-key background bitmap: bit depths, size and format checks, and a run that
// takes its background from the file named in the settings.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>

#include "encoder/background_bitmap.h"
#include "encoder/zov2_encoder.h"

namespace zov {
namespace {

std::string writeBitmap(const std::string& name, int w, int h, int bits, const char* magic = "BM") {
  auto put32 = [](std::vector<uint8_t>& v, uint32_t x) {
    for (int k = 0; k < 4; ++k) v.push_back(uint8_t(x >> (8 * k)));
  };
  auto put16 = [](std::vector<uint8_t>& v, uint16_t x) {
    v.push_back(uint8_t(x));
    v.push_back(uint8_t(x >> 8));
  };
  size_t line = size_t((w * bits + 31) / 32 * 4);
  std::vector<uint8_t> pix(line * size_t(h));
  for (int y = 0; y < h; ++y)
    for (size_t i = 0; i < line; ++i) pix[size_t(y) * line + i] = uint8_t(i * 7 + size_t(y));
  if (bits == 16)
    for (size_t i = 1; i < pix.size(); i += 2) pix[i] |= 0x80;  // top bits set
  std::vector<uint8_t> f = {uint8_t(magic[0]), uint8_t(magic[1])};
  put32(f, uint32_t(54 + pix.size()));
  put32(f, 0);
  put32(f, 54);
  put32(f, 40);
  put32(f, uint32_t(w));
  put32(f, uint32_t(h));
  put16(f, 1);
  put16(f, uint16_t(bits));
  for (int k = 0; k < 6; ++k) put32(f, 0);
  f.insert(f.end(), pix.begin(), pix.end());
  std::string path = (std::filesystem::temp_directory_path() / name).string();
  FILE* out = std::fopen(path.c_str(), "wb");
  std::fwrite(f.data(), 1, f.size(), out);
  std::fclose(out);
  return path;
}

TEST(BackgroundBitmap, LoadsSixteenTwentyFourAndThirtyTwoBits) {
  for (int bits : {16, 24, 32}) {
    std::string path = writeBitmap("zov_bg_" + std::to_string(bits) + ".bmp", 80, 60, bits);
    std::vector<uint16_t> pic;
    std::string error;
    ASSERT_TRUE(loadBackgroundBitmap(path, 80, 60, pic, &error)) << error;
    ASSERT_EQ(pic.size(), 80u * 60u);
    for (uint16_t px : pic) ASSERT_EQ(px & 0x8000, 0) << bits << " bits: the top bit is cleared";
    std::filesystem::remove(path);
  }
}

TEST(BackgroundBitmap, RefusesWrongSizeDepthAndType) {
  std::vector<uint16_t> pic;
  std::string error;
  std::string path = writeBitmap("zov_bg_size.bmp", 320, 240, 24);
  EXPECT_FALSE(loadBackgroundBitmap(path, 160, 120, pic, &error));
  EXPECT_EQ(
      error,
      "The chroma keying bitmap at 320x240 must be the same resolution as the video at 160x120");
  std::filesystem::remove(path);
  path = writeBitmap("zov_bg_8.bmp", 80, 60, 8);
  EXPECT_FALSE(loadBackgroundBitmap(path, 80, 60, pic, &error));
  EXPECT_EQ(error, path + " is 8 bits and must be 16, 24, or 32 bits");
  std::filesystem::remove(path);
  path = writeBitmap("zov_bg_magic.bmp", 80, 60, 24, "XX");
  EXPECT_FALSE(loadBackgroundBitmap(path, 80, 60, pic, &error));
  EXPECT_EQ(error, path + " is not a valid Windows bitmap file");
  std::filesystem::remove(path);
  EXPECT_FALSE(loadBackgroundBitmap("/nonexistent/zov.bmp", 80, 60, pic, &error));
  EXPECT_EQ(error, "Cannot open file /nonexistent/zov.bmp");
}

TEST(BackgroundBitmap, StartEncoderLoadsTheNamedFileAndReportsFailures) {
  CompressionSettings s;
  std::vector<std::string> messages;
  s.EncoderMessages = [&](const std::string& m) { messages.push_back(m); };
  s.ChromaKeying = true;
  s.ChromaBackground = writeBitmap("zov_bg_run.bmp", 80, 60, 24);
  EXPECT_TRUE(StartEncoder(s, EncoderSetup{80, 60, 2, nullptr}));
  EXPECT_EQ(streamFormatWord(s, true) & 0x1000, 0x1000u);
  EndEncoder(s);
  std::filesystem::remove(s.ChromaBackground);
  s.ChromaBackground = "/nonexistent/zov.bmp";
  EXPECT_FALSE(StartEncoder(s, EncoderSetup{80, 60, 2, nullptr}));
  EXPECT_FALSE(s.EncoderStarted);
  ASSERT_FALSE(messages.empty());
  EXPECT_EQ(messages.back(), "Cannot open file /nonexistent/zov.bmp");
}

}  // namespace
}  // namespace zov

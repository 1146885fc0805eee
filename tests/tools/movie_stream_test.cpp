#include <gtest/gtest.h>

#include <cstring>

#include "encoder/avi_writer_format.h"
#include "support/avi_file_writer.h"
#include "tools/zovinfo/movie_stream.h"

namespace zov::info {
namespace {

using test::AviFrameData;
using test::buildZovAvi;
using test::ZovAviDescription;

void putLe32(std::vector<uint8_t>& b, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + i] = uint8_t(v >> (8 * i));
}
uint32_t getLe32(const std::vector<uint8_t>& b, size_t at) {
  return uint32_t(b[at]) | uint32_t(b[at + 1]) << 8 | uint32_t(b[at + 2]) << 16 |
         uint32_t(b[at + 3]) << 24;
}
size_t find(const std::vector<uint8_t>& b, const char* tag, size_t from = 0) {
  for (size_t i = from; i + 4 <= b.size(); ++i)
    if (std::memcmp(&b[i], tag, 4) == 0) return i;
  return std::string::npos;
}

std::vector<uint8_t> threeFrameFile() {
  ZovAviDescription d{32, 16, 0x32760200, makeFourCC("zov2"), 15};
  std::vector<AviFrameData> frames = {
      {{1, 2, 3, 4, 5}, true},  // odd size: a pad byte follows
      {{6, 7, 8, 9}, false},
      {{}, false},  // a dropped frame
  };
  return buildZovAvi(d, frames);
}

TEST(MovieStream, FindsTheVideoFormatFramesAndKeyFlagsOfAWrittenFile) {
  auto file = threeFrameFile();
  MovieStream s;
  std::string error;
  ASSERT_TRUE(s.openImage(file.data(), file.size(), error)) << error;
  EXPECT_EQ(fourCCText(s.handler), "zov2");
  EXPECT_EQ(s.width, 32);
  EXPECT_EQ(s.height, 16);
  EXPECT_EQ(s.bitCount, 16);
  EXPECT_EQ(s.compression, 0x32760200u);
  EXPECT_TRUE(s.hasIndex);
  ASSERT_EQ(s.frames.size(), 3u);
  EXPECT_EQ(s.frames[0].key, KeyFlag::Key);
  EXPECT_EQ(s.frames[1].key, KeyFlag::Delta);
  EXPECT_EQ(s.frames[2].size, 0u);
  std::vector<uint8_t> buf;
  ASSERT_TRUE(s.readFrame(0, buf, error));
  EXPECT_EQ(buf, (std::vector<uint8_t>{1, 2, 3, 4, 5}));
  ASSERT_TRUE(s.readFrame(1, buf, error));  // found after the pad byte
  EXPECT_EQ(buf, (std::vector<uint8_t>{6, 7, 8, 9}));
}

TEST(MovieStream, ReadsFramesInsideRecListsAndIgnoresOtherStreamsChunks) {
  // movi: LIST rec (00dc, 01wb), 00dc; hand-built around a written header.
  auto file = threeFrameFile();
  size_t movi = find(file, "movi");
  ASSERT_NE(movi, std::string::npos);
  std::vector<uint8_t> b(file.begin(), file.begin() + long(movi) + 4);
  auto chunk = [&](const char* id, std::vector<uint8_t> data) {
    b.insert(b.end(), id, id + 4);
    size_t at = b.size();
    b.resize(b.size() + 4);
    putLe32(b, at, uint32_t(data.size()));
    b.insert(b.end(), data.begin(), data.end());
    if (data.size() & 1) b.push_back(0);
  };
  size_t rec = b.size();
  chunk("LIST", {});
  b.insert(b.end(), {'r', 'e', 'c', ' '});
  chunk("00dc", {0xAA, 0xBB, 0xCC});
  chunk("01wb", {1, 2});
  putLe32(b, rec + 4, uint32_t(b.size() - rec - 8));
  chunk("00db", {0x11});
  chunk("JUNK", {0, 0, 0});
  putLe32(b, movi - 4, uint32_t(b.size() - movi));  // LIST movi size
  putLe32(b, 4, uint32_t(b.size() - 8));            // RIFF size (no index now)
  MovieStream s;
  std::string error;
  ASSERT_TRUE(s.openImage(b.data(), b.size(), error)) << error;
  ASSERT_EQ(s.frames.size(), 2u);
  EXPECT_EQ(s.frames[0].size, 3u);
  EXPECT_EQ(s.frames[1].size, 1u);
  EXPECT_FALSE(s.hasIndex);
  EXPECT_EQ(s.frames[0].key, KeyFlag::Unknown);
}

TEST(MovieStream, EveryTruncationOfAFileIsAClearErrorOrItsWholeFrames) {
  // A file cut anywhere (a killed writer) either opens with the frames it holds whole, or is
  // refused with a reason once not even its headers are there.
  auto file = threeFrameFile();
  size_t movi = find(file, "movi");
  for (size_t n = 0; n < file.size(); ++n) {
    MovieStream s;
    std::string error;
    if (!s.openImage(file.data(), n, error)) {
      EXPECT_FALSE(error.empty());
      EXPECT_LT(n, movi) << "a file cut inside its movie data is refused: " << error;
      continue;
    }
    EXPECT_LE(s.frames.size(), 3u);
    std::vector<uint8_t> buf;
    for (size_t f = 0; f < s.frames.size(); ++f)
      EXPECT_TRUE(s.readFrame(f, buf, error)) << "prefix of " << n << " bytes, frame " << f;
  }
}

TEST(MovieStream, HostileSizesAreRefusedWithoutAllocating) {
  auto file = threeFrameFile();
  size_t frame = find(file, "00dc");
  auto bad = file;
  putLe32(bad, frame + 4, 0xFFFFFFF0u);  // a frame larger than the movi list
  MovieStream s;
  std::string error;
  if (s.openImage(bad.data(), bad.size(), error)) {
    std::vector<uint8_t> buf;
    for (size_t f = 0; f < s.frames.size(); ++f) {
      if (s.readFrame(f, buf, error)) {
        EXPECT_LE(buf.size(), bad.size());
      }
    }
  }

  // A list that claims less than its children need: the child must not run past it.
  bad = file;
  size_t strl = find(bad, "strl");
  putLe32(bad, strl - 4, 12);
  EXPECT_FALSE(s.openImage(bad.data(), bad.size(), error));

  // A frame chunk larger than any ZOV frame is refused by readFrame before any allocation.
  ASSERT_TRUE(s.openImage(file.data(), file.size(), error));
  s.frames[0].size = kMaxFrameBytes + 1;
  std::vector<uint8_t> buf;
  EXPECT_FALSE(s.readFrame(0, buf, error));
  EXPECT_TRUE(buf.empty());
}

TEST(MovieStream, FilesWithoutVideoOrHeadersAreRefused) {
  auto file = threeFrameFile();
  std::string error;
  MovieStream s;
  {
    auto b = file;
    b[find(b, "vids")] = 'a';  // 'auds': no video stream left
    EXPECT_FALSE(s.openImage(b.data(), b.size(), error));
    EXPECT_NE(error.find("no video stream"), std::string::npos) << error;
  }
  {
    auto b = file;
    std::memcpy(&b[8], "WAVE", 4);
    EXPECT_FALSE(s.openImage(b.data(), b.size(), error));
    EXPECT_NE(error.find("not an AVI file"), std::string::npos) << error;
  }
  {
    auto b = file;
    size_t strf = find(b, "strf");
    putLe32(b, strf + 4, 20);  // too short for a BITMAPINFOHEADER
    EXPECT_FALSE(s.openImage(b.data(), b.size(), error));
  }
  EXPECT_EQ(getLe32(file, 0), makeFourCC("RIFF"));
}

}  // namespace
}  // namespace zov::info

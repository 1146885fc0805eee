// Reading block files back: what the writer stored comes back byte for byte, and damaged or
// hostile files give an error instead of a read outside the file.
#include "encoder/block_file_reader.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <random>

namespace zov {
namespace {

std::string tempPath(const std::string& name) {
  auto dir =
      std::filesystem::temp_directory_path() / ("zov-block-reader-" + std::to_string(::getpid()));
  std::filesystem::create_directories(dir);
  return (dir / name).string();
}

AviWriterSettings settingsFor(const std::string& path, bool audio) {
  AviWriterSettings s;
  s.mode = RunMode::BlockFile;
  s.path = path;
  s.microSecPerFrame = 66666;
  s.fileScale = 1;
  s.fileRate = 15;
  s.width = 320;
  s.height = 240;
  putLE32(&s.sourceVideoFormat[16], 0x32760200u);
  if (audio) {
    s.withAudio = true;
    s.audioFormat = {1, 0, 2, 0, 0x44, 0xAC, 0, 0, 0x10, 0xB1, 2, 0, 4, 0, 16, 0};
  }
  return s;
}

struct Movie {
  std::vector<std::vector<uint8_t>> frames, audio;
  std::vector<bool> keys;
  std::vector<uint8_t> file;
};

// Writes `count` frames (some large enough to fill blocks, some empty) and returns the file.
Movie writeMovie(const std::string& name, bool withAudio, int count) {
  Movie m;
  std::string path = tempPath(name);
  BlockFileWriter w;
  EXPECT_TRUE(w.open(settingsFor(path, withAudio), {}));
  std::mt19937 rng(9);
  for (int i = 0; i < count; ++i) {
    std::vector<uint8_t> v(i % 6 == 0 ? 50000 + rng() % 9000 : i == 3 ? 0 : rng() % 7000);
    for (auto& b : v) b = uint8_t(rng());
    std::vector<uint8_t> a(withAudio && i != 4 ? 5880 + (i % 3) : 0);
    for (auto& b : a) b = uint8_t(rng());
    m.keys.push_back(i % 6 == 0);
    EXPECT_EQ(w.writeFrame(v.data(), uint32_t(v.size()), m.keys.back(), a.data(),
                           uint32_t(a.size()), uint32_t(i + 1)),
              kRecordWritten);
    m.frames.push_back(std::move(v));
    m.audio.push_back(std::move(a));
  }
  EXPECT_TRUE(w.finish());
  std::string error;
  BlockFileContents c;
  EXPECT_TRUE(readBlockFile(path, m.file, c, error)) << error;
  std::filesystem::remove(path);
  return m;
}

TEST(BlockFileReader, EveryFrameAndAudioByteComesBack) {
  for (bool withAudio : {true, false}) {
    Movie m = writeMovie(withAudio ? "av.zbk" : "v.zbk", withAudio, 30);
    BlockFileContents c;
    std::string error;
    ASSERT_TRUE(readBlockFile(m.file.data(), m.file.size(), c, error)) << error;
    EXPECT_EQ(c.header.width, 320u);
    EXPECT_EQ(c.header.compression, 0x32760200u);
    EXPECT_GT(c.header.videoBlocks, 3u);
    EXPECT_EQ(c.header.audioBlocks > 0, withAudio);
    ASSERT_EQ(c.frames.size(), m.frames.size());
    for (size_t k = 0; k < c.frames.size(); ++k) {
      const BlockFileFrame& f = c.frames[k];
      EXPECT_EQ(f.key, m.keys[k]) << k;
      ASSERT_EQ(f.size, m.frames[k].size()) << k;
      EXPECT_TRUE(
          std::equal(m.frames[k].begin(), m.frames[k].end(), m.file.begin() + long(f.offset)))
          << k;
      ASSERT_EQ(f.audioBytes, m.audio[k].size()) << k;
      EXPECT_TRUE(
          std::equal(m.audio[k].begin(), m.audio[k].end(), m.file.begin() + long(f.audioOffset)))
          << k;
    }
  }
  // A movie of no frames is a bare header.
  Movie empty = writeMovie("empty.zbk", true, 0);
  BlockFileContents c;
  std::string error;
  EXPECT_EQ(empty.file.size(), kBlockFileHeaderSize);
  EXPECT_TRUE(readBlockFile(empty.file.data(), empty.file.size(), c, error)) << error;
  EXPECT_TRUE(c.frames.empty());
}

bool reads(const std::vector<uint8_t>& f, std::string* error = nullptr) {
  BlockFileContents c;
  std::string e;
  bool ok = readBlockFile(f.data(), f.size(), c, e);
  if (!ok) {
    EXPECT_FALSE(e.empty());
  }
  if (error) *error = e;
  return ok;
}

TEST(BlockFileReader, TruncatedFilesAreRefused) {
  Movie m = writeMovie("cut.zbk", true, 14);
  // Every cut short of the whole file loses a block or part of one (the header counts them).
  for (size_t n = 0; n < m.file.size(); n += (n < 200 ? 1 : 997)) {
    std::vector<uint8_t> cut(m.file.begin(), m.file.begin() + long(n));
    EXPECT_FALSE(reads(cut)) << n;
  }
  std::string error;
  EXPECT_FALSE(reads({m.file.begin(), m.file.begin() + 40}, &error));
  EXPECT_EQ(error, "file of 40 bytes is shorter than the 80-byte header");
  std::vector<uint8_t> longer = m.file;
  longer.insert(longer.end(), {0, 0});
  EXPECT_FALSE(reads(longer, &error));
  EXPECT_NE(error.find("truncated block head"), std::string::npos) << error;
}

TEST(BlockFileReader, HostileSizesAndCountsAreRefused) {
  Movie m = writeMovie("hostile.zbk", true, 14);
  const size_t first = kBlockFileHeaderSize;
  auto patched = [&](size_t offset, uint32_t value) {
    std::vector<uint8_t> f = m.file;
    putLE32(&f[offset], value);
    return f;
  };
  std::string error;
  const uint32_t word = getLE32(&m.file[first]);
  const uint32_t video = word & kBlockFileVideoBit;
  EXPECT_FALSE(reads(patched(first, video | 0x7FFFFFFCu), &error));
  EXPECT_NE(error.find("bad block size"), std::string::npos) << error;
  EXPECT_FALSE(reads(patched(first, video | 2), &error));  // not a multiple of 4, below 8
  EXPECT_FALSE(reads(patched(first, word + 4), &error));   // block no longer matches its pieces
  EXPECT_FALSE(reads(patched(first + 4, 0xFFFFFFFFu), &error));
  EXPECT_NE(error.find("bad piece count"), std::string::npos) << error;
  EXPECT_FALSE(reads(patched(first + 4, 0), &error));
  EXPECT_FALSE(reads(patched(first + 8, 0x7FFFFFFFu), &error));  // a frame past its block
  EXPECT_NE(error.find("runs past the end of its block"), std::string::npos) << error;
  // Header fields that disagree with the blocks.
  EXPECT_FALSE(reads(patched(0, 0), &error));
  EXPECT_EQ(error, "not a block file (no ZOVB signature)");
  EXPECT_FALSE(reads(patched(40, 0xFFFFFFFFu), &error));
  EXPECT_EQ(error, "header says 4294967295 frames, the file has 14");
  EXPECT_FALSE(reads(patched(48, 0)));
  EXPECT_FALSE(reads(patched(52, 8)));
  EXPECT_FALSE(reads(patched(64, 1)));
  EXPECT_FALSE(reads(patched(12, 0)));  // audio blocks in a file without the audio flag
  EXPECT_FALSE(reads(patched(72, 0x7FFFFFFFu)));
  // Random damage anywhere: an answer either way, never a crash (ASan watches the reads).
  std::mt19937 rng(3);
  for (int i = 0; i < 2000; ++i) {
    std::vector<uint8_t> f = m.file;
    for (int j = 0; j < 3; ++j) f[rng() % f.size()] = uint8_t(rng());
    if (rng() % 4 == 0) f.resize(rng() % f.size());
    reads(f);
  }
}

TEST(BlockFileReader, MissingFileIsReported) {
  std::vector<uint8_t> bytes;
  BlockFileContents c;
  std::string error;
  EXPECT_FALSE(readBlockFile("/nonexistent-zov/x.zbk", bytes, c, error));
  EXPECT_NE(error.find("cannot open"), std::string::npos) << error;
}

}  // namespace
}  // namespace zov

// The block file of run mode 3: every frame, key flag and audio byte can be recovered by walking
// the blocks; no block passes the limit; oversized frames and unwritable files are reported.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>

#include "encoder/block_file.h"

namespace zov {
namespace {

std::string tempPath(const std::string& name) {
  auto dir = std::filesystem::temp_directory_path() / ("zov-block-" + std::to_string(::getpid()));
  std::filesystem::create_directories(dir);
  return (dir / name).string();
}

struct Walked {
  BlockFileHeader header;
  std::vector<std::vector<uint8_t>> frames;
  std::vector<bool> keys;
  std::vector<std::vector<uint8_t>> audio;
  uint32_t largest = 0;
};

Walked walk(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::vector<uint8_t> f((std::istreambuf_iterator<char>(in)), {});
  Walked w;
  EXPECT_GE(f.size(), kBlockFileHeaderSize);
  w.header = BlockFileHeader::unpack(f.data());
  size_t p = kBlockFileHeaderSize;
  while (p + 8 <= f.size()) {
    uint32_t word = getLE32(&f[p]);
    bool video = word & kBlockFileVideoBit;
    size_t size = (word & ~kBlockFileVideoBit) + 4;
    EXPECT_LE(size, kBlockFileMaxBlock);
    EXPECT_EQ(size % 4, 0u);
    w.largest = std::max(w.largest, uint32_t(size));
    uint32_t count = getLE32(&f[p + 4]);
    size_t data = p + 8 + 4 * size_t(count);
    for (uint32_t i = 0; i < count; ++i) {
      uint32_t s = getLE32(&f[p + 8 + 4 * i]);
      uint32_t n = video ? (s & ~kBlockFileKeyBit) : s;
      std::vector<uint8_t> piece(f.begin() + long(data), f.begin() + long(data + n));
      if (video) {
        w.frames.push_back(piece);
        w.keys.push_back(s & kBlockFileKeyBit);
      } else {
        w.audio.push_back(piece);
      }
      data += (n + 3) & ~3u;
    }
    EXPECT_EQ(data, p + size) << "block size does not match its contents";
    p += size;
  }
  EXPECT_EQ(p, f.size());
  return w;
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
  s.audioPreloadFrames = 11;
  if (audio) {
    s.withAudio = true;
    s.audioFormat = {1, 0, 2, 0, 0x44, 0xAC, 0, 0, 0x10, 0xB1, 2, 0, 4, 0, 16, 0};
  }
  return s;
}

TEST(BlockFile, FramesAndAudioComeBackFromTheBlocks) {
  std::string path = tempPath("movie.zbk");
  std::vector<std::string> errors;
  BlockFileWriter w;
  ASSERT_TRUE(
      w.open(settingsFor(path, true), {[&](const std::string& t) { errors.push_back(t); }}));
  std::mt19937 rng(4);
  std::vector<std::vector<uint8_t>> frames, audio;
  std::vector<bool> keys;
  for (int i = 0; i < 40; ++i) {
    std::vector<uint8_t> v(i % 7 == 0 ? 60000 + rng() % 5000 : rng() % 9000);
    for (auto& b : v) b = uint8_t(rng());
    std::vector<uint8_t> a(i == 5 ? 0 : 5880 + (i & 1));
    for (auto& b : a) b = uint8_t(rng());
    frames.push_back(v);
    audio.push_back(a);
    keys.push_back(i % 7 == 0);
    ASSERT_EQ(w.writeFrame(v.data(), uint32_t(v.size()), keys.back(), a.data(), uint32_t(a.size()),
                           uint32_t(i + 1)),
              kRecordWritten);
  }
  ASSERT_TRUE(w.finish());
  EXPECT_TRUE(errors.empty());
  Walked b = walk(path);
  EXPECT_EQ(b.header.magic, makeFourCC("ZOVB"));
  EXPECT_EQ(b.header.headerSize, 80u);
  EXPECT_EQ(b.header.frames, 40u);
  EXPECT_EQ(b.header.flags, kBlockFileFlagAudio);
  EXPECT_EQ(b.header.width, 320u);
  EXPECT_EQ(b.header.rate, 15u);
  EXPECT_EQ(b.header.compression, 0x32760200u);
  EXPECT_EQ(b.header.audioChannels, 2);
  EXPECT_EQ(b.header.audioRate, 44100u);
  EXPECT_EQ(b.header.audioBits, 16);
  EXPECT_EQ(b.header.audioPreloadFrames, 11u);
  EXPECT_EQ(b.header.largestBlock, b.largest);
  EXPECT_GT(b.header.videoBlocks, 3u);
  EXPECT_EQ(b.frames, frames);
  EXPECT_EQ(b.keys, keys);
  EXPECT_EQ(b.audio, audio);
  uint32_t total = 0;
  for (auto& a : audio) total += uint32_t(a.size());
  EXPECT_EQ(b.header.audioBytes, total);
}

TEST(BlockFile, OversizedFramesAndUnwritableFilesAreReported) {
  std::vector<std::string> errors;
  WriterCallbacks cb{[&](const std::string& t) { errors.push_back(t); }};
  {
    std::string path = tempPath("big.zbk");
    BlockFileWriter w;
    ASSERT_TRUE(w.open(settingsFor(path, true), cb));
    std::vector<uint8_t> fits(kBlockFileMaxBlock - 12), big(kBlockFileMaxBlock - 11);
    EXPECT_EQ(w.writeFrame(fits.data(), uint32_t(fits.size()), true, nullptr, 0, 1),
              kRecordWritten);
    EXPECT_EQ(w.writeFrame(big.data(), uint32_t(big.size()), true, nullptr, 0, 2), kRecordError);
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0],
              "CTR0040E Unable to fit video frame frame 2 (size = 130909) into a cache buffer!");
    EXPECT_EQ(w.writeFrame(fits.data(), 8, true, big.data(), uint32_t(big.size()), 3),
              kRecordError);
    EXPECT_EQ(errors.back(),
              "CTR0042E Unable to fit audio frame frame 3 (size = 130909) into a cache buffer!");
    w.abandon();
    EXPECT_FALSE(std::filesystem::exists(path));
  }
  errors.clear();
  BlockFileWriter w;
  EXPECT_FALSE(w.open(settingsFor("/nonexistent-zov/x.zbk", false), cb));
  ASSERT_EQ(errors.size(), 1u);
  EXPECT_EQ(errors[0],
            "CTR0038E Unable to create \"/nonexistent-zov/x.zbk\", RC=2 - compression halted\n"
            "Cause: No such file or directory");
  // A pipe (or a device) at the path is refused, neither truncated nor removed.
  errors.clear();
  const std::string fifo = tempPath("pipe.zbk");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  BlockFileWriter p;
  EXPECT_FALSE(p.open(settingsFor(fifo, false), cb));
  ASSERT_EQ(errors.size(), 1u);
  EXPECT_NE(errors[0].find("is not a regular file"), std::string::npos) << errors[0];
  p.abandon();
  EXPECT_TRUE(std::filesystem::is_fifo(fifo));
  std::filesystem::remove(fifo);
}

TEST(BlockFile, VideoOnlyFileHasNoAudioBlocks) {
  std::string path = tempPath("video.zbk");
  BlockFileWriter w;
  ASSERT_TRUE(w.open(settingsFor(path, false), {}));
  std::vector<uint8_t> v(1001, 7);
  for (int i = 0; i < 3; ++i)
    ASSERT_EQ(w.writeFrame(v.data(), 1001, i == 0, nullptr, 0, uint32_t(i + 1)), kRecordWritten);
  ASSERT_TRUE(w.finish());
  Walked b = walk(path);
  EXPECT_EQ(b.header.flags, 0u);
  EXPECT_EQ(b.header.audioBlocks, 0u);
  EXPECT_EQ(b.header.videoBlocks, 1u);
  EXPECT_EQ(b.frames.size(), 3u);
  EXPECT_TRUE(b.audio.empty());
}

}  // namespace
}  // namespace zov

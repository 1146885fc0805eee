// Real footage through the network source: the teapot sample (an ordinary AVI file of ZOV2
// frames) looped past twice the 4 MB cache, written as a stream file with the compressor's
// writer, served, and played through the codec library with jumps; every picture shown must be
// the one the same frame gives when played from the AVI file.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <thread>

#include "codec/support/network_movie.h"

namespace fs = std::filesystem;
using namespace zov;
using namespace zov::test;

namespace {

constexpr uint32_t kPasses = 30;

TEST(NetworkFootage, TheTeapotLoopedPastTheCachePlaysAsFromItsAviFile) {
  const AviChunks sample =
      readAviChunks(std::string(ZOV_TEST_DATA_DIR) + "/sample-teapot-zov2.avi");
  ASSERT_EQ(sample.error, "");
  ASSERT_EQ(sample.video.size(), 10u);
  ASSERT_GE(sample.videoFormat.size(), 40u);
  NetMovie movie;
  std::memcpy(&movie.format, sample.videoFormat.data(), 40);
  movie.width = movie.format.biWidth;
  movie.height = movie.format.biHeight;
  for (uint32_t pass = 0; pass < kPasses; ++pass) {
    movie.video.insert(movie.video.end(), sample.video.begin(), sample.video.end());
    movie.keys.insert(movie.keys.end(), sample.videoKey.begin(), sample.videoKey.end());
  }
  const uint32_t frames = uint32_t(movie.video.size());
  ASSERT_TRUE(movie.isKey(0));

  const fs::path root = makeTempDir();
  ASSERT_FALSE(root.empty());
  fs::create_directories(root / "movies");
  const fs::path file = root / "movies" / "teapot.zev";
  ASSERT_EQ(writeNetMovie(movie, RunMode::ZevStream, file.string()), "");
  ASSERT_GT(fs::file_size(file), 2u * 4194304u);

  // The AVI file's pictures; each pass starts at a key frame, so they repeat every ten frames.
  const auto expected = decodeChunks(movie, movie.video);
  ASSERT_EQ(expected.size(), size_t(frames));
  EXPECT_NE(expected[1], expected[0]);
  EXPECT_EQ(expected[frames - 1], expected[9]);

  ServedLibrarySource source(root);
  ASSERT_TRUE(source.serving());
  OpenCodec instance;
  ASSERT_TRUE(instance);
  ASSERT_NE(source.access(), nullptr) << source.firstBox();
  ChunkPlayer player(movie.format);
  ASSERT_TRUE(player);

  // Start to end, the loop back to the start (read ahead again round the end of the movie),
  // then a jump into the middle.
  Playback all = playFrames(player, movie, expected, 0, frames);
  std::this_thread::sleep_for(std::chrono::milliseconds(1000));
  player.fill(0xCDCD);
  std::vector<uint8_t> zero(4, 0);
  player.play(zero, true);
  EXPECT_EQ(player.picture(), expected[0]) << "the start should have been fetched again";
  Playback again = playFrames(player, movie, expected, 0, 40);
  Playback middle = playFrames(player, movie, expected, 150, 200);
  uint32_t keys = 0;
  for (uint32_t f = 0; f < frames; ++f) keys += movie.isKey(f);
  EXPECT_GE(all.shown, keys);
  EXPECT_EQ(all.shown + all.dropped, frames);
  EXPECT_EQ(again.shown + again.dropped, 40u);
  EXPECT_EQ(middle.shown + middle.dropped, 50u);
  EXPECT_EQ(source.firstBox(), "");
  source.free();
  std::error_code ec;
  fs::remove_all(root, ec);
}

}  // namespace

// A served movie twice the size of the network source's 4 MB cache, played through the codec
// library as a host plays it: start to end, jumps forward and back, frames that are not cached
// yet answered with nothing, and the codec then dropping frames up to the next key frame.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <thread>

#include "codec/support/network_movie.h"

namespace fs = std::filesystem;
using namespace zov;
using namespace zov::test;

namespace {

constexpr uint32_t kFrames = 160;
constexpr uint32_t kKeyEvery = 8;

// 30-80 KB chunks, as a 320 x 240 movie has: one to four entries per cache slot.
uint32_t footageSize(uint32_t f) {
  return 30000 + (f * 7919) % 50000;
}

TEST(NetworkCache, AMovieTwiceTheCacheSeeksAndWaitsForKeyFramesThroughTheCodec) {
  const fs::path root = makeTempDir();
  ASSERT_FALSE(root.empty());
  fs::create_directories(root / "movies");
  const NetMovie movie = makeNetMovie(kFrames, kKeyEvery, footageSize, 2940);
  const fs::path file = root / "movies" / "large.zev";
  ASSERT_EQ(writeNetMovie(movie, RunMode::ZevStream, file.string()), "");
  ASSERT_GT(fs::file_size(file), 2u * 4194304u);

  // The reference pictures, decoded from the chunks before any source is open.
  const auto expected = decodeChunks(movie, movie.video);
  ASSERT_EQ(expected.size(), size_t(kFrames));

  ServedLibrarySource source(root);
  ASSERT_TRUE(source.serving());
  OpenCodec instance;
  ASSERT_TRUE(instance);
  ASSERT_NE(source.access(), nullptr) << source.firstBox();
  const auto numbers = chunkNumbers(kFrames);
  ChunkPlayer player(movie.format);
  ASSERT_TRUE(player);

  // The source is ready only with a full cache: the first frames and a jump ahead inside the
  // cached window show at the first try.
  player.fill(0xCDCD);
  player.play(numbers[0], true);
  EXPECT_EQ(player.picture(), expected[0]);
  player.play(numbers[1], false);
  EXPECT_EQ(player.picture(), expected[1]);
  player.fill(0xCDCD);
  player.play(numbers[40], true);
  EXPECT_EQ(player.picture(), expected[40]);

  // A jump ahead past the cache: the frame is answered with nothing and the picture stays.
  const std::vector<uint16_t> at40 = player.picture();
  player.play(numbers[140], false);
  EXPECT_EQ(player.picture(), at40);
  // The worker fetches from there on; once the next frames are in, the codec still drops them
  // because it waits for a key frame.
  uint32_t size = 0;
  ASSERT_NE(source.waitForAudio(143, &size), nullptr);
  for (uint32_t f = 141; f < 144; ++f) {
    player.play(numbers[f], false);
    EXPECT_EQ(player.picture(), at40) << "frame " << f << " before the key frame";
  }
  Playback tail = playFrames(player, movie, expected, 144, kFrames);
  EXPECT_GE(tail.shown, 2u);

  // Back to the start, long evicted: with the play position at the end, the worker has read on
  // round the end of the movie, so the loop finds its first key frame waiting.
  std::this_thread::sleep_for(std::chrono::milliseconds(1000));
  player.fill(0xCDCD);
  player.play(numbers[0], true);
  EXPECT_EQ(player.picture(), expected[0]) << "the start should have been fetched again";

  // Start to end through the whole movie.
  Playback all = playFrames(player, movie, expected, 0, kFrames);
  EXPECT_GE(all.shown, kFrames / kKeyEvery);
  EXPECT_EQ(all.shown + all.dropped, kFrames);
  EXPECT_EQ(source.firstBox(), "");

  // And once more, paced like a player that leaves the worker time: nothing is dropped.
  Playback again{};
  for (uint32_t f = 0; f < kFrames; ++f) {
    if (!movie.isKey(f)) {
      ASSERT_NE(source.waitForAudio(f, &size), nullptr) << f;
    }
    Playback one = playFrames(player, movie, expected, f, f + 1);
    again.shown += one.shown;
    again.dropped += one.dropped;
  }
  EXPECT_EQ(again.shown, kFrames);
  source.free();
  std::error_code ec;
  fs::remove_all(root, ec);
}

}  // namespace

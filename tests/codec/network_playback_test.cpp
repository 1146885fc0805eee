// A movie played from a movie server through the codec library, as a host plays it: the
// library's own network source fetches the chunks, the codec is handed the placeholder file's
// 4-byte chunk numbers, and the pictures and the audio must equal those of the same movie
// written as an ordinary AVI file and played from it.
#include <gtest/gtest.h>

#include <filesystem>

#include "codec/support/network_movie.h"

namespace fs = std::filesystem;
using namespace zov;
using namespace zov::test;

namespace {

constexpr uint32_t kFrames = 24;

TEST(NetworkPlayback, AServedStreamFilePlaysLikeTheOrdinaryAviOfTheSameMovie) {
  const fs::path root = makeTempDir();
  ASSERT_FALSE(root.empty());
  fs::create_directories(root / "movies");
  const NetMovie movie = makeNetMovie(kFrames, 4, nullptr, 2940);

  // The same movie, once as an ordinary AVI file and once as the served stream file.
  const fs::path avi = root / "ordinary.avi";
  ASSERT_EQ(writeNetMovie(movie, RunMode::Compress, avi.string()), "");
  ASSERT_EQ(writeNetMovie(movie, RunMode::ZevStream, (root / "movies" / "served.zev").string()),
            "");
  const AviChunks ordinary = readAviChunks(avi.string());
  ASSERT_EQ(ordinary.error, "");
  ASSERT_EQ(ordinary.video.size(), size_t(kFrames));
  ASSERT_EQ(ordinary.audio.size(), size_t(kFrames));
  EXPECT_EQ(ordinary.audio, movie.audio);
  for (uint32_t f = 0; f < kFrames; ++f) EXPECT_EQ(ordinary.videoKey[f], movie.isKey(f)) << f;

  // The pictures of the ordinary file, before any network source is open (while one is open
  // the codec takes every chunk for a chunk number). It is a real movie: every picture decoded,
  // each differs from the one before.
  const auto expected = decodeChunks(movie, ordinary.video);
  ASSERT_EQ(expected.size(), size_t(kFrames));
  for (uint32_t f = 0; f < kFrames; ++f) {
    ASSERT_NE(expected[f][0], 0xCDCD) << "frame " << f;
    if (f > 0) {
      ASSERT_NE(expected[f], expected[f - 1]) << "frame " << f;
    }
  }

  ServedLibrarySource source(root);
  ASSERT_TRUE(source.serving());
  OpenCodec instance;  // the exports act on the codec instances of the process
  ASSERT_TRUE(instance);
  const char* placeholder = source.access();
  ASSERT_NE(placeholder, nullptr) << source.firstBox();
  const fs::path local = placeholder;
  EXPECT_TRUE(fs::exists(local));
  EXPECT_EQ(local.parent_path(), root / "tmp");
  EXPECT_EQ(source.moviesSeen(), std::vector<std::string>{"served.zev"});

  // Audio first: once the last chunk is in, the small movie lies wholly in the cache, so the
  // delta frames are not asked for before they arrived. Each chunk is the ordinary file's.
  for (uint32_t a = 0; a < kFrames; ++a) {
    uint32_t size = 0;
    const uint8_t* p = source.waitForAudio(a, &size);
    ASSERT_NE(p, nullptr) << "audio " << a;
    EXPECT_EQ(std::vector<uint8_t>(p, p + size), ordinary.audio[a]) << "audio " << a;
  }
  uint32_t size = 77;
  EXPECT_EQ(source.obtainAudio(kFrames, &size), nullptr);

  // The placeholder's video chunks are the 4-byte chunk numbers the codec resolves.
  const auto played = decodeChunks(movie, chunkNumbers(kFrames));
  ASSERT_EQ(played.size(), size_t(kFrames));
  for (uint32_t f = 0; f < kFrames; ++f) EXPECT_EQ(played[f], expected[f]) << "frame " << f;
  EXPECT_EQ(source.firstBox(), "");

  source.free();
  EXPECT_FALSE(fs::exists(local));
  std::error_code ec;
  fs::remove_all(root, ec);
}

}  // namespace

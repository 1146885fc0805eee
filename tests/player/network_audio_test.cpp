// The network source's sound as the player reads it: the PCM format worked out from the chunk
// sizes, chunks of their real (not nominal) sizes played on byte for byte, seeks, and chunks that
// are not cached yet.
#include <gtest/gtest.h>

#include <map>

#include "player/network_audio.h"

using namespace zov::player;

namespace {

// Chunks of 16-bit stereo at 22,050 Hz, 15 frames a second: 1,470 sample frames nominally,
// some a sample frame longer or shorter as a compressor's rounding gives them.
struct FakeSource {
  std::vector<std::vector<uint8_t>> chunks;
  std::map<uint32_t, int> missingFor;  // chunk -> calls that answer "not cached" first
  int calls = 0;
  explicit FakeSource(uint32_t count, uint32_t bytesPerFrame = 4) {
    for (uint32_t c = 0; c < count; ++c) {
      const uint32_t frames = 1470 + (c % 3 == 1 ? 1 : 0) - (c % 5 == 4 ? 1 : 0);
      std::vector<uint8_t> data(frames * bytesPerFrame);
      for (size_t i = 0; i < data.size(); ++i) data[i] = uint8_t(c * 37 + i * 11 + (i >> 8));
      chunks.push_back(std::move(data));
    }
  }
  NetworkAudio::Obtain obtain() {
    return [this](uint32_t c, uint32_t* size) -> const void* {
      ++calls;
      *size = c < chunks.size() ? uint32_t(chunks[c].size()) : 0;
      if (c >= chunks.size()) return nullptr;
      if (missingFor[c] > 0) {
        --missingFor[c];
        return nullptr;
      }
      return chunks[c].data();
    };
  }
  std::vector<uint8_t> all() const {
    std::vector<uint8_t> v;
    for (const auto& c : chunks) v.insert(v.end(), c.begin(), c.end());
    return v;
  }
};

std::vector<uint8_t> playAll(NetworkAudio& a, uint64_t from, uint64_t step) {
  std::vector<uint8_t> got, part;
  for (uint64_t at = from; at < a.length();) {
    const size_t n = a.read(at, step, part);
    if (n == 0) break;
    got.insert(got.end(), part.begin(), part.end());
    at += n / a.format().bytesPerFrame();
  }
  return got;
}

}  // namespace

TEST(NetworkAudio, FormatFromChunkSizesAndPlayedOnByteForByte) {
  FakeSource source(12);
  std::string error;
  auto a = NetworkAudio::create(source.obtain(), 12, 2, 22050, 15.0, &error);
  ASSERT_TRUE(a) << error;
  EXPECT_EQ(a->format().bitsPerSample, 16);
  EXPECT_EQ(a->format().channels, 2);
  EXPECT_EQ(a->format().sampleRate, 22050u);
  // Reads of odd sizes cross chunk boundaries; the sound is the chunks back to back.
  EXPECT_EQ(playAll(*a, 0, 1000), source.all());

  FakeSource mono8(4, 1);
  auto b = NetworkAudio::create(mono8.obtain(), 4, 1, 22050, 15.0, &error);
  ASSERT_TRUE(b) << error;
  EXPECT_EQ(b->format().bitsPerSample, 8);
  EXPECT_EQ(playAll(*b, 0, 4096), mono8.all());

  // Chunks far from either sample size are refused, as are impossible formats.
  EXPECT_FALSE(NetworkAudio::create(source.obtain(), 12, 2, 8000, 15.0, &error));
  EXPECT_FALSE(error.empty());
  EXPECT_FALSE(NetworkAudio::create(source.obtain(), 12, 6, 22050, 15.0, &error));
  EXPECT_FALSE(NetworkAudio::create(source.obtain(), 0, 2, 22050, 15.0, &error));
}

TEST(NetworkAudio, ASeekStartsInTheFramesChunk) {
  FakeSource source(12);
  std::string error;
  auto a = NetworkAudio::create(source.obtain(), 12, 2, 22050, 15.0, &error);
  ASSERT_TRUE(a) << error;
  std::vector<uint8_t> part;
  // Frame 5's sound starts at sample frame 7,350: chunk 5 from its start.
  ASSERT_EQ(a->read(7350, 100, part), 400u);
  EXPECT_TRUE(std::equal(part.begin(), part.end(), source.chunks[5].begin()));
  // 10 sample frames into chunk 7.
  ASSERT_EQ(a->read(7 * 1470 + 10, 3, part), 12u);
  EXPECT_TRUE(std::equal(part.begin(), part.end(), source.chunks[7].begin() + 40));
  // Past the last chunk nothing is read.
  EXPECT_EQ(a->read(a->length(), 100, part), 0u);
}

TEST(NetworkAudio, AChunkNotCachedIsAskedForAgainThenSilenced) {
  FakeSource source(4);
  std::string error;
  auto a = NetworkAudio::create(source.obtain(), 4, 2, 22050, 15.0, &error);
  ASSERT_TRUE(a) << error;
  a->retryMillis = 200;
  std::vector<uint8_t> part;
  // Cached after a few tries: the real data.
  source.missingFor[0] = 3;
  ASSERT_EQ(a->read(0, 1470, part), source.chunks[0].size());
  EXPECT_EQ(part, source.chunks[0]);
  // A read that already has sound returns it rather than wait for the next chunk.
  source.missingFor[2] = 1000000;
  ASSERT_EQ(a->read(1470, 5000, part), source.chunks[1].size());
  EXPECT_EQ(part, source.chunks[1]);
  // Never cached: after the retry, the chunk's length of silence, and play goes on.
  a->retryMillis = 5;
  ASSERT_EQ(a->read(1470 + 1471, 1470, part), 1470u * 4);
  EXPECT_EQ(part, std::vector<uint8_t>(1470u * 4, 0));
  ASSERT_EQ(a->read(2 * 1470 + 1471, 1470, part), 1470u * 4);
  EXPECT_EQ(part,
            std::vector<uint8_t>(source.chunks[3].begin(), source.chunks[3].begin() + 1470 * 4));
}

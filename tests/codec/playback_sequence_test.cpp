// A whole playback as a player drives the codec: open, query, get format, begin, a hundred frame
// requests of real footage with seeks (preroll from the key frame before the target) and a
// key-frame wait after the begin, end, close. Every drawn picture must equal the encoder's
// reconstruction of that frame, which is what the frame decoder gives and output method 0 copies.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "codec/support/codec_host.h"
#include "encoder/compression_settings.h"
#include "support/encoder_harness.h"
#include "support/footage_avi.h"

namespace zov::test {
namespace {

struct Movie {
  int width = 0, height = 0;
  EncodedRun run;
};

const Movie& teapotMovie() {
  static const Movie movie = [] {
    Movie m;
    Footage f;
    if (!loadUncompressedAvi(std::string(ZOV_TEST_DATA_DIR) + "/teapot-256x256-rgb24.avi", f))
      return m;
    std::vector<Picture> pictures;
    for (const auto& frame : f.frames)
      pictures.push_back(toPicture15(frame, f.width, f.height, f.bitsPerPixel));
    CompressionSettings s;
    s.KeyRate = 1;  // several key frames in 45 frames, so seeks land between them
    HarnessOptions o;
    o.keepReconstructions = true;
    m.width = f.width;
    m.height = f.height;
    m.run = encodePictures(s, f.width, f.height, pictures, o);
    return m;
  }();
  return movie;
}

// The key frame at or before frame k.
size_t keyFrameBefore(const std::vector<bool>& keys, size_t k) {
  while (k > 0 && !keys[k]) --k;
  return k;
}

TEST(PlaybackSequence, SeeksStepsAndKeyFrameWaitsDrawExactlyTheEncodersPictures) {
  const Movie& movie = teapotMovie();
  ASSERT_TRUE(movie.run.ok) << movie.run.failure;
  const auto& frames = movie.run.frames;
  const auto& keys = movie.run.keyFrames;
  const size_t count = frames.size();
  ASSERT_GE(count, 40u);
  size_t keyCount = 0;
  for (bool k : keys) keyCount += k;
  ASSERT_GE(keyCount, 3u) << "the sequence needs key frames to seek between";

  HIC hic = ICOpen(ICTYPE_VIDEO, mmioFOURCC('z', 'o', 'v', '2'), ICMODE_DECOMPRESS);
  ASSERT_NE(hic, nullptr);
  BITMAPINFOHEADER in{};
  in.biSize = sizeof in;
  in.biWidth = movie.width;
  in.biHeight = movie.height;
  in.biPlanes = 1;
  in.biBitCount = 16;
  in.biCompression = movie.run.formatWord;
  ASSERT_EQ(ICDecompressQuery(hic, &in, nullptr), ICERR_OK);
  OutputFormat proposed{};
  ASSERT_EQ(ICDecompressGetFormat(hic, &in, &proposed.header), ICERR_OK);
  EXPECT_EQ(proposed.header.biWidth, movie.width);
  EXPECT_EQ(proposed.header.biHeight, movie.height);
  OutputFormat out = rgbOutput(movie.width, movie.height, 16);
  ASSERT_EQ(ICDecompressQuery(hic, &in, &out.header), ICERR_OK);
  ASSERT_EQ(ICDecompressBegin(hic, &in, &out.header), ICERR_OK);

  const size_t pixels = static_cast<size_t>(movie.width) * movie.height;
  std::vector<uint16_t> bitmap(pixels, 0xCDCD);
  auto decode = [&](size_t k, DWORD flags) {
    std::vector<uint8_t> chunk = frames[k];
    in.biSizeImage = static_cast<DWORD>(chunk.size());
    if (!keys[k]) flags |= ICDECOMPRESS_NOTKEYFRAME;
    if (chunk.empty()) flags |= ICDECOMPRESS_NULLFRAME;
    return ICDecompress(hic, flags, &in, chunk.empty() ? nullptr : chunk.data(), &out.header,
                        bitmap.data());
  };
  auto expectPicture = [&](size_t k, const char* what) {
    const Picture& want = movie.run.reconstructions[k];
    size_t differing = 0;
    for (size_t i = 0; i < pixels; ++i) differing += (bitmap[i] & 0x7FFF) != want[i];
    EXPECT_EQ(differing, 0u) << what << " frame " << k;
  };

  // Right after the begin a player that starts mid-stream gets nothing drawn until a key frame.
  size_t firstNonKey = 1;
  while (keys[firstNonKey]) ++firstNonKey;
  ASSERT_EQ(decode(firstNonKey, 0), static_cast<DWORD>(ICERR_OK));
  EXPECT_EQ(bitmap[0], 0xCDCD) << "no key frame yet: nothing drawn";

  // Requests: play from the start, seek back, seek forward, step backwards, play to the end.
  std::vector<size_t> requests;
  for (size_t k = 0; k < 30; ++k) requests.push_back(k);
  for (size_t k = 12; k < 22; ++k) requests.push_back(k);
  for (size_t k = count - 12; k < count; ++k) requests.push_back(k);
  for (size_t k = 25; k > 15; --k) requests.push_back(k);
  for (size_t k = 5; requests.size() < 100; ++k) requests.push_back(k % count);

  size_t current = count;  // nothing decoded yet
  for (size_t target : requests) {
    if (target != current + 1) {
      // A seek: decode from the key frame before the target without drawing.
      for (size_t k = keyFrameBefore(keys, target); k < target; ++k)
        ASSERT_EQ(decode(k, ICDECOMPRESS_PREROLL), static_cast<DWORD>(ICERR_OK));
    }
    ASSERT_EQ(decode(target, 0), static_cast<DWORD>(ICERR_OK)) << "frame " << target;
    expectPicture(target, target == current + 1 ? "played" : "sought");
    current = target;
  }
  EXPECT_EQ(ICDecompressEnd(hic), ICERR_OK);
  EXPECT_EQ(ICClose(hic), ICERR_OK);
}

}  // namespace
}  // namespace zov::test

// libzovdec through its C interface, on streams the encoder makes from real footage: the
// pictures in every pixel format and orientation, key-frame waiting after a start, a seek and a
// damaged frame, background streams across seeks, field streams and letterboxes, and what the
// library refuses.
#include "zov/zovdec.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <thread>

#include "encoder/compression_settings.h"
#include "support/encoder_harness.h"
#include "support/footage_avi.h"

namespace zov::test {
namespace {

constexpr uint8_t kSentinel = 0xA5;

// The first frames of the teapot clip, 15-bit, bottom-up.
const std::vector<Picture>& teapot(int& width, int& height) {
  static Footage footage;
  static std::vector<Picture> pictures;
  if (pictures.empty()) {
    EXPECT_TRUE(loadUncompressedAvi(std::string(ZOV_TEST_DATA_DIR) + "/teapot-256x256-rgb24.avi",
                                    footage, 6));
    for (const auto& f : footage.frames)
      pictures.push_back(toPicture15(f, footage.width, footage.height, footage.bitsPerPixel));
  }
  width = footage.width;
  height = footage.height;
  return pictures;
}

EncodedRun encode(CompressionSettings s, int w, int h, const std::vector<Picture>& pictures,
                  const Picture* background = nullptr) {
  HarnessOptions o;
  o.keepReconstructions = true;
  o.backgroundBitmap = background;
  EncodedRun run = encodePictures(s, w, h, pictures, o);
  EXPECT_TRUE(run.ok) << run.failure;
  return run;
}

CompressionSettings scheme(uint32_t type, uint32_t keyRate = 3) {
  CompressionSettings s;
  s.CompressionType = type;
  s.KeyRate = keyRate;
  return s;
}

struct Decoder {
  ZOVDecoder* d = nullptr;
  Decoder(uint32_t word, int w, int h) { EXPECT_EQ(ZOVDecCreate(word, w, h, &d), ZOVDEC_OK); }
  ~Decoder() { ZOVDecDestroy(d); }
  int decode(const std::vector<uint8_t>& f, std::vector<uint8_t>* out = nullptr,
             ptrdiff_t stride = 0, int format = ZOVDEC_RGB555, unsigned flags = ZOVDEC_BOTTOM_UP) {
    return ZOVDecDecodeFrame(d, f.data(), f.size(), out ? out->data() : nullptr, stride, format,
                             flags);
  }
};

// What a 15-bit pixel becomes in each format, worked out independently of the library.
struct Bytes {
  uint8_t b[4] = {};
  size_t n = 0;
};
Bytes expectedPixel(uint16_t p, int format) {
  auto w = [](int v) { return uint8_t(v << 3 | v >> 2); };
  const int r = p >> 10 & 31, g = p >> 5 & 31, b = p & 31;
  const uint16_t v16 = format == ZOVDEC_RGB555 ? p : uint16_t(r << 11 | g << 6 | b);
  Bytes out;
  switch (format) {
    case ZOVDEC_RGB555:
    case ZOVDEC_RGB565:
      std::memcpy(out.b, &v16, 2);
      out.n = 2;
      return out;
    case ZOVDEC_RGB24:
      return {{w(r), w(g), w(b)}, 3};
    case ZOVDEC_BGR24:
      return {{w(b), w(g), w(r)}, 3};
    case ZOVDEC_BGRX32:
      return {{w(b), w(g), w(r), 255}, 4};
    default:
      return {{w(r), w(g), w(b), 255}, 4};
  }
}

// Compares a decoded buffer with `picture` (bottom-up rows); the padding after each line must
// still hold the sentinel. `rowOfLine` maps an output line (0 the bottom) to a picture row, or
// -1 for black.
template <typename RowOfLine>
void expectPicture(const std::vector<uint8_t>& buf, int w, int lines, ptrdiff_t stride, int format,
                   bool bottomUp, const Picture& picture, RowOfLine rowOfLine,
                   const std::string& what) {
  const size_t bpp = expectedPixel(0, format).n;
  int bad = 0, padding = 0;
  for (int line = 0; line < lines; ++line) {
    const uint8_t* dst = buf.data() + size_t(bottomUp ? line : lines - 1 - line) * size_t(stride);
    const int row = rowOfLine(line);
    for (int x = 0; x < w; ++x) {
      uint16_t p = row < 0 ? 0 : picture[size_t(row) * w + x];
      bad += std::memcmp(dst + x * bpp, expectedPixel(p, format).b, bpp) != 0;
    }
    for (ptrdiff_t k = ptrdiff_t(w * bpp); k < stride; ++k) padding += dst[k] != kSentinel;
  }
  EXPECT_EQ(bad, 0) << what << ": pixels that differ from the encoder's picture";
  EXPECT_EQ(padding, 0) << what << ": bytes written past the end of a line";
}

TEST(ZovDec, RealFootageInEveryFormatAndOrientationAtTheCallersStride) {
  int w = 0, h = 0;
  const std::vector<Picture> pics(teapot(w, h).begin(), teapot(w, h).begin() + 4);
  for (uint32_t type : {kCompressionRgb, kCompressionYCrCb411, kCompressionYCrCb1611}) {
    EncodedRun run = encode(scheme(type), w, h, pics);
    for (int format = ZOVDEC_RGB555; format <= ZOVDEC_RGBX32; ++format)
      for (unsigned flags : {0u, unsigned(ZOVDEC_BOTTOM_UP)}) {
        Decoder d(run.formatWord, w, h);
        int ow = 0, oh = 0;
        ASSERT_EQ(ZOVDecGetOutputSize(d.d, &ow, &oh), ZOVDEC_OK);
        ASSERT_EQ(ow, w);
        ASSERT_EQ(oh, h);
        const ptrdiff_t stride = ptrdiff_t(w) * ptrdiff_t(expectedPixel(0, format).n) + 7;
        std::vector<uint8_t> buf(size_t(stride) * h, kSentinel);
        for (size_t f = 0; f < run.frames.size(); ++f) {
          ASSERT_EQ(d.decode(run.frames[f], &buf, stride, format, flags), ZOVDEC_OK);
          expectPicture(
              buf, w, h, stride, format, flags != 0, run.reconstructions[f],
              [](int line) { return line; },
              "scheme " + std::to_string(type) + " format " + std::to_string(format) + " flags " +
                  std::to_string(flags) + " frame " + std::to_string(f));
        }
      }
  }
}

TEST(ZovDec, WaitsForAKeyFrameAfterTheStartASeekAndADamagedFrame) {
  int w = 0, h = 0;
  EncodedRun run = encode(scheme(kCompressionYCrCb422, 2), w, h, teapot(w, h));
  ASSERT_EQ(run.keyFrames, (std::vector<bool>{true, true, false, false, true, false}));
  Decoder d(run.formatWord, w, h);
  const ptrdiff_t stride = ptrdiff_t(w) * 2;
  std::vector<uint8_t> buf(size_t(stride) * h, kSentinel);
  const std::vector<uint8_t> untouched = buf, empty;
  auto same = [&](size_t f) {
    expectPicture(
        buf, w, h, stride, ZOVDEC_RGB555, true, run.reconstructions[f],
        [](int line) { return line; }, "frame " + std::to_string(f));
  };
  EXPECT_EQ(ZOVDecIsKeyFrame(run.frames[2].data(), run.frames[2].size()), 0);
  EXPECT_EQ(ZOVDecIsKeyFrame(run.frames[4].data(), run.frames[4].size()), 1);

  EXPECT_EQ(d.decode(run.frames[2], &buf, stride), ZOVDEC_NEED_KEY_FRAME) << "a start mid-GOP";
  EXPECT_EQ(d.decode(empty, &buf, stride), ZOVDEC_NEED_KEY_FRAME);
  EXPECT_EQ(ZOVDecWritePicture(d.d, buf.data(), stride, ZOVDEC_RGB555, ZOVDEC_BOTTOM_UP),
            ZOVDEC_NEED_KEY_FRAME);
  EXPECT_EQ(buf, untouched) << "nothing is written while waiting";
  for (size_t f = 0; f < 3; ++f) ASSERT_EQ(d.decode(run.frames[f], &buf, stride), ZOVDEC_OK);
  same(2);
  std::fill(buf.begin(), buf.end(), kSentinel);
  EXPECT_EQ(d.decode(empty, &buf, stride), ZOVDEC_OK) << "a dropped frame repeats the picture";
  same(2);

  // A seek: the frames after the reset wait for the key frame, which then decodes as in order.
  ASSERT_EQ(ZOVDecReset(d.d), ZOVDEC_OK);
  EXPECT_EQ(d.decode(run.frames[3], &buf, stride), ZOVDEC_NEED_KEY_FRAME);
  ASSERT_EQ(d.decode(run.frames[4], &buf, stride), ZOVDEC_OK);
  same(4);
  ASSERT_EQ(d.decode(run.frames[5], &buf, stride), ZOVDEC_OK);
  same(5);

  // Damage: the frame reports invalid data, and what follows waits for the next key frame.
  ASSERT_EQ(ZOVDecReset(d.d), ZOVDEC_OK);
  ASSERT_EQ(d.decode(run.frames[0]), ZOVDEC_OK);
  std::vector<uint8_t> cut(run.frames[1].begin(), run.frames[1].begin() + 40);
  EXPECT_EQ(d.decode(cut, &buf, stride), ZOVDEC_ERR_INVALID_DATA);
  EXPECT_EQ(d.decode(run.frames[2], &buf, stride), ZOVDEC_NEED_KEY_FRAME);
  ASSERT_EQ(d.decode(run.frames[4], &buf, stride), ZOVDEC_OK);
  same(4);
}

TEST(ZovDec, DamagedFramesGiveInvalidDataOrDecodeButNeverFail) {
  int w = 0, h = 0;
  EncodedRun run = encode(scheme(kCompressionYCrCb811, 1), w, h, teapot(w, h));
  std::mt19937 random(20);
  Decoder d(run.formatWord, w, h);
  std::vector<uint8_t> buf(size_t(w) * h * 4);
  int invalid = 0;
  for (int trial = 0; trial < 120; ++trial) {
    const std::vector<uint8_t>& frame = run.frames[size_t(trial) % run.frames.size()];
    std::vector<uint8_t> bad = frame;
    if (trial % 3 == 0) bad.resize(random() % frame.size());
    for (int k = 0; k < 1 + trial % 4; ++k)
      if (!bad.empty()) bad[random() % bad.size()] ^= uint8_t(1u << (random() % 8));
    if (bad.size() >= 4) bad[3] |= 0x80;  // a key frame, so that it is decoded
    const int r = d.decode(bad, &buf, w * 4, ZOVDEC_BGRX32, 0);
    EXPECT_TRUE(r == ZOVDEC_OK || r == ZOVDEC_ERR_INVALID_DATA || r == ZOVDEC_NEED_KEY_FRAME)
        << "trial " << trial << ": " << ZOVDecStatusText(r);
    invalid += r == ZOVDEC_ERR_INVALID_DATA;
  }
  EXPECT_GT(invalid, 30) << "damage is reported, not decoded silently";
}

TEST(ZovDec, BackgroundStreamsKeepTheirBackgroundAcrossSeeks) {
  int w = 0, h = 0;
  const std::vector<Picture>& pics = teapot(w, h);
  Picture backdrop(size_t(w) * h);
  for (size_t i = 0; i < backdrop.size(); ++i) backdrop[i] = uint16_t((i * 37) & 0x7FFF);
  CompressionSettings s = scheme(kCompressionYCrCb1611, 2);
  s.ChromaKeying = true;
  s.ChromaScreening = kScreeningBlue;  // the teapot stands on blue
  s.ChromaBlue = 12;
  EncodedRun run = encode(s, w, h, pics, &backdrop);
  ASSERT_NE(run.formatWord & 0x1000, 0u) << "a stream whose first chunk carries the background";
  const ptrdiff_t stride = ptrdiff_t(w) * 3;
  std::vector<uint8_t> buf(size_t(stride) * h);
  auto check = [&](Decoder& d, size_t f, const char* what) {
    ASSERT_EQ(d.decode(run.frames[f], &buf, stride, ZOVDEC_RGB24, 0), ZOVDEC_OK) << what;
    expectPicture(
        buf, w, h, stride, ZOVDEC_RGB24, false, run.reconstructions[f],
        [](int line) { return line; }, what);
  };
  Decoder d(run.formatWord, w, h);
  for (size_t f = 0; f < run.frames.size(); ++f) check(d, f, "in order");
  ZOVDecReset(d.d);
  check(d, 0, "back to the start, whose chunk carries the background again");
  ZOVDecReset(d.d);
  check(d, 4, "into the middle, with the background of the start");
  check(d, 5, "into the middle, the frame after");

  // Started in the middle, the background is missing: still no failure.
  Decoder late(run.formatWord, w, h);
  EXPECT_EQ(late.decode(run.frames[4], &buf, stride, ZOVDEC_RGB24, 0), ZOVDEC_OK);
}

TEST(ZovDec, FieldStreamsFillEveryLineAndLetterboxMarginsAreBlack) {
  int w = 0, h = 0;
  const std::vector<Picture>& pics = teapot(w, h);
  const std::vector<Picture> two(pics.begin(), pics.begin() + 2);
  for (uint32_t field : {kFieldWide, kFieldSingle}) {
    CompressionSettings s = scheme(kCompressionYCrCb411);
    s.FieldType = field;
    EncodedRun run = encode(s, w, h, two);
    Decoder d(run.formatWord, w, h);
    int oh = 0;
    ZOVDecGetOutputSize(d.d, nullptr, &oh);
    EXPECT_EQ(oh, field == kFieldWide ? 2 * h : h);
    std::vector<uint8_t> buf(size_t(w) * 2 * oh, kSentinel);
    ASSERT_EQ(d.decode(run.frames[1], &buf, w * 2), ZOVDEC_OK);
    // A field row shows on both lines of its pair; a single-field stream codes the upper line
    // of each pair, which also shows on the line below it.
    expectPicture(
        buf, w, oh, w * 2, ZOVDEC_RGB555, true, run.reconstructions[1],
        [](int line) { return line / 2; }, "field type " + std::to_string(field));
  }
  CompressionSettings s = scheme(kCompressionRgb);
  s.LetterboxPresent = true;
  s.LetterboxTopLines = 6;
  s.LetterboxBottomLines = 10;
  const int active = h - 16;
  std::vector<Picture> cropped;
  for (const Picture& p : two) cropped.emplace_back(p.begin(), p.begin() + long(w) * active);
  EncodedRun run = encode(s, w, active, cropped);
  Decoder d(run.formatWord, w, h);
  std::vector<uint8_t> buf(size_t(w) * 4 * h, kSentinel);
  ASSERT_EQ(d.decode(run.frames[0], &buf, w * 4, ZOVDEC_RGBX32, 0), ZOVDEC_OK);
  expectPicture(
      buf, w, h, w * 4, ZOVDEC_RGBX32, false, run.reconstructions[0],
      [&](int line) { return line < 10 || line >= 10 + active ? -1 : line - 10; }, "letterbox");
}

TEST(ZovDec, DecodersOnSeveralThreadsAtOnceAgree) {
  int w = 0, h = 0;
  EncodedRun run = encode(scheme(kCompressionYCrCb1611), w, h, teapot(w, h));
  std::vector<std::vector<uint8_t>> last(4);
  std::vector<std::thread> threads;
  for (size_t t = 0; t < last.size(); ++t)
    threads.emplace_back([&, t] {
      for (int pass = 0; pass < 3; ++pass) {
        ZOVDecoder* d = nullptr;
        if (ZOVDecCreate(run.formatWord, w, h, &d) != ZOVDEC_OK) return;
        last[t].assign(size_t(w) * h * 4, 0);
        for (const auto& f : run.frames)
          ZOVDecDecodeFrame(d, f.data(), f.size(), last[t].data(), w * 4, ZOVDEC_BGRX32, 0);
        ZOVDecDestroy(d);
      }
    });
  for (auto& t : threads) t.join();
  for (size_t t = 0; t < last.size(); ++t)
    expectPicture(
        last[t], w, h, w * 4, ZOVDEC_BGRX32, false, run.reconstructions.back(),
        [](int line) { return line; }, "thread " + std::to_string(t));
}

TEST(ZovDec, RefusesWhatItCannotDecodeWithACode) {
  ZOVDecoder* d = reinterpret_cast<ZOVDecoder*>(1);
  const uint32_t zov2 = 0x32760200;  // 'v','2', V4, scheme 0
  EXPECT_EQ(ZOVDecCreate(0x32564F5A, 320, 240, &d), ZOVDEC_ERR_UNSUPPORTED) << "the FourCC ZOV2";
  EXPECT_EQ(d, nullptr);
  EXPECT_EQ(ZOVDecCreate(zov2 | 5, 320, 240, &d), ZOVDEC_ERR_UNSUPPORTED) << "scheme 5";
  EXPECT_EQ(ZOVDecCreate(zov2, 641, 240, &d), ZOVDEC_ERR_UNSUPPORTED);
  EXPECT_EQ(ZOVDecCreate(zov2, 320, 0, &d), ZOVDEC_ERR_UNSUPPORTED);
  EXPECT_EQ(ZOVDecCreate(zov2, 320, 240, nullptr), ZOVDEC_ERR_INVALID_ARGUMENT);
  ASSERT_EQ(ZOVDecCreate(0x31760000, 320, 240, &d), ZOVDEC_OK) << "ZOV1";
  ZOVDecDestroy(d);

  Decoder dec(zov2, 8, 8);
  uint8_t frame[8] = {0, 0, 0, 0x80}, out[256];
  EXPECT_EQ(ZOVDecDecodeFrame(dec.d, frame, 8, out, 15, ZOVDEC_RGB555, 0),
            ZOVDEC_ERR_INVALID_ARGUMENT)
      << "a stride shorter than a line";
  EXPECT_EQ(ZOVDecDecodeFrame(dec.d, frame, 8, out, 32, 6, 0), ZOVDEC_ERR_INVALID_ARGUMENT);
  EXPECT_EQ(ZOVDecDecodeFrame(dec.d, frame, 8, out, 32, ZOVDEC_RGBX32, 2),
            ZOVDEC_ERR_INVALID_ARGUMENT);
  EXPECT_EQ(ZOVDecDecodeFrame(dec.d, nullptr, 8, out, 32, ZOVDEC_RGBX32, 0),
            ZOVDEC_ERR_INVALID_ARGUMENT);
  EXPECT_EQ(ZOVDecDecodeFrame(nullptr, frame, 8, out, 32, ZOVDEC_RGBX32, 0),
            ZOVDEC_ERR_INVALID_ARGUMENT);
  EXPECT_EQ(ZOVDecIsKeyFrame(frame, 3), ZOVDEC_ERR_INVALID_DATA);
  EXPECT_STREQ(ZOVDecStatusText(ZOVDEC_ERR_INVALID_DATA), "invalid data");
  EXPECT_STREQ(ZOVDecVersion(), ZOVDEC_EXPECTED_VERSION);
}

}  // namespace
}  // namespace zov::test

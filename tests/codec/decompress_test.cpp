// Format negotiation and the decompression path, driven through the compression manager as a
// player drives it: queries, proposed formats and palettes, begin, frames with key-frame
// waiting, preroll and null frames, full versus changed-block writes, the extended messages
// with placement, fullscreen requests, and malformed input.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <random>
#include <vector>

#include "codec/support/codec_host.h"
#include "support/frame_builder.h"

namespace zov::test {
namespace {

constexpr uint32_t kV4 = stream_flag::kV4;
constexpr uint16_t kRed = 0x7C00, kGreen = 0x03E0, kBlue = 0x001F;

ZOVStyle defaults() {
  ZOVStyle s{};
  s.size = sizeof s;
  s.videoChipset = 1;
  s.gamma = 100;
  return s;
}

// Applies a style to the open instances, and puts the defaults back at the end of the scope.
struct Style {
  explicit Style(ZOVStyle s) { EXPECT_EQ(codec().setStyle(&s), 0u); }
  ~Style() {
    ZOVStyle d = defaults();
    codec().setStyle(&d);
    unsetenv("ZOV_DISPLAY_BITS");
  }
};
ZOVStyle withMethod(int windowed) {
  ZOVStyle s = defaults();
  s.windowedMethod = static_cast<uint32_t>(windowed);
  return s;
}

// A 16-bit bottom-up DIB.
struct Bitmap {
  int width, height;
  std::vector<uint16_t> pixels;
  Bitmap(int w, int h, uint16_t fill = 0xCDCD)
      : width(w), height(h), pixels(static_cast<size_t>(w) * h, fill) {}
  uint16_t& at(int x, int y) { return pixels[static_cast<size_t>(y) * width + x]; }
  bool all(uint16_t v) const {
    for (uint16_t p : pixels)
      if (p != v) return false;
    return true;
  }
};

struct Stream {
  BITMAPINFOHEADER in;
  OutputFormat out;
  Stream(int w, int h, uint32_t flags = kV4)
      : in(streamFormat(w, h, flags)), out(rgbOutput(w, h)) {}
  LRESULT decode(HIC hic, const std::vector<uint8_t>& frame, Bitmap& bitmap, DWORD flags = 0) {
    in.biSizeImage = static_cast<DWORD>(frame.size());
    return static_cast<LRESULT>(static_cast<int32_t>(ICDecompress(
        hic, flags, &in, const_cast<uint8_t*>(frame.data()), &out.header, bitmap.pixels.data())));
  }
};

TEST(Query, AnEnlargingMethodIsResetSoTheNextSameSizeQuerySucceeds) {
  OpenCodec c;
  ASSERT_TRUE(c);
  Style style(withMethod(3));
  BITMAPINFOHEADER in = streamFormat(320, 240);
  OutputFormat same = rgbOutput(320, 240);
  EXPECT_EQ(ICDecompressQuery(c.hic(), &in, &same.header), ICERR_BADFORMAT);
  EXPECT_EQ(ICDecompressQuery(c.hic(), &in, &same.header), ICERR_OK);
}

TEST(Query, DoubleSizeSwitchesToTheAutoResizeMethodOfTheDisplayDepth) {
  OpenCodec c;
  ASSERT_TRUE(c);
  Style style(defaults());
  BITMAPINFOHEADER in = streamFormat(320, 240);
  OutputFormat big = rgbOutput(640, 480);
  EXPECT_EQ(ICDecompressQuery(c.hic(), &in, &big.header), ICERR_OK);
  OutputFormat proposedFormat;
  BITMAPINFOHEADER& proposed = proposedFormat.header;
  ICDecompressGetFormat(c.hic(), &in, &proposed);
  EXPECT_EQ(proposed.biWidth, 640);
  EXPECT_EQ(proposed.biBitCount, 16);

  OpenCodec eight;  // starts from the first instance's methods
  ZOVStyle plain = defaults();
  codec().setStyle(&plain);
  setenv("ZOV_DISPLAY_BITS", "8", 1);
  EXPECT_EQ(ICDecompressQuery(eight.hic(), &in, &big.header), ICERR_BADFORMAT)
      << "method 7 writes 8 bits";
  OutputFormat big8 = rgbOutput(640, 480, 8);
  EXPECT_EQ(ICDecompressQuery(eight.hic(), &in, &big8.header), ICERR_OK);
  ICDecompressGetFormat(eight.hic(), &in, &proposed);
  EXPECT_EQ(proposed.biBitCount, 8);
  EXPECT_EQ(proposed.biSizeImage, 640u * 480u);
}

TEST(Query, OversizedStreamsGetTheBoxEveryTime) {
  CodecUi ui;
  OpenCodec c;
  ASSERT_TRUE(c);
  BITMAPINFOHEADER in = streamFormat(641, 100);
  OutputFormat out = rgbOutput(641, 100);
  EXPECT_EQ(ICDecompressQuery(c.hic(), &in, &out.header), ICERR_BADFORMAT);
  EXPECT_EQ(ICDecompressQuery(c.hic(), &in, nullptr), ICERR_BADFORMAT);
  OutputFormat proposedFormat;
  BITMAPINFOHEADER& proposed = proposedFormat.header;
  EXPECT_EQ(ICDecompressGetFormat(c.hic(), &in, &proposed), ICERR_OK) << "no size limit here";
  auto boxes = ui.boxes.boxes();
  ASSERT_EQ(boxes.size(), 2u);
  EXPECT_EQ(boxes[0].title, "Orvane Codec");
  EXPECT_EQ(boxes[0].style, MB_ICONHAND | MB_SYSTEMMODAL);
  EXPECT_EQ(boxes[0].text,
            "This version of the Orvane software cannot play this video file since it is larger "
            "than 640x480.\rPlease check www.orvane.com for the availability of updated software.");
}

TEST(Query, InputChecks) {
  OpenCodec zov1(mmioFOURCC('z', 'o', 'v', '1')), zov2;
  BITMAPINFOHEADER in = streamFormat(160, 120);
  EXPECT_EQ(ICDecompressQuery(zov1.hic(), &in, nullptr), ICERR_UNSUPPORTED);
  BITMAPINFOHEADER in1 = streamFormat(160, 120, kV4, '1');
  EXPECT_EQ(ICDecompressQuery(zov1.hic(), &in1, nullptr), ICERR_OK);
  EXPECT_EQ(ICDecompressQuery(zov2.hic(), &in1, nullptr), ICERR_UNSUPPORTED);
  BITMAPINFOHEADER bad = in;
  bad.biBitCount = 24;
  EXPECT_EQ(ICDecompressQuery(zov2.hic(), &bad, nullptr), ICERR_BADFORMAT);
  bad = streamFormat(160, 120, kV4, '2', 5);
  EXPECT_EQ(ICDecompressQuery(zov2.hic(), &bad, nullptr), ICERR_BADFORMAT);
  bad = in;
  bad.biSize = 44;
  EXPECT_EQ(ICDecompressQuery(zov2.hic(), &bad, nullptr), ICERR_BADFORMAT);
  bad = streamFormat(0, 120);
  EXPECT_EQ(ICDecompressQuery(zov2.hic(), &bad, nullptr), ICERR_BADFORMAT);
  EXPECT_EQ(ICDecompressQuery(zov2.hic(), nullptr, nullptr), ICERR_BADFORMAT);
}

TEST(Query, DestinationFormats) {
  OpenCodec c;
  ASSERT_TRUE(c);
  BITMAPINFOHEADER in = streamFormat(160, 120);
  OutputFormat f555 = bitfieldsOutput(160, 120, 0x7C00, 0x03E0, 0x001F);
  OutputFormat f565 = bitfieldsOutput(160, 120, 0xF800, 0x07E0, 0x001F);
  OutputFormat odd = bitfieldsOutput(160, 120, 0xF800, 0x07C0, 0x001F);
  EXPECT_EQ(ICDecompressQuery(c.hic(), &in, &f555.header), ICERR_OK);
  EXPECT_EQ(ICDecompressQuery(c.hic(), &in, &f565.header), ICERR_OK);
  EXPECT_EQ(ICDecompressQuery(c.hic(), &in, &odd.header), ICERR_BADFORMAT);
  OutputFormat yuy2 = rgbOutput(160, 120);
  yuy2.header.biCompression = mmioFOURCC('Y', 'U', 'Y', '2');
  EXPECT_EQ(ICDecompressQuery(c.hic(), &in, &yuy2.header), ICERR_BADFORMAT);
  OutputFormat rgb24 = rgbOutput(160, 120, 24);
  EXPECT_EQ(ICDecompressQuery(c.hic(), &in, &rgb24.header), ICERR_BADFORMAT);
  {
    ZOVStyle hw = defaults();
    hw.useHardware = 1;
    Style style(hw);
    EXPECT_EQ(ICDecompressQuery(c.hic(), &in, &yuy2.header), ICERR_OK);
  }
}

TEST(Query, FieldStreamsHaveFixedOutputSizes) {
  OpenCodec c;
  ASSERT_TRUE(c);
  Style style(withMethod(3));
  BITMAPINFOHEADER single = streamFormat(160, 120, kV4 | stream_flag::kSField);
  OutputFormat same = rgbOutput(160, 120), doubled = rgbOutput(160, 240);
  EXPECT_EQ(ICDecompressQuery(c.hic(), &single, &same.header), ICERR_OK) << "method 1 forced";
  EXPECT_EQ(ICDecompressQuery(c.hic(), &single, &doubled.header), ICERR_BADFORMAT);
  BITMAPINFOHEADER wide = streamFormat(160, 120, kV4 | stream_flag::kWField);
  EXPECT_EQ(ICDecompressQuery(c.hic(), &wide, &doubled.header), ICERR_OK);
  EXPECT_EQ(ICDecompressQuery(c.hic(), &wide, &same.header), ICERR_BADFORMAT);
  OutputFormat proposedFormat;
  BITMAPINFOHEADER& proposed = proposedFormat.header;
  ICDecompressGetFormat(c.hic(), &wide, &proposed);
  EXPECT_EQ(proposed.biHeight, 240);
  EXPECT_EQ(proposed.biWidth, 160);
}

TEST(GetFormat, SizesAndProposals) {
  OpenCodec c;
  ASSERT_TRUE(c);
  BITMAPINFOHEADER in = streamFormat(161, 120);
  EXPECT_EQ(ICDecompressGetFormatSize(c.hic(), &in), 1064);
  OutputFormat proposedFormat;
  BITMAPINFOHEADER& proposed = proposedFormat.header;
  std::memset(&proposed, 0xEE, sizeof proposed);
  EXPECT_EQ(ICDecompressGetFormat(c.hic(), &in, &proposed), ICERR_OK);
  EXPECT_EQ(proposed.biSize, 40u);
  EXPECT_EQ(proposed.biPlanes, 1);
  EXPECT_EQ(proposed.biCompression, BI_RGB);
  EXPECT_EQ(proposed.biWidth, 161);
  EXPECT_EQ(proposed.biBitCount, 16);
  EXPECT_EQ(proposed.biSizeImage, 324u * 120u) << "lines padded to 32 bits";
  EXPECT_EQ(proposed.biClrUsed, 0u);
}

TEST(GetPalette, OnlyForEightBitMethods) {
  OpenCodec c;
  ASSERT_TRUE(c);
  BITMAPINFOHEADER in = streamFormat(160, 120);
  OutputFormat out = rgbOutput(160, 120, 8);
  EXPECT_EQ(ICDecompressGetPalette(c.hic(), &in, &out.header), ICERR_BADFORMAT);
  Style style(withMethod(9));
  EXPECT_EQ(ICDecompressGetPalette(c.hic(), &in, nullptr), 1064);
  EXPECT_EQ(ICDecompressGetPalette(c.hic(), &in, &out.header), ICERR_OK);
  EXPECT_EQ(out.header.biClrUsed, 256u);
  const RGBQUAD* colours = reinterpret_cast<const RGBQUAD*>(&out.masks[0]);
  EXPECT_EQ(colours[1].rgbRed, 128);  // dark red, a static colour
  EXPECT_EQ(colours[1].rgbBlue, 0);
  EXPECT_EQ(colours[255].rgbGreen, 255);
  EXPECT_EQ(colours[10].rgbRed, 1) << "grey level 0 written as 4 * 0 + 1";
  EXPECT_EQ(colours[73].rgbGreen, 253) << "grey level 63";
  EXPECT_EQ(colours[100].rgbRed, 0) << "entries the method does not use stay 0";
}

TEST(Decompress, WaitsForAKeyFrameAfterBeginThenWritesTheWholeFrame) {
  OpenCodec c;
  ASSERT_TRUE(c);
  Stream s(64, 48);
  Bitmap bitmap(64, 48);
  EXPECT_EQ(s.decode(c.hic(), solidKeyFrame(64, 48, kRed), bitmap), ICERR_BADHANDLE)
      << "no begin yet";
  ASSERT_EQ(ICDecompressBegin(c.hic(), &s.in, &s.out.header), ICERR_OK);
  EXPECT_EQ(
      s.decode(c.hic(), patchFrame(64, 48, 0, 0, 8, 8, kBlue), bitmap, ICDECOMPRESS_NOTKEYFRAME),
      ICERR_OK);
  EXPECT_TRUE(bitmap.all(0xCDCD)) << "dropped until a key frame";
  EXPECT_EQ(s.decode(c.hic(), solidKeyFrame(64, 48, kRed), bitmap), ICERR_OK);
  EXPECT_TRUE(bitmap.all(kRed));
  EXPECT_EQ(
      s.decode(c.hic(), patchFrame(64, 48, 4, 2, 8, 6, kGreen), bitmap, ICDECOMPRESS_NOTKEYFRAME),
      ICERR_OK);
  EXPECT_EQ(bitmap.at(4, 2), kGreen);
  EXPECT_EQ(bitmap.at(11, 7), kGreen);
  EXPECT_EQ(bitmap.at(12, 7), kRed);
  EXPECT_EQ(ICDecompressEnd(c.hic()), ICERR_OK);
  EXPECT_EQ(s.decode(c.hic(), solidKeyFrame(64, 48, kRed), bitmap), ICERR_BADHANDLE);
}

TEST(Decompress, ChangedBlocksGoToTheSameBufferAndWholeFramesToAnotherOne) {
  OpenCodec c;
  ASSERT_TRUE(c);
  ZOVStyle bright = defaults();
  bright.brightness = 1;  // a curve that is not neutral: method 0 then skips unchanged runs
  Style style(bright);
  Stream s(64, 48);
  Bitmap a(64, 48), b(64, 48);
  ASSERT_EQ(ICDecompressBegin(c.hic(), &s.in, &s.out.header), ICERR_OK);
  ASSERT_EQ(s.decode(c.hic(), solidKeyFrame(64, 48, kBlue), a), ICERR_OK);
  const uint16_t blue = a.at(0, 0);
  a.at(40, 40) = 0x1234;  // inside what the next frame leaves unchanged
  ASSERT_EQ(s.decode(c.hic(), patchFrame(64, 48, 0, 0, 8, 8, kRed), a, ICDECOMPRESS_NOTKEYFRAME),
            ICERR_OK);
  EXPECT_EQ(a.at(40, 40), 0x1234) << "the changed-blocks writer skips unchanged runs";
  EXPECT_NE(a.at(0, 0), blue);
  ASSERT_EQ(s.decode(c.hic(), patchFrame(64, 48, 0, 0, 8, 8, kRed), b, ICDECOMPRESS_NOTKEYFRAME),
            ICERR_OK);
  EXPECT_EQ(b.at(40, 40), blue) << "a new buffer gets the whole frame";
  // A null frame redraws the whole picture into the same buffer.
  b.at(40, 40) = 0x1234;
  EXPECT_EQ(s.decode(c.hic(), {0, 0, 0, 0}, b, ICDECOMPRESS_NULLFRAME), ICERR_OK);
  EXPECT_EQ(b.at(40, 40), blue);
}

TEST(Decompress, PrerollDecodesWithoutDrawingAndTheNextFrameDrawsEverything) {
  OpenCodec c;
  ASSERT_TRUE(c);
  ZOVStyle bright = defaults();
  bright.brightness = 1;
  Style style(bright);
  Stream s(64, 48);
  Bitmap a(64, 48);
  ASSERT_EQ(ICDecompressBegin(c.hic(), &s.in, &s.out.header), ICERR_OK);
  ASSERT_EQ(s.decode(c.hic(), solidKeyFrame(64, 48, kBlue), a), ICERR_OK);
  const uint16_t blue = a.at(0, 0);
  a.at(40, 40) = 0x1234;
  ASSERT_EQ(s.decode(c.hic(), patchFrame(64, 48, 0, 0, 8, 8, kRed), a,
                     ICDECOMPRESS_NOTKEYFRAME | ICDECOMPRESS_PREROLL),
            ICERR_OK);
  EXPECT_EQ(a.at(0, 0), blue) << "preroll draws nothing";
  ASSERT_EQ(s.decode(c.hic(), patchFrame(64, 48, 8, 8, 8, 8, kRed), a, ICDECOMPRESS_NOTKEYFRAME),
            ICERR_OK);
  EXPECT_NE(a.at(0, 0), blue);
  EXPECT_EQ(a.at(40, 40), blue) << "after a preroll the whole frame is written";
}

TEST(Decompress, DrawStartWaitsForTheNextKeyFrame) {
  OpenCodec c;
  Stream s(64, 48);
  Bitmap a(64, 48);
  ASSERT_EQ(ICDecompressBegin(c.hic(), &s.in, &s.out.header), ICERR_OK);
  ASSERT_EQ(s.decode(c.hic(), solidKeyFrame(64, 48, kBlue), a), ICERR_OK);
  EXPECT_EQ(c.send(ICM_DRAW_START), ICERR_OK);
  ASSERT_EQ(s.decode(c.hic(), patchFrame(64, 48, 0, 0, 8, 8, kRed), a, ICDECOMPRESS_NOTKEYFRAME),
            ICERR_OK);
  EXPECT_TRUE(a.all(kBlue));
}

TEST(Decompress, MissingDataAndWrongDestinationsAreRefused) {
  OpenCodec c;
  Stream s(64, 48);
  Bitmap a(64, 48);
  ASSERT_EQ(ICDecompressBegin(c.hic(), &s.in, &s.out.header), ICERR_OK);
  auto frame = solidKeyFrame(64, 48, kBlue);
  s.in.biSizeImage = static_cast<DWORD>(frame.size());
  EXPECT_EQ(static_cast<int32_t>(
                ICDecompress(c.hic(), 0, &s.in, nullptr, &s.out.header, a.pixels.data())),
            ICERR_CANTUPDATE);
  EXPECT_EQ(
      static_cast<int32_t>(ICDecompress(c.hic(), 0, &s.in, frame.data(), &s.out.header, nullptr)),
      ICERR_CANTUPDATE);
  OutputFormat small = rgbOutput(32, 48);
  EXPECT_EQ(static_cast<int32_t>(
                ICDecompress(c.hic(), 0, &s.in, frame.data(), &small.header, a.pixels.data())),
            ICERR_BADFORMAT);
  EXPECT_TRUE(a.all(0xCDCD));
}

TEST(Decompress, MalformedFramesNeverCrash) {
  OpenCodec c;
  Stream s(64, 48);
  Bitmap a(64, 48);
  ASSERT_EQ(ICDecompressBegin(c.hic(), &s.in, &s.out.header), ICERR_OK);
  std::mt19937 random(7);
  const auto good = solidKeyFrame(64, 48, kBlue);
  for (int i = 0; i < 300; ++i) {
    std::vector<uint8_t> frame;
    switch (i % 3) {
      case 0:  // noise
        frame.resize(random() % 600);
        for (auto& b : frame) b = static_cast<uint8_t>(random());
        break;
      case 1:  // a good frame cut short
        frame.assign(good.begin(), good.begin() + static_cast<long>(random() % good.size()));
        break;
      default:  // a good frame with flipped bits
        frame = good;
        for (int k = 0; k < 4; ++k) frame[random() % frame.size()] ^= uint8_t(1u << (random() % 8));
    }
    if (frame.empty()) frame.push_back(0);
    EXPECT_EQ(s.decode(c.hic(), frame, a, i % 2 ? ICDECOMPRESS_NOTKEYFRAME : 0), ICERR_OK);
  }
  EXPECT_EQ(s.decode(c.hic(), good, a), ICERR_OK);
  EXPECT_TRUE(a.all(kBlue)) << "a good key frame repairs the picture";
}

TEST(Decompress, ALargerStreamAfterASmallOneOnTheSameInstance) {
  OpenCodec c;
  Stream small(64, 48), large(640, 480);
  Bitmap a(64, 48), b(640, 480);
  ASSERT_EQ(ICDecompressBegin(c.hic(), &small.in, &small.out.header), ICERR_OK);
  ASSERT_EQ(small.decode(c.hic(), solidKeyFrame(64, 48, kBlue), a), ICERR_OK);
  ASSERT_EQ(ICDecompressBegin(c.hic(), &large.in, &large.out.header), ICERR_OK)
      << "a begin while begun restarts";
  ASSERT_EQ(large.decode(c.hic(), tiledKeyFrame(640, 480, kGreen), b), ICERR_OK);
  EXPECT_TRUE(b.all(kGreen));
}

TEST(Decompress, EnlargingMethodsFillTheLargerBitmap) {
  OpenCodec c;
  Style style(defaults());
  Stream s(64, 48);
  s.out = rgbOutput(128, 96);
  ASSERT_EQ(ICDecompressQuery(c.hic(), &s.in, &s.out.header), ICERR_OK);
  ASSERT_EQ(ICDecompressBegin(c.hic(), &s.in, &s.out.header), ICERR_OK);
  Bitmap big(128, 96);
  ASSERT_EQ(s.decode(c.hic(), solidKeyFrame(64, 48, kRed), big), ICERR_OK);
  int red = 0;
  for (uint16_t p : big.pixels) red += p == kRed;
  EXPECT_GT(red, 0);
  EXPECT_EQ(std::count(big.pixels.begin(), big.pixels.end(), uint16_t{0xCDCD}), 0)
      << "method 4 writes every line or clears it";
}

// ---- Extended decompression ----

struct ExStream {
  BITMAPINFOHEADER in;
  OutputFormat out;
  ExStream(int w, int h, int destW, int destH)
      : in(streamFormat(w, h)), out(rgbOutput(destW, -destH)) {}
};

TEST(Extended, QueryChecksTheRequestSizeAndTheDestinationOrientation) {
  OpenCodec c;
  ExStream s(64, 48, 100, 80);
  ICDECOMPRESSEX r{};
  r.lpbiSrc = &s.in;
  r.lpbiDst = &s.out.header;
  r.dxSrc = 64;
  r.dySrc = 48;
  r.dxDst = 64;
  r.dyDst = 48;
  EXPECT_EQ(c.send(ICM_DECOMPRESSEX_QUERY, reinterpret_cast<DWORD_PTR>(&r), 48), ICERR_BADPARAM);
  EXPECT_EQ(c.send(ICM_DECOMPRESSEX_QUERY, reinterpret_cast<DWORD_PTR>(&r), sizeof r), ICERR_OK);
  r.dxSrc = 32;
  EXPECT_EQ(c.send(ICM_DECOMPRESSEX_QUERY, reinterpret_cast<DWORD_PTR>(&r), sizeof r),
            ICERR_BADPARAM);
  r.dxSrc = 64;
  s.out.header.biHeight = 80;
  EXPECT_EQ(c.send(ICM_DECOMPRESSEX_QUERY, reinterpret_cast<DWORD_PTR>(&r), sizeof r),
            ICERR_BADFORMAT)
      << "bottom-up destinations are refused";
  EXPECT_EQ(ICDecompressExBegin(c.hic(), 0, &s.in, nullptr, 0, 0, 64, 48, &s.out.header, nullptr, 0,
                                0, 64, 48),
            ICERR_BADFORMAT);
}

TEST(Extended, PlacesThePictureUpwardFromTheBottomOfATopDownDestination) {
  OpenCodec c;
  ExStream s(64, 48, 100, 80);
  ASSERT_EQ(ICDecompressExBegin(c.hic(), 0, &s.in, nullptr, 0, 0, 64, 48, &s.out.header, nullptr,
                                10, 5, 64, 48),
            ICERR_OK);
  auto frame = solidKeyFrame(64, 48, kGreen);
  s.in.biSizeImage = static_cast<DWORD>(frame.size());
  std::vector<uint16_t> dest(100 * 80, 0xCDCD);
  EXPECT_EQ(ICDecompressEx(c.hic(), 0, &s.in, frame.data(), 0, 0, 64, 48, &s.out.header,
                           dest.data(), 10, 5, 64, 48),
            ICERR_OK);
  // Memory line 0 is the top; the picture's bottom edge lies 5 lines above the last line.
  for (int line = 0; line < 80; ++line)
    for (int x = 0; x < 100; ++x) {
      const bool inside = line >= 80 - 5 - 48 && line < 80 - 5 && x >= 10 && x < 74;
      ASSERT_EQ(dest[line * 100 + x], inside ? kGreen : 0xCDCD) << line << "," << x;
    }
  // Plain messages are refused while the extended stream runs.
  Bitmap other(64, 48);
  Stream plain(64, 48);
  EXPECT_EQ(plain.decode(c.hic(), frame, other), ICERR_BADHANDLE);
  // A placement outside the destination is refused.
  EXPECT_EQ(ICDecompressEx(c.hic(), 0, &s.in, frame.data(), 0, 0, 64, 48, &s.out.header,
                           dest.data(), 40, 5, 64, 48),
            ICERR_BADPARAM);
  EXPECT_EQ(ICDecompressExEnd(c.hic()), ICERR_OK);

  CodecUi ui;
  std::string fast;
  ui.dialogs.on(codec::kStatusDialog, [&](WindowHandle, DialogData& d) {
    fast = dynamic_cast<codec::StatusDialogData&>(d).fastVideo;
    return intptr_t{IDOK};
  });
  codec().status(nullptr);
  EXPECT_EQ(fast, "Yes");
}

TEST(Extended, ForceDibRefusesTheExtendedBegin) {
  OpenCodec c;
  ZOVStyle force = defaults();
  force.forceDIB = 1;
  Style style(force);
  ExStream s(64, 48, 64, 48);
  EXPECT_EQ(ICDecompressExBegin(c.hic(), 0, &s.in, nullptr, 0, 0, 64, 48, &s.out.header, nullptr, 0,
                                0, 64, 48),
            ICERR_BADFORMAT);
}

// ---- Fullscreen ----

TEST(Fullscreen, RequestsFailInAnOrderlyWay) {
  CodecUi ui;
  OpenCodec c;
  BITMAPINFOHEADER in = streamFormat(320, 240);
  ICDRAWBEGIN begin{};
  begin.lpbi = &in;
  begin.dwFlags = ICDRAW_QUERY;
  EXPECT_EQ(c.send(ICM_DRAW_BEGIN, reinterpret_cast<DWORD_PTR>(&begin)), ICERR_OK);
  begin.dwFlags = ICDRAW_HDC;
  EXPECT_EQ(c.send(ICM_DRAW_BEGIN, reinterpret_cast<DWORD_PTR>(&begin)), ICERR_UNSUPPORTED);
  EXPECT_TRUE(ui.boxes.boxes().empty());

  ZOVStyle s = defaults();
  s.fullscreenMethod = 3;
  s.minFullscreenResolution = 0;
  Style style(s);
  begin.dwFlags = ICDRAW_FULLSCREEN;
  EXPECT_EQ(c.send(ICM_DRAW_BEGIN, reinterpret_cast<DWORD_PTR>(&begin)), ICERR_UNSUPPORTED);
  EXPECT_EQ(ui.boxes.texts(),
            (std::vector<std::string>{
                "Exclusive fullscreen playback not supported on this OS.\rPlease reboot and try "
                "this again, or try another resolution,\ror contact your video manufacturer for "
                "an updated VESA video driver.",
                "Windows will attempt to continue using an unresized slower method"}));
  // The instance is back on its windowed method and usable.
  OutputFormat proposedFormat;
  BITMAPINFOHEADER& proposed = proposedFormat.header;
  ICDecompressGetFormat(c.hic(), &in, &proposed);
  EXPECT_EQ(proposed.biWidth, 320);
  EXPECT_EQ(c.send(ICM_DRAW, 0), ICERR_BADHANDLE);
  EXPECT_EQ(c.send(ICM_DRAW_REALIZE), ICERR_BADFORMAT);

  ui.boxes.clear();
  BITMAPINFOHEADER large = streamFormat(640, 480);
  begin.lpbi = &large;
  EXPECT_EQ(c.send(ICM_DRAW_BEGIN, reinterpret_cast<DWORD_PTR>(&begin)), ICERR_UNSUPPORTED);
  EXPECT_EQ(ui.boxes.texts(),
            (std::vector<std::string>{
                "The selected image will not fit within a 1024x768 screen resolution",
                "Windows will attempt to continue using an unresized slower method"}));
}

}  // namespace
}  // namespace zov::test

namespace zov::test {
namespace {

constexpr uint32_t kChromaFirst = kZov2Tag | stream_flag::kV4 | stream_flag::kChroma1st;

// A key frame whose one Chroma block shows the background everywhere.
std::vector<uint8_t> backgroundFrame(int w, int h) {
  FrameSpec spec;
  spec.key = true;
  spec.residuals = false;
  spec.chroma.push_back(Block{0, w, h, 0});
  return buildFrame(w, h, kChromaFirst, spec);
}

TEST(Background, ASecondInstanceBorrowsTheFirstOnesBackgroundAtBegin) {
  OpenCodec a, b;
  Stream sa(64, 48, kChromaFirst & 0xFFFF), sb(64, 48, kChromaFirst & 0xFFFF);
  Bitmap pa(64, 48), pb(64, 48);
  ASSERT_EQ(ICDecompressBegin(a.hic(), &sa.in, &sa.out.header), ICERR_OK);
  ASSERT_EQ(sa.decode(a.hic(), tiledKeyFrame(64, 48, kRed, kChromaFirst), pa), ICERR_OK);
  ASSERT_TRUE(pa.all(kRed));
  ASSERT_EQ(ICDecompressBegin(b.hic(), &sb.in, &sb.out.header), ICERR_OK);
  ASSERT_EQ(sb.decode(b.hic(), backgroundFrame(64, 48), pb), ICERR_OK);
  EXPECT_TRUE(pb.all(kRed)) << "the background came from the other instance";
}

TEST(Background, TheFirstDecodedPictureIsHandedToWaitingInstances) {
  OpenCodec a, b;
  Stream sa(64, 48, kChromaFirst & 0xFFFF), sb(64, 48, kChromaFirst & 0xFFFF);
  Bitmap pa(64, 48), pb(64, 48);
  ASSERT_EQ(ICDecompressBegin(b.hic(), &sb.in, &sb.out.header), ICERR_OK);
  ASSERT_EQ(ICDecompressBegin(a.hic(), &sa.in, &sa.out.header), ICERR_OK);
  EXPECT_EQ(sb.decode(b.hic(), {0, 0, 0, 0}, pb, ICDECOMPRESS_NULLFRAME), ICERR_CANTUPDATE)
      << "a null frame cannot stand in while the background is missing";
  ASSERT_EQ(sa.decode(a.hic(), tiledKeyFrame(64, 48, kGreen, kChromaFirst), pa), ICERR_OK);
  ASSERT_EQ(sb.decode(b.hic(), backgroundFrame(64, 48), pb), ICERR_OK);
  EXPECT_TRUE(pb.all(kGreen));
}

}  // namespace
}  // namespace zov::test

namespace zov::test {
namespace {

TEST(PixelFormats, FiveSixFiveDestinationsGetFiveSixFivePixels) {
  OpenCodec c;
  Stream s(64, 48);
  s.out = bitfieldsOutput(64, 48, 0xF800, 0x07E0, 0x001F);
  ASSERT_EQ(ICDecompressBegin(c.hic(), &s.in, &s.out.header), ICERR_OK);
  Bitmap a(64, 48);
  ASSERT_EQ(s.decode(c.hic(), solidKeyFrame(64, 48, kRed | kBlue), a), ICERR_OK);
  EXPECT_TRUE(a.all(0xF800 | 0x001F));
}

TEST(PixelFormats, GreyMethodWritesPaletteIndices) {
  OpenCodec c;
  Style style(withMethod(9));
  Stream s(64, 48);
  s.out = rgbOutput(64, 48, 8);
  ASSERT_EQ(ICDecompressQuery(c.hic(), &s.in, &s.out.header), ICERR_OK);
  ASSERT_EQ(ICDecompressBegin(c.hic(), &s.in, &s.out.header), ICERR_OK);
  std::vector<uint8_t> indices(64 * 48, 0xCD);
  auto frame = solidKeyFrame(64, 48, 0x7FFF);
  s.in.biSizeImage = static_cast<DWORD>(frame.size());
  ASSERT_EQ(static_cast<int32_t>(
                ICDecompress(c.hic(), 0, &s.in, frame.data(), &s.out.header, indices.data())),
            ICERR_OK);
  for (uint8_t i : indices) ASSERT_EQ(i, indices[0]);
  EXPECT_GE(indices[0], 10);
  EXPECT_LE(indices[0], 73);
}

TEST(Extended, ANewDestinationSizeIsTakenBetweenFrames) {
  OpenCodec c;
  ExStream s(64, 48, 100, 80);
  ASSERT_EQ(ICDecompressExBegin(c.hic(), 0, &s.in, nullptr, 0, 0, 64, 48, &s.out.header, nullptr, 0,
                                0, 64, 48),
            ICERR_OK);
  auto frame = solidKeyFrame(64, 48, kBlue);
  s.in.biSizeImage = static_cast<DWORD>(frame.size());
  OutputFormat wider = rgbOutput(120, -90);
  std::vector<uint16_t> dest(120 * 90, 0xCDCD);
  EXPECT_EQ(ICDecompressEx(c.hic(), 0, &s.in, frame.data(), 0, 0, 64, 48, &wider.header,
                           dest.data(), 0, 0, 64, 48),
            ICERR_OK);
  EXPECT_EQ(dest[89 * 120 + 0], kBlue) << "bottom-left corner of the top-down destination";
  EXPECT_EQ(dest[89 * 120 + 64], 0xCDCD);
  EXPECT_EQ(dest[(90 - 48) * 120], kBlue);
  EXPECT_EQ(dest[(90 - 49) * 120], 0xCDCD);
  OutputFormat upright = rgbOutput(130, 90);
  EXPECT_EQ(ICDecompressEx(c.hic(), 0, &s.in, frame.data(), 0, 0, 64, 48, &upright.header,
                           dest.data(), 0, 0, 64, 48),
            ICERR_BADFORMAT);
  OutputFormat deeper = rgbOutput(130, -90, 8);
  EXPECT_EQ(ICDecompressEx(c.hic(), 0, &s.in, frame.data(), 0, 0, 64, 48, &deeper.header,
                           dest.data(), 0, 0, 64, 48),
            ICERR_BADFORMAT);
  EXPECT_EQ(ICDecompressEx(c.hic(), 0, &s.in, frame.data(), 3, 0, 64, 48, &wider.header,
                           dest.data(), 0, 0, 64, 48),
            ICERR_BADFORMAT)
      << "a source offset is refused";
}

}  // namespace
}  // namespace zov::test

namespace zov::test {
namespace {

TEST(PixelFormats, PackedYuvWithHardwareScaling) {
  OpenCodec c;
  ZOVStyle hw = defaults();
  hw.useHardware = 1;
  Style style(hw);
  Stream s(64, 48);
  s.out = rgbOutput(64, 48, 16);
  s.out.header.biCompression = mmioFOURCC('Y', 'U', 'Y', '2');
  ASSERT_EQ(ICDecompressBegin(c.hic(), &s.in, &s.out.header), ICERR_OK);
  std::vector<uint8_t> yuy2(64 * 48 * 2, 0xCD);
  auto frame = solidKeyFrame(64, 48, 0x7FFF);
  s.in.biSizeImage = static_cast<DWORD>(frame.size());
  ASSERT_EQ(static_cast<int32_t>(
                ICDecompress(c.hic(), 0, &s.in, frame.data(), &s.out.header, yuy2.data())),
            ICERR_OK);
  // White: Y = (2392 + 4696 + 912) * 31 / 1000, U = (128000 - 8 * 31) / 1000, V 128.
  EXPECT_EQ(yuy2[0], 248);
  EXPECT_EQ(yuy2[1], 127);
  EXPECT_EQ(yuy2[2], 248);
  EXPECT_EQ(yuy2[3], 128);
  EXPECT_EQ(yuy2[yuy2.size() - 2], 248);
}

}  // namespace
}  // namespace zov::test

namespace zov::test {
namespace {

// A V4 key frame of one colour whose header letterboxes `top` rows above and `bottom` rows below
// the picture (the stream itself has no LBOX flag).
std::vector<uint8_t> letterboxedKeyFrame(int width, int height, int top, int bottom,
                                         uint16_t colour) {
  FrameSpec spec;
  spec.key = true;
  spec.residuals = false;
  spec.lbox = true;
  spec.top = top;
  spec.bottom = bottom;
  spec.rle.push_back(Block{0, width, height - top - bottom, colour});
  return buildFrame(width, height, kZov2Tag | kV4, spec);
}

TEST(Letterbox, AVersionFourStreamClearsItsMarginsOnBothPaths) {
  OpenCodec c;
  auto frame = letterboxedKeyFrame(64, 48, 8, 4, kGreen);
  // A picture with narrower bars, decoded before `frame` into the same buffer: the bars that
  // grow must not keep it.
  auto narrower = letterboxedKeyFrame(64, 48, 2, 2, kRed);
  // Plain path, bottom-up: rows 0-3 are the bottom margin, 40-47 the top one.
  Stream s(64, 48);
  ASSERT_EQ(ICDecompressBegin(c.hic(), &s.in, &s.out.header), ICERR_OK);
  Bitmap bitmap(64, 48);
  ASSERT_EQ(s.decode(c.hic(), frame, bitmap), ICERR_OK);
  for (int y = 0; y < 48; ++y) ASSERT_EQ(bitmap.at(5, y), y < 4 || y >= 40 ? 0 : kGreen) << y;
  ASSERT_EQ(s.decode(c.hic(), narrower, bitmap), ICERR_OK);
  ASSERT_EQ(bitmap.at(5, 3), kRed);
  ASSERT_EQ(s.decode(c.hic(), frame, bitmap), ICERR_OK);
  for (int y = 0; y < 48; ++y) ASSERT_EQ(bitmap.at(5, y), y < 4 || y >= 40 ? 0 : kGreen) << y;

  // Extended path, top-down: lines 0-7 the top margin, 44-47 the bottom one.
  ExStream x(64, 48, 64, 48);
  ASSERT_EQ(ICDecompressExBegin(c.hic(), 0, &x.in, nullptr, 0, 0, 64, 48, &x.out.header, nullptr, 0,
                                0, 64, 48),
            ICERR_OK);
  std::vector<uint16_t> dest(64 * 48, 0xCDCD);
  auto decodeEx = [&](const std::vector<uint8_t>& chunk) {
    x.in.biSizeImage = static_cast<DWORD>(chunk.size());
    return ICDecompressEx(c.hic(), 0, &x.in, const_cast<uint8_t*>(chunk.data()), 0, 0, 64, 48,
                          &x.out.header, dest.data(), 0, 0, 64, 48);
  };
  ASSERT_EQ(decodeEx(frame), ICERR_OK);
  for (int line = 0; line < 48; ++line)
    ASSERT_EQ(dest[line * 64 + 5], line < 8 || line >= 44 ? 0 : kGreen) << line;
  ASSERT_EQ(decodeEx(narrower), ICERR_OK);
  ASSERT_EQ(dest[2 * 64 + 5], kRed);
  ASSERT_EQ(decodeEx(frame), ICERR_OK);
  for (int line = 0; line < 48; ++line)
    ASSERT_EQ(dest[line * 64 + 5], line < 8 || line >= 44 ? 0 : kGreen) << line;
  ICDecompressExEnd(c.hic());
}

// Two bands: red in the bottom half of the picture, blue in the top half.
std::vector<uint8_t> twoBandKeyFrame(int width, int height) {
  FrameSpec spec;
  spec.key = true;
  spec.residuals = false;
  spec.rle.push_back(Block{0, width, height / 2, kRed});
  spec.rle.push_back(
      Block{static_cast<uint32_t>(width * (height / 2)), width, height - height / 2, kBlue});
  return buildFrame(width, height, kZov2Tag | kV4, spec);
}

TEST(PixelFormats, PackedYuvIsWrittenTopDownAndAnRgbBeginAfterItWritesRgb) {
  OpenCodec c;
  ZOVStyle hw = defaults();
  hw.useHardware = 1;
  Style style(hw);
  Stream s(64, 48);
  OutputFormat yuy2 = rgbOutput(64, 48, 16);
  yuy2.header.biCompression = mmioFOURCC('Y', 'U', 'Y', '2');
  ASSERT_EQ(ICDecompressBegin(c.hic(), &s.in, &yuy2.header), ICERR_OK);
  auto frame = twoBandKeyFrame(64, 48);
  s.in.biSizeImage = static_cast<DWORD>(frame.size());
  std::vector<uint8_t> packed(64 * 48 * 2, 0xCD);
  ASSERT_EQ(static_cast<int32_t>(
                ICDecompress(c.hic(), 0, &s.in, frame.data(), &yuy2.header, packed.data())),
            ICERR_OK);
  // The first line in memory is the top of the picture: blue, whose V lies below 128.
  EXPECT_LT(packed[3], 128);
  EXPECT_GT(packed[packed.size() - 1], 128) << "the last line is red";
  ICDecompressEnd(c.hic());

  // The host asked about YUY2, then settles for the RGB bitmap the codec proposes.
  ASSERT_EQ(ICDecompressQuery(c.hic(), &s.in, &yuy2.header), ICERR_OK);
  OutputFormat proposed;
  ASSERT_EQ(ICDecompressGetFormat(c.hic(), &s.in, &proposed.header), ICERR_OK);
  ASSERT_EQ(proposed.header.biCompression, BI_RGB);
  ASSERT_EQ(ICDecompressBegin(c.hic(), &s.in, &proposed.header), ICERR_OK);
  Bitmap bitmap(64, 48);
  s.out = proposed;
  ASSERT_EQ(s.decode(c.hic(), frame, bitmap), ICERR_OK);
  EXPECT_EQ(bitmap.at(0, 0), kRed);
  EXPECT_EQ(bitmap.at(0, 47), kBlue);
}

}  // namespace
}  // namespace zov::test

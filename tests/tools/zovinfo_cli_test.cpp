#include <png.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include "support/avi_file_writer.h"
#include "support/teapot_sample.h"
#include "support/tool_test_util.h"

namespace zov::test {
namespace {

bool contains(const std::string& s, const std::string& part) {
  return s.find(part) != std::string::npos;
}

std::string hexWord(uint32_t v) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "0x%08X", v);
  return buf;
}

// Reads an 8-bit RGB PNG: rows top first, three bytes a pixel.
bool readPng(const std::string& path, int& w, int& h, std::vector<uint8_t>& rgb) {
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_file(&image, path.c_str())) return false;
  image.format = PNG_FORMAT_RGB;
  rgb.resize(PNG_IMAGE_SIZE(image));
  bool ok = png_image_finish_read(&image, nullptr, rgb.data(), 0, nullptr) != 0;
  w = int(image.width);
  h = int(image.height);
  return ok;
}

// Points the programs run from here at the built codec library, with its settings file in `home`
// so the user's own codec settings are never read or changed.
void useBuiltCodec(const TempDir& home) {
  setenv("ZOV_CODEC_PATH", ZOV_CODEC_DIR, 1);
  setenv("ZOV_HOME", home.file("zovhome").c_str(), 1);
}

std::string binName(const TempDir& dir, size_t n) {
  char name[32];
  std::snprintf(name, sizeof name, "f%d.bin", int(n));
  return dir.file(name);
}

TEST(ZovinfoUsage, BadCommandLinesExitWithStatus2AndUsage) {
  const std::vector<std::vector<std::string>> bad = {
      {},
      {"explode", "x.avi"},
      {"decode", "x.avi"},                                     // no --out
      {"decode", "--out", "d", "--format", "0x200", "f.bin"},  // no --size
      {"decode", "--out", "d", "--format", "zz", "--size", "8x8", "f.bin"},
      {"decode", "--out", "d", "--format", "0x200", "--size", "8by8", "f.bin"},
      {"decode", "--out", "d", "--format", "0x200", "--size", "8x8"},  // no frames
      {"decode", "a.avi", "b.avi", "--out", "d"},
      {"frames"},
      {"frames", "a.avi", "--png"},
      {"bench", "a.avi", "--repeat", "0"},
      {"bench", "a.avi", "--repeat"},
      {"decode", "a.avi", "--out", "d", "--bogus"},
  };
  for (const auto& args : bad) {
    ToolResult r = runInProcess(args);
    std::string line;
    for (const auto& a : args) line += a + " ";
    EXPECT_EQ(r.status, 2) << line;
    EXPECT_TRUE(contains(r.err, "usage:")) << line;
  }
  ToolResult help = runProgram({"--help"});
  EXPECT_EQ(help.status, 0);
  EXPECT_TRUE(contains(help.out, "zovinfo decode --format WORD --size WxH --out DIR"));
  EXPECT_TRUE(contains(help.out, "zovinfo bench MOVIE.avi [--codec] [--repeat N]"));
}

TEST(ZovinfoFiles, MissingAndGarbageFilesExitWithStatus2NamingTheFile) {
  TempDir dir;
  std::string missing = dir.file("missing.avi");
  ToolResult r = runProgram({"frames", missing});
  EXPECT_EQ(r.status, 2);
  EXPECT_TRUE(contains(r.err, missing)) << r.err;
  EXPECT_TRUE(contains(r.err, "No such file")) << r.err;

  std::string garbage = dir.file("garbage.avi");
  ASSERT_TRUE(writeFileBytes(garbage, std::vector<uint8_t>(1000, 0x5A)));
  for (const std::vector<std::string>& args : {std::vector<std::string>{"frames", garbage},
                                               {"decode", garbage, "--out", dir.file("o")},
                                               {"bench", garbage}}) {
    r = runInProcess(args);
    EXPECT_EQ(r.status, 2) << args[0];
    EXPECT_TRUE(contains(r.err, garbage + ": not an AVI file")) << r.err;
  }

  // A valid AVI whose video is not ZOV.
  r = runInProcess({"frames", dataFile("teapot-256x256-rgb24.avi")});
  EXPECT_EQ(r.status, 2);
  EXPECT_TRUE(contains(r.err, "not ZOV video")) << r.err;

  r = runInProcess(
      {"decode", "--format", "0x32760200", "--size", "8x4", "--out", dir.file("o"), missing});
  EXPECT_EQ(r.status, 2);
  EXPECT_TRUE(contains(r.err, missing)) << r.err;

  // A stream size beyond the decoder's limits.
  std::string frame = dir.file("f.bin");
  ASSERT_TRUE(writeFileBytes(frame, {0, 0, 0, 0}));
  r = runInProcess(
      {"decode", "--format", "0x32760200", "--size", "641x480", "--out", dir.file("o"), frame});
  EXPECT_EQ(r.status, 2);
  EXPECT_TRUE(contains(r.err, "641x480")) << r.err;
}

TEST(ZovinfoDecode, RawFilesHoldThePictureBottomRowFirstAndPngsTopRowFirst) {
  TempDir dir;
  EncodedSample s = encodeSyntheticStream(24, 12, 3, 5);
  std::vector<std::string> args = {"decode",        "--format", hexWord(s.desc.formatWord),
                                   "--size",        "24x12",    "--out",
                                   dir.file("out"), "--png"};
  for (size_t n = 0; n < s.frames.size(); ++n) {
    std::string f = binName(dir, n);
    ASSERT_TRUE(writeFileBytes(f, s.frames[n].data));
    args.push_back(f);
  }
  ToolResult r = runProgram(args);
  ASSERT_EQ(r.status, 0) << r.err;
  for (size_t n = 0; n < s.frames.size(); ++n) {
    char name[32];
    std::snprintf(name, sizeof name, "%06d", int(n));
    std::string base = dir.file("out/") + name;
    auto raw = readFileBytes(base + ".raw");
    ASSERT_EQ(raw.size(), 24u * 12u * 2u) << name;
    EXPECT_EQ(readRaw(base + ".raw"), s.reconstructions[n]) << name;
    int w = 0, h = 0;
    std::vector<uint8_t> rgb;
    ASSERT_TRUE(readPng(base + ".png", w, h, rgb)) << name;
    ASSERT_EQ(w, 24);
    ASSERT_EQ(h, 12);
    const auto& pic = s.reconstructions[n];
    for (int y = 0; y < h; ++y) {
      for (int x = 0; x < w; ++x) {
        uint16_t p = pic[size_t(h - 1 - y) * 24 + size_t(x)];  // PNG row y = buffer row h-1-y
        const uint8_t* px = &rgb[(size_t(y) * 24 + size_t(x)) * 3];
        ASSERT_EQ(px[0] >> 3, (p >> 10) & 31) << name << " x " << x << " y " << y;
        ASSERT_EQ(px[1] >> 3, (p >> 5) & 31);
        ASSERT_EQ(px[2] >> 3, p & 31);
      }
    }
  }
  // The synthetic picture's gradient runs up the buffer rows, so orientation matters.
  EXPECT_NE(s.reconstructions[0][0], s.reconstructions[0][11 * 24]);
}

TEST(ZovinfoDecode, AMalformedFrameStopsDecodingWithStatus3AfterTheEarlierFrames) {
  TempDir dir;
  EncodedSample s = encodeSyntheticStream(16, 8, 3, 9);
  s.frames[1].data.resize(8);  // cut short: its lists and residuals are missing
  std::string movie = dir.file("cut.avi");
  ASSERT_TRUE(writeFileBytes(movie, buildZovAvi(s.desc, s.frames)));
  ToolResult r = runProgram({"decode", movie, "--out", dir.file("out")});
  EXPECT_EQ(r.status, 3);
  EXPECT_TRUE(contains(r.err, movie + ": frame 1 is malformed")) << r.err;
  EXPECT_EQ(readRaw(dir.file("out/000000.raw")), s.reconstructions[0]);
  EXPECT_FALSE(fileExists(dir.file("out/000001.raw")));
  EXPECT_FALSE(fileExists(dir.file("out/000002.raw")));

  // The listing goes on past the damage and ends with status 3 too.
  r = runInProcess({"frames", movie});
  EXPECT_EQ(r.status, 3);
  EXPECT_TRUE(contains(r.out, "frame 1 index=delta bytes=8 ")) << r.out;
  EXPECT_TRUE(contains(r.out, " malformed\n")) << r.out;
  EXPECT_TRUE(contains(r.out, "frame 2 ")) << r.out;

  // Frame files: the message names the file and the frame number.
  std::vector<std::string> args = {"decode",        "--format", hexWord(s.desc.formatWord),
                                   "--size",        "16x8",     "--out",
                                   dir.file("bins")};
  for (size_t n = 0; n < s.frames.size(); ++n) {
    args.push_back(binName(dir, n));
    ASSERT_TRUE(writeFileBytes(args.back(), s.frames[n].data));
  }
  r = runInProcess(args);
  EXPECT_EQ(r.status, 3);
  EXPECT_TRUE(contains(r.err, "f1.bin: frame 1 is malformed")) << r.err;
  EXPECT_TRUE(fileExists(dir.file("bins/000000.raw")));
}

// The file a killed writer leaves: no index, RIFF and movi sizes still 0, the last frame's chunk
// half written.
std::vector<uint8_t> killedRunImage(std::vector<uint8_t> file) {
  auto at = [&](const char* tag) {
    for (size_t i = 0; i + 4 <= file.size(); ++i)
      if (std::equal(tag, tag + 4, file.begin() + long(i))) return i;
    return file.size();
  };
  auto zero = [&](size_t pos) { std::fill_n(file.begin() + long(pos), 4, 0); };
  size_t idx1 = at("idx1");
  size_t lastChunk = idx1;
  for (size_t i = at("movi"); i < idx1; ++i)
    if (std::equal("00dc", "00dc" + 4, file.begin() + long(i))) lastChunk = i;
  zero(4);
  zero(at("movi") - 4);
  file.resize(lastChunk + (idx1 - lastChunk) / 2);
  return file;
}

TEST(ZovinfoKilledRun, AFileWithoutIndexOrSizesListsAndDecodesItsWholeFrames) {
  TempDir dir;
  EncodedSample s = encodeSyntheticStream(16, 8, 4, 7);
  std::string movie = dir.file("killed.avi");
  ASSERT_TRUE(writeFileBytes(movie, killedRunImage(buildZovAvi(s.desc, s.frames))));
  ToolResult r = runProgram({"frames", movie});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(contains(r.out, " frames=3\n")) << r.out;
  EXPECT_TRUE(contains(r.out, "frame 2 index=none ")) << r.out;
  r = runInProcess({"decode", movie, "--out", dir.file("o")});
  ASSERT_EQ(r.status, 0) << r.err;
  for (int n = 0; n < 3; ++n)
    EXPECT_EQ(readRaw(dir.file("o/00000" + std::to_string(n) + ".raw")), s.reconstructions[n]);
  EXPECT_FALSE(fileExists(dir.file("o/000003.raw")));
}

TEST(ZovinfoDecode, Zov1AndZov2StreamsDecodeAlike) {
  TempDir dir;
  EncodedSample s = encodeSyntheticStream(16, 8, 3, 4);
  std::string v2 = dir.file("v2.avi"), v1 = dir.file("v1.avi");
  ASSERT_TRUE(writeFileBytes(v2, buildZovAvi(s.desc, s.frames)));
  ZovAviDescription d1 = s.desc;
  d1.handler = 0x31766F7A;                                // 'zov1'
  d1.formatWord = (d1.formatWord & 0xFFFF) | 0x31760000;  // 'v','1'
  ASSERT_TRUE(writeFileBytes(v1, buildZovAvi(d1, s.frames)));
  ASSERT_EQ(runInProcess({"decode", v2, "--out", dir.file("o2")}).status, 0);
  ToolResult r = runInProcess({"decode", v1, "--out", dir.file("o1")});
  ASSERT_EQ(r.status, 0) << r.err;
  for (const char* f : {"000000.raw", "000001.raw", "000002.raw"})
    EXPECT_EQ(readFileBytes(dir.file(std::string("o1/") + f)),
              readFileBytes(dir.file(std::string("o2/") + f)));
}

TEST(ZovinfoDecode, AnEmptyChunkRepeatsThePicture) {
  TempDir dir;
  EncodedSample s = encodeSyntheticStream(16, 8, 2, 6);
  s.frames.insert(s.frames.begin() + 1, AviFrameData{{}, false});
  std::string movie = dir.file("drop.avi");
  ASSERT_TRUE(writeFileBytes(movie, buildZovAvi(s.desc, s.frames)));
  ToolResult r = runInProcess({"decode", movie, "--out", dir.file("o")});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(readRaw(dir.file("o/000001.raw")), s.reconstructions[0]);
  EXPECT_EQ(readRaw(dir.file("o/000002.raw")), s.reconstructions[1]);
}

TEST(ZovinfoDecode, FirstAndLastChooseTheFramesAndY4mCarriesThePictures) {
  TempDir dir;
  EncodedSample s = encodeSyntheticStream(16, 8, 4, 3);
  std::string movie = dir.file("m.avi");
  ASSERT_TRUE(writeFileBytes(movie, buildZovAvi(s.desc, s.frames)));
  ToolResult r = runInProcess(
      {"decode", movie, "--first", "2", "--last", "3", "--out", dir.file("o"), "--y4m", "-"});
  ASSERT_EQ(r.status, 0) << r.err;
  // Frame 2 is decoded from frame 1 but only frames 2 and 3 are written.
  EXPECT_FALSE(fileExists(dir.file("o/000000.raw")));
  EXPECT_EQ(readRaw(dir.file("o/000001.raw")), s.reconstructions[1]);
  EXPECT_EQ(readRaw(dir.file("o/000002.raw")), s.reconstructions[2]);
  EXPECT_FALSE(fileExists(dir.file("o/000003.raw")));
  size_t header = r.out.find('\n');
  ASSERT_NE(header, std::string::npos);
  EXPECT_EQ(r.out.substr(0, 10), "YUV4MPEG2 ");
  EXPECT_TRUE(contains(r.out.substr(0, header), " W16 H8 ")) << r.out.substr(0, header);
  const size_t frameBytes = 6 + 16 * 8 * 3;
  ASSERT_EQ(r.out.size(), header + 1 + 2 * frameBytes);
  // Top row first: the luma of the first row comes from the buffer's last row.
  uint16_t top = s.reconstructions[1][7 * 16], bottom = s.reconstructions[1][0];
  auto luma = [](uint16_t p) {
    auto c = [&](int shift) {
      int v = (p >> shift) & 31;
      return (v << 3) | (v >> 2);
    };
    return (66 * c(10) + 129 * c(5) + 25 * c(0) + 128 + (16 << 8)) >> 8;
  };
  ASSERT_NE(luma(top), luma(bottom));

  const uint8_t* y = reinterpret_cast<const uint8_t*>(r.out.data()) + header + 1 + 6;
  EXPECT_EQ(y[0], luma(top));
  EXPECT_EQ(y[7 * 16], luma(bottom));
  EXPECT_EQ(runInProcess({"decode", movie, "--y4m", dir.file("m.y4m")}).status, 0);
  EXPECT_EQ(readFileBytes(dir.file("m.y4m")).size(), header + 1 + 4 * frameBytes);

  r = runInProcess({"decode", movie, "--first", "3", "--last", "5", "--y4m", "-"});
  EXPECT_EQ(r.status, 2);
  EXPECT_TRUE(contains(r.err, movie + ": frames 3 to 5 are not in its 4 frames")) << r.err;
  EXPECT_EQ(runInProcess({"decode", movie, "--first", "0", "--y4m", "-"}).status, 2);
}

TEST(ZovinfoSummary, CountsTheFramesByKindAndNamesTheDamage) {
  TempDir dir;
  EncodedSample s = encodeSyntheticStream(16, 8, 3, 9);
  s.frames.insert(s.frames.begin() + 1, AviFrameData{{}, false});
  size_t keys = 0;
  for (const AviFrameData& f : s.frames) keys += f.key ? 1 : 0;
  std::string movie = dir.file("m.avi");
  ASSERT_TRUE(writeFileBytes(movie, buildZovAvi(s.desc, s.frames)));
  ToolResult r = runInProcess({movie});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(contains(r.out, "4 frames (" + std::to_string(keys) + " key, " +
                                  std::to_string(3 - keys) + " inter, 1 empty)"))
      << r.out;
  EXPECT_TRUE(contains(r.out, "problems: none\n")) << r.out;
  r = runInProcess({movie, "--json"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(contains(r.out, "\"frames\":4,\"key\":" + std::to_string(keys))) << r.out;
  EXPECT_TRUE(contains(r.out, "\"empty\":1,") && contains(r.out, "\"problems\":[]}\n")) << r.out;

  s.frames[2].data.resize(8);
  ASSERT_TRUE(writeFileBytes(movie, buildZovAvi(s.desc, s.frames)));
  r = runInProcess({movie});
  EXPECT_EQ(r.status, 3);
  EXPECT_TRUE(contains(r.out, "problem: frame 2 is malformed")) << r.out;
  // The frame listing as JSON lines: the stream, then one object a frame.
  r = runInProcess({"frames", movie, "--json"});
  EXPECT_EQ(r.status, 3);
  EXPECT_EQ(r.out.rfind("{\"stream\":{\"width\":16,\"height\":8,", 0), 0u) << r.out;
  EXPECT_TRUE(contains(r.out, "\n{\"frame\":1,\"index\":\"delta\",\"bytes\":0,\"empty\":true}\n"))
      << r.out;
  EXPECT_TRUE(contains(r.out, "\"malformed\":true}\n{\"frame\":3,")) << r.out;
  EXPECT_EQ(runInProcess({"bench", movie, "--json"}).status, 2);
}

TEST(ZovinfoBench, PrintsOneSpeedLine) {
  std::string sample = dataFile("sample-teapot-zov2.avi");
  ToolResult r = runInProcess({"bench", sample, "--repeat", "2"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(contains(r.out, "decoded 20 frames 256x256 in ")) << r.out;
  EXPECT_TRUE(contains(r.out, " fps, ")) << r.out;
  EXPECT_TRUE(contains(r.out, " Mpx/s\n")) << r.out;
}

TEST(ZovinfoBench, CodecTimesThePlaybackPath) {
  TempDir home;
  useBuiltCodec(home);
  std::string sample = dataFile("sample-teapot-zov2.avi");
  ToolResult r = runProgram({"bench", sample, "--codec", "--repeat", "2"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(contains(r.out, "decoded 20 frames 256x256 in ")) << r.out;
  EXPECT_TRUE(contains(r.out, " Mpx/s\n")) << r.out;
  EXPECT_EQ(runInProcess({"decode", sample, "--out", home.file("o"), "--codec"}).status, 2);
}

}  // namespace
}  // namespace zov::test

namespace zov::test {
namespace {

// A background stream: the first chunk carries the background as an embedded key frame, and
// the frames cover the parts equal to it with Chroma blocks.
TEST(ZovinfoDecode, TakesTheEmbeddedBackgroundFromTheFirstChunk) {
  const int w = 32, h = 16;
  std::vector<uint16_t> background(size_t(w) * h), picture;
  for (int i = 0; i < w * h; ++i)
    background[size_t(i)] = uint16_t((i % w) << 10 | (i / w) << 5 | ((i * 7) & 31));
  ReferenceEncoder backgroundCoder(w, h);
  backgroundCoder.setChromaStream(true);
  auto backgroundFrame = backgroundCoder.encode(background, true);

  ReferenceEncoder coder(w, h);
  coder.setChromaStream(true);
  coder.setBackground(backgroundCoder.reconstruction());
  EncodedSample s;
  s.desc = {w, h, coder.formatWord(), 0x32766F7A, 15};
  for (int n = 0; n < 3; ++n) {
    picture = background;
    for (int y = 4; y < 9; ++y)
      for (int x = 4 + 6 * n; x < 10 + 6 * n; ++x) picture[size_t(y) * w + x] = 0x7FFF;
    auto frame = coder.encode(picture, n == 0);
    if (n == 0) frame = embedBackground(frame, backgroundFrame);
    s.frames.push_back({frame, n == 0});
    s.reconstructions.push_back(coder.reconstruction());
    EXPECT_GT(coder.lastStats().chromaBlocks, 0) << n;
  }
  TempDir dir;
  std::string movie = dir.file("background.avi");
  ASSERT_TRUE(writeFileBytes(movie, buildZovAvi(s.desc, s.frames)));
  ToolResult r = runInProcess({"decode", movie, "--out", dir.file("o")});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(readRaw(dir.file("o/000000.raw")), s.reconstructions[0]);
  EXPECT_EQ(readRaw(dir.file("o/000001.raw")), s.reconstructions[1]);
  EXPECT_EQ(readRaw(dir.file("o/000002.raw")), s.reconstructions[2]);
  r = runInProcess({"frames", movie});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(contains(r.out, "format=0x32761200")) << r.out;
  EXPECT_FALSE(contains(r.out, " chroma=0 ")) << r.out;

  // A first chunk whose background offset points outside it is malformed.
  s.frames[0].data.back() = 0x7F;
  ASSERT_TRUE(writeFileBytes(movie, buildZovAvi(s.desc, s.frames)));
  r = runInProcess({"decode", movie, "--out", dir.file("bad")});
  EXPECT_EQ(r.status, 3);
  EXPECT_TRUE(contains(r.err, "frame 0 is malformed")) << r.err;
}

}  // namespace
}  // namespace zov::test

namespace zov::test {
namespace {

TEST(ZovinfoDecode, MethodRendersThePngThroughTheCodecLibrary) {
  TempDir dir;
  useBuiltCodec(dir);
  EncodedSample s = encodeSyntheticStream(24, 12, 1, 5);
  std::string f = binName(dir, 0);
  ASSERT_TRUE(writeFileBytes(f, s.frames[0].data));
  auto decode = [&](const std::string& method, const std::string& out) {
    return runProgram({"decode", "--format", hexWord(s.desc.formatWord), "--size", "24x12", "--out",
                       dir.file(out), "--png", "--method", method, f});
  };
  struct Case {
    const char* method;
    int w, h;
  } cases[] = {{"0", 24, 12}, {"3", 48, 24}, {"6", 72, 36}, {"7", 48, 24}, {"14", 24, 12}};
  for (const Case& c : cases) {
    std::string out = std::string("m") + c.method;
    ToolResult r = decode(c.method, out);
    ASSERT_EQ(r.status, 0) << c.method << ": " << r.err;
    // No note about falling back: the codec library drew methods 0-12.
    EXPECT_FALSE(contains(r.err, "note")) << c.method << ": " << r.err;
    int w = 0, h = 0;
    std::vector<uint8_t> rgb;
    ASSERT_TRUE(readPng(dir.file(out + "/000000.png"), w, h, rgb)) << c.method;
    EXPECT_EQ(w, c.w) << "method " << c.method;
    EXPECT_EQ(h, c.h) << "method " << c.method;
  }
  // Method 0 shows the picture itself: top row first, top five bits of each component.
  int w = 0, h = 0;
  std::vector<uint8_t> rgb;
  ASSERT_TRUE(readPng(dir.file("m0/000000.png"), w, h, rgb));
  ASSERT_EQ(rgb.size(), size_t(24 * 12 * 3));
  int mismatches = 0;
  for (int y = 0; y < 12; ++y) {
    for (int x = 0; x < 24; ++x) {
      uint16_t p = s.reconstructions[0][size_t(11 - y) * 24 + size_t(x)];
      const uint8_t* q = &rgb[(size_t(y) * 24 + size_t(x)) * 3];
      if (q[0] >> 3 != ((p >> 10) & 31) || q[1] >> 3 != ((p >> 5) & 31) || q[2] >> 3 != (p & 31))
        ++mismatches;
    }
  }
  EXPECT_EQ(mismatches, 0);
  EXPECT_EQ(decode("16", "bad").status, 2);
  EXPECT_EQ(runProgram({"decode", "--format", hexWord(s.desc.formatWord), "--size", "24x12",
                        "--out", dir.file("x"), "--method", "3", f})
                .status,
            2)
      << "--method without --png";
}

}  // namespace
}  // namespace zov::test

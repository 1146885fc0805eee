// ZOV sources through the real codec library: the source reader's pictures of a ZOV2 file are the
// format decoder's own, frame for frame and in any order of access, and a ZOV file recompresses
// into a new one that verifies.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <optional>

#include "format/decoder.h"
#include "media/avi_container.h"
#include "media/source_file.h"
#include "media/vfw_zov_decoder.h"
#include "media/video_decoder.h"
#include "platform/ui.h"
#include "support/avi_fixtures.h"
#include "support/cli_run.h"

namespace zov {
namespace {

namespace fs = std::filesystem;

// The codec library the build made, with a settings folder of our own so that no user settings
// change what it draws.
class BuiltCodec {
 public:
  BuiltCodec() : home_(test::tempFolder("codec-home")) {
    for (const char* name : {"ZOV_CODEC_PATH", "ZOV_HOME"}) {
      const char* v = getenv(name);
      saved_.emplace_back(name, v ? std::optional<std::string>(v) : std::nullopt);
    }
    setenv("ZOV_CODEC_PATH", ZOV_CODEC_DIR, 1);
    setenv("ZOV_HOME", home_.c_str(), 1);
  }
  ~BuiltCodec() {
    setZovDecoderFactory(nullptr);
    for (const auto& [name, value] : saved_) {
      if (value)
        setenv(name.c_str(), value->c_str(), 1);
      else
        unsetenv(name.c_str());
    }
    std::error_code ec;
    fs::remove_all(home_, ec);
  }

 private:
  std::string home_;
  std::vector<std::pair<std::string, std::optional<std::string>>> saved_;
};

// Every frame of a ZOV AVI file as the format decoder draws it, 15-bit, bottom-up.
std::vector<std::vector<uint16_t>> decodeDirectly(const std::string& path) {
  std::vector<std::vector<uint16_t>> pictures;
  std::string err;
  auto c = AviContainer::open(path, &err);
  EXPECT_TRUE(c) << err;
  if (!c) return pictures;
  const std::vector<uint8_t>& format = c->videoFormat();
  const int w = int(getLE32(format.data() + 4));
  const int h = std::abs(int32_t(getLE32(format.data() + 8)));
  FrameDecoder d;
  EXPECT_TRUE(d.prepareStream(w, h, getLE32(format.data() + 16), DecoderOptions{}));
  std::vector<uint8_t> data;
  for (uint32_t i = 0; i < c->frameCount(); ++i) {
    EXPECT_TRUE(c->readFrame(i, data));
    if (!data.empty()) {
      EXPECT_EQ(d.decodeFrame(data.data(), data.size()), DecodeStatus::Ok) << i;
    }
    std::vector<uint16_t> p(d.picture(), d.picture() + size_t(w) * size_t(h));
    for (uint16_t& v : p) v &= 0x7FFF;
    pictures.push_back(std::move(p));
  }
  return pictures;
}

// The source reader, through the codec, gives the direct pictures: in order, then backwards
// (each step back goes through the preceding key frame).
void expectReaderMatches(const std::string& path) {
  const auto direct = decodeDirectly(path);
  ASSERT_FALSE(direct.empty());
  auto c = AviContainer::open(path, nullptr);
  ASSERT_TRUE(c);
  ASSERT_TRUE(openVfwZovDecoder(c->videoFormat())) << "the codec library is not used";
  installVfwZovDecoder();
  SourceFile s(path);
  ASSERT_TRUE(s.Opened);
  ASSERT_EQ(s.FrameCount, direct.size());
  std::vector<uint8_t> bmp;
  auto check = [&](uint32_t f) {
    bool key = false;
    ASSERT_TRUE(s.getFrame(f, bmp, &key, true, false, false)) << "frame " << f;
    EXPECT_EQ(key, c->isKeyFrame(f)) << "frame " << f;
    ASSERT_EQ(bmp.size(), 40 + 2 * direct[f].size()) << "frame " << f;
    size_t differ = 0;
    for (size_t i = 0; i < direct[f].size(); ++i)
      if (getLE16(&bmp[40 + 2 * i]) != direct[f][i]) ++differ;
    EXPECT_EQ(differ, 0u) << "pixels of frame " << f << " differ from the decoder's";
  };
  for (uint32_t f = 0; f < s.FrameCount; ++f) check(f);
  for (uint32_t f = s.FrameCount; f-- > 0;) check(f);
  setZovDecoderFactory(nullptr);
}

TEST(ZovSourceCodec, SampleStreamReadsAsTheDecoderDrawsIt) {
  RecordingMessageBox boxes;
  ScopedMessageBoxSink sink(&boxes);
  BuiltCodec codec;
  expectReaderMatches(test::dataFile("sample-teapot-zov2.avi"));
  EXPECT_TRUE(boxes.boxes().empty());
}

TEST(ZovSourceCodec, FreshOutputReadsAsTheDecoderDrawsItAndRecompresses) {
  RecordingMessageBox boxes;
  ScopedMessageBoxSink sink(&boxes);
  BuiltCodec codec;
  const std::string dir = test::tempFolder("zov-in");
  const std::string fresh = dir + "/fresh.avi", again = dir + "/again.avi",
                    copy = dir + "/copy.avi";
  test::CliResult r = test::runZovcomp(
      {"compress", test::dataFile("teapot-256x256-rgb24.avi"), "-o", fresh, "--last", "12", "-q"});
  ASSERT_EQ(r.rc, 0) << r.err;
  expectReaderMatches(fresh);

  // ZOV in, ZOV out: the frames come through the codec and are coded again.
  r = test::runZovcomp({"compress", fresh, "-o", again, "--verify"});
  ASSERT_EQ(r.rc, 0) << r.err;
  EXPECT_NE(r.out.find("Verified 12 frames"), std::string::npos) << r.out;
  expectReaderMatches(again);
  r = test::runZovcomp({"compress", test::dataFile("sample-teapot-zov2.avi"), "-o", again,
                        "--preset", "Animation", "--verify"});
  ASSERT_EQ(r.rc, 0) << r.err;
  // Lossless settings: the recompressed pictures are the sample's.
  const size_t at = r.out.find("Verified 10 frames, PSNR ");
  ASSERT_NE(at, std::string::npos) << r.out;
  EXPECT_GT(std::stod(r.out.substr(at + 25)), 60.0) << r.out;

  // No recompression: the stored frames as they are, and the same pictures.
  r = test::runZovcomp({"compress", fresh, "-o", copy, "--mode", "copy", "--verify", "-q"});
  ASSERT_EQ(r.rc, 0) << r.err;
  EXPECT_EQ(decodeDirectly(copy), decodeDirectly(fresh));
  EXPECT_TRUE(boxes.boxes().empty());
  fs::remove_all(dir);
}

}  // namespace
}  // namespace zov

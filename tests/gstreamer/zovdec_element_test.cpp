// The zovdec GStreamer element as players use it: real footage compressed by zovcomp plays
// through avidemux and zovdec to exactly zovinfo's pictures, decodebin, uridecodebin and
// gst-play find the element by themselves (with the movie's sound), a damaged movie plays what
// can be played and ends cleanly, and gst-inspect describes the element. Each test program gets
// a GStreamer registry of its own and finds the plugin in the build tree.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "media/avi_container.h"

namespace zov::test {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;

class ZovdecElement : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    char pattern[] = "/tmp/zovdec-gst-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
    setenv("GST_PLUGIN_PATH", ZOV_GST_PLUGIN_DIR, 1);
    setenv("GST_REGISTRY", (dir_ + "/registry.bin").c_str(), 1);
    setenv("GST_REGISTRY_FORK", "no", 1);
  }
  static void TearDownTestSuite() { fs::remove_all(dir_); }

  // Runs a shell command; its output (both streams) in `output`.
  static int run(const std::string& command, std::string* output = nullptr) {
    const std::string log = dir_ + "/command.log";
    const int rc = std::system((command + " > " + log + " 2>&1").c_str());
    if (output) {
      std::ifstream in(log);
      output->assign(std::istreambuf_iterator<char>(in), {});
    }
    return WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
  }

  // Compresses the first `frames` frames of a bundled clip with the given settings.
  static std::string compress(const std::string& clip, const std::string& name, int frames,
                              const std::string& settings) {
    const std::string out = dir_ + "/" + name + ".avi";
    std::string log;
    EXPECT_EQ(run(std::string(ZOVCOMP_PATH) + " compress " + ZOV_TEST_DATA_DIR + "/" + clip +
                      " -o " + out + " -q --last " + std::to_string(frames) + " " + settings,
                  &log),
              0)
        << log;
    return out;
  }

  // zovinfo's pictures of a movie (5-5-5, bottom row first), one per frame it decoded.
  static std::vector<Bytes> zovinfoPictures(const std::string& movie) {
    const std::string out = movie + ".zovinfo";
    fs::remove_all(out);
    run(std::string(ZOVINFO_PATH) + " decode " + movie + " --out " + out);
    std::vector<Bytes> pictures;
    for (int n = 0;; ++n) {
      char name[16];
      std::snprintf(name, sizeof name, "/%06d.raw", n);
      std::ifstream in(out + name, std::ios::binary);
      if (!in) return pictures;
      pictures.emplace_back(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
  }

  // The movie through avidemux, zovdec and videoconvert as 5-5-5 pictures, top line first.
  static Bytes gstreamerPictures(const std::string& movie, std::string* log) {
    const std::string out = movie + ".gst.raw";
    EXPECT_EQ(run("gst-launch-1.0 filesrc location=" + movie +
                      " ! avidemux ! zovdec ! videoconvert ! video/x-raw,format=RGB15 ! "
                      "filesink location=" +
                      out,
                  log),
              0)
        << *log;
    std::ifstream in(out, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), {});
  }

  static std::string dir_;
};
std::string ZovdecElement::dir_;

// Picture `n` of a top-down stream of w x outHeight pictures against zovinfo's bottom-up
// picture of the coded rows; `linesPerRow` 2 for a field stream shown twice as high.
void expectSamePicture(const Bytes& gst, size_t n, const Bytes& zovinfo, int w, int rows,
                       int linesPerRow, const std::string& what) {
  const size_t line = size_t(w) * 2, picture = line * size_t(rows * linesPerRow);
  ASSERT_GE(gst.size(), (n + 1) * picture) << what << ": too few pictures";
  ASSERT_EQ(zovinfo.size(), line * size_t(rows)) << what;
  int bad = 0;
  for (int out = 0; out < rows * linesPerRow; ++out) {
    const int row = (rows * linesPerRow - 1 - out) / linesPerRow;  // picture row, 0 the bottom
    bad += !std::equal(zovinfo.begin() + long(line * size_t(row)),
                       zovinfo.begin() + long(line * size_t(row + 1)),
                       gst.begin() + long(n * picture + line * size_t(out)));
  }
  EXPECT_EQ(bad, 0) << what << ": lines that differ from zovinfo's picture";
}

TEST_F(ZovdecElement, AvidemuxAndZovdecGiveZovinfosPicturesInEveryScheme) {
  struct Case {
    const char* name;
    const char* settings;
    int linesPerRow;
  };
  for (const Case& c : {Case{"rgb", "--set CompressionType=0", 1},
                        Case{"411", "--set CompressionType=2 --set KeyRate=2", 1},
                        Case{"1611", "--set CompressionType=4", 1},
                        Case{"422-field", "--set CompressionType=1 --set FieldType=2", 2}}) {
    const std::string movie = compress("teapot-256x256-rgb24.avi", c.name, 5, c.settings);
    const std::vector<Bytes> reference = zovinfoPictures(movie);
    ASSERT_EQ(reference.size(), 5u) << c.name;
    std::string log;
    const Bytes gst = gstreamerPictures(movie, &log);
    EXPECT_EQ(gst.size(), 5u * 256 * 2 * 256 * size_t(c.linesPerRow)) << c.name << ": " << log;
    for (size_t n = 0; n < reference.size(); ++n)
      expectSamePicture(gst, n, reference[n], 256, 256, c.linesPerRow,
                        std::string(c.name) + " frame " + std::to_string(n));
  }
}

TEST_F(ZovdecElement, PlayersFindTheElementAndPlayTheMovieWithItsSound) {
  const std::string movie = compress("pan-640x480-mjpeg-pcm.avi", "pan", 8, "");
  std::string log;
  // decodebin and uridecodebin, the video and the audio branch both to their end.
  EXPECT_EQ(run("gst-launch-1.0 -v filesrc location=" + movie +
                    " ! decodebin name=d d. ! video/x-raw ! fakesink d. ! audio/x-raw ! fakesink",
                &log),
            0)
      << log;
  EXPECT_NE(log.find("GstZovDec"), std::string::npos) << log;
  EXPECT_NE(log.find("Got EOS"), std::string::npos) << log;
  EXPECT_EQ(run("gst-launch-1.0 -v uridecodebin uri=file://" + movie +
                    " name=d d. ! video/x-raw,width=640,height=480 ! fakesink d. ! audio/x-raw ! "
                    "fakesink",
                &log),
            0)
      << log;
  EXPECT_NE(log.find("GstZovDec"), std::string::npos) << log;
  EXPECT_NE(log.find("Got EOS"), std::string::npos) << log;
  // gst-play (playbin) with sound, to the end.
  EXPECT_EQ(
      run("gst-play-1.0 --no-interactive --videosink fakesink --audiosink fakesink " + movie, &log),
      0)
      << log;
  EXPECT_NE(log.find("Reached end of play list"), std::string::npos) << log;
  EXPECT_EQ(log.find("ERROR"), std::string::npos) << log;
}

TEST_F(ZovdecElement, ADamagedMoviePlaysWhatCanBePlayedAndEndsCleanly) {
  const std::string movie =
      compress("teapot-256x256-rgb24.avi", "whole", 6, "--set CompressionType=2 --set KeyRate=1");
  std::string error;
  auto avi = AviContainer::open(movie, &error);
  ASSERT_TRUE(avi) << error;
  // Frame 2 is a delta frame; the next key frame comes after it.
  ASSERT_FALSE(avi->isKeyFrame(2));
  uint32_t nextKey = 3;
  while (nextKey < avi->frameCount() && !avi->isKeyFrame(nextKey)) ++nextKey;
  ASSERT_LT(nextKey, avi->frameCount());
  const AviContainer::Entry damaged = avi->videoEntries()[2];
  avi.reset();

  const std::string broken = dir_ + "/broken.avi";
  fs::copy_file(movie, broken, fs::copy_options::overwrite_existing);
  {
    std::fstream f(broken, std::ios::in | std::ios::out | std::ios::binary);
    f.seekp(std::streamoff(damaged.offset + 16));
    const std::string garbage(damaged.size - 16, '\xFF');
    f.write(garbage.data(), std::streamsize(garbage.size()));
  }
  const std::vector<Bytes> before = zovinfoPictures(broken);
  ASSERT_EQ(before.size(), 2u) << "zovinfo stops at the damaged frame";
  const std::vector<Bytes> whole = zovinfoPictures(movie);

  std::string log;
  const Bytes gst = gstreamerPictures(broken, &log);
  EXPECT_NE(log.find("A ZOV frame is damaged"), std::string::npos) << log;
  EXPECT_NE(log.find("Got EOS"), std::string::npos) << log;
  const size_t shown = 2 + (whole.size() - nextKey);
  ASSERT_EQ(gst.size(), shown * 256 * 256 * 2)
      << "frames 0-1, then from the next key frame on: " << log;
  expectSamePicture(gst, 0, before[0], 256, 256, 1, "frame 0");
  expectSamePicture(gst, 1, before[1], 256, 256, 1, "frame 1");
  for (size_t n = nextKey; n < whole.size(); ++n)
    expectSamePicture(gst, 2 + n - nextKey, whole[n], 256, 256, 1,
                      "frame " + std::to_string(n) + " after the damage");
}

TEST_F(ZovdecElement, FramesBeforeTheFirstKeyFrameAreDroppedWithAWarning) {
  const std::string movie = compress("teapot-256x256-rgb24.avi", "start", 4, "");
  std::string error;
  auto avi = AviContainer::open(movie, &error);
  ASSERT_TRUE(avi) << error;
  ASSERT_TRUE(avi->isKeyFrame(1)) << "the first two frames are key frames";
  const uint64_t first = avi->videoEntries()[0].offset;
  avi.reset();
  // The first frame loses its key bit (the top bit of its first little-endian word).
  const std::string cut = dir_ + "/cut.avi";
  fs::copy_file(movie, cut, fs::copy_options::overwrite_existing);
  {
    std::fstream f(cut, std::ios::in | std::ios::out | std::ios::binary);
    f.seekg(std::streamoff(first + 3));
    const char byte = char(f.get() & 0x7F);
    f.seekp(std::streamoff(first + 3));
    f.put(byte);
  }
  std::string log;
  const Bytes gst = gstreamerPictures(cut, &log);
  EXPECT_NE(log.find("frames before the first key frame are dropped"), std::string::npos) << log;
  const std::vector<Bytes> whole = zovinfoPictures(movie);
  ASSERT_EQ(gst.size(), 3u * 256 * 256 * 2) << log;
  for (size_t n = 1; n < whole.size(); ++n)
    expectSamePicture(gst, n - 1, whole[n], 256, 256, 1, "frame " + std::to_string(n));
}

TEST_F(ZovdecElement, InspectDescribesTheElementCleanly) {
  std::string log;
  ASSERT_EQ(run("gst-inspect-1.0 zovdec", &log), 0) << log;
  EXPECT_NE(log.find("Codec/Decoder/Video"), std::string::npos) << log;
  EXPECT_NE(log.find("primary"), std::string::npos) << log;
  EXPECT_NE(log.find("video/x-avi-unknown"), std::string::npos) << log;
  for (const char* noise : {"WARNING", "CRITICAL", "ERROR"})
    EXPECT_EQ(log.find(noise), std::string::npos) << noise << " in: " << log;
  ASSERT_EQ(run("gst-inspect-1.0 --print-plugin-auto-install-info", &log), 0);
  EXPECT_NE(log.find("element-zovdec"), std::string::npos);
}

}  // namespace
}  // namespace zov::test

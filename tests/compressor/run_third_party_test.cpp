// Compression outputs as other programs read them: GStreamer's AVI demuxer hands out exactly our
// frames (count and bytes) and our audio bytes, and MediaInfo reports the frame count, size and
// streams, for compressed (mode 0) and copied (mode 1) files, with and without audio and CD-ROM
// padding.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "media/avi_container.h"
#include "platform/ui.h"
#include "support/avi_fixtures.h"
#include "support/cli_run.h"

namespace zov {
namespace {

namespace fs = std::filesystem;

std::string firstLine(const std::string& path) {
  std::ifstream in(path);
  std::string line;
  std::getline(in, line);
  return line;
}

// Demuxes `path` with avidemux: each video buffer to its own file, the audio to one file.
void expectDemuxedAsWritten(const std::string& path, const AviContainer& c,
                            const std::string& dir) {
  const std::string out = dir + "/gst";
  fs::remove_all(out);
  fs::create_directories(out);
  std::string cmd = "gst-launch-1.0 -q filesrc location=" + path +
                    " ! avidemux name=d d.video_0 ! queue ! multifilesink location=" + out +
                    "/v%05d.bin";
  if (c.hasAudio()) cmd += " d.audio_0 ! queue ! filesink location=" + out + "/audio.raw";
  cmd += " > " + dir + "/gst.log 2>&1";
  ASSERT_EQ(std::system(cmd.c_str()), 0)
      << "avidemux rejected " << path << ": see " << dir << "/gst.log";
  uint32_t buffers = 0;
  for (const auto& e : fs::directory_iterator(out))
    if (e.path().filename().string().rfind("v", 0) == 0) ++buffers;
  EXPECT_EQ(buffers, c.frameCount()) << "video buffers of " << path;
  std::vector<uint8_t> ours;
  char name[32];
  for (uint32_t i = 0; i < std::min(buffers, c.frameCount()); ++i) {
    std::snprintf(name, sizeof name, "/v%05u.bin", i);
    ASSERT_TRUE(c.readFrame(i, ours));
    EXPECT_TRUE(test::readFileBytes(out + name) == ours) << "frame " << i << " of " << path;
  }
  if (c.hasAudio()) {
    c.readAudio(0, c.audioLength(), ours);
    EXPECT_TRUE(test::readFileBytes(out + "/audio.raw") == ours) << "audio of " << path;
  }
}

void expectMediaInfo(const std::string& path, const AviContainer& c, const std::string& dir) {
  const std::string general = dir + "/mi-general.txt", video = dir + "/mi-video.txt";
  std::string cmd = "mediainfo --Inform='General;%Format%|%VideoCount%|%AudioCount%' " + path +
                    " > " + general + " 2>&1";
  ASSERT_EQ(std::system(cmd.c_str()), 0);
  EXPECT_EQ(firstLine(general), c.hasAudio() ? "AVI|1|1" : "AVI|1|") << path;
  cmd =
      "mediainfo --Inform='Video;%FrameCount%|%Width%|%Height%' " + path + " > " + video + " 2>&1";
  ASSERT_EQ(std::system(cmd.c_str()), 0);
  const std::vector<uint8_t>& format = c.videoFormat();
  EXPECT_EQ(firstLine(video), std::to_string(c.frameCount()) + "|" +
                                  std::to_string(getLE32(format.data() + 4)) + "|" +
                                  std::to_string(getLE32(format.data() + 8)))
      << path;
}

TEST(RunOutputThirdParty, AviDemuxAndMediaInfoSeeEveryFrameAndAudioByte) {
  const bool gst = test::haveProgram("gst-launch-1.0");
  const bool mi = test::haveProgram("mediainfo");
  if (!gst && !mi) GTEST_SKIP() << "neither gst-launch-1.0 nor mediainfo is installed";
  RecordingMessageBox boxes;
  ScopedMessageBoxSink sink(&boxes);
  const std::string dir = test::tempFolder("third-party");
  const std::string teapot = test::dataFile("teapot-256x256-rgb24.avi");
  const std::string pan = test::dataFile("pan-640x480-mjpeg-pcm.avi");
  struct Output {
    std::string name;
    std::vector<std::string> args;  // after "compress"
    uint32_t frames;
  };
  const std::vector<Output> outputs = {
      {"compressed", {teapot, "--last", "10"}, 10},
      {"compressed-cdrom", {teapot, "--last", "10", "--set", "CDROMTarget=1"}, 10},
      {"copied-cdrom", {dir + "/compressed.avi", "--mode", "copy", "--set", "CDROMTarget=1"}, 10},
      {"audio-cdrom", {pan, "--last", "30", "--set", "CDROMTarget=1"}, 30},
      {"audio-copied", {dir + "/audio-cdrom.avi", "--mode", "copy"}, 30},
      {"audio-copied-cdrom",
       {dir + "/audio-cdrom.avi", "--mode", "copy", "--set", "CDROMTarget=1"},
       30},
  };
  for (const Output& o : outputs) {
    SCOPED_TRACE(o.name);
    const std::string path = dir + "/" + o.name + ".avi";
    std::vector<std::string> args = {"compress"};
    args.insert(args.end(), o.args.begin(), o.args.end());
    args.insert(args.end(), {"-o", path, "-q"});
    test::CliResult r = test::runZovcomp(args);
    ASSERT_EQ(r.rc, 0) << r.err;
    std::string err;
    auto c = AviContainer::open(path, &err);
    ASSERT_TRUE(c) << err;
    ASSERT_EQ(c->frameCount(), o.frames);
    if (o.name.find("cdrom") != std::string::npos) {
      EXPECT_EQ(fs::file_size(path) % 2048, 0u);
    }
    if (gst) expectDemuxedAsWritten(path, *c, dir);
    if (mi) expectMediaInfo(path, *c, dir);
  }
  EXPECT_TRUE(boxes.boxes().empty());
  fs::remove_all(dir);
}

}  // namespace
}  // namespace zov

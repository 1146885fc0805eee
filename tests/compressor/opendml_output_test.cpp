// A movie that passes its first RIFF goes on in OpenDML parts. With the first RIFF's limit
// lowered (the writer's test switch), a movie past the 1 GB mark reads back through the source
// reader's OpenDML index frame for frame, and GStreamer's avidemux and MediaInfo read it too.
// Frames are plain bytes (nothing is coded), so the test costs only the disk traffic.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "encoder/avi_writer.h"
#include "format/stream_format.h"
#include "media/avi_container.h"
#include "support/avi_fixtures.h"

namespace zov {
namespace {

namespace fs = std::filesystem;

constexpr uint32_t kFrames = 1100;
constexpr uint32_t kFrameBytes = 1 << 20;  // 1100 frames of 1 MB: just past 1 GB
constexpr uint32_t kAudioBytes = 3528;     // 1/25 s of 16-bit stereo at 44.1 kHz

// Frame n's bytes: its number, then a pattern of its own; cheap to make and to check.
void fillFrame(std::vector<uint8_t>& v, uint32_t n, uint32_t size) {
  v.resize(size);
  for (size_t i = 0; i < size; i += 64) v[i] = uint8_t(n * 7 + i / 64);
  putLE32(v.data(), n);
}

TEST(OpenDmlOutput, AMoviePastTheFirstRiffReadsBackEverywhere) {
  const std::string dir = test::tempFolder("opendml");
  const std::string path = dir + "/long.avi";
  AviWriterSettings s;
  s.mode = RunMode::NoRecompression;
  s.path = path;
  s.microSecPerFrame = 40000;
  s.fileScale = 1;
  s.fileRate = 25;
  s.width = 640;
  s.height = 480;
  s.sourceVideoFormat = DibHeader{40, 640, 480, 1, 16, kZov2Tag | 0x0200, 640 * 480 * 2}.pack();
  s.withAudio = true;
  s.audioStreamInfo.type = fourcc::kAuds;
  s.audioStreamInfo.scale = 4;
  s.audioStreamInfo.rate = 176400;
  s.audioStreamInfo.sampleSize = 4;
  s.audioFormat = {1, 0, 2, 0, 0x44, 0xAC, 0, 0, 0x10, 0xB1, 2, 0, 4, 0, 16, 0};
  s.openDmlReserve = true;
  s.firstRiffLimit = 64 << 20;
  std::vector<std::string> errors;
  WriterCallbacks cb;
  cb.error = [&](const std::string& t) { errors.push_back(t); };
  {
    AviWriter w;
    ASSERT_TRUE(w.open(s, cb));
    std::vector<uint8_t> video, audio;
    for (uint32_t n = 0; n < kFrames; ++n) {
      fillFrame(video, n, kFrameBytes - (n % 3) * 2);
      fillFrame(audio, ~n, kAudioBytes);
      ASSERT_EQ(w.writeFrameRecord(video.data(), uint32_t(video.size()), audio.data(), kAudioBytes,
                                   n % 25 == 0, n),
                kRecordWritten)
          << "frame " << n;
    }
    EXPECT_TRUE(w.openDml());
    ASSERT_TRUE(w.finish());
  }
  EXPECT_TRUE(errors.empty()) << errors.front();
  EXPECT_GT(fs::file_size(path), uint64_t(1) << 30);

  // The source reader: every frame through the OpenDML index, the key flags, the sound.
  {
    std::string why;
    auto c = AviContainer::open(path, &why);
    ASSERT_TRUE(c) << why;
    EXPECT_EQ(c->indexSource(), AviContainer::IndexSource::OpenDml);
    ASSERT_EQ(c->frameCount(), kFrames);
    std::vector<uint8_t> got, want;
    for (uint32_t n = 0; n < kFrames; ++n) {
      ASSERT_TRUE(c->readFrame(n, got)) << n;
      fillFrame(want, n, kFrameBytes - (n % 3) * 2);
      ASSERT_TRUE(got == want) << "frame " << n;
      ASSERT_EQ(c->isKeyFrame(n), n % 25 == 0) << n;
    }
    EXPECT_EQ(c->audioLength(), uint64_t(kFrames) * kAudioBytes / 4);
    c->readAudio(uint64_t(kFrames - 1) * kAudioBytes / 4, kAudioBytes / 4, got);
    fillFrame(want, ~(kFrames - 1), kAudioBytes);
    EXPECT_TRUE(got == want) << "the last audio block";
  }

  // avidemux: every video buffer, in order, and all the sound.
  const std::string video = dir + "/video.raw", sound = dir + "/audio.raw";
  const std::string cmd = "gst-launch-1.0 -q filesrc location=" + path +
                          " ! avidemux name=d d.video_0 ! queue ! filesink location=" + video +
                          " d.audio_0 ! queue ! filesink location=" + sound + " > " + dir +
                          "/gst.log 2>&1";
  ASSERT_EQ(std::system(cmd.c_str()), 0) << "avidemux rejected the file: see " << dir << "/gst.log";
  {
    std::ifstream in(video, std::ios::binary);
    std::vector<uint8_t> got, want;
    for (uint32_t n = 0; n < kFrames; ++n) {
      fillFrame(want, n, kFrameBytes - (n % 3) * 2);
      got.resize(want.size());
      ASSERT_TRUE(in.read(reinterpret_cast<char*>(got.data()), long(got.size()))) << n;
      ASSERT_TRUE(got == want) << "avidemux's frame " << n;
    }
    EXPECT_EQ(in.peek(), EOF) << "avidemux handed out more video";
  }
  EXPECT_EQ(fs::file_size(sound), uint64_t(kFrames) * kAudioBytes);
  fs::remove(video);

  // MediaInfo: an OpenDML AVI of 1100 frames.
  const std::string info = dir + "/mi.txt";
  const std::string mi = "mediainfo --Inform='General;%Format%|%Format_Profile%' " + path + " > " +
                         info + " && mediainfo --Inform='Video;%FrameCount%|%Width%x%Height%' " +
                         path + " >> " + info;
  ASSERT_EQ(std::system(mi.c_str()), 0);
  std::ifstream in(info);
  std::string general, stream;
  std::getline(in, general);
  std::getline(in, stream);
  EXPECT_EQ(general, "AVI|OpenDML");
  EXPECT_EQ(stream, "1100|640x480");
  fs::remove_all(dir);
}

}  // namespace
}  // namespace zov

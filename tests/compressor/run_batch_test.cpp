// A batch of three segments of the Motion-JPEG pan with its audio, compressed by the command line
// into one file and read back: every frame decodes, the key flags are the run's, and the audio
// stream holds exactly the segments' audio bytes in order.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <memory>
#include <sstream>

#include "compressor/edit_list.h"
#include "compressor/run_source.h"
#include "media/avi_container.h"
#include "media/source_file.h"
#include "media/video_decoder.h"
#include "platform/ui.h"
#include "support/avi_fixtures.h"
#include "support/cli_run.h"

namespace zov {
namespace {

struct Segment {
  uint32_t first, last;  // 0-based, inclusive
};

TEST(RunBatch, ThreeSegmentsOfThePanReadBackFrameKeyAndAudioExact) {
  RecordingMessageBox boxes;
  ScopedMessageBoxSink sink(&boxes);
  const std::string dir = test::tempFolder("batch3");
  const std::string pan = test::dataFile("pan-640x480-mjpeg-pcm.avi");
  const std::string list = dir + "/three.zel", out = dir + "/three.avi";
  // The middle segment runs across the clip's cut at frame 75; the last one ends the clip.
  const Segment segs[] = {{10, 15}, {72, 79}, {144, 149}};
  std::vector<std::unique_ptr<SourceFile>> sources;
  std::vector<SourceFile*> raw;
  for (const Segment& g : segs) {
    auto s = std::make_unique<SourceFile>(pan);
    ASSERT_TRUE(s->Opened);
    s->ExtractionStart = g.first;
    s->ExtractionEnd = g.last;
    raw.push_back(s.get());
    sources.push_back(std::move(s));
  }
  ASSERT_TRUE(saveEditList(list, raw));

  // One encoder thread; the next frames are read on a thread of their own, so the reading
  // overlaps the coding and only the stages on the run's thread add up to at most the total.
  test::CliResult r =
      test::runZovcomp({"compress", list, "-o", out, "--verify", "--times", "--threads", "1"});
  ASSERT_EQ(r.rc, 0) << r.err;
  // The stage timers saw the Motion-JPEG decoding, the coding and the writing.
  double read = 0, filter = -1, encode = 0, write = 0, total = 0;
  const size_t times = r.out.find("Stage times: ");
  ASSERT_NE(times, std::string::npos) << r.out;
  ASSERT_EQ(std::sscanf(r.out.c_str() + times,
                        "Stage times: read %lf s, filter %lf s, encode %lf s, write %lf s, "
                        "total %lf s",
                        &read, &filter, &encode, &write, &total),
            5);
  EXPECT_GT(read, 0);
  EXPECT_EQ(filter, 0);
  EXPECT_GT(encode, 0);
  EXPECT_GT(write, 0);
  EXPECT_LE(read, total * 1.01);
  EXPECT_LE(encode + write, total * 1.01);
  const uint32_t frames = 6 + 8 + 6;
  EXPECT_NE(r.out.find("Wrote " + out + ": 20 frames"), std::string::npos) << r.out;
  const size_t at = r.out.find("Verified 20 frames, PSNR ");
  ASSERT_NE(at, std::string::npos) << r.out;
  EXPECT_GT(std::stod(r.out.substr(at + 25)), 28.0) << r.out;

  // The run's own account of key and inter frames, in order.
  std::vector<bool> runKeys;
  std::istringstream lines(r.out);
  for (std::string l; std::getline(lines, l);) {
    if (l.rfind("KFrame ", 0) == 0) runKeys.push_back(true);
    if (l.rfind("IFrame ", 0) == 0) runKeys.push_back(false);
  }
  ASSERT_EQ(runKeys.size(), frames);

  std::string err;
  auto c = AviContainer::open(out, &err);
  ASSERT_TRUE(c) << err;
  EXPECT_EQ(c->indexSource(), AviContainer::IndexSource::Idx1);
  ASSERT_EQ(c->frameCount(), frames);
  for (uint32_t i = 0; i < frames; ++i) EXPECT_EQ(c->isKeyFrame(i), runKeys[i]) << "frame " << i;

  // Every audio byte of the three segments, in order, whatever records carried it.
  std::vector<uint8_t> expected, block;
  for (auto& s : sources) {
    for (uint32_t f = 0; f < s->framesToCompress(); ++f) {
      uint32_t size = 0;
      ASSERT_TRUE(s->readAudioForFrame(f, block, &size));
      expected.insert(expected.end(), block.begin(), block.begin() + size);
    }
  }
  ASSERT_TRUE(c->hasAudio());
  std::vector<uint8_t> audio;
  EXPECT_EQ(c->audioLength() * 4, expected.size());
  c->readAudio(0, c->audioLength() + 100, audio);
  EXPECT_TRUE(audio == expected) << audio.size() << " audio bytes, " << expected.size()
                                 << " expected";

  // Every frame decodes through the source reader, and the reader agrees on the timing.
  installZovDecoderWithFallback();
  SourceFile back(out);
  ASSERT_TRUE(back.Opened);
  EXPECT_EQ(back.FrameCount, frames);
  EXPECT_EQ(back.MicroSecPerFrame, sources[0]->MicroSecPerFrame);
  EXPECT_EQ(back.AudioLength * 4, expected.size());
  std::vector<uint8_t> bmp;
  for (uint32_t f = 0; f < frames; ++f) {
    bool key = !runKeys[f];
    ASSERT_TRUE(back.getFrame(f, bmp, &key, true, false, false)) << "frame " << f;
    EXPECT_EQ(key, runKeys[f]) << "frame " << f;
  }
  setZovDecoderFactory(nullptr);
  EXPECT_TRUE(boxes.boxes().empty());
  std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace zov

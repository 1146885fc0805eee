// Run control on the real footage: the size limit met during the audio preload, between frames of
// a movie with audio and in a copy; and a run that was suspended and resumed writes the same file
// as one that was not.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <memory>
#include <thread>

#include "compressor/edit_list.h"
#include "compressor/run_source.h"
#include "encoder/compression_run.h"
#include "media/avi_container.h"
#include "media/source_file.h"
#include "media/video_decoder.h"
#include "platform/ui.h"
#include "support/avi_fixtures.h"
#include "support/cli_run.h"

namespace zov {
namespace {

namespace fs = std::filesystem;

TEST(RunReview, CutOffDuringThePreloadBetweenFramesAndInACopy) {
  RecordingMessageBox boxes;
  ScopedMessageBoxSink sink(&boxes);
  const std::string dir = test::tempFolder("review-cutoff");
  const std::string pan = test::dataFile("pan-640x480-mjpeg-pcm.avi");
  const std::string whole = dir + "/whole.avi";
  ASSERT_EQ(test::runZovcomp({"compress", pan, "-o", whole, "--last", "12", "-q"}).rc, 0);
  auto w = AviContainer::open(whole, nullptr);
  ASSERT_TRUE(w);
  ASSERT_EQ(w->frameCount(), 12u);

  // Nine of the preload records of 5880 bytes pass 50 KB: the movie ends before its first frame.
  {
    const std::string path = dir + "/preload.avi";
    test::CliResult r = test::runZovcomp(
        {"compress", pan, "-o", path, "--last", "12", "--set", "CutOffKBLimit=50"});
    ASSERT_EQ(r.rc, 0) << r.err;
    EXPECT_NE(r.out.find("CutOff KB Limit reached\n"), std::string::npos) << r.out;
    EXPECT_LE(fs::file_size(path), 50u * 1024);
    auto c = AviContainer::open(path, nullptr);
    ASSERT_TRUE(c);
    EXPECT_EQ(c->frameCount(), 0u);
    EXPECT_GT(c->audioLength(), 0u);
    test::expectStartOfWholeRun(*c, *w);
    // A movie without frames is no source: a clear error, no crash.
    test::CliResult again = test::runZovcomp({"compress", path, "-o", dir + "/again.avi"});
    EXPECT_EQ(again.rc, 1);
    EXPECT_NE(again.err.find("AVC0006E"), std::string::npos) << again.err;
    EXPECT_NE(again.err.find("\"" + path + "\" can't be read as a source"), std::string::npos)
        << again.err;
  }
  // Past the preload: a few frames with their audio.
  {
    const std::string path = dir + "/frames.avi";
    test::CliResult r = test::runZovcomp(
        {"compress", pan, "-o", path, "--last", "12", "--set", "CutOffKBLimit=400", "--verify"});
    ASSERT_EQ(r.rc, 0) << r.err;
    auto c = AviContainer::open(path, nullptr);
    ASSERT_TRUE(c);
    EXPECT_GT(c->frameCount(), 0u);
    EXPECT_LT(c->frameCount(), 12u);
    EXPECT_NE(
        r.out.find("CutOff KB Limit reached, last frame = " + std::to_string(c->frameCount())),
        std::string::npos)
        << r.out;
    EXPECT_NE(r.out.find("Verified " + std::to_string(c->frameCount()) + " frames"),
              std::string::npos)
        << r.out;
    EXPECT_LE(fs::file_size(path), 400u * 1024);
    test::expectStartOfWholeRun(*c, *w);
  }
  // A copy on CD-ROM sectors stops within its limit too.
  {
    const std::string path = dir + "/copy.avi";
    test::CliResult r =
        test::runZovcomp({"compress", whole, "-o", path, "--mode", "copy", "--set", "CDROMTarget=1",
                          "--set", "CutOffKBLimit=300", "--verify"});
    ASSERT_EQ(r.rc, 0) << r.err;
    auto c = AviContainer::open(path, nullptr);
    ASSERT_TRUE(c);
    EXPECT_LT(c->frameCount(), 12u);
    EXPECT_LE(fs::file_size(path), 300u * 1024);
    EXPECT_EQ(fs::file_size(path) % 2048, 0u);
    test::expectStartOfWholeRun(*c, *w);
  }
  EXPECT_TRUE(boxes.boxes().empty());
  fs::remove_all(dir);
}

TEST(RunReview, SuspendedAndResumedRunWritesTheSameFile) {
  RecordingMessageBox boxes;
  ScopedMessageBoxSink sink(&boxes);
  const std::string dir = test::tempFolder("review-suspend");
  SourceFile src(test::dataFile("teapot-256x256-rgb24.avi"));
  ASSERT_TRUE(src.Opened);
  src.ExtractionEnd = 9;
  auto runOnce = [&](const std::string& out, bool pause) {
    SourceFileRunSource rs(src);
    CompressionSettings s;
    CompressionRun run;
    RunRequest req;
    req.outputPath = out;
    req.sources = {&rs};
    req.settings = &s;
    std::atomic<bool> held{false};
    RunCallbacks cb;
    cb.progress = [&](const RunProgress& p) {
      if (pause && p.done == 4 && !held.exchange(true)) run.suspend();
    };
    EXPECT_TRUE(run.start(std::move(req), cb));
    if (pause) {
      while (!held) std::this_thread::sleep_for(std::chrono::milliseconds(2));
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
      EXPECT_EQ(run.framesWritten(), 4u);
      run.resume();
    }
    EXPECT_EQ(run.wait(), 0);
    EXPECT_EQ(run.framesWritten(), 10u);
  };
  runOnce(dir + "/straight.avi", false);
  runOnce(dir + "/paused.avi", true);
  EXPECT_TRUE(test::readFileBytes(dir + "/straight.avi") ==
              test::readFileBytes(dir + "/paused.avi"));
  fs::remove_all(dir);
}

}  // namespace
}  // namespace zov

namespace zov {
namespace {

// Segments of different sizes can't share a movie: the command line refuses the list with the
// mix check's message, and the run itself halts on a frame whose size changed rather than reading
// past the smaller picture.
TEST(RunReview, SegmentsOfDifferentSizesAreRefused) {
  RecordingMessageBox boxes;
  ScopedMessageBoxSink sink(&boxes);
  const std::string dir = test::tempFolder("review-mix");
  const std::string list = dir + "/mixed.zel", out = dir + "/mixed.avi";
  auto pan = std::make_unique<SourceFile>(test::dataFile("pan-640x480-mjpeg-pcm.avi"));
  auto teapot = std::make_unique<SourceFile>(test::dataFile("teapot-256x256-rgb24.avi"));
  ASSERT_TRUE(pan->Opened && teapot->Opened);
  pan->ExtractionEnd = 2;
  teapot->ExtractionEnd = 2;
  ASSERT_TRUE(saveEditList(list, {pan.get(), teapot.get()}));
  test::CliResult r = test::runZovcomp({"compress", list, "-o", out});
  EXPECT_EQ(r.rc, 1);
  EXPECT_NE(r.err.find("MCP0013E You are attempting to mix files which have different sizes."),
            std::string::npos)
      << r.err;

  SourceFileRunSource a(*pan), b(*teapot);
  CompressionSettings s;
  CompressionRun run;
  RunRequest req;
  req.outputPath = out;
  req.sources = {&a, &b};
  req.settings = &s;
  req.options.NoAudio = true;  // the teapot has none
  std::vector<std::string> errors;
  RunCallbacks cb;
  cb.error = [&](const std::string& t) { errors.push_back(t); };
  EXPECT_EQ(run.runHere(std::move(req), cb), -1);
  // The pan's frames are written up to the encoder's look-ahead.
  EXPECT_GE(run.framesWritten(), 2u);
  EXPECT_LE(run.framesWritten(), 3u);
  ASSERT_FALSE(errors.empty());
  EXPECT_EQ(errors.back(), "Frame 4 is 256x256, the movie is 640x480 - compression halted");
  fs::remove_all(dir);
}

}  // namespace
}  // namespace zov

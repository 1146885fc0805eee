// Edit lists: the edit-list file round trip and its failures, moving between segments, the
// dialog's line texts, and the mix check's rules and messages.
#include <gtest/gtest.h>

#include <fstream>

#include "compressor/edit_list.h"
#include "media/source_file.h"
#include "media/source_messages.h"
#include "platform/profile.h"
#include "platform/ui.h"
#include "support/avi_fixtures.h"

namespace zov {
namespace {

using test::FixtureMovie;

FixtureMovie smallMovie(int frames, int w, int h) {
  FixtureMovie m;
  m.width = w;
  m.height = h;
  for (int i = 0; i < frames; ++i)
    m.frames.push_back(test::makeDib24(w, h, [i](int x, int y) {
      return uint32_t((x * 20 + i) & 255) << 16 | uint32_t((y * 20) & 255) << 8 | 0x30;
    }));
  return m;
}

class EditListFiles : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = test::tempFolder("edit-list");
    a_ = dir_ + "/a.avi";
    b_ = dir_ + "/b.avi";
    ASSERT_EQ(test::writeFixture(a_, smallMovie(10, 16, 8)), 10);
    ASSERT_EQ(test::writeFixture(b_, smallMovie(6, 32, 16)), 6);
    setSourceMessageSink([this](const std::string& t, SourceMessageStyle) {
      sourceMessages_.push_back(t);
      return kSourceAnswerCancel;
    });
  }
  void TearDown() override { setSourceMessageSink(nullptr); }

  std::string list() const { return dir_ + "/list.ini"; }
  void writeList(const std::string& text) const { std::ofstream(list()) << text; }

  std::string dir_, a_, b_;
  std::vector<std::string> sourceMessages_;
  RecordingMessageBox boxes_;
  ScopedMessageBoxSink scoped_{&boxes_};
};

TEST_F(EditListFiles, SavedListLoadsWithEverySegmentsSettings) {
  auto first = openSegment(a_);
  auto second = openSegment(b_);
  ASSERT_TRUE(first && second);
  first->ExtractionStart = 2;
  first->ExtractionEnd = 7;
  first->CropX = 4;
  first->CropWidth = 12;
  first->CurrentFrame = 5;
  second->CropY = 4;
  second->CropHeight = 8;
  second->LetterBoxTop = 4;
  second->LetterBoxBottom = 4;
  second->ResizeWidth = 16;
  second->ResizeHeight = 8;
  second->ResizeInterpolate = false;
  second->ResizeStripType = 2;
  second->CurrentFrame = 3;
  ASSERT_TRUE(saveEditList(list(), {first.get(), second.get()}));
  EXPECT_TRUE(boxes_.texts().empty());

  auto loaded = loadEditList(list());
  ASSERT_TRUE(loaded);
  ASSERT_EQ(loaded->size(), 2u);
  const SourceFile& a = *(*loaded)[0];
  const SourceFile& b = *(*loaded)[1];
  EXPECT_EQ(a.Path, a_);
  EXPECT_EQ(a.ExtractionStart, 2u);
  EXPECT_EQ(a.ExtractionEnd, 7u);
  EXPECT_EQ(a.CropX, 4u);
  EXPECT_EQ(a.CropWidth, 12u);
  EXPECT_EQ(a.CropHeight, 8u);  // as the file's opening set it
  EXPECT_EQ(a.CurrentFrame.load(), 5u);
  EXPECT_EQ(b.Path, b_);
  EXPECT_EQ(b.CropY, 4u);
  EXPECT_EQ(b.CropHeight, 8u);
  EXPECT_EQ(b.LetterBoxTop, 4u);
  EXPECT_EQ(b.LetterBoxBottom, 4u);
  EXPECT_EQ(b.ResizeWidth, 16u);
  EXPECT_EQ(b.ResizeHeight, 8u);
  EXPECT_FALSE(b.ResizeInterpolate);
  EXPECT_EQ(b.ResizeStripType, 2u);
  EXPECT_EQ(b.CurrentFrame.load(), 3u);

  ProfileFile file(list());
  EXPECT_EQ(file.keys(kEditListSection).front(), "FileName0");
  EXPECT_EQ(file.keys(kEditListSection).back(), "TotalFiles");
  EXPECT_EQ(file.keys(kEditListSection).size(), 2u * 14 + 1);
}

TEST_F(EditListFiles, ListWithoutSegmentsIsRefused) {
  writeList("[ZOVComp Edit List]\nTotalFiles=0\n");
  EXPECT_FALSE(loadEditList(list()));
  EXPECT_EQ(boxes_.texts(),
            std::vector<std::string>{"MCP0038E No valid settings located in \"" + list() + "\""});
  EXPECT_EQ(boxes_.boxes()[0].title, "ZOV Compressor");
}

TEST_F(EditListFiles, MissingFileNameDiscardsTheSegmentsLoadedSoFar) {
  writeList("[ZOVComp Edit List]\nTotalFiles=3\nFileName0=" + a_ + "\nFileName2=" + b_ + "\n");
  int opened = 0;
  auto result = loadEditList(list(), [&](const std::string& p) {
    ++opened;
    return openSegment(p);
  });
  EXPECT_FALSE(result);
  EXPECT_EQ(opened, 1);
  EXPECT_EQ(boxes_.texts(),
            std::vector<std::string>{"MCP0040E Invalid settings in \"" + list() + "\""});
}

TEST_F(EditListFiles, SegmentThatCannotBeOpenedEndsTheLoad) {
  writeList("[ZOVComp Edit List]\nTotalFiles=2\nFileName0=" + a_ + "\nFileName1=" + dir_ +
            "/missing.avi\n");
  EXPECT_FALSE(loadEditList(list()));
  // One message naming the list, the segment, its file and the reason.
  EXPECT_EQ(boxes_.texts(), std::vector<std::string>{"MCP0040E Invalid settings in \"" + list() +
                                                     "\"\rSegment 2: \"" + dir_ +
                                                     "/missing.avi\": No such file or directory"});
}

TEST_F(EditListFiles, ValuesTheFileCannotServeAreRefused) {
  for (std::string bad : {"ExtractionEnd0=10", "ExtractionStart0=4294967295", "CropX0=16",
                          "ResizeWidth0=100000", "CropWidth0=0", "ResizeStripType0=7"}) {
    boxes_.clear();
    writeList("[ZOVComp Edit List]\nTotalFiles=1\nFileName0=" + a_ + "\n" + bad + "\n");
    EXPECT_FALSE(loadEditList(list())) << bad;
    ASSERT_EQ(boxes_.texts().size(), 1u) << bad;
    EXPECT_EQ(
        boxes_.texts()[0].rfind(
            "MCP0040E Invalid settings in \"" + list() + "\"\rSegment 1 (\"" + a_ + "\"): ", 0),
        0u)
        << boxes_.texts()[0];
  }
  // A current frame beyond the file is only held at its last frame.
  writeList("[ZOVComp Edit List]\nTotalFiles=1\nFileName0=" + a_ + "\nCurrentFrame0=99\n");
  auto loaded = loadEditList(list());
  ASSERT_TRUE(loaded);
  EXPECT_EQ((*loaded)[0]->CurrentFrame.load(), 9u);
}

TEST_F(EditListFiles, SaveFailuresAreReportedWithTheSystemCode) {
  auto first = openSegment(a_);
  ASSERT_TRUE(first);
  profile_testing::setWriteFault([](std::string_view, std::string_view key) {
    return key.empty() ? 13 : 0;  // the section update
  });
  EXPECT_FALSE(saveEditList(list(), {first.get()}));
  profile_testing::setWriteFault(
      [](std::string_view, std::string_view key) { return key == "CropHeight0" ? 28 : 0; });
  EXPECT_FALSE(saveEditList(list(), {first.get()}));
  profile_testing::setWriteFault(nullptr);
  EXPECT_EQ(boxes_.texts(),
            (std::vector<std::string>{
                "MCP0041E Unable to save settings into \"" + list() + "\", rc=13",
                "MCP0042E Unable to save settings into \"" + list() + "\", rc=28"}));
  // Saving stopped at the failing key: the keys before it are there, "TotalFiles" is not.
  ProfileFile file(list());
  EXPECT_TRUE(file.hasKey(kEditListSection, "CropWidth0"));
  EXPECT_FALSE(file.hasKey(kEditListSection, "TotalFiles"));
}

TEST_F(EditListFiles, LineTextAndCaption) {
  auto s = openSegment(a_);
  ASSERT_TRUE(s);
  s->ExtractionStart = 1;
  s->ExtractionEnd = 4;
  // 66666 microseconds a frame.
  EXPECT_EQ(editListLineText(*s), a_ + "\nSize=16x8  Frames=2 to 5\n15.0002 FPS, Audio=NONE");
  EXPECT_EQ(editListCaption(true), "[From] [To] [Source AVI File] List:");
  EXPECT_EQ(editListCaption(false), "[Source AVI File] List:");
}

TEST(EditListSegments, StepWrapsAroundAndNeedsTwoSegments) {
  EXPECT_EQ(stepSegment(2, 3, true, false), 0u);
  EXPECT_EQ(stepSegment(0, 3, false, false), 2u);
  EXPECT_EQ(stepSegment(1, 3, true, false), 2u);
  EXPECT_EQ(stepSegment(0, 1, true, false), std::nullopt);
  EXPECT_EQ(stepSegment(0, 3, true, true), std::nullopt);
}

// ---- Mix check ----

MixSegment segment(const std::string& name) {
  MixSegment m;
  m.name = name;
  m.width = 320;
  m.height = 240;
  m.microSecPerFrame = 33333;
  m.framesPerSecond = 30.0;
  m.outputBitCount = 16;
  m.hasAudio = true;
  m.audioPreloadFrames = 23;
  m.sampleRate = 22050;
  m.blockAlign = 4;
  m.samplesPerFrame = 735.0;
  m.framesToCompress = 100;
  m.audioSamples = 73500;
  return m;
}

class MixCheck : public ::testing::Test {
 protected:
  std::string only(const std::vector<MixSegment>& list, MixRun run, bool noAudio = false) {
    boxes_.clear();
    EXPECT_FALSE(checkMix(list, run, noAudio));
    auto texts = boxes_.texts();
    EXPECT_EQ(texts.size(), 1u);
    return texts.empty() ? "" : texts[0];
  }
  RecordingMessageBox boxes_;
  ScopedMessageBoxSink scoped_{&boxes_};
};

TEST_F(MixCheck, MatchingSegmentsPassWithTheirTotals) {
  auto totals =
      checkMix({segment("a.avi"), segment("b.avi"), segment("c.avi")}, MixRun::Compress, false);
  ASSERT_TRUE(totals);
  EXPECT_EQ(totals->frames, 300u);
  EXPECT_EQ(totals->audioSamples, 220500u);
  EXPECT_TRUE(boxes_.texts().empty());
}

TEST_F(MixCheck, CommonRules) {
  MixSegment a = segment("a.avi"), b = segment("b.avi");
  b.microSecPerFrame = 66666;
  b.framesPerSecond = 15.0;
  EXPECT_EQ(only({a, b}, MixRun::Compress),
            "MCP0014E You are attempting to mix files which have different frames per second "
            "(FPS).\rThe FPS of b.avi is 15.00\rThe FPS of a.avi is 30.00");
  b = segment("b.avi");
  b.width = 160;
  EXPECT_EQ(only({a, b}, MixRun::Compress),
            "MCP0013E You are attempting to mix files which have different sizes.\r"
            "The size of b.avi is 160x240\rThe size of a.avi is 320x240\r"
            "You can use cropping or resizing to attain an identical width and height.");
  b = segment("b.avi");
  b.outputBitCount = 8;
  EXPECT_EQ(only({a, b}, MixRun::Compress),
            "MCP0015E You are attempting to mix files which have different bitcounts.\r"
            "The bitcount if b.avi is 8\rThe bitcount if a.avi is 16");
  b = segment("b.avi");
  b.letterBoxTop = 4;
  EXPECT_EQ(only({a, b}, MixRun::Compress),
            "MCP0021E You are attempting to mix different LetterBox settings.\r"
            "The file b.avi has LetterBox settings of top=4 and bottom=0\r"
            "The file a.avi has LetterBox settings of top=0 and bottom=0\r"
            "You can control LetterBoxing in the Extract/Crop dialog.");
}

TEST_F(MixCheck, AudioRulesUnlessNoAudio) {
  MixSegment a = segment("a.avi"), b = segment("b.avi");
  b.hasAudio = false;
  EXPECT_EQ(only({a, b}, MixRun::Compress),
            "MCP0016E You are attempting to mix files which have audio with files which have no "
            "audio.\rThe file b.avi does not have audio\rThe file a.avi has audio\r"
            "You can select 'No Audio' in the compressor settings dialog to mix these files.");
  EXPECT_TRUE(checkMix({a, b}, MixRun::Compress, true));
  b = segment("b.avi");
  b.audioPreloadFrames = 11;
  EXPECT_EQ(only({a, b}, MixRun::Compress),
            "MCP0017E You are attempting to mix files which have different leading audio "
            "counts.\rThe leading audio count for b.avi is 11\r"
            "The leading audio count for a.avi is 23");
  b = segment("b.avi");
  b.sampleRate = 11025;
  EXPECT_EQ(only({a, b}, MixRun::Compress),
            "MCP0018E You are attempting to mix files which have different audio frequencies.\r"
            "The audio frequency of b.avi is 11025\rThe audio frequency of a.avi is 22050");
  b = segment("b.avi");
  b.blockAlign = 2;
  EXPECT_EQ(only({a, b}, MixRun::Compress),
            "MCP0019E You are attempting to mix files which have different audio sample sizes.\r"
            "The audio sample size of b.avi is 2\rThe audio sample size of a.avi is 4");
  b = segment("b.avi");
  b.samplesPerFrame = 735.5;
  EXPECT_EQ(only({a, b}, MixRun::Compress),
            "MCP0020E You are attempting to mix files which have different audio per frame "
            "sizes.\rThe audio per frame of b.avi is 735.500000\r"
            "The audio per frame of a.avi is 735.000000");
  b.samplesPerFrame = 735.0;
  b.blockAlign = 2;
  EXPECT_TRUE(checkMix({a, b}, MixRun::Compress, true));  // "No Audio" skips them all
}

TEST_F(MixCheck, CopyRulesOnlyForCopyRuns) {
  MixSegment a = segment("a.avi"), b = segment("b.avi");
  b.startsWithKeyFrame = false;
  b.needsSpecial = true;
  b.singleField = true;
  EXPECT_TRUE(checkMix({a, b}, MixRun::Compress, false));
  EXPECT_EQ(only({a, b}, MixRun::NoRecompression),
            "MCP0012E You are attempting to do a no recompression mix,\r"
            "but b.avi does not start with a keyframe (it must).");
  b.startsWithKeyFrame = true;
  EXPECT_EQ(only({a, b}, MixRun::ZevFile),
            "MCP0022E The file b.avi is not suitable for mixing with other files.");
  b.needsSpecial = false;
  EXPECT_EQ(only({a, b}, MixRun::MltFile),
            "MCP0023E You are attempting to mix a single field file with a non-single field "
            "file.\rb.avi is single-field\ra.avi is not single-field");
  b.singleField = false;
  a.wideField = true;
  EXPECT_EQ(only({a, b}, MixRun::NoRecompression),
            "MCP0024E You are attempting to mix a wide field file with a non-wide field file.\r"
            "b.avi is not wide-field\ra.avi is wide-field");
  a = segment("a.avi");
  a.startsWithKeyFrame = false;
  EXPECT_EQ(only({a}, MixRun::NoRecompression),
            "MCP0011E You are attempting to do a no recompression,\r"
            "but a.avi does not start with a keyframe (it must).");
}

TEST_F(MixCheck, StreamFilesNeedThreeQuartersOfASecond) {
  MixSegment a = segment("a.avi"), b = segment("b.avi");
  a.framesToCompress = 10;
  b.framesToCompress = 12;
  EXPECT_EQ(only({a, b}, MixRun::ZevFile),
            "MCP0025E ZEV file too small (must have at least 3/4 second of data)");
  EXPECT_TRUE(checkMix({a, b}, MixRun::NoRecompression, false));
  b.framesToCompress = 13;
  EXPECT_TRUE(checkMix({a, b}, MixRun::MltFile, false));
}

}  // namespace
}  // namespace zov

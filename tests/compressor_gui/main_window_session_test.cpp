// The window's state without widgets: navigation and marks, the input information lines, the
// stop protocol's steps, and the job written as a command line read back by the command line's
// own parser.
#include <sstream>

#include "compressor/gui/compressor_session.h"
#include "compressor/gui/goto_frame_dialog.h"
#include "compressor/gui/job_command_line.h"
#include "compressor/gui/single_instance.h"
#include "compressor/zovcomp_cli.h"
#include "main_window_test_support.h"

namespace zov {
namespace {

using testing_window::teapotPath;
using testing_window::WindowTest;

class SessionTest : public WindowTest {
 protected:
  void SetUp() override {
    WindowTest::SetUp();
    SessionHooks hooks;
    hooks.box = [this](const std::string& text, const std::string& title, uint32_t style) {
      return messageBox(nullptr, text, title, style);
    };
    hooks.beep = [this](int hz, int ms) { beeps_.push_back({hz, ms}); };
    hooks.pump = [] {};
    hooks.sleep = [](int) {};
    session_.setHooks(hooks);
  }
  CompressorSession session_;
  std::vector<std::pair<int, int>> beeps_;
};

TEST_F(SessionTest, NavigationStopsAtBothEndsWithTheSpecifiedTones) {
  ASSERT_TRUE(session_.openSource(teapotPath()));
  EXPECT_EQ(session_.currentFrame(), 0u);
  EXPECT_EQ(session_.statusLine(0), "1: Size=256x256, Frame=1/45, (Keyframe in source AVI)");
  EXPECT_EQ(session_.statusLine(1), "30.0000 FPS, Raw Source Frame Size = 196608");
  EXPECT_EQ(session_.statusLine(2), "(Not an ZOV2 file) , Audio=NONE");

  EXPECT_FALSE(session_.navigate(kCmdPreviousFrame));  // at the first frame
  EXPECT_FALSE(session_.navigate(kCmdFirstFrame));
  ASSERT_EQ(beeps_.size(), 2u);
  EXPECT_EQ(beeps_[0], std::make_pair(1000, 500));

  EXPECT_TRUE(session_.navigate(kCmdNextFrame));
  EXPECT_TRUE(session_.navigate(kCmdForward15));
  EXPECT_EQ(session_.currentFrame(), 16u);
  EXPECT_EQ(session_.statusLine(0), "1: Size=256x256, Frame=17/45, (Keyframe in source AVI)");
  EXPECT_TRUE(session_.navigate(kCmdBack15));
  EXPECT_EQ(session_.currentFrame(), 1u);
  EXPECT_TRUE(session_.navigate(kCmdBack15));  // not below 0
  EXPECT_EQ(session_.currentFrame(), 0u);

  // PageDown from 10 frames before the end reaches the last frame; End there only beeps.
  ASSERT_TRUE(session_.gotoFrame(34));
  EXPECT_TRUE(session_.navigate(kCmdForward15));
  EXPECT_EQ(session_.currentFrame(), 44u);
  beeps_.clear();
  EXPECT_FALSE(session_.navigate(kCmdLastFrame));
  EXPECT_FALSE(session_.navigate(kCmdForward15));
  EXPECT_FALSE(session_.navigate(kCmdNextFrame));
  EXPECT_EQ(session_.currentFrame(), 44u);
  ASSERT_EQ(beeps_.size(), 3u);
  EXPECT_EQ(beeps_[1], std::make_pair(500, 250));  // "Move 15 Frames Forward" has its own tone
}

TEST_F(SessionTest, NavigationWithoutSourceBeeps) {
  EXPECT_FALSE(session_.navigate(kCmdNextFrame));
  EXPECT_FALSE(session_.gotoFrame(0));
  EXPECT_EQ(beeps_.size(), 2u);
}

TEST_F(SessionTest, MarksMoveTheOtherEndAlongWhenCrossed) {
  ASSERT_TRUE(session_.openSource(teapotPath()));
  SourceFile& s = *session_.currentSource();
  ASSERT_TRUE(session_.gotoFrame(10));
  session_.markOut();
  EXPECT_EQ(s.ExtractionStart, 0u);
  EXPECT_EQ(s.ExtractionEnd, 10u);
  ASSERT_TRUE(session_.gotoFrame(20));
  session_.markIn();  // beyond the end: both ends move
  EXPECT_EQ(s.ExtractionStart, 20u);
  EXPECT_EQ(s.ExtractionEnd, 20u);
  ASSERT_TRUE(session_.gotoFrame(5));
  session_.markOut();  // before the start: both ends move
  EXPECT_EQ(s.ExtractionStart, 5u);
  EXPECT_EQ(s.ExtractionEnd, 5u);
  ASSERT_TRUE(session_.gotoFrame(30));
  session_.markOut();
  EXPECT_EQ(s.ExtractionStart, 5u);
  EXPECT_EQ(s.ExtractionEnd, 30u);
}

TEST_F(SessionTest, TitlesAndFolders) {
  EXPECT_EQ(frameTitle("", ""), "(no file open)");
  EXPECT_EQ(frameTitle("/a/b/clip.avi", ""), "clip.avi");
  EXPECT_EQ(frameTitle("/a/b/clip.avi", "/c/out.avi"), "clip.avi --> out.avi");
  EXPECT_EQ(folderOf("/a/b/clip.avi"), "/a/b/");
  EXPECT_EQ(folderOf("clip.avi"), "/");
  std::array<std::string, 8> recall{"x", "y", "z"};
  rememberRecentFile(recall, "y");
  EXPECT_EQ(recall[0], "y");
  EXPECT_EQ(recall[1], "x");
  EXPECT_EQ(recall[2], "z");
  EXPECT_EQ(recall[3], "");
}

TEST_F(SessionTest, StatusLineTwoDescribesZovKeyFrameHeaders) {
  SourceFile s(testing_window::zovSamplePath());
  ASSERT_TRUE(s.Opened);
  ASSERT_TRUE(s.FormatV4);
  // KEY, scheme 4 (1611), EDGE: the first 32-bit word's top bits.
  const uint8_t header[4] = {0x00, 0x00, 0x00, 0xC4};
  EXPECT_EQ(inputInfoLine2(s, header, 4, true).rfind("Video=EDGE 1611", 0), 0u);
  const uint8_t notKey[4] = {0, 0, 0, 0x40};
  EXPECT_EQ(inputInfoLine2(s, notKey, 4, true).rfind("(ZOV2 KeyFrame != Index Error) ", 0), 0u);
  EXPECT_EQ(inputInfoLine2(s, nullptr, 0, true).rfind("(ZOV2 Data Error) ", 0), 0u);
  const uint8_t all[4] = {0, 0, 0, 0xFF};  // scheme 7: not one of the five
  EXPECT_EQ(inputInfoLine2(s, all, 4, true).rfind("Video=LBOX FLAT EDGE ENPY ???", 0), 0u);
}

TEST(StopProtocolTest, RefusesASecondStopAndAsksWhenTold) {
  std::atomic<bool> inProgress{true};
  StopProtocol p;
  p.threadRunning = [] { return true; };
  EXPECT_EQ(runStopProtocol(p, false, inProgress), StopResult::Refused);
  inProgress = false;
  std::vector<std::string> asked;
  p.box = [&](const std::string& text, const std::string& title, uint32_t style) {
    asked.push_back(title + ": " + text);
    EXPECT_EQ(style, uint32_t(MB_YESNO | MB_ICONSTOP));
    return IDNO;
  };
  EXPECT_EQ(runStopProtocol(p, true, inProgress), StopResult::Cancelled);
  ASSERT_EQ(asked.size(), 1u);
  EXPECT_EQ(asked[0], "ZOV Compressor: MCP0035Q Compression in progress!\rDo you wish to abort?");
  EXPECT_FALSE(inProgress);
  p.threadRunning = [] { return false; };
  EXPECT_EQ(runStopProtocol(p, true, inProgress), StopResult::NoRun);
}

TEST(StopProtocolTest, GivesUpAfterTwoMinutesOfPolling) {
  std::atomic<bool> inProgress{false};
  int slept = 0, pumped = 0, stops = 0, abandoned = 0;
  std::vector<std::string> lines, boxes;
  StopProtocol p;
  p.threadRunning = [] { return true; };
  p.requestStop = [&] { ++stops; };
  p.pump = [&] { ++pumped; };
  p.sleep = [&](int ms) { slept += ms; };
  p.addMessage = [&](const std::string& l) { lines.push_back(l); };
  p.box = [&](const std::string& text, const std::string&, uint32_t) {
    boxes.push_back(text);
    return IDOK;
  };
  p.abandon = [&] { ++abandoned; };
  EXPECT_EQ(runStopProtocol(p, false, inProgress), StopResult::TimedOut);
  EXPECT_EQ(stops, 1);
  EXPECT_EQ(pumped, 240);
  EXPECT_EQ(slept, 240 * 500 + 1000);
  EXPECT_EQ(abandoned, 1);
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0], "Halting compression, please wait...");
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0], "MCP0036E 2 minutes inactivity - terminating compression thread");

  // A thread that ends on the third look: two passes, then the short pause.
  int looks = 0;
  slept = 0;
  p.threadRunning = [&] { return ++looks < 4; };
  EXPECT_EQ(runStopProtocol(p, false, inProgress), StopResult::Stopped);
  EXPECT_EQ(slept, 2 * 500 + 500);
}

TEST(GotoFrameTest, TargetIsClampedIntoTheSource) {
  EXPECT_EQ(gotoFrameTarget("0", 45), 1u);
  EXPECT_EQ(gotoFrameTarget("", 45), 1u);
  EXPECT_EQ(gotoFrameTarget("17", 45), 17u);
  EXPECT_EQ(gotoFrameTarget("46", 45), 45u);
  EXPECT_EQ(gotoFrameTarget("99999999999999", 45), 45u);
}

TEST_F(SessionTest, SecondLockOnTheSameFileIsRefused) {
  SingleInstanceLock first, second;
  ASSERT_TRUE(first.acquire(file("lock")));
  EXPECT_FALSE(second.acquire(file("lock")));
  first.release();
  EXPECT_TRUE(second.acquire(file("lock")));
}

// Splits a line the way a POSIX shell splits the quoting jobCommandLine writes.
std::vector<std::string> shellWords(const std::string& line) {
  std::vector<std::string> words;
  std::string cur;
  bool inWord = false, quoted = false;
  for (size_t i = 0; i < line.size(); ++i) {
    const char c = line[i];
    if (quoted) {
      if (c == '\'')
        quoted = false;
      else
        cur += c;
    } else if (c == '\'') {
      quoted = inWord = true;
    } else if (c == '\\' && i + 1 < line.size()) {
      cur += line[++i];
      inWord = true;
    } else if (c == ' ') {
      if (inWord) words.push_back(cur);
      cur.clear();
      inWord = false;
    } else {
      cur += c;
      inWord = true;
    }
  }
  if (inWord) words.push_back(cur);
  return words;
}

TEST_F(SessionTest, CommandLineOfTheJobParsesBackToTheSameSettings) {
  ASSERT_TRUE(session_.openSource(teapotPath()));
  SourceFile& s = *session_.currentSource();
  s.ExtractionStart = 3;
  s.ExtractionEnd = 40;
  s.CropX = 8;
  s.CropY = 4;
  s.CropWidth = 240;
  s.CropHeight = 248;
  s.LetterBoxTop = 4;
  s.LetterBoxBottom = 4;
  s.ResizeInterpolate = false;
  CompressionSettings& st = session_.settings();
  st.KeyRate = 7;
  st.ImageLossLevel = 3;
  st.CompressionType = 2;
  st.EnhancedEdges = false;
  st.DataRateControl = true;
  st.DataRate = 150 << 10;
  st.ChromaBackground = "/tmp/with space/it's.bmp";
  st.updateDerived();
  CompressorOptions& o = session_.options();
  o.DualInitialKeyFrames = false;
  o.CutOffKBLimit = 900;
  o.NoAudio = true;
  o.Filters = {{kFilterGamma, 120}, {kFilterMedian, 1}, {kFilterBrightness, -3}};
  o.PackPadding = 1;

  const std::string out = file("out dir/job.avi");
  const std::string line = jobCommandLine(jobArguments(s.Path, &s, out, RunMode::Compress, st, o));
  ASSERT_EQ(line.rfind("zovcomp compress ", 0), 0u) << line;
  auto words = shellWords(line);
  ASSERT_GT(words.size(), 2u);
  words.erase(words.begin(), words.begin() + 2);  // "zovcomp compress"

  CompressCommand cmd;
  std::ostringstream err;
  ASSERT_TRUE(parseCompressCommand(words, cmd, err)) << err.str();
  EXPECT_EQ(cmd.input, s.Path);
  EXPECT_EQ(cmd.output, out);
  EXPECT_EQ(cmd.mode, RunMode::Compress);
  EXPECT_EQ(cmd.first, 4u);
  EXPECT_EQ(cmd.last, 41u);
  EXPECT_EQ(cmd.crop, (std::array<uint32_t, 4>{8, 4, 240, 248}));
  EXPECT_EQ(cmd.letterbox, (std::array<uint32_t, 2>{4, 4}));
  EXPECT_EQ(cmd.resize, (std::array<uint32_t, 2>{0, 0}));
  EXPECT_EQ(cmd.interpolate, false);
  EXPECT_EQ(cmd.strip, 0u);

  const CompressionSettings& a = cmd.settings;
  EXPECT_EQ(a.KeyRate, st.KeyRate);
  EXPECT_EQ(a.FastCompression, st.FastCompression);
  EXPECT_EQ(a.ImageLossLevel, st.ImageLossLevel);
  EXPECT_EQ(a.Lossy, st.Lossy);
  EXPECT_EQ(a.CompressionType, st.CompressionType);
  EXPECT_EQ(a.FieldType, st.FieldType);
  EXPECT_EQ(a.InterframeDetection, st.InterframeDetection);
  EXPECT_EQ(a.NoiseReduction, st.NoiseReduction);
  EXPECT_EQ(a.BackgroundDetection, st.BackgroundDetection);
  EXPECT_EQ(a.BackgroundNoiseReduction, st.BackgroundNoiseReduction);
  EXPECT_EQ(a.EnhancedEdges, st.EnhancedEdges);
  EXPECT_EQ(a.ChromaKeying, st.ChromaKeying);
  EXPECT_EQ(a.ChromaScreening, st.ChromaScreening);
  EXPECT_EQ(a.ChromaGreen, st.ChromaGreen);
  EXPECT_EQ(a.ChromaRed, st.ChromaRed);
  EXPECT_EQ(a.ChromaBlue, st.ChromaBlue);
  EXPECT_EQ(a.ChromaAntialiasing, st.ChromaAntialiasing);
  EXPECT_EQ(a.ChromaBackground, st.ChromaBackground);
  EXPECT_EQ(a.DataRateControl, st.DataRateControl);
  EXPECT_EQ(a.DataRate, st.DataRate);
  EXPECT_EQ(a.ForceKeyFrame, st.ForceKeyFrame);
  EXPECT_EQ(a.ForceKeyFramePercent, st.ForceKeyFramePercent);
  EXPECT_EQ(a.IncreaseKeyRate, st.IncreaseKeyRate);
  EXPECT_EQ(a.IncreaseKeyRatePercent, st.IncreaseKeyRatePercent);
  EXPECT_EQ(a.IncreaseKeyRateValue, st.IncreaseKeyRateValue);

  const CompressorOptions& b = cmd.options;
  EXPECT_EQ(b.DualInitialKeyFrames, o.DualInitialKeyFrames);
  EXPECT_EQ(b.CDROMTarget, o.CDROMTarget);
  EXPECT_EQ(b.CutOffKBLimit, o.CutOffKBLimit);
  EXPECT_EQ(b.CutOffKBLimitNotify, o.CutOffKBLimitNotify);
  EXPECT_EQ(b.NoAudio, o.NoAudio);
  EXPECT_EQ(b.MixToMono, o.MixToMono);
  EXPECT_EQ(b.Make8Bit, o.Make8Bit);
  EXPECT_EQ(b.SampleRate, o.SampleRate);
  EXPECT_EQ(b.PackPadding, o.PackPadding);
  EXPECT_EQ(b.ReportPad, o.ReportPad);
  EXPECT_EQ(b.RemoveAudio, o.RemoveAudio);
  EXPECT_EQ(b.Filters, o.Filters);
}

}  // namespace
}  // namespace zov

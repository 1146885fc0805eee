// The compressor's settings file: defaults, corrections on load, the exact file written, and the
// filter list with its messages.
#include "compressor/settings_file.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <cerrno>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "platform/profile.h"
#include "platform/ui.h"

namespace zov {
namespace {

const char* const kFile = "zovcomp.ini";

class SettingsFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/zov-settings-test-XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    home_ = tmpl;
    setenv("ZOV_HOME", home_.c_str(), 1);
    previousSink_ = setMessageBoxSink(&boxes_);
  }
  void TearDown() override {
    setMessageBoxSink(previousSink_);
    profile_testing::setWriteFault(nullptr);
    std::error_code ec;
    std::filesystem::remove_all(home_, ec);
    unsetenv("ZOV_HOME");
  }

  void writeFile(const std::string& text) { std::ofstream(home_ / kFile) << text; }
  std::string readFile() {
    std::ifstream in(home_ / kFile);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
  }
  void load() { loadSettings(kFile, "General", s_, o_); }
  void save() { saveSettings(kFile, "General", s_, o_); }

  std::filesystem::path home_;
  RecordingMessageBox boxes_;
  MessageBoxSink* previousSink_ = nullptr;
  CompressionSettings s_;
  CompressorOptions o_;
};

const char* const kCfg0002 =
    "CFG0002E Unintelligible filter list: old filter settings NOT loaded (bad or missing type)";
const char* const kCfg0003 =
    "CFG0003E Unintelligible filter list: old filter settings NOT loaded (bad or missing level)";

TEST_F(SettingsFileTest, MissingFileGivesTheDefaults) {
  // Values held before loading do not survive, except the preview position and zoom, whose
  // defaults are the values held.
  s_.KeyRate = 55;
  s_.ChromaBackground = "old.bmp";
  o_.SampleRate = 11025;
  o_.Filters = {{kFilterGamma, 150}};
  o_.FilterThumbnailLeft = 40;
  o_.FilterThumbnailZoom = 3;
  load();

  EXPECT_EQ(s_.KeyRate, 3u);
  EXPECT_FALSE(s_.FastCompression);
  EXPECT_EQ(s_.ImageLossLevel, 7u);
  EXPECT_TRUE(s_.Lossy);
  EXPECT_EQ(s_.CompressionType, 4u);
  EXPECT_EQ(s_.FieldType, 0u);
  EXPECT_FALSE(s_.SingleField);
  EXPECT_FALSE(s_.WideField);
  EXPECT_EQ(s_.InterframeDetection, 8u);
  EXPECT_EQ(s_.NoiseReduction, 50u);
  EXPECT_EQ(s_.BackgroundDetection, 8u);
  EXPECT_EQ(s_.BackgroundNoiseReduction, 50u);
  EXPECT_TRUE(s_.EnhancedEdges);
  EXPECT_FALSE(s_.ChromaKeying);
  EXPECT_EQ(s_.ChromaScreening, 0u);
  // Green screening: green defaults to 0 and is raised to red's and blue's 2.
  EXPECT_EQ(s_.ChromaGreen, 2u);
  EXPECT_EQ(s_.ChromaRed, 2u);
  EXPECT_EQ(s_.ChromaBlue, 2u);
  EXPECT_TRUE(s_.ChromaAntialiasing);
  EXPECT_EQ(s_.ChromaBackground, "");
  EXPECT_FALSE(s_.DataRateControl);
  EXPECT_EQ(s_.DataRate, 0u);
  EXPECT_FALSE(s_.ForceKeyFrame);
  EXPECT_EQ(s_.ForceKeyFramePercent, 2u);
  EXPECT_FALSE(s_.IncreaseKeyRate);
  EXPECT_EQ(s_.IncreaseKeyRatePercent, 50u);
  EXPECT_EQ(s_.IncreaseKeyRateValue, 6u);

  EXPECT_EQ(o_.TabSettingsLastActive, 0u);
  EXPECT_TRUE(o_.DualInitialKeyFrames);
  EXPECT_FALSE(o_.CDROMTarget);
  EXPECT_EQ(o_.CutOffKBLimit, 0u);
  EXPECT_FALSE(o_.CutOffKBLimitNotify);
  EXPECT_FALSE(o_.NoAudio);
  EXPECT_FALSE(o_.MixToMono);
  EXPECT_FALSE(o_.Make8Bit);
  EXPECT_EQ(o_.SampleRate, 0u);
  EXPECT_TRUE(o_.ShowFilter);
  EXPECT_EQ(o_.FilterThumbnailZoom, 3u);
  EXPECT_EQ(o_.FilterThumbnailLeft, 40);
  EXPECT_EQ(o_.FilterThumbnailTop, 0);
  EXPECT_TRUE(o_.Filters.empty());
  EXPECT_EQ(o_.LastUsedFilterLevel,
            (std::array<int32_t, kFilterKindCount>{1, 1, 1, 1, 1, 1, 105, 1, 105}));
  EXPECT_EQ(o_.LastSelectedFilter, 0u);

  EXPECT_TRUE(boxes_.boxes().empty());
  // Loading never creates the file.
  EXPECT_FALSE(std::filesystem::exists(home_ / kFile));
}

TEST_F(SettingsFileTest, OutOfRangeValuesAreCorrected) {
  writeFile(
      "[General]\n"
      "KeyRate=250\n"
      "FieldType=3\n"
      "ChromaScreening=5\n"
      "SampleRate=44100\n"
      "TabSettingsLastActive=8\n"
      "FilterThumbnailZoom=9\n"
      "ImageLossLevel=8\n"
      "CompressionType=5\n"
      "InterframeDetection=26\n"
      "NoiseReduction=151\n"
      "BackgroundDetection=30\n"
      "BackgroundNoiseReduction=1000\n"
      "ForceKeyFramePercent=101\n"
      "IncreaseKeyRatePercent=200\n"
      "IncreaseKeyRateValue=101\n"
      "FilterThumbnailLeft=-5\n"
      "FilterThumbnailTop=7\n"
      "DataRate=150\n"
      "DualInitialKeyFrames=5\n");
  load();
  EXPECT_EQ(s_.KeyRate, 100u);
  EXPECT_EQ(s_.FieldType, 0u) << "an unknown field type falls back to normal, not to the maximum";
  EXPECT_EQ(s_.ChromaScreening, 0u);
  EXPECT_EQ(o_.SampleRate, 0u);
  EXPECT_EQ(o_.TabSettingsLastActive, 0u);
  EXPECT_EQ(o_.FilterThumbnailZoom, 6u);
  EXPECT_EQ(s_.ImageLossLevel, 7u);
  EXPECT_EQ(s_.CompressionType, 4u);
  EXPECT_EQ(s_.InterframeDetection, 25u);
  EXPECT_EQ(s_.NoiseReduction, 150u);
  EXPECT_EQ(s_.BackgroundDetection, 25u);
  EXPECT_EQ(s_.BackgroundNoiseReduction, 150u);
  EXPECT_EQ(s_.ForceKeyFramePercent, 100u);
  EXPECT_EQ(s_.IncreaseKeyRatePercent, 100u);
  EXPECT_EQ(s_.IncreaseKeyRateValue, 100u);
  EXPECT_EQ(o_.FilterThumbnailLeft, -5);
  EXPECT_EQ(o_.FilterThumbnailTop, 7);
  EXPECT_EQ(s_.DataRate, 150u * 1024u);
  EXPECT_TRUE(o_.DualInitialKeyFrames);
  EXPECT_TRUE(boxes_.boxes().empty());
}

TEST_F(SettingsFileTest, NegativeValuesCountAsHuge) {
  writeFile(
      "[General]\n"
      "KeyRate=-1\n"
      "FieldType=-1\n"
      "ImageLossLevel=-1\n"
      "CompressionType=-3\n"
      "NoiseReduction=-1\n"
      "ChromaScreening=-1\n"
      "TabSettingsLastActive=-1\n"
      "FilterThumbnailZoom=-1\n"
      "SampleRate=-1\n"
      "DataRate=-1\n");
  load();
  EXPECT_EQ(s_.KeyRate, 100u);
  EXPECT_EQ(s_.FieldType, 0u);
  EXPECT_EQ(s_.ImageLossLevel, 7u);
  EXPECT_TRUE(s_.Lossy);
  EXPECT_EQ(s_.CompressionType, 4u);
  EXPECT_EQ(s_.NoiseReduction, 150u);
  EXPECT_EQ(s_.ChromaScreening, 0u);
  EXPECT_EQ(o_.TabSettingsLastActive, 0u);
  EXPECT_EQ(o_.FilterThumbnailZoom, 6u);
  EXPECT_EQ(o_.SampleRate, 0u);
  // A kilobyte count too large for the byte field saturates instead of wrapping to a tiny rate.
  EXPECT_EQ(s_.DataRate, 0xFFFFFC00u);
}

TEST_F(SettingsFileTest, DerivedSwitchesAndKeptValues) {
  writeFile("[General]\nFieldType=1\nImageLossLevel=0\nSampleRate=22050\n");
  load();
  EXPECT_TRUE(s_.SingleField);
  EXPECT_FALSE(s_.WideField);
  EXPECT_FALSE(s_.Lossy);
  EXPECT_EQ(o_.SampleRate, 22050u);

  writeFile("[General]\nFieldType=2\nImageLossLevel=1\nSampleRate=11025\n");
  load();
  EXPECT_FALSE(s_.SingleField);
  EXPECT_TRUE(s_.WideField);
  EXPECT_TRUE(s_.Lossy);
  EXPECT_EQ(o_.SampleRate, 11025u);
}

TEST_F(SettingsFileTest, TheKeyColourIsNeverBelowTheOtherLevels) {
  writeFile("[General]\nChromaScreening=1\nChromaBlue=3\nChromaRed=10\nChromaGreen=20\n");
  load();
  EXPECT_EQ(s_.ChromaBlue, 20u);
  EXPECT_EQ(s_.ChromaRed, 10u);
  EXPECT_EQ(s_.ChromaGreen, 20u);

  // Blue screening: blue defaults to 0 (and an out-of-range blue too), then rises to the others.
  writeFile("[General]\nChromaScreening=1\nChromaBlue=32\nChromaRed=1\nChromaGreen=-1\n");
  load();
  EXPECT_EQ(s_.ChromaRed, 1u);
  EXPECT_EQ(s_.ChromaGreen, 2u);
  EXPECT_EQ(s_.ChromaBlue, 2u);

  // Green and background screening key on green.
  for (const char* screening : {"0", "2"}) {
    writeFile(std::string("[General]\nChromaScreening=") + screening +
              "\nChromaGreen=5\nChromaRed=9\nChromaBlue=7\n");
    load();
    EXPECT_EQ(s_.ChromaGreen, 9u) << "screening " << screening;
    EXPECT_EQ(s_.ChromaRed, 9u);
    EXPECT_EQ(s_.ChromaBlue, 7u);
  }
  writeFile("[General]\nChromaGreen=31\nChromaRed=40\nChromaBlue=-1\n");
  load();
  EXPECT_EQ(s_.ChromaGreen, 31u);
  EXPECT_EQ(s_.ChromaRed, 2u);
  EXPECT_EQ(s_.ChromaBlue, 2u);
}

TEST_F(SettingsFileTest, LongPathsAreNotUsedCutAndNumberTextsAreCut) {
  // A background path over 79 characters is reported and not used: cut, it would name another
  // file.
  const std::string longPath = "/" + std::string(100, 'b') + ".bmp";
  writeFile("[General]\nChromaBackground=" + longPath + "\nCutOffKBLimit=123456789\n");
  s_.ChromaBackground = "old.bmp";
  EXPECT_FALSE(loadSettings(kFile, "General", s_, o_));
  EXPECT_EQ(s_.ChromaBackground, "");
  ASSERT_EQ(boxes_.boxes().size(), 1u);
  EXPECT_NE(boxes_.boxes()[0].text.find("\"ChromaBackground\" in"), std::string::npos);
  EXPECT_NE(boxes_.boxes()[0].text.find("at most 79 are accepted"), std::string::npos);
  // At most 7 characters are parsed.
  EXPECT_EQ(o_.CutOffKBLimit, 1234567u);
  // Folders and recent files over 259 characters are not saved cut short, nor read so.
  o_.TargetFilePath = "/" + std::string(300, 'f');
  o_.FileRecall[0] = "/clips/a.avi";
  saveMainWindowOptions(kFile, "General", o_);
  EXPECT_EQ(readFile().find(std::string(259, 'f')), std::string::npos);
  writeFile("[General]\nSourceFilePath=/" + std::string(300, 's') + "\nFileRecall1=/a.avi\n");
  CompressorOptions again;
  loadMainWindowOptions(kFile, "General", again);
  EXPECT_EQ(again.SourceFilePath, "");
  EXPECT_EQ(again.FileRecall[0], "/a.avi");
  writeFile("[General]\nChromaBackground=" + longPath.substr(0, 79) + "\n");
  EXPECT_TRUE(loadSettings(kFile, "General", s_, o_));
  EXPECT_EQ(s_.ChromaBackground, longPath.substr(0, 79));
  EXPECT_EQ(boxes_.boxes().size(), 1u);

  writeFile("[General]\nCutOffKBLimit=\n");
  o_.CutOffKBLimit = 9;
  load();
  EXPECT_EQ(o_.CutOffKBLimit, 0u);
  writeFile("[General]\nCutOffKBLimit=abc\n");
  load();
  EXPECT_EQ(o_.CutOffKBLimit, 0u);
  writeFile("[General]\nCutOffKBLimit= 650000 KB\n");
  load();
  EXPECT_EQ(o_.CutOffKBLimit, 650000u);
}

// ---- Filter list ----

TEST_F(SettingsFileTest, LoadsAGoodFilterList) {
  writeFile(
      "[Filtering]\n"
      "LastUsedFilter0Level=4\n"
      "LastUsedFilter6Level=-301\n"
      "LastUsedFilter7Level=16\n"
      "LastUsedFilter8Level=-150\n"
      "LastSelectedFilter=9\n"
      "TotalFilters=3\n"
      "FilterType0=7\n"
      "FilterLevel0=150\n"
      "FilterType1=8\n"
      "FilterLevel1=-3\n"
      "FilterType2=3\n");
  load();
  EXPECT_TRUE(boxes_.boxes().empty());
  // A missing level takes the kind's default.
  EXPECT_EQ(o_.Filters, (std::vector<FilterEntry>{
                            {kFilterGamma, 150}, {kFilterBrightness, -3}, {kFilterMedian, 1}}));
  EXPECT_EQ(o_.LastUsedFilterLevel,
            (std::array<int32_t, kFilterKindCount>{4, 1, 1, 1, 1, 1, 105, 1, -150}));
  EXPECT_EQ(o_.LastSelectedFilter, 8u);
}

TEST_F(SettingsFileTest, LastSelectedFilterOutOfRangeIsTheFirstKind) {
  for (const char* value : {"0", "1", "10", "-1"}) {
    writeFile(std::string("[Filtering]\nLastSelectedFilter=") + value + "\n");
    o_.LastSelectedFilter = 5;
    load();
    EXPECT_EQ(o_.LastSelectedFilter, 0u) << "LastSelectedFilter=" << value;
  }
}

TEST_F(SettingsFileTest, ABadTypeAnywhereLoadsNoEntriesAtAll) {
  writeFile(
      "[Filtering]\nTotalFilters=3\nFilterType0=1\nFilterLevel0=2\nFilterType1=12\n"
      "FilterLevel1=1\nFilterType2=1\n");
  o_.Filters = {{kFilterRip, 1}};
  load();
  EXPECT_TRUE(o_.Filters.empty());
  auto shown = boxes_.boxes();
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_EQ(shown[0].text, kCfg0002);
  EXPECT_EQ(shown[0].title, "ZOV Compressor");
  EXPECT_EQ(shown[0].style & MB_ICONMASK, uint32_t(MB_ICONSTOP));
  EXPECT_EQ(shown[0].owner, nullptr);

  // A file damaged in two places reports both: an over-long text, then the list.
  writeFile("[General]\nChromaBackground=/" + std::string(100, 'b') +
            "\n[Filtering]\nTotalFilters=1\nFilterType0=12\n");
  boxes_.clear();
  load();
  EXPECT_EQ(s_.ChromaBackground, "");
  EXPECT_TRUE(o_.Filters.empty());
  shown = boxes_.boxes();
  ASSERT_EQ(shown.size(), 2u);
  EXPECT_EQ(shown[0].text.rfind("\"ChromaBackground\" in", 0), 0u);
  EXPECT_EQ(shown[1].text, kCfg0002);
}

TEST_F(SettingsFileTest, MissingOrZeroTypesAndBadLevelsAreReported) {
  struct Case {
    const char* entries;
    const char* message;
  } cases[] = {
      {"FilterType0=0\nFilterLevel0=1\n", kCfg0002},
      {"FilterLevel0=1\n", kCfg0002},
      {"FilterType0=10\n", kCfg0002},
      {"FilterType0=1\nFilterLevel0=5\n", kCfg0003},    // inverted low-pass is 1..4
      {"FilterType0=8\nFilterLevel0=-16\n", kCfg0003},  // brightness is -15..15
      {"FilterType0=7\nFilterLevel0=-1\n", nullptr},    // gamma -0.01 lies within -300..300
      {"FilterType0=6\nFilterLevel0=1\n", nullptr},
  };
  for (const Case& c : cases) {
    boxes_.clear();
    writeFile(std::string("[Filtering]\nTotalFilters=1\n") + c.entries);
    load();
    if (c.message) {
      EXPECT_TRUE(o_.Filters.empty()) << c.entries;
      EXPECT_EQ(boxes_.texts(), std::vector<std::string>{c.message}) << c.entries;
    } else {
      EXPECT_EQ(o_.Filters.size(), 1u) << c.entries;
      EXPECT_TRUE(boxes_.texts().empty()) << c.entries;
    }
  }
}

TEST_F(SettingsFileTest, AHugeFilterCountIsReportedNotAllocated) {
  writeFile("[Filtering]\nTotalFilters=-1\nFilterType0=1\nFilterLevel0=1\n");
  auto start = std::chrono::steady_clock::now();
  load();
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
  EXPECT_TRUE(o_.Filters.empty());
  EXPECT_EQ(boxes_.texts(), std::vector<std::string>{kCfg0002});
}

// ---- Saving ----

const char* const kDefaultsFile =
    "[General]\n"
    "CompressionType=4\n"
    "FieldType=0\n"
    "InterframeDetection=8\n"
    "NoiseReduction=50\n"
    "ChromaKeying=0\n"
    "ImageLossLevel=7\n"
    "ChromaScreening=0\n"
    "ChromaGreen=2\n"
    "ChromaRed=2\n"
    "ChromaBlue=2\n"
    "ChromaAntialiasing=1\n"
    "ChromaBackground=\n"
    "DataRateControl=0\n"
    "ForceKeyFrame=0\n"
    "ForceKeyFramePercent=2\n"
    "IncreaseKeyRate=0\n"
    "IncreaseKeyRatePercent=50\n"
    "IncreaseKeyRateValue=6\n"
    "DataRate=0\n"
    "EnhancedEdges=1\n"
    "BackgroundDetection=8\n"
    "BackgroundNoiseReduction=50\n"
    "FastCompression=0\n"
    "TabSettingsLastActive=0\n"
    "KeyRate=3\n"
    "FilterThumbnailZoom=0\n"
    "FilterThumbnailLeft=0\n"
    "FilterThumbnailTop=0\n"
    "CDROMTarget=0\n"
    "DualInitialKeyFrames=1\n"
    "CutOffKBLimitNotify=0\n"
    "CutOffKBLimit=0\n"
    "NoAudio=0\n"
    "MixToMono=0\n"
    "Make8Bit=0\n"
    "SampleRate=0\n"
    "ShowFilter=1\n"
    "\n"
    "[Filtering]\n"
    "LastUsedFilter0Level=1\n"
    "LastUsedFilter1Level=1\n"
    "LastUsedFilter2Level=1\n"
    "LastUsedFilter3Level=1\n"
    "LastUsedFilter4Level=1\n"
    "LastUsedFilter5Level=1\n"
    "LastUsedFilter6Level=105\n"
    "LastUsedFilter7Level=1\n"
    "LastUsedFilter8Level=105\n"
    "LastSelectedFilter=1\n"
    "TotalFilters=0\n";

TEST_F(SettingsFileTest, SavingDefaultsWritesEveryKeyInOrder) {
  load();
  save();
  EXPECT_EQ(readFile(), kDefaultsFile);
  EXPECT_TRUE(boxes_.boxes().empty());
}

TEST_F(SettingsFileTest, SavingAListWritesItsEntriesBeforeTheCount) {
  o_.Filters = {{kFilterGamma, 150}, {kFilterBrightness, -3}};
  o_.LastSelectedFilter = 7;
  save();
  const std::string text = readFile();
  const std::string tail =
      "LastSelectedFilter=8\n"
      "FilterType0=7\n"
      "FilterLevel0=150\n"
      "FilterType1=8\n"
      "FilterLevel1=-3\n"
      "TotalFilters=2\n";
  ASSERT_GE(text.size(), tail.size());
  EXPECT_EQ(text.substr(text.size() - tail.size()), tail);
}

TEST_F(SettingsFileTest, RoundTrip) {
  s_.KeyRate = 12;
  s_.FastCompression = true;
  s_.ImageLossLevel = 0;
  s_.CompressionType = 1;
  s_.FieldType = 2;
  s_.InterframeDetection = 3;
  s_.NoiseReduction = 140;
  s_.BackgroundDetection = 24;
  s_.BackgroundNoiseReduction = 1;
  s_.EnhancedEdges = false;
  s_.ChromaKeying = true;
  s_.ChromaScreening = 1;
  s_.ChromaGreen = 4;
  s_.ChromaRed = 5;
  s_.ChromaBlue = 30;
  s_.ChromaAntialiasing = false;
  s_.ChromaBackground = "/home/someone/backdrop.bmp";
  s_.DataRateControl = true;
  s_.DataRate = 150 * 1024;
  s_.ForceKeyFrame = true;
  s_.ForceKeyFramePercent = 10;
  s_.IncreaseKeyRate = true;
  s_.IncreaseKeyRatePercent = 70;
  s_.IncreaseKeyRateValue = 20;
  o_.TabSettingsLastActive = 7;
  o_.DualInitialKeyFrames = false;
  o_.CDROMTarget = true;
  o_.CutOffKBLimit = 650000;
  o_.CutOffKBLimitNotify = true;
  o_.NoAudio = true;
  o_.MixToMono = true;
  o_.Make8Bit = true;
  o_.SampleRate = 22050;
  o_.ShowFilter = false;
  o_.FilterThumbnailZoom = 4;
  o_.FilterThumbnailLeft = -20;
  o_.FilterThumbnailTop = 33;
  o_.Filters = {{kFilterLowPass, 4}, {kFilterContrast, -120}, {kFilterRip, 1}};
  o_.LastUsedFilterLevel = {2, 1, 1, 3, 5, 1, 200, -15, -105};
  o_.LastSelectedFilter = 4;
  save();
  const std::string first = readFile();

  CompressionSettings s;
  CompressorOptions o;
  loadSettings(kFile, "General", s, o);
  EXPECT_EQ(s.KeyRate, 12u);
  EXPECT_TRUE(s.FastCompression);
  EXPECT_EQ(s.ImageLossLevel, 0u);
  EXPECT_FALSE(s.Lossy);
  EXPECT_EQ(s.CompressionType, 1u);
  EXPECT_TRUE(s.WideField);
  EXPECT_EQ(s.NoiseReduction, 140u);
  EXPECT_EQ(s.BackgroundDetection, 24u);
  EXPECT_EQ(s.BackgroundNoiseReduction, 1u);
  EXPECT_FALSE(s.EnhancedEdges);
  EXPECT_TRUE(s.ChromaKeying);
  EXPECT_EQ(s.ChromaScreening, 1u);
  EXPECT_EQ(s.ChromaGreen, 4u);
  EXPECT_EQ(s.ChromaRed, 5u);
  EXPECT_EQ(s.ChromaBlue, 30u);
  EXPECT_FALSE(s.ChromaAntialiasing);
  EXPECT_EQ(s.ChromaBackground, "/home/someone/backdrop.bmp");
  EXPECT_TRUE(s.DataRateControl);
  EXPECT_EQ(s.DataRate, 150u * 1024u);
  EXPECT_TRUE(s.ForceKeyFrame);
  EXPECT_EQ(s.ForceKeyFramePercent, 10u);
  EXPECT_TRUE(s.IncreaseKeyRate);
  EXPECT_EQ(s.IncreaseKeyRatePercent, 70u);
  EXPECT_EQ(s.IncreaseKeyRateValue, 20u);
  EXPECT_EQ(o.TabSettingsLastActive, 7u);
  EXPECT_FALSE(o.DualInitialKeyFrames);
  EXPECT_TRUE(o.CDROMTarget);
  EXPECT_EQ(o.CutOffKBLimit, 650000u);
  EXPECT_TRUE(o.CutOffKBLimitNotify);
  EXPECT_TRUE(o.NoAudio);
  EXPECT_TRUE(o.MixToMono);
  EXPECT_TRUE(o.Make8Bit);
  EXPECT_EQ(o.SampleRate, 22050u);
  EXPECT_FALSE(o.ShowFilter);
  EXPECT_EQ(o.FilterThumbnailZoom, 4u);
  EXPECT_EQ(o.FilterThumbnailLeft, -20);
  EXPECT_EQ(o.FilterThumbnailTop, 33);
  EXPECT_EQ(o.Filters, o_.Filters);
  EXPECT_EQ(o.LastUsedFilterLevel, o_.LastUsedFilterLevel);
  EXPECT_EQ(o.LastSelectedFilter, 4u);
  EXPECT_TRUE(boxes_.boxes().empty());

  // Saving what was loaded writes the same file.
  saveSettings(kFile, "General", s, o);
  EXPECT_EQ(readFile(), first);
}

TEST_F(SettingsFileTest, DataRateIsStoredInKilobytes) {
  writeFile("[General]\nDataRate=150\n");
  load();
  EXPECT_EQ(s_.DataRate, 153600u);
  s_.DataRate = 153600 + 1023;  // partial kilobytes are dropped
  save();
  EXPECT_NE(readFile().find("\nDataRate=150\n"), std::string::npos);
}

TEST_F(SettingsFileTest, SavingRewritesFilteringAndKeepsTheRest) {
  writeFile(
      "; my settings\n"
      "[General]\n"
      "TextShowCmd=3\n"
      "KeyRate=9\n"
      "\n"
      "[Filtering]\n"
      "TotalFilters=3\n"
      "FilterType2=1\n"
      "FilterLevel2=1\n"
      "Stray=1\n"
      "\n"
      "[Other]\n"
      "Keep=me\n");
  load();
  boxes_.clear();  // the old list was damaged
  o_.Filters = {{kFilterMedian, 1}};
  save();
  const std::string text = readFile();
  EXPECT_EQ(
      text.rfind("; my settings\n[General]\nTextShowCmd=3\nKeyRate=9\nCompressionType=4\n", 0), 0u);
  EXPECT_EQ(text.find("FilterType2"), std::string::npos);
  EXPECT_EQ(text.find("Stray"), std::string::npos);
  EXPECT_NE(text.find("FilterType0=3\nFilterLevel0=1\nTotalFilters=1\n\n[Other]\nKeep=me\n"),
            std::string::npos);
  EXPECT_TRUE(boxes_.boxes().empty());
}

TEST_F(SettingsFileTest, AByteOrderMarkIsReadPastAndKept) {
  writeFile("\xEF\xBB\xBF[General]\nKeyRate=9\n");
  load();
  EXPECT_EQ(s_.KeyRate, 9u);
  save();
  const std::string text = readFile();
  EXPECT_EQ(text.rfind("\xEF\xBB\xBF[General]\nKeyRate=9\n", 0), 0u);
  EXPECT_EQ(text.find("[General]", 4), std::string::npos) << "one section, not a second";
}

// ---- Save failures ----

class SaveFailureTest : public SettingsFileTest {
 protected:
  // Fails the writes of one key (or, with an empty key, the rewrite of section "Filtering").
  void failWritesOf(std::string key) {
    profile_testing::setWriteFault([key](std::string_view section, std::string_view k) {
      if (key.empty()) return section == "Filtering" && k.empty() ? EACCES : 0;
      return k == key ? EACCES : 0;
    });
  }
  void SetUp() override {
    SettingsFileTest::SetUp();
    o_.Filters = {{kFilterGamma, 150}, {kFilterBrightness, -3}, {kFilterRip, 1}};
  }
  bool written(const std::string& key) {
    ProfileFile f(kFile);
    return f.hasKey("Filtering", key);
  }
};

TEST_F(SaveFailureTest, ClearingFailsSkipsTheLevelsOnly) {
  failWritesOf("");
  save();
  EXPECT_EQ(boxes_.texts(), std::vector<std::string>{"CFG0004E Unable to clear old filter "
                                                     "settings, rc=13"});
  EXPECT_EQ(boxes_.boxes()[0].title, "ZOV Compressor");
  EXPECT_FALSE(written("LastUsedFilter0Level"));
  EXPECT_TRUE(written("LastSelectedFilter"));
  EXPECT_TRUE(written("FilterLevel2"));
  EXPECT_TRUE(written("TotalFilters"));
}

TEST_F(SaveFailureTest, ALevelFailingSkipsTheRemainingLevels) {
  failWritesOf("LastUsedFilter3Level");
  save();
  EXPECT_EQ(boxes_.texts(),
            std::vector<std::string>{"CFG0005E Unable to save last used filter levels, rc=13"});
  EXPECT_TRUE(written("LastUsedFilter2Level"));
  EXPECT_FALSE(written("LastUsedFilter4Level"));
  EXPECT_FALSE(written("LastUsedFilter8Level"));
  EXPECT_TRUE(written("LastSelectedFilter"));
  EXPECT_TRUE(written("TotalFilters"));
}

TEST_F(SaveFailureTest, LastSelectedFailingGoesOn) {
  failWritesOf("LastSelectedFilter");
  save();
  EXPECT_EQ(boxes_.texts(),
            std::vector<std::string>{"CFG0006E Unable to save last last selected filter, rc=13"});
  EXPECT_TRUE(written("FilterType2"));
  EXPECT_TRUE(written("TotalFilters"));
}

TEST_F(SaveFailureTest, AnEntryFailingSkipsTheRemainingEntries) {
  failWritesOf("FilterLevel1");
  save();
  EXPECT_EQ(boxes_.texts(),
            std::vector<std::string>{"CFG0007E Unable to save filter settings, rc=13"});
  EXPECT_TRUE(written("FilterType1"));
  EXPECT_FALSE(written("FilterType2"));
  // The full count is kept, so the next start reports the damaged list instead of quietly
  // loading part of it.
  EXPECT_EQ(ProfileFile(kFile).getInt("Filtering", "TotalFilters", 0), 3u);
  boxes_.clear();
  load();
  EXPECT_TRUE(o_.Filters.empty());
  EXPECT_EQ(boxes_.texts(), std::vector<std::string>{kCfg0002});
}

TEST_F(SaveFailureTest, TheCountFailingIsReported) {
  failWritesOf("TotalFilters");
  save();
  EXPECT_EQ(boxes_.texts(),
            std::vector<std::string>{"CFG0008E Unable to save filter settings, rc=13"});
  EXPECT_TRUE(written("FilterType2"));
}

TEST_F(SaveFailureTest, OtherWriteFailuresAreSilent) {
  failWritesOf("KeyRate");
  save();
  EXPECT_TRUE(boxes_.boxes().empty());
  EXPECT_FALSE(ProfileFile(kFile).hasKey("General", "KeyRate"));
  EXPECT_TRUE(ProfileFile(kFile).hasKey("General", "ShowFilter"));
}

TEST_F(SaveFailureTest, AFileThatCannotBeWrittenIsReportedAndLeftAlone) {
  writeFile("; mine\n[General]\nKeyRate=9\n");
  std::filesystem::permissions(
      home_ / kFile, std::filesystem::perms::owner_read | std::filesystem::perms::group_read);
  const auto inode = [&] {
    struct stat st {};
    ::stat((home_ / kFile).c_str(), &st);
    return st.st_ino;
  };
  const auto before = inode();
  save();
  EXPECT_EQ(readFile(), "; mine\n[General]\nKeyRate=9\n");
  EXPECT_EQ(inode(), before) << "replaced behind the user's back";
  EXPECT_EQ(boxes_.texts(),
            (std::vector<std::string>{"CFG0004E Unable to clear old filter settings, rc=13",
                                      "CFG0006E Unable to save last last selected filter, rc=13",
                                      "CFG0007E Unable to save filter settings, rc=13",
                                      "CFG0008E Unable to save filter settings, rc=13"}));
}

TEST_F(SaveFailureTest, TheWholeFileIsWrittenAtOnce) {
  // A replacement that fails leaves the old file whole: no key of the save reaches it, and the
  // filter list's messages say so.
  writeFile("; mine\n[General]\nKeyRate=9\n");
  s_.KeyRate = 4;
  profile_testing::failNextWriteAfter(10);
  save();
  EXPECT_EQ(readFile(), "; mine\n[General]\nKeyRate=9\n");
  EXPECT_EQ(boxes_.texts().size(), 4u);
  EXPECT_EQ(boxes_.texts().front(), "CFG0004E Unable to clear old filter settings, rc=5");
  // The next save writes everything, keeping the comment.
  boxes_.clear();
  save();
  EXPECT_EQ(readFile().rfind("; mine\n[General]\nKeyRate=4\n", 0), 0u);
  EXPECT_TRUE(boxes_.boxes().empty());
}

// ---- Keys of single owners ----

TEST_F(SettingsFileTest, OwnerKeys) {
  writeFile(
      "[General]\nPackPadding=-1\nReportPad=2\nRemoveAudio=1\nGotoFrame=  42x\n"
      "ShowToolbar=0\nFileRecall3=/clips/a.avi\n");
  EXPECT_EQ(readPackPadding(kFile, "General"), 4294967295u);
  EXPECT_EQ(readReportPad(kFile, "General"), 2u);
  EXPECT_TRUE(readRemoveAudio(kFile, "General"));
  EXPECT_EQ(readGotoFrame(kFile, "General"), 42u);
  writeGotoFrame(kFile, "General", 7);
  EXPECT_EQ(readGotoFrame(kFile, "General"), 7u);

  loadMainWindowOptions(kFile, "General", o_);
  EXPECT_FALSE(o_.ShowToolbar);
  EXPECT_TRUE(o_.ShowTrack);
  EXPECT_EQ(o_.FileRecall[2], "/clips/a.avi");
  o_.SourceFilePath = "/clips";
  saveMainWindowOptions(kFile, "General", o_);
  CompressorOptions again;
  loadMainWindowOptions(kFile, "General", again);
  EXPECT_EQ(again.SourceFilePath, "/clips");
  EXPECT_EQ(again.FileRecall[2], "/clips/a.avi");
  EXPECT_FALSE(again.ShowToolbar);
}

}  // namespace
}  // namespace zov

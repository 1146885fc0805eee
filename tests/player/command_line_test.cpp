// The player's command line, settings file and gamma/brightness steps.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <set>

#include "platform/profile.h"
#include "player/command_line.h"
#include "player/player_settings.h"
#include "player/tone_steps.h"
#include "support/player_fixture.h"

using namespace zov;
using namespace zov::player;

namespace {

CommandLine parse(std::vector<std::string> args, std::set<std::string> files = {"movie.avi"}) {
  return parseCommandLine(args, [&](const std::string& p) { return files.count(p) > 0; });
}

}  // namespace

TEST(PlayerCommandLine, OptionsSetTheirChoices) {
  auto c = parse({"-W7", "/F12", "-R4", "-C", "-X", "12", "-Y", "0034", "-M", "-G", "150", "-B",
                  "7", "movie"});
  EXPECT_TRUE(c.messages.empty()) << c.messages[0];
  EXPECT_EQ(c.windowedStyle, 7u);
  EXPECT_EQ(c.fullscreenStyle, 12u);
  EXPECT_EQ(c.resolution, 4u);
  EXPECT_TRUE(c.centre);
  EXPECT_EQ(c.x, 12);
  EXPECT_EQ(c.y, 34);
  EXPECT_TRUE(c.maximize);
  EXPECT_EQ(c.gamma, 150);
  EXPECT_EQ(c.brightness, 7);
  EXPECT_EQ(c.file, "movie.avi") << "a name without extension gets .avi";
  EXPECT_EQ(c.filePath, (std::filesystem::absolute("movie.avi").parent_path() / "*.avi").string());

  auto absolute = parse({"/PW", "/tmp/clip"}, {"/tmp/clip.avi"});
  EXPECT_TRUE(absolute.messages.empty());
  EXPECT_EQ(absolute.play, StartPlay::Window) << "a slash option";
  EXPECT_EQ(absolute.file, "/tmp/clip.avi") << "an absolute path is a file, not an option";
  EXPECT_EQ(parse({"/root.avi"}, {"/root.avi"}).file, "/root.avi");
  EXPECT_EQ(parse({"-PW"}).play, StartPlay::Window);
  EXPECT_EQ(parse({"-PW"}).exitRule, ExitRule::Stay);
  EXPECT_EQ(parse({"-PFX"}).play, StartPlay::Fullscreen);
  EXPECT_EQ(parse({"-PFX"}).exitRule, ExitRule::AfterPlay);
  EXPECT_EQ(parse({"-PWXE"}).exitRule, ExitRule::AtEnd);
  EXPECT_TRUE(parse({"-W4X"}).windowedStyle4x);
  EXPECT_TRUE(parse({"-W9X"}).windowedStyle9x);
  EXPECT_TRUE(parse({"-?"}).showUsage);
  EXPECT_NE(std::string(usageText()).find("-PWXE, -PFXE"), std::string::npos);
}

TEST(PlayerCommandLine, EveryMessageNamesWhatWasWrong) {
  EXPECT_EQ(parse({"gone"}).messages,
            std::vector<std::string>{
                "The avi file \"gone.avi\" in your command line can not be located."});
  EXPECT_EQ(parse({"-w7"}).messages,
            std::vector<std::string>{
                "The option \"-w7\" in your command line is unrecognized and will be ignored."})
      << "options keep their case";
  EXPECT_EQ(parse({"-W13"}).messages.size(), 1u);
  EXPECT_EQ(parse({"-R5"}).messages.size(), 1u);
  for (const char* opt : {"X", "Y", "G", "B"}) {
    for (const char* bad : {"-5", "12345", "1a", "+3"}) {
      auto c = parse({std::string("-") + opt, bad});
      ASSERT_EQ(c.messages.size(), 1u) << opt << " " << bad;
      EXPECT_EQ(c.messages[0], std::string("The -") + opt + " parameter \"" + bad +
                                   "\" in your command line is invalid and will be ignored.");
      EXPECT_FALSE(c.x || c.y || c.gamma || c.brightness);
    }
  }
  auto missing = parse({"-X"});
  EXPECT_EQ(missing.messages[0],
            "The -X parameter \"\" in your command line is invalid and will be ignored.");
  auto two = parse({"movie.avi", "other.avi"}, {"movie.avi", "other.avi"});
  EXPECT_EQ(two.messages, std::vector<std::string>{
                              "You have specified two avi filenames \"movie.avi\" and "
                              "\"other.avi\".\rPlease specify only one file. The second file "
                              "will be ignored."});
  EXPECT_EQ(two.file, "movie.avi");
}

TEST(PlayerToneSteps, GammaJumpsTheGapAndStopsAtItsLimits) {
  EXPECT_EQ(stepGamma(-105, ToneStep::Increase), 100);
  EXPECT_EQ(stepGamma(100, ToneStep::Decrease), -105);
  EXPECT_EQ(stepGamma(300, ToneStep::Increase), 300);
  EXPECT_EQ(stepGamma(-300, ToneStep::Decrease), -300);
  EXPECT_EQ(stepGamma(150, ToneStep::Increase), 155);
  EXPECT_EQ(stepGamma(-200, ToneStep::Decrease), -205);
  EXPECT_EQ(stepGamma(-250, ToneStep::Reset), 100);
  EXPECT_EQ(stepBrightness(-15, ToneStep::Decrease), -15);
  EXPECT_EQ(stepBrightness(15, ToneStep::Increase), 15);
  EXPECT_EQ(stepBrightness(3, ToneStep::Decrease), 2);
  EXPECT_EQ(stepBrightness(-9, ToneStep::Reset), 0);
}

TEST(PlayerSettingsFile, DefaultsRangesAndWritingBack) {
  test::TempHome home;
  ProfileFile file(kSettingsFile);
  DisplayInfo wide{6, 1024, 768, 16};
  PlayerSettings s = loadPlayerSettings(file, wide);
  EXPECT_EQ(s.windowX, 157);
  EXPECT_EQ(s.windowY, 104);
  EXPECT_EQ(s.windowWidth, 240u);
  EXPECT_EQ(s.windowHeight, 320u);
  EXPECT_EQ(s.windowedStyle, 4u);
  EXPECT_EQ(loadPlayerSettings(file, DisplayInfo{6, 1024, 768, 8}).windowedStyle, 7u);
  EXPECT_EQ(loadPlayerSettings(file, DisplayInfo{6, 640, 480, 16}).windowedStyle, 0u);
  EXPECT_EQ(loadPlayerSettings(file, DisplayInfo{4, 1024, 768, 16}).windowedStyle, 0u);
  EXPECT_EQ(s.filePath, "*.avi");
  EXPECT_TRUE(s.autoLoop);

  file.writeString(kSettingsSection, "WindowedStyle", "9");  // 8-bit method on a 16-bit display
  file.writeString(kSettingsSection, "FullscreenStyle", "13");
  file.writeString(kSettingsSection, "Resolution", "5");
  file.writeString(kSettingsSection, "Brightness", "-16");
  file.writeString(kSettingsSection, "RewFFSpeed", "3000");
  file.writeString(kSettingsSection, "NetworkedVideo", "1");
  file.writeString(kSettingsSection, "Maximized", "1");
  s = loadPlayerSettings(file, wide);
  EXPECT_EQ(s.windowedStyle, 0u);
  EXPECT_EQ(s.fullscreenStyle, 4u);
  EXPECT_EQ(s.resolution, 2u);
  EXPECT_EQ(s.brightness, 0);
  EXPECT_EQ(s.rewFFSpeed, 0u);
  EXPECT_TRUE(s.networkedVideo);

  s.windowX = -20;
  s.brightness = -3;
  s.gamma = -105;
  s.replayStartFrame = "4";
  rememberFile(s, "/a.avi");
  rememberFile(s, "/b.avi");
  rememberFile(s, "/a.avi");
  ASSERT_TRUE(savePlayerSettings(file, s));
  EXPECT_EQ(file.getString(kSettingsSection, "WindowXPos", "", 40), "-20");
  EXPECT_EQ(file.getString(kSettingsSection, "Gamma", "", 40), "-105");
  EXPECT_EQ(file.getString(kSettingsSection, "FileRecall1", "", 40), "/a.avi");
  EXPECT_EQ(file.getString(kSettingsSection, "FileRecall2", "", 40), "/b.avi");
  EXPECT_EQ(file.getString(kSettingsSection, "FileRecall3", "", 40), "");
  EXPECT_EQ(file.getString(kSettingsSection, "NetworkedVideo", "", 40), "1")
      << "read-only keys stay as the user wrote them";
  EXPECT_EQ(file.getString(kSettingsSection, "Maximized", "", 40), "1");

  PlayerSettings again = loadPlayerSettings(file, wide);
  EXPECT_EQ(again.windowX, -20);
  placeOnScreen(again, 0, 0, 1024, 768);
  EXPECT_EQ(again.windowX, 157) << "a position outside the screen resets both coordinates";
  EXPECT_EQ(again.windowY, 104);
  again.windowX = 500;
  again.windowY = 900;
  placeOnScreen(again, 0, 0, 1024, 768);
  EXPECT_EQ(again.windowX, 157);
  EXPECT_EQ(again.windowY, 104);
}

// Finishing an installation from "rorarev.ini": directory roots and substitutions, the copy list,
// the icons as desktop entries, the settings lines, and every error box.
#include "setup/install_script.h"

#include <sys/stat.h>

#include "platform/profile.h"
#include "setup/zov32sup.h"
#include "setup_fixture.h"

namespace zov::setup {
namespace {

const std::string kCannot = "\rRorarev.ini cannot be processed (some icons may not appear).";

class SetupCompleteTest : public SetupTest {
 protected:
  void SetUp() override {
    SetupTest::SetUp();
    source_ = dir_ / "cdrom" / "disk1";
    target_ = dir_ / "opt" / "zov";
    std::filesystem::create_directories(source_);
    std::filesystem::create_directories(target_);
  }

  void script(const std::string& text) { writeFile(source_ / "rorarev.ini", text); }

  uint32_t run() {
    return ZOVSetupComplete(nullptr, source_.c_str(), "ignored", target_.c_str(), nullptr) & 0xFF;
  }

  std::filesystem::path applications() const { return dir_ / "data" / "applications"; }

  std::filesystem::path source_;
  std::filesystem::path target_;
};

TEST(SetupDirectories, RootsOfLocalAndNetworkPaths) {
  DirectoryParts parts;
  ASSERT_TRUE(splitDirectory("/opt/zov", parts));
  EXPECT_EQ(parts.root, "");
  EXPECT_EQ(parts.withSeparator, "/opt/zov/");
  ASSERT_TRUE(splitDirectory("/opt/zov/", parts));
  EXPECT_EQ(parts.withSeparator, "/opt/zov/");
  ASSERT_TRUE(splitDirectory("//server/share/dir", parts));
  EXPECT_EQ(parts.root, "//server/share");
  EXPECT_EQ(parts.withSeparator, "//server/share/dir/");
  ASSERT_TRUE(splitDirectory("//server/share", parts));
  EXPECT_EQ(parts.root, "//server/share");
  for (const char* bad : {"", "opt/zov", "C:\\zov", "//server", "//server/", "///share"})
    EXPECT_FALSE(splitDirectory(bad, parts)) << bad;
}

TEST(SetupSubstitution, LettersInEitherCaseAndDoublePercent) {
  DirectoryParts source{"//cd/rom", "//cd/rom/disk1/"};
  DirectoryParts target{"", "/opt/zov/"};
  std::string out;
  ASSERT_TRUE(translateItem("%s1|%S2|%t1|%T2|%%T2|100%%|%X|%S3|%", source, target, out));
  EXPECT_EQ(out, "//cd/rom|//cd/rom/disk1/||/opt/zov/|%T2|100%|%X|%S3|%");
  EXPECT_FALSE(translateItem(std::string(kMaxScriptPath - 3, 'a') + "%T2", source, target, out));
  EXPECT_TRUE(translateItem(std::string(kMaxScriptPath - 9, 'a') + "%T2", source, target, out));
}

TEST_F(SetupCompleteTest, BadDirectoriesStopTheStep) {
  EXPECT_EQ(ZOVSetupComplete(nullptr, "cdrom", "", target_.c_str(), ""), 0u);
  expectOneBox("Error: unable to determine drive given \"cdrom\"." + kCannot);
  sink_.clear();
  EXPECT_EQ(ZOVSetupComplete(nullptr, source_.c_str(), "", nullptr, ""), 0u);
  expectOneBox("Error: unable to determine drive given \"\"." + kCannot);
}

TEST_F(SetupCompleteTest, CopyListStopsAtTheFirstEmptyNameAndKeepsGoing) {
  writeFile(source_ / "readme.txt", "read me\n");
  writeFile(source_ / "tool.sh", "#!/bin/sh\n");
  chmod((source_ / "tool.sh").c_str(), 0755);
  std::string big(10000, 'z');  // more than two blocks
  writeFile(source_ / "big.bin", big);
  writeFile(source_ / "later.txt", "never copied\n");
  script(
      "[Copy List]\nFileName1=readme.txt\nFileName2=tool.sh\nFileName3=\nFileName4=later.txt\n"
      "[Icon List]\nGroup1=ZOV\nCmdLine1=%T2brindle\nCaption1=Player\n");
  EXPECT_EQ(run(), 1u);
  EXPECT_TRUE(sink_.boxes().empty());
  EXPECT_EQ(readFile(target_ / "readme.txt"), "read me\n");
  EXPECT_EQ(std::filesystem::status(target_ / "tool.sh").permissions() &
                std::filesystem::perms::owner_exec,
            std::filesystem::perms::owner_exec);
  EXPECT_FALSE(std::filesystem::exists(target_ / "later.txt"));
  EXPECT_TRUE(std::filesystem::exists(applications() / "ZOV" / "Player.desktop"))
      << "the icon list follows the copy list";

  script("[Copy List]\nFileName1=big.bin\n");
  EXPECT_EQ(run(), 1u);
  EXPECT_EQ(readFile(target_ / "big.bin"), big);
}

TEST_F(SetupCompleteTest, CopyListErrors) {
  const std::string scriptPath = (source_ / "rorarev.ini").string();
  script("[Copy List]\nFileName1=missing.txt\n");
  EXPECT_EQ(run(), 0u);
  expectOneBox("Error: The file specified in FileName1= in the [Copy List] section of " +
               scriptPath + " was not found using \"" + (source_ / "missing.txt").string() + "\"." +
               kCannot);

  sink_.clear();
  std::string longName(kMaxScriptPath, 'n');
  script("[Copy List]\nFileName1=" + longName + "\n");
  EXPECT_EQ(run(), 0u);
  expectOneBox("Error: The file \"" + longName +
               "\" specified in FileName1= in the [Copy List] section of " + scriptPath +
               " is too long!." + kCannot);

  sink_.clear();
  writeFile(source_ / "a.txt", "a");
  std::filesystem::create_directories(target_ / "a.txt" / "in-the-way");
  script("[Copy List]\nFileName1=a.txt\n");
  EXPECT_EQ(run(), 0u);
  expectOneBox("Error: Unable to create \"" + (target_ / "a.txt").string() + "\"." + kCannot);
}

TEST_F(SetupCompleteTest, CopyListNeverEmptiesAFileNorWritesOutsideTheTarget) {
  // Installing from the installation directory itself: every file is its own copy.
  writeFile(target_ / "rorarev.ini", "[Copy List]\nFileName1=readme.txt\n");
  writeFile(target_ / "readme.txt", "read me\n");
  EXPECT_EQ(ZOVSetupComplete(nullptr, target_.c_str(), "", target_.c_str(), nullptr) & 0xFF, 1u);
  EXPECT_EQ(readFile(target_ / "readme.txt"), "read me\n");
  // The same file reached by another path (a hard link in the source).
  std::filesystem::create_hard_link(target_ / "readme.txt", source_ / "readme.txt");
  script("[Copy List]\nFileName1=readme.txt\n");
  EXPECT_EQ(run(), 1u);
  EXPECT_EQ(readFile(target_ / "readme.txt"), "read me\n");
  EXPECT_TRUE(sink_.boxes().empty());

  writeFile(source_ / "evil.txt", "evil");
  writeFile(source_.parent_path() / "victim.txt", "evil");
  writeFile(dir_ / "opt" / "victim.txt", "keep");
  for (const std::string& name :
       {std::string("../victim.txt"), (dir_ / "opt" / "victim.txt").string()}) {
    sink_.clear();
    script("[Copy List]\nFileName1=" + name + "\n");
    EXPECT_EQ(run(), 0u) << name;
    expectOneBox("Error: Unable to create \"" + target_.string() + "/" + name + "\"." + kCannot);
    EXPECT_EQ(readFile(dir_ / "opt" / "victim.txt"), "keep") << name;
  }

  sink_.clear();
  std::filesystem::create_symlink(dir_ / "opt" / "victim.txt", target_ / "evil.txt");
  script("[Copy List]\nFileName1=evil.txt\n");
  EXPECT_EQ(run(), 0u);
  expectOneBox("Error: Unable to create \"" + (target_ / "evil.txt").string() + "\"." + kCannot);
  EXPECT_EQ(readFile(dir_ / "opt" / "victim.txt"), "keep");

  // A linked folder inside the target leads out of it just as well.
  sink_.clear();
  std::filesystem::create_directory_symlink(dir_ / "opt", target_ / "sub");
  writeFile(source_ / "sub" / "victim.txt", "evil");
  script("[Copy List]\nFileName1=sub/victim.txt\n");
  EXPECT_EQ(run(), 0u);
  expectOneBox("Error: Unable to create \"" + (target_ / "sub" / "victim.txt").string() + "\"." +
               kCannot);
  EXPECT_EQ(readFile(dir_ / "opt" / "victim.txt"), "keep");
}

TEST_F(SetupCompleteTest, IconsBecomeDesktopEntriesWithSubstitutions) {
  script(
      "[Icon List]\n"
      "Group1=Orvane ZOV\nCmdLine1=%t2brindle --open %S2demo.avi\nCaption1=ZOV Player\n"
      "WorkDir1=%T2\nIconName1=%T2share/brindle.svg\nIconIndex1=2\n"
      "Group2=Orvane ZOV\nCmdLine2=%T2zovcomp --rate 100%%\nCaption2=Compressor, fast\n"
      "Group3=Orvane ZOV\nCmdLine3=\nCaption3=Stops here\n"
      "Group4=Orvane ZOV\nCmdLine4=%T2never\nCaption4=Never\n");
  EXPECT_EQ(run(), 1u);
  EXPECT_TRUE(sink_.boxes().empty());
  std::filesystem::path group = applications() / "Orvane-ZOV";
  std::string player = readFile(group / "ZOV-Player.desktop");
  const std::string t2 = target_.string() + "/";
  EXPECT_EQ(player, "[Desktop Entry]\nType=Application\nVersion=1.0\nName=ZOV Player\nExec=" + t2 +
                        "brindle --open " + source_.string() + "/demo.avi\nPath=" + t2 + "\nIcon=" +
                        t2 + "share/brindle.svg\nTerminal=false\nX-ZOV-Group=Orvane ZOV\n");
  std::string compressor = readFile(group / "Compressor--fast.desktop");
  EXPECT_NE(compressor.find("Name=Compressor, fast\n"), std::string::npos) << compressor;
  EXPECT_NE(compressor.find("Exec=" + t2 + "zovcomp --rate 100%%\n"), std::string::npos)
      << "a percent sign is written as %% in Exec: " << compressor;
  EXPECT_EQ(compressor.find("Path="), std::string::npos);
  EXPECT_FALSE(std::filesystem::exists(group / "Never.desktop"));
}

TEST_F(SetupCompleteTest, IconErrors) {
  script("[Icon List]\nGroup1=G\nCmdLine1=" + std::string(kMaxScriptPath, 'x') +
         "%T2\nCaption1=C\n");
  EXPECT_EQ(run(), 0u);
  expectOneBox("Error: Item is too long to translate." + kCannot);

  sink_.clear();
  script("[Icon List]\nGroup1=G\nCmdLine1=x\nCaption1=C\n");
  testing::failDdeInitialize(true);
  EXPECT_EQ(run(), 0u);
  expectOneBox("Error: Unable to initialize DDE." + kCannot);
  testing::failDdeInitialize(false);

  sink_.clear();
  writeFile(applications(), "a file where the folder should be");
  EXPECT_EQ(run(), 0u);
  expectOneBox("Error: Unable to start a conversation with PROGMAN." + kCannot);
}

TEST_F(SetupCompleteTest, SettingsLinesForThePlayerAndTheCodec) {
  script("[General]\nAddPlayerIniLine=AutoRepeat=1\nAddCodecIniLine=OutputMethod = 3\n");
  EXPECT_EQ(run(), 1u);
  EXPECT_TRUE(sink_.boxes().empty());
  EXPECT_EQ(ProfileFile("zovbrindle.ini").getString("Movie Player", "AutoRepeat", "", 64), "1");
  EXPECT_EQ(ProfileFile("zovcodec.ini").getString("ZOV1", "OutputMethod", "", 64), "3");

  script("[General]\nAddPlayerIniLine=nonsense\nAddCodecIniLine=Gamma=2\n");
  EXPECT_EQ(run(), 1u) << "an invalid line is skipped";
  expectOneBox("Error: AddPlayerIniLine in Rorarev.ini is invalid.");
  EXPECT_EQ(ProfileFile("zovcodec.ini").getString("ZOV1", "Gamma", "", 64), "2");

  sink_.clear();
  script("[General]\nAddCodecIniLine=nothing here\n");
  EXPECT_EQ(run(), 1u);
  expectOneBox("Error: AddCodecIniLine in Rorarev.ini is invalid.");
}

TEST_F(SetupCompleteTest, CodecLocationIsWrittenInItsPlainForm) {
  ProfileFile codec("zovcodec.ini");
  ASSERT_TRUE(codec.writeString("Install", "Location", "/opt//zov/./lib/"));
  script("");
  EXPECT_EQ(run(), 1u);
  EXPECT_EQ(codec.getString("Install", "Location", "", 256), "/opt/zov/lib/");
}

TEST_F(SetupCompleteTest, AMissingScriptFinishesQuietly) {
  EXPECT_EQ(run(), 1u);
  EXPECT_TRUE(sink_.boxes().empty());
}

TEST(ProgramManager, CommandsWithCommasAndQuotesRoundTrip) {
  EXPECT_EQ(ProgramManagerConversation::createGroupCommand("Orvane"), "[CreateGroup(Orvane)]");
  EXPECT_EQ(ProgramManagerConversation::addItemCommand("/opt/b", "Player", "", 0, "/opt"),
            "[AddItem(/opt/b,Player,,0,,,/opt)]");
  EXPECT_EQ(ProgramManagerConversation::addItemCommand("a,b", "say \"hi\"", "i", -1, ""),
            "[AddItem(\"a,b\",\"say \"\"hi\"\"\",i,-1,,,)]");
  EXPECT_EQ(desktopFileStem("../x y"), "-.-x-y") << "never a hidden file or a parent folder";
  EXPECT_EQ(desktopFileStem(".."), "-.");
}

}  // namespace
}  // namespace zov::setup

// Private-profile files: the Windows reading rules the settings code depends on, and writes that
// never leave a damaged file.
#include "platform/profile.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <fstream>
#include <sstream>
#include <thread>

#include "platform/zov_home.h"

namespace zov {
namespace {

// "K3" and the like, built without operator+ (which trips a false GCC 12 warning).
std::string numbered(const char* prefix, int n) {
  std::string s(prefix);
  s += std::to_string(n);
  return s;
}

class ProfileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/zov-profile-test-XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    dir_ = tmpl;
    // Home is one level down so that creating it on demand is exercised too.
    home_ = dir_ / "home";
    setenv("ZOV_HOME", home_.c_str(), 1);
  }
  void TearDown() override {
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
    unsetenv("ZOV_HOME");
  }

  void writeRaw(const std::string& text, const char* name = "test.ini") {
    std::filesystem::create_directories(home_);
    std::ofstream(home_ / name, std::ios::binary) << text;
  }
  std::string readRaw(const char* name = "test.ini") {
    std::ifstream in(home_ / name, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
  }
  std::vector<std::string> homeEntries() {
    std::vector<std::string> out;
    for (const auto& e : std::filesystem::directory_iterator(home_)) {
      out.push_back(e.path().filename().string());
    }
    std::sort(out.begin(), out.end());
    return out;
  }

  std::filesystem::path dir_;
  std::filesystem::path home_;
};

TEST_F(ProfileTest, IntegerReadsParseLikeWindows) {
  writeRaw(
      "[Numbers]\n"
      "minus=-1\n"
      "lead=  42abc\n"
      "plus=+7\n"
      "wrap=4294967296\n"
      "wrap2=4294967301\n"
      "big=4294967295\n"
      "neg=-250\n"
      "text=abc\n"
      "sign=-\n"
      "empty=\n"
      "quoted=\"12\"\n"
      "spaced = 9 \n");
  ProfileFile f("test.ini");
  EXPECT_EQ(f.getInt("Numbers", "minus", 5), 4294967295u);
  EXPECT_EQ(f.getInt("Numbers", "lead", 5), 42u);
  EXPECT_EQ(f.getInt("Numbers", "plus", 5), 7u);
  // Digits accumulate modulo 2^32, with no overflow check.
  EXPECT_EQ(f.getInt("Numbers", "wrap", 5), 0u);
  EXPECT_EQ(f.getInt("Numbers", "wrap2", 5), 5u);
  EXPECT_EQ(f.getInt("Numbers", "big", 5), 4294967295u);
  EXPECT_EQ(f.getInt("Numbers", "neg", 5), uint32_t(-250));
  // A value without a leading number reads 0; only an empty value gives the default.
  EXPECT_EQ(f.getInt("Numbers", "text", 5), 0u);
  EXPECT_EQ(f.getInt("Numbers", "sign", 5), 0u);
  EXPECT_EQ(f.getInt("Numbers", "empty", 5), 5u);
  EXPECT_EQ(f.getInt("Numbers", "quoted", 5), 12u);
  EXPECT_EQ(f.getInt("Numbers", "spaced", 5), 9u);
  // A negative default comes back as its unsigned image.
  EXPECT_EQ(f.getInt("Numbers", "missing", -2), 4294967294u);
}

TEST_F(ProfileTest, MissingFileSectionOrKeyGivesDefaults) {
  ProfileFile missing("nothere.ini");
  EXPECT_EQ(missing.getInt("General", "KeyRate", 3), 3u);
  EXPECT_EQ(missing.getString("General", "Path", "dflt", 100), "dflt");
  EXPECT_FALSE(missing.hasSection("General"));
  EXPECT_TRUE(missing.keys("General").empty());
  // Reading never creates the home directory.
  EXPECT_FALSE(std::filesystem::exists(home_));

  writeRaw("[General]\nKeyRate=9\n");
  ProfileFile f("test.ini");
  EXPECT_EQ(f.getInt("Other", "KeyRate", 3), 3u);
  EXPECT_EQ(f.getInt("General", "Other", 3), 3u);
  // Keys before any section belong to none.
  writeRaw("KeyRate=9\n[General]\n");
  EXPECT_EQ(f.getInt("General", "KeyRate", 3), 3u);
}

TEST_F(ProfileTest, LookupIgnoresCaseAndTheFirstOccurrenceWins) {
  writeRaw(
      "[general]\n"
      "KEYRATE=11\n"
      "keyrate=12\n"
      "[GENERAL]\n"
      "Other=1\n");
  ProfileFile f("test.ini");
  EXPECT_EQ(f.getInt("General", "KeyRate", 0), 11u);
  EXPECT_EQ(f.getInt("General", "Other", 0), 0u);
  EXPECT_TRUE(f.hasKey("GeNeRaL", "kEyRaTe"));
  EXPECT_EQ(f.keys("General"), std::vector<std::string>{"KEYRATE"});

  // A write replaces the first occurrence and keeps the file's spelling.
  ASSERT_TRUE(f.writeInt("General", "KeyRate", 20));
  EXPECT_EQ(readRaw(), "[general]\nKEYRATE=20\nkeyrate=12\n[GENERAL]\nOther=1\n");
}

TEST_F(ProfileTest, StringReadsAreCutToTheBuffer) {
  writeRaw("[S]\nv=abcdefgh\nq='  spaced  '\nd=\"x'\n");
  ProfileFile f("test.ini");
  EXPECT_EQ(f.getString("S", "v", "", 100), "abcdefgh");
  EXPECT_EQ(f.getString("S", "v", "", 9), "abcdefgh");
  EXPECT_EQ(f.getString("S", "v", "", 8), "abcdefg");
  EXPECT_EQ(f.getString("S", "v", "", 1), "");
  EXPECT_EQ(f.getString("S", "v", "", 0), "");
  EXPECT_EQ(f.getString("S", "missing", "default  ", 5), "defa");
  EXPECT_EQ(f.getString("S", "missing", "default  ", 100), "default");
  // One pair of matching quotes is dropped; blanks inside them stay.
  EXPECT_EQ(f.getString("S", "q", "", 100), "  spaced  ");
  EXPECT_EQ(f.getString("S", "d", "", 100), "\"x'");

  char buf[4];
  EXPECT_EQ(getPrivateProfileString("S", "v", "", buf, sizeof buf, "test.ini"), 3u);
  EXPECT_STREQ(buf, "abc");
}

TEST_F(ProfileTest, WritesCreateHomeFileAndSectionAndKeepCommentsAndOrder) {
  ProfileFile f("test.ini");
  ASSERT_TRUE(f.writeString("General", "First", "1"));
  EXPECT_TRUE(std::filesystem::is_directory(home_));
  ASSERT_TRUE(f.writeString("Filtering", "A", "x"));
  ASSERT_TRUE(f.writeString("General", "Second", "2"));
  EXPECT_EQ(readRaw(), "[General]\nFirst=1\nSecond=2\n\n[Filtering]\nA=x\n");

  writeRaw(
      "; settings of the test\n"
      "[General]\n"
      "# a note\n"
      "First=1\n"
      "some stray line\n"
      "\n"
      "[Next]\n"
      "B=2\n");
  ASSERT_TRUE(f.writeString("general", "Third", "3"));
  ASSERT_TRUE(f.writeString("General", "First", "one"));
  EXPECT_EQ(readRaw(),
            "; settings of the test\n"
            "[General]\n"
            "# a note\n"
            "First=one\n"
            "Third=3\n"
            "some stray line\n"
            "\n"
            "[Next]\n"
            "B=2\n");
}

TEST_F(ProfileTest, WrittenValuesReadBackExactly) {
  ProfileFile f("test.ini");
  for (std::string v : {" lead", "trail ", "\"quoted\"", "'single'", "\"", "\"half", "plain", ""}) {
    ASSERT_TRUE(f.writeString("S", "v", v)) << v;
    EXPECT_EQ(f.getString("S", "v", "x", 100), v);
  }
  ASSERT_TRUE(f.writeString("S", "v", " x "));
  EXPECT_EQ(readRaw(), "[S]\nv=\" x \"\n");
}

TEST_F(ProfileTest, CrLfFilesKeepTheirLineEnds) {
  writeRaw("[General]\r\nA=1\r\n");
  ProfileFile f("test.ini");
  EXPECT_EQ(f.getInt("General", "A", 0), 1u);
  ASSERT_TRUE(f.writeString("General", "B", "2"));
  EXPECT_EQ(readRaw(), "[General]\r\nA=1\r\nB=2\r\n");
}

TEST_F(ProfileTest, DeletingAndEmptyingSections) {
  writeRaw("[A]\nx=1\n; about A\ny=2\n\n[B]\nz=3\n\n[C]\nw=4\n");
  ProfileFile f("test.ini");
  ASSERT_TRUE(f.emptySection("b"));
  EXPECT_TRUE(f.hasSection("B"));
  EXPECT_TRUE(f.keys("B").empty());
  EXPECT_EQ(readRaw(), "[A]\nx=1\n; about A\ny=2\n\n[B]\n\n[C]\nw=4\n");

  ASSERT_TRUE(f.deleteKey("A", "X"));
  ASSERT_TRUE(f.deleteKey("A", "nothere"));
  ASSERT_TRUE(f.deleteSection("C"));
  EXPECT_EQ(readRaw(), "[A]\n; about A\ny=2\n\n[B]\n\n");
  EXPECT_FALSE(f.hasSection("C"));

  // Emptying a missing section creates it empty; replacing fills it in the given order.
  ASSERT_TRUE(f.emptySection("D"));
  ASSERT_TRUE(f.replaceSection("A", {{"k2", "2"}, {"k1", "1"}}));
  EXPECT_EQ(readRaw(), "[A]\nk2=2\nk1=1\n\n[B]\n\n[D]\n");

  // The Windows shape: a null value deletes a key, a null key the section.
  ASSERT_TRUE(writePrivateProfileString("A", "k2", nullptr, "test.ini"));
  ASSERT_TRUE(writePrivateProfileString("B", nullptr, nullptr, "test.ini"));
  ASSERT_TRUE(writePrivateProfileSection("D", "p=1\0q=2\0", "test.ini"));
  EXPECT_EQ(readRaw(), "[A]\nk1=1\n\n[D]\np=1\nq=2\n");
}

TEST_F(ProfileTest, EnumeratesKeysAndSections) {
  writeRaw("[One]\nb=1\na=2\nB=3\n[Two]\n");
  ProfileFile f("test.ini");
  EXPECT_EQ(f.keys("one"), (std::vector<std::string>{"b", "a"}));
  EXPECT_EQ(f.sections(), (std::vector<std::string>{"One", "Two"}));

  char buf[16];
  size_t n = getPrivateProfileString("One", nullptr, "", buf, sizeof buf, "test.ini");
  EXPECT_EQ(n, 4u);
  EXPECT_EQ(std::string(buf, n + 1), std::string("b\0a\0\0", 5));
  // Cut to fit, ending with two terminators.
  char small[4];
  n = getPrivateProfileString(nullptr, nullptr, "", small, sizeof small, "test.ini");
  EXPECT_EQ(n, 2u);
  EXPECT_EQ(std::string(small, 4), std::string("On\0\0", 4));
}

TEST_F(ProfileTest, RejectsNamesAndValuesThatWouldDamageTheFile) {
  ProfileFile f("test.ini");
  ASSERT_TRUE(f.writeString("General", "A", "1"));
  const std::string before = readRaw();
  EXPECT_FALSE(f.writeString("General", "B", "two\nlines"));
  EXPECT_EQ(f.lastError(), EINVAL);
  EXPECT_FALSE(f.writeString("General", "B=C", "1"));
  EXPECT_FALSE(f.writeString("Gen]eral", "B", "1"));
  EXPECT_FALSE(f.writeString("General", "[B]", "1"));
  EXPECT_FALSE(f.writeString("General", "", "1"));
  EXPECT_EQ(readRaw(), before);
}

TEST_F(ProfileTest, ACrashMidWriteLeavesTheOldFileWhole) {
  ProfileFile f("test.ini");
  ASSERT_TRUE(f.writeString("General", "KeyRate", "3"));
  ASSERT_TRUE(f.writeString("General", "Path", "/some/where"));
  const std::string before = readRaw();

  profile_testing::failNextWriteAfter(5);
  EXPECT_FALSE(f.writeString("General", "KeyRate", "50"));
  EXPECT_EQ(f.lastError(), EIO);
  EXPECT_EQ(profileLastError(), EIO);
  // The old file is untouched; the half-written temporary file lies beside it and is not read.
  EXPECT_EQ(readRaw(), before);
  EXPECT_EQ(homeEntries().size(), 2u);
  EXPECT_EQ(ProfileFile("test.ini").getInt("General", "KeyRate", 0), 3u);

  // The next write succeeds as usual.
  ASSERT_TRUE(f.writeString("General", "KeyRate", "50"));
  EXPECT_EQ(readRaw(), "[General]\nKeyRate=50\nPath=/some/where\n");
}

TEST_F(ProfileTest, SuccessfulWritesLeaveNoTemporaryFiles) {
  ProfileFile f("test.ini");
  for (int i = 0; i < 5; ++i) ASSERT_TRUE(f.writeInt("General", numbered("K", i), i));
  EXPECT_EQ(homeEntries(), std::vector<std::string>{"test.ini"});
}

TEST_F(ProfileTest, SeesChangesMadeByOthers) {
  ProfileFile f("test.ini");
  ASSERT_TRUE(f.writeInt("General", "A", 1));
  EXPECT_EQ(f.getInt("General", "A", 0), 1u);
  // Another program rewrites the file in place, same size: the next read sees the new value.
  std::this_thread::sleep_for(std::chrono::milliseconds(5));
  writeRaw("[General]\nA=2\n");
  EXPECT_EQ(f.getInt("General", "A", 0), 2u);
}

TEST_F(ProfileTest, ConcurrentWritersLoseNoKeys) {
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([t] {
      ProfileFile f("test.ini");
      for (int i = 0; i < 10; ++i) {
        f.writeInt(numbered("T", t), numbered("K", i), i);
      }
    });
  }
  for (auto& th : threads) th.join();
  ProfileFile f("test.ini");
  for (int t = 0; t < 4; ++t) EXPECT_EQ(f.keys(numbered("T", t)).size(), 10u);
}

TEST_F(ProfileTest, WritesThroughASymbolicLink) {
  std::filesystem::create_directories(home_);
  std::filesystem::path real = dir_ / "real.ini";
  std::ofstream(real) << "[General]\nA=1\n";
  std::filesystem::create_symlink(real, home_ / "test.ini");
  ASSERT_TRUE(ProfileFile("test.ini").writeInt("General", "A", 2));
  EXPECT_TRUE(std::filesystem::is_symlink(home_ / "test.ini"));
  EXPECT_EQ(ProfileFile(real.string()).getInt("General", "A", 0), 2u);
}

// ---- Home directory ----

class HomeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const char* name : {"ZOV_HOME", "XDG_CONFIG_HOME", "HOME"}) {
      const char* v = getenv(name);
      saved_.emplace_back(name, v ? std::optional<std::string>(v) : std::nullopt);
    }
  }
  void TearDown() override {
    for (auto& [name, value] : saved_) {
      if (value) {
        setenv(name.c_str(), value->c_str(), 1);
      } else {
        unsetenv(name.c_str());
      }
    }
  }
  std::vector<std::pair<std::string, std::optional<std::string>>> saved_;
};

TEST_F(HomeTest, ResolutionOrder) {
  setenv("HOME", "/home/someone", 1);
  setenv("XDG_CONFIG_HOME", "/xdg/config", 1);
  setenv("ZOV_HOME", "/zov/home", 1);
  EXPECT_EQ(zovHomeDirectory(), "/zov/home");

  setenv("ZOV_HOME", "", 1);  // empty counts as unset
  EXPECT_EQ(zovHomeDirectory(), "/xdg/config/zov");

  unsetenv("ZOV_HOME");
  setenv("XDG_CONFIG_HOME", "relative/config", 1);  // relative values are ignored
  EXPECT_EQ(zovHomeDirectory(), "/home/someone/.config/zov");

  unsetenv("XDG_CONFIG_HOME");
  EXPECT_EQ(zovHomeDirectory(), "/home/someone/.config/zov");

  unsetenv("HOME");
  EXPECT_FALSE(zovHomeDirectory().empty());
  EXPECT_TRUE(zovHomeDirectory().is_absolute());
}

TEST_F(HomeTest, BareNamesResolveInHomeAndAbsolutePathsStay) {
  setenv("ZOV_HOME", "/zov/home", 1);
  EXPECT_EQ(resolveInZovHome("zovcomp.ini"), "/zov/home/zovcomp.ini");
  EXPECT_EQ(resolveInZovHome("/etc/other.ini"), "/etc/other.ini");
  EXPECT_EQ(ProfileFile("zovcodec.ini").path(), "/zov/home/zovcodec.ini");
}

TEST_F(HomeTest, HomeIsCreatedOnDemand) {
  char tmpl[] = "/tmp/zov-home-test-XXXXXX";
  ASSERT_NE(mkdtemp(tmpl), nullptr);
  std::filesystem::path home = std::filesystem::path(tmpl) / "a" / "b";
  setenv("ZOV_HOME", home.c_str(), 1);
  std::error_code ec;
  EXPECT_TRUE(ensureZovHomeDirectory(ec)) << ec.message();
  EXPECT_TRUE(std::filesystem::is_directory(home));
  EXPECT_TRUE(ensureZovHomeDirectory(ec));
  std::filesystem::remove_all(tmpl);
}

}  // namespace
}  // namespace zov

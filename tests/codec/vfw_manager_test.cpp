// The compression manager of platform/vfw: finding drivers, the order of driver messages, and
// the records it builds for the decompression calls.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "codec/support/codec_host.h"

namespace zov::test {
namespace {

constexpr DWORD kFake = mmioFOURCC('f', 'a', 'k', 'e');

std::vector<std::string> readLog(const std::string& path) {
  std::vector<std::string> lines;
  std::ifstream in(path);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

class ManagerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    log_ = makeTempDir() + "/driver.log";
    setenv("FAKE_DRIVER_LOG", log_.c_str(), 1);
    ASSERT_TRUE(ICInstall(ICTYPE_VIDEO, kFake, reinterpret_cast<LPARAM>(ZOV_FAKE_DRIVER), "fake",
                          ICINSTALL_DRIVER));
    ICInstall(ICTYPE_VIDEO, mmioFOURCC('n', 'o', 'p', 'e'),
              reinterpret_cast<LPARAM>(ZOV_FAKE_DRIVER), "fake", ICINSTALL_DRIVER);
  }
  void TearDown() override {
    ICRemove(ICTYPE_VIDEO, kFake, 0);
    ICRemove(ICTYPE_VIDEO, mmioFOURCC('n', 'o', 'p', 'e'), 0);
    unsetenv("FAKE_DRIVER_LOG");
  }
  std::string log_;
};

TEST_F(ManagerTest, LoadsEnablesAndOpensInWindowsOrderAndUnloadsWithTheLastClose) {
  HIC first = ICOpen(ICTYPE_VIDEO, kFake, ICMODE_DECOMPRESS);
  ASSERT_NE(first, nullptr);
  HIC second = ICOpen(streamtypeVIDEO, mmioFOURCC('F', 'A', 'K', 'E'), ICMODE_DECOMPRESS);
  ASSERT_NE(second, nullptr) << "'vids' and upper case reach the same driver";
  EXPECT_EQ(ICSendMessage(second, ICM_GETSTATE, 0, 0), 7);
  EXPECT_EQ(ICClose(first), ICERR_OK);
  EXPECT_EQ(ICClose(second), ICERR_OK);
  EXPECT_EQ(readLog(log_), (std::vector<std::string>{"1 0", "2 0", "3 0", "3 0", "20480 42", "4 42",
                                                     "4 42", "5 0", "6 0"}));
}

TEST_F(ManagerTest, ARefusedOpenGivesNullAndUnloadsAgain) {
  EXPECT_EQ(ICOpen(ICTYPE_VIDEO, mmioFOURCC('n', 'o', 'p', 'e'), ICMODE_DECOMPRESS), nullptr);
  EXPECT_EQ(readLog(log_), (std::vector<std::string>{"1 0", "2 0", "3 0", "5 0", "6 0"}));
}

TEST(Manager, UnknownHandlersAndNullHandlesAreRefused) {
  EXPECT_EQ(ICOpen(ICTYPE_VIDEO, mmioFOURCC('x', 'v', 'i', 'd'), ICMODE_DECOMPRESS), nullptr);
  EXPECT_EQ(ICSendMessage(nullptr, ICM_GETINFO, 0, 0), ICERR_BADHANDLE);
  EXPECT_EQ(ICClose(nullptr), ICERR_BADHANDLE);
}

TEST(Manager, FindsTheCodecThroughTheSearchPathFirst) {
  const std::string path = codecLibraryPath();
  ASSERT_FALSE(path.empty());
  EXPECT_EQ(std::filesystem::path(path).parent_path(), std::filesystem::path(ZOV_CODEC_DIR));
  auto dirs = vfw::codecSearchDirectories();
  ASSERT_GE(dirs.size(), 4u);
  EXPECT_EQ(dirs.front(), ZOV_CODEC_DIR);
  OpenCodec codec;
  ASSERT_TRUE(codec);
  EXPECT_EQ(std::string(ICGetDriverPath(codec.hic())), path);
}

}  // namespace
}  // namespace zov::test

// The compression bridge: forwarding zov2 compression messages to the external compression
// library beside the codec, its version check and its failure boxes. Each case runs a private
// copy of the codec with a stand-in library beside it, in a child process.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "codec/support/codec_host.h"

namespace zov::test {
namespace {

namespace fs = std::filesystem;
constexpr DWORD kZov1 = mmioFOURCC('z', 'o', 'v', '1');
constexpr DWORD kZov2 = mmioFOURCC('z', 'o', 'v', '2');

std::vector<std::string> lines(const std::string& path) {
  std::vector<std::string> out;
  std::ifstream in(path);
  for (std::string line; std::getline(in, line);) out.push_back(line);
  return out;
}

// A codec copy in a fresh folder, with `compressionLibrary` (may be empty) beside it as
// libzov32.so, installed for zov1 and zov2.
struct BridgeSetup {
  std::string dir, log;
  CodecExports exports;
  explicit BridgeSetup(const char* compressionLibrary) {
    dir = makeTempDir();
    static std::string codecPath;
    codecPath = copyCodecLibrary(dir);
    if (compressionLibrary && *compressionLibrary)
      fs::copy_file(compressionLibrary,
                    fs::path(dir) / ("libzov32.so." + std::to_string(ZOV_SOVERSION)));
    log = dir + "/zov32.log";
    setenv("FAKE_ZOV32_LOG", log.c_str(), 1);
    exports = loadCodec(codecPath);
    for (DWORD h : {kZov1, kZov2})
      ICInstall(ICTYPE_VIDEO, h, reinterpret_cast<LPARAM>(codecPath.c_str()), "", ICINSTALL_DRIVER);
  }
};

TEST(CompressionBridge, WithoutTheLibraryTheCodecIsDecompressOnlyAndSilent) {
  CodecUi ui;
  OpenCodec zov1(kZov1), zov2(kZov2);
  ASSERT_TRUE(zov1 && zov2);
  for (UINT msg : {ICM_COMPRESS_QUERY, ICM_COMPRESS_BEGIN, ICM_COMPRESS, ICM_CONFIGURE}) {
    EXPECT_EQ(zov2.send(msg), ICERR_UNSUPPORTED) << msg;
    EXPECT_EQ(zov1.send(msg), ICERR_UNSUPPORTED) << msg;
  }
  EXPECT_TRUE(ui.boxes.boxes().empty());
}

TEST(CompressionBridge, ForwardsMessagesWithTheSessionHandleAndClosesTheSessionAtClose) {
  EXPECT_EQ(runInChild([] {
              BridgeSetup setup(ZOV_FAKE_ZOV32_GOOD);
              CodecUi ui(setup.exports);
              HIC zov1 = ICOpen(ICTYPE_VIDEO, kZov1, ICMODE_COMPRESS);
              HIC idle = ICOpen(ICTYPE_VIDEO, kZov2, ICMODE_COMPRESS);
              HIC zov2 = ICOpen(ICTYPE_VIDEO, kZov2, ICMODE_COMPRESS);
              CHILD_CHECK(zov1 && zov2 && idle);
              CHILD_CHECK(ICSendMessage(zov1, ICM_COMPRESS_QUERY, 1, 2) == ICERR_UNSUPPORTED);
              CHILD_CHECK(ICSendMessage(zov2, ICM_COMPRESS_QUERY, 1, 2) == ICERR_OK);
              CHILD_CHECK(ICSendMessage(zov2, ICM_COMPRESS_GET_SIZE, 3, 4) == 12345);
              CHILD_CHECK(ICSendMessage(zov2, ICM_COMPRESS_END, 0, 0) == ICERR_OK);
              CHILD_CHECK(ICSendMessage(zov2, ICM_CONFIGURE, 9, 0) == ICERR_OK);
              CHILD_CHECK(ICSendMessage(zov2, ICM_GETQUALITY, 0, 0) == ICERR_UNSUPPORTED);
              ICClose(idle);
              ICClose(zov2);
              ICClose(zov1);
              std::vector<std::string> expected = {"entry 5eed 0 0",     "query 5eed 1 2",
                                                   "getsize 5eed 3 4",   "end 5eed 0 0",
                                                   "configure 5eed 9 0", "exit 5eed 0 0"};
              CHILD_CHECK(lines(setup.log) == expected);
              CHILD_CHECK(ui.boxes.boxes().empty());
              return 0;
            }),
            0);
}

TEST(CompressionBridge, AFreedDriverClosesItsSessionsAndOpensAFreshOneOnTheNextMessage) {
  EXPECT_EQ(runInChild([] {
              BridgeSetup setup(ZOV_FAKE_ZOV32_GOOD);
              CodecUi ui(setup.exports);
              HIC zov2 = ICOpen(ICTYPE_VIDEO, kZov2, ICMODE_COMPRESS);
              CHILD_CHECK(zov2);
              CHILD_CHECK(ICSendMessage(zov2, ICM_COMPRESS_BEGIN, 1, 2) == ICERR_OK);
              CHILD_CHECK(ICSendMessage(zov2, DRV_FREE, 0, 0) == 1);
              CHILD_CHECK(ICSendMessage(zov2, ICM_COMPRESS_END, 0, 0) == ICERR_OK);
              ICClose(zov2);
              std::vector<std::string> expected = {"entry 5eed 0 0", "begin 5eed 1 2",
                                                   "exit 5eed 0 0",  "entry 5eed 0 0",
                                                   "end 5eed 0 0",   "exit 5eed 0 0"};
              CHILD_CHECK(lines(setup.log) == expected);
              return 0;
            }),
            0);
}

TEST(CompressionBridge, AnOlderLibraryGivesTheMismatchBoxAtEveryAttempt) {
  EXPECT_EQ(runInChild([] {
              BridgeSetup setup(ZOV_FAKE_ZOV32_OLD);
              CodecUi ui(setup.exports);
              HIC zov2 = ICOpen(ICTYPE_VIDEO, kZov2, ICMODE_COMPRESS);
              CHILD_CHECK(zov2);
              CHILD_CHECK(ICSendMessage(zov2, ICM_COMPRESS_QUERY, 0, 0) == ICERR_MEMORY);
              CHILD_CHECK(ICSendMessage(zov2, ICM_COMPRESS_QUERY, 0, 0) == ICERR_MEMORY);
              ICClose(zov2);
              const std::string text =
                  "ZOVCOD32.DLL / ZOV32.DLL version mismatch!\rZOVCOD32.DLL version is 1035 -- "
                  "ZOV32.DLL version is 1034\rplease reinstall Orvane!";
              CHILD_CHECK(ui.boxes.texts() == (std::vector<std::string>{text, text}));
              CHILD_CHECK(ui.boxes.boxes()[0].title == "Orvane Codec");
              CHILD_CHECK(lines(setup.log).empty());
              return 0;
            }),
            0);
}

TEST(CompressionBridge, ALibraryWithoutEveryEntryIsObsolete) {
  EXPECT_EQ(
      runInChild([] {
        BridgeSetup setup(ZOV_FAKE_ZOV32_PARTIAL);
        CodecUi ui(setup.exports);
        HIC zov2 = ICOpen(ICTYPE_VIDEO, kZov2, ICMODE_COMPRESS);
        CHILD_CHECK(zov2);
        CHILD_CHECK(ICSendMessage(zov2, ICM_COMPRESS_BEGIN, 0, 0) == ICERR_MEMORY);
        ICClose(zov2);
        CHILD_CHECK(ui.boxes.texts() ==
                    (std::vector<std::string>{"Obsolete ZOV32.DLL!\rplease reinstall Orvane!"}));
        return 0;
      }),
      0);
}

}  // namespace
}  // namespace zov::test

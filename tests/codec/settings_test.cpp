// The codec settings at library start-up (read, normalised, written back in order), the gamma
// index, and the hi-colour warning of DRV_LOAD. Each case loads a private copy of the library in
// a child process, so start-up runs afresh with the case's settings file.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "codec/support/codec_host.h"
#include "platform/profile.h"

namespace zov::test {
namespace {

namespace fs = std::filesystem;

// A fresh home with the given settings text, a private copy of the codec loaded from it, and
// the copy installed as the manager's zov2 driver.
struct FreshCodec {
  std::string home;
  CodecExports exports;
  explicit FreshCodec(const std::string& ini) {
    home = makeTempDir();
    if (!ini.empty()) std::ofstream(fs::path(home) / "zovcodec.ini") << ini;
    setenv("ZOV_HOME", home.c_str(), 1);
    std::string copy = copyCodecLibrary();
    exports = loadCodec(copy);
    static std::string path;
    path = copy;
    ICInstall(ICTYPE_VIDEO, mmioFOURCC('z', 'o', 'v', '2'), reinterpret_cast<LPARAM>(path.c_str()),
              "", ICINSTALL_DRIVER);
  }
  ProfileFile file() const { return ProfileFile((fs::path(home) / "zovcodec.ini").string()); }
  std::string value(const char* key) const {
    std::string v;
    return file().lookup("ZOV1", key, v) ? v : "<absent>";
  }
};

TEST(SettingsStartUp, WritesEveryNormalisedKeyBackInTableOrder) {
  EXPECT_EQ(runInChild([] {
              FreshCodec c("");
              std::vector<std::string> expected = {
                  "VideoManufacturer", "VideoChipset",   "NoCache",     "DisableAutoResizing",
                  "UseHardware",       "SaveVideoState", "Interpolate", "DisableLinearVideo",
                  "Brightness",        "Gamma",          "ForceDIB",    "NoSkipOnDrawStart",
                  "UseInt1A"};
              CHILD_CHECK(c.file().keys("ZOV1") == expected);
              CHILD_CHECK(c.value("VideoChipset") == "1");
              CHILD_CHECK(c.value("Gamma") == "100");
              CHILD_CHECK(c.value("InterframeDiagnostic") == "<absent>");
              return 0;
            }),
            0);
}

TEST(SettingsStartUp, CorrectsOutOfRangeValuesSilently) {
  EXPECT_EQ(runInChild([] {
              FreshCodec c(
                  "[ZOV1]\nInterframeDiagnostic=5\nVideoManufacturer=255\nVideoChipset=3\n"
                  "NoCache=7\nBrightness=16\nGamma=50\nUseInt1A=2\nAutoResize4xHiColor=7\n");
              CHILD_CHECK(c.value("InterframeDiagnostic") == "1");
              CHILD_CHECK(c.value("VideoManufacturer") == "255");
              CHILD_CHECK(c.value("VideoChipset") == "1");
              CHILD_CHECK(c.value("NoCache") == "1");
              CHILD_CHECK(c.value("Brightness") == "0");
              CHILD_CHECK(c.value("Gamma") == "100");
              CHILD_CHECK(c.value("UseInt1A") == "1");
              CHILD_CHECK(c.value("AutoResize4xHiColor") == "7");  // never written back
              return 0;
            }),
            0);
  EXPECT_EQ(runInChild([] {
              FreshCodec c("[ZOV1]\nVideoManufacturer=7\nVideoChipset=3\nBrightness=-15\n");
              CHILD_CHECK(c.value("VideoChipset") == "3");
              CHILD_CHECK(c.value("Brightness") == "-15");
              return 0;
            }),
            0);
  EXPECT_EQ(runInChild([] {
              FreshCodec c("[ZOV1]\nVideoManufacturer=13\nVideoChipset=0\n");
              CHILD_CHECK(c.value("VideoManufacturer") == "0");
              CHILD_CHECK(c.value("VideoChipset") == "1");
              return 0;
            }),
            0);
}

// Gamma: the truncated file value is written back; the style record reports the index's value.
int gammaCase(const char* fileValue, const char* written, int32_t reported) {
  return runInChild([=] {
    FreshCodec c(std::string("[ZOV1]\nGamma=") + fileValue + "\n");
    CHILD_CHECK(c.value("Gamma") == written);
    HIC hic = ICOpen(ICTYPE_VIDEO, mmioFOURCC('z', 'o', 'v', '2'), ICMODE_DECOMPRESS);
    CHILD_CHECK(hic);
    ZOVStyle style{};
    style.size = sizeof style;
    CHILD_CHECK(c.exports.getStyle(&style) == 0);
    CHILD_CHECK(style.gamma == reported);
    ICClose(hic);
    return 0;
  });
}

TEST(SettingsStartUp, GammaIsTruncatedTowardZeroAndKeptAsAnIndex) {
  EXPECT_EQ(gammaCase("250", "250", 250), 0);
  EXPECT_EQ(gammaCase("-102", "-100", 100), 0) << "-100 and 100 share index 40";
  EXPECT_EQ(gammaCase("-105", "-105", -105), 0);
  EXPECT_EQ(gammaCase("-300", "-300", -300), 0);
  EXPECT_EQ(gammaCase("299", "295", 295), 0);
  EXPECT_EQ(gammaCase("301", "100", 100), 0);
  EXPECT_EQ(gammaCase("-1", "100", 100), 0) << "\"-1\" reads as 4294967295";
}

// The hi-colour warning at DRV_LOAD, once per process and display problem.
int hiColorCase(const char* ini, const char* bits, bool shouldShow, bool checkBox,
                const char* expectedSetting) {
  return runInChild([=] {
    setenv("ZOV_DISPLAY_BITS", bits, 1);
    FreshCodec c(ini);
    CodecUi ui(c.exports);
    int shown = 0;
    ui.dialogs.on(codec::kHiColorDialog, [&](WindowHandle, DialogData& data) {
      auto& d = dynamic_cast<codec::HiColorDialogData&>(data);
      d.dontShowAgain = checkBox;
      ++shown;
      return intptr_t{IDOK};
    });
    HIC hic = ICOpen(ICTYPE_VIDEO, mmioFOURCC('z', 'o', 'v', '2'), ICMODE_DECOMPRESS);
    CHILD_CHECK(hic);
    CHILD_CHECK(shown == (shouldShow ? 1 : 0));
    CHILD_CHECK(c.value("SuppressNoHiColorWarning") == expectedSetting);
    ICClose(hic);
    return 0;
  });
}

TEST(HiColorWarning, ShownOnDeepDisplaysUntilTheUserChecksTheBox) {
  EXPECT_EQ(hiColorCase("", "16", false, false, "0"), 0);
  EXPECT_EQ(hiColorCase("", "15", false, false, "0"), 0);
  EXPECT_EQ(hiColorCase("", "24", true, false, "0"), 0);
  EXPECT_EQ(hiColorCase("", "8", true, true, "1"), 0);
  EXPECT_EQ(hiColorCase("[ZOV1]\nSuppressNoHiColorWarning=1\n", "24", false, false, "1"), 0);
}

}  // namespace
}  // namespace zov::test

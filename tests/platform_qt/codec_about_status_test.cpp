#include <dlfcn.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <QLabel>
#include <filesystem>

#include "form_driver.h"
#include "platform/vfw.h"
#include "zov/zovcod32.h"
#include "zov/zovcod32_dialogs.h"

namespace zov::qtforms {
namespace {

TEST(CodecAboutForm, WowAnswersOneAndClosingAnswersZero) {
  QtPlatform platform;
  FormDriver user(platform);
  QString version, button;
  user.on(codec::kAboutDialog, [&](QDialog* d) {
    for (auto* label : d->findChildren<QLabel*>())
      if (label->text().startsWith("Version")) version = label->text();
    button = control<QPushButton>(d, IDOK)->text();
    click(d, IDOK);
  });
  EXPECT_EQ(ZOVAbout(nullptr), 1);
  EXPECT_EQ(version, "Version 4.11");
  EXPECT_EQ(button, "Wow!");
  ASSERT_EQ(user.captions.size(), 1u);
  EXPECT_EQ(user.captions[0], "About the Orvane Codec");

  user.on(codec::kAboutDialog, [](QDialog* d) { d->close(); });
  EXPECT_EQ(ZOVAbout(nullptr), 0);
}

// A program linked with the codec that also opens it through the compression manager talks to
// one library: the manager's instance shows its about box through the same host.
// A platform made inside another hands the codec back to the outer one when it goes.
TEST(CodecAboutForm, InnerPlatformGivesTheCodecBackToTheOuterOne) {
  QtPlatform outer;
  FormDriver outerUser(outer);
  outerUser.on(codec::kAboutDialog, [](QDialog* d) { click(d, IDOK); });
  {
    QtPlatform inner;
    FormDriver innerUser(inner);
    innerUser.on(codec::kAboutDialog, [](QDialog* d) { d->close(); });
    EXPECT_EQ(ZOVAbout(nullptr), 0);
    EXPECT_EQ(innerUser.shown.size(), 1u);
  }
  EXPECT_EQ(ZOVAbout(nullptr), 1);
  EXPECT_EQ(outerUser.shown.size(), 1u);
}

// Even a copy of the library on the manager's search path does not split the program in two.
TEST(CodecAboutForm, CompressionManagerReachesTheLinkedLibrary) {
  namespace fs = std::filesystem;
  Dl_info linked{};
  ASSERT_TRUE(dladdr(reinterpret_cast<void*>(&ZOVAbout), &linked));
  const fs::path copyDir =
      fs::temp_directory_path() / ("zov_codec_copy_" + std::to_string(getpid()));
  fs::create_directories(copyDir);
  fs::copy_file(linked.dli_fname, copyDir / zov::vfw::codecLibraryName(), fs::copy_options::overwrite_existing);
  setenv("ZOV_CODEC_PATH", copyDir.c_str(), 1);
  QtPlatform platform;
  FormDriver user(platform);
  user.on(codec::kAboutDialog, [](QDialog* d) { click(d, IDOK); });
  user.on(codec::kHiColorDialog, [](QDialog* d) { click(d, IDOK); });
  HIC hic = ICOpen(ICTYPE_VIDEO, mmioFOURCC('z', 'o', 'v', '2'), ICMODE_DECOMPRESS);
  ASSERT_NE(hic, nullptr);
  EXPECT_EQ(ICSendMessage(hic, ICM_ABOUT, 0, 0), 0);
  ICClose(hic);
  unsetenv("ZOV_CODEC_PATH");
  fs::remove_all(copyDir);
  ASSERT_FALSE(user.shown.empty());
  EXPECT_EQ(user.shown.back(), codec::kAboutDialog);
}

}  // namespace
}  // namespace zov::qtforms

namespace zov::qtforms {
namespace {

TEST(CodecStatusForm, ShowsProcessorAndFastVideoAndEndsWithOneOrZero) {
  QtPlatform platform;
  FormDriver user(platform);
  QString processor, fastVideo;
  user.on(codec::kStatusDialog, [&](QDialog* d) {
    processor = control<QLabel>(d, 4022)->text();
    fastVideo = control<QLabel>(d, 4002)->text();
    click(d, IDOK);
  });
  EXPECT_EQ(ZOVStatus(nullptr), 1);
  EXPECT_FALSE(processor.isEmpty());
  EXPECT_EQ(fastVideo, "No");  // nothing has been decompressed in this process
  EXPECT_EQ(user.captions.back(), "Orvane Status");
  user.on(codec::kStatusDialog, [](QDialog* d) { click(d, IDCANCEL); });
  EXPECT_EQ(ZOVStatus(nullptr), 0);
}

TEST(CodecHiColorForm, ShowsTheLinesAndReportsTheCheckBox) {
  QtPlatform platform;
  FormDriver user(platform);
  QStringList lines;
  QString checkText;
  user.on(codec::kHiColorDialog, [&](QDialog* d) {
    for (auto* label : d->findChildren<QLabel*>()) lines << label->text();
    auto* check = control<QAbstractButton>(d, 4011);
    checkText = check->text();
    check->click();
    click(d, IDOK);
  });
  codec::HiColorDialogData data;
  EXPECT_EQ(runModalDialog(nullptr, codec::kHiColorDialog, data), IDOK);
  EXPECT_TRUE(data.dontShowAgain);
  EXPECT_EQ(lines, QStringList({"Your display is not currently in HiColor mode.",
                                "Orvane looks and plays video MUCH better in HiColor.",
                                "Please set your display to HiColor (15 or 16-bit) mode."}));
  EXPECT_EQ(checkText, "&Don't show me this message again");
  EXPECT_EQ(user.captions.back(), "Orvane: Display is not HiColor");
}

}  // namespace
}  // namespace zov::qtforms

#include <gtest/gtest.h>

#include <QLabel>

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
TEST(CodecAboutForm, CompressionManagerReachesTheLinkedLibrary) {
  QtPlatform platform;
  FormDriver user(platform);
  user.on(codec::kAboutDialog, [](QDialog* d) { click(d, IDOK); });
  user.on(codec::kHiColorDialog, [](QDialog* d) { click(d, IDOK); });
  HIC hic = ICOpen(ICTYPE_VIDEO, mmioFOURCC('z', 'o', 'v', '2'), ICMODE_DECOMPRESS);
  ASSERT_NE(hic, nullptr);
  EXPECT_EQ(ICSendMessage(hic, ICM_ABOUT, 0, 0), 0);
  ICClose(hic);
  ASSERT_FALSE(user.shown.empty());
  EXPECT_EQ(user.shown.back(), codec::kAboutDialog);
}

}  // namespace
}  // namespace zov::qtforms

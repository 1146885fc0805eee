// The configuration dialogs driven through ZOVConfigure as a user would drive them; the
// effects are read back through ZOVGetStyle and the settings file.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QRadioButton>
#include <QScrollBar>
#include <cstdlib>

#include "form_driver.h"
#include "platform/profile.h"
#include "platform/vfw.h"
#include "zov/zovcod32.h"
#include "zov/zovcod32_dialogs.h"

namespace zov::qtforms {
namespace {

using Config = codec::ConfigurationDialogData;
using Advanced = codec::AdvancedDialogData;

// A codec instance of this process, which the configuration works on.
class CodecConfigurationForm : public testing::Test {
 protected:
  void SetUp() override {
    if (!std::getenv("ZOV_HOME")) GTEST_SKIP() << "needs a settings folder (ZOV_HOME)";
    user.on(codec::kHiColorDialog, [](QDialog* d) { click(d, IDOK); });
    hic = ICOpen(ICTYPE_VIDEO, mmioFOURCC('z', 'o', 'v', '2'), ICMODE_DECOMPRESS);
    ASSERT_NE(hic, nullptr);
    // Each test starts from the default settings, whatever ran before in this process.
    ZOVStyle defaults{};
    defaults.size = sizeof defaults;
    defaults.minFullscreenResolution = 2;
    defaults.videoChipset = 1;
    defaults.gamma = 100;
    ASSERT_EQ(ZOVSetStyle(&defaults), 0u);
  }
  void TearDown() override {
    if (hic) ICClose(hic);
    unsetenv("ZOV_DISPLAY_BITS");
  }
  ZOVStyle style() {
    ZOVStyle s{};
    s.size = sizeof s;
    EXPECT_EQ(ZOVGetStyle(&s), 0u);
    return s;
  }
  uint32_t configure() {
    ZOVConfigureRequest request{sizeof request, nullptr, nullptr};
    return ZOVConfigure(&request);
  }
  static bool checked(QDialog* d, int id) { return control<QAbstractButton>(d, id)->isChecked(); }
  static bool enabled(QDialog* d, int id) { return control<QWidget>(d, id)->isEnabled(); }
  static QString text(QDialog* d, int id) { return control<QLabel>(d, id)->text(); }

  QtPlatform platform;
  FormDriver user{platform};
  HIC hic = nullptr;
};

TEST_F(CodecConfigurationForm, ChosenMethodAndToneReachTheCodecOnOk) {
  QStringList seen;
  user.on(codec::kConfigurationDialog, [&](QDialog* d) {
    EXPECT_TRUE(checked(d, Config::kWindowedFirst));
    EXPECT_FALSE(enabled(d, Config::kWindowedFirst + 2));  // wide field lines: WField only
    EXPECT_FALSE(enabled(d, Config::kWindowedFirst + 7));  // palettized on a HiColor display
    EXPECT_FALSE(enabled(d, Config::kFullscreenFirst));
    EXPECT_FALSE(enabled(d, Config::kResolutionFirst + 2));
    EXPECT_TRUE(checked(d, Config::kResolutionFirst + 2));
    seen << control<QRadioButton>(d, Config::kWindowedFirst + 3)->text()
         << control<QRadioButton>(d, Config::kResolutionFirst + 4)->text()
         << control<QAbstractButton>(d, Config::kUseHardware)->text()
         << control<QAbstractButton>(d, IDOK)->text();
    click(d, Config::kWindowedFirst + 3);
    EXPECT_TRUE(checked(d, Config::kWindowedFirst + 3));
    EXPECT_FALSE(checked(d, Config::kWindowedFirst));
    click(d, Config::kWindowedFirst + 3);  // a second click keeps it chosen
    EXPECT_TRUE(checked(d, Config::kWindowedFirst + 3));
    click(d, Config::kAdvanced);
    click(d, IDOK);
  });
  user.on(codec::kAdvancedDialog, [&](QDialog* d) {
    EXPECT_EQ(text(d, Advanced::kGammaText), "1.00");
    EXPECT_EQ(text(d, Advanced::kBrightnessText), "0");
    EXPECT_FALSE(enabled(d, Advanced::kAdapterList));
    EXPECT_EQ(control<QComboBox>(d, Advanced::kAdapterList)->currentText(),
              "Automatically Detected");
    auto* gamma = control<QScrollBar>(d, Advanced::kGammaBar);
    gamma->triggerAction(QAbstractSlider::SliderSingleStepAdd);
    gamma->triggerAction(QAbstractSlider::SliderPageStepAdd);
    EXPECT_EQ(gamma->value(), 5);
    EXPECT_EQ(text(d, Advanced::kGammaText), "1.25");
    auto* brightness = control<QScrollBar>(d, Advanced::kBrightnessBar);
    for (int i = 0; i < 5; ++i) brightness->triggerAction(QAbstractSlider::SliderPageStepSub);
    EXPECT_EQ(brightness->value(), -15);  // clamped at the end of the range
    brightness->triggerAction(QAbstractSlider::SliderSingleStepAdd);
    EXPECT_EQ(text(d, Advanced::kBrightnessText), "-14");
    control<QCheckBox>(d, Advanced::kInterpolate)->click();
    click(d, IDOK);
  });
  EXPECT_EQ(configure(), 0u);
  EXPECT_EQ(user.captions,
            (std::vector<std::string>{"ZOV Configuration", "ZOV Advanced Configuration"}));
  EXPECT_EQ(seen, QStringList({"4x Pixel Enlargement", "1024 x 768",
                               "&Use Hardware Scaling (if available)", "Ok!"}));
  const ZOVStyle s = style();
  EXPECT_EQ(+s.windowedMethod, 3u);
  EXPECT_EQ(+s.brightness, -14);
  EXPECT_EQ(+s.gamma, 125);  // index 45
  EXPECT_EQ(+s.interpolate, 1u);
  ProfileFile settings("zovcodec.ini");
  EXPECT_EQ(settings.getString("ZOV1", "Gamma", "", 32), "125");
  EXPECT_EQ(settings.getString("ZOV1", "Brightness", "", 32), "-14");
}

TEST_F(CodecConfigurationForm, CancelKeepsEverythingAndAdvancedCancelKeepsTone) {
  user.on(codec::kConfigurationDialog, [](QDialog* d) {
    click(d, Config::kWindowedFirst + 5);
    click(d, IDCANCEL);
  });
  EXPECT_EQ(configure(), 1u);
  EXPECT_EQ(+style().windowedMethod, 0u);

  user.on(codec::kAdvancedDialog, [](QDialog* d) {
    auto* gamma = control<QScrollBar>(d, Advanced::kGammaBar);
    gamma->setSliderDown(true);  // dragging the thumb
    gamma->setSliderPosition(-40);
    gamma->setSliderDown(false);
    EXPECT_EQ(text(d, Advanced::kGammaText), "-3.00");
    click(d, IDCANCEL);
  });
  user.on(codec::kConfigurationDialog, [](QDialog* d) {
    click(d, Config::kAdvanced);
    click(d, IDOK);
  });
  EXPECT_EQ(configure(), 0u);
  EXPECT_EQ(+style().gamma, 100);
}

TEST_F(CodecConfigurationForm, ResetPutsBothBarsBackToTheirMiddles) {
  user.on(codec::kAdvancedDialog, [](QDialog* d) {
    auto* gamma = control<QScrollBar>(d, Advanced::kGammaBar);
    auto* brightness = control<QScrollBar>(d, Advanced::kBrightnessBar);
    gamma->triggerAction(QAbstractSlider::SliderPageStepSub);
    brightness->triggerAction(QAbstractSlider::SliderSingleStepAdd);
    EXPECT_EQ(text(d, Advanced::kGammaText), "-1.20");
    click(d, Advanced::kResetTone);
    EXPECT_EQ(gamma->value(), 0);
    EXPECT_EQ(brightness->value(), 0);
    EXPECT_EQ(text(d, Advanced::kGammaText), "1.00");
    EXPECT_EQ(text(d, Advanced::kBrightnessText), "0");
    click(d, IDOK);
  });
  user.on(codec::kConfigurationDialog, [](QDialog* d) {
    click(d, Config::kAdvanced);
    click(d, IDOK);
  });
  EXPECT_EQ(configure(), 0u);
  EXPECT_EQ(+style().gamma, 100);
  EXPECT_EQ(+style().brightness, 0);
}

TEST_F(CodecConfigurationForm, HardwareScalingLeavesOnlyTheLowestMethod) {
  setenv("ZOV_DISPLAY_BITS", "8", 1);
  user.on(codec::kConfigurationDialog, [](QDialog* d) {
    EXPECT_TRUE(enabled(d, Config::kWindowedFirst + 9));  // palettized on an 8-bit display
    click(d, Config::kWindowedFirst + 9);
    click(d, Config::kUseHardware);
    EXPECT_TRUE(checked(d, Config::kWindowedFirst));
    EXPECT_FALSE(checked(d, Config::kWindowedFirst + 9));
    for (int m = 1; m <= 12; ++m) EXPECT_FALSE(enabled(d, Config::kWindowedFirst + m)) << m;
    click(d, Config::kUseHardware);
    EXPECT_TRUE(enabled(d, Config::kWindowedFirst + 9));
    click(d, Config::kUseHardware);
    click(d, IDOK);
  });
  EXPECT_EQ(configure(), 0u);
  const ZOVStyle s = style();
  EXPECT_EQ(+s.useHardware, 1u);
  EXPECT_EQ(+s.windowedMethod, 0u);
}

}  // namespace
}  // namespace zov::qtforms

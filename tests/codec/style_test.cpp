// The configuration exports: the style record with its size thresholds, suspension, the
// read-only record, the configuration and advanced dialogs' data logic through a scripted host,
// and the status, about and test boxes.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>

#include "codec/support/codec_host.h"
#include "platform/profile.h"

namespace zov::test {
namespace {

std::string setting(const char* key) {
  std::string v;
  ProfileFile file(testHome() + "/zovcodec.ini");
  return file.lookup("ZOV1", key, v) ? v : "<absent>";
}

ZOVStyle fullStyle() {
  ZOVStyle s{};
  s.size = sizeof s;
  s.videoChipset = 1;
  s.gamma = 100;
  return s;
}

// Puts the process-wide settings back to their defaults after a test changed them.
struct RestoreDefaults {
  ~RestoreDefaults() {
    OpenCodec c;
    ZOVStyle s = fullStyle();
    codec().setStyle(&s);
  }
};

TEST(StyleRecord, SizesFollowTheFieldOffsets) {
  static_assert(sizeof(ZOVStyle) == 78, "70 bytes on 32-bit; two pointers grow by 4 each");
  EXPECT_EQ(ZOV_STYLE_MIN_SIZE, 38u);
  EXPECT_EQ(ZOV_STYLE_TONE_SIZE, 70u);
  EXPECT_EQ(offsetof(ZOVStyle, videoChipset), 16u);
  EXPECT_EQ(offsetof(ZOVStyle, noCache), 18u);
  EXPECT_EQ(offsetof(ZOVStyle, noSkipOnDrawStart), 74u);
}

TEST(StyleRecord, WithoutAnInstanceNothingChanges) {
  ZOVStyle s = fullStyle();
  EXPECT_EQ(codec().getStyle(&s), 3u);
  s.brightness = 5;
  const std::string before = readSettingsFile();
  EXPECT_EQ(codec().setStyle(&s), 3u);
  EXPECT_EQ(readSettingsFile(), before);
  EXPECT_EQ(codec().preConfigure(), 3u);
  ZOVReadOnly r{sizeof r, 0, 0, 0, 0};
  EXPECT_EQ(codec().getReadOnly(&r), 3u);
  ZOVConfigureRequest q{sizeof q, nullptr, nullptr};
  EXPECT_EQ(codec().configure(&q), 3u);
}

TEST(StyleRecord, ShortRecordsAreRefusedAndFieldsBeyondTheSizeUntouched) {
  OpenCodec c;
  ASSERT_TRUE(c);
  ZOVStyle s;
  std::memset(&s, 0xEE, sizeof s);
  s.size = ZOV_STYLE_MIN_SIZE - 1;
  EXPECT_EQ(codec().getStyle(&s), 2u);
  EXPECT_EQ(codec().setStyle(&s), 2u);

  std::memset(&s, 0xEE, sizeof s);
  s.size = ZOV_STYLE_MIN_SIZE;
  s.sourceRect = nullptr;
  s.destRect = nullptr;
  EXPECT_EQ(codec().getStyle(&s), 0u);
  EXPECT_EQ(+s.windowedMethod, 0u);
  EXPECT_EQ(+s.videoChipset, 1);
  EXPECT_EQ(+s.unused, 0xEEEEEEEEu);
  EXPECT_EQ(+s.disableAutoResizing, 0xEEEEEEEEu);
  EXPECT_EQ(+s.brightness, static_cast<int32_t>(0xEEEEEEEE));

  std::memset(&s, 0xEE, sizeof s);
  s.size = ZOV_STYLE_TONE_SIZE;
  s.sourceRect = nullptr;
  s.destRect = nullptr;
  EXPECT_EQ(codec().getStyle(&s), 0u);
  EXPECT_EQ(+s.brightness, 0);
  EXPECT_EQ(+s.gamma, 100);
  EXPECT_EQ(+s.forceDIB, 0xEEEEEEEEu);
}

TEST(StyleRecord, SetStoresMethodsForEveryInstanceAndWritesChangedSettings) {
  RestoreDefaults restore;
  OpenCodec a, b;
  ASSERT_TRUE(a && b);
  ZOVStyle s = fullStyle();
  s.windowedMethod = 2;  // only for wide-field streams
  s.fullscreenMethod = 40;
  s.minFullscreenResolution = 9;
  s.brightness = 7;
  s.gamma = -102;
  s.interpolate = 5;
  ZOVRect source{10, 20, 170, 140};
  ZOVRect dest{};
  s.sourceRect = &source;
  s.destRect = &dest;
  EXPECT_EQ(codec().setStyle(&s), 0u);
  EXPECT_EQ(setting("Brightness"), "7");
  EXPECT_EQ(setting("Gamma"), "100") << "-102 is index 40, written back as 100";
  EXPECT_EQ(setting("Interpolate"), "1");

  ZOVStyle r = fullStyle();
  EXPECT_EQ(codec().getStyle(&r), 0u);
  EXPECT_EQ(+r.windowedMethod, 0u);
  EXPECT_EQ(+r.fullscreenMethod, 0u);
  EXPECT_EQ(+r.minFullscreenResolution, 2u);
  EXPECT_EQ(+r.brightness, 7);
  EXPECT_EQ(+r.interpolate, 1u);
  EXPECT_EQ(dest.left, 10);
  EXPECT_EQ(dest.bottom, 140);

  s.windowedMethod = 3;
  s.brightness = 40;  // out of range: 0
  EXPECT_EQ(codec().setStyle(&s), 0u);
  EXPECT_EQ(setting("Brightness"), "0");
  EXPECT_EQ(dest.left, 10);
  EXPECT_EQ(dest.top, 20);
  EXPECT_EQ(dest.right, 10 + 320);
  EXPECT_EQ(dest.bottom, 20 + 240);
}

TEST(StyleRecord, WideFieldStreamsDoubleTheDestinationHeightAndAllowMethodTwo) {
  RestoreDefaults restore;
  OpenCodec c;
  ASSERT_TRUE(c);
  BITMAPINFOHEADER in = streamFormat(160, 60, stream_flag::kV4 | stream_flag::kWField);
  ASSERT_EQ(ICDecompressQuery(c.hic(), &in, nullptr), ICERR_OK);
  ZOVStyle s = fullStyle();
  s.windowedMethod = 2;
  ZOVRect source{0, 0, 160, 60}, dest{};
  s.sourceRect = &source;
  s.destRect = &dest;
  EXPECT_EQ(codec().setStyle(&s), 0u);
  ZOVStyle r = fullStyle();
  codec().getStyle(&r);
  EXPECT_EQ(+r.windowedMethod, 2u);
  EXPECT_EQ(dest.right, 160);
  EXPECT_EQ(dest.bottom, 120);
  ZOVReadOnly ro{sizeof ro, 0, 0, 0, 0};
  EXPECT_EQ(codec().getReadOnly(&ro), 0u);
  EXPECT_EQ(ro.version, 1035u);
  EXPECT_EQ(ro.wideField, 1u);
  EXPECT_EQ(ro.singleField, 0u);
  EXPECT_EQ(ro.background, 0u);
  ro.size = 19;
  EXPECT_EQ(codec().getReadOnly(&ro), 2u);
}

TEST(StyleRecord, SuspensionAcceptsFormatsWithoutDecoding) {
  OpenCodec c;
  ASSERT_TRUE(c);
  EXPECT_EQ(codec().preConfigure(), 0u);
  BITMAPINFOHEADER in = streamFormat(160, 120);
  OutputFormat any = rgbOutput(999, 7, 16);
  EXPECT_EQ(ICDecompressQuery(c.hic(), &in, &any.header), ICERR_OK);
  OutputFormat proposedFormat;
  BITMAPINFOHEADER& proposed = proposedFormat.header;
  EXPECT_EQ(ICDecompressGetFormat(c.hic(), &in, &proposed), ICERR_OK);
  EXPECT_EQ(proposed.biBitCount, 0);
  EXPECT_EQ(proposed.biSizeImage, 160u * 120u);
  codec().postConfigure();
  EXPECT_EQ(ICDecompressQuery(c.hic(), &in, &any.header), ICERR_BADFORMAT);
}

TEST(ConfigurationDialog, OkAppliesTheChosenMethodAndSettings) {
  RestoreDefaults restore;
  CodecUi ui;
  OpenCodec a, b;
  ASSERT_TRUE(a && b);
  bool advancedShown = false;
  ui.dialogs.on(codec::kAdvancedDialog, [&](WindowHandle, DialogData& data) {
    auto& d = dynamic_cast<codec::AdvancedDialogData&>(data);
    advancedShown = true;
    EXPECT_FALSE(d.controls[codec::AdvancedDialogData::kAdapterList].enabled);
    EXPECT_EQ(d.controls[codec::AdvancedDialogData::kAdapterList].text, "Automatically Detected");
    EXPECT_EQ(d.controls[codec::AdvancedDialogData::kGammaText].text, "1.00");
    d.setCheck(codec::AdvancedDialogData::kNoCache, true);
    d.scroll(codec::AdvancedDialogData::kBrightnessBar,
             codec::AdvancedDialogData::Scroll::PageDown);
    d.scroll(codec::AdvancedDialogData::kGammaBar, codec::AdvancedDialogData::Scroll::Thumb, -99);
    EXPECT_EQ(d.controls[codec::AdvancedDialogData::kGammaText].text, "-3.00");
    EXPECT_EQ(d.controls[codec::AdvancedDialogData::kBrightnessText].text, "4");
    return intptr_t{IDOK};
  });
  ui.dialogs.on(codec::kConfigurationDialog, [&](WindowHandle owner, DialogData& data) {
    auto& d = dynamic_cast<codec::ConfigurationDialogData&>(data);
    using C = codec::ConfigurationDialogData;
    EXPECT_TRUE(d.controls[C::kWindowedFirst + 0].checked);
    EXPECT_FALSE(d.controls[C::kWindowedFirst + 2].enabled) << "method 2 needs a wide-field stream";
    EXPECT_FALSE(d.controls[C::kWindowedFirst + 7].enabled) << "8-bit methods on a 16-bit display";
    EXPECT_TRUE(d.controls[C::kWindowedFirst + 6].enabled);
    EXPECT_FALSE(d.controls[C::kFullscreenFirst + 0].enabled);
    EXPECT_FALSE(d.controls[C::kResolutionFirst + 2].enabled);
    EXPECT_TRUE(d.controls[C::kResolutionFirst + 2].checked);
    d.setUseHardware(true);
    EXPECT_TRUE(d.controls[C::kWindowedFirst + 0].enabled);
    EXPECT_FALSE(d.controls[C::kWindowedFirst + 3].enabled);
    d.setUseHardware(false);
    d.select(C::kWindowedFirst + 5);
    EXPECT_FALSE(d.controls[C::kWindowedFirst + 0].checked);
    EXPECT_EQ(d.openAdvanced(owner), IDOK);
    return intptr_t{IDOK};
  });
  ZOVRect source{0, 0, 100, 50}, dest{};
  ZOVConfigureRequest request{sizeof request, &source, &dest};
  EXPECT_EQ(codec().configure(&request), 0u);
  EXPECT_TRUE(advancedShown);
  EXPECT_EQ(dest.right, 200);
  EXPECT_EQ(dest.bottom, 100);
  EXPECT_EQ(setting("NoCache"), "1");
  EXPECT_EQ(setting("Brightness"), "4");
  EXPECT_EQ(setting("Gamma"), "-300");
  ZOVStyle r = fullStyle();
  ASSERT_EQ(codec().getStyle(&r), 0u);
  EXPECT_EQ(+r.windowedMethod, 5u);
  EXPECT_EQ(+r.gamma, -300);
  EXPECT_EQ(ui.dialogs.requested(),
            (std::vector<std::string>{codec::kConfigurationDialog, codec::kAdvancedDialog}));

  ui.dialogs.on(codec::kConfigurationDialog, [](WindowHandle, DialogData& data) {
    static_cast<codec::ConfigurationDialogData&>(data).select(1003);
    return intptr_t{IDCANCEL};
  });
  EXPECT_EQ(codec().configure(&request), 1u);
  codec().getStyle(&r);
  EXPECT_EQ(+r.windowedMethod, 5u) << "cancel keeps everything";
  request.size = sizeof request - 1;
  EXPECT_EQ(codec().configure(&request), 2u);
}

TEST(ConfigurationDialog, InstancesClosedWhileItIsUpAreNotTouched) {
  // Another thread of the host closes the only instance while the dialog is up (done here from
  // the dialog itself). The dialog holds no lock meanwhile, and its OK finds no instance to
  // apply to instead of reading the closed one.
  CodecUi ui;
  auto c = std::make_unique<OpenCodec>();
  ASSERT_TRUE(*c);
  ui.dialogs.on(codec::kConfigurationDialog, [&](WindowHandle, DialogData&) {
    c.reset();
    return intptr_t{IDOK};
  });
  ZOVRect source{0, 0, 100, 50}, dest{};
  ZOVConfigureRequest request{sizeof request, &source, &dest};
  EXPECT_EQ(codec().configure(&request), 3u);
  EXPECT_FALSE(c);
}

TEST(AdvancedDialog, ScrollBarsClampAndResetRestoresNeutralTone) {
  codec::AdvancedDialogData d;
  d.videoManufacturer = 9;
  d.videoChipset = 2;
  d.brightness = 14;
  d.gammaIndex = 80;
  d.initialise();
  using A = codec::AdvancedDialogData;
  EXPECT_STREQ(A::adapterName(d.adapterSelection), "Matrox Millennium");
  EXPECT_EQ(d.controls[A::kGammaText].text, "3.00");
  d.scroll(A::kBrightnessBar, A::Scroll::PageDown);
  EXPECT_EQ(d.brightnessPosition, 15);
  d.scroll(A::kGammaBar, A::Scroll::LineUp);
  EXPECT_EQ(d.controls[A::kGammaText].text, "2.95");
  d.scroll(A::kGammaBar, A::Scroll::Thumb, -1);
  EXPECT_EQ(d.controls[A::kGammaText].text, "-1.05");
  d.resetTone();
  EXPECT_EQ(d.controls[A::kBrightnessText].text, "0");
  EXPECT_EQ(d.controls[A::kGammaText].text, "1.00");
  d.adapterSelection = A::adapterCount() - 1;
  d.ok();
  EXPECT_EQ(d.videoManufacturer, 255u);
  EXPECT_EQ(d.videoChipset, 2u);
  EXPECT_EQ(d.gammaIndex, 40);
  EXPECT_EQ(d.brightness, 0);
}

TEST(Boxes, HardwareTestsReportThatTheyDoNotRunHere) {
  CodecUi ui;
  codec().testCD(nullptr);
  codec().testPCI(nullptr);
  auto boxes = ui.boxes.boxes();
  ASSERT_EQ(boxes.size(), 2u);
  EXPECT_EQ(boxes[0].title, "Test CD");
  EXPECT_EQ(boxes[1].title, "Test PCI");
  for (const auto& b : boxes) {
    EXPECT_EQ(b.text, "This test does not run on Windows NT");
    EXPECT_EQ(b.style, MB_ICONHAND | MB_SYSTEMMODAL);
  }
}

TEST(Boxes, StatusShowsTheProcessorAndFastVideo) {
  CodecUi ui;
  std::string processor, fast;
  ui.dialogs.on(codec::kStatusDialog, [&](WindowHandle, DialogData& data) {
    auto& d = dynamic_cast<codec::StatusDialogData&>(data);
    processor = d.processor;
    fast = d.fastVideo;
    return intptr_t{IDOK};
  });
  EXPECT_EQ(codec().status(nullptr), 1);
#if defined(__x86_64__) || defined(__i386__)
  EXPECT_EQ(processor.rfind("Pentium", 0), 0u) << processor;
#endif
  EXPECT_TRUE(fast == "Yes" || fast == "No");
}

}  // namespace
}  // namespace zov::test

namespace zov::test {
namespace {

// A frame window with a movie window inside, as the player has.
class FakeFrame : public codec::MovieFrameHost {
 public:
  ZOVRect source{0, 0, 160, 120};
  ZOVRect placement{30, 40, 0, 0};
  std::vector<ZOVRect> destinations;
  int toolbar = -1;
  int repaints = 0;
  ZOVRect movieSource() override { return source; }
  ZOVRect movieDestination() override { return {0, 0, 160, 120}; }
  void putMovieDestination(const ZOVRect& r) override { destinations.push_back(r); }
  int toolbarHeight() override { return toolbar; }
  ZOVRect adjustFrameRect(const ZOVRect& c) override {
    return {c.left - 4, c.top - 30, c.right + 4, c.bottom + 4};  // borders, caption and menu
  }
  ZOVRect normalPosition() override { return placement; }
  void setNormalPosition(const ZOVRect& r) override { placement = r; }
  void invalidateAndUpdate() override { ++repaints; }
};

bool same(const ZOVRect& a, const ZOVRect& b) {
  return a.left == b.left && a.top == b.top && a.right == b.right && a.bottom == b.bottom;
}

TEST(MovieFrame, FitsTheFrameAroundTheMovieAndItsToolbar) {
  OpenCodec c;
  auto mciConfigure = reinterpret_cast<uint32_t (*)(void*, void*, int)>(
      dlsym(codec().module, "ZOVMCIWndConfigure"));
  ASSERT_NE(mciConfigure, nullptr);
  FakeFrame frame;
  EXPECT_EQ(mciConfigure(&frame, nullptr, 0), 0u);
  ASSERT_EQ(frame.destinations.size(), 1u);
  EXPECT_TRUE(same(frame.destinations[0], {0, 0, 160, 120}));
  EXPECT_TRUE(same(frame.placement, {30, 40, 30 + 168, 40 + 154 + 26})) << "default toolbar 26";
  frame.toolbar = 20;
  mciConfigure(&frame, nullptr, 0);
  EXPECT_EQ(frame.placement.bottom, 40 + 154 + 20);
}

TEST(MovieFrame, AChangedMethodMakesTheMovieWindowRenegotiate) {
  RestoreDefaults restore;
  CodecUi ui;
  OpenCodec c;
  auto mciConfigure = reinterpret_cast<uint32_t (*)(void*, void*, int)>(
      dlsym(codec().module, "ZOVMCIWndConfigure"));
  ui.dialogs.on(codec::kConfigurationDialog, [](WindowHandle, DialogData& data) {
    static_cast<codec::ConfigurationDialogData&>(data).select(1003);
    return intptr_t{IDOK};
  });
  FakeFrame frame;
  EXPECT_EQ(mciConfigure(&frame, nullptr, 1), 0u);
  ASSERT_EQ(frame.destinations.size(), 2u);
  EXPECT_TRUE(same(frame.destinations[0], {0, 0, 4, 4}));
  EXPECT_TRUE(same(frame.destinations[1], {0, 0, 320, 240}));
  EXPECT_EQ(frame.repaints, 1);
  ui.dialogs.on(codec::kConfigurationDialog,
                [](WindowHandle, DialogData&) { return intptr_t{IDCANCEL}; });
  EXPECT_EQ(mciConfigure(&frame, nullptr, 1), 1u) << "cancel stops before any resizing";
  EXPECT_EQ(frame.destinations.size(), 2u);
}

}  // namespace
}  // namespace zov::test

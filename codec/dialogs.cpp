// The data logic of the codec's dialogs; hosts show the controls.
#include <algorithm>
#include <cstdio>

#include "codec/settings.h"
#include "format/output_method.h"
#include "zov/zovcod32_dialogs.h"

namespace zov::codec {

namespace {

struct Adapter {
  const char* name;
  int manufacturer;
  int chipset;
};

// The "Video Adapter Type" list, in list order.
constexpr Adapter kAdapters[] = {
    {"Automatically Detected", 0, 1},
    {"ATI Mach32", 7, 1},
    {"ATI Mach64", 7, 2},
    {"ATI Mach64 VT", 7, 3},
    {"Chips & Technologies", 10, 1},
    {"Cirrus Logic CL-GD54xx", 2, 1},
    {"Cirrus Logic PCI", 2, 2},
    {"Imagine 128 Series 2", 12, 1},
    {"Matrox Impression", 9, 1},
    {"Matrox Millennium", 9, 2},
    {"Matrox Mystique", 9, 3},
    {"Oak O37/O67/O77/O87/O107", 8, 1},
    {"S3 86C8xx/86C9xx", 5, 1},
    {"Sierra Falcon 64", 11, 1},
    {"Trident TVGA8900x/TGUI9000x", 4, 1},
    {"Tseng ET4000/ET6000", 1, 1},
    {"Weitek 5186/5286", 6, 1},
    {"Western Digital WD90Cxx", 3, 1},
    {"VESA 1.x", 255, 1},
    {"VESA 2.x", 255, 2},
};

std::string gammaText(int position) {
  char text[32];
  formatGammaPosition(position, text, sizeof text);
  return text;
}

std::string numberText(int value) {
  return std::to_string(value);
}

}  // namespace

int AdvancedDialogData::adapterCount() {
  return static_cast<int>(std::size(kAdapters));
}
const char* AdvancedDialogData::adapterName(int entry) {
  return entry >= 0 && entry < adapterCount() ? kAdapters[entry].name : "";
}
int AdvancedDialogData::adapterCode(int entry) {
  if (entry < 0 || entry >= adapterCount()) return 0;
  return kAdapters[entry].manufacturer * 256 + kAdapters[entry].chipset;
}

void AdvancedDialogData::initialise() {
  controls.clear();
  const int code = static_cast<int>(videoManufacturer * 256 + videoChipset);
  adapterSelection = 0;
  for (int i = 0; i < adapterCount(); ++i)
    if (adapterCode(i) == code) {
      adapterSelection = i;
      break;
    }
  // Chipset detection and adapter choice only matter to fullscreen play, which is not offered.
  controls[kAdapterList].enabled = false;
  controls[kAdapterList].text = adapterName(adapterSelection);
  controls[kDetectChipset].enabled = false;
  controls[kNoCache].checked = noCache;
  controls[kDisableAutoResizing].checked = disableAutoResizing;
  controls[kSaveVideoState].checked = saveVideoState;
  controls[kInterpolate].checked = interpolate;
  controls[kDisableLinearVideo].checked = disableLinearVideo;
  brightnessPosition = std::clamp(brightness, -15, 15);
  gammaPosition = std::clamp(gammaIndex - 40, -40, 40);
  controls[kBrightnessText].text = numberText(brightnessPosition);
  controls[kGammaText].text = gammaText(gammaPosition);
}

void AdvancedDialogData::scroll(int bar, Scroll action, int thumb) {
  const bool gamma = bar == kGammaBar;
  if (!gamma && bar != kBrightnessBar) return;
  const int limit = gamma ? 40 : 15;
  int& position = gamma ? gammaPosition : brightnessPosition;
  switch (action) {
    case Scroll::LineUp:
      position -= 1;
      break;
    case Scroll::LineDown:
      position += 1;
      break;
    case Scroll::PageUp:
      position -= 4;
      break;
    case Scroll::PageDown:
      position += 4;
      break;
    case Scroll::Thumb:
      position = thumb;
      break;
  }
  position = std::clamp(position, -limit, limit);
  if (gamma)
    controls[kGammaText].text = gammaText(position);
  else
    controls[kBrightnessText].text = numberText(position);
}

void AdvancedDialogData::resetTone() {
  brightnessPosition = 0;
  gammaPosition = 0;
  // Assigned from std::string: GCC 12 warns falsely (-Wrestrict) on literals assigned here.
  controls[kBrightnessText].text = std::string("0");
  controls[kGammaText].text = std::string("1.00");
}

void AdvancedDialogData::ok() {
  const int code = adapterCode(adapterSelection);
  videoManufacturer = static_cast<uint32_t>(code >> 8);
  videoChipset = static_cast<uint32_t>(code & 0xFF);
  noCache = controls[kNoCache].checked;
  disableAutoResizing = controls[kDisableAutoResizing].checked;
  saveVideoState = controls[kSaveVideoState].checked;
  interpolate = controls[kInterpolate].checked;
  disableLinearVideo = controls[kDisableLinearVideo].checked;
  brightness = brightnessPosition;
  gammaIndex = gammaPosition + 40;
}

void ConfigurationDialogData::initialise() {
  controls.clear();
  for (int m = 0; m <= 12; ++m) {
    controls[kWindowedFirst + m].checked = m == windowedMethod;
    // Fullscreen play is not available: its choices stay visible but disabled.
    controls[kFullscreenFirst + m].checked = m == fullscreenMethod;
    controls[kFullscreenFirst + m].enabled = false;
  }
  for (int r = 0; r <= 4; ++r) {
    controls[kResolutionFirst + r].checked = r == resolution;
    controls[kResolutionFirst + r].enabled = false;
  }
  controls[kUseHardware].checked = useHardware;
  applyUseHardware();
}

void ConfigurationDialogData::select(int control) {
  int first = control >= kResolutionFirst && control <= kResolutionFirst + 4    ? kResolutionFirst
              : control >= kFullscreenFirst && control <= kFullscreenFirst + 12 ? kFullscreenFirst
              : control >= kWindowedFirst && control <= kWindowedFirst + 12     ? kWindowedFirst
                                                                                : -1;
  if (first < 0) return;
  int last = first == kResolutionFirst ? first + 4 : first + 12;
  for (int id = first; id <= last; ++id) controls[id].checked = id == control;
}

void ConfigurationDialogData::setUseHardware(bool checked) {
  controls[kUseHardware].checked = checked;
  applyUseHardware();
}

void ConfigurationDialogData::applyUseHardware() {
  if (!controls[kUseHardware].checked) {
    for (int m = 0; m <= 12; ++m) {
      bool allowed = methodAllowed(m, streamFlags);
      if (!display8Bit && isPaletteMethod(m)) allowed = false;
      controls[kWindowedFirst + m].enabled = allowed;
    }
  } else {
    const int lowest = lowestAllowedMethod(streamFlags);
    for (int m = 0; m <= 12; ++m) {
      controls[kWindowedFirst + m].enabled = m == lowest;
      controls[kWindowedFirst + m].checked = m == lowest;
    }
  }
}

intptr_t ConfigurationDialogData::openAdvanced(WindowHandle owner) {
  AdvancedDialogData copy = advanced;
  copy.initialise();
  intptr_t result = runModalDialog(owner, kAdvancedDialog, copy);
  if (result == IDOK) {
    copy.ok();
    advanced = copy;
  }
  return result;
}

void ConfigurationDialogData::ok() {
  auto firstChecked = [this](int first, int count, int current) {
    for (int i = 0; i < count; ++i)
      if (controls[first + i].checked) return i;
    return current;
  };
  windowedMethod = firstChecked(kWindowedFirst, 13, windowedMethod);
  fullscreenMethod = firstChecked(kFullscreenFirst, 13, fullscreenMethod);
  resolution = firstChecked(kResolutionFirst, 5, resolution);
  useHardware = controls[kUseHardware].checked;
}

}  // namespace zov::codec

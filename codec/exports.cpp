// The configuration exports: the style record, the configuration dialog, suspension around a
// host's reconfiguration, the read-only record, the about and status boxes and the old hardware
// tests.
#include <cstring>
#include <string>

#include "codec/handlers.h"
#include "codec/module.h"
#include "codec/processor.h"
#include "format/output_method.h"
#include "format/stream_format.h"
#include "platform/vfw_display.h"
#include "zov/zovcod32.h"
#include "zov/zovcod32_dialogs.h"

namespace zov::codec {

namespace {

bool present(const ZOVStyle* style, size_t end) {
  return style->size >= end;
}

// The destination gets the source's left and top and its size times the windowed method's
// enlargement, the height doubled again for a WField stream.
void applyRectangleRule(const ZOVRect* source, ZOVRect* dest, int windowedMethod,
                        uint32_t streamFlags) {
  if (!source || !dest) return;
  const int factor = methodScale(windowedMethod);
  int width = (source->right - source->left) * factor;
  int height = (source->bottom - source->top) * factor;
  if (hasFlag(streamFlags, stream_flag::kWField)) height *= 2;
  ZOVRect result{source->left, source->top, source->left + width, source->top + height};
  *dest = result;
}

void markTablesDirty() {
  InstanceListLock lock;
  for (InstanceLinkStruct* l = module().instances; l; l = l->next)
    if (l->state) l->state->tablesDirty = true;
}

// Stores a changed global setting and writes it to the file at once.
bool updateFlag(uint32_t& current, uint32_t value, const char* key) {
  value = normaliseFlag(value);
  if (value == current) return false;
  current = value;
  writeSetting(key, value);
  return true;
}

// The windowed method an instance gets from a configuration: one allowed for its stream, and
// while UseHardware is on the lowest allowed one, unless it already writes YUY2/UYVY.
int windowedMethodFor(const CodecState& s, int method, bool useHardware) {
  if (useHardware && (s.windowedMethod == kYuy2Method || s.windowedMethod == kUyvyMethod))
    return s.windowedMethod;
  if (useHardware || !methodAllowed(method, s.streamFormat))
    return lowestAllowedMethod(s.streamFormat);
  return method;
}

void assignMethods(CodecState& s, int windowed, int fullscreen, int resolution) {
  s.windowedMethod = windowed;
  s.fullscreenMethod = fullscreen;
  s.activeMethod = s.fullscreenActive ? fullscreen : windowed;
  s.minFullscreenResolution = resolution;
}

}  // namespace

}  // namespace zov::codec

using namespace zov;
using namespace zov::codec;

static uint32_t getStyleBody(ZOVStyle* style) {
  if (!style || style->size < ZOV_STYLE_MIN_SIZE) return ZOV_TOO_SMALL;
  InstanceLinkStruct* first = firstInstanceOfProcess();
  if (!first) return ZOV_NO_INSTANCE;
  const CodecState& s = *first->state;
  const CodecSettings& set = module().settings;
  style->windowedMethod = s.windowedMethod >= 13 ? 0 : static_cast<uint32_t>(s.windowedMethod);
  style->fullscreenMethod = static_cast<uint32_t>(s.fullscreenMethod);
  style->minFullscreenResolution = static_cast<uint32_t>(s.minFullscreenResolution);
  style->videoChipset = static_cast<uint8_t>(set.videoChipset);
  style->videoManufacturer = static_cast<uint8_t>(set.videoManufacturer);
  style->noCache = set.noCache;
  if (present(style, ZOV_STYLE_FIELD_END(disableAutoResizing)))
    style->disableAutoResizing = set.disableAutoResizing;
  if (present(style, ZOV_STYLE_FIELD_END(useHardware))) style->useHardware = set.useHardware;
  if (present(style, ZOV_STYLE_FIELD_END(saveVideoState)))
    style->saveVideoState = set.saveVideoState;
  if (present(style, ZOV_STYLE_FIELD_END(interpolate))) style->interpolate = set.interpolate;
  if (present(style, ZOV_STYLE_FIELD_END(disableLinearVideo)))
    style->disableLinearVideo = set.disableLinearVideo;
  if (present(style, ZOV_STYLE_TONE_SIZE)) {
    style->brightness = set.brightness;
    style->gamma = gammaValueOf(set.gammaIndex);
  }
  if (present(style, ZOV_STYLE_FIELD_END(forceDIB))) style->forceDIB = set.forceDIB;
  if (present(style, ZOV_STYLE_FIELD_END(noSkipOnDrawStart)))
    style->noSkipOnDrawStart = set.noSkipOnDrawStart;
  applyRectangleRule(style->sourceRect, style->destRect, s.windowedMethod, s.streamFormat);
  return ZOV_OK;
}

static uint32_t setStyleBody(ZOVStyle* style) {
  if (!style || style->size < ZOV_STYLE_MIN_SIZE) {
    ZOVPostConfigure();
    return ZOV_TOO_SMALL;
  }
  Module& m = module();
  CodecSettings& set = m.settings;
  int windowed = style->windowedMethod > 12 ? 0 : static_cast<int>(style->windowedMethod);
  if (windowed == 0 && set.interframeDiagnostic) windowed = 13;
  int fullscreen = style->fullscreenMethod > 12 ? 0 : static_cast<int>(style->fullscreenMethod);
  int resolution =
      style->minFullscreenResolution > 4 ? 2 : static_cast<int>(style->minFullscreenResolution);

  if (!firstInstanceOfProcess()) return ZOV_NO_INSTANCE;
  forEachInstanceOfProcess([&](CodecState& s) {
    int w = windowedMethodFor(s, windowed, set.useHardware);
    int f = methodAllowed(fullscreen, s.streamFormat) ? fullscreen
                                                      : lowestAllowedMethod(s.streamFormat);
    assignMethods(s, w, f, resolution);
  });

  uint32_t manufacturer = normaliseManufacturer(style->videoManufacturer);
  if (manufacturer != set.videoManufacturer) {
    set.videoManufacturer = manufacturer;
    writeSetting("VideoManufacturer", manufacturer);
  }
  uint32_t chipset = normaliseChipset(set.videoManufacturer, style->videoChipset);
  if (chipset != set.videoChipset) {
    set.videoChipset = chipset;
    writeSetting("VideoChipset", chipset);
  }
  updateFlag(set.noCache, style->noCache, "NoCache");
  if (present(style, ZOV_STYLE_FIELD_END(disableAutoResizing)))
    updateFlag(set.disableAutoResizing, style->disableAutoResizing, "DisableAutoResizing");
  if (present(style, ZOV_STYLE_FIELD_END(useHardware)) &&
      updateFlag(set.useHardware, style->useHardware, "UseHardware"))
    updateHiddenWindow();
  if (present(style, ZOV_STYLE_FIELD_END(saveVideoState)))
    updateFlag(set.saveVideoState, style->saveVideoState, "SaveVideoState");
  if (present(style, ZOV_STYLE_FIELD_END(interpolate)))
    updateFlag(set.interpolate, style->interpolate, "Interpolate");
  if (present(style, ZOV_STYLE_FIELD_END(disableLinearVideo)))
    updateFlag(set.disableLinearVideo, style->disableLinearVideo, "DisableLinearVideo");
  if (present(style, ZOV_STYLE_TONE_SIZE)) {
    bool toneChanged = false;
    int32_t brightness = normaliseBrightness(style->brightness);
    if (brightness != set.brightness) {
      set.brightness = brightness;
      writeSignedSetting("Brightness", brightness);
      toneChanged = true;
    }
    int32_t gamma = normaliseGamma(style->gamma);
    int index = gammaIndexOf(gamma);
    if (index != set.gammaIndex) {
      set.gammaIndex = index;
      writeSignedSetting("Gamma", gammaValueOf(index));
      toneChanged = true;
    }
    if (toneChanged) markTablesDirty();
  }
  if (present(style, ZOV_STYLE_FIELD_END(forceDIB)))
    updateFlag(set.forceDIB, style->forceDIB, "ForceDIB");
  if (present(style, ZOV_STYLE_FIELD_END(noSkipOnDrawStart)))
    updateFlag(set.noSkipOnDrawStart, style->noSkipOnDrawStart, "NoSkipOnDrawStart");

  const CodecState& first = *firstInstanceOfProcess()->state;
  applyRectangleRule(style->sourceRect, style->destRect, first.windowedMethod, first.streamFormat);
  ZOVPostConfigure();
  return ZOV_OK;
}

// The configuration dialog's record from the first instance and the settings.
static void fillConfigurationData(const CodecState& first, const CodecSettings& set,
                                  ConfigurationDialogData& data) {
  data.windowedMethod = first.windowedMethod;
  data.fullscreenMethod = first.fullscreenMethod;
  data.resolution = first.minFullscreenResolution;
  data.useHardware = set.useHardware != 0;
  data.streamFlags = first.streamFormat;
  data.display8Bit = vfw::displayBitsPerPixel() == 8;
  AdvancedDialogData& adv = data.advanced;
  adv.videoManufacturer = set.videoManufacturer;
  adv.videoChipset = set.videoChipset;
  adv.noCache = set.noCache;
  adv.disableAutoResizing = set.disableAutoResizing;
  adv.saveVideoState = set.saveVideoState;
  adv.interpolate = set.interpolate;
  adv.disableLinearVideo = set.disableLinearVideo;
  adv.brightness = set.brightness;
  adv.gammaIndex = set.gammaIndex;
}

static uint32_t configureBody(ZOVConfigureRequest* request) {
  if (!request || request->size < sizeof(ZOVConfigureRequest)) {
    ZOVPostConfigure();
    return ZOV_TOO_SMALL;
  }
  Module& m = module();
  CodecSettings& set = m.settings;
  ConfigurationDialogData data;
  AdvancedDialogData& adv = data.advanced;
  {
    // The record is taken under the instance list; the dialog runs without it, since other
    // threads of the host may open and close instances while it is up.
    InstanceListLock lock;
    InstanceLinkStruct* firstLink = firstInstanceOfProcess();
    if (!firstLink) {
      ZOVPostConfigure();
      return ZOV_NO_INSTANCE;
    }
    fillConfigurationData(*firstLink->state, set, data);
  }
  data.initialise();

  if (runModalDialog(nullptr, kConfigurationDialog, data) != IDOK) {
    ZOVPostConfigure();
    return ZOV_CANCELLED;
  }
  data.ok();

  InstanceListLock lock;
  // The instances may all have closed while the dialog was up.
  if (!firstInstanceOfProcess()) {
    ZOVPostConfigure();
    return ZOV_NO_INSTANCE;
  }
  int windowed = data.windowedMethod;
  if (windowed == 0 && set.interframeDiagnostic) windowed = 13;
  const bool useHardware = data.useHardware;
  forEachInstanceOfProcess([&](CodecState& s) {
    int w = windowed;
    if (useHardware && (s.windowedMethod == kYuy2Method || s.windowedMethod == kUyvyMethod))
      w = s.windowedMethod;
    assignMethods(s, w, data.fullscreenMethod, data.resolution);
  });

  if (updateFlag(set.useHardware, useHardware, "UseHardware")) updateHiddenWindow();
  uint32_t manufacturer = normaliseManufacturer(adv.videoManufacturer);
  if (manufacturer != set.videoManufacturer) {
    set.videoManufacturer = manufacturer;
    writeSetting("VideoManufacturer", manufacturer);
  }
  uint32_t chipset = normaliseChipset(manufacturer, adv.videoChipset);
  if (chipset != set.videoChipset) {
    set.videoChipset = chipset;
    writeSetting("VideoChipset", chipset);
  }
  updateFlag(set.noCache, adv.noCache, "NoCache");
  updateFlag(set.disableAutoResizing, adv.disableAutoResizing, "DisableAutoResizing");
  updateFlag(set.saveVideoState, adv.saveVideoState, "SaveVideoState");
  updateFlag(set.interpolate, adv.interpolate, "Interpolate");
  updateFlag(set.disableLinearVideo, adv.disableLinearVideo, "DisableLinearVideo");
  bool toneChanged = false;
  int32_t brightness = normaliseBrightness(adv.brightness);
  if (brightness != set.brightness) {
    set.brightness = brightness;
    writeSignedSetting("Brightness", brightness);
    toneChanged = true;
  }
  int index = adv.gammaIndex < 0 ? 0 : adv.gammaIndex > 80 ? 80 : adv.gammaIndex;
  if (index != set.gammaIndex) {
    set.gammaIndex = index;
    writeSignedSetting("Gamma", gammaValueOf(index));
    toneChanged = true;
  }
  if (toneChanged) markTablesDirty();

  const CodecState& firstNow = *firstInstanceOfProcess()->state;
  applyRectangleRule(request->sourceRect, request->destRect, firstNow.windowedMethod,
                     firstNow.streamFormat);
  ZOVPostConfigure();
  return ZOV_OK;
}

static uint32_t preConfigureBody(void) {
  bool any = false;
  forEachInstanceOfProcess([&](CodecState& s) {
    s.suspended = true;
    any = true;
  });
  return any ? ZOV_OK : ZOV_NO_INSTANCE;
}

static void postConfigureBody(void) {
  forEachInstanceOfProcess([](CodecState& s) { s.suspended = false; });
}

static uint32_t getReadOnlyBody(ZOVReadOnly* record) {
  if (!record || record->size < sizeof(ZOVReadOnly)) return ZOV_TOO_SMALL;
  InstanceLinkStruct* first = firstInstanceOfProcess();
  if (!first) return ZOV_NO_INSTANCE;
  const uint32_t flags = first->state->streamFormat;
  record->version = kInterfaceVersion;
  record->singleField = hasFlag(flags, stream_flag::kSField) ? 1 : 0;
  record->wideField = hasFlag(flags, stream_flag::kWField) ? 1 : 0;
  record->background =
      hasFlag(flags, stream_flag::kChroma) || hasFlag(flags, stream_flag::kChroma1st) ? 1 : 0;
  return ZOV_OK;
}

static intptr_t aboutBody(void* owner) {
  return showAboutBox(owner);
}

static intptr_t statusBody(void* owner) {
  StatusDialogData data;
  data.processor = processorDescription();
  // Read once, before the dialog: instances set it while they play.
  data.fastVideo = module().fastVideo.load() ? "Yes" : "No";
  return runModalDialog(owner, kStatusDialog, data) == IDOK ? 1 : 0;
}

static intptr_t testCDBody(void*) {
  return messageBox(nullptr, "This test does not run on Windows NT", "Test CD", kStopBox);
}

static intptr_t testPCIBody(void*) {
  return messageBox(nullptr, "This test does not run on Windows NT", "Test PCI", kStopBox);
}

static uint32_t mciWndConfigureBody(void* frameWindow, void*, int configure) {
  auto* host = static_cast<MovieFrameHost*>(frameWindow);
  if (!host) return ZOV_TOO_SMALL;
  const ZOVRect source = host->movieSource();
  host->movieDestination();
  ZOVRect dest{0, 0, source.right, source.bottom};
  if (configure) {
    ZOVStyle before{};
    before.size = sizeof before;
    if (uint32_t r = ZOVGetStyle(&before)) return r;
    ZOVConfigureRequest request{sizeof request, &source, &dest};
    if (uint32_t r = ZOVConfigure(&request)) return r;
    ZOVStyle after{};
    after.size = sizeof after;
    const uint32_t read = ZOVGetStyle(&after);
    if (read != ZOV_OK || after.windowedMethod != before.windowedMethod ||
        after.useHardware != before.useHardware || after.interpolate != before.interpolate) {
      // A tiny destination makes the movie window negotiate the codec's output afresh.
      ZOVPreConfigure();
      host->putMovieDestination(ZOVRect{0, 0, 4, 4});
      host->invalidateAndUpdate();
      ZOVPostConfigure();
    }
  }
  const int toolbar = host->toolbarHeight() >= 0 ? host->toolbarHeight() : 26;
  ZOVRect frame = host->adjustFrameRect(dest);
  frame.bottom += toolbar;
  ZOVRect placement = host->normalPosition();
  placement.right = placement.left + (frame.right - frame.left);
  placement.bottom = placement.top + (frame.bottom - frame.top);
  host->setNormalPosition(placement);
  host->putMovieDestination(dest);
  return ZOV_OK;
}

// The exports: no exception leaves the library. Those that only read or set the instances'
// fields hold the instance list while they do. The dialogs hold it only while they read or
// change the instances (configuration), never while the dialog is up; the about, status and
// hardware-test boxes read no instance.

extern "C" ZOVCOD32_API uint32_t ZOVGetStyle(ZOVStyle* style) {
  return guarded<uint32_t>(ZOV_NO_MEMORY, ZOV_NO_MEMORY, [&] {
    InstanceListLock lock;
    return getStyleBody(style);
  });
}

extern "C" ZOVCOD32_API uint32_t ZOVSetStyle(ZOVStyle* style) {
  return guarded<uint32_t>(ZOV_NO_MEMORY, ZOV_NO_MEMORY, [&] {
    InstanceListLock lock;
    return setStyleBody(style);
  });
}

extern "C" ZOVCOD32_API uint32_t ZOVConfigure(ZOVConfigureRequest* request) {
  return guarded<uint32_t>(ZOV_NO_MEMORY, ZOV_NO_MEMORY, [&] { return configureBody(request); });
}

extern "C" ZOVCOD32_API uint32_t ZOVPreConfigure(void) {
  return guarded<uint32_t>(ZOV_NO_MEMORY, ZOV_NO_MEMORY, [&] {
    InstanceListLock lock;
    return preConfigureBody();
  });
}

extern "C" ZOVCOD32_API void ZOVPostConfigure(void) {
  guarded([&] {
    InstanceListLock lock;
    postConfigureBody();
  });
}

extern "C" ZOVCOD32_API uint32_t ZOVGetReadOnly(ZOVReadOnly* record) {
  return guarded<uint32_t>(ZOV_NO_MEMORY, ZOV_NO_MEMORY, [&] {
    InstanceListLock lock;
    return getReadOnlyBody(record);
  });
}

extern "C" ZOVCOD32_API intptr_t ZOVAbout(void* owner) {
  return guarded<intptr_t>(0, 0, [&] { return aboutBody(owner); });
}

extern "C" ZOVCOD32_API intptr_t ZOVStatus(void* owner) {
  return guarded<intptr_t>(0, 0, [&] { return statusBody(owner); });
}

extern "C" ZOVCOD32_API intptr_t ZOVTestCD(void* arg0) {
  return guarded<intptr_t>(0, 0, [&] { return testCDBody(arg0); });
}

extern "C" ZOVCOD32_API intptr_t ZOVTestPCI(void* arg0) {
  return guarded<intptr_t>(0, 0, [&] { return testPCIBody(arg0); });
}

extern "C" ZOVCOD32_API uint32_t ZOVMCIWndConfigure(void* frameWindow, void* arg1, int configure) {
  return guarded<uint32_t>(ZOV_NO_MEMORY, ZOV_NO_MEMORY,
                           [&] { return mciWndConfigureBody(frameWindow, arg1, configure); });
}

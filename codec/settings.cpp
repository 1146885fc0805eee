#include "codec/settings.h"

#include <cstdio>

#include "format/output_method.h"
#include "platform/profile.h"

namespace zov::codec {

namespace {

// Highest chipset number of each adapter family 0..12; family 255 (VESA) has two.
constexpr uint32_t kChipsetMaximum[13] = {1, 1, 2, 1, 1, 1, 1, 3, 1, 3, 1, 1, 1};

}  // namespace

uint32_t normaliseManufacturer(uint32_t value) {
  return value <= 12 || value == 255 ? value : 0;
}

uint32_t normaliseChipset(uint32_t manufacturer, uint32_t chipset) {
  uint32_t maximum = manufacturer == 255  ? 2
                     : manufacturer <= 12 ? kChipsetMaximum[manufacturer]
                                          : 1;
  if (chipset == 0 || chipset > maximum) return 1;
  return chipset;
}

int32_t normaliseBrightness(int32_t value) {
  return value >= -15 && value <= 15 ? value : 0;
}

int32_t normaliseGamma(int32_t value) {
  if (!((value >= -300 && value <= -101) || (value >= 100 && value <= 300))) value = 100;
  return value - value % 5;  // % truncates toward zero, as the setting does
}

int gammaIndexOf(int32_t g) {
  return g >= 0 ? (g + 100) / 5 : (g + 300) / 5;
}

int32_t gammaValueOf(int index) {
  int32_t v = index * 5 - 100;
  return v < 100 ? v - 200 : v;
}

void formatGammaPosition(int p, char* text, unsigned size) {
  long value = (p >= 0 ? 100 : -100) + 5L * p;
  long whole = value / 100;
  long hundredths = value % 100;
  if (hundredths < 0) hundredths = -hundredths;
  // "%ld.%02ld" of the signed quotient; a value between -1 and 0 cannot occur (|value| >= 100).
  std::snprintf(text, size, "%ld.%02ld", whole, hundredths);
}

uint32_t readSetting(const char* key, int32_t defaultValue) {
  return getPrivateProfileInt(kSettingsSection, key, defaultValue, kSettingsFile);
}

void writeSetting(const char* key, uint32_t value) {
  char text[16];
  std::snprintf(text, sizeof text, "%lu", static_cast<unsigned long>(value));
  writePrivateProfileString(kSettingsSection, key, text, kSettingsFile);
}

void writeSignedSetting(const char* key, int32_t value) {
  char text[16];
  std::snprintf(text, sizeof text, "%ld", static_cast<long>(value));
  writePrivateProfileString(kSettingsSection, key, text, kSettingsFile);
}

CodecSettings loadAndNormaliseSettings() {
  CodecSettings s;
  ProfileFile file(kSettingsFile);
  if (file.hasKey(kSettingsSection, "InterframeDiagnostic")) {
    s.interframeDiagnosticPresent = true;
    s.interframeDiagnostic = normaliseFlag(readSetting("InterframeDiagnostic", 0));
    writeSetting("InterframeDiagnostic", s.interframeDiagnostic);
  }

  s.videoManufacturer = normaliseManufacturer(readSetting("VideoManufacturer", 0));
  writeSetting("VideoManufacturer", s.videoManufacturer);
  s.videoChipset = normaliseChipset(s.videoManufacturer, readSetting("VideoChipset", 1));
  writeSetting("VideoChipset", s.videoChipset);
  s.noCache = normaliseFlag(readSetting("NoCache", 0));
  writeSetting("NoCache", s.noCache);
  s.disableAutoResizing = normaliseFlag(readSetting("DisableAutoResizing", 0));
  writeSetting("DisableAutoResizing", s.disableAutoResizing);

  auto resize = [](const char* key, int defaultMethod, bool palettized, int scale) {
    uint32_t raw = readSetting(key, defaultMethod);
    int value = raw > 255 ? -1 : static_cast<int>(raw);
    return normaliseAutoResize(value, defaultMethod, palettized, scale);
  };
  s.autoResize4xHiColor = resize("AutoResize4xHiColor", 4, false, 2);
  s.autoResize4xPalettized = resize("AutoResize4xPalettized", 7, true, 2);
  s.autoResize9xHiColor = resize("AutoResize9xHiColor", 6, false, 3);
  s.autoResize9xPalettized = resize("AutoResize9xPalettized", 8, true, 3);

  struct Flag {
    const char* key;
    uint32_t CodecSettings::*field;
  };
  for (const Flag& f : {Flag{"UseHardware", &CodecSettings::useHardware},
                        Flag{"SaveVideoState", &CodecSettings::saveVideoState},
                        Flag{"Interpolate", &CodecSettings::interpolate},
                        Flag{"DisableLinearVideo", &CodecSettings::disableLinearVideo}}) {
    s.*f.field = normaliseFlag(readSetting(f.key, 0));
    writeSetting(f.key, s.*f.field);
  }

  s.brightness = normaliseBrightness(static_cast<int32_t>(readSetting("Brightness", 0)));
  writeSignedSetting("Brightness", s.brightness);
  int32_t gamma = normaliseGamma(static_cast<int32_t>(readSetting("Gamma", 100)));
  s.gammaIndex = gammaIndexOf(gamma);
  writeSignedSetting("Gamma", gamma);

  for (const Flag& f : {Flag{"ForceDIB", &CodecSettings::forceDIB},
                        Flag{"NoSkipOnDrawStart", &CodecSettings::noSkipOnDrawStart},
                        Flag{"UseInt1A", &CodecSettings::useInt1A}}) {
    s.*f.field = normaliseFlag(readSetting(f.key, 0));
    writeSetting(f.key, s.*f.field);
  }
  return s;
}

}  // namespace zov::codec

// The codec settings: keys, defaults, normalisation and persistence in "zovcodec.ini" section
// "ZOV1". Read and rewritten once at library start-up; every later change is written at once.
#pragma once

#include <cstdint>

namespace zov::codec {

inline constexpr const char* kSettingsFile = "zovcodec.ini";
inline constexpr const char* kSettingsSection = "ZOV1";

struct CodecSettings {
  bool interframeDiagnosticPresent = false;
  uint32_t interframeDiagnostic = 0;
  uint32_t videoManufacturer = 0;
  uint32_t videoChipset = 1;
  uint32_t noCache = 0;
  uint32_t disableAutoResizing = 0;
  int autoResize4xHiColor = 4;
  int autoResize4xPalettized = 7;
  int autoResize9xHiColor = 6;
  int autoResize9xPalettized = 8;
  uint32_t useHardware = 0;
  uint32_t saveVideoState = 0;
  uint32_t interpolate = 0;
  uint32_t disableLinearVideo = 0;
  int32_t brightness = 0;
  int gammaIndex = 40;
  uint32_t forceDIB = 0;
  uint32_t noSkipOnDrawStart = 0;
  uint32_t useInt1A = 0;
};

// Normalisation rules, shared by start-up and the style record.
uint32_t normaliseManufacturer(uint32_t value);
uint32_t normaliseChipset(uint32_t manufacturer, uint32_t chipset);
inline uint32_t normaliseFlag(uint32_t value) {
  return value ? 1 : 0;
}
int32_t normaliseBrightness(int32_t value);
// -300..-101 or 100..300, else 100; then truncated toward zero to a multiple of 5.
int32_t normaliseGamma(int32_t fileValue);
int gammaIndexOf(int32_t normalisedGamma);
int32_t gammaValueOf(int gammaIndex);
// The configuration dialog's text for a gamma position (index - 40): "1.00", "-3.00" ...
void formatGammaPosition(int position, char* text, unsigned size);

// Reads every setting in the file's order, normalises it and writes the normalised values back
// (InterframeDiagnostic only when present; the AutoResize keys are never written).
CodecSettings loadAndNormaliseSettings();

// Writes one setting ("%lu").
void writeSetting(const char* key, uint32_t value);
// Writes a signed setting ("%ld").
void writeSignedSetting(const char* key, int32_t value);
uint32_t readSetting(const char* key, int32_t defaultValue);

}  // namespace zov::codec

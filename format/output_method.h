// The sixteen output methods: destination pixel format, enlargement factor and the stream kinds
// each may serve, and the rules by which the method in force is repaired for a stream and
// switched for a destination size. Pure functions; the driver keeps the method numbers.
#pragma once

#include <cstdint>

namespace zov {

inline constexpr int kOutputMethods = 16;
inline constexpr int kDiagnosticMethod = 13;
inline constexpr int kYuy2Method = 14;
inline constexpr int kUyvyMethod = 15;
// Methods 14 and 15 write packed YUV for top-down overlays.
constexpr bool isPackedMethod(int method) {
  return method == kYuy2Method || method == kUyvyMethod;
}

enum class DestPixels : uint8_t { Rgb16, Palette8, Yuy2, Uyvy };

struct MethodInfo {
  const char* label;  // the configuration dialog's radio button text ("" where it has none)
  DestPixels pixels;
  int scale;    // enlargement factor in each direction
  bool normal;  // allowed for streams without SField and WField
  bool sField;  // allowed for SField streams
  bool wField;  // allowed for WField streams
};

// Entries for methods 0..15; an out-of-range method reads as method 0.
const MethodInfo& methodInfo(int method);
constexpr bool isValidMethod(int method) {
  return method >= 0 && method < kOutputMethods;
}
int methodScale(int method);
bool isPaletteMethod(int method);  // 7..12
inline int methodBitCount(int method) {
  return isPaletteMethod(method) ? 8 : 16;
}
// Methods that write only every other destination line (the driver zeroes the others).
constexpr bool writesAlternateLines(int method) {
  return method == 1 || method == 2 || method == 4;
}

bool methodAllowed(int method, uint32_t streamFlags);
// The lowest method allowed for the stream's flags.
int lowestAllowedMethod(uint32_t streamFlags);
// Keeps an allowed method; otherwise the lowest allowed one, and method 13 instead of 0 when
// the interframe diagnostic is on and `diagnosticRule` is set (it is not for the fullscreen
// method).
int repairMethod(int method, uint32_t streamFlags, bool interframeDiagnostic,
                 bool diagnosticRule = true);
// Method 0, or 13 with the interframe diagnostic on: what a refused size resets to.
constexpr int plainMethod(bool interframeDiagnostic) {
  return interframeDiagnostic ? kDiagnosticMethod : 0;
}

// Codec settings that steer automatic enlargement.
struct ResizeSettings {
  int autoResize4xHiColor = 4;
  int autoResize4xPalettized = 7;
  int autoResize9xHiColor = 6;
  int autoResize9xPalettized = 8;
  bool disableAutoResizing = false;
  bool useHardware = false;
  bool interframeDiagnostic = false;
};

// A setting value is kept only when it names a method below 13 of the wanted depth and scale;
// otherwise the default stays.
int normaliseAutoResize(int value, int defaultMethod, bool palettized, int scale);

struct SizeDecision {
  int result;  // 0 accepted, -2 refused (ICERR_BADFORMAT)
  int method;  // the method in force afterwards
};

// The size rules for a destination of dstW x dstH against a stream of srcW x srcH:
// fixed output sizes for SField and WField streams, automatic switching to the enlarging
// method for 2x and 3x destinations, and the reset to the plain method on a refused size (the
// caller's next query then succeeds). `extended` marks the extended-decompression query, which
// refuses equal sizes with an enlarging method without resetting it.
SizeDecision decideDestinationSize(int activeMethod, uint32_t streamFlags, int srcW, int srcH,
                                   int dstW, int dstH, const ResizeSettings& settings,
                                   bool display8Bit, bool extended = false);

// The depth rule: 8-bit methods need an 8-bit destination, all others 16 bits.
inline bool depthMatches(int method, int bitCount) {
  return methodBitCount(method) == bitCount;
}

}  // namespace zov

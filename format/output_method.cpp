#include "format/output_method.h"

#include <array>

#include "format/stream_format.h"

namespace zov {
namespace {

using P = DestPixels;
constexpr std::array<MethodInfo, kOutputMethods> kMethods = {{
    {"No Enlargement", P::Rgb16, 1, true, false, true},
    {"Single Field  (fastest!)", P::Rgb16, 1, true, true, true},
    {"Wide Field Lines", P::Rgb16, 1, false, false, true},
    {"4x Pixel Enlargement", P::Rgb16, 2, true, false, false},
    {"4x Horizontal Lines", P::Rgb16, 2, true, false, false},
    {"4x Pattern Enlargement", P::Rgb16, 2, true, false, false},
    {"9x Pattern Enlargement", P::Rgb16, 3, true, false, false},
    {"4x Pattern Enlargement", P::Palette8, 2, true, false, false},
    {"9x Pattern Enlargement", P::Palette8, 3, true, false, false},
    {"No Enlargement", P::Palette8, 1, true, false, true},
    {"4x Pixel Enlargement", P::Palette8, 2, true, false, false},
    {"4x Pattern Enlargement", P::Palette8, 2, true, false, false},
    {"9x Pattern Enlargement", P::Palette8, 3, true, false, false},
    {"", P::Rgb16, 1, true, false, true},
    {"", P::Yuy2, 1, true, false, false},
    {"", P::Uyvy, 1, true, false, false},
}};

}  // namespace

const MethodInfo& methodInfo(int method) {
  return kMethods[isValidMethod(method) ? method : 0];
}
int methodScale(int method) {
  return methodInfo(method).scale;
}
bool isPaletteMethod(int method) {
  return method >= 7 && method <= 12;
}

bool methodAllowed(int method, uint32_t streamFlags) {
  if (!isValidMethod(method)) return false;
  const MethodInfo& m = kMethods[method];
  if (hasFlag(streamFlags, stream_flag::kSField)) return m.sField;
  if (hasFlag(streamFlags, stream_flag::kWField)) return m.wField;
  return m.normal;
}

int lowestAllowedMethod(uint32_t streamFlags) {
  for (int m = 0; m < kOutputMethods; ++m)
    if (methodAllowed(m, streamFlags)) return m;
  return 0;
}

int repairMethod(int method, uint32_t streamFlags, bool interframeDiagnostic, bool diagnosticRule) {
  if (methodAllowed(method, streamFlags)) return method;
  int m = lowestAllowedMethod(streamFlags);
  if (m == 0 && interframeDiagnostic && diagnosticRule) m = kDiagnosticMethod;
  return m;
}

int normaliseAutoResize(int value, int defaultMethod, bool palettized, int scale) {
  if (value < 0 || value >= kDiagnosticMethod) return defaultMethod;
  if (isPaletteMethod(value) != palettized || methodScale(value) != scale) return defaultMethod;
  return value;
}

SizeDecision decideDestinationSize(int activeMethod, uint32_t streamFlags, int srcW, int srcH,
                                   int dstW, int dstH, const ResizeSettings& s, bool display8Bit,
                                   bool extended) {
  const bool locked = s.disableAutoResizing || s.useHardware;
  const int plain = plainMethod(s.interframeDiagnostic);
  if (hasFlag(streamFlags, stream_flag::kSField))
    return {dstW == srcW && dstH == srcH ? 0 : -2, activeMethod};
  if (hasFlag(streamFlags, stream_flag::kWField))
    return {dstW == srcW && dstH == 2 * srcH ? 0 : -2, activeMethod};

  const int factor = methodScale(activeMethod);
  for (int want = 1; want <= 3; ++want) {
    if (dstW != want * srcW || dstH != want * srcH) continue;
    if (factor == want) return {0, activeMethod};
    if (want == 1) {
      // An enlarging method in force for a same-size destination: refuse, and unless the
      // method may not change, fall back so that the next identical query succeeds.
      if (locked || extended) return {-2, activeMethod};
      return {-2, plain};
    }
    if (locked || factor != 1) return {-2, activeMethod};
    int m = want == 2 ? (display8Bit ? s.autoResize4xPalettized : s.autoResize4xHiColor)
                      : (display8Bit ? s.autoResize9xPalettized : s.autoResize9xHiColor);
    return {0, m};
  }
  if (locked) return {-2, activeMethod};
  return {-2, plain};
}

}  // namespace zov

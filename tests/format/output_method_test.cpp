#include <gtest/gtest.h>

#include "format/output_method.h"
#include "format/stream_format.h"

namespace zov {
namespace {

using namespace stream_flag;

TEST(OutputMethod, AllowedMethodsPerStreamKind) {
  for (int m = 0; m < kOutputMethods; ++m) {
    EXPECT_EQ(methodAllowed(m, kSField), m == 1) << m;
    EXPECT_EQ(methodAllowed(m, kWField), m == 0 || m == 1 || m == 2 || m == 9 || m == 13) << m;
    EXPECT_EQ(methodAllowed(m, 0), m != 2) << m;
  }
  EXPECT_FALSE(methodAllowed(16, 0));
  EXPECT_FALSE(methodAllowed(-1, 0));
}

TEST(OutputMethod, RepairTakesTheLowestAllowedMethodAndTheDiagnosticRule) {
  EXPECT_EQ(repairMethod(5, kSField, false), 1) << "SField streams always use method 1";
  EXPECT_EQ(repairMethod(0, kSField, true), 1);
  EXPECT_EQ(repairMethod(13, kSField, true), 1);
  EXPECT_EQ(repairMethod(2, 0, false), 0);
  EXPECT_EQ(repairMethod(2, 0, true), 13);
  EXPECT_EQ(repairMethod(2, 0, true, false), 0) << "the fullscreen method skips the 13 rule";
  EXPECT_EQ(repairMethod(7, kWField, true), 13);
  EXPECT_EQ(repairMethod(9, kWField, true), 9);
  EXPECT_EQ(repairMethod(14, 0, false), 14);
}

TEST(OutputMethod, ScalesDepthsAndLabels) {
  EXPECT_EQ(methodScale(3), 2);
  EXPECT_EQ(methodScale(12), 3);
  EXPECT_EQ(methodScale(14), 1);
  EXPECT_EQ(methodBitCount(7), 8);
  EXPECT_EQ(methodBitCount(13), 16);
  EXPECT_EQ(methodBitCount(15), 16);
  EXPECT_STREQ(methodInfo(1).label, "Single Field  (fastest!)");
  EXPECT_STREQ(methodInfo(11).label, "4x Pattern Enlargement");
  EXPECT_TRUE(writesAlternateLines(4));
  EXPECT_FALSE(writesAlternateLines(3));
}

TEST(OutputMethod, AutoResizeSettingsKeepOnlyFittingMethods) {
  EXPECT_EQ(normaliseAutoResize(5, 4, false, 2), 5);
  EXPECT_EQ(normaliseAutoResize(7, 4, false, 2), 4) << "8-bit method for the hi-colour key";
  EXPECT_EQ(normaliseAutoResize(6, 4, false, 2), 4) << "wrong scale";
  EXPECT_EQ(normaliseAutoResize(13, 4, false, 2), 4);
  EXPECT_EQ(normaliseAutoResize(12, 8, true, 3), 12);
  EXPECT_EQ(normaliseAutoResize(-1, 8, true, 3), 8);
}

TEST(OutputMethod, DoubledDestinationSwitchesToTheAutoResizeMethod) {
  ResizeSettings s;
  EXPECT_EQ(decideDestinationSize(0, 0, 320, 240, 640, 480, s, false).method, 4);
  SizeDecision pal = decideDestinationSize(0, 0, 320, 240, 640, 480, s, true);
  EXPECT_EQ(pal.result, 0);
  EXPECT_EQ(pal.method, 7);
  EXPECT_FALSE(depthMatches(pal.method, 16)) << "16-bit output is then refused";
  s.autoResize4xPalettized = 11;
  EXPECT_EQ(decideDestinationSize(0, 0, 320, 240, 640, 480, s, true).method, 11);
  EXPECT_EQ(decideDestinationSize(9, 0, 100, 80, 300, 240, s, true).method, 8);
  EXPECT_EQ(decideDestinationSize(0, 0, 100, 80, 300, 240, s, false).method, 6);
}

TEST(OutputMethod, RefusedSizesResetTheMethodUnlessLocked) {
  ResizeSettings s;
  SizeDecision first = decideDestinationSize(3, 0, 320, 240, 320, 240, s, false);
  EXPECT_EQ(first.result, -2);
  EXPECT_EQ(first.method, 0);
  EXPECT_EQ(decideDestinationSize(first.method, 0, 320, 240, 320, 240, s, false).result, 0)
      << "the next identical query succeeds";
  EXPECT_EQ(decideDestinationSize(3, 0, 320, 240, 320, 240, s, false, true).method, 3)
      << "the extended query does not reset";
  s.interframeDiagnostic = true;
  EXPECT_EQ(decideDestinationSize(3, 0, 320, 240, 320, 240, s, false).method, 13);
  EXPECT_EQ(decideDestinationSize(0, 0, 320, 240, 500, 240, s, false).method, 13);
  s.interframeDiagnostic = false;
  EXPECT_EQ(decideDestinationSize(3, 0, 320, 240, 960, 720, s, false).result, -2)
      << "an enlarging method is never switched to another factor";

  ResizeSettings locked;
  locked.disableAutoResizing = true;
  SizeDecision l = decideDestinationSize(3, 0, 320, 240, 320, 240, locked, false);
  EXPECT_EQ(l.result, -2);
  EXPECT_EQ(l.method, 3);
  EXPECT_EQ(decideDestinationSize(0, 0, 320, 240, 640, 480, locked, false).result, -2);
  locked.disableAutoResizing = false;
  locked.useHardware = true;
  EXPECT_EQ(decideDestinationSize(0, 0, 320, 240, 500, 300, locked, false).method, 0);
}

TEST(OutputMethod, FieldStreamsHaveFixedOutputSizes) {
  ResizeSettings s;
  EXPECT_EQ(decideDestinationSize(1, kSField, 320, 240, 320, 240, s, false).result, 0);
  EXPECT_EQ(decideDestinationSize(1, kSField, 320, 240, 640, 480, s, false).result, -2);
  EXPECT_EQ(decideDestinationSize(0, kWField, 320, 120, 320, 240, s, false).result, 0);
  EXPECT_EQ(decideDestinationSize(0, kWField, 320, 120, 320, 120, s, false).result, -2);
}

}  // namespace
}  // namespace zov

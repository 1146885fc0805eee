#include <gtest/gtest.h>

#include "format/colour_tables.h"

namespace zov {
namespace {

TEST(ColourTables, ForwardTableTruncatesTowardZeroThenClamps) {
  const auto& t = colourTables(PixelKind::Rgb555);
  // Y 10, Cr 1, Cb -1: R = 10701/1000 = 10, G = (10000 - 357 + 172)/1000 = 9, B = 9114/1000 = 9.
  EXPECT_EQ(t.ycToRgb[ycValue(10, 1, -1)], 10 << 10 | 9 << 5 | 9);
  // Y 0, Cr -1: R = -701/1000 truncates to 0; G = 357/1000 = 0.
  EXPECT_EQ(t.ycToRgb[ycValue(0, -1, 0)], 0);
  // Y 31, Cr 31, Cb 31: R and B clamp to 31, G = (31000 - 11067 - 5332)/1000 = 14.
  EXPECT_EQ(t.ycToRgb[ycValue(31, 31, 31)], 31 << 10 | 14 << 5 | 31);
  // Index 63 in either difference is never produced and holds 0.
  EXPECT_EQ(t.ycToRgb[5 * 4096 + 63 * 64 + 10], 0);
  EXPECT_EQ(t.ycToRgb[5 * 4096 + 10 * 64 + 63], 0);
}

TEST(ColourTables, ReverseTableGivesTheFirstExactValueOrAFilledNeighbour) {
  const auto& t = colourTables(PixelKind::Rgb555);
  int exact = 0;
  for (int c = 0; c < 32768; ++c) {
    uint32_t v = t.rgbToYc[c];
    ASSERT_LT(v, uint32_t(kYcValues));
    ASSERT_EQ(t.rgbToYc[c | 0x8000], v) << "bit 15 is ignored";
    if (exactColourOfYc(v) == c) {
      ++exact;
      // No smaller value gives the same colour exactly.
      for (uint32_t u = 0; u < v; ++u)
        if (exactColourOfYc(u) == c) FAIL() << "colour " << c << ": " << u << " precedes " << v;
    } else {
      // Filled entries copy a value of the same row of 32 blues, or the row before's last.
      bool fromRow = false;
      for (int b = 0; b < 32; ++b) fromRow |= t.rgbToYc[(c & ~31) | b] == v && exactColourOfYc(v) >= 0;
      EXPECT_TRUE(fromRow || v == t.rgbToYc[(c & ~31) - 1]) << "colour " << c;
    }
    if (c > 2000) break;  // the exhaustive search above is quadratic; the rest is checked below
  }
  EXPECT_GT(exact, 0);
  // Grey levels keep their luminance. Black is Cr = Cb = -1: -0.701 and -0.886 truncate to 0.
  for (int y = 0; y < 32; ++y) EXPECT_EQ(ycY(t.rgbToYc[y << 10 | y << 5 | y]), y);
  EXPECT_EQ(t.rgbToYc[0], ycValue(0, -1, -1));
}

TEST(ColourTables, RoundTripOfExactColoursIsIdentity) {
  const auto& t = colourTables(PixelKind::Rgb555);
  for (int c = 0; c < 32768; ++c) {
    uint32_t v = t.rgbToYc[c];
    if (exactColourOfYc(v) == c) {
      ASSERT_EQ(t.ycToRgb[v], c);
    }
  }
}

TEST(ColourTables, Kind565PlacesRedAndGreenOneBitUp) {
  const auto& a = colourTables(PixelKind::Rgb555);
  const auto& b = colourTables(PixelKind::Rgb565);
  for (int v = 0; v < kYcValues; v += 37) ASSERT_EQ(b.ycToRgb[v], to565(a.ycToRgb[v]));
  for (int c = 0; c < 32768; c += 11) {
    ASSERT_EQ(b.rgbToYc[to565(uint16_t(c))], a.rgbToYc[c]);
    ASSERT_EQ(b.rgbToYc[to565(uint16_t(c)) | 0x20], a.rgbToYc[c]) << "low green bit dropped";
  }
}

}  // namespace
}  // namespace zov

#include <gtest/gtest.h>

#include <cstdlib>
#include <vector>

#include "format/output_preview.h"
#include "format/output_stage.h"

namespace zov {
namespace {

// Renders a 2 x 2 picture (bottom row red, green; top row blue, white) with a method and
// returns the preview, top row first.
PreviewImage preview(int method, bool topDown, PixelKind kind = PixelKind::Rgb555) {
  std::vector<uint16_t> pic = {0x7C00, 0x03E0, 0x001F, 0x7FFF};
  if (kind == PixelKind::Rgb565)
    for (auto& p : pic) p = to565(p);
  OutputStage s;
  OutputLayout l{2, 2};
  EXPECT_TRUE(s.setup(method, l, kind, topDown, 0, makeCurve(40, 0)));
  std::vector<uint8_t> dest(s.geometry().requiredBytes(), 0);
  s.writeFullFrame({pic.data()}, dest.data());
  return renderPreview(s.geometry(), dest.data(), kind);
}

void expectNear(const PreviewImage& img, int x, int y, int r, int g, int b, int tolerance) {
  const uint8_t* p = img.rgb.data() + 3 * (y * img.width + x);
  EXPECT_NEAR(p[0], r, tolerance) << "red at " << x << "," << y;
  EXPECT_NEAR(p[1], g, tolerance) << "green at " << x << "," << y;
  EXPECT_NEAR(p[2], b, tolerance) << "blue at " << x << "," << y;
}

TEST(OutputPreview, SixteenBitOutputInBothOrientationsAndKinds) {
  for (bool topDown : {false, true}) {
    for (PixelKind kind : {PixelKind::Rgb555, PixelKind::Rgb565}) {
      PreviewImage img = preview(0, topDown, kind);
      ASSERT_EQ(img.width, 2);
      ASSERT_EQ(img.height, 2);
      expectNear(img, 0, 0, 0, 0, 255, 0);  // the picture's top row comes first
      expectNear(img, 1, 0, 255, 255, 255, 0);
      expectNear(img, 0, 1, 255, 0, 0, 0);
    }
  }
}

TEST(OutputPreview, YuvIsConvertedBack) {
  for (int method : {14, 15}) {
    PreviewImage img = preview(method, true);
    // U and V belong to the pair's second pixel, so only that pixel comes back faithfully.
    expectNear(img, 1, 0, 255, 255, 255, 6);
    expectNear(img, 1, 1, 0, 255, 0, 10);
  }
}

TEST(OutputPreview, PaletteMethodsGoThroughTheirPalette) {
  PreviewImage img = preview(10, false);  // grey enlargement: white is grey level 62
  ASSERT_EQ(img.width, 4);
  expectNear(img, 3, 0, 249, 249, 249, 0);
  PreviewImage dots = preview(7, false);
  // The bottom-right pixel (green) becomes green dots and black: no red anywhere in its block.
  for (int y = 2; y < 4; ++y)
    for (int x = 2; x < 4; ++x) EXPECT_LT(dots.rgb[3 * (y * 4 + x)], 2);
}

TEST(OutputPreview, PreviewOfAMethodShowsTheWholeOutput) {
  OutputLayout l{3, 4};
  l.marginTop = 1;
  std::vector<uint16_t> pic(12, 0x7FFF);
  PreviewImage img = previewMethod(6, pic.data(), l, PixelKind::Rgb555);
  ASSERT_EQ(img.width, 9);
  ASSERT_EQ(img.height, 12);
  expectNear(img, 0, 0, 0, 0, 0, 0);  // the top margin is black
  expectNear(img, 0, 2, 0, 0, 0, 0);
  int white = 0;
  for (int x = 0; x < 9; ++x) white += img.rgb[3 * (3 * 9 + x)] == 255;
  EXPECT_GT(white, 0) << "the first active line shows the picture";
  EXPECT_TRUE(previewMethod(2, pic.data(), l, PixelKind::Rgb555).rgb.empty())
      << "method 2 needs a WField stream";
}

}  // namespace
}  // namespace zov

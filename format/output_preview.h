// Renders a method's destination as 24-bit RGB for a person to look at (zovinfo --png): 16-bit
// pixels widened, palette indices through the method's palette, packed YUV converted back.
#pragma once

#include <cstdint>
#include <vector>

#include "format/gamma.h"
#include "format/output_geometry.h"
#include "format/palette.h"
#include "format/stream_format.h"

namespace zov {

struct PreviewImage {
  int width = 0, height = 0;
  std::vector<uint8_t> rgb;  // top row first, red, green, blue per pixel
};

// `dest` is the output area's lowest address as the writers saw it; `palette` is used for the
// 8-bit methods (null: the method's palette with the default static colours).
PreviewImage renderPreview(const OutputGeometry& g, const uint8_t* dest, PixelKind kind,
                           const Palette* palette = nullptr);

// Writes `picture` (layout.width x layout.height, row 0 the bottom row) with `method` into a
// fresh bottom-up DIB, margins and never-written lines black, and renders it. An empty image
// when the method does not suit the layout.
PreviewImage previewMethod(int method, const uint16_t* picture, const OutputLayout& layout,
                           PixelKind kind, const Curve& curve = makeCurve(kNeutralGamma, 0));

}  // namespace zov

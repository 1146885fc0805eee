#include "format/output_preview.h"

#include <algorithm>
#include <cstring>

#include "format/output_stage.h"
#include "format/output_tables.h"

namespace zov {
namespace {

uint8_t widen5(int v) {
  return static_cast<uint8_t>(v << 3 | v >> 2);
}

// Back from the 8x-scaled Y, U, V of the output tables to 8-bit RGB: the inverse of the luma
// and colour-difference weights, then scaled from 0..248 to 0..255.
void yuvToRgb(int y, int u, int v, uint8_t* out) {
  const double cb = u - 128, cr = v - 128;
  const double rgb[3] = {y + 1.402 * cr, y - 0.344136 * cb - 0.714136 * cr, y + 1.772 * cb};
  for (int k = 0; k < 3; ++k)
    out[k] = static_cast<uint8_t>(std::clamp(rgb[k] * 255.0 / 248.0 + 0.5, 0.0, 255.0));
}

}  // namespace

PreviewImage renderPreview(const OutputGeometry& g, const uint8_t* dest, PixelKind kind,
                           const Palette* palette) {
  PreviewImage img;
  img.width = g.destWidth;
  img.height = g.destHeight;
  img.rgb.resize(static_cast<size_t>(img.width) * img.height * 3);
  Palette own{};
  if (g.pixels == DestPixels::Palette8 && !palette) {
    own = methodPalette(g.method, defaultStaticColours());
    palette = &own;
  }
  for (int row = 0; row < img.height; ++row) {
    const int memLine = g.topDown ? row : img.height - 1 - row;
    const uint8_t* line = dest + static_cast<ptrdiff_t>(memLine) * g.pitch;
    uint8_t* out = img.rgb.data() + static_cast<size_t>(row) * img.width * 3;
    for (int x = 0; x < img.width; ++x, out += 3) {
      switch (g.pixels) {
        case DestPixels::Rgb16: {
          uint16_t p;
          std::memcpy(&p, line + 2 * x, 2);
          Rgb5 c = components(p, kind);
          out[0] = widen5(c.r), out[1] = widen5(c.g), out[2] = widen5(c.b);
          break;
        }
        case DestPixels::Palette8: {
          const PaletteEntry& e = (*palette)[line[x]];
          out[0] = e.red, out[1] = e.green, out[2] = e.blue;
          break;
        }
        case DestPixels::Yuy2:
        case DestPixels::Uyvy: {
          const uint8_t* pair = line + 2 * (x & ~1);
          const bool last = (x | 1) >= img.width;  // an odd last pixel has only Y and U
          int y, u, v;
          if (g.pixels == DestPixels::Yuy2) {
            y = pair[(x & 1) ? 2 : 0], u = pair[1], v = last ? 128 : pair[3];
          } else {
            y = pair[(x & 1) ? 3 : 1], u = pair[0], v = last ? 128 : pair[2];
          }
          yuvToRgb(y, u, v, out);
          break;
        }
      }
    }
  }
  return img;
}

PreviewImage previewMethod(int method, const uint16_t* picture, const OutputLayout& layout,
                           PixelKind kind, const Curve& curve) {
  OutputStage stage;
  if (!picture || !stage.setup(method, layout, kind, false, 0, curve)) return {};
  std::vector<uint8_t> dest(stage.geometry().requiredBytes(), 0);
  stage.clearMargins(dest.data());
  stage.clearUnwrittenLines(dest.data());
  stage.writeFullFrame({picture}, dest.data());
  return renderPreview(stage.geometry(), dest.data(), kind);
}

}  // namespace zov

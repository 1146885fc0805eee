#include "format/output_geometry.h"

#include "format/stream_format.h"

namespace zov {
namespace {

// Which picture rows a method writes and on which destination lines, in picture order
// (line 0 shows the bottom of the image): active rows a0, a0 + da, ... (n of them); row a
// fills lines (marginBottom + a) * vf + off0 + j * lstep for j < lpr.
struct LinePlan {
  int vf, a0, da, n, off0, lpr, lstep;
};

int linesPerPictureRow(int method, const OutputLayout& l) {
  return l.wField ? 2 : methodScale(method);
}

LinePlan planFor(int method, const OutputLayout& l) {
  const int ha = l.activeHeight();
  const int vf = linesPerPictureRow(method, l);
  LinePlan p{vf, 0, 1, ha, 0, vf, 1};
  switch (method) {
    case 1:
      // Only the odd rows of the active area are decoded under this method; each is written
      // once on its own line. In a doubled field it stands for both odd lines of its pair of
      // rows (2a - 1 and 2a + 1), so the output keeps every other line at an even spacing.
      p.a0 = 1;
      p.da = 2;
      p.n = ha / 2;
      if (l.wField) {
        p.off0 = -1;
        p.lpr = 2;
        p.lstep = 2;
      } else {
        p.lpr = 1;
      }
      break;
    case 2:  // each field row once, on the upper line of its pair; the lower stays black
    case 4:  // each row once (horizontally interpolated), on the upper line of its pair
      p.off0 = 1;
      p.lpr = 1;
      break;
    default:
      break;
  }
  return p;
}

}  // namespace

uint32_t OutputLayout::streamFlags() const {
  return (sField ? stream_flag::kSField : 0) | (wField ? stream_flag::kWField : 0);
}

size_t OutputGeometry::requiredBytes() const {
  if (destHeight <= 0) return 0;
  return static_cast<size_t>(destHeight - 1) * static_cast<size_t>(pitch) + lineBytes();
}

int outputWidth(int method, const OutputLayout& l) {
  return l.width * methodScale(method);
}
int outputHeight(int method, const OutputLayout& l) {
  return l.height * linesPerPictureRow(method, l);
}

std::optional<OutputGeometry> computeOutputGeometry(int method, const OutputLayout& l, bool topDown,
                                                    ptrdiff_t pitch) {
  if (!isValidMethod(method) || !methodAllowed(method, l.streamFlags())) return std::nullopt;
  if (l.width <= 0 || l.height <= 0 || l.width > kMaxWidth || l.height > kMaxHeight)
    return std::nullopt;
  if (l.marginBottom < 0 || l.marginTop < 0 || l.activeHeight() <= 0) return std::nullopt;

  OutputGeometry g;
  const MethodInfo& info = methodInfo(method);
  g.method = method;
  g.pixels = info.pixels;
  g.scale = info.scale;
  g.bytesPerPixel = info.pixels == DestPixels::Palette8 ? 1 : 2;
  g.width = l.width;
  g.destWidth = outputWidth(method, l);
  g.destHeight = outputHeight(method, l);
  g.topDown = topDown;
  g.pitch = pitch == 0 ? dibPitch(g.destWidth, g.bytesPerPixel) : pitch;
  if (g.pitch < static_cast<ptrdiff_t>(g.lineBytes())) return std::nullopt;

  const LinePlan p = planFor(method, l);
  g.linesPerPictureRow = p.vf;
  const int low = topDown ? l.marginTop : l.marginBottom;
  const int high = topDown ? l.marginBottom : l.marginTop;
  g.marginLinesLow = low * p.vf;
  g.marginLinesHigh = high * p.vf;

  g.rows = p.n;
  g.linesPerRow = p.lpr;
  g.lineStep = p.lstep * g.pitch;
  g.dstStep = static_cast<ptrdiff_t>(p.da) * p.vf * g.pitch;
  if (p.n == 0) return g;

  auto line = [&](int a, int j) { return (l.marginBottom + a) * p.vf + p.off0 + j * p.lstep; };
  int firstLine;
  if (!topDown) {
    g.srcFirst = static_cast<ptrdiff_t>(l.marginBottom + p.a0) * l.width;
    g.srcStep = static_cast<ptrdiff_t>(p.da) * l.width;
    firstLine = line(p.a0, 0);
  } else {
    const int aLast = p.a0 + (p.n - 1) * p.da;
    g.srcFirst = static_cast<ptrdiff_t>(l.marginBottom + aLast) * l.width;
    g.srcStep = -static_cast<ptrdiff_t>(p.da) * l.width;
    firstLine = g.destHeight - 1 - line(aLast, p.lpr - 1);
  }
  g.firstPixelOffset = static_cast<ptrdiff_t>(firstLine) * g.pitch;
  return g;
}

}  // namespace zov

#include "format/output_stage.h"

#include <cstring>
#include <vector>

namespace zov {

uint32_t blackPattern(DestPixels pixels) {
  switch (pixels) {
    case DestPixels::Yuy2:
      return 0x80008000;  // Y 0, U 128, Y 0, V 128
    case DestPixels::Uyvy:
      return 0x00800080;  // U 128, Y 0, V 128, Y 0
    default:
      return 0;
  }
}

void fillLines(const OutputGeometry& g, uint8_t* dest, int firstLine, int lines, uint32_t pattern) {
  uint8_t bytes[4];
  std::memcpy(bytes, &pattern, 4);
  const size_t n = g.lineBytes();
  for (int i = 0; i < lines; ++i) {
    uint8_t* line = dest + static_cast<ptrdiff_t>(firstLine + i) * g.pitch;
    if (pattern == 0) {
      std::memset(line, 0, n);
    } else {
      for (size_t k = 0; k < n; ++k) line[k] = bytes[k & 3];
    }
  }
}

bool OutputStage::setup(int method, const OutputLayout& layout, PixelKind kind, bool topDown,
                        ptrdiff_t pitch, const Curve& curve) {
  auto g = computeOutputGeometry(method, layout, topDown, pitch);
  if (!g) return false;
  layout_ = layout;
  geometry_ = *g;
  if (tables_.method != method || tables_.kind != kind || tables_.curve.c32 != curve.c32 ||
      tables_.curve.c64 != curve.c64)
    tables_ = buildOutputTables(method, kind, curve);
  writers_ = methodWriters(method);
  if (!usesUnchangedMap()) writers_.writeChangedBlocks = writers_.writeFullFrame;
  ready_ = true;
  return true;
}

bool OutputStage::setLayout(const OutputLayout& layout, bool topDown, ptrdiff_t pitch) {
  if (!ready_) return false;
  auto g = computeOutputGeometry(geometry_.method, layout, topDown, pitch);
  if (!g) return false;
  layout_ = layout;
  geometry_ = *g;
  return true;
}

void OutputStage::setCurve(const Curve& curve) {
  if (!ready_) return;
  tables_ = buildOutputTables(geometry_.method, tables_.kind, curve);
  writers_ = methodWriters(geometry_.method);
  if (!usesUnchangedMap()) writers_.writeChangedBlocks = writers_.writeFullFrame;
}

bool OutputStage::usesUnchangedMap() const {
  const int m = geometry_.method;
  return !((m == 0 || m == 1) && tables_.curve.neutral);
}

OutputFrame OutputStage::frame(const OutputPictures& in, uint8_t* dest) const {
  OutputFrame f;
  f.geometry = &geometry_;
  f.tables = &tables_;
  f.picture = in.picture;
  f.unchangedMap = in.unchangedMap;
  f.blockMap = in.blockMap;
  f.entropyMap = in.entropyMap;
  f.dest = dest;
  return f;
}

void OutputStage::writeFullFrame(const OutputPictures& in, uint8_t* dest) const {
  if (ready_ && in.picture && dest) writers_.writeFullFrame(frame(in, dest));
}

void OutputStage::writeChangedBlocks(const OutputPictures& in, uint8_t* dest) const {
  if (ready_ && in.picture && dest) writers_.writeChangedBlocks(frame(in, dest));
}

void OutputStage::clearMargins(uint8_t* dest) const {
  if (!ready_ || !dest) return;
  const OutputGeometry& g = geometry_;
  const uint32_t black = blackPattern(g.pixels);
  fillLines(g, dest, 0, g.marginLinesLow, black);
  fillLines(g, dest, g.destHeight - g.marginLinesHigh, g.marginLinesHigh, black);
}

void OutputStage::clearUnwrittenLines(uint8_t* dest) const {
  if (!ready_ || !dest || !writesAlternateLines(geometry_.method)) return;
  const OutputGeometry& g = geometry_;
  std::vector<char> written(g.destHeight, 0);
  for (int i = 0; i < g.rows; ++i)
    for (int j = 0; j < g.linesPerRow; ++j)
      written[(g.firstPixelOffset + i * g.dstStep + j * g.lineStep) / g.pitch] = 1;
  const uint32_t black = blackPattern(g.pixels);
  for (int line = g.marginLinesLow; line < g.destHeight - g.marginLinesHigh; ++line)
    if (!written[line]) fillLines(g, dest, line, 1, black);
}

}  // namespace zov

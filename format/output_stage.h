// One instance's output stage: the method in force with its geometry, conversion tables and
// writers, set up at stream begin and whenever the method, the destination or the letterbox
// changes, and the helpers that clear the destination lines no writer touches.
#pragma once

#include <cstdint>

#include "format/gamma.h"
#include "format/output_geometry.h"
#include "format/output_tables.h"
#include "format/output_writers.h"

namespace zov {

// What the decoder hands the output stage each frame.
struct OutputPictures {
  const uint16_t* picture = nullptr;      // the picture, or the post filter's output
  const uint8_t* unchangedMap = nullptr;  // needed by writeChangedBlocks when usesUnchangedMap()
  const uint8_t* blockMap = nullptr;      // method 13 only
  const uint8_t* entropyMap = nullptr;    // method 13 only
};

class OutputStage {
 public:
  // Installs `method` for pictures of `layout` and `kind` on a destination of the given
  // orientation and pitch (0: the DIB pitch). False when the method does not suit the stream
  // or the geometry is impossible; the stage is then unchanged.
  bool setup(int method, const OutputLayout& layout, PixelKind kind, bool topDown, ptrdiff_t pitch,
             const Curve& curve);
  // Recomputes the geometry for a new letterbox (or destination) without rebuilding tables.
  bool setLayout(const OutputLayout& layout, bool topDown, ptrdiff_t pitch);
  // Rebuilds the tables after a brightness or gamma change.
  void setCurve(const Curve& curve);

  bool ready() const { return ready_; }
  int method() const { return geometry_.method; }
  const OutputGeometry& geometry() const { return geometry_; }
  const OutputTables& tables() const { return tables_; }
  // Whether writeChangedBlocks reads the unchanged map. Methods 0 and 1 with a neutral curve
  // write whole frames only, and the decoder need not keep the map for them.
  bool usesUnchangedMap() const;

  // `dest` is the output area's lowest address; it must hold geometry().requiredBytes().
  void writeFullFrame(const OutputPictures& in, uint8_t* dest) const;
  void writeChangedBlocks(const OutputPictures& in, uint8_t* dest) const;

  // Fills the letterbox margins with black of the destination format.
  void clearMargins(uint8_t* dest) const;
  // Methods 1, 2 and 4: zeroes the lines of the active area that the method never writes.
  void clearUnwrittenLines(uint8_t* dest) const;

 private:
  OutputFrame frame(const OutputPictures& in, uint8_t* dest) const;

  bool ready_ = false;
  OutputLayout layout_;
  OutputGeometry geometry_;
  OutputTables tables_;
  MethodWriters writers_{};
};

// The black fill of a destination format as a 32-bit pattern (YUY2 and UYVY have U and V 128).
uint32_t blackPattern(DestPixels pixels);
// Fills `lines` destination lines from `firstLine` on with the pattern, one line width each.
void fillLines(const OutputGeometry& g, uint8_t* dest, int firstLine, int lines, uint32_t pattern);

}  // namespace zov

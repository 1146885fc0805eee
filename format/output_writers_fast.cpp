// Faster versions of the busiest writers. Each must give exactly the reference writer's output
// (the tests compare them on random pictures and maps).
#include "format/output_walk.h"

namespace zov {
namespace {

using namespace output_detail;

// Methods 0, 1 and 2 with a neutral curve: the picture already has the display's layout, so a
// row is a plain copy.
struct Copy16 {
  static void span(const RowContext& c, const uint16_t* src, uint8_t* dst, int x0, int x1, int) {
    for (int j = 0; j < c.g.linesPerRow; ++j)
      std::memcpy(dst + j * c.g.lineStep + 2 * x0, src + x0, 2 * static_cast<size_t>(x1 - x0));
  }
};

// Dispatches on the curve at run time: the table entry is fixed per method, the curve is not.
void copyOrMapFull(const OutputFrame& f) {
  if (f.tables->curve.neutral) return walkFull<Copy16>(f);
  referenceWriters(f.geometry->method).writeFullFrame(f);
}
void copyOrMapChanged(const OutputFrame& f) {
  if (f.tables->curve.neutral) return walkChanged<Copy16>(f);
  referenceWriters(f.geometry->method).writeChangedBlocks(f);
}

}  // namespace

MethodWriters fastWriters(int method) {
  switch (method) {
    case 0:
    case 1:
    case 2:
      return {&copyOrMapFull, &copyOrMapChanged};
    default:
      return {nullptr, nullptr};
  }
}

}  // namespace zov

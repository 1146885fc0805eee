// Where each output method puts the picture: destination size and pitch, the first written
// pixel, and the walk over picture rows and destination lines that the writers follow, for
// bottom-up DIBs and for top-down destinations (surfaces, overlays, extended decompression).
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

#include "format/output_method.h"

namespace zov {

// The picture as the output stage sees it (no pixels): coded size, field flags and the
// letterbox margins the decoder recorded.
struct OutputLayout {
  int width = 0, height = 0;  // the coded picture, margins included
  bool wField = false;        // output twice as high (each row doubled or on every other line)
  bool sField = false;        // only the odd rows of the active area were coded
  int marginBottom = 0;       // letterbox rows from picture row 0 on (the bottom of the image)
  int marginTop = 0;          // letterbox rows at the end of the buffer (the top of the image)

  uint32_t streamFlags() const;
  int activeHeight() const { return height - marginBottom - marginTop; }
};

struct OutputGeometry {
  int method = 0;
  DestPixels pixels = DestPixels::Rgb16;
  int scale = 1;
  int bytesPerPixel = 2;
  int width = 0;      // picture pixels per row written
  int destWidth = 0;  // output size in pixels, margins included
  int destHeight = 0;
  ptrdiff_t pitch = 0;         // bytes from one destination line to the next in memory
  bool topDown = false;        // memory line 0 shows the top of the image
  int linesPerPictureRow = 1;  // destination lines that stand for one picture row

  // Letterbox margins in destination lines, at the low and high memory end of the output.
  int marginLinesLow = 0;
  int marginLinesHigh = 0;

  // The walk: `rows` picture rows from pixel index `srcFirst` on, `srcStep` pixels apart
  // (negative for top-down destinations, which start at the picture's last row); row i goes to
  // `linesPerRow` destination lines `lineStep` bytes apart, starting `firstPixelOffset` +
  // i * `dstStep` bytes from the output area start (its lowest address).
  int rows = 0;
  ptrdiff_t srcFirst = 0;
  ptrdiff_t srcStep = 0;
  ptrdiff_t firstPixelOffset = 0;
  ptrdiff_t dstStep = 0;
  int linesPerRow = 1;
  ptrdiff_t lineStep = 0;

  // The smallest destination that holds the output at this pitch.
  size_t requiredBytes() const;
  size_t lineBytes() const { return static_cast<size_t>(destWidth) * bytesPerPixel; }
};

// Bytes per line of a DIB: lines are padded to 32 bits.
constexpr ptrdiff_t dibPitch(int widthPixels, int bytesPerPixel) {
  return (static_cast<ptrdiff_t>(widthPixels) * bytesPerPixel + 3) & ~ptrdiff_t(3);
}
// Output size for a method and layout (what get-format proposes).
int outputWidth(int method, const OutputLayout& layout);
int outputHeight(int method, const OutputLayout& layout);

// The geometry of `method` for `layout`. `pitch` 0 means the DIB pitch of the output width.
// Fails for a method the stream's flags do not allow, an empty or oversized picture, margins
// that leave no active row, or a pitch shorter than an output line.
std::optional<OutputGeometry> computeOutputGeometry(int method, const OutputLayout& layout,
                                                    bool topDown, ptrdiff_t pitch = 0);

}  // namespace zov

// Writes the decoder's 5-5-5 picture (row 0 the bottom row) into a caller's buffer in one of the
// library's pixel formats, at the caller's stride, top line first or bottom line first. The
// lines a player shows are derived from the stream's shape: a stream coded as one field shows
// each row on two lines, a stream with only its odd rows coded shows each coded row also on the
// uncoded line below it, and letterbox margins are black.
#pragma once

#include <cstddef>
#include <cstdint>

namespace zov::dec {

enum class OutputFormat : uint8_t { Rgb555, Rgb565, Rgb24, Bgr24, Bgrx32, Rgbx32 };
inline constexpr int kOutputFormats = 6;

int bytesPerPixel(OutputFormat format);

// The picture's shape.
struct PictureShape {
  int width = 0, height = 0;  // the coded picture
  bool wField = false;        // output twice as high
  bool sField = false;        // only the odd rows of the active area are coded
  int marginBottom = 0;       // letterbox rows from picture row 0 on
  int marginTop = 0;          // letterbox rows at the end of the picture

  int outputHeight() const { return wField ? 2 * height : height; }
};

// The picture row shown on output line `line` (0 the bottom line), or -1 for a black line.
int pictureRowOfLine(const PictureShape& shape, int line);

// Writes every output line; `dest` holds outputHeight() lines of `stride` bytes.
void writePicture(const uint16_t* picture, const PictureShape& shape, OutputFormat format,
                  uint8_t* dest, ptrdiff_t stride, bool bottomUp);

}  // namespace zov::dec

// Pictures of source frames for the dialogs' previews and thumbnails: a packed bottom-up bitmap
// (40-byte header, then the pixels) or a 15-bit frame made into a QImage.
#pragma once

#include <QImage>
#include <cstdint>
#include <vector>

namespace zov {

class SourceFile;

// A packed bitmap of 15/16, 24 or 32 bits; a null image for anything else or too little data.
QImage imageFromPackedBitmap(const std::vector<uint8_t>& bitmap);
// 15-bit pixels (5 bits per channel), bottom-up lines of `width` pixels.
QImage imageFrom15Bit(const uint16_t* pixels, int width, int height);

// A frame of the source (relative to its ExtractionStart, or the file's frame number when
// `absolute`), cropped and converted to 15 bits, without filters or resizing: the pixels,
// bottom-up. False when the source can't serve it. The source's current frame stays as it was.
bool fetchFrame15(SourceFile& source, uint32_t frame, std::vector<uint16_t>& pixels, int& width,
                  int& height, bool absolute = false);

}  // namespace zov

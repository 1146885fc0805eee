// The post filter of the 4-pixel-wide luminance schemes (811, 1611): smooths the steps that
// their shared colour differences leave in blue. Reads the picture, writes the filtered picture
// that the output stage shows; the picture itself stays the reference for the next frame.
#pragma once

#include <cstdint>

#include "format/stream_format.h"

namespace zov {

// Filters rows rowBegin..rowEnd-1 of a w x h picture into dst and copies every other row.
//
// Per row, on pairs of pixels (2k, 2k+1) with k >= 1 that have a next pair: when the blue of the
// pair's second pixel or of the next pair's first pixel exceeds both that pixel's red + 2 and
// its green + 2, both blues of the pair become floor((own blue + next pair's first blue) / 2).
// The first pair, the last pair (no next pair) and an odd last pixel are copied unchanged; red
// and green are never changed. In 5-6-5 pictures green counts by its upper 5 bits.
void postFilter(const uint16_t* src, uint16_t* dst, int w, int h, int rowBegin, int rowEnd,
                PixelKind kind);

}  // namespace zov

// The rectangle search shared by the four block lists: finds rectangles of candidate pixels
// in order of non-increasing area and marks them in the block map.
#pragma once

#include <cstdint>

#include "encoder/encoder_buffers.h"

namespace zov {

struct RectangleSearch {
  uint8_t candidate = kMapCandidate;  // block-map value of a candidate pixel
  uint8_t marker = kMapUnchanged;     // block-map value given to a taken rectangle's pixels
  int minArea = 1;
  // Solid rectangles: runs and rectangles hold one value (the 17-bit target for types 1..4,
  // the colour for type 0) and entries carry the colour of their top-left pixel.
  bool sameValue = false;
};

// Searches the block map of `b` for rectangles of candidate pixels and appends them to `list`.
// A rectangle that would be the 256th of its size class in its segment is not taken (its
// pixels stay coded by residuals) and the list's overflow is reported once per frame through
// `overflowed`. Returns the number of rectangles taken.
int searchRectangles(EncoderBuffers& b, const RectangleSearch& rule, RectList& list,
                     bool& overflowed);

// Size class of an entry: long when width - 1 or height - 1 exceeds 15.
inline bool isLongEntry(const BlockRect& r) {
  return r.width > 16 || r.height > 16;
}

}  // namespace zov

// The interframe diagnostic view (method 13): the picture at 16 bits with the blocks of each
// list of the current frame marked, so that a compressionist sees what the encoder chose.
#pragma once

#include <cstdint>

#include "format/stream_format.h"

namespace zov {

// How each pixel of the frame was produced, as far as the decoder's maps tell.
enum class BlockKind : uint8_t {
  Coded,       // decoded from residuals (shown unchanged)
  Interframe,  // kept from the previous frame (shown at half brightness)
  Filled,      // a solid-colour or background block (half brightness, tinted green)
  Entropy,     // a smooth-luma block (half brightness, tinted magenta)
};

// The diagnostic colour of a (curve-mapped) pixel of `kind` in a block of `block`.
uint16_t diagnosticColour(uint16_t pixel, BlockKind block, PixelKind kind);

}  // namespace zov

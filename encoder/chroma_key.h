// Chroma keying against a key colour: marks the pixels showing the screen colour, replaces
// them by the background (or black), removes colour spill, closes one-pixel gaps and blends the
// edges of the keyed area.
#pragma once

#include <cstdint>

#include "encoder/encoder_buffers.h"

namespace zov {

struct CompressionSettings;

// Keys `pic` in place; `keyMap` receives 1 for keyed pixels.
void chromaKey(EncoderBuffers& b, const CompressionSettings& s, uint16_t* pic, uint8_t* keyMap);

}  // namespace zov

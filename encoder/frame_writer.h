// Writes one frame in stream order: header, block lists per segment, symbol section.
#pragma once

#include <cstdint>

#include "encoder/encoder_buffers.h"

namespace zov {

struct FrameHeader {
  bool key = false;
  int scheme = 0;
  bool enpy = false;
  bool edge = false;
  bool letterbox = false;
  int topLines = 0, bottomLines = 0;
  bool unchangedList = false;   // interframes
  bool backgroundList = false;  // stream flag Chroma or Chroma1st
  bool smoothList = false;      // ENPY in force
};

// Writes the frame into b.writer (reset first) and returns its length in bytes by the length
// rule: whole bytes used, rounded up to a multiple of 4, plus a final zero word.
size_t writeFrame(EncoderBuffers& b, const FrameHeader& h, bool seed);

}  // namespace zov

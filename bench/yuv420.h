// The footage as 8-bit 4:2:0 (BT.601 video range) for the peer codecs of the benchmarks.
#pragma once

#include <cstdint>
#include <vector>

#include "encoder_footage.h"

namespace zov::bench {

struct Yuv420 {
  int width = 0, height = 0;
  std::vector<uint8_t> y, u, v;
};

// A bottom-up 15-bit picture to top-down 4:2:0 (chroma averaged over 2 x 2 pixels).
Yuv420 toYuv(const Picture& pic, int w, int h);

}  // namespace zov::bench

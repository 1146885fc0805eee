#include "encoder/colour_quantiser.h"

#include <cstdlib>

namespace zov {
namespace {

// Candidate 8-bit levels of one component, in the order they are tried.
int candidates(int c, int out[3]) {
  int below = c & ~7;
  int n = 0;
  out[n++] = below;
  if (below > 0) out[n++] = below - 8;
  if (below < 248) out[n++] = below + 8;
  return n;
}

}  // namespace

// The weighted distance is a sum of one term per component, so the best triple is the best
// level of each component alone, and "first found" on a tie is the earlier candidate of that
// component. One table of 256 entries serves all three.
struct NearestLevels {
  uint8_t level[256];
  NearestLevels() {
    for (int c = 0; c < 256; ++c) {
      int cand[3];
      int n = candidates(c, cand);
      int best = cand[0];
      for (int k = 1; k < n; ++k)
        if (std::abs(cand[k] - c) < std::abs(best - c)) best = cand[k];
      level[c] = static_cast<uint8_t>(best >> 3);
    }
  }
};

const NearestLevels& nearestLevels() {
  static const NearestLevels table;
  return table;
}

uint16_t nearestColour(int r, int g, int b) {
  const uint8_t* l = nearestLevels().level;
  return static_cast<uint16_t>(l[r & 255] << 10 | l[g & 255] << 5 | l[b & 255]);
}

void convertRowTo15(const uint8_t* src, int bitsPerPixel, int width, uint16_t* dst) {
  const uint8_t* l = nearestLevels().level;
  int step = bitsPerPixel / 8;
  for (int x = 0; x < width; ++x, src += step)
    dst[x] = static_cast<uint16_t>(l[src[2]] << 10 | l[src[1]] << 5 | l[src[0]]);
}

}  // namespace zov

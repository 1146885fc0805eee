#include "encoder/colour_quantiser.h"

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

uint16_t nearestColour(int r, int g, int b) {
  if (((r | g | b) & 7) == 0)
    return static_cast<uint16_t>((r >> 3) << 10 | (g >> 3) << 5 | (b >> 3));
  int cr[3], cg[3], cb[3];
  int nr = candidates(r, cr), ng = candidates(g, cg), nb = candidates(b, cb);
  long best = -1;
  uint16_t bestColour = 0;
  for (int i = 0; i < nr; ++i) {
    long dr = r - cr[i];
    for (int j = 0; j < ng; ++j) {
      long dg = g - cg[j];
      for (int k = 0; k < nb; ++k) {
        long db = b - cb[k];
        long d = 30 * dr * dr + 59 * dg * dg + 20 * db * db;
        if (best < 0 || d < best) {
          best = d;
          bestColour = static_cast<uint16_t>((cr[i] >> 3) << 10 | (cg[j] >> 3) << 5 | (cb[k] >> 3));
        }
      }
    }
  }
  return bestColour;
}

void convertRowTo15(const uint8_t* src, int bitsPerPixel, int width, uint16_t* dst) {
  int step = bitsPerPixel / 8;
  for (int x = 0; x < width; ++x, src += step) dst[x] = nearestColour(src[2], src[1], src[0]);
}

}  // namespace zov

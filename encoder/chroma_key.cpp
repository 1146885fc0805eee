#include "encoder/chroma_key.h"

#include <algorithm>
#include <cstring>

#include "encoder/compression_settings.h"

namespace zov {

void chromaKey(EncoderBuffers& b, const CompressionSettings& s, uint16_t* pic, uint8_t* keyMap) {
  const int w = b.width, lines = b.lines, n = b.pixels;
  const bool blue = s.ChromaScreening == kScreeningBlue;
  const int kr = int(s.ChromaRed), kg = int(s.ChromaGreen), kb = int(s.ChromaBlue);
  const uint16_t* bg = b.bitmapGiven ? b.background.data() : nullptr;
  std::memset(keyMap, 0, size_t(n));
  for (int i = 0; i < n; ++i) {
    int r = pic[i] >> 10 & 31, g = pic[i] >> 5 & 31, bl = pic[i] & 31;
    bool keyed =
        blue ? (bl >= kb && bl > kr + r && bl > kg + g) : (g >= kg && g > kr + r && g > kb + bl);
    if (keyed) {
      pic[i] = bg ? bg[i] : 0;
      keyMap[i] = 1;
      continue;
    }
    // Spill removal: a screen component above both others comes down to the larger of them.
    if (blue) {
      if (bl > r && bl > g) bl = std::max(r, g);
    } else if (g > r && g > bl) {
      g = std::max(r, bl);
    }
    pic[i] = static_cast<uint16_t>(r << 10 | g << 5 | bl);
  }
  // Gap closing: a lone unkeyed pixel between keyed ones, across or down.
  for (int l = 0; l < lines; ++l) {
    for (int x = 0; x < w; ++x) {
      size_t i = size_t(l) * w + x;
      if (!keyMap[i]) continue;
      if (x < w - 2 && !keyMap[i + 1] && keyMap[i + 2]) {
        pic[i + 1] = bg ? bg[i + 1] : 0;
        if (bg) keyMap[i + 1] = 1;
      }
      if (l < lines - 2 && !keyMap[i + w] && keyMap[i + 2 * size_t(w)]) {
        pic[i + w] = bg ? bg[i + w] : 0;
        if (bg) keyMap[i + w] = 1;
      }
    }
  }
  if (!s.ChromaAntialiasing) return;
  // Edge blending on copies, so that every average sees the unblended neighbourhood.
  uint8_t* keyCopy = b.keyMapCopy.data();
  uint16_t* picCopy = b.work.data();
  std::memcpy(keyCopy, keyMap, size_t(n));
  std::memcpy(picCopy, pic, size_t(n) * 2);
  for (int l = 1; l < lines - 1; ++l) {
    for (int x = 1; x < w - 1; ++x) {
      size_t i = size_t(l) * w + x;
      int keyed = 0, sr = 0, sg = 0, sb = 0;
      for (int dy = -1; dy <= 1; ++dy)
        for (int dx = -1; dx <= 1; ++dx) {
          size_t j = i + size_t(dy * w + dx);
          keyed += keyCopy[j];
          sr += picCopy[j] >> 10 & 31;
          sg += picCopy[j] >> 5 & 31;
          sb += picCopy[j] & 31;
        }
      if (keyed >= 1 && keyed <= 8) {
        pic[i] = static_cast<uint16_t>((sr / 9) << 10 | (sg / 9) << 5 | (sb / 9));
        keyMap[i] = 0;
      }
    }
  }
}

}  // namespace zov

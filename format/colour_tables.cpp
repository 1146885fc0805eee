#include "format/colour_tables.h"

#include <memory>

namespace zov {
namespace {

struct Components {
  int r, g, b;
};

// The three quotients, truncated toward zero, before clamping.
constexpr Components quotients(int y, int cr, int cb) {
  return {(1000 * y + 701 * cr) / 1000, (1000 * y - 357 * cr - 172 * cb) / 1000,
          (1000 * y + 886 * cb) / 1000};
}

constexpr int clamp31(int v) {
  return v < 0 ? 0 : (v > 31 ? 31 : v);
}
constexpr bool inRange(int v) {
  return v >= 0 && v <= 31;
}

void buildYcToRgb555(std::array<uint16_t, kYcValues>& table) {
  table.fill(0);
  for (int y = 0; y < 32; ++y) {
    for (int crIdx = 0; crIdx < 63; ++crIdx) {
      for (int cbIdx = 0; cbIdx < 63; ++cbIdx) {
        Components c = quotients(y, crIdx - 31, cbIdx - 31);
        table[ycValue(y, crIdx - 31, cbIdx - 31)] =
            static_cast<uint16_t>(clamp31(c.r) << 10 | clamp31(c.g) << 5 | clamp31(c.b));
      }
    }
  }
}

// The reverse table over 15-bit colours: the first exact value in index order, then the gaps of
// each row of 32 blue values filled from their neighbours.
void buildRgbToYc555(std::array<uint32_t, 32768>& table) {
  constexpr uint32_t kEmpty = 0xFFFFFFFF;
  table.fill(kEmpty);
  for (int y = 0; y < 32; ++y) {
    for (int cr = -31; cr <= 31; ++cr) {
      for (int cb = -31; cb <= 31; ++cb) {
        Components c = quotients(y, cr, cb);
        if (!inRange(c.r) || !inRange(c.g) || !inRange(c.b)) continue;
        uint32_t& slot = table[c.r << 10 | c.g << 5 | c.b];
        if (slot == kEmpty) slot = ycValue(y, cr, cb);
      }
    }
  }
  for (int row = 0; row < 1024; ++row) {
    uint32_t* e = &table[row * 32];
    int first = -1, last = -1;
    for (int b = 0; b < 32; ++b) {
      if (e[b] == kEmpty) continue;
      if (first < 0) first = b;
      last = b;
    }
    if (first < 0) {
      // Row 0 always holds black, so an empty row always has a row before it.
      uint32_t v = row > 0 ? table[row * 32 - 1] : 0;
      for (int b = 0; b < 32; ++b) e[b] = v;
      continue;
    }
    for (int b = 0; b < first; ++b) e[b] = e[first];
    for (int b = last + 1; b < 32; ++b) e[b] = e[last];
    for (int b = first + 1; b < last;) {
      if (e[b] != kEmpty) {
        ++b;
        continue;
      }
      int gapEnd = b;
      while (e[gapEnd] == kEmpty) ++gapEnd;
      int n = gapEnd - b;
      int leftCount = (n + 1) / 2;
      uint32_t left = e[b - 1], right = e[gapEnd];
      for (int i = 0; i < n; ++i) e[b + i] = i < leftCount ? left : right;
      b = gapEnd;
    }
  }
}

std::unique_ptr<ColourTables> build(PixelKind kind) {
  auto t = std::make_unique<ColourTables>();
  buildYcToRgb555(t->ycToRgb);
  auto reverse = std::make_unique<std::array<uint32_t, 32768>>();
  buildRgbToYc555(*reverse);
  if (kind == PixelKind::Rgb555) {
    for (int p = 0; p < 65536; ++p) t->rgbToYc[p] = (*reverse)[p & 0x7FFF];
  } else {
    for (int i = 0; i < kYcValues; ++i) t->ycToRgb[i] = to565(t->ycToRgb[i]);
    for (int p = 0; p < 65536; ++p) t->rgbToYc[p] = (*reverse)[from565(static_cast<uint16_t>(p))];
  }
  for (uint32_t v = 0; v < uint32_t(kYcValues); ++v)
    t->ycToRgbByChroma[chromaMajor(v)] = t->ycToRgb[v];
  return t;
}

}  // namespace

const ColourTables& colourTables(PixelKind kind) {
  static const std::unique_ptr<ColourTables> t555 = build(PixelKind::Rgb555);
  if (kind == PixelKind::Rgb555) return *t555;
  static const std::unique_ptr<ColourTables> t565 = build(PixelKind::Rgb565);
  return *t565;
}

int exactColourOfYc(uint32_t value) {
  int cr = ycCr(value), cb = ycCb(value);
  if (cr > 31 || cb > 31) return -1;
  Components c = quotients(ycY(value), cr, cb);
  if (!inRange(c.r) || !inRange(c.g) || !inRange(c.b)) return -1;
  return c.r << 10 | c.g << 5 | c.b;
}

}  // namespace zov

#include "format/output_tables.h"

#include "format/palette.h"

namespace zov {
namespace {

namespace L = palette_layout;

Rgb5 curved(const Rgb5& c, const Curve& k) {
  return {k.c32[c.r], k.c32[c.g], k.c32[c.b]};
}

// A dot on a ramp whose level 1 sits at base + 1; level 0 is the black entry.
uint8_t dot(int base, int level) {
  return static_cast<uint8_t>(level == 0 ? L::kBlack : base + level);
}

template <class T, class F>
std::vector<T> tabulate(PixelKind kind, F f) {
  std::vector<T> t(kPixelValues);
  for (int p = 0; p < kPixelValues; ++p) t[p] = f(components(static_cast<uint16_t>(p), kind));
  return t;
}

}  // namespace

std::array<uint8_t, 4> dots4For(int method, const Rgb5& c, const Curve& curve) {
  if (method == 7) {
    Rgb5 k = curved(c, curve);
    uint8_t g = dot(L::kRamp31Green, k.g);
    return {g, dot(L::kRamp31Blue, k.b), dot(L::kRamp31Red, k.r), g};
  }
  // Method 11: the grey level drawn as a grey, a half-level blue, a red and a green dot.
  int v = greyLevel(c, curve);
  if (v == 0) return {L::kBlack, L::kBlack, L::kBlack, L::kBlack};
  return {static_cast<uint8_t>(L::kGreyBase + v), dot(L::kM11Blue, v / 2), dot(L::kM11Red, v),
          dot(L::kM11Green, v)};
}

std::array<uint8_t, 3> dots3For(int method, const Rgb5& c, const Curve& curve) {
  if (method == 8) {
    Rgb5 k = curved(c, curve);
    return {dot(L::kRamp31Red, k.r), dot(L::kRamp31Green, k.g), dot(L::kRamp31Blue, k.b)};
  }
  // Method 12: grey through dots of the three primaries at the grey level.
  int v = greyLevel(c, curve);
  return {dot(L::kM12Red, v), dot(L::kM12Green, v), dot(L::kM12Blue, v)};
}

OutputTables buildOutputTables(int method, PixelKind kind, const Curve& curve) {
  OutputTables t;
  t.method = method;
  t.kind = kind;
  t.curve = curve;
  auto curvedColour = [&](const Rgb5& c) {
    Rgb5 k = curved(c, curve);
    return compose(k.r, k.g, k.b, kind);
  };
  switch (method) {
    case 0:
    case 1:
    case 2:
    case 3:
    case 6:
    case 13:
      t.colour = tabulate<uint16_t>(kind, curvedColour);
      break;
    case 4:
      t.colour = tabulate<uint16_t>(kind, curvedColour);
      t.spread = tabulate<uint32_t>(kind, [&](const Rgb5& c) {
        Rgb5 k = curved(c, curve);
        return static_cast<uint32_t>(k.r << 12 | k.g << 6 | k.b);
      });
      // Each component of a sum of two lies in 0..62; half of it is rounded half up, so the
      // average of a colour with itself is that colour.
      t.halfSum.resize(1 << 18);
      for (uint32_t s = 0; s < t.halfSum.size(); ++s) {
        int r = (((s >> 12) & 63) + 1) / 2, g = (((s >> 6) & 63) + 1) / 2, b = ((s & 63) + 1) / 2;
        t.halfSum[s] = compose(r > 31 ? 31 : r, g > 31 ? 31 : g, b > 31 ? 31 : b, kind);
      }
      break;
    case 5: {
      const ComponentMasks m = componentMasks(kind);
      t.pattern2 = tabulate<std::array<uint16_t, 4>>(kind, [&](const Rgb5& c) {
        uint16_t full = curvedColour(c);
        return std::array<uint16_t, 4>{static_cast<uint16_t>(full & m.r),
                                       static_cast<uint16_t>(full & m.g), full,
                                       static_cast<uint16_t>(full & m.b)};
      });
      break;
    }
    case 7:
    case 11:
      t.dots4 = tabulate<std::array<uint8_t, 4>>(
          kind, [&](const Rgb5& c) { return dots4For(method, c, curve); });
      break;
    case 8:
    case 12:
      t.dots3 = tabulate<std::array<uint8_t, 3>>(
          kind, [&](const Rgb5& c) { return dots3For(method, c, curve); });
      break;
    case 9:
    case 10:
      t.grey = tabulate<uint8_t>(kind, [&](const Rgb5& c) {
        return static_cast<uint8_t>(L::kGreyBase + greyLevel(c, curve));
      });
      break;
    case 14:
    case 15:
      t.yuv = tabulate<uint32_t>(kind, [&](const Rgb5& c) {
        Rgb5 k = curved(c, curve);
        Yuv y = yuvOf(k.r, k.g, k.b);
        return static_cast<uint32_t>(y.y | y.u << 8 | y.v << 16);
      });
      break;
    default:
      break;
  }
  return t;
}

}  // namespace zov

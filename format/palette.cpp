#include "format/palette.h"

#include "format/output_method.h"

namespace zov {
namespace {

constexpr uint8_t level(int v) {
  return static_cast<uint8_t>(4 * v + 1);
}

void put(Palette& p, int index, int r, int g, int b) {
  p[index] = PaletteEntry{level(b), level(g), level(r), 0};
}
void grey(Palette& p, int index, int v) {
  put(p, index, v, v, v);
}

constexpr std::array<uint8_t, 31> makeRedBlue() {
  std::array<uint8_t, 31> a{};
  int n = 0;
  for (int v : {2, 4, 8, 10}) a[n++] = static_cast<uint8_t>(v);
  for (int v = 14; v <= 60; v += 2) a[n++] = static_cast<uint8_t>(v);
  for (int v : {61, 62, 63}) a[n++] = static_cast<uint8_t>(v);
  return a;
}
constexpr std::array<uint8_t, 31> makeGreen() {
  std::array<uint8_t, 31> a{};
  int n = 0;
  for (int v : {1, 3, 5}) a[n++] = static_cast<uint8_t>(v);
  for (int v = 6; v <= 60; v += 2) a[n++] = static_cast<uint8_t>(v);
  return a;
}
constexpr auto kRedBlue7 = makeRedBlue();
constexpr auto kGreen7 = makeGreen();
static_assert(kRedBlue7[30] == 63 && kGreen7[30] == 60, "method 7 ramps hold 31 levels");

}  // namespace

const std::array<uint8_t, 31>& method7RedBlueLevels() {
  return kRedBlue7;
}
const std::array<uint8_t, 31>& method7GreenLevels() {
  return kGreen7;
}

const StaticColours& defaultStaticColours() {
  static const StaticColours colours = [] {
    // red, green, blue of the 20 static entries of a 256-colour display
    constexpr uint8_t rgb[20][3] = {
        {0, 0, 0},       {128, 0, 0},     {0, 128, 0},     {128, 128, 0},   {0, 0, 128},
        {128, 0, 128},   {0, 128, 128},   {192, 192, 192}, {192, 220, 192}, {166, 202, 240},
        {255, 251, 240}, {160, 160, 164}, {128, 128, 128}, {255, 0, 0},     {0, 255, 0},
        {255, 255, 0},   {0, 0, 255},     {255, 0, 255},   {0, 255, 255},   {255, 255, 255}};
    StaticColours c{};
    for (int i = 0; i < 20; ++i) c[i] = PaletteEntry{rgb[i][2], rgb[i][1], rgb[i][0], 0};
    return c;
  }();
  return colours;
}

Palette methodPalette(int method, const StaticColours& statics) {
  namespace L = palette_layout;
  Palette p{};
  for (int i = 0; i < 10; ++i) p[i] = statics[i];
  for (int i = 0; i < 10; ++i) p[246 + i] = statics[10 + i];
  switch (method) {
    case 7:
      grey(p, L::kBlack, 0);
      for (int i = 0; i < 31; ++i) {
        put(p, L::kRamp31Red + 1 + i, kRedBlue7[i], 0, 0);
        put(p, L::kRamp31Green + 1 + i, 0, kGreen7[i], 0);
        put(p, L::kRamp31Blue + 1 + i, 0, 0, kRedBlue7[i]);
      }
      break;
    case 8:
      grey(p, L::kBlack, 0);
      for (int i = 0; i < 31; ++i) {
        int v = 2 * (i + 1);
        put(p, L::kRamp31Red + 1 + i, v, 0, 0);
        put(p, L::kRamp31Green + 1 + i, 0, v, 0);
        put(p, L::kRamp31Blue + 1 + i, 0, 0, v);
      }
      break;
    case 9:
    case 10:
      for (int v = 0; v < 64; ++v) grey(p, L::kGreyBase + v, v);
      break;
    case 11:
      for (int v = 0; v < 64; ++v) grey(p, L::kGreyBase + v, v);
      for (int v = 1; v < 64; ++v) put(p, L::kM11Red + v, v, 0, 0);
      for (int v = 1; v < 64; ++v) put(p, L::kM11Green + v, 0, v, 0);
      for (int v = 1; v < 32; ++v) put(p, L::kM11Blue + v, 0, 0, v);
      break;
    case 12:
      grey(p, L::kBlack, 0);
      for (int v = 1; v < 64; ++v) {
        put(p, L::kM12Red + v, v, 0, 0);
        put(p, L::kM12Green + v, 0, v, 0);
        put(p, L::kM12Blue + v, 0, 0, v);
      }
      break;
    default:
      break;
  }
  if (method == 7 || method == 8) {
    grey(p, L::kFirstGreys, 20);
    grey(p, L::kFirstGreys + 1, 44);
    grey(p, L::kFirstGreys + 2, 63);
  } else if (method == 12) {
    grey(p, L::kM12Greys, 20);
    grey(p, L::kM12Greys + 1, 44);
    grey(p, L::kM12Greys + 2, 63);
  }
  return p;
}

}  // namespace zov

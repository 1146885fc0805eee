// Image filters: every neighbourhood routine against a slow per-pixel reference written straight
// from the filters' definitions, on random frames of several sizes, plus the cases where the
// definitions give exact, hand-checked results.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <vector>

#include "encoder/filters.h"

namespace zov {
namespace {

using Frame = std::vector<uint16_t>;

int comp(uint16_t v, int c) {
  return c == 0 ? v >> 10 & 31 : c == 1 ? v >> 5 & 31 : v & 31;
}
uint16_t rgb(int r, int g, int b) {
  return uint16_t(r << 10 | g << 5 | b);
}
uint16_t withComp(uint16_t v, int c, int value) {
  int r = comp(v, 0), g = comp(v, 1), b = comp(v, 2);
  (c == 0 ? r : c == 1 ? g : b) = value;
  return rgb(r, g, b);
}

// ---- Slow references ----

struct Window {
  int centre;
  std::vector<int> direct, diagonal;
  int count() const { return int(direct.size() + diagonal.size()); }
};

template <class Get>
Window windowAt(int w, int h, int x, int y, Get get) {
  Window win{get(x, y), {}, {}};
  for (int dy = -1; dy <= 1; ++dy) {
    for (int dx = -1; dx <= 1; ++dx) {
      int nx = x + dx, ny = y + dy;
      if ((dx == 0 && dy == 0) || nx < 0 || ny < 0 || nx >= w || ny >= h) continue;
      (dx == 0 || dy == 0 ? win.direct : win.diagonal).push_back(get(nx, ny));
    }
  }
  return win;
}

// Applies a per-component function of the window to every component of every pixel.
template <class F>
Frame perComponent(const Frame& in, int w, int h, F f) {
  Frame out(in.size());
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      uint16_t v = 0;
      for (int c = 0; c < 3; ++c) {
        Window win = windowAt(w, h, x, y, [&](int xx, int yy) { return comp(in[yy * w + xx], c); });
        v = withComp(v, c, f(win));
      }
      out[y * w + x] = v;
    }
  }
  return out;
}

struct LowPassRow {
  int divisor, centre, direct, diagonal, edgeCentre, cornerCentre;
};
constexpr LowPassRow kLowPass[4] = {
    {24, 16, 1, 1, 19, 21}, {20, 4, 3, 1, 9, 13}, {10, 2, 1, 1, 5, 7}, {9, 1, 1, 1, 4, 6}};

int lowPassOf(const Window& win, int level) {
  const LowPassRow& row = kLowPass[level - 1];
  int centre = win.count() == 8 ? row.centre : win.count() == 5 ? row.edgeCentre : row.cornerCentre;
  int sum = centre * win.centre;
  for (int v : win.direct) sum += row.direct * v;
  for (int v : win.diagonal) sum += row.diagonal * v;
  return sum / row.divisor;
}

Frame refLowPass(const Frame& in, int w, int h, int level) {
  return perComponent(in, w, h, [&](const Window& win) { return lowPassOf(win, level); });
}

Frame refMedian(const Frame& in, int w, int h) {
  return perComponent(in, w, h, [](const Window& win) {
    if (win.count() == 3) return win.centre;
    std::vector<int> v(win.direct);
    v.insert(v.end(), win.diagonal.begin(), win.diagonal.end());
    v.push_back(win.centre);
    while (v.size() < 9) v.push_back(win.centre);
    std::sort(v.begin(), v.end());
    return v[4];
  });
}

Frame refFlatten(const Frame& in, int w, int h, int level) {
  return perComponent(in, w, h, [&](const Window& win) {
    int sum = 0;
    for (const auto* list : {&win.direct, &win.diagonal}) {
      for (int v : *list) {
        if (std::abs(v - win.centre) > 2 * level) return win.centre;
        sum += v;
      }
    }
    return sum / win.count();
  });
}

int sumOf(uint16_t v) {
  return comp(v, 0) + comp(v, 1) + comp(v, 2);
}
uint16_t shifted(uint16_t v, int step) {
  return rgb(std::clamp(comp(v, 0) + step, 0, 31), std::clamp(comp(v, 1) + step, 0, 31),
             std::clamp(comp(v, 2) + step, 0, 31));
}

Frame refInvertedLowPass(const Frame& in, int w, int h, int level) {
  Frame out(in);
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      Window win = windowAt(w, h, x, y, [&](int xx, int yy) { return sumOf(in[yy * w + xx]); });
      int s = win.centre, l = lowPassOf(win, level);
      int d = std::abs(s - l) / 3;
      if (d == 0) continue;
      out[y * w + x] = shifted(in[y * w + x], l < s ? d : -d);
    }
  }
  return out;
}

Frame refHighPass(const Frame& in, int w, int h) {
  Frame out(in);
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      Window win = windowAt(w, h, x, y, [&](int xx, int yy) { return sumOf(in[yy * w + xx]); });
      int k = win.count() == 8 ? 20 : win.count() == 5 ? 17 : 15;
      int sum = 0;
      for (int v : win.direct) sum += v;
      for (int v : win.diagonal) sum += v;
      int hp = (k * win.centre - sum) / 12;
      if (hp >= 124) {
        out[y * w + x] = 0x7FFF;
        continue;
      }
      int d = std::abs(hp - win.centre) / 3;
      if (d == 0) continue;
      out[y * w + x] = shifted(in[y * w + x], hp > win.centre ? d : -d);
    }
  }
  return out;
}

int refClass(uint16_t v) {
  return (19 * comp(v, 0) + 70 * comp(v, 1) + 11 * comp(v, 2)) / 50;
}

Frame refRip(const Frame& in, int w, int h) {
  Frame out(in);
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      std::vector<uint16_t> direct, diagonal;
      for (int dy = -1; dy <= 1; ++dy) {
        for (int dx = -1; dx <= 1; ++dx) {
          int nx = x + dx, ny = y + dy;
          if ((dx == 0 && dy == 0) || nx < 0 || ny < 0 || nx >= w || ny >= h) continue;
          (dx == 0 || dy == 0 ? direct : diagonal).push_back(in[ny * w + nx]);
        }
      }
      int c = refClass(direct[0]);
      bool same =
          std::all_of(direct.begin(), direct.end(), [&](uint16_t v) { return refClass(v) == c; });
      int differing = int(std::count_if(diagonal.begin(), diagonal.end(),
                                        [&](uint16_t v) { return refClass(v) != c; }));
      bool apply = same && (direct.size() == 2 || (direct.size() == 3 && differing < 2) ||
                            (direct.size() == 4 && differing <= 1));
      if (!apply) continue;
      int n = int(direct.size()), r = 0, g = 0, b = 0;
      for (uint16_t v : direct) r += comp(v, 0), g += comp(v, 1), b += comp(v, 2);
      out[y * w + x] = rgb(r / n, g / n, b / n);
    }
  }
  return out;
}

// ---- Frames ----

Frame randomFrame(int w, int h, uint32_t seed) {
  std::mt19937 rng(seed);
  Frame f(size_t(w) * h);
  for (auto& v : f) v = uint16_t(rng() & 0x7FFF);
  return f;
}

// Gentle variation around a few base colours, so that the threshold and same-class branches of
// flatten and rip are taken often.
Frame patchyFrame(int w, int h, uint32_t seed) {
  std::mt19937 rng(seed);
  const uint16_t bases[3] = {rgb(10, 12, 9), rgb(20, 22, 18), rgb(3, 4, 30)};
  Frame f(size_t(w) * h);
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      uint16_t base = bases[((x / 4) + (y / 3)) % 3];
      if (rng() % 7 == 0) base = bases[rng() % 3];  // isolated specks
      int jitter = int(rng() % 3) - 1;
      f[y * w + x] = shifted(base, jitter * int(rng() % 2));
    }
  }
  return f;
}

struct Size {
  int w, h;
};
const Size kSizes[] = {{3, 3}, {4, 3}, {3, 5}, {7, 5}, {33, 17}, {80, 60}};

template <class Run, class Ref>
void expectMatchesReference(const char* name, Run run, Ref ref) {
  uint32_t seed = 1;
  for (Size s : kSizes) {
    for (int variant = 0; variant < 2; ++variant, ++seed) {
      Frame in = variant ? patchyFrame(s.w, s.h, seed) : randomFrame(s.w, s.h, seed);
      Frame got(in);
      std::vector<uint8_t> work(filterWorkBufferSize(s.w, s.h));
      run(got.data(), work.data(), s.w, s.h);
      Frame want = ref(in, s.w, s.h);
      for (size_t i = 0; i < in.size(); ++i) {
        ASSERT_EQ(got[i], want[i])
            << name << " on " << s.w << "x" << s.h << " frame " << (variant ? "patchy" : "random")
            << ", pixel (" << i % s.w << "," << i / s.w << ")";
      }
    }
  }
}

TEST(FilterRoutines, LowPassMatchesReferenceAtEveryLevel) {
  for (int level = 1; level <= 4; ++level) {
    expectMatchesReference(
        "low-pass",
        [&](uint16_t* p, uint8_t* work, int w, int h) { filterLowPass(p, work, w, h, level); },
        [&](const Frame& in, int w, int h) { return refLowPass(in, w, h, level); });
  }
}

TEST(FilterRoutines, InvertedLowPassMatchesReferenceAtEveryLevel) {
  for (int level = 1; level <= 4; ++level) {
    expectMatchesReference(
        "inverted low-pass",
        [&](uint16_t* p, uint8_t* work, int w, int h) {
          filterInvertedLowPass(p, work, w, h, level);
        },
        [&](const Frame& in, int w, int h) { return refInvertedLowPass(in, w, h, level); });
  }
}

TEST(FilterRoutines, HighPassMatchesReference) {
  expectMatchesReference("high-pass", filterHighPass, refHighPass);
}

TEST(FilterRoutines, MedianMatchesReference) {
  expectMatchesReference("median", filterMedian, refMedian);
}

TEST(FilterRoutines, FlattenMatchesReferenceAtEveryLevel) {
  for (int level = 1; level <= 5; ++level) {
    expectMatchesReference(
        "flatten",
        [&](uint16_t* p, uint8_t* work, int w, int h) { filterFlatten(p, work, w, h, level); },
        [&](const Frame& in, int w, int h) { return refFlatten(in, w, h, level); });
  }
}

TEST(FilterRoutines, RipMatchesReference) {
  expectMatchesReference("rip", filterRip, refRip);
  for (int v = 0; v < 32768; v += 97) EXPECT_EQ(ripClass(uint16_t(v)), refClass(uint16_t(v)));
}

// ---- Exact cases ----

Frame uniform(int w, int h, uint16_t v) {
  return Frame(size_t(w) * h, v);
}

TEST(FilterRoutines, UniformFrameIsUnchangedByNeighbourhoodFilters) {
  const int w = 16, h = 9;
  std::vector<uint8_t> work(filterWorkBufferSize(w, h));
  for (uint16_t colour : {rgb(0, 0, 0), rgb(13, 27, 4), rgb(31, 31, 31)}) {
    for (FilterEntry e : std::vector<FilterEntry>{{0, 1},
                                                  {0, 2},
                                                  {0, 3},
                                                  {0, 4},
                                                  {1, 1},
                                                  {2, 1},
                                                  {3, 1},
                                                  {3, 2},
                                                  {3, 3},
                                                  {3, 4},
                                                  {4, 1},
                                                  {4, 5},
                                                  {5, 1}}) {
      Frame f = uniform(w, h, colour);
      ASSERT_TRUE(runFilter(e, f.data(), work.data(), w, h));
      EXPECT_EQ(f, uniform(w, h, colour)) << "kind " << e.kind << " level " << e.level;
    }
  }
}

TEST(FilterRoutines, LowPassLevel4SpreadsOneNinthOfALonePixel) {
  const int w = 7, h = 7;
  Frame f = uniform(w, h, 0);
  f[3 * w + 3] = rgb(27, 18, 9);
  std::vector<uint8_t> work(filterWorkBufferSize(w, h));
  filterLowPass(f.data(), work.data(), w, h, 4);
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      bool near = std::abs(x - 3) <= 1 && std::abs(y - 3) <= 1;
      EXPECT_EQ(f[y * w + x], near ? rgb(3, 2, 1) : 0) << x << "," << y;
    }
  }
}

TEST(FilterRoutines, HighPassTurnsAStrongPeakWhite) {
  const int w = 5, h = 5;
  Frame f = uniform(w, h, 0);
  f[2 * w + 2] = rgb(31, 31, 20);  // S = 82, H = 20 * 82 / 12 = 136
  std::vector<uint8_t> work(filterWorkBufferSize(w, h));
  filterHighPass(f.data(), work.data(), w, h);
  EXPECT_EQ(f[2 * w + 2], 0x7FFF);
  // A dark neighbour sees a negative H and stays black.
  EXPECT_EQ(f[2 * w + 1], 0);
}

TEST(FilterRoutines, FlattenSmoothsGentleAreasAndKeepsSharpEdges) {
  const int w = 8, h = 6;
  Frame f(size_t(w) * h);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x)
      f[y * w + x] = x < 4 ? rgb(10 + (x + y) % 2, 10, 10) : rgb(25, 10, 10);
  Frame in = f;
  std::vector<uint8_t> work(filterWorkBufferSize(w, h));
  filterFlatten(f.data(), work.data(), w, h, 1);
  // Columns 3 and 4 face a jump of 14 levels of red: they stay.
  for (int y = 0; y < h; ++y) {
    EXPECT_EQ(f[y * w + 3], in[y * w + 3]);
    EXPECT_EQ(f[y * w + 4], in[y * w + 4]);
  }
  // An inner pixel of the gentle area becomes the average of its neighbours: at (1,1) (red 10)
  // the neighbours hold four 11s and four 10s, so 84 / 8 = 10; at (2,1) (red 11) 80 / 8 = 10.
  EXPECT_EQ(comp(f[1 * w + 1], 0), 10);
  EXPECT_EQ(comp(f[1 * w + 2], 0), 10);
}

TEST(FilterRoutines, RipReplacesAnIsolatedSpeck) {
  const int w = 5, h = 5;
  Frame f = uniform(w, h, rgb(8, 8, 8));
  f[2 * w + 2] = rgb(31, 0, 31);
  std::vector<uint8_t> work(filterWorkBufferSize(w, h));
  filterRip(f.data(), work.data(), w, h);
  EXPECT_EQ(f, uniform(w, h, rgb(8, 8, 8)));
}

// ---- Lighting ----

TEST(FilterLighting, BrightnessAndContrastEndPoints) {
  Frame f;
  for (int v = 0; v < 32; ++v) f.push_back(rgb(v, v, v));
  Frame b = f;
  filterBrightness(b.data(), int(b.size()), 15);
  for (int v = 0; v < 32; ++v) EXPECT_EQ(comp(b[v], 1), v >= 16 ? 31 : v + 15);
  filterBrightness(b.data(), int(b.size()), -15);  // clamped values do not come back
  EXPECT_EQ(comp(b[31], 2), 16);

  Frame c = f;
  filterContrast(c.data(), int(c.size()), -200);  // halves the distance from 15
  EXPECT_EQ(comp(c[31], 0), 23);
  EXPECT_EQ(comp(c[0], 0), 8);  // trunc(-7.5) = -7
  EXPECT_EQ(comp(c[15], 0), 15);
  Frame c2 = f;
  filterContrast(c2.data(), int(c2.size()), 300);
  EXPECT_EQ(comp(c2[20], 0), 30);
  EXPECT_EQ(comp(c2[21], 0), 31);
  EXPECT_EQ(comp(c2[9], 0), 0);
}

TEST(FilterLighting, GammaTables) {
  uint8_t t[32];
  gammaTable(105, t);
  EXPECT_EQ(t[0], 0);
  EXPECT_EQ(t[31], 31);
  gammaTable(200, t);
  EXPECT_EQ(t[8], 16);  // 32 * sqrt(8/32) + 0.5
  gammaTable(-200, t);
  EXPECT_EQ(t[0], 0);
  EXPECT_EQ(t[24], 16);  // 32.5 - 32 * sqrt(8/32)
  for (int level : {-300, -105, 105, 300}) {
    gammaTable(level, t);
    for (int v = 1; v < 32; ++v) EXPECT_GE(t[v], t[v - 1]) << level;
    EXPECT_LE(t[31], 31);
  }
}

TEST(FilterLighting, GammaFollowsALevelChange) {
  Frame ramp;
  for (int v = 0; v < 32; ++v) ramp.push_back(rgb(v, 31 - v, v / 2));
  for (int level : {200, 150, 200, -150}) {
    uint8_t t[32];
    gammaTable(level, t);
    Frame f = ramp;
    filterGamma(f.data(), int(f.size()), level);
    for (int v = 0; v < 32; ++v) {
      ASSERT_EQ(f[v], rgb(t[v], t[31 - v], t[v / 2])) << "level " << level;
    }
  }
}

// ---- The routine table and lists ----

TEST(FilterList, RoutinesAreChosenByKindAndLevel) {
  EXPECT_NE(filterRoutine(0, 1), filterRoutine(0, 4));
  EXPECT_NE(filterRoutine(3, 2), filterRoutine(3, 3));
  EXPECT_EQ(filterRoutine(4, 1), filterRoutine(4, 5));  // one routine taking the level
  EXPECT_EQ(filterRoutine(0, 5), nullptr);
  EXPECT_EQ(filterRoutine(1, 2), nullptr);
  EXPECT_EQ(filterRoutine(9, 1), nullptr);
  EXPECT_EQ(filterRoutine(-1, 1), nullptr);
  EXPECT_EQ(filterRoutine(7, 16), nullptr);
}

TEST(FilterList, EntriesRunInListOrder) {
  const int w = 6, h = 4;
  Frame in = randomFrame(w, h, 99);
  std::vector<uint8_t> work(filterWorkBufferSize(w, h));
  std::vector<FilterEntry> list = {{7, 5}, {8, 200}, {3, 2}};
  Frame got = in;
  runFilterList(list, got.data(), work.data(), w, h);
  Frame want = in;
  filterBrightness(want.data(), w * h, 5);
  filterContrast(want.data(), w * h, 200);
  want = refLowPass(want, w, h, 2);
  EXPECT_EQ(got, want);
}

TEST(FilterList, TinyFramesAreLeftAlone) {
  for (Size s : {Size{1, 1}, Size{2, 7}, Size{9, 2}}) {
    Frame in = randomFrame(s.w, s.h, 5);
    std::vector<uint8_t> work(filterWorkBufferSize(s.w, s.h));
    for (int kind = 0; kind <= 5; ++kind) {
      Frame f = in;
      runFilter({kind, 1}, f.data(), work.data(), s.w, s.h);
      EXPECT_EQ(f, in) << "kind " << kind;
    }
  }
}

TEST(FilterList, DegenerateLightingLevelsChangeNothing) {
  // A settings file may hold 0 for gamma or contrast: that has no exponent or factor.
  Frame in = randomFrame(8, 8, 3), f = in;
  filterGamma(f.data(), 64, 0);
  filterContrast(f.data(), 64, 0);
  EXPECT_EQ(f, in);
}

}  // namespace
}  // namespace zov

// The writers of every method against each other: changed-block writes over the previous
// output equal full writes, fast versions equal the reference, destinations are never written
// outside their lines, and top-down output mirrors bottom-up output.
#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "format/output_stage.h"
#include "format/output_writers.h"

namespace zov {
namespace {

constexpr uint8_t kCanary = 0xCD;

struct Case {
  int method;
  OutputLayout layout;
  PixelKind kind;
  bool topDown;
  ptrdiff_t extraPitch;
  Curve curve;
};

std::string describe(const Case& c) {
  const OutputLayout& l = c.layout;
  return "method " + std::to_string(c.method) + " " + std::to_string(l.width) + "x" +
         std::to_string(l.height) + (l.wField ? " WField" : "") + (l.sField ? " SField" : "") +
         " margins " + std::to_string(l.marginBottom) + "/" + std::to_string(l.marginTop) +
         (c.kind == PixelKind::Rgb565 ? " 565" : " 555") + (c.topDown ? " top-down" : "") +
         " pitch+" + std::to_string(c.extraPitch) + (c.curve.neutral ? "" : " curved");
}

Case randomCase(std::mt19937& rng, int method) {
  auto pick = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
  Case c;
  c.method = method;
  OutputLayout& l = c.layout;
  // Mostly small pictures; now and then a wide one, so that runs of up to 255 and several
  // runs per letterbox row occur.
  const bool wide = pick(0, 9) == 0;
  l.width = wide ? pick(250, kMaxWidth) : pick(1, 37);
  l.height = wide ? pick(1, 6) : pick(1, 19);
  if (method == 1 && pick(0, 2) == 0)
    l.sField = true;
  else if (method == 2 || (methodAllowed(method, stream_flag::kWField) && pick(0, 2) == 0))
    l.wField = true;
  if (pick(0, 1) && l.height > 2) {
    l.marginBottom = pick(0, (l.height - 1) / 2);
    l.marginTop = pick(0, (l.height - 1) / 2);
  }
  c.kind = pick(0, 1) ? PixelKind::Rgb565 : PixelKind::Rgb555;
  c.topDown = pick(0, 1);
  c.extraPitch = pick(0, 1) ? pick(1, 9) : 0;
  c.curve = pick(0, 2) == 0 ? makeCurve(pick(0, 80), pick(-8, 8)) : makeCurve(40, 0);
  return c;
}

uint16_t randomPixel(std::mt19937& rng, PixelKind kind) {
  uint16_t v = static_cast<uint16_t>(rng() & 0x7FFF);
  return kind == PixelKind::Rgb565 ? to565(v) : v;
}

// A map of runs as the decoder leaves it: widths at run starts, each run within its row; the
// letterbox rows are runs of 255 and a shorter last one.
std::vector<uint8_t> randomMap(std::mt19937& rng, const OutputLayout& l, int density) {
  std::vector<uint8_t> map(static_cast<size_t>(l.width) * l.height, 0);
  for (int row = 0; row < l.height; ++row) {
    uint8_t* m = map.data() + static_cast<size_t>(row) * l.width;
    if (row < l.marginBottom || row >= l.height - l.marginTop) {
      for (int x = 0; x < l.width; x += 255)
        m[x] = static_cast<uint8_t>(std::min(255, l.width - x));
      continue;
    }
    int x = 0;
    while (x < l.width) {
      if (static_cast<int>(rng() % 100) < density) {
        int n = 1 + static_cast<int>(rng() % std::min(255, l.width - x));
        m[x] = static_cast<uint8_t>(n);
        x += n;
      } else {
        x += 1 + static_cast<int>(rng() % 3);
      }
    }
  }
  return map;
}

// Marks every pixel inside a run of the map.
std::vector<bool> coveredBy(const std::vector<uint8_t>& map, const OutputLayout& l) {
  std::vector<bool> covered(map.size(), false);
  for (int row = 0; row < l.height; ++row)
    for (int x = 0; x < l.width;) {
      size_t i = static_cast<size_t>(row) * l.width + x;
      if (!map[i]) {
        ++x;
        continue;
      }
      for (int k = 0; k < map[i] && x < l.width; ++k, ++x) covered[i + k] = true;
    }
  return covered;
}

struct Dest {
  std::vector<uint8_t> bytes;
  explicit Dest(const OutputGeometry& g, uint8_t fill = kCanary) : bytes(g.requiredBytes(), fill) {}
};

// Bytes of a destination that lie in the padding between lines must keep the canary.
void expectPaddingUntouched(const OutputGeometry& g, const Dest& d, const std::string& what) {
  for (int line = 0; line + 1 < g.destHeight; ++line)
    for (ptrdiff_t k = static_cast<ptrdiff_t>(g.lineBytes()); k < g.pitch; ++k)
      ASSERT_EQ(d.bytes[line * g.pitch + k], kCanary) << what << " wrote padding of line " << line;
}

void expectWrittenLinesOnly(const OutputGeometry& g, const Dest& d, const std::string& what) {
  for (int line = 0; line < g.marginLinesLow; ++line)
    ASSERT_EQ(d.bytes[line * g.pitch], kCanary) << what << " wrote margin line " << line;
  for (int line = g.destHeight - g.marginLinesHigh; line < g.destHeight; ++line)
    ASSERT_EQ(d.bytes[line * g.pitch], kCanary) << what << " wrote margin line " << line;
}

TEST(OutputWriters, ChangedBlocksOverThePreviousOutputEqualAFullWrite) {
  std::mt19937 rng(1234);
  for (int method = 0; method < kOutputMethods; ++method) {
    for (int trial = 0; trial < 60; ++trial) {
      Case c = randomCase(rng, method);
      const std::string what = describe(c);
      OutputStage stage;
      ASSERT_TRUE(stage.setup(
          method, c.layout, c.kind, c.topDown,
          dibPitch(outputWidth(method, c.layout), methodBitCount(method) / 8) + c.extraPitch,
          c.curve))
          << what;
      const OutputGeometry& g = stage.geometry();
      const size_t n = static_cast<size_t>(c.layout.width) * c.layout.height;

      std::vector<uint16_t> before(n), after(n);
      for (auto& p : before) p = randomPixel(rng, c.kind);
      std::vector<uint8_t> map = randomMap(rng, c.layout, 10 + trial);
      std::vector<bool> covered = coveredBy(map, c.layout);
      for (size_t i = 0; i < n; ++i) after[i] = covered[i] ? before[i] : randomPixel(rng, c.kind);
      std::vector<uint8_t> blocks = map, entropy(n, 0);

      Dest incremental(g), full(g);
      stage.writeFullFrame({before.data(), nullptr, blocks.data(), entropy.data()},
                           incremental.bytes.data());
      stage.writeChangedBlocks({after.data(), map.data(), blocks.data(), entropy.data()},
                               incremental.bytes.data());
      stage.writeFullFrame({after.data(), map.data(), blocks.data(), entropy.data()},
                           full.bytes.data());
      ASSERT_EQ(incremental.bytes, full.bytes) << what;
      expectPaddingUntouched(g, full, what);
      expectWrittenLinesOnly(g, full, what);
    }
  }
}

TEST(OutputWriters, ChangedBlocksSkipUnchangedRuns) {
  // A changed-block write must leave the destination of an unchanged run alone, whatever the
  // picture holds there (methods 0 and 1 with a neutral curve write whole frames instead).
  std::mt19937 rng(99);
  for (int method : {3, 5, 6, 7, 8, 9, 10, 11, 12}) {
    OutputLayout l{16, 4};
    OutputStage stage;
    ASSERT_TRUE(stage.setup(method, l, PixelKind::Rgb555, false, 0, makeCurve(40, 0)));
    std::vector<uint16_t> pic(64);
    for (auto& p : pic) p = randomPixel(rng, PixelKind::Rgb555);
    std::vector<uint8_t> map(64, 0);
    for (int row = 0; row < 4; ++row) map[row * 16] = 16;
    Dest d(stage.geometry());
    stage.writeChangedBlocks({pic.data(), map.data()}, d.bytes.data());
    for (uint8_t b : d.bytes) ASSERT_EQ(b, kCanary) << "method " << method;
  }
}

TEST(OutputWriters, ArbitraryMapBytesStayInsideTheDestination) {
  // Maps from a damaged frame may hold any bytes, runs that cross the row end included; the
  // writers must still write only the destination's lines (checked under the sanitizers with
  // exact-size buffers).
  std::mt19937 rng(4242);
  for (int method = 0; method < kOutputMethods; ++method) {
    for (int trial = 0; trial < 15; ++trial) {
      Case c = randomCase(rng, method);
      OutputStage stage;
      ASSERT_TRUE(stage.setup(method, c.layout, c.kind, c.topDown, 0, c.curve));
      const size_t n = static_cast<size_t>(c.layout.width) * c.layout.height;
      std::vector<uint16_t> pic(n);
      for (auto& p : pic) p = static_cast<uint16_t>(rng());  // bit 15 and stray 5-6-5 bits too
      std::vector<uint8_t> unchanged(n), blocks(n), entropy(n);
      for (size_t i = 0; i < n; ++i) {
        unchanged[i] = rng() % 4 == 0 ? static_cast<uint8_t>(rng()) : 0;
        blocks[i] = static_cast<uint8_t>(rng());
        entropy[i] = static_cast<uint8_t>(rng());
      }
      Dest d(stage.geometry());
      OutputPictures in{pic.data(), unchanged.data(), blocks.data(), entropy.data()};
      stage.writeChangedBlocks(in, d.bytes.data());
      stage.writeFullFrame(in, d.bytes.data());
      expectPaddingUntouched(stage.geometry(), d, describe(c));
    }
  }
}

TEST(OutputWriters, FastWritersEqualTheReference) {
  std::mt19937 rng(77);
  for (int method = 0; method < kOutputMethods; ++method) {
    for (int trial = 0; trial < 20; ++trial) {
      Case c = randomCase(rng, method);
      auto g = computeOutputGeometry(method, c.layout, c.topDown);
      ASSERT_TRUE(g);
      OutputTables t = buildOutputTables(method, c.kind, c.curve);
      const size_t n = static_cast<size_t>(c.layout.width) * c.layout.height;
      std::vector<uint16_t> pic(n);
      for (auto& p : pic) p = randomPixel(rng, c.kind);
      std::vector<uint8_t> map = randomMap(rng, c.layout, 30);
      Dest ref(*g), fast(*g);
      OutputFrame f{&*g, &t, pic.data(), map.data(), map.data(), nullptr, ref.bytes.data()};
      referenceWriters(method).writeChangedBlocks(f);
      f.dest = fast.bytes.data();
      methodWriters(method).writeChangedBlocks(f);
      ASSERT_EQ(ref.bytes, fast.bytes) << describe(c) << " changed blocks";
      f.dest = ref.bytes.data();
      referenceWriters(method).writeFullFrame(f);
      f.dest = fast.bytes.data();
      methodWriters(method).writeFullFrame(f);
      ASSERT_EQ(ref.bytes, fast.bytes) << describe(c) << " full frame";
    }
  }
}

TEST(OutputWriters, TopDownOutputMirrorsBottomUpOutput) {
  // Methods whose blocks are symmetric or one line high show the same image either way; the
  // pattern methods place their block lines by address and are not compared.
  std::mt19937 rng(5);
  for (int method : {0, 1, 2, 3, 4, 9, 10, 13, 14, 15}) {
    for (int trial = 0; trial < 20; ++trial) {
      Case c = randomCase(rng, method);
      OutputStage up, down;
      ASSERT_TRUE(up.setup(method, c.layout, c.kind, false, 0, c.curve));
      ASSERT_TRUE(down.setup(method, c.layout, c.kind, true, 0, c.curve));
      const size_t n = static_cast<size_t>(c.layout.width) * c.layout.height;
      std::vector<uint16_t> pic(n);
      for (auto& p : pic) p = randomPixel(rng, c.kind);
      const OutputGeometry& g = up.geometry();
      Dest a(g), b(down.geometry());
      up.writeFullFrame({pic.data()}, a.bytes.data());
      down.writeFullFrame({pic.data()}, b.bytes.data());
      for (int line = 0; line < g.destHeight; ++line)
        ASSERT_TRUE(std::equal(a.bytes.begin() + line * g.pitch,
                               a.bytes.begin() + line * g.pitch + g.lineBytes(),
                               b.bytes.begin() + (g.destHeight - 1 - line) * g.pitch))
            << describe(c) << " line " << line;
    }
  }
}

TEST(OutputWriters, GeometryOfTheLineMethods) {
  OutputLayout l{8, 6};
  auto g1 = computeOutputGeometry(1, l, false);
  ASSERT_TRUE(g1);
  EXPECT_EQ(g1->destHeight, 6);
  EXPECT_EQ(g1->rows, 3) << "only the odd rows are written";
  EXPECT_EQ(g1->srcFirst, 8);
  EXPECT_EQ(g1->firstPixelOffset, g1->pitch);

  l.wField = true;
  auto g2 = computeOutputGeometry(2, l, false);
  ASSERT_TRUE(g2);
  EXPECT_EQ(g2->destHeight, 12);
  EXPECT_EQ(g2->rows, 6);
  EXPECT_EQ(g2->dstStep, 2 * g2->pitch);
  auto g0 = computeOutputGeometry(0, l, false);
  EXPECT_EQ(g0->linesPerRow, 2) << "doubled fields repeat each row";
  EXPECT_FALSE(computeOutputGeometry(3, l, false)) << "no enlargement of WField streams";

  OutputLayout boxed{10, 20};
  boxed.marginBottom = 3;
  boxed.marginTop = 5;
  auto gb = computeOutputGeometry(6, boxed, false);
  EXPECT_EQ(gb->marginLinesLow, 9);
  EXPECT_EQ(gb->marginLinesHigh, 15);
  EXPECT_EQ(gb->firstPixelOffset, 9 * gb->pitch);
  auto gt = computeOutputGeometry(6, boxed, true);
  EXPECT_EQ(gt->marginLinesLow, 15);
  EXPECT_EQ(gt->srcFirst, (20 - 5 - 1) * 10) << "top-down starts at the last active row";
  EXPECT_EQ(gt->srcStep, -10);

  boxed.marginTop = 17;
  EXPECT_FALSE(computeOutputGeometry(0, boxed, false)) << "no active rows";
  EXPECT_FALSE(computeOutputGeometry(0, l, false, 10)) << "pitch shorter than a line";
}

TEST(OutputWriters, ClearingFillsExactlyTheLinesNoWriterTouches) {
  std::mt19937 rng(8);
  for (int method : {1, 2, 4, 14, 15, 0}) {
    for (int trial = 0; trial < 20; ++trial) {
      Case c = randomCase(rng, method);
      if (method == 14 || method == 15 || method == 0)
        c.layout.marginBottom = 2, c.layout.height += 2;
      OutputStage s;
      ASSERT_TRUE(s.setup(method, c.layout, c.kind, c.topDown, 0, c.curve));
      const OutputGeometry& g = s.geometry();
      const size_t n = static_cast<size_t>(c.layout.width) * c.layout.height;
      std::vector<uint16_t> pic(n);
      for (auto& p : pic) p = randomPixel(rng, c.kind);
      // Written with two different initial fills, every byte of every line must end the same.
      Dest d(g), e(g, 0x3A);
      for (Dest* x : {&d, &e}) {
        s.writeFullFrame({pic.data()}, x->bytes.data());
        s.clearMargins(x->bytes.data());
        s.clearUnwrittenLines(x->bytes.data());
      }
      for (int line = 0; line < g.destHeight; ++line)
        for (size_t k = 0; k < g.lineBytes(); ++k)
          ASSERT_EQ(d.bytes[line * g.pitch + k], e.bytes[line * g.pitch + k])
              << describe(c) << " line " << line;
      if (method == 14 && g.marginLinesLow > 0) {
        EXPECT_EQ(d.bytes[0], 0);
        EXPECT_EQ(d.bytes[1], 0x80);
      }
    }
  }
}

}  // namespace
}  // namespace zov

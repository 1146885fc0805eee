// The encoder's building blocks: the nearest-colour rule, the delta quantiser in both edge
// modes, the Huffman code and its table width, and the limit of 255 entries per size class and
// segment.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "encoder/colour_quantiser.h"
#include "encoder/delta_quantiser.h"
#include "encoder/huffman_code.h"
#include "encoder/worker_pool.h"
#include "encoder/zeroed_buffer.h"
#include "support/encoder_harness.h"

namespace zov {
namespace {

struct Collect {
  std::vector<uint8_t> s;
  void put(uint8_t v) { s.push_back(v); }
};

TEST(NearestColour, MultiplesOfEightKeepTheirTopBits) {
  EXPECT_EQ(nearestColour(8, 16, 248), 1 << 10 | 2 << 5 | 31);
  EXPECT_EQ(nearestColour(0, 0, 0), 0);
}

TEST(NearestColour, EachComponentTakesTheNearestLevelFirstFoundOnTies) {
  EXPECT_EQ(nearestColour(3, 3, 3), 0) << "0 is nearer than 8";
  EXPECT_EQ(nearestColour(5, 5, 5), 1 << 10 | 1 << 5 | 1);
  EXPECT_EQ(nearestColour(4, 4, 4), 0) << "a tie keeps the level below";
  EXPECT_EQ(nearestColour(12, 0, 0), 1 << 10) << "12 lies between 8 and 16: the level below";
  EXPECT_EQ(nearestColour(255, 254, 253), 31 << 10 | 31 << 5 | 31) << "no level above 248";
  EXPECT_EQ(nearestColour(9, 255, 1), 1 << 10 | 31 << 5);
}

TEST(NearestColour, AgreesWithAnExhaustiveSearchOverTheThreeLevels) {
  std::mt19937 rng(3);
  for (int n = 0; n < 2000; ++n) {
    int c[3] = {int(rng() % 256), int(rng() % 256), int(rng() % 256)};
    uint16_t got = nearestColour(c[0], c[1], c[2]);
    for (int k = 0; k < 3; ++k) {
      int best = 0;
      for (int level = 8; level <= 248; level += 8)
        if (std::abs(level - c[k]) < std::abs(best - c[k])) best = level;
      EXPECT_EQ((got >> (10 - 5 * k) & 31) * 8, best)
          << "component " << k << " of " << c[0] << "," << c[1] << "," << c[2];
    }
  }
}

TEST(DeltaQuantiser, DoublingApproachesALargeStepOverSeveralPixels) {
  Collect out;
  bool doubled = false;
  int v = quantiseDoubling(30, 0, false, 0, doubled, out);
  EXPECT_EQ(v, 7);
  EXPECT_TRUE(doubled);
  v = quantiseDoubling(30, v, false, 0, doubled, out);
  EXPECT_EQ(v, 21);
  EXPECT_TRUE(doubled);
  v = quantiseDoubling(30, v, false, 0, doubled, out);
  EXPECT_EQ(v, 29) << "half of the remaining 9, doubled";
  EXPECT_FALSE(doubled);
  EXPECT_EQ(out.s, (std::vector<uint8_t>{14, 14, 11}));
}

TEST(DeltaQuantiser, DoublingAnticipatesAComingEdge) {
  Collect out;
  bool doubled = false;
  EXPECT_EQ(quantiseDoubling(2, 0, true, 20, doubled, out), 7);
  EXPECT_TRUE(doubled);
}

TEST(DeltaQuantiser, ExtendedRangeSendsExtremeSymbolsThenOneOrdinary) {
  Collect out;
  EXPECT_EQ(quantiseExtended(30, 0, true, out), 29) << "an odd excess is lowered by one";
  EXPECT_EQ(out.s, (std::vector<uint8_t>{14, 14, 11}));
  out.s.clear();
  EXPECT_EQ(quantiseExtended(1, 31, true, out), 2) << "mirrored: an odd excess is raised by one";
  EXPECT_EQ(out.s, (std::vector<uint8_t>{0, 0, 3}));
  out.s.clear();
  EXPECT_EQ(quantiseExtended(30, 0, false, out), 6) << "without the extended code: one symbol";
  EXPECT_EQ(out.s, (std::vector<uint8_t>{13}));
}

TEST(HuffmanCode, TiesTakeTheLeafFirstAndTheShapeIsWrittenOneBranchFirst) {
  uint32_t counts[16] = {};
  counts[3] = 1;
  counts[5] = 1;
  counts[9] = 2;
  HuffmanCode c;
  buildHuffmanCode(counts, c);
  // Leaves 3, 5 merge first; then leaf 9 (weight 2) goes before the node of equal weight.
  EXPECT_EQ(c.length[9], 1);
  EXPECT_EQ(c.code[9], 1u);
  EXPECT_EQ(c.code[3], 1u);  // 01
  EXPECT_EQ(c.length[3], 2);
  EXPECT_EQ(c.code[5], 0u);  // 00
  EXPECT_EQ(c.shapeLength, 5);
  EXPECT_EQ(c.shapeBits, 0b10100u);
  ASSERT_EQ(c.leafCount, 3);
  EXPECT_EQ(c.leafOrder[0], 9);
  EXPECT_EQ(c.leafOrder[1], 3);
  EXPECT_EQ(c.leafOrder[2], 5);
}

TEST(HuffmanCode, CodesAreCompletePrefixFreeAndWithinTheTableWidth) {
  std::mt19937 rng(11);
  std::vector<uint8_t> seen(kTableWidthScratch);
  WorkerPool pool(2);
  for (int trial = 0; trial < 300; ++trial) {
    uint32_t counts[16] = {};
    int used = 2 + int(rng() % 14);
    for (int k = 0; k < used; ++k)
      counts[rng() % 15] = 1 + (trial % 3 == 0 ? (1u << (rng() % 20)) : rng() % 1000);
    int distinct = 0;
    for (int s = 0; s < 16; ++s) distinct += counts[s] != 0;
    if (distinct < 2) continue;
    HuffmanCode c;
    buildHuffmanCode(counts, c);
    ASSERT_EQ(c.leafCount, distinct);
    double kraft = 0;
    for (int s = 0; s < 16; ++s) {
      if (!counts[s]) continue;
      ASSERT_GE(c.length[s], 1);
      ASSERT_LE(c.length[s], 15);
      kraft += std::ldexp(1.0, -c.length[s]);
      for (int t = 0; t < 16; ++t) {
        if (t == s || !counts[t] || c.length[t] < c.length[s]) continue;
        EXPECT_NE(c.code[t] >> (c.length[t] - c.length[s]), c.code[s]) << "prefix";
      }
    }
    EXPECT_DOUBLE_EQ(kraft, 1.0) << "complete";
    // A symbol stream of these symbols: the table width lies between the longest code and 15.
    std::vector<uint8_t> syms;
    for (int s = 0; s < 16; ++s)
      for (uint32_t k = 0; k < std::min<uint32_t>(counts[s], 50); ++k) syms.push_back(uint8_t(s));
    std::shuffle(syms.begin(), syms.end(), rng);
    // Packed in two parts from a random bit of the first word: the same bits as the writer
    // gives after that many zeros, and every code's last bit marked.
    const unsigned first = unsigned(rng() % 32);
    const uint32_t n1 = uint32_t(rng() % (syms.size() + 1));
    BitWriter body;
    body.write(0, int(first));
    std::vector<uint32_t> ends(packedWords(syms.size(), first), 0);
    uint64_t at = first;
    for (uint8_t s : syms) {
      body.write(c.code[s], c.length[s]);
      at += c.length[s];
      ends[(at - 1) / 32] |= 1u << ((at - 1) % 32);
    }
    const uint64_t bits = body.bitCount();
    body.finishWord();
    std::vector<uint32_t> words(packedWords(syms.size(), first), 0xDEADBEEF),
        packedEnds(words.size(), 0xDEADBEEF);
    ASSERT_EQ(packCodes(c, syms.data(), n1, syms.data() + n1, uint32_t(syms.size()) - n1, first,
                        words.data(), packedEnds.data()),
              bits);
    const size_t packed = body.words().size() + 2;
    ASSERT_TRUE(std::equal(body.words().begin(), body.words().end(), words.begin()));
    EXPECT_EQ(words[packed - 2] | words[packed - 1], 0u) << "zero words past the stream";
    EXPECT_TRUE(std::equal(ends.begin(), ends.begin() + long(packed), packedEnds.begin()));
    // Without the ends: the same words, and the middle symbol's code start.
    std::vector<uint32_t> bare(words.size(), 0xDEADBEEF);
    uint64_t middle = 0;
    ASSERT_EQ(packCodes(c, syms.data(), n1, syms.data() + n1, uint32_t(syms.size()) - n1, first,
                        bare.data(), nullptr, &middle),
              bits);
    EXPECT_TRUE(std::equal(bare.begin(), bare.begin() + long(packed), words.begin()))
        << "packed without the ends";
    uint64_t middleAt = first;
    for (size_t k = 0; k < syms.size() / 2; ++k) middleAt += c.length[syms[k]];
    EXPECT_EQ(middle, middleAt);
    // Appended to a writer at the same bit of its word, the bits follow the pending ones.
    BitWriter frame, direct;
    frame.write(0x5A5A5A5Au, int(first));
    direct.write(0x5A5A5A5Au, int(first));
    frame.appendAligned(words.data(), bits);
    for (uint8_t s : syms) direct.write(c.code[s], c.length[s]);
    frame.write(0x2C, 7);
    direct.write(0x2C, 7);
    frame.finishWord();
    direct.finishWord();
    EXPECT_EQ(frame.words(), direct.words());
    std::vector<uint64_t> joined(words.size());
    int w = chooseTableWidth(c, words.data(), packedEnds.data(), first, bits, joined.data(),
                             seen.data());
    EXPECT_EQ(chooseTableWidth(c, words.data(), packedEnds.data(), first, bits, joined.data(),
                               seen.data(), &pool),
              w)
        << "the same choice with costs computed side by side";
    if (!tableWidthKernels().needsEnds) {
      EXPECT_EQ(chooseTableWidth(c, words.data(), nullptr, first, bits, joined.data(), seen.data(),
                                 nullptr, middle),
                w)
          << "the same choice without the ends";
    }
    EXPECT_GE(w, c.maxLength);
    EXPECT_LE(w, 15);
  }
}

TEST(SegmentLimit, MoreThan255SolidRectanglesInASegmentAreCodedByResiduals) {
  // 4 x 4 squares in a checkerboard of two colours: every square is a solid rectangle, and
  // the first segment (8,192 positions = 51 lines of 160) starts far more than 255 of them.
  const int w = 160, h = 120;
  test::Picture p(size_t(w) * h);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) p[size_t(y) * w + x] = ((x / 4 + y / 4) & 1) ? 0x1234 : 0x0421;
  CompressionSettings s;
  s.CompressionType = 0;
  s.ImageLossLevel = 0;
  s.updateDerived();
  test::EncodedRun run = test::encodePictures(s, w, h, {p, p});
  EXPECT_TRUE(run.ok) << run.failure;
  bool reported = false;
  for (const auto& m : run.messages) reported |= m == "Number of Rle blocks exceeded 255";
  EXPECT_TRUE(reported);
}

}  // namespace
}  // namespace zov

namespace zov {
namespace {

// The rule as stated: every combination of the candidate levels, weighted distance, first
// found on ties with red outermost; the table form must agree for every colour.
uint16_t nearestByTheRule(int r, int g, int b) {
  if (((r | g | b) & 7) == 0) return uint16_t((r >> 3) << 10 | (g >> 3) << 5 | (b >> 3));
  auto cands = [](int c, int* out) {
    int n = 0, below = c & ~7;
    out[n++] = below;
    if (below > 0) out[n++] = below - 8;
    if (below < 248) out[n++] = below + 8;
    return n;
  };
  int cr[3], cg[3], cb[3];
  int nr = cands(r, cr), ng = cands(g, cg), nb = cands(b, cb);
  long best = -1;
  uint16_t out = 0;
  for (int i = 0; i < nr; ++i)
    for (int j = 0; j < ng; ++j)
      for (int k = 0; k < nb; ++k) {
        long d = 30L * (r - cr[i]) * (r - cr[i]) + 59L * (g - cg[j]) * (g - cg[j]) +
                 20L * (b - cb[k]) * (b - cb[k]);
        if (best < 0 || d < best) {
          best = d;
          out = uint16_t((cr[i] >> 3) << 10 | (cg[j] >> 3) << 5 | (cb[k] >> 3));
        }
      }
  return out;
}

TEST(NearestColour, TableAgreesWithTheRuleForEveryGreyAndRandomColours) {
  for (int v = 0; v < 256; ++v) ASSERT_EQ(nearestColour(v, v, v), nearestByTheRule(v, v, v)) << v;
  std::mt19937 rng(5);
  for (int n = 0; n < 20000; ++n) {
    int r = int(rng() % 256), g = int(rng() % 256), b = int(rng() % 256);
    ASSERT_EQ(nearestColour(r, g, b), nearestByTheRule(r, g, b)) << r << "," << g << "," << b;
  }
}

// A large buffer given back is kept for the next of its size, which must still start as zeros;
// buffers carved side by side from one region (sizes off the carving step among them) must not
// overlap.
TEST(ZeroedBuffer, StartsAsZerosAlsoWhenItsMemoryIsTakenAgain) {
  constexpr size_t kWords = (size_t(1) << 20) + 5;
  for (int round = 0; round < 3; ++round) {
    ZeroedBuffer<uint32_t> a;
    a.assign(kWords, 0);
    ASSERT_EQ(std::count(a.begin(), a.end(), 0u), std::ptrdiff_t(kWords));
    std::fill(a.begin(), a.end(), 0xDEADBEEFu);
    ZeroedBuffer<uint8_t> odd;
    odd.assign((size_t(300) << 10) + 1, 9);
    ZeroedBuffer<uint32_t> b;
    b.assign(kWords, 7);
    ASSERT_EQ(std::count(b.begin(), b.end(), 7u), std::ptrdiff_t(kWords));
    ASSERT_EQ(std::count(odd.begin(), odd.end(), 9), std::ptrdiff_t(odd.size()));
    ASSERT_EQ(std::count(a.begin(), a.end(), 0xDEADBEEFu), std::ptrdiff_t(kWords));
  }
}

// The caller's jobs and the aside's batches share the helpers: every task of every job and
// batch runs exactly once, on a worker of its own kind, and each returns only once all its
// tasks are done, whichever thread comes to them first.
TEST(WorkerPool, JobsAndTheAsideBatchesRunEachTaskOnce) {
  for (int threads : {2, 3}) {
    WorkerPool pool(threads);
    for (int frame = 0; frame < 200; ++frame) {
      std::vector<int> batchRuns(64), jobRuns(64);
      bool badWorker = false, badBatch = false;
      auto aside = [&] {
        for (int batch = 0; batch < 4; ++batch) {
          const int count = 1 + (frame * 7 + batch) % 64;
          pool.runAside(count, [&](int k, int worker) {
            ++batchRuns[size_t(k)];
            if (worker < 0 || worker > threads || worker == threads - 1) badWorker = true;
          });
          for (int k = 0; k < 64; ++k) badBatch |= batchRuns[size_t(k)] != (k < count);
          std::fill(batchRuns.begin(), batchRuns.end(), 0);
        }
      };
      pool.startAside(aside);
      for (int job = 0; job < 3; ++job) {
        const int count = 1 + (frame + job * 13) % 64;
        pool.run(count, [&](int k, int worker) {
          ++jobRuns[size_t(k)];
          if (worker < 0 || worker >= threads) badWorker = true;
        });
        for (int k = 0; k < 64; ++k) ASSERT_EQ(jobRuns[size_t(k)], k < count ? 1 : 0);
        std::fill(jobRuns.begin(), jobRuns.end(), 0);
      }
      pool.waitAside();
      ASSERT_FALSE(badWorker) << threads << " threads, frame " << frame;
      ASSERT_FALSE(badBatch) << threads << " threads, frame " << frame;
    }
  }
}

}  // namespace
}  // namespace zov

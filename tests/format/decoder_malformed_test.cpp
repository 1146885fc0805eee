// Malformed frames of every kind: the decoder reports Damaged, keeps what it decoded before the
// fault, and never reads or writes outside the chunk and its buffers (run under ASan/UBSan).
#include <gtest/gtest.h>

#include <random>

#include "format/decoder.h"
#include "support/frame_builder.h"

namespace zov {
namespace {

using test::Block;
using test::buildFrame;
using test::FrameSpec;
using test::FrameWriter;

constexpr uint32_t kV4 = kZov2Tag | stream_flag::kV4;

DecodeStatus decodeBytes(FrameDecoder& d, const std::vector<uint8_t>& bytes) {
  return d.decodeFrame(bytes.data(), bytes.size());
}

struct Fixture {
  explicit Fixture(int w = 6, int h = 4, uint32_t format = kV4) : w(w), h(h), format(format) {
    EXPECT_TRUE(dec.prepareStream(w, h, format, {}));
  }
  DecodeStatus decode(const FrameSpec& spec) {
    return decodeBytes(dec, buildFrame(w, h, format, spec));
  }
  std::string fault() const { return dec.lastFrame().fault ? dec.lastFrame().fault : ""; }
  int w, h;
  uint32_t format;
  FrameDecoder dec;
};

FrameSpec validRgb(int w, int h) {
  FrameSpec f;
  f.seed = 0x1234;
  // Column pass (h - 1 pixels) and odd rows (w - 1 each) in part 1; even rows in part 2.
  size_t p1 = size_t(h - 1) * 3, p2 = 0;
  for (int row = 0; row < h; ++row) (row % 2 ? p1 : p2) += size_t(w - 1) * 3;
  f.part1.assign(p1, 7);
  f.part2.assign(p2, 7);
  f.part1[0] = 8;
  f.part2[0] = 6;
  return f;
}

TEST(DecoderMalformed, ValidReferenceFrameDecodes) {
  Fixture fx;
  EXPECT_EQ(fx.decode(validRgb(6, 4)), DecodeStatus::Ok) << fx.fault();
}

TEST(DecoderMalformed, TruncatedFramesAtEveryLength) {
  Fixture fx;
  auto bytes = buildFrame(6, 4, kV4, validRgb(6, 4));
  ASSERT_EQ(decodeBytes(fx.dec, bytes), DecodeStatus::Ok);
  // The padding (at least W zero bits) may go, the codes may not.
  const uint64_t needed = fx.dec.lastFrame().bitsRead;
  for (size_t n = 0; n < bytes.size(); ++n) {
    std::vector<uint8_t> cut(bytes.begin(), bytes.begin() + long(n));
    const DecodeStatus st = decodeBytes(fx.dec, cut);
    // A chunk counts in whole words (a last partial word reads as zeros in its high bytes).
    if ((n + 3) / 4 * 32 < needed) {
      EXPECT_EQ(st, DecodeStatus::Damaged) << n;
    }
  }
  EXPECT_EQ(fx.dec.decodeFrame(nullptr, 0), DecodeStatus::Damaged);
}

TEST(DecoderMalformed, BlocksOutsideTheActiveAreaOrOverlapping) {
  Fixture fx;
  FrameSpec f;
  f.residuals = false;
  f.rle = {{4, 3, 1, 1}};  // column 4 + width 3 > 6
  EXPECT_EQ(fx.decode(f), DecodeStatus::Damaged);
  f.rle = {{6, 1, 4, 1}};  // row 1 + height 4 > 4
  EXPECT_EQ(fx.decode(f), DecodeStatus::Damaged);
  f.rle = {{24, 1, 1, 1}};  // position past the area
  EXPECT_EQ(fx.decode(f), DecodeStatus::Damaged);
  f.rle = {{0, 3, 2, 1}, {7, 3, 1, 2}};  // overlap at row 1 columns 1-2
  EXPECT_EQ(fx.decode(f), DecodeStatus::Damaged);
  EXPECT_NE(fx.fault().find("overlap"), std::string::npos);
  // The first block stays: what was decoded before the fault is kept.
  EXPECT_EQ(fx.dec.picture()[0], 1);
  f.rle = {{0, 3, 2, 1}};
  f.key = false;
  f.interframe = {{1, 1, 1}};  // an Interframe block under an Rle block
  EXPECT_EQ(fx.decode(f), DecodeStatus::Damaged);
  // A block meeting an earlier one in its third row leaves neither its first rows in the maps
  // nor their pixels covered: the next frame may place it.
  f.rle.clear();
  f.interframe = {{13, 1, 1}, {1, 2, 3}};
  EXPECT_EQ(fx.decode(f), DecodeStatus::Damaged);
  for (int i : {1, 7}) {
    EXPECT_EQ(fx.dec.blockMap()[i], 0) << i;
    EXPECT_EQ(fx.dec.unchangedMap()[i], 0) << i;
  }
  f.interframe = {{1, 2, 3}};
  EXPECT_EQ(fx.decode(f), DecodeStatus::Ok) << fx.fault();
  EXPECT_EQ(fx.dec.blockMap()[13], 2);
  // With a letterbox the last rows are outside.
  FrameSpec g;
  g.lbox = true;
  g.top = 1;
  g.residuals = false;
  g.rle = {{18, 1, 1, 1}};
  EXPECT_EQ(fx.decode(g), DecodeStatus::Damaged);
}

TEST(DecoderMalformed, StoredSize255AndEntropyRules) {
  Fixture fx;
  FrameWriter fw(6, 4, kV4);
  fw.keyHeaderV4(Scheme::Rgb, false, false);
  fw.bits().write(1, 8);  // one long entry
  fw.bits().write(0, 8);
  fw.bits().write(0, 13);
  fw.bits().write(255, 8);  // width 256
  fw.bits().write(0, 8);
  fw.bits().write(0, 15);
  fw.nsym(0);
  EXPECT_EQ(decodeBytes(fx.dec, fw.finish()), DecodeStatus::Damaged);
  FrameSpec f;
  f.residuals = false;
  f.enpy = true;
  f.entropy = {{1, 2, 1}};  // Entropy blocks in an RGB frame
  EXPECT_EQ(fx.decode(f), DecodeStatus::Damaged);
  f.scheme = Scheme::Yc422;
  f.entropy = {{6, 2, 1}};  // at column 0
  EXPECT_EQ(fx.decode(f), DecodeStatus::Damaged);
  f.entropy = {{7, 2, 1}};
  EXPECT_EQ(fx.decode(f), DecodeStatus::Ok) << fx.fault();
}

TEST(DecoderMalformed, HeaderFields) {
  Fixture fx;
  FrameWriter fw(6, 4, kV4);
  fw.bits().write(1, 1);
  fw.bits().write(5, 3);  // scheme 5
  fw.bits().write(0, 4);
  EXPECT_EQ(decodeBytes(fx.dec, fw.finish()), DecodeStatus::Damaged);
  FrameSpec f;
  f.residuals = false;
  f.lbox = true;
  f.top = 2;
  f.bottom = 2;  // no active row left
  EXPECT_EQ(fx.decode(f), DecodeStatus::Damaged);
  EXPECT_EQ(fx.dec.activeHeight(), 4);
}

TEST(DecoderMalformed, CodeTableFaults) {
  Fixture fx;
  auto frame = [&](auto&& body) {
    FrameWriter fw(6, 4, kV4);
    fw.keyHeaderV4(Scheme::Rgb, false, false);
    fw.list({}, true);
    body(fw);
    return decodeBytes(fx.dec, fw.finish());
  };
  // Symbol value 15, alone and in a table.
  EXPECT_EQ(frame([](FrameWriter& fw) {
              fw.nsym(1);
              fw.seed(0);
              fw.singleSymbol(15);
              fw.counts(0, 0);
            }),
            DecodeStatus::Damaged);
  auto code = test::codeFromLengths({1, 2, 2}, {3, 15, 7});
  EXPECT_EQ(frame([&](FrameWriter& fw) {
              fw.nsym(3);
              fw.seed(0);
              fw.codeTable(code, 2);
              fw.counts(0, 0);
            }),
            DecodeStatus::Damaged);
  // A code longer than W.
  auto ok = test::codeFromLengths({1, 2, 3, 3}, {3, 4, 5, 6});
  EXPECT_EQ(frame([&](FrameWriter& fw) {
              fw.nsym(4);
              fw.seed(0);
              fw.codeTable(ok, 2);
              fw.counts(0, 0);
            }),
            DecodeStatus::Damaged);
  EXPECT_NE(fx.fault().find("longer"), std::string::npos);
  // Too few and too many leaves for NSYM.
  EXPECT_EQ(frame([&](FrameWriter& fw) {
              fw.nsym(5);
              fw.seed(0);
              fw.codeTable(ok, 3);
              fw.bits().write(0, 4);  // the fifth value, read as part of the table
              fw.counts(0, 0);
            }),
            DecodeStatus::Damaged);
  EXPECT_EQ(frame([&](FrameWriter& fw) {
              fw.nsym(3);
              fw.seed(0);
              fw.bits().write(3, 4);
              for (int v : {3, 4, 5}) fw.bits().write(uint32_t(v), 4);
              for (int b : {1, 1, 1, 0, 0, 0, 0}) fw.bits().write(uint32_t(b), 1);
              fw.counts(0, 0);
            }),
            DecodeStatus::Damaged);
  // W = 0.
  EXPECT_EQ(frame([&](FrameWriter& fw) {
              fw.nsym(2);
              fw.seed(0);
              fw.bits().write(0, 4);
              fw.counts(0, 0);
            }),
            DecodeStatus::Damaged);
}

TEST(DecoderMalformed, CountsAbove921600) {
  FrameDecoder d;
  ASSERT_TRUE(d.prepareStream(640, 480, kV4, {}));
  FrameWriter fw(640, 480, kV4);
  fw.keyHeaderV4(Scheme::Rgb, false, false);
  fw.list({}, true);
  fw.nsym(1);
  fw.seed(0);
  fw.singleSymbol(7);
  fw.counts(500000, 500000);
  EXPECT_EQ(decodeBytes(d, fw.finish()), DecodeStatus::Damaged);
  EXPECT_NE(std::string(d.lastFrame().fault).find("921,600"), std::string::npos);
}

TEST(DecoderMalformed, SymbolCountsThatDoNotMatchThePixels) {
  Fixture fx;
  FrameSpec f = validRgb(6, 4);
  f.part1.pop_back();
  EXPECT_EQ(fx.decode(f), DecodeStatus::Damaged);
  f = validRgb(6, 4);
  f.part2.push_back(7);
  EXPECT_EQ(fx.decode(f), DecodeStatus::Damaged);
  f = validRgb(6, 4);
  f.part1.resize(2);
  EXPECT_EQ(fx.decode(f), DecodeStatus::Damaged);
  // Part 2 of an SField stream must be empty.
  Fixture sf(4, 4, kV4 | stream_flag::kSField);
  FrameSpec g;
  g.seed = 0;
  g.part1.assign(size_t(1 * 3 + 2 * 3 * 3), 7);
  EXPECT_EQ(sf.decode(g), DecodeStatus::Ok) << sf.fault();
  g.part2 = {7};
  EXPECT_EQ(sf.decode(g), DecodeStatus::Damaged);
}

TEST(DecoderMalformed, ComponentsCarriedOutOfRange) {
  for (bool edge : {false, true}) {
    for (Scheme scheme : {Scheme::Rgb, Scheme::Yc422, Scheme::Yc1611}) {
      // The step out of range in the column pass (row 1), or in the first pixel after it of the
      // first row of part 2 (row 2: in 1611 a plain pixel of a row that shares colour difference).
      for (bool inPart2 : {false, true}) {
        Fixture fx;
        FrameSpec f = validRgb(6, 4);
        f.scheme = scheme;
        f.edge = edge;
        f.seed = 0x7FFF;  // white: red 31 (or Y 31)
        if (scheme != Scheme::Rgb) {
          // Luminance schemes read fewer symbols; any count will do, the fault comes first.
          f.part1.assign(40, 7);
          f.part2.assign(40, 7);
        }
        (inPart2 ? f.part2 : f.part1)[0] = 14;  // +7 on the first component
        EXPECT_EQ(fx.decode(f), DecodeStatus::Damaged) << int(scheme) << edge << inPart2;
        EXPECT_NE(fx.fault().find("range"), std::string::npos) << fx.fault();
      }
    }
  }
}

TEST(DecoderMalformed, RandomBytesNeverEscapeTheBuffers) {
  std::mt19937 rng(99);
  for (int round = 0; round < 400; ++round) {
    const int w = 1 + int(rng() % 64), h = 1 + int(rng() % 48);
    uint32_t format = kZov2Tag | uint32_t(rng() % 5) | (uint32_t(rng()) & 0xBF00);
    FrameDecoder d;
    DecoderOptions opt;
    opt.singleField = rng() % 4 == 0;
    opt.interpolate = rng() % 2 == 0;
    opt.noCache = rng() % 3 == 0;
    opt.pixelKind = rng() % 2 ? PixelKind::Rgb565 : PixelKind::Rgb555;
    ASSERT_TRUE(d.prepareStream(w, h, format, opt));
    for (int frame = 0; frame < 4; ++frame) {
      std::vector<uint8_t> bytes(rng() % 600);
      for (auto& b : bytes) b = uint8_t(rng());
      // Start like a key frame often, so that the lists and residuals get exercised.
      if (bytes.size() >= 4 && rng() % 2) bytes[3] = uint8_t(0x80 | (bytes[3] & 0x07));
      d.decodeFrame(bytes.data(), bytes.size());
    }
  }
}

}  // namespace
}  // namespace zov

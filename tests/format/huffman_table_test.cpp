// The code table: tree shapes as written in frames, and multi-symbol look-up decoding, which must
// equal plain prefix decoding whatever the look-up width.
#include <gtest/gtest.h>

#include <random>

#include "format/bit_writer.h"
#include "format/huffman_table.h"
#include "support/frame_builder.h"

namespace zov {
namespace {

std::vector<CodeLeaf> readShape(const std::vector<int>& bits, const std::vector<uint8_t>& syms,
                                int maxLength, TreeStatus* status) {
  BitWriter w;
  for (int b : bits) w.write(uint32_t(b), 1);
  w.finishWord();
  std::vector<uint8_t> bytes = w.bytes();
  BitReader r(bytes.data(), bytes.size());
  std::vector<CodeLeaf> leaves;
  *status = readTreeShape(r, syms, maxLength, leaves);
  return leaves;
}

TEST(TreeShape, WalkVisitsTheOneBranchFirst) {
  // Codes 1, 01, 00 are written as 1 0 1 0 0 and take the symbols in that order.
  TreeStatus st;
  auto leaves = readShape({1, 0, 1, 0, 0}, {4, 9, 2}, 15, &st);
  ASSERT_EQ(st, TreeStatus::Ok);
  ASSERT_EQ(leaves.size(), 3u);
  EXPECT_EQ(leaves[0].code, 1u);
  EXPECT_EQ(leaves[0].length, 1);
  EXPECT_EQ(leaves[0].symbol, 4);
  EXPECT_EQ(leaves[1].code, 1u);
  EXPECT_EQ(leaves[1].length, 2);
  EXPECT_EQ(leaves[1].symbol, 9);
  EXPECT_EQ(leaves[2].code, 0u);
  EXPECT_EQ(leaves[2].length, 2);
  EXPECT_EQ(leaves[2].symbol, 2);
}

TEST(TreeShape, RefusesWrongLeafCountsAndLongCodes) {
  TreeStatus st;
  readShape({1, 0, 0}, {1, 2, 3}, 15, &st);  // two leaves for three symbols
  EXPECT_EQ(st, TreeStatus::TooFewLeaves);
  readShape({0}, {1, 2}, 15, &st);  // a lone root leaf
  EXPECT_EQ(st, TreeStatus::TooFewLeaves);
  readShape({1, 1, 0, 0, 0}, {1, 2}, 15, &st);  // three leaves for two symbols
  EXPECT_EQ(st, TreeStatus::TooManyLeaves);
  readShape({1, 1, 1, 0, 0, 0, 0}, {1, 2, 3, 4}, 2, &st);  // a code of 3 bits with W = 2
  EXPECT_EQ(st, TreeStatus::TooLong);
  readShape({1, 1, 1, 0, 0, 0, 0}, {1, 2, 3, 4}, 3, &st);
  EXPECT_EQ(st, TreeStatus::Ok);
}

TEST(TreeShape, BuilderShapesReadBackAsTheSameCode) {
  std::mt19937 rng(5);
  for (int round = 0; round < 200; ++round) {
    std::vector<uint8_t> symbols(1 + rng() % 300);
    for (auto& s : symbols) s = uint8_t(rng() % (2 + rng() % 14));
    auto code = test::codeFor(symbols);
    if (code.size() < 2) continue;
    test::FrameWriter fw(8, 8, stream_flag::kV4);
    int maxLen = 0;
    for (auto& c : code) maxLen = std::max(maxLen, c.length);
    fw.codeTable(code, maxLen);
    auto bytes = fw.finish();
    BitReader r(bytes.data(), bytes.size());
    EXPECT_EQ(int(r.read(4)), maxLen);
    std::vector<uint8_t> values(code.size());
    for (auto& v : values) v = uint8_t(r.read(4));
    std::vector<CodeLeaf> leaves;
    ASSERT_EQ(readTreeShape(r, values, maxLen, leaves), TreeStatus::Ok);
    ASSERT_EQ(leaves.size(), code.size());
    for (size_t i = 0; i < leaves.size(); ++i) {
      EXPECT_EQ(leaves[i].code, code[i].bits);
      EXPECT_EQ(leaves[i].length, code[i].length);
      EXPECT_EQ(leaves[i].symbol, code[i].symbol);
    }
  }
}

// Random complete codes: split leaves at random until the wanted count.
std::vector<CodeLeaf> randomCode(std::mt19937& rng, int leavesWanted, int maxLength) {
  std::vector<CodeLeaf> leaves{{0, 0, 0}};
  while (int(leaves.size()) < leavesWanted) {
    std::vector<size_t> splittable;
    for (size_t i = 0; i < leaves.size(); ++i)
      if (leaves[i].length < maxLength) splittable.push_back(i);
    if (splittable.empty()) break;
    const size_t i = splittable[rng() % splittable.size()];
    CodeLeaf a = leaves[i];
    leaves[i] = {a.code << 1, a.length + 1, 0};
    leaves.push_back({a.code << 1 | 1, a.length + 1, 0});
  }
  for (size_t i = 0; i < leaves.size(); ++i) leaves[i].symbol = uint8_t(i);
  return leaves;
}

// The next symbol read one bit at a time, the way the format defines a code.
uint8_t symbolBitByBit(BitReader& r, const std::vector<CodeLeaf>& leaves) {
  uint32_t code = 0;
  for (int length = 1;; ++length) {
    code = code << 1 | uint32_t(r.readBit());
    for (const CodeLeaf& l : leaves)
      if (l.length == length && l.code == code) return l.symbol;
  }
}

TEST(HuffmanTable, LookupDecodingEqualsPlainPrefixDecoding) {
  std::mt19937 rng(11);
  for (int round = 0; round < 300; ++round) {
    const int n = 2 + int(rng() % 14);
    const int maxLength = 1 + int(rng() % 15);
    auto leaves = randomCode(rng, n, maxLength);
    int longest = 0;
    for (auto& l : leaves) longest = std::max(longest, l.length);
    const uint32_t count = rng() % 2000;
    std::vector<uint8_t> want(count);
    BitWriter w;
    for (auto& s : want) {
      const CodeLeaf& l = leaves[rng() % leaves.size()];
      s = l.symbol;
      w.write(l.code, l.length);
    }
    const uint64_t codeBits = w.bitCount();
    w.writeZeros(size_t(longest));
    w.finishWord();
    auto bytes = w.bytes();
    for (int width : {longest, std::min(16, longest + 1 + int(rng() % 4)), 16}) {
      HuffmanTable table;
      table.build(leaves, width);
      std::vector<uint8_t> got(count + 8, 0xEE);
      BitReader r(bytes.data(), bytes.size());
      table.decode(r, got.data(), count);
      got.resize(count);
      ASSERT_EQ(got, want) << "round " << round << " width " << width;
      // Exactly the codes' bits were consumed, and never past the chunk.
      EXPECT_EQ(r.bitPosition(), codeBits);
      EXPECT_FALSE(r.overrun());
    }
    // A chunk cut short: past its end the bits read as zeros, as for a code read bit by bit,
    // and the reader reports the overrun.
    bytes.resize(bytes.size() - std::min(bytes.size(), size_t(1 + rng() % 16)));
    HuffmanTable table;
    table.build(leaves, longest);
    std::vector<uint8_t> got(count + 8, 0xEE);
    BitReader r(bytes.data(), bytes.size()), plain = r;
    table.decode(r, got.data(), count);
    for (uint32_t i = 0; i < count; ++i)
      ASSERT_EQ(got[i], symbolBitByBit(plain, leaves)) << "round " << round << " symbol " << i;
    EXPECT_EQ(r.bitPosition(), plain.bitPosition());
    EXPECT_EQ(r.overrun(), plain.overrun());
    EXPECT_EQ(r.read(32), plain.read(32));
  }
}

// Long streams are decoded as two chains, the second starting mid-chunk on a bit that need not
// begin a code. Whatever follows the codes (zeros, other data, or nothing: a chunk cut short) and
// whether or not the second chain falls into step (codes of one length never do), the symbols,
// the bits consumed and the overrun must be those of decoding code by code.
TEST(HuffmanTable, LongStreamsDecodeAsCodeByCode) {
  std::mt19937 rng(23);
  for (int round = 0; round < 40; ++round) {
    const int maxLength = 1 + int(rng() % 15);
    // Every few rounds a code of one length: 2, 4, 8 or 16 leaves at depth 1..4.
    const int depth = 1 + round % 4;
    auto leaves = round % 5 == 0 ? randomCode(rng, 1 << depth, depth)
                                 : randomCode(rng, 2 + int(rng() % 14), maxLength);
    const int n = int(leaves.size());
    int longest = 0;
    for (auto& l : leaves) longest = std::max(longest, l.length);
    const uint32_t count = 8192 + rng() % 50000;
    BitWriter w;
    for (uint32_t i = 0; i < count; ++i) {
      // Skewed towards the first leaves, as residuals are.
      const CodeLeaf& l = leaves[std::min(rng() % n, std::min(rng() % n, rng() % n))];
      w.write(l.code, l.length);
    }
    const int tail = round % 3;
    if (tail == 0) w.writeZeros(size_t(longest));
    if (tail == 1)
      for (uint32_t i = rng() % (round % 2 ? count / 8 : 3 * count); i > 0; --i)
        w.write(rng() & 0xFF, 8);
    w.finishWord();
    auto bytes = w.bytes();
    if (tail == 2) bytes.resize(bytes.size() - std::min(bytes.size(), size_t(1 + rng() % 64)));
    for (int width : {longest, 16}) {
      HuffmanTable table;
      table.build(leaves, width);
      std::vector<uint8_t> got(count + 8, 0xEE);
      BitReader r(bytes.data(), bytes.size()), plain = r;
      table.decode(r, got.data(), count);
      for (uint32_t i = 0; i < count; ++i)
        ASSERT_EQ(got[i], symbolBitByBit(plain, leaves)) << "round " << round << " symbol " << i;
      ASSERT_EQ(r.bitPosition(), plain.bitPosition()) << "round " << round;
      EXPECT_EQ(r.overrun(), plain.overrun());
      EXPECT_EQ(r.read(32), plain.read(32));
    }
  }
}

}  // namespace
}  // namespace zov

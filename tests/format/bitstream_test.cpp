#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "format/bit_reader.h"
#include "format/bit_writer.h"

namespace zov {
namespace {

TEST(Bitstream, WordsAreLittleEndianAndReadMostSignificantBitFirst) {
  const uint8_t bytes[] = {0x78, 0x56, 0x34, 0x12, 0x01, 0x00, 0x00, 0x80};
  BitReader r(bytes, sizeof bytes);
  EXPECT_EQ(r.read(4), 0x1u);
  EXPECT_EQ(r.read(8), 0x23u);
  EXPECT_EQ(r.read(20), 0x45678u);
  EXPECT_EQ(r.read(1), 1u);  // bit 31 of the second word
  EXPECT_EQ(r.read(30), 0u);
  EXPECT_EQ(r.read(1), 1u);  // bit 0 of the second word
  EXPECT_FALSE(r.overrun());
  EXPECT_EQ(r.bitsLeft(), 0u);
}

TEST(Bitstream, ReadsPastTheChunkGiveZerosAndReportOverrun) {
  const uint8_t bytes[] = {0xFF, 0xFF, 0xFF, 0xFF, 0xAB, 0xCD};  // a partial last word
  BitReader r(bytes, sizeof bytes);
  EXPECT_EQ(r.read(32), 0xFFFFFFFFu);
  EXPECT_EQ(r.read(16), 0u);  // the missing high bytes of the last word come first
  EXPECT_EQ(r.read(16), 0xCDABu);
  EXPECT_FALSE(r.overrun());
  EXPECT_EQ(r.read(1), 0u);
  EXPECT_TRUE(r.overrun());
  for (int i = 0; i < 100; ++i) EXPECT_EQ(r.read(32), 0u);
  BitReader empty(nullptr, 0);
  EXPECT_EQ(empty.read(1), 0u);
  EXPECT_TRUE(empty.overrun());
}

TEST(Bitstream, WriterRoundTripsRandomFieldsOfEveryWidth) {
  std::mt19937 rng(7);
  std::vector<std::pair<uint32_t, int>> fields;
  BitWriter w;
  for (int i = 0; i < 5000; ++i) {
    int n = static_cast<int>(rng() % 33);
    uint32_t v = n == 32 ? rng() : rng() & ((1u << n) - 1);
    fields.emplace_back(v, n);
    w.write(v, n);
  }
  uint64_t bits = w.bitCount();
  w.finishWord();
  auto bytes = w.bytes();
  ASSERT_EQ(bytes.size() % 4, 0u);
  BitReader r(bytes.data(), bytes.size());
  for (auto [v, n] : fields) ASSERT_EQ(r.read(n), v);
  EXPECT_EQ(r.bitPosition(), bits);
  EXPECT_FALSE(r.overrun());
}

}  // namespace
}  // namespace zov

// EncodeFrame allocates nothing: every per-frame buffer comes from StartEncoder. Counted by
// replacing the global allocation functions of this test program.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <new>

#include "encoder/zov2_encoder.h"
#include "support/encoder_harness.h"

namespace {
std::atomic<bool> counting{false};
std::atomic<long> allocations{0};
}  // namespace

// The replacements pair malloc with free by design.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
#endif

void* operator new(std::size_t n) {
  if (counting) ++allocations;
  if (void* p = std::malloc(n ? n : 1)) return p;
  throw std::bad_alloc();
}
void operator delete(void* p) noexcept {
  std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
  std::free(p);
}

namespace zov {
namespace {

TEST(EncoderAllocation, EncodeFrameAllocatesNothingInAnyMode) {
  const int w = 160, h = 120;
  std::vector<test::Picture> pics;
  for (int f = 0; f < 6; ++f) {
    test::Picture p(size_t(w) * h);
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x)
        p[size_t(y) * w + x] =
            uint16_t(((x + 2 * f) & 31) << 10 | (y & 31) << 5 | ((x * y + f) & 31));
    pics.push_back(p);
  }
  test::Picture bg(size_t(w) * h, 0x2108);
  // The counter sees allocations at all.
  counting = true;
  ::operator delete(::operator new(8));
  counting = false;
  ASSERT_EQ(allocations.load(), 1);
  for (uint32_t type : {0u, 4u})
    for (bool keying : {false, true}) {
      CompressionSettings s;
      s.CompressionType = type;
      s.ChromaKeying = keying;
      s.ChromaGreen = 16;
      s.DataRate = 20000;
      s.updateDerived();
      s.LossyActive = type != 0;
      s.KeyCountdown = s.KeyRate + 1;
      s.FrameRate = 15;
      EncoderSetup setup{w, h, uint32_t(pics.size()), keying ? bg.data() : nullptr};
      ASSERT_TRUE(StartEncoder(s, setup));
      std::vector<uint8_t> out(maxFrameBytes(w, h));
      allocations = 0;
      counting = true;
      if (keying) {
        s.CodingBackground = true;
        CompressParams p{bg.data(), out.data(), out.size(), 0};
        EncodeFrame(s, p);
        s.CodingBackground = false;
      }
      for (size_t i = 0; i <= pics.size(); ++i) {
        s.KeyFrame = i % 4 == 0;
        s.FinalCall = i == pics.size();
        CompressParams p{s.FinalCall ? nullptr : pics[i].data(), out.data(), out.size(), 0};
        EncodeFrame(s, p);
      }
      counting = false;
      EXPECT_EQ(allocations.load(), 0) << "type " << type << " keying " << keying;
      EndEncoder(s);
    }
}

}  // namespace
}  // namespace zov

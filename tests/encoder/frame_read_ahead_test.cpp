// The run's read-ahead hands out every frame as read, reads each once when the run goes in
// order, shows the frame after the next one while it is held, and still answers frames asked
// for out of order.
#include "encoder/frame_read_ahead.h"

#include <gtest/gtest.h>

#include <mutex>
#include <vector>

namespace zov {
namespace {

TEST(FrameReadAhead, InOrderReadsEachFrameOnceAndPeeksTheOneAfterTheNext) {
  std::mutex source;
  std::vector<int> reads(10, 0);
  FrameReadAhead ahead(
      [&](uint32_t n, std::vector<uint8_t>& bitmap) {
        ++reads[n];
        bitmap.assign(100, uint8_t(n));
        return n != 7;  // frame 7 cannot be read
      },
      source, 10);
  std::vector<uint8_t> bitmap;
  for (uint32_t n = 0; n < 10; ++n) {
    EXPECT_EQ(ahead.get(n, bitmap), n != 7) << "frame " << n;
    ASSERT_EQ(bitmap.size(), 100u);
    EXPECT_EQ(bitmap[0], n);
    const std::vector<uint8_t>* next = ahead.peek(n + 2);
    // A frame that cannot be read stops the run: nothing more is read ahead after it.
    if (n + 2 < 10 && n + 2 != 7 && n != 7) {
      ASSERT_NE(next, nullptr) << "frame " << n + 2 << " is not held ahead";
      EXPECT_EQ((*next)[0], n + 2);
    } else {
      EXPECT_EQ(next, nullptr);
    }
    EXPECT_EQ(ahead.peek(n + 5), nullptr);
  }
  std::lock_guard<std::mutex> lock(source);
  for (uint32_t n = 0; n < 10; ++n) EXPECT_EQ(reads[n], 1) << "frame " << n;
}

TEST(FrameReadAhead, OutOfOrderFramesAreReadWhenAskedFor) {
  std::mutex source;
  FrameReadAhead ahead(
      [](uint32_t n, std::vector<uint8_t>& bitmap) {
        bitmap.assign(10, uint8_t(n));
        return true;
      },
      source, 20);
  std::vector<uint8_t> bitmap;
  for (uint32_t n : {3u, 4u, 1u, 5u, 9u, 2u, 10u, 11u}) {
    ASSERT_TRUE(ahead.get(n, bitmap));
    EXPECT_EQ(bitmap[0], n);
  }
}

}  // namespace
}  // namespace zov

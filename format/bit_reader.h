// Reads a frame as a sequence of 32-bit little-endian words, most significant bit first.
// Every read is bounded by the chunk: bits past its end read as 0 and set overrun(), so a
// decoder can run to the end of a damaged frame without touching memory outside it.
#pragma once

#include <cstddef>
#include <cstdint>

namespace zov {

class BitReader {
 public:
  BitReader() = default;
  BitReader(const uint8_t* data, size_t size) { reset(data, size); }

  void reset(const uint8_t* data, size_t size) {
    p_ = data;
    end_ = data + size;
    // A final partial word counts whole: its missing (high) bytes are zero and are read first.
    totalBits_ = (static_cast<uint64_t>(size) + 3) / 4 * 32;
    consumed_ = 0;
    cache_ = 0;
    cacheBits_ = 0;
    refill();
  }

  // The next n bits (0..32) without consuming them.
  uint32_t peek(int n) const { return n == 0 ? 0 : static_cast<uint32_t>(cache_ >> (64 - n)); }

  void skip(int n) {
    cache_ = n == 64 ? 0 : cache_ << n;
    cacheBits_ -= n;
    consumed_ += static_cast<uint64_t>(n);
    if (cacheBits_ <= 32) refill();
  }

  // Reads n bits (0..32), first bit most significant.
  uint32_t read(int n) {
    uint32_t v = peek(n);
    skip(n);
    return v;
  }

  bool readBit() { return read(1) != 0; }

  // Bulk decoding of codes at most 16 bits long: while more() holds, calls take(window), where
  // the window's first bit is bit 63 and at least its 17 first bits are the stream's; take
  // returns the bits it used (at most 16). Two codes are taken per refill test. Call on a local
  // copy (the caller's stores could otherwise alias the cache).
  template <class More, class Take>
  void takeCodes(More more, Take take) {
    uint64_t cache = cache_;
    int bits = cacheBits_;  // at least 33 here and at every refill test below
    uint64_t consumed = consumed_;
    while (more()) {
      const int a = take(cache);
      cache <<= a;
      const int b = take(cache);
      cache <<= b;
      bits -= a + b;
      consumed += uint64_t(a + b);
      if (end_ - p_ >= 4) {
        // The next word joins the cache when 32 bits or fewer are left, without a branch on
        // that: it is taken every other step or so, at no pattern a predictor could follow.
        const uint32_t next =
            uint32_t(p_[0]) | uint32_t(p_[1]) << 8 | uint32_t(p_[2]) << 16 | uint32_t(p_[3]) << 24;
        const int room = 32 - bits;                                // >= 0: the word is needed
        const uint32_t need = ~static_cast<uint32_t>(room >> 31);  // all ones when needed
        cache |= uint64_t(next & need) << (room & 63);
        p_ += 4 & need;
        bits += static_cast<int>(32 & need);
      } else if (bits <= 32) {
        cache_ = cache;
        cacheBits_ = bits;
        refill();
        cache = cache_;
        bits = cacheBits_;
      }
    }
    cache_ = cache;
    cacheBits_ = bits;
    consumed_ = consumed;
  }

  // True once more bits were consumed than the chunk holds.
  bool overrun() const { return consumed_ > totalBits_; }
  uint64_t bitPosition() const { return consumed_; }
  uint64_t totalBits() const { return totalBits_; }
  uint64_t bitsLeft() const { return consumed_ >= totalBits_ ? 0 : totalBits_ - consumed_; }

 private:
  // Keeps at least 33 bits in the cache; words past the end of the chunk read as zeros.
  void refill() {
    while (cacheBits_ <= 32) {
      uint32_t word = 0;
      if (end_ - p_ >= 4) {
        word =
            uint32_t(p_[0]) | uint32_t(p_[1]) << 8 | uint32_t(p_[2]) << 16 | uint32_t(p_[3]) << 24;
        p_ += 4;
      } else if (p_ < end_) {  // a final partial word: the missing bytes are zero
        for (int i = 0; p_ < end_; ++i) word |= uint32_t(*p_++) << (8 * i);
      }
      cache_ |= uint64_t(word) << (32 - cacheBits_);
      cacheBits_ += 32;
    }
  }

  const uint8_t* p_ = nullptr;
  const uint8_t* end_ = nullptr;
  uint64_t totalBits_ = 0;
  uint64_t consumed_ = 0;
  uint64_t cache_ = 0;  // next bit in bit 63
  int cacheBits_ = 0;
};

}  // namespace zov

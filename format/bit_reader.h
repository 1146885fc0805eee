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
  // returns a word whose low six bits are the bits it used (at most 16; the higher bits are
  // ignored, so a table entry can be returned whole). Call on a local copy (the caller's stores
  // could otherwise alias the cache).
  //
  // One look-up's index waits only on the previous look-up's shift: the window is the cache
  // shifted, and the next word joins the cache (for the look-up after next) beside it. The
  // cache holds at least 33 bits before each shift, so the shifted window still holds the 17
  // the next look-up reads.
  template <class More, class Take>
  void takeCodes(More more, Take take) {
    uint64_t cache = cache_;
    int room = 32 - cacheBits_;  // < 0 here and after every join below
    uint64_t window = cache;
    const uint8_t* p = p_;
    // Whole words are read while p < limit (none when fewer than four bytes are left).
    const uintptr_t limit = end_ - p_ >= 4 ? reinterpret_cast<uintptr_t>(end_) - 3 : 0;
    // The bits consumed are counted at the end, from the bits that joined the cache: the words
    // read (8 per byte) and what the refills at the chunk's end add beyond their bytes.
    const int bitsBefore = cacheBits_;
    const uint8_t* const pBefore = p_;
    int64_t endBits = 0;
    while (more()) {
      const uint64_t t = take(window);
      window = cache << (t & 63);
      room += static_cast<int>(t & 63);
      if (reinterpret_cast<uintptr_t>(p) < limit) {
        // The next word joins the cache when 32 bits or fewer are left, without a branch on
        // that: it is taken every third step or so, at no pattern a predictor could follow.
        const uint32_t next =
            uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
        const uint32_t need = ~static_cast<uint32_t>(room >> 31);  // all ones when room >= 0
        cache = window | uint64_t(next & need) << (room & 63);
        p += 4 & need;
        room -= static_cast<int>(32 & need);
      } else if (room >= 0) {
        p_ = p;
        cache_ = window;
        cacheBits_ = 32 - room;
        refill();
        endBits += (cacheBits_ - (32 - room)) - 8 * (p_ - p);
        p = p_;
        cache = cache_;
        room = 32 - cacheBits_;
      } else {
        cache = window;
      }
    }
    p_ = p;
    cache_ = cache;
    cacheBits_ = 32 - room;
    consumed_ += static_cast<uint64_t>(bitsBefore + 8 * (p - pBefore) + endBits - cacheBits_);
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

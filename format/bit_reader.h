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
    begin_ = data;
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

  // The bulk decoders' working state, kept in registers: a copy of the reader's cache, read
  // pointer and counters that decodes codes at most 16 bits long. window() holds the next bits
  // from bit 63 on, at least 17 of them the stream's; step(t) consumes the bits in the low six
  // bits of t (at most 16; the higher bits are ignored, so a table entry can be passed whole).
  // Work on a Run rather than on a reader: the caller's stores could otherwise alias the cache.
  //
  // One look-up's index waits only on the previous look-up's shift: the window is the cache
  // shifted, and the next word joins the cache (for the look-up after next) beside it. The
  // cache holds at least 33 bits before each shift, so the shifted window still holds the 17
  // the next look-up reads.
  class Run {
   public:
    explicit Run(const BitReader& r)
        : cache_(r.cache_),
          window_(r.cache_),
          room_(32 - r.cacheBits_),  // < 0 here and after every step
          p_(r.p_),
          p0_(r.p_),
          end_(r.end_),
          // Whole words are read while p < limit (none when fewer than four bytes are left).
          limit_(r.end_ - r.p_ >= 4 ? reinterpret_cast<uintptr_t>(r.end_) - 3 : 0),
          base_(static_cast<int64_t>(r.consumed_) + r.cacheBits_) {}

    uint64_t window() const { return window_; }

    void step(uint64_t t) {
      if (reinterpret_cast<uintptr_t>(p_) < limit_) {
        stepWithin(t);
        return;
      }
      window_ = cache_ << (t & 63);
      room_ += static_cast<int>(t & 63);
      if (room_ >= 0) {
        // The chunk's end: its final partial word (missing bytes zero), then zero words.
        uint32_t word = 0;
        int bytes = 0;
        for (; p_ < end_; ++bytes) word |= uint32_t(*p_++) << (8 * bytes);
        cache_ = window_ | uint64_t(word) << room_;
        endBits_ += 32 - 8 * bytes;
        room_ -= 32;
      } else {
        cache_ = window_;
      }
    }

    // A step for which a whole word is known to be left (see within).
    void stepWithin(uint64_t t) {
      window_ = cache_ << (t & 63);
      room_ += static_cast<int>(t & 63);
      // The next word joins the cache when 32 bits or fewer are left, without a branch on that:
      // it is taken every third step or so, at no pattern a predictor could follow.
      const uint32_t next =
          uint32_t(p_[0]) | uint32_t(p_[1]) << 8 | uint32_t(p_[2]) << 16 | uint32_t(p_[3]) << 24;
      const uint32_t need = ~static_cast<uint32_t>(room_ >> 31);  // all ones when room >= 0
      cache_ = window_ | uint64_t(next & need) << (room_ & 63);
      p_ += 4 & need;
      room_ -= static_cast<int>(32 & need);
    }

    // True when the next `steps` steps all find a whole word to read (they read at most
    // 2 * steps + 4 bytes) and stop before byte `stop` of the chunk.
    bool within(int steps, const uint8_t* stop) const {
      const uintptr_t after = reinterpret_cast<uintptr_t>(p_) + 2 * uintptr_t(steps) + 8;
      return after <= limit_ && after <= reinterpret_cast<uintptr_t>(stop);
    }

    // Bits consumed from the chunk's start, as bitPosition() would tell.
    uint64_t position() const {
      return static_cast<uint64_t>(base_ + 8 * (p_ - p0_) + endBits_ - (32 - room_));
    }

    // Stores the state back into r (the reader it was made from, or a copy of it).
    void finish(BitReader& r) const {
      r.p_ = p_;
      r.cache_ = cache_;
      r.cacheBits_ = 32 - room_;
      r.consumed_ = position();
    }

   private:
    uint64_t cache_;
    uint64_t window_;
    int room_;
    const uint8_t* p_;
    const uint8_t* p0_;
    const uint8_t* end_;
    uintptr_t limit_;
    int64_t base_;
    int64_t endBits_ = 0;  // zero bits the chunk's end added beyond its bytes
  };

  // Bulk decoding through a Run: while more() holds, consumes take(window).
  template <class More, class Take>
  void takeCodes(More more, Take take) {
    Run run(*this);
    while (more()) run.step(take(run.window()));
    run.finish(*this);
  }

  // A reader of the same chunk from bit `bit` on (within the chunk).
  BitReader at(uint64_t bit) const {
    BitReader r = *this;
    r.p_ = begin_ + bit / 32 * 4;
    r.consumed_ = bit / 32 * 32;
    r.cache_ = 0;
    r.cacheBits_ = 0;
    r.refill();
    r.skip(static_cast<int>(bit % 32));
    return r;
  }

  // True once more bits were consumed than the chunk holds.
  bool overrun() const { return consumed_ > totalBits_; }
  uint64_t bitPosition() const { return consumed_; }
  uint64_t totalBits() const { return totalBits_; }
  const uint8_t* begin() const { return begin_; }
  const uint8_t* end() const { return end_; }
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

  const uint8_t* begin_ = nullptr;
  const uint8_t* p_ = nullptr;
  const uint8_t* end_ = nullptr;
  uint64_t totalBits_ = 0;
  uint64_t consumed_ = 0;
  uint64_t cache_ = 0;  // next bit in bit 63
  int cacheBits_ = 0;
};

}  // namespace zov

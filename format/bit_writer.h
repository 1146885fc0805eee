// Writes fields as 32-bit little-endian words, most significant bit first: the inverse of
// BitReader. reset() keeps the capacity, so a writer reserved once allocates nothing per frame.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

namespace zov {

class BitWriter {
 public:
  explicit BitWriter(size_t reserveBytes = 0) { words_.reserve((reserveBytes + 3) / 4); }

  void reset() {
    words_.clear();
    acc_ = 0;
    accBits_ = 0;
  }
  void reserve(size_t bytes) { words_.reserve((bytes + 3) / 4); }

  // Writes the low n bits (0..32) of value, most significant first.
  void write(uint32_t value, int n) {
    if (n == 0) return;
    uint64_t v = n == 32 ? value : (value & ((uint32_t{1} << n) - 1));
    acc_ = (acc_ << n) | v;
    accBits_ += n;
    if (accBits_ >= 32) {
      accBits_ -= 32;
      words_.push_back(static_cast<uint32_t>(acc_ >> accBits_));
      acc_ &= (uint64_t{1} << accBits_) - 1;
    }
  }
  void writeBit(bool bit) { write(bit ? 1 : 0, 1); }
  void writeZeros(size_t n) {
    for (; n >= 32; n -= 32) write(0, 32);
    write(0, static_cast<int>(n));
  }

  // Appends a stream laid out in this writer's word alignment: bits 0 .. endBit - 1 of `words`
  // (most significant first), of which the first ones, as many as are pending here, are zero
  // and take the pending bits.
  void appendAligned(const uint32_t* words, uint64_t endBit) {
    const uint64_t full = endBit / 32;
    const int rest = static_cast<int>(endBit % 32);
    const uint32_t head =
        (accBits_ ? static_cast<uint32_t>(acc_ << (32 - accBits_)) : 0) | words[0];
    if (full > 0) {
      words_.push_back(head);
      words_.insert(words_.end(), words + 1, words + full);
    }
    acc_ = rest ? (full > 0 ? words[full] : head) >> (32 - rest) : 0;
    accBits_ = rest;
  }

  uint64_t bitCount() const { return uint64_t(words_.size()) * 32 + uint64_t(accBits_); }

  // Pads with zeros to the next word boundary and returns the bytes written so far.
  size_t finishWord() {
    if (accBits_ > 0) write(0, 32 - accBits_);
    return words_.size() * 4;
  }

  // The words written so far as little-endian bytes (after finishWord()).
  void copyBytes(uint8_t* out) const {
    if constexpr (std::endian::native == std::endian::little) {
      if (!words_.empty()) std::memcpy(out, words_.data(), words_.size() * 4);
      return;
    }
    for (uint32_t w : words_) {
      *out++ = uint8_t(w);
      *out++ = uint8_t(w >> 8);
      *out++ = uint8_t(w >> 16);
      *out++ = uint8_t(w >> 24);
    }
  }
  std::vector<uint8_t> bytes() const {
    std::vector<uint8_t> out(words_.size() * 4);
    copyBytes(out.data());
    return out;
  }
  const std::vector<uint32_t>& words() const { return words_; }

 private:
  std::vector<uint32_t> words_;
  uint64_t acc_ = 0;
  int accBits_ = 0;
};

}  // namespace zov

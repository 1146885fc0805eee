// The decoder's overlap test: one bit per pixel, set for every pixel a block of the frame covers.
// A row of 640 pixels is ten words, so testing or covering a block's row is a few word
// operations, and clearing a whole picture's worth is 38 KiB rather than one byte per pixel.
#pragma once

#include <cstdint>
#include <cstring>
#include <vector>

namespace zov {

class CoverBits {
 public:
  void resize(int width, int height) {
    words_ = (width + 63) / 64;
    bits_.assign(size_t(words_) * size_t(height), 0);
  }
  void clearRows(int first, int count) {
    std::memset(bits_.data() + size_t(first) * words_, 0, size_t(count) * words_ * 8);
  }
  // True when any of columns x .. x + n - 1 (n >= 1) of the row is covered.
  bool any(int row, int x, int n) const {
    const uint64_t* w = bits_.data() + size_t(row) * words_;
    const int a = x >> 6, b = (x + n - 1) >> 6;
    const uint64_t first = ~uint64_t{0} << (x & 63);
    const uint64_t last = ~uint64_t{0} >> (63 - ((x + n - 1) & 63));
    if (a == b) return (w[a] & first & last) != 0;
    uint64_t acc = (w[a] & first) | (w[b] & last);
    for (int k = a + 1; k < b; ++k) acc |= w[k];
    return acc != 0;
  }
  // Covers columns x .. x + n - 1 (n >= 1) of `rows` rows from `row` on, `step` rows apart, when
  // none of those pixels is covered yet; otherwise covers nothing and returns false. The masks
  // are worked out once for the whole block; a block within one word (most of them) costs a
  // test and a store per row. perRow(r) is called for each row r (0 .. rows - 1) as it is
  // covered, so that a caller's own work per row shares the loop.
  template <class PerRow>
  bool claim(int row, int step, int rows, int x, int n, PerRow&& perRow) {
    const int a = x >> 6, b = (x + n - 1) >> 6;
    const uint64_t first = ~uint64_t{0} << (x & 63);
    const uint64_t last = ~uint64_t{0} >> (63 - ((x + n - 1) & 63));
    const size_t stride = size_t(step) * size_t(words_);
    uint64_t* w = bits_.data() + size_t(row) * words_ + a;
    if (a == b) {
      const uint64_t mask = first & last;
      uint64_t acc = 0;
      for (int r = 0; r < rows; ++r) acc |= w[r * stride];
      if (acc & mask) return false;
      for (int r = 0; r < rows; ++r) {
        w[r * stride] |= mask;
        perRow(r);
      }
      return true;
    }
    for (int r = 0; r < rows; ++r)
      if (any(row + r * step, x, n)) return false;
    for (int r = 0; r < rows; ++r) {
      cover(row + r * step, x, n);
      perRow(r);
    }
    return true;
  }
  // claim in one pass for callers whose per-row work can be undone: each row is tested and
  // covered in turn; at a covered pixel undoRow(r) is called for each row done and it returns
  // false. The rows done stay covered: a frame is given up at its first fault, and the next one
  // clears the cover bits. One loop, so one end a predictor must guess.
  template <class PerRow, class UndoRow>
  bool claimOrUndo(int row, int step, int rows, int x, int n, PerRow&& perRow, UndoRow&& undoRow) {
    const int a = x >> 6, b = (x + n - 1) >> 6;
    auto fail = [&](int r) {
      for (int u = 0; u < r; ++u) undoRow(u);
      return false;
    };
    if (a == b) {
      const uint64_t mask =
          (~uint64_t{0} << (x & 63)) & (~uint64_t{0} >> (63 - ((x + n - 1) & 63)));
      const size_t stride = size_t(step) * size_t(words_);
      uint64_t* const w = bits_.data() + size_t(row) * words_ + a;
      for (int r = 0; r < rows; ++r) {
        if (w[r * stride] & mask) [[unlikely]]
          return fail(r);
        w[r * stride] |= mask;
        perRow(r);
      }
      return true;
    }
    for (int r = 0; r < rows; ++r) {
      if (any(row + r * step, x, n)) [[unlikely]]
        return fail(r);
      cover(row + r * step, x, n);
      perRow(r);
    }
    return true;
  }
  void cover(int row, int x, int n) {
    uint64_t* w = bits_.data() + size_t(row) * words_;
    const int a = x >> 6, b = (x + n - 1) >> 6;
    const uint64_t first = ~uint64_t{0} << (x & 63);
    const uint64_t last = ~uint64_t{0} >> (63 - ((x + n - 1) & 63));
    if (a == b) {
      w[a] |= first & last;
      return;
    }
    w[a] |= first;
    for (int k = a + 1; k < b; ++k) w[k] = ~uint64_t{0};
    w[b] |= last;
  }

 private:
  int words_ = 0;
  std::vector<uint64_t> bits_;
};

}  // namespace zov

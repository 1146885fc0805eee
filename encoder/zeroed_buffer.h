// A fixed-size array of plain values that starts as zeros without writing them.
//
// The encoder sets up some 30 MB of pictures, maps and streams when a run starts, most of which
// a given mode never touches or touches only in part (the symbol streams are sized for the
// worst frame). Zero-filling them with std::vector touched every page at start: some ten
// thousand page faults, a tenth of a second before the first frame. Large buffers are taken
// straight from the system as zero pages, which are mapped only when first used, in regions
// backed by huge pages where the system has them (one fault per 2 MB); the C library's calloc
// would give zero pages only while its heap has not yet been reused (a second run in the same
// process would pay the zero-fill again).
#pragma once

#include <cstddef>
#include <cstring>
#include <new>
#include <type_traits>
#include <utility>
#include <vector>

namespace zov {

// n zeroed elements of `size` bytes (null for none); throws std::bad_alloc.
void* allocateZeroed(size_t n, size_t size);
// Gives back what allocateZeroed returned for `bytes` = n * size.
void releaseZeroed(void* p, size_t bytes) noexcept;

template <class T>
class ZeroedBuffer {
  static_assert(std::is_trivially_copyable_v<T> && std::is_trivially_default_constructible_v<T>);

 public:
  ZeroedBuffer() = default;
  ZeroedBuffer(const ZeroedBuffer& o) { *this = o; }
  ZeroedBuffer& operator=(const ZeroedBuffer& o) {
    if (this != &o) {
      assign(o.size_, T{});
      if (size_) std::memcpy(data_, o.data_, size_ * sizeof(T));
    }
    return *this;
  }
  ZeroedBuffer(ZeroedBuffer&& o) noexcept
      : data_(std::exchange(o.data_, nullptr)), size_(std::exchange(o.size_, 0)) {}
  ZeroedBuffer& operator=(ZeroedBuffer&& o) noexcept {
    std::swap(data_, o.data_);
    std::swap(size_, o.size_);
    return *this;
  }
  ~ZeroedBuffer() { release(data_, size_); }
  void swap(ZeroedBuffer& o) noexcept {
    std::swap(data_, o.data_);
    std::swap(size_, o.size_);
  }

  // Replaces the contents with n copies of `value`; zeros cost no writes.
  void assign(size_t n, T value) {
    T* p = static_cast<T*>(allocateZeroed(n, sizeof(T)));
    release(data_, size_);
    data_ = p;
    size_ = n;
    if (value != T{})
      for (size_t i = 0; i < n; ++i) p[i] = value;
  }

  T* data() { return data_; }
  const T* data() const { return data_; }
  size_t size() const { return size_; }
  bool empty() const { return size_ == 0; }
  T& operator[](size_t i) { return data_[i]; }
  const T& operator[](size_t i) const { return data_[i]; }
  T* begin() { return data_; }
  T* end() { return data_ + size_; }
  const T* begin() const { return data_; }
  const T* end() const { return data_ + size_; }

  friend bool operator==(const ZeroedBuffer& a, const ZeroedBuffer& b) {
    return a.size_ == b.size_ && (!a.size_ || !std::memcmp(a.data_, b.data_, a.size_ * sizeof(T)));
  }
  friend bool operator==(const ZeroedBuffer& a, const std::vector<T>& b) {
    return a.size_ == b.size() &&
           (!a.size_ || !std::memcmp(a.data_, b.data(), a.size_ * sizeof(T)));
  }

 private:
  static void release(T* p, size_t n) { releaseZeroed(p, n * sizeof(T)); }

  T* data_ = nullptr;
  size_t size_ = 0;
};

}  // namespace zov

#include "encoder/zeroed_buffer.h"

#include <sys/mman.h>

#include <cstdint>
#include <cstdlib>
#include <new>

namespace zov {
namespace {

// Below this, the C library's heap serves the buffer better than a mapping of its own. Under
// the address checker every buffer comes from its heap, which fences each one in.
#if defined(__SANITIZE_ADDRESS__)
#define ZOV_ADDRESS_CHECKED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define ZOV_ADDRESS_CHECKED 1
#endif
#endif
#ifdef ZOV_ADDRESS_CHECKED
constexpr size_t kMappedBytes = SIZE_MAX;
#else
constexpr size_t kMappedBytes = size_t(256) << 10;
#endif

}  // namespace

void* allocateZeroed(size_t n, size_t size) {
  if (n == 0) return nullptr;
  if (n > SIZE_MAX / size) throw std::bad_alloc();
  const size_t bytes = n * size;
  void* p;
  if (bytes >= kMappedBytes) {
    p = mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (p == MAP_FAILED) p = nullptr;
  } else {
    p = std::calloc(n, size);
  }
  if (!p) throw std::bad_alloc();
  return p;
}

void releaseZeroed(void* p, size_t bytes) noexcept {
  if (!p) return;
  if (bytes >= kMappedBytes)
    munmap(p, bytes);
  else
    std::free(p);
}

}  // namespace zov

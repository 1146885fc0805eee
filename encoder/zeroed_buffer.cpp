#include "encoder/zeroed_buffer.h"

#include <sys/mman.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <mutex>
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

// Mappings given back, kept for a later run in the same process (the compressor's window, a
// codec session started again): that run finds its pages already mapped and pays a zero-fill
// instead of a page fault each. At most kKeptBytes in kKeptCount mappings are kept, the oldest
// given back going first; keeping them allocates nothing.
constexpr size_t kKeptBytes = size_t(96) << 20;
constexpr size_t kKeptCount = 64;
struct Kept {
  void* p;
  size_t bytes;
};
std::mutex keptMutex;
Kept kept[kKeptCount];  // oldest first
size_t keptCount = 0, keptBytes = 0;

void dropOldest() {
  keptBytes -= kept[0].bytes;
  std::memmove(kept, kept + 1, (keptCount - 1) * sizeof(Kept));
  --keptCount;
}

void* takeKept(size_t bytes) {
  std::lock_guard<std::mutex> lock(keptMutex);
  for (size_t i = keptCount; i-- > 0;)
    if (kept[i].bytes == bytes) {
      void* p = kept[i].p;
      std::memmove(kept + i, kept + i + 1, (keptCount - i - 1) * sizeof(Kept));
      --keptCount;
      keptBytes -= bytes;
      return p;
    }
  return nullptr;
}

}  // namespace

void* allocateZeroed(size_t n, size_t size) {
  if (n == 0) return nullptr;
  if (n > SIZE_MAX / size) throw std::bad_alloc();
  const size_t bytes = n * size;
  void* p = nullptr;
  if (bytes >= kMappedBytes) {
    if ((p = takeKept(bytes))) {
      std::memset(p, 0, bytes);
      return p;
    }
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
  if (bytes < kMappedBytes) {
    std::free(p);
    return;
  }
  Kept dropped[kKeptCount + 1];
  size_t drops = 0;
  {
    std::lock_guard<std::mutex> lock(keptMutex);
    if (keptCount == kKeptCount) {
      dropped[drops++] = kept[0];
      dropOldest();
    }
    kept[keptCount++] = {p, bytes};
    keptBytes += bytes;
    while (keptBytes > kKeptBytes) {
      dropped[drops++] = kept[0];
      dropOldest();
    }
  }
  for (size_t i = 0; i < drops; ++i) munmap(dropped[i].p, dropped[i].bytes);
}

}  // namespace zov

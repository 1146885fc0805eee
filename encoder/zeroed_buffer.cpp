#include "encoder/zeroed_buffer.h"

#include <sys/mman.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <new>
#include <vector>

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
// instead of a page fault each. At most kKeptBytes are kept, the oldest given back first.
constexpr size_t kKeptBytes = size_t(96) << 20;
struct Kept {
  void* p;
  size_t bytes;
};
std::mutex keptMutex;
size_t keptBytes = 0;
std::vector<Kept>& kept() {
  static auto* list = new std::vector<Kept>();  // never destroyed: runs may end at exit
  return *list;
}

void* takeKept(size_t bytes) {
  std::lock_guard<std::mutex> lock(keptMutex);
  std::vector<Kept>& k = kept();
  for (size_t i = k.size(); i-- > 0;)
    if (k[i].bytes == bytes) {
      void* p = k[i].p;
      k.erase(k.begin() + std::ptrdiff_t(i));
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
  std::vector<Kept> dropped;
  {
    std::lock_guard<std::mutex> lock(keptMutex);
    std::vector<Kept>& k = kept();
    // Room for the newest first; the oldest go when the bound is passed.
    try {
      k.push_back({p, bytes});
    } catch (...) {
      dropped.push_back({p, bytes});
    }
    keptBytes += bytes;
    while (keptBytes > kKeptBytes && !k.empty()) {
      keptBytes -= k.front().bytes;
      dropped.push_back(k.front());
      k.erase(k.begin());
    }
  }
  for (const Kept& d : dropped) munmap(d.p, d.bytes);
}

}  // namespace zov

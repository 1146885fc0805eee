#include "encoder/zeroed_buffer.h"

#include <sys/mman.h>

#include <algorithm>
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

// Large buffers are carved from regions aligned to the 2 MB of a huge page and marked for huge
// pages. A run's first frame then takes one page fault per 2 MB it touches rather than one per
// 4 KB: some five thousand faults fewer, each several microseconds on a virtual machine. Where
// the system gives no huge pages the regions are plain zero pages as before. A carved range
// never goes back to its region: given back, it is kept for a later run (below), and what drops
// off that list is unmapped (the system splits a huge page of which a part goes).
constexpr size_t kHugePage = size_t(2) << 20;
constexpr size_t kRegionBytes = size_t(32) << 20;
constexpr size_t kCarveStep = size_t(64) << 10;

size_t carvedBytes(size_t bytes) {
  return (bytes + kCarveStep - 1) / kCarveStep * kCarveStep;
}

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
std::mutex keptMutex;   // also guards the region being carved
Kept kept[kKeptCount];  // oldest first
size_t keptCount = 0, keptBytes = 0;
uintptr_t regionNext = 0, regionEnd = 0;

void dropOldest() {
  keptBytes -= kept[0].bytes;
  std::memmove(kept, kept + 1, (keptCount - 1) * sizeof(Kept));
  --keptCount;
}

void* takeKept(size_t bytes) {
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

// A new region of at least `bytes`, aligned to a huge page; false when the system has no room.
bool mapRegion(size_t bytes) {
  const size_t size = std::max(kRegionBytes, (bytes + kHugePage - 1) / kHugePage * kHugePage);
  void* q =
      mmap(nullptr, size + kHugePage, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (q == MAP_FAILED) return false;
  const uintptr_t start = uintptr_t(q), end = start + size + kHugePage;
  const uintptr_t aligned = (start + kHugePage - 1) & ~(kHugePage - 1);
  if (aligned > start) munmap(q, aligned - start);
  if (end > aligned + size) munmap(reinterpret_cast<void*>(aligned + size), end - aligned - size);
  // What is left of the previous region was never touched: give its addresses back.
  if (regionEnd > regionNext) munmap(reinterpret_cast<void*>(regionNext), regionEnd - regionNext);
#ifdef MADV_HUGEPAGE
  madvise(reinterpret_cast<void*>(aligned), size, MADV_HUGEPAGE);
#endif
  regionNext = aligned;
  regionEnd = aligned + size;
  return true;
}

void* carve(size_t bytes) {
  const size_t size = carvedBytes(bytes);
  if (regionEnd - regionNext < size && !mapRegion(size)) return nullptr;
  void* p = reinterpret_cast<void*>(regionNext);
  regionNext += size;
  return p;
}

}  // namespace

void* allocateZeroed(size_t n, size_t size) {
  if (n == 0) return nullptr;
  if (n > SIZE_MAX / size) throw std::bad_alloc();
  const size_t bytes = n * size;
  void* p = nullptr;
  if (bytes >= kMappedBytes) {
    bool reused;
    {
      std::lock_guard<std::mutex> lock(keptMutex);
      reused = (p = takeKept(bytes)) != nullptr;
      if (!reused) p = carve(bytes);
    }
    if (reused) std::memset(p, 0, bytes);
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
  for (size_t i = 0; i < drops; ++i) munmap(dropped[i].p, carvedBytes(dropped[i].bytes));
}

}  // namespace zov

#include "codec/support/failing_allocator.h"

#include <atomic>
#include <cstdlib>
#include <new>

namespace {

std::atomic<long> countdown{0};  // 0: off
std::atomic<long> made{0};
std::atomic<bool> failed{false};

// True when this allocation is the one to fail.
bool failThisOne() {
  if (countdown.load(std::memory_order_relaxed) == 0) return false;
  made.fetch_add(1, std::memory_order_relaxed);
  if (countdown.fetch_sub(1, std::memory_order_relaxed) != 1) return false;
  failed = true;
  return true;
}

void* allocate(std::size_t size) {
  if (failThisOne()) return nullptr;
  return std::malloc(size ? size : 1);
}

}  // namespace

namespace zov::test {

void failAllocation(long n) {
  made = 0;
  failed = false;
  countdown = n;
}

long stopFailingAllocations() {
  countdown = 0;
  return made;
}

bool allocationFailed() {
  return failed;
}

}  // namespace zov::test

void* operator new(std::size_t size) {
  if (void* p = allocate(size)) return p;
  throw std::bad_alloc();
}
void* operator new[](std::size_t size) {
  if (void* p = allocate(size)) return p;
  throw std::bad_alloc();
}
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
  return allocate(size);
}
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
  return allocate(size);
}
void operator delete(void* p) noexcept {
  std::free(p);
}
void operator delete[](void* p) noexcept {
  std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
  std::free(p);
}
void operator delete[](void* p, std::size_t) noexcept {
  std::free(p);
}
void operator delete(void* p, const std::nothrow_t&) noexcept {
  std::free(p);
}
void operator delete[](void* p, const std::nothrow_t&) noexcept {
  std::free(p);
}

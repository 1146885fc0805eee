#include "encoder/worker_pool.h"

#include <algorithm>

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#endif

namespace zov {

WorkerPool::WorkerPool(int threads)
    : seenFront_(size_t(std::max(threads, 1)), 0), seenBatch_(size_t(std::max(threads, 1)), 0) {
  // A helper is told the count: helpers_ is still growing while the first ones start.
  for (int w = 1; w < threads; ++w)
    helpers_.emplace_back([this, w, threads] { helperLoop(w, w == threads - 1); });
}

int WorkerPool::spinFor(uint64_t seen, int spins) const {
  for (; spins > 0; --spins) {
    if (events_.load(std::memory_order_acquire) != seen) return spins;
    // Now and then the core goes to whatever else wants it: on a busy machine the thread
    // waited for may be the one waiting for this core.
    if ((spins & 127) == 0) {
      std::this_thread::yield();
      continue;
    }
#if defined(__x86_64__) || defined(__i386__)
    _mm_pause();
#endif
  }
  return 0;
}

WorkerPool::~WorkerPool() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    quit_ = true;
    signal();
  }
  for (std::thread& t : helpers_) t.join();
}

void WorkerPool::join(Job& job, std::unique_lock<std::mutex>& lock, int worker, int asWorker) {
  ++job.inside;
  const TaskFn fn = job.fn;
  void* const context = job.context;
  const bool batch = &job == &batch_;
  lock.unlock();
  int mine = 0;
  for (int k = job.take(worker); k >= 0; k = job.take(worker)) {
    fn(context, k, asWorker);
    ++mine;
    if (batch && worker != 0) serve(worker);
  }
  lock.lock();
  job.done += mine;
  --job.inside;
  signal();
}

void WorkerPool::serve(int worker) {
  // Only this thread writes its own entry, so it may read it without the lock.
  if (frontPosted_.load(std::memory_order_acquire) == seenFront_[size_t(worker)]) return;
  std::unique_lock<std::mutex> lock(mutex_);
  const bool open = frontOpen(worker);
  seenFront_[size_t(worker)] = front_.generation;
  if (open) join(front_, lock, worker, worker);
}

void WorkerPool::helperLoop(int worker, bool asideHelper) {
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    wait(lock, [&] {
      return quit_ || frontOpen(worker) || (asideHelper && asideFn_ && !asideTaken_) ||
             (batch_.fn && batch_.generation != seenBatch_[size_t(worker)]);
    });
    if (quit_) return;
    if (frontOpen(worker)) {
      seenFront_[size_t(worker)] = front_.generation;
      join(front_, lock, worker, worker);
    } else if (asideHelper && asideFn_ && !asideTaken_) {
      asideTaken_ = true;
      void (*const fn)(void*) = asideFn_;
      void* const context = asideContext_;
      lock.unlock();
      fn(context);
      lock.lock();
      asideFn_ = nullptr;
      asideTaken_ = false;
      signal();
    } else {
      seenBatch_[size_t(worker)] = batch_.generation;
      join(batch_, lock, worker, worker);
    }
  }
}

void WorkerPool::runTasks(int count, TaskFn fn, void* context) {
  if (helpers_.empty() || count <= 1) {
    for (int k = 0; k < count; ++k) fn(context, k, 0);
    return;
  }
  {
    std::lock_guard<std::mutex> lock(mutex_);
    front_.fn = fn;
    front_.context = context;
    front_.count = count;
    front_.open(count);
    front_.done = 0;
    frontPosted_.store(++front_.generation, std::memory_order_release);
    signal();
  }
  // Helpers busy with the aside join between two of its tasks; the caller does not wait for
  // them, only for tasks already taken.
  int mine = 0;
  for (int k = front_.take(0); k >= 0; k = front_.take(0), ++mine) fn(context, k, 0);
  std::unique_lock<std::mutex> lock(mutex_);
  front_.done += mine;
  wait(lock, [&] { return front_.done == front_.count && front_.inside == 0; });
  front_.fn = nullptr;
}

void WorkerPool::startAsideFn(void (*fn)(void*), void* context) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    asideFn_ = fn;
    asideContext_ = context;
    asideTaken_ = false;
    signal();
  }
}

void WorkerPool::waitAside() {
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    wait(lock, [&] { return !asideFn_ || (batch_.fn && batch_.generation != seenBatch_[0]); });
    if (!asideFn_) return;
    seenBatch_[0] = batch_.generation;
    join(batch_, lock, 0, 0);
  }
}

void WorkerPool::runBatch(int count, TaskFn fn, void* context) {
  const int me = threads() - 1;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    batch_.fn = fn;
    batch_.context = context;
    batch_.count = count;
    batch_.open(count);
    batch_.done = 0;
    seenBatch_[size_t(me)] = ++batch_.generation;
    signal();
  }
  int mine = 0;
  for (int k = batch_.take(me); k >= 0; k = batch_.take(me)) {
    fn(context, k, threads());
    ++mine;
    serve(me);
  }
  std::unique_lock<std::mutex> lock(mutex_);
  batch_.done += mine;
  for (;;) {
    wait(lock,
         [&] { return (batch_.done == batch_.count && batch_.inside == 0) || frontOpen(me); });
    if (batch_.done == batch_.count && batch_.inside == 0) break;
    seenFront_[size_t(me)] = front_.generation;
    join(front_, lock, me, me);
  }
  batch_.fn = nullptr;
}

}  // namespace zov

// A fixed set of helper threads for splitting one frame's work into independent tasks, and for
// taking in the next picture beside it.
//
// run() hands out tasks 0..count-1 to the calling thread and the helpers as they become free
// (the caller from the end, the helpers from the start) and returns when every task is done. Tasks
// must write disjoint data; `worker` (0..threads-1) names the thread running the task, for
// per-thread scratch space. Results then do not depend on the number of threads or on the order in
// which tasks finish. With one thread no helper is started and the tasks run in order on the
// caller.
//
// The aside: one long task (the next picture's intake) that runs on the last helper while the
// caller codes a frame, without a thread of its own, so that the pool never has more threads
// running than it was given cores. The aside splits its work into batches (runAside); between
// two of its tasks the helper running it serves the caller's jobs first, and idle helpers and
// the caller, once it waits for the aside, take the batch's tasks too.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>
#include <type_traits>
#include <vector>

namespace zov {

class WorkerPool {
 public:
  explicit WorkerPool(int threads);
  ~WorkerPool();
  WorkerPool(const WorkerPool&) = delete;
  WorkerPool& operator=(const WorkerPool&) = delete;

  int threads() const { return int(helpers_.size()) + 1; }
  // `task(int task, int worker)`; nothing is allocated.
  template <class Task>
  void run(int count, Task&& task) {
    using T = std::remove_reference_t<Task>;
    runTasks(
        count, [](void* t, int k, int worker) { (*static_cast<T*>(t))(k, worker); },
        const_cast<void*>(static_cast<const void*>(&task)));
  }

  // Starts `task()` as the aside (threads() > 1; none may be running). `task` must live until
  // waitAside() returns.
  template <class Task>
  void startAside(Task& task) {
    startAsideFn([](void* t) { (*static_cast<Task*>(t))(); }, &task);
  }
  // Called by the caller: takes tasks of the aside's batches until the aside has ended.
  void waitAside();
  // Called from inside the aside: `task(int task, int worker)` for 0..count-1, where `worker`
  // is threads() on the aside's own helper and the worker number elsewhere.
  template <class Task>
  void runAside(int count, Task&& task) {
    using T = std::remove_reference_t<Task>;
    runBatch(
        count, [](void* t, int k, int worker) { (*static_cast<T*>(t))(k, worker); },
        const_cast<void*>(static_cast<const void*>(&task)));
  }

 private:
  using TaskFn = void (*)(void* context, int task, int worker);
  struct Job {
    TaskFn fn = nullptr;  // null while no job is open
    void* context = nullptr;
    int count = 0;
    // Tasks not yet taken: [low 32 bits, high 32 bits). The caller takes them from the end,
    // the helpers from the start, so that in job after job (and in the aside's batches) each
    // thread works on the same part of the picture, whose data its own cache holds.
    std::atomic<uint64_t> left{0};
    void open(int tasks) { left.store(uint64_t(uint32_t(tasks)) << 32); }
    // The next task for `worker`, or -1 when none is left.
    int take(int worker) {
      uint64_t l = left.load(std::memory_order_relaxed), taken;
      int k;
      do {
        const uint32_t first = uint32_t(l), end = uint32_t(l >> 32);
        if (first >= end) return -1;
        k = int(worker == 0 ? end - 1 : first);
        taken = worker == 0 ? l - (uint64_t(1) << 32) : l + 1;
      } while (!left.compare_exchange_weak(l, taken, std::memory_order_acq_rel,
                                           std::memory_order_relaxed));
      return k;
    }
    int done = 0;    // tasks finished
    int inside = 0;  // threads taking tasks of this job
    uint64_t generation = 0;
  };

  void runTasks(int count, TaskFn fn, void* context);
  void runBatch(int count, TaskFn fn, void* context);
  void startAsideFn(void (*fn)(void*), void* context);
  void helperLoop(int worker, bool asideHelper);
  // Takes tasks of `job` as `worker` until none are left; `lock` is held on entry and exit.
  void join(Job& job, std::unique_lock<std::mutex>& lock, int worker, int asWorker);
  // On a helper between two tasks of the aside: runs the caller's job if one is open.
  void serve(int worker);
  // Wakes the threads waiting in wait(); called with the lock held.
  void signal() {
    events_.fetch_add(1, std::memory_order_release);
    changed_.notify_all();
  }
  // changed_.wait(lock, ready), after a short spin without the lock: the threads hand each
  // other work many times a frame, and putting a thread to sleep and waking it costs more on
  // a virtual machine than the few microseconds the other usually needs.
  template <class Ready>
  void wait(std::unique_lock<std::mutex>& lock, Ready ready) {
    for (int spins = kSpins; !ready();) {
      if (spins == 0) {
        changed_.wait(lock, ready);
        return;
      }
      const uint64_t seen = events_.load(std::memory_order_relaxed);
      lock.unlock();
      spins = spinFor(seen, spins);
      lock.lock();
    }
  }
  // About 20 to 40 microseconds of pause instructions and a few yields: longer than most
  // hand-overs, short against a frame.
  static constexpr int kSpins = 1024;
  // Spins until events_ moves on from `seen` or `spins` run out; returns the spins left.
  int spinFor(uint64_t seen, int spins) const;
  bool frontOpen(int worker) const {
    return front_.fn && front_.generation != seenFront_[size_t(worker)];
  }

  std::vector<std::thread> helpers_;
  std::mutex mutex_;
  std::condition_variable changed_;
  Job front_;                                    // the caller's job (run)
  Job batch_;                                    // the aside's current batch (runAside)
  std::vector<uint64_t> seenFront_, seenBatch_;  // per worker: the last job / batch joined
  std::atomic<uint64_t> frontPosted_{0};         // front_.generation, read without the lock
  std::atomic<uint64_t> events_{0};              // counts signal()s, read without the lock
  void (*asideFn_)(void*) = nullptr;             // set from startAside until the aside ends
  void* asideContext_ = nullptr;
  bool asideTaken_ = false;
  bool quit_ = false;
};

}  // namespace zov

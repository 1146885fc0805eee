// A fixed set of helper threads for splitting one frame's work into independent tasks.
//
// run() hands out tasks 0..count-1 to the calling thread and the helpers as they become free
// and returns when every task is done. Tasks must write disjoint data; `worker` (0..threads-1)
// names the thread running the task, for per-thread scratch space. Results then do not depend
// on the number of threads or on the order in which tasks finish. With one thread no helper is
// started and the tasks run in order on the caller.
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

 private:
  using TaskFn = void (*)(void* context, int task, int worker);
  void runTasks(int count, TaskFn fn, void* context);
  void helperLoop(int worker);
  void work(int worker);

  std::vector<std::thread> helpers_;
  std::mutex mutex_;
  std::condition_variable wake_, done_;
  TaskFn fn_ = nullptr;
  void* context_ = nullptr;
  int count_ = 0;
  std::atomic<int> next_{0};
  int busy_ = 0;             // helpers still inside the current job
  uint64_t generation_ = 0;  // bumped for every job
  bool quit_ = false;
};

// One helper thread for a single task that runs beside the caller's own work: start() hands it
// over, wait() returns when it is done (at once when none was started).
class BackgroundTask {
 public:
  BackgroundTask();
  ~BackgroundTask();
  BackgroundTask(const BackgroundTask&) = delete;
  BackgroundTask& operator=(const BackgroundTask&) = delete;

  template <class Task>
  void start(Task& task) {
    startFn([](void* t) { (*static_cast<Task*>(t))(); }, &task);
  }
  void wait();

 private:
  void startFn(void (*fn)(void*), void* context);
  std::mutex mutex_;
  std::condition_variable changed_;
  void (*fn_)(void*) = nullptr;
  void* context_ = nullptr;
  bool quit_ = false;
  std::thread thread_;
};

}  // namespace zov

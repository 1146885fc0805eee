#include "encoder/worker_pool.h"

namespace zov {

WorkerPool::WorkerPool(int threads) {
  for (int w = 1; w < threads; ++w) helpers_.emplace_back([this, w] { helperLoop(w); });
}

WorkerPool::~WorkerPool() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    quit_ = true;
  }
  wake_.notify_all();
  for (std::thread& t : helpers_) t.join();
}

void WorkerPool::work(int worker) {
  for (int k = next_.fetch_add(1); k < count_; k = next_.fetch_add(1)) fn_(context_, k, worker);
}

void WorkerPool::helperLoop(int worker) {
  uint64_t seen = 0;
  for (;;) {
    {
      std::unique_lock<std::mutex> lock(mutex_);
      wake_.wait(lock, [&] { return quit_ || generation_ != seen; });
      if (quit_) return;
      seen = generation_;
    }
    work(worker);
    std::lock_guard<std::mutex> lock(mutex_);
    if (--busy_ == 0) done_.notify_one();
  }
}

void WorkerPool::runTasks(int count, TaskFn fn, void* context) {
  if (helpers_.empty() || count <= 1) {
    for (int k = 0; k < count; ++k) fn(context, k, 0);
    return;
  }
  {
    std::lock_guard<std::mutex> lock(mutex_);
    fn_ = fn;
    context_ = context;
    count_ = count;
    next_.store(0);
    busy_ = int(helpers_.size());
    ++generation_;
  }
  wake_.notify_all();
  work(0);
  std::unique_lock<std::mutex> lock(mutex_);
  done_.wait(lock, [&] { return busy_ == 0; });
  fn_ = nullptr;
}

BackgroundTask::BackgroundTask() {
  thread_ = std::thread([this] {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
      changed_.wait(lock, [&] { return quit_ || fn_; });
      if (quit_) return;
      lock.unlock();
      fn_(context_);
      lock.lock();
      fn_ = nullptr;
      changed_.notify_all();
    }
  });
}

BackgroundTask::~BackgroundTask() {
  wait();
  {
    std::lock_guard<std::mutex> lock(mutex_);
    quit_ = true;
  }
  changed_.notify_all();
  thread_.join();
}

void BackgroundTask::startFn(void (*fn)(void*), void* context) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    fn_ = fn;
    context_ = context;
  }
  changed_.notify_all();
}

void BackgroundTask::wait() {
  std::unique_lock<std::mutex> lock(mutex_);
  changed_.wait(lock, [&] { return fn_ == nullptr; });
}

}  // namespace zov

// Where a compression run spends its time: reading source frames and audio, the filters (which
// run inside the read), coding, and writing the output. Cheap enough to run always: one clock
// read on each side of a stage. Counters are atomic so a display may read them during a run.
#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>

namespace zov {

enum class RunStage : int { Read = 0, Filter, Encode, Write, Count };

class RunStageTimes {
 public:
  void add(RunStage stage, std::chrono::steady_clock::duration d) {
    ns_[size_t(stage)] += std::chrono::duration_cast<std::chrono::nanoseconds>(d).count();
  }
  double seconds(RunStage stage) const { return double(ns_[size_t(stage)]) * 1e-9; }
  // Reading without the filters applied inside it.
  double readOnlySeconds() const {
    const double r = seconds(RunStage::Read) - seconds(RunStage::Filter);
    return r > 0 ? r : 0;
  }
  void clear() {
    for (auto& n : ns_) n = 0;
  }

  // Adds the time from construction to destruction to one stage.
  class Scope {
   public:
    Scope(RunStageTimes& times, RunStage stage)
        : times_(times), stage_(stage), start_(std::chrono::steady_clock::now()) {}
    ~Scope() { times_.add(stage_, std::chrono::steady_clock::now() - start_); }
    Scope(const Scope&) = delete;
    Scope& operator=(const Scope&) = delete;

   private:
    RunStageTimes& times_;
    RunStage stage_;
    std::chrono::steady_clock::time_point start_;
  };

 private:
  std::array<std::atomic<int64_t>, size_t(RunStage::Count)> ns_{};
};

}  // namespace zov

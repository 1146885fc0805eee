// What the command line reports of a run for programs that read it: one JSON progress object
// per frame and a JSON summary at the end.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace zov {

struct RunProgress;
class RunStageTimes;

// {"frame":N,"total":M,"bytes":B,"fps":F,"elapsed":S,"eta":S}; total and eta are null while a
// stream's length is unknown
std::string progressJson(const RunProgress& progress);

struct RunSummary {
  uint32_t frames = 0;
  uint64_t bytes = 0;       // the output file's length
  uint64_t videoBytes = 0;  // the coded frames' data
  uint32_t width = 0, height = 0;
  double movieSeconds = 0;     // the frames' playing time
  double seconds = 0;          // the run's wall-clock time
  std::optional<double> psnr;  // when the output was verified
  double readSeconds = 0, filterSeconds = 0, encodeSeconds = 0, writeSeconds = 0;
  std::string exitReason;  // "finished", "stopped by SIGTERM", "failed" ...
  int exitStatus = 0;

  double framesPerSecond() const { return seconds > 0 ? frames / seconds : 0; }
  double kilobitsPerSecond() const {
    return movieSeconds > 0 ? bytes * 8.0 / 1000.0 / movieSeconds : 0;
  }
  double bitsPerPixel() const;
};

std::string summaryJson(const RunSummary& summary);

}  // namespace zov

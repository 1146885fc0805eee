// What the compressor's window shows of a run in its status bar: the progress while it runs
// (frames, speed, elapsed time, time left) and how it ended (finished or stopped, with the
// output's size).
#pragma once

#include <cstdint>
#include <string>

namespace zov {

struct RunProgressFigures {
  uint32_t done = 0, total = 0;
  double elapsedSeconds = 0;
};

// "m:ss", or "h:mm:ss" from an hour on.
std::string clockTime(double seconds);
// "Frame 12 of 45, 14.2 fps, elapsed 0:03, about 0:07 left" (the speed and the time left once a
// frame is done).
std::string runProgressText(const RunProgressFigures& figures);

enum class RunEnd { Finished, Stopped, Failed };
// "Finished: 45 frames in 0:03, output 1.2 MB", "Stopped after 12 of 45 frames: output 300 KB",
// "Compression failed after 3 of 45 frames".
std::string runEndText(RunEnd end, const RunProgressFigures& figures, uint64_t outputBytes);
// Bytes as "812 bytes", "300 KB", "1.2 MB".
std::string byteSize(uint64_t bytes);

}  // namespace zov

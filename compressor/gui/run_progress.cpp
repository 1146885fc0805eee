#include "compressor/gui/run_progress.h"

#include <cmath>
#include <cstdio>

namespace zov {

std::string clockTime(double seconds) {
  const long s = std::lround(std::max(0.0, seconds));
  char text[32];
  if (s >= 3600)
    std::snprintf(text, sizeof text, "%ld:%02ld:%02ld", s / 3600, s / 60 % 60, s % 60);
  else
    std::snprintf(text, sizeof text, "%ld:%02ld", s / 60, s % 60);
  return text;
}

std::string runProgressText(const RunProgressFigures& f) {
  std::string text = "Frame " + std::to_string(f.done) + " of " + std::to_string(f.total);
  if (f.done > 0 && f.elapsedSeconds > 0) {
    const double fps = f.done / f.elapsedSeconds;
    char speed[32];
    std::snprintf(speed, sizeof speed, ", %.1f fps", fps);
    text += speed;
    text += ", elapsed " + clockTime(f.elapsedSeconds);
    if (f.total > f.done) text += ", about " + clockTime((f.total - f.done) / fps) + " left";
  } else {
    text += ", elapsed " + clockTime(f.elapsedSeconds);
  }
  return text;
}

std::string byteSize(uint64_t bytes) {
  char text[32];
  if (bytes < 1024)
    std::snprintf(text, sizeof text, "%llu bytes", (unsigned long long)bytes);
  else if (bytes < 1024 * 1024)
    std::snprintf(text, sizeof text, "%llu KB", (unsigned long long)((bytes + 512) / 1024));
  else
    std::snprintf(text, sizeof text, "%.1f MB", bytes / (1024.0 * 1024.0));
  return text;
}

std::string runEndText(RunEnd end, const RunProgressFigures& f, uint64_t outputBytes) {
  const std::string frames = std::to_string(f.done) + " of " + std::to_string(f.total) + " frames";
  switch (end) {
    case RunEnd::Finished:
      return "Finished: " + std::to_string(f.done) + " frames in " + clockTime(f.elapsedSeconds) +
             ", output " + byteSize(outputBytes);
    case RunEnd::Stopped:
      return "Stopped after " + frames + ": output " + byteSize(outputBytes);
    default:
      return "Compression failed after " + frames;
  }
}

}  // namespace zov

// The compressor window's state without widgets: the source list and the current frame, the
// settings, the message store and status lines, navigation and marks, the frame title, and the
// compression run with its start, suspend and stop protocols. The window shows this state and
// forwards the user's commands; tests drive it directly.
#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "compressor/gui/compressor_commands.h"
#include "compressor/gui/run_progress.h"
#include "encoder/compression_run.h"
#include "media/source_file.h"

namespace zov {

class SourceFileRunSource;

// The message window's status lines.
inline constexpr int kStatusLineCount = 6;

// What the protocols need of the window: boxes, beeps, and a way to keep the window alive while
// the window thread waits. Tests replace every member.
struct SessionHooks {
  // A message box; returns the button pressed (IDYES, IDOK ...).
  std::function<int(const std::string& text, const std::string& title, uint32_t style)> box;
  // A tone (frequency in Hz, duration in ms).
  std::function<void(int hz, int ms)> beep;
  // Dispatches pending window messages.
  std::function<void()> pump;
  std::function<void(int ms)> sleep;
};

// Called from any thread (the run's worker included): the window queues a repaint.
struct SessionObserver {
  std::function<void()> messagesChanged;  // message store or status lines
  std::function<void()> frameChanged;     // current frame or source (the run shows frames)
  std::function<void()> runStateChanged;  // a run started or ended, suspended or resumed
  // Each record written, with the run-wide frame number (worker thread).
  std::function<void(uint32_t frame, const std::array<uint8_t, 40>& format, const uint8_t* data,
                     uint32_t length, bool key)>
      record;
};

// The stop protocol's steps, with the waiting made replaceable for tests.
struct StopProtocol {
  std::function<bool()> threadRunning;  // the run's thread still runs
  std::function<void()> requestStop;
  std::function<void()> pump;
  std::function<void(int ms)> sleep;
  std::function<void(const std::string&)> addMessage;
  std::function<int(const std::string& text, const std::string& title, uint32_t style)> box;
  std::function<void()> abandon;  // the run did not end in time
  int passes = 240;
};
enum class StopResult { Stopped, NoRun, Refused, Cancelled, TimedOut };
StopResult runStopProtocol(const StopProtocol& p, bool confirm, std::atomic<bool>& inProgress);

// Status line 0..2 of the input window for a frame of a source (number 1-based). Line 2 is
// rewritten only on key frames: empty when it keeps its text.
std::string inputInfoLine0(uint32_t sourceNumber, uint32_t width, uint32_t height, uint32_t frame,
                           uint32_t frameCount, bool keyFrame);
std::string inputInfoLine1(double framesPerSecond, uint32_t rawSize);
// `header`: the stored frame's first bytes (null when it can't be read).
std::string inputInfoLine2(const SourceFile& source, const uint8_t* header, size_t size,
                           bool keyInIndex);

// The frame title: "(no file open)", the source's file name, and " --> " target.
std::string frameTitle(const std::string& sourcePath, const std::string& targetPath);

// The folder part of a chosen file: up to and including its last "/".
std::string folderOf(const std::string& path);

// The recent-files list after opening `path`: it moves to the front, duplicates go.
void rememberRecentFile(std::array<std::string, 8>& recall, const std::string& path);

class CompressorSession {
 public:
  CompressorSession();
  ~CompressorSession();
  CompressorSession(const CompressorSession&) = delete;
  CompressorSession& operator=(const CompressorSession&) = delete;

  void setHooks(SessionHooks hooks) { hooks_ = std::move(hooks); }
  void setObserver(SessionObserver observer) { observer_ = std::move(observer); }

  CompressionSettings& settings() { return settings_; }
  CompressorOptions& options() { return options_; }

  // ---- Sources ----
  std::vector<std::unique_ptr<SourceFile>>& sources() { return sources_; }
  size_t sourceCount() const { return sources_.size(); }
  SourceFile* currentSource() const;
  size_t currentIndex() const { return current_; }
  uint32_t currentFrame() const { return currentFrame_; }
  bool allSourcesZov2() const;
  CommandState commandState(bool filterViewExists) const;

  // Opens one source in place of the list; false (after the reader's messages) when it can't be
  // opened or a compression runs.
  bool openSource(const std::string& path);
  // Closes the single source.
  bool closeSource();
  // After the edit-list dialog changed the list.
  void listChanged(size_t current);
  // Previous / next segment of an edit list (beeps when there is none).
  void stepSegment(bool forward);

  // ---- The input window ----
  // Navigation commands 210..213, 267, 268; beeps and returns false when refused.
  bool navigate(int command);
  // Moves to a frame (absolute, 0-based); beeps when refused.
  bool gotoFrame(uint32_t frame);
  void markIn();
  void markOut();
  // Status lines 0..2 for the current frame.
  void refreshInputInfo();

  // ---- Messages ----
  RunMessageLog& messages() { return messages_; }
  void addMessage(const std::string& line);
  std::string statusLine(int line) const;
  void setStatusLine(int line, const std::string& text);
  int statusLinesShown() const { return options_.CutOffKBLimitNotify ? 6 : 5; }

  // ---- Compression ----
  bool compressing() { return run_.active(); }
  bool suspended() const { return run_.suspended(); }
  CompressionRun& run() { return run_; }
  RunMode runMode() const { return mode_; }
  const std::string& target() const { return target_; }
  // The checks before a run (sources, mix, frame format); false after their messages.
  bool prepareCompression(RunMode mode);
  // Starts the run into `path` (after prepareCompression).
  bool startCompression(RunMode mode, const std::string& path);
  // The window's title: the frame title, with the progress while a run is active.
  std::string windowTitle();
  void suspend();
  StopResult stop(bool confirm);
  // Waits for the run's end (tests, shut-down).
  int waitForRun();
  // The letterbox heights of the run's first segment.
  uint32_t runLetterTop() const { return runLetterTop_; }
  uint32_t runLetterBottom() const { return runLetterBottom_; }
  // The run-wide frame's source and frame within it.
  SourceFile* locateRunFrame(uint32_t frame, uint32_t* local) const;
  bool chromaRunBegun() const { return chromaRunBegun_; }
  // After the run's thread ended: clears the target (and deletes a failed stream or block
  // output). The window calls it when it sees the run gone; nothing while one runs.
  void finishRun();
  // The running compression's figures, and the status text of the run shown last (its progress
  // while it runs, how it ended afterwards; empty before the first run).
  RunProgressFigures runFigures() const;
  std::string runStateText() const;
  bool runEnded() const { return !lastEnd_.empty(); }

 private:
  void notifyFrame();
  void notifyMessages();
  void beep(int hz, int ms);

  SessionHooks hooks_;
  SessionObserver observer_;
  CompressionSettings settings_;
  CompressorOptions options_;
  std::vector<std::unique_ptr<SourceFile>> sources_;
  std::atomic<size_t> current_{0};
  std::atomic<uint32_t> currentFrame_{0};
  RunMessageLog messages_;
  mutable std::mutex statusMutex_;
  std::array<std::string, kStatusLineCount> status_;

  CompressionRun run_;
  RunMode mode_ = RunMode::Compress;
  std::string target_;
  std::vector<std::unique_ptr<SourceFileRunSource>> runSources_;
  std::atomic<bool> stopping_{false};
  uint32_t runLetterTop_ = 0, runLetterBottom_ = 0;
  bool chromaRunBegun_ = false;
  std::atomic<uint32_t> framesDone_{0}, framesTotal_{0};
  std::chrono::steady_clock::time_point runStarted_{};
  double runSeconds_ = 0;  // the last run's length, once it ended
  bool stopRequested_ = false;
  std::string lastEnd_;
};

}  // namespace zov

// The compression run: turns the current source (one file or the segments of an edit list) into
// one output file on a worker thread of its own.
//
// The run pulls frames and audio through RunSource (the compressor implements it over its source
// reader), decides key frames, calls the ZOV2 encoder, interleaves the audio, writes through the
// output writer and reports progress as message lines and status texts. It knows no window: the
// application (or the command line) installs callbacks for lines, status panes and message boxes.
//
// Control follows the window's three locks: the worker holds the run lock for the whole run, passes
// the suspend gate before every frame (it blocks there while the run is suspended) and probes the
// stop request before every record (a stop ends the run after the current frame, as if the last
// frame had been reached; the file is finished and playable).
#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "encoder/avi_writer.h"
#include "encoder/avi_writer_format.h"
#include "encoder/compression_settings.h"
#include "encoder/frame_read_ahead.h"
#include "encoder/run_stage_times.h"
#include "encoder/zeroed_buffer.h"

namespace zov {

// What a run needs to know of one source before it starts.
struct RunSourceInfo {
  uint32_t frameCount = 0;  // frames to compress (after the source's frame range)
  // Read once, in order, as the frames arrive (a stream on standard input): frameCount is an
  // upper bound and ended() finds the end. Only the last source of a batch may be streamed.
  bool streamed = false;
  uint32_t microSecPerFrame = 0;
  uint32_t fileRate = 0, fileScale = 0;
  uint32_t letterBoxTop = 0, letterBoxBottom = 0;
  uint32_t audioPreloadFrames = 0;
  bool hasAudio = false;
  AviStreamHeader audioStreamInfo;
  std::vector<uint8_t> audioFormat;
  std::array<uint8_t, 40> videoFormat{};  // the stored stream's 40-byte format (modes 1 to 3)
};

// One source of the batch. Frame numbers are relative to the source's frame range. Every call
// reports its own failures (message box) and returns false.
class RunSource {
 public:
  virtual ~RunSource() = default;
  virtual RunSourceInfo info() = 0;
  // The frame ready for coding: a 40-byte bitmap header (width, height, image size) followed by
  // the 15-bit pixels, bottom-up, cropped, stripped, resized and filtered.
  virtual bool frame(uint32_t frame, std::vector<uint8_t>& bitmap) = 0;
  // The stored frame as it is in the file, and its key flag.
  virtual bool storedFrame(uint32_t frame, std::vector<uint8_t>& data, bool* keyFrame) = 0;
  virtual bool isKeyFrame(uint32_t frame) = 0;
  // The audio that goes with a frame (appended to `data`).
  virtual bool audio(uint32_t frame, std::vector<uint8_t>& data) = 0;
  // A streamed source: whether it ends before `frame` (which then is no failure of frame()).
  virtual bool ended(uint32_t /*frame*/) { return false; }
  // The input window's frame display; nothing to do without a window.
  virtual void show(uint32_t /*frame*/) {}
};

// The message window's line store: the last 50 lines of at most 255 characters, each copied to
// the log file when one is open. Safe to use from several threads.
class RunMessageLog {
 public:
  static constexpr size_t kMaxLines = 50;
  static constexpr size_t kMaxChars = 255;
  ~RunMessageLog();
  void add(const std::string& line);
  std::vector<std::string> lines() const;
  bool openLog(const std::string& path);
  void closeLog();

 private:
  mutable std::mutex mutex_;
  std::deque<std::string> lines_;
  std::FILE* log_ = nullptr;
};

// Figures of one reported frame, for progress displays.
struct RunProgress {
  uint32_t done = 0;        // frames written
  uint32_t frameCount = 0;  // 0 while a streamed source's length is unknown
  uint64_t rawBytes = 0, outputBytes = 0, audioBytes = 0;
  double elapsedSeconds = 0;
  double microSecPerFrame = 0;
};

struct RunCallbacks {
  std::function<void(const std::string&)> line;              // after the store took it
  std::function<void(int pane, const std::string&)> status;  // status panes
  std::function<void(const RunProgress&)> progress;
  // Message boxes of the run ("ZOV Compressor"); default: platform messageBox.
  std::function<void(const std::string&)> error;
  // The filter list applied to the background bitmap (may be empty).
  std::function<void(uint16_t* pixels, int width, int height)> applyFilters;
  // The encoder's reconstruction of each coded frame and the run's difference figure (mode 0).
  std::function<void(uint32_t frame, double rmsPercent)> rms;
  // Each record's video as written (modes 0 to 2) with the stream's 40-byte format, for the
  // window's output previews. Called on the worker thread; length 0 is a skipped frame.
  std::function<void(uint32_t frame, const std::array<uint8_t, 40>& format, const uint8_t* data,
                     uint32_t length, bool key)>
      record;
};

struct RunRequest {
  RunMode mode = RunMode::Compress;
  std::string outputPath;
  std::vector<RunSource*> sources;  // the batch, in order; must outlive the run
  CompressionSettings* settings = nullptr;
  CompressorOptions options;
  bool verify = false;          // decode every frame and compare with the reconstruction
  uint64_t firstRiffLimit = 0;  // for tests: where the OpenDML parts begin (0: 4 GB)
  // Modes 2 and 3 (stream and block files) from sources that hold no ZOV2: the frames are
  // compressed as in mode 0 and written in the mode's file instead of being copied.
  bool compressFirst = false;
  bool computeRms = false;
};

// Returns false, after its message box (caption "ZOV Compressor"), when a frame with this
// header can't be compressed. `header` is a 40-byte bitmap information header or null.
bool CheckCompressible(const uint8_t* header);
// The same checks with the message handed to `report` (which returns false).
bool CheckCompressible(const uint8_t* header,
                       const std::function<bool(const std::string&)>& report);

// The difference picture of the RMS view: letterbox lines white, every other pixel grey with
// level 31 - d / 3, d = |(R+G+B of the source) - (R+G+B of the decoded)|. Returns the sum of d
// and sets `compared` to the number of pixels compared. Pictures are bottom-up; `decoded` holds
// the letterbox lines, `source` only the picture.
uint64_t rmsDifference(const uint16_t* source, const uint16_t* decoded, int width, int height,
                       uint32_t letterTop, uint32_t letterBottom, uint32_t fieldType,
                       std::vector<uint16_t>* picture, uint64_t* compared);
// The figure shown as "RMS Difference: %2.2f%%": the mean difference as a share of the largest
// possible one, 100 x sum / (93 x compared).
double rmsPercent(uint64_t sum, uint64_t compared);

class CompressionRun {
 public:
  CompressionRun() = default;
  ~CompressionRun();
  CompressionRun(const CompressionRun&) = delete;
  CompressionRun& operator=(const CompressionRun&) = delete;

  // Starts the worker; false when a run is active.
  bool start(RunRequest request, RunCallbacks callbacks);
  // Runs on the calling thread; 0 or -1.
  int runHere(RunRequest request, RunCallbacks callbacks);
  // Waits for the worker; the run's result (0 or -1).
  int wait();

  void suspend();
  void resume();
  // Ends the run after the current frame (a suspended run is released first).
  void stop();
  bool active();
  // Like active(), but while the run is active waits up to `timeout` for it to end, returning
  // as soon as it does.
  bool activeAfter(std::chrono::milliseconds timeout);
  bool suspended() const { return suspended_; }

  RunMessageLog& messages() { return log_; }
  std::string status(int pane) const;
  uint32_t framesWritten() const { return framesWritten_; }
  uint64_t outputBytes() const { return outputBytes_; }
  uint64_t rawBytes() const { return rawBytes_; }
  // Time spent in each stage since the run started. The run times reading, coding and writing;
  // whoever applies the filters inside the source's reads adds the Filter stage.
  RunStageTimes& stageTimes() { return times_; }

 private:
  int compressionThread();
  int runCompression();
  int runBlockFile();
  // frameCount_ and streamed_ from the batch.
  void countFrames();
  bool startEncoder(ZeroedBuffer<uint8_t>& out);
  // The read-ahead, the run's settings and, when coding, the encoder (`out` its buffer).
  void startReadAhead();
  bool prepareSettings(const RunSourceInfo& first, ZeroedBuffer<uint8_t>& out);
  bool compressOneFrame(uint32_t n, ZeroedBuffer<uint8_t>& out, uint32_t* length, bool* key,
                        uint32_t* bitmapLength);
  bool isKeyFrame(uint32_t n);
  // Frames are coded by the encoder (mode 0, or modes 2 and 3 with compressFirst).
  bool coding() const { return req_.mode == RunMode::Compress || req_.compressFirst; }
  // A streamed source ends before batch frame n (the run then ends there).
  bool endsBefore(uint32_t n);
  bool locate(uint32_t n, size_t* file, uint32_t* local);
  // The same, reporting "<code> Effective frame not located" when n lies beyond the sources.
  bool locate(uint32_t n, size_t* file, uint32_t* local, const char* code);
  bool getSourceFrame(uint32_t n, std::vector<uint8_t>& bitmap);
  bool readSourceFrame(uint32_t n, std::vector<uint8_t>& bitmap);
  // The read-ahead's read (under sourceMutex_): a frame it cannot locate goes to unlocated_.
  bool readAheadFrame(uint32_t n, std::vector<uint8_t>& bitmap);
  // Held around every call on the sources while frames are read ahead (else empty).
  std::unique_lock<std::mutex> sourceLock();
  bool getCompressedFrame(uint32_t n, std::vector<uint8_t>& data, bool* key);
  bool getAudioBlock(uint32_t n, std::vector<uint8_t>& data);
  bool getAudioRange(uint32_t first, uint32_t last, std::vector<uint8_t>& data);
  void showFrame(uint32_t n);
  void add(const std::string& line);
  void setStatus(int pane, const std::string& text);
  void report(const std::string& text);
  void passSuspendGate();
  void cleanup();
  bool fillWriterSettings(AviWriterSettings& w, uint32_t width, uint32_t height);
  // The writer's errors, status and messages go to the run's own log and status lines.
  WriterCallbacks writerCallbacks();
  // Opens an output writer (the AVI writer or the block-file writer) under the write timer;
  // a writer that fails to open is abandoned.
  template <class Writer>
  bool openWriter(Writer& writer, const AviWriterSettings& ws) {
    bool opened;
    {
      RunStageTimes::Scope timer(times_, RunStage::Write);
      opened = writer.open(ws, writerCallbacks());
    }
    if (!opened) writer.abandon();
    return opened;
  }
  void reportRecord(uint32_t i, uint32_t length, bool key, uint32_t bitmapLength,
                    uint32_t imageSize);
  void reportStatus(uint32_t i);

  RunRequest req_;
  RunCallbacks cb_;
  RunMessageLog log_;
  std::thread worker_;
  std::timed_mutex runMutex_;
  std::mutex gateMutex_;
  std::condition_variable gate_;
  bool suspended_ = false;
  std::atomic<bool> stopRequested_{false};
  bool stopFlag_ = false;
  int result_ = 0;
  mutable std::mutex statusMutex_;
  std::array<std::string, 6> status_;

  uint32_t frameCount_ = 0;  // an upper bound while streamed_
  bool streamed_ = false;
  uint32_t width_ = 0, height_ = 0;  // picture, without letterbox lines
  std::atomic<uint32_t> framesWritten_{0};
  std::atomic<uint64_t> rawBytes_{0}, outputBytes_{0};
  uint64_t audioBytes_ = 0;
  double startSeconds_ = 0;
  bool firstEncoderCall_ = true;
  bool backgroundBitmap_ = false;
  std::vector<uint8_t> sourceBitmap_;
  bool firstFrameHeld_ = false;  // sourceBitmap_ holds frame 0, read for the movie's format
  RunStageTimes times_;
  std::mutex sourceMutex_;
  std::vector<uint32_t> unlocated_;        // frames the read-ahead could not locate (sourceMutex_)
  std::unique_ptr<FrameReadAhead> ahead_;  // while coding
};

}  // namespace zov

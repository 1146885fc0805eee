// One opened source file of the compressor: its checks at opening, its extraction settings
// (frame range, crop, letterbox, resize, field stripping), and what it serves the rest of the
// application: decoded, cropped, converted and resized frames, raw stored frames, PCM audio
// converted as the audio options ask, and per-second data-rate samples.
//
// Several threads use a source at once (the views and the compression run), so video operations
// hold the video lock and audio operations the audio lock. At most two sources have their file
// open at a time (the open-file table); a source whose file was closed reopens it on demand. An
// operation in progress keeps the file it started with alive, so the table may close a source
// while another thread still reads from it.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "encoder/avi_writer_format.h"
#include "media/media_file.h"
#include "media/video_decoder.h"

namespace zov {

struct CompressorOptions;

// The audio options of the source reader ("MixToMono", "Make8Bit", "SampleRate").
struct SourceAudioOptions {
  bool mixToMono = false;
  bool make8Bit = false;
  uint32_t sampleRate = 0;
};
SourceAudioOptions audioOptionsFrom(const CompressorOptions& options);

// Process-wide hooks of the source reader, installed by the application.
struct SourceEnvironment {
  // "RemoveAudio" of section "General", read each time a file is opened.
  std::function<bool()> removeAudio;
  // The audio options in force.
  std::function<SourceAudioOptions()> audioOptions;
  // The filter list, applied to 15-bit frames in place (lines in stored order).
  std::function<void(uint16_t* pixels, int width, int height)> applyFilters;
  // Called when a closed file can't be reopened: the window ends the application.
  std::function<void()> reopenFailed;
};
void setSourceEnvironment(SourceEnvironment environment);

// Resize target and stripping as the resize step uses them (exposed for tests).
void resizeFrame15(const uint16_t* src, int w, int h, uint16_t* dst, int W, int H,
                   bool interpolate);
// One line of 24-bit BGR or 32-bit BGRx pixels to 15-bit colour by the nearest-colour rule
// (16-bit pixels keep their 15 low bits).
void convertRowTo15Fast(const uint8_t* src, int bitsPerPixel, int width, uint16_t* dst);
// Field stripping in place: keeps stored lines 2k (type 1) or 2k+1 (type 2); returns h / 2.
int stripFields15(uint16_t* pixels, int w, int h, int stripType);

class SourceFile {
 public:
  // Runs every check of opening; `Opened` tells success. A WAV file may give the audio of a
  // YUV4MPEG2 source ("-" reads YUV4MPEG2 from standard input).
  explicit SourceFile(const std::string& path, const std::string& audioPath = "");
  ~SourceFile();
  SourceFile(const SourceFile&) = delete;
  SourceFile& operator=(const SourceFile&) = delete;

  // ---- Record (field names as the settings and the dialogs use them) ----
  uint32_t AudioChannels = 0;
  uint32_t AudioBlockAlign = 0;
  uint32_t AudioLength = 0;
  uint32_t AudioRate = 0;
  bool HasAudio = false;
  bool AudioIsPcm = false;
  bool Opened = false;
  uint32_t FrameCount = 0;
  uint32_t Width = 0, Height = 0;
  uint32_t CropX = 0, CropY = 0, CropWidth = 0, CropHeight = 0;
  uint32_t ExtractionStart = 0, ExtractionEnd = 0;
  uint32_t FileRate = 0, FileScale = 0;
  uint32_t BitCount = 0;
  uint32_t OutputBitCount = 16;
  uint32_t AudioPreloadFrames = 0;
  uint32_t MicroSecPerFrame = 0;
  uint32_t LetterBoxTop = 0, LetterBoxBottom = 0;
  std::string Handler;  // the video stream's handler FourCC, 4 characters
  // Standard input: read once, in order; FrameCount is an upper bound until the stream ends.
  bool Streamed = false;
  bool FormatV4 = false, Chroma = false, Chroma1st = false, NeedsSpecial = false;
  bool SingleFieldSource = false, WideFieldSource = false;
  uint32_t ResizeWidth = 0, ResizeHeight = 0;
  bool ResizeInterpolate = true;
  uint32_t ResizeStripType = 0;  // 0 none, 1 strip odd fields, 2 strip even fields
  uint32_t RateSampleCount = 0;
  std::vector<uint16_t> RateSamples;
  uint32_t RateMinKB = 0, RateMaxKB = 0, RateAverageKB = 0;
  int64_t CachedFirstFrame = -1, CachedLastFrame = -1;
  std::atomic<uint32_t> CurrentFrame{0};
  std::string Path;
  std::string AudioPath;

  // ---- Video ----
  // A packed bitmap: 40-byte header then the pixels, lines packed. `frame` is relative to
  // ExtractionStart; the Absolute variant takes the file's frame number.
  bool getFrame(uint32_t frame, std::vector<uint8_t>& bitmap, bool* keyFrame, bool convertTo16,
                bool applyFilters, bool applyResize);
  bool getFrameAbsolute(uint32_t frame, std::vector<uint8_t>& bitmap, bool* keyFrame,
                        bool convertTo16, bool applyFilters, bool applyResize);
  bool isKeyFrame(uint32_t frame);
  bool isKeyFrameAbsolute(uint32_t frame);
  // Size of the stored frame, or -1 after reporting AVC0024E.
  int64_t rawFrameSize(uint32_t frame);
  // The stream's 40-byte format followed by the stored frame, image size set to the data size.
  bool readRawFrame(uint32_t frame, std::vector<uint8_t>& buffer, bool* keyFrame);
  bool readRawFrameAbsolute(uint32_t frame, std::vector<uint8_t>& buffer, bool* keyFrame);
  bool readVideoFormat(std::array<uint8_t, 40>& format);
  // Whether a streamed source ends before relative frame `frame` (reading on up to it); always
  // false for a file.
  bool streamEndsBefore(uint32_t frame);

  // ---- Audio ----
  // The audio stream's information and format, adjusted to the effective audio.
  bool audioStreamInfo(AviStreamHeader& info);
  uint32_t audioFormatSize();
  bool readAudioFormat(std::vector<uint8_t>& format);
  // Bytes that readAudioForFrame returns for a relative frame; 0 after reporting.
  uint32_t audioBytesForFrame(uint32_t frame);
  bool readAudioForFrame(uint32_t frame, std::vector<uint8_t>& buffer, uint32_t* size);
  // 8-bit mono audio of an absolute frame for the level display; channel 1 or 2 picks one
  // channel of stereo, anything else averages them.
  bool readAudioForDisplay(uint32_t frame, std::vector<uint8_t>& buffer, uint32_t* size,
                           int channel);

  // ---- Data rate ----
  bool sampleDataRate();

  // ---- Derived values ----
  uint32_t framesToCompress() const { return ExtractionEnd - ExtractionStart + 1; }
  uint32_t outputWidth() const { return ResizeWidth ? ResizeWidth : CropWidth; }
  uint32_t pictureHeight() const;
  uint32_t outputHeight() const { return pictureHeight() + LetterBoxTop + LetterBoxBottom; }
  uint32_t effectiveChannels() const;
  uint32_t effectiveSampleRate() const;
  uint32_t effectiveBlockAlign() const;
  double audioSamplesPerFrame() const;
  // FileRate / FileScale: frames per second.
  double framesPerSecond() const;
  uint32_t audioSamplesForRange() const;

  // Closes the file (the record stays); the next operation reopens it.
  void closeFile();
  bool fileIsOpen() const;

 private:
  // One opening of the file. A reader keeps the state it took until it is done, even when the
  // open-file table closes the file meanwhile or the other stream's reader opens it again.
  struct OpenState {
    std::shared_ptr<MediaFile> file;
    std::shared_ptr<VideoDecoder> decoder;
    bool audio = false;
    // Under videoLock_: the frame this opening's decoder holds (delta-coded sources), and the
    // frame whose picture decoded_ holds from this opening.
    int64_t lastDecoded = -1;
    int64_t heldFrame = -1;
  };
  using StatePtr = std::shared_ptr<OpenState>;

  // The new opening, or null when the file can't be opened.
  StatePtr openFile(bool firstOpen);
  StatePtr ensureOpen();
  StatePtr currentState() const;
  void releaseState();
  bool decodeFrame(const StatePtr& st, uint32_t frame, DecodedFrame& out);
  bool getFrameLocked(const StatePtr& st, uint32_t frame, std::vector<uint8_t>& bitmap,
                      bool* keyFrame, bool convertTo16, bool applyFilters, bool applyResize);
  bool readRawLocked(const StatePtr& st, uint32_t frame, std::vector<uint8_t>& buffer,
                     bool* keyFrame);
  double sourceSamplesPerFrame() const;
  bool audioRange(uint32_t absFrame, uint64_t* start, uint64_t* count) const;
  uint32_t downsampleFactor(const SourceAudioOptions& o) const;
  bool isPcm16() const;

  std::mutex videoLock_;
  std::mutex audioLock_;
  mutable std::mutex stateMutex_;
  StatePtr state_;
  // Kept from frame to frame (under videoLock_) so that reading a frame allocates nothing.
  DecodedFrame decoded_;
  std::vector<uint8_t> stored_;
  friend class OpenFileTable;
};

}  // namespace zov

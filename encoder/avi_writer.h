// The output AVI file writer of a compression run.
//
// Mode 0 (compress) and mode 1 (no recompression) write a RIFF AVI file laid out for CD-ROM play:
// the first record's data start on a 2048-byte boundary, records can be padded to the next
// boundary with 'JUNK', and the finished file is a multiple of 2048 bytes long. Mode 2 writes the
// ZEV stream file of the network movie source: the same headers, then raw movie data and a raw
// index of 8-byte entries. (Mode 3, the block file, has its own writer: encoder/block_file.h.)
//
// Index entries go to a temporary file beside the output as frames are written, so memory use
// does not grow with the movie; finishing copies them into the output in bounded blocks. The
// temporary file has no name once created: it can't collide with the user's files nor outlive
// the run.
//
// Every failure is reported once through the error callback with its CTR message and the call
// returns failure; the caller stops the run.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "encoder/avi_writer_format.h"
#include "encoder/riff_writer.h"

namespace zov {

struct CompressionSettings;

enum class RunMode : int { Compress = 0, NoRecompression = 1, ZevStream = 2, BlockFile = 3 };

// What the writer needs from the run, the first source file and the options.
struct AviWriterSettings {
  RunMode mode = RunMode::Compress;
  std::string path;
  uint32_t microSecPerFrame = 0;  // the first source's MicroSecPerFrame
  uint32_t fileScale = 0;         // the first source's FileScale and FileRate
  uint32_t fileRate = 0;
  uint32_t width = 0;   // output width
  uint32_t height = 0;  // output height including the letterbox lines
  uint32_t audioPreloadFrames = 0;
  bool cdromTarget = false;  // "CDROMTarget"
  uint32_t reportPad = 0;    // "ReportPad"
  uint32_t cutOffKBLimit = 0;
  bool cutOffKBLimitNotify = false;
  // Mode 0: the compression word of the video format (see outputCompressionWord).
  uint32_t compressionWord = 0;
  // A background bitmap is given: the compression buffer holds two pictures.
  bool backgroundBitmap = false;
  // Modes 1 to 3: the source stream's own 40-byte video format.
  std::array<uint8_t, 40> sourceVideoFormat{};
  // Audio is written: the source has audio and "NoAudio" is off.
  bool withAudio = false;
  AviStreamHeader audioStreamInfo;   // the source audio stream's (effective) information
  std::vector<uint8_t> audioFormat;  // the source audio format, whole
};

// Where the writer's texts go: message boxes for errors, the status area, the message window.
struct WriterCallbacks {
  std::function<void(const std::string&)> error;
  std::function<void(const std::string&)> status;
  std::function<void(const std::string&)> message;
};

// The compression word of a mode-0 stream: 'v','2' in the upper half, then the stream flags.
uint32_t outputCompressionWord(const CompressionSettings& settings);

// Creates the temporary index in the output's folder under a fresh name of the system's choosing
// and unlinks it at once; the descriptor, or -1 with `error` set.
int createTemporaryIndex(const std::string& outputPath, int* error);

// Results of writeFrameRecord.
enum : int { kRecordWritten = 0, kRecordError = 1, kRecordSizeLimit = 2 };

class AviWriter {
 public:
  AviWriter() = default;
  ~AviWriter();
  AviWriter(const AviWriter&) = delete;
  AviWriter& operator=(const AviWriter&) = delete;

  // Creates the output and the temporary index and writes everything up to the 'movi' list.
  bool open(const AviWriterSettings& settings, WriterCallbacks callbacks);

  // Writes one frame record; returns kRecordWritten, kRecordError (reported) or
  // kRecordSizeLimit (nothing of the record written). `video` may be null only with length 0
  // (a frame skipped by data-rate control); audio of length 0 writes no audio chunk.
  int writeFrameRecord(const uint8_t* video, uint32_t videoLength, const uint8_t* audio,
                       uint32_t audioLength, bool keyFrame, uint32_t frameNumber);
  // Writes an audio-only record of the audio preload: no video chunk and no video index entry.
  int writeAudioRecord(const uint8_t* audio, uint32_t audioLength, uint32_t frameNumber);

  // Ends the movie: index, RIFF size, zero trail pad and the header fix-ups.
  bool finish();
  // Closes everything after a failure and deletes the temporary index; in modes 2 and 3 the
  // partial output is deleted too.
  void abandon();

  // Chunk writers of the file layout; both return the offset of the chunk relative to `base`
  // (in mode 2 the absolute position for movie data), or 0 after reporting an error.
  uint32_t writeHeaderChunk(FourCC id, const void* data, uint32_t length, uint64_t base);
  uint32_t writeMoviChunk(FourCC id, const void* data, uint32_t length, uint64_t base);
  // Brings the end of file to `target` modulo 2048 with one 'JUNK' chunk.
  bool alignWithJunk(uint32_t target);

  // The run's compression output buffer (width x height x 2 + 40, doubled picture with a
  // background bitmap).
  std::vector<uint8_t>& compressionBuffer() { return compressionBuffer_; }

  uint64_t moviBase() const { return moviBase_; }
  uint32_t framesWritten() const { return framesWritten_; }
  uint32_t largestRecord() const { return largestRecord_; }
  uint32_t largestVideoChunk() const { return largestVideo_; }
  uint32_t largestAudioChunk() const { return largestAudio_; }
  uint64_t totalAudioBytes() const { return totalAudio_; }
  uint32_t lastPadding() const { return lastPadding_; }

 private:
  int writeRecord(bool withVideoChunk, const uint8_t* video, uint32_t videoLength,
                  const uint8_t* audio, uint32_t audioLength, bool keyFrame, uint32_t frameNumber);

  bool fail(const std::string& text);
  bool writeIndexBytes(const uint8_t* data, size_t size);
  bool copyIndexIntoOutput();
  bool fixUpHeaders();
  bool zevMode() const { return settings_.mode == RunMode::ZevStream; }
  bool recordLists() const { return settings_.withAudio && !zevMode(); }

  AviWriterSettings settings_;
  WriterCallbacks callbacks_;
  RiffWriter file_;
  int indexFd_ = -1;
  int systemError_ = 0;  // errno of a failed index or unlink call
  uint64_t indexSize_ = 0;
  std::vector<uint8_t> padding_;
  std::vector<uint8_t> compressionBuffer_;

  RiffWriter::Chunk riff_, movi_;
  uint64_t avihOffset_ = 0, videoStrhOffset_ = 0, audioStrhOffset_ = 0;
  AviMainHeader avih_;
  AviStreamHeader videoStrh_, audioStrh_;
  uint64_t moviBase_ = 0;

  uint32_t largestRecord_ = 0, largestVideo_ = 0, largestAudio_ = 0;
  uint64_t totalAudio_ = 0;
  uint32_t framesWritten_ = 0;
  uint32_t lastPadding_ = 0;
  bool opened_ = false;
  bool finished_ = false;
  bool failed_ = false;  // an error was reported; the file is not written further
};

}  // namespace zov

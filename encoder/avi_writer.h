// The output AVI file writer of a compression run.
//
// Mode 0 (compress) and mode 1 (no recompression) write a RIFF AVI file laid out for CD-ROM play:
// the first record's data start on a 2048-byte boundary, records can be padded to the next
// boundary with 'JUNK', and the finished file is a multiple of 2048 bytes long. Mode 2 writes the
// ZEV stream file of the network movie source: the same headers, then raw movie data and a raw
// index of 8-byte entries. (Mode 3, the block file, has its own writer: encoder/block_file.h.)
//
// A movie that would carry the first RIFF past its 4 GB limit goes on in the OpenDML layout
// (modes 0 and 1): further 'AVIX' RIFF parts of up to 1 GB, a standard index ('ix00', 'ix01')
// at the end of each part's movie list, and super indexes ('indx') and the 'odml' header list
// written over space the header reserves for them as 'JUNK'. The first part keeps its legacy
// 'idx1' for readers that know nothing else.
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
#include "encoder/zeroed_buffer.h"

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
  // The header reserves room for the OpenDML indexes (modes 0 and 1): the run asks for it when
  // the movie could pass the first RIFF's limit. Without it such a movie ends at the limit.
  bool openDmlReserve = false;
  // Where the first RIFF ends and the OpenDML parts begin; 0 for the format's own 4 GB. Tests
  // lower it to cross into the later parts with small files.
  uint64_t firstRiffLimit = 0;
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

// Why nothing can be written at `path`: a folder, a device, a pipe or anything else that is no
// regular file (an output file is finished by seeking back to its headers, and the old file at
// the path is replaced, which must never remove a device). Empty for a regular file, a link to
// one, or nothing at all.
std::string outputFileProblem(const std::string& path);

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
  ZeroedBuffer<uint8_t>& compressionBuffer() { return compressionBuffer_; }

  uint64_t moviBase() const { return moviBase_; }
  uint32_t framesWritten() const { return framesWritten_; }
  uint32_t largestRecord() const { return largestRecord_; }
  uint32_t largestVideoChunk() const { return largestVideo_; }
  uint32_t largestAudioChunk() const { return largestAudio_; }
  uint64_t totalAudioBytes() const { return totalAudio_; }
  uint32_t lastPadding() const { return lastPadding_; }

  // The header space reserved for OpenDML: a super index per stream and the 'odml' list.
  static constexpr uint32_t kSuperIndexEntries = 256;
  static constexpr uint32_t kSuperIndexData = 24 + 16 * kSuperIndexEntries;
  static constexpr uint32_t kOdmlData = 260;
  // The movie went on past the first RIFF.
  bool openDml() const { return openDml_; }

 private:
  int writeRecord(bool withVideoChunk, const uint8_t* video, uint32_t videoLength,
                  const uint8_t* audio, uint32_t audioLength, bool keyFrame, uint32_t frameNumber);

  bool fail(const std::string& text);
  bool writeIndexBytes(const uint8_t* data, size_t size);
  bool copyIndexIntoOutput();
  bool fixUpHeaders();
  bool zevMode() const { return settings_.mode == RunMode::ZevStream; }

  // ---- OpenDML (avi_writer_opendml.cpp) ----
  struct PartEntry {
    uint32_t offset;  // of the chunk data, from the part's movie base
    uint32_t size;    // bit 31 set: not a key frame
  };
  struct SuperEntry {
    uint64_t offset;  // of the standard index chunk
    uint32_t size;    // its whole length, header included
    uint32_t duration;
  };
  // Space for the super index of a stream (in its 'strl') and for the 'odml' list.
  bool reserveOpenDml(uint64_t* offset, uint32_t dataLength);
  // Whether a record of at most `recordBytes` still fits the current RIFF with its indexes.
  bool recordFitsPart(uint64_t recordBytes) const;
  // Ends the current RIFF (its standard indexes, for the first also 'idx1') and opens the
  // next 'AVIX' part; false when the super index is full (the size limit) or on an error.
  bool startNextPart();
  bool writeFirstPartIndexes();
  bool writePartIndexes();
  bool writeStandardIndex(FourCC ixId, FourCC chunkId, const std::vector<PartEntry>& entries,
                          uint32_t duration, std::vector<SuperEntry>& super);
  bool writeSuperIndexes();
  uint32_t audioUnit() const;
  bool recordLists() const { return settings_.withAudio && !zevMode(); }

  AviWriterSettings settings_;
  WriterCallbacks callbacks_;
  RiffWriter file_;
  int indexFd_ = -1;
  int systemError_ = 0;  // errno of a failed index or unlink call
  uint64_t indexSize_ = 0;
  std::vector<uint8_t> padding_;
  ZeroedBuffer<uint8_t> compressionBuffer_;  // zero pages: reserved, touched only when used

  RiffWriter::Chunk riff_, movi_;
  uint64_t avihOffset_ = 0, videoStrhOffset_ = 0, audioStrhOffset_ = 0;
  AviMainHeader avih_;
  AviStreamHeader videoStrh_, audioStrh_;
  uint64_t moviBase_ = 0;

  uint32_t largestRecord_ = 0, largestVideo_ = 0, largestAudio_ = 0;
  uint64_t totalAudio_ = 0;
  uint32_t framesWritten_ = 0;
  uint32_t lastPadding_ = 0;
  bool openDml_ = false;  // the first RIFF is closed; the movie goes on in 'AVIX' parts
  uint64_t videoIndxOffset_ = 0, audioIndxOffset_ = 0, odmlOffset_ = 0;
  uint64_t partStart_ = 0;
  uint64_t partAudioBytes_ = 0;
  uint32_t firstPartFrames_ = 0, audioChunks_ = 0;
  std::vector<PartEntry> partVideo_, partAudio_;
  std::vector<SuperEntry> superVideo_, superAudio_;
  bool opened_ = false;
  bool finished_ = false;
  bool failed_ = false;  // an error was reported; the file is not written further
};

}  // namespace zov

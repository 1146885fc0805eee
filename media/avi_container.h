// The AVI container reader behind the source reader.
//
// Reads AVI 1.0 files with an 'idx1' index, OpenDML files (super and standard indexes
// 'indx'/'ix##', 'AVIX' continuation parts) and files whose index is missing, cut short or
// wrong: then the 'movi' lists are scanned, so the output of a compression that was killed
// before it wrote its index still opens. Everything read from the file is bounded by the file's
// size; a hostile file gives an error text, never a crash or a huge allocation.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "media/media_file.h"

namespace zov {

class AviContainer : public MediaFile {
 public:
  // Where an entry's data lie in the file.
  struct Entry {
    uint64_t offset = 0;  // data position (after the chunk header)
    uint32_t size = 0;
    bool key = false;
  };
  // How the index of a stream was found.
  enum class IndexSource { None, OpenDml, Idx1, Scan };

  ~AviContainer() override;

  // Opens `path`; on failure returns null and sets `error` to a short reason.
  static std::unique_ptr<AviContainer> open(const std::string& path, std::string* error);
  // Parses an in-memory file (used by the fuzz target): the bytes are copied.
  static std::unique_ptr<AviContainer> openMemory(const uint8_t* data, size_t size,
                                                  std::string* error);

  uint32_t microSecPerFrame() const override;
  bool hasVideo() const override { return video_.present; }
  const AviStreamHeader& videoHeader() const override { return video_.header; }
  const std::vector<uint8_t>& videoFormat() const override { return video_.format; }
  uint32_t frameCount() const override { return uint32_t(video_.entries.size()); }
  int64_t frameSize(uint32_t n) const override;
  bool isKeyFrame(uint32_t n) const override;
  uint32_t previousKeyFrame(uint32_t n) const override;
  bool readFrame(uint32_t n, std::vector<uint8_t>& out) const override;

  bool hasAudio() const override { return audio_.present; }
  const AviStreamHeader& audioHeader() const override { return audio_.header; }
  const std::vector<uint8_t>& audioFormat() const override { return audio_.format; }
  uint64_t audioLength() const override;
  size_t readAudio(uint64_t start, uint64_t count, std::vector<uint8_t>& out) const override;

  const AviMainHeader& mainHeader() const { return main_; }
  IndexSource indexSource() const { return indexSource_; }
  const std::vector<Entry>& videoEntries() const { return video_.entries; }
  const std::vector<Entry>& audioEntries() const { return audio_.entries; }
  uint32_t audioBlockAlign() const { return audio_.blockAlign; }

 private:
  struct Stream {
    bool present = false;
    int number = -1;  // position among the file's 'strl' lists
    AviStreamHeader header;
    std::vector<uint8_t> format;
    std::vector<uint8_t> superIndex;  // the 'indx' chunk's data
    std::vector<Entry> entries;
    std::vector<uint32_t> keyFrames;   // video: numbers of the key frames, ascending
    std::vector<uint64_t> byteStarts;  // audio: first byte of each entry in the stream
    uint64_t totalBytes = 0;
    uint32_t blockAlign = 1;
  };
  struct Range {
    uint64_t begin = 0;  // first byte after the list's form type
    uint64_t end = 0;
    uint64_t formPos = 0;  // position of the 'movi' form type
  };

  AviContainer() = default;
  bool parse(std::string* error);
  bool parseHeaderList(const uint8_t* data, size_t size, int depth, std::string* error);
  bool readAt(uint64_t offset, void* buf, size_t size) const;
  bool loadOpenDmlIndex(Stream& s);
  bool loadStandardIndex(Stream& s, uint64_t pos, uint32_t size);
  bool loadIdx1();
  void scanMovie();
  void addEntry(int streamNumber, FourCC id, uint64_t dataPos, uint32_t size, bool keyFlag,
                bool useKeyFlag);
  void finishStreams();

  int fd_ = -1;
  std::vector<uint8_t> memory_;  // openMemory's copy
  bool inMemory_ = false;
  uint64_t fileSize_ = 0;
  AviMainHeader main_;
  std::vector<AviStreamHeader> streamHeaders_;
  Stream video_, audio_;
  std::vector<Range> movies_;
  uint64_t idx1Pos_ = 0, idx1Size_ = 0;
  bool idx1Present_ = false;
  IndexSource indexSource_ = IndexSource::None;
};

// True for stored video whose every frame stands alone (uncompressed, YUV, Motion-JPEG).
bool isIntraOnlyCompression(uint32_t compression);

}  // namespace zov

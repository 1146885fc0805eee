// The block file (run mode 3): stored frames packed into blocks of at most 130,920 bytes, for a
// player that reads one whole block per request. The layout is described in docs/BLOCK_FILE.md.
//
// Video and audio are gathered in two buffers; a buffer is written out as one block when the
// next piece does not fit, and both are written at the end. The 80-byte header at the start of
// the file is written last, when the counts are known.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "encoder/avi_writer.h"

namespace zov {

inline constexpr uint32_t kBlockFileMaxBlock = 130920;
inline constexpr uint32_t kBlockFileHeaderSize = 80;
inline constexpr uint32_t kBlockFileVideoBit = 0x80000000u;  // in a block's first word
inline constexpr uint32_t kBlockFileKeyBit = 0x80000000u;    // in a video frame's size
inline constexpr uint32_t kBlockFileVersion = 1;
inline constexpr uint32_t kBlockFileFlagAudio = 0x1;

// The header, in file order (all values 32-bit little-endian unless said otherwise).
struct BlockFileHeader {
  uint32_t magic = makeFourCC("ZOVB");
  uint32_t headerSize = kBlockFileHeaderSize;
  uint32_t version = kBlockFileVersion;
  uint32_t flags = 0;
  uint32_t microSecPerFrame = 0;
  uint32_t scale = 0;  // frame rate = rate / scale
  uint32_t rate = 0;
  uint32_t width = 0;
  uint32_t height = 0;
  uint32_t compression = 0;  // biCompression of the video format (the stream format word)
  uint32_t frames = 0;
  uint32_t videoBlocks = 0;
  uint32_t audioBlocks = 0;
  uint32_t largestBlock = 0;  // bytes, first word included
  uint32_t audioRate = 0;     // samples per second
  uint16_t audioChannels = 0;
  uint16_t audioBits = 0;
  uint32_t audioBytes = 0;
  uint32_t audioPreloadFrames = 0;
  uint32_t maxBlock = kBlockFileMaxBlock;
  uint32_t reserved = 0;

  std::array<uint8_t, kBlockFileHeaderSize> pack() const;
  static BlockFileHeader unpack(const uint8_t* p);
};

class BlockFileWriter {
 public:
  BlockFileWriter() = default;
  ~BlockFileWriter();
  BlockFileWriter(const BlockFileWriter&) = delete;
  BlockFileWriter& operator=(const BlockFileWriter&) = delete;

  // Uses path, timing, size, the source video format and the audio fields of the settings.
  bool open(const AviWriterSettings& settings, WriterCallbacks callbacks);
  // Adds one frame and its audio; kRecordWritten or kRecordError (reported).
  int writeFrame(const uint8_t* video, uint32_t videoLength, bool keyFrame, const uint8_t* audio,
                 uint32_t audioLength, uint32_t frameNumber);
  // Writes the open blocks and the header.
  bool finish();
  // Closes and deletes the partial file (never a file that open() did not create).
  void abandon();

  uint32_t framesWritten() const { return header_.frames; }

 private:
  struct Block {
    std::vector<uint32_t> sizes;
    std::vector<uint8_t> data;
    size_t bytes() const { return 8 + 4 * sizes.size() + data.size(); }
  };
  bool fail(const std::string& text, int cause = 0);
  bool writeAll(const void* data, size_t size);
  bool flush(Block& block, bool video);
  bool add(Block& block, bool video, const uint8_t* data, uint32_t length, uint32_t sizeWord,
           uint32_t frameNumber);

  AviWriterSettings settings_;
  WriterCallbacks callbacks_;
  int fd_ = -1;
  bool created_ = false;  // the file at the path is this writer's, and abandon() removes it
  bool finished_ = false;
  BlockFileHeader header_;
  Block video_, audio_;
};

}  // namespace zov

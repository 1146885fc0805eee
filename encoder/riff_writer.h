// A RIFF file writer with create-chunk/ascend semantics over buffered POSIX file I/O.
//
// Chunks are created at the current position with a placeholder size; ascending from a chunk
// writes the pad byte that an odd data length needs, fills in the real size and moves to the end
// of the chunk. Positions are 64-bit; RIFF sizes are 32-bit, which the AVI writer keeps within
// bounds through its size cut-off.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "encoder/avi_writer_format.h"

namespace zov {

class RiffWriter {
 public:
  // A chunk opened by createChunk: its id, the position of its header and of its data.
  struct Chunk {
    FourCC id = 0;
    FourCC formType = 0;  // for RIFF and LIST chunks
    uint64_t headerOffset = 0;
    uint64_t dataOffset = 0;
  };

  RiffWriter() = default;
  ~RiffWriter();
  RiffWriter(const RiffWriter&) = delete;
  RiffWriter& operator=(const RiffWriter&) = delete;

  // Creates (truncating) the file for writing. False on failure (errno tells why).
  bool create(const std::string& path);
  bool isOpen() const { return fd_ >= 0; }
  // Flushes and closes; false when a buffered write failed.
  bool close();

  // Starts a chunk at the current position. For "RIFF" and "LIST" the form type follows the
  // header and belongs to the data.
  bool createChunk(Chunk& chunk, FourCC id);
  bool createList(Chunk& chunk, FourCC listId, FourCC formType);
  // Ends the chunk at the current position: pad byte for an odd size, size field, and the
  // position moves to the byte after the chunk.
  bool ascend(const Chunk& chunk);

  bool write(const void* data, size_t size);
  // Writes `count` zero bytes.
  bool writeZeros(uint64_t count);
  // Moves the write position (the next write goes there). The file end is kept.
  bool seek(uint64_t position);
  bool seekToEnd() { return seek(end_); }

  uint64_t position() const { return pos_; }
  // The system's error number of the first failed create, write or close; 0 while none failed.
  int lastError() const { return error_; }
  uint64_t end() const { return end_ > pos_ ? end_ : pos_; }

 private:
  bool flush();

  int fd_ = -1;
  uint64_t pos_ = 0;          // logical write position
  uint64_t end_ = 0;          // highest position written
  uint64_t bufferStart_ = 0;  // file position of buffer_[0]
  std::vector<uint8_t> buffer_;
  bool failed_ = false;
  int error_ = 0;
  static constexpr size_t kBufferSize = 256 * 1024;
};

}  // namespace zov

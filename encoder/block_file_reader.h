// Reading a block file (run mode 3) back: the header and, per video frame, where its stored bytes
// and its audio lie. Pure parsing of a byte buffer; every count and size in the file is checked
// against the file itself before it is used, so a damaged or hostile file gives an error naming
// the problem, never a read outside the buffer. The layout is described in docs/BLOCK_FILE.md.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "encoder/block_file.h"

namespace zov {

// One video frame and the audio that goes with it; offsets are file offsets of the data.
struct BlockFileFrame {
  uint64_t offset = 0;  // the frame's stored bytes
  uint32_t size = 0;    // 0 for a dropped frame
  bool key = false;
  uint64_t audioOffset = 0;
  uint32_t audioBytes = 0;  // 0 without audio
};

struct BlockFileContents {
  BlockFileHeader header;
  std::vector<BlockFileFrame> frames;
};

// Parses a whole block file held in memory. On failure returns false with `error` describing the
// first problem found (with its file offset where there is one).
bool readBlockFile(const uint8_t* data, size_t size, BlockFileContents& contents,
                   std::string& error);

// Reads the file at `path` into `bytes` and parses it; the frames' offsets index `bytes`.
bool readBlockFile(const std::string& path, std::vector<uint8_t>& bytes,
                   BlockFileContents& contents, std::string& error);

}  // namespace zov

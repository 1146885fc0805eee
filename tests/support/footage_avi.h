// Reads the video frames of a small uncompressed AVI file (16-, 24- or 32-bit bottom-up DIB
// frames), for tests and benchmarks that need real footage. Not a general AVI reader: no index, no
// compressed video, no OpenDML.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace zov::test {

struct Footage {
  int width = 0;
  int height = 0;
  int bitsPerPixel = 0;
  std::vector<std::vector<uint8_t>> frames;  // each bottom-up, rows padded to 4 bytes
};

// Returns false when the file cannot be read or holds no uncompressed video.
bool loadUncompressedAvi(const std::string& path, Footage& out, int maxFrames = 1 << 30);

}  // namespace zov::test

// Compresses pictures the way any Video for Windows host does: through the compression manager
// and the codec library (ICM_COMPRESS_QUERY ... ICM_COMPRESS_END), with libzov32 beside a copy
// of the codec in a fresh folder.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/vfw.h"
#include "support/footage_avi.h"

namespace zov::test {

struct CodecCompression {
  std::string failure;        // empty on success
  BITMAPINFOHEADER format{};  // the compressed stream's format
  std::vector<std::vector<uint8_t>> chunks;
  std::vector<bool> keyFrames;
};

// A folder holding a copy of the built codec library with the built libzov32 beside it.
// Returns the copy's path.
std::string codecWithCompressionLibrary(const std::string& folder);

// The first `count` frames of `footage` through an instance of the codec at `codecPath`
// (installed for zov2 while it runs), with the host's key rate and quality of
// ICM_COMPRESS_FRAMES_INFO.
CodecCompression compressThroughCodec(const std::string& codecPath, const Footage& footage,
                                      int count, long keyRate = 4, long quality = -1);

}  // namespace zov::test

// Writes a small AVI 1.0 file holding one ZOV video stream, for test fixtures and the bundled
// sample: hdrl (avih, strl with strh 'vids' and a 40-byte BITMAPINFOHEADER whose biCompression is
// the stream format word), movi with one '00dc' chunk per frame, idx1 with the key flags.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace zov::test {

struct AviFrameData {
  std::vector<uint8_t> data;
  bool key = false;
};

struct ZovAviDescription {
  int width = 0;
  int height = 0;
  uint32_t formatWord = 0;
  uint32_t handler = 0x32766F7A;  // 'zov2'
  uint32_t fps = 15;
};

std::vector<uint8_t> buildZovAvi(const ZovAviDescription& desc,
                                 const std::vector<AviFrameData>& frames);

// Writes bytes to path; false on any error.
bool writeFileBytes(const std::string& path, const std::vector<uint8_t>& bytes);

}  // namespace zov::test

// Loads arbitrary bytes as a chroma-key background bitmap for an 80 x 60 frame.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "encoder/background_bitmap.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::string path = "/tmp/zov_fuzz_background_" + std::to_string(getpid()) + ".bmp";
  FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return 0;
  std::fwrite(data, 1, size, f);
  std::fclose(f);
  std::vector<uint16_t> out;
  std::string error;
  zov::loadBackgroundBitmap(path, 80, 60, out, &error);
  return 0;
}

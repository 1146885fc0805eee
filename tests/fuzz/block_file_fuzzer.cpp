#include <cstdint>
#include <cstdlib>
#include <string>

#include "encoder/block_file_reader.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  zov::BlockFileContents c;
  std::string error;
  if (!zov::readBlockFile(data, size, c, error)) {
    if (error.empty()) std::abort();
    return 0;
  }
  if (c.frames.size() != c.header.frames) std::abort();
  uint64_t sum = 0;
  for (const zov::BlockFileFrame& f : c.frames) {
    if (f.offset > size || f.size > size - f.offset) std::abort();
    if (f.audioOffset > size || f.audioBytes > size - f.audioOffset) std::abort();
    // Touch the bytes so ASan sees any read outside the input.
    for (uint32_t i = 0; i < f.size; ++i) sum += data[f.offset + i];
    for (uint32_t i = 0; i < f.audioBytes; ++i) sum += data[f.audioOffset + i];
  }
  return sum == 1 ? 0 : 0;
}

// Feeds arbitrary bytes to zovinfo's movie reading and decodes whatever frames it finds, in memory.
#include <cstddef>
#include <cstdint>

#include "tools/zovinfo/commands.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  zov::info::decodeAviImage(data, size);
  return 0;
}

#include <cstdint>
#include <cstdlib>
#include <vector>

#include "network/zev_layout.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace zov::network;
  std::vector<uint8_t> header(kHeaderBytes, 0);
  std::copy_n(data, std::min<size_t>(size, kHeaderBytes), header.begin());
  ZevHeader h;
  std::string failure;
  if (!parseZevHeader(header.data(), header.size(), h, failure)) return 0;
  if (h.movi + 12 > kHeaderBytes) std::abort();
  std::vector<uint8_t> local = localHeader(header.data(), h);
  if (h.totalFrames > 2000) return 0;
  std::vector<uint8_t> index(size_t(h.indexEntries) * 8, 0);
  for (size_t i = 0; i < index.size() && kHeaderBytes + i < size; ++i)
    index[i] = data[kHeaderBytes + i];
  firstBadEntry(index);
  uint64_t written = 0;
  writeLocalBody(
      h, index, [&](const uint8_t*, size_t n) { return written += n, true; }, nullptr);
  const LocalLayout layout = localLayout(h);
  if (local.size() != layout.headerBytes ||
      written != layout.moviData + 8 + 16 * layout.idx1Entries)
    std::abort();
  return 0;
}

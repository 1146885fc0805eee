#include "support/footage_avi.h"

#include <cstring>
#include <fstream>
#include <iterator>

namespace zov::test {
namespace {

uint32_t le32(const uint8_t* p) {
  return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

struct Walker {
  const std::vector<uint8_t>& d;
  Footage& out;
  int maxFrames;
  bool ok = false;

  void walk(size_t pos, size_t end) {
    while (pos + 8 <= end && int(out.frames.size()) < maxFrames) {
      const uint8_t* h = d.data() + pos;
      size_t size = le32(h + 4);
      size_t body = pos + 8;
      if (body + size > end) size = end - body;
      if (std::memcmp(h, "LIST", 4) == 0 || std::memcmp(h, "RIFF", 4) == 0) {
        if (size >= 4) walk(body + 4, body + size);
      } else if (std::memcmp(h, "strf", 4) == 0 && out.width == 0 && size >= 40) {
        const uint8_t* bi = d.data() + body;
        uint32_t compression = le32(bi + 16);
        int bits = bi[14] | bi[15] << 8;
        if (compression == 0 && (bits == 16 || bits == 24 || bits == 32)) {
          out.width = int(le32(bi + 4));
          out.height = int(le32(bi + 8));
          out.bitsPerPixel = bits;
          ok = true;
        }
      } else if (ok && (std::memcmp(h + 2, "db", 2) == 0 || std::memcmp(h + 2, "dc", 2) == 0)) {
        size_t need = size_t((out.width * out.bitsPerPixel + 31) / 32 * 4) * size_t(out.height);
        if (size >= need)
          out.frames.emplace_back(d.begin() + long(body), d.begin() + long(body + need));
      }
      pos = body + size + (size & 1);
    }
  }
};

}  // namespace

bool loadUncompressedAvi(const std::string& path, Footage& out, int maxFrames) {
  out = Footage{};
  std::ifstream f(path, std::ios::binary);
  if (!f) return false;
  std::vector<uint8_t> data((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
  if (data.size() < 12 || std::memcmp(data.data(), "RIFF", 4) != 0) return false;
  Walker w{data, out, maxFrames};
  w.walk(12, data.size());
  return w.ok && !out.frames.empty();
}

}  // namespace zov::test

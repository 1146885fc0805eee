#include "support/avi_file_writer.h"

#include <cstdio>

namespace zov::test {
namespace {

constexpr uint32_t fcc(const char (&s)[5]) {
  return uint32_t(uint8_t(s[0])) | uint32_t(uint8_t(s[1])) << 8 | uint32_t(uint8_t(s[2])) << 16 |
         uint32_t(uint8_t(s[3])) << 24;
}

class Out {
 public:
  void u32(uint32_t v) {
    for (int i = 0; i < 4; ++i) b.push_back(uint8_t(v >> (8 * i)));
  }
  void u16(uint16_t v) {
    b.push_back(uint8_t(v));
    b.push_back(uint8_t(v >> 8));
  }
  // Starts a chunk and returns the offset of its size field.
  size_t open(uint32_t id) {
    u32(id);
    u32(0);
    return b.size() - 4;
  }
  size_t openList(uint32_t type) {
    size_t at = open(fcc("LIST"));
    u32(type);
    return at;
  }
  void close(size_t sizeAt) {
    uint32_t size = static_cast<uint32_t>(b.size() - sizeAt - 4);
    for (int i = 0; i < 4; ++i) b[sizeAt + i] = uint8_t(size >> (8 * i));
    if (size & 1) b.push_back(0);
  }
  std::vector<uint8_t> b;
};

}  // namespace

std::vector<uint8_t> buildZovAvi(const ZovAviDescription& d,
                                 const std::vector<AviFrameData>& frames) {
  uint32_t maxChunk = 0;
  uint64_t total = 0;
  for (const auto& f : frames) {
    if (f.data.size() > maxChunk) maxChunk = static_cast<uint32_t>(f.data.size());
    total += f.data.size();
  }
  uint32_t n = static_cast<uint32_t>(frames.size());
  uint32_t fps = d.fps ? d.fps : 15;
  Out o;
  size_t riff = o.open(fcc("RIFF"));
  o.u32(fcc("AVI "));
  size_t hdrl = o.openList(fcc("hdrl"));
  size_t avih = o.open(fcc("avih"));
  o.u32(1000000 / fps);                                   // dwMicroSecPerFrame
  o.u32(n ? static_cast<uint32_t>(total * fps / n) : 0);  // dwMaxBytesPerSec
  o.u32(0);                                               // dwPaddingGranularity
  o.u32(0x10);                                            // AVIF_HASINDEX
  o.u32(n);                                               // dwTotalFrames
  o.u32(0);                                               // dwInitialFrames
  o.u32(1);                                               // dwStreams
  o.u32(maxChunk);                                        // dwSuggestedBufferSize
  o.u32(static_cast<uint32_t>(d.width));
  o.u32(static_cast<uint32_t>(d.height));
  for (int i = 0; i < 4; ++i) o.u32(0);
  o.close(avih);
  size_t strl = o.openList(fcc("strl"));
  size_t strh = o.open(fcc("strh"));
  o.u32(fcc("vids"));
  o.u32(d.handler);
  o.u32(0);  // flags
  o.u16(0);  // priority
  o.u16(0);  // language
  o.u32(0);  // initial frames
  o.u32(1);  // scale
  o.u32(fps);
  o.u32(0);  // start
  o.u32(n);  // length
  o.u32(maxChunk);
  o.u32(0xFFFFFFFF);  // quality: default
  o.u32(0);           // sample size: varies
  o.u16(0);
  o.u16(0);
  o.u16(static_cast<uint16_t>(d.width));
  o.u16(static_cast<uint16_t>(d.height));
  o.close(strh);
  size_t strf = o.open(fcc("strf"));
  o.u32(40);
  o.u32(static_cast<uint32_t>(d.width));
  o.u32(static_cast<uint32_t>(d.height));
  o.u16(1);
  o.u16(16);
  o.u32(d.formatWord);
  o.u32(static_cast<uint32_t>(d.width * d.height * 2));
  for (int i = 0; i < 4; ++i) o.u32(0);
  o.close(strf);
  o.close(strl);
  o.close(hdrl);
  size_t movi = o.openList(fcc("movi"));
  size_t moviType = movi + 4;  // idx1 offsets count from the 'movi' FourCC
  std::vector<uint32_t> offsets;
  for (const auto& f : frames) {
    offsets.push_back(static_cast<uint32_t>(o.b.size() - moviType));
    size_t c = o.open(fcc("00dc"));
    o.b.insert(o.b.end(), f.data.begin(), f.data.end());
    o.close(c);
  }
  o.close(movi);
  size_t idx = o.open(fcc("idx1"));
  for (size_t i = 0; i < frames.size(); ++i) {
    o.u32(fcc("00dc"));
    o.u32(frames[i].key ? 0x10 : 0);
    o.u32(offsets[i]);
    o.u32(static_cast<uint32_t>(frames[i].data.size()));
  }
  o.close(idx);
  o.close(riff);
  return std::move(o.b);
}

bool writeFileBytes(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return false;
  bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
  return std::fclose(f) == 0 && ok;
}

}  // namespace zov::test

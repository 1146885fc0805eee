// The on-disk records of an AVI file that both the output writer and the source reader handle:
// FourCCs, the 56-byte main header, the 64-byte stream header and the index entries, with
// little-endian packing helpers. Records are kept as plain structs and (de)serialised field by
// field so that the file layout never depends on the compiler's struct layout.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

namespace zov {

using FourCC = uint32_t;

// The FourCC of four characters in file order ("RIFF" is 'R' in the lowest byte).
constexpr FourCC makeFourCC(const char (&s)[5]) {
  return uint32_t(uint8_t(s[0])) | uint32_t(uint8_t(s[1])) << 8 | uint32_t(uint8_t(s[2])) << 16 |
         uint32_t(uint8_t(s[3])) << 24;
}
// The four characters of a FourCC, unprintable bytes shown as '?'.
inline std::string fourCCText(FourCC f) {
  std::string s(4, ' ');
  for (int i = 0; i < 4; ++i) {
    char c = char((f >> (8 * i)) & 0xFF);
    s[i] = (c >= 32 && c < 127) ? c : '?';
  }
  return s;
}

namespace fourcc {
inline constexpr FourCC kRiff = makeFourCC("RIFF");
inline constexpr FourCC kList = makeFourCC("LIST");
inline constexpr FourCC kAvi = makeFourCC("AVI ");
inline constexpr FourCC kAvix = makeFourCC("AVIX");
inline constexpr FourCC kHdrl = makeFourCC("hdrl");
inline constexpr FourCC kAvih = makeFourCC("avih");
inline constexpr FourCC kStrl = makeFourCC("strl");
inline constexpr FourCC kStrh = makeFourCC("strh");
inline constexpr FourCC kStrf = makeFourCC("strf");
inline constexpr FourCC kStrn = makeFourCC("strn");
inline constexpr FourCC kIndx = makeFourCC("indx");
inline constexpr FourCC kOdml = makeFourCC("odml");
inline constexpr FourCC kJunk = makeFourCC("JUNK");
inline constexpr FourCC kMovi = makeFourCC("movi");
inline constexpr FourCC kRec = makeFourCC("rec ");
inline constexpr FourCC kIdx1 = makeFourCC("idx1");
inline constexpr FourCC kVids = makeFourCC("vids");
inline constexpr FourCC kAuds = makeFourCC("auds");
inline constexpr FourCC kZov2Lower = makeFourCC("zov2");
inline constexpr FourCC k00db = makeFourCC("00db");
inline constexpr FourCC k00dc = makeFourCC("00dc");
inline constexpr FourCC k01wb = makeFourCC("01wb");
inline constexpr FourCC kWave = makeFourCC("WAVE");
inline constexpr FourCC kFmt = makeFourCC("fmt ");
inline constexpr FourCC kData = makeFourCC("data");
}  // namespace fourcc

// Little-endian access to byte buffers.
inline uint16_t getLE16(const uint8_t* p) {
  return uint16_t(p[0] | p[1] << 8);
}
inline uint32_t getLE32(const uint8_t* p) {
  return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}
inline uint64_t getLE64(const uint8_t* p) {
  return getLE32(p) | uint64_t(getLE32(p + 4)) << 32;
}
inline void putLE16(uint8_t* p, uint16_t v) {
  p[0] = uint8_t(v);
  p[1] = uint8_t(v >> 8);
}
inline void putLE32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = uint8_t(v >> (8 * i));
}

// avih flags.
inline constexpr uint32_t kAvifHasIndex = 0x10;
inline constexpr uint32_t kAvifIsInterleaved = 0x100;
// idx1 entry flags.
inline constexpr uint32_t kAviifList = 0x1;
inline constexpr uint32_t kAviifKeyFrame = 0x10;

// The main AVI header ('avih', 56 bytes).
struct AviMainHeader {
  uint32_t microSecPerFrame = 0;
  uint32_t maxBytesPerSec = 0;
  uint32_t paddingGranularity = 0;
  uint32_t flags = 0;
  uint32_t totalFrames = 0;
  uint32_t initialFrames = 0;
  uint32_t streams = 0;
  uint32_t suggestedBufferSize = 0;
  uint32_t width = 0;
  uint32_t height = 0;

  static constexpr size_t kSize = 56;
  std::array<uint8_t, kSize> pack() const {
    std::array<uint8_t, kSize> b{};
    const uint32_t v[10] = {
        microSecPerFrame, maxBytesPerSec, paddingGranularity,  flags, totalFrames,
        initialFrames,    streams,        suggestedBufferSize, width, height};
    for (int i = 0; i < 10; ++i) putLE32(b.data() + 4 * i, v[i]);
    return b;
  }
  // Reads as many fields as `size` bytes hold; missing fields stay 0.
  static AviMainHeader unpack(const uint8_t* p, size_t size) {
    uint32_t v[10] = {};
    for (size_t i = 0; i < 10 && 4 * i + 4 <= size; ++i) v[i] = getLE32(p + 4 * i);
    return {v[0], v[1], v[2], v[3], v[4], v[5], v[6], v[7], v[8], v[9]};
  }
};

// The stream header ('strh', 64 bytes as this writer produces it; older files have 56).
struct AviStreamHeader {
  FourCC type = 0;
  FourCC handler = 0;
  uint32_t flags = 0;
  uint16_t priority = 0;
  uint16_t language = 0;
  uint32_t initialFrames = 0;
  uint32_t scale = 0;
  uint32_t rate = 0;
  uint32_t start = 0;
  uint32_t length = 0;
  uint32_t suggestedBufferSize = 0;
  uint32_t quality = 0;
  uint32_t sampleSize = 0;
  int32_t frame[4] = {0, 0, 0, 0};  // left, top, right, bottom

  static constexpr size_t kSize = 64;
  std::array<uint8_t, kSize> pack() const {
    std::array<uint8_t, kSize> b{};
    putLE32(&b[0], type);
    putLE32(&b[4], handler);
    putLE32(&b[8], flags);
    putLE16(&b[12], priority);
    putLE16(&b[14], language);
    const uint32_t v[8] = {initialFrames,       scale,   rate,      start, length,
                           suggestedBufferSize, quality, sampleSize};
    for (int i = 0; i < 8; ++i) putLE32(&b[16 + 4 * i], v[i]);
    for (int i = 0; i < 4; ++i) putLE32(&b[48 + 4 * i], uint32_t(frame[i]));
    return b;
  }
  // Reads as many fields as `size` bytes hold. A 56-byte header keeps its rectangle as four
  // 16-bit values.
  static AviStreamHeader unpack(const uint8_t* p, size_t size) {
    uint8_t b[kSize] = {};
    std::memcpy(b, p, size < kSize ? size : kSize);
    AviStreamHeader h;
    h.type = getLE32(b);
    h.handler = getLE32(b + 4);
    h.flags = getLE32(b + 8);
    h.priority = getLE16(b + 12);
    h.language = getLE16(b + 14);
    uint32_t* v[8] = {&h.initialFrames,       &h.scale,   &h.rate,      &h.start, &h.length,
                      &h.suggestedBufferSize, &h.quality, &h.sampleSize};
    for (int i = 0; i < 8; ++i) *v[i] = getLE32(b + 16 + 4 * i);
    if (size >= 64) {
      for (int i = 0; i < 4; ++i) h.frame[i] = int32_t(getLE32(b + 48 + 4 * i));
    } else {
      for (int i = 0; i < 4; ++i) h.frame[i] = int16_t(getLE16(b + 48 + 2 * i));
    }
    return h;
  }
};

// The 40-byte bitmap information header (BITMAPINFOHEADER) in file order.
struct DibHeader {
  uint32_t size = 40;
  int32_t width = 0;
  int32_t height = 0;
  uint16_t planes = 1;
  uint16_t bitCount = 0;
  uint32_t compression = 0;
  uint32_t sizeImage = 0;
  int32_t xPelsPerMeter = 0;
  int32_t yPelsPerMeter = 0;
  uint32_t clrUsed = 0;
  uint32_t clrImportant = 0;

  static constexpr size_t kSize = 40;
  void packInto(uint8_t* b) const {
    putLE32(b, size);
    putLE32(b + 4, uint32_t(width));
    putLE32(b + 8, uint32_t(height));
    putLE16(b + 12, planes);
    putLE16(b + 14, bitCount);
    putLE32(b + 16, compression);
    putLE32(b + 20, sizeImage);
    putLE32(b + 24, uint32_t(xPelsPerMeter));
    putLE32(b + 28, uint32_t(yPelsPerMeter));
    putLE32(b + 32, clrUsed);
    putLE32(b + 36, clrImportant);
  }
  std::array<uint8_t, kSize> pack() const {
    std::array<uint8_t, kSize> b{};
    packInto(b.data());
    return b;
  }
  // Reads as many fields as `size` bytes hold.
  static DibHeader unpack(const uint8_t* p, size_t n) {
    uint8_t b[kSize] = {};
    std::memcpy(b, p, n < kSize ? n : kSize);
    DibHeader h;
    h.size = getLE32(b);
    h.width = int32_t(getLE32(b + 4));
    h.height = int32_t(getLE32(b + 8));
    h.planes = getLE16(b + 12);
    h.bitCount = getLE16(b + 14);
    h.compression = getLE32(b + 16);
    h.sizeImage = getLE32(b + 20);
    h.xPelsPerMeter = int32_t(getLE32(b + 24));
    h.yPelsPerMeter = int32_t(getLE32(b + 28));
    h.clrUsed = getLE32(b + 32);
    h.clrImportant = getLE32(b + 36);
    return h;
  }
};

// The standard 16-byte index entry of 'idx1' (and of the temporary index file).
struct AviIndexEntry {
  FourCC id = 0;
  uint32_t flags = 0;
  uint32_t offset = 0;
  uint32_t length = 0;
  static constexpr size_t kSize = 16;
  std::array<uint8_t, kSize> pack() const {
    std::array<uint8_t, kSize> b{};
    putLE32(&b[0], id);
    putLE32(&b[4], flags);
    putLE32(&b[8], offset);
    putLE32(&b[12], length);
    return b;
  }
};

}  // namespace zov

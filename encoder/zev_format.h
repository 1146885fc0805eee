// The ZEV stream file served to the network movie source: an AVI file whose movie data are raw,
// unframed chunks, followed by a compact raw index of 8-byte entries (no 'idx1' header).
#pragma once

#include <cstdint>

#include "encoder/avi_writer_format.h"

namespace zov {

// Largest raw movie chunk a ZEV file may hold (the network source's cache slot size).
inline constexpr uint32_t kZevMaxChunk = 0x1FFF8;  // 131,064 bytes
// Bit 31 of an entry's length marks a key frame.
inline constexpr uint32_t kZevKeyFrameBit = 0x80000000u;
inline constexpr uint32_t kZevIndexEntrySize = 8;
// The audio format tag that a ZEV file's audio 'strf' carries in place of the real one.
inline constexpr uint16_t kZevAudioFormatTag = 0xFFFF;

struct ZevIndexEntry {
  uint32_t offset = 0;  // absolute file position of the data
  uint32_t length = 0;  // data length, bit 31 set for a key frame

  uint32_t size() const { return length & ~kZevKeyFrameBit; }
  bool keyFrame() const { return (length & kZevKeyFrameBit) != 0; }
  static ZevIndexEntry unpack(const uint8_t* p) { return {getLE32(p), getLE32(p + 4)}; }
  void packInto(uint8_t* p) const {
    putLE32(p, offset);
    putLE32(p + 4, length);
  }
};

}  // namespace zov

// The movie file as the network source reads it, and the local placeholder AVI file it writes.
//
// Pure byte work, no sockets or files: the source fetches the first 2,048 bytes of the remote
// ZEV stream file, parses them here, and writes the local file from the pieces built here.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace zov::network {

inline constexpr uint32_t kHeaderBytes = 2048;
inline constexpr uint32_t kSlotBytes = 131072;
inline constexpr uint32_t kSlotDataBytes = kSlotBytes - 8;  // 131,064
inline constexpr uint32_t kSlotCount = 32;
inline constexpr uint32_t kKeyFrameBit = 0x80000000u;
// The largest movie the source accepts: 2^22 frames (a 64 MB index at 2 entries per frame).
inline constexpr uint32_t kMaxFrames = 1u << 22;

inline uint32_t le32(const uint8_t* p) {
  return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}
inline uint16_t le16(const uint8_t* p) {
  return uint16_t(p[0] | p[1] << 8);
}
inline void putLe32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = uint8_t(v >> (8 * i));
}
inline void putLe16(uint8_t* p, uint16_t v) {
  p[0] = uint8_t(v);
  p[1] = uint8_t(v >> 8);
}

// Where the items of the remote header lie (byte offsets into the first 2,048 bytes).
struct ZevHeader {
  uint32_t totalFrames = 0;
  uint32_t initialFrames = 0;
  uint32_t streams = 0;
  bool hasAudio = false;
  uint32_t videoStrh = 0;  // data of the video 'strh'
  uint32_t audioStrh = 0;  // data of the audio 'strh' (with audio)
  uint32_t audioStrf = 0;  // data of the audio 'strf' (with audio)
  uint32_t movi = 0;       // the "LIST" of the movie list
  uint32_t moviSize = 0;   // its size field
  uint32_t indexOffset = 0;
  uint32_t indexEntries = 0;
};

// Parses the header. On failure returns false and sets `failure` to the end of the message
// ("avih section not located in ZEV file", ...).
bool parseZevHeader(const uint8_t* header, size_t size, ZevHeader& out, std::string& failure);

// Remote index order: the entry of video frame v / audio chunk a; -1 when out of range.
int64_t videoEntry(const ZevHeader& h, uint32_t frame);
int64_t audioEntry(const ZevHeader& h, uint32_t chunk);

// Checks the memory index: every entry's size is 1..131,064 and the entry lies inside 32-bit
// offsets. Returns the first bad entry, or -1.
int64_t firstBadEntry(const std::vector<uint8_t>& index);

// The local file: header (rewritten), then the stub 'movi' data, then 'idx1'.
struct LocalLayout {
  uint64_t headerBytes = 0;  // remote header up to and including the 'movi' list header
  uint64_t moviData = 0;     // stub data after the 'movi' list header
  uint64_t idx1Entries = 0;
  uint64_t fileSize() const { return headerBytes + moviData + 8 + 16 * idx1Entries; }
};
LocalLayout localLayout(const ZevHeader& h);

// The rewritten header bytes of the local file.
std::vector<uint8_t> localHeader(const uint8_t* remoteHeader, const ZevHeader& h);

// Streams the stub 'movi' data and the 'idx1' chunk in pieces to `sink`; `progress` gets
// 0..30 as it goes. Returns false as soon as the sink does.
bool writeLocalBody(const ZevHeader& h, const std::vector<uint8_t>& index,
                    const std::function<bool(const uint8_t*, size_t)>& sink,
                    const std::function<void(int)>& progress);

}  // namespace zov::network

#include "tools/zovinfo/block_listing.h"

#include <cstdio>
#include <ostream>

#include "encoder/block_file_reader.h"
#include "tools/zovinfo/commands.h"

namespace zov::info {

int listBlocks(const std::string& path, bool json, std::ostream& out, std::ostream& err) {
  std::vector<uint8_t> bytes;
  BlockFileContents c;
  std::string error;
  if (!readBlockFile(path, bytes, c, error)) {
    err << path << ": " << error << "\n";
    return kExitUsage;
  }
  const BlockFileHeader& h = c.header;
  char format[16];
  std::snprintf(format, sizeof format, "0x%08X", h.compression);
  // Nothing is printed before the whole file has been checked, so a damaged file gives only
  // its error.
  if (json) {
    out << "{\"blockfile\":{\"version\":" << h.version << ",\"width\":" << h.width
        << ",\"height\":" << h.height << ",\"format\":\"" << format
        << "\",\"usPerFrame\":" << h.microSecPerFrame << ",\"rate\":" << h.rate
        << ",\"scale\":" << h.scale << ",\"frames\":" << h.frames
        << ",\"videoBlocks\":" << h.videoBlocks << ",\"audioBlocks\":" << h.audioBlocks
        << ",\"largestBlock\":" << h.largestBlock << ",\"maxBlock\":" << h.maxBlock
        << ",\"audio\":";
    if (h.flags & kBlockFileFlagAudio)
      out << "{\"rate\":" << h.audioRate << ",\"channels\":" << h.audioChannels
          << ",\"bits\":" << h.audioBits << "}";
    else
      out << "null";
    out << ",\"audioBytes\":" << h.audioBytes << ",\"preload\":" << h.audioPreloadFrames << "}}\n";
    for (size_t n = 0; n < c.frames.size(); ++n) {
      const BlockFileFrame& f = c.frames[n];
      out << "{\"frame\":" << n << ",\"offset\":" << f.offset << ",\"size\":" << f.size
          << ",\"key\":" << (f.key ? "true" : "false") << ",\"audio\":" << f.audioBytes << "}\n";
    }
    return kExitOk;
  }
  out << "blockfile version=" << h.version << " size=" << h.width << "x" << h.height
      << " format=" << format << " usPerFrame=" << h.microSecPerFrame << " rate=" << h.rate << "/"
      << h.scale << " frames=" << h.frames << " videoBlocks=" << h.videoBlocks
      << " audioBlocks=" << h.audioBlocks << " largestBlock=" << h.largestBlock
      << " maxBlock=" << h.maxBlock;
  if (h.flags & kBlockFileFlagAudio)
    out << " audio=" << h.audioRate << "Hz/" << h.audioChannels << "ch/" << h.audioBits << "bit";
  else
    out << " audio=none";
  out << " audioBytes=" << h.audioBytes << " preload=" << h.audioPreloadFrames << "\n";
  for (size_t n = 0; n < c.frames.size(); ++n) {
    const BlockFileFrame& f = c.frames[n];
    out << "frame " << n << " offset=" << f.offset << " size=" << f.size
        << (f.key ? " key" : " delta") << " audio=" << f.audioBytes << "\n";
  }
  return kExitOk;
}

}  // namespace zov::info

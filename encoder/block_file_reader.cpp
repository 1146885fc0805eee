#include "encoder/block_file_reader.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>

namespace zov {
namespace {

std::string at(uint64_t offset, const std::string& text) {
  return "at offset " + std::to_string(offset) + ": " + text;
}

bool headerProblem(const BlockFileHeader& h, std::string& error) {
  if (h.magic != makeFourCC("ZOVB"))
    error = "not a block file (no ZOVB signature)";
  else if (h.headerSize != kBlockFileHeaderSize)
    error = "header size " + std::to_string(h.headerSize) + " is not 80";
  else if (h.version != kBlockFileVersion)
    error = "unknown block file version " + std::to_string(h.version);
  else if (h.maxBlock == 0 || h.maxBlock > kBlockFileMaxBlock)
    error = "maximum block size " + std::to_string(h.maxBlock) + " is out of range";
  else if (!(h.flags & kBlockFileFlagAudio) && h.audioBlocks != 0)
    error = "audio blocks counted but the audio flag is clear";
  else
    return false;
  return true;
}

}  // namespace

bool readBlockFile(const uint8_t* data, size_t size, BlockFileContents& contents,
                   std::string& error) {
  contents = {};
  if (size < kBlockFileHeaderSize) {
    error = "file of " + std::to_string(size) + " bytes is shorter than the 80-byte header";
    return false;
  }
  const BlockFileHeader& h = contents.header = BlockFileHeader::unpack(data);
  if (headerProblem(h, error)) return false;
  const bool withAudio = h.flags & kBlockFileFlagAudio;
  // Audio pieces are collected apart and paired with the frames at the end: audio blocks may be
  // written before or after the video blocks holding the same frames.
  std::vector<std::pair<uint64_t, uint32_t>> audio;
  uint32_t videoBlocks = 0, audioBlocks = 0, largest = 0;
  uint64_t audioTotal = 0;
  size_t p = kBlockFileHeaderSize;
  while (p < size) {
    if (size - p < 8) return error = at(p, "truncated block head"), false;
    const uint32_t word = getLE32(data + p);
    const bool video = word & kBlockFileVideoBit;
    const uint64_t blockSize = uint64_t(word & ~kBlockFileVideoBit) + 4;
    if (blockSize < 8 || blockSize % 4 != 0 || blockSize > h.maxBlock)
      return error = at(p, "bad block size " + std::to_string(blockSize)), false;
    if (blockSize > size - p)
      return error = at(p, "block of " + std::to_string(blockSize) +
                               " bytes runs past the end of the file"),
             false;
    const uint64_t count = getLE32(data + p + 4);
    if (count == 0 || 8 + 4 * count > blockSize)
      return error = at(p, "bad piece count " + std::to_string(count)), false;
    if (!video && !withAudio) return error = at(p, "audio block in a file without audio"), false;
    const uint64_t end = p + blockSize;
    uint64_t q = p + 8 + 4 * count;
    for (uint64_t i = 0; i < count; ++i) {
      const uint32_t sizeWord = getLE32(data + p + 8 + 4 * i);
      const uint32_t n = video ? sizeWord & ~kBlockFileKeyBit : sizeWord;
      const uint64_t padded = (uint64_t(n) + 3) & ~uint64_t(3);
      if (padded > end - q)
        return error = at(p, "piece " + std::to_string(i) + " of " + std::to_string(n) +
                                 " bytes runs past the end of its block"),
               false;
      if (video) {
        BlockFileFrame f;
        f.offset = q;
        f.size = n;
        f.key = sizeWord & kBlockFileKeyBit;
        contents.frames.push_back(f);
      } else {
        audio.emplace_back(q, n);
        audioTotal += n;
      }
      q += padded;
    }
    if (q != end) return error = at(p, "block size does not match its pieces"), false;
    ++(video ? videoBlocks : audioBlocks);
    largest = std::max(largest, uint32_t(blockSize));
    p = size_t(end);
  }
  const auto mismatch = [&](const char* what, uint64_t found, uint64_t header) {
    error = std::string("header says ") + std::to_string(header) + " " + what + ", the file has " +
            std::to_string(found);
    return false;
  };
  if (contents.frames.size() != h.frames)
    return mismatch("frames", contents.frames.size(), h.frames);
  if (videoBlocks != h.videoBlocks) return mismatch("video blocks", videoBlocks, h.videoBlocks);
  if (audioBlocks != h.audioBlocks) return mismatch("audio blocks", audioBlocks, h.audioBlocks);
  if (largest != h.largestBlock)
    return mismatch("bytes in the largest block", largest, h.largestBlock);
  if (withAudio) {
    if (audio.size() != h.frames)
      return mismatch("audio pieces (one per frame)", audio.size(), h.frames);
    if (audioTotal != h.audioBytes) return mismatch("audio bytes", audioTotal, h.audioBytes);
    for (size_t k = 0; k < audio.size(); ++k) {
      contents.frames[k].audioOffset = audio[k].first;
      contents.frames[k].audioBytes = audio[k].second;
    }
  } else if (h.audioBytes != 0) {
    return mismatch("audio bytes", 0, h.audioBytes);
  }
  return true;
}

bool readBlockFile(const std::string& path, std::vector<uint8_t>& bytes,
                   BlockFileContents& contents, std::string& error) {
  bytes.clear();
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    error = std::string("cannot open: ") + std::strerror(errno);
    return false;
  }
  in.seekg(0, std::ios::end);
  const std::streamoff length = in.tellg();
  in.seekg(0, std::ios::beg);
  if (length < 0 || !in) {
    error = "cannot read the file";
    return false;
  }
  bytes.resize(size_t(length));
  if (length > 0 && !in.read(reinterpret_cast<char*>(bytes.data()), length)) {
    error = "cannot read the file";
    return false;
  }
  return readBlockFile(bytes.data(), bytes.size(), contents, error);
}

}  // namespace zov

#include "encoder/block_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace zov {

std::array<uint8_t, kBlockFileHeaderSize> BlockFileHeader::pack() const {
  std::array<uint8_t, kBlockFileHeaderSize> b{};
  const uint32_t first[15] = {magic,  headerSize,  version,     flags,        microSecPerFrame,
                              scale,  rate,        width,       height,       compression,
                              frames, videoBlocks, audioBlocks, largestBlock, audioRate};
  for (int i = 0; i < 15; ++i) putLE32(&b[4 * i], first[i]);
  putLE16(&b[60], audioChannels);
  putLE16(&b[62], audioBits);
  putLE32(&b[64], audioBytes);
  putLE32(&b[68], audioPreloadFrames);
  putLE32(&b[72], maxBlock);
  putLE32(&b[76], reserved);
  return b;
}

BlockFileHeader BlockFileHeader::unpack(const uint8_t* p) {
  BlockFileHeader h;
  uint32_t* first[15] = {
      &h.magic,  &h.headerSize,  &h.version,     &h.flags,        &h.microSecPerFrame,
      &h.scale,  &h.rate,        &h.width,       &h.height,       &h.compression,
      &h.frames, &h.videoBlocks, &h.audioBlocks, &h.largestBlock, &h.audioRate};
  for (int i = 0; i < 15; ++i) *first[i] = getLE32(p + 4 * i);
  h.audioChannels = getLE16(p + 60);
  h.audioBits = getLE16(p + 62);
  h.audioBytes = getLE32(p + 64);
  h.audioPreloadFrames = getLE32(p + 68);
  h.maxBlock = getLE32(p + 72);
  h.reserved = getLE32(p + 76);
  return h;
}

BlockFileWriter::~BlockFileWriter() {
  if (fd_ >= 0 && !finished_) abandon();
}

bool BlockFileWriter::fail(const std::string& text, int cause) {
  // The system's reason (a full disk, a file too large, a missing folder) under the message.
  if (callbacks_.error) callbacks_.error(cause ? text + "\nCause: " + std::strerror(cause) : text);
  return false;
}

bool BlockFileWriter::writeAll(const void* data, size_t size) {
  size_t done = 0;
  while (done < size) {
    ssize_t n = ::write(fd_, static_cast<const uint8_t*>(data) + done, size - done);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      const int cause = errno;
      char text[96];
      std::snprintf(text, sizeof text, "CTR0070E Unable to write to target file, RC=%lu",
                    (unsigned long)cause);
      return fail(text, cause);
    }
    if (n == 0) break;
    done += size_t(n);
  }
  if (done != size) {
    char text[128];
    std::snprintf(text, sizeof text,
                  "CTR0071E Unable to write to target file, only wrote %lu of %lu bytes",
                  (unsigned long)done, (unsigned long)size);
    return fail(text);
  }
  return true;
}

bool BlockFileWriter::open(const AviWriterSettings& settings, WriterCallbacks callbacks) {
  settings_ = settings;
  callbacks_ = std::move(callbacks);
  // A device or a pipe at the path is neither truncated nor, when the run fails, removed.
  const std::string problem = outputFileProblem(settings_.path);
  if (!problem.empty()) {
    return fail("CTR0038E Unable to create \"" + settings_.path +
                "\" - compression halted\nCause: " + problem);
  }
  fd_ = ::open(settings_.path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd_ < 0) {
    const int cause = errno;
    char text[512];
    std::snprintf(text, sizeof text,
                  "CTR0038E Unable to create \"%s\", RC=%lu - compression halted",
                  settings_.path.c_str(), (unsigned long)cause);
    return fail(text, cause);
  }
  created_ = true;
  // Room for the header, which is written last.
  if (::lseek(fd_, kBlockFileHeaderSize, SEEK_SET) != off_t(kBlockFileHeaderSize)) {
    const int cause = errno;
    char text[512];
    std::snprintf(text, sizeof text,
                  "CTR0039E Unable to set file pointer for \"%s\", RC=%lu - compression halted",
                  settings_.path.c_str(), (unsigned long)cause);
    return fail(text, cause);
  }
  header_ = BlockFileHeader{};
  header_.microSecPerFrame = settings_.microSecPerFrame;
  header_.scale = settings_.fileScale;
  header_.rate = settings_.fileRate;
  header_.width = settings_.width;
  header_.height = settings_.height;
  header_.compression = getLE32(&settings_.sourceVideoFormat[16]);
  header_.audioPreloadFrames = settings_.audioPreloadFrames;
  if (settings_.withAudio && settings_.audioFormat.size() >= 14) {
    header_.flags |= kBlockFileFlagAudio;
    header_.audioChannels = getLE16(&settings_.audioFormat[2]);
    header_.audioRate = getLE32(&settings_.audioFormat[4]);
    header_.audioBits =
        settings_.audioFormat.size() >= 16 ? getLE16(&settings_.audioFormat[14]) : 0;
  }
  video_ = {};
  audio_ = {};
  return true;
}

bool BlockFileWriter::flush(Block& block, bool video) {
  if (block.sizes.empty()) return true;
  const size_t total = block.bytes();
  std::vector<uint8_t> head(8 + 4 * block.sizes.size());
  putLE32(&head[0], uint32_t(total - 4) | (video ? kBlockFileVideoBit : 0));
  putLE32(&head[4], uint32_t(block.sizes.size()));
  for (size_t i = 0; i < block.sizes.size(); ++i) putLE32(&head[8 + 4 * i], block.sizes[i]);
  if (!writeAll(head.data(), head.size()) || !writeAll(block.data.data(), block.data.size()))
    return false;
  header_.largestBlock = std::max(header_.largestBlock, uint32_t(total));
  ++(video ? header_.videoBlocks : header_.audioBlocks);
  block.sizes.clear();
  block.data.clear();
  return true;
}

bool BlockFileWriter::add(Block& block, bool video, const uint8_t* data, uint32_t length,
                          uint32_t sizeWord, uint32_t frameNumber) {
  const size_t padded = (size_t(length) + 3) & ~size_t(3);
  // 8 bytes of block head, 4 for this piece's size.
  if (12 + padded > kBlockFileMaxBlock) {
    char text[160];
    std::snprintf(text, sizeof text,
                  video ? "CTR0040E Unable to fit video frame frame %lu (size = %lu) into a cache "
                          "buffer!"
                        : "CTR0042E Unable to fit audio frame frame %lu (size = %lu) into a cache "
                          "buffer!",
                  (unsigned long)frameNumber, (unsigned long)length);
    return fail(text);
  }
  if (block.bytes() + 4 + padded > kBlockFileMaxBlock && !flush(block, video)) return false;
  block.sizes.push_back(sizeWord);
  if (length) block.data.insert(block.data.end(), data, data + length);
  block.data.resize(block.data.size() + (padded - length), 0);
  return true;
}

int BlockFileWriter::writeFrame(const uint8_t* video, uint32_t videoLength, bool keyFrame,
                                const uint8_t* audio, uint32_t audioLength, uint32_t frameNumber) {
  if (fd_ < 0 || finished_) return kRecordError;
  if (!add(video_, true, video, videoLength, videoLength | (keyFrame ? kBlockFileKeyBit : 0),
           frameNumber))
    return kRecordError;
  ++header_.frames;
  if (header_.flags & kBlockFileFlagAudio) {
    // One audio piece per frame, empty ones too, so that audio block entries pair with frames.
    if (!add(audio_, false, audio, audio ? audioLength : 0, audio ? audioLength : 0, frameNumber))
      return kRecordError;
    header_.audioBytes += audio ? audioLength : 0;
  }
  return kRecordWritten;
}

bool BlockFileWriter::finish() {
  if (fd_ < 0 || finished_) return false;
  finished_ = true;
  bool ok = flush(video_, true) && flush(audio_, false);
  if (ok && ::lseek(fd_, 0, SEEK_SET) != 0) {
    const int cause = errno;
    char text[512];
    std::snprintf(text, sizeof text,
                  "CTR0041E Unable to set file pointer for \"%s\", RC=%lu - compression halted",
                  settings_.path.c_str(), (unsigned long)cause);
    ok = fail(text, cause);
  }
  if (ok) {
    auto h = header_.pack();
    ok = writeAll(h.data(), h.size());
  }
  ::close(fd_);
  fd_ = -1;
  return ok;
}

void BlockFileWriter::abandon() {
  finished_ = true;
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
  if (created_) ::unlink(settings_.path.c_str());
}

}  // namespace zov

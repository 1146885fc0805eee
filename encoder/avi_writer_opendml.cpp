// The OpenDML side of the output writer: the reserved header space, the 'AVIX' parts and their
// standard indexes, and the super indexes written at the end.
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "encoder/avi_writer.h"

namespace zov {

namespace {

constexpr uint32_t kDmlhData = 248;
static_assert(AviWriter::kOdmlData == 4 + 8 + kDmlhData);  // 'odml', then the 'dmlh' chunk
constexpr uint64_t kFirstRiffLimit = 0xFFFFFFFFull;
// Later parts stay at 1 GB, as other writers keep them, for readers with signed 32-bit sizes.
constexpr uint64_t kPartLimit = 1ull << 30;
constexpr uint8_t kIndexOfIndexes = 0, kIndexOfChunks = 1;
constexpr FourCC kIx00 = makeFourCC("ix00"), kIx01 = makeFourCC("ix01");
constexpr FourCC kDmlh = makeFourCC("dmlh");

void put16(std::vector<uint8_t>& v, uint16_t x) {
  v.push_back(uint8_t(x));
  v.push_back(uint8_t(x >> 8));
}
void put32(std::vector<uint8_t>& v, uint32_t x) {
  put16(v, uint16_t(x));
  put16(v, uint16_t(x >> 16));
}
void put64(std::vector<uint8_t>& v, uint64_t x) {
  put32(v, uint32_t(x));
  put32(v, uint32_t(x >> 32));
}

}  // namespace

bool AviWriter::reserveOpenDml(uint64_t* offset, uint32_t dataLength) {
  if (zevMode() || !settings_.openDmlReserve) return true;
  const std::vector<uint8_t> zeros(dataLength, 0);
  if (!file_.seekToEnd())
    return fail("CTR0043E Compression file error: (chunk) - compression halted");
  *offset = file_.position();
  writeHeaderChunk(fourcc::kJunk, zeros.data(), dataLength, 0);
  return !failed_;
}

uint32_t AviWriter::audioUnit() const {
  uint32_t unit = audioStrh_.sampleSize;
  if (unit == 0 && settings_.audioFormat.size() >= 14) unit = getLE16(&settings_.audioFormat[12]);
  return unit ? unit : 1;
}

bool AviWriter::recordFitsPart(uint64_t recordBytes) const {
  const uint64_t end = file_.end();
  if (!openDml_) {
    const uint64_t limit = settings_.firstRiffLimit ? settings_.firstRiffLimit : kFirstRiffLimit;
    // The part's own indexes follow its movie data: 'idx1' and the two standard indexes.
    const uint64_t indexes = indexSize_ + 64 + 8ull * (framesWritten_ + audioChunks_ + 4) + 64;
    return end + recordBytes + indexes <= std::min(limit, kFirstRiffLimit);
  }
  const uint64_t indexes = 8ull * (partVideo_.size() + partAudio_.size() + 4) + 128;
  return end - partStart_ + recordBytes + indexes <= kPartLimit;
}

bool AviWriter::writeStandardIndex(FourCC ixId, FourCC chunkId,
                                   const std::vector<PartEntry>& entries, uint32_t duration,
                                   std::vector<SuperEntry>& super) {
  std::vector<uint8_t> head;
  put16(head, 2);  // longs per entry
  head.push_back(0);
  head.push_back(kIndexOfChunks);
  put32(head, uint32_t(entries.size()));
  put32(head, chunkId);
  put64(head, moviBase_);
  put32(head, 0);
  std::vector<uint8_t> body;
  body.reserve(entries.size() * 8);
  for (const PartEntry& e : entries) {
    put32(body, e.offset);
    put32(body, e.size);
  }
  RiffWriter::Chunk ix;
  if (!file_.seekToEnd() || !file_.createChunk(ix, ixId) ||
      !file_.write(head.data(), head.size()) ||
      (!body.empty() && !file_.write(body.data(), body.size())) || !file_.ascend(ix))
    return fail("CTR0049E Compression file error: (chunk write) - compression halted");
  super.push_back({ix.headerOffset, uint32_t(8 + head.size() + body.size()), duration});
  return true;
}

// The first part's entries come from the temporary index, which holds them as 'idx1' entries.
bool AviWriter::writeFirstPartIndexes() {
  std::vector<uint8_t> block(
      size_t(std::min<uint64_t>(std::max<uint64_t>(indexSize_, 16), 1 << 20)));
  uint64_t done = 0;
  uint64_t audioBytes = 0;
  while (done < indexSize_) {
    const size_t want = size_t(std::min<uint64_t>(block.size(), indexSize_ - done)) & ~size_t(15);
    const ssize_t n = ::pread(indexFd_, block.data(), want, off_t(done));
    if (n < 0 && errno == EINTR) continue;
    if (n < 16) {
      if (n < 0) systemError_ = errno;
      return fail("CTR0030E Unable to read temporary index file - compression halted");
    }
    for (size_t at = 0; at + 16 <= size_t(n); at += 16) {
      const uint8_t* e = block.data() + at;
      const FourCC id = getLE32(e);
      const uint32_t flags = getLE32(e + 4), offset = getLE32(e + 8) + 8, length = getLE32(e + 12);
      if (id == fourcc::k00db || id == fourcc::k00dc) {
        partVideo_.push_back({offset, (flags & kAviifKeyFrame) ? length : length | 0x80000000u});
      } else if (id == fourcc::k01wb) {
        partAudio_.push_back({offset, length});
        audioBytes += length;
      }
    }
    done += uint64_t(n) & ~uint64_t(15);
  }
  partAudioBytes_ = audioBytes;
  return writePartIndexes();
}

bool AviWriter::writePartIndexes() {
  if (!writeStandardIndex(kIx00, fourcc::k00dc, partVideo_, uint32_t(partVideo_.size()),
                          superVideo_))
    return false;
  if (settings_.withAudio &&
      !writeStandardIndex(kIx01, fourcc::k01wb, partAudio_, uint32_t(partAudioBytes_ / audioUnit()),
                          superAudio_))
    return false;
  partVideo_.clear();
  partAudio_.clear();
  partAudioBytes_ = 0;
  return true;
}

bool AviWriter::startNextPart() {
  if (!settings_.openDmlReserve || superVideo_.size() + 1 >= kSuperIndexEntries) return false;
  if (!openDml_) {
    // The first RIFF: its standard indexes inside the movie list, then its legacy 'idx1'.
    if (!writeFirstPartIndexes()) return false;
    if (!file_.seekToEnd() || !file_.ascend(movi_))
      return fail("CTR0028E Compression file error: (movi ascend) - compression halted");
    if (!copyIndexIntoOutput()) return false;
    firstPartFrames_ = framesWritten_;
    openDml_ = true;
  } else {
    if (!writePartIndexes()) return false;
    if (!file_.seekToEnd() || !file_.ascend(movi_))
      return fail("CTR0028E Compression file error: (movi ascend) - compression halted");
  }
  if (!file_.seekToEnd() || !file_.ascend(riff_))
    return fail("CTR0032E Compression file error: (AVI ascend) - compression halted");
  if (!file_.seekToEnd() || !file_.createList(riff_, fourcc::kRiff, fourcc::kAvix) ||
      !file_.createList(movi_, fourcc::kList, fourcc::kMovi))
    return fail("CTR0023E Compression file error: (movi LIST) - compression halted");
  partStart_ = riff_.headerOffset;
  moviBase_ = movi_.dataOffset;
  return true;
}

// Over the reserved 'JUNK': each stream's super index and the 'odml' list with the whole
// movie's frame count.
bool AviWriter::writeSuperIndexes() {
  auto superIndex = [&](uint64_t at, FourCC chunkId, const std::vector<SuperEntry>& entries) {
    std::vector<uint8_t> c;
    put32(c, fourcc::kIndx);
    put32(c, kSuperIndexData);
    put16(c, 4);
    c.push_back(0);
    c.push_back(kIndexOfIndexes);
    put32(c, uint32_t(entries.size()));
    put32(c, chunkId);
    put32(c, 0), put32(c, 0), put32(c, 0);
    for (const SuperEntry& e : entries) {
      put64(c, e.offset);
      put32(c, e.size);
      put32(c, e.duration);
    }
    c.resize(8 + size_t(kSuperIndexData), 0);
    return file_.seek(at) && file_.write(c.data(), c.size());
  };
  if (!superIndex(videoIndxOffset_, fourcc::k00dc, superVideo_) ||
      (settings_.withAudio && !superIndex(audioIndxOffset_, fourcc::k01wb, superAudio_)))
    return fail("CTR0035E Compression file error: (video header fixup) - compression halted");
  std::vector<uint8_t> odml;
  put32(odml, fourcc::kList);
  put32(odml, kOdmlData);
  put32(odml, fourcc::kOdml);
  put32(odml, kDmlh);
  put32(odml, kDmlhData);
  put32(odml, framesWritten_);
  odml.resize(8 + kOdmlData, 0);
  if (!file_.seek(odmlOffset_) || !file_.write(odml.data(), odml.size()))
    return fail("CTR0034E Compression file error: (main header fixup) - compression halted");
  return file_.seekToEnd();
}

}  // namespace zov

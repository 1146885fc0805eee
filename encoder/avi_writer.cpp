#include "encoder/avi_writer.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <new>

#include "encoder/compression_settings.h"
#include "encoder/zev_format.h"
#include "format/stream_format.h"

namespace zov {

namespace {

constexpr uint32_t kSector = 2048;
constexpr uint64_t kMaxRiffFile = 0xFFFFFFFFull;
// JUNK contents: any fixed bytes do, no reader looks at them.
constexpr char kPaddingText[] = "Orvane ZOV2 padding for CD-ROM.";  // 31 characters
static_assert(sizeof kPaddingText - 1 == 31);

const char kVideoName[] = "Orvane ZOV2 Codec -- Video #1";
const char kAudioName[] = "Orvane ZOV2 Codec -- Audio #1";

bool fileExists(const std::string& path) {
  struct stat st;
  return ::lstat(path.c_str(), &st) == 0;
}

// The JUNK data length that brings `position` to `target` modulo 2048, or -1 for none.
int64_t junkLength(uint64_t position, uint32_t target) {
  int64_t p = int64_t(position % kSector);
  int64_t t = int64_t(target);
  if (p == t % kSector) return -1;
  int64_t length = t - 8 - p;
  if (p > t - 8) length += kSector;
  return length;
}

}  // namespace

uint32_t outputCompressionWord(const CompressionSettings& s) {
  uint32_t word = kZov2Tag | stream_flag::kV4;
  if (s.SingleField) word |= stream_flag::kSField;
  if (s.WideField) word |= stream_flag::kWField;
  if (s.ChromaKeying && !s.ChromaBackground.empty()) word |= stream_flag::kChroma;
  if (s.ChromaKeying && s.ChromaScreening == kScreeningBackground && s.ChromaBackground.empty())
    word |= stream_flag::kChroma1st;
  return word;
}

int createTemporaryIndex(const std::string& outputPath, int* error) {
  const size_t slash = outputPath.rfind('/');
  const std::string folder = slash == std::string::npos ? "." : outputPath.substr(0, slash + 1);
  std::string pattern = folder + (folder.back() == '/' ? "" : "/") + ".zov-index-XXXXXX";
  const int fd = ::mkostemp(pattern.data(), O_CLOEXEC);
  if (fd < 0) {
    *error = errno;
    return -1;
  }
  // Unlinked at once: the descriptor keeps the data, and no run, however it ends, leaves the
  // file behind.
  ::unlink(pattern.c_str());
  return fd;
}

std::string outputFileProblem(const std::string& path) {
  struct stat st;
  if (::stat(path.c_str(), &st) != 0 || S_ISREG(st.st_mode)) return {};
  return "\"" + path + "\" is " + (S_ISDIR(st.st_mode) ? "a folder" : "not a regular file") +
         ": the output must be a file (it is finished by writing its headers again at its "
         "start)";
}

AviWriter::~AviWriter() {
  if (opened_ && !finished_) abandon();
}

bool AviWriter::fail(const std::string& text) {
  failed_ = true;
  // A failure the system explains (a full disk, a file too large, a missing folder) names its
  // cause under the message.
  const int cause = systemError_ ? systemError_ : file_.lastError();
  if (callbacks_.error) callbacks_.error(cause ? text + "\nCause: " + std::strerror(cause) : text);
  return false;
}

bool AviWriter::open(const AviWriterSettings& settings, WriterCallbacks callbacks) {
  settings_ = settings;
  callbacks_ = std::move(callbacks);
  if (settings_.mode == RunMode::BlockFile)
    return fail("CTR0012E Unable to create compression file - compression halted");

  // 1. The padding buffer.
  try {
    padding_.resize(kSector);
  } catch (const std::bad_alloc&) {
    return fail("CTR0009E Error allocating a 2K padding buffer - compression halted");
  }
  for (size_t i = 0; i < padding_.size(); ++i) padding_[i] = uint8_t(kPaddingText[i % 31]);

  // 2. The old output, only ever a regular file (or a link, which is replaced, not followed).
  const std::string problem = outputFileProblem(settings_.path);
  if (!problem.empty())
    return fail("CTR0012E Unable to create compression file - compression halted\nCause: " +
                problem);
  if (fileExists(settings_.path) && ::unlink(settings_.path.c_str()) != 0) {
    systemError_ = errno;
    return fail("CTR0010E Unable to delete old compression file - compression halted");
  }

  // 3. Output and index. The index is a file of its own, named by the system, so it can never
  // be a file of the user's.
  if (!file_.create(settings_.path))
    return fail("CTR0012E Unable to create compression file - compression halted");
  opened_ = true;
  indexFd_ = createTemporaryIndex(settings_.path, &systemError_);
  if (indexFd_ < 0) return fail("CTR0013E Unable to create index file - compression halted");
  indexSize_ = 0;

  // 4. Headers.
  const bool audio = settings_.withAudio;
  if (!file_.createList(riff_, fourcc::kRiff, fourcc::kAvi))
    return fail("CTR0014E Compression file error: (AVI RIFF) - compression halted");
  RiffWriter::Chunk hdrl;
  if (!file_.createList(hdrl, fourcc::kList, fourcc::kHdrl))
    return fail("CTR0015E Compression file error: (hdrl LIST) - compression halted");

  avih_ = {};
  avih_.microSecPerFrame = settings_.microSecPerFrame;
  avih_.paddingGranularity = (settings_.cdromTarget && !zevMode()) ? kSector : 0;
  avih_.flags = audio ? (kAvifHasIndex | kAvifIsInterleaved) : kAvifHasIndex;
  avih_.initialFrames = settings_.audioPreloadFrames;
  avih_.streams = audio ? 2 : 1;
  avih_.width = settings_.width;
  avih_.height = settings_.height;
  auto avih = avih_.pack();
  avihOffset_ = file_.position() + 8;
  writeHeaderChunk(fourcc::kAvih, avih.data(), avih.size(), 0);
  if (failed_) return false;

  RiffWriter::Chunk strl;
  if (!file_.createList(strl, fourcc::kList, fourcc::kStrl))
    return fail("CTR0016E Compression file error: (vids strl LIST) - compression halted");
  videoStrh_ = {};
  videoStrh_.type = fourcc::kVids;
  videoStrh_.handler = fourcc::kZov2Lower;
  videoStrh_.scale = settings_.fileScale;
  videoStrh_.rate = settings_.fileRate;
  videoStrh_.quality = 10000;
  videoStrh_.frame[2] = int32_t(settings_.width);
  videoStrh_.frame[3] = int32_t(settings_.height);
  auto vstrh = videoStrh_.pack();
  videoStrhOffset_ = file_.position() + 8;
  writeHeaderChunk(fourcc::kStrh, vstrh.data(), vstrh.size(), 0);
  if (failed_) return false;

  size_t pictureBytes = size_t(settings_.width) * settings_.height * 2;
  try {
    compressionBuffer_.assign((settings_.backgroundBitmap ? 2 * pictureBytes : pictureBytes) + 40,
                              0);
  } catch (const std::bad_alloc&) {
    return fail("CTR0017E Error allocating compression buffer - compression halted");
  }

  std::array<uint8_t, 40> vformat{};
  if (settings_.mode == RunMode::Compress) {
    DibHeader bih;
    bih.width = int32_t(settings_.width);
    bih.height = int32_t(settings_.height);
    bih.planes = 1;
    bih.bitCount = 16;
    bih.compression = settings_.compressionWord;
    bih.sizeImage = uint32_t(pictureBytes);
    vformat = bih.pack();
  } else {
    vformat = settings_.sourceVideoFormat;
  }
  writeHeaderChunk(fourcc::kStrf, vformat.data(), vformat.size(), 0);
  if (failed_) return false;
  writeHeaderChunk(fourcc::kStrn, kVideoName, sizeof kVideoName, 0);
  if (failed_) return false;
  if (!reserveOpenDml(&videoIndxOffset_, kSuperIndexData)) return false;
  if (!file_.ascend(strl))
    return fail("CTR0018E Compression file error: (vids strl ascend) - compression halted");

  if (audio) {
    RiffWriter::Chunk astrl;
    if (!file_.createList(astrl, fourcc::kList, fourcc::kStrl))
      return fail("CTR0019E Compression file error: (auds strl) - compression halted");
    if (settings_.audioFormat.empty())
      return fail("CTR0020E Unable to determine audio format - compression halted");
    const AviStreamHeader& src = settings_.audioStreamInfo;
    audioStrh_ = {};
    audioStrh_.type = src.type ? src.type : fourcc::kAuds;
    audioStrh_.handler = src.handler;
    audioStrh_.scale = src.scale;
    audioStrh_.rate = src.rate;
    audioStrh_.suggestedBufferSize = src.suggestedBufferSize;
    audioStrh_.quality = src.quality;
    audioStrh_.sampleSize = src.sampleSize;
    audioStrh_.initialFrames = settings_.audioPreloadFrames;
    auto astrh = audioStrh_.pack();
    audioStrhOffset_ = file_.position() + 8;
    writeHeaderChunk(fourcc::kStrh, astrh.data(), astrh.size(), 0);
    if (failed_) return false;

    std::vector<uint8_t> aformat = settings_.audioFormat;
    if (zevMode()) {
      // The network source gets a format that no other player mistakes for playable PCM.
      std::vector<uint8_t> z(18, 0);
      std::copy_n(aformat.begin(), std::min<size_t>(18, aformat.size()), z.begin());
      putLE16(z.data(), kZevAudioFormatTag);
      aformat = std::move(z);
    }
    writeHeaderChunk(fourcc::kStrf, aformat.data(), uint32_t(aformat.size()), 0);
    if (failed_) return false;
    writeHeaderChunk(fourcc::kStrn, kAudioName, sizeof kAudioName, 0);
    if (failed_) return false;
    if (!reserveOpenDml(&audioIndxOffset_, kSuperIndexData)) return false;
    if (!file_.ascend(astrl))
      return fail("CTR0021E Compression file error: (auds strl ascend) - compression halted");
  }
  if (!reserveOpenDml(&odmlOffset_, kOdmlData)) return false;
  if (!file_.ascend(hdrl))
    return fail("CTR0022E Compression file error: (hdrl ascend) - compression halted");

  // 5. The movie data start on a sector boundary.
  if (!alignWithJunk(audio ? 2024 : 2036)) return false;
  if (settings_.cdromTarget && settings_.reportPad && lastPadding_ != 0 && !zevMode() &&
      callbacks_.message) {
    char text[64];
    std::snprintf(text, sizeof text, "Padding - %ld bytes", long(lastPadding_));
    callbacks_.message(text);
  }

  // 6. The movie list.
  if (!file_.createList(movi_, fourcc::kList, fourcc::kMovi))
    return fail("CTR0023E Compression file error: (movi LIST) - compression halted");
  moviBase_ = movi_.dataOffset;
  return true;
}

uint32_t AviWriter::writeHeaderChunk(FourCC id, const void* data, uint32_t length, uint64_t base) {
  if (!file_.seekToEnd()) {
    fail("CTR0043E Compression file error: (chunk) - compression halted");
    return 0;
  }
  RiffWriter::Chunk chunk;
  if (!file_.createChunk(chunk, id)) {
    fail("CTR0043E Compression file error: (chunk) - compression halted");
    return 0;
  }
  if (length != 0 && !file_.write(data, length)) {
    fail("CTR0044E Compression file error: (chunk write) - compression halted");
    return 0;
  }
  if (!file_.ascend(chunk)) {
    fail("CTR0045E Compression file error: (chunk ascend) - compression halted");
    return 0;
  }
  return uint32_t(chunk.headerOffset - base);
}

uint32_t AviWriter::writeMoviChunk(FourCC id, const void* data, uint32_t length, uint64_t base) {
  if (!zevMode()) {
    RiffWriter::Chunk chunk;
    if (!file_.seekToEnd() || !file_.createChunk(chunk, id)) {
      fail("CTR0046E Compression file error: (chunk) - compression halted");
      return 0;
    }
    if (length != 0 && !file_.write(data, length)) {
      fail("CTR0049E Compression file error: (chunk write) - compression halted");
      return 0;
    }
    if (!file_.ascend(chunk)) {
      fail("CTR0050E Compression file error: (chunk ascend) - compression halted");
      return 0;
    }
    return uint32_t(chunk.headerOffset - base);
  }
  if (length == 0) {
    fail("CTR0047E ZEV chunks of zero length are not allowed - compression halted");
    return 0;
  }
  if (id != fourcc::kIdx1 && length > kZevMaxChunk) {
    char text[128];
    std::snprintf(text, sizeof text,
                  "CTR0048E ZEV chunks of larger than %lu are not allowed - compression halted",
                  (unsigned long)kZevMaxChunk);
    fail(text);
    return 0;
  }
  if (!file_.seekToEnd()) {
    fail("CTR0046E Compression file error: (chunk) - compression halted");
    return 0;
  }
  uint64_t at = file_.position();
  if (!file_.write(data, length)) {
    fail("CTR0049E Compression file error: (chunk write) - compression halted");
    return 0;
  }
  return uint32_t(at);
}

bool AviWriter::alignWithJunk(uint32_t target) {
  lastPadding_ = 0;
  if (!file_.seekToEnd())
    return fail("CTR0043E Compression file error: (chunk) - compression halted");
  int64_t length = junkLength(file_.position(), target);
  if (length < 0) return true;
  writeHeaderChunk(fourcc::kJunk, padding_.data(), uint32_t(length), 0);
  if (failed_) return false;
  lastPadding_ = uint32_t(length);
  return true;
}

bool AviWriter::writeIndexBytes(const uint8_t* data, size_t size) {
  size_t done = 0;
  while (done < size) {
    ssize_t n = ::write(indexFd_, data + done, size - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      systemError_ = n < 0 ? errno : ENOSPC;
      break;
    }
    done += size_t(n);
  }
  indexSize_ += done;
  return done == size;
}

int AviWriter::writeFrameRecord(const uint8_t* video, uint32_t videoLength, const uint8_t* audio,
                                uint32_t audioLength, bool keyFrame, uint32_t frameNumber) {
  return writeRecord(true, video, videoLength, audio, audioLength, keyFrame, frameNumber);
}

int AviWriter::writeAudioRecord(const uint8_t* audio, uint32_t audioLength, uint32_t frameNumber) {
  return writeRecord(false, nullptr, 0, audio, audioLength, false, frameNumber);
}

// An audio-only record (the audio preload) carries no video chunk and no video index entry, so
// the video stream holds exactly the movie's frames; a frame skipped by data-rate control still
// gets its empty chunk, which keeps the later frames in time.
int AviWriter::writeRecord(bool withVideoChunk, const uint8_t* video, uint32_t videoLength,
                           const uint8_t* audio, uint32_t audioLength, bool keyFrame,
                           uint32_t frameNumber) {
  if (!opened_ || finished_ || failed_) return kRecordError;
  if (!video) videoLength = 0;
  if (!audio) audioLength = 0;
  const bool rec = recordLists();
  const bool withAudioChunk = audio != nullptr && audioLength > 0;
  const bool cdrom = settings_.cdromTarget && !zevMode();

  // RIFF sizes and index offsets are 32-bit. A record that could carry the RIFF past its limit
  // opens the next OpenDML part; the stream file has no parts, so there it ends the movie like
  // the size limit, and the file stays valid.
  {
    const uint64_t record = 2 * (uint64_t(videoLength) + audioLength) + 3 * kSector + 64;
    if (zevMode()) {
      if (file_.end() + record + indexSize_ > kMaxRiffFile) return kRecordSizeLimit;
    } else if (!recordFitsPart(record) && !startNextPart()) {
      return failed_ ? kRecordError : kRecordSizeLimit;
    }
  }

  // 1. Size limit.
  if (settings_.cutOffKBLimit != 0) {
    uint64_t limit = uint64_t(settings_.cutOffKBLimit) * 1024;
    uint64_t pos = file_.end();
    if (pos > limit) {
      if (!settings_.cutOffKBLimitNotify) return kRecordSizeLimit;
    } else {
      uint64_t estimate = pos;
      uint64_t chunks = withVideoChunk ? ((uint64_t(videoLength) + 1) & ~1ull) + 8 : 0;
      uint32_t entries = withVideoChunk ? 1 : 0;
      if (withAudioChunk) {
        chunks += ((uint64_t(audioLength) + 1) & ~1ull) + 8;
        ++entries;
      }
      estimate += chunks;
      if (rec) estimate += 28;
      if (cdrom) {
        int64_t junk = junkLength(pos + (rec ? 12 : 0) + chunks, rec ? kSector - 12 : kSector);
        if (junk >= 0) estimate += uint64_t(junk) + 8;
      }
      estimate += 16ull * entries + indexSize_ + 12;
      if (estimate > limit) {
        if (!settings_.cutOffKBLimitNotify) return kRecordSizeLimit;
        if (callbacks_.status) {
          char text[64];
          std::snprintf(text, sizeof text, "CutOff KB Limit reached at %u", frameNumber);
          callbacks_.status(text);
        }
      }
    }
  }

  // 2. The record list.
  RiffWriter::Chunk recList;
  if (rec) {
    if (!file_.seekToEnd() || !file_.createList(recList, fourcc::kList, fourcc::kRec)) {
      fail("CTR0051E Compression file error: (rec  LIST) - compression halted");
      return kRecordError;
    }
  }

  // 3. Video, then audio.
  const FourCC videoId = keyFrame ? fourcc::k00db : fourcc::k00dc;
  uint32_t videoOffset = 0;
  if (withVideoChunk) {
    videoOffset = writeMoviChunk(videoId, video, videoLength, moviBase_);
    if (failed_) return kRecordError;
  }
  uint32_t audioOffset = 0;
  if (withAudioChunk) {
    audioOffset = writeMoviChunk(fourcc::k01wb, audio, audioLength, moviBase_);
    if (failed_) return kRecordError;
  }

  // 4. CD-ROM padding, inside the record list so the next list's data start on the boundary.
  if (cdrom && !alignWithJunk(rec ? kSector - 12 : kSector)) return kRecordError;

  // 5. Close the record list.
  if (rec) {
    if (!file_.ascend(recList)) {
      fail("CTR0052E Compression file error: (rec ascend) - compression halted");
      return kRecordError;
    }
    uint32_t listLength = uint32_t(file_.end() - 8 - recList.headerOffset);
    AviIndexEntry e{fourcc::kRec, kAviifList, uint32_t(recList.headerOffset - moviBase_),
                    listLength};
    auto b = e.pack();
    if (!openDml_ && !writeIndexBytes(b.data(), b.size())) {
      fail("CTR0053E Compression file error: (index write) - compression halted");
      return kRecordError;
    }
    largestRecord_ = std::max(largestRecord_, listLength);
  }

  // 6. Video index entry.
  if (!withVideoChunk) {
  } else if (openDml_) {
    partVideo_.push_back({videoOffset + 8, keyFrame ? videoLength : videoLength | 0x80000000u});
  } else if (zevMode()) {
    ZevIndexEntry z{videoOffset, videoLength | (keyFrame ? kZevKeyFrameBit : 0)};
    uint8_t b[8];
    z.packInto(b);
    if (!writeIndexBytes(b, 8)) {
      fail("CTR0055E Compression file error: (index write) - compression halted");
      return kRecordError;
    }
  } else {
    AviIndexEntry e{videoId, keyFrame ? kAviifKeyFrame : 0, videoOffset, videoLength};
    auto b = e.pack();
    if (!writeIndexBytes(b.data(), b.size())) {
      fail("CTR0054E Compression file error: (index write) - compression halted");
      return kRecordError;
    }
  }
  if (withVideoChunk) {
    largestVideo_ = std::max(largestVideo_, videoLength);
    ++framesWritten_;
  }

  // 7. Audio index entry.
  if (withAudioChunk) {
    ++audioChunks_;
    if (openDml_) {
      partAudio_.push_back({audioOffset + 8, audioLength});
      partAudioBytes_ += audioLength;
    } else if (zevMode()) {
      ZevIndexEntry z{audioOffset, audioLength};
      uint8_t b[8];
      z.packInto(b);
      if (!writeIndexBytes(b, 8)) {
        fail("CTR0057E Compression file error: (index write) - compression halted");
        return kRecordError;
      }
    } else {
      AviIndexEntry e{fourcc::k01wb, 0, audioOffset, audioLength};
      auto b = e.pack();
      if (!writeIndexBytes(b.data(), b.size())) {
        fail("CTR0056E Compression file error: (index write) - compression halted");
        return kRecordError;
      }
    }
    largestAudio_ = std::max(largestAudio_, audioLength);
    totalAudio_ += audioLength;
  }
  return kRecordWritten;
}

bool AviWriter::copyIndexIntoOutput() {
  if (indexSize_ == 0) return true;
  if (indexSize_ > 0xFFFFFFF0ull)
    return fail("CTR0029E Unable to allocate memory for index - compression halted");
  std::vector<uint8_t> block;
  try {
    block.resize(size_t(std::min<uint64_t>(indexSize_, 1 << 20)));
  } catch (const std::bad_alloc&) {
    return fail("CTR0029E Unable to allocate memory for index - compression halted");
  }
  // The index is copied in bounded blocks instead of being read whole: the bytes written are the
  // same and memory stays flat for any length of movie.
  RiffWriter::Chunk chunk;
  if (!file_.seekToEnd())
    return fail("CTR0046E Compression file error: (chunk) - compression halted");
  if (!zevMode() && !file_.createChunk(chunk, fourcc::kIdx1))
    return fail("CTR0046E Compression file error: (chunk) - compression halted");
  uint64_t done = 0;
  while (done < indexSize_) {
    size_t want = size_t(std::min<uint64_t>(block.size(), indexSize_ - done));
    ssize_t n = ::pread(indexFd_, block.data(), want, off_t(done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return fail("CTR0030E Unable to read temporary index file - compression halted");
    if (!file_.write(block.data(), size_t(n)))
      return fail("CTR0049E Compression file error: (chunk write) - compression halted");
    done += uint64_t(n);
  }
  if (!zevMode() && !file_.ascend(chunk))
    return fail("CTR0050E Compression file error: (chunk ascend) - compression halted");
  ::close(indexFd_);
  indexFd_ = -1;
  return true;
}

bool AviWriter::fixUpHeaders() {
  // With OpenDML parts the main header counts the first RIFF's frames, as its 'idx1' does; the
  // stream header and the 'odml' list count them all.
  avih_.totalFrames = openDml_ ? firstPartFrames_ : framesWritten_;
  avih_.suggestedBufferSize =
      recordLists() ? largestRecord_ : std::max(largestVideo_, largestAudio_);
  auto a = avih_.pack();
  if (!file_.seek(avihOffset_) || !file_.write(a.data(), a.size()))
    return fail("CTR0034E Compression file error: (main header fixup) - compression halted");
  videoStrh_.length = framesWritten_;
  videoStrh_.suggestedBufferSize = largestVideo_;
  auto v = videoStrh_.pack();
  if (!file_.seek(videoStrhOffset_) || !file_.write(v.data(), v.size()))
    return fail("CTR0035E Compression file error: (video header fixup) - compression halted");
  if (settings_.withAudio) {
    audioStrh_.length = uint32_t(totalAudio_ / audioUnit());
    audioStrh_.suggestedBufferSize = largestAudio_;
    auto s = audioStrh_.pack();
    if (!file_.seek(audioStrhOffset_) || !file_.write(s.data(), s.size()))
      return fail("CTR0036E Compression file error: (audio header fixup) - compression halted");
  }
  return file_.seekToEnd();
}

bool AviWriter::finish() {
  if (!opened_ || finished_) return false;
  finished_ = true;
  bool ok = [&] {
    if (openDml_ && !writePartIndexes()) return false;
    if (!file_.seekToEnd() || !file_.ascend(movi_))
      return fail("CTR0028E Compression file error: (movi ascend) - compression halted");
    if (!openDml_ && !copyIndexIntoOutput()) return false;
    if (!file_.seekToEnd() || !file_.ascend(riff_))
      return fail("CTR0032E Compression file error: (AVI ascend) - compression halted");
    std::fill(padding_.begin(), padding_.end(), 0);
    uint64_t rest = (kSector - file_.end() % kSector) % kSector;
    if (rest != 0 && (!file_.seekToEnd() || !file_.write(padding_.data(), size_t(rest))))
      return fail("CTR0033E Compression file error: (zero trail pad) - compression halted");
    if (!fixUpHeaders()) return false;
    if (openDml_ && !writeSuperIndexes()) return false;
    if (!file_.close())
      return fail("CTR0034E Compression file error: (main header fixup) - compression halted");
    return true;
  }();
  if (indexFd_ >= 0) {
    ::close(indexFd_);
    indexFd_ = -1;
  }
  file_.close();
  return ok;
}

void AviWriter::abandon() {
  finished_ = true;
  file_.close();
  if (indexFd_ >= 0) {
    ::close(indexFd_);
    indexFd_ = -1;
  }
  if (opened_ && settings_.mode != RunMode::Compress && settings_.mode != RunMode::NoRecompression)
    ::unlink(settings_.path.c_str());
}

}  // namespace zov

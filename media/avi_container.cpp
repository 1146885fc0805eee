#include "media/avi_container.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <set>

namespace zov {

namespace {

// Header lists are small; anything larger is not a header list we can use.
constexpr uint64_t kMaxHeaderList = 16u << 20;
constexpr uint64_t kMaxFormat = 1u << 20;
constexpr int kMaxListDepth = 8;
constexpr size_t kMaxRiffParts = 4096;
constexpr size_t kMaxSuperEntries = 1u << 16;

// The stream number of a movie chunk id ("01wb" -> 1), or -1.
int streamNumberOf(FourCC id) {
  int a = int(id & 0xFF) - '0', b = int((id >> 8) & 0xFF) - '0';
  if (a < 0 || a > 9 || b < 0 || b > 9) return -1;
  return a * 10 + b;
}
uint16_t twoCCOf(FourCC id) {
  return uint16_t(id >> 16);
}
constexpr uint16_t twoCC(char a, char b) {
  return uint16_t(uint8_t(a) | uint8_t(b) << 8);
}

}  // namespace

bool isIntraOnlyCompression(uint32_t c) {
  switch (c) {
    case 0:  // BI_RGB
    case 3:  // BI_BITFIELDS
    case makeFourCC("MJPG"):
    case makeFourCC("mjpg"):
    case makeFourCC("JPEG"):
    case makeFourCC("YUY2"):
    case makeFourCC("UYVY"):
    case makeFourCC("I420"):
    case makeFourCC("IYUV"):
    case makeFourCC("YV12"):
    case makeFourCC("Y42B"):
    case makeFourCC("444P"):
    case makeFourCC("Y800"):
    case makeFourCC("DIB "):
      return true;
    default:
      return false;
  }
}

AviContainer::~AviContainer() {
  if (fd_ >= 0) ::close(fd_);
}

std::unique_ptr<AviContainer> AviContainer::open(const std::string& path, std::string* error) {
  std::unique_ptr<AviContainer> c(new AviContainer);
  c->fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (c->fd_ < 0) {
    if (error) *error = std::string("cannot open file: ") + std::strerror(errno);
    return nullptr;
  }
  struct stat st;
  if (::fstat(c->fd_, &st) != 0 || !S_ISREG(st.st_mode)) {
    if (error) *error = "not a regular file";
    return nullptr;
  }
  c->fileSize_ = uint64_t(st.st_size);
  if (!c->parse(error)) return nullptr;
  return c;
}

std::unique_ptr<AviContainer> AviContainer::openMemory(const uint8_t* data, size_t size,
                                                       std::string* error) {
  std::unique_ptr<AviContainer> c(new AviContainer);
  c->memory_.assign(data, data + size);
  c->inMemory_ = true;
  c->fileSize_ = size;
  if (!c->parse(error)) return nullptr;
  return c;
}

bool AviContainer::readAt(uint64_t offset, void* buf, size_t size) const {
  if (offset > fileSize_ || size > fileSize_ - offset) return false;
  if (inMemory_) {
    std::memcpy(buf, memory_.data() + offset, size);
    return true;
  }
  size_t done = 0;
  while (done < size) {
    ssize_t n = ::pread(fd_, static_cast<uint8_t*>(buf) + done, size - done, off_t(offset + done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += size_t(n);
  }
  return true;
}

bool AviContainer::parse(std::string* error) {
  auto fail = [&](const char* why) {
    if (error) *error = why;
    return false;
  };
  uint8_t h[12];
  if (!readAt(0, h, 12) || getLE32(h) != fourcc::kRiff || getLE32(h + 8) != fourcc::kAvi)
    return fail("not an AVI file");

  bool haveHeader = false;
  uint64_t pos = 0;
  for (size_t part = 0; part < kMaxRiffParts && pos + 12 <= fileSize_; ++part) {
    if (!readAt(pos, h, 12)) break;
    FourCC form = getLE32(h + 8);
    if (getLE32(h) != fourcc::kRiff || (form != fourcc::kAvi && form != fourcc::kAvix)) break;
    uint64_t size = getLE32(h + 4);
    // A writer that never closed the file leaves a size of 0 (or one that passes the end).
    uint64_t end = pos + 8 + size;
    if (size < 4 || end > fileSize_) end = fileSize_;
    uint64_t p = pos + 12;
    while (p + 8 <= end) {
      uint8_t c[12];
      if (!readAt(p, c, 8)) break;
      FourCC id = getLE32(c);
      uint64_t csize = getLE32(c + 4);
      uint64_t cend = p + 8 + csize;
      if (id == fourcc::kList && p + 12 <= end) {
        readAt(p + 8, c + 8, 4);
        FourCC type = getLE32(c + 8);
        if (type == fourcc::kMovi) {
          // An unfinished movie list (size 0 or past the end) runs to the end of the part.
          if (csize < 4 || cend > end) cend = end;
          movies_.push_back({p + 12, cend, p + 8});
        } else if (type == fourcc::kHdrl && part == 0 && !haveHeader) {
          if (csize < 4 || cend > end) return fail("header list cut short");
          if (csize > kMaxHeaderList) return fail("header list too large");
          std::vector<uint8_t> list(size_t(csize - 4));
          if (!readAt(p + 12, list.data(), list.size())) return fail("header list unreadable");
          if (!parseHeaderList(list.data(), list.size(), 0, error)) return false;
          haveHeader = true;
        }
      } else if (id == fourcc::kIdx1 && part == 0 && !idx1Present_) {
        idx1Present_ = true;
        idx1Pos_ = p + 8;
        idx1Size_ = csize;
      }
      if (cend > end) break;
      p = cend + (csize & 1);
    }
    pos = end + ((end - pos) & 1);
    if (end >= fileSize_) break;
  }
  if (!haveHeader) return fail("no header list");
  // A file without a video stream still opens; the source reader reports it.
  if (!video_.present) return true;

  // Index: OpenDML first (it covers every part), then idx1, then a scan of the movie data.
  bool indexed = false;
  if (!video_.superIndex.empty() && loadOpenDmlIndex(video_)) {
    if (!audio_.present || audio_.superIndex.empty() || loadOpenDmlIndex(audio_)) {
      indexed = true;
      indexSource_ = IndexSource::OpenDml;
    }
  }
  if (!indexed) {
    video_.entries.clear();
    audio_.entries.clear();
    if (idx1Present_ && loadIdx1()) {
      indexed = true;
      indexSource_ = IndexSource::Idx1;
    }
  }
  if (!indexed) {
    video_.entries.clear();
    audio_.entries.clear();
    scanMovie();
    indexSource_ = IndexSource::Scan;
  }
  finishStreams();
  return true;
}

bool AviContainer::parseHeaderList(const uint8_t* data, size_t size, int depth,
                                   std::string* error) {
  if (depth > kMaxListDepth) return true;
  size_t p = 0;
  while (p + 8 <= size) {
    FourCC id = getLE32(data + p);
    uint32_t csize = getLE32(data + p + 4);
    size_t avail = size - p - 8;
    size_t n = std::min<size_t>(csize, avail);
    const uint8_t* d = data + p + 8;
    if (id == fourcc::kAvih) {
      main_ = AviMainHeader::unpack(d, n);
    } else if (id == fourcc::kList && n >= 4) {
      FourCC type = getLE32(d);
      if (type == fourcc::kStrl) {
        // One stream: its strh, strf and indx.
        int number = int(streamHeaders_.size());
        AviStreamHeader sh;
        std::vector<uint8_t> format, indx;
        bool haveStrh = false;
        size_t q = 4;
        while (q + 8 <= n) {
          FourCC sid = getLE32(d + q);
          uint32_t ssize = getLE32(d + q + 4);
          size_t sn = std::min<size_t>(ssize, n - q - 8);
          const uint8_t* sd = d + q + 8;
          if (sid == fourcc::kStrh && !haveStrh) {
            sh = AviStreamHeader::unpack(sd, sn);
            haveStrh = true;
          } else if (sid == fourcc::kStrf && format.empty() && sn <= kMaxFormat) {
            format.assign(sd, sd + sn);
          } else if (sid == fourcc::kIndx && indx.empty()) {
            indx.assign(sd, sd + sn);
          }
          q += 8 + size_t(ssize) + (ssize & 1);
          if (q < 8 + size_t(ssize)) break;  // wrapped
        }
        streamHeaders_.push_back(sh);
        Stream* target = nullptr;
        if (haveStrh && sh.type == fourcc::kVids && !video_.present && format.size() >= 40)
          target = &video_;
        if (haveStrh && sh.type == fourcc::kAuds && !audio_.present && format.size() >= 14)
          target = &audio_;
        if (target) {
          target->present = true;
          target->number = number;
          target->header = sh;
          target->format = std::move(format);
          target->superIndex = std::move(indx);
        }
      } else if (!parseHeaderList(d + 4, n - 4, depth + 1, error)) {
        return false;
      }
    }
    if (csize > avail) break;
    p += 8 + size_t(csize) + (csize & 1);
  }
  return true;
}

// Reads one standard index (AVI_INDEX_OF_CHUNKS) whose 24-byte header starts at `pos`.
bool AviContainer::loadStandardIndex(Stream& s, uint64_t pos, uint32_t size) {
  if (size < 24) return false;
  uint8_t h[24];
  if (!readAt(pos, h, 24)) return false;
  uint16_t longsPerEntry = getLE16(h);
  uint8_t type = h[3];
  uint32_t inUse = getLE32(h + 4);
  uint64_t base = getLE64(h + 12);
  if (type != 1 || longsPerEntry < 2) return false;
  uint64_t stride = uint64_t(longsPerEntry) * 4;
  uint64_t fit = (size - 24) / stride;
  if (inUse > fit) inUse = uint32_t(fit);
  std::vector<uint8_t> raw;
  constexpr uint32_t kBatch = 4096;
  for (uint32_t i = 0; i < inUse; i += kBatch) {
    uint32_t n = std::min(kBatch, inUse - i);
    raw.resize(size_t(n * stride));
    if (!readAt(pos + 24 + i * stride, raw.data(), raw.size())) return false;
    for (uint32_t k = 0; k < n; ++k) {
      const uint8_t* e = raw.data() + k * stride;
      uint32_t sz = getLE32(e + 4);
      uint64_t off = base + getLE32(e);
      uint32_t bytes = sz & 0x7FFFFFFF;
      if (off < base || off > fileSize_ || bytes > fileSize_ - off) return false;
      s.entries.push_back({off, bytes, (sz & 0x80000000u) == 0});
    }
  }
  return true;
}

bool AviContainer::loadOpenDmlIndex(Stream& s) {
  s.entries.clear();
  const std::vector<uint8_t>& x = s.superIndex;
  if (x.size() < 24) return false;
  uint16_t longsPerEntry = getLE16(x.data());
  uint8_t type = x[3];
  uint32_t inUse = getLE32(x.data() + 4);
  if (type == 1) {
    // A standard index kept directly in 'indx' (rare): parse it from our copy.
    return false;
  }
  if (type != 0 || longsPerEntry < 4) return false;
  size_t stride = size_t(longsPerEntry) * 4;
  size_t fit = (x.size() - 24) / stride;
  size_t count = std::min<size_t>({inUse, fit, kMaxSuperEntries});
  std::set<uint64_t> seen;  // a standard index is read once, whatever the super index repeats
  for (size_t i = 0; i < count; ++i) {
    const uint8_t* e = x.data() + 24 + i * stride;
    uint64_t off = getLE64(e);
    if (off == 0) continue;
    if (!seen.insert(off).second) return false;
    uint8_t ch[8];
    if (!readAt(off, ch, 8)) return false;
    uint32_t csize = getLE32(ch + 4);
    if (twoCCOf(getLE32(ch)) == 0 || !loadStandardIndex(s, off + 8, csize)) return false;
  }
  return !s.entries.empty();
}

void AviContainer::addEntry(int number, FourCC id, uint64_t dataPos, uint32_t size, bool keyFlag,
                            bool useKeyFlag) {
  uint16_t tcc = twoCCOf(id);
  if (number == video_.number && (tcc == twoCC('d', 'b') || tcc == twoCC('d', 'c'))) {
    bool key = useKeyFlag ? keyFlag : tcc == twoCC('d', 'b');
    video_.entries.push_back({dataPos, size, key});
  } else if (audio_.present && number == audio_.number && tcc == twoCC('w', 'b')) {
    audio_.entries.push_back({dataPos, size, true});
  }
}

bool AviContainer::loadIdx1() {
  if (movies_.empty()) return false;
  // An index that runs past the end of the file was cut short: the movie data are complete, so
  // a scan finds more than the index.
  if (idx1Size_ > fileSize_ - idx1Pos_) return false;
  uint64_t count = idx1Size_ / 16;
  uint64_t moviForm = movies_.front().formPos;
  int64_t base = -1;
  std::vector<uint8_t> raw;
  constexpr uint64_t kBatch = 4096;
  for (uint64_t i = 0; i < count; i += kBatch) {
    uint64_t n = std::min(kBatch, count - i);
    raw.resize(size_t(n * 16));
    if (!readAt(idx1Pos_ + i * 16, raw.data(), raw.size())) return false;
    for (uint64_t k = 0; k < n; ++k) {
      const uint8_t* e = raw.data() + k * 16;
      FourCC id = getLE32(e);
      uint32_t flags = getLE32(e + 4);
      uint64_t off = getLE32(e + 8);
      uint32_t len = getLE32(e + 12);
      if ((flags & kAviifList) || id == fourcc::kRec) continue;
      int number = streamNumberOf(id);
      if (number < 0) continue;
      if (base < 0) {
        // Offsets count from the 'movi' form type, or (some writers) from the file start.
        uint8_t c[4];
        if (readAt(moviForm + off, c, 4) && getLE32(c) == id) {
          base = int64_t(moviForm);
        } else if (readAt(off, c, 4) && getLE32(c) == id) {
          base = 0;
        } else {
          return false;
        }
      }
      uint64_t dataPos = uint64_t(base) + off + 8;
      if (dataPos > fileSize_ || len > fileSize_ - dataPos) return false;
      addEntry(number, id, dataPos, len, (flags & kAviifKeyFrame) != 0, true);
    }
  }
  return !video_.entries.empty();
}

void AviContainer::scanMovie() {
  for (const Range& m : movies_) {
    // Nested 'rec ' lists are followed through a stack of list ends.
    std::vector<uint64_t> ends{m.end};
    uint64_t p = m.begin;
    while (!ends.empty()) {
      uint64_t end = ends.back();
      if (p + 8 > end) {
        ends.pop_back();
        continue;
      }
      uint8_t c[12];
      if (!readAt(p, c, 8)) break;
      FourCC id = getLE32(c);
      uint64_t size = getLE32(c + 4);
      if (id == fourcc::kList) {
        if (!readAt(p + 8, c + 8, 4) || size < 4) break;
        uint64_t lend = p + 8 + size;
        if (lend > end) lend = end;
        if (getLE32(c + 8) == fourcc::kRec && ends.size() < kMaxListDepth) {
          ends.push_back(lend);
          p += 12;
          continue;
        }
        p = lend + (size & 1);
        continue;
      }
      // A chunk whose data pass the end was being written when the file ended.
      if (p + 8 + size > fileSize_) break;
      int number = streamNumberOf(id);
      if (number >= 0) addEntry(number, id, p + 8, uint32_t(size), false, false);
      p += 8 + size + (size & 1);
    }
  }
}

void AviContainer::finishStreams() {
  if (video_.present) {
    uint32_t compression =
        DibHeader::unpack(video_.format.data(), video_.format.size()).compression;
    bool intra = isIntraOnlyCompression(compression);
    bool anyKey = false;
    for (const Entry& e : video_.entries) anyKey |= e.key;
    // Writers of intra-only video often leave the key flags out; every such frame stands alone.
    if (intra || !anyKey)
      for (Entry& e : video_.entries) e.key = true;
    if (!video_.entries.empty()) video_.entries.front().key = true;
    for (uint32_t i = 0; i < video_.entries.size(); ++i)
      if (video_.entries[i].key) video_.keyFrames.push_back(i);
  }
  if (audio_.present) {
    uint32_t align = getLE16(audio_.format.data() + 12);
    if (align == 0) align = audio_.header.sampleSize;
    audio_.blockAlign = align ? align : 1;
    audio_.byteStarts.reserve(audio_.entries.size());
    uint64_t total = 0;
    for (const Entry& e : audio_.entries) {
      audio_.byteStarts.push_back(total);
      total += e.size;
    }
    audio_.totalBytes = total;
  }
}

uint32_t AviContainer::microSecPerFrame() const {
  if (main_.microSecPerFrame) return main_.microSecPerFrame;
  if (video_.header.rate)
    return uint32_t(uint64_t(video_.header.scale) * 1000000 / video_.header.rate);
  return 0;
}

int64_t AviContainer::frameSize(uint32_t n) const {
  if (n >= video_.entries.size()) return -1;
  return video_.entries[n].size;
}

bool AviContainer::isKeyFrame(uint32_t n) const {
  return n < video_.entries.size() && video_.entries[n].key;
}

uint32_t AviContainer::previousKeyFrame(uint32_t n) const {
  auto it = std::upper_bound(video_.keyFrames.begin(), video_.keyFrames.end(), n);
  if (it == video_.keyFrames.begin()) return 0;
  return *(it - 1);
}

bool AviContainer::readFrame(uint32_t n, std::vector<uint8_t>& out) const {
  if (n >= video_.entries.size()) return false;
  const Entry& e = video_.entries[n];
  out.resize(e.size);
  return readAt(e.offset, out.data(), e.size);
}

uint64_t AviContainer::audioLength() const {
  return audio_.present ? audio_.totalBytes / audio_.blockAlign : 0;
}

size_t AviContainer::readAudio(uint64_t start, uint64_t count, std::vector<uint8_t>& out) const {
  out.clear();
  if (!audio_.present) return 0;
  if (start >= audio_.totalBytes || count > audio_.totalBytes) return 0;
  uint64_t from = start * audio_.blockAlign;
  uint64_t to = std::min(audio_.totalBytes, (start + count) * audio_.blockAlign);
  if (from >= to) return 0;
  out.resize(size_t(to - from));
  auto it = std::upper_bound(audio_.byteStarts.begin(), audio_.byteStarts.end(), from);
  size_t i = size_t(it - audio_.byteStarts.begin()) - 1;
  uint64_t done = 0;
  while (from + done < to && i < audio_.entries.size()) {
    const Entry& e = audio_.entries[i];
    uint64_t inChunk = from + done - audio_.byteStarts[i];
    uint64_t n = std::min<uint64_t>(e.size - inChunk, to - from - done);
    if (n > 0 && !readAt(e.offset + inChunk, out.data() + done, size_t(n))) break;
    done += n;
    ++i;
  }
  out.resize(size_t(done));
  return size_t(done);
}

}  // namespace zov

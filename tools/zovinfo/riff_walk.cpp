#include "tools/zovinfo/riff_walk.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace zov::info {

bool MemorySource::read(uint64_t offset, void* dst, size_t n) const {
  if (offset > size_ || n > size_ - offset) return false;
  if (n) std::memcpy(dst, data_ + offset, n);
  return true;
}

FileSource::~FileSource() {
  ::close(fd_);
}

std::unique_ptr<FileSource> FileSource::open(const std::string& path, std::string& error) {
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    error = std::strerror(errno);
    return nullptr;
  }
  struct stat st {};
  if (::fstat(fd, &st) != 0) {
    error = std::strerror(errno);
    ::close(fd);
    return nullptr;
  }
  if (!S_ISREG(st.st_mode)) {
    error = S_ISDIR(st.st_mode) ? "is a directory" : "is not a regular file";
    ::close(fd);
    return nullptr;
  }
  return std::unique_ptr<FileSource>(new FileSource(fd, static_cast<uint64_t>(st.st_size)));
}

bool FileSource::read(uint64_t offset, void* dst, size_t n) const {
  if (offset > size_ || n > size_ - offset) return false;
  auto* p = static_cast<uint8_t*>(dst);
  while (n > 0) {
    ssize_t got = ::pread(fd_, p, n, static_cast<off_t>(offset));
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return false;
    p += got;
    n -= static_cast<size_t>(got);
    offset += static_cast<uint64_t>(got);
  }
  return true;
}

std::string fourccText(uint32_t code) {
  std::string s(4, ' ');
  for (int i = 0; i < 4; ++i) {
    char c = static_cast<char>((code >> (8 * i)) & 0xFF);
    s[i] = (c >= 0x20 && c < 0x7F) ? c : '?';
  }
  return s;
}

namespace {

constexpr uint32_t kRiff = fourcc('R', 'I', 'F', 'F');
constexpr uint32_t kList = fourcc('L', 'I', 'S', 'T');
constexpr uint32_t kAvi = fourcc('A', 'V', 'I', ' ');
constexpr uint32_t kAviX = fourcc('A', 'V', 'I', 'X');
constexpr uint32_t kHdrl = fourcc('h', 'd', 'r', 'l');
constexpr uint32_t kStrl = fourcc('s', 't', 'r', 'l');
constexpr uint32_t kStrh = fourcc('s', 't', 'r', 'h');
constexpr uint32_t kStrf = fourcc('s', 't', 'r', 'f');
constexpr uint32_t kMovi = fourcc('m', 'o', 'v', 'i');
constexpr uint32_t kRec = fourcc('r', 'e', 'c', ' ');
constexpr uint32_t kIdx1 = fourcc('i', 'd', 'x', '1');
constexpr uint32_t kVids = fourcc('v', 'i', 'd', 's');
constexpr uint32_t kKeyFrameFlag = 0x10;  // AVIIF_KEYFRAME

uint32_t le32(const uint8_t* p) {
  return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}
uint16_t le16(const uint8_t* p) {
  return static_cast<uint16_t>(p[0] | p[1] << 8);
}

struct Chunk {
  uint32_t id = 0;
  uint32_t size = 0;
  uint64_t data = 0;  // offset of the data
  uint64_t next = 0;  // offset of the following chunk (after the pad byte)
};

class Walker {
 public:
  Walker(const ByteSource& src, AviVideoStream& stream, std::string& error)
      : src_(src), stream_(stream), error_(error) {}

  bool run();

 private:
  bool fail(std::string message) {
    error_ = std::move(message);
    return false;
  }
  // Reads the chunk header at off within a list ending at end.
  bool chunkAt(uint64_t off, uint64_t end, Chunk& c);
  bool walkHdrl(uint64_t begin, uint64_t end);
  bool walkStrl(uint64_t begin, uint64_t end, int streamNumber);
  bool walkMovi(uint64_t begin, uint64_t end, int depth);
  bool walkIdx1(const Chunk& c);
  bool isVideoChunk(uint32_t id) const;

  const ByteSource& src_;
  AviVideoStream& stream_;
  std::string& error_;
  int streamsSeen_ = 0;
  bool haveHdrl_ = false;
  bool haveMovi_ = false;
  std::vector<KeyFlag> keyFlags_;  // of the index entries of the video stream, in order
};

bool Walker::chunkAt(uint64_t off, uint64_t end, Chunk& c) {
  uint8_t h[8];
  if (!src_.read(off, h, 8))
    return fail("cannot read the chunk header at offset " + std::to_string(off));
  c.id = le32(h);
  c.size = le32(h + 4);
  c.data = off + 8;
  if (c.size > end - c.data) {
    if (end >= src_.size())
      return fail("the file is truncated: chunk '" + fourccText(c.id) + "' at offset " +
                  std::to_string(off) + " needs " + std::to_string(c.size) + " bytes, " +
                  std::to_string(src_.size() - c.data) + " are left");
    return fail("chunk '" + fourccText(c.id) + "' at offset " + std::to_string(off) + " (" +
                std::to_string(c.size) + " bytes) runs past the end of the list that holds it");
  }
  c.next = c.data + c.size + (c.size & 1);
  if (c.next > end) c.next = end;  // a missing pad byte at the very end is harmless
  return true;
}

bool Walker::run() {
  uint64_t fileSize = src_.size();
  uint8_t h[12];
  if (fileSize < 12 || !src_.read(0, h, 12)) return fail("not an AVI file (too short)");
  if (le32(h) != kRiff || le32(h + 8) != kAvi)
    return fail("not an AVI file (no RIFF 'AVI ' header)");
  // The first RIFF holds the headers; OpenDML continuations ('RIFF' 'AVIX') carry more movi data.
  uint64_t off = 0;
  bool first = true;
  while (off + 12 <= fileSize) {
    Chunk riff;
    if (!chunkAt(off, fileSize, riff)) return false;
    if (riff.id != kRiff || riff.size < 4) {
      if (first) return fail("not an AVI file (bad RIFF header)");
      break;  // trailing data after the RIFF chunks is not ours to judge
    }
    uint8_t form[4];
    if (!src_.read(riff.data, form, 4)) return fail("cannot read the RIFF form type");
    uint32_t type = le32(form);
    if (!(first ? type == kAvi : type == kAviX)) break;
    uint64_t end = riff.data + riff.size;
    for (uint64_t p = riff.data + 4; p + 8 <= end;) {
      Chunk c;
      if (!chunkAt(p, end, c)) return false;
      if (c.id == kList && c.size >= 4) {
        uint8_t t[4];
        if (!src_.read(c.data, t, 4)) return fail("cannot read a list type");
        uint32_t listType = le32(t);
        uint64_t listEnd = c.data + c.size;
        if (listType == kHdrl && first && !haveHdrl_) {
          haveHdrl_ = true;
          if (!walkHdrl(c.data + 4, listEnd)) return false;
        } else if (listType == kMovi) {
          if (!haveHdrl_) return fail("the movi list comes before the stream headers");
          if (stream_.streamNumber < 0) return fail("the file has no video stream");
          haveMovi_ = true;
          if (!walkMovi(c.data + 4, listEnd, 0)) return false;
        }
      } else if (c.id == kIdx1 && first) {
        if (!walkIdx1(c)) return false;
      }
      p = c.next;
    }
    off = riff.next;
    first = false;
  }
  if (!haveHdrl_) return fail("the file has no stream headers (LIST 'hdrl')");
  if (stream_.streamNumber < 0) return fail("the file has no video stream");
  if (!haveMovi_) return fail("the file has no movi list");
  for (size_t i = 0; i < stream_.frames.size() && i < keyFlags_.size(); ++i)
    stream_.frames[i].key = keyFlags_[i];
  return true;
}

bool Walker::walkHdrl(uint64_t begin, uint64_t end) {
  for (uint64_t p = begin; p + 8 <= end;) {
    Chunk c;
    if (!chunkAt(p, end, c)) return false;
    if (c.id == kList && c.size >= 4) {
      uint8_t t[4];
      if (!src_.read(c.data, t, 4)) return fail("cannot read a list type");
      if (le32(t) == kStrl) {
        if (!walkStrl(c.data + 4, c.data + c.size, streamsSeen_)) return false;
        ++streamsSeen_;
      }
    }
    p = c.next;
  }
  return true;
}

bool Walker::walkStrl(uint64_t begin, uint64_t end, int streamNumber) {
  bool isVideo = false;
  for (uint64_t p = begin; p + 8 <= end;) {
    Chunk c;
    if (!chunkAt(p, end, c)) return false;
    if (c.id == kStrh) {
      uint8_t h[32] = {};
      if (c.size < 8)
        return fail("stream header of stream " + std::to_string(streamNumber) + " is too short");
      if (!src_.read(c.data, h, c.size < sizeof h ? c.size : sizeof h))
        return fail("cannot read a stream header");
      // Only the first video stream counts, and only within the two-digit chunk numbering.
      isVideo = le32(h) == kVids && stream_.streamNumber < 0 && streamNumber < 100;
      if (isVideo) {
        stream_.streamNumber = streamNumber;
        stream_.handler = le32(h + 4);
        if (c.size >= 28) {
          stream_.scale = le32(h + 20);
          stream_.rate = le32(h + 24);
        }
      }
    } else if (c.id == kStrf && isVideo) {
      if (c.size < 40)
        return fail("the video format (strf) has " + std::to_string(c.size) +
                    " bytes, a BITMAPINFOHEADER needs 40");
      uint8_t b[40];
      if (!src_.read(c.data, b, 40)) return fail("cannot read the video format");
      stream_.width = static_cast<int32_t>(le32(b + 4));
      stream_.height = static_cast<int32_t>(le32(b + 8));
      stream_.bitCount = le16(b + 14);
      stream_.compression = le32(b + 16);
    }
    p = c.next;
  }
  return true;
}

bool Walker::isVideoChunk(uint32_t id) const {
  int n = stream_.streamNumber;
  char d0 = static_cast<char>('0' + n / 10), d1 = static_cast<char>('0' + n % 10);
  return id == fourcc(d0, d1, 'd', 'c') || id == fourcc(d0, d1, 'd', 'b');
}

bool Walker::walkMovi(uint64_t begin, uint64_t end, int depth) {
  for (uint64_t p = begin; p + 8 <= end;) {
    Chunk c;
    if (!chunkAt(p, end, c)) return false;
    if (c.id == kList && c.size >= 4) {
      uint8_t t[4];
      if (!src_.read(c.data, t, 4)) return fail("cannot read a list type");
      // 'rec ' groups hold the chunks of one interleave step; they do not nest.
      if (le32(t) == kRec && depth == 0 && !walkMovi(c.data + 4, c.data + c.size, depth + 1))
        return false;
    } else if (isVideoChunk(c.id)) {
      stream_.frames.push_back({c.data, c.size, KeyFlag::Unknown});
    }
    p = c.next;
  }
  return true;
}

bool Walker::walkIdx1(const Chunk& c) {
  if (stream_.streamNumber < 0) return true;  // an index before the headers says nothing
  stream_.hasIndex = true;
  // The index is read in small batches: its size is bounded by the file, but it need not be
  // held whole.
  uint8_t batch[16 * 256];
  uint64_t entries = c.size / 16;
  for (uint64_t i = 0; i < entries;) {
    size_t n = static_cast<size_t>(entries - i < 256 ? entries - i : 256);
    if (!src_.read(c.data + i * 16, batch, n * 16)) return fail("cannot read the index (idx1)");
    for (size_t k = 0; k < n; ++k) {
      const uint8_t* e = batch + 16 * k;
      if (!isVideoChunk(le32(e))) continue;
      // Entries are matched with the movi chunks in order once the walk is done.
      keyFlags_.push_back((le32(e + 4) & kKeyFrameFlag) ? KeyFlag::Key : KeyFlag::Delta);
    }
    i += n;
  }
  return true;
}

}  // namespace

bool walkAvi(const ByteSource& src, AviVideoStream& stream, std::string& error) {
  stream = AviVideoStream{};
  Walker w(src, stream, error);
  return w.run();
}

bool readFrame(const ByteSource& src, const AviFrame& frame, std::vector<uint8_t>& buf,
               std::string& error) {
  if (frame.size > kMaxFrameBytes) {
    error = "a chunk of " + std::to_string(frame.size) + " bytes is too large for a ZOV frame";
    return false;
  }
  buf.resize(frame.size);
  if (!src.read(frame.offset, buf.data(), frame.size)) {
    error = "cannot read " + std::to_string(frame.size) + " bytes at offset " +
            std::to_string(frame.offset);
    return false;
  }
  return true;
}

}  // namespace zov::info

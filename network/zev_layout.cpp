#include "network/zev_layout.h"

#include <cstring>

namespace zov::network {

namespace {

bool is(const uint8_t* base, size_t size, uint64_t at, const char* text) {
  size_t n = std::strlen(text);
  return at + n <= size && std::memcmp(base + at, text, n) == 0;
}

uint64_t even(uint64_t v) {
  return v + (v & 1);
}

}  // namespace

bool parseZevHeader(const uint8_t* b, size_t size, ZevHeader& h, std::string& failure) {
  h = ZevHeader{};
  if (!is(b, size, 20, "hdrlavih") || 32 + 56 > size || le32(b + 28) < 56) {
    failure = "avih section not located in ZEV file";
    return false;
  }
  h.totalFrames = le32(b + 48);
  h.initialFrames = le32(b + 52);
  h.streams = le32(b + 56);
  h.hasAudio = h.streams == 2;
  uint64_t v = 32 + even(le32(b + 28));
  if (!is(b, size, v, "LIST") || !is(b, size, v + 8, "strlstrh") || v + 20 + 56 > size ||
      le32(b + v + 16) < 56) {
    failure = "video stream header not located in ZEV file";
    return false;
  }
  h.videoStrh = uint32_t(v + 20);
  if (!is(b, size, h.videoStrh, "vids") ||
      !(is(b, size, h.videoStrh + 4, "zov2") || is(b, size, h.videoStrh + 4, "ZOV2"))) {
    failure = "video stream in ZEV file is not Orvane";
    return false;
  }
  uint64_t p = v + 8 + even(le32(b + v + 4));
  if (h.hasAudio) {
    uint64_t a = p;
    if (!is(b, size, a, "LIST") || !is(b, size, a + 8, "strlstrh") || a + 20 + 56 > size ||
        le32(b + a + 16) < 56) {
      failure = "audio stream header not located in ZEV file";
      return false;
    }
    h.audioStrh = uint32_t(a + 20);
    if (!is(b, size, h.audioStrh, "auds") || le32(b + h.audioStrh + 4) != 0) {
      failure = "audio stream header incorrect";
      return false;
    }
    uint64_t f = h.audioStrh + even(le32(b + a + 16));
    if (!is(b, size, f, "strf") || f + 8 + 16 > size || le32(b + f + 4) < 16) {
      failure = "audio stream format not located in ZEV file";
      return false;
    }
    h.audioStrf = uint32_t(f + 8);
    if (le16(b + h.audioStrf) != 0xFFFF) {
      failure = "audio stream in ZEV file is not Orvane";
      return false;
    }
    p = a + 8 + even(le32(b + a + 4));
  }
  if (is(b, size, p, "vedt") && p + 8 <= size) p += 8 + even(le32(b + p + 4));
  if (!is(b, size, p, "JUNK") || p + 8 > size) {
    failure = "unable to locate JUNK header";
    return false;
  }
  p += 8 + even(le32(b + p + 4));
  // The movie list header must lie inside the fetched header: the local file copies it.
  if (!is(b, size, p, "LIST") || !is(b, size, p + 8, "movi") || p + 12 > size) {
    failure = "movi list not located in ZEV file";
    return false;
  }
  h.movi = uint32_t(p);
  h.moviSize = le32(b + p + 4);
  // Counts from the server decide allocations and index arithmetic: check them first.
  uint64_t indexOffset = even(uint64_t(h.movi) + 8 + h.moviSize);
  uint64_t entries = h.hasAudio ? 2ull * h.totalFrames : h.totalFrames;
  if (h.totalFrames == 0 || h.totalFrames > kMaxFrames ||
      (h.hasAudio && h.initialFrames > h.totalFrames) ||
      indexOffset + entries * 8 > 0xFFFFFFFFull) {
    failure = "frame counts in ZEV file are not valid";
    return false;
  }
  if (!h.hasAudio) h.initialFrames = 0;
  h.indexOffset = uint32_t(indexOffset);
  h.indexEntries = uint32_t(entries);
  return true;
}

int64_t videoEntry(const ZevHeader& h, uint32_t v) {
  if (v >= h.totalFrames) return -1;
  if (!h.hasAudio) return v;
  if (v < h.totalFrames - h.initialFrames) return int64_t(h.initialFrames) + 2 * int64_t(v);
  return int64_t(h.totalFrames) + v;
}

int64_t audioEntry(const ZevHeader& h, uint32_t a) {
  if (!h.hasAudio || a >= h.totalFrames) return -1;
  if (a < h.initialFrames) return a;
  return int64_t(h.initialFrames) + 2 * int64_t(a - h.initialFrames) + 1;
}

int64_t firstBadEntry(const std::vector<uint8_t>& index) {
  for (size_t i = 0; i + 8 <= index.size(); i += 8) {
    uint64_t offset = le32(&index[i]);
    uint32_t size = le32(&index[i + 4]) & ~kKeyFrameBit;
    if (size == 0 || size > kSlotDataBytes || offset + size > 0xFFFFFFFFull) return int64_t(i / 8);
  }
  return -1;
}

LocalLayout localLayout(const ZevHeader& h) {
  LocalLayout l;
  l.headerBytes = uint64_t(h.movi) + 12;
  uint64_t t = h.totalFrames, i = h.initialFrames;
  if (!h.hasAudio) {
    l.moviData = 12 * t;
    l.idx1Entries = t;
  } else {
    // Lists of (audio) then (video, audio), then video chunks alone.
    l.moviData = 388 * i + 400 * (t - i) + 12 * i;
    l.idx1Entries = 2 * i + 3 * (t - i) + i;
  }
  return l;
}

std::vector<uint8_t> localHeader(const uint8_t* remote, const ZevHeader& h) {
  LocalLayout l = localLayout(h);
  std::vector<uint8_t> out(remote, remote + l.headerBytes);
  uint8_t* b = out.data();
  uint32_t buffer = h.hasAudio ? 400 : 12;
  putLe32(b + 32 + 4, 15 * buffer);  // maximum bytes per second
  putLe32(b + 32 + 28, buffer);      // suggested buffer size
  putLe32(b + h.videoStrh + 36, 4);
  if (h.hasAudio) {
    putLe32(b + h.audioStrh + 20, 368);   // scale
    putLe32(b + h.audioStrh + 24, 5512);  // rate
    putLe32(b + h.audioStrh + 32, h.totalFrames);
    putLe32(b + h.audioStrh + 36, 368);
    putLe32(b + h.audioStrf + 8, 5512);  // average bytes per second
    putLe16(b + h.audioStrf + 12, 368);  // block alignment
    putLe16(b + h.audioStrf + 14, 0);    // bits per sample
  }
  putLe32(b + h.movi + 4, uint32_t(l.moviData + 4));
  // The RIFF size follows the local file, so AVI readers see one consistent file.
  putLe32(b + 4, uint32_t(l.fileSize() - 8));
  return out;
}

namespace {

// Buffers the local body and hands it to the sink in 64 KB pieces.
class BodyWriter {
 public:
  explicit BodyWriter(const std::function<bool(const uint8_t*, size_t)>& sink) : sink_(sink) {}
  bool put(const void* data, size_t n) {
    const uint8_t* p = static_cast<const uint8_t*>(data);
    buffer_.insert(buffer_.end(), p, p + n);
    return buffer_.size() < 65536 || flush();
  }
  bool fourcc(const char* id) { return put(id, 4); }
  bool u32(uint32_t v) {
    uint8_t b[4];
    putLe32(b, v);
    return put(b, 4);
  }
  bool flush() {
    bool ok = buffer_.empty() || sink_(buffer_.data(), buffer_.size());
    buffer_.clear();
    return ok;
  }

 private:
  const std::function<bool(const uint8_t*, size_t)>& sink_;
  std::vector<uint8_t> buffer_;
};

struct Idx1 {
  const char* id;
  uint32_t flags, offset, size;
};

}  // namespace

bool writeLocalBody(const ZevHeader& h, const std::vector<uint8_t>& index,
                    const std::function<bool(const uint8_t*, size_t)>& sink,
                    const std::function<void(int)>& progress) {
  BodyWriter w(sink);
  std::vector<Idx1> idx;
  idx.reserve(size_t(localLayout(h).idx1Entries));
  uint32_t pos = 4;  // offsets count from the 'movi' form type
  uint32_t video = 0, audio = 0;
  static const uint8_t zeros[364] = {};
  auto videoChunk = [&]() {
    int64_t e = videoEntry(h, video);
    bool key =
        e >= 0 && size_t(e) * 8 + 8 <= index.size() && (le32(&index[e * 8 + 4]) & kKeyFrameBit);
    const char* id = key ? "00db" : "00dc";
    idx.push_back({id, key ? 0x10u : 0u, pos, 4});
    pos += 12;
    return w.fourcc(id) && w.u32(4) && w.u32(video++);
  };
  auto audioChunk = [&]() {
    idx.push_back({"01wb", 0, pos, 368});
    pos += 376;
    return w.fourcc("01wb") && w.u32(368) && w.u32(audio++) && w.put(zeros, sizeof zeros);
  };
  auto record = [&](uint32_t size) {
    idx.push_back({"rec ", 1, pos, size});
    pos += 12;
    return w.fourcc("LIST") && w.u32(size) && w.fourcc("rec ");
  };
  uint32_t total = h.totalFrames, step = total / 30 + 1;
  int shown = -1;
  auto tick = [&](uint32_t done) {
    int p = int(uint64_t(done) * 30 / total);
    if (p != shown && progress) progress(shown = p);
  };
  if (!h.hasAudio) {
    for (uint32_t v = 0; v < total; ++v) {
      if (!videoChunk()) return false;
      if (v % step == 0) tick(v);
    }
  } else {
    uint32_t i = h.initialFrames;
    for (uint32_t a = 0; a < i; ++a)
      if (!record(380) || !audioChunk()) return false;
    for (uint32_t v = 0; v < total - i; ++v) {
      if (!record(392) || !videoChunk() || !audioChunk()) return false;
      if (v % step == 0) tick(v);
    }
    for (uint32_t v = 0; v < i; ++v)
      if (!videoChunk()) return false;
  }
  if (!w.fourcc("idx1") || !w.u32(uint32_t(idx.size() * 16))) return false;
  for (const Idx1& e : idx)
    if (!w.fourcc(e.id) || !w.u32(e.flags) || !w.u32(e.offset) || !w.u32(e.size)) return false;
  if (!w.flush()) return false;
  if (progress) progress(30);
  return true;
}

}  // namespace zov::network

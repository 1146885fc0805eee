#include "media/y4m_source.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <memory>
#include <mutex>

namespace zov {

namespace {

constexpr size_t kMaxHeaderLine = 4096;
constexpr int kMaxDimension = 8192;

// A read-only file read with pread (safe from several threads).
class PosixFile {
 public:
  ~PosixFile() {
    if (fd_ >= 0) ::close(fd_);
  }
  bool open(const std::string& path) {
    fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd_ < 0) return false;
    struct stat st;
    if (::fstat(fd_, &st) != 0) return false;
    size_ = uint64_t(st.st_size);
    return true;
  }
  bool readAt(uint64_t offset, void* buf, size_t n) const {
    if (offset > size_ || n > size_ - offset) return false;
    size_t done = 0;
    while (done < n) {
      ssize_t r = ::pread(fd_, static_cast<uint8_t*>(buf) + done, n - done, off_t(offset + done));
      if (r < 0 && errno == EINTR) continue;
      if (r <= 0) return false;
      done += size_t(r);
    }
    return true;
  }
  // Reads one line (without the '\n') starting at offset; false when none ends within max.
  bool readLine(uint64_t offset, std::string& line, size_t max) const {
    line.clear();
    char buf[256];
    while (line.size() < max) {
      size_t want = size_t(std::min<uint64_t>(sizeof buf, size_ - std::min(size_, offset)));
      if (want == 0 || !readAt(offset, buf, want)) return false;
      void* nl = std::memchr(buf, '\n', want);
      if (nl) {
        line.append(buf, size_t(static_cast<char*>(nl) - buf));
        return true;
      }
      line.append(buf, want);
      offset += want;
    }
    return false;
  }
  uint64_t size() const { return size_; }

 private:
  int fd_ = -1;
  uint64_t size_ = 0;
};

// What a stream's header line says.
struct Y4mHeader {
  int width = 0, height = 0;
  uint64_t num = 25, den = 1;
  std::string colour = "420jpeg";
  uint32_t fourcc = 0;
  uint16_t bitCount = 0;
  uint64_t frameBytes = 0;
};

bool parseHeader(const std::string& line, Y4mHeader& h, std::string* error) {
  auto fail = [&](const std::string& why) {
    if (error) *error = why;
    return false;
  };
  if (line.compare(0, 10, "YUV4MPEG2 ") != 0) return fail("not a YUV4MPEG2 stream");
  size_t p = 10;
  while (p < line.size()) {
    size_t e = line.find(' ', p);
    if (e == std::string::npos) e = line.size();
    std::string tok = line.substr(p, e - p);
    p = e + 1;
    if (tok.empty()) continue;
    char tag = tok[0];
    std::string v = tok.substr(1);
    if (tag == 'W') h.width = std::atoi(v.c_str());
    if (tag == 'H') h.height = std::atoi(v.c_str());
    if (tag == 'C') h.colour = v;
    if (tag == 'F') {
      unsigned long long a = 0, b = 0;
      if (std::sscanf(v.c_str(), "%llu:%llu", &a, &b) == 2 && a > 0 && b > 0) {
        h.num = a;
        h.den = b;
      }
    }
    // Interlaced material ('I' tag) is read as whole frames; field stripping handles it.
  }
  const int w = h.width, ht = h.height;
  if (w <= 0 || ht <= 0 || w > kMaxDimension || ht > kMaxDimension) return fail("bad frame size");
  uint64_t ys = uint64_t(w) * ht, cs;
  // Only 8-bit samples are read; the deeper variants ("420p10", "444p12", "mono16"...) and
  // the alpha plane of "444alpha" would be taken for other pictures.
  const std::string& c = h.colour;
  if (c == "420" || c == "420jpeg" || c == "420mpeg2" || c == "420paldv") {
    cs = uint64_t((w + 1) / 2) * ((ht + 1) / 2);
    h.fourcc = makeFourCC("I420");
    h.bitCount = 12;
  } else if (c == "422") {
    cs = uint64_t((w + 1) / 2) * ht;
    h.fourcc = makeFourCC("Y42B");
    h.bitCount = 16;
  } else if (c == "444") {
    cs = ys;
    h.fourcc = makeFourCC("444P");
    h.bitCount = 24;
  } else if (c == "mono") {
    cs = 0;
    h.fourcc = makeFourCC("Y800");
    h.bitCount = 8;
  } else {
    return fail("the YUV4MPEG2 colour space \"C" + c +
                "\" is not supported (only 8-bit 4:2:0, 4:2:2, 4:4:4 and mono)");
  }
  h.frameBytes = ys + 2 * cs;
  return true;
}

// What the file and the stream share: the header's video stream and the optional WAV audio.
class Y4mBase : public MediaFile {
 public:
  void describe(const Y4mHeader& h, uint32_t frames) {
    frameBytes_ = h.frameBytes;
    double usec = 1e6 * double(h.den) / double(h.num);
    microSecPerFrame_ = usec >= 1 && usec < 1e9 ? uint32_t(usec + 0.5) : 0;
    video_.type = fourcc::kVids;
    video_.handler = h.fourcc;
    video_.scale = uint32_t(std::min<uint64_t>(h.den, 0xFFFFFFFF));
    video_.rate = uint32_t(std::min<uint64_t>(h.num, 0xFFFFFFFF));
    video_.length = frames;
    DibHeader bih;
    bih.width = h.width;
    bih.height = h.height;
    bih.bitCount = h.bitCount;
    bih.compression = h.fourcc;
    bih.sizeImage = uint32_t(frameBytes_);
    format_.assign(40, 0);
    bih.packInto(format_.data());
  }

  bool openWav(const std::string& path, std::string* error) {
    auto fail = [&](const std::string& why) {
      if (error) *error = "audio file " + path + ": " + why;
      return false;
    };
    if (!wav_.open(path)) return fail(std::strerror(errno));
    uint8_t h[12];
    if (!wav_.readAt(0, h, 12) || getLE32(h) != fourcc::kRiff || getLE32(h + 8) != fourcc::kWave)
      return fail("not a WAV file");
    uint64_t p = 12;
    bool haveFmt = false, haveData = false;
    while (p + 8 <= wav_.size() && !(haveFmt && haveData)) {
      uint8_t c[8];
      if (!wav_.readAt(p, c, 8)) break;
      uint32_t id = getLE32(c), size = getLE32(c + 4);
      if (id == fourcc::kFmt && size >= 14 && size <= 4096) {
        audioFormat_.resize(size);
        if (!wav_.readAt(p + 8, audioFormat_.data(), size)) return fail("format unreadable");
        haveFmt = true;
      } else if (id == fourcc::kData) {
        audioData_ = p + 8;
        // A writer that streamed to a pipe may leave the size open: take what the file holds.
        audioBytes_ = std::min<uint64_t>(size, wav_.size() - audioData_);
        if (size == 0 || size == 0xFFFFFFFF) audioBytes_ = wav_.size() - audioData_;
        haveData = true;
        if (!haveFmt) break;
      }
      p += 8 + uint64_t(size) + (size & 1);
    }
    if (!haveFmt || !haveData) return fail("no format or no data");
    blockAlign_ = getLE16(audioFormat_.data() + 12);
    if (blockAlign_ == 0) return fail("bad block align");
    audio_.type = fourcc::kAuds;
    audio_.scale = blockAlign_;
    audio_.rate = getLE32(audioFormat_.data() + 8);
    audio_.sampleSize = blockAlign_;
    audio_.length = uint32_t(std::min<uint64_t>(audioBytes_ / blockAlign_, 0xFFFFFFFF));
    hasAudio_ = true;
    return true;
  }

  uint32_t microSecPerFrame() const override { return microSecPerFrame_; }
  bool hasVideo() const override { return true; }
  const AviStreamHeader& videoHeader() const override { return video_; }
  const std::vector<uint8_t>& videoFormat() const override { return format_; }
  uint32_t frameCount() const override { return video_.length; }
  int64_t frameSize(uint32_t n) const override {
    return n < frameCount() ? int64_t(frameBytes_) : -1;
  }
  bool isKeyFrame(uint32_t n) const override { return n < frameCount(); }
  uint32_t previousKeyFrame(uint32_t n) const override { return n; }
  bool hasAudio() const override { return hasAudio_; }
  const AviStreamHeader& audioHeader() const override { return audio_; }
  const std::vector<uint8_t>& audioFormat() const override { return audioFormat_; }
  uint64_t audioLength() const override { return hasAudio_ ? audioBytes_ / blockAlign_ : 0; }
  size_t readAudio(uint64_t start, uint64_t count, std::vector<uint8_t>& out) const override {
    out.clear();
    uint64_t length = audioLength();
    if (!hasAudio_ || start >= length) return 0;
    count = std::min(count, length - start);
    out.resize(size_t(count * blockAlign_));
    if (!wav_.readAt(audioData_ + start * blockAlign_, out.data(), out.size())) out.clear();
    return out.size();
  }

 protected:
  uint64_t frameBytes_ = 0;

 private:
  PosixFile wav_;
  uint32_t microSecPerFrame_ = 0;
  AviStreamHeader video_, audio_;
  std::vector<uint8_t> format_, audioFormat_;
  bool hasAudio_ = false;
  uint64_t audioData_ = 0, audioBytes_ = 0;
  uint32_t blockAlign_ = 1;
};

// A YUV4MPEG2 file: every frame found at opening, read in any order.
class Y4mFile : public Y4mBase {
 public:
  bool open(const std::string& path, const std::string& wavPath, std::string* error) {
    if (!file_.open(path)) {
      if (error) *error = std::string("cannot open file: ") + std::strerror(errno);
      return false;
    }
    std::string line;
    Y4mHeader h;
    if (!file_.readLine(0, line, kMaxHeaderLine)) line.clear();
    if (!parseHeader(line, h, error)) return false;
    // Frames: "FRAME" and optional parameters up to '\n', then the planes.
    uint64_t pos = line.size() + 1;
    std::string frameLine;
    while (pos < file_.size()) {
      if (!file_.readLine(pos, frameLine, kMaxHeaderLine) || frameLine.compare(0, 5, "FRAME") != 0)
        break;
      uint64_t data = pos + frameLine.size() + 1;
      if (data + h.frameBytes > file_.size()) break;  // a cut-off last frame
      frames_.push_back(data);
      pos = data + h.frameBytes;
    }
    if (frames_.empty()) {
      if (error) *error = "no frames";
      return false;
    }
    describe(h, uint32_t(frames_.size()));
    return wavPath.empty() || openWav(wavPath, error);
  }
  bool readFrame(uint32_t n, std::vector<uint8_t>& out) const override {
    if (n >= frames_.size()) return false;
    out.resize(size_t(frameBytes_));
    return file_.readAt(frames_[n], out.data(), out.size());
  }

 private:
  PosixFile file_;
  std::vector<uint64_t> frames_;
};

// Reads standard input in order, through a buffer of its own.
class InputReader {
 public:
  // One line without its '\n'; false at the end or when no line ends within `max`.
  bool line(std::string& out, size_t max) {
    out.clear();
    for (;;) {
      if (pos_ == end_ && !refill()) return false;
      const void* nl = std::memchr(buf_ + pos_, '\n', end_ - pos_);
      const size_t take = nl ? size_t(static_cast<const char*>(nl) - (buf_ + pos_)) : end_ - pos_;
      if (out.size() + take > max) return false;
      out.append(buf_ + pos_, take);
      pos_ += take;
      if (nl) {
        ++pos_;
        return true;
      }
    }
  }
  // Exactly n bytes; false when the input ends first.
  bool bytes(uint8_t* out, size_t n) {
    while (n) {
      if (pos_ == end_ && !refill()) return false;
      const size_t take = std::min(n, end_ - pos_);
      std::memcpy(out, buf_ + pos_, take);
      pos_ += take;
      out += take;
      n -= take;
    }
    return true;
  }

 private:
  bool refill() {
    for (;;) {
      const ssize_t r = ::read(0, buf_, sizeof buf_);
      if (r < 0 && errno == EINTR) continue;
      if (r <= 0) return false;
      pos_ = 0;
      end_ = size_t(r);
      return true;
    }
  }
  char buf_[1 << 16];
  size_t pos_ = 0, end_ = 0;
};

// A YUV4MPEG2 stream on standard input, coded as its frames arrive: nothing is stored but the
// frames still in reach. The frame count is an upper bound until the stream ends (endsBefore
// tells); a frame is read when it is first asked for, and the frames more than kKeptBehind
// before the furthest one asked for are dropped, so memory does not grow with the stream.
class Y4mStream : public Y4mBase {
 public:
  static constexpr uint32_t kKeptBehind = 2;

  bool open(const std::string& wavPath, std::string* error) {
    static std::atomic<bool> taken{false};
    if (taken.exchange(true)) {
      if (error) *error = "standard input was read already (a stream is read only once)";
      return false;
    }
    std::string line;
    Y4mHeader h;
    if (!input_->line(line, kMaxHeaderLine)) line.clear();
    if (!parseHeader(line, h, error)) return false;
    frameBytes_ = h.frameBytes;
    if (!fill(0)) {
      if (error) *error = "no frames";
      return false;
    }
    describe(h, kStreamFrameLimit);
    return wavPath.empty() || openWav(wavPath, error);
  }
  bool streamed() const override { return true; }
  bool endsBefore(uint32_t n) const override {
    std::lock_guard<std::mutex> lock(mutex_);
    return !fill(n);
  }
  void forget(uint32_t before) const override {
    std::lock_guard<std::mutex> lock(mutex_);
    dropBefore(before);
  }
  bool readFrame(uint32_t n, std::vector<uint8_t>& out) const override {
    std::lock_guard<std::mutex> lock(mutex_);
    if (n < first_ || !fill(n)) return false;
    out = frames_[n - first_];
    if (n > kKeptBehind) dropBefore(n - kKeptBehind);
    return true;
  }

 private:
  // Frames before `before` are neither kept nor, when reading on, stored.
  void dropBefore(uint32_t before) const {
    floor_ = std::max(floor_, before);
    while (!frames_.empty() && first_ < floor_) {
      frames_.pop_front();
      ++first_;
    }
  }
  // Reads on until frame n is held; false when the stream ends before it.
  bool fill(uint32_t n) const {
    std::string line;
    while (!ended_ && uint64_t(first_) + frames_.size() <= n) {
      std::vector<uint8_t> frame(static_cast<size_t>(frameBytes_));
      // A cut-off last frame is dropped, as in a file.
      if (!input_->line(line, kMaxHeaderLine) || line.compare(0, 5, "FRAME") != 0 ||
          !input_->bytes(frame.data(), frame.size())) {
        ended_ = true;
        break;
      }
      if (read_++ < floor_) {
        first_ = read_;  // a frame nobody will ask for
        continue;
      }
      frames_.push_back(std::move(frame));
    }
    return uint64_t(first_) + frames_.size() > n;
  }

  mutable std::mutex mutex_;
  std::unique_ptr<InputReader> input_ = std::make_unique<InputReader>();
  mutable std::deque<std::vector<uint8_t>> frames_;
  // frames_ holds frames first_ to read_ - 1.
  mutable uint32_t first_ = 0;
  mutable uint32_t read_ = 0;   // frames read from the input
  mutable uint32_t floor_ = 0;  // frames before it are not kept
  mutable bool ended_ = false;
};

}  // namespace

std::unique_ptr<MediaFile> openYuv4Mpeg(const std::string& path, const std::string& wavPath,
                                        std::string* error) {
  if (path == "-") {
    auto stream = std::make_unique<Y4mStream>();
    if (!stream->open(wavPath, error)) return nullptr;
    return stream;
  }
  auto file = std::make_unique<Y4mFile>();
  if (!file->open(path, wavPath, error)) return nullptr;
  return file;
}

}  // namespace zov

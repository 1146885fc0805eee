#include "media/y4m_source.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
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

// Standard input is spooled once per process into an unlinked temporary file.
std::string spoolStandardInput(std::string* error) {
  static std::mutex mutex;
  static std::string spooled;
  std::lock_guard<std::mutex> lock(mutex);
  if (!spooled.empty()) return spooled;
  const char* dir = std::getenv("TMPDIR");
  std::string pattern = std::string(dir && *dir ? dir : "/tmp") + "/zov-stdin-XXXXXX";
  std::vector<char> name(pattern.begin(), pattern.end());
  name.push_back('\0');
  int fd = ::mkstemp(name.data());
  if (fd < 0) {
    if (error) *error = "cannot spool standard input";
    return {};
  }
  char buf[1 << 16];
  for (;;) {
    ssize_t n = ::read(0, buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    if (::write(fd, buf, size_t(n)) != n) {
      ::close(fd);
      ::unlink(name.data());
      if (error) *error = "cannot spool standard input";
      return {};
    }
  }
  ::close(fd);
  spooled = name.data();
  // The file stays for the life of the process: the source may be reopened any time.
  std::atexit([] { ::unlink(spooled.c_str()); });
  return spooled;
}

class Y4mSource : public MediaFile {
 public:
  bool open(const std::string& path, const std::string& wavPath, std::string* error) {
    auto fail = [&](const std::string& why) {
      if (error) *error = why;
      return false;
    };
    std::string real = path;
    if (path == "-") {
      real = spoolStandardInput(error);
      if (real.empty()) return false;
    }
    if (!file_.open(real)) return fail(std::string("cannot open file: ") + std::strerror(errno));
    std::string header;
    if (!file_.readLine(0, header, kMaxHeaderLine) || header.compare(0, 10, "YUV4MPEG2 ") != 0)
      return fail("not a YUV4MPEG2 stream");
    int w = 0, h = 0;
    uint64_t num = 25, den = 1;
    std::string colour = "420jpeg";
    size_t p = 10;
    while (p < header.size()) {
      size_t e = header.find(' ', p);
      if (e == std::string::npos) e = header.size();
      std::string tok = header.substr(p, e - p);
      p = e + 1;
      if (tok.empty()) continue;
      char tag = tok[0];
      std::string v = tok.substr(1);
      if (tag == 'W') w = std::atoi(v.c_str());
      if (tag == 'H') h = std::atoi(v.c_str());
      if (tag == 'C') colour = v;
      if (tag == 'F') {
        unsigned long long a = 0, b = 0;
        if (std::sscanf(v.c_str(), "%llu:%llu", &a, &b) == 2 && a > 0 && b > 0) {
          num = a;
          den = b;
        }
      }
      // Interlaced material ('I' tag) is read as whole frames; field stripping handles it.
    }
    if (w <= 0 || h <= 0 || w > kMaxDimension || h > kMaxDimension) return fail("bad frame size");
    uint64_t ys = uint64_t(w) * h, cs;
    uint32_t fourcc;
    // Only 8-bit samples are read; the deeper variants ("420p10", "444p12", "mono16"...) and
    // the alpha plane of "444alpha" would be taken for other pictures.
    if (colour == "420" || colour == "420jpeg" || colour == "420mpeg2" || colour == "420paldv") {
      cs = uint64_t((w + 1) / 2) * ((h + 1) / 2);
      fourcc = makeFourCC("I420");
    } else if (colour == "422") {
      cs = uint64_t((w + 1) / 2) * h;
      fourcc = makeFourCC("Y42B");
    } else if (colour == "444") {
      cs = ys;
      fourcc = makeFourCC("444P");
    } else if (colour == "mono") {
      cs = 0;
      fourcc = makeFourCC("Y800");
    } else {
      return fail("the YUV4MPEG2 colour space \"C" + colour +
                  "\" is not supported (only 8-bit 4:2:0, 4:2:2, 4:4:4 and mono)");
    }
    frameBytes_ = ys + 2 * cs;
    double usec = 1e6 * double(den) / double(num);
    microSecPerFrame_ = usec >= 1 && usec < 1e9 ? uint32_t(usec + 0.5) : 0;

    // Frames: "FRAME" and optional parameters up to '\n', then the planes.
    uint64_t pos = header.size() + 1;
    std::string line;
    while (pos < file_.size()) {
      if (!file_.readLine(pos, line, kMaxHeaderLine) || line.compare(0, 5, "FRAME") != 0) break;
      uint64_t data = pos + line.size() + 1;
      if (data + frameBytes_ > file_.size()) break;  // a cut-off last frame
      frames_.push_back(data);
      pos = data + frameBytes_;
    }
    if (frames_.empty()) return fail("no frames");

    video_.type = fourcc::kVids;
    video_.handler = fourcc;
    video_.scale = uint32_t(std::min<uint64_t>(den, 0xFFFFFFFF));
    video_.rate = uint32_t(std::min<uint64_t>(num, 0xFFFFFFFF));
    video_.length = uint32_t(frames_.size());
    DibHeader bih;
    bih.width = w;
    bih.height = h;
    bih.bitCount = colour == "mono" ? 8 : colour == "444" ? 24 : colour == "422" ? 16 : 12;
    bih.compression = fourcc;
    bih.sizeImage = uint32_t(frameBytes_);
    format_.assign(40, 0);
    bih.packInto(format_.data());

    if (!wavPath.empty() && !openWav(wavPath, error)) return false;
    return true;
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
  uint32_t frameCount() const override { return uint32_t(frames_.size()); }
  int64_t frameSize(uint32_t n) const override {
    return n < frames_.size() ? int64_t(frameBytes_) : -1;
  }
  bool isKeyFrame(uint32_t n) const override { return n < frames_.size(); }
  uint32_t previousKeyFrame(uint32_t n) const override { return n; }
  bool readFrame(uint32_t n, std::vector<uint8_t>& out) const override {
    if (n >= frames_.size()) return false;
    out.resize(size_t(frameBytes_));
    return file_.readAt(frames_[n], out.data(), out.size());
  }
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

 private:
  PosixFile file_, wav_;
  uint64_t frameBytes_ = 0;
  std::vector<uint64_t> frames_;
  uint32_t microSecPerFrame_ = 0;
  AviStreamHeader video_, audio_;
  std::vector<uint8_t> format_, audioFormat_;
  bool hasAudio_ = false;
  uint64_t audioData_ = 0, audioBytes_ = 0;
  uint32_t blockAlign_ = 1;
};

}  // namespace

std::unique_ptr<MediaFile> openYuv4Mpeg(const std::string& path, const std::string& wavPath,
                                        std::string* error) {
  auto source = std::make_unique<Y4mSource>();
  if (!source->open(path, wavPath, error)) return nullptr;
  return source;
}

}  // namespace zov

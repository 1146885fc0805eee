// A minimal walk of a RIFF AVI file: the first video stream's format and the positions of its
// frames in the movi list, with the key flags of the idx1 index. It reads through a ByteSource, so
// the same walk serves files on disk and images in memory (the fuzz target). Every size in the
// file is checked against the list that holds it, so hostile or truncated files give an error
// message instead of a crash or a giant allocation.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace zov::info {

class ByteSource {
 public:
  virtual ~ByteSource() = default;
  virtual uint64_t size() const = 0;
  // Reads exactly n bytes at offset; false when they are not all there.
  virtual bool read(uint64_t offset, void* dst, size_t n) const = 0;
};

class MemorySource final : public ByteSource {
 public:
  MemorySource(const uint8_t* data, size_t size) : data_(data), size_(size) {}
  uint64_t size() const override { return size_; }
  bool read(uint64_t offset, void* dst, size_t n) const override;

 private:
  const uint8_t* data_;
  size_t size_;
};

class FileSource final : public ByteSource {
 public:
  ~FileSource() override;
  // Opens path for reading; on failure returns null and sets error to the system's reason.
  static std::unique_ptr<FileSource> open(const std::string& path, std::string& error);
  uint64_t size() const override { return size_; }
  bool read(uint64_t offset, void* dst, size_t n) const override;

 private:
  FileSource(int fd, uint64_t size) : fd_(fd), size_(size) {}
  int fd_;
  uint64_t size_;
};

constexpr uint32_t fourcc(char a, char b, char c, char d) {
  return uint32_t(uint8_t(a)) | uint32_t(uint8_t(b)) << 8 | uint32_t(uint8_t(c)) << 16 |
         uint32_t(uint8_t(d)) << 24;
}
// The four characters of a FourCC, unprintable bytes shown as '?'.
std::string fourccText(uint32_t code);

enum class KeyFlag : uint8_t { Unknown, Key, Delta };

struct AviFrame {
  uint64_t offset = 0;  // of the chunk's data
  uint32_t size = 0;
  KeyFlag key = KeyFlag::Unknown;
};

struct AviVideoStream {
  int streamNumber = -1;
  uint32_t handler = 0;  // strh fccHandler
  uint32_t scale = 0, rate = 0;
  // strf BITMAPINFOHEADER
  int32_t width = 0, height = 0;
  uint16_t bitCount = 0;
  uint32_t compression = 0;
  bool hasIndex = false;
  std::vector<AviFrame> frames;
};

// Walks the AVI file in src. On failure returns false with a message (without the file's name).
bool walkAvi(const ByteSource& src, AviVideoStream& stream, std::string& error);

// Frames larger than this are refused before anything is allocated for them: no ZOV frame of
// 640 x 480 comes near it, even with an embedded background.
inline constexpr uint32_t kMaxFrameBytes = 16u << 20;

// Reads one frame's data into buf (resized to the chunk size).
bool readFrame(const ByteSource& src, const AviFrame& frame, std::vector<uint8_t>& buf,
               std::string& error);

}  // namespace zov::info

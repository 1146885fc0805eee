// The first video stream of an AVI file as zovinfo lists and decodes it, read through the source
// reader (media/avi_container.h): the stream's format, its stored frames in order with the key
// flags of the file's index, and the frames' data. Whatever the reader recovers (a missing or
// cut index, a file left unfinished by a killed run, OpenDML parts) is listed like any other.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace zov {
class AviContainer;
}

namespace zov::info {

// The key flag as the file's index gives it; Unknown when the frames were found by a scan.
enum class KeyFlag : uint8_t { Unknown, Key, Delta };

struct MovieFrame {
  uint32_t size = 0;
  KeyFlag key = KeyFlag::Unknown;
};

// Frames larger than this are refused before anything is allocated for them: no ZOV frame of
// 640 x 480 comes near it, even with an embedded background.
inline constexpr uint32_t kMaxFrameBytes = 16u << 20;

class MovieStream {
 public:
  MovieStream();
  ~MovieStream();
  MovieStream(MovieStream&&) noexcept;
  MovieStream& operator=(MovieStream&&) noexcept;

  // Opens the AVI file at path (or an image in memory, copied). On failure returns false with a
  // message (without the file's name).
  bool open(const std::string& path, std::string& error);
  bool openImage(const uint8_t* data, size_t size, std::string& error);

  uint32_t handler = 0;  // strh fccHandler
  uint32_t scale = 0, rate = 0;
  // strf BITMAPINFOHEADER
  int32_t width = 0, height = 0;
  uint16_t bitCount = 0;
  uint32_t compression = 0;
  bool hasIndex = false;
  std::vector<MovieFrame> frames;
  // The audio stream's WAVEFORMATEX (empty without audio).
  std::vector<uint8_t> audioFormat;

  // Reads stored frame n into buf (resized to the frame's size).
  bool readFrame(size_t n, std::vector<uint8_t>& buf, std::string& error) const;

 private:
  bool describe(std::string& error);
  std::unique_ptr<AviContainer> file_;
};

}  // namespace zov::info

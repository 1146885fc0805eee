// Small AVI files for the source reader's tests, written through the output writer (mode 1
// copies stored frames with their own format), and helpers to make and compare pictures.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "encoder/avi_writer.h"

namespace zov::test {

struct FixtureMovie {
  int width = 16;
  int height = 8;
  int bitCount = 24;
  uint32_t compression = 0;
  std::vector<uint8_t> palette;  // 8-bit: RGBQUAD entries appended to the format
  uint32_t microSecPerFrame = 66666;
  std::vector<std::vector<uint8_t>> frames;
  std::vector<bool> keys;  // empty: all key frames
  // Audio: PCM format and one chunk per frame (may be empty).
  uint16_t channels = 0;
  uint32_t sampleRate = 0;
  uint16_t bitsPerSample = 16;
  uint16_t formatTag = 1;
  std::vector<std::vector<uint8_t>> audio;
  RunMode mode = RunMode::NoRecompression;
  uint32_t compressionWord = 0x32760200u;  // mode 0: the stream format word
  bool cdrom = false;
  uint32_t cutOffKB = 0;
  bool cutOffNotify = false;
};

// Writes the movie; returns the number of records written (stops at the size limit).
int writeFixture(const std::string& path, const FixtureMovie& movie,
                 std::vector<std::string>* errors = nullptr,
                 std::vector<std::string>* statuses = nullptr);

// A bottom-up 24-bit DIB frame (lines padded to 4 bytes) filled by f(x, y) -> 0xRRGGBB, y from
// the top line.
template <typename F>
std::vector<uint8_t> makeDib24(int w, int h, F f) {
  size_t stride = (size_t(w) * 3 + 3) & ~size_t(3);
  std::vector<uint8_t> d(stride * h, 0);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      uint32_t c = f(x, y);
      uint8_t* p = d.data() + stride * size_t(h - 1 - y) + 3 * x;
      p[0] = uint8_t(c);
      p[1] = uint8_t(c >> 8);
      p[2] = uint8_t(c >> 16);
    }
  return d;
}

std::vector<uint8_t> readFileBytes(const std::string& path);
// A fresh folder under the test temp dir.
std::string tempFolder(const std::string& name);
bool haveProgram(const char* name);
// Inserts bytes after the video format of a file written by writeFixture (a palette), taking
// the room from the header JUNK so that every later offset stays valid.
void appendToVideoFormat(const std::string& path, const std::vector<uint8_t>& extra);

}  // namespace zov::test

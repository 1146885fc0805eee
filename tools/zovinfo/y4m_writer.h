// Decoded 5-5-5 pictures as a YUV4MPEG2 stream (4:4:4, BT.601 studio range, top row first), for
// viewers and comparison tools that read raw video.
#pragma once

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

namespace zov::info {

class Y4mWriter {
 public:
  // rate/scale: the frame rate as the movie's stream gives it (1/1 when unknown).
  Y4mWriter(std::ostream& out, int width, int height, uint32_t rate, uint32_t scale);

  // Writes one picture (width x height values, bottom row first). False when the stream fails.
  bool write(const uint16_t* picture);

 private:
  std::ostream& out_;
  int width_, height_;
  std::vector<char> planes_;
};

}  // namespace zov::info

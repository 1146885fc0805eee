// One ZOV stream decoded frame after frame, as the codec would: the stream is prepared from its
// format, the first chunk of a background stream gives up its embedded background, and every
// frame's header fields and list sizes are collected for the listing.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include <string>
#include "format/output_geometry.h"

namespace zov::info {

struct FrameSummary {
  bool damaged = false;
  bool empty = false;  // a zero-length chunk: the picture repeats
  bool key = false;
  int scheme = 0;
  bool enpy = false, edge = false, lbox = false;
  int marginTop = 0, marginBottom = 0;  // rows excluded at the top / bottom of the image
  int interframe = 0, chroma = 0, rle = 0, entropy = 0;  // list entries
  int nsym = 0;
  uint32_t n1 = 0, n2 = 0;
  std::string fault;  // the decoder's reason when damaged
};

class StreamSession {
 public:
  StreamSession();
  ~StreamSession();
  StreamSession(const StreamSession&) = delete;
  StreamSession& operator=(const StreamSession&) = delete;

  // Prepares a stream of width x height with the given format word; false with a message when
  // the decoder refuses the format.
  bool begin(int width, int height, uint32_t formatWord, std::string& error);

  // Decodes the next chunk; false when the frame is malformed (summary.damaged is then set).
  bool decode(const uint8_t* data, size_t size, FrameSummary& summary);

  // The decoder's 5-5-5 picture: width() x height() values, row 0 the bottom row of the image.
  const uint16_t* picture() const;
  // The picture's shape as the output stage sees it: size, field flags and letterbox in force.
  OutputLayout layout() const;
  int width() const;
  int height() const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

// The name of a coding scheme ("RGB", "422", ...), or its number.
std::string schemeName(int scheme);

}  // namespace zov::info

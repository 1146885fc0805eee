// The picture size and frame rate of a ZOV stream, which avidemux does not pass on for video it
// does not know: it gives only the stream's format word. They are read from the stream format of
// the AVI file the data come from, found by asking upstream for its location.
#pragma once

#include <gst/gst.h>

#include <cstdint>
#include <string>

namespace zov::gst {

struct StreamGeometry {
  int width = 0, height = 0;
  int fpsNumerator = 0, fpsDenominator = 1;  // 0/1 when unknown
};

// Looks for the file behind `sinkPad` (a file: URI answered by the source element) and the
// stream in it whose format word is `formatWord`. False with a message when there is no such
// file or stream.
bool lookUpStream(GstPad* sinkPad, uint32_t formatWord, StreamGeometry& geometry,
                  std::string& error);

}  // namespace zov::gst

// What an instance's large working memory holds besides its CodecState: the frame decoder with
// its pictures and maps, and the output stage of the method in force.
#pragma once

#include <cstddef>

#include "format/decoder.h"
#include "format/output_stage.h"

namespace zov::codec {

class StreamEngine {
 public:
  FrameDecoder decoder;
  OutputStage output;
  // Destination orientation and pitch of the current stream (top-down for the extended path).
  bool topDown = false;
  ptrdiff_t pitch = 0;

  OutputLayout layout() const {
    OutputLayout l;
    l.width = decoder.width();
    l.height = decoder.height();
    l.wField = hasFlag(decoder.formatWord(), stream_flag::kWField);
    l.sField = hasFlag(decoder.formatWord(), stream_flag::kSField);
    l.marginBottom = decoder.bottomMargin();
    l.marginTop = decoder.topMargin();
    return l;
  }

  OutputPictures pictures() const {
    OutputPictures p;
    p.picture = decoder.outputPicture();
    p.unchangedMap = decoder.unchangedMap();
    p.blockMap = decoder.blockMap();
    p.entropyMap = decoder.entropyMap();
    return p;
  }
};

}  // namespace zov::codec

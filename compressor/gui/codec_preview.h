// The decoder of the output and error views: the installed codec opened through the Video for
// Windows stand-in, with the codec's display style set to brightness 0 and gamma 100 so that the
// views show the coded picture as it is. Failures are boxes titled "ZOVComp" (SUB0002E ..
// SUB0006E); a view whose decoder fails stays closed.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <vector>

#include "platform/vfw.h"

namespace zov {

class CodecPreview {
 public:
  CodecPreview() = default;
  ~CodecPreview();
  CodecPreview(const CodecPreview&) = delete;
  CodecPreview& operator=(const CodecPreview&) = delete;

  // Loads the codec; false after its message.
  bool open();
  bool isOpen() const { return hic_ != nullptr; }

  // Decodes one record of the stream with the 40-byte format into a 15-bit picture, bottom-up
  // (width x height of the format). Frames before the first key frame are refused (nothing to
  // show yet); so is a frame after a failed one until the next key frame.
  bool decode(const std::array<uint8_t, 40>& format, const uint8_t* data, uint32_t length, bool key,
              std::vector<uint16_t>& picture, int* width, int* height);
  bool waitingForKeyFrame() const { return !synced_; }

 private:
  void end();

  HIC hic_ = nullptr;
  bool begun_ = false;
  bool synced_ = false;
  std::array<uint8_t, 40> format_{};
  BITMAPINFOHEADER in_{}, out_{};
};

}  // namespace zov

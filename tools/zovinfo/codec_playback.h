// Playback through the codec library, as a player does it: the compression manager opens the
// codec for the stream's handler, the codec picks the destination and writes every frame into a
// DIB. zovinfo uses it to show what a method looks like in a player and to time that path.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "format/output_preview.h"
#include "platform/vfw.h"

namespace zov::info {

class CodecPlayback {
 public:
  CodecPlayback() = default;
  CodecPlayback(const CodecPlayback&) = delete;
  CodecPlayback& operator=(const CodecPlayback&) = delete;
  ~CodecPlayback();

  // Opens the codec for a stream and begins decompression. method 0..12 is chosen through the
  // codec's style record (the previous style is put back on close) and the destination is the
  // one the codec proposes for it; method -1 leaves the style alone and asks for a 16-bit DIB
  // of the picture's size. False with `error` when the codec cannot be loaded or refuses.
  bool open(int width, int height, uint32_t formatWord, int method, std::string& error);
  // Decompresses one chunk into the DIB (an empty chunk repeats the picture).
  bool decompress(const uint8_t* data, size_t size, std::string& error);
  // The DIB as a person sees it; `layout` is the stream's picture as the decoder recorded it.
  PreviewImage render(const OutputLayout& layout) const;
  // Starts the stream again from its first frame, as a player seeking back to the start.
  bool restart(std::string& error);
  void close();
  // After a failed open: whether the codec library itself was found and loaded.
  bool codecFound() const { return found_; }

  int destWidth() const { return out_.biWidth; }
  int destHeight() const { return out_.biHeight; }

 private:
  bool restoreStyle();

  HIC hic_ = nullptr;
  bool begun_ = false;
  bool found_ = false;
  int method_ = -1;
  BITMAPINFOHEADER in_{};
  BITMAPINFOHEADER out_{};
  Palette palette_{};
  std::vector<uint8_t> dib_;
  // The style the user had, put back on close; the exports come from the loaded codec.
  void* module_ = nullptr;
  std::vector<uint8_t> savedStyle_;
};

}  // namespace zov::info

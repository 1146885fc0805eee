// The compression run's view of a compressor source file: frames ready for coding (cropped,
// stripped, resized, filtered, 15-bit), stored frames, key flags and audio per frame.
#pragma once

#include <memory>
#include <vector>

#include "encoder/compression_run.h"
#include "media/source_file.h"

namespace zov {

class SourceFileRunSource : public RunSource {
 public:
  explicit SourceFileRunSource(SourceFile& source) : source_(source) {}
  RunSourceInfo info() override;
  bool frame(uint32_t frame, std::vector<uint8_t>& bitmap) override;
  bool storedFrame(uint32_t frame, std::vector<uint8_t>& data, bool* keyFrame) override;
  bool isKeyFrame(uint32_t frame) override;
  bool audio(uint32_t frame, std::vector<uint8_t>& data) override;
  bool ended(uint32_t frame) override;
  void show(uint32_t frame) override;

 private:
  SourceFile& source_;
  bool haveInfo_ = false;
  RunSourceInfo info_;
  std::vector<uint8_t> audio_;
};

}  // namespace zov

namespace zov {

class VideoDecoder;

// A decoder for ZOV1/ZOV2 streams over the format library's frame decoder, for reading output
// files back where no codec library is installed (verification, tests). Null for other formats.
std::unique_ptr<VideoDecoder> openBuiltInZovDecoder(const std::vector<uint8_t>& format);
// Installs the source reader's ZOV hook: the installed codec when one is found, else the built-in
// decoder.
void installZovDecoderWithFallback();

}  // namespace zov

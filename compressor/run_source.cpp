#include "compressor/run_source.h"

#include <algorithm>
#include <cstdlib>

#include "format/decoder.h"
#include "media/vfw_zov_decoder.h"
#include "media/video_decoder.h"

namespace zov {

RunSourceInfo SourceFileRunSource::info() {
  // The run asks for the figures often (every batch look-up); they don't change during a run.
  if (haveInfo_) return info_;
  RunSourceInfo& i = info_;
  i.frameCount = source_.Opened ? source_.framesToCompress() : 0;
  i.streamed = source_.Streamed;
  i.microSecPerFrame = source_.MicroSecPerFrame;
  i.fileRate = source_.FileRate;
  i.fileScale = source_.FileScale;
  i.letterBoxTop = source_.LetterBoxTop;
  i.letterBoxBottom = source_.LetterBoxBottom;
  i.audioPreloadFrames = source_.AudioPreloadFrames;
  i.hasAudio = source_.HasAudio;
  if (i.hasAudio) {
    if (!source_.audioStreamInfo(i.audioStreamInfo) || !source_.readAudioFormat(i.audioFormat))
      i.hasAudio = false;
  }
  source_.readVideoFormat(i.videoFormat);
  haveInfo_ = true;
  return info_;
}

bool SourceFileRunSource::frame(uint32_t frame, std::vector<uint8_t>& bitmap) {
  // Past a stream's end there is no frame to report as unreadable.
  if (source_.streamEndsBefore(frame)) return false;
  return source_.getFrame(frame, bitmap, nullptr, true, true, true);
}

bool SourceFileRunSource::storedFrame(uint32_t frame, std::vector<uint8_t>& data, bool* keyFrame) {
  return source_.readRawFrame(frame, data, keyFrame);
}

bool SourceFileRunSource::isKeyFrame(uint32_t frame) {
  return source_.isKeyFrame(frame);
}

bool SourceFileRunSource::audio(uint32_t frame, std::vector<uint8_t>& data) {
  uint32_t size = 0;
  if (!source_.readAudioForFrame(frame, audio_, &size)) return false;
  data.insert(data.end(), audio_.begin(), audio_.begin() + std::min<size_t>(size, audio_.size()));
  return true;
}

bool SourceFileRunSource::ended(uint32_t frame) {
  return source_.streamEndsBefore(frame);
}

void SourceFileRunSource::show(uint32_t frame) {
  source_.CurrentFrame = source_.ExtractionStart + frame;
}

}  // namespace zov

namespace zov {

namespace {

class BuiltInZovDecoder : public VideoDecoder {
 public:
  BuiltInZovDecoder(int width, int height, uint32_t word) : width_(width), height_(height) {
    ok_ = decoder_.prepareStream(width, height, word, DecoderOptions{});
    // A Chroma stream without Chroma1st carries its background behind the first frame.
    embedded_ = (word & stream_flag::kChroma) != 0 && (word & stream_flag::kChroma1st) == 0;
  }
  bool ok() const { return ok_; }
  bool decode(const uint8_t* data, size_t size, DecodedFrame& out) override {
    if (size != 0) {
      if (embedded_ && !decoder_.hasBackground()) {
        size_t framePart = 0;
        if (!decoder_.loadEmbeddedBackground(data, size, &framePart)) return false;
        size = framePart;
      }
      if (decoder_.decodeFrame(data, size) != DecodeStatus::Ok) return false;
    }
    out.header = DibHeader{};
    out.header.width = width_;
    out.header.height = height_;
    out.header.bitCount = 16;
    out.header.sizeImage = uint32_t(out.stride() * size_t(height_));
    out.palette.clear();
    out.pixels.assign(out.header.sizeImage, 0);
    const uint16_t* pic = decoder_.picture();
    for (int y = 0; y < height_; ++y) {
      uint8_t* row = out.pixels.data() + out.stride() * size_t(y);
      for (int x = 0; x < width_; ++x) putLE16(row + 2 * x, pic[size_t(y) * width_ + x] & 0x7FFF);
    }
    return true;
  }
  bool needsSequence() const override { return true; }

 private:
  FrameDecoder decoder_;
  int width_, height_;
  bool ok_ = false;
  bool embedded_ = false;
};

}  // namespace

std::unique_ptr<VideoDecoder> openBuiltInZovDecoder(const std::vector<uint8_t>& format) {
  if (format.size() < 40) return nullptr;
  const uint32_t word = getLE32(format.data() + 16);
  const char version = char(word >> 24);
  if (char(word >> 16) != 'v' || (version != '1' && version != '2')) return nullptr;
  const int32_t width = int32_t(getLE32(format.data() + 4));
  const int32_t height = std::abs(int32_t(getLE32(format.data() + 8)));
  auto d = std::make_unique<BuiltInZovDecoder>(width, height, word);
  if (!d->ok()) return nullptr;
  return d;
}

void installZovDecoderWithFallback() {
  setZovDecoderFactory([](const std::vector<uint8_t>& format) -> std::unique_ptr<VideoDecoder> {
    if (auto d = openVfwZovDecoder(format)) return d;
    return openBuiltInZovDecoder(format);
  });
}

}  // namespace zov

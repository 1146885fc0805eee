#include "format/decoder.h"

namespace zov {

struct FrameDecoder::Impl {};

FrameDecoder::FrameDecoder() : impl_(new Impl) {}
FrameDecoder::~FrameDecoder() {
  delete impl_;
}

bool FrameDecoder::prepareStream(int width, int height, uint32_t formatWord,
                                 const DecoderOptions& options) {
  prepared_ = false;
  if (width < 1 || width > kMaxWidth || height < 1 || height > kMaxHeight) return false;
  if (defaultScheme(formatWord) >= kSchemeCount) return false;
  width_ = width;
  height_ = height;
  formatWord_ = formatWord;
  options_ = options;
  size_t n = size_t(width) * size_t(height);
  picture_.assign(n, 0);
  filtered_.assign(n, 0);
  background_.assign(n, 0);
  blockMap_.assign(n, 0);
  unchangedMap_.assign(n, 0);
  entropyMap_.assign(n, 0);
  prepared_ = true;
  return true;
}

void FrameDecoder::setOptions(const DecoderOptions& options) {
  options_ = options;
}

DecodeStatus FrameDecoder::decodeFrame(const uint8_t*, size_t) {
  return DecodeStatus::Damaged;
}

bool FrameDecoder::loadEmbeddedBackground(const uint8_t*, size_t, size_t* framePartSize) {
  *framePartSize = 0;
  return false;
}

bool FrameDecoder::usesBackground() const {
  return hasFlag(formatWord_, stream_flag::kChroma | stream_flag::kChroma1st);
}

void FrameDecoder::setBackground(const uint16_t*, PixelKind) {}

const uint16_t* FrameDecoder::outputPicture() const {
  return filterActive_ ? filtered_.data() : picture_.data();
}

bool FrameDecoder::unchangedMapMaintained() const {
  return options_.maintainUnchangedMap && !filterActive_;
}

}  // namespace zov

#include "tools/zovinfo/stream_session.h"

#include "format/decoder.h"
#include "format/stream_format.h"

namespace zov::info {

struct StreamSession::Impl {
  FrameDecoder decoder;
  bool firstChunk = true;
};

StreamSession::StreamSession() : impl_(std::make_unique<Impl>()) {}
StreamSession::~StreamSession() = default;

bool StreamSession::begin(int width, int height, uint32_t formatWord, std::string& error) {
  DecoderOptions options;  // 5-5-5, both fields, no post filter: the picture as coded
  if (!impl_->decoder.prepareStream(width, height, formatWord, options)) {
    error = "the decoder refuses a stream of " + std::to_string(width) + "x" +
            std::to_string(height) + " with default scheme " +
            std::to_string(formatWord & stream_flag::kSchemeMask) +
            " (at most 640x480 and scheme 0 to 4)";
    return false;
  }
  impl_->firstChunk = true;
  return true;
}

bool StreamSession::decode(const uint8_t* data, size_t size, FrameSummary& summary) {
  FrameDecoder& d = impl_->decoder;
  summary = FrameSummary{};
  bool first = impl_->firstChunk;
  impl_->firstChunk = false;
  if (size == 0) {
    // A zero-length chunk is a dropped frame in AVI terms: the picture stays as it was.
    summary.empty = true;
    return true;
  }
  size_t framePart = size;
  uint32_t word = d.formatWord();
  // The first chunk of a background stream carries the background after the frame's own data.
  if (first && hasFlag(word, stream_flag::kChroma) && !hasFlag(word, stream_flag::kChroma1st)) {
    if (!d.loadEmbeddedBackground(data, size, &framePart)) {
      summary.damaged = true;
      summary.fault = "embedded background: its offset lies outside the chunk or it is malformed";
      return false;
    }
  }
  DecodeStatus status = d.decodeFrame(data, framePart);
  const FrameInfo& info = d.lastFrame();
  summary.key = info.key;
  summary.scheme = static_cast<int>(info.scheme);
  summary.enpy = info.enpy;
  summary.edge = info.edge;
  summary.lbox = info.lboxField;
  summary.marginTop = info.topRows;
  summary.marginBottom = info.bottomRows;
  auto entries = [&](BlockList l) {
    int i = static_cast<int>(l);
    return info.longEntries[size_t(i)] + info.shortEntries[size_t(i)];
  };
  summary.interframe = entries(BlockList::Interframe);
  summary.chroma = entries(BlockList::Chroma);
  summary.rle = entries(BlockList::Rle);
  summary.entropy = entries(BlockList::Entropy);
  summary.nsym = info.nsym;
  summary.n1 = info.n1;
  summary.n2 = info.n2;
  summary.damaged = status != DecodeStatus::Ok;
  if (summary.damaged && info.fault) summary.fault = info.fault;
  return !summary.damaged;
}

const uint16_t* StreamSession::picture() const {
  return impl_->decoder.picture();
}
OutputLayout StreamSession::layout() const {
  const FrameDecoder& d = impl_->decoder;
  OutputLayout l;
  l.width = d.width();
  l.height = d.height();
  l.wField = hasFlag(d.formatWord(), stream_flag::kWField);
  l.sField = hasFlag(d.formatWord(), stream_flag::kSField);
  l.marginBottom = d.bottomMargin();
  l.marginTop = d.topMargin();
  return l;
}

int StreamSession::width() const {
  return impl_->decoder.width();
}
int StreamSession::height() const {
  return impl_->decoder.height();
}

std::string schemeName(int scheme) {
  static const char* const names[] = {"RGB", "422", "411", "811", "1611"};
  return scheme >= 0 && scheme < 5 ? names[scheme] : std::to_string(scheme);
}

}  // namespace zov::info

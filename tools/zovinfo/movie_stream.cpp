#include "tools/zovinfo/movie_stream.h"

#include "media/avi_container.h"

namespace zov::info {

MovieStream::MovieStream() = default;
MovieStream::~MovieStream() = default;
MovieStream::MovieStream(MovieStream&&) noexcept = default;
MovieStream& MovieStream::operator=(MovieStream&&) noexcept = default;

bool MovieStream::open(const std::string& path, std::string& error) {
  file_ = AviContainer::open(path, &error);
  return file_ && describe(error);
}

bool MovieStream::openImage(const uint8_t* data, size_t size, std::string& error) {
  file_ = AviContainer::openMemory(data, size, &error);
  return file_ && describe(error);
}

bool MovieStream::describe(std::string& error) {
  if (!file_->hasVideo()) {
    error = "no video stream";
    return false;
  }
  const AviStreamHeader& sh = file_->videoHeader();
  DibHeader dib = DibHeader::unpack(file_->videoFormat().data(), file_->videoFormat().size());
  handler = sh.handler;
  scale = sh.scale;
  rate = sh.rate;
  width = dib.width;
  height = dib.height;
  bitCount = dib.bitCount;
  compression = dib.compression;
  AviContainer::IndexSource source = file_->indexSource();
  hasIndex =
      source == AviContainer::IndexSource::Idx1 || source == AviContainer::IndexSource::OpenDml;
  audioFormat.clear();
  if (file_->hasAudio()) audioFormat = file_->audioFormat();
  frames.clear();
  for (const AviContainer::Entry& e : file_->videoEntries())
    frames.push_back({e.size, !hasIndex ? KeyFlag::Unknown
                              : e.key   ? KeyFlag::Key
                                        : KeyFlag::Delta});
  return true;
}

bool MovieStream::readFrame(size_t n, std::vector<uint8_t>& buf, std::string& error) const {
  if (n >= frames.size()) {
    error = "no such frame";
    return false;
  }
  if (frames[n].size > kMaxFrameBytes) {
    error = "the frame chunk of " + std::to_string(frames[n].size) +
            " bytes is larger than any ZOV frame";
    return false;
  }
  if (!file_ || !file_->readFrame(uint32_t(n), buf)) {
    error = "the frame cannot be read whole";
    return false;
  }
  return true;
}

}  // namespace zov::info

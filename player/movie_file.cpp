#include "player/movie_file.h"

#include <cstring>

#include "media/avi_container.h"
#include "media/video_decoder.h"
#include "platform/vfw.h"

namespace zov::player {

void dibToPicture(const uint8_t* bits, int width, int height, int bitCount, const uint8_t* palette,
                  Picture& out) {
  out.width = width;
  out.height = height;
  out.pixels.resize(size_t(width) * size_t(height));
  const size_t stride = (size_t(width) * size_t(bitCount) / 8 + 3) & ~size_t(3);
  auto widen = [](uint32_t v) { return (v << 3) | (v >> 2); };
  for (int y = 0; y < height; ++y) {
    const uint8_t* row = bits + stride * size_t(height - 1 - y);
    uint32_t* dst = out.pixels.data() + size_t(y) * size_t(width);
    for (int x = 0; x < width; ++x) {
      uint32_t r = 0, g = 0, b = 0;
      switch (bitCount) {
        case 8: {
          const uint8_t* q = palette ? palette + 4 * row[x] : nullptr;
          if (q) b = q[0], g = q[1], r = q[2];
          break;
        }
        case 16: {
          const uint32_t v = uint32_t(row[2 * x]) | (uint32_t(row[2 * x + 1]) << 8);
          r = widen((v >> 10) & 31), g = widen((v >> 5) & 31), b = widen(v & 31);
          break;
        }
        case 24:
          b = row[3 * x], g = row[3 * x + 1], r = row[3 * x + 2];
          break;
        case 32:
          b = row[4 * x], g = row[4 * x + 1], r = row[4 * x + 2];
          break;
      }
      dst[x] = 0xFF000000u | (r << 16) | (g << 8) | b;
    }
  }
}

// The codec reached through the compression manager, delivering the picture it proposes.
class MovieFile::CodecDecoder {
 public:
  ~CodecDecoder() { close(); }
  bool open(const std::vector<uint8_t>& format, std::string* error) {
    if (format.size() < sizeof(BITMAPINFOHEADER)) {
      close();
      return fail(error, "the video format is cut short");
    }
    std::memcpy(&in_, format.data(), sizeof in_);
    const char version = char(in_.biCompression >> 24);
    // The new instance opens before the old one closes: a new instance copies its output
    // methods from the process's open ones, so the playback style carries over.
    HIC next = ICOpen(ICTYPE_VIDEO, mmioFOURCC('z', 'o', 'v', version), ICMODE_DECOMPRESS);
    close();
    hic_ = next;
    if (!hic_) return fail(error, "the Orvane codec could not be loaded");
    std::vector<uint8_t> proposed(sizeof(BITMAPINFOHEADER) + 256 * sizeof(RGBQUAD));
    auto* out = reinterpret_cast<BITMAPINFOHEADER*>(proposed.data());
    if (ICDecompressQuery(hic_, &in_, nullptr) != ICERR_OK ||
        ICDecompressGetFormat(hic_, &in_, out) != ICERR_OK)
      return fail(error, "the codec refuses the movie's video");
    out_ = *out;
    palette_.clear();
    if (out_.biBitCount == 8) {
      if (ICDecompressGetPalette(hic_, &in_, out) != ICERR_OK)
        return fail(error, "the codec gives no palette");
      palette_.assign(proposed.begin() + sizeof(BITMAPINFOHEADER), proposed.end());
    }
    if (out_.biWidth <= 0 || out_.biHeight <= 0 || out_.biWidth > 8192 || out_.biHeight > 8192 ||
        (out_.biBitCount != 8 && out_.biBitCount != 16))
      return fail(error, "the codec proposes an unusable picture");
    const size_t stride = (size_t(out_.biWidth) * out_.biBitCount / 8 + 3) & ~size_t(3);
    bits_.assign(stride * size_t(out_.biHeight), 0);
    out_.biSizeImage = DWORD(bits_.size());
    if (ICDecompressBegin(hic_, &in_, &out_) != ICERR_OK)
      return fail(error, "the codec cannot begin the movie");
    begun_ = true;
    return true;
  }
  bool decode(const std::vector<uint8_t>& data, bool key) {
    BITMAPINFOHEADER in = in_;
    in.biSizeImage = DWORD(data.size());
    DWORD flags = data.empty() ? ICDECOMPRESS_NULLFRAME : 0;
    if (!key) flags |= ICDECOMPRESS_NOTKEYFRAME;
    return ICDecompress(hic_, flags, &in, const_cast<uint8_t*>(data.data()), &out_, bits_.data()) ==
           DWORD(ICERR_OK);
  }
  void toPicture(Picture& p) const {
    dibToPicture(bits_.data(), out_.biWidth, out_.biHeight, out_.biBitCount,
                 palette_.empty() ? nullptr : palette_.data(), p);
  }

 private:
  bool fail(std::string* error, const char* text) {
    if (error) *error = text;
    close();
    return false;
  }
  void close() {
    if (!hic_) return;
    if (begun_) ICDecompressEnd(hic_);
    begun_ = false;
    ICClose(hic_);
    hic_ = nullptr;
  }
  HIC hic_ = nullptr;
  bool begun_ = false;
  BITMAPINFOHEADER in_{}, out_{};
  std::vector<uint8_t> palette_;
  std::vector<uint8_t> bits_;
};

MovieFile::~MovieFile() = default;

std::unique_ptr<MovieFile> MovieFile::open(const std::string& path, std::string* error) {
  std::unique_ptr<MovieFile> m(new MovieFile);
  m->path_ = path;
  m->file_ = AviContainer::open(path, error);
  if (!m->file_) return nullptr;
  if (!m->file_->hasVideo() || m->file_->frameCount() == 0) {
    if (error) *error = "the file holds no video frames";
    return nullptr;
  }
  const auto& format = m->file_->videoFormat();
  if (format.size() < sizeof(BITMAPINFOHEADER)) {
    if (error) *error = "the video format is cut short";
    return nullptr;
  }
  BITMAPINFOHEADER bih;
  std::memcpy(&bih, format.data(), sizeof bih);
  m->width_ = bih.biWidth;
  m->height_ = bih.biHeight < 0 ? -bih.biHeight : bih.biHeight;
  const char version = char(bih.biCompression >> 24);
  if (char(bih.biCompression >> 16) == 'v' && (version == '1' || version == '2')) {
    m->codec_ = std::make_unique<CodecDecoder>();
    if (!m->codec_->open(format, error)) return nullptr;
  } else {
    m->other_ = createVideoDecoder(format, error);
    if (!m->other_) return nullptr;
  }
  const auto& vh = m->file_->videoHeader();
  if (vh.rate && vh.scale) {
    m->fps_ = double(vh.rate) / double(vh.scale);
  } else if (m->file_->microSecPerFrame()) {
    m->fps_ = 1e6 / m->file_->microSecPerFrame();
  }
  if (!(m->fps_ > 0.1 && m->fps_ < 1000)) m->fps_ = 15;
  // PCM audio only: other tracks stay silent (the network source's placeholder audio until
  // useNetworkAudio).
  if (m->file_->hasAudio()) {
    const auto& af = m->file_->audioFormat();
    const auto& ah = m->file_->audioHeader();
    if (af.size() >= 16) {
      const uint16_t tag = uint16_t(af[0] | af[1] << 8);
      const uint16_t channels = uint16_t(af[2] | af[3] << 8);
      const uint32_t rate = uint32_t(af[4] | af[5] << 8 | af[6] << 16 | uint32_t(af[7]) << 24);
      const uint16_t bits = uint16_t(af[14] | af[15] << 8);
      if (tag == 1 && channels >= 1 && channels <= 2 && (bits == 8 || bits == 16) && rate >= 1000 &&
          rate <= 192000) {
        m->audioFormat_ = AudioFormat{rate, channels, bits};
        m->audioBlocksPerSecond_ =
            ah.rate && ah.scale ? double(ah.rate) / double(ah.scale) : double(rate);
        m->audioStartBlocks_ = ah.start;
      }
    }
  }
  return m;
}

uint32_t MovieFile::frameCount() const {
  return file_->frameCount();
}

bool MovieFile::isKeyFrame(uint32_t frame) const {
  return file_->isKeyFrame(frame);
}

uint32_t MovieFile::previousKeyFrame(uint32_t frame) const {
  return file_->previousKeyFrame(frame);
}

bool MovieFile::decodeOne(uint32_t frame, bool present) {
  if (!file_->readFrame(frame, scratch_)) return false;
  if (codec_) {
    if (!codec_->decode(scratch_, file_->isKeyFrame(frame))) return false;
    if (present) codec_->toPicture(picture_);
  } else {
    DecodedFrame out;
    if (!other_->decode(scratch_.data(), scratch_.size(), out)) return false;
    if (present)
      dibToPicture(out.pixels.data(), out.header.width, out.header.height, out.header.bitCount,
                   out.palette.empty() ? nullptr : out.palette.data(), picture_);
  }
  if (!present) ++decodedOnly_;
  decoded_ = long(frame);
  return true;
}

bool MovieFile::decodeTo(uint32_t frame, bool present) {
  if (frame >= frameCount()) return false;
  if (long(frame) == decoded_) {
    if (present && picture_.pixels.empty())
      decoded_ = -1;  // never shown: decode again
    else
      return true;
  }
  const bool sequence = codec_ ? true : other_->needsSequence();
  uint32_t first = frame;
  if (sequence) {
    const uint32_t key = previousKeyFrame(frame);
    // Continue from the decoder's position when no key frame lies between it and the target.
    first = decoded_ >= 0 && long(frame) > decoded_ && long(key) <= decoded_
                ? uint32_t(decoded_ + 1)
                : key;
  }
  for (uint32_t f = first; f < frame; ++f)
    if (!decodeOne(f, false)) return false;
  return decodeOne(frame, present);
}

bool MovieFile::renegotiate(std::string* error) {
  decoded_ = -1;
  if (!codec_) return true;
  return codec_->open(file_->videoFormat(), error);
}

uint64_t MovieFile::audioFrameAt(uint32_t frame) const {
  if (!hasAudio()) return 0;
  const double seconds = double(frame) / fps_;
  const double blocks = seconds * audioBlocksPerSecond_;
  return blocks > audioStartBlocks_ ? uint64_t(blocks) - audioStartBlocks_ : 0;
}

uint64_t MovieFile::audioLength() const {
  if (network_) return network_->length();
  return hasAudio() ? file_->audioLength() : 0;
}

bool MovieFile::useNetworkAudio(NetworkAudio::Obtain obtain, std::string* error) {
  const auto& af = file_->audioFormat();
  if (!file_->hasAudio() || af.size() < 8 || (af[0] | af[1] << 8) != 0xFFFF) {
    if (error) *error = "the movie has no network audio track";
    return false;
  }
  const uint16_t channels = uint16_t(af[2] | af[3] << 8);
  const uint32_t rate = uint32_t(af[4] | af[5] << 8 | af[6] << 16 | uint32_t(af[7]) << 24);
  // One stub chunk per audio chunk of the remote file.
  const auto chunks = uint32_t(file_->audioEntries().size());
  network_ = NetworkAudio::create(std::move(obtain), chunks, channels, rate, fps_, error);
  if (!network_) return false;
  audioFormat_ = network_->format();
  audioBlocksPerSecond_ = rate;
  audioStartBlocks_ = 0;
  return true;
}

size_t MovieFile::readAudio(uint64_t start, uint64_t count, std::vector<uint8_t>& out) const {
  if (!hasAudio()) {
    out.clear();
    return 0;
  }
  if (network_) return network_->read(start, count, out);
  return file_->readAudio(start, count, out);
}

}  // namespace zov::player

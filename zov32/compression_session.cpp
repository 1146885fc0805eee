#include "zov32/compression_session.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "encoder/zov2_encoder.h"
#include "format/stream_format.h"

namespace zov::zov32 {

namespace {

constexpr int kMinWidth = 80, kMinHeight = 60;

bool codableInput(const BITMAPINFOHEADER* in) {
  if (!in || in->biSize < sizeof(BITMAPINFOHEADER) || in->biPlanes != 1 ||
      in->biCompression != BI_RGB)
    return false;
  if (in->biBitCount != 16 && in->biBitCount != 24 && in->biBitCount != 32) return false;
  const long w = in->biWidth, h = std::labs(in->biHeight);
  return w >= kMinWidth && w <= kMaxWidth && h >= kMinHeight && h <= kMaxHeight && w % 4 == 0 &&
         h % 4 == 0;
}

size_t rowBytes(int width, int bitCount) {
  return (static_cast<size_t>(width) * bitCount / 8 + 3) & ~size_t(3);
}

}  // namespace

CompressionSession::CompressionSession() {
  settings_.updateDerived();
}

CompressionSession::~CompressionSession() {
  end();
}

LRESULT CompressionSession::framesInfo(const ICCOMPRESSFRAMES* info) {
  if (!info) return ICERR_BADPARAM;
  if (info->lQuality >= 0) {
    const long quality = std::min<long>(info->lQuality, 10000);
    settings_.ImageLossLevel = static_cast<uint32_t>(7 - quality * 7 / 10000);
  }
  if (info->lKeyRate > 0)
    settings_.KeyRate = static_cast<uint32_t>(std::min<long>(info->lKeyRate - 1, 100));
  settings_.DataRateControl = info->lDataRate > 0;
  settings_.DataRate = info->lDataRate > 0 ? static_cast<uint32_t>(info->lDataRate) : 0;
  if (info->dwRate && info->dwScale) {
    settings_.FrameRate = info->dwRate;
    settings_.FrameScale = info->dwScale;
  }
  settings_.updateDerived();
  return ICERR_OK;
}

LRESULT CompressionSession::query(const BITMAPINFOHEADER* in, const BITMAPINFOHEADER* out) const {
  if (!codableInput(in)) return ICERR_BADFORMAT;
  if (!out) return ICERR_OK;
  if (out->biBitCount != 16 || (out->biCompression & 0xFFFF0000u) != kZov2Tag ||
      out->biWidth != in->biWidth || out->biHeight != std::labs(in->biHeight))
    return ICERR_BADFORMAT;
  return ICERR_OK;
}

LRESULT CompressionSession::getFormat(const BITMAPINFOHEADER* in, BITMAPINFOHEADER* out) const {
  if (!codableInput(in)) return ICERR_BADFORMAT;
  if (!out) return sizeof(BITMAPINFOHEADER);
  *out = BITMAPINFOHEADER{};
  out->biSize = sizeof(BITMAPINFOHEADER);
  out->biWidth = in->biWidth;
  out->biHeight = std::labs(in->biHeight);
  out->biPlanes = 1;
  out->biBitCount = 16;
  out->biCompression = streamFormatWord(settings_, false);
  out->biSizeImage = static_cast<DWORD>(maxFrameBytes(out->biWidth, out->biHeight));
  return ICERR_OK;
}

LRESULT CompressionSession::getSize(const BITMAPINFOHEADER* in) const {
  if (!codableInput(in)) return ICERR_BADFORMAT;
  return static_cast<LRESULT>(maxFrameBytes(in->biWidth, std::labs(in->biHeight)));
}

LRESULT CompressionSession::begin(const BITMAPINFOHEADER* in, const BITMAPINFOHEADER* out) {
  if (LRESULT r = query(in, out)) return r;
  end();
  width_ = in->biWidth;
  height_ = std::abs(in->biHeight);
  bitCount_ = in->biBitCount;
  topDown_ = in->biHeight < 0;
  settings_.updateDerived();
  settings_.prepareRun(false);
  EncoderSetup setup;
  setup.width = width_;
  setup.height = height_;
  setup.frameCount = 1;  // one frame in, one frame out: no look-ahead
  if (!StartEncoder(settings_, setup)) return ICERR_BADFORMAT;
  picture_.assign(static_cast<size_t>(width_) * height_, 0);
  framesCoded_ = 0;
  begun_ = true;
  return ICERR_OK;
}

bool CompressionSession::toPicture(const void* bits) {
  const auto* base = static_cast<const uint8_t*>(bits);
  const size_t pitch = rowBytes(width_, bitCount_);
  for (int y = 0; y < height_; ++y) {
    const uint8_t* row = base + pitch * static_cast<size_t>(topDown_ ? height_ - 1 - y : y);
    uint16_t* to = &picture_[static_cast<size_t>(y) * width_];
    for (int x = 0; x < width_; ++x) {
      if (bitCount_ == 16) {
        to[x] = static_cast<uint16_t>((row[2 * x] | row[2 * x + 1] << 8) & 0x7FFF);
      } else {
        const uint8_t* p = row + static_cast<size_t>(x) * (bitCount_ / 8);  // blue, green, red
        to[x] = static_cast<uint16_t>((p[2] >> 3) << 10 | (p[1] >> 3) << 5 | p[0] >> 3);
      }
    }
  }
  return true;
}

LRESULT CompressionSession::compress(const ICCOMPRESS* r) {
  if (!begun_) return ICERR_BADHANDLE;
  if (!r || !r->lpInput || !r->lpOutput || !r->lpbiOutput) return ICERR_BADPARAM;
  if (r->lpbiInput &&
      (r->lpbiInput->biWidth != width_ || std::abs(r->lpbiInput->biHeight) != height_ ||
       r->lpbiInput->biBitCount != bitCount_))
    return ICERR_BADFORMAT;
  toPicture(r->lpInput);
  // Key frames: the first, the periodic ones, and those the host asks for; a key rate of 1
  // leaves the countdown at 0, which makes every frame a key frame. The encoder may add more
  // and says so in KeyFrame.
  bool key = framesCoded_ == 0 || (r->dwFlags & ICCOMPRESS_KEYFRAME) || settings_.KeyCountdown == 0;
  if (framesCoded_ > 0 && settings_.KeyCountdown != 0 && --settings_.KeyCountdown == 0) {
    settings_.KeyCountdown = settings_.KeyRate + 1;
    key = true;
  }
  settings_.KeyFrame = key ? 1 : 0;
  settings_.FinalCall = false;
  CompressParams p;
  p.input = picture_.data();
  p.output = static_cast<uint8_t*>(r->lpOutput);
  p.outputCapacity = maxFrameBytes(width_, height_);
  if (!EncodeFrame(settings_, p)) return ICERR_INTERNAL;
  ++framesCoded_;
  r->lpbiOutput->biSizeImage = static_cast<DWORD>(p.outputLength);
  if (r->lpdwFlags) *r->lpdwFlags = settings_.KeyFrame && p.outputLength ? AVIIF_KEYFRAME : 0;
  if (r->lpckid) *r->lpckid = 'd' | 'c' << 8;  // a compressed video chunk
  return ICERR_OK;
}

LRESULT CompressionSession::end() {
  if (begun_) EndEncoder(settings_);
  begun_ = false;
  return ICERR_OK;
}

const uint16_t* CompressionSession::reconstruction() const {
  return begun_ ? encoderReconstruction(settings_) : nullptr;
}

}  // namespace zov::zov32

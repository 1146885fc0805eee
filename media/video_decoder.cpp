#include "media/video_decoder.h"

#include <turbojpeg.h>

#include <algorithm>
#include <cstring>
#include <mutex>

namespace zov {

namespace {

std::mutex gFactoryMutex;
ZovDecoderFactory gZovFactory;

constexpr uint32_t kBiRgb = 0;
constexpr uint32_t kBiBitfields = 3;

// Largest picture we decode: far above anything the compressor can use, small enough that a
// hostile header can't ask for gigabytes.
constexpr int64_t kMaxDecodedPixels = 4096LL * 4096;

bool sizeOk(int64_t w, int64_t h) {
  return w > 0 && h > 0 && w * h <= kMaxDecodedPixels;
}

uint8_t clamp8(int v) {
  return uint8_t(v < 0 ? 0 : v > 255 ? 255 : v);
}

// `overwritten`: the decoder writes every pixel of the frame, so the buffer keeps what it held
// (the previous frame) instead of being cleared first; bytes it never held start as zeros.
void startFrame(DecodedFrame& out, int w, int h, int bits, bool overwritten = false) {
  out.header = DibHeader{};
  out.header.width = w;
  out.header.height = h;
  out.header.bitCount = uint16_t(bits);
  out.palette.clear();
  out.header.sizeImage = uint32_t(out.stride() * size_t(h));
  if (overwritten)
    out.pixels.resize(out.header.sizeImage);
  else
    out.pixels.assign(out.header.sizeImage, 0);
}

// ---- Uncompressed DIBs ----

class DibDecoder : public VideoDecoder {
 public:
  DibDecoder(const DibHeader& h, std::vector<uint8_t> palette, uint32_t masks[3])
      : h_(h), palette_(std::move(palette)) {
    for (int i = 0; i < 3; ++i) masks_[i] = masks[i];
  }
  bool decode(const uint8_t* data, size_t size, DecodedFrame& out) override {
    const int w = h_.width, h = std::abs(h_.height);
    const bool topDown = h_.height < 0;
    const size_t srcStride = (size_t(w) * h_.bitCount / 8 + 3) & ~size_t(3);
    // A last line without its padding is still complete.
    const size_t need = srcStride * size_t(h - 1) + size_t(w) * h_.bitCount / 8;
    if (size < need) return false;
    int outBits = h_.bitCount;
    startFrame(out, w, h, outBits);
    if (h_.bitCount == 8) out.palette = palette_;
    const size_t stride = out.stride();
    for (int y = 0; y < h; ++y) {
      const uint8_t* s = data + srcStride * size_t(topDown ? h - 1 - y : y);
      uint8_t* d = out.pixels.data() + stride * size_t(y);
      if (h_.compression == kBiBitfields) {
        convertBitfieldsRow(s, d, w);
      } else {
        std::memcpy(d, s, size_t(w) * h_.bitCount / 8);
      }
    }
    return true;
  }

 private:
  static int shiftOf(uint32_t m) {
    int s = 0;
    while (m && !(m & 1)) {
      m >>= 1;
      ++s;
    }
    return s;
  }
  static int bitsOf(uint32_t m) {
    int n = 0;
    for (; m; m >>= 1) n += m & 1;
    return n;
  }
  // Scales a masked component to 8 bits (16-bit: to 5 bits).
  static uint32_t component(uint32_t v, uint32_t mask, int to) {
    int bits = bitsOf(mask);
    if (bits == 0) return 0;
    uint32_t c = (v & mask) >> shiftOf(mask);
    if (bits >= to) return c >> (bits - to);
    return c << (to - bits) | c >> std::max(0, 2 * bits - to);
  }
  void convertBitfieldsRow(const uint8_t* s, uint8_t* d, int w) const {
    if (h_.bitCount == 16) {
      for (int x = 0; x < w; ++x) {
        uint32_t v = getLE16(s + 2 * x);
        uint16_t o = uint16_t(component(v, masks_[0], 5) << 10 | component(v, masks_[1], 5) << 5 |
                              component(v, masks_[2], 5));
        putLE16(d + 2 * x, o);
      }
    } else {
      for (int x = 0; x < w; ++x) {
        uint32_t v = getLE32(s + 4 * x);
        d[4 * x] = uint8_t(component(v, masks_[2], 8));
        d[4 * x + 1] = uint8_t(component(v, masks_[1], 8));
        d[4 * x + 2] = uint8_t(component(v, masks_[0], 8));
        d[4 * x + 3] = 0;
      }
    }
  }

  DibHeader h_;
  std::vector<uint8_t> palette_;
  uint32_t masks_[3];
};

// ---- YUV ----

enum class YuvLayout { Yuy2, Uyvy, I420, Yv12, Y42B, Yuv444, Grey };

class YuvDecoder : public VideoDecoder {
 public:
  YuvDecoder(int w, int h, YuvLayout layout) : w_(w), h_(h), layout_(layout) {}

  size_t frameBytes() const {
    size_t y = size_t(w_) * h_;
    size_t cw = size_t(w_ + 1) / 2, ch = size_t(h_ + 1) / 2;
    switch (layout_) {
      case YuvLayout::Yuy2:
      case YuvLayout::Uyvy:
        return size_t((w_ + 1) / 2) * 4 * h_;
      case YuvLayout::I420:
      case YuvLayout::Yv12:
        return y + 2 * cw * ch;
      case YuvLayout::Y42B:
        return y + 2 * cw * size_t(h_);
      case YuvLayout::Yuv444:
        return 3 * y;
      case YuvLayout::Grey:
        return y;
    }
    return y;
  }

  bool decode(const uint8_t* data, size_t size, DecodedFrame& out) override {
    if (size < frameBytes()) return false;
    startFrame(out, w_, h_, 24);
    const size_t stride = out.stride();
    const size_t ys = size_t(w_), cw = size_t(w_ + 1) / 2, ch = size_t(h_ + 1) / 2;
    for (int row = 0; row < h_; ++row) {
      // YUV frames are stored top line first; DIBs bottom line first.
      uint8_t* d = out.pixels.data() + stride * size_t(h_ - 1 - row);
      for (int x = 0; x < w_; ++x) {
        int y = 0, cb = 128, cr = 128;
        switch (layout_) {
          case YuvLayout::Yuy2:
          case YuvLayout::Uyvy: {
            const uint8_t* p = data + size_t(row) * size_t((w_ + 1) / 2) * 4 + size_t(x / 2) * 4;
            if (layout_ == YuvLayout::Yuy2) {
              y = p[(x & 1) * 2];
              cb = p[1];
              cr = p[3];
            } else {
              y = p[1 + (x & 1) * 2];
              cb = p[0];
              cr = p[2];
            }
            break;
          }
          case YuvLayout::I420:
          case YuvLayout::Yv12: {
            y = data[size_t(row) * ys + x];
            const uint8_t* first = data + ys * h_;
            const uint8_t* second = first + cw * ch;
            size_t ci = size_t(row / 2) * cw + size_t(x / 2);
            if (layout_ == YuvLayout::I420) {
              cb = first[ci];
              cr = second[ci];
            } else {
              cr = first[ci];
              cb = second[ci];
            }
            break;
          }
          case YuvLayout::Y42B: {
            y = data[size_t(row) * ys + x];
            const uint8_t* u = data + ys * h_;
            size_t ci = size_t(row) * cw + size_t(x / 2);
            cb = u[ci];
            cr = u[cw * h_ + ci];
            break;
          }
          case YuvLayout::Yuv444: {
            size_t i = size_t(row) * ys + x;
            y = data[i];
            cb = data[ys * h_ + i];
            cr = data[2 * ys * h_ + i];
            break;
          }
          case YuvLayout::Grey:
            y = data[size_t(row) * ys + x];
            break;
        }
        yuvToBgr(y, cb, cr, d + 3 * x);
      }
    }
    return true;
  }

 private:
  int w_, h_;
  YuvLayout layout_;
};

// ---- Motion-JPEG ----

class JpegDecoder : public VideoDecoder {
 public:
  JpegDecoder(int w, int h) : w_(w), h_(h), tj_(tjInitDecompress()) {}
  ~JpegDecoder() override {
    if (tj_) tjDestroy(tj_);
  }
  bool decode(const uint8_t* data, size_t size, DecodedFrame& out) override {
    if (!tj_ || size < 4 || size > 0x7FFFFFFF) return false;
    int w = 0, h = 0, subsamp = 0, colourspace = 0;
    if (tjDecompressHeader3(tj_, data, static_cast<unsigned long>(size), &w, &h, &subsamp,
                            &colourspace) != 0)
      return false;
    // Capture cards store interlaced video as two JPEG fields of half height in one chunk.
    if (w == w_ && h * 2 == h_ && sizeOk(w, h_)) return decodeFields(data, size, out);
    // The stream format gives the picture size; a frame of another size does not belong to it.
    if (w != w_ || h != h_ || !sizeOk(w, h)) return false;
    // A decode that does not fail writes every line (one that runs short of data is padded out).
    startFrame(out, w, h, 24, true);
    int rc = tjDecompress2(tj_, data, static_cast<unsigned long>(size), out.pixels.data(), w,
                           int(out.stride()), h, TJPF_BGR, TJFLAG_BOTTOMUP | TJFLAG_ACCURATEDCT);
    // A warning (for example a few missing bytes at the end) still leaves a usable picture.
    return rc == 0 || tjGetErrorCode(tj_) == TJERR_WARNING;
  }

 private:
  // Decodes both fields and weaves them: the first field gives the top line and every second
  // line after it, the second field the lines between.
  bool decodeFields(const uint8_t* data, size_t size, DecodedFrame& out) {
    size_t second = 0;
    for (size_t i = 2; i + 2 < size; ++i) {
      if (data[i] == 0xFF && data[i + 1] == 0xD8 && data[i + 2] == 0xFF) {
        second = i;
        break;
      }
    }
    if (second == 0) return false;
    const int fh = h_ / 2;
    const size_t stride = (size_t(w_) * 3 + 3) & ~size_t(3);
    std::vector<uint8_t> field(stride * size_t(fh));
    startFrame(out, w_, h_, 24);
    const uint8_t* parts[2] = {data, data + second};
    const size_t sizes[2] = {second, size - second};
    for (int f = 0; f < 2; ++f) {
      int fw = 0, fhh = 0, sub = 0, cs = 0;
      if (tjDecompressHeader3(tj_, parts[f], static_cast<unsigned long>(sizes[f]), &fw, &fhh, &sub,
                              &cs) != 0 ||
          fw != w_ || fhh != fh)
        return false;
      int rc = tjDecompress2(tj_, parts[f], static_cast<unsigned long>(sizes[f]), field.data(), w_,
                             int(stride), fh, TJPF_BGR, TJFLAG_ACCURATEDCT);
      if (rc != 0 && tjGetErrorCode(tj_) != TJERR_WARNING) return false;
      for (int y = 0; y < fh; ++y) {
        int line = 2 * y + f;  // from the top
        std::memcpy(out.pixels.data() + stride * size_t(h_ - 1 - line), field.data() + stride * y,
                    size_t(w_) * 3);
      }
    }
    return true;
  }

  int w_, h_;
  tjhandle tj_;
};

}  // namespace

void yuvToBgr(int y, int cb, int cr, uint8_t* bgr) {
  // BT.601 studio range, 16-bit fixed point.
  int c = (y - 16) * 76309;
  int d = cb - 128, e = cr - 128;
  bgr[2] = clamp8((c + 104597 * e + 32768) >> 16);
  bgr[1] = clamp8((c - 25675 * d - 53279 * e + 32768) >> 16);
  bgr[0] = clamp8((c + 132201 * d + 32768) >> 16);
}

void setZovDecoderFactory(ZovDecoderFactory factory) {
  std::lock_guard<std::mutex> lock(gFactoryMutex);
  gZovFactory = std::move(factory);
}

std::unique_ptr<VideoDecoder> createVideoDecoder(const std::vector<uint8_t>& format,
                                                 std::string* error) {
  auto fail = [&](const std::string& why) -> std::unique_ptr<VideoDecoder> {
    if (error) *error = why;
    return nullptr;
  };
  if (format.size() < 40) return fail("video format too short");
  DibHeader h = DibHeader::unpack(format.data(), format.size());
  int64_t w = h.width, hh = h.height < 0 ? -int64_t(h.height) : h.height;
  if (!sizeOk(w, hh)) return fail("bad video frame size");
  const uint32_t c = h.compression;
  const std::string name = "unsupported video compression '" + fourCCText(c) + "'";

  if (c == kBiRgb || c == kBiBitfields) {
    uint32_t masks[3] = {0x7C00, 0x03E0, 0x001F};
    if (h.bitCount == 32) {
      masks[0] = 0xFF0000;
      masks[1] = 0xFF00;
      masks[2] = 0xFF;
    }
    std::vector<uint8_t> palette;
    size_t headerSize = std::max<size_t>(40, std::min<size_t>(h.size, format.size()));
    if (c == kBiBitfields) {
      if (h.bitCount != 16 && h.bitCount != 32) return fail(name);
      if (format.size() < 52) return fail("bit field masks missing");
      for (int i = 0; i < 3; ++i) masks[i] = getLE32(format.data() + 40 + 4 * i);
    } else if (h.bitCount == 8) {
      uint32_t colours = h.clrUsed ? std::min<uint32_t>(h.clrUsed, 256) : 256;
      palette.assign(size_t(256) * 4, 0);
      size_t avail = format.size() > headerSize ? format.size() - headerSize : 0;
      size_t take = std::min<size_t>(avail, size_t(colours) * 4);
      std::copy_n(format.begin() + headerSize, take, palette.begin());
    } else if (h.bitCount != 16 && h.bitCount != 24 && h.bitCount != 32) {
      return fail("unsupported video bit count " + std::to_string(h.bitCount));
    }
    return std::make_unique<DibDecoder>(h, std::move(palette), masks);
  }
  if (h.height < 0) return fail(name);
  switch (c) {
    case makeFourCC("YUY2"):
    case makeFourCC("YUYV"):
      return std::make_unique<YuvDecoder>(int(w), int(hh), YuvLayout::Yuy2);
    case makeFourCC("UYVY"):
      return std::make_unique<YuvDecoder>(int(w), int(hh), YuvLayout::Uyvy);
    case makeFourCC("I420"):
    case makeFourCC("IYUV"):
      return std::make_unique<YuvDecoder>(int(w), int(hh), YuvLayout::I420);
    case makeFourCC("YV12"):
      return std::make_unique<YuvDecoder>(int(w), int(hh), YuvLayout::Yv12);
    case makeFourCC("Y42B"):
      return std::make_unique<YuvDecoder>(int(w), int(hh), YuvLayout::Y42B);
    case makeFourCC("444P"):
      return std::make_unique<YuvDecoder>(int(w), int(hh), YuvLayout::Yuv444);
    case makeFourCC("Y800"):
      return std::make_unique<YuvDecoder>(int(w), int(hh), YuvLayout::Grey);
    case makeFourCC("MJPG"):
    case makeFourCC("mjpg"):
    case makeFourCC("JPEG"):
      return std::make_unique<JpegDecoder>(int(w), int(hh));
    case makeFourCC("ZOV1"):
    case makeFourCC("ZOV2"):
    case makeFourCC("zov1"):
    case makeFourCC("zov2"): {
      ZovDecoderFactory factory;
      {
        std::lock_guard<std::mutex> lock(gFactoryMutex);
        factory = gZovFactory;
      }
      if (factory)
        if (auto d = factory(format)) return d;
      return fail(name);
    }
    default:
      break;
  }
  // The stream format word of a ZOV stream holds 'v','1'/'v','2' in its upper half only.
  if ((c & 0xFFFF0000u) == (uint32_t('v') << 16 | uint32_t('1') << 24) ||
      (c & 0xFFFF0000u) == (uint32_t('v') << 16 | uint32_t('2') << 24)) {
    ZovDecoderFactory factory;
    {
      std::lock_guard<std::mutex> lock(gFactoryMutex);
      factory = gZovFactory;
    }
    if (factory)
      if (auto d = factory(format)) return d;
    return fail("unsupported video compression 'zov" + std::string(1, char(c >> 24)) + "'");
  }
  return fail(name);
}

}  // namespace zov

#include "media/vfw_zov_decoder.h"

#include <cstring>

#include "platform/vfw.h"

namespace zov {

namespace {

class VfwZovDecoder : public VideoDecoder {
 public:
  VfwZovDecoder(HIC hic, const BITMAPINFOHEADER& in, const BITMAPINFOHEADER& out)
      : hic_(hic), in_(in), out_(out) {}
  ~VfwZovDecoder() override {
    ICDecompressEnd(hic_);
    ICClose(hic_);
  }
  bool decode(const uint8_t* data, size_t size, DecodedFrame& out) override {
    out.header = DibHeader{};
    out.header.width = out_.biWidth;
    out.header.height = out_.biHeight;
    out.header.bitCount = 16;
    out.header.sizeImage = uint32_t(out.stride() * size_t(out_.biHeight));
    out.palette.clear();
    out.pixels.resize(out.header.sizeImage);
    BITMAPINFOHEADER in = in_;
    in.biSizeImage = DWORD(size);
    // Empty chunks are frames dropped by data-rate control: the picture stays as it was.
    DWORD flags = size == 0 ? ICDECOMPRESS_NULLFRAME : 0;
    DWORD rc = ICDecompress(hic_, flags, &in, const_cast<uint8_t*>(data), &out_, out.pixels.data());
    if (rc != DWORD(ICERR_OK)) return false;
    // The 15-bit picture keeps its 15 low bits.
    for (size_t i = 0; i + 1 < out.pixels.size(); i += 2) out.pixels[i + 1] &= 0x7F;
    return true;
  }
  bool needsSequence() const override { return true; }

 private:
  HIC hic_;
  BITMAPINFOHEADER in_, out_;
};

}  // namespace

std::unique_ptr<VideoDecoder> openVfwZovDecoder(const std::vector<uint8_t>& format) {
  if (format.size() < sizeof(BITMAPINFOHEADER)) return nullptr;
  BITMAPINFOHEADER in;
  std::memcpy(&in, format.data(), sizeof in);
  // The format word holds 'v','1' or 'v','2' in its upper half: the handler is zov1 or zov2.
  char version = char(in.biCompression >> 24);
  if (char(in.biCompression >> 16) != 'v' || (version != '1' && version != '2')) return nullptr;
  HIC hic = ICOpen(ICTYPE_VIDEO, mmioFOURCC('z', 'o', 'v', version), ICMODE_DECOMPRESS);
  if (!hic) return nullptr;
  BITMAPINFOHEADER out{};
  out.biSize = sizeof out;
  out.biWidth = in.biWidth;
  out.biHeight = in.biHeight < 0 ? -in.biHeight : in.biHeight;
  out.biPlanes = 1;
  out.biBitCount = 16;
  out.biCompression = BI_RGB;
  out.biSizeImage = DWORD(((out.biWidth * 2 + 3) & ~3) * out.biHeight);
  if (ICDecompressQuery(hic, &in, &out) != ICERR_OK ||
      ICDecompressBegin(hic, &in, &out) != ICERR_OK) {
    ICClose(hic);
    return nullptr;
  }
  return std::make_unique<VfwZovDecoder>(hic, in, out);
}

void installVfwZovDecoder() {
  setZovDecoderFactory(openVfwZovDecoder);
}

}  // namespace zov

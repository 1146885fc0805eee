#include "tools/zovinfo/codec_playback.h"

#include <dlfcn.h>

#include <cstdlib>
#include <cstring>

#include "zov/zovcod32.h"

namespace zov::info {

namespace {

using StyleFunction = uint32_t (*)(ZOVStyle*);

StyleFunction styleExport(void* module, const char* name) {
  return module ? reinterpret_cast<StyleFunction>(dlsym(module, name)) : nullptr;
}

// Only the leading fields (the methods) are read and written: the rest of the user's settings
// are not touched at all.
ZOVStyle shortStyle() {
  ZOVStyle s{};
  s.size = uint32_t(ZOV_STYLE_MIN_SIZE);
  return s;
}

}  // namespace

CodecPlayback::~CodecPlayback() {
  close();
}

bool CodecPlayback::open(int width, int height, uint32_t formatWord, int method,
                         std::string& error) {
  close();
  found_ = false;
  char version = char(formatWord >> 24);
  if (char(formatWord >> 16) != 'v' || (version != '1' && version != '2')) {
    error = "the format word names no ZOV codec";
    return false;
  }
  in_ = BITMAPINFOHEADER{};
  in_.biSize = sizeof in_;
  in_.biWidth = width;
  in_.biHeight = height;
  in_.biPlanes = 1;
  in_.biBitCount = 16;
  in_.biCompression = formatWord;
  hic_ = ICOpen(ICTYPE_VIDEO, mmioFOURCC('z', 'o', 'v', version), ICMODE_DECOMPRESS);
  if (!hic_) {
    error = "the codec library could not be loaded";
    return false;
  }
  found_ = true;
  method_ = method;
  if (method >= 0) {
    // The codec learns the stream from the query; the style then applies to this instance.
    if (ICDecompressQuery(hic_, &in_, nullptr) != ICERR_OK) {
      error = "the codec refuses the stream";
      close();
      return false;
    }
    const char* path = ICGetDriverPath(hic_);
    module_ = path ? dlopen(path, RTLD_NOLOAD | RTLD_NOW) : nullptr;
    StyleFunction get = styleExport(module_, "ZOVGetStyle");
    StyleFunction set = styleExport(module_, "ZOVSetStyle");
    ZOVStyle style = shortStyle();
    if (!get || !set || get(&style) != ZOV_OK) {
      error = "the codec library offers no style record";
      close();
      return false;
    }
    savedStyle_.assign(reinterpret_cast<uint8_t*>(&style),
                       reinterpret_cast<uint8_t*>(&style) + sizeof style);
    style.windowedMethod = uint32_t(method);
    ZOVStyle check = shortStyle();
    if (set(&style) != ZOV_OK || get(&check) != ZOV_OK ||
        check.windowedMethod != uint32_t(method)) {
      error = "the codec does not use output method " + std::to_string(method) + " for this stream";
      close();
      return false;
    }
    std::vector<uint8_t> format(sizeof(BITMAPINFOHEADER) + 256 * sizeof(RGBQUAD));
    auto* out = reinterpret_cast<BITMAPINFOHEADER*>(format.data());
    if (ICDecompressGetFormat(hic_, &in_, out) != ICERR_OK) {
      error = "the codec proposes no destination";
      close();
      return false;
    }
    out_ = *out;
    if (out_.biBitCount == 8) {
      if (ICDecompressGetPalette(hic_, &in_, out) != ICERR_OK) {
        error = "the codec gives no palette for output method " + std::to_string(method);
        close();
        return false;
      }
      std::memcpy(palette_.data(), format.data() + sizeof(BITMAPINFOHEADER), 256 * sizeof(RGBQUAD));
    }
  } else {
    out_ = BITMAPINFOHEADER{};
    out_.biSize = sizeof out_;
    out_.biWidth = width;
    out_.biHeight = height;
    out_.biPlanes = 1;
    out_.biBitCount = 16;
    out_.biCompression = BI_RGB;
    out_.biSizeImage = DWORD(dibPitch(width, 2) * height);
    if (ICDecompressQuery(hic_, &in_, &out_) != ICERR_OK) {
      error = "the codec refuses a 16-bit destination for the stream";
      close();
      return false;
    }
  }
  if (out_.biWidth <= 0 || out_.biHeight <= 0 || (out_.biBitCount != 8 && out_.biBitCount != 16)) {
    error = "the codec proposes an unusable destination";
    close();
    return false;
  }
  dib_.assign(size_t(dibPitch(out_.biWidth, out_.biBitCount / 8)) * size_t(out_.biHeight), 0);
  out_.biSizeImage = DWORD(dib_.size());
  if (ICDecompressBegin(hic_, &in_, &out_) != ICERR_OK) {
    error = "the codec cannot begin the stream";
    close();
    return false;
  }
  begun_ = true;
  return true;
}

bool CodecPlayback::decompress(const uint8_t* data, size_t size, std::string& error) {
  BITMAPINFOHEADER in = in_;
  in.biSizeImage = DWORD(size);
  // Empty chunks are frames dropped by data-rate control: the picture stays as it was.
  DWORD flags = size == 0 ? ICDECOMPRESS_NULLFRAME : 0;
  DWORD rc = ICDecompress(hic_, flags, &in, const_cast<uint8_t*>(data), &out_, dib_.data());
  if (rc != DWORD(ICERR_OK)) {
    error = "the codec fails on the frame (error " + std::to_string(int32_t(rc)) + ")";
    return false;
  }
  return true;
}

PreviewImage CodecPlayback::render(const OutputLayout& layout) const {
  int method = method_ < 0 ? 0 : method_;
  auto g =
      computeOutputGeometry(method, layout, false, dibPitch(out_.biWidth, out_.biBitCount / 8));
  // The codec wrote what its destination holds; anything else is not this method's picture.
  if (!g || g->destWidth > out_.biWidth || g->destHeight > out_.biHeight ||
      g->bytesPerPixel * 8 != out_.biBitCount)
    return {};
  return renderPreview(*g, dib_.data(), PixelKind::Rgb555,
                       out_.biBitCount == 8 ? &palette_ : nullptr);
}

bool CodecPlayback::restart(std::string& error) {
  if (begun_) ICDecompressEnd(hic_);
  begun_ = ICDecompressBegin(hic_, &in_, &out_) == ICERR_OK;
  if (!begun_) error = "the codec cannot begin the stream again";
  return begun_;
}

bool CodecPlayback::restoreStyle() {
  if (savedStyle_.size() != sizeof(ZOVStyle)) return true;
  StyleFunction set = styleExport(module_, "ZOVSetStyle");
  ZOVStyle style;
  std::memcpy(&style, savedStyle_.data(), sizeof style);
  savedStyle_.clear();
  return set && set(&style) == ZOV_OK;
}

void CodecPlayback::close() {
  if (!hic_) return;
  if (begun_) ICDecompressEnd(hic_);
  begun_ = false;
  // Put the user's methods back while the instance still exists (the codec needs one).
  restoreStyle();
  if (module_) dlclose(module_);
  module_ = nullptr;
  ICClose(hic_);
  hic_ = nullptr;
}

}  // namespace zov::info

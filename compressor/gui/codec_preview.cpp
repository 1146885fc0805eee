#include "compressor/gui/codec_preview.h"

#include <dlfcn.h>

#include <cstring>
#include <filesystem>

#include "platform/ui.h"
#include "zov/zovcod32.h"

namespace zov {

namespace {

constexpr const char* kTitle = "ZOVComp";

bool fail(const char* text) {
  messageBox(nullptr, text, kTitle, MB_OK | MB_ICONSTOP);
  return false;
}

}  // namespace

CodecPreview::~CodecPreview() {
  end();
  if (hic_) ICClose(hic_);
}

void CodecPreview::end() {
  if (begun_) ICDecompressEnd(hic_);
  begun_ = false;
  synced_ = false;
}

bool CodecPreview::open() {
  if (hic_) return true;
  const std::string path = vfw::findDriverLibrary(ICTYPE_VIDEO, mmioFOURCC('z', 'o', 'v', '2'));
  std::error_code ec;
  if (path.empty() || !std::filesystem::exists(path, ec))
    return fail("SUB0002E Unable to find the codec!\r(Have you installed the player?)");
  void* library = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!library) return fail("SUB0003E Unable to load the codec!\r(Have you installed the player?)");
  using StyleFn = uint32_t (*)(ZOVStyle*);
  auto getStyle = reinterpret_cast<StyleFn>(dlsym(library, "ZOVGetStyle"));
  auto setStyle = reinterpret_cast<StyleFn>(dlsym(library, "ZOVSetStyle"));
  hic_ = ICOpen(ICTYPE_VIDEO, mmioFOURCC('z', 'o', 'v', '2'), ICMODE_DECOMPRESS);
  if (!hic_) {
    dlclose(library);
    return fail("SUB0004E Unable to open decompressor!\r(Have you installed the player?)");
  }
  ZOVStyle style{};
  style.size = sizeof style;
  if (!getStyle || !setStyle || getStyle(&style) != 0) {
    dlclose(library);
    return fail("SUB0005E Unable to initialize decompressor!\r(Have you installed the player?)");
  }
  style.brightness = 0;
  style.gamma = 100;
  if (setStyle(&style) != 0) {
    dlclose(library);
    return fail("SUB0006E Unable to initialize decompressor!\r(Have you installed the player?)");
  }
  // The open decompressor keeps the codec loaded.
  dlclose(library);
  return true;
}

bool CodecPreview::decode(const std::array<uint8_t, 40>& format, const uint8_t* data,
                          uint32_t length, bool key, std::vector<uint16_t>& picture, int* width,
                          int* height) {
  if (!hic_) return false;
  if (!begun_ || format != format_) {
    end();
    format_ = format;
    std::memcpy(&in_, format.data(), sizeof in_);
    out_ = BITMAPINFOHEADER{};
    out_.biSize = sizeof out_;
    out_.biWidth = in_.biWidth;
    out_.biHeight = in_.biHeight < 0 ? -in_.biHeight : in_.biHeight;
    out_.biPlanes = 1;
    out_.biBitCount = 16;
    out_.biCompression = BI_RGB;
    out_.biSizeImage = DWORD(((out_.biWidth * 2 + 3) & ~3) * out_.biHeight);
    if (in_.biWidth <= 0 || out_.biHeight <= 0 || ICDecompressBegin(hic_, &in_, &out_) != ICERR_OK)
      return false;
    begun_ = true;
  }
  if (!synced_ && !key) return false;
  std::vector<uint8_t> pixels(out_.biSizeImage);
  BITMAPINFOHEADER in = in_;
  in.biSizeImage = length;
  const DWORD flags = length == 0 ? ICDECOMPRESS_NULLFRAME : 0;
  if (ICDecompress(hic_, flags, &in, const_cast<uint8_t*>(data), &out_, pixels.data()) !=
      DWORD(ICERR_OK)) {
    synced_ = false;
    return false;
  }
  synced_ = true;
  const int w = out_.biWidth, h = out_.biHeight;
  const size_t stride = size_t((w * 2 + 3) & ~3);
  picture.resize(size_t(w) * size_t(h));
  for (int y = 0; y < h; ++y) {
    const uint8_t* row = pixels.data() + stride * size_t(y);
    for (int x = 0; x < w; ++x)
      picture[size_t(y) * size_t(w) + size_t(x)] =
          uint16_t((row[2 * x] | row[2 * x + 1] << 8) & 0x7FFF);
  }
  *width = w;
  *height = h;
  return true;
}

}  // namespace zov

// The codec driver's decompression path as a host drives it, over arbitrary stream formats,
// methods, destinations, request flags and frame bytes. Destinations are allocated exactly as
// large as the proposed format, so a write past them is caught.
// Input: 2 bytes width, 2 bytes height (signed, unfolded: the driver must refuse bad sizes),
// 2 bytes of the format word's lower half, 1 byte method, 1 byte options (1 extended path,
// 2 5-6-5 destination, 4 wrong generation, 8 suspend around the begin), 1 byte x and 1 byte y
// placement, then frames: 1 byte of request flags, a 2-byte little-endian length, the bytes.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "platform/ui.h"
#include "platform/vfw.h"
#include "zov/zovcod32.h"

namespace {

// Runs before the library's own start-up, so it reads and writes a scratch settings folder.
__attribute__((constructor(101))) void useScratchHome() {
  char pattern[] = "/tmp/zov-fuzz-codec-XXXXXX";
  if (const char* dir = mkdtemp(pattern)) setenv("ZOV_HOME", dir, 1);
}

struct Instance {
  DWORD_PTR id = 0;
  explicit Instance(DWORD handler) {
    ICOPEN open{};
    open.dwSize = sizeof open;
    open.fccType = ICTYPE_VIDEO;
    open.fccHandler = handler;
    id = static_cast<DWORD_PTR>(
        DriverProc(0, nullptr, DRV_OPEN, 0, reinterpret_cast<LPARAM>(&open)));
  }
  ~Instance() { DriverProc(id, nullptr, DRV_CLOSE, 0, 0); }
  LRESULT send(UINT msg, const void* a, LPARAM b = 0) {
    return DriverProc(id, nullptr, msg, reinterpret_cast<LPARAM>(a), b);
  }
};

// Boxes (the size box of oversized streams) are answered silently.
class SilentBoxes : public zov::MessageBoxSink {
 public:
  int show(zov::WindowHandle, std::string_view, std::string_view, uint32_t style) override {
    return zov::messageBoxDefaultResult(style);
  }
};

struct Format {
  BITMAPINFOHEADER h{};
  DWORD masks[3]{};
  RGBQUAD colours[253]{};
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 10) return 0;
  const int16_t width = static_cast<int16_t>(data[0] | data[1] << 8);
  const int16_t height = static_cast<int16_t>(data[2] | data[3] << 8);
  const uint8_t options = data[7];
  BITMAPINFOHEADER in{};
  in.biSize = sizeof in;
  in.biWidth = width;
  in.biHeight = height;
  in.biPlanes = 1;
  in.biBitCount = 16;
  const char generation = options & 4 ? '1' : '2';
  in.biCompression = mmioFOURCC('\0', '\0', 'v', generation) | uint32_t(data[4] | data[5] << 8);

  static SilentBoxes silent;
  static zov::MessageBoxSink* previous = zov::setMessageBoxSink(&silent);
  (void)previous;
  Instance codec(mmioFOURCC('z', 'o', 'v', '2'));
  if (!codec.id) return 0;
  ZOVStyle style{};
  style.size = sizeof style;
  style.windowedMethod = data[6] % 16;
  style.gamma = 100;
  style.videoChipset = 1;
  ZOVSetStyle(&style);

  Format out{};
  if (codec.send(ICM_DECOMPRESS_GET_FORMAT, &in, reinterpret_cast<LPARAM>(&out.h)) != ICERR_OK)
    return 0;
  if (options & 2 && out.h.biBitCount == 16) {
    out.h.biCompression = BI_BITFIELDS;
    out.masks[0] = 0xF800;
    out.masks[1] = 0x07E0;
    out.masks[2] = 0x001F;
  }
  const int bytes = out.h.biBitCount == 8 ? 1 : 2;
  const bool extended = options & 1;
  const int x = data[8] % 16, y = data[9] % 16;
  const long destW = std::labs(out.h.biWidth) + (extended ? x : 0);
  const long destH = std::labs(out.h.biHeight) + (extended ? y : 0);
  if (destW <= 0 || destH <= 0 || destW > 4096 || destH > 4096) return 0;
  const size_t pitch = (static_cast<size_t>(destW) * bytes + 3) & ~size_t(3);
  std::vector<uint8_t> dest(pitch * static_cast<size_t>(destH));

  if (options & 8) ZOVPreConfigure();
  ICDECOMPRESSEX ex{};
  LRESULT begun;
  if (extended) {
    out.h.biWidth = static_cast<LONG>(destW);
    out.h.biHeight = -static_cast<LONG>(destH);
    ex.lpbiSrc = &in;
    ex.lpbiDst = &out.h;
    ex.dxSrc = in.biWidth;
    ex.dySrc = in.biHeight;
    ex.dxDst = static_cast<int>(destW - x);
    ex.dyDst = static_cast<int>(destH - y);
    ex.xDst = x;
    ex.yDst = y;
    begun = codec.send(ICM_DECOMPRESSEX_BEGIN, &ex, sizeof ex);
  } else {
    begun = codec.send(ICM_DECOMPRESS_BEGIN, &in, reinterpret_cast<LPARAM>(&out.h));
  }
  if (options & 8) ZOVPostConfigure();
  if (begun != ICERR_OK) return 0;

  data += 10;
  size -= 10;
  while (size >= 3) {
    const DWORD flags = uint32_t(data[0] & 0xF8) << 24;
    size_t n = data[1] | data[2] << 8;
    data += 3;
    size -= 3;
    if (n > size) n = size;
    std::vector<uint8_t> frame(data, data + n);  // exactly the chunk, as a file reader hands it
    in.biSizeImage = static_cast<DWORD>(n);
    if (extended) {
      ex.dwFlags = flags;
      ex.lpSrc = frame.empty() ? nullptr : frame.data();
      ex.lpDst = dest.data();
      codec.send(ICM_DECOMPRESSEX, &ex, sizeof ex);
    } else {
      ICDECOMPRESS request{};
      request.dwFlags = flags;
      request.lpbiInput = &in;
      request.lpInput = frame.empty() ? nullptr : frame.data();
      request.lpbiOutput = &out.h;
      request.lpOutput = dest.data();
      codec.send(ICM_DECOMPRESS, &request, sizeof request);
    }
    data += n;
    size -= n;
  }
  codec.send(ICM_DECOMPRESS_END, nullptr);
  return 0;
}

// DriverProc as hosts drive it, in any order: the input is a program of one-byte operations,
// each followed by the bytes it reads, over up to four instances. Frames come from the bundled
// ZOV2 sample (256 x 256), whole or with bytes changed, or are taken from the input for a stream
// format the input chooses. Destinations and frames are allocated exactly as large as they
// claim, so any write or read past them is caught.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "platform/ui.h"
#include "platform/vfw.h"
#include "zov/zovcod32.h"

namespace {

__attribute__((constructor(101))) void useScratchHome() {
  char pattern[] = "/tmp/zov-fuzz-sequence-XXXXXX";
  if (const char* dir = mkdtemp(pattern)) setenv("ZOV_HOME", dir, 1);
}

class SilentBoxes : public zov::MessageBoxSink {
 public:
  int show(zov::WindowHandle, std::string_view, std::string_view, uint32_t style) override {
    return zov::messageBoxDefaultResult(style);
  }
};

uint32_t le32(const uint8_t* p) {
  return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

// The video chunks of the sample, in file order.
std::vector<std::vector<uint8_t>> loadSampleFrames() {
  std::ifstream file(ZOV_SAMPLE_STREAM, std::ios::binary);
  std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(file)), {});
  std::vector<std::vector<uint8_t>> frames;
  size_t pos = 12;
  while (pos + 8 <= bytes.size()) {
    const uint32_t id = le32(&bytes[pos]), size = le32(&bytes[pos + 4]);
    if (id == mmioFOURCC('L', 'I', 'S', 'T')) {
      pos += 12;  // into the list
      continue;
    }
    if (pos + 8 + size > bytes.size()) break;
    if (id == mmioFOURCC('0', '0', 'd', 'c'))
      frames.emplace_back(bytes.begin() + pos + 8, bytes.begin() + pos + 8 + size);
    pos += 8 + size + (size & 1);
  }
  return frames;
}

const std::vector<std::vector<uint8_t>>& sampleFrames() {
  static const auto frames = loadSampleFrames();
  return frames;
}

struct Input {
  const uint8_t* data;
  size_t size;
  uint8_t byte() {
    if (!size) return 0;
    --size;
    return *data++;
  }
  uint16_t word() { return static_cast<uint16_t>(byte() | byte() << 8); }
};

struct Format {
  BITMAPINFOHEADER h{};
  DWORD masks[3]{};
  RGBQUAD colours[253]{};
};

struct Instance {
  DWORD_PTR id = 0;
  BITMAPINFOHEADER in{};
  Format out{};
  std::vector<uint8_t> dest;
  ICDECOMPRESSEX ex{};
  bool extended = false;

  LRESULT send(UINT msg, const void* a = nullptr, LPARAM b = 0) {
    return DriverProc(id, nullptr, msg, reinterpret_cast<LPARAM>(a), b);
  }
};

constexpr uint32_t kSampleFormat = 0x32760200;  // zov2, V4, RGB scheme

void chooseStream(Instance& c, Input& in) {
  c.in = BITMAPINFOHEADER{};
  c.in.biSize = sizeof c.in;
  c.in.biPlanes = 1;
  c.in.biBitCount = 16;
  const uint8_t kind = in.byte();
  if (kind & 1) {
    c.in.biWidth = 256;
    c.in.biHeight = 256;
    c.in.biCompression = kSampleFormat;
  } else {
    c.in.biWidth = static_cast<int16_t>(in.word());
    c.in.biHeight = static_cast<int16_t>(in.word());
    const char generation = kind & 2 ? '1' : '2';
    c.in.biCompression = mmioFOURCC('\0', '\0', 'v', generation) | in.word();
  }
}

// The destination: the proposed format, then changed as the input says (5-6-5 masks, YUY2,
// doubled, top-down), and a buffer exactly as large as it claims.
void chooseDestination(Instance& c, Input& in) {
  c.out = Format{};
  if (c.send(ICM_DECOMPRESS_GET_FORMAT, &c.in, reinterpret_cast<LPARAM>(&c.out.h)) != ICERR_OK)
    c.out.h = BITMAPINFOHEADER{sizeof(BITMAPINFOHEADER), 64, 48, 1, 16, BI_RGB, 0, 0, 0, 0, 0};
  const uint8_t how = in.byte();
  if (how & 1 && c.out.h.biBitCount == 16) {
    c.out.h.biCompression = BI_BITFIELDS;
    c.out.masks[0] = how & 2 ? 0xF800 : 0x7C00;
    c.out.masks[1] = how & 2 ? 0x07E0 : 0x03E0;
    c.out.masks[2] = 0x001F;
  }
  if (how & 4) c.out.h.biCompression = mmioFOURCC('Y', 'U', 'Y', how & 8 ? '2' : 'V');
  if (how & 16) {
    c.out.h.biWidth *= 2;
    c.out.h.biHeight *= 2;
  }
  c.extended = how & 32;
  if (c.extended) c.out.h.biHeight = -std::abs(c.out.h.biHeight);
  const long w = std::labs(c.out.h.biWidth), h = std::labs(c.out.h.biHeight);
  const int bytes = c.out.h.biBitCount == 8 ? 1 : 2;
  if (w <= 0 || h <= 0 || w > 2048 || h > 2048) {
    c.dest.clear();
    return;
  }
  c.dest.assign(((static_cast<size_t>(w) * bytes + 3) & ~size_t(3)) * static_cast<size_t>(h), 0);
  c.ex = ICDECOMPRESSEX{};
  c.ex.lpbiSrc = &c.in;
  c.ex.lpbiDst = &c.out.h;
  c.ex.dxSrc = c.in.biWidth;
  c.ex.dySrc = c.in.biHeight;
  c.ex.dxDst = static_cast<int>(w);
  c.ex.dyDst = static_cast<int>(h);
}

// A frame: a sample frame, maybe damaged, or bytes of the input.
std::vector<uint8_t> chooseFrame(Input& in) {
  const uint8_t kind = in.byte();
  std::vector<uint8_t> frame;
  const auto& sample = sampleFrames();
  if (kind & 1 && !sample.empty()) {
    frame = sample[(kind >> 1) % sample.size()];
    for (int changes = in.byte() % 8; changes > 0 && !frame.empty(); --changes) {
      const size_t at = in.word() * 7u % frame.size();
      frame[at] ^= in.byte();
    }
    if (kind & 0x80) frame.resize(frame.size() / 2);  // cut short
  } else {
    size_t n = in.word() % 2048;
    if (n > in.size) n = in.size;
    frame.assign(in.data, in.data + n);
    in.data += n;
    in.size -= n;
  }
  return frame;
}

void decodeFrame(Instance& c, Input& in, DWORD flags) {
  std::vector<uint8_t> frame = chooseFrame(in);
  c.in.biSizeImage = static_cast<DWORD>(frame.size());
  void* src = frame.empty() ? nullptr : frame.data();
  void* dst = c.dest.empty() ? nullptr : c.dest.data();
  if (c.extended) {
    c.ex.dwFlags = flags;
    c.ex.lpSrc = src;
    c.ex.lpDst = dst;
    c.ex.xDst = in.byte() % 8;
    c.ex.yDst = in.byte() % 8;
    c.send(ICM_DECOMPRESSEX, &c.ex, sizeof c.ex);
  } else {
    ICDECOMPRESS request{};
    request.dwFlags = flags;
    request.lpbiInput = &c.in;
    request.lpInput = src;
    request.lpbiOutput = &c.out.h;
    request.lpOutput = dst;
    c.send(ICM_DECOMPRESS, &request, sizeof request);
  }
}

void changeStyle(Input& in) {
  ZOVStyle style{};
  style.size = sizeof style;
  style.windowedMethod = in.byte() % 16;
  style.fullscreenMethod = in.byte() % 13;
  const uint8_t flags = in.byte();
  style.useHardware = flags & 1;
  style.interpolate = flags & 2 ? 1 : 0;
  style.disableAutoResizing = flags & 4 ? 1 : 0;
  style.noCache = flags & 8 ? 1 : 0;
  style.forceDIB = flags & 16 ? 1 : 0;
  style.brightness = static_cast<int8_t>(in.byte()) % 16;
  style.gamma = flags & 32 ? 150 : 100;
  style.videoChipset = 1;
  ZOVSetStyle(&style);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static SilentBoxes silent;
  static zov::MessageBoxSink* previous = zov::setMessageBoxSink(&silent);
  (void)previous;
  Input in{data, size};
  Instance slots[4];
  int operations = 0;
  while (in.size && operations++ < 64) {
    const uint8_t op = in.byte();
    Instance& c = slots[op >> 6];
    const uint8_t what = op & 0x3F;
    if (!c.id && what % 16 != 0) continue;
    switch (what % 16) {
      case 0: {
        if (c.id) c.send(DRV_CLOSE);
        ICOPEN open{};
        open.dwSize = sizeof open;
        open.fccType = ICTYPE_VIDEO;
        open.fccHandler = mmioFOURCC('z', 'o', 'v', what & 16 ? '1' : '2');
        c = Instance{};
        c.id = static_cast<DWORD_PTR>(
            DriverProc(0, nullptr, DRV_OPEN, 0, reinterpret_cast<LPARAM>(&open)));
        break;
      }
      case 1:
        c.send(DRV_CLOSE);
        c = Instance{};
        break;
      case 2:
        chooseStream(c, in);
        chooseDestination(c, in);
        c.send(ICM_DECOMPRESS_QUERY, &c.in, reinterpret_cast<LPARAM>(&c.out.h));
        break;
      case 3:
        c.send(ICM_DECOMPRESS_GET_PALETTE, &c.in, reinterpret_cast<LPARAM>(&c.out.h));
        break;
      case 4:
        c.send(ICM_DECOMPRESS_BEGIN, &c.in, reinterpret_cast<LPARAM>(&c.out.h));
        break;
      case 5:
        c.send(ICM_DECOMPRESSEX_BEGIN, &c.ex, sizeof c.ex);
        break;
      case 6:
        decodeFrame(c, in, 0);
        break;
      case 7:
        decodeFrame(c, in, uint32_t(in.byte() & 0xF8) << 24);
        break;
      case 8:
        c.send(what & 16 ? ICM_DECOMPRESSEX_END : ICM_DECOMPRESS_END);
        break;
      case 9:
        changeStyle(in);
        break;
      case 10:
        if (what & 16)
          ZOVPostConfigure();
        else
          ZOVPreConfigure();
        break;
      case 11: {
        ICDRAWBEGIN draw{};
        draw.dwFlags = in.byte() & 3;
        draw.lpbi = &c.in;
        c.send(ICM_DRAW_BEGIN, &draw, sizeof draw);
        ICDRAW frame{};
        c.send(ICM_DRAW, &frame, sizeof frame);
        c.send(ICM_DRAW_REALIZE);
        break;
      }
      case 12: {
        std::vector<uint8_t> info(in.word() % 700);
        c.send(ICM_GETINFO, info.empty() ? nullptr : info.data(), static_cast<LPARAM>(info.size()));
        uint32_t state = 0;
        c.send(ICM_GETSTATE, &state, 4);
        c.send(ICM_SETSTATE, &state, 4);
        break;
      }
      case 13:
        c.send(ICM_DRAW_START);
        break;
      case 14:
        // Without a compression library beside the codec these answer "unsupported".
        c.send(ICM_COMPRESS_QUERY, &c.in, 0);
        c.send(DRV_FREE);
        break;
      case 15: {
        ZOVStyle style{};
        style.size = sizeof style;
        ZOVGetStyle(&style);
        ZOVReadOnly record{};
        record.size = sizeof record;
        ZOVGetReadOnly(&record);
        break;
      }
    }
  }
  for (Instance& c : slots)
    if (c.id) c.send(DRV_CLOSE);
  return 0;
}

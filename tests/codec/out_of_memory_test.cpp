// Running out of memory inside the codec library: every allocation reached from DriverProc and
// the exports may fail, one at a time, and each failure is answered (ICERR_MEMORY, a refused
// open, ZOV_NO_MEMORY) behind at most one box per process; no exception reaches the host. The
// same holds for a compressing host, with libzov32 loaded behind the codec.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "codec/codec_state.h"
#include "codec/support/codec_host.h"
#include "codec/support/failing_allocator.h"
#include "encoder/zov2_encoder.h"
#include "support/codec_compression.h"

namespace zov::test {
namespace {

constexpr DWORD kZov2 = mmioFOURCC('z', 'o', 'v', '2');

LRESULT send(LRESULT id, UINT msg, const void* a = nullptr, LPARAM b = 0) {
  return codec().driverProc(static_cast<uintptr_t>(id), nullptr, msg, reinterpret_cast<LPARAM>(a),
                            b);
}

LRESULT open(ICOPEN& record) {
  record = ICOPEN{};
  record.dwSize = sizeof record;
  record.fccType = ICTYPE_VIDEO;
  record.fccHandler = kZov2;
  return send(0, DRV_OPEN, nullptr, reinterpret_cast<LPARAM>(&record));
}

bool isMemoryBox(const std::string& text) {
  return text.rfind("Unable to allocate", 0) == 0 &&
         text.find("InstanceLinkStruct") == std::string::npos;
}

// Everything a playing host does, prepared up front so that only the library allocates.
struct Session {
  BITMAPINFOHEADER in = streamFormat(96, 64);
  OutputFormat out = rgbOutput(96, 64);
  OutputFormat topDown = rgbOutput(96, -64);
  std::vector<uint8_t> key = solidKeyFrame(96, 64, 0x7C00);
  std::vector<uint8_t> patch = patchFrame(96, 64, 8, 8, 16, 16, 0x001F);
  std::vector<uint16_t> bitmap = std::vector<uint16_t>(96 * 64);
  ICDECOMPRESS plain{};
  ICDECOMPRESSEX ex{};
  ICINFO info{};
  ZOVStyle style{};
  ICOPEN record{};
  int gamma = 100;

  Session() {
    plain.lpbiInput = &in;
    plain.lpbiOutput = &out.header;
    plain.lpOutput = bitmap.data();
    ex.lpbiSrc = &in;
    ex.lpbiDst = &topDown.header;
    ex.lpDst = bitmap.data();
    ex.dxSrc = ex.dxDst = 96;
    ex.dySrc = ex.dyDst = 64;
  }

  LRESULT frame(const std::vector<uint8_t>& data) {
    in.biSizeImage = static_cast<DWORD>(data.size());
    plain.lpInput = const_cast<uint8_t*>(data.data());
    return send(id, ICM_DECOMPRESS, &plain, sizeof plain);
  }

  LRESULT id = 0;
  // Counts the answers that report the failure; the clean run expects every usual answer.
  int memoryAnswers = 0;
  bool usual = true;
  void expect(LRESULT got, LRESULT usualAnswer, LRESULT memoryAnswer = ICERR_MEMORY) {
    if (got == memoryAnswer) ++memoryAnswers;
    if (got != usualAnswer) usual = false;
  }

  void run() {
    usual = true;
    id = open(record);
    if (id == 0) {
      expect(record.dwError, ICERR_OK);
      return;
    }
    gamma = gamma == 100 ? 120 : 100;  // a change, so the tables are rebuilt
    style = ZOVStyle{};
    style.size = sizeof style;
    style.videoChipset = 1;
    style.gamma = gamma;
    expect(codec().setStyle(&style), ZOV_OK, ZOV_NO_MEMORY);
    expect(send(id, ICM_DECOMPRESS_GET_FORMAT, &in, reinterpret_cast<LPARAM>(&out.header)),
           ICERR_OK);
    expect(send(id, ICM_DECOMPRESS_QUERY, &in, reinterpret_cast<LPARAM>(&out.header)), ICERR_OK);
    expect(send(id, ICM_DECOMPRESS_BEGIN, &in, reinterpret_cast<LPARAM>(&out.header)), ICERR_OK);
    expect(frame(key), ICERR_OK);
    expect(frame(patch), ICERR_OK);
    expect(send(id, ICM_DECOMPRESSEX_BEGIN, &ex, sizeof ex), ICERR_OK);
    in.biSizeImage = static_cast<DWORD>(key.size());
    ex.lpSrc = key.data();
    expect(send(id, ICM_DECOMPRESSEX, &ex, sizeof ex), ICERR_OK);
    expect(send(id, ICM_DECOMPRESS_END), ICERR_OK);
    expect(send(id, ICM_COMPRESS_QUERY), ICERR_UNSUPPORTED);
    expect(send(id, ICM_GETINFO, &info, sizeof info), sizeof info);
    expect(codec().getStyle(&style), ZOV_OK, ZOV_NO_MEMORY);
    expect(send(id, DRV_CLOSE), 1, 0);
  }
};

// A host compressing two frames through a copy of the codec with libzov32 beside it; DRV_FREE
// at the end unloads libzov32, so every run loads it again.
struct CompressingSession {
  static constexpr int kWidth = 80, kHeight = 60;
  const CodecExports& codec;
  BITMAPINFOHEADER in{sizeof in, kWidth, kHeight, 1, 24, BI_RGB, 0, 0, 0, 0, 0};
  BITMAPINFOHEADER format{};
  BITMAPINFOHEADER coded{};
  ICCOMPRESSFRAMES info{};
  ICOPEN record{};
  std::vector<uint8_t> pictures[2];
  std::vector<uint8_t> output = std::vector<uint8_t>(maxFrameBytes(kWidth, kHeight));
  DWORD flags = 0, ckid = 0;
  ICCOMPRESS request{};

  explicit CompressingSession(const CodecExports& c) : codec(c) {
    for (int p = 0; p < 2; ++p) {
      pictures[p].resize(size_t(kWidth) * kHeight * 3);
      for (size_t i = 0; i < pictures[p].size(); ++i)
        pictures[p][i] = static_cast<uint8_t>(i * 7 / 5 + size_t(p) * 40 * ((i / 240) % 3));
    }
    info.lFrameCount = 2;
    info.lQuality = -1;
    info.lKeyRate = 4;
    info.dwRate = 15;
    info.dwScale = 1;
    request.lpbiOutput = &coded;
    request.lpOutput = output.data();
    request.lpbiInput = &in;
    request.lpdwFlags = &flags;
    request.lpckid = &ckid;
  }

  LRESULT send(LRESULT id, UINT msg, const void* a = nullptr, const void* b = nullptr) {
    return codec.driverProc(static_cast<uintptr_t>(id), nullptr, msg, reinterpret_cast<LPARAM>(a),
                            reinterpret_cast<LPARAM>(b));
  }

  int memoryAnswers = 0;
  bool usual = true;
  void expect(LRESULT got, LRESULT usualAnswer) {
    if (got == ICERR_MEMORY) ++memoryAnswers;
    if (got != usualAnswer) usual = false;
  }

  void run() {
    usual = true;
    record = ICOPEN{};
    record.dwSize = sizeof record;
    record.fccType = ICTYPE_VIDEO;
    record.fccHandler = kZov2;
    const LRESULT id = send(0, DRV_OPEN, nullptr, &record);
    if (id == 0) {
      expect(record.dwError, ICERR_OK);
      return;
    }
    expect(send(id, ICM_COMPRESS_QUERY, &in), ICERR_OK);
    expect(send(id, ICM_COMPRESS_FRAMES_INFO, &info, reinterpret_cast<const void*>(sizeof info)),
           ICERR_OK);
    expect(send(id, ICM_COMPRESS_GET_FORMAT, &in, &format), ICERR_OK);
    expect(send(id, ICM_COMPRESS_GET_SIZE, &in, &format), LRESULT(output.size()));
    expect(send(id, ICM_COMPRESS_BEGIN, &in, &format), ICERR_OK);
    for (int f = 0; f < 2; ++f) {
      coded = format;
      request.lpInput = pictures[f].data();
      request.lFrameNum = f;
      expect(send(id, ICM_COMPRESS, &request, reinterpret_cast<const void*>(sizeof request)),
             ICERR_OK);
    }
    expect(send(id, ICM_COMPRESS_END), ICERR_OK);
    expect(send(id, DRV_CLOSE), 1);
    expect(send(0, DRV_FREE), 1);
  }
};

// Runs the session once to settle what is allocated once per process, then again with the
// first, second, ... allocation failing until a run makes no more. Every failure must be
// answered and no exception may reach the host; afterwards everything works as usual.
template <typename S>
int everyAllocationMayFail(S& session, long& runs) {
  session.run();
  CHILD_CHECK(session.usual);
  long n = 1;
  for (;; ++n) {
    session.memoryAnswers = 0;
    failAllocation(n);
    try {
      session.run();
    } catch (...) {
      stopFailingAllocations();
      std::fprintf(stderr, "allocation %ld: an exception left the library\n", n);
      return 1;
    }
    stopFailingAllocations();
    if (!allocationFailed()) break;
    if (session.memoryAnswers == 0) {
      std::fprintf(stderr, "allocation %ld failed unreported\n", n);
      return 2;
    }
  }
  runs = n;
  CHILD_CHECK(session.usual);
  return 0;
}

TEST(OutOfMemory, TheWorkingMemoryAllocatorFailsTheOpenWithOneBoxPerProcess) {
  EXPECT_EQ(runInChild([] {
              CodecUi ui;
              ICOPEN record{};
              for (int attempt = 0; attempt < 2; ++attempt) {
                failAllocation(2);  // the link record succeeds, the state block fails
                const LRESULT id = open(record);
                stopFailingAllocations();
                CHILD_CHECK(id == 0);
                CHILD_CHECK(record.dwError == ICERR_MEMORY);
              }
              auto boxes = ui.boxes.boxes();
              CHILD_CHECK(boxes.size() == 1);
              CHILD_CHECK(boxes[0].title == "Orvane Codec");
              CHILD_CHECK(boxes[0].style == (MB_ICONHAND | MB_SYSTEMMODAL));
              CHILD_CHECK(boxes[0].text ==
                          "Unable to allocate " + std::to_string(sizeof(codec::CodecState)) +
                              " bytes of storage!\rPlease reboot and try this again.");
              OpenCodec works;
              CHILD_CHECK(works);
              return 0;
            }),
            0);
}

TEST(OutOfMemory, EveryAllocationOfAPlayingHostMayFail) {
  EXPECT_EQ(runInChild([] {
              CodecUi ui;
              Session session;
              long n = 0;
              if (int failed = everyAllocationMayFail(session, n)) return failed;
              CHILD_CHECK(n > 10);  // the switch reached the library
              int memoryBoxes = 0;
              for (const auto& text : ui.boxes.texts()) memoryBoxes += isMemoryBox(text);
              CHILD_CHECK(memoryBoxes == 1);
              return 0;
            }),
            0);
}

TEST(OutOfMemory, EveryAllocationOfACompressingHostMayFail) {
  EXPECT_EQ(runInChild([] {
              const CodecExports copy = loadCodec(codecWithCompressionLibrary(makeTempDir()));
              CodecUi ui(copy);
              CompressingSession session(copy);
              long n = 0;
              if (int failed = everyAllocationMayFail(session, n)) return failed;
              CHILD_CHECK(n > 40);  // the switch reached the encoder's buffers
              int memoryBoxes = 0;
              for (const auto& text : ui.boxes.texts()) memoryBoxes += isMemoryBox(text);
              CHILD_CHECK(memoryBoxes <= 1);
              return 0;
            }),
            0);
}

}  // namespace
}  // namespace zov::test

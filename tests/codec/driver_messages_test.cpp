// DriverProc's message table: instance creation and destruction, the information record, the
// state blob, the fixed answers, and the working-memory allocator's failure path.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "codec/support/codec_host.h"

namespace zov::test {
namespace {

constexpr DWORD kZov1 = mmioFOURCC('z', 'o', 'v', '1');
constexpr DWORD kZov2 = mmioFOURCC('z', 'o', 'v', '2');

ICOPEN openRecord(DWORD type, DWORD handler) {
  ICOPEN open{};
  open.dwSize = sizeof open;
  open.fccType = type;
  open.fccHandler = handler;
  open.dwError = 12345;
  return open;
}

LRESULT driverOpen(ICOPEN& open) {
  return codec().driverProc(0, nullptr, DRV_OPEN, 0, reinterpret_cast<LPARAM>(&open));
}
LRESULT driverClose(LRESULT id) {
  return codec().driverProc(static_cast<uintptr_t>(id), nullptr, DRV_CLOSE, 0, 0);
}

TEST(DriverOpen, AcceptsOnlyLowerCaseZovHandlersOfVideoTypes) {
  ICOPEN upper = openRecord(ICTYPE_VIDEO, mmioFOURCC('Z', 'O', 'V', '2'));
  EXPECT_EQ(driverOpen(upper), 0);
  ICOPEN audio = openRecord(mmioFOURCC('a', 'u', 'd', 's'), kZov2);
  EXPECT_EQ(driverOpen(audio), 0);
  EXPECT_EQ(codec().driverProc(0, nullptr, DRV_OPEN, 0, 0), 1) << "open for configuration only";

  for (DWORD type : {ICTYPE_VIDEO, streamtypeVIDEO}) {
    ICOPEN open = openRecord(type, kZov2);
    LRESULT id = driverOpen(open);
    ASSERT_GT(id, 1);
    EXPECT_EQ(open.dwError, ICERR_OK);
    EXPECT_EQ(driverClose(id), 1);
  }
}

TEST(DriverClose, AnswersOneWithoutInstanceAndZeroForUnknownRecords) {
  EXPECT_EQ(driverClose(0), 1);
  EXPECT_EQ(driverClose(1), 1);
  long notARecord[8] = {};
  EXPECT_EQ(driverClose(reinterpret_cast<LRESULT>(&notARecord)), 0);
  // Messages for an instance sent without one are refused rather than followed.
  EXPECT_EQ(codec().driverProc(1, nullptr, ICM_GETINFO, 0, 0), ICERR_BADHANDLE);
}

TEST(GetInfo, NeedsRoomUpToTheDriverNameAndFillsTheRest) {
  OpenCodec zov2;
  ASSERT_TRUE(zov2);
  ICINFO info;
  std::memset(&info, 0xAB, sizeof info);
  EXPECT_EQ(ICGetInfo(zov2.hic(), &info, 311), 0);
  EXPECT_EQ(info.dwSize, 0xABABABABu) << "nothing written into a short buffer";

  EXPECT_EQ(ICGetInfo(zov2.hic(), &info, 312), 312);
  EXPECT_EQ(info.dwSize, 568u);
  EXPECT_EQ(info.fccType, ICTYPE_VIDEO);
  EXPECT_EQ(info.fccHandler, kZov2);
  EXPECT_EQ(info.dwFlags, 0xBDu);
  EXPECT_EQ(info.dwVersion, 0x10000u);
  EXPECT_EQ(info.dwVersionICM, 0x104u);
  EXPECT_EQ(std::u16string(info.szName), u"ZOV2");
  EXPECT_EQ(std::u16string(info.szDescription), u"Orvane ZOV2 Codec");
  EXPECT_EQ(info.szDriver[0], 0xABAB) << "the driver name lies beyond 312 bytes";

  OpenCodec zov1(kZov1);
  ASSERT_TRUE(zov1);
  EXPECT_EQ(ICGetInfo(zov1.hic(), &info, sizeof info), static_cast<LRESULT>(sizeof info));
  EXPECT_EQ(info.dwFlags, 0x90u);
  EXPECT_EQ(std::u16string(info.szDescription), u"Orvane ZOV1 Codec");
  EXPECT_EQ(info.szDriver[0], 0);

  // A buffer larger than the record is cleared to its end.
  std::vector<uint8_t> large(sizeof info + 64, 0xAB);
  EXPECT_EQ(ICGetInfo(zov1.hic(), reinterpret_cast<ICINFO*>(large.data()),
                      static_cast<DWORD>(large.size())),
            static_cast<LRESULT>(large.size()));
  for (size_t i = sizeof info; i < large.size(); ++i) ASSERT_EQ(large[i], 0) << i;
}

TEST(StateBlob, ExistsForZov2Only) {
  OpenCodec zov1(kZov1), zov2;
  ASSERT_TRUE(zov1 && zov2);
  uint8_t buffer[8] = {};
  EXPECT_EQ(zov1.send(ICM_GETSTATE, reinterpret_cast<DWORD_PTR>(buffer), 4), ICERR_UNSUPPORTED);
  EXPECT_EQ(zov1.send(ICM_SETSTATE, 0, 0), ICERR_UNSUPPORTED);

  EXPECT_EQ(zov2.send(ICM_GETSTATE, 0, 0), 4);
  EXPECT_EQ(zov2.send(ICM_GETSTATE, reinterpret_cast<DWORD_PTR>(buffer), 8), 0);
  EXPECT_EQ(buffer[0], 0);
  EXPECT_EQ(zov2.send(ICM_GETSTATE, reinterpret_cast<DWORD_PTR>(buffer), 4), 4);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer), 4), "2VOZ");

  EXPECT_EQ(zov2.send(ICM_SETSTATE, 0, 0), 4);
  EXPECT_EQ(zov2.send(ICM_SETSTATE, reinterpret_cast<DWORD_PTR>(buffer), 4), 4);
  buffer[0] = '1';
  EXPECT_EQ(zov2.send(ICM_SETSTATE, reinterpret_cast<DWORD_PTR>(buffer), 4), 0);
  EXPECT_EQ(zov2.send(ICM_SETSTATE, reinterpret_cast<DWORD_PTR>(buffer), 8), 0);
}

TEST(MessageTable, FixedAnswers) {
  OpenCodec zov1(kZov1), zov2;
  ASSERT_TRUE(zov1 && zov2);
  for (UINT msg : {ICM_DRAW_STOP, ICM_DRAW_GET_PALETTE, ICM_DRAW_RENDERBUFFER})
    EXPECT_EQ(zov2.send(msg), 0) << msg;
  for (UINT msg : {ICM_DECOMPRESS_SET_PALETTE, ICM_DRAW_GETTIME, ICM_DRAW_WINDOW, ICM_DRAW_SETTIME,
                   ICM_DRAW_FLUSH, ICM_DRAW_START_PLAY, ICM_DRAW_STOP_PLAY, ICM_DRAW_SUGGESTFORMAT,
                   ICM_DRAW_CHANGEPALETTE, ICM_SET_STATUS_PROC, ICM_SET, ICM_GET,
                   ICM_GETDEFAULTQUALITY, ICM_GETQUALITY, ICM_SETQUALITY})
    EXPECT_EQ(zov2.send(msg), ICERR_UNSUPPORTED) << msg;
  for (UINT msg : {DRV_QUERYCONFIGURE, DRV_INSTALL, DRV_REMOVE})
    EXPECT_EQ(zov2.send(msg), 1) << msg;
  // Passed to DefDriverProc, which knows nothing of them.
  EXPECT_EQ(zov2.send(ICM_DRAW_UPDATE), 0);
  EXPECT_EQ(zov2.send(ICM_COMPRESS_FRAMES), 0);

  DWORD value = 99;
  EXPECT_EQ(zov2.send(ICM_GETBUFFERSWANTED, reinterpret_cast<DWORD_PTR>(&value)), ICERR_OK);
  EXPECT_EQ(value, 0u);
  EXPECT_EQ(zov2.send(ICM_GETDEFAULTKEYFRAMERATE, reinterpret_cast<DWORD_PTR>(&value)), ICERR_OK);
  EXPECT_EQ(value, 4u);
  EXPECT_EQ(zov1.send(ICM_GETBUFFERSWANTED, reinterpret_cast<DWORD_PTR>(&value)),
            ICERR_UNSUPPORTED);
  EXPECT_EQ(zov1.send(ICM_GETDEFAULTKEYFRAMERATE, reinterpret_cast<DWORD_PTR>(&value)),
            ICERR_UNSUPPORTED);
}

TEST(MessageTable, AboutBoxAndConfigureQueries) {
  CodecUi ui;
  int shown = 0;
  ui.dialogs.on(codec::kAboutDialog, [&](WindowHandle, DialogData& data) {
    auto& about = dynamic_cast<codec::AboutDialogData&>(data);
    EXPECT_EQ(about.versionLine, "Version 4.11");
    EXPECT_EQ(about.buttonText, "Wow!");
    ++shown;
    return intptr_t{IDOK};
  });
  OpenCodec zov2;
  ASSERT_TRUE(zov2);
  EXPECT_EQ(zov2.send(ICM_ABOUT, static_cast<DWORD_PTR>(-1)), ICERR_OK);
  EXPECT_EQ(zov2.send(DRV_CONFIGURE, static_cast<DWORD_PTR>(-1)), 1);
  EXPECT_EQ(shown, 0) << "the -1 forms only ask";
  EXPECT_EQ(zov2.send(ICM_ABOUT, 0), ICERR_OK);
  EXPECT_EQ(zov2.send(DRV_CONFIGURE, 0), 1);
  EXPECT_EQ(shown, 2);
  EXPECT_EQ(codec().about(nullptr), 1);
  ui.dialogs.on(codec::kAboutDialog, [](WindowHandle, DialogData&) { return intptr_t{IDCANCEL}; });
  EXPECT_EQ(codec().about(nullptr), 0);
  EXPECT_TRUE(ui.boxes.boxes().empty());
}

TEST(Instances, ASecondInstanceStartsWithTheFirstOnesMethodsButTheDefaultResolution) {
  OpenCodec* first = new OpenCodec;
  ASSERT_TRUE(*first);
  ZOVStyle style{};
  style.size = sizeof style;
  style.windowedMethod = 3;
  style.fullscreenMethod = 5;
  style.minFullscreenResolution = 4;
  style.gamma = 100;
  ASSERT_EQ(codec().setStyle(&style), 0u);
  ASSERT_EQ(codec().preConfigure(), 0u);
  OpenCodec second;
  ASSERT_TRUE(second);
  delete first;  // the second is now the first of the process

  ZOVStyle read{};
  read.size = sizeof read;
  ASSERT_EQ(codec().getStyle(&read), 0u);
  EXPECT_EQ(+read.windowedMethod, 3u);
  EXPECT_EQ(+read.fullscreenMethod, 5u);
  EXPECT_EQ(+read.minFullscreenResolution, 2u);
  // Suspended was copied too: an 8-bit destination is refused while suspended.
  BITMAPINFOHEADER in = streamFormat(160, 120);
  OutputFormat out = rgbOutput(160, 120, 8);
  EXPECT_EQ(ICDecompressQuery(second.hic(), &in, &out.header), ICERR_BADFORMAT);
  codec().postConfigure();
  style.windowedMethod = 0;
  style.fullscreenMethod = 0;
  codec().setStyle(&style);
}

TEST(Instances, OpensAndClosesFromSeveralThreadsAtOnce) {
  // Each thread keeps a batch open, so the list is long and every open walks it.
  constexpr int kThreads = 4, kRounds = 300, kBatch = 16;
  std::atomic<int> failures{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t)
    threads.emplace_back([&] {
      ZOVStyle style{};
      style.size = sizeof style;
      LRESULT ids[kBatch];
      for (int i = 0; i < kRounds; ++i) {
        for (LRESULT& id : ids) {
          ICOPEN open = openRecord(ICTYPE_VIDEO, kZov2);
          id = driverOpen(open);
          if (id <= 1) ++failures;
        }
        codec().getStyle(&style);  // walks the list while others change it
        for (LRESULT id : ids)
          if (id > 1 && driverClose(id) != 1) ++failures;
      }
    });
  for (auto& t : threads) t.join();
  EXPECT_EQ(failures, 0);
  EXPECT_EQ(codec().getStyle(nullptr), static_cast<uint32_t>(ZOV_TOO_SMALL));
  ZOVStyle style{};
  style.size = sizeof style;
  EXPECT_EQ(codec().getStyle(&style), static_cast<uint32_t>(ZOV_NO_INSTANCE)) << "none left over";
}

}  // namespace
}  // namespace zov::test

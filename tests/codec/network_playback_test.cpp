// A movie played from a movie server through the codec library, as a host plays it: the
// library's own network source fetches the chunks, the codec is handed the placeholder file's
// 4-byte chunk numbers, and the pictures must equal those of the same chunks decoded directly.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <thread>

#include "codec/support/codec_host.h"
#include "encoder/avi_writer.h"
#include "network/zev_source.h"
#include "tools/zevserve/server.h"

namespace fs = std::filesystem;
using namespace zov;
using namespace zov::test;

namespace {

constexpr int kWidth = 64, kHeight = 48;
constexpr uint32_t kFrames = 24;

std::vector<uint8_t> pattern(size_t n, uint32_t seed) {
  std::vector<uint8_t> v(n);
  for (size_t i = 0; i < n; ++i) v[i] = uint8_t((seed * 131 + i * 7) ^ (i >> 5));
  return v;
}

// Every fourth frame is a key frame of one colour; the others repaint a moving patch.
std::vector<uint8_t> movieFrame(uint32_t f) {
  if (f % 4 == 0) return solidKeyFrame(kWidth, kHeight, uint16_t(0x0421 * (f + 1)));
  return patchFrame(kWidth, kHeight, int(f % 7) * 8, int(f % 5) * 8, 8, 8,
                    uint16_t(0x7C00 - f * 3));
}

// Decodes `frames` (each either real chunks or chunk numbers) through a new codec instance.
// A picture still holding the fill after decoding a key frame means the chunk was not there yet:
// it is tried again for a while, as a player would on its next tick.
std::vector<std::vector<uint16_t>> decodeAll(const std::vector<std::vector<uint8_t>>& frames) {
  std::vector<std::vector<uint16_t>> pictures;
  OpenCodec c;
  EXPECT_TRUE(c);
  if (!c) return pictures;
  BITMAPINFOHEADER in = streamFormat(kWidth, kHeight);
  OutputFormat out = rgbOutput(kWidth, kHeight);
  EXPECT_EQ(ICDecompressBegin(c.hic(), &in, &out.header), ICERR_OK);
  std::vector<uint16_t> bitmap(size_t(kWidth) * kHeight, 0xCDCD);
  for (uint32_t f = 0; f < frames.size(); ++f) {
    const bool key = f % 4 == 0;
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    for (;;) {
      if (key) std::fill(bitmap.begin(), bitmap.end(), uint16_t(0xCDCD));
      in.biSizeImage = DWORD(frames[f].size());
      const DWORD flags = key ? 0 : ICDECOMPRESS_NOTKEYFRAME;
      EXPECT_EQ(ICDecompress(c.hic(), flags, &in, const_cast<uint8_t*>(frames[f].data()),
                             &out.header, bitmap.data()),
                DWORD(ICERR_OK));
      if (!key || bitmap[0] != 0xCDCD || std::chrono::steady_clock::now() > until) break;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    pictures.push_back(bitmap);
  }
  ICDecompressEnd(c.hic());
  return pictures;
}

TEST(NetworkPlayback, AServedStreamFileDecodesLikeTheSameChunksAndHandsBackItsAudio) {
  const CodecExports& lib = zov::test::codec();
  auto accessZEV = reinterpret_cast<decltype(&ZOVAccessZEV)>(dlsym(lib.module, "ZOVAccessZEV"));
  auto obtainAudio =
      reinterpret_cast<decltype(&ZOVObtainAudio)>(dlsym(lib.module, "ZOVObtainAudio"));
  auto freeZEV = reinterpret_cast<decltype(&ZOVFreeZEV)>(dlsym(lib.module, "ZOVFreeZEV"));
  ASSERT_TRUE(accessZEV && obtainAudio && freeZEV);

  const fs::path root = makeTempDir();
  ASSERT_FALSE(root.empty());
  fs::create_directories(root / "movies");
  fs::create_directories(root / "tmp");

  // The movie: real ZOV2 frames and 16-bit stereo audio, written as a stream file.
  std::vector<std::vector<uint8_t>> video, audio;
  for (uint32_t f = 0; f < kFrames; ++f) {
    video.push_back(movieFrame(f));
    audio.push_back(pattern(2940 + (f & 1) * 4, 500 + f));
  }
  AviWriterSettings s;
  s.mode = RunMode::ZevStream;
  s.path = (root / "movies" / "served.zev").string();
  s.microSecPerFrame = 66666;
  s.fileScale = 66666;
  s.fileRate = 1000000;
  s.width = kWidth;
  s.height = kHeight;
  const BITMAPINFOHEADER format = streamFormat(kWidth, kHeight);
  static_assert(sizeof format == 40);
  std::memcpy(s.sourceVideoFormat.data(), &format, 40);
  s.withAudio = true;
  s.audioFormat = {1, 0, 2, 0, 0x44, 0xAC, 0, 0, 0x10, 0xB1, 2, 0, 4, 0, 16, 0};
  s.audioStreamInfo.type = fourcc::kAuds;
  s.audioStreamInfo.scale = 4;
  s.audioStreamInfo.rate = 44100 * 4;
  s.audioStreamInfo.sampleSize = 4;
  std::vector<std::string> errors;
  WriterCallbacks callbacks;
  callbacks.error = [&](const std::string& e) { errors.push_back(e); };
  callbacks.status = [](const std::string&) {};
  callbacks.message = [](const std::string&) {};
  {
    AviWriter w;
    ASSERT_TRUE(w.open(s, callbacks)) << (errors.empty() ? "" : errors[0]);
    for (uint32_t f = 0; f < kFrames; ++f)
      ASSERT_EQ(w.writeFrameRecord(video[f].data(), uint32_t(video[f].size()), audio[f].data(),
                                   uint32_t(audio[f].size()), f % 4 == 0, f + 1),
                kRecordWritten);
    ASSERT_TRUE(w.finish()) << (errors.empty() ? "" : errors[0]);
  }

  // The pictures of the chunks themselves, before any network source is open (while one is
  // open the codec takes every chunk for a chunk number).
  const auto expected = decodeAll(video);
  ASSERT_EQ(expected.size(), size_t(kFrames));
  // The reference is a real movie: every picture decoded, and each differs from the one before.
  for (uint32_t f = 0; f < kFrames; ++f) {
    ASSERT_NE(expected[f][0], 0xCDCD) << "frame " << f;
    if (f > 0) {
      ASSERT_NE(expected[f], expected[f - 1]) << "frame " << f;
    }
  }

  zevserve::ServerOptions serverOptions;
  serverOptions.directory = (root / "movies").string();
  serverOptions.port = 0;
  serverOptions.log = [](const std::string&) {};
  zevserve::Server server;
  ASSERT_TRUE(server.open(serverOptions)) << server.error();
  std::thread serving([&] { server.run(); });
  struct Stop {
    zevserve::Server& server;
    std::thread& thread;
    ~Stop() {
      server.stop();
      thread.join();
    }
  } stop{server, serving};

  setenv("ZOV_ZEV_PORT", std::to_string(server.port()).c_str(), 1);
  setenv("TMPDIR", (root / "tmp").c_str(), 1);
  CodecUi ui;
  std::vector<std::string> moviesSeen;
  // The dialog records are the library's own; the dialog names say which record comes.
  ui.dialogs.on(network::kSiteDialog, [](WindowHandle, DialogData& d) -> intptr_t {
    static_cast<network::SiteDialogData&>(d).text = "127.0.0.1";
    return IDOK;
  });
  ui.dialogs.on(network::kMovieDialog, [&](WindowHandle, DialogData& d) -> intptr_t {
    auto& m = static_cast<network::MovieDialogData&>(d);
    moviesSeen = m.movies;
    m.selected = 0;
    return IDOK;
  });

  OpenCodec instance;  // the exports act on the codec instances of the process
  ASSERT_TRUE(instance);
  const char* placeholder = accessZEV(nullptr);
  ASSERT_NE(placeholder, nullptr) << (ui.boxes.texts().empty() ? "" : ui.boxes.texts()[0]);
  const fs::path local = placeholder;
  EXPECT_TRUE(fs::exists(local));
  EXPECT_EQ(local.parent_path(), root / "tmp");
  EXPECT_EQ(moviesSeen, std::vector<std::string>{"served.zev"});

  // Audio first: once the last chunk is in, the small movie lies wholly in the cache, so the
  // delta frames are not asked for before they arrived.
  for (uint32_t f = 0; f < kFrames; ++f) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    uint32_t size = 0;
    const void* p = nullptr;
    while (!(p = obtainAudio(f, &size)) && std::chrono::steady_clock::now() < until)
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    ASSERT_NE(p, nullptr) << "audio " << f;
    const auto* bytes = static_cast<const uint8_t*>(p);
    EXPECT_EQ(std::vector<uint8_t>(bytes, bytes + size), audio[f]) << "audio " << f;
  }

  // The placeholder's video chunks are the 4-byte chunk numbers the codec resolves.
  std::vector<std::vector<uint8_t>> numbers;
  for (uint32_t f = 0; f < kFrames; ++f) {
    std::vector<uint8_t> n(4);
    std::memcpy(n.data(), &f, 4);
    numbers.push_back(n);
  }
  const auto played = decodeAll(numbers);
  ASSERT_EQ(played.size(), size_t(kFrames));
  for (uint32_t f = 0; f < kFrames; ++f) EXPECT_EQ(played[f], expected[f]) << "frame " << f;
  EXPECT_TRUE(ui.boxes.texts().empty()) << ui.boxes.texts()[0];

  freeZEV();
  EXPECT_FALSE(fs::exists(local));
  unsetenv("ZOV_ZEV_PORT");
  unsetenv("TMPDIR");
  std::error_code ec;
  fs::remove_all(root, ec);
}

}  // namespace

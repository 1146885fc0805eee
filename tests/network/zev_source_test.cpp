// The network movie source against zevserve and against scripted servers, through a scripted
// dialog host and a recording message-box sink.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <thread>

#include "network/zev_layout.h"
#include "network/zev_source.h"
#include "platform/profile.h"
#include "platform/ui.h"
#include "source_fixture.h"
#include "zev_fixture.h"

namespace fs = std::filesystem;
using namespace zov;
using namespace zov::test;
using network::accessZEV;
using network::currentSource;
using network::freeZEV;

namespace {

TEST(ZevLayout, RemoteIndexOrderWithAudio) {
  network::ZevHeader h;
  h.hasAudio = true;
  h.initialFrames = 3;
  h.totalFrames = 100;
  EXPECT_EQ(network::videoEntry(h, 0), 3);
  EXPECT_EQ(network::audioEntry(h, 5), 8);
  EXPECT_EQ(network::audioEntry(h, 2), 2);
  EXPECT_EQ(network::videoEntry(h, 96), 3 + 2 * 96);
  EXPECT_EQ(network::videoEntry(h, 97), 197);
  EXPECT_EQ(network::videoEntry(h, 98), 198);
  EXPECT_EQ(network::videoEntry(h, 100), -1);
  EXPECT_EQ(network::audioEntry(h, 100), -1);
}

TEST(ZevLayout, HeaderFailuresNameTheMissingItem) {
  auto parse = [](std::vector<uint8_t> b) {
    network::ZevHeader h;
    std::string failure;
    b.resize(2048);
    return network::parseZevHeader(b.data(), b.size(), h, failure) ? std::string("ok") : failure;
  };
  const auto good = makeZevMovie(10, true, 2, smallFrames).bytes;
  EXPECT_EQ(parse(good), "ok");
  auto b = good;
  std::memcpy(&b[24], "avix", 4);
  EXPECT_EQ(parse(b), "avih section not located in ZEV file");
  EXPECT_EQ(parse(makeZevMovie(10, false, 0, smallFrames, "zov1").bytes),
            "video stream in ZEV file is not Orvane");
  EXPECT_EQ(parse(makeZevMovie(10, false, 0, smallFrames, "ZOV2").bytes), "ok");
  // The audio list starts right after the video list (88 + 8 + 116).
  const size_t a = 88 + 8 + 116;
  b = good;
  std::memcpy(&b[a + 8], "strx", 4);
  EXPECT_EQ(parse(b), "audio stream header not located in ZEV file");
  b = good;
  std::memcpy(&b[a + 20], "vids", 4);
  EXPECT_EQ(parse(b), "audio stream header incorrect");
  b = good;
  std::memcpy(&b[a + 20 + 56], "strn", 4);
  EXPECT_EQ(parse(b), "audio stream format not located in ZEV file");
  b = good;
  b[a + 20 + 56 + 8] = 1;
  b[a + 20 + 56 + 9] = 0;
  EXPECT_EQ(parse(b), "audio stream in ZEV file is not Orvane");
  b = good;
  std::memcpy(&b[a + 20 + 56 + 8 + 18], "JUNQ", 4);
  EXPECT_EQ(parse(b), "unable to locate JUNK header");
  // Counts from the server are checked before anything is sized from them.
  b = good;
  network::putLe32(&b[48], 0xFFFFFFFFu);
  EXPECT_EQ(parse(b), "frame counts in ZEV file are not valid");
  b = good;
  network::putLe32(&b[52], 11);  // more initial frames than frames
  EXPECT_EQ(parse(b), "frame counts in ZEV file are not valid");
  b = good;
  network::putLe32(&b[2040], 0xFFFFFF00u);  // a movie list reaching past 4 GB
  EXPECT_EQ(parse(b), "frame counts in ZEV file are not valid");
}

TEST_F(Source, PlaysAMovieLargerThanTheCache) {
  ZevMovie movie = makeZevMovie(120, false, 0, bigFrames);
  writeFile(root / "movies" / "movie.zev", movie.bytes);
  writeFile(root / "movies" / "other.zev", makeZevMovie(3, false, 0, smallFrames).bytes);
  ProfileFile profile("zovcodec.ini");
  profile.writeString("ZOV1", "SiteRecall1", "a.example");
  profile.writeString("ZOV1", "SiteRecall2", "127.0.0.1");
  profile.writeString("ZOV1", "SiteRecall4", "b.example");
  RunningServer server((root / "movies").string());
  usePort(server.port());

  const char* path = accessZEV(nullptr);
  ASSERT_NE(path, nullptr) << (boxes.texts().empty() ? "" : boxes.texts()[0]);
  EXPECT_TRUE(boxes.texts().empty());
  EXPECT_EQ(recallSeen, (std::vector<std::string>{"a.example", "127.0.0.1", "b.example"}));
  EXPECT_EQ(initialSite, "a.example");
  EXPECT_EQ(moviesSeen, (std::vector<std::string>{"movie.zev", "other.zev"}));
  // The typed site moves to the front; the others keep their order, without a duplicate.
  EXPECT_EQ(profile.getString("ZOV1", "SiteRecall1", "", 260), "127.0.0.1");
  EXPECT_EQ(profile.getString("ZOV1", "SiteRecall2", "", 260), "a.example");
  EXPECT_EQ(profile.getString("ZOV1", "SiteRecall3", "", 260), "b.example");

  network::ZEVClass* source = currentSource();
  ASSERT_NE(source, nullptr);
  EXPECT_EQ(source->status(), 0);
  EXPECT_EQ(source->filledSlots(), 32);
  EXPECT_FALSE(source->loadingDialog().open);
  EXPECT_TRUE(source->cacheDialog().open);
  // The memory index is the file's index table.
  ASSERT_EQ(source->index().size(), 120u * 8);
  EXPECT_TRUE(std::equal(source->index().begin(), source->index().end(),
                         movie.bytes.begin() + movie.indexOffset));

  // The placeholder: the header with its movie list resized, 12-byte stubs, then idx1.
  ASSERT_EQ(fs::path(path).parent_path(), root / "tmp");
  auto local = readFile(path);
  ASSERT_EQ(local.size(), 2048u + 12 * 120 + 8 + 16 * 120);
  EXPECT_EQ(le(local, 4), local.size() - 8);
  EXPECT_EQ(le(local, 2040), 12u * 120 + 4);
  EXPECT_EQ(le(local, 32 + 28), 12u);      // suggested buffer size
  EXPECT_EQ(le(local, 32 + 4), 15u * 12);  // maximum bytes per second
  EXPECT_EQ(le(local, 108 + 36), 4u);      // video suggested buffer size
  for (uint32_t v = 0; v < 120; ++v) {
    size_t at = 2048 + 12 * v;
    EXPECT_EQ(std::string(reinterpret_cast<char*>(&local[at]), 4), v % 10 == 0 ? "00db" : "00dc");
    EXPECT_EQ(le(local, at + 4), 4u);
    EXPECT_EQ(le(local, at + 8), v);
    size_t ix = 2048 + 12 * 120 + 8 + 16 * v;
    EXPECT_EQ(le(local, ix + 4), v % 10 == 0 ? 0x10u : 0u);
    EXPECT_EQ(le(local, ix + 8), 4 + 12 * v);
  }
  EXPECT_EQ(std::string(reinterpret_cast<char*>(&local[2048 + 12 * 120]), 4), "idx1");

  // Playing through: every frame comes from the cache equal to the file's chunk, including
  // the ones fetched after eviction.
  // A jump ahead past the cached window is fetched next, then play goes on from the start.
  size_t size = 0;
  EXPECT_EQ(network::frameData(110, &size), nullptr);
  EXPECT_EQ(size, movie.chunks[110].size());
  EXPECT_EQ(frame(110), movie.chunks[110]);
  for (uint32_t v = 0; v < 120; ++v) ASSERT_EQ(frame(v), movie.chunks[v]) << "frame " << v;
  // A jump back to the start is fetched again.
  EXPECT_EQ(frame(3), movie.chunks[3]);
  EXPECT_GT(source->cachePercent(), 0);

  // A second source is refused and leaves the first working.
  EXPECT_EQ(accessZEV(nullptr), nullptr);
  ASSERT_EQ(boxes.texts(), std::vector<std::string>{"Unable to open a second ZEV"});
  EXPECT_EQ(boxes.boxes()[0].title, "Orvane Codec");
  EXPECT_EQ(frame(4), movie.chunks[4]);

  std::string kept = path;
  freeZEV();
  EXPECT_FALSE(fs::exists(kept));
  EXPECT_EQ(network::frameData(0, nullptr), nullptr);
}

// A player asks for a frame's audio before its video. After a jump past the cache, the audio's
// fetch brings the video beside it, and reading ahead never evicts that pair: the video is there
// as soon as the audio is, frame after frame.
TEST_F(Source, AudioAskedBeforeItsVideoBringsTheVideoAlong) {
  const ZevMovie movie = makeZevMovie(150, true, 0, bigFrames);
  writeFile(root / "movies" / "movie.zev", movie.bytes);
  RunningServer server((root / "movies").string());
  usePort(server.port());
  ASSERT_NE(accessZEV(nullptr), nullptr) << (boxes.texts().empty() ? "" : boxes.texts()[0]);
  const network::ZevHeader& h = currentSource()->header();
  for (uint32_t f = 100; f < 150; ++f) {
    const uint8_t* audio = nullptr;
    uint32_t audioSize = 0;
    for (int i = 0;
         i < 500 && !(audio = static_cast<const uint8_t*>(network::obtainAudio(f, &audioSize)));
         ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    ASSERT_NE(audio, nullptr) << f;
    size_t size = 0;
    const uint8_t* video = network::frameData(f, &size);
    ASSERT_NE(video, nullptr) << "video " << f << " missing beside its audio";
    EXPECT_EQ(std::vector<uint8_t>(video, video + size),
              movie.chunks[size_t(network::videoEntry(h, f))]);
  }
  EXPECT_TRUE(boxes.texts().empty());
}

TEST_F(Source, AudioChunksAndTheInterleavedPlaceholder) {
  ZevMovie movie = makeZevMovie(20, true, 3, smallFrames);
  writeFile(root / "movies" / "movie.zev", movie.bytes);
  RunningServer server((root / "movies").string());
  usePort(server.port());
  const char* path = accessZEV(nullptr);
  ASSERT_NE(path, nullptr) << (boxes.texts().empty() ? "" : boxes.texts()[0]);
  auto local = readFile(path);
  const size_t t = 20, i = 3;
  const size_t moviData = 388 * i + 400 * (t - i) + 12 * i;
  const size_t moviStart = 2036 - 12;  // with audio the movie list header ends at 2036
  (void)moviStart;
  network::ZevHeader h;
  std::string failure;
  ASSERT_TRUE(network::parseZevHeader(local.data(), 2048, h, failure)) << failure;
  EXPECT_EQ(le(local, h.movi + 4), moviData + 4);
  EXPECT_EQ(local.size(), h.movi + 12 + moviData + 8 + 16 * (2 * i + 3 * (t - i) + i));
  // The audio header announces 368-byte blocks at 5,512 bytes a second.
  EXPECT_EQ(le(local, h.audioStrh + 20), 368u);
  EXPECT_EQ(le(local, h.audioStrh + 24), 5512u);
  EXPECT_EQ(le(local, h.audioStrh + 32), 20u);
  // First record: one audio stub holding chunk number 0.
  size_t at = h.movi + 12;
  EXPECT_EQ(std::string(reinterpret_cast<char*>(&local[at + 8]), 4), "rec ");
  EXPECT_EQ(le(local, at + 4), 380u);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(&local[at + 12]), 4), "01wb");
  EXPECT_EQ(le(local, at + 20), 0u);
  // The fourth record pairs video 0 with audio 3.
  at += 3 * 388;
  EXPECT_EQ(le(local, at + 4), 392u);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(&local[at + 12]), 4), "00db");
  EXPECT_EQ(le(local, at + 20), 0u);
  EXPECT_EQ(le(local, at + 24 + 8), 3u);

  for (uint32_t a = 0; a < 20; ++a) {
    uint32_t size = 0;
    const void* p = network::obtainAudio(a, &size);
    ASSERT_NE(p, nullptr) << a;
    auto& want = movie.chunks[size_t(network::audioEntry(h, a))];
    ASSERT_EQ(size, want.size());
    EXPECT_EQ(std::memcmp(p, want.data(), size), 0) << a;
  }
  for (uint32_t v = 0; v < 20; ++v)
    EXPECT_EQ(frame(v), movie.chunks[size_t(network::videoEntry(h, v))]) << v;
  uint32_t size = 77;
  EXPECT_EQ(network::obtainAudio(20, &size), nullptr);
  EXPECT_EQ(size, 0u);
}

TEST_F(Source, BadHeaderIsReportedAndLeavesNoFile) {
  writeFile(root / "movies" / "movie.zev", makeZevMovie(5, false, 0, smallFrames, "zov1").bytes);
  RunningServer server((root / "movies").string());
  usePort(server.port());
  EXPECT_EQ(accessZEV(nullptr), nullptr);
  auto texts = boxes.texts();
  ASSERT_EQ(texts.size(), 1u);
  EXPECT_TRUE(texts[0].starts_with("ZEVClass ")) << texts[0];
  EXPECT_TRUE(
      texts[0].ends_with(": ProcessAVIHeader failed, video stream in ZEV file is not Orvane"))
      << texts[0];
  EXPECT_EQ(boxes.boxes()[0].title, "Orvane Network");
  EXPECT_EQ(boxes.boxes()[0].style, uint32_t(MB_ICONHAND | MB_SYSTEMMODAL));
  EXPECT_EQ(tempFiles(), 0u);
  EXPECT_FALSE(network::sourceOpen());
}

TEST_F(Source, SilentServerGivesTheTimeOutBoxNotAHang) {
  ScriptServer silent([](int fd) {
    // Accepts, then says nothing until the client gives up.
    char b;
    recv(fd, &b, 1, 0);
  });
  usePort(silent.port(), 700);
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(accessZEV(nullptr), nullptr);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
  EXPECT_EQ(boxes.texts(), std::vector<std::string>{"recv Error: WSAETIMEDOUT      "});
}

TEST_F(Source, ServerThatStopsMidMovieEndsTheWorker) {
  ZevMovie movie = makeZevMovie(120, false, 0, bigFrames);
  // Serves the list, the header and the index, then closes during the first chunk request.
  ScriptServer server([&movie](int fd) {
    uint8_t count[4] = {1, 0, 0, 0};
    char name[256] = "movie.zev";
    sendAll(fd, count, 4);
    sendAll(fd, name, 256);
    recvAll(fd, name, 256);
    for (int r = 0; r < 2; ++r) {
      uint8_t req[8];
      if (!recvAll(fd, req, 8)) return;
      uint32_t o = network::le32(req), l = network::le32(req + 4);
      sendAll(fd, movie.bytes.data() + o, l);
    }
  });
  usePort(server.port());
  EXPECT_EQ(accessZEV(nullptr), nullptr);
  EXPECT_EQ(boxes.texts(),
            std::vector<std::string>{"Zero bytes received, server reset connection"});
  EXPECT_EQ(tempFiles(), 0u);
}

TEST_F(Source, EmptyAndOversizedMovieLists) {
  {
    ScriptServer none([](int fd) {
      uint8_t count[4] = {0, 0, 0, 0};
      sendAll(fd, count, 4);
    });
    usePort(none.port());
    EXPECT_EQ(accessZEV(nullptr), nullptr);
    ASSERT_EQ(boxes.texts(), std::vector<std::string>{"No movies are currently available"});
    EXPECT_EQ(boxes.boxes()[0].style & MB_ICONMASK, uint32_t(MB_ICONINFORMATION));
  }
  boxes.clear();
  {
    ScriptServer huge([](int fd) {
      uint8_t count[4] = {0xFF, 0xFF, 0xFF, 0x7F};
      sendAll(fd, count, 4);
    });
    usePort(huge.port());
    EXPECT_EQ(accessZEV(nullptr), nullptr);
    ASSERT_EQ(boxes.texts().size(), 1u);
    EXPECT_TRUE(
        boxes.texts()[0].ends_with("movie list from server is not valid (2147483647 names)"));
  }
}

TEST_F(Source, RefusedConnectionAndCancelledDialogs) {
  // A port nobody listens on.
  int probe = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  bind(probe, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
  socklen_t len = sizeof addr;
  getsockname(probe, reinterpret_cast<sockaddr*>(&addr), &len);
  usePort(ntohs(addr.sin_port));
  close(probe);
  EXPECT_EQ(accessZEV(nullptr), nullptr);
  EXPECT_EQ(boxes.texts(), std::vector<std::string>{"connect Error: WSAECONNREFUSED   "});
  boxes.clear();
  // Cancelling the site dialog ends quietly.
  ScriptedDialogHost cancelling;
  ScopedDialogHost installed(&cancelling);
  EXPECT_EQ(accessZEV(nullptr), nullptr);
  EXPECT_TRUE(boxes.texts().empty());
  EXPECT_EQ(cancelling.requested(), std::vector<std::string>{network::kSiteDialog});
}

TEST(WinsockNames, PaddedNamesAndUnknownCodes) {
  EXPECT_EQ(network::winsockErrorText("connect", ECONNREFUSED),
            "connect Error: WSAECONNREFUSED   ");
  EXPECT_EQ(network::winsockErrorText("recv", ECONNABORTED), "recv Error: WSAECONNABORTED   ");
  EXPECT_EQ(network::winsockErrorText("gethostbyname", network::kHostNotFound),
            "gethostbyname Error: WSAHOST_NOT_FOUND ");
  EXPECT_EQ(network::winsockErrorText("send", 0), "send Error: WSAGetLastError returned 0");
}

}  // namespace

// The network source on the networks viewers really have: a 100 ms round trip, answers with
// bytes too many or too few, a server restarted under a playing movie, and sites written with a
// port or as IPv6 addresses.
#include <gtest/gtest.h>

#include <chrono>
#include <optional>
#include <thread>

#include "delay_proxy.h"
#include "network/site_address.h"
#include "network/zev_source.h"
#include "source_fixture.h"
#include "zev_fixture.h"

using namespace zov;
using namespace zov::test;
using network::accessZEV;
using network::currentSource;
using Clock = std::chrono::steady_clock;

namespace {

// About 73 KB a frame: 2.2 MB a second at 30 frames a second; 100 frames are 7.3 MB, more than
// the cache.
uint32_t fastFrames(uint32_t n) {
  return 70001 + (n * 7919) % 6000;
}

struct RealNetwork : Source {
  // Plays `count` frames at 30 a second from frame 0, wrapping at the end of the movie, as a
  // player does: a frame not there when it is due is dropped. Returns the drops; every frame
  // handed out must be the file's chunk.
  int play(const ZevMovie& movie, uint32_t count) {
    int drops = 0;
    const auto start = Clock::now();
    for (uint32_t i = 0; i < count; ++i) {
      std::this_thread::sleep_until(start + std::chrono::microseconds(33333) * i);
      const uint32_t v = i % movie.frames;
      size_t size = 0;
      const uint8_t* p = network::frameData(v, &size);
      if (!p) {
        ++drops;
        continue;
      }
      EXPECT_EQ(std::vector<uint8_t>(p, p + size), movie.chunks[v]) << "frame " << v;
    }
    return drops;
  }
  void expectWholeMovie(const ZevMovie& movie, int waitMs = 5000) {
    for (uint32_t v = 0; v < movie.frames; ++v) ASSERT_EQ(frame(v, waitMs), movie.chunks[v]) << v;
  }
};

TEST_F(RealNetwork, AMovieBelowTheLinkRatePlaysWithoutDropsAt100msRoundTripAndAfterItLoops) {
  const ZevMovie movie = makeZevMovie(100, false, 0, fastFrames);
  writeFile(root / "movies" / "movie.zev", movie.bytes);
  RunningServer server((root / "movies").string());
  DelayProxy proxy(server.port(), 50);
  usePort(proxy.port());
  ASSERT_NE(accessZEV(nullptr), nullptr) << (boxes.texts().empty() ? "" : boxes.texts()[0]);
  // 130 frames: the movie, then its first 30 again after the loop.
  EXPECT_EQ(play(movie, 130), 0);
  EXPECT_TRUE(boxes.texts().empty());
}

TEST_F(RealNetwork, AnswersLongerOrShorterThanAskedAreFailedRequestsNotShiftedData) {
  const ZevMovie movie = makeZevMovie(100, false, 0, fastFrames);
  writeFile(root / "movies" / "movie.zev", movie.bytes);
  RunningServer server((root / "movies").string());
  for (int stray : {16, -16}) {
    // 16 bytes too many, or too few, in the movie data 5 MB into the first connection.
    constexpr uint64_t kAt = 5u << 20;
    DelayProxy proxy(server.port(), 0, [stray](int connection, uint64_t at, auto& data) {
      if (connection != 0 || kAt < at || kAt >= at + data.size() || data.size() < 64) return;
      const auto where = data.begin() + ptrdiff_t(kAt - at);
      if (stray > 0)
        data.insert(where, size_t(stray), uint8_t(0x5A));
      else
        data.erase(where, where + 16);
    });
    usePort(proxy.port());
    ASSERT_NE(accessZEV(nullptr), nullptr);
    // An answer 16 bytes short is told from a slow one only when no further answer follows
    // and the receive time limit (5 s here) runs out: the frame behind it may take that long.
    expectWholeMovie(movie, 15000);
    EXPECT_EQ(proxy.connections(), 2) << "the worker should have connected again";
    EXPECT_TRUE(boxes.texts().empty()) << boxes.texts()[0];
    network::freeZEV();
  }
}

TEST_F(RealNetwork, ARestartedServerIsReconnectedAndAChangedMovieIsNot) {
  const ZevMovie movie = makeZevMovie(100, false, 0, fastFrames);
  writeFile(root / "movies" / "movie.zev", movie.bytes);
  std::optional<RunningServer> server;
  server.emplace((root / "movies").string());
  const uint16_t port = server->port();
  usePort(port);
  ASSERT_NE(accessZEV(nullptr), nullptr);
  for (uint32_t v = 0; v < 40; ++v) ASSERT_EQ(frame(v), movie.chunks[v]);
  // Restarted on the same port: play goes on from where it was, every frame intact.
  server.reset();
  server.emplace((root / "movies").string(), 30000, port);
  for (uint32_t v = 40; v < 100; ++v) ASSERT_EQ(frame(v), movie.chunks[v]) << v;
  EXPECT_TRUE(boxes.texts().empty()) << boxes.texts()[0];

  // Restarted with another movie under the same name: the index differs, so the worker ends
  // with its box instead of handing out the other movie's bytes.
  server.reset();
  writeFile(root / "movies" / "movie.zev", makeZevMovie(100, false, 0, bigFrames).bytes);
  server.emplace((root / "movies").string(), 30000, port);
  size_t size = 0;
  EXPECT_EQ(network::frameData(60, &size), nullptr);  // behind the play position: evicted
  for (int i = 0; i < 500 && currentSource()->status() != 1; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  EXPECT_EQ(currentSource()->status(), 1);
  ASSERT_EQ(boxes.texts().size(), 1u);
  EXPECT_TRUE(boxes.texts()[0].ends_with("\"movie.zev\" changed on the server"))
      << boxes.texts()[0];
}

TEST(SiteAddress, HostsPortsAndIPv6) {
  auto parse = [](const std::string& s) {
    auto a = network::parseSite(s, 11541);
    return a ? a->host + " " + std::to_string(a->port) : std::string("invalid");
  };
  EXPECT_EQ(parse("movies.example"), "movies.example 11541");
  EXPECT_EQ(parse("movies.example:8000"), "movies.example 8000");
  EXPECT_EQ(parse("10.1.2.3:1"), "10.1.2.3 1");
  EXPECT_EQ(parse("::1"), "::1 11541");
  EXPECT_EQ(parse("[::1]:9000"), "::1 9000");
  EXPECT_EQ(parse("[fe80::1]"), "fe80::1 11541");
  for (const char* bad : {"host:", "host:0", "host:65536", "host:x1", "[::1", "[::1]9", ":80", ""})
    EXPECT_EQ(parse(bad), "invalid") << bad;
}

}  // namespace

namespace {

// A site typed as an IPv6 address with its port reaches a server listening on ::1 alone.
TEST_F(RealNetwork, AnIPv6SiteWithItsPort) {
  const ZevMovie movie = makeZevMovie(20, false, 0, fastFrames);
  writeFile(root / "movies" / "movie.zev", movie.bytes);
  std::optional<RunningServer> listening;
  try {
    listening.emplace((root / "movies").string(), 30000, 0, "::1");
  } catch (const std::exception& e) {
    GTEST_SKIP() << "no IPv6 loopback here: " << e.what();
  }
  RunningServer& server = *listening;
  usePort(1);  // the typed port wins
  host.on(network::kSiteDialog, [&](WindowHandle, DialogData& d) -> intptr_t {
    dynamic_cast<network::SiteDialogData&>(d).text = "[::1]:" + std::to_string(server.port());
    return IDOK;
  });
  ASSERT_NE(accessZEV(nullptr), nullptr) << (boxes.texts().empty() ? "" : boxes.texts()[0]);
  expectWholeMovie(movie);
}

}  // namespace

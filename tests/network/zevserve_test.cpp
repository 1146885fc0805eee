// zevserve speaking the movie-server protocol to plain loopback clients.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <set>
#include <thread>

#include "zev_fixture.h"

namespace fs = std::filesystem;
using namespace zov::test;

namespace {

uint32_t smallFrames(uint32_t n) {
  return 500 + (n * 37) % 900;
}

struct ServerDir : ::testing::Test {
  void SetUp() override {
    dir = fs::temp_directory_path() /
          ("zevserve-" + std::to_string(getpid()) + "-" +
           ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::create_directories(dir);
    movie = makeZevMovie(40, false, 0, smallFrames);
    writeFile(dir / "movie.zev", movie.bytes);
    writeFile(dir / "second.zev", makeZevMovie(5, false, 0, smallFrames).bytes);
    writeFile(dir / "notes.txt", {'h', 'e', 'l', 'l', 'o', ' ', 'w', 'o', 'r', 'l', 'd', '!'});
  }
  void TearDown() override { fs::remove_all(dir); }

  // Reads the movie list of a fresh connection.
  std::vector<std::string> readList(int fd) {
    uint8_t count[4];
    if (!recvAll(fd, count, 4)) return {};
    uint32_t n = uint32_t(count[0]) | uint32_t(count[1]) << 8 | uint32_t(count[2]) << 16 |
                 uint32_t(count[3]) << 24;
    std::vector<std::string> names;
    char field[256];
    for (uint32_t i = 0; i < n && recvAll(fd, field, 256); ++i)
      names.emplace_back(field, strnlen(field, 256));
    return names;
  }
  bool select(int fd, const std::string& name) {
    char field[256] = {};
    std::memcpy(field, name.data(), std::min<size_t>(name.size(), 256));
    return sendAll(fd, field, 256);
  }
  bool range(int fd, uint32_t offset, uint32_t length, std::vector<uint8_t>& out) {
    uint8_t req[8];
    for (int i = 0; i < 4; ++i)
      req[i] = uint8_t(offset >> (8 * i)), req[4 + i] = uint8_t(length >> (8 * i));
    out.resize(length);
    return sendAll(fd, req, 8) && recvAll(fd, out.data(), length);
  }

  fs::path dir;
  ZevMovie movie;
};

TEST_F(ServerDir, ListsMoviesAndAnswersRanges) {
  RunningServer server(dir.string());
  int fd = connectLoopback(server.port());
  ASSERT_GE(fd, 0);
  // Only files that look like AVI files are movies; the list is sorted.
  EXPECT_EQ(readList(fd), (std::vector<std::string>{"movie.zev", "second.zev"}));
  ASSERT_TRUE(select(fd, "movie.zev"));
  std::vector<uint8_t> got;
  ASSERT_TRUE(range(fd, 0, 2048, got));
  EXPECT_TRUE(std::equal(got.begin(), got.end(), movie.bytes.begin()));
  ASSERT_TRUE(range(fd, movie.offsets[7], uint32_t(movie.chunks[7].size()), got));
  EXPECT_EQ(got, movie.chunks[7]);
  // The last byte of the file, and an empty range, are inside.
  ASSERT_TRUE(range(fd, uint32_t(movie.bytes.size() - 1), 1, got));
  EXPECT_EQ(got[0], movie.bytes.back());
  ASSERT_TRUE(range(fd, uint32_t(movie.bytes.size()), 0, got));
  ASSERT_TRUE(range(fd, 100, 10, got));
  EXPECT_TRUE(std::equal(got.begin(), got.end(), movie.bytes.begin() + 100));
  close(fd);
}

TEST_F(ServerDir, ClosesOnRangesOutsideTheFileAndOnUnlistedNames) {
  RunningServer server(dir.string());
  std::vector<uint8_t> got;
  struct Case {
    uint32_t offset, length;
  };
  const uint32_t size = uint32_t(movie.bytes.size());
  for (Case c : {Case{size - 10, 11}, Case{size, 1}, Case{0xFFFFFFF0u, 0x20}, Case{0, 64u << 20}}) {
    int fd = connectLoopback(server.port());
    readList(fd);
    ASSERT_TRUE(select(fd, "movie.zev"));
    uint8_t req[8];
    for (int i = 0; i < 4; ++i)
      req[i] = uint8_t(c.offset >> (8 * i)), req[4 + i] = uint8_t(c.length >> (8 * i));
    ASSERT_TRUE(sendAll(fd, req, 8));
    EXPECT_TRUE(peerClosed(fd)) << c.offset << "+" << c.length;
    close(fd);
  }
  for (std::string name :
       {"notes.txt", "../movie.zev", "movie.zev/", "", "MOVIE.ZEV", "/etc/passwd"}) {
    int fd = connectLoopback(server.port());
    readList(fd);
    ASSERT_TRUE(select(fd, name));
    EXPECT_TRUE(peerClosed(fd)) << name;
    close(fd);
  }
  // A name field without its terminating zero.
  int fd = connectLoopback(server.port());
  readList(fd);
  std::string full(256, 'a');
  ASSERT_TRUE(sendAll(fd, full.data(), 256));
  EXPECT_TRUE(peerClosed(fd));
  close(fd);
  // Other viewers are not disturbed, and every connection left one log line.
  fd = connectLoopback(server.port());
  readList(fd);
  ASSERT_TRUE(select(fd, "second.zev"));
  ASSERT_TRUE(range(fd, 0, 12, got));
  close(fd);
  for (int i = 0; i < 100 && server.log().size() < 12; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  auto log = server.log();
  ASSERT_EQ(log.size(), 12u);
  EXPECT_NE(log[0].find("range outside the file"), std::string::npos) << log[0];
  EXPECT_NE(log[3].find("range request too long"), std::string::npos) << log[3];
  EXPECT_NE(log[4].find("movie name not in the list"), std::string::npos) << log[4];
}

TEST_F(ServerDir, ClosesIdleConnections) {
  RunningServer server(dir.string(), 300);
  int fd = connectLoopback(server.port(), 5000);
  readList(fd);
  auto start = std::chrono::steady_clock::now();
  EXPECT_TRUE(peerClosed(fd));
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(3));
  close(fd);
  EXPECT_NE(server.log().at(0).find("idle time-out"), std::string::npos);
}

TEST_F(ServerDir, ServesManyConcurrentConnections) {
  RunningServer server(dir.string());
  constexpr int kClients = 400;
  std::vector<int> fds;
  for (int i = 0; i < kClients; ++i) {
    int fd = connectLoopback(server.port());
    ASSERT_GE(fd, 0) << i;
    fds.push_back(fd);
  }
  // All open at once; each selects, then each asks for a different chunk.
  for (int fd : fds) ASSERT_TRUE(select(fd, "movie.zev"));
  for (size_t i = 0; i < fds.size(); ++i) {
    size_t c = i % movie.chunks.size();
    uint8_t req[8];
    uint32_t o = movie.offsets[c], l = uint32_t(movie.chunks[c].size());
    for (int k = 0; k < 4; ++k) req[k] = uint8_t(o >> (8 * k)), req[4 + k] = uint8_t(l >> (8 * k));
    ASSERT_TRUE(sendAll(fds[i], req, 8));
  }
  int good = 0;
  for (size_t i = 0; i < fds.size(); ++i) {
    size_t c = i % movie.chunks.size();
    auto names = readList(fds[i]);
    std::vector<uint8_t> got(movie.chunks[c].size());
    if (names.size() == 2 && recvAll(fds[i], got.data(), got.size()) && got == movie.chunks[c])
      ++good;
  }
  EXPECT_EQ(good, kClients);
  for (int fd : fds) close(fd);
}

// Clients that misbehave in every way at once, while one viewer fetches a whole movie: each
// bad one is closed (at once, or by the idle limit), the viewer gets every byte.
TEST_F(ServerDir, HostileClientsAreClosedWhileOthersAreServed) {
  const ZevMovie big = makeZevMovie(120, false, 0, [](uint32_t n) { return 30001 + n * 500; });
  writeFile(dir / "big.zev", big.bytes);
  RunningServer server(dir.string(), 1000);
  auto req = [](uint32_t offset, uint32_t length) {
    std::vector<uint8_t> r(8);
    for (int i = 0; i < 4; ++i)
      r[i] = uint8_t(offset >> (8 * i)), r[4 + i] = uint8_t(length >> (8 * i));
    return r;
  };
  std::vector<int> closedAtOnce, closedWhenIdle;
  // Connects and says nothing, not even reading the list.
  closedWhenIdle.push_back(connectLoopback(server.port(), 5000));
  // Asks for the whole big movie and never reads it: the server's sends stall.
  int stuck = connectLoopback(server.port(), 5000);
  readList(stuck);
  ASSERT_TRUE(select(stuck, "big.zev"));
  ASSERT_TRUE(sendAll(stuck, req(0, uint32_t(big.bytes.size())).data(), 8));
  closedWhenIdle.push_back(stuck);
  // Garbage for a name: no terminating zero.
  int fd = connectLoopback(server.port());
  std::vector<uint8_t> noise(256);
  for (size_t i = 0; i < noise.size(); ++i) noise[i] = uint8_t(0x80 | (i * 37));
  ASSERT_TRUE(sendAll(fd, noise.data(), noise.size()));
  readList(fd);
  closedAtOnce.push_back(fd);
  // A name that climbs out of the movie folder.
  fd = connectLoopback(server.port());
  readList(fd);
  ASSERT_TRUE(select(fd, "../x"));
  closedAtOnce.push_back(fd);
  // Garbage for a range request.
  fd = connectLoopback(server.port());
  readList(fd);
  ASSERT_TRUE(select(fd, "movie.zev"));
  ASSERT_TRUE(sendAll(fd, noise.data(), 8));
  closedAtOnce.push_back(fd);
  // Half a request, then gone; and a reset in the middle of a large answer.
  fd = connectLoopback(server.port());
  readList(fd);
  ASSERT_TRUE(select(fd, "movie.zev"));
  ASSERT_TRUE(sendAll(fd, noise.data(), 4));
  close(fd);
  fd = connectLoopback(server.port());
  readList(fd);
  ASSERT_TRUE(select(fd, "big.zev"));
  ASSERT_TRUE(sendAll(fd, req(0, 4u << 20).data(), 8));
  std::vector<uint8_t> some(1000);
  ASSERT_TRUE(recvAll(fd, some.data(), some.size()));
  linger reset{1, 0};
  setsockopt(fd, SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
  close(fd);

  // Meanwhile a viewer fetches the whole big movie in the source's 128 KB requests.
  int viewer = connectLoopback(server.port());
  EXPECT_EQ(readList(viewer), (std::vector<std::string>{"big.zev", "movie.zev", "second.zev"}));
  ASSERT_TRUE(select(viewer, "big.zev"));
  std::vector<uint8_t> all, piece;
  while (all.size() < big.bytes.size()) {
    uint32_t n = uint32_t(std::min<size_t>(131072, big.bytes.size() - all.size()));
    ASSERT_TRUE(range(viewer, uint32_t(all.size()), n, piece)) << all.size();
    all.insert(all.end(), piece.begin(), piece.end());
  }
  EXPECT_EQ(all, big.bytes);
  close(viewer);

  for (int bad : closedAtOnce) {
    EXPECT_TRUE(peerClosed(bad));
    close(bad);
  }
  auto start = std::chrono::steady_clock::now();
  for (int idle : closedWhenIdle) {
    // The stalled one first drains what the server had sent before it gave up.
    std::vector<uint8_t> sink(65536);
    ssize_t n;
    while ((n = recv(idle, sink.data(), sink.size(), 0)) > 0) {
    }
    EXPECT_TRUE(n == 0 || errno == ECONNRESET);
    close(idle);
  }
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(4));
  for (int i = 0; i < 100 && server.log().size() < 8; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  const auto log = server.log();
  EXPECT_EQ(log.size(), 8u);
  auto count = [&](const char* reason) {
    return std::count_if(log.begin(), log.end(), [&](const std::string& line) {
      return line.find(reason) != std::string::npos;
    });
  };
  EXPECT_EQ(count("idle time-out"), 2);
  EXPECT_EQ(count("movie name not in the list"), 2);
  EXPECT_EQ(count("client closed mid-message"), 1);
  EXPECT_EQ(count("client done"), 1);
}

// Out of descriptors: the server waits for a connection to close instead of spinning on the
// listening socket (one log line, not thousands), then takes the waiting viewer in.
TEST_F(ServerDir, WaitsWhenOutOfDescriptors) {
  RunningServer server(dir.string());
  rlimit saved{};
  ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &saved), 0);
  // A first viewer has the server read the folder (it keeps the list for a second).
  int warm = connectLoopback(server.port());
  EXPECT_EQ(readList(warm).size(), 2u);
  close(warm);
  // Room for exactly three more descriptors: client A, the server's side of A, and client B;
  // B's accept fails.
  std::set<int> used;
  for (const auto& e : fs::directory_iterator("/proc/self/fd"))
    used.insert(std::atoi(e.path().filename().c_str()));
  std::erase_if(used, [](int fd) { return fcntl(fd, F_GETFD) < 0; });  // the listing's own
  rlimit tight = saved;
  int free = 0;
  for (tight.rlim_cur = 0; free < 3; ++tight.rlim_cur) free += !used.count(int(tight.rlim_cur));
  ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &tight), 0);
  int a = connectLoopback(server.port());
  EXPECT_EQ(readList(a).size(), 2u);
  int b = connectLoopback(server.port());
  std::this_thread::sleep_for(std::chrono::milliseconds(600));
  const auto log = server.log();
  setrlimit(RLIMIT_NOFILE, &saved);
  ASSERT_GE(a, 0);
  ASSERT_GE(b, 0);
  EXPECT_EQ(std::count_if(log.begin(), log.end(),
                          [](const std::string& l) { return l.starts_with("accept:"); }),
            1);
  close(a);
  EXPECT_EQ(readList(b).size(), 2u);
  close(b);
}

}  // namespace

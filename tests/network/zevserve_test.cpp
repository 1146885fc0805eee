// zevserve speaking the movie-server protocol to plain loopback clients.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <filesystem>
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

}  // namespace

// zevserve as an operator runs it: special files and swapped folders, limits, empty-request
// floods, draining, the log and the metrics.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <thread>

#include "network/zev_layout.h"
#include "zev_fixture.h"

namespace fs = std::filesystem;
using namespace zov;
using namespace zov::test;
using Clock = std::chrono::steady_clock;

namespace {

uint32_t frames(uint32_t n) {
  return 2000 + (n * 37) % 900;
}

struct Operator : ::testing::Test {
  void SetUp() override {
    root = fs::temp_directory_path() /
           ("zevserve-op-" + std::to_string(getpid()) + "-" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::create_directories(root / "a");
    movie = makeZevMovie(40, false, 0, frames);
    writeFile(root / "a" / "movie.zev", movie.bytes);
  }
  void TearDown() override { fs::remove_all(root); }
  zevserve::ServerOptions options(const fs::path& dir) {
    zevserve::ServerOptions o;
    o.directory = dir.string();
    o.port = 0;
    return o;
  }
  static std::vector<std::string> readList(int fd) {
    uint8_t count[4];
    if (!recvAll(fd, count, 4)) return {};
    std::vector<std::string> names;
    char field[256];
    for (uint32_t i = 0; i < network::le32(count) && recvAll(fd, field, 256); ++i)
      names.emplace_back(field, strnlen(field, 256));
    return names;
  }
  static bool select(int fd, const std::string& name) {
    char field[256] = {};
    std::memcpy(field, name.data(), std::min<size_t>(name.size(), 256));
    return sendAll(fd, field, 256);
  }
  static bool request(int fd, uint32_t offset, uint32_t length) {
    uint8_t req[8];
    network::putLe32(req, offset);
    network::putLe32(req + 4, length);
    return sendAll(fd, req, 8);
  }
  static size_t count(const std::vector<std::string>& log, const char* text) {
    return size_t(std::count_if(log.begin(), log.end(), [&](const std::string& l) {
      return l.find(text) != std::string::npos;
    }));
  }
  fs::path root;
  ZevMovie movie;
};

TEST_F(Operator, OnlyRegularStreamFilesInsideTheFolderAndASwappedFolderIsFollowed) {
  const fs::path a = root / "a";
  writeFile(root / "outside.zev", movie.bytes);
  writeFile(a / "notes.avi", {'R', 'I', 'F', 'F', 0, 0, 0, 0, 'A', 'V', 'I', ' ', 0, 0});
  ASSERT_EQ(mkfifo((a / "pipe.zev").c_str(), 0600), 0);
  fs::create_symlink(root / "outside.zev", a / "escape.zev");
  fs::create_symlink("movie.zev", a / "inside.zev");
  writeFile(a / "later.zev", movie.bytes);
  // The movies folder is a symbolic link that an operator swaps for another.
  fs::create_directories(root / "b");
  writeFile(root / "b" / "other.zev", movie.bytes);
  fs::create_directory_symlink(a, root / "movies");
  RunningServer server(options(root / "movies"));

  int fd = connectLoopback(server.port());
  EXPECT_EQ(readList(fd), (std::vector<std::string>{"inside.zev", "later.zev", "movie.zev"}));
  // Listed, then swapped for a FIFO: refused at once without blocking, others go on.
  fs::remove(a / "later.zev");
  ASSERT_EQ(mkfifo((a / "later.zev").c_str(), 0600), 0);
  ASSERT_TRUE(select(fd, "later.zev"));
  EXPECT_TRUE(peerClosed(fd));
  close(fd);
  fd = connectLoopback(server.port());
  readList(fd);
  ASSERT_TRUE(select(fd, "inside.zev"));
  std::vector<uint8_t> got(64);
  ASSERT_TRUE(request(fd, 0, 64) && recvAll(fd, got.data(), 64));
  EXPECT_TRUE(std::equal(got.begin(), got.end(), movie.bytes.begin()));
  close(fd);

  fs::create_directory_symlink(root / "b", root / "swap");
  fs::rename(root / "swap", root / "movies");
  std::vector<std::string> listed;
  for (int i = 0; i < 40 && listed != std::vector<std::string>{"other.zev"}; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    fd = connectLoopback(server.port());
    listed = readList(fd);
    close(fd);
  }
  EXPECT_EQ(listed, std::vector<std::string>{"other.zev"});
  EXPECT_EQ(count(server.log(), "movie cannot be opened"), 1u);
}

TEST_F(Operator, LimitsEmptyRequestFloodsAndDraining) {
  auto o = options(root / "a");
  o.maxPerAddress = 2;
  o.idleTimeoutMs = 400;
  o.bytesPerSecond = 40000;
  RunningServer server(o);
  int first = connectLoopback(server.port()), second = connectLoopback(server.port());
  int third = connectLoopback(server.port());
  EXPECT_EQ(readList(first).size(), 1u);
  EXPECT_EQ(readList(second).size(), 1u);
  EXPECT_TRUE(peerClosed(third)) << "a third connection from one address";
  for (int fd : {first, second, third}) close(fd);

  // 40,000 bytes a second: 60,000 bytes take more than a second.
  int rated = connectLoopback(server.port());
  readList(rated);
  ASSERT_TRUE(select(rated, "movie.zev"));
  std::vector<uint8_t> got(60000);
  const auto asked = Clock::now();
  ASSERT_TRUE(request(rated, 0, 60000) && recvAll(rated, got.data(), got.size()));
  EXPECT_GT(Clock::now() - asked, std::chrono::milliseconds(900));
  EXPECT_TRUE(std::equal(got.begin(), got.end(), movie.bytes.begin()));
  close(rated);

  // Empty requests are no progress: the idle timer closes the connection all the same.
  int flood = connectLoopback(server.port());
  readList(flood);
  ASSERT_TRUE(select(flood, "movie.zev"));
  const auto start = Clock::now();
  bool open = true;
  while (open && Clock::now() - start < std::chrono::seconds(3)) {
    open = request(flood, 0, 0);
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  EXPECT_FALSE(open && !peerClosed(flood));
  close(flood);

  // Draining: no new viewers, the connected one is still served, then the loop ends.
  int viewer = connectLoopback(server.port());
  readList(viewer);
  ASSERT_TRUE(select(viewer, "movie.zev"));
  server.server().drain(5);
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  EXPECT_LT(connectLoopback(server.port(), 500), 0);
  ASSERT_TRUE(request(viewer, 0, 100) && recvAll(viewer, got.data(), 100));
  close(viewer);
  for (int i = 0; i < 100 && count(server.log(), "drained") == 0; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_EQ(count(server.log(), "drained: 0 viewer(s) left"), 1u);
}

TEST_F(Operator, LogLinesEscapeClientBytesAndAFloodIsSummarised) {
  auto o = options(root / "a");
  o.maxConnections = 1;
  const fs::path metrics = root / "metrics.prom";
  o.metricsFile = metrics.string();
  RunningServer server(o);
  int fd = connectLoopback(server.port());
  readList(fd);
  // Refused connections in a burst: a few lines, then one summary.
  for (int i = 0; i < 60; ++i) close(connectLoopback(server.port()));
  // The summary comes once the flood's second is over, with no later line to bring it.
  for (int i = 0; i < 300 && count(server.log(), "left out (flood)") == 0; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  ASSERT_EQ(count(server.log(), "left out (flood)"), 1u);
  ASSERT_TRUE(select(fd, std::string("bad\x01\"name\n", 10)));
  EXPECT_TRUE(peerClosed(fd));
  close(fd);
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  const auto log = server.log();
  EXPECT_LT(log.size(), 30u);
  EXPECT_EQ(count(log, "left out (flood)"), 1u);
  EXPECT_EQ(count(log, "127.0.0.1:") + count(log, "left out"), log.size());
  EXPECT_EQ(count(log, "movie=\"bad\\x01\\x22name\\x0A\""), 1u) << log.back();

  // Rewritten every second.
  std::string text;
  for (int i = 0; i < 30 && text.find("not in the list") == std::string::npos; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    const auto bytes = readFile(metrics);
    text.assign(bytes.begin(), bytes.end());
  }
  EXPECT_NE(text.find("# TYPE zevserve_connections_total counter"), std::string::npos) << text;
  EXPECT_NE(text.find("zevserve_connections_refused_total 60"), std::string::npos) << text;
  EXPECT_NE(text.find("zevserve_errors_total{reason=\"movie name not in the list\"} 1"),
            std::string::npos)
      << text;
}

}  // namespace

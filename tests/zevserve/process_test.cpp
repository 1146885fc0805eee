// zevserve run as the program an operator or systemd runs: a listening socket handed over by
// socket activation, the metrics port, SIGHUP reopening a rotated log, SIGTERM draining and
// exiting 0.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>

#include "child_process.h"
#include "network/zev_layout.h"
#include "zev_fixture.h"

namespace fs = std::filesystem;
using namespace zov;
using namespace zov::test;

namespace {

uint32_t frames(uint32_t n) {
  return 3000 + (n * 53) % 1000;
}

struct Process : ::testing::Test {
  void SetUp() override {
    root = fs::temp_directory_path() /
           ("zevserve-proc-" + std::to_string(getpid()) + "-" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::create_directories(root / "movies");
    movie = makeZevMovie(30, false, 0, frames);
    writeFile(root / "movies" / "movie.zev", movie.bytes);
    log = (root / "zevserve.log").string();
  }
  void TearDown() override { fs::remove_all(root); }

  // Starts zevserve with `args` before the folder, logging to `log`, and waits for its first
  // line; the port it listens on comes from that line.
  bool start(std::vector<std::string> args, const std::vector<int>& listenFds = {}) {
    args.insert(args.begin(), {ZEVSERVE_PATH, "--log", log});
    args.push_back((root / "movies").string());
    if (!server.start(args, (root / "stderr.txt").string(), listenFds)) return false;
    const std::string first = waitForText(log, "zevserve: serving", 10000);
    const size_t at = first.find(" port ");
    if (at == std::string::npos) return false;
    port = uint16_t(std::stoi(first.substr(at + 6)));
    return true;
  }
  // One viewer: the list, the movie chosen, one range read and checked; then it leaves.
  bool view(uint16_t to, uint32_t offset = 2048, uint32_t length = 5000) {
    const int fd = connectLoopback(to, 5000);
    if (fd < 0) return false;
    const bool ok = select(fd) && readRange(fd, offset, length);
    ::close(fd);
    return ok;
  }
  static std::vector<std::string> list(int fd) {
    uint8_t count[4];
    std::vector<std::string> names;
    if (!recvAll(fd, count, 4)) return names;
    char field[256];
    for (uint32_t i = 0; i < network::le32(count) && recvAll(fd, field, 256); ++i)
      names.emplace_back(field, strnlen(field, 256));
    return names;
  }
  static bool select(int fd) {
    if (list(fd) != std::vector<std::string>{"movie.zev"}) return false;
    char field[256] = "movie.zev";
    return sendAll(fd, field, 256);
  }
  bool readRange(int fd, uint32_t offset, uint32_t length) const {
    uint8_t request[8];
    network::putLe32(request, offset);
    network::putLe32(request + 4, length);
    std::vector<uint8_t> got(length);
    return sendAll(fd, request, 8) && recvAll(fd, got.data(), length) &&
           std::memcmp(got.data(), movie.bytes.data() + offset, length) == 0;
  }

  fs::path root;
  ZevMovie movie;
  std::string log;
  ChildProcess server;
  uint16_t port = 0;
};

// As systemd hands it over: a bound, listening socket as descriptor 3, LISTEN_FDS=1 and
// LISTEN_PID the server's own; the server binds nothing of its own (--port says otherwise).
TEST_F(Process, ServesTheSocketThatActivationHandsOver) {
  uint16_t activated = 0;
  const int fd = listenOnLoopback(activated);
  ASSERT_GE(fd, 0);
  ASSERT_TRUE(start({"--port", "1"}, {fd}));
  ::close(fd);
  EXPECT_EQ(port, activated);
  EXPECT_NE(readText(log).find("activated socket(s)"), std::string::npos) << readText(log);
  EXPECT_TRUE(view(activated));
  // The variables were meant for the server alone: no child of it would see them (nothing to
  // check from outside but that it still serves a second viewer).
  EXPECT_TRUE(view(activated));
}

TEST_F(Process, MetricsPortAnswersPrometheusText) {
  ASSERT_TRUE(start({"--port", "0", "--metrics", "0"}));
  const std::string first = readText(log);
  const size_t at = first.find("metrics on port ");
  ASSERT_NE(at, std::string::npos) << first;
  const uint16_t metrics = uint16_t(std::stoi(first.substr(at + 16)));
  ASSERT_TRUE(view(port));
  // The viewer's connection is counted once it has closed; scrape until it shows.
  std::string reply;
  for (int i = 0; i < 50 && reply.find("zevserve_connections_total 1\n") == std::string::npos;
       ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    const int fd = connectLoopback(metrics, 5000);
    ASSERT_GE(fd, 0);
    const char get[] = "GET /metrics HTTP/1.1\r\nHost: localhost\r\n\r\n";
    ASSERT_TRUE(sendAll(fd, get, sizeof get - 1));
    reply.clear();
    char buffer[4096];
    for (ssize_t n; (n = recv(fd, buffer, sizeof buffer, 0)) > 0;) reply.append(buffer, size_t(n));
    ::close(fd);
  }
  ASSERT_TRUE(reply.starts_with("HTTP/1.0 200 OK\r\n")) << reply;
  EXPECT_NE(reply.find("Content-Type: text/plain; version=0.0.4\r\n"), std::string::npos);
  const size_t body = reply.find("\r\n\r\n");
  ASSERT_NE(body, std::string::npos);
  const size_t length = reply.find("Content-Length: ");
  ASSERT_NE(length, std::string::npos);
  EXPECT_EQ(std::stoul(reply.substr(length + 16)), reply.size() - body - 4);
  EXPECT_NE(reply.find("# TYPE zevserve_connections_total counter\n"), std::string::npos);
  EXPECT_NE(reply.find("zevserve_connections_total 1\n"), std::string::npos) << reply;
  EXPECT_NE(reply.find("zevserve_requests_total{movie=\"movie.zev\"} 1\n"), std::string::npos)
      << reply;
  EXPECT_NE(reply.find("zevserve_bytes_sent_total "), std::string::npos);
}

// The configuration file installed with the program is one it takes; the command line wins
// over the file wherever --config stands.
TEST_F(Process, TheShippedConfigurationIsTaken) {
  ASSERT_TRUE(start({"--port", "0", "--config", ZEVSERVE_CONF}))
      << readText((root / "stderr.txt").string());
  EXPECT_NE(port, 11541);
  EXPECT_TRUE(view(port));
}

// Log rotation: the log renamed away, SIGHUP, and the next lines go to a new file by the old
// name while the renamed one keeps what it had. SIGHUP reads the folder again too: a movie
// finished in place after the server started (the folder itself unchanged) is listed then.
TEST_F(Process, HangupReopensARotatedLogAndRescansTheFolder) {
  writeFile(root / "movies" / "late.zev", std::vector<uint8_t>(100));  // not a stream file yet
  ASSERT_TRUE(start({"--port", "0"}));
  ASSERT_TRUE(view(port));
  waitForText(log, "127.0.0.1:", 5000);
  writeFile(root / "movies" / "late.zev", movie.bytes);
  auto names = [this] {
    const int fd = connectLoopback(port, 5000);
    const auto listed = list(fd);
    ::close(fd);
    return listed;
  };
  EXPECT_EQ(names(), std::vector<std::string>{"movie.zev"});
  waitForText(log, "movie=\"\"", 5000);
  const std::string rotated = log + ".1";
  fs::rename(log, rotated);
  server.signal(SIGHUP);
  waitForText(log, "rescan:", 5000);
  ASSERT_TRUE(fs::exists(log));
  EXPECT_EQ(names(), (std::vector<std::string>{"late.zev", "movie.zev"}));
  const std::string fresh = waitForText(log, "127.0.0.1:", 5000);
  EXPECT_NE(fresh.find("127.0.0.1:"), std::string::npos) << fresh;
  EXPECT_EQ(fresh.find("zevserve: serving"), std::string::npos) << fresh;
  const std::string old = readText(rotated);
  EXPECT_NE(old.find("zevserve: serving"), std::string::npos);
  EXPECT_NE(old.find("127.0.0.1:"), std::string::npos) << old;
}

// SIGTERM: no new viewers, the connected one is served until it leaves, then exit status 0,
// well before the drain limit.
TEST_F(Process, TerminateDrainsThenExitsZero) {
  ASSERT_TRUE(start({"--port", "0", "--drain", "20"}));
  const int viewer = connectLoopback(port, 5000);
  ASSERT_GE(viewer, 0);
  ASSERT_TRUE(select(viewer));
  server.signal(SIGTERM);
  waitForText(log, "drain", 5000);
  EXPECT_LT(connectLoopback(port, 500), 0) << "a new viewer during the drain";
  EXPECT_TRUE(readRange(viewer, 2048, 20000));
  EXPECT_EQ(server.wait(300), -1) << "ended while a viewer was still connected";
  const auto left = std::chrono::steady_clock::now();
  ::close(viewer);
  EXPECT_EQ(server.wait(10000), 0);
  EXPECT_LT(std::chrono::steady_clock::now() - left, std::chrono::seconds(5));
}

}  // namespace

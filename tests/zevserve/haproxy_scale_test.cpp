// Past one server: several zevserve processes serve one folder behind HAProxy in TCP mode (its
// configuration written and the balancer started here, on loopback); thousands of viewers read
// movie data through it and check every byte; halfway one server is killed and the viewers it
// carried reconnect through the balancer to the others, going on from where they were. Among
// them is the real network source (the one a player uses), opened through the balancer before
// the crowd: the server it landed on is the one killed, and it must go on handing out every
// frame intact and without a box.
//
// ZOV_SCALE_VIEWERS sets the number of viewers (default 2,000). The figures go to the test's
// output and its XML record.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/epoll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "child_process.h"
#include "network/zev_layout.h"
#include "network/zev_source.h"
#include "source_fixture.h"
#include "zev_fixture.h"

namespace fs = std::filesystem;
using namespace zov;
using namespace zov::test;
using Clock = std::chrono::steady_clock;

namespace {

// Under the sanitizers too this takes about 5 s on two cores.
constexpr int kDefaultViewers = 2000;
constexpr int kServers = 3;
constexpr uint32_t kRange = 65536;            // bytes a request
constexpr uint64_t kPerViewer = 12 * kRange;  // bytes each viewer reads
constexpr int kMaxTries = 6;                  // reconnects in a row before a viewer gives up
constexpr int kFirstWaitMs = 100;             // before the first reconnect; doubles
constexpr auto kTimeLimit = std::chrono::seconds(120);

// About 7 MB: more than the network source's 4 MB cache, so it cannot hold the movie ahead.
uint32_t frameSize(uint32_t n) {
  return 30001 + (n * 7919) % 8000;
}
// Frames the network source plays before the crowd arrives; after the kill it plays one whole
// movie on (wrapping), more than its cache holds, so its data must come from another server.
constexpr uint32_t kPlayedBeforeKill = 70;

int64_t nowMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now().time_since_epoch())
      .count();
}

std::string findHaproxy() {
  for (const char* dir : {"/usr/sbin", "/usr/local/sbin", "/usr/bin", "/usr/local/bin"})
    if (access((std::string(dir) + "/haproxy").c_str(), X_OK) == 0)
      return std::string(dir) + "/haproxy";
  return "";
}

// The viewers: one epoll loop over non-blocking sockets, each viewer a small state record.
// Every byte received is compared with the movie file at the place asked for; an answer
// shifted by even one byte fails.
class Viewers {
 public:
  Viewers(const std::vector<uint8_t>& movie, uint32_t dataEnd, uint16_t port, int count)
      : movie_(movie), dataEnd_(dataEnd), port_(port), viewers_(size_t(count)) {
    epoll_ = epoll_create1(EPOLL_CLOEXEC);
    const uint32_t span = dataEnd_ - network::kHeaderBytes;
    for (size_t i = 0; i < viewers_.size(); ++i)
      viewers_[i].position = network::kHeaderBytes + uint32_t((i * 104729u) % span);
  }
  ~Viewers() {
    for (Viewer& v : viewers_)
      if (v.fd >= 0) ::close(v.fd);
    ::close(epoll_);
  }

  // Runs until every viewer is done or has given up, or the time limit; `tick` is called
  // every few milliseconds with the bytes verified so far.
  template <class Tick>
  void run(Clock::time_point deadline, Tick tick) {
    for (size_t i = 0; i < viewers_.size(); ++i) connect(i);
    std::array<epoll_event, 512> events;
    while (ended_ < viewers_.size() && Clock::now() < deadline) {
      const int n = epoll_wait(epoll_, events.data(), int(events.size()), 10);
      for (int e = 0; e < n; ++e) handle(events[size_t(e)].data.u32, events[size_t(e)].events);
      const int64_t now = nowMs();
      for (size_t i = 0; i < viewers_.size(); ++i)
        if (viewers_[i].state == Waiting && viewers_[i].retryAt <= now) connect(i);
      tick(verified_);
      peakOpen_ =
          std::max(peakOpen_,
                   count([](const Viewer& v) { return v.state == Listing || v.state == Reading; }));
    }
  }

  uint64_t verified() const { return verified_; }
  size_t done() const {
    return count([](const Viewer& v) { return v.state == Done; });
  }
  size_t reconnected() const {
    return count([](const Viewer& v) { return v.state == Done && v.breaks > 0; });
  }
  size_t corrupt() const { return corrupt_; }
  // The most viewers connected at once.
  size_t peakOpen() const { return peakOpen_; }
  size_t viewers() const { return viewers_.size(); }

 private:
  enum State { Connecting, Listing, Reading, Waiting, Done, Failed };
  struct Viewer {
    int fd = -1;
    State state = Waiting;
    uint32_t position = 0;  // of the range being read
    uint32_t length = 0;
    uint32_t got = 0;
    uint64_t read = 0;  // verified bytes
    std::array<uint8_t, 4 + 256> list{};
    uint32_t listed = 0;
    int tries = 0, breaks = 0;
    int64_t retryAt = 0;
  };

  template <class Pred>
  size_t count(Pred pred) const {
    return size_t(std::count_if(viewers_.begin(), viewers_.end(), pred));
  }

  void connect(size_t i) {
    Viewer& v = viewers_[i];
    v.fd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(port_);
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (v.fd < 0 || (::connect(v.fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 &&
                     errno != EINPROGRESS)) {
      broken(i);
      return;
    }
    v.state = Connecting;
    v.listed = 0;
    epoll_event ev{};
    ev.events = EPOLLOUT;
    ev.data.u32 = uint32_t(i);
    epoll_ctl(epoll_, EPOLL_CTL_ADD, v.fd, &ev);
  }

  // The connection went: a few tries later the viewer connects again, through the balancer.
  void broken(size_t i) {
    Viewer& v = viewers_[i];
    if (v.fd >= 0) ::close(v.fd);
    v.fd = -1;
    ++v.breaks;
    if (v.tries >= kMaxTries) {
      end(v, Failed);
      return;
    }
    v.state = Waiting;
    v.retryAt = nowMs() + (int64_t(kFirstWaitMs) << v.tries) + int64_t(i % 50);
    ++v.tries;
  }

  void end(Viewer& v, State state) {
    if (v.fd >= 0) ::close(v.fd);
    v.fd = -1;
    v.state = state;
    ++ended_;
  }

  // The next range (wrapping from the end of the movie data to its start), sent.
  bool request(Viewer& v) {
    v.length = uint32_t(std::min<uint64_t>({kRange, dataEnd_ - v.position, kPerViewer - v.read}));
    v.got = 0;
    uint8_t bytes[8];
    network::putLe32(bytes, v.position);
    network::putLe32(bytes + 4, v.length);
    return send(v.fd, bytes, 8, MSG_NOSIGNAL) == 8;
  }

  void handle(uint32_t i, uint32_t events) {
    Viewer& v = viewers_[i];
    if (v.state == Connecting) {
      int error = 0;
      socklen_t len = sizeof error;
      getsockopt(v.fd, SOL_SOCKET, SO_ERROR, &error, &len);
      if (error != 0 || (events & (EPOLLERR | EPOLLHUP))) return broken(i);
      v.state = Listing;
      epoll_event ev{};
      ev.events = EPOLLIN;
      ev.data.u32 = i;
      epoll_ctl(epoll_, EPOLL_CTL_MOD, v.fd, &ev);
      return;
    }
    if (v.state == Listing) {
      const ssize_t n = recv(v.fd, v.list.data() + v.listed, v.list.size() - v.listed, 0);
      if (n < 0 && errno == EAGAIN) return;
      if (n <= 0) return broken(i);
      v.listed += uint32_t(n);
      if (v.listed < v.list.size()) return;
      if (network::le32(v.list.data()) != 1 ||
          std::strcmp(reinterpret_cast<const char*>(v.list.data() + 4), "movie.zev") != 0) {
        ++corrupt_;
        return end(v, Failed);
      }
      // The name goes back as it came.
      if (send(v.fd, v.list.data() + 4, 256, MSG_NOSIGNAL) != 256 || !request(v)) return broken(i);
      v.state = Reading;
      return;
    }
    if (v.state != Reading) return;
    for (;;) {
      const ssize_t n = recv(v.fd, scratch_.data(), v.length - v.got, 0);
      if (n < 0 && errno == EAGAIN) return;
      if (n <= 0) return broken(i);  // the range is asked for again after the reconnect
      if (std::memcmp(scratch_.data(), movie_.data() + v.position + v.got, size_t(n)) != 0) {
        ++corrupt_;
        return end(v, Failed);
      }
      v.got += uint32_t(n);
      if (v.got < v.length) continue;
      v.read += v.length;
      verified_ += v.length;
      v.tries = 0;
      v.position += v.length;
      if (v.position >= dataEnd_) v.position = network::kHeaderBytes;
      if (v.read >= kPerViewer) return end(v, Done);
      if (!request(v)) return broken(i);
    }
  }

  const std::vector<uint8_t>& movie_;
  const uint32_t dataEnd_;
  const uint16_t port_;
  std::vector<Viewer> viewers_;
  int epoll_ = -1;
  size_t ended_ = 0;
  size_t corrupt_ = 0;
  size_t peakOpen_ = 0;
  uint64_t verified_ = 0;
  std::array<uint8_t, kRange> scratch_{};
};

// The network source plays frames in order, wrapping at the end of the movie, and counts
// those that differ from the file's chunks.
struct Player {
  const ZevMovie& movie;
  uint32_t played = 0, wrong = 0;
  void check(const uint8_t* p, size_t size) {
    const std::vector<uint8_t>& chunk = movie.chunks[played % movie.frames];
    if (size != chunk.size() || std::memcmp(p, chunk.data(), size) != 0) ++wrong;
    ++played;
  }
  // The frames up to `until` that are already cached; never waits.
  void poll(uint32_t until) {
    size_t size = 0;
    while (played < until)
      if (const uint8_t* p = network::frameData(played % movie.frames, &size))
        check(p, size);
      else
        return;
  }
};

// The requests of `movie` in a metrics file, -1 while it is not there yet.
long requestsIn(const std::string& metrics, const std::string& movie) {
  const std::string text = readText(metrics);
  const std::string key = "zevserve_requests_total{movie=\"" + movie + "\"} ";
  const size_t at = text.find(key);
  if (at != std::string::npos) return std::atol(text.c_str() + at + key.size());
  return text.find("zevserve_connections_total") == std::string::npos ? -1 : 0;
}

// The network source's fixture: its dialog host, message boxes and settings.
struct Balanced : Source {
  void SetUp() override {
    Source::SetUp();
    haproxy = findHaproxy();
    if (haproxy.empty()) GTEST_SKIP() << "haproxy is not installed (scripts/install-deps.sh)";
  }
  std::string haproxy;
};

TEST_F(Balanced, ThousandsOfViewersThroughHaproxySurviveALostServer) {
  int wanted = kDefaultViewers;
  if (const char* env = std::getenv("ZOV_SCALE_VIEWERS")) wanted = std::max(1, std::atoi(env));
  // A socket each here, two in the balancer, one and a movie file in a server.
  rlimit files{};
  getrlimit(RLIMIT_NOFILE, &files);
  files.rlim_cur = files.rlim_max;
  setrlimit(RLIMIT_NOFILE, &files);
  const int viewers = int(std::min<rlim_t>(rlim_t(wanted), files.rlim_cur / 2 - 100));
  ASSERT_GT(viewers, 0);

  const ZevMovie movie = makeZevMovie(210, false, 0, frameSize);
  writeFile(root / "movies" / "movie.zev", movie.bytes);

  // Each server gets its listening socket as systemd would hand it over; the balancer gets its
  // own as an inherited descriptor. Nothing is bound by name, so no port can be taken meanwhile.
  std::vector<std::unique_ptr<ChildProcess>> servers;
  std::vector<std::string> metrics;
  std::string serverLines;
  for (int s = 0; s < kServers; ++s) {
    uint16_t port = 0;
    const int fd = listenOnLoopback(port);
    ASSERT_GE(fd, 0);
    servers.push_back(std::make_unique<ChildProcess>());
    const std::string log = (root / ("server" + std::to_string(s) + ".log")).string();
    metrics.push_back((root / ("server" + std::to_string(s) + ".prom")).string());
    ASSERT_TRUE(servers.back()->start({ZEVSERVE_PATH, "--log", log, "--timeout", "60", "--metrics",
                                       metrics.back(), (root / "movies").string()},
                                      log, {fd}));
    ::close(fd);
    serverLines += "    server s" + std::to_string(s) + " 127.0.0.1:" + std::to_string(port) +
                   " check inter 200ms fall 1 rise 2\n";
    ASSERT_NE(waitForText(log, "zevserve: serving 1 movie", 10000).find("serving 1 movie"),
              std::string::npos);
  }
  uint16_t front = 0;
  const int frontFd = listenOnLoopback(front);
  ASSERT_GE(frontFd, 0);
  const std::string config = (root / "haproxy.cfg").string();
  std::ofstream(config) << "global\n"
                        << "    maxconn " << 2 * viewers + 200 << "\n"
                        << "defaults\n"
                        << "    mode tcp\n"
                        << "    maxconn " << 2 * viewers + 200 << "\n"
                        << "    timeout connect 200ms\n"
                        << "    timeout client 60s\n"
                        << "    timeout server 60s\n"
                        << "    option redispatch 1\n"
                        << "    retries 3\n"
                        << "frontend movies\n"
                        << "    bind fd@3\n"
                        << "    default_backend zevserve\n"
                        << "backend zevserve\n"
                        << "    balance leastconn\n"
                        << serverLines;
  ChildProcess balancer;
  const std::string balancerOutput = (root / "haproxy.out").string();
  ASSERT_TRUE(balancer.start({haproxy, "-db", "-f", config}, balancerOutput, {frontFd}));
  ::close(frontFd);

  // The network source through the balancer, some way into its movie. Its requests so far
  // are the only ones, so the server that counts them is the one carrying it.
  usePort(front, 20000);
  ASSERT_NE(network::accessZEV(nullptr), nullptr)
      << (boxes.texts().empty() ? "" : boxes.texts()[0]);
  Player player{movie};
  for (uint32_t v = 0; v < kPlayedBeforeKill; ++v) {
    const std::vector<uint8_t> bytes = frame(v);
    ASSERT_FALSE(bytes.empty()) << "frame " << v;
    player.check(bytes.data(), bytes.size());
  }
  int carrier = -1;
  for (int i = 0; i < 1000 && carrier < 0; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));  // rewritten every second
    std::vector<long> requests;
    for (const std::string& m : metrics) requests.push_back(requestsIn(m, "movie.zev"));
    if (std::count(requests.begin(), requests.end(), -1) == 0 &&
        std::count(requests.begin(), requests.end(), 0) == kServers - 1)
      carrier = int(std::max_element(requests.begin(), requests.end()) - requests.begin());
  }
  ASSERT_GE(carrier, 0) << "no single server counts the network source's requests";

  const uint32_t dataEnd = movie.indexOffset;
  Viewers clients(movie.bytes, dataEnd, front, viewers);
  const uint64_t total = uint64_t(viewers) * kPerViewer;
  const uint32_t playEnd = kPlayedBeforeKill + movie.frames;
  bool killed = false;
  long killedPeakKb = 0;
  const auto start = Clock::now();
  clients.run(start + kTimeLimit, [&](uint64_t verified) {
    if (!killed && verified >= total / 2) {
      killedPeakKb = servers[size_t(carrier)]->memoryKb("VmHWM");
      servers[size_t(carrier)]->signal(SIGKILL);
      killed = true;
    }
    if (killed) player.poll(playEnd);
  });
  const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
  // The rest of the network source's frames, each waited for (bounded).
  while (killed && player.played < playEnd) {
    const std::vector<uint8_t> bytes = frame(player.played % movie.frames);
    if (bytes.empty()) break;
    player.check(bytes.data(), bytes.size());
  }

  std::vector<long> peaks;
  for (int s = 0; s < kServers; ++s)
    peaks.push_back(s == carrier ? killedPeakKb : servers[size_t(s)]->memoryKb("VmHWM"));
  const long balancerKb = balancer.memoryKb("VmHWM");
  const double megabytes = double(clients.verified()) / 1e6;
  char figures[768];
  std::snprintf(
      figures, sizeof figures,
      "%d viewers (%zu at once), %d servers: %.0f MB verified in %.2f s = %.0f MB/s; peak RSS of "
      "the servers %ld / %ld / %ld KB (server %d killed), of haproxy %ld KB; %zu viewers "
      "reconnected, %zu done; the network source on the killed server played %u frames "
      "after the kill, %u wrong",
      viewers, clients.peakOpen(), kServers, megabytes, seconds, megabytes / seconds, peaks[0],
      peaks[1], peaks[2], carrier, balancerKb, clients.reconnected(), clients.done(),
      player.played - kPlayedBeforeKill, player.wrong);
  std::printf("%s\n", figures);
  RecordProperty("figures", figures);

  EXPECT_TRUE(killed);
  // The network source reconnected through the balancer and played on from where it was.
  EXPECT_EQ(player.played, playEnd);
  EXPECT_EQ(player.wrong, 0u);
  EXPECT_TRUE(boxes.texts().empty()) << boxes.texts()[0];
  EXPECT_NE(network::currentSource()->status(), 1) << "the source's worker ended";
  EXPECT_EQ(clients.corrupt(), 0u);
  EXPECT_EQ(clients.done(), size_t(viewers)) << readText(balancerOutput);
  EXPECT_EQ(clients.verified(), total);
  // Killed halfway, the server carried about a third of the viewers still reading.
  EXPECT_GE(clients.reconnected(), size_t(viewers) / 20);
  EXPECT_EQ(balancer.wait(0), -1) << "haproxy ended: " << readText(balancerOutput);
  for (int s = 0; s < kServers; ++s)
    if (s != carrier) {
      EXPECT_EQ(servers[size_t(s)]->wait(0), -1) << "server " << s;
    }
  balancer.signal(SIGTERM);
  EXPECT_NE(balancer.wait(5000), -1);
}

}  // namespace

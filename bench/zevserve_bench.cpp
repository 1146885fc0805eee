// zevserve under load: many viewers on loopback at once, each fetching a whole movie in the
// 128 KB range requests the network movie source makes, one request at a time per connection.
//
// The server runs as its own process (the built zevserve program), so its peak resident memory
// (VmHWM of /proc/PID/status) is its own. The viewers are driven by one epoll loop here. Every
// byte received is compared with the file. Reported: bytes per second over all viewers, the
// number of viewers, and the server's peak RSS.
#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/epoll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

extern char** environ;

namespace {

namespace fs = std::filesystem;

constexpr uint32_t kRequest = 131072;
constexpr size_t kNameField = 256;
constexpr char kMovieName[] = "load.zev";

// Each viewer holds a socket here and a socket and a file in the server.
void raiseFileLimit() {
  rlimit files{};
  if (getrlimit(RLIMIT_NOFILE, &files) == 0 && files.rlim_cur < files.rlim_max) {
    files.rlim_cur = files.rlim_max;
    setrlimit(RLIMIT_NOFILE, &files);
  }
}

rlim_t fileLimit() {
  rlimit files{};
  getrlimit(RLIMIT_NOFILE, &files);
  return files.rlim_cur;
}

// A movie file: an AVI-looking start (the server lists only such files), then varied bytes.
std::vector<uint8_t> makeMovie(size_t size) {
  std::vector<uint8_t> bytes(size);
  std::mt19937 random(1234);
  for (auto& b : bytes) b = uint8_t(random());
  std::memcpy(bytes.data(), "RIFF\0\0\0\0AVI ", 12);
  return bytes;
}

// The zevserve program serving `dir` on an ephemeral loopback port.
class ServerProcess {
 public:
  explicit ServerProcess(const std::string& dir) {
    int pipeFds[2];
    if (pipe2(pipeFds, O_CLOEXEC) != 0) return;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipeFds[1], 2);
    std::string program = ZOV_ZEVSERVE_PROGRAM;
    std::vector<std::string> args = {
        program, "--port", "0", "--bind", "127.0.0.1", "--max-connections", "100000", dir};
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    if (posix_spawn(&pid_, program.c_str(), &actions, nullptr, argv.data(), environ) != 0)
      pid_ = -1;
    posix_spawn_file_actions_destroy(&actions);
    ::close(pipeFds[1]);
    log_ = pipeFds[0];
    // First line: "zevserve: serving 1 movie(s) of DIR on 127.0.0.1:PORT".
    std::string line;
    char c;
    while (pid_ > 0 && line.find('\n') == std::string::npos && ::read(log_, &c, 1) == 1)
      line.push_back(c);
    size_t colon = line.rfind(':');
    if (colon != std::string::npos) port_ = uint16_t(std::atoi(line.c_str() + colon + 1));
    // Connection log lines go to the pipe: drain them so the server never blocks on stderr.
    fcntl(log_, F_SETFL, O_NONBLOCK);
  }
  ~ServerProcess() {
    if (pid_ > 0) {
      kill(pid_, SIGTERM);
      int status = 0;
      waitpid(pid_, &status, 0);
    }
    if (log_ >= 0) ::close(log_);
  }
  uint16_t port() const { return port_; }
  int logFd() const { return log_; }
  void drainLog() const {
    char buffer[65536];
    while (::read(log_, buffer, sizeof buffer) > 0) {
    }
  }
  // Peak resident set size in KB.
  long peakRssKb() const {
    std::ifstream status("/proc/" + std::to_string(pid_) + "/status");
    std::string line;
    while (std::getline(status, line))
      if (line.rfind("VmHWM:", 0) == 0) return std::atol(line.c_str() + 6);
    return -1;
  }

 private:
  pid_t pid_ = -1;
  int log_ = -1;
  uint16_t port_ = 0;
};

enum class Phase { Connecting, List, Range, Done, Failed };

struct Viewer {
  int fd = -1;
  Phase phase = Phase::Connecting;
  std::vector<uint8_t> in;
  size_t have = 0;
  uint32_t offset = 0;  // of the range being received
  uint32_t length = 0;
  uint64_t received = 0;
};

// Runs `count` viewers to the end; returns the number that fetched the whole movie intact.
size_t runViewers(uint16_t port, size_t count, const std::vector<uint8_t>& movie,
                  const ServerProcess& server, uint64_t* bytes) {
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(port);
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  int ep = epoll_create1(EPOLL_CLOEXEC);
  std::vector<Viewer> viewers(count);
  size_t active = 0, good = 0;
  auto finish = [&](Viewer& v, bool ok) {
    v.phase = ok ? Phase::Done : Phase::Failed;
    epoll_ctl(ep, EPOLL_CTL_DEL, v.fd, nullptr);
    ::close(v.fd);
    v.fd = -1;
    v.in.clear();
    v.in.shrink_to_fit();
    --active;
    good += ok;
  };
  auto request = [&](Viewer& v) {
    v.offset = uint32_t(v.received);
    v.length = uint32_t(std::min<uint64_t>(kRequest, movie.size() - v.received));
    uint8_t r[8];
    for (int i = 0; i < 4; ++i) r[i] = uint8_t(v.offset >> (8 * i));
    for (int i = 0; i < 4; ++i) r[4 + i] = uint8_t(v.length >> (8 * i));
    // 8 bytes on an idle socket always fit its send buffer.
    if (send(v.fd, r, 8, MSG_NOSIGNAL) != 8) return finish(v, false);
    v.phase = Phase::Range;
    v.have = 0;
  };
  for (size_t i = 0; i < count; ++i) {
    Viewer& v = viewers[i];
    v.fd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (v.fd < 0) {
      v.phase = Phase::Failed;
      continue;
    }
    v.in.resize(std::max<size_t>(kRequest, 4 + kNameField));
    connect(v.fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    epoll_event ev{};
    ev.events = EPOLLIN;
    ev.data.u64 = i;
    epoll_ctl(ep, EPOLL_CTL_ADD, v.fd, &ev);
    ++active;
  }
  std::vector<epoll_event> events(512);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::minutes(3);
  while (active > 0 && std::chrono::steady_clock::now() < deadline) {
    server.drainLog();
    int n = epoll_wait(ep, events.data(), int(events.size()), 1000);
    for (int e = 0; e < n; ++e) {
      Viewer& v = viewers[events[e].data.u64];
      if (v.fd < 0) continue;
      const size_t need = v.phase == Phase::Range ? v.length : 4 + kNameField;
      ssize_t got = recv(v.fd, v.in.data() + v.have, need - v.have, 0);
      if (got < 0 && (errno == EAGAIN || errno == EINTR)) continue;
      if (got <= 0) {
        finish(v, false);
        continue;
      }
      v.have += size_t(got);
      if (v.have < need) continue;
      if (v.phase != Phase::Range) {
        // The list: one movie. Choose it and ask for the first range.
        if (v.in[0] != 1 || v.in[1] | v.in[2] | v.in[3] ||
            std::strcmp(reinterpret_cast<char*>(&v.in[4]), kMovieName) != 0) {
          finish(v, false);
          continue;
        }
        char name[kNameField] = {};
        std::strcpy(name, kMovieName);
        if (send(v.fd, name, kNameField, MSG_NOSIGNAL) != ssize_t(kNameField)) {
          finish(v, false);
          continue;
        }
        request(v);
        continue;
      }
      if (std::memcmp(v.in.data(), movie.data() + v.offset, v.length) != 0) {
        finish(v, false);
        continue;
      }
      v.received += v.length;
      *bytes += v.length;
      if (v.received == movie.size())
        finish(v, true);
      else
        request(v);
    }
  }
  for (Viewer& v : viewers)
    if (v.fd >= 0) finish(v, false);
  ::close(ep);
  return good;
}

void BM_ZevserveViewers(benchmark::State& state) {
  raiseFileLimit();
  const size_t viewers = size_t(state.range(0));
  const size_t movieBytes = size_t(state.range(1));
  // Here one socket per viewer, in the server a socket and a file each.
  if (fileLimit() < viewers * 2 + 64) {
    state.SkipWithError("open-file limit too low for this many viewers");
    return;
  }
  const fs::path dir = fs::temp_directory_path() / ("zevserve_bench_" + std::to_string(getpid()));
  fs::create_directories(dir);
  const std::vector<uint8_t> movie = makeMovie(movieBytes);
  {
    std::ofstream out(dir / kMovieName, std::ios::binary);
    out.write(reinterpret_cast<const char*>(movie.data()), std::streamsize(movie.size()));
  }
  {
    ServerProcess server(dir.string());
    if (server.port() == 0) {
      state.SkipWithError("zevserve did not start");
    } else {
      uint64_t bytes = 0;
      size_t complete = 0, runs = 0;
      for (auto _ : state) {
        complete += runViewers(server.port(), viewers, movie, server, &bytes);
        ++runs;
      }
      if (complete != viewers * runs) state.SkipWithError("some viewers did not get every byte");
      state.SetBytesProcessed(int64_t(bytes));
      state.counters["viewers"] = double(viewers);
      state.counters["movie_MB"] = double(movieBytes) / (1 << 20);
      state.counters["intact"] = double(complete) / double(runs);
      state.counters["server_peak_rss_MB"] = double(server.peakRssKb()) / 1024;
    }
  }
  std::error_code ec;
  fs::remove_all(dir, ec);
}

BENCHMARK(BM_ZevserveViewers)
    ->Args({1000, 1 << 20})
    ->Args({100, 8 << 20})
    ->Iterations(3)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

}  // namespace

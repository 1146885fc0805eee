#include "tools/zevserve/server.h"

#include <arpa/inet.h>
#include <dirent.h>
#include <fcntl.h>
#include <linux/openat2.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <pthread.h>
#include <signal.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/sendfile.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>

#include "network/zev_layout.h"

namespace zov::zevserve {

namespace {

constexpr int kLogBurst = 20;  // log lines a second before the rest are summarised

int64_t nowMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

uint32_t le32(const uint8_t* p) {
  return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

sigset_t pipeSignal() {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGPIPE);
  return set;
}

void putLe32(std::string& out, uint32_t v) {
  for (int i = 0; i < 4; ++i) out.push_back(char((v >> (8 * i)) & 0xFF));
}

// "1.2.3.4" or "::1", with an IPv4 viewer on a dual-stack socket shown as IPv4.
std::string addressText(const sockaddr_storage& a, uint16_t* port) {
  char text[INET6_ADDRSTRLEN] = "?";
  if (a.ss_family == AF_INET) {
    const auto& v4 = reinterpret_cast<const sockaddr_in&>(a);
    inet_ntop(AF_INET, &v4.sin_addr, text, sizeof text);
    *port = ntohs(v4.sin_port);
    return text;
  }
  const auto& v6 = reinterpret_cast<const sockaddr_in6&>(a);
  *port = ntohs(v6.sin6_port);
  if (IN6_IS_ADDR_V4MAPPED(&v6.sin6_addr)) {
    inet_ntop(AF_INET, &v6.sin6_addr.s6_addr[12], text, sizeof text);
    return text;
  }
  inet_ntop(AF_INET6, &v6.sin6_addr, text, sizeof text);
  return text;
}

// The Prometheus label value escapes.
std::string labelValue(const std::string& s) {
  std::string out;
  for (char ch : s) {
    if (ch == '\\' || ch == '"') out.push_back('\\');
    if (ch == '\n') {
      out += "\\n";
      continue;
    }
    out.push_back(ch);
  }
  return out;
}

// True when the open file is a stream file whose index lies inside it.
bool isStreamFile(int fd) {
  struct stat st {};
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_size > 0xFFFFFFFFLL) return false;
  uint8_t head[network::kHeaderBytes];
  if (pread(fd, head, sizeof head, 0) != ssize_t(sizeof head)) return false;
  network::ZevHeader h;
  std::string failure;
  if (!network::parseZevHeader(head, sizeof head, h, failure)) {
    // A stream file of another codec is still a stream file: listed, so that the viewer's
    // source names the problem ("... is not Orvane") instead of the movie silently missing.
    return failure.ends_with("is not Orvane") && std::memcmp(head, "RIFF", 4) == 0;
  }
  return uint64_t(h.indexOffset) + uint64_t(h.indexEntries) * 8 <= uint64_t(st.st_size);
}

}  // namespace

std::string escapeBytes(const std::string& bytes) {
  std::string out;
  for (unsigned char ch : bytes) {
    if (ch >= 0x20 && ch < 0x7F && ch != '\\' && ch != '"') {
      out.push_back(char(ch));
    } else {
      char hex[8];
      std::snprintf(hex, sizeof hex, "\\x%02X", ch);
      out += hex;
    }
  }
  return out;
}

int openMovie(int dirFd, const std::string& name) {
  // Beneath the folder only, symbolic links included; without blocking on a FIFO or device.
  open_how how{};
  how.flags = O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY;
  how.resolve = RESOLVE_BENEATH | RESOLVE_NO_MAGICLINKS;
  int fd = int(syscall(SYS_openat2, dirFd, name.c_str(), &how, sizeof how));
  if (fd < 0 && errno == ENOSYS)  // an older kernel: no links at all
    fd = openat(dirFd, name.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY | O_NOFOLLOW);
  if (fd < 0) return -1;
  struct stat st {};
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    return -1;
  }
  return fd;
}

namespace {

std::vector<std::string> listFolder(int dfd) {
  std::vector<std::string> names;
  int copy = dup(dfd);
  if (copy < 0) return names;
  DIR* dir = fdopendir(copy);
  if (!dir) {
    ::close(copy);
    return names;
  }
  while (dirent* e = readdir(dir)) {
    std::string name = e->d_name;
    if (name.empty() || name[0] == '.' || name.size() >= kNameField) continue;
    int fd = openMovie(dfd, name);
    if (fd < 0) continue;
    if (isStreamFile(fd)) names.push_back(name);
    ::close(fd);
  }
  closedir(dir);
  std::sort(names.begin(), names.end());
  return names;
}

}  // namespace

std::vector<std::string> listMovies(const std::string& directory) {
  int dfd = ::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dfd < 0) return {};
  auto names = listFolder(dfd);
  ::close(dfd);
  return names;
}

// One reading of the folder: its descriptor (movies are opened through it, so a connection
// keeps the folder it was shown), the names, and the list as sent.
struct Server::Catalogue {
  int dirFd = -1;
  dev_t device = 0;
  ino_t inode = 0;
  timespec modified{};
  std::vector<std::string> names;
  std::string wire;
  ~Catalogue() {
    if (dirFd >= 0) ::close(dirFd);
  }
};

enum class Phase { SendList, ReadName, ReadRequest, SendRange };

struct Server::Connection {
  int fd = -1;
  uint64_t id = 0;
  std::string address;
  std::string peer;
  Phase phase = Phase::SendList;
  std::shared_ptr<const Catalogue> listed;
  size_t outPos = 0;
  uint8_t in[kNameField] = {};
  size_t inHave = 0;
  std::string movie;
  int file = -1;
  uint64_t fileSize = 0;
  off_t rangePos = 0;
  uint64_t rangeLeft = 0;
  uint64_t requests = 0;
  uint64_t emptyRequests = 0;
  uint64_t bytesSent = 0;
  int64_t lastProgress = 0;
  uint32_t events = 0;
  // Rate limit: bytes the connection may still send, refilled as time passes.
  double allowance = 0;
  int64_t allowanceAt = 0;
  bool throttled = false;
};

Server::~Server() {
  for (Connection* c : connections_) {
    if (c) {
      if (c->file >= 0) ::close(c->file);
      ::close(c->fd);
      delete c;
    }
  }
  for (int fd : listenFds_) ::close(fd);
  for (int fd : {metricsFd_, epollFd_, wakeFd_})
    if (fd >= 0) ::close(fd);
}

void Server::writeLog(const std::string& line) {
  if (options_.log)
    options_.log(line);
  else
    std::fprintf(stderr, "%s\n", line.c_str());
}

void Server::flushLogSummary(int64_t now) {
  if (logSuppressed_ == 0 || now - logWindowStart_ < 1000) return;
  writeLog(std::to_string(logSuppressed_) + " more log lines in the last second left out (flood)");
  logSuppressed_ = 0;
}

void Server::logLine(const std::string& line) {
  // The window opens with the first line of a burst, so a burst that straddles a clock second
  // is still one burst with one summary.
  const int64_t now = nowMs();
  if (now - logWindowStart_ >= 1000) {
    flushLogSummary(now);
    logWindowStart_ = now;
    logLines_ = 0;
  }
  if (++logLines_ > kLogBurst) {
    ++logSuppressed_;
    return;
  }
  writeLog(line);
}

void Server::countError(const std::string& reason) {
  ++errors_[reason];
}

bool Server::open(const ServerOptions& options) {
  options_ = options;
  refreshCatalogue(true);
  if (!catalogue_ || catalogue_->dirFd < 0) {
    error_ = "cannot open directory " + options.directory + ": " + std::strerror(errno);
    return false;
  }
  epollFd_ = epoll_create1(EPOLL_CLOEXEC);
  wakeFd_ = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
  if (epollFd_ < 0 || wakeFd_ < 0) {
    error_ = std::string("epoll: ") + std::strerror(errno);
    return false;
  }
  auto listenOn = [&](const std::string& text, uint16_t port, bool dualStack) {
    std::string host = text;
    if (host.size() >= 2 && host.front() == '[' && host.back() == ']')
      host = host.substr(1, host.size() - 2);
    sockaddr_storage addr{};
    socklen_t size = 0;
    auto* v4 = reinterpret_cast<sockaddr_in*>(&addr);
    auto* v6 = reinterpret_cast<sockaddr_in6*>(&addr);
    if (inet_pton(AF_INET, host.c_str(), &v4->sin_addr) == 1) {
      v4->sin_family = AF_INET;
      v4->sin_port = htons(port);
      size = sizeof *v4;
    } else if (inet_pton(AF_INET6, host.c_str(), &v6->sin6_addr) == 1) {
      v6->sin6_family = AF_INET6;
      v6->sin6_port = htons(port);
      size = sizeof *v6;
    } else {
      error_ = "not an IPv4 or IPv6 address: " + text;
      return -1;
    }
    int fd = socket(addr.ss_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    int one = 1, v6only = dualStack ? 0 : 1;
    if (fd < 0 || setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one) != 0 ||
        (addr.ss_family == AF_INET6 &&
         setsockopt(fd, IPPROTO_IPV6, IPV6_V6ONLY, &v6only, sizeof v6only) != 0) ||
        bind(fd, reinterpret_cast<sockaddr*>(&addr), size) != 0 || listen(fd, 1024) != 0) {
      error_ = "cannot listen on " + text + " port " + std::to_string(port) + ": " +
               std::strerror(errno);
      if (fd >= 0) ::close(fd);
      return -1;
    }
    return fd;
  };
  if (!options.listenFds.empty()) {
    for (int fd : options.listenFds) {
      fcntl(fd, F_SETFL, fcntl(fd, F_GETFL, 0) | O_NONBLOCK);
      fcntl(fd, F_SETFD, FD_CLOEXEC);
      listenFds_.push_back(fd);
    }
  } else {
    uint16_t port = options.port;
    for (const std::string& address : options.bindAddresses) {
      int fd = listenOn(address, port, options.bindAddresses.size() == 1);
      if (fd < 0) return false;
      listenFds_.push_back(fd);
      // Every address on the same port: an ephemeral one is fixed by the first.
      if (port == 0) {
        sockaddr_storage bound{};
        socklen_t len = sizeof bound;
        getsockname(fd, reinterpret_cast<sockaddr*>(&bound), &len);
        addressText(bound, &port);
      }
    }
  }
  if (listenFds_.empty()) {
    error_ = "no address to listen on";
    return false;
  }
  sockaddr_storage bound{};
  socklen_t len = sizeof bound;
  getsockname(listenFds_[0], reinterpret_cast<sockaddr*>(&bound), &len);
  addressText(bound, &port_);
  if (options.metricsPort >= 0) {
    const std::string where =
        options.bindAddresses.empty() ? std::string("127.0.0.1") : options.bindAddresses[0];
    metricsFd_ = listenOn(where, uint16_t(options.metricsPort), false);
    if (metricsFd_ < 0) return false;
    len = sizeof bound;
    getsockname(metricsFd_, reinterpret_cast<sockaddr*>(&bound), &len);
    addressText(bound, &metricsPort_);
  }
  epoll_event ev{};
  ev.events = EPOLLIN;
  for (int fd : listenFds_) {
    ev.data.fd = fd;
    epoll_ctl(epollFd_, EPOLL_CTL_ADD, fd, &ev);
  }
  for (int fd : {wakeFd_, metricsFd_}) {
    if (fd < 0) continue;
    ev.data.fd = fd;
    epoll_ctl(epollFd_, EPOLL_CTL_ADD, fd, &ev);
  }
  return true;
}

void Server::stop() {
  stopRequested_ = true;
  uint64_t one = 1;
  if (wakeFd_ >= 0) {
    [[maybe_unused]] ssize_t n = write(wakeFd_, &one, sizeof one);
  }
}

void Server::drain(int seconds) {
  drainSeconds_ = std::max(0, seconds);
  uint64_t one = 1;
  if (wakeFd_ >= 0) {
    [[maybe_unused]] ssize_t n = write(wakeFd_, &one, sizeof one);
  }
}

void Server::rescan() {
  rescanRequested_ = true;
  uint64_t one = 1;
  if (wakeFd_ >= 0) {
    [[maybe_unused]] ssize_t n = write(wakeFd_, &one, sizeof one);
  }
}

void Server::run() {
  // sendfile has no MSG_NOSIGNAL: a viewer that resets the connection mid-answer would raise
  // SIGPIPE and end whatever process hosts the server. Blocked on this thread, the signal stays
  // pending (and is discarded) while the call fails with EPIPE.
  const sigset_t pipe = pipeSignal();
  sigset_t saved;
  pthread_sigmask(SIG_BLOCK, &pipe, &saved);
  serve();
  const timespec now{0, 0};
  while (sigtimedwait(&pipe, nullptr, &now) > 0) {
  }
  pthread_sigmask(SIG_SETMASK, &saved, nullptr);
  writeMetricsFile();
}

void Server::refreshCatalogue(bool force) {
  struct stat st {};
  const bool present = ::stat(options_.directory.c_str(), &st) == 0;
  if (!force && catalogue_ && present && st.st_dev == catalogue_->device &&
      st.st_ino == catalogue_->inode && st.st_mtim.tv_sec == catalogue_->modified.tv_sec &&
      st.st_mtim.tv_nsec == catalogue_->modified.tv_nsec)
    return;
  auto fresh = std::make_shared<Catalogue>();
  fresh->dirFd = ::open(options_.directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fresh->dirFd < 0) {
    if (!catalogue_) catalogue_ = fresh;  // reported by open(); later: keep the last good one
    return;
  }
  struct stat opened {};
  fstat(fresh->dirFd, &opened);
  fresh->device = opened.st_dev;
  fresh->inode = opened.st_ino;
  fresh->modified = opened.st_mtim;
  fresh->names = listFolder(fresh->dirFd);
  putLe32(fresh->wire, uint32_t(fresh->names.size()));
  for (const std::string& name : fresh->names) {
    std::string field(kNameField, '\0');
    std::memcpy(field.data(), name.data(), name.size());
    fresh->wire += field;
  }
  catalogue_ = std::move(fresh);
}

void Server::stopListening() {
  for (int fd : listenFds_) {
    epoll_ctl(epollFd_, EPOLL_CTL_DEL, fd, nullptr);
    ::close(fd);
  }
  listenFds_.clear();
}

void Server::serve() {
  std::vector<epoll_event> events(256);
  int64_t lastSweep = nowMs();
  for (;;) {
    bool anyThrottled = false;
    for (Connection* c : connections_) anyThrottled |= c && c->throttled;
    int n = epoll_wait(epollFd_, events.data(), int(events.size()), anyThrottled ? 10 : 250);
    if (n < 0 && errno != EINTR) break;
    for (int i = 0; i < n; ++i) {
      int fd = events[i].data.fd;
      if (fd == wakeFd_) {
        uint64_t count;
        [[maybe_unused]] ssize_t r = read(wakeFd_, &count, sizeof count);
      } else if (fd == metricsFd_) {
        acceptMetrics();
      } else if (std::find(listenFds_.begin(), listenFds_.end(), fd) != listenFds_.end()) {
        acceptAll(fd);
      } else if (size_t(fd) < connections_.size() && connections_[fd]) {
        handle(*connections_[fd], events[i].events);
      }
    }
    if (stopRequested_) return;
    if (const int seconds = drainSeconds_.exchange(-1); seconds >= 0 && !draining_) {
      draining_ = true;
      drainDeadline_ = nowMs() + int64_t(seconds) * 1000;
      stopListening();
      logLine("draining: no new connections; " + std::to_string(openConnections_) +
              " viewer(s) served for up to " + std::to_string(seconds) + " s");
    }
    if (rescanRequested_.exchange(false)) {
      if (reopenLog) reopenLog();
      refreshCatalogue(true);
      logLine("rescan: " + std::to_string(catalogue_->names.size()) + " movie(s)");
    }
    int64_t now = nowMs();
    if (draining_ && (openConnections_ == 0 || now >= drainDeadline_)) {
      logLine("drained: " + std::to_string(openConnections_) + " viewer(s) left");
      return;
    }
    if (anyThrottled) {
      for (Connection* c : connections_)
        if (c && c->throttled) {
          c->throttled = false;
          watch(*c, EPOLLOUT);
        }
    }
    if (now - lastSweep >= 250) {
      sweep(now);
      pauseAccepting(false);  // try again now and then: descriptors may have been freed elsewhere
      lastSweep = now;
    }
  }
}

void Server::acceptMetrics() {
  // A scrape: answer at once and close; the request itself is read and ignored.
  int fd = accept4(metricsFd_, nullptr, nullptr, SOCK_CLOEXEC);
  if (fd < 0) return;
  timeval brief{0, 200000};
  setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &brief, sizeof brief);
  setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &brief, sizeof brief);
  char request[2048];
  [[maybe_unused]] ssize_t r = recv(fd, request, sizeof request, 0);
  const std::string body = metricsText();
  const std::string reply =
      "HTTP/1.0 200 OK\r\nContent-Type: text/plain; version=0.0.4\r\nContent-Length: " +
      std::to_string(body.size()) + "\r\nConnection: close\r\n\r\n" + body;
  [[maybe_unused]] ssize_t w = send(fd, reply.data(), reply.size(), MSG_NOSIGNAL);
  ::shutdown(fd, SHUT_WR);
  ::close(fd);
}

void Server::acceptAll(int listenFd) {
  for (;;) {
    sockaddr_storage peer{};
    socklen_t len = sizeof peer;
    int fd =
        accept4(listenFd, reinterpret_cast<sockaddr*>(&peer), &len, SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (fd < 0) {
      if (errno == EINTR || errno == ECONNABORTED) continue;
      if (errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM) {
        // The waiting connection stays queued and the listening socket stays readable: stop
        // watching it until a connection closes, or the loop would spin and flood the log.
        if (!shortageLogged_)
          logLine("accept: out of file descriptors; waiting for connections to close");
        shortageLogged_ = true;
        pauseAccepting(true);
      }
      return;
    }
    uint16_t peerPort = 0;
    const std::string address = addressText(peer, &peerPort);
    const std::string peerName =
        (address.find(':') != std::string::npos ? "[" + address + "]" : address) + ":" +
        std::to_string(peerPort);
    const char* refusal = nullptr;
    if (openConnections_ >= options_.maxConnections)
      refusal = "too many connections";
    else if (options_.maxPerAddress > 0 && perAddress_[address] >= options_.maxPerAddress)
      refusal = "too many connections from this address";
    if (refusal) {
      ++refused_;
      countError(refusal);
      logLine("#- " + peerName + " refused: " + refusal);
      ::close(fd);
      continue;
    }
    shortageLogged_ = false;
    ++accepted_;
    // The send buffer is capped: a thousand viewers must not each pin megabytes of kernel memory.
    if (options_.sendBufferBytes > 0)
      setsockopt(fd, SOL_SOCKET, SO_SNDBUF, &options_.sendBufferBytes,
                 sizeof options_.sendBufferBytes);
    auto* c = new Connection;
    c->fd = fd;
    c->id = nextId_++;
    c->address = address;
    c->peer = peerName;
    c->lastProgress = nowMs();
    c->allowanceAt = c->lastProgress;
    c->allowance = double(options_.bytesPerSecond) / 4;
    // The folder is looked at again at most every second, however many viewers arrive.
    if (c->lastProgress - checkedAt_ >= 1000) {
      refreshCatalogue(false);
      checkedAt_ = c->lastProgress;
    }
    c->listed = catalogue_;
    ++perAddress_[address];
    if (size_t(fd) >= connections_.size()) connections_.resize(size_t(fd) + 1, nullptr);
    connections_[fd] = c;
    ++openConnections_;
    epoll_event ev{};
    ev.events = EPOLLOUT;
    ev.data.fd = fd;
    c->events = EPOLLOUT;
    epoll_ctl(epollFd_, EPOLL_CTL_ADD, fd, &ev);
  }
}

void Server::close(Connection& c, const char* reason) {
  std::string line = "#";
  line.append(std::to_string(c.id)).append(" ").append(c.peer).append(" movie=\"");
  line.append(escapeBytes(c.movie)).append("\" requests=").append(std::to_string(c.requests));
  if (c.emptyRequests) line.append(" empty=").append(std::to_string(c.emptyRequests));
  line.append(" bytes=").append(std::to_string(c.bytesSent)).append(" closed: ").append(reason);
  logLine(line);
  if (std::strcmp(reason, "client done") != 0) countError(reason);
  epoll_ctl(epollFd_, EPOLL_CTL_DEL, c.fd, nullptr);
  if (c.file >= 0) ::close(c.file);
  ::close(c.fd);
  connections_[c.fd] = nullptr;
  --openConnections_;
  if (auto it = perAddress_.find(c.address); it != perAddress_.end() && --it->second == 0)
    perAddress_.erase(it);
  delete &c;
  pauseAccepting(false);
}

void Server::pauseAccepting(bool pause) {
  if (pause == acceptPaused_) return;
  acceptPaused_ = pause;
  epoll_event ev{};
  ev.events = pause ? 0u : uint32_t(EPOLLIN);
  for (int fd : listenFds_) {
    ev.data.fd = fd;
    epoll_ctl(epollFd_, EPOLL_CTL_MOD, fd, &ev);
  }
}

void Server::watch(Connection& c, uint32_t events) {
  if (events == c.events) return;
  c.events = events;
  epoll_event ev{};
  ev.events = events;
  ev.data.fd = c.fd;
  epoll_ctl(epollFd_, EPOLL_CTL_MOD, c.fd, &ev);
}

void Server::sweep(int64_t now) {
  // Idle means no progress: a connection that sends only empty requests is idle too.
  for (Connection* c : connections_)
    if (c && now - c->lastProgress > options_.idleTimeoutMs) close(*c, "idle time-out");
  // A flood that no later line follows still gets its summary once its second is over.
  flushLogSummary(now);
  if (now - metricsWrittenAt_ >= 1000) {
    writeMetricsFile();
    metricsWrittenAt_ = now;
  }
}

void Server::handle(Connection& c, uint32_t events) {
  if (events & (EPOLLERR | EPOLLHUP)) return close(c, "connection error");
  const bool sending = c.phase == Phase::SendList || c.phase == Phase::SendRange;
  if ((events & EPOLLOUT) && sending && !writeOutput(c)) return;
  if ((events & EPOLLIN) && !sending && !readInput(c)) return;
  // While sending, input is left in the socket: a client that runs ahead waits in its own
  // buffers, and the loop never spins on input it cannot use yet.
  const bool want = c.phase == Phase::SendList || c.phase == Phase::SendRange;
  if (c.throttled)
    watch(c, 0);
  else
    watch(c, want ? uint32_t(EPOLLOUT) : uint32_t(EPOLLIN));
}

// Sends what is pending; false when the connection was closed.
bool Server::writeOutput(Connection& c) {
  while (c.phase == Phase::SendList) {
    const std::string& out = c.listed->wire;
    ssize_t n = send(c.fd, out.data() + c.outPos, out.size() - c.outPos, MSG_NOSIGNAL);
    if (n < 0) {
      if (errno == EAGAIN || errno == EINTR) return true;
      close(c, "send failed");
      return false;
    }
    c.lastProgress = nowMs();
    c.outPos += size_t(n);
    if (c.outPos == out.size()) {
      c.phase = Phase::ReadName;
      // The name may already be waiting.
      if (!processInput(c)) return false;
    }
  }
  while (c.phase == Phase::SendRange) {
    size_t count = size_t(std::min<uint64_t>(c.rangeLeft, 1u << 20));
    if (options_.bytesPerSecond > 0) {
      const int64_t now = nowMs();
      const double rate = double(options_.bytesPerSecond);
      c.allowance = std::min(rate / 4, c.allowance + rate * double(now - c.allowanceAt) / 1000);
      c.allowanceAt = now;
      if (c.allowance < 1) {
        c.throttled = true;
        return true;
      }
      count = std::min(count, size_t(c.allowance));
    }
    ssize_t n = sendfile(c.fd, c.file, &c.rangePos, count);
    if (n < 0) {
      if (errno == EAGAIN || errno == EINTR) return true;
      if (errno == EPIPE) {
        const sigset_t pipe = pipeSignal();
        const timespec now{0, 0};
        sigtimedwait(&pipe, nullptr, &now);  // the blocked SIGPIPE this raised
      }
      close(c, "send failed");
      return false;
    }
    if (n == 0) {  // the file shrank under us
      close(c, "file truncated while serving");
      return false;
    }
    c.lastProgress = nowMs();
    c.bytesSent += uint64_t(n);
    bytesSent_ += uint64_t(n);
    c.allowance -= double(n);
    c.rangeLeft -= uint64_t(n);
    if (c.rangeLeft == 0) {
      c.phase = Phase::ReadRequest;
      if (!processInput(c)) return false;
    }
  }
  return true;
}

// Reads what arrived; false when the connection was closed.
bool Server::readInput(Connection& c) {
  for (;;) {
    // Only as much as the current step needs: a client may pipeline its next request.
    if (c.phase == Phase::SendList || c.phase == Phase::SendRange) return true;
    size_t need = c.phase == Phase::ReadName ? kNameField : 8;
    ssize_t n = recv(c.fd, c.in + c.inHave, need - c.inHave, 0);
    if (n == 0) {
      close(c, c.phase == Phase::ReadRequest && c.inHave == 0 ? "client done"
                                                              : "client closed mid-message");
      return false;
    }
    if (n < 0) {
      if (errno == EAGAIN || errno == EINTR) return true;
      close(c, "receive failed");
      return false;
    }
    c.inHave += size_t(n);
    if (!processInput(c)) return false;
  }
}

bool Server::processInput(Connection& c) {
  if (c.phase == Phase::ReadName && c.inHave == kNameField) {
    c.inHave = 0;
    c.lastProgress = nowMs();
    const char* field = reinterpret_cast<const char*>(c.in);
    size_t len = strnlen(field, kNameField);
    std::string name(field, len);
    const auto& names = c.listed->names;
    if (len == kNameField || std::find(names.begin(), names.end(), name) == names.end()) {
      c.movie = name.substr(0, 64);
      close(c, "movie name not in the list");
      return false;
    }
    c.movie = name;
    // Opened through the folder the viewer was shown; a file swapped since for a FIFO, a device
    // or a link out of the folder is refused without blocking.
    c.file = openMovie(c.listed->dirFd, name);
    c.listed.reset();
    struct stat st {};
    if (c.file < 0 || fstat(c.file, &st) != 0) {
      close(c, "movie cannot be opened");
      return false;
    }
    c.fileSize = uint64_t(st.st_size);
    c.phase = Phase::ReadRequest;
  }
  if (c.phase == Phase::ReadRequest && c.inHave >= 8) {
    uint64_t offset = le32(c.in), length = le32(c.in + 4);
    c.inHave = 0;
    ++c.requests;
    ++requestsByMovie_[c.movie];
    if (length > options_.maxRequestLength) {
      close(c, "range request too long");
      return false;
    }
    if (offset + length > c.fileSize) {
      close(c, "range outside the file");
      return false;
    }
    if (length == 0) {
      ++c.emptyRequests;  // no progress: the idle timer still runs
      return true;
    }
    c.lastProgress = nowMs();
    c.rangePos = off_t(offset);
    c.rangeLeft = length;
    c.phase = Phase::SendRange;
    return writeOutput(c);
  }
  return true;
}

std::string Server::metricsText() const {
  std::string out;
  auto metric = [&out](const char* name, const char* type, const char* help, uint64_t value) {
    out += std::string("# HELP ") + name + " " + help + "\n# TYPE " + name + " " + type + "\n";
    out += std::string(name) + " " + std::to_string(value) + "\n";
  };
  metric("zevserve_connections_total", "counter", "Connections accepted.", accepted_);
  metric("zevserve_connections_refused_total", "counter", "Connections refused by a limit.",
         refused_);
  metric("zevserve_connections_open", "gauge", "Connections open now.", openConnections_);
  metric("zevserve_bytes_sent_total", "counter", "Movie bytes sent.", bytesSent_);
  metric("zevserve_movies", "gauge", "Movies listed.", catalogue_ ? catalogue_->names.size() : 0);
  out +=
      "# HELP zevserve_requests_total Range requests by movie.\n"
      "# TYPE zevserve_requests_total counter\n";
  for (const auto& [movie, n] : requestsByMovie_)
    out += "zevserve_requests_total{movie=\"" + labelValue(escapeBytes(movie)) + "\"} " +
           std::to_string(n) + "\n";
  out +=
      "# HELP zevserve_errors_total Connections closed for a fault, by reason.\n"
      "# TYPE zevserve_errors_total counter\n";
  for (const auto& [reason, n] : errors_)
    out +=
        "zevserve_errors_total{reason=\"" + labelValue(reason) + "\"} " + std::to_string(n) + "\n";
  return out;
}

void Server::writeMetricsFile() {
  if (options_.metricsFile.empty()) return;
  // Written beside and renamed over, so a reader never sees half a file.
  const std::string temporary = options_.metricsFile + ".tmp";
  if (FILE* f = std::fopen(temporary.c_str(), "w")) {
    const std::string text = metricsText();
    const bool ok = std::fwrite(text.data(), 1, text.size(), f) == text.size();
    if (std::fclose(f) == 0 && ok) std::rename(temporary.c_str(), options_.metricsFile.c_str());
  }
}

}  // namespace zov::zevserve

#include "tools/zevserve/server.h"

#include <arpa/inet.h>
#include <dirent.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <pthread.h>
#include <signal.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/sendfile.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>

namespace zov::zevserve {

namespace {

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

}  // namespace

std::vector<std::string> listMovies(const std::string& directory) {
  std::vector<std::string> names;
  int dfd = ::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dfd < 0) return names;
  DIR* dir = fdopendir(dfd);
  if (!dir) {
    ::close(dfd);
    return names;
  }
  while (dirent* e = readdir(dir)) {
    std::string name = e->d_name;
    if (name.empty() || name[0] == '.' || name.size() >= kNameField) continue;
    int fd = openat(dfd, name.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) continue;
    struct stat st {};
    uint8_t head[12] = {};
    bool ok = fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size <= 0xFFFFFFFFLL &&
              pread(fd, head, sizeof head, 0) == ssize_t(sizeof head) &&
              std::memcmp(head, "RIFF", 4) == 0 && std::memcmp(head + 8, "AVI ", 4) == 0;
    ::close(fd);
    if (ok) names.push_back(name);
  }
  closedir(dir);
  std::sort(names.begin(), names.end());
  return names;
}

enum class Phase { SendList, ReadName, ReadRequest, SendRange };

struct Server::Connection {
  int fd = -1;
  uint64_t id = 0;
  std::string peer;
  Phase phase = Phase::SendList;
  std::vector<std::string> listed;
  std::string out;  // pending bytes of the list
  size_t outPos = 0;
  uint8_t in[kNameField] = {};
  size_t inHave = 0;
  std::string movie;
  int file = -1;
  uint64_t fileSize = 0;
  off_t rangePos = 0;
  uint64_t rangeLeft = 0;
  uint64_t requests = 0;
  uint64_t bytesSent = 0;
  int64_t lastActivity = 0;
  bool wantWrite = false;
};

Server::~Server() {
  for (Connection* c : connections_) {
    if (c) {
      if (c->file >= 0) ::close(c->file);
      ::close(c->fd);
      delete c;
    }
  }
  for (int fd : {listenFd_, epollFd_, wakeFd_, dirFd_})
    if (fd >= 0) ::close(fd);
}

void Server::logLine(const std::string& line) {
  if (options_.log)
    options_.log(line);
  else
    std::fprintf(stderr, "%s\n", line.c_str());
}

bool Server::open(const ServerOptions& options) {
  options_ = options;
  dirFd_ = ::open(options.directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dirFd_ < 0) {
    error_ = "cannot open directory " + options.directory + ": " + std::strerror(errno);
    return false;
  }
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(options.port);
  if (inet_pton(AF_INET, options.bindAddress.c_str(), &addr.sin_addr) != 1) {
    error_ = "not an IPv4 address: " + options.bindAddress;
    return false;
  }
  listenFd_ = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  int one = 1;
  if (listenFd_ < 0 || setsockopt(listenFd_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one) != 0 ||
      bind(listenFd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
      listen(listenFd_, 1024) != 0) {
    error_ = "cannot listen on " + options.bindAddress + ":" + std::to_string(options.port) + ": " +
             std::strerror(errno);
    return false;
  }
  socklen_t len = sizeof addr;
  getsockname(listenFd_, reinterpret_cast<sockaddr*>(&addr), &len);
  port_ = ntohs(addr.sin_port);
  epollFd_ = epoll_create1(EPOLL_CLOEXEC);
  wakeFd_ = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
  if (epollFd_ < 0 || wakeFd_ < 0) {
    error_ = std::string("epoll: ") + std::strerror(errno);
    return false;
  }
  epoll_event ev{};
  ev.events = EPOLLIN;
  ev.data.fd = listenFd_;
  epoll_ctl(epollFd_, EPOLL_CTL_ADD, listenFd_, &ev);
  ev.data.fd = wakeFd_;
  epoll_ctl(epollFd_, EPOLL_CTL_ADD, wakeFd_, &ev);
  return true;
}

void Server::stop() {
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
}

void Server::serve() {
  std::vector<epoll_event> events(256);
  int64_t lastSweep = nowMs();
  for (;;) {
    int n = epoll_wait(epollFd_, events.data(), int(events.size()), 250);
    if (n < 0 && errno != EINTR) break;
    for (int i = 0; i < n; ++i) {
      int fd = events[i].data.fd;
      if (fd == wakeFd_) return;
      if (fd == listenFd_) {
        acceptAll();
      } else if (size_t(fd) < connections_.size() && connections_[fd]) {
        handle(*connections_[fd], events[i].events);
      }
    }
    int64_t now = nowMs();
    if (now - lastSweep >= 250) {
      sweepIdle();
      pauseAccepting(false);  // try again now and then: descriptors may have been freed elsewhere
      lastSweep = now;
    }
  }
}

void Server::acceptAll() {
  for (;;) {
    sockaddr_in peer{};
    socklen_t len = sizeof peer;
    int fd =
        accept4(listenFd_, reinterpret_cast<sockaddr*>(&peer), &len, SOCK_NONBLOCK | SOCK_CLOEXEC);
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
    char text[INET_ADDRSTRLEN] = "?";
    inet_ntop(AF_INET, &peer.sin_addr, text, sizeof text);
    std::string peerName = std::string(text) + ":" + std::to_string(ntohs(peer.sin_port));
    if (openConnections_ >= options_.maxConnections) {
      logLine("#- " + peerName + " refused: too many connections");
      ::close(fd);
      continue;
    }
    shortageLogged_ = false;
    auto* c = new Connection;
    c->fd = fd;
    c->id = nextId_++;
    c->peer = peerName;
    c->lastActivity = nowMs();
    // The directory is read again at most every second, however many viewers arrive.
    if (nowMs() - listedAt_ >= 1000 || listedAt_ == 0) {
      movies_ = listMovies(options_.directory);
      listedAt_ = nowMs();
    }
    c->listed = movies_;
    putLe32(c->out, uint32_t(c->listed.size()));
    for (const std::string& name : c->listed) {
      std::string field(kNameField, '\0');
      std::memcpy(field.data(), name.data(), name.size());
      c->out += field;
    }
    if (size_t(fd) >= connections_.size()) connections_.resize(size_t(fd) + 1, nullptr);
    connections_[fd] = c;
    ++openConnections_;
    epoll_event ev{};
    ev.events = EPOLLOUT;
    ev.data.fd = fd;
    c->wantWrite = true;
    epoll_ctl(epollFd_, EPOLL_CTL_ADD, fd, &ev);
  }
}

void Server::close(Connection& c, const char* reason) {
  std::string line = "#";
  line.append(std::to_string(c.id)).append(" ").append(c.peer).append(" movie=\"");
  line.append(c.movie).append("\" requests=").append(std::to_string(c.requests));
  line.append(" bytes=").append(std::to_string(c.bytesSent)).append(" closed: ").append(reason);
  logLine(line);
  epoll_ctl(epollFd_, EPOLL_CTL_DEL, c.fd, nullptr);
  if (c.file >= 0) ::close(c.file);
  ::close(c.fd);
  connections_[c.fd] = nullptr;
  --openConnections_;
  delete &c;
  pauseAccepting(false);
}

void Server::pauseAccepting(bool pause) {
  if (pause == acceptPaused_) return;
  acceptPaused_ = pause;
  epoll_event ev{};
  ev.events = pause ? 0u : uint32_t(EPOLLIN);
  ev.data.fd = listenFd_;
  epoll_ctl(epollFd_, EPOLL_CTL_MOD, listenFd_, &ev);
}

void Server::sweepIdle() {
  int64_t now = nowMs();
  for (Connection* c : connections_)
    if (c && now - c->lastActivity > options_.idleTimeoutMs) close(*c, "idle time-out");
}

void Server::handle(Connection& c, uint32_t events) {
  if (events & (EPOLLERR | EPOLLHUP)) return close(c, "connection error");
  if ((events & EPOLLOUT) && c.wantWrite && !writeOutput(c)) return;
  if ((events & EPOLLIN) && !c.wantWrite && !readInput(c)) return;
  // While sending, input is left in the socket: a client that runs ahead waits in its own
  // buffers, and the loop never spins on input it cannot use yet.
  bool want = c.phase == Phase::SendList || c.phase == Phase::SendRange;
  if (want != c.wantWrite) {
    c.wantWrite = want;
    epoll_event ev{};
    ev.events = want ? uint32_t(EPOLLOUT) : uint32_t(EPOLLIN);
    ev.data.fd = c.fd;
    epoll_ctl(epollFd_, EPOLL_CTL_MOD, c.fd, &ev);
  }
}

// Sends what is pending; false when the connection was closed.
bool Server::writeOutput(Connection& c) {
  while (c.phase == Phase::SendList) {
    ssize_t n = send(c.fd, c.out.data() + c.outPos, c.out.size() - c.outPos, MSG_NOSIGNAL);
    if (n < 0) {
      if (errno == EAGAIN || errno == EINTR) return true;
      close(c, "send failed");
      return false;
    }
    c.lastActivity = nowMs();
    c.outPos += size_t(n);
    if (c.outPos == c.out.size()) {
      c.out.clear();
      c.out.shrink_to_fit();
      c.phase = Phase::ReadName;
      // The name may already be waiting.
      if (!processInput(c)) return false;
    }
  }
  while (c.phase == Phase::SendRange) {
    size_t count = size_t(std::min<uint64_t>(c.rangeLeft, 1u << 20));
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
    c.lastActivity = nowMs();
    c.bytesSent += uint64_t(n);
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
    c.lastActivity = nowMs();
    c.inHave += size_t(n);
    if (!processInput(c)) return false;
  }
}

bool Server::processInput(Connection& c) {
  if (c.phase == Phase::ReadName && c.inHave == kNameField) {
    c.inHave = 0;
    const char* field = reinterpret_cast<const char*>(c.in);
    size_t len = strnlen(field, kNameField);
    std::string name(field, len);
    if (len == kNameField || std::find(c.listed.begin(), c.listed.end(), name) == c.listed.end()) {
      c.movie = name.substr(0, 64);
      close(c, "movie name not in the list");
      return false;
    }
    c.movie = name;
    c.listed.clear();
    c.listed.shrink_to_fit();
    c.file = openat(dirFd_, name.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    struct stat st {};
    if (c.file < 0 || fstat(c.file, &st) != 0 || !S_ISREG(st.st_mode)) {
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
    if (length > options_.maxRequestLength) {
      close(c, "range request too long");
      return false;
    }
    if (offset + length > c.fileSize) {
      close(c, "range outside the file");
      return false;
    }
    if (length == 0) return true;
    c.rangePos = off_t(offset);
    c.rangeLeft = length;
    c.phase = Phase::SendRange;
    c.wantWrite = false;  // handle() re-arms EPOLLOUT
    return writeOutput(c);
  }
  return true;
}

}  // namespace zov::zevserve

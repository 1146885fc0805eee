#include "zev_fixture.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <stdexcept>

namespace zov::test {

namespace {

void put32(std::vector<uint8_t>& b, uint32_t v) {
  for (int i = 0; i < 4; ++i) b.push_back(uint8_t(v >> (8 * i)));
}
void set32(std::vector<uint8_t>& b, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + i] = uint8_t(v >> (8 * i));
}
void tag(std::vector<uint8_t>& b, const char* t) {
  b.insert(b.end(), t, t + 4);
}

}  // namespace

ZevMovie makeZevMovie(uint32_t frames, bool audio, uint32_t initial,
                      uint32_t (*videoSize)(uint32_t), const char* handler) {
  ZevMovie m;
  m.frames = frames;
  m.audio = audio;
  m.initialFrames = audio ? initial : 0;
  m.handler = handler;
  std::vector<uint8_t>& b = m.bytes;
  tag(b, "RIFF");
  put32(b, 0);
  tag(b, "AVI ");
  tag(b, "LIST");
  put32(b, 0);  // hdrl size, set below
  tag(b, "hdrl");
  tag(b, "avih");
  put32(b, 56);
  const uint32_t avih[14] = {66666,           0, 0,   0x10, frames, m.initialFrames,
                             audio ? 2u : 1u, 0, 320, 240};
  for (uint32_t v : avih) put32(b, v);
  // Video stream list: strh (56) and strf (40).
  tag(b, "LIST");
  put32(b, 4 + 8 + 56 + 8 + 40);
  tag(b, "strl");
  tag(b, "strh");
  put32(b, 56);
  tag(b, "vids");
  tag(b, handler);
  const uint32_t vstrh[12] = {0, 0, 0, 1, 15, 0, frames, 0, 0, 0, 0, 0};
  for (uint32_t v : vstrh) put32(b, v);
  tag(b, "strf");
  put32(b, 40);
  const uint32_t bih[10] = {40, 320, 240, 16 | (1u << 16), 0x32760200, 320 * 240 * 2, 0, 0, 0, 0};
  for (uint32_t v : bih) put32(b, v);
  if (audio) {
    tag(b, "LIST");
    put32(b, 4 + 8 + 56 + 8 + 18);
    tag(b, "strl");
    tag(b, "strh");
    put32(b, 56);
    tag(b, "auds");
    put32(b, 0);
    const uint32_t astrh[12] = {0, 0, initial, 1, 11025, 0, 0, 0, 0, 1, 0, 0};
    for (uint32_t v : astrh) put32(b, v);
    tag(b, "strf");
    put32(b, 18);
    const uint8_t wf[18] = {0xFF, 0xFF, 1, 0, 0x11, 0x2B, 0, 0, 0x11, 0x2B, 0, 0, 1, 0, 8, 0, 0, 0};
    b.insert(b.end(), wf, wf + 18);
  }
  set32(b, 16, uint32_t(b.size() - 20));
  // JUNK up to 2036, then the movie list header.
  size_t junkData = 2036 - b.size() - 8;
  tag(b, "JUNK");
  put32(b, uint32_t(junkData));
  b.insert(b.end(), junkData, uint8_t('j'));
  const size_t movi = b.size();
  tag(b, "LIST");
  put32(b, 0);
  tag(b, "movi");
  // Chunks in the remote index order.
  const uint32_t t = frames, i = m.initialFrames;
  std::vector<std::pair<bool, uint32_t>> order;  // (video?, number)
  if (!audio) {
    for (uint32_t v = 0; v < t; ++v) order.push_back({true, v});
  } else {
    for (uint32_t a = 0; a < i; ++a) order.push_back({false, a});
    for (uint32_t k = 0; k < t - i; ++k) {
      order.push_back({true, k});
      order.push_back({false, i + k});
    }
    for (uint32_t v = t - i; v < t; ++v) order.push_back({true, v});
  }
  std::vector<uint8_t> index;
  for (auto [video, n] : order) {
    uint32_t size = video ? videoSize(n) : 735 + (n % 3);
    std::vector<uint8_t> chunk(size);
    for (uint32_t k = 0; k < size; ++k)
      chunk[k] = uint8_t((k * 31 + n * 7 + (video ? 0 : 101)) ^ (k >> 8));
    m.offsets.push_back(uint32_t(b.size()));
    put32(index, uint32_t(b.size()));
    put32(index, size | (video && n % 10 == 0 ? 0x80000000u : 0));
    b.insert(b.end(), chunk.begin(), chunk.end());
    m.chunks.push_back(std::move(chunk));
  }
  set32(b, movi + 4, uint32_t(b.size() - movi - 8));
  if (b.size() & 1) b.push_back(0);
  m.indexOffset = uint32_t(b.size());
  b.insert(b.end(), index.begin(), index.end());
  set32(b, 4, uint32_t(b.size() - 8));
  return m;
}

void writeFile(const std::filesystem::path& path, const std::vector<uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

std::vector<uint8_t> readFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

RunningServer::RunningServer(const std::string& dir, int idleTimeoutMs, uint16_t port,
                             const std::string& bind)
    : RunningServer([&] {
        zevserve::ServerOptions options;
        options.directory = dir;
        options.bindAddresses = {bind};
        options.port = port;
        options.idleTimeoutMs = idleTimeoutMs;
        return options;
      }()) {}

RunningServer::RunningServer(zevserve::ServerOptions options) {
  options.log = [this](const std::string& line) {
    std::lock_guard lock(logLock_);
    log_.push_back(line);
  };
  if (!server_.open(options)) throw std::runtime_error(server_.error());
  thread_ = std::thread([this] { server_.run(); });
}

RunningServer::~RunningServer() {
  server_.stop();
  thread_.join();
}

std::vector<std::string> RunningServer::log() const {
  std::lock_guard lock(logLock_);
  return log_;
}

int listenLoopback(uint16_t& port, int backlog) {
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
  listen(fd, backlog);
  socklen_t len = sizeof addr;
  getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
  port = ntohs(addr.sin_port);
  return fd;
}

ScriptServer::ScriptServer(std::function<void(int fd)> script, int connections) {
  listenFd_ = listenLoopback(port_, 4);
  thread_ = std::thread([this, script, connections] {
    for (int i = 0; i < connections; ++i) {
      int fd = accept(listenFd_, nullptr, nullptr);
      if (fd >= 0) ++accepted_;
      if (fd < 0 || i + 1 == connections) {
        // No more connections: a client that tries again is refused at once.
        std::lock_guard lock(listenLock_);
        close(listenFd_);
        listenFd_ = -1;
      }
      if (fd < 0) return;
      script(fd);
      close(fd);
    }
  });
}

ScriptServer::~ScriptServer() {
  {
    std::lock_guard lock(listenLock_);
    if (listenFd_ >= 0) shutdown(listenFd_, SHUT_RDWR);  // wakes an accept that never got a client
  }
  thread_.join();
}

int connectLoopback(uint16_t port, int timeoutMs) {
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  timeval tv{timeoutMs / 1000, (timeoutMs % 1000) * 1000};
  setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
  setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(port);
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
    close(fd);
    return -1;
  }
  return fd;
}

bool sendAll(int fd, const void* data, size_t size) {
  auto* p = static_cast<const uint8_t*>(data);
  while (size) {
    ssize_t n = send(fd, p, size, MSG_NOSIGNAL);
    if (n <= 0) return false;
    p += n;
    size -= size_t(n);
  }
  return true;
}

bool recvAll(int fd, void* data, size_t size) {
  auto* p = static_cast<uint8_t*>(data);
  while (size) {
    ssize_t n = recv(fd, p, size, 0);
    if (n <= 0) return false;
    p += n;
    size -= size_t(n);
  }
  return true;
}

bool peerClosed(int fd) {
  uint8_t b;
  ssize_t n = recv(fd, &b, 1, 0);
  return n == 0 || (n < 0 && errno == ECONNRESET);
}

}  // namespace zov::test

// Test helpers: hand-built ZEV stream files, a zevserve on an ephemeral loopback port, and tiny
// scripted servers for the failure cases.
#pragma once

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "tools/zevserve/server.h"

namespace zov::test {

struct ZevMovie {
  uint32_t frames = 0;
  uint32_t initialFrames = 0;
  bool audio = false;
  const char* handler = "zov2";
  std::vector<uint8_t> bytes;                // the whole file
  std::vector<std::vector<uint8_t>> chunks;  // in remote index order
  std::vector<uint32_t> offsets;             // of each chunk
  uint32_t indexOffset = 0;
};

// A ZEV stream file as the compressor's stream mode lays it out: headers, a JUNK chunk that
// puts the movie data at 2,048, raw chunks back to back, then the raw 8-byte index.
ZevMovie makeZevMovie(uint32_t frames, bool audio, uint32_t initialFrames,
                      uint32_t (*videoSize)(uint32_t), const char* handler = "zov2");

void writeFile(const std::filesystem::path& path, const std::vector<uint8_t>& bytes);
std::vector<uint8_t> readFile(const std::filesystem::path& path);

// zevserve on 127.0.0.1 with an ephemeral port, run on its own thread.
class RunningServer {
 public:
  explicit RunningServer(const std::string& dir, int idleTimeoutMs = 30000, uint16_t port = 0,
                         const std::string& bind = "127.0.0.1");
  ~RunningServer();
  // With options of the test's own (the log is taken over).
  explicit RunningServer(zevserve::ServerOptions options);
  uint16_t port() const { return server_.port(); }
  zevserve::Server& server() { return server_; }
  std::vector<std::string> log() const;

 private:
  zevserve::Server server_;
  std::thread thread_;
  mutable std::mutex logLock_;
  std::vector<std::string> log_;
};

// A server on 127.0.0.1 that takes `connections` connections one after the other and runs
// `script` with each accepted socket.
class ScriptServer {
 public:
  explicit ScriptServer(std::function<void(int fd)> script, int connections = 1);
  ~ScriptServer();
  uint16_t port() const { return port_; }
  int accepted() const { return accepted_; }

 private:
  std::atomic<int> accepted_{0};
  std::mutex listenLock_;
  int listenFd_ = -1;
  uint16_t port_ = 0;
  std::thread thread_;
};

// A listening socket on 127.0.0.1 with an ephemeral port (stored in `port`).
int listenLoopback(uint16_t& port, int backlog);
// A blocking loopback client with a receive time limit.
int connectLoopback(uint16_t port, int timeoutMs = 10000);
bool sendAll(int fd, const void* data, size_t size);
bool recvAll(int fd, void* data, size_t size);
// True when the peer closed the connection (a read gives 0 or a reset) within the time limit.
bool peerClosed(int fd);

}  // namespace zov::test

// zevserve: a movie server for the network movie source.
//
// Protocol (one TCP connection per viewer, integers little-endian, no framing beyond fixed sizes):
// the server sends a 32-bit count and that many 256-byte zero-terminated movie names; the client
// answers with one name (256 bytes); then any number of range requests follow, each 8 bytes
// (offset, length), answered with exactly that many bytes of the movie file.
//
// The server is one event loop over epoll with non-blocking sockets, so a thousand slow viewers
// cost a thousand small records and no threads. A name is accepted only when it is one of the
// names just listed (never a path), a range must lie inside the file and be at most
// maxRequestLength long, and a connection that stays silent longer than the idle limit is closed.
// Any violation closes that one connection; the others go on. One log line per connection.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace zov::zevserve {

inline constexpr uint16_t kDefaultPort = 11541;
inline constexpr size_t kNameField = 256;

struct ServerOptions {
  std::string directory;
  std::string bindAddress = "127.0.0.1";
  uint16_t port = kDefaultPort;  // 0: an ephemeral port (see Server::port)
  uint32_t maxRequestLength = 16u << 20;
  int idleTimeoutMs = 30000;
  size_t maxConnections = 4096;
  std::function<void(const std::string&)> log;  // one line per connection; null: stderr
};

// The movie names of a directory: regular files that begin like an AVI file, sorted, with
// names that fit a 256-byte field.
std::vector<std::string> listMovies(const std::string& directory);

class Server {
 public:
  Server() = default;
  ~Server();
  Server(const Server&) = delete;
  Server& operator=(const Server&) = delete;

  // Binds and listens; false with a message in error().
  bool open(const ServerOptions& options);
  uint16_t port() const { return port_; }
  const std::string& error() const { return error_; }
  // Serves until stop() is called (from any thread or a signal handler). SIGPIPE is blocked on
  // the calling thread meanwhile, so a viewer's reset never ends the hosting process.
  void run();
  void stop();
  // Connections open right now (for tests and the log).
  size_t connectionCount() const { return openConnections_; }

 private:
  struct Connection;
  void serve();
  void acceptAll();
  void handle(Connection& c, uint32_t events);
  void close(Connection& c, const char* reason);
  bool readInput(Connection& c);
  bool writeOutput(Connection& c);
  bool processInput(Connection& c);
  void sweepIdle();
  void pauseAccepting(bool pause);
  void logLine(const std::string& line);

  ServerOptions options_;
  int listenFd_ = -1;
  int epollFd_ = -1;
  int wakeFd_ = -1;
  int dirFd_ = -1;
  uint16_t port_ = 0;
  std::string error_;
  std::vector<Connection*> connections_;  // by socket number
  size_t openConnections_ = 0;
  uint64_t nextId_ = 1;
  std::vector<std::string> movies_;
  int64_t listedAt_ = 0;
  bool acceptPaused_ = false;
  bool shortageLogged_ = false;
};

}  // namespace zov::zevserve

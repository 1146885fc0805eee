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
// maxRequestLength long, and a connection that makes no progress (silent, or sending only empty
// requests) longer than the idle limit is closed. Any violation closes that one connection; the
// others go on. One log line per connection.
//
// The folder: only regular files that parse as stream files are listed, and a movie is opened
// without blocking and never through a link that leads out of the folder, so a FIFO, a device
// or a file swapped for one after listing cannot stall the loop. The list is built once per
// change of the folder (its identity or its modification time, looked at every second, or a
// rescan request) and shared by every connection; a folder replaced by a rename or a symlink
// swap is followed. Limits: connections in total and per client address, and bytes per second
// per connection; each connection's kernel send buffer is capped.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace zov::zevserve {

inline constexpr uint16_t kDefaultPort = 11541;
inline constexpr size_t kNameField = 256;

struct ServerOptions {
  std::string directory;
  // Addresses to listen on (IPv4 or IPv6, brackets optional). A lone IPv6 address also takes
  // IPv4 viewers where the system allows it; with several, each serves its own stack.
  std::vector<std::string> bindAddresses{"127.0.0.1"};
  uint16_t port = kDefaultPort;  // 0: an ephemeral port (see Server::port)
  // Listening sockets handed over ready-made (socket activation); used instead of binding.
  std::vector<int> listenFds;
  uint32_t maxRequestLength = 16u << 20;
  int idleTimeoutMs = 30000;
  size_t maxConnections = 4096;
  size_t maxPerAddress = 0;     // 0: no limit
  uint64_t bytesPerSecond = 0;  // per connection; 0: no limit
  int sendBufferBytes = 262144;
  std::function<void(const std::string&)> log;  // one line per connection; null: stderr
  std::string metricsFile;  // Prometheus text, rewritten every second; empty: none
  int metricsPort = -1;     // Prometheus text over HTTP on the first bind address; -1: none
};

// The movie names of a directory: regular files that parse as stream files, sorted, with
// names that fit a 256-byte field.
std::vector<std::string> listMovies(const std::string& directory);
// A movie file of the folder `dirFd` opened for reading without blocking, refusing anything but
// a regular file inside the folder; -1 otherwise.
int openMovie(int dirFd, const std::string& name);
// Client bytes made safe for a log line: printable ASCII stays, the rest becomes \xNN.
std::string escapeBytes(const std::string& bytes);

class Server {
 public:
  Server() = default;
  ~Server();
  Server(const Server&) = delete;
  Server& operator=(const Server&) = delete;

  // Binds and listens; false with a message in error().
  bool open(const ServerOptions& options);
  uint16_t port() const { return port_; }
  uint16_t metricsPort() const { return metricsPort_; }
  const std::string& error() const { return error_; }
  // Serves until stop() is called, or a drain has ended. SIGPIPE is blocked on the calling
  // thread meanwhile, so a viewer's reset never ends the hosting process.
  void run();
  // These three are safe from any thread and from a signal handler.
  void stop();
  // Takes no new connections; serves the connected viewers until they close or `seconds` pass.
  void drain(int seconds);
  // Reads the folder again and calls reopenLog (SIGHUP).
  void rescan();
  std::function<void()> reopenLog;
  // Connections open right now (for tests and the log).
  size_t connectionCount() const { return openConnections_; }
  // The counters in the Prometheus text format.
  std::string metricsText() const;

 private:
  struct Connection;
  struct Catalogue;
  void serve();
  void acceptAll(int listenFd);
  void acceptMetrics();
  void handle(Connection& c, uint32_t events);
  void close(Connection& c, const char* reason);
  bool readInput(Connection& c);
  bool writeOutput(Connection& c);
  bool processInput(Connection& c);
  void sweep(int64_t now);
  void pauseAccepting(bool pause);
  void watch(Connection& c, uint32_t events);
  void logLine(const std::string& line);
  void writeLog(const std::string& line);
  // Writes the summary of the lines a flood left out, once the flood's second is over.
  void flushLogSummary(int64_t now);
  void refreshCatalogue(bool force);
  void writeMetricsFile();
  void stopListening();
  void countError(const std::string& reason);

  ServerOptions options_;
  std::vector<int> listenFds_;
  int metricsFd_ = -1;
  int epollFd_ = -1;
  int wakeFd_ = -1;
  uint16_t port_ = 0;
  uint16_t metricsPort_ = 0;
  std::string error_;
  std::vector<Connection*> connections_;  // by socket number
  std::map<std::string, size_t> perAddress_;
  size_t openConnections_ = 0;
  uint64_t nextId_ = 1;
  std::shared_ptr<const Catalogue> catalogue_;
  int64_t checkedAt_ = 0;
  bool acceptPaused_ = false;
  bool shortageLogged_ = false;
  std::atomic<bool> stopRequested_{false};
  std::atomic<int> drainSeconds_{-1};
  std::atomic<bool> rescanRequested_{false};
  bool draining_ = false;
  int64_t drainDeadline_ = 0;
  // Log flood control: at most kLogBurst lines a second, the rest counted and summarised.
  int64_t logWindowStart_ = INT64_MIN / 2;
  int logLines_ = 0;
  uint64_t logSuppressed_ = 0;
  // Counters.
  uint64_t accepted_ = 0, refused_ = 0, bytesSent_ = 0;
  std::map<std::string, uint64_t> requestsByMovie_;
  std::map<std::string, uint64_t> errors_;
  int64_t metricsWrittenAt_ = 0;
};

}  // namespace zov::zevserve

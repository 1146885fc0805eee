// A loopback TCP proxy for the network tests: it forwards every connection to an upstream port
// on 127.0.0.1, holding each piece of data for a one-way delay in both directions (so a 50 ms
// delay makes a 100 ms round trip), and lets a test change the bytes it forwards from the server
// to the client (stray or missing bytes on one connection).
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace zov::test {

class DelayProxy {
 public:
  // Called for the server-to-client data of connection `connection` (0, 1, ...), where `at` is
  // the stream position of data[0]; the hook may insert or erase bytes.
  using Fault = std::function<void(int connection, uint64_t at, std::vector<uint8_t>& data)>;

  DelayProxy(uint16_t upstreamPort, int oneWayDelayMs, Fault fault = {});
  ~DelayProxy();
  DelayProxy(const DelayProxy&) = delete;
  DelayProxy& operator=(const DelayProxy&) = delete;

  uint16_t port() const { return port_; }
  int connections() const { return accepted_; }

 private:
  struct Link;
  void acceptLoop();

  uint16_t upstream_;
  int delayMs_;
  Fault fault_;
  int listenFd_ = -1;
  uint16_t port_ = 0;
  std::atomic<bool> stopping_{false};
  std::atomic<int> accepted_{0};
  std::mutex linksLock_;
  std::list<std::unique_ptr<Link>> links_;
  std::thread acceptor_;
};

}  // namespace zov::test

#include "delay_proxy.h"

#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <deque>

#include "zev_fixture.h"

namespace zov::test {

namespace {

using Clock = std::chrono::steady_clock;

// One direction of a link: a reader that timestamps what arrives and a writer that sends each
// piece once its delay has passed. Reading never waits for the writer, so the delay does not
// narrow the window.
struct Pipe {
  int from = -1, to = -1;
  int delayMs = 0;
  int connection = 0;
  const DelayProxy::Fault* fault = nullptr;
  std::mutex lock;
  std::condition_variable ready;
  std::deque<std::pair<Clock::time_point, std::vector<uint8_t>>> queue;
  bool ended = false;
  std::thread reader, writer;

  void start(const std::atomic<bool>& stopping) {
    reader = std::thread([this, &stopping] {
      uint64_t at = 0;
      std::vector<uint8_t> buffer(65536);
      while (!stopping) {
        ssize_t n = recv(from, buffer.data(), buffer.size(), 0);
        if (n <= 0) break;
        std::vector<uint8_t> piece(buffer.begin(), buffer.begin() + n);
        if (fault && *fault) (*fault)(connection, at, piece);
        at += uint64_t(n);
        std::lock_guard g(lock);
        queue.emplace_back(Clock::now() + std::chrono::milliseconds(delayMs), std::move(piece));
        ready.notify_one();
      }
      std::lock_guard g(lock);
      ended = true;
      ready.notify_one();
    });
    writer = std::thread([this] {
      for (;;) {
        std::unique_lock g(lock);
        ready.wait(g, [this] { return !queue.empty() || ended; });
        if (queue.empty()) break;
        auto [due, piece] = std::move(queue.front());
        queue.pop_front();
        g.unlock();
        std::this_thread::sleep_until(due);
        if (!piece.empty() && !sendAll(to, piece.data(), piece.size())) break;
      }
      shutdown(to, SHUT_WR);
    });
  }
  void join() {
    reader.join();
    writer.join();
  }
};

}  // namespace

struct DelayProxy::Link {
  int client = -1, server = -1;
  Pipe up, down;
  ~Link() {
    shutdown(client, SHUT_RDWR);
    shutdown(server, SHUT_RDWR);
    up.join();
    down.join();
    close(client);
    close(server);
  }
};

DelayProxy::DelayProxy(uint16_t upstreamPort, int oneWayDelayMs, Fault fault)
    : upstream_(upstreamPort), delayMs_(oneWayDelayMs), fault_(std::move(fault)) {
  listenFd_ = listenLoopback(port_, 16);
  acceptor_ = std::thread([this] { acceptLoop(); });
}

DelayProxy::~DelayProxy() {
  stopping_ = true;
  shutdown(listenFd_, SHUT_RDWR);
  acceptor_.join();
  close(listenFd_);
  std::lock_guard g(linksLock_);
  links_.clear();
}

void DelayProxy::acceptLoop() {
  while (!stopping_) {
    int client = accept(listenFd_, nullptr, nullptr);
    if (client < 0) return;
    int server = connectLoopback(upstream_);
    if (server < 0) {
      close(client);
      continue;
    }
    // The pipes wait on their sockets without a time limit; the destructor shuts them down.
    timeval none{0, 0};
    setsockopt(server, SOL_SOCKET, SO_RCVTIMEO, &none, sizeof none);
    auto link = std::make_unique<Link>();
    link->client = client;
    link->server = server;
    const int id = accepted_++;
    link->up.from = client;
    link->up.to = server;
    link->down.from = server;
    link->down.to = client;
    for (Pipe* p : {&link->up, &link->down}) {
      p->delayMs = delayMs_;
      p->connection = id;
    }
    link->down.fault = &fault_;
    link->up.start(stopping_);
    link->down.start(stopping_);
    std::lock_guard g(linksLock_);
    links_.push_back(std::move(link));
  }
}

}  // namespace zov::test

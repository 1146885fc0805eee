// The network source against servers that misbehave: lists cut short, answers cut short or
// stalled, nonsense headers and indexes, and a server that goes away while the worker fetches.
// Every case ends with its box, no placeholder file left behind, and no hang.
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>

#include <chrono>
#include <cstring>
#include <functional>
#include <thread>

#include "network/zev_layout.h"
#include "network/zev_source.h"
#include "source_fixture.h"
#include "zev_fixture.h"

using namespace zov;
using namespace zov::test;
using network::accessZEV;
using network::currentSource;
using network::freeZEV;

namespace {

// What the scripted server does with one range request.
struct Answer {
  enum Kind { Serve, CutAndClose, CutAndStall } kind = Serve;
  uint32_t bytes = 0;  // sent before cutting
};
using Policy = std::function<Answer(uint32_t request, uint32_t offset, uint32_t length)>;

// Serves `movie` as "movie.zev" by the protocol, asking `policy` about every range request.
// A stalled answer waits until the client goes away.
std::function<void(int)> serveMovie(const std::vector<uint8_t>& bytes, Policy policy) {
  return [&bytes, policy](int fd) {
    uint8_t count[4] = {1, 0, 0, 0};
    char name[256] = "movie.zev";
    if (!sendAll(fd, count, 4) || !sendAll(fd, name, 256) || !recvAll(fd, name, 256)) return;
    for (uint32_t r = 0;; ++r) {
      uint8_t req[8];
      if (!recvAll(fd, req, 8)) return;
      const uint32_t o = network::le32(req), l = network::le32(req + 4);
      const Answer a = policy(r, o, l);
      if (a.kind == Answer::Serve) {
        if (!sendAll(fd, bytes.data() + o, l)) return;
        continue;
      }
      sendAll(fd, bytes.data() + o, std::min(a.bytes, l));
      if (a.kind == Answer::CutAndStall) {
        char b;
        while (recv(fd, &b, 1, 0) > 0) {
        }
      }
      return;
    }
  };
}

struct HostileServer : Source {
  // accessZEV, timed: no case may take longer than the time limits allow.
  const char* accessTimed() {
    auto start = std::chrono::steady_clock::now();
    const char* path = accessZEV(nullptr);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
    return path;
  }
  // Expects accessZEV to fail with exactly `box` (its end, for the prefixed ones).
  void expectFailure(const std::string& box) {
    EXPECT_EQ(accessTimed(), nullptr);
    auto texts = boxes.texts();
    ASSERT_EQ(texts.size(), 1u) << (texts.empty() ? "" : texts[0]);
    EXPECT_TRUE(texts[0].ends_with(box)) << texts[0];
    EXPECT_EQ(boxes.boxes()[0].title, "Orvane Network");
    EXPECT_EQ(tempFiles(), 0u);
    EXPECT_FALSE(network::sourceOpen());
    boxes.clear();
  }
};

TEST_F(HostileServer, ListsAndAnswersCutShortOrStalled) {
  const ZevMovie movie = makeZevMovie(20, false, 0, smallFrames);
  {
    // Three names announced, one and a half sent.
    ScriptServer server([](int fd) {
      uint8_t count[4] = {3, 0, 0, 0};
      char names[384] = "a.zev";
      sendAll(fd, count, 4);
      sendAll(fd, names, sizeof names);
    });
    usePort(server.port(), 1000);
    expectFailure("Zero bytes received, server reset connection");
  }
  {
    // The header answered with 1,000 of 2,048 bytes, then the connection closed.
    ScriptServer server(serveMovie(movie.bytes, [](uint32_t, uint32_t, uint32_t) {
      return Answer{Answer::CutAndClose, 1000};
    }));
    usePort(server.port(), 1000);
    expectFailure("Zero bytes received, server reset connection");
  }
  {
    // A name dripped a byte at a time, each well inside the time limit: the list as a whole
    // must still come at 1 KB a second.
    ScriptServer server([](int fd) {
      uint8_t count[4] = {1, 0, 0, 0};
      sendAll(fd, count, 4);
      for (int i = 0; i < 256; ++i) {
        char b = 'a';
        if (!sendAll(fd, &b, 1)) return;
        pollfd gone{fd, POLLIN, 0};
        if (poll(&gone, 1, 300) != 0) return;  // the client closed
      }
    });
    usePort(server.port(), 500);
    expectFailure("recv Error: WSAETIMEDOUT      ");
  }
  {
    // The index answered in part, then nothing more: the receive time limit ends it.
    ScriptServer server(serveMovie(movie.bytes, [](uint32_t r, uint32_t, uint32_t) {
      return r == 0 ? Answer{} : Answer{Answer::CutAndStall, 16};
    }));
    usePort(server.port(), 700);
    expectFailure("recv Error: WSAETIMEDOUT      ");
  }
}

TEST_F(HostileServer, NonsenseHeadersAndIndexes) {
  ZevMovie movie = makeZevMovie(20, false, 0, smallFrames);
  std::vector<uint8_t> garbage(movie.bytes.size());
  for (size_t i = 0; i < garbage.size(); ++i) garbage[i] = uint8_t(i * 2654435761u >> 13);
  {
    ScriptServer server(serveMovie(garbage, [](uint32_t, uint32_t, uint32_t) { return Answer{}; }));
    usePort(server.port(), 1000);
    expectFailure("ProcessAVIHeader failed, avih section not located in ZEV file");
  }
  // Index entries the cache could never hold, or of no bytes at all.
  for (uint32_t badSize : {0u, network::kSlotDataBytes + 1, 0xFFFFFFFFu}) {
    std::vector<uint8_t> bad = movie.bytes;
    network::putLe32(&bad[movie.indexOffset + 7 * 8 + 4], badSize);
    ScriptServer server(serveMovie(bad, [](uint32_t, uint32_t, uint32_t) { return Answer{}; }));
    usePort(server.port(), 1000);
    expectFailure("BuildLocalAVIAndMemoryIndex failed, index entry 7 in ZEV file is not valid");
  }
}

// The server goes away while the worker fetches past the first cache load: the worker ends
// with its box, the frames it never got are answered with nothing, and freeing is prompt.
TEST_F(HostileServer, ServerLostWhileTheWorkerFetches) {
  const ZevMovie movie = makeZevMovie(120, false, 0, bigFrames);
  for (Answer::Kind kind : {Answer::CutAndClose, Answer::CutAndStall}) {
    // The header, the index and the movie data up to 4.5 MB are served; the first request
    // past that is cut.
    const uint32_t indexAt = movie.indexOffset;
    ScriptServer server(serveMovie(movie.bytes, [kind, indexAt](uint32_t, uint32_t o, uint32_t) {
      return o < 4608u * 1024 || o >= indexAt ? Answer{} : Answer{kind, 100};
    }));
    usePort(server.port(), 700);
    ASSERT_NE(accessTimed(), nullptr) << (boxes.texts().empty() ? "" : boxes.texts()[0]);
    ASSERT_EQ(currentSource()->status(), 0);
    size_t size = 0;
    EXPECT_NE(network::frameData(0, &size), nullptr);
    EXPECT_EQ(network::frameData(110, &size), nullptr);  // not cached: the worker goes for it
    for (int i = 0; i < 300 && currentSource()->status() != 1; ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    ASSERT_EQ(currentSource()->status(), 1) << "the worker should have ended";
    EXPECT_EQ(boxes.texts(), std::vector<std::string>{kind == Answer::CutAndClose
                                                          ? "Zero bytes received, server reset "
                                                            "connection"
                                                          : "recv Error: WSAETIMEDOUT      "});
    EXPECT_EQ(network::frameData(110, &size), nullptr);
    EXPECT_EQ(size, movie.chunks[110].size());
    auto start = std::chrono::steady_clock::now();
    freeZEV();
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
    EXPECT_EQ(tempFiles(), 0u);
    boxes.clear();
  }
}

// A server that takes every new connection but fails the same request on each: the worker
// reconnects a few times, then gives up with one box instead of reconnecting for ever.
TEST_F(HostileServer, TheSameRequestFailingOnEveryConnectionIsGivenUpOn) {
  const ZevMovie movie = makeZevMovie(120, false, 0, bigFrames);
  const uint32_t indexAt = movie.indexOffset;
  ScriptServer server(
      serveMovie(
          movie.bytes,
          [indexAt](uint32_t, uint32_t o, uint32_t) {
            return o < 4608u * 1024 || o >= indexAt ? Answer{} : Answer{Answer::CutAndClose, 100};
          }),
      20);
  usePort(server.port(), 700);
  ASSERT_NE(accessTimed(), nullptr) << (boxes.texts().empty() ? "" : boxes.texts()[0]);
  size_t size = 0;
  EXPECT_EQ(network::frameData(110, &size), nullptr);
  for (int i = 0; i < 1000 && currentSource()->status() != 1; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  ASSERT_EQ(currentSource()->status(), 1) << "the worker should have given up";
  EXPECT_EQ(server.accepted(), 1 + network::networkOptions().reconnectTries);
  EXPECT_EQ(boxes.texts(),
            std::vector<std::string>{"Zero bytes received, server reset connection"});
  freeZEV();
}

}  // namespace

// The fixture of the network source tests: a temporary root with the movie folder, the
// settings home and the temporary folder the placeholder goes to; a scripted dialog host that
// types 127.0.0.1 and picks `chosen`; a recording message-box sink; and the source's connection
// options pointed at a test server.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "network/zev_layout.h"
#include "network/zev_source.h"
#include "platform/ui.h"

namespace zov::test {

namespace fs = std::filesystem;

// 120 frames of 30-90 KB: about 7 MB, more than the 4 MB cache.
inline uint32_t bigFrames(uint32_t n) {
  return 30001 + (n * 7919) % 60000;
}
inline uint32_t smallFrames(uint32_t n) {
  return 700 + (n * 13) % 400;
}

inline uint32_t le(const std::vector<uint8_t>& b, size_t at) {
  return network::le32(&b[at]);
}

struct Source : ::testing::Test {
  void SetUp() override {
    root = fs::temp_directory_path() /
           ("zevsource-" + std::to_string(getpid()) + "-" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::create_directories(root / "movies");
    fs::create_directories(root / "home");
    fs::create_directories(root / "tmp");
    setenv("ZOV_HOME", (root / "home").c_str(), 1);
    setenv("TMPDIR", (root / "tmp").c_str(), 1);
    host.on(network::kSiteDialog, [this](WindowHandle, DialogData& d) -> intptr_t {
      auto& site = dynamic_cast<network::SiteDialogData&>(d);
      recallSeen = site.recall;
      initialSite = site.text;
      site.text = "127.0.0.1";
      return IDOK;
    });
    host.on(network::kMovieDialog, [this](WindowHandle, DialogData& d) -> intptr_t {
      auto& m = dynamic_cast<network::MovieDialogData&>(d);
      moviesSeen = m.movies;
      auto it = std::find(m.movies.begin(), m.movies.end(), chosen);
      m.selected = it == m.movies.end() ? -1 : int(it - m.movies.begin());
      return it == m.movies.end() ? IDCANCEL : IDOK;
    });
  }
  void TearDown() override {
    network::freeZEV();
    network::setNetworkOptions({});
    unsetenv("TMPDIR");
    fs::remove_all(root);
  }
  void usePort(uint16_t port, int ioMs = 5000) {
    network::NetworkOptions o;
    o.port = port;
    o.connectTimeoutMs = 3000;
    o.ioTimeoutMs = ioMs;
    network::setNetworkOptions(o);
  }
  size_t tempFiles() {
    return size_t(std::distance(fs::directory_iterator(root / "tmp"), fs::directory_iterator{}));
  }
  // Waits (bounded, `waitMs`) until the source hands out video frame v, and returns it.
  std::vector<uint8_t> frame(uint32_t v, int waitMs = 5000) {
    for (int i = 0; i < waitMs / 10; ++i) {
      size_t size = 0;
      if (const uint8_t* p = network::frameData(v, &size)) return {p, p + size};
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return {};
  }

  fs::path root;
  ScriptedDialogHost host;
  ScopedDialogHost hostInstalled{&host};
  RecordingMessageBox boxes;
  ScopedMessageBoxSink sinkInstalled{&boxes};
  std::string chosen = "movie.zev";
  std::vector<std::string> recallSeen, moviesSeen;
  std::string initialSite;
};

}  // namespace zov::test

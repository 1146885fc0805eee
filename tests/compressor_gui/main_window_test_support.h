// Shared set-up of the compressor window tests: a private ZOV home, recorded message boxes, the
// codec library of the build, and waiting while the event loop runs.
#pragma once

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QTest>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>

#include "compressor/run_source.h"
#include "platform/ui.h"

namespace zov::testing_window {

inline std::string teapotPath() {
  return std::string(ZOV_TEST_DATA_DIR) + "/teapot-256x256-rgb24.avi";
}
inline std::string zovSamplePath() {
  return std::string(ZOV_TEST_DATA_DIR) + "/sample-teapot-zov2.avi";
}

// Runs the event loop until `done` or the time is up; returns `done()`.
inline bool waitUntil(const std::function<bool()>& done, int ms = 30000) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  while (!done()) {
    if (std::chrono::steady_clock::now() > end) return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    QTest::qWait(5);
  }
  return true;
}

class WindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    home_ = std::filesystem::temp_directory_path() /
            ("zovcomp-window-" + std::to_string(::getpid()) + "-" +
             ::testing::UnitTest::GetInstance()->current_test_info()->name());
    std::filesystem::remove_all(home_);
    std::filesystem::create_directories(home_);
    setenv("ZOV_HOME", home_.c_str(), 1);
    setenv("ZOV_CODEC_PATH", ZOV_CODEC_DIR, 1);
    installZovDecoderWithFallback();
    previous_ = setMessageBoxSink(&boxes_);
  }
  void TearDown() override {
    setMessageBoxSink(previous_);
    std::filesystem::remove_all(home_);
  }
  std::string file(const std::string& name) const { return (home_ / name).string(); }
  bool sawBox(const std::string& text) const {
    for (const auto& t : boxes_.texts())
      if (t == text) return true;
    return false;
  }

  std::filesystem::path home_;
  RecordingMessageBox boxes_;
  MessageBoxSink* previous_ = nullptr;
};

}  // namespace zov::testing_window

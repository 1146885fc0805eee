// A clean machine for each setup test: a temporary ZOV home (the service and uninstall
// registries, the settings files), a temporary XDG data home (desktop entries), a recording
// message-box sink, and no leftover injected faults or machine overrides.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "platform/service_registry.h"
#include "platform/ui.h"
#include "platform/uninstall_registry.h"
#include "setup/program_manager.h"
#include "setup/system_identity.h"

namespace zov::setup {

class SetupTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/zov-setup-test-XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    dir_ = tmpl;
    home_ = dir_ / "home";
    setenv("ZOV_HOME", home_.c_str(), 1);
    setenv("XDG_DATA_HOME", (dir_ / "data").c_str(), 1);
    service_registry_testing::failNext("", 0);
    uninstall_registry_testing::failNext("", 0);
    testing::setOsVersion(std::nullopt);
    testing::setProcessor(std::nullopt);
    testing::failDdeInitialize(false);
  }

  void TearDown() override {
    service_registry_testing::failNext("", 0);
    uninstall_registry_testing::failNext("", 0);
    testing::setOsVersion(std::nullopt);
    testing::setProcessor(std::nullopt);
    testing::failDdeInitialize(false);
    unsetenv("ZOV_HOME");
    unsetenv("XDG_DATA_HOME");
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
  }

  static void writeFile(const std::filesystem::path& path, const std::string& text) {
    std::filesystem::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << text;
  }

  static std::string readFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }

  // The one box shown, checked for title and style too.
  void expectOneBox(const std::string& text, const std::string& title = "Orvane ZOV32SUP.DLL",
                    uint32_t style = MB_OK | MB_ICONERROR) {
    auto boxes = sink_.boxes();
    std::string shown;
    for (const auto& box : boxes) shown += "[" + box.text + "] ";
    ASSERT_EQ(boxes.size(), 1u) << shown;
    EXPECT_EQ(boxes[0].text, text);
    EXPECT_EQ(boxes[0].title, title);
    EXPECT_EQ(boxes[0].style, style);
  }

  std::filesystem::path dir_;
  std::filesystem::path home_;
  RecordingMessageBox sink_;
  ScopedMessageBoxSink scoped_{&sink_};
};

}  // namespace zov::setup

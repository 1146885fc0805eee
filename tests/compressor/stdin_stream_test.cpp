// YUV4MPEG2 on standard input is coded as its frames arrive: a writer that waits for the run's
// progress before it sends more frames is served frame by frame (a run that first read the whole
// input would never report and the writer would wait in vain), no spool file appears, and the
// finished file holds every frame. What a stream can't do (be read a second time) is refused.
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <string>
#include <vector>

#include "compressor/run_source.h"
#include "compressor/zovcomp_cli.h"
#include "media/avi_container.h"
#include "media/source_file.h"
#include "platform/ui.h"
#include "support/avi_fixtures.h"

namespace zov {
namespace {

namespace fs = std::filesystem;

constexpr int kWidth = 320, kHeight = 240;

// One 4:2:0 frame of noise (which codes to large frames) that changes from frame to frame.
std::string noiseFrame(uint32_t seed) {
  std::string f(size_t(kWidth) * kHeight * 3 / 2, '\0');
  uint32_t x = seed * 2654435761u + 1;
  for (char& c : f) {
    x = x * 1664525u + 1013904223u;
    c = char(x >> 24);
  }
  return "FRAME\n" + f;
}

// zovcomp in a child process reading `stdin` from a pipe, its messages on a pipe of their own
// and TMPDIR in `tmp`.
struct Child {
  pid_t pid = -1;
  int input = -1;     // the child's standard input
  int messages = -1;  // the child's standard error
  std::string pending;

  Child(std::vector<std::string> args, const std::string& tmp) {
    int in[2], err[2];
    if (pipe(in) != 0 || pipe(err) != 0) return;
    pid = fork();
    if (pid == 0) {
      dup2(in[0], 0);
      dup2(err[1], 2);
      close(in[1]);
      close(err[0]);
      if (freopen("/dev/null", "w", stdout) == nullptr) _exit(99);
      setenv("TMPDIR", tmp.c_str(), 1);
      args.insert(args.begin(), "zovcomp");
      std::vector<char*> argv;
      for (auto& a : args) argv.push_back(a.data());
      _exit(zovcompMain(int(argv.size()), argv.data(), std::cout, std::cerr, false));
    }
    close(in[0]);
    close(err[1]);
    input = in[1];
    messages = err[0];
  }
  ~Child() {
    if (input >= 0) close(input);
    if (messages >= 0) close(messages);
    if (pid > 0) waitpid(pid, nullptr, 0);
  }
  bool send(const std::string& bytes) const {
    size_t done = 0;
    while (done < bytes.size()) {
      const ssize_t n = write(input, bytes.data() + done, bytes.size() - done);
      if (n <= 0) return false;
      done += size_t(n);
    }
    return true;
  }
  // Reads the child's messages until a progress line reports at least `frames` frames written;
  // false when none does within `seconds`.
  bool waitForProgress(uint32_t frames, int seconds) {
    for (int waited = 0; waited < seconds * 10;) {
      for (size_t at; (at = pending.find('\n')) != std::string::npos;) {
        const std::string line = pending.substr(0, at);
        pending.erase(0, at + 1);
        if (line.rfind("{\"frame\":", 0) == 0 &&
            std::strtoul(line.c_str() + 9, nullptr, 10) >= frames)
          return true;
      }
      pollfd p{messages, POLLIN, 0};
      if (poll(&p, 1, 100) == 0) {
        ++waited;
        continue;
      }
      char buf[4096];
      const ssize_t n = read(messages, buf, sizeof buf);
      if (n <= 0) return false;
      pending.append(buf, size_t(n));
    }
    return false;
  }
  // Closes the input and returns the exit status, with the rest of the messages in `rest`.
  int finish(std::string* rest) {
    close(input);
    input = -1;
    char buf[4096];
    for (ssize_t n; (n = read(messages, buf, sizeof buf)) > 0;) pending.append(buf, size_t(n));
    if (rest) *rest = pending;
    int status = 0;
    waitpid(pid, &status, 0);
    pid = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  }
};

struct IgnorePipeSignal {
  IgnorePipeSignal() { previous = signal(SIGPIPE, SIG_IGN); }
  ~IgnorePipeSignal() { signal(SIGPIPE, previous); }
  sighandler_t previous;
};

TEST(StandardInputStream, FramesAreCodedAsTheyArriveWithoutASpoolFile) {
  IgnorePipeSignal ignore;
  const std::string dir = test::tempFolder("stdin-stream"), tmp = dir + "/tmp";
  fs::create_directories(tmp);
  const std::string out = dir + "/out.avi";
  constexpr uint32_t kFrames = 40, kLead = 4;
  Child child({"compress", "-", "-o", out, "--progress", "json", "-q"}, tmp);
  ASSERT_GT(child.pid, 0);
  ASSERT_TRUE(child.send("YUV4MPEG2 W320 H240 F25:1 Ip A1:1 C420jpeg\n"));
  for (uint32_t f = 0; f < kFrames; ++f) {
    ASSERT_TRUE(child.send(noiseFrame(f))) << "frame " << f;
    // The next frame goes only when the run has written all but the last few.
    if (f >= kLead) {
      ASSERT_TRUE(child.waitForProgress(f - kLead + 1, 30))
          << "no frame written after " << f + 1 << " frames were sent";
    }
    EXPECT_TRUE(fs::is_empty(tmp)) << "a temporary file appeared";
  }
  std::string rest;
  ASSERT_EQ(child.finish(&rest), 0) << rest;
  EXPECT_TRUE(fs::is_empty(tmp));

  RecordingMessageBox boxes;
  ScopedMessageBoxSink sink(&boxes);
  installZovDecoderWithFallback();
  SourceFile back(out);
  ASSERT_TRUE(back.Opened);
  EXPECT_EQ(back.FrameCount, kFrames);
  EXPECT_EQ(back.Width, uint32_t(kWidth));
  std::vector<uint8_t> bitmap;
  for (uint32_t f = 0; f < kFrames; ++f)
    ASSERT_TRUE(back.getFrame(f, bitmap, nullptr, true, false, false)) << "frame " << f;
  setZovDecoderFactory(nullptr);
  fs::remove_all(dir);
}

TEST(StandardInputStream, WhatNeedsASecondReadIsRefusedAndTheRangeIsKept) {
  IgnorePipeSignal ignore;
  const std::string dir = test::tempFolder("stdin-limits");
  const std::string out = dir + "/out.avi";
  std::string movie = "YUV4MPEG2 W320 H240 F25:1 C420jpeg\n";
  for (uint32_t f = 0; f < 12; ++f) movie += noiseFrame(f);
  movie += "FRAME\n" + std::string(1000, 'x');  // the writer stopped mid-frame
  std::string rest;
  {
    Child verify({"compress", "-", "-o", out, "--verify"}, dir);
    verify.send(movie);
    EXPECT_EQ(verify.finish(&rest), 2);
    EXPECT_NE(rest.find("standard input is read only once"), std::string::npos) << rest;
    EXPECT_FALSE(fs::exists(out));
  }
  {
    // Frames before --first (1-based) are skipped as they arrive; the cut last frame is dropped.
    Child range({"compress", "-", "-o", out, "--first", "5", "-q"}, dir);
    range.send(movie);
    ASSERT_EQ(range.finish(&rest), 0) << rest;
    std::string why;
    auto written = AviContainer::open(out, &why);
    ASSERT_TRUE(written) << why;
    EXPECT_EQ(written->frameCount(), 8u) << "frames 5 to 12";
  }
  {
    Child beyond({"compress", "-", "-o", out, "--first", "20"}, dir);
    beyond.send(movie);
    EXPECT_EQ(beyond.finish(&rest), 1);
    EXPECT_NE(rest.find("standard input ended before frame 20"), std::string::npos) << rest;
  }
  fs::remove_all(dir);
}

}  // namespace
}  // namespace zov

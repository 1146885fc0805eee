// A compression that dies: zovcomp killed outright at a random moment leaves a file whose frames
// written so far all open through the reader's scan of the movie list, byte for byte the frames a
// complete run writes; Ctrl-C instead ends the run after the current frame with a finished file.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <random>
#include <sstream>
#include <thread>

#include "compressor/run_source.h"
#include "compressor/zovcomp_cli.h"
#include "media/avi_container.h"
#include "media/source_file.h"
#include "media/video_decoder.h"
#include "platform/ui.h"
#include "support/avi_fixtures.h"
#include "support/cli_run.h"

namespace zov {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

// Starts "zovcomp ARGS" in a child process; the child's output goes nowhere.
pid_t startZovcomp(std::vector<std::string> args) {
  const pid_t pid = fork();
  if (pid != 0) return pid;
  args.insert(args.begin(), "zovcomp");
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  std::ostringstream out, err;
  _exit(zovcompMain(int(argv.size()), argv.data(), out, err, false));
}

// Waits until the child has created the output (or ended); false when it never did.
bool waitForOutput(pid_t pid, const std::string& path, int* status) {
  for (int i = 0; i < 20000; ++i) {
    if (fs::exists(path)) return true;
    if (waitpid(pid, status, WNOHANG) == pid) return false;
    std::this_thread::sleep_for(1ms);
  }
  return false;
}

// Every frame of `part` is the frame of `whole` (bytes and key flag), decodes through the source
// reader, and its audio is the start of the whole's audio.
void expectPrefixOf(const std::string& partPath, const AviContainer& whole, bool audio) {
  std::string err;
  auto part = AviContainer::open(partPath, &err);
  ASSERT_TRUE(part) << partPath << ": " << err;
  test::expectStartOfWholeRun(*part, whole);
  const uint32_t n = part->frameCount();
  if (n == 0) return;
  SourceFile back(partPath);
  ASSERT_TRUE(back.Opened) << partPath;
  ASSERT_EQ(back.FrameCount, n);
  std::vector<uint8_t> bmp;
  for (uint32_t f = 0; f < n; ++f)
    ASSERT_TRUE(back.getFrame(f, bmp, nullptr, true, false, false)) << "frame " << f;
  if (audio) {
    uint32_t size = 0;
    for (uint32_t f = 0; f < n; ++f) ASSERT_TRUE(back.readAudioForFrame(f, bmp, &size)) << f;
  }
}

struct Clip {
  const char* name;
  std::vector<std::string> extra;  // extra arguments
  bool audio;
  int kills;
  int maxDelayMs;  // about the time of a whole run
};

TEST(KilledRun, FramesWrittenBeforeSigkillAllReadBack) {
  RecordingMessageBox boxes;
  ScopedMessageBoxSink sink(&boxes);
  installZovDecoderWithFallback();
  const std::string dir = test::tempFolder("killed");
  const unsigned seed = unsigned(std::random_device{}());
  SCOPED_TRACE("seed " + std::to_string(seed));
  std::mt19937 rng(seed);
  const Clip clips[] = {{"teapot-256x256-rgb24.avi", {}, false, 2, 500},
                        {"pan-640x480-mjpeg-pcm.avi", {"--last", "16"}, true, 3, 1500}};
  int withFrames = 0;
  for (const Clip& clip : clips) {
    SCOPED_TRACE(clip.name);
    std::vector<std::string> args = {"compress", test::dataFile(clip.name), "-o", ""};
    args.insert(args.end(), clip.extra.begin(), clip.extra.end());
    const std::string wholePath = dir + "/whole.avi";
    args[3] = wholePath;
    test::CliResult whole = test::runZovcomp(args);
    ASSERT_EQ(whole.rc, 0) << whole.err;
    auto complete = AviContainer::open(wholePath, nullptr);
    ASSERT_TRUE(complete);
    installZovDecoderWithFallback();
    for (int k = 0; k < clip.kills; ++k) {
      const auto delay = std::chrono::milliseconds(rng() % unsigned(clip.maxDelayMs));
      SCOPED_TRACE("killed " + std::to_string(delay.count()) + " ms after the output appeared");
      const std::string path = dir + "/killed" + std::to_string(k) + ".avi";
      // The previous clip's file of this name must not pass for this run's output.
      fs::remove(path);
      args[3] = path;
      const pid_t pid = startZovcomp(args);
      ASSERT_GT(pid, 0);
      int status = 0;
      ASSERT_TRUE(waitForOutput(pid, path, &status));
      std::this_thread::sleep_for(delay);
      kill(pid, SIGKILL);
      ASSERT_EQ(waitpid(pid, &status, 0), pid);
      auto part = AviContainer::open(path, nullptr);
      if (WIFSIGNALED(status) && part && part->indexSource() != AviContainer::IndexSource::Scan) {
        // Killed after the index went out (a loaded machine can let the run finish its file
        // before the kill): then the whole movie is there.
        EXPECT_EQ(part->frameCount(), complete->frameCount());
      }
      const uint32_t frames = part ? part->frameCount() : 0;
      std::printf("killed %ld ms after the output appeared: %u frames\n", long(delay.count()),
                  frames);
      if (frames > 0) ++withFrames;
      expectPrefixOf(path, *complete, clip.audio);
    }
  }
  EXPECT_GT(withFrames, 0) << "every run was killed before its first frame";
  setZovDecoderFactory(nullptr);
  fs::remove_all(dir);
}

TEST(KilledRun, InterruptFinishesThePlayableFileUpToTheCurrentFrame) {
  RecordingMessageBox boxes;
  ScopedMessageBoxSink sink(&boxes);
  const std::string dir = test::tempFolder("interrupted");
  const std::string whole = dir + "/whole.avi", path = dir + "/stopped.avi";
  std::vector<std::string> args = {
      "compress", test::dataFile("pan-640x480-mjpeg-pcm.avi"), "-o", whole, "--last", "20"};
  ASSERT_EQ(test::runZovcomp(args).rc, 0);
  auto complete = AviContainer::open(whole, nullptr);
  ASSERT_TRUE(complete);
  args[3] = path;
  const pid_t pid = startZovcomp(args);
  int status = 0;
  ASSERT_TRUE(waitForOutput(pid, path, &status));
  std::this_thread::sleep_for(150ms);
  kill(pid, SIGINT);
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  ASSERT_TRUE(WIFEXITED(status));
  // 130: stopped short; 0: the run had ended before the request.
  EXPECT_TRUE(WEXITSTATUS(status) == 130 || WEXITSTATUS(status) == 0) << WEXITSTATUS(status);
  auto part = AviContainer::open(path, nullptr);
  ASSERT_TRUE(part);
  EXPECT_EQ(part->indexSource(), AviContainer::IndexSource::Idx1) << "the file was finished";
  if (WEXITSTATUS(status) == 130) {
    EXPECT_LT(part->frameCount(), complete->frameCount());
  }
  installZovDecoderWithFallback();
  expectPrefixOf(path, *complete, true);
  setZovDecoderFactory(nullptr);
  fs::remove_all(dir);
}

// SIGTERM, SIGHUP and a closed standard output end a run on real footage the way Ctrl-C does:
// the frames so far are finished into an indexed file, nothing else stays in the folder, and the
// exit status is 128 + the signal.
TEST(KilledRun, TerminateHangUpAndAClosedPipeFinishTheFile) {
  RecordingMessageBox boxes;
  ScopedMessageBoxSink sink(&boxes);
  installZovDecoderWithFallback();
  for (const int signal : {SIGTERM, SIGHUP, SIGPIPE}) {
    SCOPED_TRACE(strsignal(signal));
    const std::string dir = test::tempFolder("signal" + std::to_string(signal));
    const std::string path = dir + "/stopped.avi";
    int pipeEnds[2];
    ASSERT_EQ(pipe(pipeEnds), 0);
    const pid_t pid = fork();
    if (pid == 0) {
      // The run's messages go into the pipe, as in "zovcomp ... | head".
      dup2(pipeEnds[1], STDOUT_FILENO);
      close(pipeEnds[0]);
      close(pipeEnds[1]);
      std::vector<std::string> args = {
          "zovcomp", "compress", test::dataFile("pan-640x480-mjpeg-pcm.avi"), "-o", path,
          "--last",  "100"};
      std::vector<char*> argv;
      for (auto& a : args) argv.push_back(a.data());
      std::ostringstream err;
      const int rc = zovcompMain(int(argv.size()), argv.data(), std::cout, err, false);
      std::cout.flush();
      _exit(rc);
    }
    close(pipeEnds[1]);
    int status = 0;
    ASSERT_TRUE(waitForOutput(pid, path, &status));
    char text[64];
    ASSERT_GT(read(pipeEnds[0], text, sizeof text), 0);
    if (signal == SIGPIPE) {
      close(pipeEnds[0]);
    } else {
      std::this_thread::sleep_for(200ms);
      kill(pid, signal);
    }
    // Keep the pipe drained so that only the signal under test stops the run.
    if (signal != SIGPIPE) {
      std::thread drain([fd = pipeEnds[0]] {
        char buf[4096];
        while (read(fd, buf, sizeof buf) > 0) {
        }
      });
      ASSERT_EQ(waitpid(pid, &status, 0), pid);
      drain.join();
      close(pipeEnds[0]);
    } else {
      ASSERT_EQ(waitpid(pid, &status, 0), pid);
    }
    ASSERT_TRUE(WIFEXITED(status)) << "ended by the signal itself";
    EXPECT_EQ(WEXITSTATUS(status), 128 + signal);
    auto part = AviContainer::open(path, nullptr);
    ASSERT_TRUE(part);
    EXPECT_EQ(part->indexSource(), AviContainer::IndexSource::Idx1) << "the file was finished";
    EXPECT_GT(part->frameCount(), 0u);
    EXPECT_LT(part->frameCount(), 100u);
    SourceFile back(path);
    ASSERT_TRUE(back.Opened);
    std::vector<uint8_t> bmp;
    EXPECT_TRUE(back.getFrame(back.FrameCount - 1, bmp, nullptr, true, false, false));
    EXPECT_EQ(std::distance(fs::directory_iterator(dir), {}), 1) << "a temporary file stayed";
    fs::remove_all(dir);
  }
  setZovDecoderFactory(nullptr);
}

}  // namespace
}  // namespace zov

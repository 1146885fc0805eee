// Test helper: a program run as a child process, with listening sockets handed over the way
// systemd's socket activation does (descriptors 3, 4 ... with LISTEN_FDS and LISTEN_PID), its
// output in a file, signalled and waited for with a time limit. A child still running when
// the object goes is killed.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace zov::test {

class ChildProcess {
 public:
  ChildProcess() = default;
  // Starts `argv` (argv[0] the program's path) with stdout and stderr appended to `output`
  // (/dev/null when empty); `listenFds` become descriptors 3 on, announced by LISTEN_FDS and
  // LISTEN_PID. False when it cannot be started.
  bool start(const std::vector<std::string>& argv, const std::string& output = "",
             const std::vector<int>& listenFds = {});
  ~ChildProcess();
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  pid_t pid() const { return pid_; }
  bool running() const { return pid_ > 0; }
  void signal(int sig) const;
  // Waits up to timeoutMs for the child to end: its exit status, 128 + the signal that ended
  // it, or -1 when it is still running (it is left running).
  int wait(int timeoutMs);
  // A memory figure of /proc/PID/status in KB ("VmRSS", "VmHWM" for the peak), 0 when unknown.
  long memoryKb(const char* field = "VmRSS") const;

 private:
  pid_t pid_ = -1;
};

// A listening TCP socket on 127.0.0.1 with an ephemeral port (stored in `port`); -1 on failure.
int listenOnLoopback(uint16_t& port, int backlog = 4096);
// Waits up to timeoutMs for `path` to hold `text`; the file's contents (possibly without it).
std::string waitForText(const std::string& path, const std::string& text, int timeoutMs);
std::string readText(const std::string& path);

}  // namespace zov::test

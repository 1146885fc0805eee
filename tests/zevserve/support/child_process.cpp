#include "child_process.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <fstream>
#include <sstream>
#include <thread>

extern char** environ;

namespace zov::test {

namespace {

// Writes n in decimal at p (async-signal-safe: used between fork and exec).
void putDecimal(char* p, long n) {
  char digits[24];
  int k = 0;
  do {
    digits[k++] = char('0' + n % 10);
    n /= 10;
  } while (n > 0);
  while (k > 0) *p++ = digits[--k];
  *p = '\0';
}

}  // namespace

bool ChildProcess::start(const std::vector<std::string>& argv, const std::string& output,
                         const std::vector<int>& listenFds) {
  // Everything the child needs is built before fork: after it only async-signal-safe calls.
  std::vector<char*> args;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  std::vector<std::string> env;
  for (char** e = environ; *e; ++e)
    if (std::strncmp(*e, "LISTEN_", 7) != 0) env.emplace_back(*e);
  char listenPid[48] = "LISTEN_PID=";
  if (!listenFds.empty()) env.push_back("LISTEN_FDS=" + std::to_string(listenFds.size()));
  std::vector<char*> envp;
  for (std::string& e : env) envp.push_back(e.data());
  if (!listenFds.empty()) envp.push_back(listenPid);
  envp.push_back(nullptr);
  const int out = ::open(output.empty() ? "/dev/null" : output.c_str(),
                         O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
  if (out < 0) return false;

  pid_ = fork();
  if (pid_ == 0) {
    putDecimal(listenPid + 11, long(getpid()));
    // Out of the way of 3, 4 ... first, then into place (dup2 clears close-on-exec).
    int high[16];
    const size_t n = std::min<size_t>(listenFds.size(), 16);
    for (size_t i = 0; i < n; ++i) high[i] = fcntl(listenFds[i], F_DUPFD, 64);
    const int outHigh = fcntl(out, F_DUPFD, 64);
    for (size_t i = 0; i < n; ++i) dup2(high[i], int(3 + i));
    dup2(outHigh, 1);
    dup2(outHigh, 2);
    int devNull = ::open("/dev/null", O_RDONLY);
    dup2(devNull, 0);
    syscall(SYS_close_range, unsigned(3 + n), ~0u, 0u);
    execve(args[0], args.data(), envp.data());
    _exit(127);
  }
  ::close(out);
  return pid_ > 0;
}

ChildProcess::~ChildProcess() {
  if (pid_ > 0) {
    ::kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
  }
}

void ChildProcess::signal(int sig) const {
  if (pid_ > 0) ::kill(pid_, sig);
}

int ChildProcess::wait(int timeoutMs) {
  if (pid_ <= 0) return -1;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    int status = 0;
    const pid_t done = waitpid(pid_, &status, WNOHANG);
    if (done == pid_) {
      pid_ = -1;
      return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }
    if (std::chrono::steady_clock::now() >= deadline) return -1;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
}

long ChildProcess::memoryKb(const char* field) const {
  std::ifstream status("/proc/" + std::to_string(pid_) + "/status");
  const std::string key = std::string(field) + ":";
  std::string line;
  while (std::getline(status, line))
    if (line.starts_with(key)) return std::atol(line.c_str() + key.size());
  return 0;
}

int listenOnLoopback(uint16_t& port, int backlog) {
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof addr;
  if (fd < 0 || bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
      listen(fd, backlog) != 0 || getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
    if (fd >= 0) ::close(fd);
    return -1;
  }
  port = ntohs(addr.sin_port);
  return fd;
}

std::string readText(const std::string& path) {
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

std::string waitForText(const std::string& path, const std::string& text, int timeoutMs) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    std::string contents = readText(path);
    if (contents.find(text) != std::string::npos || std::chrono::steady_clock::now() >= deadline)
      return contents;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
}

}  // namespace zov::test

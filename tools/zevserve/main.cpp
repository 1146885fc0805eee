// zevserve [options] DIR: serves the stream files of DIR to the network movie source.
// Options may also come from a configuration file (--config FILE, one "key = value" a line,
// the keys the long option names); the command line wins.
#include <sys/resource.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <mutex>
#include <string>

#include "platform/program_version.h"
#include "tools/zevserve/server.h"

namespace {

zov::zevserve::Server* gServer = nullptr;
int gDrainSeconds = 30;

void onStop(int) {
  if (gServer) gServer->stop();
}
void onTerm(int) {
  if (gServer) gServer->drain(gDrainSeconds);
}
void onHangup(int) {
  if (gServer) gServer->rescan();
}

int usage(FILE* to = stderr) {
  std::fprintf(to,
               "usage: zevserve [--config FILE] [--port N] [--bind ADDR]... [--timeout SECONDS]\n"
               "                [--max-connections N] [--max-per-address N] [--rate BYTES]\n"
               "                [--drain SECONDS] [--log FILE] [--metrics PORT|FILE] DIR\n");
  return 2;
}

bool number(const std::string& text, unsigned long max, unsigned long& value) {
  char* end = nullptr;
  errno = 0;
  value = std::strtoul(text.c_str(), &end, 10);
  return errno == 0 && end != text.c_str() && *end == '\0' && value <= max;
}

struct Settings {
  zov::zevserve::ServerOptions options;
  bool bindGiven = false;
  std::string logFile;
};

// One option by its long name; false for a bad name or value.
bool apply(Settings& s, const std::string& key, const std::string& value) {
  unsigned long v = 0;
  auto& o = s.options;
  if (key == "port") {
    if (!number(value, 65535, v)) return false;
    o.port = uint16_t(v);
  } else if (key == "bind") {
    if (!s.bindGiven) o.bindAddresses.clear();
    s.bindGiven = true;
    o.bindAddresses.push_back(value);
  } else if (key == "timeout") {
    if (!number(value, 86400, v) || v == 0) return false;
    o.idleTimeoutMs = int(v * 1000);
  } else if (key == "max-connections") {
    if (!number(value, 1000000, v) || v == 0) return false;
    o.maxConnections = v;
  } else if (key == "max-per-address") {
    if (!number(value, 1000000, v)) return false;
    o.maxPerAddress = v;
  } else if (key == "rate") {
    if (!number(value, 1ul << 40, v)) return false;
    o.bytesPerSecond = v;
  } else if (key == "drain") {
    if (!number(value, 86400, v)) return false;
    gDrainSeconds = int(v);
  } else if (key == "log") {
    s.logFile = value;
  } else if (key == "metrics") {
    if (number(value, 65535, v))
      o.metricsPort = int(v);
    else
      o.metricsFile = value;
  } else if (key == "directory") {
    o.directory = value;
  } else {
    return false;
  }
  return true;
}

std::string trim(const std::string& s) {
  const size_t a = s.find_first_not_of(" \t\r");
  if (a == std::string::npos) return "";
  return s.substr(a, s.find_last_not_of(" \t\r") - a + 1);
}

bool readConfig(Settings& s, const std::string& path) {
  std::ifstream in(path);
  if (!in) {
    std::fprintf(stderr, "zevserve: cannot read %s: %s\n", path.c_str(), std::strerror(errno));
    return false;
  }
  std::string line;
  for (int number = 1; std::getline(in, line); ++number) {
    line = trim(line.substr(0, line.find('#')));
    if (line.empty()) continue;
    const size_t eq = line.find('=');
    const std::string key = trim(line.substr(0, eq)),
                      value = eq == std::string::npos ? std::string() : trim(line.substr(eq + 1));
    if (!apply(s, key, value)) {
      std::fprintf(stderr, "zevserve: %s:%d: not a valid setting: %s\n", path.c_str(), number,
                   line.c_str());
      return false;
    }
  }
  return true;
}

// The log: one line each, stamped with the UTC time; reopened on SIGHUP (for log rotation).
std::mutex gLogLock;
FILE* gLog = stderr;
std::string gLogPath;

void reopenLog() {
  if (gLogPath.empty()) return;
  std::lock_guard lock(gLogLock);
  if (FILE* f = std::fopen(gLogPath.c_str(), "a")) {
    if (gLog != stderr) std::fclose(gLog);
    gLog = f;
  }
}

void writeLog(const std::string& line) {
  std::lock_guard lock(gLogLock);
  char stamp[32];
  const std::time_t now = std::time(nullptr);
  std::tm utc{};
  gmtime_r(&now, &utc);
  std::strftime(stamp, sizeof stamp, "%Y-%m-%dT%H:%M:%SZ", &utc);
  std::fprintf(gLog, "%s %s\n", stamp, line.c_str());
  std::fflush(gLog);
}

}  // namespace

int main(int argc, char** argv) {
  if (zov::answerVersionOption(argc, argv, "zevserve")) return 0;
  Settings settings;
  auto& options = settings.options;
  options.bindAddresses = {"127.0.0.1"};
  // The configuration file first, wherever --config stands, so the command line wins.
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--help" || arg == "-h") {
      usage(stdout);
      return 0;
    }
    if (arg == "--config" && i + 1 < argc && !readConfig(settings, argv[++i])) return 2;
  }
  // Settings given on the command line replace the file's addresses, not add to them.
  settings.bindGiven = false;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    if (arg == "--config" && i + 1 < argc) {
      ++i;
    } else if (arg == "-p" && i + 1 < argc) {
      if (!apply(settings, "port", argv[++i])) return usage();
    } else if (arg.starts_with("--") && i + 1 < argc) {
      if (!apply(settings, arg.substr(2), argv[++i])) return usage();
    } else if (!arg.empty() && arg[0] != '-') {
      options.directory = arg;
    } else {
      return usage();
    }
  }
  if (options.directory.empty()) return usage();
  // Socket activation (systemd): listening sockets from descriptor 3 on, when meant for us.
  if (const char* pid = std::getenv("LISTEN_PID"); pid && std::atol(pid) == long(getpid())) {
    const int count = std::atoi(std::getenv("LISTEN_FDS") ? std::getenv("LISTEN_FDS") : "0");
    for (int fd = 3; fd < 3 + count; ++fd) options.listenFds.push_back(fd);
    unsetenv("LISTEN_PID");
    unsetenv("LISTEN_FDS");
    unsetenv("LISTEN_FDNAMES");
  }
  gLogPath = settings.logFile;
  reopenLog();
  options.log = writeLog;
  std::signal(SIGPIPE, SIG_IGN);
  // Each viewer holds a socket and its movie file open: lift the descriptor limit as far as
  // the system allows so a thousand viewers fit.
  rlimit files{};
  if (getrlimit(RLIMIT_NOFILE, &files) == 0 && files.rlim_cur < files.rlim_max) {
    files.rlim_cur = files.rlim_max;
    setrlimit(RLIMIT_NOFILE, &files);
  }
  zov::zevserve::Server server;
  if (!server.open(options)) {
    std::fprintf(stderr, "zevserve: %s\n", server.error().c_str());
    return 1;
  }
  server.reopenLog = reopenLog;
  gServer = &server;
  std::signal(SIGINT, onStop);
  std::signal(SIGTERM, onTerm);
  std::signal(SIGHUP, onHangup);
  auto movies = zov::zevserve::listMovies(options.directory);
  std::string where = options.listenFds.empty() ? "" : "activated socket(s), ";
  for (const std::string& a : options.bindAddresses)
    if (options.listenFds.empty()) where += a + " ";
  std::string metrics;
  if (options.metricsPort >= 0)
    metrics = ", metrics on port " + std::to_string(server.metricsPort());
  writeLog("zevserve: serving " + std::to_string(movies.size()) + " movie(s) of " +
           options.directory + " on " + where + "port " + std::to_string(server.port()) + metrics);
  server.run();
  gServer = nullptr;
  return 0;
}

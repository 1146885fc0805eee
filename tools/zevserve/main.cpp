// zevserve [--port 11541] [--bind ADDR] [--timeout SECONDS] DIR
// Serves the ZEV stream files of DIR to the network movie source.
#include <sys/resource.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/program_version.h"
#include "tools/zevserve/server.h"

namespace {

zov::zevserve::Server* gServer = nullptr;

void onSignal(int) {
  if (gServer) gServer->stop();
}

int usage(FILE* to = stderr) {
  std::fprintf(to,
               "usage: zevserve [--port N] [--bind ADDR] [--timeout SECONDS] "
               "[--max-connections N] DIR\n");
  return 2;
}

bool number(const char* text, unsigned long max, unsigned long& value) {
  char* end = nullptr;
  errno = 0;
  value = std::strtoul(text, &end, 10);
  return errno == 0 && end != text && *end == '\0' && value <= max;
}

}  // namespace

int main(int argc, char** argv) {
  if (zov::answerVersionOption(argc, argv, "zevserve")) return 0;
  zov::zevserve::ServerOptions options;
  options.bindAddress = "0.0.0.0";
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    unsigned long v = 0;
    if ((arg == "--port" || arg == "-p") && i + 1 < argc) {
      if (!number(argv[++i], 65535, v)) return usage();
      options.port = uint16_t(v);
    } else if (arg == "--bind" && i + 1 < argc) {
      options.bindAddress = argv[++i];
    } else if (arg == "--timeout" && i + 1 < argc) {
      if (!number(argv[++i], 86400, v) || v == 0) return usage();
      options.idleTimeoutMs = int(v * 1000);
    } else if (arg == "--max-connections" && i + 1 < argc) {
      if (!number(argv[++i], 1000000, v) || v == 0) return usage();
      options.maxConnections = v;
    } else if (arg == "--help" || arg == "-h") {
      usage(stdout);
      return 0;
    } else if (!arg.empty() && arg[0] != '-' && options.directory.empty()) {
      options.directory = arg;
    } else {
      return usage();
    }
  }
  if (options.directory.empty()) return usage();
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
  gServer = &server;
  std::signal(SIGINT, onSignal);
  std::signal(SIGTERM, onSignal);
  auto movies = zov::zevserve::listMovies(options.directory);
  std::fprintf(stderr, "zevserve: serving %zu movie(s) of %s on %s:%u\n", movies.size(),
               options.directory.c_str(), options.bindAddress.c_str(), unsigned(server.port()));
  server.run();
  gServer = nullptr;
  return 0;
}

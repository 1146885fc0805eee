// zovcomp: the compressor. Without a command it opens its window (a library loaded only then, so
// the command line needs no display and no Qt); with one it is the command line.
#include <unistd.h>

#include <filesystem>
#include <iostream>
#include <string_view>

#include "compressor/window_library.h"
#include "compressor/zovcomp_cli.h"
#include "platform/display_check.h"
#include "platform/program_version.h"

namespace {
// "zovcomp FILE..." (as file managers start it) opens the files in the window.
bool onlyFiles(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    std::error_code ec;
    if (arg == "compress" || arg == "help" || arg.empty() || arg[0] == '-' ||
        !std::filesystem::is_regular_file(arg, ec))
      return false;
  }
  return true;
}
}  // namespace

int main(int argc, char** argv) {
  if (zov::answerVersionOption(argc, argv, "zovcomp")) return 0;
  if (argc < 2 || onlyFiles(argc, argv)) {
    if (!zov::windowSystemAvailable()) {
      std::cerr << "zovcomp: no display for the window (DISPLAY is not set); the command line "
                   "needs none.\n\n"
                << zov::zovcompUsage();
      return 2;
    }
    int status = 0;
    std::string error;
    if (zov::runWindowLibrary(argc, argv, status, error)) return status;
    std::cerr << "zovcomp: " << error << "\n\n" << zov::zovcompUsage();
    return 2;
  }
  return zov::zovcompMain(argc, argv, std::cout, std::cerr, isatty(STDERR_FILENO) != 0);
}

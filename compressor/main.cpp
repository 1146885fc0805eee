// zovcomp: the compressor. Without a command it opens its window (a library loaded only then, so
// the command line needs no display and no Qt); with one it is the command line.
#include <unistd.h>

#include <iostream>

#include "compressor/window_library.h"
#include "compressor/zovcomp_cli.h"
#include "platform/display_check.h"
#include "platform/program_version.h"

int main(int argc, char** argv) {
  if (zov::answerVersionOption(argc, argv, "zovcomp")) return 0;
  if (argc < 2) {
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

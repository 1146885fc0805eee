// zovcomp: the compressor. Without a command it opens its window; with one it is the command line.
#include <unistd.h>

#include <iostream>

#include "compressor/zovcomp_cli.h"
#include "platform/program_version.h"
#ifdef ZOV_WITH_WINDOW
#include "compressor/gui/compressor_application.h"
#endif

int main(int argc, char** argv) {
  if (zov::answerVersionOption(argc, argv, "zovcomp")) return 0;
#ifdef ZOV_WITH_WINDOW
  if (argc < 2) return zov::runCompressorApplication(argc, argv);
#endif
  return zov::zovcompMain(argc, argv, std::cout, std::cerr, isatty(STDERR_FILENO) != 0);
}

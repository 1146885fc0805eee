// zovcomp: the compressor. Without a command it opens its window; with one it is the command line.
#include <unistd.h>

#include <filesystem>
#include <iostream>
#include <string_view>

#include "compressor/zovcomp_cli.h"
#include "platform/program_version.h"
#ifdef ZOV_WITH_WINDOW
#include "compressor/gui/compressor_application.h"
#endif

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
#ifdef ZOV_WITH_WINDOW
  if (argc < 2 || onlyFiles(argc, argv)) return zov::runCompressorApplication(argc, argv);
#endif
  return zov::zovcompMain(argc, argv, std::cout, std::cerr, isatty(STDERR_FILENO) != 0);
}

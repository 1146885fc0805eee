// zovinfo: inspects and decodes ZOV streams and AVI files (see --help).
#include <iostream>
#include <string>
#include <vector>

#include "platform/program_version.h"
#include "tools/zovinfo/commands.h"

int main(int argc, char** argv) {
  if (zov::answerVersionOption(argc, argv, "zovinfo")) return 0;
  std::vector<std::string> args(argv + 1, argv + argc);
  return zov::info::runZovinfo(args, std::cout, std::cerr);
}

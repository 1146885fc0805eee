// zovinfo: inspects and decodes ZOV streams and AVI files (see --help).
#include <iostream>
#include <string>
#include <vector>

#include "tools/zovinfo/commands.h"

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  return zov::info::runZovinfo(args, std::cout, std::cerr);
}

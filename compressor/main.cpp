// zovcomp: the compressor. Until its window exists it is the command line only.
#include <unistd.h>

#include <iostream>

#include "compressor/zovcomp_cli.h"

int main(int argc, char** argv) {
  return zov::zovcompMain(argc, argv, std::cout, std::cerr, isatty(STDERR_FILENO) != 0);
}

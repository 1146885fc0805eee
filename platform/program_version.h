// `PROGRAM --version`: every program of the suite answers it the same way, with one line
// "NAME VERSION" on standard output and exit status 0.
#pragma once

#include <cstdio>
#include <cstring>

#include "zov/version.h"

namespace zov {

// True when the first argument asks for the version; the line is printed then.
inline bool answerVersionOption(int argc, char** argv, const char* programName) {
  if (argc < 2 || std::strcmp(argv[1], "--version") != 0) return false;
  std::printf("%s %s\n", programName, ZOV_VERSION_STRING);
  std::fflush(stdout);
  return true;
}

}  // namespace zov

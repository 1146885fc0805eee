// Runs zovcomp's command line in the test process and collects what it printed.
#pragma once

#include <string>
#include <vector>

namespace zov::test {

struct CliResult {
  int rc = -1;
  std::string out, err;
};

// zovcompMain with "zovcomp" put before `args`; the ZOV decoder hook is reset afterwards.
CliResult runZovcomp(std::vector<std::string> args);

// The bundled clips.
std::string dataFile(const char* name);
// Number of lines of `text` that start with `prefix`.
int countLinesStarting(const std::string& text, const std::string& prefix);

}  // namespace zov::test

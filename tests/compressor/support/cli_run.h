// Runs zovcomp's command line in the test process and collects what it printed.
#pragma once

#include <string>
#include <vector>

namespace zov {
class AviContainer;
}

namespace zov::test {

struct CliResult {
  int rc = -1;
  std::string out, err;
};

// zovcompMain with "zovcomp" put before `args`; the ZOV decoder hook is reset afterwards.
CliResult runZovcomp(std::vector<std::string> args);

// The bundled clips.
std::string dataFile(const char* name);
// Every frame of `part` (bytes and key flag) and its audio are those of `whole`: the file of a
// run that stopped early is the start of the whole run's (gtest expectations).
void expectStartOfWholeRun(const AviContainer& part, const AviContainer& whole);

// Number of lines of `text` that start with `prefix`.
int countLinesStarting(const std::string& text, const std::string& prefix);

}  // namespace zov::test

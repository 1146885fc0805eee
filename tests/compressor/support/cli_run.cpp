#include "cli_run.h"

#include <sstream>

#include "compressor/video_decoder.h"
#include "compressor/zovcomp_cli.h"

namespace zov::test {

CliResult runZovcomp(std::vector<std::string> args) {
  args.insert(args.begin(), "zovcomp");
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  std::ostringstream out, err;
  CliResult c;
  c.rc = zovcompMain(int(argv.size()), argv.data(), out, err, false);
  c.out = out.str();
  c.err = err.str();
  setZovDecoderFactory(nullptr);
  return c;
}

std::string dataFile(const char* name) {
  return std::string(ZOV_TEST_DATA_DIR) + "/" + name;
}

int countLinesStarting(const std::string& text, const std::string& prefix) {
  std::istringstream in(text);
  int n = 0;
  for (std::string line; std::getline(in, line);)
    if (line.rfind(prefix, 0) == 0) ++n;
  return n;
}

}  // namespace zov::test

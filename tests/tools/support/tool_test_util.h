// Helpers of the zovinfo tests: temporary folders, file access and running the program.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace zov::test {

// A fresh folder under $TMPDIR (or /tmp), removed with its contents at the end of the scope.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& path() const { return path_; }
  std::string file(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

bool fileExists(const std::string& path);
std::vector<uint8_t> readFileBytes(const std::string& path);

// The decoder's picture as zovinfo writes it: 16-bit little-endian values.
std::vector<uint16_t> readRaw(const std::string& path);

struct ToolResult {
  int status = -1;
  std::string out, err;
};

// Runs zovinfo in-process.
ToolResult runInProcess(const std::vector<std::string>& args);
// Runs the built zovinfo program.
ToolResult runProgram(const std::vector<std::string>& args);

std::string dataFile(const std::string& name);

}  // namespace zov::test

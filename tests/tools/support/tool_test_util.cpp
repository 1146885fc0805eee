#include "tool_test_util.h"

#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "tools/zovinfo/commands.h"

namespace zov::test {

TempDir::TempDir() {
  const char* base = std::getenv("TMPDIR");
  std::string tmpl = std::string(base && *base ? base : "/tmp") + "/zovinfo-test-XXXXXX";
  std::vector<char> buf(tmpl.begin(), tmpl.end());
  buf.push_back('\0');
  if (!mkdtemp(buf.data())) throw std::runtime_error("cannot create a temporary folder");
  path_ = buf.data();
}

TempDir::~TempDir() {
  std::error_code ec;
  std::filesystem::remove_all(path_, ec);
}

bool fileExists(const std::string& path) {
  return std::filesystem::exists(path);
}

std::vector<uint8_t> readFileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

std::vector<uint16_t> readRaw(const std::string& path) {
  auto bytes = readFileBytes(path);
  std::vector<uint16_t> v(bytes.size() / 2);
  for (size_t i = 0; i < v.size(); ++i) v[i] = uint16_t(bytes[2 * i] | bytes[2 * i + 1] << 8);
  return v;
}

ToolResult runInProcess(const std::vector<std::string>& args) {
  std::ostringstream out, err;
  ToolResult r;
  r.status = info::runZovinfo(args, out, err);
  r.out = out.str();
  r.err = err.str();
  return r;
}

namespace {
std::string quote(const std::string& s) {
  std::string q = "'";
  for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}
}  // namespace

ToolResult runProgram(const std::vector<std::string>& args) {
  TempDir capture;
  std::string cmd = quote(ZOVINFO_PATH);
  for (const auto& a : args) {
    cmd += ' ';
    cmd += quote(a);
  }
  cmd += " >" + quote(capture.file("out")) + " 2>" + quote(capture.file("err"));
  int raw = std::system(cmd.c_str());
  ToolResult r;
  r.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  auto out = readFileBytes(capture.file("out"));
  auto err = readFileBytes(capture.file("err"));
  r.out.assign(out.begin(), out.end());
  r.err.assign(err.begin(), err.end());
  return r;
}

std::string dataFile(const std::string& name) {
  return std::string(ZOV_TEST_DATA_DIR) + "/" + name;
}

}  // namespace zov::test

#include "compressor/run_file_checks.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

namespace zov {

bool sameFile(const std::string& a, const std::string& b) {
  if (a.empty() || b.empty() || a == "-" || b == "-") return false;
  struct stat sa, sb;
  if (::stat(a.c_str(), &sa) == 0 && ::stat(b.c_str(), &sb) == 0)
    return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
  std::error_code ea, eb;
  const auto ca = std::filesystem::weakly_canonical(std::filesystem::absolute(a, ea), ea);
  const auto cb = std::filesystem::weakly_canonical(std::filesystem::absolute(b, eb), eb);
  return !ea && !eb && ca == cb;
}

std::string outputIsInputRefusal(const std::string& output, const std::vector<std::string>& inputs,
                                 const std::string& what) {
  for (const std::string& input : inputs) {
    if (sameFile(output, input))
      return "The " + what + " \"" + output + "\" is the input \"" + input +
             "\": writing it would destroy the input. Choose another " + what + ".";
  }
  return {};
}

std::string inputFileProblem(const std::string& path) {
  if (path == "-") return {};
  const std::string name = "\"" + path + "\"";
  struct stat st;
  if (::stat(path.c_str(), &st) != 0) return name + ": " + std::strerror(errno);
  if (S_ISDIR(st.st_mode)) return name + " is a folder, not a movie or an edit list";
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return name + " can't be read: " + std::strerror(errno);
  ::close(fd);
  return {};
}

}  // namespace zov

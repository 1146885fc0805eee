#include "compressor/output_target.h"

#include <sys/stat.h>

#include <filesystem>

namespace zov {

bool sameFile(const std::string& a, const std::string& b) {
  if (a.empty() || b.empty()) return false;
  struct stat sa {
  }, sb{};
  if (::stat(a.c_str(), &sa) == 0 && ::stat(b.c_str(), &sb) == 0)
    return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
  std::error_code ec;
  const auto pa = std::filesystem::weakly_canonical(std::filesystem::absolute(a, ec), ec);
  const auto pb = std::filesystem::weakly_canonical(std::filesystem::absolute(b, ec), ec);
  return !ec && pa == pb;
}

std::optional<std::string> targetIsASource(const std::string& target,
                                           const std::vector<std::string>& sources) {
  for (const std::string& source : sources)
    if (sameFile(target, source))
      return "The output \"" + target + "\" is the source \"" + source +
             "\": a compression can't write over its own source. Choose another file.";
  return std::nullopt;
}

}  // namespace zov

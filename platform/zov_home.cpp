#include "platform/zov_home.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

namespace zov {

namespace {

const char* nonEmptyEnv(const char* name) {
  const char* v = std::getenv(name);
  return v && *v ? v : nullptr;
}

std::filesystem::path userHome() {
  if (const char* home = nonEmptyEnv("HOME")) return home;
  // Services and cron jobs may run without HOME; the password database still knows it.
  if (const passwd* pw = getpwuid(getuid()); pw && pw->pw_dir && *pw->pw_dir) return pw->pw_dir;
  return "/";
}

}  // namespace

std::filesystem::path zovHomeDirectory() {
  if (const char* home = nonEmptyEnv("ZOV_HOME")) return home;
  // The XDG base directory rules ignore relative values.
  if (const char* config = nonEmptyEnv("XDG_CONFIG_HOME"); config && config[0] == '/') {
    return std::filesystem::path(config) / "zov";
  }
  return userHome() / ".config" / "zov";
}

bool ensureZovHomeDirectory(std::error_code& error) {
  error.clear();
  std::filesystem::path dir = zovHomeDirectory();
  if (std::filesystem::is_directory(dir, error)) return true;
  std::filesystem::create_directories(dir, error);
  if (error) return false;
  return std::filesystem::is_directory(dir, error);
}

std::filesystem::path resolveInZovHome(std::string_view fileName) {
  std::filesystem::path p{std::string(fileName)};
  if (p.is_absolute()) return p;
  return zovHomeDirectory() / p;
}

}  // namespace zov

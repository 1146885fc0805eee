#include "compressor/window_library.h"

#include <dlfcn.h>

#include <cstdlib>
#include <filesystem>
#include <vector>

namespace zov {

namespace {

std::vector<std::filesystem::path> windowLibraryCandidates() {
  std::vector<std::filesystem::path> paths;
  if (const char* env = std::getenv("ZOVCOMP_WINDOW_LIBRARY"); env && *env) paths.push_back(env);
  std::error_code ec;
  const auto exe = std::filesystem::read_symlink("/proc/self/exe", ec);
  if (!ec) {
    const auto dir = exe.parent_path();
    paths.push_back(dir / kWindowLibraryName);
    paths.push_back(dir / ZOV_WINDOW_LIBRARY_RELATIVE_DIR / kWindowLibraryName);
  }
  return paths;
}

}  // namespace

bool runWindowLibrary(int argc, char** argv, int& status, std::string& error) {
  error.clear();
  for (const auto& path : windowLibraryCandidates()) {
    std::error_code ec;
    if (!std::filesystem::exists(path, ec)) continue;
    void* library = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!library) {
      error = dlerror();
      return false;
    }
    using Entry = int (*)(int, char**);
    auto entry = reinterpret_cast<Entry>(dlsym(library, kWindowEntryName));
    if (!entry) {
      error = path.string() + " has no " + kWindowEntryName;
      return false;
    }
    // The library stays loaded until the program ends: Qt keeps threads and handlers.
    status = entry(argc, argv);
    return true;
  }
  error = std::string("the compressor window (") + kWindowLibraryName + ") is not installed";
  return false;
}

}  // namespace zov

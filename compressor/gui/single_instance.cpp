#include "compressor/gui/single_instance.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>

#include "platform/zov_home.h"

namespace zov {

SingleInstanceLock::~SingleInstanceLock() {
  release();
}

std::string SingleInstanceLock::defaultPath() {
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  // Tests point ZOV_HOME at their own folder: the lock follows it there.
  if (runtime && *runtime && !std::getenv("ZOV_HOME"))
    return (std::filesystem::path(runtime) / "zovcomp.lock").string();
  std::error_code ec;
  ensureZovHomeDirectory(ec);
  return (zovHomeDirectory() / "zovcomp.lock").string();
}

bool SingleInstanceLock::acquire(const std::string& path) {
  if (fd_ >= 0) return true;
  const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  if (fd < 0) return false;
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    ::close(fd);
    return false;
  }
  fd_ = fd;
  return true;
}

void SingleInstanceLock::release() {
  if (fd_ < 0) return;
  ::flock(fd_, LOCK_UN);
  ::close(fd_);
  fd_ = -1;
}

}  // namespace zov

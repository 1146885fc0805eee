// The compressor runs once per user: an exclusive lock on a lock file ("zovcomp.lock" in
// $XDG_RUNTIME_DIR, else in the ZOV home) held for the program's life. The lock goes with the
// process, so a crashed copy never blocks the next one.
#pragma once

#include <string>

namespace zov {

class SingleInstanceLock {
 public:
  SingleInstanceLock() = default;
  ~SingleInstanceLock();
  SingleInstanceLock(const SingleInstanceLock&) = delete;
  SingleInstanceLock& operator=(const SingleInstanceLock&) = delete;

  // True when this is the only copy (the lock is now held); false when another copy holds it or
  // the lock file can't be created.
  bool acquire(const std::string& path = defaultPath());
  void release();
  bool held() const { return fd_ >= 0; }

  static std::string defaultPath();

 private:
  int fd_ = -1;
};

}  // namespace zov

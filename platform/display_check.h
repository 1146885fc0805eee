// Whether a windowed program can open a window at all, decided before the toolkit starts (the
// toolkit aborts the process when it finds no display).
#pragma once

#include <cstdlib>
#include <cstring>

namespace zov {

inline bool windowSystemAvailable() {
  const char* platform = std::getenv("QT_QPA_PLATFORM");
  // offscreen, vnc, eglfs, ... need no display server.
  if (platform && *platform && std::strncmp(platform, "xcb", 3) != 0 &&
      std::strncmp(platform, "wayland", 7) != 0)
    return true;
  auto set = [](const char* name) {
    const char* value = std::getenv(name);
    return value && *value;
  };
  return set("DISPLAY") || set("WAYLAND_DISPLAY");
}

}  // namespace zov

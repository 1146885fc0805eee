// A driver for the manager's tests: it appends every message it gets to the file named by
// $FAKE_DRIVER_LOG ("message driverId") and refuses opens of the handler "nope".
#include <cstdio>
#include <cstdlib>

#include "platform/vfw.h"

extern "C" __attribute__((visibility("default"))) LRESULT DriverProc(DWORD_PTR id, HDRVR, UINT msg,
                                                                     LPARAM, LPARAM lParam2) {
  if (const char* path = std::getenv("FAKE_DRIVER_LOG")) {
    if (FILE* f = std::fopen(path, "a")) {
      std::fprintf(f, "%u %lu\n", msg, static_cast<unsigned long>(id));
      std::fclose(f);
    }
  }
  if (msg == DRV_OPEN) {
    auto* open = reinterpret_cast<ICOPEN*>(lParam2);
    if (open && open->fccHandler == mmioFOURCC('n', 'o', 'p', 'e')) return 0;
    return 42;
  }
  if (msg == ICM_GETSTATE) return 7;
  return 1;
}

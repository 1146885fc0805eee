// Registering, starting, stopping and removing the selector driver's service "zovddnt", shared by
// the setup library and the driver remover (which word their boxes differently).
#pragma once

#include <string>

#include "platform/ui.h"

namespace zov::setup {

inline constexpr const char* kDriverServiceName = "zovddnt";
inline constexpr const char* kSetupBoxTitle = "Orvane ZOV32SUP.DLL";

// The driver image the service points at: the system directory's "drivers" folder.
std::string driverImagePath();

// Deletes an existing "zovddnt" service, creates it anew (kernel driver, started automatically)
// and starts it. Each failure shows one box titled "Orvane ZOV32SUP.DLL" and ends the step.
// Returns true when the service was created and started.
bool installAndStartDriver(WindowHandle owner);

// The boxes of a removal: printf formats taking the Win32 error code.
struct RemovalTexts {
  const char* title;
  const char* openManager;
  const char* openService;
  const char* deleteService;
  const char* closeHandle;
};
extern const RemovalTexts kSetupRemovalTexts;
extern const RemovalTexts kRemoverRemovalTexts;

// Stops the "zovddnt" service, waits for it half a second, and deletes it. A service that is
// not registered is no error; every other failure shows one box. Returns true when the service
// is gone (deleted now or not there).
bool stopAndRemoveDriver(WindowHandle owner, const RemovalTexts& texts);

// A printf-formatted box text.
std::string formatMessage(const char* format, ...) __attribute__((format(printf, 1, 2)));

}  // namespace zov::setup

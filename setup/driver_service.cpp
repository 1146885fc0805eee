#include "setup/driver_service.h"

#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <thread>

#include "platform/service_registry.h"

namespace zov::setup {
namespace {

void show(WindowHandle owner, const std::string& text, const char* title) {
  messageBox(owner, text, title, MB_OK | MB_ICONERROR);
}

void showFailure(WindowHandle owner, const char* format, const char* title) {
  // The texts are fixed formats with one "%ld".
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
  show(owner, formatMessage(format, static_cast<long>(serviceLastError())), title);
#pragma GCC diagnostic pop
}

}  // namespace

const RemovalTexts kSetupRemovalTexts = {
    kSetupBoxTitle,
    "OpenSCManager failed, rc = %ld\rUnable to install the zovddnt device driver",
    "OpenService failed, rc = %ld\rUnable to install the zovddnt device driver",
    "DeleteService failed, rc = %ld\rUnable to install the zovddnt device driver",
    "CloseServiceHandle failed, rc = %ld\rUnable to install the zovddnt device driver",
};

const RemovalTexts kRemoverRemovalTexts = {
    "Uninstaller",
    "OpenSCManager failed, rc = %ld\nUnable to remove the zovddnt device driver",
    "OpenService failed, rc = %ld\nUnable to remove the zovddnt device driver",
    "DeleteService failed, rc = %ld\nUnable to remove the zovddnt device driver",
    "CloseServiceHandle failed, rc = %ld",
};

std::string formatMessage(const char* format, ...) {
  va_list arguments;
  va_start(arguments, format);
  va_list copy;
  va_copy(copy, arguments);
  int length = std::vsnprintf(nullptr, 0, format, copy);
  va_end(copy);
  std::string text(length > 0 ? static_cast<size_t>(length) : 0, '\0');
  std::vsnprintf(text.data(), text.size() + 1, format, arguments);
  va_end(arguments);
  return text;
}

std::string driverImagePath() {
  return (systemDirectory() / "drivers" / (std::string(kDriverServiceName) + ".sys")).string();
}

bool installAndStartDriver(WindowHandle owner) {
  const char* title = kSetupBoxTitle;
  SC_HANDLE manager = openSCManager(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
  if (manager == nullptr) {
    showFailure(owner, kSetupRemovalTexts.openManager, title);
    return false;
  }
  bool ok = false;
  // A service left from an earlier installation is replaced, so it points at this driver.
  SC_HANDLE service = openService(manager, kDriverServiceName, SERVICE_ALL_ACCESS);
  if (service == nullptr && serviceLastError() != ERROR_SERVICE_DOES_NOT_EXIST) {
    showFailure(owner, kSetupRemovalTexts.openService, title);
  } else if (service != nullptr && !deleteService(service)) {
    showFailure(owner, kSetupRemovalTexts.deleteService, title);
    closeServiceHandle(service);
  } else if (service != nullptr && !closeServiceHandle(service)) {
    showFailure(owner, kSetupRemovalTexts.closeHandle, title);
  } else {
    std::string image = driverImagePath();
    service = createService(manager, kDriverServiceName, kDriverServiceName, SERVICE_ALL_ACCESS,
                            SERVICE_KERNEL_DRIVER, SERVICE_AUTO_START, SERVICE_ERROR_NORMAL,
                            image.c_str());
    if (service == nullptr) {
      showFailure(owner,
                  "CreateService failed, rc = %ld\rUnable to install the zovddnt device driver",
                  title);
    } else {
      if (!startService(service, 0, nullptr)) {
        showFailure(owner,
                    "StartService failed, rc = %ld\rUnable to start the zovddnt device driver "
                    "(please reboot following the install)",
                    title);
      } else {
        ok = true;
      }
      closeServiceHandle(service);
    }
  }
  closeServiceHandle(manager);
  return ok;
}

bool stopAndRemoveDriver(WindowHandle owner, const RemovalTexts& texts) {
  SC_HANDLE manager = openSCManager(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
  if (manager == nullptr) {
    showFailure(owner, texts.openManager, texts.title);
    return false;
  }
  bool gone = false;
  SC_HANDLE service = openService(manager, kDriverServiceName, SERVICE_ALL_ACCESS);
  if (service == nullptr) {
    if (serviceLastError() == ERROR_SERVICE_DOES_NOT_EXIST) {
      gone = true;  // already removed: nothing to say
    } else {
      showFailure(owner, texts.openService, texts.title);
    }
  } else {
    SERVICE_STATUS status;
    // A driver that was running gets its moment to stop; a stopped one needs none.
    if (controlService(service, SERVICE_CONTROL_STOP, &status))
      std::this_thread::sleep_for(std::chrono::milliseconds(500));
    if (deleteService(service)) {
      gone = true;
    } else {
      showFailure(owner, texts.deleteService, texts.title);
    }
    if (!closeServiceHandle(service)) showFailure(owner, texts.closeHandle, texts.title);
  }
  if (!closeServiceHandle(manager)) showFailure(owner, texts.closeHandle, texts.title);
  return gone;
}

}  // namespace zov::setup

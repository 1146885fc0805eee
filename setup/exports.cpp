// The exports of libzov32sup in the installer's call form.
#include "platform/service_registry.h"
#include "platform/ui.h"
#include "setup/driver_service.h"
#include "setup/install_script.h"
#include "setup/installer_files.h"
#include "setup/system_identity.h"
#include "setup/zov32sup.h"

namespace {

const char* text(const char* s) {
  return s != nullptr ? s : "";
}

}  // namespace

using namespace zov;
using namespace zov::setup;

extern "C" {

ZOV32SUP_API uint32_t ZOVVerifyWin95(void* window, const char*, const char*, const char*,
                                     const char*) {
  if (!currentOsVersion().ntFamily) return 1;
  messageBox(window,
             "This installation is only for Windows 95.  Please use the correct installation for "
             "your Operating System!",
             "Install Error", MB_OK | MB_ICONERROR);
  return 0;
}

ZOV32SUP_API uint32_t ZOVVerifyWinNT(void* window, const char*, const char*, const char*,
                                     const char*) {
  OsVersion os = currentOsVersion();
  if (!os.ntFamily) {
    messageBox(window,
               "This installation is only for Windows NT.  Please use the correct installation "
               "for your Operating System!",
               "Install Error", MB_OK | MB_ICONERROR);
    return 0;
  }
  if (os.major < 4) {
    int answer = messageBox(window,
                            "This product was designed for Windows NT 4.0 which you are not "
                            "running.\nDo you wish to continue anyway?",
                            "Install Error", MB_YESNO | MB_ICONERROR);
    if (answer != IDYES) return 0;
  }
  SC_HANDLE manager = openSCManager(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
  if (manager != nullptr) {
    closeServiceHandle(manager);
    return 1;
  }
  uint32_t error = serviceLastError();
  if (error == ERROR_ACCESS_DENIED) {
    messageBox(window,
               "Your userid is denied the authority to install device drivers\rPlease logon as "
               "Administrator and try again.",
               "Install Error", MB_OK | MB_ICONERROR);
  } else {
    messageBox(window,
               formatMessage("Your userid appears to be unable to install device drivers "
                             "(OpenSCManager RC=%ld\rPlease logon as Administrator and try again.",
                             static_cast<long>(error)),
               kSetupBoxTitle, MB_OK | MB_ICONERROR);
  }
  return 0;
}

ZOV32SUP_API uint32_t ZOVInstallAndStartDD(void* window, const char*, const char*, const char*,
                                           const char*) {
  installAndStartDriver(window);
  return 1;
}

ZOV32SUP_API uint32_t ZOVStopAndRemoveDD(void* window, const char*, const char*, const char*,
                                         const char*) {
  stopAndRemoveDriver(window, kSetupRemovalTexts);
  return 1;
}

ZOV32SUP_API uint32_t ZOVSetupComplete(void* window, const char* s1, const char*, const char* s3,
                                       const char*) {
  return completeSetup(window, text(s1), text(s3)) ? 1 : 0;
}

ZOV32SUP_API uint32_t ZOVDetectMMX(void*, const char*, const char* s2, const char*, const char*) {
  swapBitmapsForMmx(text(s2));
  return 1;
}

ZOV32SUP_API uint32_t ZOVChangeNTUninstaller(void* window, const char*, const char* s2,
                                             const char* s3, const char*) {
  chainUninstaller(window, text(s2), text(s3));
  return 1;
}

}  // extern "C"

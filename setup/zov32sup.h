// libzov32sup: the setup support library an installation program calls at fixed points of an
// installation. Every export has the installer's library-call form: the installer's window and
// four strings, of which each export uses the ones named below (null counts as empty). The low
// byte of the result is 1 to let the installation go on and 0 to stop it.
#ifndef ZOV_ZOV32SUP_H
#define ZOV_ZOV32SUP_H

#include <stdint.h>

#if defined(ZOV32SUP_BUILD)
#define ZOV32SUP_API __attribute__((visibility("default")))
#else
#define ZOV32SUP_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

// 1 on the Windows 95 family; this system is never on it, so a box and 0.
ZOV32SUP_API uint32_t ZOVVerifyWin95(void* window, const char* s1, const char* s2, const char* s3,
                                     const char* s4);
// 1 when drivers can be installed: the NT family, version 4 or later (or the user goes on), and
// the service manager opens with full access.
ZOV32SUP_API uint32_t ZOVVerifyWinNT(void* window, const char* s1, const char* s2, const char* s3,
                                     const char* s4);
// (Re)registers the "zovddnt" service and starts it. Always 1; failures are shown.
ZOV32SUP_API uint32_t ZOVInstallAndStartDD(void* window, const char* s1, const char* s2,
                                           const char* s3, const char* s4);
// Stops and unregisters the "zovddnt" service. Always 1; failures are shown.
ZOV32SUP_API uint32_t ZOVStopAndRemoveDD(void* window, const char* s1, const char* s2,
                                         const char* s3, const char* s4);
// Finishes the installation from "rorarev.ini" in the source directory s1 into the installation
// directory s3: copy list, icon list (desktop entries), settings lines. 1, or 0 after a box.
ZOV32SUP_API uint32_t ZOVSetupComplete(void* window, const char* s1, const char* s2, const char* s3,
                                       const char* s4);
// On an MMX processor, swaps "setup.bmp" and "setupmmx.bmp" in directory s2. Always 1.
ZOV32SUP_API uint32_t ZOVDetectMMX(void* window, const char* s1, const char* s2, const char* s3,
                                   const char* s4);
// Puts the driver remover (installation directory s3) in front of the uninstall command of the
// application named in s2's "setup.ini". Always 1.
ZOV32SUP_API uint32_t ZOVChangeNTUninstaller(void* window, const char* s1, const char* s2,
                                             const char* s3, const char* s4);

#ifdef __cplusplus
}  // extern "C"
#endif

#endif  // ZOV_ZOV32SUP_H

// The part of the system registry the installation tools touch: keys under HKEY_LOCAL_MACHINE
// (in practice "SOFTWARE\Microsoft\Windows\CurrentVersion\Uninstall\<application>") holding
// string values. Stored in "uninstall.ini" in the ZOV home: one section per key, named by its
// full path ("HKEY_LOCAL_MACHINE\SOFTWARE\...\Uninstall\Orvane"), one line per value with its
// type in front ("UninstallString=REG_SZ:/opt/orvane/uninstall --all"). Key and value names match
// without regard to case, as in the registry.
//
// The functions return Win32 error codes (ERROR_SUCCESS, ERROR_FILE_NOT_FOUND, ERROR_MORE_DATA,
// ERROR_ACCESS_DENIED ...), like the registry functions.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

#include "platform/service_registry.h"  // the Win32 error codes

namespace zov {

struct RegistryKeyRecord;
using HKEY = RegistryKeyRecord*;

// The one predefined root this registry has.
HKEY hkeyLocalMachine();
#define HKEY_LOCAL_MACHINE (::zov::hkeyLocalMachine())

enum : uint32_t {
  REG_NONE = 0,
  REG_SZ = 1,
  REG_EXPAND_SZ = 2,

  KEY_QUERY_VALUE = 0x0001,
  KEY_SET_VALUE = 0x0002,
  KEY_READ = 0x20019,
  KEY_WRITE = 0x20006,
  KEY_ALL_ACCESS = 0xF003F,

  REGISTRY_ERROR_FILE_NOT_FOUND = 2,
  REGISTRY_ERROR_MORE_DATA = 234,
};

inline constexpr std::string_view kUninstallKeyPath =
    "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";

std::filesystem::path uninstallRegistryPath();

// Opens an existing key; ERROR_FILE_NOT_FOUND when it does not exist.
long regOpenKeyEx(HKEY root, const char* subKey, uint32_t options, uint32_t access, HKEY* result);
// Opens a key, creating it when missing.
long regCreateKeyEx(HKEY root, const char* subKey, uint32_t access, HKEY* result);
// Reads a value: its type, and its data (with the terminating NUL) when data is not null. size
// holds the buffer's size on entry and the data's size on return; a short buffer gives
// ERROR_MORE_DATA.
long regQueryValueEx(HKEY key, const char* valueName, uint32_t* reserved, uint32_t* type,
                     uint8_t* data, uint32_t* size);
// Writes a string value (REG_SZ or REG_EXPAND_SZ); the data ends at its first NUL or its size.
long regSetValueEx(HKEY key, const char* valueName, uint32_t reserved, uint32_t type,
                   const uint8_t* data, uint32_t size);
long regCloseKey(HKEY key);

namespace uninstall_registry_testing {
// The next call of "RegOpenKeyEx", "RegQueryValueEx" or "RegSetValueEx" fails with this code
// (0 clears every pending failure).
void failNext(std::string_view operation, long error);
}  // namespace uninstall_registry_testing

}  // namespace zov

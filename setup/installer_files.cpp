#include "setup/installer_files.h"

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/profile.h"
#include "platform/uninstall_registry.h"
#include "setup/system_identity.h"

namespace zov::setup {
namespace {

void uninstallInfo(WindowHandle owner, const char* text) {
  messageBox(owner, text, "Uninstall Info", MB_OK);
}

// The remover's path as the first word of a command: quoted when it holds blanks.
std::string remover(std::string_view installDirectory) {
  std::string path(installDirectory);
  if (path.empty() || path.back() != '/') path += '/';
  path += kRemoverProgram;
  if (path.find_first_of(" \t") != std::string::npos) path = "\"" + path + "\"";
  return path + " ";
}

}  // namespace

bool swapBitmapsForMmx(std::string_view bitmapDirectory) {
  ProcessorIdentity cpu = identifyProcessor();
  if (!cpu.hasCpuid || !cpu.hasMmx) return false;
  std::filesystem::path directory{std::string(bitmapDirectory)};
  std::filesystem::path setup = directory / "setup.bmp";
  std::filesystem::path mmx = directory / "setupmmx.bmp";
  std::filesystem::path temp = directory / "temp.bmp";
  // Without both pictures the swap would leave the installer without its "setup.bmp".
  std::error_code error;
  if (!std::filesystem::is_regular_file(setup, error) ||
      !std::filesystem::is_regular_file(mmx, error))
    return false;
  // Rename errors are ignored: a picture that cannot be swapped is no reason to stop installing.
  std::rename(setup.c_str(), temp.c_str());
  std::rename(mmx.c_str(), setup.c_str());
  std::rename(temp.c_str(), mmx.c_str());
  return true;
}

bool chainUninstaller(WindowHandle owner, std::string_view installerDirectory,
                      std::string_view installDirectory) {
  std::filesystem::path setupIni =
      std::filesystem::path(std::string(installerDirectory)) / "setup.ini";
  std::string appName =
      ProfileFile(setupIni.string()).getString("VisualDesign", "AppName", "", 256);
  if (appName.empty()) {
    uninstallInfo(owner,
                  "Unable to access ini file information.  Uninstallation information incomplete.");
    return false;
  }
  std::string keyName = std::string(kUninstallKeyPath) + appName;
  HKEY key = nullptr;
  if (regOpenKeyEx(HKEY_LOCAL_MACHINE, keyName.c_str(), 0, KEY_ALL_ACCESS, &key) != ERROR_SUCCESS) {
    uninstallInfo(owner,
                  "Unable to read registry information.  Uninstallation information incomplete.");
    return false;
  }
  uint32_t type = 0;
  uint32_t size = 0;
  std::vector<uint8_t> data;
  long status = regQueryValueEx(key, "UninstallString", nullptr, &type, nullptr, &size);
  if (status == ERROR_SUCCESS) {
    data.resize(size + 1);
    size = static_cast<uint32_t>(data.size());
    status = regQueryValueEx(key, "UninstallString", nullptr, &type, data.data(), &size);
  }
  if (status != ERROR_SUCCESS) {
    regCloseKey(key);
    uninstallInfo(owner,
                  "Unable to read registry information.  Uninstallation information incomplete.");
    return false;
  }
  std::string command(reinterpret_cast<const char*>(data.data()));
  std::string prefix = remover(installDirectory);
  // An installation run again over an old one finds the remover already chained.
  if (command.compare(0, prefix.size(), prefix) != 0) {
    std::string chained = prefix + command;
    status = regSetValueEx(key, "UninstallString", 0, type,
                           reinterpret_cast<const uint8_t*>(chained.c_str()),
                           static_cast<uint32_t>(chained.size() + 1));
  }
  regCloseKey(key);
  if (status != ERROR_SUCCESS) {
    uninstallInfo(owner,
                  "Unable to write registry information.  Uninstallation information incomplete.");
    return false;
  }
  return true;
}

}  // namespace zov::setup

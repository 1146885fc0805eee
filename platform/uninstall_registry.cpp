#include "platform/uninstall_registry.h"

#include <cerrno>
#include <cstring>
#include <map>
#include <mutex>

#include "platform/profile.h"
#include "platform/service_registry.h"
#include "platform/zov_home.h"

namespace zov {

struct RegistryKeyRecord {
  std::string path;  // full path with the root's name, the section name in the file
  bool predefined = false;
};

namespace {

constexpr std::string_view kRootName = "HKEY_LOCAL_MACHINE";

std::mutex& faultMutex() {
  static std::mutex m;
  return m;
}

std::map<std::string, long, std::less<>>& pendingFaults() {
  static std::map<std::string, long, std::less<>> faults;
  return faults;
}

bool injectedFailure(std::string_view operation, long& error) {
  std::lock_guard lock(faultMutex());
  auto it = pendingFaults().find(operation);
  if (it == pendingFaults().end()) return false;
  error = it->second;
  pendingFaults().erase(it);
  return true;
}

long errorFromErrno(int err) {
  return (err == EACCES || err == EPERM || err == EROFS) ? long{ERROR_ACCESS_DENIED}
                                                         : long{ERROR_GEN_FAILURE};
}

ProfileFile registryFile() {
  return ProfileFile(uninstallRegistryPath().string());
}

// "A\\B\\" and "A\B" name the same key; empty parts are dropped.
bool keyPath(HKEY root, const char* subKey, std::string& path) {
  if (root == nullptr || !root->predefined || subKey == nullptr) return false;
  path = root->path;
  std::string_view rest(subKey);
  while (!rest.empty()) {
    size_t cut = rest.find('\\');
    std::string_view part = rest.substr(0, cut);
    if (part.find_first_of("[]\r\n") != std::string_view::npos) return false;
    if (!part.empty()) path.append("\\").append(part);
    rest = cut == std::string_view::npos ? std::string_view{} : rest.substr(cut + 1);
  }
  return true;
}

bool typeFromName(std::string_view name, uint32_t& type) {
  if (name == "REG_SZ")
    type = REG_SZ;
  else if (name == "REG_EXPAND_SZ")
    type = REG_EXPAND_SZ;
  else
    return false;
  return true;
}

}  // namespace

HKEY hkeyLocalMachine() {
  static RegistryKeyRecord root{std::string(kRootName), true};
  return &root;
}

std::filesystem::path uninstallRegistryPath() {
  return zovHomeDirectory() / "uninstall.ini";
}

long regOpenKeyEx(HKEY root, const char* subKey, uint32_t /*options*/, uint32_t /*access*/,
                  HKEY* result) {
  *result = nullptr;
  long error = 0;
  if (injectedFailure("RegOpenKeyEx", error)) return error;
  std::string path;
  if (!keyPath(root, subKey, path)) return ERROR_INVALID_PARAMETER;
  if (path != root->path && !registryFile().hasSection(path)) return REGISTRY_ERROR_FILE_NOT_FOUND;
  *result = new RegistryKeyRecord{path, false};
  return ERROR_SUCCESS;
}

long regCreateKeyEx(HKEY root, const char* subKey, uint32_t /*access*/, HKEY* result) {
  *result = nullptr;
  std::string path;
  if (!keyPath(root, subKey, path)) return ERROR_INVALID_PARAMETER;
  ProfileFile file = registryFile();
  if (!file.hasSection(path) && !file.emptySection(path)) return errorFromErrno(file.lastError());
  *result = new RegistryKeyRecord{path, false};
  return ERROR_SUCCESS;
}

long regQueryValueEx(HKEY key, const char* valueName, uint32_t* /*reserved*/, uint32_t* type,
                     uint8_t* data, uint32_t* size) {
  long error = 0;
  if (injectedFailure("RegQueryValueEx", error)) return error;
  if (key == nullptr) return ERROR_INVALID_HANDLE;
  std::string stored;
  if (!registryFile().lookup(key->path, valueName != nullptr ? valueName : "", stored))
    return REGISTRY_ERROR_FILE_NOT_FOUND;
  size_t colon = stored.find(':');
  uint32_t storedType = REG_SZ;
  std::string text = stored;
  if (colon != std::string::npos &&
      typeFromName(std::string_view(stored).substr(0, colon), storedType))
    text = stored.substr(colon + 1);
  if (type != nullptr) *type = storedType;
  uint32_t needed = static_cast<uint32_t>(text.size() + 1);
  if (size == nullptr) return data == nullptr ? long{ERROR_SUCCESS} : long{ERROR_INVALID_PARAMETER};
  uint32_t available = *size;
  *size = needed;
  if (data == nullptr) return ERROR_SUCCESS;
  if (available < needed) return REGISTRY_ERROR_MORE_DATA;
  std::memcpy(data, text.c_str(), needed);
  return ERROR_SUCCESS;
}

long regSetValueEx(HKEY key, const char* valueName, uint32_t /*reserved*/, uint32_t type,
                   const uint8_t* data, uint32_t size) {
  long error = 0;
  if (injectedFailure("RegSetValueEx", error)) return error;
  if (key == nullptr || key->predefined) return ERROR_INVALID_HANDLE;
  if ((type != REG_SZ && type != REG_EXPAND_SZ) || (data == nullptr && size != 0))
    return ERROR_INVALID_PARAMETER;
  std::string text(reinterpret_cast<const char*>(data), size);
  text.resize(std::strlen(text.c_str()));
  if (text.find_first_of("\r\n") != std::string::npos) return ERROR_INVALID_PARAMETER;
  std::string stored = std::string(type == REG_SZ ? "REG_SZ:" : "REG_EXPAND_SZ:") + text;
  ProfileFile file = registryFile();
  if (!file.writeString(key->path, valueName != nullptr ? valueName : "", stored))
    return errorFromErrno(file.lastError());
  return ERROR_SUCCESS;
}

long regCloseKey(HKEY key) {
  if (key == nullptr) return ERROR_INVALID_HANDLE;
  if (!key->predefined) delete key;
  return ERROR_SUCCESS;
}

namespace uninstall_registry_testing {
void failNext(std::string_view operation, long error) {
  std::lock_guard lock(faultMutex());
  if (error == 0) {
    pendingFaults().clear();
    return;
  }
  pendingFaults()[std::string(operation)] = error;
}
}  // namespace uninstall_registry_testing

}  // namespace zov

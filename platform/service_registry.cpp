#include "platform/service_registry.h"

#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <map>
#include <mutex>
#include <string>

#include "platform/profile.h"
#include "platform/zov_home.h"

namespace zov {

struct ServiceHandleRecord {
  enum class Kind { Manager, Service } kind;
  std::string serviceName;  // services only
  bool deleted = false;
};

namespace {

thread_local uint32_t tlsLastError = 0;

std::mutex& faultMutex() {
  static std::mutex m;
  return m;
}

std::map<std::string, uint32_t, std::less<>>& pendingFaults() {
  static std::map<std::string, uint32_t, std::less<>> faults;
  return faults;
}

// True (with the error set) when a test asked this operation to fail.
bool injectedFailure(std::string_view operation) {
  std::lock_guard lock(faultMutex());
  auto& faults = pendingFaults();
  auto it = faults.find(operation);
  if (it == faults.end()) return false;
  tlsLastError = it->second;
  faults.erase(it);
  return true;
}

bool fail(uint32_t error) {
  tlsLastError = error;
  return false;
}

uint32_t errorFromErrno(int err) {
  switch (err) {
    case 0:
      return ERROR_SUCCESS;
    case EACCES:
    case EPERM:
    case EROFS:
      return ERROR_ACCESS_DENIED;
    default:
      return ERROR_GEN_FAILURE;
  }
}

ProfileFile registryFile() {
  return ProfileFile(serviceRegistryPath().string());
}

bool validServiceName(const char* name) {
  if (name == nullptr || *name == 0) return false;
  for (const char* p = name; *p != 0; ++p) {
    // Section syntax and path separators cannot be part of a name.
    if (*p == '[' || *p == ']' || *p == '/' || *p == '\\' || *p == '\n' || *p == '\r') return false;
  }
  return true;
}

bool isManager(SC_HANDLE h) {
  return h != nullptr && h->kind == ServiceHandleRecord::Kind::Manager;
}
bool isService(SC_HANDLE h) {
  return h != nullptr && h->kind == ServiceHandleRecord::Kind::Service;
}

}  // namespace

std::filesystem::path serviceRegistryPath() {
  return zovHomeDirectory() / "services.ini";
}

std::filesystem::path systemDirectory() {
  return zovHomeDirectory() / "system32";
}

SC_HANDLE openSCManager(const char* /*machineName*/, const char* /*databaseName*/,
                        uint32_t access) {
  if (injectedFailure("OpenSCManager")) return nullptr;
  constexpr uint32_t kReadOnlyAccess = 0x20015;  // SC_MANAGER_CONNECT | ENUMERATE | QUERY_LOCK
  if ((access & ~kReadOnlyAccess) != 0) {
    std::error_code error;
    if (!ensureZovHomeDirectory(error)) {
      fail(errorFromErrno(error.value()));
      return nullptr;
    }
    std::filesystem::path file = serviceRegistryPath();
    bool exists = ::access(file.c_str(), F_OK) == 0;
    if (::access(exists ? file.c_str() : file.parent_path().c_str(), W_OK) != 0) {
      fail(errorFromErrno(errno));
      return nullptr;
    }
  }
  tlsLastError = ERROR_SUCCESS;
  return new ServiceHandleRecord{ServiceHandleRecord::Kind::Manager, {}, false};
}

SC_HANDLE openService(SC_HANDLE manager, const char* serviceName, uint32_t /*access*/) {
  if (injectedFailure("OpenService")) return nullptr;
  if (!isManager(manager)) return fail(ERROR_INVALID_HANDLE), nullptr;
  if (!validServiceName(serviceName)) return fail(ERROR_INVALID_NAME), nullptr;
  ServiceRecord record;
  if (!queryServiceRecord(serviceName, record)) return fail(ERROR_SERVICE_DOES_NOT_EXIST), nullptr;
  tlsLastError = ERROR_SUCCESS;
  return new ServiceHandleRecord{ServiceHandleRecord::Kind::Service, record.name, false};
}

SC_HANDLE createService(SC_HANDLE manager, const char* serviceName, const char* displayName,
                        uint32_t /*access*/, uint32_t serviceType, uint32_t startType,
                        uint32_t errorControl, const char* binaryPathName) {
  if (injectedFailure("CreateService")) return nullptr;
  if (!isManager(manager)) return fail(ERROR_INVALID_HANDLE), nullptr;
  if (!validServiceName(serviceName)) return fail(ERROR_INVALID_NAME), nullptr;
  if (binaryPathName == nullptr || startType > SERVICE_DISABLED)
    return fail(ERROR_INVALID_PARAMETER), nullptr;
  ServiceRecord existing;
  if (queryServiceRecord(serviceName, existing)) return fail(ERROR_SERVICE_EXISTS), nullptr;
  ProfileFile file = registryFile();
  bool written = file.replaceSection(
      serviceName, {{"DisplayName", displayName != nullptr ? displayName : serviceName},
                    {"Type", std::to_string(serviceType)},
                    {"Start", std::to_string(startType)},
                    {"ErrorControl", std::to_string(errorControl)},
                    {"ImagePath", binaryPathName},
                    {"State", "stopped"}});
  if (!written) return fail(errorFromErrno(file.lastError())), nullptr;
  tlsLastError = ERROR_SUCCESS;
  return new ServiceHandleRecord{ServiceHandleRecord::Kind::Service, serviceName, false};
}

bool startService(SC_HANDLE service, uint32_t /*argc*/, const char** /*argv*/) {
  if (injectedFailure("StartService")) return false;
  if (!isService(service)) return fail(ERROR_INVALID_HANDLE);
  ServiceRecord record;
  if (service->deleted || !queryServiceRecord(service->serviceName, record))
    return fail(ERROR_SERVICE_MARKED_FOR_DELETE);
  if (record.start == SERVICE_DISABLED) return fail(ERROR_SERVICE_DISABLED);
  if (record.running) return fail(ERROR_SERVICE_ALREADY_RUNNING);
  ProfileFile file = registryFile();
  if (!file.writeString(record.name, "State", "running"))
    return fail(errorFromErrno(file.lastError()));
  tlsLastError = ERROR_SUCCESS;
  return true;
}

bool controlService(SC_HANDLE service, uint32_t control, SERVICE_STATUS* status) {
  if (injectedFailure("ControlService")) return false;
  if (!isService(service)) return fail(ERROR_INVALID_HANDLE);
  ServiceRecord record;
  if (service->deleted || !queryServiceRecord(service->serviceName, record))
    return fail(ERROR_SERVICE_MARKED_FOR_DELETE);
  if (control != SERVICE_CONTROL_STOP && control != SERVICE_CONTROL_INTERROGATE)
    return fail(ERROR_INVALID_PARAMETER);
  if (!record.running) return fail(ERROR_SERVICE_NOT_ACTIVE);
  if (control == SERVICE_CONTROL_STOP) {
    ProfileFile file = registryFile();
    if (!file.writeString(record.name, "State", "stopped"))
      return fail(errorFromErrno(file.lastError()));
    record.running = false;
  }
  if (status != nullptr) {
    *status = SERVICE_STATUS{};
    status->dwServiceType = record.type;
    status->dwCurrentState = record.running ? SERVICE_RUNNING : SERVICE_STOPPED;
    status->dwControlsAccepted = 1;  // SERVICE_ACCEPT_STOP
  }
  tlsLastError = ERROR_SUCCESS;
  return true;
}

bool deleteService(SC_HANDLE service) {
  if (injectedFailure("DeleteService")) return false;
  if (!isService(service)) return fail(ERROR_INVALID_HANDLE);
  if (service->deleted) return fail(ERROR_SERVICE_MARKED_FOR_DELETE);
  ProfileFile file = registryFile();
  if (!file.hasSection(service->serviceName)) return fail(ERROR_SERVICE_MARKED_FOR_DELETE);
  if (!file.deleteSection(service->serviceName)) return fail(errorFromErrno(file.lastError()));
  service->deleted = true;
  tlsLastError = ERROR_SUCCESS;
  return true;
}

bool closeServiceHandle(SC_HANDLE handle) {
  if (injectedFailure("CloseServiceHandle")) {
    delete handle;  // a refused close still leaves nothing behind in this process
    return false;
  }
  if (handle == nullptr) return fail(ERROR_INVALID_HANDLE);
  delete handle;
  tlsLastError = ERROR_SUCCESS;
  return true;
}

uint32_t serviceLastError() {
  return tlsLastError;
}

bool queryServiceRecord(std::string_view serviceName, ServiceRecord& record) {
  ProfileFile file = registryFile();
  for (const std::string& section : file.sections()) {
    if (section.size() != serviceName.size()) continue;
    bool same = true;
    for (size_t i = 0; i < section.size() && same; ++i)
      same = std::tolower(static_cast<unsigned char>(section[i])) ==
             std::tolower(static_cast<unsigned char>(serviceName[i]));
    if (!same) continue;
    record = ServiceRecord{};
    record.name = section;
    record.displayName = file.getString(section, "DisplayName", section, 4096);
    record.type = file.getInt(section, "Type", 0);
    record.start = file.getInt(section, "Start", SERVICE_DEMAND_START);
    record.errorControl = file.getInt(section, "ErrorControl", SERVICE_ERROR_NORMAL);
    record.imagePath = file.getString(section, "ImagePath", "", 4096);
    record.running = file.getString(section, "State", "stopped", 32) == "running";
    return true;
  }
  return false;
}

namespace service_registry_testing {
void failNext(std::string_view operation, uint32_t error) {
  std::lock_guard lock(faultMutex());
  if (error == 0) {
    pendingFaults().clear();
    return;
  }
  pendingFaults()[std::string(operation)] = error;
}
}  // namespace service_registry_testing

}  // namespace zov

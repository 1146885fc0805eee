// The service control manager, as the installation tools use it: services registered in
// "services.ini" in the ZOV home, one section per service name (DisplayName, Type, Start,
// ErrorControl, ImagePath, State). Nothing is actually loaded: starting a service records it as
// running, stopping it as stopped. Names match without regard to case, as service names do.
//
// Failing calls return null / false and leave a Win32 error code for serviceLastError() (per
// thread, like GetLastError): ERROR_ACCESS_DENIED when the registry file cannot be written,
// ERROR_SERVICE_DOES_NOT_EXIST, ERROR_SERVICE_EXISTS, ERROR_SERVICE_NOT_ACTIVE ...
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

namespace zov {

struct ServiceHandleRecord;
using SC_HANDLE = ServiceHandleRecord*;

enum : uint32_t {
  SC_MANAGER_ALL_ACCESS = 0xF003F,
  SERVICE_ALL_ACCESS = 0xF01FF,

  SERVICE_KERNEL_DRIVER = 0x1,
  SERVICE_FILE_SYSTEM_DRIVER = 0x2,
  SERVICE_WIN32_OWN_PROCESS = 0x10,

  SERVICE_BOOT_START = 0,
  SERVICE_SYSTEM_START = 1,
  SERVICE_AUTO_START = 2,
  SERVICE_DEMAND_START = 3,
  SERVICE_DISABLED = 4,

  SERVICE_ERROR_IGNORE = 0,
  SERVICE_ERROR_NORMAL = 1,

  SERVICE_CONTROL_STOP = 1,
  SERVICE_CONTROL_INTERROGATE = 4,

  SERVICE_STOPPED = 1,
  SERVICE_RUNNING = 4,
};

enum : uint32_t {
  ERROR_SUCCESS = 0,
  ERROR_ACCESS_DENIED = 5,
  ERROR_INVALID_HANDLE = 6,
  ERROR_GEN_FAILURE = 31,
  ERROR_INVALID_PARAMETER = 87,
  ERROR_INVALID_NAME = 123,
  ERROR_SERVICE_ALREADY_RUNNING = 1056,
  ERROR_SERVICE_DISABLED = 1058,
  ERROR_SERVICE_DOES_NOT_EXIST = 1060,
  ERROR_SERVICE_NOT_ACTIVE = 1062,
  ERROR_SERVICE_MARKED_FOR_DELETE = 1072,
  ERROR_SERVICE_EXISTS = 1073,
};

struct SERVICE_STATUS {
  uint32_t dwServiceType = 0;
  uint32_t dwCurrentState = 0;
  uint32_t dwControlsAccepted = 0;
  uint32_t dwWin32ExitCode = 0;
  uint32_t dwServiceSpecificExitCode = 0;
  uint32_t dwCheckPoint = 0;
  uint32_t dwWaitHint = 0;
};

// One registered service as stored.
struct ServiceRecord {
  std::string name;
  std::string displayName;
  uint32_t type = 0;
  uint32_t start = 0;
  uint32_t errorControl = 0;
  std::string imagePath;
  bool running = false;
};

// The registry file: "services.ini" in the ZOV home.
std::filesystem::path serviceRegistryPath();
// The stand-in for the Windows system directory (driver images live in its "drivers" folder):
// "system32" in the ZOV home.
std::filesystem::path systemDirectory();

// Opens the manager. Asking for more than read access requires that the registry file can be
// written (ERROR_ACCESS_DENIED otherwise).
SC_HANDLE openSCManager(const char* machineName, const char* databaseName, uint32_t access);
SC_HANDLE openService(SC_HANDLE manager, const char* serviceName, uint32_t access);
SC_HANDLE createService(SC_HANDLE manager, const char* serviceName, const char* displayName,
                        uint32_t access, uint32_t serviceType, uint32_t startType,
                        uint32_t errorControl, const char* binaryPathName);
bool startService(SC_HANDLE service, uint32_t argc, const char** argv);
bool controlService(SC_HANDLE service, uint32_t control, SERVICE_STATUS* status);
// Removes the service from the registry; the handle stays open until closed.
bool deleteService(SC_HANDLE service);
bool closeServiceHandle(SC_HANDLE handle);

uint32_t serviceLastError();

// Reads a service without a handle (for tools and tests); false when it is not registered.
bool queryServiceRecord(std::string_view serviceName, ServiceRecord& record);

namespace service_registry_testing {
// The next call of the named operation ("OpenSCManager", "OpenService", "CreateService",
// "StartService", "ControlService", "DeleteService", "CloseServiceHandle") fails with this error
// code. Error 0 clears every pending failure.
void failNext(std::string_view operation, uint32_t error);
}  // namespace service_registry_testing

}  // namespace zov

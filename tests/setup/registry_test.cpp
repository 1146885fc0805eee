// The file-backed service and uninstall registries: the Win32 behaviour the installation tools
// depend on (names without case, the service life cycle and its error codes, string values with
// their types and buffer sizes).
#include "setup_fixture.h"

namespace zov {
namespace {

using RegistryTest = setup::SetupTest;

TEST_F(RegistryTest, ServiceLifeCycleAndItsErrors) {
  SC_HANDLE manager = openSCManager(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
  ASSERT_NE(manager, nullptr);
  EXPECT_EQ(openService(manager, "demo", SERVICE_ALL_ACCESS), nullptr);
  EXPECT_EQ(serviceLastError(), static_cast<uint32_t>(ERROR_SERVICE_DOES_NOT_EXIST));

  SC_HANDLE service =
      createService(manager, "Demo", "Demo driver", SERVICE_ALL_ACCESS, SERVICE_KERNEL_DRIVER,
                    SERVICE_AUTO_START, SERVICE_ERROR_NORMAL, "/x/demo.sys");
  ASSERT_NE(service, nullptr);
  EXPECT_EQ(createService(manager, "DEMO", "", 0, 1, 2, 1, "/y"), nullptr);
  EXPECT_EQ(serviceLastError(), static_cast<uint32_t>(ERROR_SERVICE_EXISTS));

  SERVICE_STATUS status;
  EXPECT_FALSE(controlService(service, SERVICE_CONTROL_STOP, &status));
  EXPECT_EQ(serviceLastError(), static_cast<uint32_t>(ERROR_SERVICE_NOT_ACTIVE));
  EXPECT_TRUE(startService(service, 0, nullptr));
  EXPECT_FALSE(startService(service, 0, nullptr));
  EXPECT_EQ(serviceLastError(), static_cast<uint32_t>(ERROR_SERVICE_ALREADY_RUNNING));

  SC_HANDLE again = openService(manager, "dEmO", SERVICE_ALL_ACCESS);
  ASSERT_NE(again, nullptr) << "service names match without case";
  EXPECT_TRUE(controlService(again, SERVICE_CONTROL_STOP, &status));
  EXPECT_EQ(status.dwCurrentState, static_cast<uint32_t>(SERVICE_STOPPED));
  EXPECT_TRUE(deleteService(again));
  EXPECT_FALSE(deleteService(service));
  EXPECT_EQ(serviceLastError(), static_cast<uint32_t>(ERROR_SERVICE_MARKED_FOR_DELETE));
  EXPECT_TRUE(closeServiceHandle(again));
  EXPECT_TRUE(closeServiceHandle(service));

  EXPECT_EQ(openService(manager, "a/b", SERVICE_ALL_ACCESS), nullptr);
  EXPECT_EQ(serviceLastError(), static_cast<uint32_t>(ERROR_INVALID_NAME));
  EXPECT_FALSE(startService(manager, 0, nullptr)) << "a manager handle is no service";
  EXPECT_EQ(serviceLastError(), static_cast<uint32_t>(ERROR_INVALID_HANDLE));
  EXPECT_TRUE(closeServiceHandle(manager));
}

TEST_F(RegistryTest, UninstallValuesKeepTheirTypeAndReportShortBuffers) {
  HKEY key = nullptr;
  EXPECT_EQ(regOpenKeyEx(HKEY_LOCAL_MACHINE, "SOFTWARE\\Demo", 0, KEY_READ, &key),
            REGISTRY_ERROR_FILE_NOT_FOUND);
  ASSERT_EQ(regCreateKeyEx(HKEY_LOCAL_MACHINE, "SOFTWARE\\Demo\\", KEY_ALL_ACCESS, &key), 0);
  const char text[] = "uninst: %ProgramFiles% -y";
  ASSERT_EQ(regSetValueEx(key, "UninstallString", 0, REG_EXPAND_SZ,
                          reinterpret_cast<const uint8_t*>(text), sizeof text),
            0);
  regCloseKey(key);

  ASSERT_EQ(regOpenKeyEx(HKEY_LOCAL_MACHINE, "software\\demo", 0, KEY_READ, &key), 0);
  uint32_t type = 0;
  uint32_t size = 0;
  EXPECT_EQ(regQueryValueEx(key, "uninstallstring", nullptr, &type, nullptr, &size), 0);
  EXPECT_EQ(size, sizeof text);
  EXPECT_EQ(type, static_cast<uint32_t>(REG_EXPAND_SZ));
  char small[8];
  size = sizeof small;
  EXPECT_EQ(regQueryValueEx(key, "UninstallString", nullptr, &type,
                            reinterpret_cast<uint8_t*>(small), &size),
            REGISTRY_ERROR_MORE_DATA);
  EXPECT_EQ(size, sizeof text);
  char full[64];
  size = sizeof full;
  EXPECT_EQ(regQueryValueEx(key, "UninstallString", nullptr, &type,
                            reinterpret_cast<uint8_t*>(full), &size),
            0);
  EXPECT_STREQ(full, text);
  EXPECT_EQ(regQueryValueEx(key, "Missing", nullptr, &type, nullptr, &size),
            REGISTRY_ERROR_FILE_NOT_FOUND);
  const char broken[] = "two\nlines";
  EXPECT_EQ(
      regSetValueEx(key, "Bad", 0, REG_SZ, reinterpret_cast<const uint8_t*>(broken), sizeof broken),
      ERROR_INVALID_PARAMETER);
  regCloseKey(key);
}

}  // namespace
}  // namespace zov

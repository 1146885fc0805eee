// The system checks and the selector driver's service: what the installer's checks say, how the
// service is (re)registered, started, stopped and removed, and every failure box.
#include "setup/driver_service.h"

#include "setup/zov32sup.h"
#include "setup_fixture.h"

namespace zov::setup {
namespace {

using DriverServiceTest = SetupTest;

TEST_F(DriverServiceTest, Win95CheckRefusesThisSystem) {
  EXPECT_EQ(ZOVVerifyWin95(nullptr, nullptr, nullptr, nullptr, nullptr) & 0xFF, 0u);
  expectOneBox(
      "This installation is only for Windows 95.  Please use the correct installation for your "
      "Operating System!",
      "Install Error");
  sink_.clear();
  testing::setOsVersion(OsVersion{false, 4, 0});
  EXPECT_EQ(ZOVVerifyWin95(nullptr, nullptr, nullptr, nullptr, nullptr), 1u);
  EXPECT_TRUE(sink_.boxes().empty());
}

TEST_F(DriverServiceTest, NtCheckPassesWhenTheServiceManagerOpens) {
  EXPECT_EQ(ZOVVerifyWinNT(nullptr, "", "", "", ""), 1u);
  EXPECT_TRUE(sink_.boxes().empty());
}

TEST_F(DriverServiceTest, NtCheckOnTheOtherFamily) {
  testing::setOsVersion(OsVersion{false, 4, 0});
  EXPECT_EQ(ZOVVerifyWinNT(nullptr, "", "", "", ""), 0u);
  expectOneBox(
      "This installation is only for Windows NT.  Please use the correct installation for your "
      "Operating System!",
      "Install Error");
}

TEST_F(DriverServiceTest, NtCheckBeforeVersionFourAsksToGoOn) {
  testing::setOsVersion(OsVersion{true, 3, 51});
  const std::string question =
      "This product was designed for Windows NT 4.0 which you are not running.\nDo you wish to "
      "continue anyway?";
  sink_.script({IDNO});
  EXPECT_EQ(ZOVVerifyWinNT(nullptr, "", "", "", ""), 0u);
  expectOneBox(question, "Install Error", MB_YESNO | MB_ICONERROR);
  sink_.clear();
  sink_.script({IDYES});
  EXPECT_EQ(ZOVVerifyWinNT(nullptr, "", "", "", ""), 1u);
  expectOneBox(question, "Install Error", MB_YESNO | MB_ICONERROR);
}

TEST_F(DriverServiceTest, NtCheckExplainsAManagerThatWillNotOpen) {
  service_registry_testing::failNext("OpenSCManager", ERROR_ACCESS_DENIED);
  EXPECT_EQ(ZOVVerifyWinNT(nullptr, "", "", "", ""), 0u);
  expectOneBox(
      "Your userid is denied the authority to install device drivers\rPlease logon as "
      "Administrator and try again.",
      "Install Error");
  sink_.clear();
  service_registry_testing::failNext("OpenSCManager", 1065);
  EXPECT_EQ(ZOVVerifyWinNT(nullptr, "", "", "", ""), 0u);
  expectOneBox(
      "Your userid appears to be unable to install device drivers (OpenSCManager RC=1065\rPlease "
      "logon as Administrator and try again.");
}

TEST_F(DriverServiceTest, InstallRegistersAndStartsTheKernelDriver) {
  EXPECT_EQ(ZOVInstallAndStartDD(nullptr, "", "", "", ""), 1u);
  EXPECT_TRUE(sink_.boxes().empty());
  ServiceRecord record;
  ASSERT_TRUE(queryServiceRecord("zovddnt", record));
  EXPECT_EQ(record.displayName, "zovddnt");
  EXPECT_EQ(record.type, SERVICE_KERNEL_DRIVER);
  EXPECT_EQ(record.start, SERVICE_AUTO_START);
  EXPECT_EQ(record.errorControl, SERVICE_ERROR_NORMAL);
  EXPECT_EQ(record.imagePath, (home_ / "system32" / "drivers" / "zovddnt.sys").string());
  EXPECT_TRUE(record.running);
}

TEST_F(DriverServiceTest, InstallReplacesAnExistingService) {
  SC_HANDLE manager = openSCManager(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
  ASSERT_NE(manager, nullptr);
  SC_HANDLE old =
      createService(manager, "ZOVDDNT", "old driver", SERVICE_ALL_ACCESS, SERVICE_KERNEL_DRIVER,
                    SERVICE_DEMAND_START, SERVICE_ERROR_IGNORE, "/old/zovddnt.sys");
  ASSERT_NE(old, nullptr);
  ASSERT_TRUE(startService(old, 0, nullptr));
  closeServiceHandle(old);
  closeServiceHandle(manager);

  EXPECT_EQ(ZOVInstallAndStartDD(nullptr, "", "", "", ""), 1u);
  EXPECT_TRUE(sink_.boxes().empty());
  ServiceRecord record;
  ASSERT_TRUE(queryServiceRecord("zovddnt", record));
  EXPECT_EQ(record.name, "zovddnt") << "registered anew under its own name";
  EXPECT_EQ(record.displayName, "zovddnt");
  EXPECT_EQ(record.start, SERVICE_AUTO_START);
  EXPECT_NE(record.imagePath, "/old/zovddnt.sys");
  EXPECT_TRUE(record.running);
}

TEST_F(DriverServiceTest, InstallFailuresShowOneBoxEachAndStillGoOn) {
  struct Case {
    const char* operation;
    bool existing;
    const char* text;
  } cases[] = {
      {"OpenSCManager", false,
       "OpenSCManager failed, rc = 1234\rUnable to install the zovddnt device driver"},
      {"OpenService", false,
       "OpenService failed, rc = 1234\rUnable to install the zovddnt device driver"},
      {"DeleteService", true,
       "DeleteService failed, rc = 1234\rUnable to install the zovddnt device driver"},
      {"CloseServiceHandle", true,
       "CloseServiceHandle failed, rc = 1234\rUnable to install the zovddnt device driver"},
      {"CreateService", false,
       "CreateService failed, rc = 1234\rUnable to install the zovddnt device driver"},
      {"StartService", false,
       "StartService failed, rc = 1234\rUnable to start the zovddnt device driver (please reboot "
       "following the install)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.operation);
    ZOVStopAndRemoveDD(nullptr, "", "", "", "");
    if (c.existing) ZOVInstallAndStartDD(nullptr, "", "", "", "");
    sink_.clear();
    service_registry_testing::failNext(c.operation, 1234);
    EXPECT_EQ(ZOVInstallAndStartDD(nullptr, "", "", "", ""), 1u);
    expectOneBox(c.text);
    service_registry_testing::failNext("", 0);
  }
}

TEST_F(DriverServiceTest, RemovalStopsAndDeletesTheService) {
  ASSERT_TRUE(installAndStartDriver(nullptr));
  EXPECT_EQ(ZOVStopAndRemoveDD(nullptr, "", "", "", ""), 1u);
  EXPECT_TRUE(sink_.boxes().empty());
  ServiceRecord record;
  EXPECT_FALSE(queryServiceRecord("zovddnt", record));
  // Gone already: silent.
  EXPECT_EQ(ZOVStopAndRemoveDD(nullptr, "", "", "", ""), 1u);
  EXPECT_TRUE(sink_.boxes().empty());
}

TEST_F(DriverServiceTest, RemovalFailuresUseTheInstallWording) {
  struct Case {
    const char* operation;
    const char* text;
  } cases[] = {
      {"OpenSCManager",
       "OpenSCManager failed, rc = 5\rUnable to install the zovddnt device driver"},
      {"OpenService", "OpenService failed, rc = 5\rUnable to install the zovddnt device driver"},
      {"DeleteService",
       "DeleteService failed, rc = 5\rUnable to install the zovddnt device driver"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.operation);
    installAndStartDriver(nullptr);
    sink_.clear();
    service_registry_testing::failNext(c.operation, 5);
    EXPECT_EQ(ZOVStopAndRemoveDD(nullptr, "", "", "", ""), 1u);
    expectOneBox(c.text);
  }
}

TEST_F(DriverServiceTest, RemoverWordingAndAFailedStopStillDeletes) {
  installAndStartDriver(nullptr);
  service_registry_testing::failNext("ControlService", 1061);
  service_registry_testing::failNext("CloseServiceHandle", 6);
  EXPECT_TRUE(stopAndRemoveDriver(nullptr, kRemoverRemovalTexts));
  expectOneBox("CloseServiceHandle failed, rc = 6", "Uninstaller");
  ServiceRecord record;
  EXPECT_FALSE(queryServiceRecord("zovddnt", record));
}

}  // namespace
}  // namespace zov::setup

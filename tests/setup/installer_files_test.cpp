// The MMX bitmap swap and chaining the driver remover into the registered uninstall command.
#include "setup/installer_files.h"

#include <dlfcn.h>

#include <cstring>

#include "setup/zov32sup.h"
#include "setup_fixture.h"

namespace zov::setup {
namespace {

class InstallerFilesTest : public SetupTest {
 protected:
  void bitmaps() {
    writeFile(dir_ / "installer" / "setup.bmp", "plain");
    writeFile(dir_ / "installer" / "setupmmx.bmp", "mmx");
  }
  std::string installer() const { return (dir_ / "installer").string(); }

  void registerApplication(const char* name, const char* command, uint32_t type = REG_SZ) {
    writeFile(dir_ / "installer" / "setup.ini",
              std::string("[VisualDesign]\nAppName=") + name + "\n");
    HKEY key = nullptr;
    ASSERT_EQ(regCreateKeyEx(HKEY_LOCAL_MACHINE, (std::string(kUninstallKeyPath) + name).c_str(),
                             KEY_ALL_ACCESS, &key),
              0);
    ASSERT_EQ(
        regSetValueEx(key, "UninstallString", 0, type, reinterpret_cast<const uint8_t*>(command),
                      static_cast<uint32_t>(std::strlen(command) + 1)),
        0);
    regCloseKey(key);
  }

  std::string uninstallString(const char* name, uint32_t* type = nullptr) {
    HKEY key = nullptr;
    if (regOpenKeyEx(HKEY_LOCAL_MACHINE, (std::string(kUninstallKeyPath) + name).c_str(), 0,
                     KEY_READ, &key) != 0)
      return "<no key>";
    char data[512] = {};
    uint32_t size = sizeof data;
    uint32_t t = 0;
    long status = regQueryValueEx(key, "UninstallString", nullptr, &t,
                                  reinterpret_cast<uint8_t*>(data), &size);
    regCloseKey(key);
    if (type != nullptr) *type = t;
    return status == 0 ? std::string(data) : "<no value>";
  }
};

TEST_F(InstallerFilesTest, MmxProcessorSwapsTheBitmaps) {
  bitmaps();
  testing::setProcessor(ProcessorIdentity{true, true, "test"});
  EXPECT_EQ(ZOVDetectMMX(nullptr, "", installer().c_str(), "", ""), 1u);
  EXPECT_EQ(readFile(dir_ / "installer" / "setup.bmp"), "mmx");
  EXPECT_EQ(readFile(dir_ / "installer" / "setupmmx.bmp"), "plain");
  EXPECT_FALSE(std::filesystem::exists(dir_ / "installer" / "temp.bmp"));
  EXPECT_TRUE(sink_.boxes().empty());
}

TEST_F(InstallerFilesTest, NoMmxOrNoIdentificationChangesNothing) {
  bitmaps();
  for (ProcessorIdentity cpu :
       {ProcessorIdentity{true, false, ""}, ProcessorIdentity{false, false, ""}}) {
    testing::setProcessor(cpu);
    EXPECT_EQ(ZOVDetectMMX(nullptr, "", installer().c_str(), "", ""), 1u);
    EXPECT_EQ(readFile(dir_ / "installer" / "setup.bmp"), "plain");
    EXPECT_EQ(readFile(dir_ / "installer" / "setupmmx.bmp"), "mmx");
  }
}

TEST_F(InstallerFilesTest, AMissingMmxBitmapLeavesTheInstallersBitmapInPlace) {
  writeFile(dir_ / "installer" / "setup.bmp", "plain");
  testing::setProcessor(ProcessorIdentity{true, true, ""});
  EXPECT_EQ(ZOVDetectMMX(nullptr, "", installer().c_str(), "", ""), 1u);
  EXPECT_EQ(readFile(dir_ / "installer" / "setup.bmp"), "plain");
  EXPECT_EQ(ZOVDetectMMX(nullptr, "", "/nonexistent", "", ""), 1u);
}

TEST_F(InstallerFilesTest, RealProcessorIdentification) {
  ProcessorIdentity cpu = identifyProcessor();
  EXPECT_FALSE(cpu.description.empty());
#if defined(__x86_64__)
  EXPECT_TRUE(cpu.hasCpuid);
  EXPECT_TRUE(cpu.hasMmx) << "every 64-bit x86 processor has MMX";
#endif
}

TEST_F(InstallerFilesTest, RemoverGoesInFrontOfTheUninstallCommandKeepingItsType) {
  registerApplication("Orvane", "/opt/installer/uninst -f /opt/zov/uninst.log", REG_EXPAND_SZ);
  EXPECT_EQ(ZOVChangeNTUninstaller(nullptr, "", installer().c_str(), "/opt/zov", ""), 1u);
  EXPECT_TRUE(sink_.boxes().empty());
  uint32_t type = 0;
  EXPECT_EQ(uninstallString("Orvane", &type),
            "/opt/zov/purgent /opt/installer/uninst -f /opt/zov/uninst.log");
  EXPECT_EQ(type, static_cast<uint32_t>(REG_EXPAND_SZ));

  // Installed again over itself: chained once.
  EXPECT_EQ(ZOVChangeNTUninstaller(nullptr, "", installer().c_str(), "/opt/zov/", ""), 1u);
  EXPECT_EQ(uninstallString("Orvane"),
            "/opt/zov/purgent /opt/installer/uninst -f /opt/zov/uninst.log");

  registerApplication("Orvane", "uninst");
  EXPECT_EQ(ZOVChangeNTUninstaller(nullptr, "", installer().c_str(), "/opt/my zov", ""), 1u);
  EXPECT_EQ(uninstallString("Orvane"), "\"/opt/my zov/purgent\" uninst");
}

TEST_F(InstallerFilesTest, UninstallInfoBoxes) {
  const char* ini =
      "Unable to access ini file information.  Uninstallation information incomplete.";
  const char* read = "Unable to read registry information.  Uninstallation information incomplete.";
  const char* write =
      "Unable to write registry information.  Uninstallation information incomplete.";

  EXPECT_EQ(ZOVChangeNTUninstaller(nullptr, "", installer().c_str(), "/opt/zov", ""), 1u);
  expectOneBox(ini, "Uninstall Info", MB_OK);

  sink_.clear();
  writeFile(dir_ / "installer" / "setup.ini", "[VisualDesign]\nAppName=Unknown\n");
  EXPECT_EQ(ZOVChangeNTUninstaller(nullptr, "", installer().c_str(), "/opt/zov", ""), 1u);
  expectOneBox(read, "Uninstall Info", MB_OK);

  sink_.clear();
  registerApplication("Orvane", "uninst");
  uninstall_registry_testing::failNext("RegQueryValueEx", 5);
  ZOVChangeNTUninstaller(nullptr, "", installer().c_str(), "/opt/zov", "");
  expectOneBox(read, "Uninstall Info", MB_OK);

  sink_.clear();
  uninstall_registry_testing::failNext("RegSetValueEx", 5);
  ZOVChangeNTUninstaller(nullptr, "", installer().c_str(), "/opt/zov", "");
  expectOneBox(write, "Uninstall Info", MB_OK);
  EXPECT_EQ(uninstallString("Orvane"), "uninst");
}

TEST(SetupLibrary, ExportsTheSevenEntriesAndNothingOfThePlatform) {
  void* library = dlopen(ZOV32SUP_LIBRARY, RTLD_NOW | RTLD_LOCAL);
  ASSERT_NE(library, nullptr) << dlerror();
  for (const char* name :
       {"ZOVVerifyWin95", "ZOVVerifyWinNT", "ZOVInstallAndStartDD", "ZOVStopAndRemoveDD",
        "ZOVSetupComplete", "ZOVDetectMMX", "ZOVChangeNTUninstaller"})
    EXPECT_NE(dlsym(library, name), nullptr) << name;
  EXPECT_EQ(dlsym(library, "_ZN3zov10messageBoxEPvSt17basic_string_viewIcSt11char_traitsIcEES3_j"),
            nullptr);
  // The call form: window and four strings. A harmless export runs through it.
  using Export = uint32_t (*)(void*, const char*, const char*, const char*, const char*);
  auto detect = reinterpret_cast<Export>(dlsym(library, "ZOVDetectMMX"));
  ASSERT_NE(detect, nullptr);
  EXPECT_EQ(detect(nullptr, nullptr, "/nonexistent", nullptr, nullptr) & 0xFF, 1u);
  dlclose(library);
}

}  // namespace
}  // namespace zov::setup

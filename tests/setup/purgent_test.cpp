// The driver remover: its questions, the service removal, and starting the uninstall command
// without a shell.
#include "setup/purgent.h"

#include <sys/wait.h>

#include <cstdio>

#include "setup/driver_service.h"
#include "setup_fixture.h"

namespace zov::setup {
namespace {

const char* kAbout =
    "The Orvane NT Uninstaller is about to launch the InstallShield uninstaller to complete the "
    "uninstallation.\nYou MUST reply 'Y'es to the next uninstaller message asking if you want to "
    "remove Orvane.";

class RemoverTest : public SetupTest {
 protected:
  // A stand-in uninstaller that writes its arguments, one per line, to a file.
  std::string uninstaller() {
    std::filesystem::path program = dir_ / "un install";
    writeFile(program, "#!/bin/sh\nfor a in \"$@\"; do echo \"$a\"; done > \"$0.ran\"\n");
    std::filesystem::permissions(program, std::filesystem::perms::owner_all);
    return program.string();
  }

  static int waitFor(pid_t pid) {
    int status = 0;
    waitpid(pid, &status, 0);
    return status;
  }
};

TEST_F(RemoverTest, WithoutArgumentsOnlyTheUsage) {
  installAndStartDriver(nullptr);
  EXPECT_NE(runRemover({}), 0);
  expectOneBox("Usage: purgent uninstpgm\n", "Uninstaller");
  ServiceRecord record;
  EXPECT_TRUE(queryServiceRecord("zovddnt", record));
}

TEST_F(RemoverTest, AnsweringNoRemovesAndStartsNothing) {
  installAndStartDriver(nullptr);
  std::string program = uninstaller();
  sink_.script({IDNO});
  pid_t pid = 0;
  EXPECT_NE(runRemover({program}, &pid), 0);
  expectOneBox("Are you sure that you want to uninstall Orvane?", "Uninstall",
               MB_YESNO | MB_ICONERROR);
  EXPECT_EQ(pid, 0);
  ServiceRecord record;
  EXPECT_TRUE(queryServiceRecord("zovddnt", record));
}

TEST_F(RemoverTest, RemovesTheServiceThenStartsTheCommandWithItsArguments) {
  installAndStartDriver(nullptr);
  std::string program = uninstaller();
  sink_.script({IDYES, IDOK});
  pid_t pid = 0;
  EXPECT_EQ(runRemover({program, "-f", "/opt/zov/un install.log", "a\"b"}, &pid), 0);
  ASSERT_GT(pid, 0);
  EXPECT_EQ(waitFor(pid), 0);
  ServiceRecord record;
  EXPECT_FALSE(queryServiceRecord("zovddnt", record));
  auto texts = sink_.texts();
  ASSERT_EQ(texts.size(), 2u);
  EXPECT_EQ(texts[1], kAbout);
  EXPECT_EQ(sink_.boxes()[1].title, "Uninstall");
  EXPECT_EQ(sink_.boxes()[1].style, MB_OK);
  EXPECT_EQ(readFile(program + ".ran"), "-f\n/opt/zov/un install.log\na\"b\n");
}

TEST_F(RemoverTest, AServiceAlreadyRemovedIsNoErrorAndTheCommandStillRuns) {
  std::string program = uninstaller();
  pid_t pid = 0;
  EXPECT_EQ(runRemover({program, "x"}, &pid), 0);
  ASSERT_GT(pid, 0);
  waitFor(pid);
  EXPECT_EQ(sink_.texts().size(), 2u);
  EXPECT_EQ(readFile(program + ".ran"), "x\n");
}

TEST_F(RemoverTest, ServiceFailuresAreShownAndTheCommandStillRuns) {
  installAndStartDriver(nullptr);
  std::string program = uninstaller();
  service_registry_testing::failNext("DeleteService", 5);
  pid_t pid = 0;
  EXPECT_EQ(runRemover({program}, &pid), 0);
  ASSERT_GT(pid, 0);
  waitFor(pid);
  auto boxes = sink_.boxes();
  ASSERT_EQ(boxes.size(), 3u);
  EXPECT_EQ(boxes[1].text,
            "DeleteService failed, rc = 5\nUnable to remove the zovddnt device driver");
  EXPECT_EQ(boxes[1].title, "Uninstaller");
  EXPECT_EQ(boxes[1].style, MB_OK | MB_ICONERROR);
  EXPECT_EQ(boxes[2].text, kAbout);

  sink_.clear();
  service_registry_testing::failNext("OpenSCManager", 5);
  EXPECT_EQ(runRemover({program}, &pid), 0);
  waitFor(pid);
  ASSERT_EQ(sink_.texts().size(), 3u);
  EXPECT_EQ(sink_.texts()[1],
            "OpenSCManager failed, rc = 5\nUnable to remove the zovddnt device driver");
}

TEST_F(RemoverTest, ACommandThatCannotStartIsReported) {
  pid_t pid = 0;
  EXPECT_NE(runRemover({(dir_ / "no-such-uninstaller").string()}, &pid), 0);
  auto texts = sink_.texts();
  ASSERT_EQ(texts.size(), 3u);
  EXPECT_EQ(texts[2], "WinExec failed, rc = 2\nUnable to execute the uninstallation routine");
  EXPECT_EQ(sink_.boxes()[2].title, "Uninstaller");

  writeFile(dir_ / "not-executable", "data");
  sink_.clear();
  EXPECT_NE(runRemover({(dir_ / "not-executable").string()}, &pid), 0);
  ASSERT_EQ(sink_.texts().size(), 3u);
  EXPECT_EQ(sink_.texts()[2],
            "WinExec failed, rc = 5\nUnable to execute the uninstallation routine");
}

TEST(RemoverCommand, JoinedArgumentsSplitBackIntoThemselves) {
  std::vector<std::string> args = {"/opt/un", "plain", "two words", "", "quo\"te", "tab\there"};
  std::string command = buildUninstallCommand(args);
  EXPECT_EQ(command.substr(0, 14), "/opt/un plain ");
  EXPECT_EQ(splitCommandLine(command), args);
  EXPECT_EQ(buildUninstallCommand({"a", "b", "c"}), "a b c");
  EXPECT_EQ(splitCommandLine("  a   \"b c\"  d\\\"e "),
            (std::vector<std::string>{"a", "b c", "d\"e"}));
}

TEST(RemoverProgram, UsageOnItsOwn) {
  std::string command = std::string(PURGENT_PROGRAM) + " 2>&1";
  FILE* pipe = popen(command.c_str(), "r");
  ASSERT_NE(pipe, nullptr);
  char buffer[256] = {};
  size_t got = fread(buffer, 1, sizeof buffer - 1, pipe);
  int status = pclose(pipe);
  EXPECT_EQ(std::string(buffer, got).substr(0, 37), "Uninstaller: Usage: purgent uninstpgm");
  EXPECT_NE(WEXITSTATUS(status), 0);
}

TEST(RemoverProgram, WithoutATerminalNothingIsRemovedUnlessYesIsGiven) {
  const std::string marker = ::testing::TempDir() + "purgent-ran-" + std::to_string(getpid());
  std::remove(marker.c_str());
  std::string command = std::string(PURGENT_PROGRAM) + " touch " + marker + " </dev/null 2>&1";
  FILE* pipe = popen(command.c_str(), "r");
  ASSERT_NE(pipe, nullptr);
  char buffer[512] = {};
  size_t got = fread(buffer, 1, sizeof buffer - 1, pipe);
  int status = pclose(pipe);
  EXPECT_NE(std::string(buffer, got).find("nothing is removed"), std::string::npos) << buffer;
  EXPECT_NE(WEXITSTATUS(status), 0);
  EXPECT_NE(access(marker.c_str(), F_OK), 0) << "the uninstall program ran";
}

}  // namespace
}  // namespace zov::setup

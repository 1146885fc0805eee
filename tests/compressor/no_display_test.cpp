// The command-line programs need no display: with DISPLAY unset they start, run and never load
// Qt (the dynamic loader's own record of every library it loads shows it); zovcomp without a
// command then prints its usage and exits 2.
#include <unistd.h>

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <filesystem>
#include <string>

namespace zov {
namespace {

struct ProgramRun {
  int status = -1;
  std::string output;  // standard output and error, with the loader's record
};

ProgramRun runWithoutDisplay(const std::string& command) {
  const std::string line =
      "env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM LD_DEBUG=libs "
      "ZOV_CODEC_PATH='" ZOV_CODEC_DIR "' " +
      command + " 2>&1";
  ProgramRun r;
  FILE* pipe = popen(line.c_str(), "r");
  if (!pipe) return r;
  char buf[4096];
  for (size_t n; (n = fread(buf, 1, sizeof buf, pipe)) > 0;) r.output.append(buf, n);
  const int w = pclose(pipe);
  r.status = WIFEXITED(w) ? WEXITSTATUS(w) : -1;
  return r;
}

bool loadsQt(const ProgramRun& r) {
  return r.output.find("libQt6") != std::string::npos;
}

TEST(NoDisplay, TheCommandLineProgramsRunWithoutADisplayAndWithoutQt) {
  const std::string data = ZOV_TEST_DATA_DIR;
  const auto dir =
      std::filesystem::temp_directory_path() / ("zov-no-display-" + std::to_string(getpid()));
  std::filesystem::create_directories(dir);
  const std::string out = (dir / "out.avi").string();

  // The output is read back through the codec library, which must not bring Qt either.
  ProgramRun r =
      runWithoutDisplay(std::string("'") + ZOVCOMP_PATH + "' compress '" + data +
                        "/teapot-256x256-rgb24.avi' -o '" + out + "' --last 3 --verify -q");
  EXPECT_EQ(r.status, 0) << r.output.substr(r.output.size() > 4000 ? r.output.size() - 4000 : 0);
  EXPECT_NE(r.output.find("libzovcod32"), std::string::npos) << "the codec was not used";
  EXPECT_FALSE(loadsQt(r));
  EXPECT_TRUE(std::filesystem::exists(out));

  r = runWithoutDisplay(std::string("'") + ZOVCOMP_PATH + "'");
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.output.find("no display"), std::string::npos);
  EXPECT_NE(r.output.find("Usage: zovcomp compress"), std::string::npos);
  EXPECT_FALSE(loadsQt(r));

  r = runWithoutDisplay(std::string("'") + ZOVINFO_PATH + "' frames '" + data +
                        "/sample-teapot-zov2.avi'");
  EXPECT_EQ(r.status, 0);
  EXPECT_FALSE(loadsQt(r));

  r = runWithoutDisplay(std::string("'") + ZEVSERVE_PATH + "' --help");
  EXPECT_EQ(r.status, 0);
  EXPECT_FALSE(loadsQt(r));
  std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace zov

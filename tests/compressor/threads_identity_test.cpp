// The compressed file does not depend on the number of encoder threads nor on the processor
// path of the kernels: the real zovcomp program compresses the camera pan with one thread, with
// two, and with the plain C++ references forced (ZOV_CPU=scalar), and the files are compared
// byte for byte.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "support/cli_run.h"

namespace zov {
namespace {

namespace fs = std::filesystem;

std::string readAll(const fs::path& p) {
  std::ifstream f(p, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
}

// Compresses the first frames of the pan with `extra` options and the environment prefix `env`.
std::string compress(const fs::path& dir, const std::string& name, const std::string& env,
                     const std::string& options) {
  const fs::path out = dir / name;
  const std::string cmd = env + " '" ZOVCOMP_PATH "' compress '" +
                          test::dataFile("pan-640x480-mjpeg-pcm.avi") + "' -o '" + out.string() +
                          "' --first 1 --last 7 -q " + options;
  EXPECT_EQ(std::system(cmd.c_str()), 0) << cmd;
  return readAll(out);
}

TEST(EncoderThreads, OutputIsTheSameForEveryThreadCountAndKernelPath) {
  const fs::path dir = fs::temp_directory_path() / ("zov-threads-" + std::to_string(getpid()));
  fs::create_directories(dir);
  for (const char* preset : {"--preset Video", "--preset Video --set FastCompression=1"}) {
    SCOPED_TRACE(preset);
    const std::string one = compress(dir, "one.avi", "", std::string(preset) + " --threads 1");
    const std::string two = compress(dir, "two.avi", "", std::string(preset) + " --threads 2");
    const std::string scalar =
        compress(dir, "scalar.avi", "ZOV_CPU=scalar", std::string(preset) + " --threads 2");
    ASSERT_GT(one.size(), 10000u);
    EXPECT_TRUE(one == two) << "--threads 1 and --threads 2 wrote different files";
    EXPECT_TRUE(one == scalar) << "the vector kernels and the references wrote different files";
  }
  fs::remove_all(dir);
}

uint64_t fnv1a(const std::string& bytes) {
  uint64_t h = 0xcbf29ce484222325u;
  for (unsigned char c : bytes) h = (h ^ c) * 0x100000001b3u;
  return h;
}

// The files the encoder's decisions give today, recorded: speed work must not change a byte.
// "Animation" codes RGB with enhanced edges close to the frame's symbol limit, where the
// extended-range code depends on the count of pixels still to come (a miscount there once
// passed every other test). A change that means to alter the decisions updates these figures.
TEST(EncoderThreads, PanFilesAreTheRecordedOnes) {
  const fs::path dir = fs::temp_directory_path() / ("zov-recorded-" + std::to_string(getpid()));
  fs::create_directories(dir);
  const struct {
    const char* preset;
    uint64_t hash;
  } cases[] = {{"--preset Animation", 0x1df4801042243301u},
               {"--preset Video", 0x52a606e40a7a3194u}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.preset);
    for (const char* threads : {" --threads 1", " --threads 2"}) {
      const std::string file = compress(dir, "out.avi", "", std::string(c.preset) + threads);
      EXPECT_EQ(fnv1a(file), c.hash) << threads;
    }
  }
  fs::remove_all(dir);
}

TEST(EncoderThreads, ZovCpuScalarForcesTheReferenceKernels) {
  const fs::path out = fs::temp_directory_path() / ("zov-scalar-" + std::to_string(getpid()));
  const std::string cmd = "ZOV_CPU=scalar '" ZOVCOMP_PATH "' compress '" +
                          test::dataFile("teapot-256x256-rgb24.avi") + "' -o '" + out.string() +
                          ".avi' --first 1 --last 2 -q --times --threads 1";
  FILE* p = popen(cmd.c_str(), "r");
  ASSERT_NE(p, nullptr);
  std::string text;
  char buf[256];
  while (fgets(buf, sizeof buf, p)) text += buf;
  EXPECT_EQ(pclose(p), 0) << cmd;
  EXPECT_NE(text.find("Kernels: scalar, 1 thread\n"), std::string::npos) << text;
  fs::remove(out.string() + ".avi");
}

}  // namespace
}  // namespace zov

#include "cli_run.h"

#include <gtest/gtest.h>

#include <sstream>

#include "media/avi_container.h"

#include "compressor/zovcomp_cli.h"
#include "media/video_decoder.h"

namespace zov::test {

CliResult runZovcomp(std::vector<std::string> args) {
  args.insert(args.begin(), "zovcomp");
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  std::ostringstream out, err;
  CliResult c;
  c.rc = zovcompMain(int(argv.size()), argv.data(), out, err, false);
  c.out = out.str();
  c.err = err.str();
  setZovDecoderFactory(nullptr);
  return c;
}

std::string dataFile(const char* name) {
  return std::string(ZOV_TEST_DATA_DIR) + "/" + name;
}

void expectStartOfWholeRun(const AviContainer& part, const AviContainer& whole) {
  ASSERT_LE(part.frameCount(), whole.frameCount());
  std::vector<uint8_t> a, b;
  for (uint32_t i = 0; i < part.frameCount(); ++i) {
    ASSERT_TRUE(part.readFrame(i, a)) << "frame " << i;
    ASSERT_TRUE(whole.readFrame(i, b));
    EXPECT_TRUE(a == b) << "frame " << i << " differs from the whole run's";
    EXPECT_EQ(part.isKeyFrame(i), whole.isKeyFrame(i)) << "frame " << i;
  }
  if (part.hasAudio()) {
    ASSERT_LE(part.audioLength(), whole.audioLength());
    part.readAudio(0, part.audioLength(), a);
    whole.readAudio(0, part.audioLength(), b);
    EXPECT_TRUE(a == b) << "the audio differs from the whole run's";
  }
}

int countLinesStarting(const std::string& text, const std::string& prefix) {
  std::istringstream in(text);
  int n = 0;
  for (std::string line; std::getline(in, line);)
    if (line.rfind(prefix, 0) == 0) ++n;
  return n;
}

}  // namespace zov::test

#include <gtest/gtest.h>

#include <sstream>

#include "support/teapot_sample.h"
#include "support/tool_test_util.h"

namespace zov::test {
namespace {

// The committed sample must be what the reference encoder makes of the teapot clip, and the
// real program must decode it to exactly the encoder's reconstruction.
class SampleStream : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    sample_ = new EncodedSample;
    std::string error;
    ok_ = encodeSampleFrom(dataFile("teapot-256x256-rgb24.avi"), kSampleFrames, *sample_, error);
    error_ = error;
  }
  static void TearDownTestSuite() { delete sample_; }
  static EncodedSample* sample_;
  static bool ok_;
  static std::string error_;
};
EncodedSample* SampleStream::sample_ = nullptr;
bool SampleStream::ok_ = false;
std::string SampleStream::error_;

TEST_F(SampleStream, CommittedFileIsTheReferenceEncodersOutput) {
  ASSERT_TRUE(ok_) << error_;
  auto committed = readFileBytes(dataFile("sample-teapot-zov2.avi"));
  auto expected = buildZovAvi(sample_->desc, sample_->frames);
  EXPECT_EQ(committed.size(), expected.size());
  EXPECT_TRUE(committed == expected)
      << "regenerate it: zov_make_sample sample tests/data/teapot-256x256-rgb24.avi "
         "tests/data/sample-teapot-zov2.avi";
}

TEST_F(SampleStream, ZovinfoDecodesItToTheEncodersReconstruction) {
  ASSERT_TRUE(ok_) << error_;
  TempDir dir;
  ToolResult r =
      runProgram({"decode", dataFile("sample-teapot-zov2.avi"), "--out", dir.path(), "--png"});
  ASSERT_EQ(r.status, 0) << r.err;
  for (int n = 0; n < kSampleFrames; ++n) {
    char name[16];
    std::snprintf(name, sizeof name, "%06d", n);
    EXPECT_EQ(readRaw(dir.file(std::string(name) + ".raw")), sample_->reconstructions[size_t(n)])
        << "frame " << n;
    EXPECT_TRUE(fileExists(dir.file(std::string(name) + ".png")));
  }
  EXPECT_FALSE(fileExists(dir.file("000010.raw")));
}

TEST_F(SampleStream, FramesListsTheStreamAndEveryFramesFields) {
  ASSERT_TRUE(ok_) << error_;
  ToolResult r = runProgram({"frames", dataFile("sample-teapot-zov2.avi")});
  ASSERT_EQ(r.status, 0) << r.err;
  std::istringstream lines(r.out);
  std::string line;
  std::getline(lines, line);
  EXPECT_EQ(line, "stream 256x256 format=0x32760200 fourcc=zov2 frames=10");
  for (int n = 0; n < kSampleFrames; ++n) {
    ASSERT_TRUE(std::getline(lines, line)) << "missing frame " << n;
    const auto& st = sample_->stats[size_t(n)];
    bool key = n % kSampleKeyInterval == 0;
    std::ostringstream want;
    want << "frame " << n << " index=" << (key ? "key" : "delta")
         << " bytes=" << sample_->frames[size_t(n)].data.size() << " KEY=" << key
         << " scheme=RGB ENPY=0 EDGE=0 LBOX=0 margins=0,0 interframe=" << st.interframeBlocks
         << " chroma=0 rle=" << st.rleBlocks << " entropy=0 NSYM=" << st.nsym << " N1=" << st.n1
         << " N2=" << st.n2;
    EXPECT_EQ(line, want.str());
  }
  EXPECT_FALSE(std::getline(lines, line)) << "extra line: " << line;
}

}  // namespace
}  // namespace zov::test

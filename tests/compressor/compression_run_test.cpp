// The compression run end to end: synthetic sources for exact key-frame, audio and batch
// behaviour; the teapot clip for the source reader, the writer modes and reading the output back.
#include <unistd.h>

#include "encoder/compression_run.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "compressor/run_source.h"
#include "encoder/block_file.h"
#include "media/avi_container.h"
#include "media/source_file.h"
#include "media/video_decoder.h"
#include "platform/ui.h"

namespace zov {
namespace {

namespace fs = std::filesystem;

// A small moving square over a fixed background: most of each frame is unchanged, so the encoder
// codes interframes and the periodic key-frame rule decides alone.
class FakeSource : public RunSource {
 public:
  FakeSource(uint32_t frames, int base = 0) : count(frames), base_(base) {}
  uint32_t count;
  uint32_t audioBytes = 0;  // per frame; 0 = no audio
  uint32_t preload = 0;
  std::atomic<int> fetches{0};
  std::function<void(uint32_t)> onFrame;

  RunSourceInfo info() override {
    RunSourceInfo i;
    i.frameCount = count;
    i.microSecPerFrame = 66667;
    i.fileRate = 15;
    i.fileScale = 1;
    i.audioPreloadFrames = preload;
    i.hasAudio = audioBytes != 0;
    if (i.hasAudio) {
      i.audioStreamInfo.type = makeFourCC("auds");
      i.audioStreamInfo.scale = 1;
      i.audioStreamInfo.rate = 8000;
      i.audioStreamInfo.sampleSize = 1;
      i.audioFormat = {1, 0, 1, 0, 0x40, 0x1F, 0, 0, 0x40, 0x1F, 0, 0, 1, 0, 8, 0};
    }
    DibHeader h;
    h.width = kW;
    h.height = kH;
    h.bitCount = 24;
    h.sizeImage = kW * kH * 3;
    h.packInto(i.videoFormat.data());
    return i;
  }
  bool frame(uint32_t n, std::vector<uint8_t>& bitmap) override {
    ++fetches;
    if (onFrame) onFrame(n);
    bitmap.assign(40 + kW * kH * 2, 0);
    DibHeader h;
    h.width = kW;
    h.height = kH;
    h.bitCount = 16;
    h.sizeImage = kW * kH * 2;
    h.packInto(bitmap.data());
    auto* p = reinterpret_cast<uint16_t*>(bitmap.data() + 40);
    for (int y = 0; y < kH; ++y)
      for (int x = 0; x < kW; ++x) p[y * kW + x] = uint16_t(((x / 8) & 1) ? 0x4210 : 0x1084);
    const int ox = int((n + uint32_t(base_)) * 4 % 64);
    for (int y = 20; y < 36; ++y)
      for (int x = ox; x < ox + 16; ++x) p[y * kW + x] = 0x7C00;
    return true;
  }
  // Stored frames for the no-recompression modes: a key frame every third frame.
  bool storedFrame(uint32_t n, std::vector<uint8_t>& data, bool* key) override {
    data.assign(40 + 100, uint8_t(n));
    if (key) *key = isKeyFrame(n);
    return true;
  }
  bool isKeyFrame(uint32_t n) override { return n % 3 == 0; }
  bool audio(uint32_t n, std::vector<uint8_t>& data) override {
    data.insert(data.end(), audioBytes, uint8_t(n));
    return true;
  }
  static constexpr int kW = 96, kH = 80;

 private:
  int base_;
};

std::string tempPath(const std::string& name) {
  return (fs::temp_directory_path() / ("zov-run-" + std::to_string(getpid()) + "-" + name))
      .string();
}

struct Result {
  int rc = -1;
  std::vector<std::string> lines;
  std::vector<std::string> boxes;
  uint32_t frames = 0;
};

// Frame lines ("KFrame n", "IFrame n") in order, as K/I letters.
std::string keyPattern(const std::vector<std::string>& lines) {
  std::string s;
  for (const auto& l : lines) {
    if (l.rfind("KFrame ", 0) == 0) s += 'K';
    if (l.rfind("IFrame ", 0) == 0) s += 'I';
  }
  return s;
}

Result runWith(std::vector<RunSource*> sources, CompressionSettings& s, CompressorOptions o,
               const std::string& out, RunMode mode = RunMode::Compress,
               uint64_t firstRiffLimit = 0) {
  Result r;
  CompressionRun run;
  RunRequest req;
  req.mode = mode;
  req.firstRiffLimit = firstRiffLimit;
  req.outputPath = out;
  req.sources = std::move(sources);
  req.settings = &s;
  req.options = o;
  req.verify = true;
  RunCallbacks cb;
  cb.line = [&](const std::string& l) { r.lines.push_back(l); };
  cb.error = [&](const std::string& t) { r.boxes.push_back(t); };
  r.rc = run.runHere(std::move(req), cb);
  r.frames = run.framesWritten();
  return r;
}

TEST(CompressionRun, CheckCompressibleInOrder) {
  auto header = [](int w, int h, int bits, uint32_t compression) {
    DibHeader d;
    d.width = w;
    d.height = h;
    d.bitCount = uint16_t(bits);
    d.compression = compression;
    return d.pack();
  };
  std::vector<std::string> seen;
  auto report = [&](const std::string& t) {
    seen.push_back(t);
    return false;
  };
  EXPECT_FALSE(CheckCompressible(nullptr, report));
  EXPECT_FALSE(CheckCompressible(header(320, 240, 24, 1).data(), report));
  EXPECT_FALSE(CheckCompressible(header(16, 8, 12, 0).data(), report));  // depth before size
  EXPECT_FALSE(CheckCompressible(header(76, 240, 24, 0).data(), report));
  EXPECT_FALSE(CheckCompressible(header(644, 480, 16, 0).data(), report));
  EXPECT_FALSE(CheckCompressible(header(322, 240, 32, 0).data(), report));
  EXPECT_TRUE(CheckCompressible(header(640, -480, 8, 0).data(), report));
  ASSERT_EQ(seen.size(), 6u);
  EXPECT_EQ(seen[0], "CTR0058E Unable to query null image");
  EXPECT_EQ(seen[1], "CTR0059E Unable to compress an image which is already compressed");
  EXPECT_EQ(seen[2],
            "CTR0060E Unable to compress an image with a color depth of 12. Valid depths are 16, "
            "24 and 32.");
  EXPECT_EQ(seen[3], "CTR0061E The image size must be 80x60 or greater for Orvane Compression");
  EXPECT_EQ(seen[4], "CTR0062E The image size must be 640x480 or less for Orvane Compression");
  EXPECT_EQ(seen[5],
            "CTR0063E The width and height must both be multiples of 4 for Orvane Compression");
}

TEST(CompressionRun, EachFrameIsReadOnceWithAndWithoutReadAhead) {
  // Frame 0, read first for the movie's format, is coded from that read, not decoded again.
  const std::string out = tempPath("reads.avi");
  for (uint32_t threads : {1u, 2u}) {
    FakeSource src(6);
    CompressionSettings s;
    s.threads = threads;
    Result r = runWith({&src}, s, CompressorOptions{}, out);
    ASSERT_EQ(r.rc, 0) << (r.boxes.empty() ? "" : r.boxes[0]);
    EXPECT_EQ(r.frames, 6u);
    EXPECT_EQ(src.fetches.load(), 6) << threads << " thread(s)";
  }
  fs::remove(out);
}

TEST(CompressionRun, KeyFramePatterns) {
  const std::string out = tempPath("keys.avi");
  {
    // Dual initial key frames and KeyRate 3: frames 1 and 2, then every fourth from frame 2.
    FakeSource src(12);
    CompressionSettings s;
    s.KeyRate = 3;
    CompressorOptions o;
    o.DualInitialKeyFrames = true;
    Result r = runWith({&src}, s, o, out);
    ASSERT_EQ(r.rc, 0) << (r.boxes.empty() ? "" : r.boxes[0]);
    EXPECT_EQ(keyPattern(r.lines), "KKIIIKIIIKII");
    EXPECT_NE(std::find(r.lines.begin(), r.lines.end(), "Enhanced interframe compression active"),
              r.lines.end());
    EXPECT_EQ(r.lines.front(), "Compressing...");
    EXPECT_EQ(r.lines.back().rfind("Elapsed ", 0), 0u);
  }
  {
    // KeyRate 0: only the first frame is a periodic key frame.
    FakeSource src(8);
    CompressionSettings s;
    s.KeyRate = 0;
    CompressorOptions o;
    o.DualInitialKeyFrames = false;
    Result r = runWith({&src}, s, o, out);
    ASSERT_EQ(r.rc, 0);
    EXPECT_EQ(keyPattern(r.lines), "KIIIIIII");
  }
  {
    // Fast compression: no interframes at all.
    FakeSource src(5);
    CompressionSettings s;
    s.FastCompression = true;
    Result r = runWith({&src}, s, CompressorOptions{}, out);
    ASSERT_EQ(r.rc, 0);
    EXPECT_EQ(keyPattern(r.lines), "KKKKK");
    EXPECT_NE(
        std::find(r.lines.begin(), r.lines.end(), "Enhanced interframe compression NOT active"),
        r.lines.end());
  }
  fs::remove(out);
}

TEST(CompressionRun, AudioPreloadRunsAhead) {
  FakeSource src(6);
  src.audioBytes = 100;
  src.preload = 3;
  CompressionSettings s;
  const std::string out = tempPath("audio.avi");
  Result r = runWith({&src}, s, CompressorOptions{}, out);
  ASSERT_EQ(r.rc, 0);
  // Three audio-only records first, then frame i carries the audio of frame i + 3.
  std::vector<std::string> seq;
  for (const auto& l : r.lines)
    if (l.rfind("Audio", 0) == 0 || l.rfind("KFrame", 0) == 0 || l.rfind("IFrame", 0) == 0)
      seq.push_back(l.substr(0, l.find(" -")));
  const std::vector<std::string> want = {"Audio 1", "Audio 2",  "Audio 3",  "KFrame 1",
                                         "Audio 4", "KFrame 2", "Audio 5",  "IFrame 3",
                                         "Audio 6", "IFrame 4", "IFrame 5", "KFrame 6"};
  EXPECT_EQ(seq, want);
  EXPECT_NE(std::find(r.lines.begin(), r.lines.end(), "Audio 4 - 100 bytes"), r.lines.end());
  // The audio-only records add no video frames: the file holds the six frames and all audio.
  std::string error;
  auto file = AviContainer::open(out, &error);
  ASSERT_TRUE(file) << error;
  EXPECT_EQ(file->frameCount(), 6u);
  ASSERT_TRUE(file->hasAudio());
  std::vector<uint8_t> pcm;
  EXPECT_EQ(file->audioLength(), 600u);
  EXPECT_EQ(file->readAudio(0, 600, pcm), 600u);
  fs::remove(out);
}

TEST(CompressionRun, PackPaddingGathersAudioUpToTheNextKeyFrame) {
  FakeSource src(8);
  src.audioBytes = 10;
  src.preload = 1;
  CompressionSettings s;
  CompressorOptions o;
  o.CDROMTarget = true;
  o.PackPadding = 1;
  const std::string out = tempPath("pack.avi");
  Result r = runWith({&src}, s, o, out, RunMode::NoRecompression);
  ASSERT_EQ(r.rc, 0) << (r.boxes.empty() ? "" : r.boxes[0]);
  std::vector<std::string> audio;
  for (const auto& l : r.lines)
    if (l.rfind("Audio", 0) == 0) audio.push_back(l);
  // Preload: audio 0. Then frame 0 carries audio 1-3 (key frame 3 carries audio 4), frame 3
  // carries 4-6 and frame 6 the last block: every block once, in order.
  const std::vector<std::string> want = {"Audio 1 - 10 bytes", "Audio 2 - 30 bytes",
                                         "Audio 5 - 30 bytes", "Audio 8 - 10 bytes"};
  EXPECT_EQ(audio, want);
  EXPECT_EQ(keyPattern(r.lines), "KIIKIIKI");
  fs::remove(out);
}

TEST(CompressionRun, BackgroundBitmapTravelsWithTheFirstFrame) {
  // A 24-bit bitmap of the source's size as the chroma-key background.
  const std::string bmp = tempPath("background.bmp");
  {
    const int w = FakeSource::kW, h = FakeSource::kH;
    std::vector<uint8_t> file(54 + w * h * 3, 0);
    file[0] = 'B', file[1] = 'M';
    putLE32(&file[2], uint32_t(file.size()));
    putLE32(&file[10], 54);
    DibHeader d;
    d.width = w;
    d.height = h;
    d.bitCount = 24;
    d.packInto(&file[14]);
    for (size_t i = 54; i < file.size(); ++i) file[i] = uint8_t(i * 7);
    std::FILE* f = std::fopen(bmp.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    std::fwrite(file.data(), 1, file.size(), f);
    std::fclose(f);
  }
  FakeSource src(4);
  CompressionSettings s;
  s.ChromaKeying = true;
  s.ChromaBackground = bmp;
  const std::string out = tempPath("chroma.avi");
  Result r = runWith({&src}, s, CompressorOptions{}, out);
  ASSERT_EQ(r.rc, 0) << (r.boxes.empty() ? "" : r.boxes[0]);
  auto it = std::find_if(r.lines.begin(), r.lines.end(),
                         [](const std::string& l) { return l.rfind("Chroma BitMap - ", 0) == 0; });
  ASSERT_NE(it, r.lines.end());
  ASSERT_NE(it + 1, r.lines.end());
  EXPECT_EQ((it + 1)->rfind("KFrame 1 - ", 0), 0u);
  EXPECT_EQ(keyPattern(r.lines), "KKII");
  // The first chunk carries the bitmap behind the frame; the file reads back.
  installZovDecoderWithFallback();
  {
    RecordingMessageBox boxes;
    ScopedMessageBoxSink sink(&boxes);
    SourceFile back(out);
    ASSERT_TRUE(back.Opened);
    std::vector<uint8_t> bitmap;
    for (uint32_t f = 0; f < 4; ++f)
      EXPECT_TRUE(back.getFrame(f, bitmap, nullptr, true, false, false)) << f;
  }
  setZovDecoderFactory(nullptr);
  fs::remove(out);
  fs::remove(bmp);
}

TEST(CompressionRun, StopReleasesASuspendedRun) {
  const std::string out = tempPath("stop-suspended.avi");
  FakeSource src(20);
  CompressionSettings s;
  CompressionRun run;
  RunRequest req;
  req.outputPath = out;
  req.sources = {&src};
  req.settings = &s;
  std::atomic<bool> held{false};
  RunCallbacks cb;
  cb.progress = [&](const RunProgress& p) {
    if (p.done == 2 && !held.exchange(true)) run.suspend();
  };
  ASSERT_TRUE(run.start(std::move(req), cb));
  while (!held) std::this_thread::sleep_for(std::chrono::milliseconds(2));
  run.stop();
  EXPECT_EQ(run.wait(), 0);
  EXPECT_EQ(run.framesWritten(), 3u);
  fs::remove(out);
}

TEST(CompressionRun, BatchOfTwoSourcesAndFrameBeyondTheBatch) {
  const std::string out = tempPath("batch.avi");
  FakeSource a(4), b(3, 20);
  CompressionSettings s;
  Result r = runWith({&a, &b}, s, CompressorOptions{}, out);
  ASSERT_EQ(r.rc, 0);
  EXPECT_EQ(r.frames, 7u);
  EXPECT_EQ(keyPattern(r.lines).size(), 7u);

  // A source that shrinks during the run: the look-up beyond the batch fails the run.
  FakeSource c(6);
  c.onFrame = [&](uint32_t n) {
    if (n == 2) c.count = 2;
  };
  CompressionSettings s2;
  s2.KeyRate = 0;
  s2.FastCompression = true;  // no look-ahead in the encoder (the reading still runs ahead)
  Result bad = runWith({&c}, s2, CompressorOptions{}, out);
  EXPECT_EQ(bad.rc, -1);
  ASSERT_FALSE(bad.boxes.empty());
  // The input window's display of the frame fails first, then the fetch that ends the run: the
  // read-ahead, which met the end first, leaves the report to the run.
  EXPECT_EQ(bad.boxes.front(), "CTR0007E Effective frame not located");
  EXPECT_EQ(bad.boxes.back(), "CTR0001E Effective frame not located");
  EXPECT_EQ(bad.lines.back(), "Compression aborted");
  fs::remove(out);
}

TEST(CompressionRun, StopEndsAfterTheCurrentFrameAndTheFileReadsBack) {
  installZovDecoderWithFallback();
  const std::string out = tempPath("stop.avi");
  FakeSource src(30);
  CompressionSettings s;
  CompressionRun run;
  RunRequest req;
  req.outputPath = out;
  req.sources = {&src};
  req.settings = &s;
  RunCallbacks cb;
  cb.progress = [&](const RunProgress& p) {
    if (p.done == 5) run.stop();
  };
  ASSERT_TRUE(run.start(std::move(req), cb));
  EXPECT_EQ(run.wait(), 0);
  EXPECT_FALSE(run.active());
  // The request came after frame 5; frame 6 was under way and is the last one.
  EXPECT_EQ(run.framesWritten(), 6u);
  SourceFile back(out);
  ASSERT_TRUE(back.Opened);
  EXPECT_EQ(back.FrameCount, 6u);
  std::vector<uint8_t> bitmap;
  for (uint32_t f = 0; f < 6; ++f)
    EXPECT_TRUE(back.getFrame(f, bitmap, nullptr, true, false, false));
  setZovDecoderFactory(nullptr);
  fs::remove(out);
}

TEST(CompressionRun, SuspendHoldsTheWorkerUntilResumed) {
  const std::string out = tempPath("suspend.avi");
  FakeSource src(10);
  CompressionSettings s;
  CompressionRun run;
  RunRequest req;
  req.outputPath = out;
  req.sources = {&src};
  req.settings = &s;
  std::atomic<bool> suspendedOnce{false};
  RunCallbacks cb;
  cb.progress = [&](const RunProgress& p) {
    if (p.done == 3 && !suspendedOnce.exchange(true)) run.suspend();
  };
  ASSERT_TRUE(run.start(std::move(req), cb));
  while (!suspendedOnce) std::this_thread::sleep_for(std::chrono::milliseconds(2));
  std::this_thread::sleep_for(std::chrono::milliseconds(150));
  EXPECT_TRUE(run.active());
  EXPECT_EQ(run.framesWritten(), 3u);
  EXPECT_EQ(run.status(4).rfind("3 of 10 completed, est. time remaining = ", 0), 0u);
  run.resume();
  EXPECT_EQ(run.wait(), 0);
  EXPECT_EQ(run.framesWritten(), 10u);
  fs::remove(out);
}

TEST(CompressionRun, StatusTexts) {
  const std::string out = tempPath("status.avi");
  FakeSource src(3);
  CompressionSettings s;
  CompressionRun run;
  RunRequest req;
  req.outputPath = out;
  req.sources = {&src};
  req.settings = &s;
  std::vector<std::string> pane3;
  RunCallbacks cb;
  cb.status = [&](int pane, const std::string& t) {
    if (pane == 3) pane3.push_back(t);
  };
  ASSERT_EQ(run.runHere(std::move(req), cb), 0);
  ASSERT_EQ(pane3.size(), 3u);
  EXPECT_EQ(pane3[0].find("Avg. Data Rate"), std::string::npos);
  EXPECT_EQ(pane3[0].rfind("Total = ", 0), 0u);
  EXPECT_NE(pane3[1].find(", Avg. Data Rate = "), std::string::npos);
  EXPECT_EQ(run.status(4).rfind("3 of 3 completed, est. time remaining = 00:00:00", 0), 0u);
  fs::remove(out);
}

TEST(CompressionRun, MessageWindowKeepsFiftyShortLines) {
  RunMessageLog log;
  for (int i = 0; i < 60; ++i) log.add(std::to_string(i) + std::string(300, 'x'));
  auto lines = log.lines();
  ASSERT_EQ(lines.size(), 50u);
  EXPECT_EQ(lines.front().rfind("10", 0), 0u);
  EXPECT_EQ(lines.back().size(), 255u);
}

TEST(CompressionRun, RmsDifference) {
  const int w = 8, h = 4;
  std::vector<uint16_t> a(w * h, 0x7FFF), b(w * h, 0x7FFF), pic;
  uint64_t n = 0;
  EXPECT_EQ(rmsDifference(a.data(), b.data(), w, h, 0, 0, kFieldNormal, &pic, &n), 0u);
  EXPECT_EQ(n, uint64_t(w * h));
  EXPECT_DOUBLE_EQ(rmsPercent(0, n), 0.0);
  std::fill(b.begin(), b.end(), 0);
  const uint64_t sum = rmsDifference(a.data(), b.data(), w, h, 0, 0, kFieldNormal, &pic, &n);
  EXPECT_EQ(sum, uint64_t(93 * w * h));
  EXPECT_DOUBLE_EQ(rmsPercent(sum, n), 100.0);
  EXPECT_EQ(pic[0], 0);  // level 31 - 93 / 3 = 0: black where the pictures differ most
  // Letterbox lines are white and not compared; single-field odd lines likewise.
  std::vector<uint16_t> dec(w * (h + 2), 0);
  rmsDifference(a.data(), dec.data(), w, h, 1, 1, kFieldSingle, &pic, &n);
  EXPECT_EQ(n, uint64_t(w * h / 2));
  EXPECT_EQ(pic[0], 0x7FFF);            // bottom letterbox line
  EXPECT_EQ(pic[w * 1], 0x7FFF);        // first picture line: the field not coded
  EXPECT_EQ(pic[w * 2], 0);             // second picture line: coded, all different
  EXPECT_EQ(pic[w * (h + 1)], 0x7FFF);  // top letterbox line
}

// ---- The teapot clip through the source reader ----

std::string teapot() {
  return std::string(ZOV_TEST_DATA_DIR) + "/teapot-256x256-rgb24.avi";
}

// A first RIFF that holds the headers and a few of the teapot's coded frames.
constexpr uint64_t kFirstRiffTestLimit = 256 << 10;

TEST(CompressionRunTeapot, CutOffFinishesAPlayableFile) {
  installZovDecoderWithFallback();
  RecordingMessageBox boxes;
  ScopedMessageBoxSink sink(&boxes);
  SourceFile src(teapot());
  ASSERT_TRUE(src.Opened);
  src.ExtractionEnd = 19;
  SourceFileRunSource rs(src);
  CompressionSettings s;
  CompressorOptions o;
  o.CutOffKBLimit = 40;
  const std::string out = tempPath("cutoff.avi");
  Result r = runWith({&rs}, s, o, out);
  ASSERT_EQ(r.rc, 0);
  ASSERT_LT(r.frames, 20u);
  EXPECT_EQ(r.lines[r.lines.size() - 3],
            "CutOff KB Limit reached, last frame = " + std::to_string(r.frames));
  EXPECT_LE(fs::file_size(out), 40u * 1024);
  SourceFile back(out);
  ASSERT_TRUE(back.Opened);
  EXPECT_EQ(back.FrameCount, r.frames);
  setZovDecoderFactory(nullptr);
  fs::remove(out);
}

TEST(CompressionRunTeapot, AMoviePastTheFirstRiffGoesOnInOpenDmlParts) {
  // A real run whose first RIFF's limit (the test switch) is passed after a few frames: the rest
  // of the movie goes into an 'AVIX' part, not cut off, and reads back frame for frame.
  installZovDecoderWithFallback();
  RecordingMessageBox boxes;
  ScopedMessageBoxSink sink(&boxes);
  SourceFile src(teapot());
  ASSERT_TRUE(src.Opened);
  SourceFileRunSource rs(src);
  CompressionSettings s;
  const std::string out = tempPath("opendml.avi");
  Result r = runWith({&rs}, s, CompressorOptions{}, out, RunMode::Compress, kFirstRiffTestLimit);
  ASSERT_EQ(r.rc, 0) << (r.boxes.empty() ? "" : r.boxes.front());
  EXPECT_EQ(r.frames, src.FrameCount);
  for (const std::string& line : r.lines)
    EXPECT_EQ(line.rfind("CutOff KB Limit reached", 0), std::string::npos) << line;
  {
    std::string why;
    auto c = AviContainer::open(out, &why);
    ASSERT_TRUE(c) << why;
    EXPECT_EQ(c->indexSource(), AviContainer::IndexSource::OpenDml);
    EXPECT_EQ(c->frameCount(), src.FrameCount);
  }
  SourceFile back(out);
  ASSERT_TRUE(back.Opened);
  ASSERT_EQ(back.FrameCount, src.FrameCount);
  std::vector<uint8_t> bitmap;
  for (uint32_t f = 0; f < back.FrameCount; ++f)
    EXPECT_TRUE(back.getFrame(f, bitmap, nullptr, true, false, false)) << f;
  setZovDecoderFactory(nullptr);
  fs::remove(out);
}

TEST(CompressionRunTeapot, EveryModeWritesItsFile) {
  installZovDecoderWithFallback();
  RecordingMessageBox boxes;
  ScopedMessageBoxSink sink(&boxes);
  const std::string zov = tempPath("modes-zov.avi");
  {
    SourceFile src(teapot());
    ASSERT_TRUE(src.Opened);
    src.ExtractionEnd = 4;
    SourceFileRunSource rs(src);
    CompressionSettings s;
    ASSERT_EQ(runWith({&rs}, s, CompressorOptions{}, zov).rc, 0);
  }
  // No recompression of the ZOV2 file: the same frames, bit for bit.
  const std::string copy = tempPath("modes-copy.avi");
  {
    SourceFile src(zov);
    ASSERT_TRUE(src.Opened);
    ASSERT_EQ(src.FrameCount, 5u);
    SourceFileRunSource rs(src);
    CompressionSettings s;
    ASSERT_EQ(runWith({&rs}, s, CompressorOptions{}, copy, RunMode::NoRecompression).rc, 0);
    SourceFile back(copy);
    ASSERT_TRUE(back.Opened);
    ASSERT_EQ(back.FrameCount, 5u);
    std::vector<uint8_t> x, y;
    for (uint32_t f = 0; f < 5; ++f) {
      ASSERT_TRUE(src.readRawFrame(f, x, nullptr));
      ASSERT_TRUE(back.readRawFrame(f, y, nullptr));
      EXPECT_TRUE(std::equal(x.begin() + 40, x.end(), y.begin() + 40, y.end())) << f;
    }
  }
  // The stream file and the block file.
  const std::string zev = tempPath("modes.zev"), blocks = tempPath("modes.zob");
  {
    SourceFile src(zov);
    SourceFileRunSource rs(src);
    CompressionSettings s;
    EXPECT_EQ(runWith({&rs}, s, CompressorOptions{}, zev, RunMode::ZevStream).rc, 0);
    EXPECT_GT(fs::file_size(zev), 0u);
    Result r = runWith({&rs}, s, CompressorOptions{}, blocks, RunMode::BlockFile);
    EXPECT_EQ(r.rc, 0);
    EXPECT_EQ(r.frames, 5u);
    std::FILE* f = std::fopen(blocks.c_str(), "rb");
    ASSERT_NE(f, nullptr);
    uint8_t head[kBlockFileHeaderSize];
    ASSERT_EQ(std::fread(head, 1, sizeof head, f), sizeof head);
    std::fclose(f);
    EXPECT_EQ(BlockFileHeader::unpack(head).frames, 5u);
  }
  // Stored uncompressed frames are too large for a stream file: the run fails and leaves
  // nothing behind.
  {
    SourceFile src(teapot());
    SourceFileRunSource rs(src);
    CompressionSettings s;
    const std::string bad = tempPath("modes-bad.zev");
    Result r = runWith({&rs}, s, CompressorOptions{}, bad, RunMode::ZevStream);
    EXPECT_EQ(r.rc, -1);
    EXPECT_EQ(r.lines.back(), "Compression aborted");
    EXPECT_FALSE(fs::exists(bad));
  }
  setZovDecoderFactory(nullptr);
  for (const auto& p : {zov, copy, zev, blocks}) fs::remove(p);
}

}  // namespace
}  // namespace zov

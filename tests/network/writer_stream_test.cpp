// A stream file written by the compressor's writer, served by zevserve and played through the
// network source: the two ends of the format must agree.
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <thread>

#include "encoder/avi_writer.h"
#include "network/zev_source.h"
#include "platform/ui.h"
#include "zev_fixture.h"

namespace fs = std::filesystem;
using namespace zov;

namespace {

std::vector<uint8_t> pattern(size_t n, uint32_t seed) {
  std::vector<uint8_t> v(n);
  for (size_t i = 0; i < n; ++i) v[i] = uint8_t((seed * 131 + i * 7) ^ (i >> 9));
  return v;
}

// The source's data for a chunk once the worker has fetched it (bounded wait).
bool waitForVideo(uint32_t frame, std::vector<uint8_t>& out) {
  for (int i = 0; i < 500; ++i) {
    size_t size = 0;
    if (const uint8_t* p = network::frameData(frame, &size)) {
      out.assign(p, p + size);
      return true;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return false;
}

bool waitForAudio(uint32_t chunk, std::vector<uint8_t>& out) {
  for (int i = 0; i < 500; ++i) {
    uint32_t size = 0;
    if (auto* p = static_cast<const uint8_t*>(network::obtainAudio(chunk, &size))) {
      out.assign(p, p + size);
      return true;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return false;
}

TEST(WriterStream, FramesAndAudioOfAWrittenStreamFilePlayBack) {
  const fs::path root = fs::temp_directory_path() / ("zevwriter-" + std::to_string(getpid()));
  fs::create_directories(root / "movies");
  fs::create_directories(root / "home");
  fs::create_directories(root / "tmp");
  setenv("ZOV_HOME", (root / "home").c_str(), 1);
  setenv("TMPDIR", (root / "tmp").c_str(), 1);

  AviWriterSettings s;
  s.mode = RunMode::ZevStream;
  s.path = (root / "movies" / "written.zev").string();
  s.microSecPerFrame = 66666;
  s.fileScale = 66666;
  s.fileRate = 1000000;
  s.width = 32;
  s.height = 24;
  const uint8_t bih[40] = {40, 0, 0,  0, 32, 0, 0,   0,   24, 0, 0, 0,
                           1,  0, 16, 0, 0,  2, 'v', '2', 0,  6, 0, 0};
  std::copy(std::begin(bih), std::end(bih), s.sourceVideoFormat.begin());
  s.withAudio = true;
  s.audioFormat = {1, 0, 1, 0, 0x22, 0x56, 0, 0, 0x44, 0xAC, 0, 0, 2, 0, 16, 0};
  s.audioStreamInfo.type = fourcc::kAuds;
  s.audioStreamInfo.scale = 2;
  s.audioStreamInfo.rate = 44100;
  s.audioStreamInfo.sampleSize = 2;
  std::vector<std::string> errors;
  WriterCallbacks callbacks;
  callbacks.error = [&](const std::string& e) { errors.push_back(e); };
  callbacks.status = [](const std::string&) {};
  callbacks.message = [](const std::string&) {};
  constexpr uint32_t kFrames = 60;
  std::vector<std::vector<uint8_t>> video, audio;
  {
    AviWriter w;
    ASSERT_TRUE(w.open(s, callbacks)) << (errors.empty() ? "" : errors[0]);
    for (uint32_t f = 0; f < kFrames; ++f) {
      // Odd and even sizes, up to the largest chunk a stream file may hold.
      video.push_back(pattern(f == 7 ? 131064 : 40001 + (f * 4999) % 70000, f));
      audio.push_back(pattern(2940 + (f & 1), 1000 + f));
      ASSERT_EQ(w.writeFrameRecord(video[f].data(), uint32_t(video[f].size()), audio[f].data(),
                                   uint32_t(audio[f].size()), f % 5 == 0, f + 1),
                kRecordWritten);
    }
    ASSERT_TRUE(w.finish()) << (errors.empty() ? "" : errors[0]);
  }

  test::RunningServer server((root / "movies").string());
  network::NetworkOptions options;
  options.port = server.port();
  options.connectTimeoutMs = 3000;
  options.ioTimeoutMs = 5000;
  network::setNetworkOptions(options);
  ScriptedDialogHost host;
  host.on(network::kSiteDialog, [](WindowHandle, DialogData& d) -> intptr_t {
    dynamic_cast<network::SiteDialogData&>(d).text = "127.0.0.1";
    return IDOK;
  });
  host.on(network::kMovieDialog, [](WindowHandle, DialogData&) -> intptr_t { return IDOK; });
  ScopedDialogHost hostInstalled(&host);
  RecordingMessageBox boxes;
  ScopedMessageBoxSink sinkInstalled(&boxes);

  const char* path = network::accessZEV(nullptr);
  ASSERT_NE(path, nullptr) << (boxes.texts().empty() ? "" : boxes.texts()[0]);
  EXPECT_EQ(network::currentSource()->header().totalFrames, kFrames);
  for (uint32_t f = 0; f < kFrames; ++f) {
    std::vector<uint8_t> got;
    ASSERT_TRUE(waitForVideo(f, got)) << "frame " << f;
    ASSERT_EQ(got, video[f]) << "frame " << f;
    ASSERT_TRUE(waitForAudio(f, got)) << "audio " << f;
    ASSERT_EQ(got, audio[f]) << "audio " << f;
  }
  EXPECT_TRUE(boxes.texts().empty());
  network::freeZEV();
  network::setNetworkOptions({});
  unsetenv("TMPDIR");
  fs::remove_all(root);
}

}  // namespace

// Audio and picture in step: a generated clip whose key frames are white and whose audio clicks
// at each key frame plays through the SDL output (the "dummy" driver consumes it at the real
// rate). When a key frame appears, the sound must be at that frame's click. The measured drift
// is printed and recorded as test properties.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <thread>

#include "player/playback_engine.h"
#include "support/player_fixture.h"

using namespace zov;
using namespace zov::player;

TEST(PlayerAudioSync, KeyFramesAppearWithTheirClicks) {
  test::TempHome home;
  constexpr uint32_t kFrames = 60, kFps = 15, kRate = 11025, kKeyInterval = 15;
  const std::string clip = home.path() + "/clicks.avi";
  ASSERT_TRUE(test::writeClickClip(clip, kFrames, kFps, kRate, kKeyInterval));

  std::string error;
  std::unique_ptr<AudioOutput> audio = createSdlAudioOutput(&error);
  if (!audio) GTEST_SKIP() << "no SDL audio: " << error;
  PlaybackEngine engine(std::move(audio));
  auto movie = MovieFile::open(clip, &error);
  ASSERT_TRUE(movie) << error;
  ASSERT_TRUE(movie->hasAudio());
  engine.openMovie(std::move(movie));
  engine.autoLoop = false;

  // Drift at each key frame: where the sound is when the picture appears, minus where its
  // click lies (positive: the picture is late).
  std::vector<double> driftMs;
  engine.onPicture = [&] {
    const long f = engine.position();
    if (engine.mode() != MovieMode::Playing || f % long(kKeyInterval) != 0) return;
    const double heard = double(engine.audio().playedFrames()) / kRate;
    const double click = double(engine.movie()->audioFrameAt(uint32_t(f))) / kRate;
    driftMs.push_back((heard - click) * 1000.0);
  };
  const auto started = std::chrono::steady_clock::now();
  ASSERT_EQ(sendCommandString(engine, "play window notify"), kMciOk);
  while (engine.mode() == MovieMode::Playing &&
         std::chrono::steady_clock::now() - started < std::chrono::seconds(20)) {
    engine.tick();
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  EXPECT_EQ(engine.mode(), MovieMode::Stopped);
  EXPECT_EQ(engine.position(), long(kFrames - 1));
  // Frame 0 is shown before the play starts; key frames 15, 30 and 45 are measured.
  ASSERT_EQ(driftMs.size(), 3u);
  double worst = 0, sum = 0;
  for (double d : driftMs) {
    worst = std::max(worst, std::fabs(d));
    sum += d;
  }
  std::printf("audio/video drift at key frames (ms):");
  for (double d : driftMs) std::printf(" %.1f", d);
  std::printf("; worst %.1f ms; play took %.3f s for %.3f s of movie; %llu frames dropped\n", worst,
              seconds, double(kFrames) / kFps,
              static_cast<unsigned long long>(engine.stats().dropped));
  RecordProperty("worst_drift_ms", std::to_string(worst));
  RecordProperty("mean_drift_ms", std::to_string(sum / double(driftMs.size())));
  // Within a third of a frame time (22 ms at 15 frames per second).
  EXPECT_LT(worst, 1000.0 / kFps / 3);
  EXPECT_NEAR(seconds, double(kFrames) / kFps, 0.3);
}

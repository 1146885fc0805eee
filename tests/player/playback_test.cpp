// The movie window's transport and the player's commands on the bundled ZOV2 sample: playing to
// the end, steps, seeks, a replayed range, and gamma and brightness through the codec's style.
#include <gtest/gtest.h>

#include "platform/qt/qt_platform.h"
#include "platform/ui.h"
#include "player/playback_engine.h"
#include "player/player_controller.h"
#include "support/avi_file_writer.h"
#include "support/codec_compression.h"
#include "support/footage_avi.h"
#include "support/player_fixture.h"

using namespace zov;
using namespace zov::player;

namespace {

// An engine on a clock the test moves by hand, with the null audio output.
struct ManualEngine {
  int64_t now = 0;
  PlaybackEngine engine{createNullAudioOutput([this] { return now; }), [this] { return now; }};
  std::vector<long> shown;
  std::vector<std::pair<bool, bool>> ends;
  ManualEngine() {
    engine.onPicture = [this] { shown.push_back(engine.position()); };
    engine.onPlayEnded = [this](bool ended, bool notify) { ends.emplace_back(ended, notify); };
  }
  bool open(const std::string& path) {
    std::string error;
    auto movie = MovieFile::open(path, &error);
    EXPECT_TRUE(movie) << error;
    if (!movie) return false;
    engine.openMovie(std::move(movie));
    shown.clear();
    return true;
  }
  // Runs the timer in steps of `stepMicros` until the play ends (at most `limit` steps).
  void runToEnd(int64_t stepMicros, int limit = 100000) {
    for (int i = 0; i < limit && engine.mode() == MovieMode::Playing; ++i) {
      now += stepMicros;
      engine.tick();
    }
  }
};

}  // namespace

TEST(PlayerPlayback, PlaysEveryFrameToTheEndWithoutLoopingAndNotifies) {
  test::TempHome home;
  QtPlatform platform;
  ManualEngine m;
  ASSERT_TRUE(m.open(test::teapotPath()));
  const long frames = m.engine.length();
  ASSERT_GE(frames, 10);
  m.engine.autoLoop = false;
  ASSERT_EQ(sendCommandString(m.engine, "play window notify"), kMciOk);
  EXPECT_EQ(m.engine.mode(), MovieMode::Playing);
  // A timer faster than the frame rate shows every frame once, in order.
  m.runToEnd(10000);
  ASSERT_EQ(m.shown.size(), size_t(frames - 1));
  for (long f = 1; f < frames; ++f) EXPECT_EQ(m.shown[size_t(f - 1)], f);
  EXPECT_EQ(m.engine.position(), frames - 1);
  ASSERT_EQ(m.ends.size(), 1u);
  EXPECT_TRUE(m.ends[0].first) << "the play ended at the movie's end";
  EXPECT_TRUE(m.ends[0].second) << "the play asked for notify";
  EXPECT_EQ(m.engine.stats().dropped, 0u);
  std::string mode;
  EXPECT_EQ(sendCommandString(m.engine, "status mode", &mode), kMciOk);
  EXPECT_EQ(mode, "stopped");
}

TEST(PlayerPlayback, LateTimerDropsFramesButEndsOnTheLastFrame) {
  test::TempHome home;
  QtPlatform platform;
  ManualEngine m;
  ASSERT_TRUE(m.open(test::teapotPath()));
  m.engine.autoLoop = false;
  ASSERT_EQ(sendCommandString(m.engine, "play window notify"), kMciOk);
  const double fps = m.engine.movie()->framesPerSecond();
  // The timer comes only every third frame time.
  m.runToEnd(int64_t(3e6 / fps));
  EXPECT_EQ(m.engine.position(), m.engine.length() - 1);
  EXPECT_GT(m.engine.stats().dropped, 0u);
  EXPECT_LT(m.shown.size(), size_t(m.engine.length() / 2));
  // Skipped pictures were still decoded in order, so the last one equals the codec's own.
  auto reference = test::decodeWithCodec(test::teapotPath(), uint32_t(m.engine.length()));
  ASSERT_EQ(reference.size(), size_t(m.engine.length()));
  EXPECT_EQ(m.engine.movie()->picture().pixels, reference.back().pixels);
}

TEST(PlayerPlayback, AutoLoopStartsAgainAndStepsAndSeeksLandExactly) {
  test::TempHome home;
  QtPlatform platform;
  ManualEngine m;
  ASSERT_TRUE(m.open(test::teapotPath()));
  const long last = m.engine.length() - 1;
  m.engine.autoLoop = true;
  ASSERT_EQ(sendCommandString(m.engine, "play window notify"), kMciOk);
  for (int i = 0; i < 3000 && m.shown.size() < size_t(last + 5); ++i) {
    m.now += 10000;
    m.engine.tick();
  }
  EXPECT_EQ(m.engine.mode(), MovieMode::Playing) << "auto loop keeps playing";
  EXPECT_TRUE(m.ends.empty());
  EXPECT_LT(m.engine.position(), 10);
  EXPECT_EQ(sendCommandString(m.engine, "stop"), kMciOk);
  ASSERT_EQ(m.ends.size(), 1u);
  EXPECT_FALSE(m.ends[0].first);
  // A play begun mid-movie loops back to the movie's first frame, not to where it began.
  EXPECT_EQ(sendCommandString(m.engine, commandWithNumbers("seek to %ld wait", 6)), kMciOk);
  ASSERT_EQ(sendCommandString(m.engine, "play window"), kMciOk);
  m.shown.clear();
  for (int i = 0; i < 3000 && m.shown.size() < size_t(last); ++i) {
    m.now += 10000;
    m.engine.tick();
  }
  EXPECT_NE(std::find(m.shown.begin(), m.shown.end(), 0L), m.shown.end());
  EXPECT_EQ(sendCommandString(m.engine, "stop"), kMciOk);
  m.ends.clear();

  auto reference = test::decodeWithCodec(test::teapotPath(), uint32_t(last + 1));
  ASSERT_EQ(reference.size(), size_t(last + 1));
  auto picture = [&] { return m.engine.movie()->picture().pixels; };
  EXPECT_EQ(sendCommandString(m.engine, commandWithNumbers("seek to %ld wait", 6)), kMciOk);
  EXPECT_EQ(m.engine.position(), 6);
  EXPECT_EQ(picture(), reference[6].pixels);
  EXPECT_EQ(sendCommandString(m.engine, "step by 1 wait"), kMciOk);
  EXPECT_EQ(picture(), reference[7].pixels);
  EXPECT_EQ(sendCommandString(m.engine, "step by 1 reverse wait"), kMciOk);
  EXPECT_EQ(m.engine.position(), 6);
  EXPECT_EQ(picture(), reference[6].pixels) << "a backward step decodes from the key frame";
  EXPECT_EQ(sendCommandString(m.engine, "step by 4 reverse wait"), kMciOk);
  EXPECT_EQ(picture(), reference[2].pixels);
  EXPECT_EQ(sendCommandString(m.engine, "step by 15 reverse wait"), kMciOk);
  EXPECT_EQ(m.engine.position(), 0) << "a step past the start stops at the first frame";
  EXPECT_EQ(picture(), reference[0].pixels);
  EXPECT_EQ(sendCommandString(m.engine, "seek to end wait"), kMciOk);
  EXPECT_EQ(picture(), reference[size_t(last)].pixels);
  EXPECT_EQ(sendCommandString(m.engine, commandWithNumbers("seek to %ld wait", last + 1)),
            kMciOutOfRange);
  EXPECT_EQ(sendCommandString(m.engine, "seek to -1 wait"), kMciOutOfRange);
  EXPECT_EQ(sendCommandString(m.engine, "jump to 3"), kMciUnrecognized);
  EXPECT_EQ(sendCommandString(m.engine, "play window from x notify"), kMciBadParameter);
  std::string length;
  EXPECT_EQ(sendCommandString(m.engine, "status length", &length), kMciOk);
  EXPECT_EQ(length, std::to_string(last + 1));
}

TEST(PlayerCommands, StepsSeeksAndAReplayedRangeUseTheirCommandStrings) {
  test::TempHome home;
  QtPlatform platform;
  ManualEngine m;
  PlayerSettings settings;
  int beeps = 0;
  ControllerHooks hooks;
  hooks.beep = [&] { ++beeps; };
  hooks.setLooping = [&](bool loop) { m.engine.autoLoop = loop; };
  PlayerController c(settings, m.engine, hooks);

  c.playInWindow();
  c.plus1();
  c.changeGamma(ToneStep::Increase);
  EXPECT_EQ(beeps, 3) << "every command that needs a video beeps without one";
  EXPECT_TRUE(c.sent().empty());
  c.playFullscreen();
  EXPECT_EQ(beeps, 4) << "fullscreen play only beeps";

  ASSERT_TRUE(m.open(test::teapotPath()));
  long last = m.engine.length() - 1;
  c.gotoEnd();
  c.minus1();
  c.minus15();
  c.plus15();
  c.gotoStart();
  const std::string end = "seek to " + std::to_string(last) + " wait";
  EXPECT_EQ(c.sent(), (std::vector<std::string>{end, "step by 1 reverse wait", "seek to 0 wait",
                                                end, "seek to 0 wait"}))
      << "with fewer than 15 frames to go, the 15-steps seek to the first or last frame";
  c.playFullscreen();
  EXPECT_EQ(beeps, 5);

  // A longer movie steps by 15.
  const std::string clip = home.path() + "/long.avi";
  ASSERT_TRUE(test::writeClickClip(clip, 40, 15, 11025, 10));
  ASSERT_TRUE(m.open(clip));
  last = m.engine.length() - 1;
  const size_t before = c.sent().size();
  c.plus15();
  c.plus15();
  c.plus15();
  c.minus15();
  c.minus15();
  c.minus15();
  EXPECT_EQ(std::vector<std::string>(c.sent().begin() + long(before), c.sent().end()),
            (std::vector<std::string>{"step by 15 wait", "step by 15 wait", "seek to 39 wait",
                                      "step by 15 reverse wait", "step by 15 reverse wait",
                                      "seek to 0 wait"}));
  EXPECT_EQ(m.engine.position(), 0);

  // A stored range plays from its start to its end (1-based in the settings, 0-based in MCI).
  EXPECT_FALSE(c.setReplayRange(9, 4));
  EXPECT_TRUE(settings.replayStartFrame.empty());
  ASSERT_TRUE(c.setReplayRange(5, 12));
  EXPECT_EQ(settings.replayStartFrame, "5");
  EXPECT_EQ(settings.replayEndFrame, "12");
  settings.autoLoop = false;
  m.shown.clear();
  c.playInWindow();
  EXPECT_EQ(c.sent().back(), "play window from 4 to 11 notify");
  m.runToEnd(10000);
  ASSERT_FALSE(m.shown.empty());
  EXPECT_EQ(m.shown.front(), 4);
  EXPECT_EQ(m.shown.back(), 11);
  EXPECT_EQ(m.shown.size(), 8u);

  // Goto stores the typed frame, seeks to it and resumes the play in force.
  c.playInWindow();
  c.gotoFrame(30);
  EXPECT_EQ(settings.gotoFrame, 30u);
  const auto& sent = c.sent();
  ASSERT_GE(sent.size(), 3u);
  EXPECT_EQ(sent[sent.size() - 3], "stop");
  EXPECT_EQ(sent[sent.size() - 2], "seek to 29 wait");
  EXPECT_EQ(sent.back(), "play window notify");
  EXPECT_EQ(m.engine.mode(), MovieMode::Playing);
  c.stop();

  settings.rewFFSpeed = 5000;
  settings.rewFFMute = true;
  c.rewind();
  EXPECT_EQ(sent[sent.size() - 3], "set speed 5000");
  EXPECT_EQ(sent[sent.size() - 2], "set audio all off");
  EXPECT_EQ(sent.back(), "play window reverse notify");
  m.runToEnd(10000);
  EXPECT_EQ(m.engine.position(), 0) << "rewind runs back to the first frame";
  settings.slowMoMute = true;
  c.slowMotion();
  EXPECT_EQ(sent[sent.size() - 3], "set speed 333");
  EXPECT_EQ(sent[sent.size() - 2], "set audio all off");
  c.stop();
}

TEST(PlayerCommands, GammaAndBrightnessGoThroughTheCodecStyleAndChangeThePicture) {
  test::TempHome home;
  QtPlatform platform;
  ManualEngine m;
  ASSERT_TRUE(m.open(test::teapotPath()));
  ASSERT_TRUE(m.engine.movie()->isZov());
  PlayerSettings settings;
  int sets = 0;
  ControllerHooks hooks;
  hooks.setStyle = [&](ZOVStyle* s) {
    ++sets;
    return ZOVSetStyle(s);
  };
  hooks.redraw = [&] { m.engine.redraw(); };
  PlayerController c(settings, m.engine, hooks);
  auto style = [] {
    ZOVStyle s{};
    s.size = uint32_t(ZOV_STYLE_FULL_SIZE);
    EXPECT_EQ(ZOVGetStyle(&s), uint32_t(ZOV_OK));
    return s;
  };
  ASSERT_EQ(+style().gamma, 100);
  const auto before = m.engine.movie()->picture().pixels;

  EXPECT_TRUE(c.changeGamma(ToneStep::Decrease));
  EXPECT_EQ(+style().gamma, -105);
  EXPECT_EQ(settings.gamma, -105);
  EXPECT_TRUE(c.changeGamma(ToneStep::Increase));
  EXPECT_EQ(+style().gamma, 100);
  for (int i = 0; i < 20; ++i) EXPECT_TRUE(c.changeGamma(ToneStep::Decrease));
  EXPECT_EQ(+style().gamma, -200);
  EXPECT_EQ(settings.gamma, -200);
  EXPECT_NE(m.engine.movie()->picture().pixels, before) << "the picture follows the new gamma";
  EXPECT_TRUE(c.changeGamma(ToneStep::Reset));
  EXPECT_EQ(m.engine.movie()->picture().pixels, before);

  ZOVStyle top = style();
  top.gamma = 300;
  ASSERT_EQ(ZOVSetStyle(&top), uint32_t(ZOV_OK));
  sets = 0;
  EXPECT_FALSE(c.changeGamma(ToneStep::Increase));
  EXPECT_EQ(sets, 0) << "at 300 an increase does nothing";
  EXPECT_TRUE(c.changeGamma(ToneStep::Reset));
  EXPECT_EQ(+style().gamma, 100);

  for (int i = 0; i < 15; ++i) EXPECT_TRUE(c.changeBrightness(ToneStep::Decrease));
  EXPECT_EQ(+style().brightness, -15);
  EXPECT_EQ(settings.brightness, -15);
  sets = 0;
  EXPECT_FALSE(c.changeBrightness(ToneStep::Decrease));
  EXPECT_EQ(sets, 0) << "brightness at -15 does not rewrite the style";
  EXPECT_TRUE(c.changeBrightness(ToneStep::Reset));
  EXPECT_EQ(+style().brightness, 0);
  EXPECT_EQ(m.engine.movie()->picture().pixels, before);
}

TEST(PlayerPlayback, MotionJpegWithSoundPlaysOnTheAudioClock) {
  test::TempHome home;
  std::string error;
  auto movie =
      MovieFile::open(std::string(ZOV_TEST_DATA_DIR) + "/pan-640x480-mjpeg-pcm.avi", &error);
  ASSERT_TRUE(movie) << error;
  EXPECT_FALSE(movie->isZov());
  EXPECT_TRUE(movie->hasAudio());
  EXPECT_EQ(movie->width(), 640);
  EXPECT_EQ(movie->height(), 480);
  ManualEngine m;
  m.engine.openMovie(std::move(movie));
  ASSERT_EQ(m.engine.movie()->picture().width, 640);
  m.engine.autoLoop = false;
  ASSERT_EQ(sendCommandString(m.engine, "play window notify"), kMciOk);
  // Half a second of the clock: the audio output's position leads the picture.
  for (int i = 0; i < 50; ++i) {
    m.now += 10000;
    m.engine.tick();
  }
  const double fps = m.engine.movie()->framesPerSecond();
  EXPECT_NEAR(double(m.engine.position()), 0.5 * fps, 1.0);
  EXPECT_GT(m.engine.audio().playedFrames(), 0u);
  EXPECT_EQ(sendCommandString(m.engine, "stop"), kMciOk);
}

TEST(PlayerPlayback, PlaysAMovieCompressedThroughTheCodec) {
  test::TempHome home;
  QtPlatform platform;
  test::Footage footage;
  constexpr int kFrames = 10;
  ASSERT_TRUE(test::loadUncompressedAvi(
      std::string(ZOV_TEST_DATA_DIR) + "/teapot-256x256-rgb24.avi", footage, kFrames));
  const std::string folder = test::makeTempFolder();
  const auto coded = test::compressThroughCodec(
      test::codecWithCompressionLibrary(folder + "/codec"), footage, kFrames);
  ASSERT_EQ(coded.failure, "");
  test::ZovAviDescription desc;
  desc.width = footage.width;
  desc.height = footage.height;
  desc.formatWord = coded.format.biCompression;
  std::vector<test::AviFrameData> frames;
  for (size_t f = 0; f < coded.chunks.size(); ++f)
    frames.push_back({coded.chunks[f], coded.keyFrames[f]});
  const std::string movie = folder + "/compressed.avi";
  ASSERT_TRUE(test::writeFileBytes(movie, test::buildZovAvi(desc, frames)));

  ManualEngine m;
  ASSERT_TRUE(m.open(movie));
  ASSERT_EQ(m.engine.length(), kFrames);
  m.engine.autoLoop = false;
  ASSERT_EQ(sendCommandString(m.engine, "play window notify"), kMciOk);
  m.runToEnd(10000);
  ASSERT_EQ(m.shown.size(), size_t(kFrames - 1));
  EXPECT_EQ(m.engine.stats().dropped, 0u);
  auto reference = test::decodeWithCodec(movie, kFrames);
  ASSERT_EQ(reference.size(), size_t(kFrames));
  EXPECT_EQ(m.engine.movie()->picture().pixels, reference.back().pixels);
  EXPECT_NE(reference.front().pixels, reference.back().pixels) << "the teapot turns";
}

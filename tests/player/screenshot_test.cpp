// The picture of the player for the documentation: only when ZOV_SCREENSHOT names the file
// (scripts/screenshots-player.sh runs it on a virtual X display).
#include <gtest/gtest.h>

#include <QMenuBar>
#include <QTest>
#include <algorithm>
#include <cstdlib>

#include "platform/profile.h"
#include "platform/qt/qt_platform.h"
#include "player/movie_widget.h"
#include "player/player_window.h"
#include "support/player_fixture.h"

using namespace zov;
using namespace zov::player;

TEST(PlayerScreenshot, Playing) {
  const char* out = std::getenv("ZOV_SCREENSHOT");
  if (!out) GTEST_SKIP() << "ZOV_SCREENSHOT is not set";
  test::TempHome home;
  QtPlatform platform;
  std::string error;
  std::unique_ptr<AudioOutput> audio = createSdlAudioOutput(&error);
  if (!audio) audio = createNullAudioOutput();
  PlayerWindow w(std::make_unique<PlaybackEngine>(std::move(audio)),
                 std::make_unique<ProfileFile>(kSettingsFile), DisplayInfo{6, 1280, 1024, 24});
  w.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));
  ASSERT_TRUE(w.openVideo(test::teapotPath()));
  // The window fits the movie; the picture is wide enough for the whole menu bar.
  w.resize(std::max(w.width(), w.menuBar()->sizeHint().width()), w.height());
  QTest::qWait(50);
  auto* more = w.menuBar()->findChild<QWidget*>("qt_menubar_ext_button");
  ASSERT_TRUE(!more || !more->isVisible())
      << "a menu is hidden behind the menu bar's extension button";
  w.runCommand(kPlayInWindow);
  // Into the movie, while it plays.
  QTest::qWait(400);
  ASSERT_EQ(w.engine().mode(), MovieMode::Playing);
  ASSERT_GT(w.engine().position(), 0);
  ASSERT_TRUE(w.grab().save(QString::fromLocal8Bit(out), "PNG"));
  w.runCommand(kStop);
}

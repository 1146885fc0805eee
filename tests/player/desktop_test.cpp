// The player as a desktop program: the screen saver stays off while a movie plays (through the
// desktop's inhibit interface, here a stand-in service on a private bus), the dialogs' labels
// show their mnemonics, and the menu items and movie buttons have pictures.
#include <gtest/gtest.h>

#include <QAction>
#include <QLabel>
#include <QProcess>
#include <QRegularExpression>
#include <QTest>
#include <QToolButton>

#ifdef ZOV_HAVE_QTDBUS
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#endif

#include "platform/profile.h"
#include "platform/qt/qt_platform.h"
#include "player/movie_widget.h"
#include "player/player_dialogs.h"
#include "player/player_window.h"
#include "player/screen_saver.h"
#include "support/player_fixture.h"

using namespace zov;
using namespace zov::player;

namespace {

bool waitFor(const std::function<bool()>& done, int ms = 5000) {
  for (int waited = 0; !done() && waited < ms; waited += 10) QTest::qWait(10);
  return done();
}

// Labels whose '&' would be shown as it is: a mnemonic needs a buddy to go to.
std::vector<std::string> literalAmpersands(QWidget* root) {
  std::vector<std::string> found;
  for (QLabel* label : root->findChildren<QLabel*>())
    if (label->text().contains(QRegularExpression("&[^&]")) && !label->buddy())
      found.push_back(label->text().toStdString());
  return found;
}

#ifdef ZOV_HAVE_QTDBUS
// The desktop's screen saver service as far as the player uses it.
class ScreenSaverService : public QObject {
  Q_OBJECT
  Q_CLASSINFO("D-Bus Interface", "org.freedesktop.ScreenSaver")
 public:
  int held = 0;
  uint nextCookie = 41;
  std::vector<uint> givenBack;
 public slots:
  uint Inhibit(const QString&, const QString&) {
    ++held;
    return ++nextCookie;
  }
  void UnInhibit(uint cookie) {
    --held;
    givenBack.push_back(cookie);
  }
};

// A session bus of the test's own.
class PrivateBus {
 public:
  PrivateBus() {
    daemon_.start("dbus-daemon", {"--session", "--nofork", "--print-address=1"});
    if (!daemon_.waitForStarted(5000) || !daemon_.waitForReadyRead(5000)) return;
    address_ = QString::fromUtf8(daemon_.readLine()).trimmed();
  }
  ~PrivateBus() {
    daemon_.kill();
    daemon_.waitForFinished(5000);
  }
  const QString& address() const { return address_; }

 private:
  QProcess daemon_;
  QString address_;
};
#endif

}  // namespace

TEST(PlayerDesktop, ScreenSaverIsKeptOffWhilePlayingOnly) {
#ifndef ZOV_HAVE_QTDBUS
  GTEST_SKIP() << "built without Qt's D-Bus module";
#else
  test::TempHome home;
  QtPlatform platform;
  RecordingMessageBox boxes;
  ScopedMessageBoxSink sink(&boxes);
  {
    // No bus at all: nothing happens and nothing is said.
    ScreenSaverInhibitor nowhere(nullptr, "unix:path=/nonexistent/zov-bus");
    nowhere.setInhibited(true);
    QTest::qWait(50);
    EXPECT_FALSE(nowhere.granted());
  }
  PrivateBus bus;
  if (bus.address().isEmpty()) GTEST_SKIP() << "dbus-daemon is not installed";
  QDBusConnection service = QDBusConnection::connectToBus(bus.address(), "screen-saver-service");
  ASSERT_TRUE(service.isConnected());
  {
    // The bus without a screen saver service: quiet too.
    ScreenSaverInhibitor noService(nullptr, bus.address());
    noService.setInhibited(true);
    QTest::qWait(200);
    EXPECT_FALSE(noService.granted());
  }
  ScreenSaverService saver;
  ASSERT_TRUE(service.registerObject("/org/freedesktop/ScreenSaver", &saver,
                                     QDBusConnection::ExportAllSlots));
  ASSERT_TRUE(service.registerService("org.freedesktop.ScreenSaver"));

  auto w = test::makeShownPlayerWindow();
  w->useScreenSaverBus(bus.address());
  const std::string clip = home.path() + "/clip.avi";
  ASSERT_TRUE(test::writeClickClip(clip, 20, 15, 11025, 5));
  ASSERT_TRUE(w->openVideo(clip));
  QTest::qWait(100);
  EXPECT_EQ(saver.held, 0) << "an open movie that does not play leaves the screen saver alone";

  w->runCommand(kPlayInWindow);
  ASSERT_TRUE(waitFor([&] { return w->screenSaver().granted(); }));
  EXPECT_EQ(saver.held, 1);
  w->runCommand(kStop);
  ASSERT_TRUE(waitFor([&] { return saver.held == 0; }));
  EXPECT_EQ(saver.givenBack, std::vector<uint>{42});

  // Played to its end, the movie gives the request back; so does closing while playing.
  w->settings().autoLoop = false;
  w->engine().autoLoop = false;
  w->runCommand(kPlayInWindow);
  ASSERT_TRUE(waitFor([&] { return saver.held == 1; }));
  ASSERT_TRUE(waitFor([&] { return saver.held == 0; }, 15000)) << "the movie's end";
  w->runCommand(kPlayInWindow);
  ASSERT_TRUE(waitFor([&] { return w->screenSaver().granted(); }));
  w->runCommand(kCloseVideo);
  ASSERT_TRUE(waitFor([&] { return saver.held == 0; }));

  // With "DisableScreenSaver" off the screen saver is never asked.
  ASSERT_TRUE(w->openVideo(clip));
  w->settings().disableScreenSaver = false;
  w->runCommand(kPlayInWindow);
  QTest::qWait(200);
  EXPECT_EQ(saver.held, 0);
  EXPECT_EQ(saver.givenBack.size(), 3u);
  EXPECT_TRUE(boxes.boxes().empty());
  w.reset();
  QDBusConnection::disconnectFromBus("screen-saver-service");
#endif
}

TEST(PlayerDesktop, DialogLabelsShowMnemonicsAndCommandsHavePictures) {
  test::TempHome home;
  QtPlatform platform;
  PlayerSettings settings;
  OptionsDialog options(settings, nullptr);
  GotoDialog gotoFrame(
      1, 100, [] { return 0L; }, nullptr);
  ReplayDialog replay(
      settings, [] { return 0L; }, nullptr);
  for (QWidget* dialog : std::initializer_list<QWidget*>{&options, &gotoFrame, &replay})
    EXPECT_EQ(literalAmpersands(dialog), std::vector<std::string>{})
        << qPrintable(dialog->objectName());

  auto w = test::makeShownPlayerWindow();
  for (int id : {kOpenVideo, kCloseVideo, kExit, kPlayInWindow, kPlayFullScreen, kStop, kRewind,
                 kFastForward, kGotoStart, kGotoEnd, kGoto, kVolumeMute, kHelp, kAboutPlayer}) {
    const QImage picture = w->action(id)->icon().pixmap(QSize(16, 16), 2.0).toImage();
    EXPECT_EQ(picture.width(), 32) << "command " << id << " has no picture sharp at 2x";
  }
  for (const char* name : {"PlayButton", "StopButton"}) {
    auto* button = w->movieWidget().findChild<QToolButton*>(name);
    ASSERT_NE(button, nullptr) << name;
    EXPECT_FALSE(button->icon().isNull());
    EXPECT_FALSE(button->toolTip().isEmpty());
  }
}

#include "desktop_test.moc"

// The player's window offscreen: menus and captions, the pictures it draws against the codec's
// own output, playing to the end, keys typed into the movie window, dialogs and settings.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QMessageBox>
#include <QSlider>
#include <QTest>
#include <QTimer>
#include <csignal>
#include <filesystem>

#include "platform/profile.h"
#include "platform/qt/qt_platform.h"
#include "platform/qt/termination_signals.h"
#include "platform/ui.h"
#include "player/movie_widget.h"
#include "player/player_dialogs.h"
#include "player/player_window.h"
#include "support/player_fixture.h"
#include "zov/version.h"

using namespace zov;
using namespace zov::player;

TEST(PlayerWindow, MenusCaptionsAndTheNetworkedItem) {
  test::TempHome home;
  QtPlatform platform;
  auto w = test::makeShownPlayerWindow();
  EXPECT_EQ(w->windowTitle(), "Orvane Player");
  EXPECT_EQ(w->menuBar()->objectName(), "MenuBrindle32");
  const std::map<int, QString> texts = {
      {kOpenVideo, "&Open Video...\tCtrl + O"},
      {kCloseVideo, "&Close Video\tCtrl + C"},
      {kPlaybackStyle, "P&layback Style...\tCtrl + L"},
      {kPlayerOptions, "Player Op&tions...\tCtrl + T"},
      {kExit, "E&xit\tAlt + F4"},
      {kPlayInWindow, "&Play In Window\tCtrl + P"},
      {kPlayFullScreen, "Play &FullScreen\tCtrl + F"},
      {kSlowMotion, "&Slow Motion\tCtrl + S"},
      {kStop, "S&top\tEsc"},
      {kMinus1, "&Minus 1"},
      {kPlus1, "P&lus 1"},
      {kMinus15, "M&inus 15"},
      {kPlus15, "Pl&us 15"},
      {kGotoStart, "G&oto Start"},
      {kGotoEnd, "Goto E&nd"},
      {kRewind, "Re&wind"},
      {kFastForward, "F&ast Forward"},
      {kGoto, "&Goto...\tCtrl + G"},
      {kReplay, "&Replay...\tCtrl + R"},
      {kVolumeMute, "Volume &Mute\t/"},
      {kAboutCodec, "A&bout ZOVCodec..."},
      {kAboutPlayer, "&About Player..."},
      {kStatus, "&Status..."},
  };
  for (auto& [id, text] : texts) {
    ASSERT_NE(w->action(id), nullptr) << id;
    EXPECT_EQ(w->action(id)->text(), text);
  }
  EXPECT_EQ(w->action(kOpenNetworked), nullptr) << "offered only with NetworkedVideo";
  // The window shows the player's icon; its about box the player's name, version and OK.
  const QImage icon = w->windowIcon().pixmap(32).toImage();
  EXPECT_FALSE(icon.isNull());
  EXPECT_GT(qAlpha(icon.pixel(16, 16)), 0);
  QString aboutText;
  bool aboutOk = false;
  QTimer::singleShot(0, [&] {
    QWidget* modal = QApplication::activeModalWidget();
    auto* box = qobject_cast<QMessageBox*>(modal);
    if (!box) {
      if (modal) modal->close();
      return;
    }
    aboutText = box->text();
    QAbstractButton* ok = box->button(QMessageBox::Ok);
    aboutOk = ok != nullptr;
    if (ok)
      ok->click();
    else
      box->reject();
  });
  w->runCommand(kAboutPlayer);
  EXPECT_TRUE(aboutText.contains("Orvane Player")) << aboutText.toStdString();
  EXPECT_TRUE(aboutText.contains("Version " ZOV_VERSION_STRING)) << aboutText.toStdString();
  EXPECT_TRUE(aboutOk);
  w.reset();

  ProfileFile(kSettingsFile).writeString(kSettingsSection, "NetworkedVideo", "1");
  w = test::makeShownPlayerWindow();
  ASSERT_NE(w->action(kOpenNetworked), nullptr);
  EXPECT_EQ(w->action(kOpenNetworked)->text(), "Open &Networked Video...\tCtrl + N");
}

TEST(PlayerWindow, DrawsTheCodecsPicturesAndPlaysToTheEnd) {
  test::TempHome home;
  QtPlatform platform;
  RecordingMessageBox boxes;
  ScopedMessageBoxSink sink(&boxes);
  auto w = test::makeShownPlayerWindow();
  ASSERT_TRUE(w->openVideo(test::teapotPath()));
  MovieWidget& movie = w->movieWidget();
  const auto reference = test::decodeWithCodec(test::teapotPath(), 10);
  ASSERT_EQ(reference.size(), 10u);
  EXPECT_EQ(movie.pictureRect().size(), QSize(reference[0].width, reference[0].height));
  EXPECT_EQ(test::drawn(movie), reference[0].pixels);

  w->runCommand(kGotoEnd);
  EXPECT_EQ(test::drawn(movie), reference[9].pixels);
  w->runCommand(kMinus1);
  w->runCommand(kMinus1);
  EXPECT_EQ(w->engine().position(), 7);
  EXPECT_EQ(test::drawn(movie), reference[7].pixels);

  // Keys typed into the movie window reach the window's accelerators.
  movie.setFocus();
  QTest::keyClick(&movie, Qt::Key_Right);
  EXPECT_EQ(w->engine().position(), 8);
  QTest::keyClick(&movie, Qt::Key_Home);
  EXPECT_EQ(w->engine().position(), 0);
  EXPECT_EQ(test::drawn(movie), reference[0].pixels);

  // Playing in the window to the end with auto-loop off stops on the last frame.
  w->settings().autoLoop = false;
  w->runCommand(kPlayInWindow);
  EXPECT_EQ(w->engine().mode(), MovieMode::Playing);
  QTRY_COMPARE_WITH_TIMEOUT(int(w->engine().mode()), int(MovieMode::Stopped), 10000);
  EXPECT_EQ(w->engine().position(), 9);
  EXPECT_EQ(test::drawn(movie), reference[9].pixels);

  // Volume steps by a sixteenth of the range and stops at its ends; mute toggles.
  AudioOutput& out = w->engine().audio();
  w->runCommand(kVolumeDecrease);
  EXPECT_EQ(out.volume(), kVolumeMaximum - (kVolumeMaximum - kVolumeMinimum) / kVolumeSteps);
  for (int i = 0; i < 20; ++i) w->runCommand(kVolumeDecrease);
  EXPECT_EQ(out.volume(), kVolumeMinimum);
  for (int i = 0; i < 20; ++i) w->runCommand(kVolumeIncrease);
  EXPECT_EQ(out.volume(), kVolumeMaximum);
  QTest::keyClick(&movie, Qt::Key_Slash);
  EXPECT_TRUE(out.muted());
  w->runCommand(kVolumeMute);
  EXPECT_FALSE(out.muted());

  // Fullscreen play only beeps; so does a command without a video.
  boxes.clear();
  w->runCommand(kPlayFullScreen);
  EXPECT_EQ(boxes.beeps().size(), 1u);
  w->closeVideo();
  w->runCommand(kPlus1);
  w->runCommand(kPlaybackStyle);
  EXPECT_EQ(boxes.beeps().size(), 3u);
  EXPECT_TRUE(boxes.boxes().empty());
}

TEST(PlayerWindow, PlaybackStyleNeedsAZovMovieAndHelpAndReplayBoxes) {
  test::TempHome home;
  QtPlatform platform;
  RecordingMessageBox boxes;
  ScopedMessageBoxSink sink(&boxes);
  auto w = test::makeShownPlayerWindow();
  const std::string clip = home.path() + "/plain.avi";
  ASSERT_TRUE(test::writeClickClip(clip, 20, 15, 11025, 5));
  ASSERT_TRUE(w->openVideo(clip));
  w->runCommand(kPlaybackStyle);
  ASSERT_EQ(boxes.boxes().size(), 1u);
  EXPECT_EQ(boxes.boxes()[0].text,
            "Sorry, this only works with AVI files compressed using the Orvane ZOV1 Codec");
  EXPECT_EQ(boxes.boxes()[0].title, "Orvane Player");
  w->runCommand(kHelp);
  EXPECT_EQ(boxes.texts().back(), "Please refer to the information provided in the Orvane Folder");

  // The replay dialog refuses an end before the start and stores a good range.
  boxes.clear();
  QTimer::singleShot(0, [&] {
    auto* dialog = qobject_cast<ReplayDialog*>(QApplication::activeModalWidget());
    ASSERT_NE(dialog, nullptr);
    dialog->startEdit()->setText("9");
    dialog->endEdit()->setText("3");
    auto* buttons = dialog->findChild<QDialogButtonBox*>();
    emit buttons->accepted();  // refused with a box; the dialog stays
    dialog->endEdit()->setText("12");
    emit buttons->accepted();
  });
  w->runCommand(kReplay);
  EXPECT_EQ(boxes.texts(),
            std::vector<std::string>{"The start frame must be before the end frame"});
  EXPECT_EQ(w->settings().replayStartFrame, "9");
  EXPECT_EQ(w->settings().replayEndFrame, "12");

  // The goto dialog shows the current frame 1-based and seeks to the typed one.
  QTimer::singleShot(0, [&] {
    auto* dialog = qobject_cast<GotoDialog*>(QApplication::activeModalWidget());
    ASSERT_NE(dialog, nullptr);
    EXPECT_EQ(dialog->currentLabel()->text(), "1");
    dialog->frameEdit()->setText("15");
    dialog->accept();
  });
  w->runCommand(kGoto);
  EXPECT_EQ(w->engine().position(), 14);
  EXPECT_EQ(w->settings().gotoFrame, 15u);
}

TEST(PlayerWindow, PlacementAndSettingsAtTheEnd) {
  test::TempHome home;
  QtPlatform platform;
  EXPECT_EQ(alignedWindowX(157, 0), 156);
  EXPECT_EQ(alignedWindowX(157, 3), 157);
  EXPECT_EQ(alignedWindowX(-3, 0), -4);
  {
    ProfileFile f(kSettingsFile);
    f.writeString(kSettingsSection, "WindowXPos", "99999");
    f.writeString(kSettingsSection, "WindowYPos", "20");
  }
  auto w = test::makeShownPlayerWindow();
  EXPECT_EQ(w->settings().windowX, 157);
  EXPECT_EQ(w->settings().windowY, 104);
  ASSERT_TRUE(w->openVideo(test::teapotPath()));
  w->settings().gamma = -105;
  w.reset();
  ProfileFile f(kSettingsFile);
  EXPECT_EQ(f.getString(kSettingsSection, "Gamma", "", 20), "-105");
  EXPECT_NE(f.getString(kSettingsSection, "FileRecall1", "", 400).find("sample-teapot-zov2.avi"),
            std::string::npos);
  EXPECT_NE(f.getString(kSettingsSection, "FilePath", "", 400).find("*.avi"), std::string::npos);
}

TEST(PlayerWindow, PlaybackStyleDialogDoublesThePictureAndResizesTheWindow) {
  test::TempHome home;
  QtPlatform platform;
  std::vector<std::string> shown;
  platform.dialogs().setShowHook([&](std::string_view name, QDialog* dialog) {
    shown.emplace_back(name);
    QTimer::singleShot(0, dialog, [dialog] {
      // Windowed method 4: the picture doubled in 16-bit colour.
      auto* method = dialog->findChild<QAbstractButton*>("1004");
      ASSERT_NE(method, nullptr);
      method->click();
      auto* ok = dialog->findChild<QAbstractButton*>(QString::number(IDOK));
      ASSERT_NE(ok, nullptr);
      ok->click();
    });
  });
  auto w = test::makeShownPlayerWindow();
  ASSERT_TRUE(w->openVideo(test::teapotPath()));
  const QSize before = w->size();
  const QSize picture = w->movieWidget().pictureRect().size();
  w->runCommand(kPlaybackStyle);
  ASSERT_EQ(shown, std::vector<std::string>{"ZOV Configuration"});
  EXPECT_EQ(w->settings().windowedStyle, 4u);
  EXPECT_EQ(w->movieWidget().pictureRect().size(), picture * 2);
  EXPECT_EQ(w->movieWidget().currentImage().size(), picture * 2)
      << "the codec delivers the doubled picture itself";
  EXPECT_EQ(w->size(), before + picture) << "the window grows by the picture's growth";
  // The doubled picture is the codec's own output for this method.
  const auto reference = test::decodeWithCodec(test::teapotPath(), 1);
  ASSERT_EQ(reference.size(), 1u);
  EXPECT_EQ(QSize(reference[0].width, reference[0].height), picture * 2);
  EXPECT_EQ(test::drawn(w->movieWidget()), reference[0].pixels);
  // Back to method 0 so that the codec's settings do not carry into other tests.
  ZOVStyle style{};
  style.size = uint32_t(ZOV_STYLE_FULL_SIZE);
  ASSERT_EQ(ZOVGetStyle(&style), uint32_t(ZOV_OK));
  style.windowedMethod = 0;
  ASSERT_EQ(ZOVSetStyle(&style), uint32_t(ZOV_OK));
  w.reset();
  EXPECT_EQ(ProfileFile(kSettingsFile).getString(kSettingsSection, "WindowedStyle", "", 8), "4");
}

TEST(PlayerWindow, BadFilesGiveABoxAndTheCommandLinePlaysThenExits) {
  test::TempHome home;
  QtPlatform platform;
  RecordingMessageBox boxes;
  ScopedMessageBoxSink sink(&boxes);
  auto w = test::makeShownPlayerWindow();
  const std::string junk = home.path() + "/junk.avi";
  ASSERT_TRUE(test::writeClickClip(junk, 4, 15, 11025, 2));
  // Cut the file inside its headers.
  std::filesystem::resize_file(junk, 100);
  EXPECT_FALSE(w->openVideo(junk));
  ASSERT_EQ(boxes.boxes().size(), 1u);
  EXPECT_EQ(boxes.boxes()[0].title, "Orvane Player ERROR");
  EXPECT_EQ(boxes.boxes()[0].style, uint32_t(MB_OK | MB_ICONERROR));
  EXPECT_NE(boxes.boxes()[0].text.find(junk), std::string::npos) << boxes.boxes()[0].text;
  EXPECT_FALSE(w->engine().isOpen());

  // -PWXE: play at once and end the player at the movie's end, even with auto-loop on.
  bool exited = false;
  QObject::connect(w.get(), &PlayerWindow::exitRequested, [&] { exited = true; });
  CommandLine c =
      parseCommandLine({"-PWXE", test::teapotPath()}, [](const std::string&) { return true; });
  ASSERT_TRUE(c.messages.empty());
  w->applyCommandLine(c);
  EXPECT_EQ(w->engine().mode(), MovieMode::Playing);
  QTRY_VERIFY_WITH_TIMEOUT(exited, 10000);
  EXPECT_EQ(w->engine().isOpen(), false) << "the window closed its movie on the way out";
}

TEST(PlayerWindow, FullScreenWindowPlaysAndComesBack) {
  test::TempHome home;
  QtPlatform platform;
  auto w = test::makeShownPlayerWindow();
  ASSERT_TRUE(w->openVideo(test::teapotPath()));
  w->settings().autoLoop = false;
  w->runCommand(kPlayFullScreenWindow);
  EXPECT_TRUE(w->isFullScreen());
  EXPECT_FALSE(w->menuBar()->isVisible());
  EXPECT_TRUE(w->movieWidget().followSize()) << "the picture fills the screen";
  QTRY_COMPARE_WITH_TIMEOUT(int(w->engine().mode()), int(MovieMode::Stopped), 10000);
  EXPECT_FALSE(w->isFullScreen());
  EXPECT_TRUE(w->menuBar()->isVisible());
  EXPECT_FALSE(w->movieWidget().followSize());
}

TEST(PlayerWindow, FramePositionComesBackAndTheSeekBarsGrooveMovesThePicture) {
  test::TempHome home;
  QtPlatform platform;
  {
    auto w = test::makeShownPlayerWindow();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(w.get()));
    w->move(300, 200);
    QCoreApplication::processEvents();
    const QPoint frame = w->pos();
    w->saveSettings();
    EXPECT_EQ(w->settings().windowX, frame.x());
    EXPECT_EQ(w->settings().windowY, frame.y()) << "the frame's corner, not the inside's";
  }
  auto w = test::makeShownPlayerWindow();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(w.get()));
  EXPECT_EQ(w->pos().y(), 200);
  // Offscreen the frame is the inside. Under a window manager with a 5-pixel border and a
  // 28-pixel title bar, starting at the saved corner (the frame placed there) and saving again
  // gives the same corner, start after start, normal or maximised.
  const QPoint border(5, 28);
  QPoint corner(300, 200);
  for (int start = 0; start < 2; ++start) {
    const QRect frame(corner, QSize(266, 340));
    const QRect inside(corner + border, QSize(256, 307));
    corner = savedWindowCorner(inside, frame, inside, true);
    EXPECT_EQ(corner, QPoint(300, 200)) << start;
    const QRect maximisedFrame(0, 0, 1024, 768);
    const QRect maximisedInside(QPoint(0, 0) + border, QSize(1014, 735));
    EXPECT_EQ(savedWindowCorner(maximisedInside, maximisedFrame, inside, false), corner) << start;
  }

  ASSERT_TRUE(w->openVideo(test::teapotPath()));
  auto* seekBar = w->movieWidget().findChild<QSlider*>("SeekBar");
  ASSERT_NE(seekBar, nullptr);
  EXPECT_EQ(w->movieWidget().findChild<QLabel*>("TotalTime")->text(), movieTime(10 / 15.0));
  const auto reference = test::decodeWithCodec(test::teapotPath(), 10);
  QTest::mouseClick(seekBar, Qt::LeftButton, {},
                    QPoint(seekBar->width() - 3, seekBar->height() / 2));
  EXPECT_GT(w->engine().position(), 0);
  EXPECT_EQ(seekBar->value(), int(w->engine().position()));
  EXPECT_EQ(test::drawn(w->movieWidget()), reference[size_t(w->engine().position())].pixels);
  EXPECT_EQ(w->movieWidget().findChild<QLabel*>("CurrentTime")->text(),
            movieTime(double(w->engine().position()) / 15.0));
  EXPECT_EQ(movieTime(3725), "1:02:05");
  EXPECT_EQ(movieTime(61.25), "1:01.3");
}

TEST(PlayerWindow, TerminationSignalsEndThePlayerEvenAfterTheSoundStarted) {
  test::TempHome home;
  QtPlatform platform;
  auto w = test::makeShownPlayerWindow();
  ASSERT_TRUE(w->openVideo(test::teapotPath()));
  w->settings().gamma = -105;
  TerminationSignals endSignals([&] { w->close(); });
  // The sound library starts after the handlers (as when a movie with sound opens): its own
  // handlers must not take the signals over.
  setenv("SDL_AUDIODRIVER", "dummy", 1);
  std::string error;
  auto sound = createSdlAudioOutput(&error);
  ::raise(SIGINT);
  QTRY_COMPARE_WITH_TIMEOUT(endSignals.received(), 1, 5000);
  EXPECT_FALSE(w->isVisible());
  EXPECT_FALSE(w->engine().isOpen());
  ProfileFile f(kSettingsFile);
  EXPECT_EQ(f.getString(kSettingsSection, "Gamma", "", 20), "-105");
}

TEST(PlayerWindow, TitleRecentVideosAndTheUsualPlayerKeys) {
  test::TempHome home;
  QtPlatform platform;
  auto w = test::makeShownPlayerWindow();
  ASSERT_TRUE(w->openVideo(test::teapotPath()));
  EXPECT_EQ(w->windowTitle(), "sample-teapot-zov2.avi - Orvane Player");
  w->closeVideo();
  EXPECT_EQ(w->windowTitle(), "Orvane Player");
  // The recall list is offered in the File menu and opens its file.
  QAction* recent = w->action(kRecentFile1);
  ASSERT_NE(recent, nullptr);
  EXPECT_TRUE(recent->text().endsWith("sample-teapot-zov2.avi"));
  recent->trigger();
  ASSERT_TRUE(w->engine().isOpen());
  // Keys shown in the menus: the items whose text names no key get it from their action.
  EXPECT_EQ(w->action(kMinus1)->shortcut(), QKeySequence(Qt::Key_Left));
  MovieWidget& movie = w->movieWidget();
  movie.setFocus();
  w->settings().autoLoop = false;
  QTest::keyClick(&movie, Qt::Key_Space);
  EXPECT_EQ(w->engine().mode(), MovieMode::Playing);
  QTest::keyClick(&movie, Qt::Key_Space);
  EXPECT_NE(w->engine().mode(), MovieMode::Playing);
  w->runCommand(kGotoStart);
  QTest::keyClick(&movie, Qt::Key_Right, Qt::ShiftModifier);  // 5 s of a 10-frame movie: its end
  EXPECT_EQ(w->engine().position(), 9);
  QTest::keyClick(&movie, Qt::Key_Left, Qt::ShiftModifier);
  EXPECT_EQ(w->engine().position(), 0);
  // Tab reaches every control below the picture and comes back to the picture; the window's
  // keys keep working from each of them (the seek bar and the buttons take no arrow or Space).
  ASSERT_TRUE(QTest::qWaitForWindowActive(w.get()));
  movie.setFocus();
  long frame = 0;
  for (const char* name : {"PlayButton", "StopButton", "SeekBar"}) {
    QTest::keyClick(w->focusWidget(), Qt::Key_Tab);
    ASSERT_EQ(w->focusWidget()->objectName(), name);
    QTest::keyClick(w->focusWidget(), Qt::Key_Right);
    EXPECT_EQ(w->engine().position(), ++frame) << name;
  }
  QTest::keyClick(w->focusWidget(), Qt::Key_Tab);
  EXPECT_EQ(w->focusWidget(), &movie);
  QTest::keyClick(w->focusWidget(), Qt::Key_Tab, Qt::ShiftModifier);
  QTest::keyClick(w->focusWidget(), Qt::Key_Tab, Qt::ShiftModifier);
  ASSERT_EQ(w->focusWidget()->objectName(), "StopButton");
  QTest::keyClick(w->focusWidget(), Qt::Key_Space);
  EXPECT_EQ(w->engine().mode(), MovieMode::Playing) << "Space plays, not presses Stop";
  QTest::keyClick(w->focusWidget(), Qt::Key_Space);
  EXPECT_NE(w->engine().mode(), MovieMode::Playing);
  movie.setFocus();
  // A double click toggles full screen, where the picture keeps its shape.
  QTest::mouseDClick(&movie, Qt::LeftButton, {}, QPoint(20, 20));
  ASSERT_TRUE(w->isFullScreen());
  const QRect r = movie.pictureRect();
  EXPECT_NEAR(double(r.width()) / r.height(), 256.0 / 256.0, 0.02);
  QTest::mouseDClick(&movie, Qt::LeftButton, {}, QPoint(20, 20));
  EXPECT_FALSE(w->isFullScreen());
}

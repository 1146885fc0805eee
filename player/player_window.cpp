#include "player/player_window.h"

#include <sys/resource.h>

#include <QApplication>
#include <QCloseEvent>
#include <QFileDialog>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMenuBar>
#include <QScreen>
#include <QTimer>
#include <algorithm>
#include <cmath>
#include <filesystem>

#include "platform/profile.h"
#include "platform/qt/qt_platform.h"
#include "platform/ui.h"
#include "player/movie_widget.h"
#include "player/player_dialogs.h"
#include "player/player_icons.h"
#include "player/screen_saver.h"
#include "zov/zovcod32.h"
#include "zov/zovcod32_dialogs.h"

namespace zov::player {

int alignedWindowX(int windowX, int movieOffset) {
  const int screenLeft = windowX + movieOffset;
  const int remainder = ((screenLeft % 4) + 4) % 4;
  return windowX - remainder;
}

QPoint savedWindowCorner(const QRect& inside, const QRect& frame, const QRect& normalInside,
                         bool normal) {
  if (normal) return frame.topLeft();
  // Maximised or full screen: the normal inside's place less the border the frame adds.
  return normalInside.topLeft() - (inside.topLeft() - frame.topLeft());
}

PlayerWindow::PlayerWindow(std::unique_ptr<PlaybackEngine> engine,
                           std::unique_ptr<ProfileFile> settingsFile, const DisplayInfo& display)
    : engine_(std::move(engine)), settingsFile_(std::move(settingsFile)), display_(display) {
  setObjectName("Brindle");
  setWindowTitle(kPlayerTitle);
  setWindowIcon(playerWindowIcon());
  settings_ = loadPlayerSettings(*settingsFile_, display_);
  if (QScreen* screen = QGuiApplication::primaryScreen()) {
    const QRect g = screen->geometry();
    placeOnScreen(settings_, g.left(), g.top(), g.width(), g.height());
  }
  engine_->autoLoop = settings_.autoLoop;
  movie_ = new MovieWidget(*engine_, this);
  setCentralWidget(movie_);
  ControllerHooks hooks;
  hooks.beep = [] { messageBeep(MB_ICONEXCLAMATION); };
  hooks.redraw = [this] {
    if (engine_->mode() != MovieMode::Playing) engine_->redraw();
  };
  hooks.setLooping = [this](bool loop) { engine_->autoLoop = loop; };
  controller_ = std::make_unique<PlayerController>(settings_, *engine_, hooks);
  engine_->onPlayEnded = [this](bool ended, bool notify) { playEnded(ended, notify); };
  connect(movie_, &MovieWidget::playButton, this, [this] { runCommand(kPlayInWindow); });
  connect(movie_, &MovieWidget::stopButton, this, [this] { runCommand(kStop); });
  connect(movie_, &MovieWidget::doubleClicked, this, [this] { runCommand(kToggleFullScreen); });
  buildMenus();
  screenSaver_ = new ScreenSaverInhibitor(this);
  move(settings_.windowX, settings_.windowY);
  resize(int(std::max<uint32_t>(settings_.windowWidth, 160)),
         int(std::max<uint32_t>(settings_.windowHeight, 80)));
  movie_->setFocus();
}

PlayerWindow::~PlayerWindow() {
  saveSettings();
  engine_->onPlayEnded = nullptr;
  closeVideo();
}

QAction* PlayerWindow::addCommand(QMenu* menu, int id, const char* text, const QKeySequence& key) {
  // The text carries the accelerator's name after a tab, as the menu shows it; the key itself
  // belongs to the window's accelerator table.
  QAction* a = menu->addAction(QString::fromUtf8(text));
  a->setIcon(playerCommandIcon(id));
  a->setData(id);
  connect(a, &QAction::triggered, this, [this, id] { runCommand(id); });
  actions_[id] = a;
  if (!key.isEmpty()) {
    accelerators_[key] = id;
    // The action holds the key, so that the menu shows it beside items whose text names none.
    a->setShortcut(key);
    a->setShortcutContext(Qt::WindowShortcut);
  }
  return a;
}

QAction* PlayerWindow::action(int id) const {
  auto it = actions_.find(id);
  return it == actions_.end() ? nullptr : it->second;
}

void PlayerWindow::buildMenus() {
  menuBar()->setObjectName("MenuBrindle32");
  QMenu* file = menuBar()->addMenu("&File");
  addCommand(file, kOpenVideo, "&Open Video...\tCtrl + O", QKeySequence("Ctrl+O"));
  if (settings_.networkedVideo)
    addCommand(file, kOpenNetworked, "Open &Networked Video...\tCtrl + N", QKeySequence("Ctrl+N"));
  addCommand(file, kCloseVideo, "&Close Video\tCtrl + C", QKeySequence("Ctrl+C"));
  file->addSeparator();
  addCommand(file, kPlaybackStyle, "P&layback Style...\tCtrl + L", QKeySequence("Ctrl+L"));
  addCommand(file, kPlayerOptions, "Player Op&tions...\tCtrl + T", QKeySequence("Ctrl+T"));
  file->addSeparator();
  recentMenu_ = file->addMenu("&Recent Videos");
  for (int i = 0; i < int(kRecallCount); ++i) {
    QAction* a = recentMenu_->addAction(QString());
    a->setData(kRecentFile1 + i);
    connect(a, &QAction::triggered, this, [this, i] { runCommand(kRecentFile1 + i); });
    actions_[kRecentFile1 + i] = a;
  }
  connect(file, &QMenu::aboutToShow, this, [this] { updateRecentMenu(); });
  updateRecentMenu();
  file->addSeparator();
  addCommand(file, kExit, "E&xit\tAlt + F4", QKeySequence("Alt+F4"));

  QMenu* play = menuBar()->addMenu("&Play");
  addCommand(play, kPlayInWindow, "&Play In Window\tCtrl + P", QKeySequence("Ctrl+P"));
  addCommand(play, kPlayFullScreen, "Play &FullScreen\tCtrl + F", QKeySequence("Ctrl+F"));
  addCommand(play, kPlayFullScreenWindow, "Play In Full-Screen &Window\tCtrl + W",
             QKeySequence("Ctrl+W"));
  addCommand(play, kSlowMotion, "&Slow Motion\tCtrl + S", QKeySequence("Ctrl+S"));
  addCommand(play, kStop, "S&top\tEsc", QKeySequence(Qt::Key_Escape));
  addCommand(play, kPlayPause, "Play / Pa&use\tSpace", QKeySequence(Qt::Key_Space));
  addCommand(play, kToggleFullScreen, "Full-Screen &Window On / Off\tF11",
             QKeySequence(Qt::Key_F11));
  play->addSeparator();
  addCommand(play, kRewind, "Re&wind", QKeySequence("Ctrl+Left"));
  addCommand(play, kFastForward, "F&ast Forward", QKeySequence("Ctrl+Right"));

  QMenu* position = menuBar()->addMenu("P&osition");
  addCommand(position, kMinus1, "&Minus 1", QKeySequence(Qt::Key_Left));
  addCommand(position, kPlus1, "P&lus 1", QKeySequence(Qt::Key_Right));
  addCommand(position, kMinus15, "M&inus 15", QKeySequence(Qt::Key_PageUp));
  addCommand(position, kPlus15, "Pl&us 15", QKeySequence(Qt::Key_PageDown));
  addCommand(position, kGotoStart, "G&oto Start", QKeySequence(Qt::Key_Home));
  addCommand(position, kGotoEnd, "Goto E&nd", QKeySequence(Qt::Key_End));
  addCommand(position, kJumpBack, "&Back 5 Seconds\tShift + Left", QKeySequence("Shift+Left"));
  addCommand(position, kJumpForward, "&Forward 5 Seconds\tShift + Right",
             QKeySequence("Shift+Right"));
  position->addSeparator();
  addCommand(position, kGoto, "&Goto...\tCtrl + G", QKeySequence("Ctrl+G"));
  addCommand(position, kReplay, "&Replay...\tCtrl + R", QKeySequence("Ctrl+R"));

  QMenu* picture = menuBar()->addMenu("P&icture");
  addCommand(picture, kGammaDecrease, "Gamma &Decrease\tF5", QKeySequence(Qt::Key_F5));
  addCommand(picture, kGammaIncrease, "Gamma &Increase\tF6", QKeySequence(Qt::Key_F6));
  addCommand(picture, kGammaReset, "Gamma &Reset\tF7", QKeySequence(Qt::Key_F7));
  picture->addSeparator();
  addCommand(picture, kBrightnessDecrease, "Brightness D&ecrease\tShift + F5",
             QKeySequence("Shift+F5"));
  addCommand(picture, kBrightnessIncrease, "Brightness I&ncrease\tShift + F6",
             QKeySequence("Shift+F6"));
  addCommand(picture, kBrightnessReset, "Brightness Re&set\tShift + F7", QKeySequence("Shift+F7"));

  QMenu* audio = menuBar()->addMenu("&Audio");
  addCommand(audio, kVolumeDecrease, "Volume &Down\t-", QKeySequence(Qt::Key_Minus));
  addCommand(audio, kVolumeIncrease, "Volume &Up\t+", QKeySequence(Qt::Key_Plus));
  addCommand(audio, kVolumeMute, "Volume &Mute\t/", QKeySequence(Qt::Key_Slash));

  QMenu* help = menuBar()->addMenu("&Help");
  addCommand(help, kHelp, "&Help\tF1", QKeySequence(Qt::Key_F1));
  help->addSeparator();
  addCommand(help, kAboutCodec, "A&bout ZOVCodec...");
  addCommand(help, kAboutPlayer, "&About Player...");
  addCommand(help, kStatus, "&Status...");
}

void PlayerWindow::runCommand(int id) {
  PlayerController& c = *controller_;
  switch (id) {
    case kOpenVideo: {
      std::filesystem::path pattern = settings_.filePath;
      const QString dir = QString::fromStdString(pattern.parent_path().string());
      const QString path =
          QFileDialog::getOpenFileName(this, "Open Video", dir, "Video Files (*.avi)");
      if (!path.isEmpty()) openVideo(path.toStdString());
      break;
    }
    case kOpenNetworked:
      openNetworked();
      break;
    case kCloseVideo:
      if (!engine_->isOpen() && !networkOpen_) messageBeep(MB_ICONEXCLAMATION);
      closeVideo();
      break;
    case kPlaybackStyle:
      playbackStyle();
      break;
    case kPlayerOptions:
      optionsDialog();
      break;
    case kExit:
      close();
      break;
    case kPlayInWindow:
      c.playInWindow();
      break;
    case kPlayFullScreen:
      c.playFullscreen();
      break;
    case kPlayFullScreenWindow:
      playFullScreenWindow();
      break;
    case kSlowMotion:
      c.slowMotion();
      break;
    case kStop:
      c.stop();
      break;
    case kMinus1:
      c.minus1();
      break;
    case kPlus1:
      c.plus1();
      break;
    case kMinus15:
      c.minus15();
      break;
    case kPlus15:
      c.plus15();
      break;
    case kGotoStart:
      c.gotoStart();
      break;
    case kGotoEnd:
      c.gotoEnd();
      break;
    case kRewind:
      c.rewind();
      break;
    case kFastForward:
      c.fastForward();
      break;
    case kGoto:
      gotoDialog();
      break;
    case kReplay:
      replayDialog();
      break;
    case kGammaDecrease:
      c.changeGamma(ToneStep::Decrease);
      break;
    case kGammaIncrease:
      c.changeGamma(ToneStep::Increase);
      break;
    case kGammaReset:
      c.changeGamma(ToneStep::Reset);
      break;
    case kBrightnessDecrease:
      c.changeBrightness(ToneStep::Decrease);
      break;
    case kBrightnessIncrease:
      c.changeBrightness(ToneStep::Increase);
      break;
    case kBrightnessReset:
      c.changeBrightness(ToneStep::Reset);
      break;
    case kVolumeDecrease:
      changeVolume(-1);
      break;
    case kVolumeIncrease:
      changeVolume(1);
      break;
    case kVolumeMute:
      engine_->audio().setMuted(!engine_->audio().muted());
      break;
    case kHelp:
      messageBox(toHandle(this), "Please refer to the information provided in the Orvane Folder",
                 kPlayerTitle, MB_OK | MB_ICONINFORMATION);
      break;
    case kAboutCodec:
      ZOVAbout(toHandle(this));
      break;
    case kAboutPlayer:
      showAboutPlayer(this);
      break;
    case kStatus:
      ZOVStatus(toHandle(this));
      break;
    case kPlayPause:
      engine_->mode() == MovieMode::Playing ? c.stop() : c.playInWindow();
      break;
    case kJumpBack:
      jump(-kJumpSeconds);
      break;
    case kJumpForward:
      jump(kJumpSeconds);
      break;
    case kToggleFullScreen:
      toggleFullScreen();
      break;
    default:
      if (id >= kRecentFile1 && id < kRecentFile1 + int(kRecallCount)) {
        const std::string path = settings_.fileRecall[size_t(id - kRecentFile1)];
        if (!path.empty()) openVideo(path);
      }
      break;
  }
  commandDone();
}

void PlayerWindow::jump(int seconds) {
  MovieFile* movie = engine_->movie();
  if (!movie) {
    messageBeep(MB_ICONEXCLAMATION);
    return;
  }
  const bool playing = engine_->mode() == MovieMode::Playing;
  const long step = std::lround(seconds * movie->framesPerSecond());
  const long target = std::clamp(engine_->position() + step, 0L, engine_->length() - 1);
  engine_->seek(target);
  if (playing) controller_->playInWindow();
}

void PlayerWindow::toggleFullScreen() {
  if (isFullScreen()) {
    leaveFullScreen();
    return;
  }
  if (!engine_->isOpen()) {
    messageBeep(MB_ICONEXCLAMATION);
    return;
  }
  menuBar()->hide();
  movie_->setFollowSize(true);
  showFullScreen();
}

void PlayerWindow::leaveFullScreen() {
  if (!isFullScreen()) return;
  showNormal();
  menuBar()->show();
  movie_->setFollowSize(false);
  movie_->fitDestinationToPicture();
}

void PlayerWindow::updateTitle() {
  MovieFile* movie = engine_->movie();
  if (!movie || movieName_.empty()) {
    setWindowTitle(kPlayerTitle);
    return;
  }
  setWindowTitle(QString::fromStdString(movieName_) + " - " + kPlayerTitle);
}

void PlayerWindow::updateRecentMenu() {
  bool any = false;
  for (int i = 0; i < int(kRecallCount); ++i) {
    QAction* a = actions_[kRecentFile1 + i];
    const std::string& path = settings_.fileRecall[size_t(i)];
    a->setVisible(!path.empty());
    // "&" in a file name is shown, not taken as a mnemonic.
    QString shown = QString::fromStdString(path);
    shown.replace("&", "&&");
    a->setText(QString("&%1 %2").arg(i + 1).arg(shown));
    any = any || !path.empty();
  }
  recentMenu_->setEnabled(any);
}

void PlayerWindow::commandDone() {
  applyPriority();
  updateScreenSaver();
  movie_->engineChanged();
}

void PlayerWindow::updateScreenSaver() {
  screenSaver_->setInhibited(settings_.disableScreenSaver && engine_->mode() == MovieMode::Playing);
}

void PlayerWindow::useScreenSaverBus(const QString& address) {
  delete screenSaver_;
  screenSaver_ = new ScreenSaverInhibitor(this, address);
  updateScreenSaver();
}

void PlayerWindow::changeVolume(int direction) {
  AudioOutput& out = engine_->audio();
  const int64_t step = int64_t(kVolumeMaximum - kVolumeMinimum) / kVolumeSteps;
  const int64_t v =
      std::clamp<int64_t>(int64_t(out.volume()) + direction * step, kVolumeMinimum, kVolumeMaximum);
  out.setVolume(uint32_t(v));
}

bool PlayerWindow::openVideo(const std::string& path) {
  closeVideo();
  return loadMovie(path);
}

bool PlayerWindow::loadMovie(const std::string& path) {
  std::string error;
  auto movie = MovieFile::open(path, &error);
  if (!movie) {
    messageBox(toHandle(this), "Unable to open the video \"" + path + "\": " + error,
               kPlayerErrorTitle, MB_OK | MB_ICONERROR);
    return false;
  }
  if (networkOpen_) {
    // The network source's local file: its sound comes through the codec library.
    std::string audioError;
    movie->useNetworkAudio(
        [](uint32_t chunk, uint32_t* size) { return ZOVObtainAudio(chunk, size); }, &audioError);
  }
  engine_->openMovie(std::move(movie));
  applyStyleToCodec();
  if (!networkOpen_) {
    rememberFile(settings_, std::filesystem::absolute(path).string());
    settings_.filePath = (std::filesystem::absolute(path).parent_path() / "*.avi").string();
    updateRecentMenu();
  }
  // A networked movie is named as its server lists it, not after the local placeholder.
  const char* served = networkOpen_ ? ZOVNetworkedMovieName() : nullptr;
  movieName_ = served ? std::string(served) : std::filesystem::path(path).filename().string();
  updateTitle();
  movie_->fitDestinationToPicture();
  resizeAroundMovie();
  movie_->engineChanged();
  return true;
}

void PlayerWindow::closeVideo() {
  engine_->closeMovie();
  movieName_.clear();
  updateTitle();
  movie_->fitDestinationToPicture();
  movie_->engineChanged();
  if (networkOpen_) {
    ZOVFreeZEV();
    networkOpen_ = false;
  }
  updateScreenSaver();
}

void PlayerWindow::applyStyleToCodec() {
  MovieFile* movie = engine_->movie();
  if (!movie || !movie->isZov()) return;
  ZOVStyle style{};
  style.size = uint32_t(ZOV_STYLE_FULL_SIZE);
  if (ZOVGetStyle(&style) != ZOV_OK) return;
  style.windowedMethod = settings_.windowedStyle;
  style.fullscreenMethod = settings_.fullscreenStyle;
  style.minFullscreenResolution = settings_.resolution;
  style.brightness = settings_.brightness;
  style.gamma = settings_.gamma;
  style.sourceRect = nullptr;
  style.destRect = nullptr;
  ZOVSetStyle(&style);
  engine_->redraw();
}

void PlayerWindow::resizeAroundMovie() {
  if (!engine_->isOpen() || isMaximized() || isFullScreen()) return;
  const ZOVRect dest = movie_->movieDestination();
  ZOVRect frame = movie_->adjustFrameRect(dest);
  frame.bottom += movie_->toolbarHeight();
  ZOVRect normal = movie_->normalPosition();
  normal.right = normal.left + (frame.right - frame.left);
  normal.bottom = normal.top + (frame.bottom - frame.top);
  movie_->setNormalPosition(normal);
}

void PlayerWindow::playbackStyle() {
  if (!engine_->isOpen()) {
    messageBeep(MB_ICONEXCLAMATION);
    return;
  }
  ZOVStyle style{};
  style.size = uint32_t(ZOV_STYLE_FULL_SIZE);
  if (ZOVGetStyle(&style) == ZOV_NO_INSTANCE) {
    messageBox(toHandle(this),
               "Sorry, this only works with AVI files compressed using the Orvane ZOV1 Codec",
               kPlayerTitle, MB_OK | MB_ICONINFORMATION);
    return;
  }
  const bool hadInterpolate = style.interpolate != 0;
  codec::MovieFrameHost* host = movie_;
  if (ZOVMCIWndConfigure(host, host, 1) != ZOV_OK) return;
  style = ZOVStyle{};
  style.size = uint32_t(ZOV_STYLE_FULL_SIZE);
  if (ZOVGetStyle(&style) != ZOV_OK) return;
  settings_.windowedStyle = style.windowedMethod;
  settings_.fullscreenStyle = style.fullscreenMethod;
  settings_.resolution = style.minFullscreenResolution;
  settings_.brightness = style.brightness;
  settings_.gamma = style.gamma;
  // Hardware scaling lets the movie follow a resizable window; a change of Interpolate makes
  // the window resizable too.
  const bool resizable = movie_->followSize();
  if ((style.useHardware && !resizable) || (style.interpolate != 0) != hadInterpolate)
    movie_->setFollowSize(true);
  else if (!style.useHardware && resizable)
    movie_->setFollowSize(false);
  // The codec's output changed: the movie window negotiates it again and redraws.
  engine_->redraw();
  if (!movie_->followSize()) {
    movie_->fitDestinationToPicture();
    resizeAroundMovie();
  }
}

void PlayerWindow::openNetworked() {
  closeVideo();
  const char* path = ZOVAccessZEV(toHandle(this));
  if (!path) return;
  networkOpen_ = true;
  const std::string local = path;
  if (!loadMovie(local)) closeVideo();
}

void PlayerWindow::optionsDialog() {
  OptionsDialog dialog(settings_, this);
  if (dialog.exec() != QDialog::Accepted) return;
  dialog.store(settings_);
  if (engine_->mode() != MovieMode::Playing) engine_->autoLoop = settings_.autoLoop;
  applyTopmost();
}

void PlayerWindow::gotoDialog() {
  if (!engine_->isOpen()) {
    messageBeep(MB_ICONEXCLAMATION);
    return;
  }
  GotoDialog dialog(
      settings_.gotoFrame, engine_->length(), [this] { return engine_->position(); }, this);
  if (dialog.exec() != QDialog::Accepted) return;
  controller_->gotoFrame(dialog.frame());
}

void PlayerWindow::replayDialog() {
  if (!engine_->isOpen()) {
    messageBeep(MB_ICONEXCLAMATION);
    return;
  }
  ReplayDialog dialog(
      settings_, [this] { return engine_->position(); }, this);
  const int result = dialog.exec();
  if (result == QDialog::Rejected) return;
  controller_->setReplayRange(dialog.startFrame(), dialog.endFrame());
  if (result == ReplayDialog::LoopInWindow) controller_->loopInWindow();
  if (result == ReplayDialog::LoopFullscreen) controller_->playFullscreen();
}

void PlayerWindow::playFullScreenWindow() {
  if (!engine_->isOpen()) {
    messageBeep(MB_ICONEXCLAMATION);
    return;
  }
  menuBar()->hide();
  movie_->setFollowSize(true);
  showFullScreen();
  controller_->playInWindow();
}

void PlayerWindow::playEnded(bool ended, bool) {
  controller_->playEnded();
  updateScreenSaver();
  leaveFullScreen();
  movie_->engineChanged();
  if (exitRule_ == ExitRule::AfterPlay || (exitRule_ == ExitRule::AtEnd && ended))
    QTimer::singleShot(0, this, [this] { close(); });
}

void PlayerWindow::applyTopmost() {
  if (isFullScreen()) return;
  const bool want = settings_.alwaysOnTop && !isMaximized();
  if (bool(windowFlags() & Qt::WindowStaysOnTopHint) == want) return;
  const bool visible = isVisible();
  setWindowFlag(Qt::WindowStaysOnTopHint, want);
  if (visible) show();
}

void PlayerWindow::applyPriority() {
  static bool raised = false;
  const bool want = settings_.boostPriority && engine_->mode() == MovieMode::Playing;
  if (want == raised) return;
  // Raising needs the right to do so; without it playback simply runs at normal priority.
  if (setpriority(PRIO_PROCESS, 0, want ? -10 : 0) == 0 || !want) raised = want;
}

void PlayerWindow::applyCommandLine(const CommandLine& c) {
  if (c.windowedStyle) settings_.windowedStyle = *c.windowedStyle;
  if (c.windowedStyle4x) settings_.windowedStyle = display_.depth == 8 ? 7 : 4;
  if (c.windowedStyle9x) settings_.windowedStyle = display_.depth == 8 ? 8 : 6;
  if (c.fullscreenStyle) settings_.fullscreenStyle = *c.fullscreenStyle;
  if (c.resolution) settings_.resolution = *c.resolution;
  if (c.gamma) settings_.gamma = *c.gamma;
  if (c.brightness) settings_.brightness = *c.brightness;
  if (!c.filePath.empty()) settings_.filePath = c.filePath;
  if (c.x || c.y) {
    move(c.x.value_or(x()), c.y.value_or(y()));
  }
  exitRule_ = c.exitRule;
  if (!c.file.empty()) openVideo(c.file);
  if (c.centre) {
    if (QScreen* screen = QGuiApplication::primaryScreen()) {
      const QRect g = screen->availableGeometry();
      move(g.left() + (g.width() - width()) / 2, g.top() + (g.height() - height()) / 2);
    }
  }
  if (c.maximize) showMaximized();
  if (c.play == StartPlay::Window) {
    runCommand(kPlayInWindow);
    if (exitRule_ != ExitRule::Stay) engine_->autoLoop = false;
    if (!engine_->isOpen() && exitRule_ != ExitRule::Stay)
      QTimer::singleShot(0, this, [this] { close(); });
  } else if (c.play == StartPlay::Fullscreen) {
    runCommand(kPlayFullScreen);
    if (exitRule_ != ExitRule::Stay) QTimer::singleShot(0, this, [this] { close(); });
  }
}

void PlayerWindow::saveSettings() {
  if (!settingsFile_) return;
  // move() places the frame, so the frame's corner is what comes back next time; the size is
  // the inside's, as resize() takes it.
  const bool normal = !isMaximized() && !isFullScreen();
  const QRect g = normal ? geometry() : normalGeometry();
  if (g.isValid()) {
    const QPoint corner = savedWindowCorner(geometry(), frameGeometry(), g, normal);
    settings_.windowX = corner.x();
    settings_.windowY = corner.y();
    settings_.windowWidth = uint32_t(g.width());
    settings_.windowHeight = uint32_t(g.height());
  }
  savePlayerSettings(*settingsFile_, settings_);
}

void PlayerWindow::moveEvent(QMoveEvent* event) {
  QMainWindow::moveEvent(event);
  if (aligning_ || isMaximized() || isFullScreen()) return;
  const int movieOffset = geometry().x() - x() + movie_->mapTo(this, QPoint(0, 0)).x();
  const int aligned = alignedWindowX(x(), movieOffset);
  if (aligned != x()) {
    aligning_ = true;
    move(aligned, y());
    aligning_ = false;
  }
}

void PlayerWindow::changeEvent(QEvent* event) {
  QMainWindow::changeEvent(event);
  if (event->type() == QEvent::ActivationChange && isActiveWindow()) applyTopmost();
  if (event->type() == QEvent::WindowStateChange) applyTopmost();
}

void PlayerWindow::closeEvent(QCloseEvent* event) {
  engine_->onPlayEnded = nullptr;
  saveSettings();
  closeVideo();
  screenSaver_->setInhibited(false);
  emit exitRequested();
  event->accept();
}

void PlayerWindow::keyPressEvent(QKeyEvent* event) {
  // Keys that reach the window itself (forwarded by the movie window, or typed while the
  // shortcut machinery did not see them) go through the same accelerator table.
  auto it = accelerators_.find(QKeySequence(event->keyCombination()));
  if (it == accelerators_.end()) {
    QMainWindow::keyPressEvent(event);
    return;
  }
  event->accept();
  runCommand(it->second);
}

}  // namespace zov::player

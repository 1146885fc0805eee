// The player's main window "Orvane Player": the menu "MenuBrindle32" with the accelerators
// "AccelBrindle32", the movie window inside, the dialogs, the window placement rules and the
// settings' life from start to end.
#pragma once

#include <QMainWindow>
#include <QShortcut>
#include <map>
#include <memory>
#include <string>

#include "player/command_line.h"
#include "player/player_controller.h"
#include "player/player_settings.h"

class QAction;
class QMenu;

namespace zov {
class ProfileFile;
}

namespace zov::player {

class MovieWidget;
class PlaybackEngine;
class ScreenSaverInhibitor;

// Menu command ids.
enum Command : int {
  kOpenVideo = 320,
  kOpenNetworked = 4027,
  kCloseVideo = 321,
  kPlaybackStyle = 302,
  kPlayerOptions = 316,
  kExit = 303,
  kPlayInWindow = 301,
  kPlayFullScreen = 300,
  kPlayFullScreenWindow = 4030,  // our own: a real fullscreen window
  kSlowMotion = 311,
  kStop = 312,
  kMinus1 = 313,
  kPlus1 = 314,
  kMinus15 = 324,
  kPlus15 = 325,
  kGotoStart = 322,
  kGotoEnd = 323,
  kRewind = 308,
  kFastForward = 309,
  kGoto = 310,
  kReplay = 4024,
  kGammaDecrease = 4013,
  kGammaIncrease = 4014,
  kGammaReset = 4015,
  kBrightnessDecrease = 4016,
  kBrightnessIncrease = 4017,
  kBrightnessReset = 4018,
  kVolumeDecrease = 4019,
  kVolumeIncrease = 4020,
  kVolumeMute = 4023,
  kHelp = 304,
  kAboutCodec = 305,
  kAboutPlayer = 306,
  kStatus = 307,
  // Our own, besides the menu's: the keys players usually have.
  kPlayPause = 4031,
  kJumpBack = 4032,
  kJumpForward = 4033,
  kToggleFullScreen = 4034,
  kRecentFile1 = 4040,  // to 4047: the recall list
};

// How far Shift+Left and Shift+Right jump, in seconds.
inline constexpr int kJumpSeconds = 5;

// Where the window goes so that the movie window's left edge on the screen falls on a multiple
// of 4 pixels; movieOffset is the movie window's distance from the window's left edge.
int alignedWindowX(int windowX, int movieOffset);
// The position to save for the next start. move() places the window's frame (the window
// manager's border and title bar included), so the frame's corner is saved: `inside` and `frame`
// are the window's current inside and frame rectangles, `normalInside` its inside when neither
// maximised nor full screen (`normal` tells whether it is so now).
QPoint savedWindowCorner(const QRect& inside, const QRect& frame, const QRect& normalInside,
                         bool normal);

class PlayerWindow : public QMainWindow {
  Q_OBJECT
 public:
  // settingsFile: where the settings come from and go back to at the end.
  PlayerWindow(std::unique_ptr<PlaybackEngine> engine, std::unique_ptr<ProfileFile> settingsFile,
               const DisplayInfo& display);
  ~PlayerWindow() override;

  // Applies a parsed command line (styles, position, play, exit rules) and opens its file.
  void applyCommandLine(const CommandLine& commandLine);
  bool openVideo(const std::string& path);
  void closeVideo();
  // Runs a menu command as its item or accelerator would.
  void runCommand(int id);
  QAction* action(int id) const;

  PlaybackEngine& engine() { return *engine_; }
  MovieWidget& movieWidget() { return *movie_; }
  PlayerSettings& settings() { return settings_; }
  PlayerController& controller() { return *controller_; }
  bool networkSourceOpen() const { return networkOpen_; }
  // Writes the settings back (also done when the window is destroyed).
  void saveSettings();
  // The screen saver is kept off while playing; tests point it at a bus of their own.
  ScreenSaverInhibitor& screenSaver() { return *screenSaver_; }
  void useScreenSaverBus(const QString& address);

 signals:
  void exitRequested();

 protected:
  void moveEvent(QMoveEvent* event) override;
  void changeEvent(QEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;

 private:
  bool loadMovie(const std::string& path);
  void buildMenus();
  QAction* addCommand(QMenu* menu, int id, const char* text, const QKeySequence& key = {});
  void resizeAroundMovie();
  void applyStyleToCodec();
  void applyTopmost();
  void applyPriority();
  void playbackStyle();
  void openNetworked();
  void optionsDialog();
  void gotoDialog();
  void replayDialog();
  void changeVolume(int direction);
  void playEnded(bool ended, bool notify);
  void playFullScreenWindow();
  void commandDone();
  void jump(int seconds);
  void toggleFullScreen();
  void leaveFullScreen();
  void updateTitle();
  void updateRecentMenu();
  void updateScreenSaver();

  std::unique_ptr<PlaybackEngine> engine_;
  std::unique_ptr<ProfileFile> settingsFile_;
  PlayerSettings settings_;
  DisplayInfo display_;
  MovieWidget* movie_ = nullptr;
  std::unique_ptr<PlayerController> controller_;
  std::map<int, QAction*> actions_;
  std::map<QKeySequence, int> accelerators_;  // "AccelBrindle32"
  bool networkOpen_ = false;
  bool aligning_ = false;
  bool saved_ = false;
  ExitRule exitRule_ = ExitRule::Stay;
  QWidget* fullscreenHolder_ = nullptr;
  QMenu* recentMenu_ = nullptr;
  std::string movieName_;  // the open movie's file name, for the title
  ScreenSaverInhibitor* screenSaver_ = nullptr;
};

}  // namespace zov::player

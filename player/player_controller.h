// The player's menu commands, free of widgets: each command checks that a video is open (else
// it beeps), speaks to the movie window in MCI command strings, and keeps what it changes in the
// settings. The window owns one controller and forwards its menu items and dialogs to it.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "player/mci_commands.h"
#include "player/player_settings.h"
#include "player/tone_steps.h"
#include "zov/zovcod32.h"

namespace zov::player {

inline constexpr const char* kPlayerTitle = "Orvane Player";
inline constexpr const char* kPlayerErrorTitle = "Orvane Player ERROR";
// Slow motion plays at a third of normal speed.
inline constexpr uint32_t kSlowMotionSpeed = 333;

struct ControllerHooks {
  std::function<void()> beep;  // MessageBeep(MB_ICONEXCLAMATION)
  std::function<uint32_t(ZOVStyle*)> getStyle = ZOVGetStyle;
  std::function<uint32_t(ZOVStyle*)> setStyle = ZOVSetStyle;
  // The picture must be drawn again after the codec's tone tables changed.
  std::function<void()> redraw;
  // Sets the movie window's looping for the play about to start.
  std::function<void(bool)> setLooping;
};

class PlayerController {
 public:
  PlayerController(PlayerSettings& settings, MovieDevice& device, ControllerHooks hooks);

  // Every command string sent, in order (for tests and the goto dialog's resume).
  const std::vector<std::string>& sent() const { return sent_; }
  // The play command in force (empty when none since the last stop).
  const std::string& playCommand() const { return playCommand_; }

  void playInWindow();
  // Fullscreen playback does not exist on this platform family: the command beeps.
  void playFullscreen();
  void slowMotion();
  void stop();
  void minus1();
  void plus1();
  void minus15();
  void plus15();
  void gotoStart();
  void gotoEnd();
  void rewind();
  void fastForward();
  // Goto dialog's OK with a 1-based frame: stop, seek, and resume the previous play command.
  void gotoFrame(uint32_t oneBasedFrame);
  // Replay dialog's OK; false (nothing stored) when the end lies before the start.
  bool setReplayRange(uint32_t oneBasedStart, uint32_t oneBasedEnd);
  // The stored range as MCI frames, when one is set and lies in the movie.
  std::optional<std::pair<long, long>> replayRange() const;
  // "Loop in window" of the replay dialog.
  void loopInWindow();

  // Gamma and brightness through the codec's style record; false when nothing changed.
  bool changeGamma(ToneStep step);
  bool changeBrightness(ToneStep step);

  // Playing in a window ended at the movie's end (for the -PWXE rule and "notify").
  void playEnded() { playCommand_.clear(); }

 private:
  bool needVideo();
  long send(const std::string& command);
  void startPlay(bool fullscreen, bool reverse, bool looping);
  bool changeTone(bool gamma, ToneStep step);

  PlayerSettings& settings_;
  MovieDevice& device_;
  ControllerHooks hooks_;
  std::vector<std::string> sent_;
  std::string playCommand_;
};

}  // namespace zov::player

#include "player/player_controller.h"

#include "platform/profile.h"

namespace zov::player {

PlayerController::PlayerController(PlayerSettings& settings, MovieDevice& device,
                                   ControllerHooks hooks)
    : settings_(settings), device_(device), hooks_(std::move(hooks)) {}

bool PlayerController::needVideo() {
  if (device_.isOpen()) return true;
  if (hooks_.beep) hooks_.beep();
  return false;
}

long PlayerController::send(const std::string& command) {
  sent_.push_back(command);
  return sendCommandString(device_, command);
}

std::optional<std::pair<long, long>> PlayerController::replayRange() const {
  uint32_t start = 0, end = 0;
  if (!parseProfileUnsigned(settings_.replayStartFrame, start) ||
      !parseProfileUnsigned(settings_.replayEndFrame, end))
    return std::nullopt;
  if (start < 1 || end < start || long(end) > device_.length()) return std::nullopt;
  return std::make_pair(long(start) - 1, long(end) - 1);
}

void PlayerController::startPlay(bool fullscreen, bool reverse, bool looping) {
  if (hooks_.setLooping) hooks_.setLooping(looping);
  const char* where = fullscreen ? "fullscreen" : "window";
  std::string command;
  if (reverse) {
    command = std::string("play ") + where + " reverse notify";
  } else if (auto range = replayRange()) {
    command = commandWithNumbers(fullscreen ? "play fullscreen from %ld to %ld notify"
                                            : "play window from %ld to %ld notify",
                                 range->first, range->second);
  } else {
    command = std::string("play ") + where + " notify";
  }
  playCommand_ = command;
  send(command);
}

void PlayerController::playInWindow() {
  if (!needVideo()) return;
  send("set speed 1000");
  send("set audio all on");
  startPlay(false, false, settings_.autoLoop);
}

void PlayerController::playFullscreen() {
  // The NT family has no fullscreen playback of the movie window.
  if (hooks_.beep) hooks_.beep();
}

void PlayerController::slowMotion() {
  if (!needVideo()) return;
  send(commandWithNumbers("set speed %ld", long(kSlowMotionSpeed)));
  send(settings_.slowMoMute ? "set audio all off" : "set audio all on");
  startPlay(false, false, settings_.autoLoop);
}

void PlayerController::stop() {
  if (!needVideo()) return;
  playCommand_.clear();
  send("stop");
}

void PlayerController::minus1() {
  if (!needVideo()) return;
  playCommand_.clear();
  send("step by 1 reverse wait");
}

void PlayerController::plus1() {
  if (!needVideo()) return;
  playCommand_.clear();
  send("step by 1 wait");
}

void PlayerController::minus15() {
  if (!needVideo()) return;
  playCommand_.clear();
  if (device_.position() - device_.start() < 15)
    send(commandWithNumbers("seek to %ld wait", device_.start()));
  else
    send("step by 15 reverse wait");
}

void PlayerController::plus15() {
  if (!needVideo()) return;
  playCommand_.clear();
  const long last = device_.start() + device_.length() - 1;
  if (last - device_.position() < 15)
    send(commandWithNumbers("seek to %ld wait", last));
  else
    send("step by 15 wait");
}

void PlayerController::gotoStart() {
  if (!needVideo()) return;
  playCommand_.clear();
  send(commandWithNumbers("seek to %ld wait", device_.start()));
}

void PlayerController::gotoEnd() {
  if (!needVideo()) return;
  playCommand_.clear();
  send(commandWithNumbers("seek to %ld wait", device_.start() + device_.length() - 1));
}

void PlayerController::rewind() {
  if (!needVideo()) return;
  send(commandWithNumbers("set speed %ld", long(settings_.rewFFSpeed)));
  if (settings_.rewFFMute) send("set audio all off");
  startPlay(false, true, false);
}

void PlayerController::fastForward() {
  if (!needVideo()) return;
  send(commandWithNumbers("set speed %ld", long(settings_.rewFFSpeed)));
  if (settings_.rewFFMute) send("set audio all off");
  if (hooks_.setLooping) hooks_.setLooping(false);
  playCommand_ = "play window notify";
  send(playCommand_);
}

void PlayerController::gotoFrame(uint32_t oneBasedFrame) {
  if (!needVideo()) return;
  settings_.gotoFrame = oneBasedFrame;
  const std::string resume = playCommand_;
  long target = long(oneBasedFrame) - 1;
  if (target < device_.start()) target = device_.start();
  if (target > device_.start() + device_.length() - 1)
    target = device_.start() + device_.length() - 1;
  send("stop");
  send(commandWithNumbers("seek to %ld wait", target));
  // A ranged play resumes from the new frame, so only the plain forms are sent again.
  if (!resume.empty()) {
    playCommand_ = resume.find(" from ") == std::string::npos ? resume : "play window notify";
    send(playCommand_);
  }
}

bool PlayerController::setReplayRange(uint32_t start, uint32_t end) {
  if (end < start) return false;
  settings_.replayStartFrame = std::to_string(start);
  settings_.replayEndFrame = std::to_string(end);
  return true;
}

void PlayerController::loopInWindow() {
  if (!needVideo()) return;
  send("set speed 1000");
  send("set audio all on");
  startPlay(false, false, true);
}

bool PlayerController::changeTone(bool gamma, ToneStep step) {
  if (!needVideo()) return false;
  ZOVStyle style{};
  style.size = uint32_t(ZOV_STYLE_FULL_SIZE);
  if (!hooks_.getStyle || hooks_.getStyle(&style) != ZOV_OK) {
    if (hooks_.beep) hooks_.beep();
    return false;
  }
  if (gamma) {
    const int32_t next = stepGamma(style.gamma, step);
    if (next == style.gamma) return false;
    style.gamma = next;
  } else {
    const int32_t next = stepBrightness(style.brightness, step);
    if (next == style.brightness) return false;
    style.brightness = next;
  }
  style.sourceRect = nullptr;
  style.destRect = nullptr;
  if (hooks_.setStyle(&style) != ZOV_OK) return false;
  if (gamma)
    settings_.gamma = style.gamma;
  else
    settings_.brightness = style.brightness;
  if (hooks_.redraw) hooks_.redraw();
  return true;
}

bool PlayerController::changeGamma(ToneStep step) {
  return changeTone(true, step);
}

bool PlayerController::changeBrightness(ToneStep step) {
  return changeTone(false, step);
}

}  // namespace zov::player

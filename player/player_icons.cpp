#include "player/player_icons.h"

#include "platform/qt/desktop_icons.h"
#include "player/player_window.h"

namespace zov::player {

namespace {

struct CommandPicture {
  int command;
  const char* theme;    // freedesktop name, "" for our drawing alone
  const char* drawing;  // platform/qt/icons
};

constexpr CommandPicture kPictures[] = {
    {kOpenVideo, "document-open", "open"},
    {kOpenNetworked, "network-workgroup", "network"},
    {kCloseVideo, "window-close", "close"},
    {kPlaybackStyle, "", "playback-style"},
    {kPlayerOptions, "preferences-system", "options"},
    {kExit, "application-exit", "exit"},
    {kPlayInWindow, "media-playback-start", "play"},
    {kPlayFullScreen, "view-fullscreen", "fullscreen"},
    {kPlayFullScreenWindow, "view-fullscreen", "fullscreen"},
    {kSlowMotion, "", "slow-motion"},
    {kStop, "media-playback-stop", "stop"},
    {kPlayPause, "media-playback-pause", "pause"},
    {kRewind, "media-seek-backward", "seek-backward"},
    {kFastForward, "media-seek-forward", "seek-forward"},
    {kMinus1, "go-previous", "previous"},
    {kPlus1, "go-next", "next"},
    {kMinus15, "media-skip-backward", "skip-backward"},
    {kPlus15, "media-skip-forward", "skip-forward"},
    {kGotoStart, "go-first", "first"},
    {kGotoEnd, "go-last", "last"},
    {kGoto, "go-jump", "goto"},
    {kReplay, "media-playlist-repeat", "replay"},
    {kBrightnessIncrease, "", "brightness"},
    {kVolumeDecrease, "audio-volume-low", "volume-down"},
    {kVolumeIncrease, "audio-volume-high", "volume-up"},
    {kVolumeMute, "audio-volume-muted", "volume-mute"},
    {kHelp, "help-contents", "help"},
    {kAboutPlayer, "help-about", "about"},
    {kStatus, "", "status"},
};

}  // namespace

QIcon playerCommandIcon(int command) {
  for (const CommandPicture& p : kPictures)
    if (p.command == command)
      return desktopIcon(QString::fromLatin1(p.theme), QString::fromLatin1(p.drawing));
  return {};
}

QIcon playerWindowIcon() {
  return desktopIcon(QStringLiteral("com.orvane.brindle"), QStringLiteral("brindle"));
}

}  // namespace zov::player

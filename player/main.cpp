// brindle: the movie player.
#include <QApplication>
#include <QScreen>
#include <filesystem>

#include "platform/profile.h"
#include "platform/qt/qt_platform.h"
#include "platform/qt/termination_signals.h"
#include "platform/ui.h"
#include "player/audio_output.h"
#include "player/command_line.h"
#include "player/playback_engine.h"
#include "player/player_controller.h"
#include "player/player_window.h"

using namespace zov;
using namespace zov::player;

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QtPlatform platform;

  std::vector<std::string> args(argv + 1, argv + argc);
  const CommandLine commandLine = parseCommandLine(args, [](const std::string& path) {
    std::error_code ec;
    return std::filesystem::is_regular_file(path, ec);
  });
  for (const std::string& text : commandLine.messages) {
    const bool missing = text.find("can not be located") != std::string::npos;
    messageBox(nullptr, text, missing ? kPlayerErrorTitle : kPlayerTitle,
               MB_OK | (missing ? MB_ICONERROR : MB_ICONEXCLAMATION));
  }
  if (commandLine.showUsage)
    messageBox(nullptr, usageText(), kPlayerTitle, MB_OK | MB_ICONINFORMATION);

  DisplayInfo display;
  if (QScreen* screen = QGuiApplication::primaryScreen()) {
    display.screenWidth = screen->geometry().width();
    display.screenHeight = screen->geometry().height();
    display.depth = screen->depth();
  }
  std::string audioError;
  std::unique_ptr<AudioOutput> audio = createSdlAudioOutput(&audioError);
  if (!audio) audio = createNullAudioOutput();
  auto engine = std::make_unique<PlaybackEngine>(std::move(audio));
  PlayerWindow window(std::move(engine), std::make_unique<ProfileFile>(kSettingsFile), display);
  if (window.settings().maximized)
    window.showMaximized();
  else
    window.show();
  // SIGTERM and Ctrl-C end the player as "Exit" does.
  TerminationSignals endSignals([&window] { window.close(); });
  window.applyCommandLine(commandLine);
  return app.exec();
}

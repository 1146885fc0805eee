// brindle: the movie player.
#include <QApplication>
#include <QScreen>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>

#include "platform/display_check.h"
#include "platform/profile.h"
#include "platform/program_version.h"
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
  if (answerVersionOption(argc, argv, "brindle")) return 0;
  if (argc == 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
    // The -? box's text, laid out as a terminal's option list.
    std::string text =
        normaliseLineBreaks(usageText()) + "\n--help\tthis text\n--version\tthe version\n";
    size_t start = 0;
    while (start < text.size()) {
      size_t end = text.find('\n', start);
      if (end == std::string::npos) end = text.size();
      const std::string line = text.substr(start, end - start);
      const size_t tab = line.find('\t');
      if (tab == std::string::npos)
        std::printf("%s\n", line.c_str());
      else
        std::printf("  %-16s  %s\n", line.substr(0, tab).c_str(), line.c_str() + tab + 1);
      start = end + 1;
    }
    return 0;
  }
  if (!windowSystemAvailable()) {
    std::fprintf(stderr,
                 "brindle: no display to open the player's window on (DISPLAY is not set)\n");
    return 2;
  }
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

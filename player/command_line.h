// The player's command line: brindle [options] avi_name. Parsing collects the choices and the
// messages to show; nothing is shown or opened here.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace zov::player {

enum class StartPlay { None, Window, Fullscreen };
// When an immediate play ends the player: never, once playback stops, or at the movie's end.
enum class ExitRule { Stay, AfterPlay, AtEnd };

struct CommandLine {
  std::optional<uint32_t> windowedStyle;
  bool windowedStyle4x = false;  // -W4X: the 2x style that suits the display
  bool windowedStyle9x = false;  // -W9X: the 3x style
  std::optional<uint32_t> fullscreenStyle;
  std::optional<uint32_t> resolution;
  bool centre = false;
  std::optional<int> x, y;
  StartPlay play = StartPlay::None;
  ExitRule exitRule = ExitRule::Stay;
  bool maximize = false;
  std::optional<int32_t> gamma, brightness;
  bool showUsage = false;
  std::string file;      // the movie, with ".avi" added when it had no extension
  std::string filePath;  // the movie's directory followed by "/*.avi"; empty without a movie
  // Texts for boxes, in the order they arose.
  std::vector<std::string> messages;
};

// args: the words after the program name. fileExists answers for the movie.
CommandLine parseCommandLine(const std::vector<std::string>& args,
                             const std::function<bool(const std::string&)>& fileExists);

// The text shown for -?.
const char* usageText();

}  // namespace zov::player

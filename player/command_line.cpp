#include "player/command_line.h"

#include <filesystem>

namespace zov::player {

namespace {

bool isDigits(const std::string& s) {
  if (s.empty() || s.size() > 4) return false;
  for (char c : s)
    if (c < '0' || c > '9') return false;
  return true;
}

// A style number 0..limit after a one-letter option ("-W7"), or nothing.
std::optional<uint32_t> styleNumber(const std::string& tail, uint32_t limit) {
  if (tail.empty() || tail.size() > 2) return std::nullopt;
  for (char c : tail)
    if (c < '0' || c > '9') return std::nullopt;
  if (tail.size() == 2 && tail[0] == '0') return std::nullopt;
  const uint32_t v = uint32_t(std::stoul(tail));
  if (v > limit) return std::nullopt;
  return v;
}

std::string quoted(const char* before, const std::string& what, const char* after) {
  return std::string(before) + "\"" + what + "\"" + after;
}

}  // namespace

const char* usageText() {
  return "Usage: brindle [options] avi_name\r\r"
         "-W0 to -W12\twindowed enlargement style\r"
         "-W4X, -W9X\tthe correct 4x or 9x windowed style for the display\r"
         "-F0 to -F12\tfullscreen enlargement style\r"
         "-R0 to -R4\tminimum fullscreen resolution\r"
         "-C\tcentre the window\r"
         "-X #, -Y #\twindow position\r"
         "-PW, -PF\tplay in a window, or fullscreen, immediately\r"
         "-PWX, -PFX\tplay immediately, then exit\r"
         "-PWXE, -PFXE\tplay immediately, then exit at the end\r"
         "-M\tmaximise the window\r"
         "-G #, -B #\tgamma and brightness level\r\r"
         "Options start with \"-\" or \"/\".";
}

CommandLine parseCommandLine(const std::vector<std::string>& args,
                             const std::function<bool(const std::string&)>& fileExists) {
  CommandLine c;
  bool haveFile = false;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& word = args[i];
    if (word.empty()) continue;
    // "/" also starts an absolute path here: a word is a "/" option only when it holds no
    // further "/" and no "." (no option does).
    const bool slashOption = word[0] == '/' && word.find('/', 1) == std::string::npos &&
                             word.find('.') == std::string::npos;
    if (word[0] != '-' && !slashOption) {
      std::string name = word;
      if (std::filesystem::path(name).extension().empty()) name += ".avi";
      if (haveFile) {
        c.messages.push_back(quoted("You have specified two avi filenames ", c.file, " and ") +
                             quoted("", name,
                                    ".\rPlease specify only one file. The second file will be "
                                    "ignored."));
        continue;
      }
      if (!fileExists(name)) {
        c.messages.push_back(
            quoted("The avi file ", name, " in your command line can not be located."));
        continue;
      }
      haveFile = true;
      c.file = name;
      std::filesystem::path dir = std::filesystem::absolute(name).parent_path();
      c.filePath = (dir / "*.avi").string();
      continue;
    }
    const std::string opt = word.substr(1);
    // Options that take the next word as their number.
    if (opt == "X" || opt == "Y" || opt == "G" || opt == "B") {
      const std::string value = i + 1 < args.size() ? args[i + 1] : "";
      if (i + 1 < args.size()) ++i;
      if (!isDigits(value)) {
        c.messages.push_back(quoted(("The -" + opt + " parameter ").c_str(), value,
                                    " in your command line is invalid and will be ignored."));
        continue;
      }
      const int v = std::stoi(value);
      if (opt == "X") c.x = v;
      if (opt == "Y") c.y = v;
      if (opt == "G") c.gamma = v;
      if (opt == "B") c.brightness = v;
      continue;
    }
    bool known = true;
    if (opt == "?") {
      c.showUsage = true;
    } else if (opt == "C") {
      c.centre = true;
    } else if (opt == "M") {
      c.maximize = true;
    } else if (opt == "W4X") {
      c.windowedStyle4x = true;
      c.windowedStyle9x = false;
    } else if (opt == "W9X") {
      c.windowedStyle9x = true;
      c.windowedStyle4x = false;
    } else if (opt == "PW" || opt == "PF" || opt == "PWX" || opt == "PFX" || opt == "PWXE" ||
               opt == "PFXE") {
      c.play = opt[1] == 'W' ? StartPlay::Window : StartPlay::Fullscreen;
      c.exitRule = opt.size() == 2   ? ExitRule::Stay
                   : opt.size() == 3 ? ExitRule::AfterPlay
                                     : ExitRule::AtEnd;
    } else if (opt.size() >= 2 && opt[0] == 'W' && styleNumber(opt.substr(1), 12)) {
      c.windowedStyle = styleNumber(opt.substr(1), 12);
      c.windowedStyle4x = c.windowedStyle9x = false;
    } else if (opt.size() >= 2 && opt[0] == 'F' && styleNumber(opt.substr(1), 12)) {
      c.fullscreenStyle = styleNumber(opt.substr(1), 12);
    } else if (opt.size() >= 2 && opt[0] == 'R' && styleNumber(opt.substr(1), 4)) {
      c.resolution = styleNumber(opt.substr(1), 4);
    } else {
      known = false;
    }
    if (!known)
      c.messages.push_back(quoted("The option ", word,
                                  " in your command line is unrecognized and will be ignored."));
  }
  return c;
}

}  // namespace zov::player

#include "setup/program_manager.h"

#include <cctype>
#include <cstdlib>
#include <fstream>
#include <system_error>

namespace zov::setup {
namespace {

bool gFailDdeInitialize = false;

// Text as a desktop-entry string value: backslashes and line breaks escaped.
std::string entryString(std::string_view text) {
  std::string out;
  for (char c : text) {
    switch (c) {
      case '\\':
        out += "\\\\";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\t':
        out += "\\t";
        break;
      default:
        out += c;
    }
  }
  return out;
}

// A command line for the Exec key: a literal percent sign is written "%%" there, so no part of
// the installer's command reads as a field code.
std::string execValue(std::string_view commandLine) {
  std::string out;
  for (char c : commandLine) {
    if (c == '%') out += '%';
    out += c;
  }
  return entryString(out);
}

bool needsQuotes(std::string_view text) {
  return text.find_first_of(",()\"[]") != std::string_view::npos ||
         (!text.empty() && (text.front() == ' ' || text.back() == ' '));
}

std::string argument(std::string_view text) {
  if (!needsQuotes(text)) return std::string(text);
  std::string out = "\"";
  for (char c : text) {
    if (c == '"') out += '"';
    out += c;
  }
  return out + "\"";
}

// Splits "Name(a,b,...)" into its name and arguments; false when malformed.
bool parseCommand(std::string_view text, std::string& name, std::vector<std::string>& arguments) {
  size_t open = text.find('(');
  if (open == std::string_view::npos || text.empty() || text.back() != ')') return false;
  name = std::string(text.substr(0, open));
  arguments.clear();
  std::string_view inner = text.substr(open + 1, text.size() - open - 2);
  std::string current;
  bool quoted = false;
  for (size_t i = 0; i < inner.size(); ++i) {
    char c = inner[i];
    if (quoted) {
      if (c == '"' && i + 1 < inner.size() && inner[i + 1] == '"') {
        current += '"';
        ++i;
      } else if (c == '"') {
        quoted = false;
      } else {
        current += c;
      }
    } else if (c == '"') {
      quoted = true;
    } else if (c == ',') {
      arguments.push_back(current);
      current.clear();
    } else if (c == '(' || c == ')') {
      return false;
    } else {
      current += c;
    }
  }
  if (quoted) return false;
  arguments.push_back(current);
  return true;
}

}  // namespace

std::filesystem::path applicationsDirectory() {
  const char* dataHome = std::getenv("XDG_DATA_HOME");
  if (dataHome != nullptr && dataHome[0] == '/')
    return std::filesystem::path(dataHome) / "applications";
  const char* home = std::getenv("HOME");
  return std::filesystem::path(home != nullptr ? home : "") / ".local" / "share" / "applications";
}

std::string desktopFileStem(std::string_view name) {
  std::string out;
  for (char c : name) {
    bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                 c == '_' || c == '.' || c == '-';
    out += plain ? c : '-';
  }
  // No hidden files and no "." or ".." names.
  while (!out.empty() && out.front() == '.') out.front() = '-';
  return out.empty() ? std::string("item") : out;
}

std::string ProgramManagerConversation::createGroupCommand(std::string_view group) {
  return "[CreateGroup(" + argument(group) + ")]";
}

std::string ProgramManagerConversation::addItemCommand(std::string_view commandLine,
                                                       std::string_view caption,
                                                       std::string_view iconName, int iconIndex,
                                                       std::string_view workDir) {
  return "[AddItem(" + argument(commandLine) + "," + argument(caption) + "," + argument(iconName) +
         "," + std::to_string(iconIndex) + ",,," + argument(workDir) + ")]";
}

bool ProgramManagerConversation::connect() {
  root_ = applicationsDirectory();
  std::error_code error;
  std::filesystem::create_directories(root_, error);
  connected_ = std::filesystem::is_directory(root_, error);
  return connected_;
}

bool ProgramManagerConversation::execute(std::string_view commands) {
  failedPath_.clear();
  if (!connected_) return false;
  // Commands are "[...]" one after another.
  while (!commands.empty()) {
    if (commands.front() != '[') return false;
    // The closing bracket outside quotes.
    bool quoted = false;
    size_t close = std::string_view::npos;
    for (size_t i = 1; i < commands.size(); ++i) {
      if (commands[i] == '"') quoted = !quoted;
      if (commands[i] == ']' && !quoted) {
        close = i;
        break;
      }
    }
    if (close == std::string_view::npos) return false;
    std::string name;
    std::vector<std::string> arguments;
    if (!parseCommand(commands.substr(1, close - 1), name, arguments)) return false;
    if (!runOne(name, arguments)) return false;
    commands.remove_prefix(close + 1);
  }
  return true;
}

bool ProgramManagerConversation::runOne(std::string_view name,
                                        const std::vector<std::string>& arguments) {
  auto same = [](std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
      if (std::tolower(static_cast<unsigned char>(a[i])) !=
          std::tolower(static_cast<unsigned char>(b[i])))
        return false;
    return true;
  };
  std::error_code error;
  if (same(name, "CreateGroup")) {
    if (arguments.empty() || arguments[0].empty()) return false;
    std::filesystem::path folder = root_ / desktopFileStem(arguments[0]);
    std::filesystem::create_directories(folder, error);
    if (!std::filesystem::is_directory(folder, error)) {
      failedPath_ = folder;
      return false;
    }
    group_ = arguments[0];
    return true;
  }
  if (same(name, "AddItem")) {
    // Items go into the selected group, as in the program manager.
    if (group_.empty() || arguments.empty() || arguments[0].empty()) return false;
    auto arg = [&](size_t i) { return i < arguments.size() ? arguments[i] : std::string(); };
    std::string commandLine = arg(0);
    std::string caption = arg(1);
    if (caption.empty()) {
      // The program manager names an item without a caption after its program.
      std::string program = commandLine.substr(0, commandLine.find(' '));
      caption = std::filesystem::path(program).stem().string();
    }
    std::string iconName = arg(2);
    std::string workDir = arg(6);
    std::filesystem::path file =
        root_ / desktopFileStem(group_) / (desktopFileStem(caption) + ".desktop");
    std::filesystem::path temporary = file;
    temporary += ".tmp";
    {
      std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
      out << "[Desktop Entry]\n"
          << "Type=Application\n"
          << "Version=1.0\n"
          << "Name=" << entryString(caption) << "\n"
          << "Exec=" << execValue(commandLine) << "\n";
      if (!workDir.empty()) out << "Path=" << entryString(workDir) << "\n";
      if (!iconName.empty()) out << "Icon=" << entryString(iconName) << "\n";
      out << "Terminal=false\n"
          << "X-ZOV-Group=" << entryString(group_) << "\n";
      out.flush();
      if (!out) {
        std::filesystem::remove(temporary, error);
        failedPath_ = file;
        return false;
      }
    }
    std::filesystem::rename(temporary, file, error);
    if (error) {
      std::filesystem::remove(temporary, error);
      failedPath_ = file;
      return false;
    }
    written_.push_back(file);
    return true;
  }
  return false;
}

namespace testing {
void failDdeInitialize(bool fail) {
  gFailDdeInitialize = fail;
}
bool ddeInitializeFails() {
  return gFailDdeInitialize;
}
}  // namespace testing

}  // namespace zov::setup

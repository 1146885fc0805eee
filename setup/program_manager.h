// The program manager's DDE interface ("PROGMAN"), as the installation uses it to make program
// groups and items. Groups and items become XDG desktop entries: a group is a folder under the
// applications directory ($XDG_DATA_HOME/applications, by default ~/.local/share/applications),
// an item a ".desktop" file in its group's folder, so menus list it under the group.
//
// The commands are the program manager's own text: "[CreateGroup(name)]" makes a group (or
// selects an existing one) and "[AddItem(command,caption,icon,index,,,workdir)]" adds an item to
// the selected group. Arguments may be put in double quotes (needed when they hold commas or
// parentheses); inside quotes a doubled quote stands for one.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace zov::setup {

// Where desktop entries of the user go.
std::filesystem::path applicationsDirectory();

// A file name part made of the name's letters, digits, '-', '_' and '.', other characters as '-'.
std::string desktopFileStem(std::string_view name);

// One program-manager conversation.
class ProgramManagerConversation {
 public:
  // Starts the conversation: the applications directory must exist or be creatable.
  bool connect();
  // Runs one command string ("[CreateGroup(...)]", "[AddItem(...)]"; several may follow each
  // other). False when a command is malformed, unknown, or its entry cannot be written; the
  // file concerned is then in failedPath().
  bool execute(std::string_view commands);

  const std::filesystem::path& failedPath() const { return failedPath_; }
  // The desktop entries written so far.
  const std::vector<std::filesystem::path>& written() const { return written_; }

  // Builds the command texts, quoting arguments only where the program manager needs it.
  static std::string createGroupCommand(std::string_view group);
  static std::string addItemCommand(std::string_view commandLine, std::string_view caption,
                                    std::string_view iconName, int iconIndex,
                                    std::string_view workDir);

 private:
  bool runOne(std::string_view name, const std::vector<std::string>& arguments);

  bool connected_ = false;
  std::filesystem::path root_;
  std::string group_;
  std::filesystem::path failedPath_;
  std::vector<std::filesystem::path> written_;
};

namespace testing {
// Makes the next DDE initialisation fail (the stand-in for DdeInitialize).
void failDdeInitialize(bool fail);
bool ddeInitializeFails();
}  // namespace testing

}  // namespace zov::setup

#include "setup/purgent.h"

#include <spawn.h>

#include <cerrno>

#include "platform/ui.h"
#include "setup/driver_service.h"

extern char** environ;

namespace zov::setup {

std::string buildUninstallCommand(const std::vector<std::string>& arguments) {
  std::string command;
  for (const std::string& argument : arguments) {
    if (!command.empty()) command += ' ';
    if (argument.empty() || argument.find_first_of(" \t\"") != std::string::npos) {
      command += '"';
      for (char c : argument) {
        if (c == '"') command += '"';
        command += c;
      }
      command += '"';
    } else {
      command += argument;
    }
  }
  return command;
}

std::vector<std::string> splitCommandLine(const std::string& command) {
  std::vector<std::string> words;
  std::string current;
  bool inWord = false;
  bool quoted = false;
  for (size_t i = 0; i < command.size(); ++i) {
    char c = command[i];
    if (quoted) {
      if (c == '"' && i + 1 < command.size() && command[i + 1] == '"') {
        current += '"';
        ++i;
      } else if (c == '"') {
        quoted = false;
      } else {
        current += c;
      }
    } else if (c == ' ' || c == '\t') {
      if (inWord) words.push_back(current);
      current.clear();
      inWord = false;
    } else if (c == '"') {
      quoted = inWord = true;
    } else if (c == '\\' && i + 1 < command.size() && command[i + 1] == '"') {
      current += '"';
      inWord = true;
      ++i;
    } else {
      current += c;
      inWord = true;
    }
  }
  if (inWord) words.push_back(current);
  return words;
}

long launchCommand(const std::string& command, pid_t* child) {
  std::vector<std::string> words = splitCommandLine(command);
  if (words.empty()) return 2;
  std::vector<char*> argv;
  for (std::string& word : words) argv.push_back(word.data());
  argv.push_back(nullptr);
  pid_t pid = 0;
  int error = posix_spawnp(&pid, argv[0], nullptr, nullptr, argv.data(), environ);
  if (error == 0) {
    if (child != nullptr) *child = pid;
    return 0;
  }
  switch (error) {
    case ENOENT:
      return 2;
    case ENOTDIR:
      return 3;
    case EACCES:
    case EPERM:
      return 5;
    case ENOMEM:
      return 8;
    case ENOEXEC:
      return 11;
    default:
      return 31;
  }
}

int runRemover(const std::vector<std::string>& arguments, pid_t* launched) {
  if (arguments.empty()) {
    messageBox(nullptr, "Usage: purgent uninstpgm\n", "Uninstaller", MB_OK | MB_ICONERROR);
    return 1;
  }
  if (messageBox(nullptr, "Are you sure that you want to uninstall Orvane?", "Uninstall",
                 MB_YESNO | MB_ICONERROR) != IDYES)
    return 1;

  // The driver goes first; the uninstaller runs whatever happened to it.
  stopAndRemoveDriver(nullptr, kRemoverRemovalTexts);

  std::string command = buildUninstallCommand(arguments);
  messageBox(nullptr,
             "The Orvane NT Uninstaller is about to launch the InstallShield uninstaller to "
             "complete the uninstallation.\nYou MUST reply 'Y'es to the next uninstaller message "
             "asking if you want to remove Orvane.",
             "Uninstall", MB_OK);
  long rc = launchCommand(command, launched);
  if (rc != 0) {
    messageBox(nullptr,
               formatMessage("WinExec failed, rc = %ld\nUnable to execute the uninstallation "
                             "routine",
                             rc),
               "Uninstaller", MB_OK | MB_ICONERROR);
    return 1;
  }
  return 0;
}

}  // namespace zov::setup

// purgent: the driver remover. The registered uninstall command runs it with the installer's
// own uninstall command as its arguments; it asks once, removes the "zovddnt" service, which the
// general uninstaller does not know, and then starts that command.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace zov::setup {

// The command from the arguments: the first, then each further one after a blank. Arguments
// with blanks or quotes are put in double quotes so the command splits back into them.
std::string buildUninstallCommand(const std::vector<std::string>& arguments);

// Splits a command line into words: blanks separate, double quotes group (a doubled quote inside
// quotes, or a backslash before a quote, stands for a quote).
std::vector<std::string> splitCommandLine(const std::string& command);

// Starts the command without a shell (the program is looked up in PATH when it has no slash).
// Returns 0 with the child's id, or the failure as a Windows program-start code (2 file not
// found, 3 path not found, 5 access denied, 8 out of memory, 11 bad format, 31 other).
long launchCommand(const std::string& command, pid_t* child);

// The whole program; arguments without the program name. Returns the exit status.
int runRemover(const std::vector<std::string>& arguments, pid_t* launched = nullptr);

}  // namespace zov::setup

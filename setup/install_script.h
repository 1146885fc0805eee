// Finishing an installation from the script "rorarev.ini" of the installation's source
// directory: the copy list, the program-manager icons (desktop entries here) and the settings
// lines for the player and the codec.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "platform/ui.h"

namespace zov::setup {

// The longest path the script may produce (the file system's own limit).
inline constexpr size_t kMaxScriptPath = 4096;

// A directory split for substitution: its root ("%S1"/"%T1") and itself with a trailing
// separator ("%S2"/"%T2").
struct DirectoryParts {
  std::string root;
  std::string withSeparator;
};

// Accepts an absolute path ("/opt/zov": root "", the counterpart of a bare drive "C:") or a
// network path ("//server/share/dir": root "//server/share"). False for anything else.
bool splitDirectory(std::string_view directory, DirectoryParts& parts);

// Replaces %S1, %S2, %T1, %T2 (letters in either case) and %% in text; other percent signs stay.
// False when the result would be longer than kMaxScriptPath.
bool translateItem(std::string_view text, const DirectoryParts& source,
                   const DirectoryParts& target, std::string& result);

// The whole step: true when the installation may go on, false after an error box.
bool completeSetup(WindowHandle owner, std::string_view sourceDirectory,
                   std::string_view installDirectory);

}  // namespace zov::setup

// The ZOV home directory: where bare-named settings files ("zovcodec.ini", "zovcomp.ini",
// "zovbrindle.ini") live, as they lived in the Windows directory.
//
// Resolution order: $ZOV_HOME if set and not empty, else $XDG_CONFIG_HOME/zov when that is an
// absolute path, else $HOME/.config/zov (the password database's home when $HOME is unset).
// The folder is looked up anew on every call, so a test may point ZOV_HOME elsewhere at any time.
#pragma once

#include <filesystem>
#include <string_view>
#include <system_error>

namespace zov {

// The home directory as resolved from the environment; it may not exist yet.
std::filesystem::path zovHomeDirectory();

// The home directory, created (with its parents) when missing. Returns false and sets error
// when it cannot be created.
bool ensureZovHomeDirectory(std::error_code& error);

// Where a settings file lives: an absolute path is used as given; any other name (usually a bare
// file name) is taken relative to the home directory.
std::filesystem::path resolveInZovHome(std::string_view fileName);

}  // namespace zov

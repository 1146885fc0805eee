// The compressor's window lives in a library of its own ("libzovcomp_window.so", Qt inside)
// that zovcomp loads only when it opens the window, so the command line starts and runs with no
// display and without loading Qt.
#pragma once

#include <string>

namespace zov {

inline constexpr const char* kWindowLibraryName = "libzovcomp_window.so";
// The function the library exports: runs the window until it closes, returns the exit status.
inline constexpr const char* kWindowEntryName = "zovcompRunWindow";

// Loads the window library (beside the program, then in the library folder of its prefix) and
// runs the window. False, with `error` saying why, when the library can't be loaded.
bool runWindowLibrary(int argc, char** argv, int& status, std::string& error);

}  // namespace zov

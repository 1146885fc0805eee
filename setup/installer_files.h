// The two steps that change the installer's own files: the MMX bitmap swap and chaining the
// driver remover into the registered uninstall command.
#pragma once

#include <string_view>

#include "platform/ui.h"

namespace zov::setup {

inline constexpr const char* kRemoverProgram = "purgent";

// On a processor with MMX, swaps "setup.bmp" and "setupmmx.bmp" in the directory. Returns true
// when the files were swapped.
bool swapBitmapsForMmx(std::string_view bitmapDirectory);

// Reads the application name from "setup.ini" in the installer's directory and puts
// "<installDirectory>/purgent " in front of the application's registered uninstall command.
// Returns true when the command was changed (or already began with the remover).
bool chainUninstaller(WindowHandle owner, std::string_view installerDirectory,
                      std::string_view installDirectory);

}  // namespace zov::setup

// The pictures of the compressor's buttons, menu items and views, by the bitmap and icon names of
// the window's resources: the desktop theme's icon where a freedesktop name fits, our own drawing
// otherwise (platform/qt/desktop_icons.h).
#pragma once

#include <QIcon>

namespace zov {

// A toolbar or input-window bitmap ("FileOpen", "BmpLeft", ...) or a view class icon ("AFrame",
// "Input", "Messages", ...); a null icon for an unknown name.
QIcon compressorIcon(const char* name);

// The icon of a menu command; a null icon for commands shown without one (checked items, the
// recent files, the window arrangement).
QIcon commandIcon(int command);

}  // namespace zov

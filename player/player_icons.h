// The pictures of the player's menu items and movie buttons: the desktop theme's icon by its
// freedesktop name, our own drawing otherwise (platform/qt/desktop_icons.h).
#pragma once

#include <QIcon>

namespace zov::player {

// The icon of a menu command (player_window.h); a null icon for items shown without one.
QIcon playerCommandIcon(int command);
// The player's own icon (the one installed for the desktop), for its window.
QIcon playerWindowIcon();

}  // namespace zov::player

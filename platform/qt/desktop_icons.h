// Icons of the windows: the desktop's icon theme first (freedesktop names), our own drawings
// otherwise. Our drawings are vector pictures that take the desktop's text colour, so they stay
// sharp at any scale and readable on light and dark palettes.
#pragma once

#include <QIcon>
#include <QString>

namespace zov {

// The theme's icon `themeName` when the theme has it, else our drawing `drawing` (the name of a
// picture in platform/qt/icons, without ".svg"). An empty theme name means our drawing always.
QIcon desktopIcon(const QString& themeName, const QString& drawing);

// Our drawing alone; a null icon when there is no drawing of that name.
QIcon drawnIcon(const QString& drawing);

}  // namespace zov

// What a Video for Windows driver asks of the display: its depth in bits per pixel
// (GetDeviceCaps(BITSPIXEL) of the screen) and the static colours of the system palette
// (GetSystemPaletteEntries). Our hosts draw whatever the codec writes through their own toolkit,
// which converts from 16-bit pictures without loss of speed that matters, so the display counts
// as hi-colour (16 bits) unless $ZOV_DISPLAY_BITS says otherwise (8 makes the codec choose its
// palettized methods, as on a 256-colour screen).
#pragma once

#include "platform/vfw.h"

namespace zov::vfw {

// Bits per pixel of the screen: $ZOV_DISPLAY_BITS when it holds a positive number, else 16.
int displayBitsPerPixel();

// Entries first..first+count-1 of the system palette of a 256-colour screen: the 20 static
// colours at 0-9 and 246-255, black elsewhere. Returns the number of entries written.
UINT getSystemPaletteEntries(UINT first, UINT count, PALETTEENTRY* entries);

}  // namespace zov::vfw

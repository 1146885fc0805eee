// Video for Windows for the code in this tree: the C interface of include/zov/zovvfw.h (records,
// constants, DefDriverProc and the compression manager) and the manager's codec search.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

// Found from the tree root, as this header is: not every target has include/ on its path.
#include "include/zov/zovvfw.h"

static_assert(sizeof(BITMAPINFOHEADER) == 40);
static_assert(sizeof(ICINFO) == 568);
static_assert(offsetof(ICINFO, szDriver) == 312);

namespace zov::vfw {

// The directories searched for a codec library, in order: each entry of $ZOV_CODEC_PATH
// (colon-separated), the program's own directory, ../lib from it, then the install libdir.
std::vector<std::string> codecSearchDirectories();

// The codec library's runtime file name (its SONAME, "libzovcod32.so.1").
const char* codecLibraryName();

// The library that serves a handler: one registered with ICInstall, else codecLibraryName() for
// "zov1"/"zov2" (any case) from the first search directory that has it. Empty when none.
std::string findDriverLibrary(DWORD fccType, DWORD fccHandler);

}  // namespace zov::vfw

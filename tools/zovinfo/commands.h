// The zovinfo command line, callable in-process (tests) as well as from main().
#pragma once

#include <cstddef>
#include <cstdint>
#include <iosfwd>
#include <string>
#include <vector>

namespace zov::info {

// Exit statuses.
inline constexpr int kExitOk = 0;
inline constexpr int kExitUsage = 2;    // usage errors and unreadable or invalid files
inline constexpr int kExitDamaged = 3;  // a malformed frame

int runZovinfo(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

// Opens an AVI image in memory and decodes every frame of its video stream, writing nothing;
// returns the number of frames decoded without damage, or -1 when the file is refused. The fuzz
// target's entry.
int decodeAviImage(const uint8_t* data, size_t size);

}  // namespace zov::info

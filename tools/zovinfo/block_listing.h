// zovinfo blocks: the listing of a block file (run mode 3).
#pragma once

#include <iosfwd>
#include <string>

namespace zov::info {

// Prints the header on one line and one line per video frame (number, file offset, stored size,
// key flag, audio bytes). Returns kExitOk, or kExitUsage with "PATH: problem" on `err` when the
// file can't be read or is damaged. json: the same as JSON lines, the header's object first.
int listBlocks(const std::string& path, bool json, std::ostream& out, std::ostream& err);

}  // namespace zov::info

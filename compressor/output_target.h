// The rule that a compression never writes over one of its own sources: the same path, a link to
// it, or the same file by device and inode. The command line and the window both apply it before
// anything is opened for writing.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace zov {

// True when `a` and `b` name one file (an existing file by device and inode, otherwise by their
// absolute, normalised paths).
bool sameFile(const std::string& a, const std::string& b);

// The refusal for a target that is one of `sources`: a message naming both, or nothing when the
// target is free to be written.
std::optional<std::string> targetIsASource(const std::string& target,
                                           const std::vector<std::string>& sources);

}  // namespace zov

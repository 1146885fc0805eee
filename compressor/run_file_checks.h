// The checks a compression makes of its files before it opens any of them.
//
// A run truncates its output before it reads its first frame, so an output that is one of the
// run's own inputs (the same path, a link to it, or the same file by device and inode) would
// destroy the source. The command line and the window both ask here before anything is opened.
#pragma once

#include <string>
#include <vector>

namespace zov {

// True when the two paths name one file: equal after making them absolute and resolving links,
// or, when both exist, the same device and inode (hard links, bind mounts).
bool sameFile(const std::string& a, const std::string& b);

// The refusal for writing `output` when it is one of `inputs` (sources, audio, edit list,
// background bitmap, settings); empty when the output is none of them. `what` names the file
// written in the message ("output file", "statistics file", "log file").
std::string outputIsInputRefusal(const std::string& output, const std::vector<std::string>& inputs,
                                 const std::string& what = "output file");

// Why `path` can't be read as an input, naming the file: missing, a folder, not readable (with
// the system's reason). Empty when the file is there and can be read. "-" (standard input) passes.
std::string inputFileProblem(const std::string& path);

}  // namespace zov

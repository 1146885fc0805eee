// The window's job as a "zovcomp compress" command line that reproduces it: the source (or an
// edit-list file for several), the output and run mode, the extraction values, every key of the
// settings-key table as --set pairs and the filter list as --filter arguments.
#pragma once

#include <string>
#include <vector>

#include "encoder/avi_writer.h"
#include "encoder/compression_settings.h"

namespace zov {

class SourceFile;

// The words of the command (without "zovcomp compress"). `input` is the source's path, or the
// edit list's file when there are several sources (whose extraction values that file holds).
std::vector<std::string> jobArguments(const std::string& input, const SourceFile* singleSource,
                                      const std::string& output, RunMode mode,
                                      const CompressionSettings& settings,
                                      const CompressorOptions& options);

// The whole line, each word quoted for a POSIX shell where needed.
std::string jobCommandLine(const std::vector<std::string>& arguments);

// A word quoted for a POSIX shell (unchanged when it needs no quotes).
std::string shellQuote(const std::string& word);

}  // namespace zov

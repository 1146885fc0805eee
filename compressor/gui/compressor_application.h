// The compressor's window: zovcomp started without a command.
#pragma once

namespace zov {

// Creates the application and its multiple-document window and runs until it closes; returns
// the exit status. Arguments are files to open (several make an edit list, after asking).
int runCompressorApplication(int argc, char** argv);

}  // namespace zov

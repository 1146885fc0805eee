// purgent uninstpgm [arguments...]: removes the selector driver's service, then runs the
// installer's uninstall command.
#include <unistd.h>

#include <cstring>
#include <iostream>
#include <string>
#include <vector>

#include "platform/program_version.h"
#include "platform/ui.h"
#include "setup/purgent.h"

namespace {

// On a terminal the questions are asked there. Without one (run from a desktop or a script) the
// other boxes are printed, but a question is never taken as answered "Yes" by its default: it is
// answered "No" and nothing is removed, unless "--yes" answered it for the script.
class TerminalMessageBox : public zov::MessageBoxSink {
 public:
  explicit TerminalMessageBox(bool yes) : yes_(yes) {}
  int show(zov::WindowHandle owner, std::string_view text, std::string_view title,
           uint32_t style) override {
    uint32_t type = style & zov::MB_TYPEMASK;
    bool question = type == zov::MB_YESNO || type == zov::MB_YESNOCANCEL;
    if (!question) return fallback_.show(owner, text, title, style);
    if (yes_ || !isatty(STDIN_FILENO)) {
      std::cerr << title << ": " << zov::normaliseLineBreaks(text)
                << (yes_ ? " Yes (--yes)\n"
                         : " No: there is no terminal to answer on, so nothing is removed (run "
                           "\"purgent --yes ...\" to answer Yes)\n");
      return yes_ ? zov::IDYES : zov::IDNO;
    }
    std::cerr << title << ": " << zov::normaliseLineBreaks(text) << " [y/n] " << std::flush;
    std::string answer;
    if (!std::getline(std::cin, answer)) return zov::IDNO;
    return (!answer.empty() && (answer[0] == 'y' || answer[0] == 'Y')) ? zov::IDYES : zov::IDNO;
  }

 private:
  bool yes_;
  zov::StderrMessageBox fallback_;
};

}  // namespace

int main(int argc, char** argv) {
  if (zov::answerVersionOption(argc, argv, "purgent")) return 0;
  if (argc == 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
    std::cout << "usage: purgent [--yes] UNINSTALL-PROGRAM [ARGUMENTS...]\n"
                 "Stops and removes the selector driver's service, then runs the installer's\n"
                 "uninstall program with its arguments. Without a terminal nothing is removed\n"
                 "unless --yes answers the question.\n";
    return 0;
  }
  const bool yes = argc > 1 && std::strcmp(argv[1], "--yes") == 0;
  TerminalMessageBox sink(yes);
  zov::ScopedMessageBoxSink scoped(&sink);
  return zov::setup::runRemover(std::vector<std::string>(argv + 1 + (yes ? 1 : 0), argv + argc));
}

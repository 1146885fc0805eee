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

// On a terminal the questions are asked there; otherwise (run from a desktop or a script) every
// box is printed and answered with its default, as the platform's console programs do.
class TerminalMessageBox : public zov::MessageBoxSink {
 public:
  int show(zov::WindowHandle owner, std::string_view text, std::string_view title,
           uint32_t style) override {
    uint32_t type = style & zov::MB_TYPEMASK;
    bool question = type == zov::MB_YESNO || type == zov::MB_YESNOCANCEL;
    if (!question || !isatty(STDIN_FILENO)) return fallback_.show(owner, text, title, style);
    std::cerr << title << ": " << zov::normaliseLineBreaks(text) << " [y/n] " << std::flush;
    std::string answer;
    if (!std::getline(std::cin, answer)) return zov::IDNO;
    return (!answer.empty() && (answer[0] == 'y' || answer[0] == 'Y')) ? zov::IDYES : zov::IDNO;
  }

 private:
  zov::StderrMessageBox fallback_;
};

}  // namespace

int main(int argc, char** argv) {
  if (zov::answerVersionOption(argc, argv, "purgent")) return 0;
  if (argc == 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
    std::cout << "usage: purgent UNINSTALL-PROGRAM [ARGUMENTS...]\n"
                 "Stops and removes the selector driver's service, then runs the installer's\n"
                 "uninstall program with its arguments.\n";
    return 0;
  }
  TerminalMessageBox sink;
  zov::ScopedMessageBoxSink scoped(&sink);
  return zov::setup::runRemover(std::vector<std::string>(argv + 1, argv + argc));
}

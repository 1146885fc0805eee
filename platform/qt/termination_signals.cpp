#include "platform/qt/termination_signals.h"

#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QSocketNotifier>

namespace zov {

namespace {

// The handler only writes the signal's number into a socket, which the window thread watches.
int gPipe[2] = {-1, -1};
struct sigaction gPrevious[2];
constexpr int kSignals[2] = {SIGTERM, SIGINT};

void onSignal(int number) {
  const char byte = char(number);
  const int saved = errno;
  if (gPipe[1] >= 0) (void)!::write(gPipe[1], &byte, 1);
  errno = saved;
}

}  // namespace

TerminationSignals::TerminationSignals(std::function<void()> request, QObject* parent)
    : QObject(parent), request_(std::move(request)) {
  if (gPipe[0] >= 0 || ::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, gPipe) != 0) return;
  ::fcntl(gPipe[1], F_SETFL, O_NONBLOCK);
  notifier_ = new QSocketNotifier(gPipe[0], QSocketNotifier::Read, this);
  connect(notifier_, &QSocketNotifier::activated, this, [this] {
    char byte = 0;
    if (::read(gPipe[0], &byte, 1) != 1) return;
    ++received_;
    if (request_) request_();
  });
  for (int i = 0; i < 2; ++i) {
    struct sigaction action {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    ::sigaction(kSignals[i], &action, &gPrevious[i]);
  }
}

TerminationSignals::~TerminationSignals() {
  if (!notifier_) return;
  for (int i = 0; i < 2; ++i) ::sigaction(kSignals[i], &gPrevious[i], nullptr);
  delete notifier_;
  ::close(gPipe[0]);
  ::close(gPipe[1]);
  gPipe[0] = gPipe[1] = -1;
}

}  // namespace zov

// SIGTERM and SIGINT for a windowed program: instead of ending the process where it stands (or
// being swallowed by a library's own handlers), each signal runs `request` on the window thread,
// which ends the program as its "Exit" command does, saving what that saves.
#pragma once

#include <QObject>
#include <functional>

class QSocketNotifier;

namespace zov {

class TerminationSignals : public QObject {
 public:
  // Installs the handlers; one object per process at a time. The previous handlers come back
  // when it is destroyed.
  TerminationSignals(std::function<void()> request, QObject* parent = nullptr);
  ~TerminationSignals() override;
  // The signals received so far.
  int received() const { return received_; }

 private:
  std::function<void()> request_;
  QSocketNotifier* notifier_ = nullptr;
  int received_ = 0;
};

}  // namespace zov

// Keeps the screen saver off while a movie plays ("DisableScreenSaver"), through the desktop's
// inhibit interface on the session bus (org.freedesktop.ScreenSaver Inhibit / UnInhibit). Without
// a session bus, or without a screen saver service on it, it does nothing and says nothing.
#pragma once

#include <QObject>
#include <QString>
#include <cstdint>

namespace zov::player {

class ScreenSaverInhibitor : public QObject {
  Q_OBJECT
 public:
  // busAddress: the bus to ask; empty for the session bus.
  explicit ScreenSaverInhibitor(QObject* parent = nullptr, const QString& busAddress = {});
  ~ScreenSaverInhibitor() override;

  // Asks for the screen saver to stay off (true) or gives the request back (false); repeated
  // calls with the same value do nothing. The calls don't wait for the bus.
  void setInhibited(bool inhibited);
  bool inhibited() const { return wanted_; }
  // The desktop's answer to the request in force: true once it holds a cookie.
  bool granted() const { return cookie_ != 0; }

 private:
  void ask();
  void giveBack();

  QString connection_;  // the name of our bus connection; empty when there is no bus
  bool ownConnection_ = false;
  bool wanted_ = false;
  bool asking_ = false;
  uint32_t cookie_ = 0;
};

}  // namespace zov::player

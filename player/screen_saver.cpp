#include "player/screen_saver.h"

#ifdef ZOV_HAVE_QTDBUS
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#endif

namespace zov::player {

namespace {

constexpr const char* kService = "org.freedesktop.ScreenSaver";
constexpr const char* kPath = "/org/freedesktop/ScreenSaver";
constexpr const char* kInterface = "org.freedesktop.ScreenSaver";

}  // namespace

ScreenSaverInhibitor::ScreenSaverInhibitor(QObject* parent, const QString& busAddress)
    : QObject(parent) {
#ifdef ZOV_HAVE_QTDBUS
  if (busAddress.isEmpty()) {
    if (QDBusConnection::sessionBus().isConnected())
      connection_ = QDBusConnection::sessionBus().name();
    return;
  }
  const QString name = QStringLiteral("zov-screen-saver-%1").arg(quintptr(this), 0, 16);
  if (QDBusConnection::connectToBus(busAddress, name).isConnected()) {
    connection_ = name;
    ownConnection_ = true;
  } else {
    QDBusConnection::disconnectFromBus(name);
  }
#else
  (void)busAddress;
#endif
}

ScreenSaverInhibitor::~ScreenSaverInhibitor() {
  setInhibited(false);
#ifdef ZOV_HAVE_QTDBUS
  if (ownConnection_) {
    QDBusConnection::disconnectFromBus(connection_);
  }
#endif
}

void ScreenSaverInhibitor::setInhibited(bool inhibited) {
  if (inhibited == wanted_) return;
  wanted_ = inhibited;
  if (wanted_ && !asking_ && cookie_ == 0) ask();
  if (!wanted_) giveBack();
}

void ScreenSaverInhibitor::ask() {
#ifdef ZOV_HAVE_QTDBUS
  if (connection_.isEmpty()) return;
  QDBusConnection bus(connection_);
  QDBusMessage call = QDBusMessage::createMethodCall(kService, kPath, kInterface, "Inhibit");
  call << QStringLiteral("Orvane Player") << QStringLiteral("Playing a movie");
  asking_ = true;
  auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(call), this);
  connect(watcher, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher* w) {
    w->deleteLater();
    asking_ = false;
    QDBusPendingReply<uint32_t> reply = *w;
    if (reply.isError()) return;  // no screen saver service: nothing to keep off
    cookie_ = reply.value();
    // Stopped meanwhile: the request goes back at once. Started again meanwhile: it stands.
    if (!wanted_) giveBack();
  });
#endif
}

void ScreenSaverInhibitor::giveBack() {
#ifdef ZOV_HAVE_QTDBUS
  if (connection_.isEmpty() || cookie_ == 0) return;
  QDBusMessage call = QDBusMessage::createMethodCall(kService, kPath, kInterface, "UnInhibit");
  call << cookie_;
  QDBusConnection(connection_).send(call);
  cookie_ = 0;
#endif
}

}  // namespace zov::player

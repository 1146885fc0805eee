#include "platform/qt/qt_platform.h"

#include <dlfcn.h>

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QThread>

#include "platform/vfw.h"
#include "zov/zovcod32_dialogs.h"

namespace zov {

namespace {

QMessageBox::StandardButton qtButton(int id) {
  switch (id) {
    case IDOK:
      return QMessageBox::Ok;
    case IDCANCEL:
      return QMessageBox::Cancel;
    case IDABORT:
      return QMessageBox::Abort;
    case IDRETRY:
      return QMessageBox::Retry;
    case IDIGNORE:
      return QMessageBox::Ignore;
    case IDYES:
      return QMessageBox::Yes;
    case IDNO:
      return QMessageBox::No;
    case IDTRYAGAIN:
      return QMessageBox::Retry;
    case IDCONTINUE:
      return QMessageBox::Ignore;
    default:
      return QMessageBox::NoButton;
  }
}

QMessageBox::Icon qtIcon(uint32_t style) {
  switch (style & MB_ICONMASK) {
    case MB_ICONHAND:
      return QMessageBox::Critical;
    case MB_ICONQUESTION:
      return QMessageBox::Question;
    case MB_ICONEXCLAMATION:
      return QMessageBox::Warning;
    case MB_ICONASTERISK:
      return QMessageBox::Information;
    default:
      return QMessageBox::NoIcon;
  }
}

}  // namespace

int QtMessageBoxSink::show(WindowHandle owner, std::string_view text, std::string_view title,
                           uint32_t style) {
  // Widgets live on the window thread: a box asked for by a worker (a compression run, a
  // source read on its behalf) is shown there while the worker waits for the answer.
  if (qApp && QThread::currentThread() != qApp->thread()) {
    int result = messageBoxDefaultResult(style);
    const std::string textCopy(text), titleCopy(title);
    QMetaObject::invokeMethod(
        qApp, [&] { result = show(owner, textCopy, titleCopy, style); },
        Qt::BlockingQueuedConnection);
    return result;
  }
  QMessageBox box(qtIcon(style), QString::fromUtf8(title.data(), qsizetype(title.size())),
                  QString::fromStdString(normaliseLineBreaks(text)), QMessageBox::NoButton,
                  toWidget(owner));
  const std::vector<int> ids = messageBoxButtons(style);
  std::map<QAbstractButton*, int> idOf;
  for (int id : ids) idOf[box.addButton(qtButton(id))] = id;
  const int defaultId = messageBoxDefaultResult(style);
  for (auto& [button, id] : idOf)
    if (id == defaultId) box.setDefaultButton(static_cast<QPushButton*>(button));
  if (style & MB_TOPMOST) box.setWindowFlag(Qt::WindowStaysOnTopHint);
  box.exec();
  auto it = idOf.find(box.clickedButton());
  // Closing the box without a button answers as Escape would: Cancel when offered.
  if (it == idOf.end()) {
    for (int id : ids)
      if (id == IDCANCEL) return IDCANCEL;
    return defaultId;
  }
  return it->second;
}

void QtMessageBoxSink::beep(uint32_t) {
  QApplication::beep();
}

void QtDialogHost::registerForm(std::string dialogName, Form form) {
  forms_[std::move(dialogName)] = std::move(form);
}

bool QtDialogHost::hasForm(std::string_view dialogName) const {
  return forms_.find(dialogName) != forms_.end();
}

void QtDialogHost::registerModelessForm(std::string dialogName, ModelessForm form) {
  modelessForms_[std::move(dialogName)] = std::move(form);
}

QtDialogHost::~QtDialogHost() {
  for (auto& [data, dialog] : modeless_) delete dialog;
}

namespace {
bool onWindowThread(QObject* object) {
  return QThread::currentThread() == (object ? object->thread() : qApp->thread());
}
}  // namespace

void QtDialogHost::openModeless(WindowHandle owner, std::string_view dialogName, DialogData& data) {
  auto it = modelessForms_.find(dialogName);
  if (it == modelessForms_.end() || !onWindowThread(nullptr) || modeless_.count(&data)) return;
  ModelessDialog* dialog = it->second(toWidget(owner), data);
  if (!dialog) return;
  modeless_[&data] = dialog;
  // Closed by the user: forgotten at once, deleted when its events are done.
  QObject::connect(dialog, &QDialog::finished, dialog, [this, key = &data, dialog] {
    auto found = modeless_.find(key);
    if (found != modeless_.end() && found->second == dialog) modeless_.erase(found);
    dialog->deleteLater();
  });
  if (showHook_) showHook_(dialogName, dialog);
  dialog->refresh();
  dialog->show();
}

void QtDialogHost::updateModeless(DialogData& data) {
  if (!onWindowThread(nullptr)) return;
  ModelessDialog* dialog = modelessDialog(data);
  if (dialog) dialog->refresh();
  // A dialog that keeps input to itself (its Cancel ends the library's work) takes the user's
  // input here; the windows behind it stay blocked.
  const bool takesInput = dialog && dialog->windowModality() == Qt::ApplicationModal;
  QCoreApplication::processEvents(takesInput ? QEventLoop::AllEvents
                                             : QEventLoop::ExcludeUserInputEvents);
}

void QtDialogHost::closeModeless(DialogData& data) {
  auto it = modeless_.find(&data);
  if (it == modeless_.end()) return;
  ModelessDialog* dialog = it->second;
  modeless_.erase(it);
  // The record may go right after this call: the dialog goes now, on its own thread.
  QObject::disconnect(dialog, &QDialog::finished, nullptr, nullptr);
  if (onWindowThread(dialog))
    delete dialog;
  else
    QMetaObject::invokeMethod(
        dialog, [dialog] { delete dialog; }, Qt::BlockingQueuedConnection);
}

bool QtDialogHost::enableWindow(WindowHandle window, bool enable) {
  QWidget* widget = toWidget(window);
  if (!widget || !onWindowThread(widget)) return true;
  const bool was = widget->isEnabled();
  // Dialogs created over it later still take input; the ones it owns now follow it.
  widget->setEnabled(enable);
  return was;
}

ModelessDialog* QtDialogHost::modelessDialog(const DialogData& data) const {
  auto it = modeless_.find(&data);
  return it == modeless_.end() ? nullptr : it->second;
}

intptr_t QtDialogHost::runModal(WindowHandle owner, std::string_view dialogName, DialogData& data) {
  auto it = forms_.find(dialogName);
  if (it == forms_.end()) return IDCANCEL;
  // Dialogs without an owner (the codec's configuration, its display warning) stand over the
  // active window, as the library's dialogs did.
  QWidget* parent = owner ? toWidget(owner) : QApplication::activeWindow();
  QDialog* dialog = it->second(parent, data);
  if (!dialog) return IDCANCEL;
  if (showHook_) showHook_(dialogName, dialog);
  // Forms end with done(IDOK), done(IDCANCEL) or a dialog's own code; closing the window
  // (QDialog::Rejected) is Cancel.
  const int result = dialog->exec();
  delete dialog;
  return result == QDialog::Rejected ? IDCANCEL : result;
}

namespace {

// The program is linked with the codec library; the compression manager must open that same
// library for vidc/zov1 and vidc/zov2 rather than another copy found on its search path, or
// the codec's boxes and dialogs would come from a copy that never got the host.
void openLinkedCodecForVideo() {
  Dl_info info{};
  if (!dladdr(reinterpret_cast<void*>(&ZOVSetUiHost), &info) || !info.dli_fname) return;
  const auto path = reinterpret_cast<LPARAM>(info.dli_fname);
  ICInstall(ICTYPE_VIDEO, mmioFOURCC('z', 'o', 'v', '1'), path, nullptr, ICINSTALL_DRIVER);
  ICInstall(ICTYPE_VIDEO, mmioFOURCC('z', 'o', 'v', '2'), path, nullptr, ICINSTALL_DRIVER);
}

}  // namespace

QtPlatform::QtPlatform() {
  previousSink_ = setMessageBoxSink(&sink_);
  previousHost_ = setDialogHost(&host_);
  registerCodecForms(host_);
  ZOVSetUiHost(&sink_, &host_);
  openLinkedCodecForVideo();
}

QtPlatform::~QtPlatform() {
  // The library gets back what the program had before (no sink and host: its defaults).
  ZOVSetUiHost(previousSink_, previousHost_);
  setDialogHost(previousHost_);
  setMessageBoxSink(previousSink_);
}

}  // namespace zov

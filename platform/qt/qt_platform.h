// The Qt side of the platform layer: message boxes shown as real boxes and library dialogs run
// as Qt forms. A windowed program creates one QtPlatform after its QApplication; while it lives,
// messageBox(), messageBeep() and runModalDialog() reach the user through Qt.
#pragma once

#include <QDialog>
#include <QWidget>
#include <functional>
#include <map>
#include <string>
#include <string_view>

#include "platform/ui.h"

namespace zov {

// The widget a WindowHandle stands for (handles of Qt programs are QWidget pointers).
inline QWidget* toWidget(WindowHandle handle) {
  return static_cast<QWidget*>(handle);
}
inline WindowHandle toHandle(QWidget* widget) {
  return static_cast<WindowHandle>(widget);
}

// Shows boxes with QMessageBox: the style's buttons, icon and default button; the result is
// the ID* value of the button pressed. Beeps go to QApplication::beep().
class QtMessageBoxSink : public MessageBoxSink {
 public:
  int show(WindowHandle owner, std::string_view text, std::string_view title,
           uint32_t style) override;
  void beep(uint32_t type) override;
};

// A modeless dialog of a library: shown while the library works, refreshed from its record.
class ModelessDialog : public QDialog {
 public:
  using QDialog::QDialog;
  // Shows the record's state again.
  virtual void refresh() {}
};

// Runs library dialogs as Qt forms. A form builds a QDialog for the dialog's data record, and
// copies the fields back when the dialog is accepted; the host runs it modally. Modeless forms
// stay up between openModeless and closeModeless (or until the user closes them).
class QtDialogHost : public DialogHost {
 public:
  // Builds the dialog over parent for data; null when data is not of the form's record type.
  using Form = std::function<QDialog*(QWidget* parent, DialogData& data)>;
  // Called with every dialog just before it runs; tests use it to act as the user (fill in
  // fields, press buttons) once the event loop shows the dialog.
  using ShowHook = std::function<void(std::string_view dialogName, QDialog* dialog)>;

  using ModelessForm = std::function<ModelessDialog*(QWidget* parent, DialogData& data)>;

  QtDialogHost() = default;
  ~QtDialogHost() override;
  QtDialogHost(const QtDialogHost&) = delete;
  QtDialogHost& operator=(const QtDialogHost&) = delete;

  void registerForm(std::string dialogName, Form form);
  void registerModelessForm(std::string dialogName, ModelessForm form);
  bool hasForm(std::string_view dialogName) const;
  void setShowHook(ShowHook hook) { showHook_ = std::move(hook); }

  // Dialogs without a form answer IDCANCEL, as without a host.
  intptr_t runModal(WindowHandle owner, std::string_view dialogName, DialogData& data) override;

  // The caller's thread is the window thread and stays busy in between: updateModeless also
  // handles pending window events other than user input (a modeless dialog that must take
  // input while the library is busy makes itself application-modal).
  void openModeless(WindowHandle owner, std::string_view dialogName, DialogData& data) override;
  void updateModeless(DialogData& data) override;
  void closeModeless(DialogData& data) override;
  // QWidget::setEnabled on the owner.
  bool enableWindow(WindowHandle window, bool enable) override;
  // The modeless dialog open for a record, or null.
  ModelessDialog* modelessDialog(const DialogData& data) const;

 private:
  std::map<std::string, Form, std::less<>> forms_;
  std::map<std::string, ModelessForm, std::less<>> modelessForms_;
  std::map<const DialogData*, ModelessDialog*> modeless_;
  ShowHook showHook_;
};

// Installs the Qt box sink and a dialog host with the forms of the codec library and its network
// source for its lifetime; restores what was installed before.
class QtPlatform {
 public:
  QtPlatform();
  ~QtPlatform();
  QtPlatform(const QtPlatform&) = delete;
  QtPlatform& operator=(const QtPlatform&) = delete;

  QtDialogHost& dialogs() { return host_; }

 private:
  QtMessageBoxSink sink_;
  QtDialogHost host_;
  MessageBoxSink* previousSink_ = nullptr;
  DialogHost* previousHost_ = nullptr;
};

// Registers the forms of the codec library's dialogs and the network source's dialogs.
void registerCodecForms(QtDialogHost& host);

}  // namespace zov

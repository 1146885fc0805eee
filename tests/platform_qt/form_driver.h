// Acting as the user on the forms: per dialog name, an action that runs once the dialog's event
// loop has started (it clicks, types and finally ends the dialog). Dialogs without an action are
// cancelled; every dialog shown is recorded with its caption.
#pragma once

#include <QDialog>
#include <QTimer>
#include <functional>
#include <map>
#include <ostream>
#include <string>
#include <vector>

#include "platform/qt/form_support.h"
#include "platform/qt/qt_platform.h"

// Failure messages show texts as texts.
inline void PrintTo(const QString& text, std::ostream* os) {
  *os << '"' << text.toStdString() << '"';
}

namespace zov::qtforms {

class FormDriver {
 public:
  using Action = std::function<void(QDialog*)>;

  explicit FormDriver(QtPlatform& platform) {
    platform.dialogs().setShowHook([this](std::string_view name, QDialog* dialog) {
      shown.emplace_back(name);
      captions.push_back(dialog->windowTitle().toStdString());
      auto it = actions_.find(std::string(name));
      Action action = it == actions_.end() ? Action() : it->second;
      QTimer::singleShot(0, dialog, [dialog, action] {
        if (action)
          action(dialog);
        else
          dialog->reject();
      });
    });
  }
  void on(const std::string& name, Action action) { actions_[name] = std::move(action); }

  std::vector<std::string> shown;
  std::vector<std::string> captions;

 private:
  std::map<std::string, Action> actions_;
};

// Clicks the control with the dialog id.
inline void click(QDialog* dialog, int id) {
  if (auto* button = control<QAbstractButton>(dialog, id)) button->click();
}

}  // namespace zov::qtforms

#include "platform/qt/form_support.h"

namespace zov::qtforms {

QPushButton* endButton(QDialog* dialog, const QString& text, int code) {
  auto* button = withId(new QPushButton(text, dialog), code);
  QObject::connect(button, &QPushButton::clicked, dialog, [dialog, code] { dialog->done(code); });
  return button;
}

QDialog* newDialog(QWidget* parent, const char* caption) {
  auto* dialog = new QDialog(parent);
  dialog->setWindowTitle(QString::fromUtf8(caption));
  return dialog;
}

}  // namespace zov::qtforms

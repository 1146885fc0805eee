#include "platform/qt/form_support.h"

#include "platform/ui.h"

namespace zov::qtforms {

QPushButton* endButton(QDialog* dialog, const QString& text, int code) {
  auto* button = withId(new QPushButton(text, dialog), code);
  QObject::connect(button, &QPushButton::clicked, dialog, [dialog, code] { dialog->done(code); });
  return button;
}

QPushButton* addOkCancel(QBoxLayout* layout, QDialog* dialog, const QString& okText, bool okEnds,
                         QWidget* left) {
  auto* row = new QHBoxLayout;
  if (left) row->addWidget(left);
  row->addStretch();
  QPushButton* ok =
      okEnds ? endButton(dialog, okText, IDOK) : withId(new QPushButton(okText, dialog), IDOK);
  ok->setDefault(true);
  row->addWidget(ok);
  row->addWidget(endButton(dialog, QStringLiteral("Cancel"), IDCANCEL));
  layout->addLayout(row);
  return ok;
}

QDialog* newDialog(QWidget* parent, const char* caption) {
  auto* dialog = new QDialog(parent);
  dialog->setWindowTitle(QString::fromUtf8(caption));
  return dialog;
}

}  // namespace zov::qtforms

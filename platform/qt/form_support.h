// Small helpers shared by the Qt forms of library dialogs: controls are found by their dialog
// id (the widget's object name is the id in decimal), and buttons end the dialog with a code.
#pragma once

#include <QAbstractButton>
#include <QBoxLayout>
#include <QDialog>
#include <QPushButton>
#include <QString>
#include <string>
#include <string_view>

namespace zov::qtforms {

inline QString qs(std::string_view text) {
  return QString::fromUtf8(text.data(), qsizetype(text.size()));
}

inline QString controlName(int id) {
  return QString::number(id);
}

// Gives a widget its dialog id and returns it.
template <class W>
W* withId(W* widget, int id) {
  widget->setObjectName(controlName(id));
  return widget;
}

// The control with the dialog id, or null.
template <class W>
W* control(QWidget* dialog, int id) {
  return dialog->findChild<W*>(controlName(id));
}

// A push button that ends the dialog with code (IDOK, IDCANCEL ...); its id is the code.
QPushButton* endButton(QDialog* dialog, const QString& text, int code);

// The row of OK (the default button, id IDOK) and Cancel under layout, with `left` (if any) at
// its start. OK ends the dialog with IDOK unless the form handles its click (okEnds false).
QPushButton* addOkCancel(QBoxLayout* layout, QDialog* dialog, const QString& okText,
                         bool okEnds = true, QWidget* left = nullptr);

// A new dialog with the caption, deleted by its host after it ran.
QDialog* newDialog(QWidget* parent, const char* caption);

}  // namespace zov::qtforms

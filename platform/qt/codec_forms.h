// The forms of the codec library's and the network source's dialogs. Each builds its QDialog
// over parent for the dialog's record, or answers null when data is another record.
#pragma once

#include <QDialog>

#include "platform/qt/qt_platform.h"
#include "platform/ui.h"

namespace zov::qtforms {

QDialog* aboutForm(QWidget* parent, DialogData& data);          // 101
QDialog* statusForm(QWidget* parent, DialogData& data);         // 103
QDialog* configurationForm(QWidget* parent, DialogData& data);  // 104
QDialog* advancedForm(QWidget* parent, DialogData& data);       // 105
QDialog* hiColorForm(QWidget* parent, DialogData& data);        // 106
QDialog* siteForm(QWidget* parent, DialogData& data);
QDialog* movieForm(QWidget* parent, DialogData& data);
ModelessDialog* loadingForm(QWidget* parent, DialogData& data);
ModelessDialog* cacheStatusForm(QWidget* parent, DialogData& data);

}  // namespace zov::qtforms

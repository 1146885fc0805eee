#include <gtest/gtest.h>

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>

#include "platform/qt/qt_platform.h"

namespace zov {
namespace {

// Presses the button with the given text on the box that is about to open.
void pressOnNextBox(const QString& buttonText) {
  QTimer::singleShot(0, [buttonText] {
    for (QWidget* w : QApplication::topLevelWidgets()) {
      auto* box = qobject_cast<QMessageBox*>(w);
      if (!box || !box->isVisible()) continue;
      for (QAbstractButton* b : box->buttons())
        if (b->text().remove('&') == buttonText) b->click();
    }
  });
}

TEST(QtMessageBox, AnswersWithTheButtonPressedAndShowsTitleAndText) {
  QtPlatform platform;
  pressOnNextBox("No");
  EXPECT_EQ(messageBox(nullptr, "Replace it?", "ZOV", MB_YESNO | MB_ICONQUESTION), IDNO);
  pressOnNextBox("Retry");
  EXPECT_EQ(messageBox(nullptr, "Try again", "ZOV", MB_RETRYCANCEL), IDRETRY);
}

struct PlainData : DialogData {
  int value = 0;
};

TEST(QtDialogHost, RunsRegisteredFormsAndCancelsUnknownDialogs) {
  QtPlatform platform;
  platform.dialogs().registerForm("Plain", [](QWidget* parent, DialogData& data) -> QDialog* {
    auto* plain = dynamic_cast<PlainData*>(&data);
    if (!plain) return nullptr;
    auto* dialog = new QDialog(parent);
    QObject::connect(dialog, &QDialog::finished, [plain](int r) {
      if (r == IDOK) plain->value = 7;
    });
    return dialog;
  });
  platform.dialogs().setShowHook([](std::string_view, QDialog* dialog) {
    QTimer::singleShot(0, dialog, [dialog] { dialog->done(IDOK); });
  });
  PlainData data;
  EXPECT_EQ(runModalDialog(nullptr, "Plain", data), IDOK);
  EXPECT_EQ(data.value, 7);
  EXPECT_EQ(runModalDialog(nullptr, "Unknown", data), IDCANCEL);
}

}  // namespace
}  // namespace zov

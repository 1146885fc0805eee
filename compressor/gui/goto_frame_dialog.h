// The dialog "ZOVComp - Goto Frame": the current frame, the frame count and an edit field for the
// frame to go to (1-based, digits only), pre-filled with the last "GotoFrame" value or 1.
#pragma once

#include <QDialog>
#include <cstdint>
#include <optional>
#include <string>

class QLineEdit;

namespace zov {

// The frame (1-based) that "OK" goes to: the text parsed like "%lu", 0 raised to 1 and anything
// beyond the frame count lowered to it.
uint32_t gotoFrameTarget(const std::string& text, uint32_t frameCount);

class GotoFrameDialog : public QDialog {
  Q_OBJECT
 public:
  // `current` 1-based; `last` the last value entered (0: none).
  GotoFrameDialog(QWidget* parent, uint32_t current, uint32_t frameCount, uint32_t last);
  QLineEdit* edit() const { return edit_; }
  uint32_t target() const;

 private:
  QLineEdit* edit_ = nullptr;
  uint32_t frameCount_;
};

// Runs the dialog; the chosen frame (1-based), written to "GotoFrame", or nothing on "Cancel".
std::optional<uint32_t> runGotoFrameDialog(QWidget* parent, uint32_t current, uint32_t frameCount,
                                           const std::string& settingsFile);

}  // namespace zov

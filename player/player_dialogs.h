// The player's own dialogs: options ("DlgOptions"), goto frame ("DlgGotoFrame"), replay range
// ("DlgReplayFrame") and the about box. They show and collect values; the window applies them
// through the controller.
#pragma once

#include <QDialog>
#include <functional>

#include "player/player_settings.h"

class QLineEdit;
class QLabel;
class QCheckBox;
class QRadioButton;

namespace zov::player {

class OptionsDialog : public QDialog {
  Q_OBJECT
 public:
  OptionsDialog(const PlayerSettings& settings, QWidget* parent);
  // Copies the choices into settings (OK).
  void store(PlayerSettings& settings) const;
  QRadioButton* speedButton(int index) const { return speeds_[index]; }
  QCheckBox* checkBox(int id) const;

 private:
  QRadioButton* speeds_[5] = {};
  QCheckBox *rewFFMute_, *slowMoMute_, *autoLoop_, *alwaysOnTop_, *boostPriority_;
};

class GotoDialog : public QDialog {
  Q_OBJECT
 public:
  // current(): the movie's current frame (0-based); refreshed every 500 ms.
  GotoDialog(uint32_t gotoFrame, long total, std::function<long()> current, QWidget* parent);
  QLineEdit* frameEdit() const { return edit_; }
  QLabel* currentLabel() const { return current_; }
  // The typed frame (1-based), or 0 when it is not a number.
  uint32_t frame() const;

 private:
  void refresh();
  std::function<long()> currentFrame_;
  QLabel* current_;
  QLineEdit* edit_;
};

class ReplayDialog : public QDialog {
  Q_OBJECT
 public:
  enum Result { LoopInWindow = 100, LoopFullscreen = 101 };
  ReplayDialog(const PlayerSettings& settings, std::function<long()> current, QWidget* parent);
  QLineEdit* startEdit() const { return start_; }
  QLineEdit* endEdit() const { return end_; }
  uint32_t startFrame() const;
  uint32_t endFrame() const;

 private:
  void finish(int code);
  QLineEdit* start_;
  QLineEdit* end_;
};

// The player's about box.
void showAboutPlayer(QWidget* parent);

}  // namespace zov::player

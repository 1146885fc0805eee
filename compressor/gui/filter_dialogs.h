// The filter list's two dialogs: "Select a new filter" and the level dialog of each kind. The
// engine's FilterSelectDialog and FilterLevelDialog hold their logic; these only show them.
#pragma once

#include <QDialog>
#include <array>
#include <cstdint>
#include <functional>

#include "compressor/filter_list.h"

class QListWidget;
class QPushButton;
class QScrollBar;
class QLabel;

namespace zov {

// A kind's level dialog: Ok! / Cancel, a description, the scroll bar and its value.
class FilterLevelWindow : public QDialog {
  Q_OBJECT
 public:
  FilterLevelWindow(QWidget* parent, int32_t kind,
                    std::array<int32_t, kFilterKindCount>& lastUsedLevels);
  // The level chosen, or the kind's minimum minus 1 after "Cancel".
  int32_t result32() const { return result_; }
  QScrollBar* bar() const { return bar_; }
  QLabel* valueLabel() const { return value_; }
  QPushButton* okButton() const { return ok_; }
  const FilterLevelDialog& model() const { return model_; }

 private:
  FilterLevelDialog model_;
  std::array<int32_t, kFilterKindCount>& lastUsed_;
  int32_t result_;
  QScrollBar* bar_ = nullptr;
  QLabel* value_ = nullptr;
  QPushButton* ok_ = nullptr;
};

// Runs the level dialog of `kind`; the level, or the kind's minimum minus 1 when cancelled.
int32_t runFilterLevelDialog(QWidget* parent, int32_t kind,
                             std::array<int32_t, kFilterKindCount>& lastUsedLevels);

// "Select a new filter": the nine kinds, Ok! (enabled with a selection) and Cancel.
class FilterSelectWindow : public QDialog {
  Q_OBJECT
 public:
  // levelQuestion runs the chosen kind's level dialog (replaced by tests).
  using LevelQuestion = std::function<int32_t(QWidget* parent, int32_t kind)>;
  FilterSelectWindow(QWidget* parent, uint32_t& lastSelectedFilter, LevelQuestion levelQuestion);
  // The combined kind and level, or -1 when cancelled.
  int32_t result32() const { return result_; }
  QListWidget* list() const { return list_; }
  QPushButton* okButton() const { return ok_; }
  // "Ok!" or a double click: runs the level dialog of the selected kind.
  void chooseSelected();

 private:
  FilterSelectDialog model_;
  uint32_t& lastSelected_;
  LevelQuestion levelQuestion_;
  int32_t result_ = -1;
  QListWidget* list_ = nullptr;
  QPushButton* ok_ = nullptr;
};

// Runs the selection dialog over the process's last choices; the combined kind and level, or -1.
int32_t runFilterSelectDialog(QWidget* parent, uint32_t& lastSelectedFilter,
                              std::array<int32_t, kFilterKindCount>& lastUsedLevels);

}  // namespace zov

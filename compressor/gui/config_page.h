// What every page of the configuration dialog offers the dialog, and the controls the pages
// share: digit-only edit fields and scroll bars with their value beside them.
#pragma once

#include <QLineEdit>
#include <QWidget>
#include <cstdint>
#include <functional>

class QScrollBar;
class QLabel;
class QGridLayout;

namespace zov {

class ConfigWorkingCopy;
struct ConfigurationContext;

class ConfigPage : public QWidget {
  Q_OBJECT
 public:
  // The page fills its controls from the copy when it is created.
  ConfigPage(QWidget* parent, ConfigWorkingCopy& copy) : QWidget(parent), copy_(copy) {}
  // Stores the controls into the copy (when the page is destroyed).
  virtual void store() = 0;
  // Asked before the page is left; only the extraction page can refuse.
  virtual bool validate() { return true; }
  // "&Restore page to defaults" for the page on screen. The compression page asks for a preset
  // and returns false when that question was cancelled.
  virtual bool resetOnScreen() = 0;

 protected:
  ConfigWorkingCopy& copy_;
};

// Creates page `index` over the copy.
ConfigPage* createConfigPage(int index, QWidget* parent, ConfigWorkingCopy& copy,
                             const ConfigurationContext& context,
                             const std::function<int(QWidget*)>& presetQuestion);

// An edit field that keeps digits only: a typed character other than "0".."9" is taken back.
class DigitsEdit : public QLineEdit {
  Q_OBJECT
 public:
  explicit DigitsEdit(QWidget* parent, int maxLength = 32);
  void setNumber(uint32_t value) { setText(QString::number(value)); }
  // The number held: 0 when the field holds none, the largest 32-bit value when its digits go
  // beyond it.
  uint32_t number() const;
};

// A horizontal scroll bar held within [min, max], line step 1, page step 4, with its value shown
// in decimal in the label beside it.
class LevelBar : public QWidget {
  Q_OBJECT
 public:
  LevelBar(QWidget* parent, int min, int max, int value);
  int value() const;
  void setValue(int value);
  QScrollBar* bar() const { return bar_; }
  QLabel* valueLabel() const { return label_; }

 signals:
  void valueChanged(int value);

 private:
  QScrollBar* bar_;
  QLabel* label_;
};

// Adds a row of a label and a level bar (named `name`, range [min, max], value min) to a grid
// layout installed on its widget; returns the bar.
LevelBar* addLevelRow(QGridLayout* layout, int row, const char* label, const char* name, int min,
                      int max);

}  // namespace zov

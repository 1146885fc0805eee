#include "compressor/gui/config_page.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QScrollBar>

namespace zov {

DigitsEdit::DigitsEdit(QWidget* parent, int maxLength) : QLineEdit(parent) {
  setMaxLength(maxLength);
  // Whatever the change left that is not a digit goes again, as a Backspace after the typed
  // character would remove it; the cursor stays where the user typed.
  connect(this, &QLineEdit::textEdited, this, [this](const QString& text) {
    QString digits;
    int cursor = cursorPosition();
    int removedBeforeCursor = 0;
    for (int i = 0; i < text.size(); ++i) {
      if (text[i] >= '0' && text[i] <= '9') {
        digits += text[i];
      } else if (i < cursor) {
        ++removedBeforeCursor;
      }
    }
    if (digits != text) {
      setText(digits);
      setCursorPosition(cursor - removedBeforeCursor);
    }
  });
}

uint32_t DigitsEdit::number() const {
  QString digits = text().trimmed();
  bool ok = false;
  uint32_t v = digits.toUInt(&ok);
  if (ok) return v;
  // Digits beyond what 32 bits hold mean the largest value, not none.
  bool allDigits = !digits.isEmpty();
  for (QChar c : digits) allDigits = allDigits && c >= '0' && c <= '9';
  return allDigits ? UINT32_MAX : 0;
}

LevelBar* addLevelRow(QGridLayout* layout, int row, const char* label, const char* name, int min,
                      int max) {
  QWidget* owner = layout->parentWidget();
  layout->addWidget(new QLabel(label, owner), row, 0);
  auto* bar = new LevelBar(owner, min, max, min);
  bar->setObjectName(name);
  layout->addWidget(bar, row, 1);
  return bar;
}

LevelBar::LevelBar(QWidget* parent, int min, int max, int value) : QWidget(parent) {
  auto* layout = new QHBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  bar_ = new QScrollBar(Qt::Horizontal, this);
  bar_->setRange(min, max);
  bar_->setSingleStep(1);
  bar_->setPageStep(4);
  bar_->setMinimumWidth(160);
  // Scroll bars take no focus by default; these are controls of their own, moved by the arrows.
  bar_->setFocusPolicy(Qt::StrongFocus);
  label_ = new QLabel(this);
  label_->setMinimumWidth(32);
  layout->addWidget(bar_, 1);
  layout->addWidget(label_);
  bar_->setValue(value);
  label_->setText(QString::number(bar_->value()));
  connect(bar_, &QScrollBar::valueChanged, this, [this](int v) {
    label_->setText(QString::number(v));
    emit valueChanged(v);
  });
}

int LevelBar::value() const {
  return bar_->value();
}

void LevelBar::setValue(int value) {
  bar_->setValue(value);
  label_->setText(QString::number(bar_->value()));
}

}  // namespace zov

#include "compressor/gui/filter_dialogs.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QScrollBar>
#include <QVBoxLayout>

namespace zov {

namespace {
// The "Ok!" and "Cancel" row under a filter dialog.
void addOkCancel(QDialog* dialog, QVBoxLayout* layout, QPushButton*& ok, QPushButton*& cancel) {
  auto* buttons = new QHBoxLayout;
  ok = new QPushButton("Ok!", dialog);
  cancel = new QPushButton("Cancel", dialog);
  buttons->addWidget(ok);
  buttons->addWidget(cancel);
  layout->addLayout(buttons);
}
}  // namespace

FilterLevelWindow::FilterLevelWindow(QWidget* parent, int32_t kind,
                                     std::array<int32_t, kFilterKindCount>& lastUsedLevels)
    : QDialog(parent),
      model_(kind, lastUsedLevels),
      lastUsed_(lastUsedLevels),
      result_(kFilterKinds[size_t(kind)].minLevel - 1) {
  const FilterKind& info = kFilterKinds[size_t(kind)];
  setWindowTitle(info.dialogTitle);
  setObjectName(info.dialogTemplate);
  auto* layout = new QVBoxLayout(this);
  QString description = model_.hasScrollBar()
                            ? QString("Choose the level of the %1 filter:").arg(info.dialogTitle)
                            : QString("The %1 filter has one level.").arg(info.dialogTitle);
  layout->addWidget(new QLabel(description, this));
  auto* barLine = new QHBoxLayout;
  bar_ = new QScrollBar(Qt::Horizontal, this);
  bar_->setFocusPolicy(Qt::StrongFocus);  // a control of its own, moved by the arrows
  bar_->setMinimumWidth(200);
  value_ = new QLabel(this);
  value_->setMinimumWidth(48);
  barLine->addWidget(bar_, 1);
  barLine->addWidget(value_);
  layout->addLayout(barLine);
  if (model_.hasScrollBar()) {
    bar_->setRange(model_.minPosition(), model_.maxPosition());
    bar_->setSingleStep(1);
    bar_->setPageStep(1);
    bar_->setValue(model_.position());
  } else {
    bar_->setVisible(false);
  }
  value_->setText(QString::fromStdString(model_.valueText()));
  connect(bar_, &QScrollBar::valueChanged, this, [this](int p) {
    model_.setPosition(p);
    value_->setText(QString::fromStdString(model_.valueText()));
  });
  QPushButton* cancel = nullptr;
  addOkCancel(this, layout, ok_, cancel);
  ok_->setDefault(true);
  connect(ok_, &QPushButton::clicked, this, [this] {
    std::optional<int32_t> level = model_.ok(lastUsed_);
    if (!level) return;  // a level that changes nothing: the message was shown, stay open
    result_ = *level;
    accept();
  });
  connect(cancel, &QPushButton::clicked, this, [this] {
    result_ = model_.cancel();
    reject();
  });
}

int32_t runFilterLevelDialog(QWidget* parent, int32_t kind,
                             std::array<int32_t, kFilterKindCount>& lastUsedLevels) {
  if (!isFilterKind(kind)) return -1;
  FilterLevelWindow window(parent, kind, lastUsedLevels);
  window.exec();
  return window.result32();
}

FilterSelectWindow::FilterSelectWindow(QWidget* parent, uint32_t& lastSelectedFilter,
                                       LevelQuestion levelQuestion)
    : QDialog(parent),
      model_(lastSelectedFilter),
      lastSelected_(lastSelectedFilter),
      levelQuestion_(std::move(levelQuestion)) {
  setWindowTitle("Select a new filter");
  setObjectName("DlgFilterSelect");
  auto* layout = new QVBoxLayout(this);
  list_ = new QListWidget(this);
  for (const std::string& name : FilterSelectDialog::names()) {
    list_->addItem(QString::fromStdString(name));
  }
  list_->setMinimumHeight(list_->sizeHintForRow(0) * (kFilterKindCount + 1));
  layout->addWidget(list_);
  QPushButton* cancel = nullptr;
  addOkCancel(this, layout, ok_, cancel);
  if (model_.selected() >= 0) list_->setCurrentRow(model_.selected());
  ok_->setEnabled(model_.okEnabled());
  connect(list_, &QListWidget::currentRowChanged, this, [this](int row) {
    model_.select(row);
    ok_->setEnabled(model_.okEnabled());
  });
  connect(list_, &QListWidget::itemDoubleClicked, this, [this] { chooseSelected(); });
  connect(ok_, &QPushButton::clicked, this, [this] { chooseSelected(); });
  connect(cancel, &QPushButton::clicked, this, [this] {
    result_ = FilterSelectDialog::cancel();
    reject();
  });
}

void FilterSelectWindow::chooseSelected() {
  if (!model_.okEnabled()) return;
  int32_t level = levelQuestion_(this, model_.selected());
  std::optional<int32_t> result = model_.levelChosen(level, lastSelected_);
  if (!result) return;  // the level dialog was cancelled: back to the selection
  result_ = *result;
  accept();
}

int32_t runFilterSelectDialog(QWidget* parent, uint32_t& lastSelectedFilter,
                              std::array<int32_t, kFilterKindCount>& lastUsedLevels) {
  FilterSelectWindow window(parent, lastSelectedFilter,
                            [&lastUsedLevels](QWidget* p, int32_t kind) {
                              return runFilterLevelDialog(p, kind, lastUsedLevels);
                            });
  window.exec();
  return window.result32();
}

}  // namespace zov

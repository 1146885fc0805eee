#include "compressor/gui/filter_page.h"

#include <QGridLayout>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>

#include "compressor/gui/config_frame_image.h"
#include "compressor/gui/config_working_copy.h"
#include "compressor/gui/configuration_dialog.h"
#include "compressor/gui/filter_dialogs.h"
#include "compressor/gui/filter_preview.h"
#include "media/source_file.h"

namespace zov {

FilterPage::FilterPage(QWidget* parent, ConfigWorkingCopy& copy,
                       const ConfigurationContext& context)
    : ConfigPage(parent, copy), model_(copy.filters) {
  CompressorOptions* options = context.options;
  selectFilter = [options](QWidget* p) {
    return runFilterSelectDialog(p, options->LastSelectedFilter, options->LastUsedFilterLevel);
  };
  editLevel = [options](QWidget* p, int32_t kind) {
    return runFilterLevelDialog(p, kind, options->LastUsedFilterLevel);
  };

  auto* layout = new QGridLayout(this);
  layout->addWidget(new QLabel("Current Filter List:", this), 0, 0);
  list_ = new QListWidget(this);
  list_->setMinimumWidth(260);
  layout->addWidget(list_, 1, 0);
  auto* buttons = new QVBoxLayout;
  add_ = new QPushButton("&Add a filter to the bottom of the list", this);
  insert_ = new QPushButton("&Insert a filter before the selected filter", this);
  edit_ = new QPushButton("&Edit the selected filter", this);
  delete_ = new QPushButton("&Delete the selected filter from the list", this);
  for (QPushButton* b : {add_, insert_, edit_, delete_}) {
    b->setAutoDefault(false);
    buttons->addWidget(b);
  }
  buttons->addStretch(1);
  layout->addLayout(buttons, 1, 1);

  if (!copy.zov2() && copy.source()) {
    std::vector<uint16_t> pixels;
    int w = 0, h = 0;
    if (!fetchFrame15(*copy.source(), context.currentFrame, pixels, w, h)) pixels.clear();
    preview_ = new FilterPreview(this, *options, std::move(pixels), w, h, context.allSourcesZov2);
    layout->addWidget(preview_, 2, 0, 1, 2);
  }
  layout->setRowStretch(1, 1);

  connect(add_, &QPushButton::clicked, this, [this] { addFilter(); });
  connect(insert_, &QPushButton::clicked, this, [this] { insertFilter(); });
  connect(edit_, &QPushButton::clicked, this, [this] { editFilter(); });
  connect(delete_, &QPushButton::clicked, this, [this] { deleteFilter(); });
  connect(list_, &QListWidget::currentRowChanged, this, [this](int row) {
    if (!showing_) model_.select(row);
  });
  showModel();
  if (preview_) preview_->setFilters(model_.list());
}

void FilterPage::showModel() {
  showing_ = true;
  list_->clear();
  for (const std::string& line : model_.lines()) list_->addItem(QString::fromStdString(line));
  list_->setCurrentRow(model_.selected());
  showing_ = false;
}

void FilterPage::addFilter() {
  int32_t result = selectFilter(this);
  if (result < 0) return;
  model_.add(result);
  showModel();
  if (preview_) preview_->setFilters(model_.list());
}

void FilterPage::insertFilter() {
  if (!model_.canInsert()) return;
  int32_t result = selectFilter(this);
  if (result < 0) return;
  model_.insert(result);
  showModel();
  if (preview_) preview_->setFilters(model_.list());
}

void FilterPage::editFilter() {
  int index = model_.selected();
  if (index < 0 || size_t(index) >= model_.list().size()) return;
  int32_t level = editLevel(this, model_.list()[size_t(index)].kind);
  if (!model_.edit(level)) return;
  showModel();
  if (preview_) preview_->setFilters(model_.list());
}

void FilterPage::deleteFilter() {
  if (model_.list().size() == 1 && copy_.zov2()) return;  // the reset keeps a ZOV2 list
  model_.remove();
  showModel();
  if (preview_) preview_->setFilters(model_.list());
}

void FilterPage::store() {
  copy_.filters = model_.list();
}

bool FilterPage::resetOnScreen() {
  if (copy_.zov2()) return true;
  model_.reset();
  showModel();
  if (preview_) preview_->setFilters(model_.list());
  return true;
}

}  // namespace zov

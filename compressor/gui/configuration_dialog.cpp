#include "compressor/gui/configuration_dialog.h"

#include <QHBoxLayout>
#include <QPushButton>
#include <QShortcut>
#include <QTabBar>
#include <QTimer>
#include <QVBoxLayout>
#include <vector>

#include "compressor/gui/config_page.h"
#include "compressor/gui/config_working_copy.h"
#include "platform/ui.h"

namespace zov {

int askCompressionPreset(QWidget* parent) {
  QDialog dialog(parent);
  dialog.setWindowTitle("Compression Defaults");
  auto* layout = new QVBoxLayout(&dialog);
  const char* texts[] = {"Restore To Defaults for &Video",
                         "Restore to Defaults for &Smoke/Clouds/Rain",
                         "Restore To Defaults for &Animation"};
  for (int preset = 0; preset < 3; ++preset) {
    auto* button = new QPushButton(texts[preset], &dialog);
    layout->addWidget(button);
    QObject::connect(button, &QPushButton::clicked, &dialog,
                     [&dialog, preset] { dialog.done(100 + preset); });
  }
  auto* cancel = new QPushButton("Cancel", &dialog);
  layout->addWidget(cancel);
  QObject::connect(cancel, &QPushButton::clicked, &dialog, &QDialog::reject);
  int result = dialog.exec();
  return result >= 100 ? result - 100 : -1;
}

ConfigurationDialog::ConfigurationDialog(QWidget* parent, const ConfigurationContext& context)
    : QDialog(parent),
      context_(context),
      copy_(
          std::make_unique<ConfigWorkingCopy>(*context.settings, *context.options, context.source)),
      presetQuestion_(askCompressionPreset) {
  setWindowTitle("Compressor Configuration [Tessel Studio LE - 4.11]");
  auto* layout = new QVBoxLayout(this);
  tabs_ = new QTabBar(this);
  tabs_->setExpanding(false);
  tabs_->setUsesScrollButtons(false);  // all eight tabs stay in sight
  for (const ConfigPageInfo& info : kConfigPages) {
    // A tab shows "&&" as one ampersand, as the page's text means it.
    tabs_->addTab(info.tabText);
  }
  layout->addWidget(tabs_);
  auto* frame = new QWidget(this);
  frame->setObjectName("pageArea");
  pageArea_ = new QVBoxLayout(frame);
  pageArea_->setContentsMargins(8, 8, 8, 8);
  layout->addWidget(frame, 1);

  auto* buttons = new QHBoxLayout;
  ok_ = new QPushButton("Ok!", this);
  cancel_ = new QPushButton("Cancel", this);
  restorePage_ = new QPushButton("&Restore page to defaults", this);
  restoreAll_ = new QPushButton("Restore ALL pages to &defaults", this);
  for (QPushButton* b : {ok_, cancel_, restorePage_, restoreAll_}) {
    b->setAutoDefault(false);
    buttons->addWidget(b, 1);
  }
  ok_->setDefault(true);
  layout->addLayout(buttons);
  connect(ok_, &QPushButton::clicked, this, &ConfigurationDialog::onOk);
  connect(cancel_, &QPushButton::clicked, this, &ConfigurationDialog::onCancel);
  connect(restorePage_, &QPushButton::clicked, this, &ConfigurationDialog::onRestorePage);
  connect(restoreAll_, &QPushButton::clicked, this, &ConfigurationDialog::onRestoreAll);

  // The page area takes the size of the largest page, so the dialog keeps one size.
  QSize largest;
  for (int index = 0; index < kConfigPageCount; ++index) {
    std::unique_ptr<ConfigPage> probe(
        createConfigPage(index, frame, *copy_, context_, [](QWidget*) { return -1; }));
    largest = largest.expandedTo(probe->sizeHint());
  }
  frame->setMinimumSize(largest.grownBy(pageArea_->contentsMargins()));

  int start = int(context.options->TabSettingsLastActive);
  if (start < 0 || start >= kConfigPageCount) start = 0;
  switching_ = true;
  tabs_->setCurrentIndex(start);
  switching_ = false;
  showPage(start);
  connect(tabs_, &QTabBar::currentChanged, this, &ConfigurationDialog::onTabChanged);

  // Ctrl+Tab and Ctrl+Shift+Tab (and Ctrl+PageDown / Ctrl+PageUp) step through the pages, round
  // at the ends, with the same check as a click on a tab.
  auto step = [this](int by) {
    selectPage((pageIndex_ + by + kConfigPageCount) % kConfigPageCount);
    if (page_) QTimer::singleShot(0, tabs_, [this] { tabs_->setFocus(Qt::TabFocusReason); });
  };
  const QKeySequence next[] = {QKeySequence(Qt::CTRL | Qt::Key_Tab),
                               QKeySequence(Qt::CTRL | Qt::Key_PageDown)};
  const QKeySequence previous[] = {QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Backtab),
                                   QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Tab),
                                   QKeySequence(Qt::CTRL | Qt::Key_Backtab),
                                   QKeySequence(Qt::CTRL | Qt::Key_PageUp)};
  for (const QKeySequence& key : next)
    connect(new QShortcut(key, this), &QShortcut::activated, this, [step] { step(1); });
  for (const QKeySequence& key : previous)
    connect(new QShortcut(key, this), &QShortcut::activated, this, [step] { step(-1); });
}

ConfigurationDialog::~ConfigurationDialog() = default;

void ConfigurationDialog::setPresetQuestion(PresetQuestion question) {
  presetQuestion_ = std::move(question);
  // The compression page asks through the dialog's question; recreate it to pick up the new one.
  if (pageIndex_ == kPageCompression) {
    destroyPage();
    showPage(kPageCompression);
  }
}

void ConfigurationDialog::showPage(int index) {
  page_ = createConfigPage(index, this, *copy_, context_,
                           [this](QWidget* parent) { return presetQuestion_(parent); });
  pageArea_->addWidget(page_);
  page_->show();
  orderTabStops();
  pageIndex_ = index;
  context_.options->TabSettingsLastActive = uint32_t(index);
}

void ConfigurationDialog::orderTabStops() {
  // A new page's controls join the focus chain at its end: Tab goes from the tabs through the
  // page, in the page's own order, to the dialog's buttons.
  std::vector<QWidget*> stops;
  for (QWidget* w = page_->nextInFocusChain(); w != page_; w = w->nextInFocusChain()) {
    if (!page_->isAncestorOf(w)) continue;
    if (w->focusPolicy() & Qt::TabFocus) stops.push_back(w);
  }
  stops.push_back(ok_);
  QWidget* before = tabs_;
  for (QWidget* w : stops) {
    setTabOrder(before, w);
    before = w;
  }
  setTabOrder(ok_, cancel_);
  setTabOrder(cancel_, restorePage_);
  setTabOrder(restorePage_, restoreAll_);
}

void ConfigurationDialog::destroyPage() {
  if (!page_) return;
  page_->store();
  pageArea_->removeWidget(page_);
  delete page_;
  page_ = nullptr;
}

bool ConfigurationDialog::selectPage(int index) {
  if (index == pageIndex_) return true;
  if (!page_->validate()) {
    switching_ = true;
    tabs_->setCurrentIndex(pageIndex_);
    switching_ = false;
    return false;
  }
  destroyPage();
  switching_ = true;
  tabs_->setCurrentIndex(index);
  switching_ = false;
  showPage(index);
  return true;
}

void ConfigurationDialog::onTabChanged(int index) {
  if (switching_) return;
  selectPage(index);
}

void ConfigurationDialog::onOk() {
  if (!page_->validate()) return;
  destroyPage();
  copy_->commit(*context_.settings, *context_.options, context_.source);
  done(1);
}

void ConfigurationDialog::onCancel() {
  reject();
}

void ConfigurationDialog::onRestorePage() {
  page_->resetOnScreen();
}

void ConfigurationDialog::onRestoreAll() {
  // The compression page first: its preset question may cancel everything.
  if (pageIndex_ == kPageCompression) {
    if (!page_->resetOnScreen()) return;
  } else if (!copy_->zov2()) {
    int preset = presetQuestion_(this);
    if (preset < 0) return;
    copy_->applyPreset(preset);
  }
  for (int index : kRestoreAllOrder) {
    if (index == pageIndex_) {
      page_->resetOnScreen();
    } else {
      copy_->resetPage(index);
    }
  }
}

int runConfigurationDialog(QWidget* parent, const ConfigurationContext& context, int startPage) {
  if (startPage >= 0 && startPage < kConfigPageCount) {
    context.options->TabSettingsLastActive = uint32_t(startPage);
  }
  std::unique_ptr<ConfigurationDialog> dialog;
  try {
    dialog = std::make_unique<ConfigurationDialog>(parent, context);
  } catch (const std::bad_alloc&) {
    messageBox(parent, "CFG0013E Unable to allocate memory (TabSettingsStruct)", "ZOV Compressor",
               MB_OK | MB_ICONSTOP);
    return 0;
  }
  return dialog->exec() == 1 ? 1 : 0;
}

}  // namespace zov

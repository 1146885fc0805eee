// The network source's modeless progress dialogs: "Loading Video..." (bar 4117), kept up while
// the source connects, fetches the movie's index and fills its cache, with Cancel ending that
// load; and the cache status (bar 4118), which asks the source for its state every second
// until it is closed.
#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QTimer>
#include <QVBoxLayout>
#include <algorithm>

#include "platform/qt/codec_forms.h"
#include "platform/qt/form_support.h"
#include "zov/zev_dialogs.h"

namespace zov::qtforms {

namespace {

class ProgressForm : public ModelessDialog {
 public:
  ProgressForm(QWidget* parent, network::ProgressDialogData& data, const char* caption,
               const QString& text)
      : ModelessDialog(parent), data_(data) {
    setWindowTitle(QString::fromUtf8(caption));
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(new QLabel(text, this));
    bar_ = withId(new QProgressBar(this), data.bar);
    bar_->setMinimumWidth(240);
    layout->addWidget(bar_);
  }

  void refresh() override {
    bar_->setRange(0, std::max(1, data_.rangeMax.load()));
    bar_->setValue(std::clamp(data_.position.load(), 0, bar_->maximum()));
  }

 protected:
  network::ProgressDialogData& data_;
  QProgressBar* bar_;
};

// Cancel, Escape and closing the window all tell the source to stop loading.
class LoadingForm : public ProgressForm {
 public:
  using ProgressForm::ProgressForm;
  void reject() override {
    data_.cancelled = true;
    ProgressForm::reject();
  }
};

}  // namespace

ModelessDialog* loadingForm(QWidget* parent, DialogData& data) {
  auto* progress = dynamic_cast<network::ProgressDialogData*>(&data);
  if (!progress) return nullptr;
  auto* form = new LoadingForm(parent, *progress, network::kLoadingDialog,
                               QStringLiteral("Fetching the movie from its site..."));
  if (progress->cancellable) {
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    auto* cancel = withId(new QPushButton(QStringLiteral("Cancel"), form), IDCANCEL);
    QObject::connect(cancel, &QPushButton::clicked, form, &QDialog::reject);
    buttons->addWidget(cancel);
    static_cast<QVBoxLayout*>(form->layout())->addLayout(buttons);
  }
  // The program waits for the movie meanwhile: no other window takes input.
  form->setWindowModality(Qt::ApplicationModal);
  return form;
}

ModelessDialog* cacheStatusForm(QWidget* parent, DialogData& data) {
  auto* progress = dynamic_cast<network::ProgressDialogData*>(&data);
  if (!progress) return nullptr;
  auto* form = new ProgressForm(parent, *progress, "Orvane Network Cache",
                                QStringLiteral("Movie data cached ahead of the play position:"));
  auto* buttons = new QHBoxLayout;
  buttons->addStretch();
  buttons->addWidget(endButton(form, QStringLiteral("Close"), IDOK));
  static_cast<QVBoxLayout*>(form->layout())->addLayout(buttons);
  if (progress->refreshMs > 0) {
    auto* timer = new QTimer(form);
    QObject::connect(timer, &QTimer::timeout, form, [form, progress] {
      if (progress->refresh) progress->refresh();
      form->refresh();
    });
    timer->start(progress->refreshMs);
  }
  return form;
}

}  // namespace zov::qtforms

// Dialog 104, "ZOV Configuration": the windowed and fullscreen output methods (radio groups),
// the minimum fullscreen resolution, "Use Hardware Scaling" and the advanced options. The record
// decides every control's state; the form forwards clicks and shows the states again.
#include <QCheckBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QRadioButton>
#include <QVBoxLayout>
#include <map>

#include "format/output_method.h"
#include "platform/qt/codec_forms.h"
#include "platform/qt/form_support.h"
#include "platform/qt/qt_platform.h"
#include "zov/zovcod32_dialogs.h"

namespace zov::qtforms {

namespace {

using Data = codec::ConfigurationDialogData;

// The method groups of one column, by caption: first and last method.
struct MethodGroup {
  const char* caption;
  int first, last;
};
constexpr MethodGroup kMethodGroups[] = {
    {"32K/64K Mode (HiColor) Methods:", 0, 6},
    {"256 Color Mode (Palettized) Methods:", 7, 8},
    {"256 Color Mode (Grayscale) Methods:", 9, 12},
};
constexpr const char* kResolutions[] = {"320 x 200", "640 x 400", "640 x 480", "800 x 600",
                                        "1024 x 768"};

// Owned by its dialog.
class ConfigurationForm : public QObject {
 public:
  ConfigurationForm(QDialog* dialog, Data& data) : QObject(dialog), dialog_(dialog), data_(data) {}

  QGroupBox* methodColumn(const char* title, int firstId) {
    auto* column = new QGroupBox(QString::fromUtf8(title), dialog_);
    auto* layout = new QVBoxLayout(column);
    for (const MethodGroup& group : kMethodGroups) {
      auto* box = new QGroupBox(QString::fromUtf8(group.caption), column);
      auto* inner = new QVBoxLayout(box);
      for (int m = group.first; m <= group.last; ++m)
        inner->addWidget(radio(box, QString::fromUtf8(methodInfo(m).label), firstId + m));
      layout->addWidget(box);
    }
    layout->addStretch(1);  // the groups keep their own height when the column is taller
    return column;
  }

  QGroupBox* resolutionGroup() {
    auto* box = new QGroupBox(QStringLiteral("Minimum Fullscreen Resolution:"), dialog_);
    auto* layout = new QVBoxLayout(box);
    for (int r = 0; r < 5; ++r)
      layout->addWidget(radio(box, QString::fromUtf8(kResolutions[r]), Data::kResolutionFirst + r));
    return box;
  }

  QCheckBox* useHardware() {
    auto* check =
        withId(new QCheckBox(QStringLiteral("&Use Hardware Scaling (if available)"), dialog_),
               Data::kUseHardware);
    buttons_[Data::kUseHardware] = check;
    QObject::connect(check, &QCheckBox::clicked, dialog_, [this](bool checked) {
      data_.setUseHardware(checked);
      refresh();
    });
    return check;
  }

  QPushButton* advanced() {
    auto* button =
        withId(new QPushButton(QStringLiteral("&Advanced Options..."), dialog_), Data::kAdvanced);
    QObject::connect(button, &QPushButton::clicked, dialog_,
                     [this] { data_.openAdvanced(toHandle(dialog_)); });
    return button;
  }

  // Shows the record's control states.
  void refresh() {
    for (auto& [id, button] : buttons_) {
      const codec::ControlState& state = data_.controls[id];
      button->setChecked(state.checked);
      button->setEnabled(state.enabled);
    }
  }

 private:
  QRadioButton* radio(QWidget* parent, const QString& text, int id) {
    auto* button = withId(new QRadioButton(text, parent), id);
    // The record keeps each group exclusive; Qt's own grouping would stop at the group boxes.
    button->setAutoExclusive(false);
    buttons_[id] = button;
    QObject::connect(button, &QRadioButton::clicked, dialog_, [this, id] {
      data_.select(id);
      refresh();
    });
    return button;
  }

  QDialog* dialog_;
  Data& data_;
  std::map<int, QAbstractButton*> buttons_;
};

}  // namespace

QDialog* configurationForm(QWidget* parent, DialogData& data) {
  auto* configuration = dynamic_cast<Data*>(&data);
  if (!configuration) return nullptr;
  QDialog* dialog = newDialog(parent, codec::kConfigurationDialog);
  auto* form = new ConfigurationForm(dialog, *configuration);

  auto* layout = new QVBoxLayout(dialog);
  auto* columns = new QHBoxLayout;
  columns->addWidget(form->methodColumn("Windowed Playback", Data::kWindowedFirst));
  auto* right = new QVBoxLayout;
  right->addWidget(form->methodColumn("Fullscreen Playback", Data::kFullscreenFirst));
  right->addWidget(form->resolutionGroup());
  columns->addLayout(right);
  layout->addLayout(columns);
  layout->addWidget(form->useHardware());
  addOkCancel(layout, dialog, QStringLiteral("Ok!"), true, form->advanced());
  form->refresh();
  return dialog;
}

}  // namespace zov::qtforms

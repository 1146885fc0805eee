// Dialog 105, "ZOV Advanced Configuration": the video adapter list, five check boxes, the gamma
// and brightness scroll bars with their values, and the reset button. The record clamps and
// formats; the form forwards each scroll action and shows the record's positions and texts.
#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QScrollBar>
#include <QVBoxLayout>

#include "platform/qt/codec_forms.h"
#include "platform/qt/form_support.h"
#include "zov/zovcod32_dialogs.h"

namespace zov::qtforms {

namespace {

using Data = codec::AdvancedDialogData;

// Owned by its dialog.
class AdvancedForm : public QObject {
 public:
  AdvancedForm(QDialog* dialog, Data& data) : QObject(dialog), dialog_(dialog), data_(data) {}

  QWidget* adapterList() {
    auto* box = new QGroupBox(QStringLiteral("Video Adapter Type"), dialog_);
    auto* layout = new QVBoxLayout(box);
    auto* list = withId(new QComboBox(box), Data::kAdapterList);
    for (int i = 0; i < Data::adapterCount(); ++i)
      list->addItem(QString::fromUtf8(Data::adapterName(i)));
    list->setCurrentIndex(data_.adapterSelection);
    list->setEnabled(data_.controls[Data::kAdapterList].enabled);
    connect(list, &QComboBox::activated, this,
            [this](int index) { data_.adapterSelection = index; });
    layout->addWidget(list);
    auto* detect = withId(new QPushButton(QStringLiteral("&Detect Video Chipset..."), box),
                          Data::kDetectChipset);
    detect->setEnabled(data_.controls[Data::kDetectChipset].enabled);
    layout->addWidget(detect);
    return box;
  }

  QCheckBox* check(const char* text, int id) {
    auto* box = withId(new QCheckBox(QString::fromUtf8(text), dialog_), id);
    box->setChecked(data_.controls[id].checked);
    connect(box, &QCheckBox::toggled, this, [this, id](bool on) { data_.setCheck(id, on); });
    return box;
  }

  // A scroll bar with its value text beside it, in a row of grid.
  void toneRow(QGridLayout* grid, int row, const char* caption, int bar, int text, int limit) {
    grid->addWidget(new QLabel(QString::fromUtf8(caption), dialog_), row, 0);
    auto* scroll = withId(new QScrollBar(Qt::Horizontal, dialog_), bar);
    scroll->setRange(-limit, limit);
    scroll->setSingleStep(1);
    scroll->setPageStep(4);
    scroll->setMinimumWidth(160);
    connect(scroll, &QScrollBar::actionTriggered, this,
            [this, scroll, bar](int action) { forward(scroll, bar, action); });
    grid->addWidget(scroll, row, 1);
    auto* value = withId(new QLabel(dialog_), text);
    value->setMinimumWidth(value->fontMetrics().horizontalAdvance(QStringLiteral("-3.00")) + 4);
    grid->addWidget(value, row, 2);
  }

  QPushButton* reset() {
    auto* button = withId(new QPushButton(QStringLiteral("Reset &Gamma && Brightness"), dialog_),
                          Data::kResetTone);
    connect(button, &QPushButton::clicked, this, [this] {
      data_.resetTone();
      refreshTone();
    });
    return button;
  }

  void refreshTone() {
    control<QScrollBar>(dialog_, Data::kGammaBar)->setSliderPosition(data_.gammaPosition);
    control<QScrollBar>(dialog_, Data::kBrightnessBar)->setSliderPosition(data_.brightnessPosition);
    control<QLabel>(dialog_, Data::kGammaText)->setText(qs(data_.controls[Data::kGammaText].text));
    control<QLabel>(dialog_, Data::kBrightnessText)
        ->setText(qs(data_.controls[Data::kBrightnessText].text));
  }

 private:
  void forward(QScrollBar* scroll, int bar, int action) {
    switch (action) {
      case QAbstractSlider::SliderSingleStepSub:
        data_.scroll(bar, Data::Scroll::LineUp);
        break;
      case QAbstractSlider::SliderSingleStepAdd:
        data_.scroll(bar, Data::Scroll::LineDown);
        break;
      case QAbstractSlider::SliderPageStepSub:
        data_.scroll(bar, Data::Scroll::PageUp);
        break;
      case QAbstractSlider::SliderPageStepAdd:
        data_.scroll(bar, Data::Scroll::PageDown);
        break;
      case QAbstractSlider::SliderMove:
        data_.scroll(bar, Data::Scroll::Thumb, scroll->sliderPosition());
        break;
      default:
        return;
    }
    refreshTone();
  }

  QDialog* dialog_;
  Data& data_;
};

}  // namespace

QDialog* advancedForm(QWidget* parent, DialogData& data) {
  auto* advanced = dynamic_cast<Data*>(&data);
  if (!advanced) return nullptr;
  QDialog* dialog = newDialog(parent, codec::kAdvancedDialog);
  auto* form = new AdvancedForm(dialog, *advanced);
  auto* layout = new QVBoxLayout(dialog);
  layout->addWidget(form->adapterList());
  layout->addWidget(form->check("&Optimize for No Cache", Data::kNoCache));
  layout->addWidget(form->check("Disable Auto-&Resizing", Data::kDisableAutoResizing));
  layout->addWidget(form->check("&Save Video State", Data::kSaveVideoState));
  layout->addWidget(form->check("&Maximum Video Quality", Data::kInterpolate));
  layout->addWidget(form->check("Disable &Linear Video", Data::kDisableLinearVideo));
  auto* tone = new QGroupBox(QStringLiteral("Gamma && Brightness"), dialog);
  auto* grid = new QGridLayout(tone);
  form->toneRow(grid, 0, "Gamma:", Data::kGammaBar, Data::kGammaText, 40);
  form->toneRow(grid, 1, "Brightness:", Data::kBrightnessBar, Data::kBrightnessText, 15);
  grid->addWidget(form->reset(), 2, 0, 1, 3, Qt::AlignLeft);
  layout->addWidget(tone);
  form->refreshTone();
  addOkCancel(layout, dialog, QStringLiteral("Ok!"));
  return dialog;
}

}  // namespace zov::qtforms

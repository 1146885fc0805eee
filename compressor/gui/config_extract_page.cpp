// Page 0, "Extraction && Cropping": the current source's frame range, crop rectangle, letterbox,
// resize and field stripping, checked by the engine's extraction check when the page is left.
#include <QCheckBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QRadioButton>
#include <QVBoxLayout>
#include <algorithm>

#include "compressor/gui/config_page.h"
#include "compressor/gui/config_working_copy.h"
#include "compressor/settings_validation.h"
#include "media/source_file.h"
#include "platform/ui.h"

namespace zov {

namespace {

const char* const kFieldLabels[kExtractionFieldCount] = {
    "(Key) First frame:",
    "Last frame:",
    "Number of columns to remove from the left of the video:",
    "Number of lines to remove from the top of the video:",
    "Total resulting width of the cropped video:",
    "Total resulting height of the cropped video:",
    "Number of black lines to ADD above the video:",
    "Number of black lines to ADD below the video:",
    "Resize width (0 = as is):",
    "Resize height (0 = as is):",
};
const char* const kFieldNames[kExtractionFieldCount] = {
    "firstFrame", "lastFrame",    "cropLeft",        "cropTop",     "cropWidth",
    "cropHeight", "letterBoxTop", "letterBoxBottom", "resizeWidth", "resizeHeight",
};

class ExtractCropPage : public ConfigPage {
 public:
  ExtractCropPage(QWidget* parent, ConfigWorkingCopy& copy) : ConfigPage(parent, copy) {
    auto* layout = new QGridLayout(this);
    for (int i = 0; i < kExtractionFieldCount; ++i) {
      labels_[i] = new QLabel(kFieldLabels[i], this);
      edits_[i] = new DigitsEdit(this);
      edits_[i]->setObjectName(kFieldNames[i]);
      edits_[i]->setMaximumWidth(90);
      labels_[i]->setBuddy(edits_[i]);
      layout->addWidget(labels_[i], i, 0);
      layout->addWidget(edits_[i], i, 1);
      connect(edits_[i], &QLineEdit::textChanged, this, [this] { updateInformation(); });
    }
    interpolate_ = new QCheckBox("&Interpolate (smoothen)", this);
    layout->addWidget(interpolate_, kExtractionFieldCount, 1);

    auto* strip = new QGroupBox(this);
    auto* stripLayout = new QVBoxLayout(strip);
    const char* stripTexts[] = {"&No Field Stripping", "Strip &Odd Fields", "Strip &Even Fields"};
    for (int i = 0; i < 3; ++i) {
      strip_[i] = new QRadioButton(stripTexts[i], strip);
      stripLayout->addWidget(strip_[i]);
      connect(strip_[i], &QRadioButton::clicked, this, [this] { updateInformation(); });
    }
    layout->addWidget(strip, 0, 2, 4, 2);

    const char* infoTexts[] = {"Total Frames:", "Source Width:", "Source Height",
                               "Target Width:", "Target Height"};
    for (int i = 0; i < 5; ++i) {
      layout->addWidget(new QLabel(infoTexts[i], this), 4 + i, 2);
      info_[i] = new QLabel(this);
      info_[i]->setObjectName(QString("info%1").arg(i));
      layout->addWidget(info_[i], 4 + i, 3);
    }
    layout->setColumnStretch(4, 1);
    layout->setRowStretch(kExtractionFieldCount + 1, 1);

    if (copy.source()) source_ = extractionSourceOf(*copy.source());
    info_[0]->setText(QString::number(source_.frameCount));
    info_[1]->setText(QString::number(source_.width));
    info_[2]->setText(QString::number(source_.height));
    fill(copy.extraction);
    setEnabled(copy.source() != nullptr);
  }

  void store() override {
    if (!copy_.source()) return;
    copy_.extraction.values = extractionValuesOf(texts(), stripType());
    copy_.extraction.ResizeInterpolate = interpolate_->isChecked();
  }

  bool validate() override {
    if (!copy_.source()) return true;
    ExtractionCheck check = validateExtraction(texts(), stripType(), source_);
    if (check.passed) return true;
    QLineEdit* field = edits_[int(check.focus)];
    if (check.correction) field->setText(QString::number(*check.correction));
    messageBox(this, check.message, "ZOV Compressor", MB_OK | MB_ICONSTOP);
    field->setFocus();
    field->selectAll();
    return false;
  }

  bool resetOnScreen() override {
    if (!copy_.source()) return true;
    SourceExtraction e;
    e.values.firstFrame = 1;
    e.values.lastFrame = std::max<uint32_t>(source_.frameCount, 1);
    e.values.cropWidth = source_.width;
    e.values.cropHeight = source_.height;
    e.ResizeInterpolate = true;  // the rest: 0 and no field stripping
    fill(e);
    return true;
  }

 private:
  void fill(const SourceExtraction& e) {
    for (int i = 0; i < kExtractionFieldCount; ++i) {
      edits_[i]->setNumber(e.values[ExtractionField(i)]);
    }
    interpolate_->setChecked(e.ResizeInterpolate);
    strip_[e.values.stripType <= 2 ? e.values.stripType : 0]->setChecked(true);
    updateInformation();
  }

  ExtractionTexts texts() const {
    ExtractionTexts t;
    for (int i = 0; i < kExtractionFieldCount; ++i) t[i] = edits_[i]->text().toStdString();
    return t;
  }

  uint32_t stripType() const {
    for (uint32_t i = 0; i < 3; ++i) {
      if (strip_[i]->isChecked()) return i;
    }
    return 0;
  }

  void updateInformation() {
    if (!strip_[0]) return;  // still building the page
    labels_[0]->setText(
        QString::fromStdString(firstFrameLabel(edits_[0]->text().toStdString(), source_)));
    ExtractionValues v = extractionValuesOf(texts(), stripType());
    info_[3]->setText(QString::number(targetWidth(v)));
    info_[4]->setText(QString::number(targetHeight(v)));
  }

  ExtractionSource source_;
  QLabel* labels_[kExtractionFieldCount] = {};
  DigitsEdit* edits_[kExtractionFieldCount] = {};
  QCheckBox* interpolate_ = nullptr;
  QRadioButton* strip_[3] = {};
  QLabel* info_[5] = {};
};

}  // namespace

ConfigPage* createExtractCropPage(QWidget* parent, ConfigWorkingCopy& copy) {
  return new ExtractCropPage(parent, copy);
}

}  // namespace zov

// Pages 4 to 7: "Video Data Rate", "File Size Cutoff", "Audio Options" and "CD-ROM Padding".
#include <QButtonGroup>
#include <QCheckBox>
#include <QGridLayout>
#include <QLabel>
#include <QRadioButton>
#include <QVBoxLayout>

#include "compressor/gui/config_page.h"
#include "compressor/gui/config_working_copy.h"

namespace zov {

namespace {

class DataRatePage : public ConfigPage {
 public:
  DataRatePage(QWidget* parent, ConfigWorkingCopy& copy) : ConfigPage(parent, copy) {
    auto* layout = new QGridLayout(this);
    layout->addWidget(new QLabel("Data Rate (KB per second, 0 = no limit):", this), 0, 0);
    rate_ = new DigitsEdit(this);
    rate_->setObjectName("dataRate");
    rate_->setMaximumWidth(90);
    layout->addWidget(rate_, 0, 1);
    force_ = new QCheckBox("&Force Key Frame", this);
    layout->addWidget(force_, 1, 0, 1, 2);
    forcePercent_ =
        addLevelRow(layout, 2, "Force Key Frame If Below Percent", "forceKeyFramePercent", 0, 100);
    increase_ = new QCheckBox("&Increase Key Rate", this);
    layout->addWidget(increase_, 3, 0, 1, 2);
    increasePercent_ = addLevelRow(layout, 4, "Increase Key Rate If Above Percent",
                                   "increaseKeyRatePercent", 0, 100);
    increaseValue_ = addLevelRow(layout, 5, "Key Rate Value", "increaseKeyRateValue", 0, 100);
    layout->setRowStretch(6, 1);
    fill();
  }

  void store() override {
    CompressionSettings& s = copy_.settings;
    // Typed in kilobytes; the largest value that still fits the record's bytes.
    uint64_t bytes = uint64_t(rate_->number()) * 1024;
    s.DataRate = uint32_t(std::min<uint64_t>(bytes, 0xFFFFFC00u));
    s.ForceKeyFrame = force_->isChecked();
    s.ForceKeyFramePercent = uint32_t(forcePercent_->value());
    s.IncreaseKeyRate = increase_->isChecked();
    s.IncreaseKeyRatePercent = uint32_t(increasePercent_->value());
    s.IncreaseKeyRateValue = uint32_t(increaseValue_->value());
    s.DataRateControl = s.DataRate != 0 || s.ForceKeyFrame || s.IncreaseKeyRate;
  }

  bool resetOnScreen() override {
    copy_.resetDataRate();
    fill();
    return true;
  }

 private:
  void fill() {
    const CompressionSettings& s = copy_.settings;
    rate_->setNumber(s.DataRate / 1024);
    force_->setChecked(s.ForceKeyFrame);
    forcePercent_->setValue(int(s.ForceKeyFramePercent));
    increase_->setChecked(s.IncreaseKeyRate);
    increasePercent_->setValue(int(s.IncreaseKeyRatePercent));
    increaseValue_->setValue(int(s.IncreaseKeyRateValue));
    setEnabled(!copy_.zov2());
  }

  DigitsEdit* rate_;
  QCheckBox* force_;
  LevelBar* forcePercent_;
  QCheckBox* increase_;
  LevelBar* increasePercent_;
  LevelBar* increaseValue_;
};

class CutOffPage : public ConfigPage {
 public:
  CutOffPage(QWidget* parent, ConfigWorkingCopy& copy) : ConfigPage(parent, copy) {
    auto* layout = new QGridLayout(this);
    layout->addWidget(
        new QLabel("Stop compressing when the file reaches this size in KB (0 = no maximum):",
                   this),
        0, 0);
    limit_ = new DigitsEdit(this);
    limit_->setObjectName("cutOffKBLimit");
    limit_->setMaximumWidth(90);
    layout->addWidget(limit_, 0, 1);
    notify_ = new QCheckBox("&Only report the frame number when the size is reached", this);
    layout->addWidget(notify_, 1, 0, 1, 2);
    layout->setRowStretch(2, 1);
    layout->setColumnStretch(2, 1);
    fill();
  }
  void store() override {
    copy_.options.CutOffKBLimit = limit_->number();
    copy_.options.CutOffKBLimitNotify = notify_->isChecked();
  }
  bool resetOnScreen() override {
    copy_.resetCutOff();
    fill();
    return true;
  }

 private:
  void fill() {
    limit_->setNumber(copy_.options.CutOffKBLimit);
    notify_->setChecked(copy_.options.CutOffKBLimitNotify);
  }
  DigitsEdit* limit_;
  QCheckBox* notify_;
};

class AudioPage : public ConfigPage {
 public:
  AudioPage(QWidget* parent, ConfigWorkingCopy& copy) : ConfigPage(parent, copy) {
    auto* layout = new QVBoxLayout(this);
    noAudio_ = new QCheckBox("&No Audio", this);
    mono_ = new QCheckBox("Convert Stereo to &Mono", this);
    eightBit_ = new QCheckBox("&Convert 16-bit to 8-bit", this);
    for (QCheckBox* c : {noAudio_, mono_, eightBit_}) layout->addWidget(c);
    rates_ = new QButtonGroup(this);
    const char* texts[] = {"Do not &downsample", "Downsample to &22050Hz",
                           "Downsample to &11025Hz"};
    for (int i = 0; i < 3; ++i) {
      auto* b = new QRadioButton(texts[i], this);
      rates_->addButton(b, i);
      layout->addWidget(b);
    }
    layout->addStretch(1);
    fill();
  }
  void store() override {
    ConfigOptions& o = copy_.options;
    o.NoAudio = noAudio_->isChecked();
    o.MixToMono = mono_->isChecked();
    o.Make8Bit = eightBit_->isChecked();
    int id = rates_->checkedId();
    o.SampleRate = id == 1 ? 22050 : id == 2 ? 11025 : 0;
  }
  bool resetOnScreen() override {
    copy_.resetAudio();
    fill();
    return true;
  }

 private:
  void fill() {
    const ConfigOptions& o = copy_.options;
    noAudio_->setChecked(o.NoAudio);
    mono_->setChecked(o.MixToMono);
    eightBit_->setChecked(o.Make8Bit);
    rates_->button(o.SampleRate == 22050 ? 1 : o.SampleRate == 11025 ? 2 : 0)->setChecked(true);
  }
  QCheckBox* noAudio_;
  QCheckBox* mono_;
  QCheckBox* eightBit_;
  QButtonGroup* rates_;
};

class PaddingPage : public ConfigPage {
 public:
  PaddingPage(QWidget* parent, ConfigWorkingCopy& copy) : ConfigPage(parent, copy) {
    auto* layout = new QVBoxLayout(this);
    target_ = new QCheckBox("&CD-ROM Target", this);
    layout->addWidget(target_);
    layout->addStretch(1);
    target_->setChecked(copy.options.CDROMTarget);
  }
  void store() override { copy_.options.CDROMTarget = target_->isChecked(); }
  bool resetOnScreen() override {
    copy_.resetPadding();
    target_->setChecked(false);
    return true;
  }

 private:
  QCheckBox* target_;
};

}  // namespace

ConfigPage* createDataRatePage(QWidget* parent, ConfigWorkingCopy& copy) {
  return new DataRatePage(parent, copy);
}
ConfigPage* createCutOffPage(QWidget* parent, ConfigWorkingCopy& copy) {
  return new CutOffPage(parent, copy);
}
ConfigPage* createAudioPage(QWidget* parent, ConfigWorkingCopy& copy) {
  return new AudioPage(parent, copy);
}
ConfigPage* createPaddingPage(QWidget* parent, ConfigWorkingCopy& copy) {
  return new PaddingPage(parent, copy);
}

}  // namespace zov

// Page 2, "Video Compression": colour space, fields, interframe detection, noise reduction,
// image loss, key rate and the switches beside them.
#include <QButtonGroup>
#include <QCheckBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QRadioButton>
#include <QVBoxLayout>

#include "compressor/gui/config_page.h"
#include "compressor/gui/config_working_copy.h"

namespace zov {

namespace {

const char* const kColourSpaces[] = {"RGB", "YCrCb 4:2:2", "YCrCb 4:1:1", "YCrCb 8:1:1",
                                     "YCrCb 16:1:1"};
const char* const kFieldOptions[] = {"&Normal", "&Single Field Only", "&Wide Field"};

class CompressionPage : public ConfigPage {
 public:
  CompressionPage(QWidget* parent, ConfigWorkingCopy& copy, std::function<int(QWidget*)> ask)
      : ConfigPage(parent, copy), ask_(std::move(ask)) {
    auto* layout = new QGridLayout(this);
    colourGroup_ = new QGroupBox("Colour Space", this);
    auto* colourLayout = new QVBoxLayout(colourGroup_);
    colours_ = new QButtonGroup(this);
    for (int i = 0; i < 5; ++i) {
      auto* b = new QRadioButton(kColourSpaces[i], colourGroup_);
      colours_->addButton(b, i);
      colourLayout->addWidget(b);
    }
    fieldGroup_ = new QGroupBox("Fields", this);
    auto* fieldLayout = new QVBoxLayout(fieldGroup_);
    fields_ = new QButtonGroup(this);
    for (int i = 0; i < 3; ++i) {
      auto* b = new QRadioButton(kFieldOptions[i], fieldGroup_);
      fields_->addButton(b, i);
      fieldLayout->addWidget(b);
    }
    miscGroup_ = new QGroupBox("Miscellaneous", this);
    auto* miscLayout = new QVBoxLayout(miscGroup_);
    dual_ = new QCheckBox("Dual &Initial KeyFrames (for smooth play)", miscGroup_);
    miscLayout->addWidget(dual_);
    fast_ = new QCheckBox("&Fast Compression (for preview test)", this);
    edges_ = new QCheckBox("Retain &Edge Sharpness (for max detail)", this);

    auto* bars = new QGridLayout;
    interframe_ = addBar(bars, 0, "Interframe Detection", 25, "interframe");
    noise_ = addBar(bars, 1, "Noise Reduction", 150, "noiseReduction");
    loss_ = addBar(bars, 2, "Image Loss Level", 7, "imageLossLevel");
    keyRate_ = addBar(bars, 3, "# Frames Between Keyframes", 100, "keyRate");

    layout->addWidget(colourGroup_, 0, 0, 2, 1);
    layout->addWidget(fieldGroup_, 0, 1);
    layout->addWidget(miscGroup_, 1, 1);
    layout->addLayout(bars, 2, 0, 1, 2);
    layout->addWidget(fast_, 3, 0, 1, 2);
    layout->addWidget(edges_, 4, 0, 1, 2);
    layout->setRowStretch(5, 1);

    connect(fast_, &QCheckBox::toggled, this, [this] { updateEnabling(); });
    connect(colours_, &QButtonGroup::idClicked, this, [this] { updateEnabling(); });
    fill();
  }

  void store() override {
    CompressionSettings& s = copy_.settings;
    s.CompressionType = uint32_t(std::max(0, colours_->checkedId()));
    s.FieldType = uint32_t(std::max(0, fields_->checkedId()));
    s.InterframeDetection = uint32_t(interframe_->value());
    s.NoiseReduction = uint32_t(noise_->value());
    s.ImageLossLevel = uint32_t(loss_->value());
    s.FastCompression = fast_->isChecked();
    s.EnhancedEdges = edges_->isChecked();
    s.KeyRate = uint32_t(keyRate_->value());
    s.updateDerived();
    copy_.options.DualInitialKeyFrames = dual_->isChecked();
  }

  bool resetOnScreen() override {
    if (copy_.zov2()) return true;
    int preset = ask_(this);
    if (preset < 0) return false;
    copy_.applyPreset(preset);
    fill();
    return true;
  }

 private:
  LevelBar* addBar(QGridLayout* grid, int row, const char* text, int max, const char* name) {
    auto* label = new QLabel(text, this);
    auto* bar = new LevelBar(this, 0, max, 0);
    bar->setObjectName(name);
    grid->addWidget(label, row, 0);
    grid->addWidget(bar, row, 1);
    labels_.push_back(label);
    return bar;
  }

  void fill() {
    const CompressionSettings& s = copy_.settings;
    colours_->button(int(std::min<uint32_t>(s.CompressionType, 4)))->setChecked(true);
    fields_->button(int(s.FieldType <= 2 ? s.FieldType : 0))->setChecked(true);
    interframe_->setValue(int(s.InterframeDetection));
    noise_->setValue(int(s.NoiseReduction));
    loss_->setValue(s.Lossy ? int(s.ImageLossLevel) : 0);
    keyRate_->setValue(int(s.KeyRate));
    fast_->setChecked(s.FastCompression);
    edges_->setChecked(s.EnhancedEdges);
    dual_->setChecked(copy_.options.DualInitialKeyFrames);
    updateEnabling();
  }

  void updateEnabling() {
    bool fast = fast_->isChecked();
    bool zov2 = copy_.zov2();
    for (int i : {0, 1, 3}) labels_[size_t(i)]->setEnabled(!fast);
    interframe_->setEnabled(!fast);
    noise_->setEnabled(!fast);
    keyRate_->setEnabled(!fast);
    bool lossEnabled = colours_->checkedId() != 0;
    labels_[2]->setEnabled(lossEnabled);
    loss_->setEnabled(lossEnabled);
    for (QWidget* w :
         std::initializer_list<QWidget*>{colourGroup_, fieldGroup_, miscGroup_, fast_, edges_}) {
      w->setEnabled(!zov2);
    }
  }

  std::function<int(QWidget*)> ask_;
  QGroupBox* colourGroup_;
  QGroupBox* fieldGroup_;
  QGroupBox* miscGroup_;
  QButtonGroup* colours_;
  QButtonGroup* fields_;
  QCheckBox* dual_;
  QCheckBox* fast_;
  QCheckBox* edges_;
  LevelBar* interframe_;
  LevelBar* noise_;
  LevelBar* loss_;
  LevelBar* keyRate_;
  std::vector<QLabel*> labels_;
};

}  // namespace

ConfigPage* createCompressionPage(QWidget* parent, ConfigWorkingCopy& copy,
                                  std::function<int(QWidget*)> ask) {
  return new CompressionPage(parent, copy, std::move(ask));
}

}  // namespace zov

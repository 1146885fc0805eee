// Page 3, "Chroma Keying": the method, the three colour levels that keep the key colour highest,
// edge blending, the background options, the background bitmap line and its preview.
#include <QButtonGroup>
#include <QCheckBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

#include "compressor/background_bitmap_file.h"
#include "compressor/gui/config_frame_image.h"
#include "compressor/gui/config_page.h"
#include "compressor/gui/config_working_copy.h"
#include "compressor/gui/configuration_dialog.h"
#include "media/source_file.h"
#include "platform/ui.h"

namespace zov {

namespace {

constexpr int kPreviewWidth = 160, kPreviewHeight = 120;

class ChromaPage : public ConfigPage {
 public:
  ChromaPage(QWidget* parent, ConfigWorkingCopy& copy, const ConfigurationContext& context)
      : ConfigPage(parent, copy), sourceFolder_(context.options->SourceFilePath) {
    auto* layout = new QGridLayout(this);
    methodGroup_ = new QGroupBox(this);
    auto* methodLayout = new QVBoxLayout(methodGroup_);
    methods_ = new QButtonGroup(this);
    const char* texts[] = {"No Chroma Keying", "Green Screening", "Blue Screening",
                           "Background Screening"};
    for (int i = 0; i < 4; ++i) {
      auto* b = new QRadioButton(texts[i], methodGroup_);
      methods_->addButton(b, i);
      methodLayout->addWidget(b);
    }
    levelGroup_ = new QGroupBox(this);
    auto* levelLayout = new QGridLayout(levelGroup_);
    for (int i = 0; i < 3; ++i) {
      levelLabels_[i] = new QLabel(levelGroup_);
      levels_[i] = new LevelBar(levelGroup_, 0, 31, 0);
      levels_[i]->setObjectName(QString("chromaLevel%1").arg(i));
      levelLayout->addWidget(levelLabels_[i], i, 0);
      levelLayout->addWidget(levels_[i], i, 1);
    }
    blending_ = new QCheckBox("Chroma Edge Blending", levelGroup_);
    levelLayout->addWidget(blending_, 3, 0, 1, 2);

    backgroundGroup_ = new QGroupBox(this);
    auto* bgLayout = new QGridLayout(backgroundGroup_);
    detection_ = addLevelRow(bgLayout, 0, "Background Detection", "backgroundDetection", 0, 25);
    bgNoise_ =
        addLevelRow(bgLayout, 1, "Backgound Noise Reduction", "backgroundNoiseReduction", 0, 150);

    auto* line = new QHBoxLayout;
    backgroundCaption_ = new QLabel("Background:", this);
    backgroundName_ = new QLabel(this);
    backgroundName_->setObjectName("backgroundName");
    backgroundButton_ = new QPushButton(this);
    backgroundButton_->setAutoDefault(false);
    line->addWidget(backgroundCaption_);
    line->addWidget(backgroundName_, 1);
    line->addWidget(backgroundButton_);
    preview_ = new QLabel(this);
    preview_->setObjectName("chromaPreview");
    preview_->setFixedSize(kPreviewWidth, kPreviewHeight);
    preview_->setFrameShape(QFrame::Box);

    layout->addWidget(methodGroup_, 0, 0);
    layout->addWidget(levelGroup_, 0, 1);
    layout->addWidget(backgroundGroup_, 1, 1);
    layout->addWidget(preview_, 1, 0, 2, 1, Qt::AlignTop);
    layout->addLayout(line, 2, 1);
    layout->setRowStretch(3, 1);

    connect(methods_, &QButtonGroup::idClicked, this, [this](int id) { methodChosen(id); });
    for (int i = 0; i < 3; ++i) {
      connect(levels_[i], &LevelBar::valueChanged, this, [this, i](int v) { levelMoved(i, v); });
    }
    connect(blending_, &QCheckBox::toggled, this, [this] { refresh(); });
    connect(backgroundButton_, &QPushButton::clicked, this, [this] { backgroundClicked(); });
    fill();
  }

  void store() override {
    storeLevels();
    CompressionSettings& s = copy_.settings;
    s.ChromaAntialiasing = blending_->isChecked();
    s.BackgroundDetection = uint32_t(detection_->value());
    s.BackgroundNoiseReduction = uint32_t(bgNoise_->value());
  }

  bool resetOnScreen() override {
    copy_.resetChroma();
    fill();
    return true;
  }

  // Replaces the "Open" question of "&Browse..." (tests).
  std::function<QString()> browse;

 private:
  // The fields behind the upper (key colour), middle (red) and lower bar.
  std::array<uint32_t*, 3> levelFields() {
    CompressionSettings& s = copy_.settings;
    if (s.ChromaScreening == kScreeningBlue) return {&s.ChromaBlue, &s.ChromaRed, &s.ChromaGreen};
    return {&s.ChromaGreen, &s.ChromaRed, &s.ChromaBlue};
  }

  void storeLevels() {
    auto fields = levelFields();
    for (int i = 0; i < 3; ++i) *fields[size_t(i)] = uint32_t(levels_[i]->value());
  }

  void fill() {
    const CompressionSettings& s = copy_.settings;
    int method = s.ChromaKeying ? int(std::min<uint32_t>(s.ChromaScreening, 2)) + 1 : 0;
    methods_->button(method)->setChecked(true);
    blending_->setChecked(s.ChromaAntialiasing);
    detection_->setValue(int(s.BackgroundDetection));
    bgNoise_->setValue(int(s.BackgroundNoiseReduction));
    loadLevels();
    refresh();
  }

  void loadLevels() {
    bool blue = copy_.settings.ChromaScreening == kScreeningBlue;
    levelLabels_[0]->setText(blue ? "Blue Level" : "Green Level");
    levelLabels_[1]->setText("Red Level");
    levelLabels_[2]->setText(blue ? "Green Level" : "Blue Level");
    auto fields = levelFields();
    adjusting_ = true;
    for (int i = 0; i < 3; ++i) levels_[i]->setValue(int(*fields[size_t(i)]));
    adjusting_ = false;
  }

  void methodChosen(int id) {
    storeLevels();
    CompressionSettings& s = copy_.settings;
    s.ChromaKeying = id != 0;
    if (id != 0) s.ChromaScreening = uint32_t(id - 1);
    loadLevels();
    refresh();
  }

  // The key colour's bar stays at or above the other two.
  void levelMoved(int bar, int value) {
    if (adjusting_) return;
    adjusting_ = true;
    if (bar == 0) {
      for (int other : {1, 2}) {
        if (levels_[other]->value() > value) levels_[other]->setValue(value);
      }
    } else if (levels_[0]->value() < value) {
      levels_[0]->setValue(value);
    }
    adjusting_ = false;
  }

  void backgroundClicked() {
    CompressionSettings& s = copy_.settings;
    if (!s.ChromaBackground.empty()) {
      s.ChromaBackground.clear();
    } else {
      QString path =
          browse ? browse()
                 : QFileDialog::getOpenFileName(this, "Open", QString::fromStdString(sourceFolder_),
                                                "Background Bitmaps (*.bmp)", nullptr,
                                                QFileDialog::DontUseNativeDialog);
      if (path.isEmpty()) return;
      const std::string chosen = path.toStdString();
      // The settings file keeps at most 79 characters of the path; a cut path would name
      // another file, so a longer one is refused here, where it is chosen.
      if (chosen.size() > kChromaBackgroundMaxChars) {
        messageBox(this,
                   "The background bitmap's path is " + std::to_string(chosen.size()) +
                       " characters long; at most " + std::to_string(kChromaBackgroundMaxChars) +
                       " are accepted. Move the bitmap to a folder with a shorter path.\r" + chosen,
                   "ZOV Compressor", MB_OK | MB_ICONSTOP);
        return;
      }
      s.ChromaBackground = chosen;
    }
    refresh();
  }

  void refresh() {
    const CompressionSettings& s = copy_.settings;
    ChromaPageEnabling e = chromaPageEnabling(s, copy_.zov2());
    methodGroup_->setEnabled(e.methodButtons);
    levelGroup_->setEnabled(e.colourLevels);
    backgroundGroup_->setEnabled(e.backgroundOptions);
    backgroundCaption_->setEnabled(e.backgroundFile);
    backgroundName_->setEnabled(e.backgroundFile);
    backgroundButton_->setEnabled(e.backgroundFile);
    backgroundName_->setText(QString::fromStdString(chromaBackgroundLabel(s)));
    backgroundButton_->setText(QString::fromStdString(chromaBackgroundButtonText(s)));
    drawPreview();
  }

  void drawPreview() {
    const CompressionSettings& s = copy_.settings;
    QImage image;
    switch (chromaPreviewSource(s)) {
      case ChromaPreviewSource::Bitmap:
        image.load(QString::fromStdString(s.ChromaBackground));
        break;
      case ChromaPreviewSource::FirstFrame:
        if (SourceFile* source = copy_.source()) {
          std::vector<uint16_t> pixels;
          int w = 0, h = 0;
          if (fetchFrame15(*source, 0, pixels, w, h)) image = imageFrom15Bit(pixels.data(), w, h);
        }
        break;
      case ChromaPreviewSource::Black:
        break;
    }
    if (image.isNull()) {
      image = QImage(kPreviewWidth, kPreviewHeight, QImage::Format_RGB32);
      image.fill(Qt::black);
    }
    preview_->setPixmap(QPixmap::fromImage(image.scaled(
        kPreviewWidth, kPreviewHeight, Qt::KeepAspectRatio, Qt::SmoothTransformation)));
  }

  std::string sourceFolder_;
  QGroupBox* methodGroup_;
  QButtonGroup* methods_;
  QGroupBox* levelGroup_;
  QLabel* levelLabels_[3];
  LevelBar* levels_[3];
  QCheckBox* blending_;
  QGroupBox* backgroundGroup_;
  LevelBar* detection_;
  LevelBar* bgNoise_;
  QLabel* backgroundCaption_;
  QLabel* backgroundName_;
  QPushButton* backgroundButton_;
  QLabel* preview_;
  bool adjusting_ = false;
};

}  // namespace

ConfigPage* createChromaPage(QWidget* parent, ConfigWorkingCopy& copy,
                             const ConfigurationContext& context) {
  return new ChromaPage(parent, copy, context);
}

}  // namespace zov

// The configuration dialog offscreen: its pages, the working copy committed only at "Ok!", the
// extraction page's check with its corrections and focus, the resets and presets, and the
// compression, data-rate, audio and chroma pages' rules.
#include <gtest/gtest.h>

#include <QAbstractItemView>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <QScrollBar>
#include <QTabBar>
#include <QTest>
#include <QTimer>
#include <set>

#include "compressor/gui/config_page.h"
#include "compressor/gui/config_working_copy.h"
#include "compressor/gui/configuration_dialog.h"
#include "media/source_file.h"
#include "platform/ui.h"

namespace zov {
namespace {

std::string teapotPath() {
  return std::string(ZOV_TEST_DATA_DIR) + "/teapot-256x256-rgb24.avi";
}

template <typename T>
T* childWithText(QWidget* parent, const QString& text) {
  for (T* w : parent->findChildren<T*>()) {
    if (w->text() == text) return w;
  }
  return nullptr;
}

class ConfigDialogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    source_ = std::make_unique<SourceFile>(teapotPath());
    ASSERT_TRUE(source_->Opened);
    context_.settings = &settings_;
    context_.options = &options_;
    context_.source = source_.get();
  }

  std::unique_ptr<ConfigurationDialog> open(int page) {
    options_.TabSettingsLastActive = uint32_t(page);
    auto dialog = std::make_unique<ConfigurationDialog>(nullptr, context_);
    dialog->setPresetQuestion([this](QWidget*) {
      ++presetQuestions_;
      return presetAnswer_;
    });
    return dialog;
  }

  QLineEdit* field(ConfigurationDialog& d, const char* name) {
    return d.currentPage()->findChild<QLineEdit*>(name);
  }
  LevelBar* bar(ConfigurationDialog& d, const char* name) {
    return d.currentPage()->findChild<LevelBar*>(name);
  }

  CompressionSettings settings_;
  CompressorOptions options_;
  std::unique_ptr<SourceFile> source_;
  ConfigurationContext context_;
  RecordingMessageBox boxes_;
  ScopedMessageBoxSink scoped_{&boxes_};
  int presetAnswer_ = -1;
  int presetQuestions_ = 0;
};

TEST_F(ConfigDialogTest, CaptionsTabsAndButtons) {
  auto d = open(6);
  EXPECT_EQ(d->windowTitle(), "Compressor Configuration [Tessel Studio LE - 4.11]");
  ASSERT_EQ(d->tabBar()->count(), 8);
  EXPECT_EQ(d->tabBar()->tabText(0), "Extraction && Cropping");
  EXPECT_EQ(d->tabBar()->tabText(7), "CD-ROM Padding");
  EXPECT_EQ(d->currentPageIndex(), 6);
  EXPECT_EQ(d->currentPage()->objectName(), "DlgTabAudio");
  EXPECT_EQ(d->okButton()->text(), "Ok!");
  EXPECT_EQ(d->restorePageButton()->text(), "&Restore page to defaults");
  EXPECT_EQ(d->restoreAllButton()->text(), "Restore ALL pages to &defaults");
  for (int page = 0; page < 8; ++page) {
    ASSERT_TRUE(d->selectPage(page)) << page;
    EXPECT_EQ(d->currentPage()->objectName(), kConfigPages[page].pageTemplate);
  }
  EXPECT_EQ(options_.TabSettingsLastActive, 7u);
}

TEST_F(ConfigDialogTest, FirstFrameZeroIsCorrectedAndKeepsThePageUntilLeftAgain) {
  auto d = open(0);
  QLineEdit* first = field(*d, "firstFrame");
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(first->text(), "1");
  EXPECT_NE(childWithText<QLabel>(d->currentPage(), "(Key) First frame:"), nullptr);
  first->setText("0");
  d->tabBar()->setCurrentIndex(4);  // as a click on the tab
  EXPECT_EQ(d->currentPageIndex(), 0);
  EXPECT_EQ(d->tabBar()->currentIndex(), 0);
  ASSERT_EQ(boxes_.boxes().size(), 1u);
  EXPECT_EQ(boxes_.boxes()[0].text,
            "CFG0025E First frame (0) cannot be less than 1\n(First frame is being changed to 1)");
  EXPECT_EQ(boxes_.boxes()[0].title, "ZOV Compressor");
  EXPECT_EQ(boxes_.boxes()[0].style & MB_ICONMASK, uint32_t(MB_ICONSTOP));
  EXPECT_EQ(first->text(), "1");
  EXPECT_EQ(d->currentPage()->focusWidget(), first);
  EXPECT_EQ(first->selectedText(), "1");
  EXPECT_TRUE(d->selectPage(4));  // the correction passes
}

TEST_F(ConfigDialogTest, EmptyAndLetterboxFieldsReportAndFocusTheNamedField) {
  auto d = open(0);
  field(*d, "firstFrame")->setText("");
  d->okButton()->click();
  EXPECT_EQ(d->result(), 0);  // still open
  EXPECT_EQ(boxes_.texts().back(), "CFG0015E Starting frame is invalid");
  field(*d, "firstFrame")->setText("1");
  field(*d, "letterBoxTop")->setText("2");
  field(*d, "letterBoxBottom")->setText("1");
  d->okButton()->click();
  EXPECT_EQ(boxes_.texts().back(),
            "CFG0033E Letterbox top + letterbox bottom (3) must be divisible by 4");
  EXPECT_EQ(d->currentPage()->focusWidget(), field(*d, "letterBoxBottom"));
  field(*d, "resizeWidth")->setText("322");
  field(*d, "letterBoxBottom")->setText("2");
  d->okButton()->click();
  EXPECT_EQ(boxes_.texts().back(),
            "CFG0036E Resize width (322) must be divisible by 4\n(Resize width is being changed "
            "to 320)");
  EXPECT_EQ(field(*d, "resizeWidth")->text(), "320");
  EXPECT_EQ(source_->LetterBoxTop, 0u);  // nothing stored while the dialog is open
}

TEST_F(ConfigDialogTest, DigitsOnlyAndInformationLines) {
  auto d = open(0);
  QLineEdit* crop = field(*d, "cropHeight");
  crop->setFocus();
  crop->selectAll();
  crop->insert("12");
  // typing a letter is taken back as if Backspace followed it
  emit crop->textEdited("12x");
  EXPECT_EQ(crop->text(), "12");
  EXPECT_EQ(crop->maxLength(), 32);
  field(*d, "letterBoxTop")->setText("4");
  QLabel* targetHeight = d->currentPage()->findChild<QLabel*>("info4");
  EXPECT_EQ(targetHeight->text(), "16");
  childWithText<QRadioButton>(d->currentPage(), "Strip &Odd Fields")->click();
  EXPECT_EQ(targetHeight->text(), "10");
}

TEST_F(ConfigDialogTest, CancelAfterEditingSeveralPagesChangesNothing) {
  CompressionSettings before = settings_;
  options_.Filters = {{kFilterGamma, 150}};
  auto d = open(0);
  field(*d, "cropLeft")->setText("8");
  field(*d, "cropWidth")->setText("248");
  ASSERT_TRUE(d->selectPage(4));
  field(*d, "dataRate")->setText("300");
  ASSERT_TRUE(d->selectPage(6));
  childWithText<QCheckBox>(d->currentPage(), "&No Audio")->setChecked(true);
  ASSERT_TRUE(d->selectPage(1));
  d->restorePageButton()->click();  // empties the working list
  d->cancelButton()->click();
  EXPECT_EQ(d->result(), 0);
  EXPECT_EQ(settings_.DataRate, before.DataRate);
  EXPECT_FALSE(options_.NoAudio);
  EXPECT_EQ(options_.Filters.size(), 1u);
  EXPECT_EQ(source_->CropX, 0u);
}

TEST_F(ConfigDialogTest, OkCommitsEveryPage) {
  auto d = open(0);
  field(*d, "lastFrame")->setText("40");
  field(*d, "cropLeft")->setText("8");
  field(*d, "cropWidth")->setText("248");
  ASSERT_TRUE(d->selectPage(2));
  childWithText<QRadioButton>(d->currentPage(), "&Wide Field")->click();
  bar(*d, "imageLossLevel")->setValue(0);
  bar(*d, "keyRate")->setValue(9);
  ASSERT_TRUE(d->selectPage(4));
  field(*d, "dataRate")->setText("300");
  ASSERT_TRUE(d->selectPage(5));
  field(*d, "cutOffKBLimit")->setText("99999999999");
  EXPECT_EQ(static_cast<DigitsEdit*>(field(*d, "cutOffKBLimit"))->number(), UINT32_MAX);
  field(*d, "cutOffKBLimit")->setText("1400");
  ASSERT_TRUE(d->selectPage(6));
  childWithText<QRadioButton>(d->currentPage(), "Downsample to &11025Hz")->click();
  ASSERT_TRUE(d->selectPage(7));
  childWithText<QCheckBox>(d->currentPage(), "&CD-ROM Target")->setChecked(true);
  d->okButton()->click();
  EXPECT_EQ(d->result(), 1);
  EXPECT_EQ(source_->ExtractionEnd, 39u);
  EXPECT_EQ(source_->CropX, 8u);
  EXPECT_EQ(source_->CropWidth, 248u);
  EXPECT_EQ(settings_.FieldType, uint32_t(kFieldWide));
  EXPECT_TRUE(settings_.WideField);
  EXPECT_EQ(settings_.ImageLossLevel, 0u);
  EXPECT_FALSE(settings_.Lossy);
  EXPECT_EQ(settings_.KeyRate, 9u);
  EXPECT_EQ(settings_.DataRate, 300u * 1024);
  EXPECT_TRUE(settings_.DataRateControl);
  EXPECT_EQ(options_.CutOffKBLimit, 1400u);
  EXPECT_EQ(options_.SampleRate, 11025u);
  EXPECT_TRUE(options_.CDROMTarget);
  EXPECT_EQ(options_.TabSettingsLastActive, 7u);
}

TEST_F(ConfigDialogTest, RestoreAllAsksForAPresetAndCancellingResetsNothing) {
  settings_.KeyRate = 40;
  options_.NoAudio = true;
  options_.Filters = {{kFilterMedian, 1}};
  auto d = open(6);
  childWithText<QCheckBox>(d->currentPage(), "Convert Stereo to &Mono")->setChecked(true);
  presetAnswer_ = -1;
  d->restoreAllButton()->click();
  EXPECT_EQ(presetQuestions_, 1);
  EXPECT_TRUE(childWithText<QCheckBox>(d->currentPage(), "&No Audio")->isChecked());
  EXPECT_EQ(d->workingCopy().filters.size(), 1u);
  EXPECT_EQ(d->workingCopy().settings.KeyRate, 40u);

  presetAnswer_ = kPresetAnimation;
  d->restoreAllButton()->click();
  EXPECT_FALSE(childWithText<QCheckBox>(d->currentPage(), "&No Audio")->isChecked());
  EXPECT_FALSE(childWithText<QCheckBox>(d->currentPage(), "Convert Stereo to &Mono")->isChecked());
  const ConfigWorkingCopy& copy = d->workingCopy();
  EXPECT_TRUE(copy.filters.empty());
  EXPECT_EQ(copy.settings.CompressionType, uint32_t(kCompressionRgb));
  EXPECT_EQ(copy.settings.ImageLossLevel, 0u);
  EXPECT_FALSE(copy.settings.Lossy);
  EXPECT_EQ(copy.settings.KeyRate, 3u);
  EXPECT_EQ(copy.settings.ChromaGreen, 16u);
  EXPECT_EQ(copy.extraction.values.lastFrame, 45u);
  EXPECT_EQ(options_.Filters.size(), 1u);  // still only the working copy
}

TEST_F(ConfigDialogTest, CompressionPageResetsThroughItsPresetAndDisablesByFastAndRgb) {
  auto d = open(2);
  presetAnswer_ = kPresetSmokeCloudsRain;
  d->restorePageButton()->click();
  EXPECT_EQ(bar(*d, "interframe")->value(), 5);
  EXPECT_EQ(bar(*d, "noiseReduction")->value(), 15);
  EXPECT_EQ(bar(*d, "imageLossLevel")->valueLabel()->text(), "7");
  childWithText<QCheckBox>(d->currentPage(), "&Fast Compression (for preview test)")
      ->setChecked(true);
  EXPECT_FALSE(bar(*d, "interframe")->isEnabled());
  EXPECT_FALSE(bar(*d, "keyRate")->isEnabled());
  EXPECT_TRUE(bar(*d, "imageLossLevel")->isEnabled());
  childWithText<QRadioButton>(d->currentPage(), "RGB")->click();
  EXPECT_FALSE(bar(*d, "imageLossLevel")->isEnabled());
  // Restore ALL from the compression page asks once, through the page.
  presetAnswer_ = kPresetVideo;
  d->restoreAllButton()->click();
  EXPECT_EQ(presetQuestions_, 2);
  EXPECT_EQ(bar(*d, "interframe")->value(), 8);
}

TEST_F(ConfigDialogTest, ChromaLevelsKeepTheKeyColourHighest) {
  settings_.ChromaKeying = true;
  settings_.ChromaScreening = kScreeningBlue;
  settings_.ChromaBlue = 10;
  settings_.ChromaRed = 4;
  settings_.ChromaGreen = 6;
  auto d = open(3);
  QWidget* page = d->currentPage();
  EXPECT_NE(childWithText<QLabel>(page, "Blue Level"), nullptr);
  LevelBar* key = bar(*d, "chromaLevel0");
  LevelBar* red = bar(*d, "chromaLevel1");
  LevelBar* rest = bar(*d, "chromaLevel2");
  EXPECT_EQ(key->value(), 10);
  EXPECT_EQ(rest->value(), 6);
  key->setValue(5);  // pulls green down with it
  EXPECT_EQ(rest->value(), 5);
  EXPECT_EQ(red->value(), 4);
  red->setValue(20);  // pushes blue up
  EXPECT_EQ(key->value(), 20);
  EXPECT_EQ(page->findChild<QLabel*>("backgroundName")->text(), "Black");
  childWithText<QRadioButton>(page, "Background Screening")->click();
  EXPECT_EQ(page->findChild<QLabel*>("backgroundName")->text(), "First frame");
  EXPECT_NE(childWithText<QPushButton>(page, "&Browse..."), nullptr);
  d->okButton()->click();
  EXPECT_EQ(settings_.ChromaScreening, uint32_t(kScreeningBackground));
  EXPECT_EQ(settings_.ChromaBlue, 20u);
  EXPECT_EQ(settings_.ChromaRed, 20u);
  EXPECT_EQ(settings_.ChromaGreen, 5u);
}

TEST_F(ConfigDialogTest, BackgroundLineShowsTheBitmapNameAndClearEmptiesIt) {
  settings_.ChromaKeying = true;
  settings_.ChromaBackground = "/pictures/studio/back.bmp";
  auto d = open(3);
  QWidget* page = d->currentPage();
  EXPECT_EQ(page->findChild<QLabel*>("backgroundName")->text(), "back.bmp");
  QPushButton* clear = childWithText<QPushButton>(page, "&Clear");
  ASSERT_NE(clear, nullptr);
  EXPECT_TRUE(clear->isEnabled());
  clear->click();
  EXPECT_EQ(page->findChild<QLabel*>("backgroundName")->text(), "Black");
  EXPECT_EQ(clear->text(), "&Browse...");
  childWithText<QRadioButton>(page, "No Chroma Keying")->click();
  EXPECT_FALSE(clear->isEnabled());
  EXPECT_FALSE(bar(*d, "chromaLevel0")->isEnabled());
  d->cancelButton()->click();
  EXPECT_EQ(settings_.ChromaBackground, "/pictures/studio/back.bmp");
  EXPECT_TRUE(settings_.ChromaKeying);
}

TEST_F(ConfigDialogTest, ZovSourceRestoreAllAsksNoPresetAndResetsOnlyFrameRangeAndOptionPages) {
  // The pages only look at the handler to tell a ZOV2 source.
  source_->Handler = "zov2";
  source_->ExtractionStart = 1;
  source_->CropX = 4;
  options_.Filters = {{kFilterRip, 1}};
  options_.CDROMTarget = true;
  settings_.DataRate = 5000;
  auto d = open(6);
  d->restoreAllButton()->click();
  EXPECT_EQ(presetQuestions_, 0);
  const ConfigWorkingCopy& copy = d->workingCopy();
  EXPECT_EQ(copy.extraction.values.firstFrame, 1u);
  EXPECT_EQ(copy.extraction.values.cropLeft, 4u);
  EXPECT_EQ(copy.filters.size(), 1u);
  EXPECT_EQ(copy.settings.DataRate, 5000u);
  EXPECT_FALSE(copy.options.CDROMTarget);
}

TEST_F(ConfigDialogTest, RunReopensOnTheLastPageShownAfterOk) {
  ConfigWorkingCopy copy(settings_, options_, source_.get());
  copy.options.MixToMono = true;
  copy.commit(settings_, options_, source_.get());
  EXPECT_TRUE(options_.MixToMono);
  auto d = open(5);
  d->okButton()->click();
  auto again = std::make_unique<ConfigurationDialog>(nullptr, context_);
  EXPECT_EQ(again->currentPageIndex(), 5);
}

TEST_F(ConfigDialogTest, RunStartsOnTheGivenPageAndReturnsOneForOk) {
  QTimer::singleShot(0, [] {
    auto* dialog = qobject_cast<ConfigurationDialog*>(QApplication::activeModalWidget());
    ASSERT_NE(dialog, nullptr);
    EXPECT_EQ(dialog->currentPageIndex(), kPagePadding);
    childWithText<QCheckBox>(dialog->currentPage(), "&CD-ROM Target")->setChecked(true);
    dialog->okButton()->click();
  });
  EXPECT_EQ(runConfigurationDialog(nullptr, context_, kPagePadding), 1);
  EXPECT_TRUE(options_.CDROMTarget);
  EXPECT_EQ(options_.TabSettingsLastActive, uint32_t(kPagePadding));
  QTimer::singleShot(0, [] { QApplication::activeModalWidget()->close(); });
  EXPECT_EQ(runConfigurationDialog(nullptr, context_, -1), 0);
}

TEST(CompressionDefaultsDialog, OffersThreePresetsAndCancel) {
  auto press = [](const QString& text) {
    QTimer::singleShot(0, [text] {
      QWidget* dialog = QApplication::activeModalWidget();
      ASSERT_NE(dialog, nullptr);
      EXPECT_EQ(dialog->windowTitle(), "Compression Defaults");
      QPushButton* button = childWithText<QPushButton>(dialog, text);
      ASSERT_NE(button, nullptr) << text.toStdString();
      button->click();
    });
  };
  press("Restore to Defaults for &Smoke/Clouds/Rain");
  EXPECT_EQ(askCompressionPreset(nullptr), kPresetSmokeCloudsRain);
  press("Restore To Defaults for &Animation");
  EXPECT_EQ(askCompressionPreset(nullptr), kPresetAnimation);
  press("Cancel");
  EXPECT_EQ(askCompressionPreset(nullptr), -1);
}

}  // namespace
}  // namespace zov

namespace zov {
namespace {

// The controls of `root` that a keyboard user must be able to reach: of each group of radio
// buttons only one takes part in the Tab order (the arrows move within the group).
std::vector<QWidget*> keyboardControls(QWidget* root) {
  std::vector<QWidget*> controls;
  std::set<QWidget*> radioGroups;
  for (QWidget* w : root->findChildren<QWidget*>()) {
    if (!w->isVisibleTo(root) || !w->isEnabled()) continue;
    if (qobject_cast<QRadioButton*>(w)) {
      if (radioGroups.insert(w->parentWidget()).second) controls.push_back(w->parentWidget());
      continue;
    }
    if (qobject_cast<QAbstractButton*>(w) || qobject_cast<QLineEdit*>(w) ||
        qobject_cast<QAbstractSlider*>(w) || qobject_cast<QComboBox*>(w) ||
        qobject_cast<QAbstractItemView*>(w) || qobject_cast<QTabBar*>(w))
      controls.push_back(w);
  }
  return controls;
}

// Where the focus goes, Tab after Tab, from `start` round to it again.
std::vector<QWidget*> tabCycle(QWidget* start) {
  start->setFocus(Qt::TabFocusReason);
  std::vector<QWidget*> seen;
  for (int i = 0; i < 200; ++i) {
    QWidget* now = QApplication::focusWidget();
    if (!now || (i > 0 && now == start)) break;
    seen.push_back(now);
    QTest::keyClick(now, Qt::Key_Tab);
  }
  return seen;
}

TEST_F(ConfigDialogTest, KeyboardChangesPagesAndReachesEveryControlInOrder) {
  auto d = open(kPageFiltering);
  d->show();
  QApplication::setActiveWindow(d.get());
  ASSERT_TRUE(QTest::qWaitForWindowActive(d.get()));

  // Ctrl+Tab and Ctrl+Shift+Tab go to the next and previous page, round at the ends.
  d->tabBar()->setFocus();
  QTest::keyClick(d->tabBar(), Qt::Key_Tab, Qt::ControlModifier);
  EXPECT_EQ(d->currentPageIndex(), kPageFiltering + 1);
  QTest::keyClick(QApplication::focusWidget(), Qt::Key_Backtab,
                  Qt::ControlModifier | Qt::ShiftModifier);
  QTest::keyClick(QApplication::focusWidget(), Qt::Key_Backtab,
                  Qt::ControlModifier | Qt::ShiftModifier);
  EXPECT_EQ(d->currentPageIndex(), kPageFiltering - 1);
  QTest::keyClick(QApplication::focusWidget(), Qt::Key_Backtab,
                  Qt::ControlModifier | Qt::ShiftModifier);
  EXPECT_EQ(d->currentPageIndex(), kConfigPageCount - 1);
  QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab, Qt::ControlModifier);
  EXPECT_EQ(d->currentPageIndex(), 0);

  for (int page = 0; page < kConfigPageCount; ++page) {
    ASSERT_TRUE(d->selectPage(page));
    // From the tabs into the page, then the dialog's buttons; every control on the way.
    const std::vector<QWidget*> cycle = tabCycle(d->tabBar());
    ASSERT_GE(cycle.size(), 2u) << "page " << page;
    if (!keyboardControls(d->currentPage()).empty()) {
      EXPECT_TRUE(d->currentPage()->isAncestorOf(cycle[1]))
          << "page " << page << ": Tab from the tabs goes to " << qPrintable(cycle[1]->objectName())
          << " instead of the page";
    }
    EXPECT_EQ(cycle.back(), d->restoreAllButton()) << "page " << page;
    for (QWidget* control : keyboardControls(d.get())) {
      bool reached = false;
      for (QWidget* w : cycle) reached = reached || w == control || control->isAncestorOf(w);
      EXPECT_TRUE(reached) << "page " << page << ": Tab never reaches the "
                           << control->metaObject()->className() << " \""
                           << qPrintable(control->objectName()) << "\"";
    }
    // A label's "&" marks its mnemonic for its buddy; without one it would show as it is.
    for (QLabel* label : d->findChildren<QLabel*>()) {
      const QString text = label->text();
      const bool mnemonic = text.contains(QRegularExpression("&[^&]"));
      EXPECT_FALSE(mnemonic && !label->buddy())
          << "page " << page << ": the label \"" << qPrintable(text) << "\" shows its '&'";
    }
  }
}

}  // namespace
}  // namespace zov

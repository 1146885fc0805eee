// The "Video Filtering" page and its dialogs offscreen: adding, inserting, changing the level
// and deleting entries, the before/after preview with its zoom and panning, and the selection
// and level dialogs' rules.
#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>
#include <QListWidget>
#include <QMouseEvent>
#include <QPushButton>
#include <QScrollBar>
#include <QTest>

#include "compressor/gui/config_working_copy.h"
#include "compressor/gui/configuration_dialog.h"
#include "compressor/gui/filter_dialogs.h"
#include "compressor/gui/filter_page.h"
#include "compressor/gui/filter_preview.h"
#include "media/source_file.h"
#include "platform/ui.h"

namespace zov {
namespace {

QStringList lines(QListWidget* list) {
  QStringList out;
  for (int i = 0; i < list->count(); ++i) out << list->item(i)->text();
  return out;
}

class FilterPageTest : public ::testing::Test {
 protected:
  void SetUp() override {
    source_ =
        std::make_unique<SourceFile>(std::string(ZOV_TEST_DATA_DIR) + "/teapot-256x256-rgb24.avi");
    ASSERT_TRUE(source_->Opened);
    context_.settings = &settings_;
    context_.options = &options_;
    context_.source = source_.get();
    options_.TabSettingsLastActive = kPageFiltering;
  }

  FilterPage* page(ConfigurationDialog& d) {
    auto* p = dynamic_cast<FilterPage*>(d.currentPage());
    p->selectFilter = [this](QWidget*) { return nextSelection_; };
    p->editLevel = [this](QWidget*, int32_t) { return nextLevel_; };
    return p;
  }

  CompressionSettings settings_;
  CompressorOptions options_;
  std::unique_ptr<SourceFile> source_;
  ConfigurationContext context_;
  RecordingMessageBox boxes_;
  ScopedMessageBoxSink scoped_{&boxes_};
  int32_t nextSelection_ = -1;
  int32_t nextLevel_ = 0;
};

TEST_F(FilterPageTest, AddInsertEditAndDeleteThroughTheButtons) {
  options_.Filters = {{kFilterGamma, 150}, {kFilterBrightness, -3}};
  ConfigurationDialog d(nullptr, context_);
  FilterPage* p = page(d);
  EXPECT_EQ(lines(p->list()),
            QStringList({"Lighting: Gamma (Level=1.50)", "Lighting: Brightness (Level=-3)"}));
  EXPECT_EQ(p->list()->currentRow(), 1);

  nextSelection_ = combineFilterSelection(kFilterMedian, 1);
  p->addButton()->click();
  EXPECT_EQ(p->list()->item(2)->text(), "Smoothen: Median");
  EXPECT_EQ(p->list()->currentRow(), 2);

  p->list()->setCurrentRow(0);
  nextSelection_ = combineFilterSelection(kFilterFlatten, 3);
  p->insertButton()->click();
  EXPECT_EQ(p->list()->item(0)->text(), "Smoothen: Flatten (Level=3)");

  p->list()->setCurrentRow(1);
  nextLevel_ = 210;
  p->editButton()->click();
  EXPECT_EQ(p->list()->item(1)->text(), "Lighting: Gamma (Level=2.10)");
  EXPECT_EQ(p->list()->currentRow(), 1);
  nextLevel_ = -301;  // a cancelled level dialog
  p->editButton()->click();
  EXPECT_EQ(p->list()->item(1)->text(), "Lighting: Gamma (Level=2.10)");

  nextSelection_ = -1;  // a cancelled selection adds nothing
  p->addButton()->click();
  EXPECT_EQ(p->list()->count(), 4);

  p->list()->setCurrentRow(3);
  p->deleteButton()->click();
  EXPECT_EQ(p->list()->count(), 3);
  EXPECT_EQ(p->list()->currentRow(), 2);

  d.okButton()->click();
  ASSERT_EQ(options_.Filters.size(), 3u);
  EXPECT_EQ(options_.Filters[0], (FilterEntry{kFilterFlatten, 3}));
  EXPECT_EQ(options_.Filters[1], (FilterEntry{kFilterGamma, 210}));
}

TEST_F(FilterPageTest, InsertWithoutSelectionDoesNothingAndDeletingTheOnlyEntryEmptiesTheList) {
  ConfigurationDialog d(nullptr, context_);
  FilterPage* p = page(d);
  nextSelection_ = combineFilterSelection(kFilterRip, 1);
  p->insertButton()->click();
  EXPECT_EQ(p->list()->count(), 0);
  p->addButton()->click();
  EXPECT_EQ(lines(p->list()), QStringList({"Smoothen: Rip"}));
  p->deleteButton()->click();
  EXPECT_EQ(p->list()->count(), 0);
  d.okButton()->click();
  EXPECT_TRUE(options_.Filters.empty());
}

TEST_F(FilterPageTest, PreviewShowsTheFilteredFrameAndZoomsAndPans) {
  options_.Filters = {};
  ConfigurationDialog d(nullptr, context_);
  FilterPage* p = page(d);
  FilterPreview* preview = p->preview();
  ASSERT_NE(preview, nullptr);
  ASSERT_FALSE(preview->before().isNull());
  EXPECT_EQ(preview->before().size(), QSize(256, 256));
  EXPECT_TRUE(preview->after().isNull());  // no filter: the window colour
  nextSelection_ = combineFilterSelection(kFilterBrightness, 8);
  p->addButton()->click();
  ASSERT_FALSE(preview->after().isNull());
  EXPECT_NE(preview->after(), preview->before());
  EXPECT_EQ(preview->zoomLabel()->text(), "fit");

  preview->zoomBar()->setValue(3);
  EXPECT_EQ(preview->zoomLabel()->text(), "4x");
  EXPECT_EQ(options_.FilterThumbnailZoom, 3u);
  preview->pressAt();
  preview->dragBy(500, 30);
  // held within the frame less the part a 240x180 picture shows at 4x
  EXPECT_EQ(options_.FilterThumbnailLeft, 256 - 240 / 4);
  EXPECT_EQ(options_.FilterThumbnailTop, 30);
  preview->pressAt();
  preview->dragBy(-1000, -1000);
  EXPECT_EQ(options_.FilterThumbnailLeft, 0);
  EXPECT_EQ(options_.FilterThumbnailTop, 0);

  // Dragging in a picture with the left button pans both.
  QWidget* after = preview->afterPicture();
  QTest::mousePress(after, Qt::LeftButton, {}, QPoint(10, 10));
  QMouseEvent move(QEvent::MouseMove, QPointF(30, 25), after->mapToGlobal(QPointF(30, 25)),
                   Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(after, &move);
  QTest::mouseRelease(after, Qt::LeftButton, {}, QPoint(30, 25));
  EXPECT_EQ(options_.FilterThumbnailLeft, 20);
  EXPECT_EQ(options_.FilterThumbnailTop, 15);
}

TEST(FilterDialogs, LevelDialogsFollowTheirKinds) {
  RecordingMessageBox boxes;
  ScopedMessageBoxSink scoped(&boxes);
  std::array<int32_t, kFilterKindCount> last = defaultFilterLevels();

  FilterLevelWindow median(nullptr, kFilterMedian, last);
  EXPECT_EQ(median.windowTitle(), "Median Filter");
  EXPECT_TRUE(median.bar()->isHidden());
  median.okButton()->click();
  EXPECT_EQ(median.result32(), 1);

  FilterLevelWindow gamma(nullptr, kFilterGamma, last);
  EXPECT_EQ(gamma.bar()->minimum(), -40);
  EXPECT_EQ(gamma.bar()->maximum(), 40);
  EXPECT_EQ(gamma.valueLabel()->text(), "1.05");
  gamma.bar()->setValue(-1);
  EXPECT_EQ(gamma.valueLabel()->text(), "-1.05");
  gamma.bar()->setValue(0);
  gamma.okButton()->click();
  EXPECT_EQ(boxes.texts().back(), "CFG0011E Level 1.00 means no correction and is not allowed");
  EXPECT_EQ(gamma.result(), 0);  // still open
  gamma.bar()->setValue(10);
  gamma.okButton()->click();
  EXPECT_EQ(gamma.result32(), 150);
  EXPECT_EQ(last[kFilterGamma], 150);

  FilterLevelWindow brightness(nullptr, kFilterBrightness, last);
  brightness.bar()->setValue(0);
  brightness.okButton()->click();
  EXPECT_EQ(boxes.texts().back(),
            "CFG0012E Brightness level 0 means no brightness change and is not allowed");
  EXPECT_EQ(brightness.result(), 0);
}

TEST(FilterDialogs, SelectionRunsTheLevelDialogAndReturnsToItWhenCancelled) {
  uint32_t lastSelected = kFilterContrast;
  int32_t level = 0;
  FilterSelectWindow select(nullptr, lastSelected, [&level](QWidget*, int32_t) { return level; });
  EXPECT_EQ(select.windowTitle(), "Select a new filter");
  ASSERT_EQ(select.list()->count(), 9);
  EXPECT_EQ(select.list()->item(0)->text(), "Sharpen: Inverted Low-Pass");
  EXPECT_EQ(select.list()->currentRow(), int(kFilterContrast));
  select.list()->setCurrentRow(kFilterLowPass);
  level = 0;  // cancelled: the low-pass minimum minus 1
  select.okButton()->click();
  EXPECT_EQ(select.result(), 0);
  level = 3;
  select.okButton()->click();
  EXPECT_EQ(select.result32(), combineFilterSelection(kFilterLowPass, 3));
  EXPECT_EQ(lastSelected, uint32_t(kFilterLowPass));
}

}  // namespace
}  // namespace zov

// "Input AVI File List" offscreen: adding, inserting, removing, the buttons a list enables, the
// caption by the thumbnail switch, saving and loading the list.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QTemporaryDir>

#include "compressor/edit_list.h"
#include "compressor/gui/edit_list_dialog.h"
#include "encoder/compression_settings.h"
#include "media/source_file.h"
#include "platform/ui.h"

namespace zov {
namespace {

class EditListDialogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    context_.segments = &segments_;
    context_.options = &options_;
    teapot_ = std::string(ZOV_TEST_DATA_DIR) + "/teapot-256x256-rgb24.avi";
    zov_ = std::string(ZOV_TEST_DATA_DIR) + "/pan-640x480-mjpeg-pcm.avi";
  }
  void answer(EditListDialog& d, std::vector<std::string> paths) {
    auto queue = std::make_shared<std::vector<std::string>>(std::move(paths));
    d.setOpenSourceQuestion([queue](const std::string& title, const std::string&) {
      EXPECT_EQ(title, "Open");
      std::string p = queue->empty() ? "" : queue->front();
      if (!queue->empty()) queue->erase(queue->begin());
      return p;
    });
  }

  std::vector<std::unique_ptr<SourceFile>> segments_;
  CompressorOptions options_;
  EditListContext context_;
  std::string teapot_, zov_;  // zov_: a second, different file
  RecordingMessageBox boxes_;
  ScopedMessageBoxSink scoped_{&boxes_};
};

TEST_F(EditListDialogTest, AddInsertRemoveAndTheButtonsAnEmptyListDisables) {
  EditListDialog d(nullptr, context_);
  EXPECT_EQ(d.windowTitle(), "Input AVI File List");
  EXPECT_EQ(d.caption()->text(), "[Source AVI File] List:");
  EXPECT_FALSE(d.button("&Remove")->isEnabled());
  EXPECT_FALSE(d.button("&Save List...")->isEnabled());
  answer(d, {teapot_, zov_, teapot_});
  d.add();
  d.add();
  ASSERT_EQ(segments_.size(), 2u);
  EXPECT_TRUE(d.button("&Open / Edit")->isEnabled());
  EXPECT_TRUE(d.list()->item(0)->text().startsWith(QString::fromStdString(teapot_) + "\n"));
  EXPECT_TRUE(
      d.list()->item(0)->text().contains("Size=256x256  Frames=1 to 45\n30.0000 FPS, "
                                         "Audio=NONE"));
  d.list()->setCurrentRow(1);
  d.insert();
  ASSERT_EQ(segments_.size(), 3u);
  EXPECT_EQ(segments_[1]->Path, teapot_);
  EXPECT_EQ(segments_[2]->Path, zov_);

  d.list()->setCurrentRow(2);
  d.remove();
  EXPECT_EQ(d.list()->currentRow(), 1);
  d.remove();
  d.remove();
  EXPECT_TRUE(segments_.empty());
  for (const char* b : {"&Remove", "&Insert...", "&Open / Edit", "&Save List..."}) {
    EXPECT_FALSE(d.button(b)->isEnabled()) << b;
  }
  d.remove();  // nothing selected: a beep only
  EXPECT_EQ(boxes_.beeps().size(), 1u);
}

TEST_F(EditListDialogTest, ThumbnailSwitchChangesTheCaptionAndIsKept) {
  segments_.push_back(openSegment(teapot_));
  EditListDialog d(nullptr, context_);
  d.thumbnailsBox()->setChecked(true);
  EXPECT_EQ(d.caption()->text(), "[From] [To] [Source AVI File] List:");
  EXPECT_TRUE(options_.ShowInputAVIThumbnails);
  EXPECT_FALSE(d.list()->item(0)->icon().isNull());
}

TEST_F(EditListDialogTest, SavedListLoadsBackWithEverySegmentsSettings) {
  QTemporaryDir dir;
  std::string list = dir.filePath("cut.ini").toStdString();
  segments_.push_back(openSegment(teapot_));
  segments_.push_back(openSegment(teapot_));
  segments_[1]->ExtractionStart = 4;
  segments_[1]->ExtractionEnd = 20;
  segments_[1]->CropX = 8;
  segments_[1]->CropWidth = 248;  // a loaded segment passes the dialog's checks
  segments_[1]->CurrentFrame = 7;
  EditListDialog d(nullptr, context_);
  d.setSaveListQuestion([&](const std::string& title, const std::string&) {
    EXPECT_EQ(title, "Save Edit List As");
    return list;
  });
  d.setLoadListQuestion([&](const std::string& title, const std::string&) {
    EXPECT_EQ(title, "Load Edit List");
    return list;
  });
  d.saveList();
  EXPECT_EQ(options_.IniFilePath, dir.path().toStdString());
  d.list()->setCurrentRow(0);
  d.remove();
  d.remove();
  ASSERT_TRUE(segments_.empty());
  d.loadList();
  ASSERT_EQ(segments_.size(), 2u);
  EXPECT_EQ(segments_[1]->ExtractionStart, 4u);
  EXPECT_EQ(segments_[1]->ExtractionEnd, 20u);
  EXPECT_EQ(segments_[1]->CropX, 8u);
  EXPECT_EQ(segments_[1]->CurrentFrame.load(), 7u);
  EXPECT_EQ(d.list()->count(), 2);
  EXPECT_TRUE(d.list()->item(1)->text().contains("Frames=5 to 21"));
  d.list()->setCurrentRow(1);
  d.button("Ok!")->click();
  EXPECT_EQ(d.result(), 1);
  EXPECT_EQ(d.currentSegment(), 1u);
  EXPECT_TRUE(boxes_.texts().empty());
}

TEST_F(EditListDialogTest, AFailedLoadKeepsTheListShown) {
  QTemporaryDir dir;
  std::string list = dir.filePath("broken.ini").toStdString();
  {
    QFile f(QString::fromStdString(list));
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(("[ZOVComp Edit List]\nTotalFiles=3\nFileName0=" + teapot_ +
             "\nFileName1=\nFileName2=" + teapot_ + "\n")
                .c_str());
  }
  segments_.push_back(openSegment(teapot_));
  EditListDialog d(nullptr, context_);
  d.setLoadListQuestion([&](const std::string&, const std::string&) { return list; });
  d.loadList();
  ASSERT_EQ(boxes_.texts().size(), 1u);
  EXPECT_EQ(boxes_.texts()[0], "MCP0040E Invalid settings in \"" + list + "\"");
  EXPECT_EQ(segments_.size(), 1u);
  EXPECT_EQ(d.list()->count(), 1);
}

}  // namespace
}  // namespace zov

// Pictures of the configuration dialog's pages, the filter dialogs and the edit-list dialog for
// the documentation. Runs only when ZOV_SCREENSHOT_DIR names the folder to write them to
// (scripts/screenshots-config.sh); otherwise it is skipped.
#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QListWidget>
#include <QScrollBar>
#include <QTabBar>

#include "compressor/edit_list.h"
#include "compressor/gui/config_working_copy.h"
#include "compressor/gui/configuration_dialog.h"
#include "compressor/gui/edit_list_dialog.h"
#include "compressor/gui/filter_dialogs.h"
#include "compressor/gui/filter_page.h"
#include "compressor/gui/filter_preview.h"
#include "media/source_file.h"
#include "platform/ui.h"

namespace zov {
namespace {

QString screenshotDir() {
  return QString::fromLocal8Bit(qgetenv("ZOV_SCREENSHOT_DIR"));
}

void save(QWidget& widget, const QString& name) {
  widget.show();
  QApplication::processEvents();
  const QString suffix = QString::fromLocal8Bit(qgetenv("ZOV_SCREENSHOT_SUFFIX"));  // "-2x"
  QString path = QDir(screenshotDir()).filePath("config-" + name + suffix + ".png");
  ASSERT_TRUE(widget.grab().save(path)) << path.toStdString();
}

TEST(ConfigScreenshots, EveryPageTheFilterPreviewAndTheDialogs) {
  if (screenshotDir().isEmpty()) GTEST_SKIP() << "ZOV_SCREENSHOT_DIR not set";
  QDir().mkpath(screenshotDir());
  RecordingMessageBox boxes;
  ScopedMessageBoxSink scoped(&boxes);
  std::string teapot = std::string(ZOV_TEST_DATA_DIR) + "/teapot-256x256-rgb24.avi";
  SourceFile source(teapot);
  ASSERT_TRUE(source.Opened);
  source.CurrentFrame = 20;
  CompressionSettings settings;
  settings.ChromaKeying = true;
  settings.ChromaGreen = 16;
  CompressorOptions options;
  options.Filters = {{kFilterGamma, 150}, {kFilterBrightness, -3}, {kFilterMedian, 1}};
  ConfigurationContext context{&settings, &options, &source, 20, false};

  const char* names[] = {"0-extraction", "1-filtering", "2-compression", "3-chroma",
                         "4-data-rate",  "5-cutoff",    "6-audio",       "7-padding"};
  for (int page = 0; page < kConfigPageCount; ++page) {
    options.TabSettingsLastActive = uint32_t(page);
    ConfigurationDialog dialog(nullptr, context);
    save(dialog, names[page]);
  }

  options.TabSettingsLastActive = kPageFiltering;
  options.Filters = {{kFilterContrast, 150}, {kFilterBrightness, 6}};
  {
    ConfigurationDialog dialog(nullptr, context);
    auto* page = dynamic_cast<FilterPage*>(dialog.currentPage());
    ASSERT_NE(page->preview(), nullptr);
    page->preview()->zoomBar()->setValue(3);
    page->preview()->pressAt();
    page->preview()->dragBy(90, 100);
    save(dialog, "1-filtering-zoom");
  }

  std::array<int32_t, kFilterKindCount> levels = defaultFilterLevels();
  uint32_t lastSelected = kFilterGamma;
  FilterSelectWindow select(nullptr, lastSelected, [](QWidget*, int32_t) { return -1; });
  save(select, "filter-select");
  FilterLevelWindow gamma(nullptr, kFilterGamma, levels);
  save(gamma, "filter-level-gamma");

  std::vector<std::unique_ptr<SourceFile>> segments;
  segments.push_back(openSegment(teapot));
  segments.push_back(openSegment(teapot));
  segments[1]->ExtractionStart = 10;
  segments[1]->CurrentFrame = 30;
  options.ShowInputAVIThumbnails = true;
  EditListDialog list(nullptr, EditListContext{&segments, &options});
  list.list()->setCurrentRow(1);
  save(list, "edit-list");
}

}  // namespace
}  // namespace zov

// The picture of the window for the documentation: run by scripts/screenshots-compressor.sh under
// a virtual X server with ZOV_SCREENSHOT naming the PNG; skipped otherwise.
#include <QImage>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QTest>

#include "compressor/gui/main_window.h"
#include "main_window_test_support.h"

namespace zov {
namespace {

using testing_window::teapotPath;
using testing_window::waitUntil;

class MainWindowScreenshot : public testing_window::WindowTest {};

TEST_F(MainWindowScreenshot, DuringACompressionWithAllViews) {
  const char* target = std::getenv("ZOV_SCREENSHOT");
  if (!target || !*target) GTEST_SKIP() << "ZOV_SCREENSHOT names the picture to write";
  CompressorMainWindow::Startup startup;
  startup.settingsFile = file("zovcomp.ini");
  startup.singleInstance = false;
  CompressorMainWindow w(startup);
  ASSERT_TRUE(w.created());
  w.resize(1280, 860);
  w.show();
  ASSERT_TRUE(w.openSourceFile(teapotPath()));
  w.session().options().Filters = {{kFilterGamma, 120}, {kFilterLowPass, 1}};
  for (int id :
       {kCmdShowFilterWindow, kCmdShowOutputWindow, kCmdShowRmsWindow, kCmdShowDataRateWindow})
    w.command(id);
  w.mdiArea()->tileSubWindows();
  ASSERT_TRUE(w.startCompression(kCmdCompressAs, file("teapot-zov2.avi")));
  CompressionRun& run = w.session().run();
  ASSERT_TRUE(waitUntil([&] { return run.framesWritten() >= 24 || !run.active(); }));
  run.suspend();
  waitUntil([] { return false; }, 600);  // the views catch up with the held run
  w.refreshNow();
  QTest::qWait(200);
  const QImage picture = w.grab().toImage();
  EXPECT_TRUE(picture.save(QString::fromLocal8Bit(target)));
  run.resume();
  EXPECT_EQ(w.session().stop(false), StopResult::Stopped);
}

}  // namespace
}  // namespace zov

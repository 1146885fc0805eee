// The compressor window offscreen: start-up, the toolbar and menu rules, stepping and marking in
// the input view, compressions run to the end, stopped, and suspended, with the output views.
#include <QAction>
#include <QDropEvent>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenu>
#include <QMenuBar>
#include <QMimeData>
#include <QProgressBar>
#include <QTest>
#include <QToolBar>
#include <QToolButton>
#include <QUrl>
#include <fstream>
#include <thread>

#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QTextBlock>
#include <QTimer>
#include <csignal>

#include "compressor/gui/compressor_views.h"
#include "compressor/gui/goto_frame_dialog.h"
#include "compressor/gui/main_window.h"
#include "compressor/gui/run_progress.h"
#include "main_window_test_support.h"
#include "platform/profile.h"
#include "platform/qt/termination_signals.h"
#include "platform/vfw.h"
#include "zov/version.h"

namespace zov {
namespace {

using testing_window::teapotPath;
using testing_window::waitUntil;
using testing_window::WindowTest;
using testing_window::zovSamplePath;

class MainWindowTest : public WindowTest {
 protected:
  std::unique_ptr<CompressorMainWindow> makeWindow(bool singleInstance = false) {
    CompressorMainWindow::Startup startup;
    startup.settingsFile = file("zovcomp.ini");
    startup.singleInstance = singleInstance;
    startup.lockPath = file("zovcomp.lock");
    auto w = std::make_unique<CompressorMainWindow>(startup);
    if (w->created()) {
      SessionHooks hooks;
      hooks.box = [](const std::string& text, const std::string& title, uint32_t style) {
        return messageBox(nullptr, text, title, style);
      };
      hooks.beep = [this](int hz, int ms) { beeps_.push_back({hz, ms}); };
      hooks.pump = [] { QCoreApplication::processEvents(); };
      hooks.sleep = [](int ms) { QTest::qWait(ms); };
      w->session().setHooks(hooks);
      w->resize(1000, 700);
      w->show();
    }
    return w;
  }
  QAction* toolAction(CompressorMainWindow& w, const char* bitmap) {
    for (QAction* a : w.toolBar()->actions())
      if (a->objectName() == bitmap) return a;
    return nullptr;
  }
  std::vector<std::pair<int, int>> beeps_;
};

TEST_F(MainWindowTest, SecondCopyIsRefused) {
  auto first = makeWindow(true);
  ASSERT_TRUE(first->created());
  auto second = makeWindow(true);
  EXPECT_FALSE(second->created());
  EXPECT_TRUE(sawBox("MCP0004E Sorry, multiple copies of this program cannot run together."));
}

TEST_F(MainWindowTest, DebugLogReceivesEveryMessage) {
  ProfileFile(file("zovcomp.ini")).writeString("General", "DebugLog", file("debug.log"));
  {
    auto w = makeWindow();
    w->session().addMessage("first line");
    w->session().addMessage(std::string(300, 'x'));
  }
  std::ifstream log(file("debug.log"));
  std::string a, b;
  std::getline(log, a);
  std::getline(log, b);
  EXPECT_EQ(a, "first line");
  EXPECT_EQ(b, std::string(255, 'x'));  // cut to 255 characters as stored

  ProfileFile(file("zovcomp.ini")).writeString("General", "DebugLog", file("no/such/dir/x.log"));
  auto w = makeWindow();
  EXPECT_TRUE(w->created());  // the program goes on without its log
  EXPECT_TRUE(sawBox("MCP0007E Unable to create DebugLog"));
}

TEST_F(MainWindowTest, OutputViewWithoutTheCodecStaysClosed) {
  auto w = makeWindow();
  std::filesystem::create_directories(file("empty"));
  setenv("ZOV_CODEC_PATH", file("empty").c_str(), 1);
  if (!vfw::findDriverLibrary(ICTYPE_VIDEO, mmioFOURCC('z', 'o', 'v', '2')).empty())
    GTEST_SKIP() << "a codec library is installed on this machine";
  w->command(kCmdShowOutputWindow);
  w->command(kCmdGotoError);
  EXPECT_EQ(w->viewWindow(OptionalView::Output), nullptr);
  EXPECT_EQ(w->viewWindow(OptionalView::Rms), nullptr);
  const auto boxes = boxes_.boxes();
  ASSERT_EQ(boxes.size(), 2u);
  EXPECT_EQ(boxes[0].title, "ZOVComp");
  EXPECT_EQ(boxes[0].text, "SUB0002E Unable to find the codec!\r(Have you installed the player?)");
}

TEST_F(MainWindowTest, StartsWithMenuToolbarAndViews) {
  auto w = makeWindow();
  ASSERT_TRUE(w->created());
  EXPECT_EQ(w->windowTitle(), "(no file open)");
  EXPECT_EQ(w->messageWindow()->windowTitle(), "Messages");
  EXPECT_EQ(w->action(kCmdOpen)->text(), "&Open a Single Source AVI File...");
  EXPECT_EQ(w->action(kCmdOpen)->shortcut(), QKeySequence("Ctrl+O"));
  EXPECT_EQ(w->action(kCmdNextFrame)->shortcuts().size(), 2);
  ASSERT_NE(w->toolBar(), nullptr);
  int separators = 0, buttons = 0;
  for (QAction* a : w->toolBar()->actions()) a->isSeparator() ? ++separators : ++buttons;
  EXPECT_EQ(buttons, 17);
  EXPECT_EQ(separators, 3);
  EXPECT_EQ(toolAction(*w, "FileSave")->toolTip(), "Compress as...");
  // Without a source only opening, the edit list and the view buttons work.
  EXPECT_TRUE(toolAction(*w, "FileOpen")->isEnabled());
  EXPECT_FALSE(toolAction(*w, "FileSave")->isEnabled());
  EXPECT_FALSE(toolAction(*w, "ExtractCrop")->isEnabled());
  EXPECT_TRUE(toolAction(*w, "WindowDataRate")->isEnabled());
  EXPECT_FALSE(toolAction(*w, "HideFilter")->isEnabled());

  w->command(kCmdShowToolbar);
  EXPECT_EQ(w->toolBar(), nullptr);
  w->command(kCmdShowDataRateWindow);
  auto* graph = w->viewWindow(OptionalView::DataRate);
  ASSERT_NE(graph, nullptr);
  EXPECT_EQ(graph->windowTitle(), "Video DataRate Graph");
  EXPECT_EQ(static_cast<DataRateView*>(graph->widget())->titleLine(), "No file open...");
  w->close();
  ProfileFile ini(file("zovcomp.ini"));
  EXPECT_EQ(ini.getInt("General", "ShowDataRateWindow", 7), 1u);
  EXPECT_EQ(ini.getInt("General", "ShowToolbar", 7), 0u);
  EXPECT_TRUE(ini.hasKey("General", "DataRateRight"));
  EXPECT_TRUE(ini.hasKey("General", "FrameBottom"));
}

TEST_F(MainWindowTest, AboutBoxNamesTheProgramAndItsVersionWithAnOkButton) {
  auto w = makeWindow();
  QString name, version;
  bool ok = false;
  QTimer::singleShot(0, [&] {
    QWidget* box = QApplication::activeModalWidget();
    if (!box) return;
    if (auto* l = box->findChild<QLabel*>("AboutName")) name = l->text();
    if (auto* l = box->findChild<QLabel*>("AboutVersion")) version = l->text();
    auto* buttons = box->findChild<QDialogButtonBox*>();
    QPushButton* button = buttons ? buttons->button(QDialogButtonBox::Ok) : nullptr;
    ok = button != nullptr;
    if (button)
      button->click();
    else
      box->close();
  });
  w->command(kCmdAbout);
  EXPECT_EQ(name, "ZOVComp");
  EXPECT_TRUE(version.endsWith(ZOV_VERSION_STRING)) << version.toStdString();
  EXPECT_TRUE(ok);
}

TEST_F(MainWindowTest, ViewsComeBackWhereTheyWereLeft) {
  {
    auto w = makeWindow();
    w->command(kCmdShowFilterWindow);
    w->command(kCmdShowDataRateWindow);
    ASSERT_NE(w->viewWindow(OptionalView::Filter), nullptr);
    w->viewWindow(OptionalView::Filter)->move(200, 120);
    w->viewWindow(OptionalView::DataRate)->setGeometry(40, 300, 500, 220);
    w->command(kCmdShowDataRateWindow);  // closed again: its placement is kept
    EXPECT_EQ(w->viewWindow(OptionalView::DataRate), nullptr);
    w->close();
  }
  ProfileFile ini(file("zovcomp.ini"));
  EXPECT_EQ(ini.getInt("General", "FilterLeft", 0), 200u);
  EXPECT_EQ(ini.getInt("General", "FilterTop", 0), 120u);
  EXPECT_FALSE(ini.hasKey("General", "FilterRight"));
  EXPECT_EQ(ini.getInt("General", "DataRateRight", 0), 540u);
  EXPECT_EQ(ini.getInt("General", "ShowFilterWindow", 9), 1u);
  EXPECT_EQ(ini.getInt("General", "ShowDataRateWindow", 9), 0u);
  auto again = makeWindow();
  ASSERT_NE(again->viewWindow(OptionalView::Filter), nullptr);
  EXPECT_EQ(again->viewWindow(OptionalView::Filter)->pos(), QPoint(200, 120));
  EXPECT_EQ(again->viewWindow(OptionalView::DataRate), nullptr);
  again->command(kCmdShowDataRateWindow);
  EXPECT_EQ(again->viewWindow(OptionalView::DataRate)->geometry(), QRect(40, 300, 500, 220));
}

TEST_F(MainWindowTest, OpenStepAndMarkInTheInputView) {
  auto w = makeWindow();
  ASSERT_TRUE(w->openSourceFile(teapotPath()));
  EXPECT_EQ(w->windowTitle(), "teapot-256x256-rgb24.avi");
  InputView* in = w->inputView();
  EXPECT_EQ(in->trackBar()->maximum(), 44);
  EXPECT_TRUE(toolAction(*w, "FileSave")->isEnabled());
  EXPECT_FALSE(toolAction(*w, "NoRecompress")->isEnabled());

  // Keys reach the window's accelerators.
  QTest::keyClick(w.get(), Qt::Key_Right);
  QTest::keyClick(w.get(), Qt::Key_PageDown);
  w->refreshNow();
  EXPECT_EQ(w->session().currentFrame(), 16u);
  EXPECT_EQ(in->trackBar()->value(), 16);
  EXPECT_EQ(QString::fromStdString(w->session().statusLine(0)),
            "1: Size=256x256, Frame=17/45, (Keyframe in source AVI)");
  auto lines = w->messageView()->paintedLines();
  ASSERT_GE(lines.size(), 5);
  EXPECT_EQ(lines[0], "1: Size=256x256, Frame=17/45, (Keyframe in source AVI)");
  w->messageView()->findChild<QAction*>("CopyMessages")->trigger();
  EXPECT_TRUE(QGuiApplication::clipboard()->text().startsWith(lines[0] + "\n"));

  // Held, the arrow buttons repeat after 250 ms, then every 50 ms.
  EXPECT_TRUE(in->button(kCmdPreviousFrame)->autoRepeat());
  EXPECT_EQ(in->button(kCmdPreviousFrame)->autoRepeatDelay(), 250);
  EXPECT_EQ(in->button(kCmdNextFrame)->autoRepeatInterval(), 50);
  EXPECT_FALSE(in->button(kCmdMarkIn)->autoRepeat());
  QTest::mouseClick(in->button(kCmdMarkIn), Qt::LeftButton);
  QTest::keyClick(w.get(), Qt::Key_End);
  QTest::mouseClick(in->button(kCmdPreviousFrame), Qt::LeftButton);
  QTest::mouseClick(in->button(kCmdMarkOut), Qt::LeftButton);
  w->refreshNow();
  EXPECT_EQ(in->trackBar()->selectionStart(), 16);
  EXPECT_EQ(in->trackBar()->selectionEnd(), 43);
  EXPECT_EQ(w->session().currentSource()->ExtractionStart, 16u);
  EXPECT_EQ(w->session().currentSource()->ExtractionEnd, 43u);

  beeps_.clear();
  QTest::keyClick(w.get(), Qt::Key_End);
  QTest::keyClick(w.get(), Qt::Key_End);  // already there
  EXPECT_EQ(beeps_.size(), 1u);
  EXPECT_EQ(w->session().currentFrame(), 44u);

  // The graph samples the marked range.
  w->command(kCmdGotoDataRate);
  auto* graph = static_cast<DataRateView*>(w->viewWindow(OptionalView::DataRate)->widget());
  const QString average = QString("30.0000 FPS, 1 Samples, %1KB Average")
                              .arg(w->session().currentSource()->RateAverageKB);
  EXPECT_EQ(graph->titleLine(), average);  // frame 45 lies outside the range
  w->session().gotoFrame(20);
  EXPECT_EQ(graph->titleLine(), average + ", Current Sample = 192KB");
}

TEST_F(MainWindowTest, DroppedFileOpensAndJoinsTheRecentFiles) {
  auto w = makeWindow();
  QMimeData data;
  data.setUrls({QUrl::fromLocalFile(QString::fromStdString(teapotPath()))});
  QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
  QCoreApplication::sendEvent(w.get(), &enter);
  EXPECT_TRUE(enter.isAccepted());
  QDropEvent drop(QPointF(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
  QCoreApplication::sendEvent(w.get(), &drop);
  ASSERT_TRUE(waitUntil([&] { return w->session().sourceCount() == 1; }, 5000));
  EXPECT_EQ(w->session().options().FileRecall[0], teapotPath());
  EXPECT_EQ(w->session().options().SourceFilePath, std::string(ZOV_TEST_DATA_DIR) + "/");
  // The recent file opens again through its command; "Close" empties the window.
  w->command(kCmdClose);
  EXPECT_EQ(w->session().sourceCount(), 0u);
  w->refreshNow();
  EXPECT_EQ(w->windowTitle(), "(no file open)");
  w->command(kCmdRecall1);
  EXPECT_EQ(w->session().sourceCount(), 1u);
  w->close();
  ProfileFile ini(file("zovcomp.ini"));
  EXPECT_EQ(ini.getString("General", "FileRecall1", "", 300), teapotPath());
}

TEST_F(MainWindowTest, GotoFrameDialogMovesAndRemembersTheNumber) {
  auto w = makeWindow();
  ASSERT_TRUE(w->openSourceFile(teapotPath()));
  QString title, prefilled;
  auto answer = [&](const char* text) {
    QTimer::singleShot(0, [&, text] {
      auto* d = qobject_cast<GotoFrameDialog*>(QApplication::activeModalWidget());
      ASSERT_NE(d, nullptr);
      title = d->windowTitle();
      prefilled = d->edit()->text();
      d->edit()->setText(text);
      d->accept();
    });
  };
  answer("30");
  w->command(kCmdGotoFrame);
  EXPECT_EQ(title, "ZOVComp - Goto Frame");
  EXPECT_EQ(prefilled, "1");
  EXPECT_EQ(w->session().currentFrame(), 29u);
  answer("900");  // beyond the end: the last frame
  w->command(kCmdGotoFrame);
  EXPECT_EQ(prefilled, "30");
  EXPECT_EQ(w->session().currentFrame(), 44u);
  EXPECT_EQ(ProfileFile(file("zovcomp.ini")).getString("General", "GotoFrame", "", 20), "45");
}

TEST_F(MainWindowTest, SourceWithSoundShowsItsLevelAndFormat) {
  auto w = makeWindow();
  ASSERT_TRUE(w->openSourceFile(std::string(ZOV_TEST_DATA_DIR) + "/pan-640x480-mjpeg-pcm.avi"));
  EXPECT_EQ(w->session().statusLine(0), "1: Size=640x480, Frame=1/150, (Keyframe in source AVI)");
  EXPECT_EQ(w->session().statusLine(2), "(Not an ZOV2 file) , Audio=44100 Stereo 16-Bit");
  int loudest = 0;
  for (int i = 0; i < 30; ++i) {
    w->command(kCmdNextFrame);
    w->refreshNow();
    loudest = std::max(loudest, w->inputView()->audioBar()->level());
  }
  EXPECT_GT(loudest, 0);
  w->command(kCmdShowAudio);
  EXPECT_FALSE(w->inputView()->audioBar()->isVisibleTo(w->inputView()));
  EXPECT_FALSE(w->session().options().ShowAudio);
}

TEST_F(MainWindowTest, ZovSourceOffersOnlyTheCopyRun) {
  auto w = makeWindow();
  ASSERT_TRUE(w->openSourceFile(zovSamplePath()));
  w->refreshNow();
  EXPECT_FALSE(toolAction(*w, "FileSave")->isEnabled());
  EXPECT_TRUE(toolAction(*w, "NoRecompress")->isEnabled());
  EXPECT_FALSE(toolAction(*w, "Filtering")->isEnabled());
  EXPECT_TRUE(toolAction(*w, "ExtractCrop")->isEnabled());
  EXPECT_EQ(QString::fromStdString(w->session().statusLine(2)).left(6), "Video=");
  EXPECT_EQ(runModeForTarget(kCmdNoRecompression, "/x/a.ZEV"), RunMode::ZevStream);
  EXPECT_EQ(runModeForTarget(kCmdNoRecompression, "/x/a.mlt"), RunMode::BlockFile);
  EXPECT_EQ(runModeForTarget(kCmdNoRecompression, "/x/a.avi"), RunMode::NoRecompression);
  EXPECT_EQ(runModeForTarget(kCmdCompressAs, "/x/a.zev"), RunMode::Compress);
}

TEST_F(MainWindowTest, CompressionRunsToTheEndWithOutputViews) {
  auto w = makeWindow();
  ASSERT_TRUE(w->openSourceFile(teapotPath()));
  w->command(kCmdShowOutputWindow);
  w->command(kCmdShowRmsWindow);
  w->command(kCmdShowFilterWindow);
  ASSERT_NE(w->viewWindow(OptionalView::Output), nullptr)
      << ::testing::PrintToString(boxes_.texts());
  ASSERT_NE(w->viewWindow(OptionalView::Rms), nullptr);
  EXPECT_EQ(w->viewWindow(OptionalView::Output)->windowTitle(), "Output: waiting for keyframe...");
  EXPECT_EQ(w->viewWindow(OptionalView::Rms)->windowTitle(), "RMS: waiting for keyframe...");
  EXPECT_EQ(w->viewWindow(OptionalView::Filter)->windowTitle(), "Filtered Source");

  const std::string out = file("out.avi");
  w->setFileQuestion([&](const QString& title, const QString& filters, const QString& ext,
                         const QString&, bool save, QString*) {
    EXPECT_EQ(title, "Compress As");
    EXPECT_EQ(filters, "Video Files (*.avi)");
    EXPECT_EQ(ext, "AVI");
    EXPECT_TRUE(save);
    return out;
  });
  w->command(kCmdCompressAs);
  EXPECT_TRUE(w->session().compressing() || w->session().run().framesWritten() == 45);
  EXPECT_EQ(w->windowTitle().left(36), "teapot-256x256-rgb24.avi --> out.avi");
  ASSERT_TRUE(waitUntil([&] { return !w->session().compressing(); }));
  w->refreshNow();
  EXPECT_EQ(w->session().run().framesWritten(), 45u);
  EXPECT_EQ(w->windowTitle(), "teapot-256x256-rgb24.avi");
  EXPECT_EQ(w->viewWindow(OptionalView::Output)->windowTitle(), "Compressed Output");
  EXPECT_EQ(w->viewWindow(OptionalView::Rms)->windowTitle().left(16), "RMS Difference: ");
  const auto lines = w->session().messages().lines();
  ASSERT_FALSE(lines.empty());
  EXPECT_NE(std::find(lines.begin(), lines.end(), "Compressing..."), lines.end());
  EXPECT_EQ(lines.back().rfind("Elapsed ", 0), 0u);
  EXPECT_EQ(w->session().statusLine(4).rfind("45 of 45 completed", 0), 0u);
  // The status bar's progress ends full, with the output's size.
  EXPECT_EQ(w->runProgress()->value(), 45);
  EXPECT_EQ(w->runProgress()->maximum(), 45);
  EXPECT_EQ(w->runState()->text().toStdString().rfind("Finished: 45 frames in ", 0), 0u);
  EXPECT_NE(w->runState()->text().indexOf(
                QString::fromStdString(byteSize(std::filesystem::file_size(out)))),
            -1);
  SourceFile result(out);
  ASSERT_TRUE(result.Opened);
  EXPECT_EQ(result.FrameCount, 45u);
  // The input window followed the run to its last frame.
  EXPECT_EQ(w->session().currentFrame(), 44u);
  EXPECT_EQ(w->session().options().TargetFilePath, home_.string() + "/");
}

TEST_F(MainWindowTest, NoRecompressionOffersTheStreamAndBlockFiles) {
  auto w = makeWindow();
  ASSERT_TRUE(w->openSourceFile(zovSamplePath()));
  QString offered;
  w->setFileQuestion([&](const QString&, const QString& filters, const QString&, const QString&,
                         bool, QString* chosen) {
    offered = filters;
    *chosen = "ZEV Files (*.zev)";
    return file("copy");  // no extension: the chosen type's
  });
  w->command(kCmdNoRecompression);
  EXPECT_EQ(offered, "Video Files (*.avi);;ZEV Files (*.zev);;MLT Files (*.mlt)");
  ASSERT_TRUE(waitUntil([&] { return !w->session().compressing(); }));
  w->refreshNow();
  EXPECT_EQ(w->session().runMode(), RunMode::ZevStream);
  EXPECT_TRUE(std::filesystem::exists(file("copy.zev")))
      << ::testing::PrintToString(boxes_.texts());

  ASSERT_TRUE(w->startCompression(kCmdNoRecompression, file("copy.mlt")));
  ASSERT_TRUE(waitUntil([&] { return !w->session().compressing(); }));
  w->refreshNow();
  EXPECT_EQ(w->session().runMode(), RunMode::BlockFile);
  EXPECT_GT(std::filesystem::file_size(file("copy.mlt")), 0u);

  // Copied frames can't be cropped: the run is refused before anything is written.
  SourceFile& source = *w->session().currentSource();
  source.CropWidth = source.Width / 2;
  const size_t boxesBefore = boxes_.texts().size();
  EXPECT_FALSE(w->startCompression(kCmdNoRecompression, file("cropped.avi")));
  EXPECT_FALSE(std::filesystem::exists(file("cropped.avi")));
  ASSERT_EQ(boxes_.texts().size(), boxesBefore + 1);
  EXPECT_NE(boxes_.texts().back().find("cropped to"), std::string::npos) << boxes_.texts().back();
}

TEST_F(MainWindowTest, OutputViewsStayClosedOnceAChromaRunBegan) {
  auto w = makeWindow();
  ASSERT_TRUE(w->openSourceFile(teapotPath()));
  w->session().settings().ChromaKeying = true;
  ASSERT_TRUE(w->startCompression(kCmdCompressAs, file("chroma.avi")));
  ASSERT_TRUE(waitUntil([&] { return !w->session().compressing(); }));
  w->command(kCmdShowOutputWindow);
  w->command(kCmdGotoError);
  EXPECT_EQ(w->viewWindow(OptionalView::Output), nullptr);
  EXPECT_EQ(w->viewWindow(OptionalView::Rms), nullptr);
  EXPECT_TRUE(sawBox("MCP0030E Unable to view output once a chroma compression has begun!"));
  EXPECT_TRUE(sawBox("MCP0032E Unable to view RMS once a chroma compression has begun!"));
}

TEST_F(MainWindowTest, StopMidwayFinishesAPlayableFile) {
  auto w = makeWindow();
  ASSERT_TRUE(w->openSourceFile(teapotPath()));
  const std::string out = file("stopped.avi");
  ASSERT_TRUE(w->startCompression(kCmdCompressAs, out));
  CompressionRun& run = w->session().run();
  // Hold the run after a few frames so that the stop lands midway.
  ASSERT_TRUE(waitUntil([&] { return run.framesWritten() >= 3 || !run.active(); }));
  run.suspend();
  ASSERT_TRUE(run.active()) << "the run ended before it could be held";
  EXPECT_EQ(w->session().stop(false), StopResult::Stopped);
  EXPECT_FALSE(w->session().compressing());
  const uint32_t written = run.framesWritten();
  EXPECT_LT(written, 45u);
  EXPECT_GE(written, 3u);
  const auto lines = w->session().messages().lines();
  EXPECT_NE(std::find(lines.begin(), lines.end(), "Halting compression, please wait..."),
            lines.end());
  EXPECT_TRUE(w->session().target().empty());
  SourceFile result(out);
  ASSERT_TRUE(result.Opened);
  EXPECT_EQ(result.FrameCount, written);
  w->refreshNow();
  EXPECT_EQ(w->runState()->text().toStdString().rfind("Stopped after ", 0), 0u)
      << w->runState()->text().toStdString();
  // A second stop with nothing running succeeds at once.
  EXPECT_EQ(w->session().stop(false), StopResult::NoRun);
}

TEST_F(MainWindowTest, SuspendHoldsTheRunUntilTheBoxCloses) {
  auto w = makeWindow();
  ASSERT_TRUE(w->openSourceFile(teapotPath()));
  CompressionRun& run = w->session().run();
  uint32_t atBox = 0, afterWait = 0;
  std::string boxText;
  SessionHooks hooks;
  hooks.box = [&](const std::string& text, const std::string&, uint32_t) {
    boxText = text;
    // Let the frame in progress finish, then see that nothing more is written.
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    atBox = run.framesWritten();
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    afterWait = run.framesWritten();
    return IDOK;
  };
  hooks.beep = [](int, int) {};
  hooks.pump = [] {};
  hooks.sleep = [](int) {};
  w->session().setHooks(hooks);
  ASSERT_TRUE(w->startCompression(kCmdCompressAs, file("held.avi")));
  ASSERT_TRUE(waitUntil([&] { return run.framesWritten() >= 1 || !run.active(); }));
  ASSERT_TRUE(run.active());
  w->command(kCmdSuspend);
  EXPECT_EQ(boxText, "MCP0027I Compression suspended\rClick on OK to resume compression");
  EXPECT_EQ(atBox, afterWait);
  EXPECT_LT(afterWait, 45u);
  ASSERT_TRUE(waitUntil([&] { return !run.active(); }));
  EXPECT_EQ(run.framesWritten(), 45u);
  const auto lines = w->session().messages().lines();
  EXPECT_NE(
      std::find(lines.begin(), lines.end(), "Suspend compression request issued, please wait..."),
      lines.end());
}

TEST_F(MainWindowTest, CommandLineScriptReproducesTheJob) {
  auto w = makeWindow();
  ASSERT_TRUE(w->openSourceFile(teapotPath()));
  w->session().settings().KeyRate = 9;
  ASSERT_TRUE(w->saveCommandLine(file("job.sh")));
  std::ifstream in(file("job.sh"));
  std::string shebang, line;
  std::getline(in, shebang);
  std::getline(in, line);
  EXPECT_EQ(shebang, "#!/bin/sh");
  EXPECT_EQ(line.rfind("zovcomp compress " + teapotPath() + " -o " + file("job.avi") +
                           " --mode compress --first 1 --last 45",
                       0),
            0u)
      << line;
  EXPECT_NE(line.find("--set KeyRate=9"), std::string::npos);
}

TEST_F(MainWindowTest, InputAndMessageWindowsStayWhenClosedAndKeysStillStep) {
  auto w = makeWindow();
  ASSERT_TRUE(w->openSourceFile(teapotPath()));
  // Neither offers a way to close it: no close button in its title bar, no "Close" in its
  // system menu (nor, maximised, beside the menu bar).
  for (QMdiSubWindow* sub : {w->inputWindow(), w->messageWindow()}) {
    SCOPED_TRACE(sub->windowTitle().toStdString());
    EXPECT_FALSE(sub->windowFlags() & Qt::WindowCloseButtonHint);
    EXPECT_FALSE(sub->windowFlags() & Qt::WindowSystemMenuHint);
    EXPECT_TRUE(sub->windowFlags() & Qt::WindowTitleHint);
    ASSERT_NE(sub->systemMenu(), nullptr);
    for (QAction* a : sub->systemMenu()->actions())
      EXPECT_FALSE(a->isVisible() && (a->text().remove('&') == "Close" ||
                                      a->shortcut() == QKeySequence(QKeySequence::Close)))
          << a->text().toStdString();
  }
  w->inputWindow()->close();
  w->messageWindow()->close();
  QCoreApplication::processEvents();
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  QTest::keyClick(w.get(), Qt::Key_Right);
  w->refreshNow();
  EXPECT_EQ(w->session().currentFrame(), 1u);
  EXPECT_TRUE(w->inputWindow()->isVisible());
  EXPECT_TRUE(w->messageWindow()->isVisible());
  EXPECT_EQ(w->inputView()->trackBar()->value(), 1);
}

TEST_F(MainWindowTest, SaveDialogsFileTypeGivesABareNameItsExtension) {
  auto w = makeWindow();
  ASSERT_TRUE(w->openSourceFile(zovSamplePath()));
  // The real dialog: the ZEV type chosen in its type box, then a name without an extension.
  QTimer::singleShot(0, [&] {
    auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
    ASSERT_NE(dialog, nullptr);
    auto* types = dialog->findChild<QComboBox*>("fileTypeCombo");
    ASSERT_NE(types, nullptr);
    QTest::keyClick(types, Qt::Key_Down);  // as a user picks the second type
    ASSERT_EQ(types->currentIndex(), 1);
    dialog->findChild<QLineEdit*>("fileNameEdit")->setText(QString::fromStdString(file("copy")));
    QMetaObject::invokeMethod(dialog, "accept");
  });
  w->command(kCmdNoRecompression);
  ASSERT_TRUE(waitUntil([&] { return !w->session().compressing(); }));
  w->refreshNow();
  EXPECT_EQ(w->session().runMode(), RunMode::ZevStream);
  EXPECT_TRUE(std::filesystem::exists(file("copy.zev")));
  EXPECT_FALSE(std::filesystem::exists(file("copy.AVI")));
  EXPECT_EQ(suffixOfFilter("MLT Files (*.mlt)"), "mlt");
  EXPECT_EQ(suffixOfFilter("All (*)"), "");
}

TEST_F(MainWindowTest, SettingsCancelLeavesTheShownFrame) {
  auto w = makeWindow();
  ASSERT_TRUE(w->openSourceFile(teapotPath()));
  w->session().gotoFrame(7);
  // The chroma page previews the source's first frame for background screening.
  w->session().settings().ChromaScreening = kScreeningBackground;
  QTimer::singleShot(0, [] {
    if (auto* d = qobject_cast<QDialog*>(QApplication::activeModalWidget())) d->reject();
  });
  w->command(kCmdChromaKeying);
  w->refreshNow();
  EXPECT_EQ(w->session().currentFrame(), 7u);
  EXPECT_EQ(w->inputView()->trackBar()->value(), 7);
}

TEST_F(MainWindowTest, CompressionIntoItsOwnSourceIsRefused) {
  std::filesystem::copy_file(teapotPath(), file("own.avi"));
  std::filesystem::create_symlink(file("own.avi"), file("link.avi"));
  const auto size = std::filesystem::file_size(file("own.avi"));
  auto w = makeWindow();
  ASSERT_TRUE(w->openSourceFile(file("own.avi")));
  EXPECT_FALSE(w->startCompression(kCmdCompressAs, file("link.avi")));
  EXPECT_FALSE(w->startCompression(kCmdCompressAs, home_.string() + "/./own.avi"));
  EXPECT_FALSE(w->session().compressing());
  EXPECT_EQ(std::filesystem::file_size(file("own.avi")), size);
  ASSERT_EQ(boxes_.texts().size(), 2u);
  EXPECT_NE(boxes_.texts()[0].find("writing it would destroy the input"), std::string::npos);
}

TEST_F(MainWindowTest, TerminationSignalEndsARunAndSavesAsExitDoes) {
  auto w = makeWindow();
  ASSERT_TRUE(w->openSourceFile(teapotPath()));
  TerminationSignals endSignals([&] { w->endFromSignal(); });
  ASSERT_TRUE(w->startCompression(kCmdCompressAs, file("out.avi")));
  ::raise(SIGTERM);
  ASSERT_TRUE(waitUntil([&] { return !w->isVisible(); }, 20000));
  EXPECT_FALSE(w->session().compressing());
  EXPECT_EQ(endSignals.received(), 1);
  EXPECT_TRUE(boxes_.texts().empty())
      << "no question: " << ::testing::PrintToString(boxes_.texts());
  ProfileFile ini(file("zovcomp.ini"));
  EXPECT_TRUE(ini.hasKey("General", "FrameBottom"));
  EXPECT_TRUE(ini.hasKey("General", "FileRecall1"));
}

TEST_F(MainWindowTest, FirstStartViewsDoNotOverlapPicturesFitAndSizesComeBack) {
  {
    auto w = makeWindow();
    ASSERT_TRUE(w->openSourceFile(teapotPath()));
    for (int id :
         {kCmdShowFilterWindow, kCmdShowOutputWindow, kCmdShowRmsWindow, kCmdShowDataRateWindow})
      w->command(id);
    const auto windows = w->mdiArea()->subWindowList();
    ASSERT_EQ(windows.size(), 6);
    for (int i = 0; i < windows.size(); ++i)
      for (int j = i + 1; j < windows.size(); ++j)
        EXPECT_FALSE(windows[i]->geometry().intersects(windows[j]->geometry()))
            << windows[i]->windowTitle().toStdString() << " / "
            << windows[j]->windowTitle().toStdString();
    // The square teapot frame fills the height of a wide view, with black bands beside it.
    QMdiSubWindow* filter = w->viewWindow(OptionalView::Filter);
    filter->resize(300, 200);
    w->refreshNow();
    const QImage shot = filter->widget()->grab().toImage();
    const QRect fitted = fittedRect(QSize(256, 256), filter->widget()->rect());
    EXPECT_EQ(fitted.height(), filter->widget()->height());
    EXPECT_EQ(shot.pixelColor(2, shot.height() / 2), QColor(Qt::black));
    EXPECT_NE(shot.pixelColor(fitted.center()), QColor(Qt::black));
    w->close();
  }
  auto again = makeWindow();
  EXPECT_EQ(again->viewWindow(OptionalView::Filter)->size(), QSize(300, 200));
  EXPECT_EQ(fittedRect(QSize(640, 480), QRect(0, 0, 160, 160)), QRect(0, 20, 160, 120));
  EXPECT_TRUE(nearestNeighbourZoom(QSize(256, 256), QRect(0, 0, 512, 512)));
  EXPECT_FALSE(nearestNeighbourZoom(QSize(256, 256), QRect(0, 0, 200, 200)));
}

TEST_F(MainWindowTest, SeveralDroppedFilesBecomeAnEditListAfterAsking) {
  auto w = makeWindow();
  QMimeData data;
  std::filesystem::copy_file(teapotPath(), file("second.avi"));
  data.setUrls({QUrl::fromLocalFile(QString::fromStdString(teapotPath())),
                QUrl::fromLocalFile(QString::fromStdString(file("second.avi")))});
  boxes_.script({IDNO, IDYES});
  for (int answer = 0; answer < 2; ++answer) {
    QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(w.get(), &enter);
    QDropEvent drop(QPointF(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(w.get(), &drop);
    QTest::qWait(50);
    w->refreshNow();
  }
  ASSERT_EQ(boxes_.texts().size(), 2u);
  EXPECT_EQ(boxes_.texts()[0], "Make the 2 files an edit list, one segment each in this order?");
  EXPECT_EQ(w->session().sourceCount(), 2u);
  EXPECT_TRUE(w->action(kCmdNextSegment)->isEnabled());
}

TEST(RunProgressText, SpeedTimeLeftAndTheEnds) {
  EXPECT_EQ(runProgressText({0, 45, 0.2}), "Frame 0 of 45, elapsed 0:00");
  EXPECT_EQ(runProgressText({15, 45, 3}), "Frame 15 of 45, 5.0 fps, elapsed 0:03, about 0:06 left");
  EXPECT_EQ(clockTime(3725), "1:02:05");
  EXPECT_EQ(runEndText(RunEnd::Stopped, {12, 45, 2}, 300 * 1024),
            "Stopped after 12 of 45 frames: output 300 KB");
  EXPECT_EQ(byteSize(1288490), "1.2 MB");
}

// Our drawings are compiled in and need the SVG renderer: a picture with some ink at 1x and 2x.
bool drawsSomething(const QIcon& icon, qreal scale) {
  const QImage image = icon.pixmap(QSize(24, 24), scale).toImage();
  if (image.width() < int(24 * scale)) return false;
  int ink = 0;
  for (int y = 0; y < image.height(); ++y)
    for (int x = 0; x < image.width(); ++x) ink += qAlpha(image.pixel(x, y)) > 128;
  return ink > image.width();
}

TEST_F(MainWindowTest, EveryButtonAndMainCommandHasAPictureSharpAtTwiceTheScale) {
  auto w = makeWindow();
  for (QAction* a : w->toolBar()->actions()) {
    if (a->isSeparator()) continue;
    EXPECT_TRUE(drawsSomething(a->icon(), 1)) << qPrintable(a->objectName());
    EXPECT_TRUE(drawsSomething(a->icon(), 2)) << qPrintable(a->objectName());
    EXPECT_FALSE(a->toolTip().isEmpty());
  }
  for (int id : {kCmdPreviousFrame, kCmdNextFrame, kCmdMarkIn, kCmdMarkOut})
    EXPECT_TRUE(drawsSomething(w->inputView()->button(id)->icon(), 2)) << id;
  for (int id : {kCmdOpen, kCmdClose, kCmdCompressAs, kCmdStop, kCmdExit, kCmdAllSettings,
                 kCmdFirstFrame, kCmdLastFrame, kCmdGotoFrame, kCmdAbout})
    EXPECT_TRUE(drawsSomething(w->action(id)->icon(), 1)) << id;
  EXPECT_TRUE(drawsSomething(w->windowIcon(), 2));
}

TEST_F(MainWindowTest, MessageLinesScrollAndCanBeSelectedAndCopied) {
  auto w = makeWindow();
  ASSERT_TRUE(w->openSourceFile(teapotPath()));
  for (int i = 0; i < 60; ++i) w->session().addMessage("line " + std::to_string(i));
  w->refreshNow();
  MessageView* m = w->messageView();
  QPlainTextEdit* text = m->messageLines();
  // The store's 50 lines, the newest in sight at the bottom.
  EXPECT_EQ(text->document()->blockCount(), 50);
  EXPECT_EQ(text->document()->lastBlock().text(), "line 59");
  EXPECT_EQ(text->verticalScrollBar()->value(), text->verticalScrollBar()->maximum());
  EXPECT_GT(text->verticalScrollBar()->maximum(), 0);

  // Selected with the keyboard, Ctrl+C copies the selection (and does not close the source).
  QApplication::setActiveWindow(w.get());
  text->setFocus();
  text->moveCursor(QTextCursor::End);
  text->moveCursor(QTextCursor::StartOfBlock, QTextCursor::KeepAnchor);
  QTest::keyClick(text, Qt::Key_C, Qt::ControlModifier);
  EXPECT_EQ(QGuiApplication::clipboard()->text(), "line 59");
  EXPECT_EQ(w->session().sourceCount(), 1u);
  EXPECT_TRUE(m->statusLines()->textInteractionFlags() & Qt::TextSelectableByMouse);

  // A new line keeps what the reader selected higher up.
  text->verticalScrollBar()->setValue(0);
  QTextCursor first(text->document()->firstBlock());
  first.select(QTextCursor::BlockUnderCursor);
  text->setTextCursor(first);
  w->session().addMessage("line 60");
  w->refreshNow();
  EXPECT_EQ(text->document()->blockCount(), 50);
  EXPECT_EQ(text->document()->firstBlock().text(), "line 11");
  EXPECT_EQ(text->verticalScrollBar()->value(), 0);
  EXPECT_EQ(m->paintedLines().back(), "line 60");
}

}  // namespace
}  // namespace zov

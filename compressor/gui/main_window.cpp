#include "compressor/gui/main_window.h"

#include <sys/stat.h>

#include <QApplication>
#include <QCloseEvent>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QLabel>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenuBar>
#include <QMimeData>
#include <QPainter>
#include <QProgressBar>
#include <QRegularExpression>
#include <QStatusBar>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>
#include <QToolTip>
#include <QUrl>
#include <QVBoxLayout>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <new>
#include <thread>

#include "compressor/edit_list.h"
#include "compressor/filter_list.h"
#include "compressor/gui/compressor_icons.h"
#include "compressor/gui/compressor_views.h"
#include "compressor/gui/configuration_dialog.h"
#include "compressor/gui/edit_list_dialog.h"
#include "compressor/gui/goto_frame_dialog.h"
#include "compressor/gui/job_command_line.h"
#include "compressor/settings_file.h"
#include "format/colour_tables.h"
#include "platform/profile.h"
#include "platform/qt/qt_platform.h"
#include "platform/ui.h"

namespace zov {

namespace {

enum RefreshBits : int {
  kRefreshFrame = 1,
  kRefreshMessages = 2,
  kRefreshRun = 4,
  kRefreshViews = 8
};

constexpr const char* kAppTitle = "ZOVComp";

const char* prefixOf(OptionalView v) {
  switch (v) {
    case OptionalView::Filter:
      return "Filter";
    case OptionalView::Output:
      return "Output";
    case OptionalView::Rms:
      return "RMS";
    default:
      return "DataRate";
  }
}

int slotOf(OptionalView v) {
  switch (v) {
    case OptionalView::Filter:
      return kFilterView;
    case OptionalView::Output:
      return kOutputView;
    case OptionalView::Rms:
      return kRmsView;
    default:
      return -1;
  }
}

// A view's frame inside the client: reports its end so that its placement is kept.
class ViewWindow : public QMdiSubWindow {
 public:
  // Without `closed` the view belongs to the frame for its whole life (the input view and the
  // message window): its title bar has no close button and its system menu no "Close" (both
  // follow the system-menu hint), and a close that still arrives is refused.
  ViewWindow(QWidget* parent, std::string prefix, std::string settingsFile,
             std::function<void()> closed)
      : QMdiSubWindow(parent),
        prefix_(std::move(prefix)),
        file_(std::move(settingsFile)),
        closed_(std::move(closed)) {
    if (closed_) setAttribute(Qt::WA_DeleteOnClose);
  }
  // Once in the area, which gives each of its windows the system-menu hint.
  void applyFlags() {
    if (!closed_)
      setWindowFlags(Qt::SubWindow | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                     Qt::WindowMinMaxButtonsHint);
  }
  void keepPlacement() {
    WindowPlacement p = defaultPlacement(prefix_);
    p.showCmd = isMaximized() ? kShowMaximized : isMinimized() ? kShowMinimized : kShowNormal;
    const QRect g = isMaximized() || isMinimized() ? normalGeometry() : geometry();
    if (g.isValid()) {
      p.left = g.left();
      p.top = g.top();
      p.right = g.right() + 1;
      p.bottom = g.bottom() + 1;
    }
    savePlacement(file_, prefix_, p);
    if (!p.hasRightBottom && g.isValid()) saveViewSize(file_, prefix_, {g.width(), g.height()});
  }

 protected:
  void closeEvent(QCloseEvent* event) override {
    if (!closed_) {
      event->ignore();
      return;
    }
    keepPlacement();
    closed_();
    QMdiSubWindow::closeEvent(event);
  }

 private:
  std::string prefix_, file_;
  std::function<void()> closed_;
};

// Tooltips of the toolbar stay for 5 seconds.
class TooltipTimer : public QObject {
 public:
  using QObject::QObject;
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() == QEvent::ToolTip) {
      auto* w = qobject_cast<QWidget*>(watched);
      if (w && !w->toolTip().isEmpty()) {
        QToolTip::showText(QCursor::pos(), w->toolTip(), w, w->rect(), 5000);
        return true;
      }
    }
    return false;
  }
};

}  // namespace

QString suffixOfFilter(const QString& filter) {
  const int star = filter.indexOf("(*.");
  if (star < 0) return {};
  const int end = filter.indexOf(QRegularExpression("[ );]"), star + 3);
  return filter.mid(star + 3, end < 0 ? -1 : end - star - 3);
}

RunMode runModeForTarget(int command, const std::string& target) {
  if (command != kCmdNoRecompression) return RunMode::Compress;
  auto endsWith = [&](const char* ext) {
    const std::string e = ext;
    if (target.size() < e.size()) return false;
    for (size_t i = 0; i < e.size(); ++i)
      if (std::tolower(uint8_t(target[target.size() - e.size() + i])) != e[i]) return false;
    return true;
  };
  if (endsWith(".zev")) return RunMode::ZevStream;
  if (endsWith(".mlt")) return RunMode::BlockFile;
  return RunMode::NoRecompression;
}

CompressorMainWindow::CompressorMainWindow(const Startup& startup, QWidget* parent)
    : QMainWindow(parent), startup_(startup) {
  setWindowTitle(kAppTitle);
  setWindowIcon(compressorIcon("AFrame"));
  setAcceptDrops(true);
  const std::string ini = startup_.settingsFile;

  // The settings and the window's own keys.
  CompressorOptions& o = session_.options();
  loadSettings(ini, kGeneralSection, session_.settings(), o);
  loadMainWindowOptions(ini, kGeneralSection, o);
  o.PackPadding = readPackPadding(ini, kGeneralSection);
  o.ReportPad = readReportPad(ini, kGeneralSection);
  o.RemoveAudio = readRemoveAudio(ini, kGeneralSection);
  // The colour tables of the compressor, before any frame is converted.
  try {
    (void)colourTables(PixelKind::Rgb555);
  } catch (const std::bad_alloc&) {
    messageBox(nullptr, "MCP0001E Unable to allocate YCrCb tables", kAppTitle, MB_OK | MB_ICONSTOP);
    return;
  }

  SessionHooks hooks;
  hooks.box = [this](const std::string& text, const std::string& title, uint32_t style) {
    return messageBox(toHandle(this), text, title, style);
  };
  hooks.beep = [](int, int) { QApplication::beep(); };
  hooks.pump = [] { QCoreApplication::processEvents(QEventLoop::AllEvents, 50); };
  hooks.sleep = [](int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); };
  session_.setHooks(hooks);
  SessionObserver observer;
  observer.messagesChanged = [this] { postRefresh(kRefreshMessages); };
  observer.frameChanged = [this] { postRefresh(kRefreshFrame); };
  observer.runStateChanged = [this] { postRefresh(kRefreshRun); };
  observer.record = [this](uint32_t frame, const std::array<uint8_t, 40>& format,
                           const uint8_t* data, uint32_t length, bool key) {
    previewRecord(frame, format, data, length, key);
    postRefresh(kRefreshViews);
  };
  session_.setObserver(observer);

  // The client, the menu and the toolbar.
  mdi_ = new QMdiArea(this);
  setCentralWidget(mdi_);
  buildMenu();
  if (o.ShowToolbar) buildToolbar();

  // The message window.
  messages_ = new MessageView(nullptr, session_);
  messageWindow_ = addView(messages_, "Messages", "Text");

  // One copy of the program at a time.
  if (startup_.singleInstance &&
      !instance_.acquire(startup_.lockPath.empty() ? SingleInstanceLock::defaultPath()
                                                   : startup_.lockPath)) {
    messageBox(nullptr, "MCP0004E Sorry, multiple copies of this program cannot run together.",
               kAppTitle, MB_OK | MB_ICONSTOP);
    return;
  }

  // The input window.
  slots_.setExists(kInputView, true);
  input_ = new InputView(nullptr, session_, slots_);
  inputWindow_ = addView(input_, "Input", "Input");
  input_->setTrackShown(o.ShowTrack);
  input_->setAudioShown(o.ShowAudio);
  connect(input_, &InputView::command, this, [this](int id) { command(id); });
  if (!placementStored(startup_.settingsFile, "Text"))
    messageWindow_->setGeometry(firstStartRect("Text", messageWindow_->size()));

  // The optional views that were open at the last exit.
  ProfileFile file(ini);
  const std::pair<const char*, OptionalView> shown[] = {
      {"ShowFilterWindow", OptionalView::Filter},
      {"ShowOutputWindow", OptionalView::Output},
      {"ShowRMSWindow", OptionalView::Rms},
      {"ShowDataRateWindow", OptionalView::DataRate}};
  for (const auto& [key, view] : shown)
    if (file.getInt(kGeneralSection, key, 0) != 0) createView(view);

  // The debug log.
  const std::string log = file.getString(kGeneralSection, "DebugLog", "", 260);
  if (!log.empty() && !session_.messages().openLog(log))
    messageBox(toHandle(this), "MCP0007E Unable to create DebugLog", kAppTitle,
               MB_OK | MB_ICONWARNING);

  // The run's progress in the status bar, beside the title's and the message window's texts.
  runProgress_ = new QProgressBar(this);
  runProgress_->setObjectName("RunProgress");
  runProgress_->setMaximumWidth(240);
  runProgress_->setTextVisible(true);
  runProgress_->hide();
  runState_ = new QLabel(this);
  runState_->setObjectName("RunState");
  runState_->setTextInteractionFlags(Qt::TextSelectableByMouse);
  statusBar()->addWidget(runProgress_);
  statusBar()->addWidget(runState_, 1);

  runTimer_ = new QTimer(this);
  runTimer_->setInterval(200);
  connect(runTimer_, &QTimer::timeout, this, [this] { postRefresh(kRefreshRun); });
  runTimer_->start();

  const WindowPlacement frame = loadPlacement(ini, "Frame");
  if (frame.width() > 100 && frame.height() > 100)
    setGeometry(frame.left, frame.top, frame.width(), frame.height());
  if (frame.showCmd == kShowMaximized) setWindowState(Qt::WindowMaximized);
  created_ = true;
  input_->refresh();
  setWindowTitle(QString::fromStdString(session_.windowTitle()));
  updateCommandStates();
}

CompressorMainWindow::~CompressorMainWindow() {
  saveAtExit();
  // The run ends before the views it feeds go away. Its boxes are shown on this thread, so the
  // events go on being handled until it has ended.
  if (session_.compressing()) session_.run().stop();
  while (session_.compressing()) {
    QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  session_.run().wait();
  session_.setObserver({});
  created_ = false;
}

// ---- Menu and toolbar ----

void CompressorMainWindow::buildMenu() {
  auto add = [this](QMenu* menu, int id, const QString& text, QList<QKeySequence> keys = {},
                    bool checkable = false) {
    QString label = text;
    const int tab = label.indexOf('\t');
    if (tab >= 0) label = label.left(tab);
    QAction* a = menu ? menu->addAction(label) : new QAction(label, this);
    if (!menu) addAction(a);
    if (!keys.isEmpty()) {
      a->setShortcuts(keys);
      a->setShortcutContext(Qt::WindowShortcut);
    }
    a->setCheckable(checkable);
    // Checked items show their check mark, not a picture.
    if (!checkable) a->setIcon(commandIcon(id));
    a->setData(id);
    connect(a, &QAction::triggered, this, [this, id] { command(id); });
    actions_[id] = a;
    return a;
  };
  QMenuBar* bar = menuBar();
  bar->setObjectName("Main");
  QMenu* file = bar->addMenu("&File");
  add(file, kCmdMultiple, "Control &Multiple Source AVI Files...\tCtrl + M",
      {QKeySequence("Ctrl+M")});
  add(file, kCmdOpen, "&Open a Single Source AVI File...\tCtrl + O", {QKeySequence("Ctrl+O")});
  add(file, kCmdClose, "&Close\tCtrl + C", {QKeySequence("Ctrl+C")});
  file->addSeparator();
  add(file, kCmdCompressAs, "Compress &As...\tCtrl + A", {QKeySequence("Ctrl+A")});
  add(file, kCmdNoRecompression, "&No Recompression As...\tCtrl + N", {QKeySequence("Ctrl+N")});
  add(file, kCmdSuspend, "S&uspend Compression\tCtrl + U", {QKeySequence("Ctrl+U")});
  add(file, kCmdStop, "&Stop Compressing\tEsc", {QKeySequence(Qt::Key_Escape)});
  add(file, kCmdSaveCommandLine, "Save Job as Command &Line...");
  file->addSeparator();
  recentMenu_ = file->addMenu("&Recent Files");
  for (int i = 0; i < kFileRecallCount; ++i) {
    QAction* a = add(recentMenu_, kCmdRecall1 + i, QString("&%1").arg(i + 1));
    recentActions_.push_back(a);
  }
  connect(file, &QMenu::aboutToShow, this, [this] { updateRecentMenu(); });
  file->addSeparator();
  add(file, kCmdExit, "E&xit\tAlt + F4", {QKeySequence("Alt+F4")});

  QMenu* settings = bar->addMenu("&Settings");
  add(settings, kCmdAllSettings, "All &Settings...\tCtrl + S", {QKeySequence("Ctrl+S")});
  settings->addSeparator();
  add(settings, kCmdExtractCrop, "&Extract / Crop...");
  add(settings, kCmdFiltering, "&Filtering...");
  add(settings, kCmdVideoCompression, "Video &Compression...");
  add(settings, kCmdChromaKeying, "Chroma &Keying...");
  add(settings, kCmdDataRate, "&Data Rate...");
  add(settings, kCmdFileSizeCutoff, "&File Size Cutoff...");
  add(settings, kCmdAudioOptions, "&Audio Options...");
  add(settings, kCmdPadding, "CD-ROM &Padding...");

  QMenu* video = bar->addMenu("&Video");
  add(video, kCmdPreviousSegment, "Previous Video Segment\tCtrl + PageUp",
      {QKeySequence("Ctrl+PgUp")});
  add(video, kCmdNextSegment, "Next Video Segment\tCtrl + PageDown", {QKeySequence("Ctrl+PgDown")});
  video->addSeparator();
  add(video, kCmdFirstFrame, "Fi&rst Frame\tHome", {QKeySequence(Qt::Key_Home)});
  add(video, kCmdBack15, "Move 15 Frames &Back\tPageUp", {QKeySequence(Qt::Key_PageUp)});
  add(video, kCmdPreviousFrame, "&Previous Frame\t<-",
      {QKeySequence(Qt::Key_Left), QKeySequence(Qt::Key_Up)});
  add(video, kCmdNextFrame, "&Next Frame\t->",
      {QKeySequence(Qt::Key_Right), QKeySequence(Qt::Key_Down)});
  add(video, kCmdForward15, "Move 15 Frames For&ward\tPageDown", {QKeySequence(Qt::Key_PageDown)});
  add(video, kCmdLastFrame, "&Last Frame\tEnd", {QKeySequence(Qt::Key_End)});
  video->addSeparator();
  add(video, kCmdGotoFrame, "&Goto Frame...\tCtrl + G", {QKeySequence("Ctrl+G")});

  QMenu* options = bar->addMenu("&Options");
  add(options, kCmdShowFiltering, "Show &Filtering in Filter Window\tCtrl + F",
      {QKeySequence("Ctrl+F")}, true);
  add(options, kCmdShowTrack, "Show &Track Bar in Input Window", {}, true);
  add(options, kCmdShowAudio, "Show &Audio Bar in Input Window", {}, true);
  add(options, kCmdShowToolbar, "Show Tool&Bar", {}, true);

  // The views are listed in the second-to-last menu.
  windowMenu_ = bar->addMenu("&Window");
  connect(windowMenu_, &QMenu::aboutToShow, this, [this] { updateWindowMenu(); });
  updateWindowMenu();

  QMenu* help = bar->addMenu("&Help");
  add(help, kCmdHelp, "&ZOVComp Help...");
  add(help, kCmdAbout, "&About ZOVComp...");

  // Accelerators without a menu entry.
  add(nullptr, kCmdNextView, "Next View", {QKeySequence("Ctrl+F6")});
  add(nullptr, kCmdPreviousView, "Previous View", {QKeySequence("Ctrl+Shift+F6")});
}

void CompressorMainWindow::updateWindowMenu() {
  windowMenu_->clear();
  auto add = [this](int id, const QString& text, bool checked) {
    QAction* a = windowMenu_->addAction(text);
    a->setCheckable(checked);
    a->setChecked(checked);
    connect(a, &QAction::triggered, this, [this, id] { command(id); });
    actions_[id] = a;
  };
  add(kCmdCascade, "&Cascade", false);
  add(kCmdTile, "&Tile", false);
  add(kCmdArrangeIcons, "Arrange &Icons", false);
  windowMenu_->addSeparator();
  add(kCmdShowFilterWindow, "Show &Filter Window", views_[0] != nullptr);
  add(kCmdShowOutputWindow, "Show &Output Window", views_[1] != nullptr);
  add(kCmdShowRmsWindow, "Show &RMS Window", views_[2] != nullptr);
  add(kCmdShowDataRateWindow, "Show Video &DataRate Window", views_[3] != nullptr);
  windowMenu_->addSeparator();
  int n = 1;
  for (QMdiSubWindow* w : mdi_->subWindowList()) {
    QAction* a = windowMenu_->addAction(QString("&%1 %2").arg(n++).arg(w->windowTitle()));
    a->setCheckable(true);
    a->setChecked(w == mdi_->activeSubWindow());
    connect(a, &QAction::triggered, this, [this, w] { mdi_->setActiveSubWindow(w); });
  }
}

void CompressorMainWindow::updateRecentMenu() {
  const auto& recall = session_.options().FileRecall;
  for (int i = 0; i < kFileRecallCount; ++i) {
    QAction* a = recentActions_[size_t(i)];
    const std::string& path = recall[size_t(i)];
    a->setVisible(!path.empty());
    a->setText(QString("&%1 %2").arg(i + 1).arg(QString::fromStdString(path)));
  }
  updateCommandStates();
}

void CompressorMainWindow::buildToolbar() {
  if (toolbar_) return;
  toolbar_ = new QToolBar("ZOVTool", this);
  toolbar_->setObjectName("ZOVTool");
  toolbar_->setMovable(false);
  toolbar_->setIconSize(QSize(24, 24));
  auto* tips = new TooltipTimer(toolbar_);
  for (const ToolbarButton& b : kToolbarButtons) {
    QAction* a = toolbar_->addAction(compressorIcon(b.bitmap), b.tooltip);
    a->setObjectName(b.bitmap);
    a->setToolTip(b.tooltip);
    a->setData(b.command);
    const int id = b.command;
    connect(a, &QAction::triggered, this, [this, id] { command(id); });
    if (QWidget* w = toolbar_->widgetForAction(a)) w->installEventFilter(tips);
    if (b.separatorAfter) toolbar_->addSeparator();
  }
  addToolBar(Qt::TopToolBarArea, toolbar_);
  session_.options().ShowToolbar = true;
  updateCommandStates();
}

void CompressorMainWindow::destroyToolbar() {
  if (!toolbar_) return;
  removeToolBar(toolbar_);
  delete toolbar_;
  toolbar_ = nullptr;
  session_.options().ShowToolbar = false;
}

QAction* CompressorMainWindow::action(int id) const {
  auto it = actions_.find(id);
  return it == actions_.end() ? nullptr : it->second;
}

void CompressorMainWindow::updateCommandStates() {
  const CommandState st = session_.commandState(views_[0] != nullptr);
  for (auto& [id, a] : actions_) a->setEnabled(commandEnabled(id, st));
  if (toolbar_) {
    for (QAction* a : toolbar_->actions())
      if (!a->isSeparator()) a->setEnabled(commandEnabled(a->data().toInt(), st));
  }
  const CompressorOptions& o = session_.options();
  if (QAction* a = action(kCmdShowFiltering)) a->setChecked(o.ShowFilter);
  if (QAction* a = action(kCmdShowTrack)) a->setChecked(o.ShowTrack);
  if (QAction* a = action(kCmdShowAudio)) a->setChecked(o.ShowAudio);
  if (QAction* a = action(kCmdShowToolbar)) a->setChecked(toolbar_ != nullptr);
}

// ---- Views ----

QMdiSubWindow* CompressorMainWindow::addView(QWidget* view, const QString& title,
                                             const std::string& prefix,
                                             std::function<void()> closed) {
  auto* w = new ViewWindow(mdi_, prefix, startup_.settingsFile, std::move(closed));
  w->setWidget(view);
  w->setWindowTitle(title);
  // The icons of the view classes: "Messages", "Input", "Filter", "Output", "RMS", "DataRate".
  w->setWindowIcon(compressorIcon(prefix == "Text" ? "Messages" : prefix.c_str()));
  mdi_->addSubWindow(w);
  w->applyFlags();
  const WindowPlacement p = loadPlacement(startup_.settingsFile, prefix);
  QSize size = view->sizeHint() + QSize(12, 34);
  const ViewSize kept = loadViewSize(startup_.settingsFile, prefix);
  if (p.hasRightBottom && p.width() > 40 && p.height() > 40)
    size = QSize(p.width(), p.height());
  else if (kept.width > 40 && kept.height > 40)
    size = QSize(kept.width, kept.height);
  QRect at(p.left, p.top, size.width(), size.height());
  if (!placementStored(startup_.settingsFile, prefix)) at = firstStartRect(prefix, size);
  w->setGeometry(at);
  // A maximised view is shown normally first and maximised after.
  w->show();
  if (p.showCmd == kShowMaximized) QTimer::singleShot(0, w, [w] { w->showMaximized(); });
  return w;
}

QRect CompressorMainWindow::firstStartRect(const std::string& prefix, QSize size) const {
  // Nothing saved yet: the input view in the corner, the messages beside it, and the views of
  // a compression in a row below both, so that none covers another.
  constexpr int kGap = 4;
  const QRect input = inputWindow_ ? inputWindow_->geometry() : QRect();
  if (prefix == "Input") return QRect(QPoint(0, 0), size);
  if (prefix == "Text") {
    const int left = input.isValid() ? input.right() + 1 + kGap : 326;
    return QRect(left, 0, std::max(size.width(), 320), std::max(size.height(), 328));
  }
  const QRect text = messageWindow_ ? messageWindow_->geometry() : QRect();
  const int top = std::max(input.bottom(), text.bottom()) + 1 + kGap;
  int number = 0;
  for (const char* name : {"Filter", "Output", "RMS", "DataRate"}) {
    if (prefix == name) break;
    ++number;
  }
  const QSize cell(250, 220);
  return QRect(QPoint(number * (cell.width() + kGap), std::max(top, 0)), cell);
}

QMdiSubWindow* CompressorMainWindow::viewWindow(OptionalView view) const {
  return views_[size_t(view)];
}

bool CompressorMainWindow::createView(OptionalView view) {
  const size_t index = size_t(view);
  if (views_[index]) return true;
  const int slot = slotOf(view);
  if (view == OptionalView::Output || view == OptionalView::Rms) {
    if (session_.chromaRunBegun()) {
      messageBox(toHandle(this),
                 view == OptionalView::Output
                     ? "MCP0030E Unable to view output once a chroma compression has begun!"
                     : "MCP0032E Unable to view RMS once a chroma compression has begun!",
                 kCompressorTitle, MB_OK | MB_ICONSTOP);
      return false;
    }
    auto decoder = std::make_unique<CodecPreview>();
    if (!decoder->open()) return false;
    slots_.setExists(slot, true);
    std::lock_guard guard(slots_.slot(slot).lock);
    slots_.slot(slot).decoder = std::move(decoder);
  } else if (slot >= 0) {
    slots_.setExists(slot, true);
  }
  QWidget* widget = nullptr;
  QString title;
  if (view == OptionalView::DataRate) {
    dataRate_ = new DataRateView(nullptr, session_);
    widget = dataRate_;
    title = "Video DataRate Graph";
  } else {
    auto* canvas = new PictureCanvas(nullptr, slots_, slot);
    canvases_[index] = canvas;
    widget = canvas;
    title = view == OptionalView::Filter   ? "Filtered Source"
            : view == OptionalView::Output ? "Output: waiting for keyframe..."
                                           : "RMS: waiting for keyframe...";
  }
  // The view is gone for the program as soon as it closes (its widget is deleted later).
  QMdiSubWindow* w = addView(widget, title, prefixOf(view), [this, view] { viewDestroyed(view); });
  views_[index] = w;
  // The stretch follows the view's maximised state.
  connect(w, &QMdiSubWindow::windowStateChanged, this,
          [this, index](Qt::WindowStates, Qt::WindowStates now) {
            if (index < 3 && canvases_[index])
              canvases_[index]->setStretch(now & Qt::WindowMaximized);
          });
  if (view == OptionalView::Filter) refreshFilterView();
  updateCommandStates();
  return true;
}

void CompressorMainWindow::viewDestroyed(OptionalView view) {
  if (!created_) return;
  const size_t index = size_t(view);
  views_[index] = nullptr;
  if (index < 3) canvases_[index] = nullptr;
  if (view == OptionalView::DataRate) dataRate_ = nullptr;
  const int slot = slotOf(view);
  if (slot >= 0) slots_.setExists(slot, false);
  updateCommandStates();
}

void CompressorMainWindow::closeView(OptionalView view) {
  if (QMdiSubWindow* w = views_[size_t(view)]) w->close();
}

void CompressorMainWindow::toggleView(OptionalView view) {
  if (views_[size_t(view)])
    closeView(view);
  else
    createView(view);
}

void CompressorMainWindow::gotoView(OptionalView view) {
  if (!views_[size_t(view)] && !createView(view)) return;
  mdi_->setActiveSubWindow(views_[size_t(view)]);
}

void CompressorMainWindow::refreshFilterView() {
  if (!views_[0]) return;
  const CompressorOptions& o = session_.options();
  ViewPicture picture;
  SourceFile* s = session_.currentSource();
  if (s) {
    std::vector<uint8_t> bitmap;
    const bool zov2 = session_.allSourcesZov2();
    if (s->getFrameAbsolute(session_.currentFrame(), bitmap, nullptr, true, o.ShowFilter && !zov2,
                            true) &&
        bitmap.size() > 40) {
      const int w = int(bitmap[4] | bitmap[5] << 8 | bitmap[6] << 16 | bitmap[7] << 24);
      const int h = std::abs(int(bitmap[8] | bitmap[9] << 8 | bitmap[10] << 16 | bitmap[11] << 24));
      if (w > 0 && h > 0 && bitmap.size() >= 40 + size_t(w) * size_t(h) * 2) {
        const auto* px = reinterpret_cast<const uint16_t*>(bitmap.data() + 40);
        picture.pixels.assign(px, px + size_t(w) * size_t(h));
        picture.width = w;
        picture.height = h;
      }
    }
  }
  if (slots_.lock(kFilterView)) {
    slots_.slot(kFilterView).picture = std::move(picture);
    slots_.unlock(kFilterView);
  }
  if (canvases_[0]) {
    canvases_[0]->setOverlayText(QString::fromStdString(
        filteredViewTitle(o.Filters, o.ShowFilter, session_.allSourcesZov2())));
    canvases_[0]->update();
  }
}

void CompressorMainWindow::previewRecord(uint32_t frame, const std::array<uint8_t, 40>& format,
                                         const uint8_t* data, uint32_t length, bool key) {
  // The worker thread: each view's buffer changes under its lock only.
  for (int slot : {kOutputView, kRmsView}) {
    if (!slots_.lock(slot)) continue;
    ViewSlot& s = slots_.slot(slot);
    std::vector<uint16_t> decoded;
    int w = 0, h = 0;
    if (s.decoder && s.decoder->decode(format, data, length, key, decoded, &w, &h)) {
      if (slot == kOutputView) {
        s.picture.pixels = std::move(decoded);
        s.picture.width = w;
        s.picture.height = h;
        s.picture.title = "Compressed Output";
      } else {
        uint32_t local = 0;
        SourceFile* src = session_.locateRunFrame(frame, &local);
        std::vector<uint8_t> bitmap;
        if (src && src->getFrame(local, bitmap, nullptr, true, true, true) && bitmap.size() > 40) {
          const int sh =
              std::abs(int(bitmap[8] | bitmap[9] << 8 | bitmap[10] << 16 | bitmap[11] << 24));
          std::vector<uint16_t> picture;
          uint64_t compared = 0;
          const uint32_t top = session_.runLetterTop(), bottom = session_.runLetterBottom();
          if (uint32_t(h) >= uint32_t(sh) + top + bottom &&
              bitmap.size() >= 40 + size_t(w) * size_t(sh) * 2) {
            const uint64_t sum = rmsDifference(
                reinterpret_cast<const uint16_t*>(bitmap.data() + 40), decoded.data(), w, sh, top,
                bottom, session_.settings().FieldType, &picture, &compared);
            s.picture.pixels = std::move(picture);
            s.picture.width = w;
            s.picture.height = int(s.picture.pixels.size() / size_t(std::max(1, w)));
            char title[64];
            std::snprintf(title, sizeof title, "RMS Difference: %2.2f%%",
                          rmsPercent(sum, compared));
            s.picture.title = title;
          }
        }
      }
    }
    slots_.unlock(slot);
  }
}

void CompressorMainWindow::refreshViewTitles() {
  for (OptionalView v : {OptionalView::Output, OptionalView::Rms}) {
    QMdiSubWindow* w = views_[size_t(v)];
    if (!w) continue;
    const int slot = slotOf(v);
    std::string title;
    if (slots_.lock(slot)) {
      title = slots_.slot(slot).picture.title;
      slots_.unlock(slot);
    }
    if (!title.empty()) w->setWindowTitle(QString::fromStdString(title));
    if (canvases_[size_t(v)]) canvases_[size_t(v)]->update();
  }
}

// ---- Refreshing from any thread ----

void CompressorMainWindow::postRefresh(int what) {
  // A repaint request is queued only when none is pending.
  if (pending_.fetch_or(what) == 0)
    QMetaObject::invokeMethod(
        this, [this] { applyRefresh(); }, Qt::QueuedConnection);
}

void CompressorMainWindow::refreshNow() {
  QCoreApplication::processEvents();
  pending_.fetch_or(kRefreshFrame | kRefreshMessages | kRefreshRun | kRefreshViews);
  applyRefresh();
}

void CompressorMainWindow::applyRefresh() {
  const int what = pending_.exchange(0);
  if (!created_) return;
  if ((what & kRefreshRun) && !session_.compressing() && !session_.target().empty())
    session_.finishRun();
  if (what & kRefreshFrame) {
    input_->refresh();
    refreshFilterView();
    if (dataRate_) dataRate_->update();
  }
  if (what & (kRefreshMessages | kRefreshFrame)) messages_->refresh();
  if (what & kRefreshViews) refreshViewTitles();
  if (what & kRefreshRun) refreshRunState();
  setWindowTitle(QString::fromStdString(session_.windowTitle()));
  updateCommandStates();
}

void CompressorMainWindow::refreshRunState() {
  const bool running = session_.compressing();
  const RunProgressFigures f = session_.runFigures();
  runProgress_->setVisible(running || session_.runEnded());
  runProgress_->setRange(0, int(std::max<uint32_t>(f.total, 1)));
  runProgress_->setValue(int(std::min(f.done, std::max<uint32_t>(f.total, 1))));
  runState_->setText(QString::fromStdString(session_.runStateText()));
}

// ---- Commands ----

std::string CompressorMainWindow::askFile(const QString& title, const QString& filters,
                                          const QString& ext, const std::string& folder, bool save,
                                          QString* chosen) {
  const QString dir = QString::fromStdString(folder);
  if (fileQuestion_) return fileQuestion_(title, filters, ext, dir, save, chosen);
  QFileDialog dialog(this, title, dir, filters);
  dialog.setDefaultSuffix(ext);
  if (save) {
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    // A bare name takes the extension of the file type chosen, not the first type's.
    connect(&dialog, &QFileDialog::filterSelected, &dialog, [&dialog, ext](const QString& f) {
      const QString own = suffixOfFilter(f);
      dialog.setDefaultSuffix(own.isEmpty() ? ext : own);
    });
  } else {
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setOption(QFileDialog::ReadOnly, true);
  }
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return {};
  if (chosen) *chosen = dialog.selectedNameFilter();
  return dialog.selectedFiles().front().toStdString();
}

void CompressorMainWindow::command(int id) {
  switch (id) {
    case kCmdExit:
      close();
      return;
    case kCmdHelp:
      messageBox(toHandle(this),
                 "MCP0028I Please refer to the information provided in the Orvane Folder",
                 kAppTitle, MB_OK | MB_ICONINFORMATION);
      return;
    case kCmdAbout:
      aboutBox();
      return;
    case kCmdOpen:
      openCommand(id);
      return;
    case kCmdClose:
      closeCommand();
      return;
    case kCmdCompressAs:
    case kCmdNoRecompression:
      compressCommand(id);
      return;
    case kCmdSuspend:
      session_.suspend();
      return;
    case kCmdStop:
      session_.stop(false);
      postRefresh(kRefreshRun | kRefreshFrame);
      return;
    case kCmdMultiple:
      editListCommand();
      return;
    case kCmdAllSettings:
      settingsCommand(-1);
      return;
    case kCmdPreviousSegment:
    case kCmdNextSegment:
      session_.stepSegment(id == kCmdNextSegment);
      return;
    case kCmdFirstFrame:
    case kCmdBack15:
    case kCmdPreviousFrame:
    case kCmdNextFrame:
    case kCmdForward15:
    case kCmdLastFrame:
      session_.navigate(id);
      return;
    case kCmdGotoFrame:
      gotoFrameCommand();
      return;
    case kCmdMarkIn:
      session_.markIn();
      return;
    case kCmdMarkOut:
      session_.markOut();
      return;
    case kCmdShowFiltering:
      session_.options().ShowFilter = !session_.options().ShowFilter;
      refreshFilterView();
      updateCommandStates();
      return;
    case kCmdShowTrack:
      session_.options().ShowTrack = !session_.options().ShowTrack;
      input_->setTrackShown(session_.options().ShowTrack);
      updateCommandStates();
      return;
    case kCmdShowAudio:
      session_.options().ShowAudio = !session_.options().ShowAudio;
      input_->setAudioShown(session_.options().ShowAudio);
      updateCommandStates();
      return;
    case kCmdShowToolbar:
      toolbar_ ? destroyToolbar() : buildToolbar();
      updateCommandStates();
      return;
    case kCmdCascade:
      mdi_->cascadeSubWindows();
      return;
    case kCmdTile:
      mdi_->tileSubWindows();
      return;
    case kCmdArrangeIcons:
      // Minimised views line up along the bottom of the client.
      {
        int x = 0;
        for (QMdiSubWindow* w : mdi_->subWindowList())
          if (w->isMinimized()) {
            w->move(x, mdi_->viewport()->height() - w->height());
            x += w->width();
          }
      }
      return;
    case kCmdShowFilterWindow:
      toggleView(OptionalView::Filter);
      return;
    case kCmdShowOutputWindow:
      toggleView(OptionalView::Output);
      return;
    case kCmdShowRmsWindow:
      toggleView(OptionalView::Rms);
      return;
    case kCmdShowDataRateWindow:
      toggleView(OptionalView::DataRate);
      return;
    case kCmdGotoOutput:
      gotoView(OptionalView::Output);
      return;
    case kCmdGotoError:
      gotoView(OptionalView::Rms);
      return;
    case kCmdGotoFilter:
      gotoView(OptionalView::Filter);
      return;
    case kCmdGotoDataRate:
      gotoView(OptionalView::DataRate);
      return;
    case kCmdNextView:
      mdi_->activateNextSubWindow();
      return;
    case kCmdPreviousView:
      mdi_->activatePreviousSubWindow();
      return;
    case kCmdSaveCommandLine:
      saveCommandLineCommand();
      return;
    default:
      break;
  }
  if (id >= kCmdRecall1 && id < kCmdRecall1 + kFileRecallCount) {
    openCommand(id);
    return;
  }
  const int page = configurationPageOf(id);
  if (page >= 0) settingsCommand(page);
}

bool CompressorMainWindow::openSourceFile(const std::string& path) {
  if (session_.compressing() || session_.sourceCount() > 1) {
    QApplication::beep();
    return false;
  }
  const bool ok = session_.openSource(path);
  // The previous source's pictures go with it.
  for (int slot : {kOutputView, kRmsView}) {
    if (!slots_.lock(slot)) continue;
    slots_.slot(slot).picture = ViewPicture{};
    slots_.unlock(slot);
  }
  refreshNow();
  return ok;
}

bool CompressorMainWindow::openFiles(const std::vector<std::string>& paths) {
  if (paths.empty()) return false;
  if (paths.size() == 1) return openSourceFile(paths.front());
  if (session_.compressing()) {
    QApplication::beep();
    return false;
  }
  const std::string question = "Make the " + std::to_string(paths.size()) +
                               " files an edit list, one segment each in this order?";
  if (messageBox(toHandle(this), question, kAppTitle, MB_YESNO | MB_ICONQUESTION) != IDYES)
    return false;
  std::vector<std::unique_ptr<SourceFile>> segments;
  for (const std::string& path : paths) {
    auto segment = std::make_unique<SourceFile>(path);
    if (!segment->Opened) return false;  // the source reader has said why
    segment->sampleDataRate();
    segments.push_back(std::move(segment));
  }
  for (int slot : {kOutputView, kRmsView}) {
    if (!slots_.lock(slot)) continue;
    slots_.slot(slot).picture = ViewPicture{};
    slots_.unlock(slot);
  }
  session_.sources() = std::move(segments);
  session_.listChanged(0);
  refreshNow();
  return true;
}

void CompressorMainWindow::openCommand(int id) {
  if (session_.compressing() || session_.sourceCount() > 1) {
    QApplication::beep();
    return;
  }
  std::string path;
  if (id == kCmdOpen) {
    path = askFile("Open", "Video Files (*.avi)", "AVI", session_.options().SourceFilePath, false);
  } else {
    path = session_.options().FileRecall[size_t(id - kCmdRecall1)];
  }
  if (!path.empty()) openSourceFile(path);
}

void CompressorMainWindow::closeCommand() {
  if (session_.compressing() || session_.sourceCount() != 1) return;
  for (int slot = 0; slot < 4; ++slot) {
    if (!slots_.lock(slot)) continue;
    slots_.slot(slot).picture = ViewPicture{};
    slots_.unlock(slot);
  }
  // The decoders start afresh; a view whose codec can't be loaded again closes.
  for (OptionalView v : {OptionalView::Output, OptionalView::Rms}) {
    if (!views_[size_t(v)]) continue;
    auto decoder = std::make_unique<CodecPreview>();
    if (!decoder->open()) {
      closeView(v);
      continue;
    }
    if (slots_.lock(slotOf(v))) {
      slots_.slot(slotOf(v)).decoder = std::move(decoder);
      slots_.unlock(slotOf(v));
    }
  }
  session_.closeSource();
  refreshNow();
}

bool CompressorMainWindow::startCompression(int id, const std::string& target) {
  const RunMode mode = runModeForTarget(id, target);
  if (!session_.prepareCompression(mode)) return false;
  // The decoders see the new stream from its first frame.
  for (OptionalView v : {OptionalView::Output, OptionalView::Rms}) {
    const int slot = slotOf(v);
    if (!slots_.lock(slot)) continue;
    slots_.slot(slot).picture = ViewPicture{};
    if (slots_.slot(slot).decoder) {
      auto fresh = std::make_unique<CodecPreview>();
      if (fresh->open()) slots_.slot(slot).decoder = std::move(fresh);
    }
    slots_.unlock(slot);
    if (views_[size_t(v)])
      views_[size_t(v)]->setWindowTitle(v == OptionalView::Output
                                            ? "Output: waiting for keyframe..."
                                            : "RMS: waiting for keyframe...");
  }
  const bool ok = session_.startCompression(mode, target);
  refreshNow();
  return ok;
}

void CompressorMainWindow::compressCommand(int id) {
  if (session_.compressing() || session_.sourceCount() == 0) {
    QApplication::beep();
    return;
  }
  // The run's checks come before the target is asked for.
  const RunMode provisional = id == kCmdCompressAs ? RunMode::Compress : RunMode::NoRecompression;
  if (!session_.prepareCompression(provisional)) return;
  QString filters = "Video Files (*.avi)";
  if (id == kCmdNoRecompression) filters += ";;ZEV Files (*.zev);;MLT Files (*.mlt)";
  QString chosen;
  std::string target =
      askFile("Compress As", filters, "AVI", session_.options().TargetFilePath, true, &chosen);
  if (target.empty()) return;
  // A name without extension takes the chosen type's.
  if (target.find('.', target.rfind('/') + 1) == std::string::npos) {
    if (chosen.startsWith("ZEV"))
      target += ".zev";
    else if (chosen.startsWith("MLT"))
      target += ".mlt";
    else
      target += ".avi";
  }
  const RunMode mode = runModeForTarget(id, target);
  if (mode != provisional && !session_.prepareCompression(mode)) return;
  startCompression(id, target);
}

void CompressorMainWindow::settingsCommand(int page) {
  if (session_.compressing() || session_.sourceCount() == 0) {
    QApplication::beep();
    return;
  }
  SourceFile* s = session_.currentSource();
  ConfigurationContext ctx;
  ctx.settings = &session_.settings();
  ctx.options = &session_.options();
  ctx.source = s;
  const uint32_t frame = session_.currentFrame();
  ctx.currentFrame = s && frame >= s->ExtractionStart ? frame - s->ExtractionStart : 0;
  ctx.allSourcesZov2 = session_.allSourcesZov2();
  runConfigurationDialog(this, ctx, page);
  if (s) s->sampleDataRate();
  session_.listChanged(session_.currentIndex());
  refreshNow();
}

void CompressorMainWindow::editListCommand() {
  if (session_.compressing()) {
    QApplication::beep();
    return;
  }
  EditListContext ctx;
  ctx.segments = &session_.sources();
  ctx.options = &session_.options();
  size_t current = session_.currentIndex();
  runEditListDialog(this, ctx, current);
  session_.listChanged(current);
  refreshNow();
}

void CompressorMainWindow::gotoFrameCommand() {
  SourceFile* s = session_.currentSource();
  if (!s || session_.compressing()) {
    QApplication::beep();
    return;
  }
  auto frame =
      runGotoFrameDialog(this, session_.currentFrame() + 1, s->FrameCount, startup_.settingsFile);
  if (frame) session_.gotoFrame(*frame - 1);
}

bool CompressorMainWindow::saveCommandLine(const std::string& script) {
  if (session_.sourceCount() == 0) return false;
  std::string base = script;
  const size_t dot = base.rfind('.');
  if (dot != std::string::npos && dot > base.rfind('/') + 1) base.resize(dot);
  const RunMode mode = session_.allSourcesZov2() ? RunMode::NoRecompression : RunMode::Compress;
  std::string input;
  const SourceFile* single = nullptr;
  if (session_.sourceCount() == 1) {
    single = session_.currentSource();
    input = single->Path;
  } else {
    // Several segments travel in an edit list beside the script.
    input = base + ".ini";
    std::vector<SourceFile*> segments;
    for (auto& s : session_.sources()) segments.push_back(s.get());
    if (!saveEditList(input, segments)) return false;
  }
  const auto args =
      jobArguments(input, single, base + ".avi", mode, session_.settings(), session_.options());
  std::ofstream out(script, std::ios::trunc);
  out << "#!/bin/sh\n" << jobCommandLine(args) << "\n";
  out.close();
  if (!out) return false;
  chmod(script.c_str(), 0755);
  session_.addMessage("Command line saved in " + script);
  return true;
}

void CompressorMainWindow::saveCommandLineCommand() {
  if (session_.sourceCount() == 0) {
    QApplication::beep();
    return;
  }
  const std::string path = askFile("Save Job as Command Line", "Shell Scripts (*.sh)", "sh",
                                   session_.options().TargetFilePath, true);
  if (!path.empty() && !saveCommandLine(path))
    messageBox(toHandle(this), "Unable to write \"" + path + "\"", kCompressorTitle,
               MB_OK | MB_ICONSTOP);
}

void CompressorMainWindow::aboutBox() {
  // "DLGABOUT": the logo stretched over the whole box, the program's name and version on it,
  // and an OK button.
  QDialog box(this);
  box.setObjectName("DLGABOUT");
  box.setWindowTitle("About ZOVComp");
  box.setFixedSize(360, 200);
  QPixmap logo(box.size() * box.devicePixelRatioF());
  logo.setDevicePixelRatio(box.devicePixelRatioF());
  QPainter p(&logo);
  QLinearGradient g(0, 0, 360, 200);
  g.setColorAt(0, QColor(20, 30, 80));
  g.setColorAt(1, QColor(90, 140, 220));
  p.fillRect(QRect(0, 0, 360, 200), g);
  p.end();
  auto* background = new QLabel(&box);
  background->setPixmap(logo);
  background->setScaledContents(true);
  background->setGeometry(box.rect());
  auto* layout = new QVBoxLayout(&box);
  auto* name = new QLabel("ZOVComp", &box);
  name->setObjectName("AboutName");
  QFont big = name->font();
  big.setPointSizeF(big.pointSizeF() * 2);
  big.setBold(true);
  name->setFont(big);
  auto* version = new QLabel(QString("ZOV Compressor, version %1").arg(ZOV_VERSION_STRING), &box);
  version->setObjectName("AboutVersion");
  for (QLabel* l : {name, version}) {
    l->setAlignment(Qt::AlignCenter);
    l->setStyleSheet("color: white");
    layout->addWidget(l);
  }
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok, &box);
  connect(buttons, &QDialogButtonBox::accepted, &box, &QDialog::accept);
  layout->addWidget(buttons);
  box.exec();
}

// ---- Drops ----

void CompressorMainWindow::dragEnterEvent(QDragEnterEvent* event) {
  if (event->mimeData()->hasUrls() && !event->mimeData()->urls().isEmpty() &&
      event->mimeData()->urls().front().isLocalFile())
    event->acceptProposedAction();
}

void CompressorMainWindow::dropEvent(QDropEvent* event) {
  const auto urls = event->mimeData()->urls();
  std::vector<std::string> paths;
  for (const QUrl& url : urls)
    if (url.isLocalFile()) paths.push_back(url.toLocalFile().toStdString());
  if (paths.empty()) return;
  event->acceptProposedAction();
  // Opened after the drop has returned, so that the source's messages don't block the drag.
  QTimer::singleShot(0, this, [this, paths] { openFiles(paths); });
}

// ---- Shut-down ----

bool CompressorMainWindow::stopForExit() {
  const StopResult r = session_.stop(true);
  return r == StopResult::Stopped || r == StopResult::NoRun || r == StopResult::TimedOut;
}

void CompressorMainWindow::endFromSignal() {
  if (session_.compressing()) session_.stop(false);
  close();
}

void CompressorMainWindow::closeEvent(QCloseEvent* event) {
  if (created_ && !stopForExit()) {
    event->ignore();
    return;
  }
  saveAtExit();
  event->accept();
}

void CompressorMainWindow::saveAtExit() {
  if (!created_ || savedAtExit_) return;
  savedAtExit_ = true;
  const std::string& ini = startup_.settingsFile;
  ProfileFile file(ini);
  file.writeString(kGeneralSection, "ShowFilterWindow", views_[0] ? "1" : "0");
  file.writeString(kGeneralSection, "ShowOutputWindow", views_[1] ? "1" : "0");
  file.writeString(kGeneralSection, "ShowRMSWindow", views_[2] ? "1" : "0");
  file.writeString(kGeneralSection, "ShowDataRateWindow", views_[3] ? "1" : "0");
  for (QMdiSubWindow* w : mdi_->subWindowList())
    if (auto* v = dynamic_cast<ViewWindow*>(w)) v->keepPlacement();
  WindowPlacement frame = defaultPlacement("Frame");
  frame.showCmd = isMaximized() ? kShowMaximized : isMinimized() ? kShowMinimized : kShowNormal;
  const QRect g = isMaximized() ? normalGeometry() : geometry();
  frame.left = g.left();
  frame.top = g.top();
  frame.right = g.right() + 1;
  frame.bottom = g.bottom() + 1;
  savePlacement(ini, "Frame", frame);
  saveSettings(ini, kGeneralSection, session_.settings(), session_.options());
  saveMainWindowOptions(ini, kGeneralSection, session_.options());
}

}  // namespace zov

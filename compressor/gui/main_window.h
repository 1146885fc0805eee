// The compressor's frame window: menu "Main", accelerators, toolbar and the multiple-document
// client with the input view, the message window and the optional views of a compression. It
// forwards every command to the session (compressor_session.h) and paints what it holds.
#pragma once

#include <QMainWindow>
#include <array>
#include <atomic>
#include <functional>
#include <map>
#include <memory>
#include <string>

#include "compressor/gui/compressor_session.h"
#include "compressor/gui/single_instance.h"
#include "compressor/gui/view_slots.h"
#include "compressor/gui/window_placement.h"

class QAction;
class QMdiArea;
class QMdiSubWindow;
class QLabel;
class QMenu;
class QProgressBar;
class QTimer;
class QToolBar;

namespace zov {

class InputView;
class MessageView;
class DataRateView;
class PictureCanvas;

// The optional views (besides the input view and the message window).
enum class OptionalView { Filter, Output, Rms, DataRate };

class CompressorMainWindow : public QMainWindow {
  Q_OBJECT
 public:
  struct Startup {
    std::string settingsFile = "zovcomp.ini";
    bool singleInstance = true;
    std::string lockPath;  // empty: the default lock file
  };
  // A file dialog: (title, filters, default extension, folder, save) -> the chosen path, or "" for
  // cancel; `chosenFilter` receives the filter picked. Tests replace it.
  using FileQuestion = std::function<std::string(
      const QString& title, const QString& filters, const QString& defaultExtension,
      const QString& folder, bool save, QString* chosenFilter)>;

  // Builds the window in the start-up order; created() is false when another copy runs
  // (MCP0004E) or a part that the window can't do without failed.
  CompressorMainWindow(const Startup& startup, QWidget* parent = nullptr);
  ~CompressorMainWindow() override;
  bool created() const { return created_; }

  CompressorSession& session() { return session_; }
  ViewSlots& viewSlots() { return slots_; }
  void setFileQuestion(FileQuestion q) { fileQuestion_ = std::move(q); }

  // Runs a command of the menu, the accelerators, the toolbar or the input view.
  void command(int id);
  QAction* action(int id) const;
  QToolBar* toolBar() const { return toolbar_; }
  QProgressBar* runProgress() const { return runProgress_; }
  QLabel* runState() const { return runState_; }
  QMdiArea* mdiArea() const { return mdi_; }
  InputView* inputView() const { return input_; }
  MessageView* messageView() const { return messages_; }
  QMdiSubWindow* viewWindow(OptionalView view) const;
  QMdiSubWindow* inputWindow() const { return inputWindow_; }
  QMdiSubWindow* messageWindow() const { return messageWindow_; }
  // Opens a source as "Open" does, without the file dialog (drops and recent files too).
  bool openSourceFile(const std::string& path);
  // Opens files given on the command line or dropped: one as "Open" does; several, after asking,
  // as an edit list of those segments in that order.
  bool openFiles(const std::vector<std::string>& paths);
  // Starts a compression into `target` as the save dialog's answer would.
  bool startCompression(int command, const std::string& target);
  // Writes the job as a shell script; false when it can't be written.
  bool saveCommandLine(const std::string& scriptPath);
  // Ends the program as "Exit" does, stopping a running compression without asking first
  // (SIGTERM, SIGINT).
  void endFromSignal();
  // Applies pending refreshes now (tests).
  void refreshNow();

 protected:
  void closeEvent(QCloseEvent* event) override;
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dropEvent(QDropEvent* event) override;

 private:
  void buildMenu();
  void buildToolbar();
  void destroyToolbar();
  QMdiSubWindow* addView(QWidget* view, const QString& title, const std::string& prefix,
                         std::function<void()> closed = {});
  QRect firstStartRect(const std::string& prefix, QSize size) const;
  void toggleView(OptionalView view);
  void gotoView(OptionalView view);
  bool createView(OptionalView view);
  void closeView(OptionalView view);
  void viewDestroyed(OptionalView view);
  void updateCommandStates();
  void updateRecentMenu();
  void updateWindowMenu();
  void postRefresh(int what);
  void applyRefresh();
  void refreshFilterView();
  void refreshViewTitles();
  void refreshRunState();
  void previewRecord(uint32_t frame, const std::array<uint8_t, 40>& format, const uint8_t* data,
                     uint32_t length, bool key);
  void openCommand(int id);
  void compressCommand(int id);
  void settingsCommand(int page);
  void editListCommand();
  void closeCommand();
  void gotoFrameCommand();
  void saveCommandLineCommand();
  void aboutBox();
  bool stopForExit();
  void saveAtExit();
  std::string askFile(const QString& title, const QString& filters, const QString& ext,
                      const std::string& folder, bool save, QString* chosen = nullptr);

  Startup startup_;
  bool created_ = false;
  bool savedAtExit_ = false;
  CompressorSession session_;
  ViewSlots slots_;
  SingleInstanceLock instance_;
  FileQuestion fileQuestion_;
  QMdiArea* mdi_ = nullptr;
  QToolBar* toolbar_ = nullptr;
  QMenu* recentMenu_ = nullptr;
  QMenu* windowMenu_ = nullptr;
  std::map<int, QAction*> actions_;
  std::vector<QAction*> recentActions_;
  InputView* input_ = nullptr;
  MessageView* messages_ = nullptr;
  QMdiSubWindow* inputWindow_ = nullptr;
  QMdiSubWindow* messageWindow_ = nullptr;
  std::array<QMdiSubWindow*, 4> views_{};
  std::array<PictureCanvas*, 3> canvases_{};
  DataRateView* dataRate_ = nullptr;
  QTimer* runTimer_ = nullptr;
  QProgressBar* runProgress_ = nullptr;
  QLabel* runState_ = nullptr;
  std::atomic<int> pending_{0};
};

// The run mode of a target chosen in the save dialog: ".zev" the stream file, ".mlt" the block
// file (both only for runs without recompression), anything else the command's own mode.
RunMode runModeForTarget(int command, const std::string& target);
// The extension of a file dialog filter such as "ZEV Files (*.zev)": "zev"; "" without one.
QString suffixOfFilter(const QString& filter);

}  // namespace zov

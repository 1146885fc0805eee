// Message boxes, beeps and the dialog host: how libraries and programs without a window system
// of their own talk to the user.
//
// messageBox() hands the box to the installed sink. The default sink prints "title: text" to
// stderr (a "\r", "\n" or "\r\n" in the text is a line break) and answers with the box's default
// button. Windowed programs install a sink that shows a real box; tests install a
// RecordingMessageBox and check titles, texts and styles exactly. Rules such as "shown at most
// once per process" belong to the callers, above the sink.
//
// Library dialogs (configuration, status, about, network site and movie choice ...) go through a
// DialogHost: the library names the dialog and passes its data record; the host runs it modally
// and returns the end code. Without a host every modal dialog answers IDCANCEL, so a library
// used from the command line behaves as if the user cancelled.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

namespace zov {

// A window that owns a box or dialog; null stands for the desktop.
using WindowHandle = void*;

// Box styles: buttons, icon, default button, modality.
enum : uint32_t {
  MB_OK = 0x0,
  MB_OKCANCEL = 0x1,
  MB_ABORTRETRYIGNORE = 0x2,
  MB_YESNOCANCEL = 0x3,
  MB_YESNO = 0x4,
  MB_RETRYCANCEL = 0x5,
  MB_CANCELTRYCONTINUE = 0x6,
  MB_TYPEMASK = 0xF,

  MB_ICONHAND = 0x10,
  MB_ICONSTOP = 0x10,
  MB_ICONERROR = 0x10,
  MB_ICONQUESTION = 0x20,
  MB_ICONEXCLAMATION = 0x30,
  MB_ICONWARNING = 0x30,
  MB_ICONASTERISK = 0x40,
  MB_ICONINFORMATION = 0x40,
  MB_ICONMASK = 0xF0,

  MB_DEFBUTTON1 = 0x000,
  MB_DEFBUTTON2 = 0x100,
  MB_DEFBUTTON3 = 0x200,
  MB_DEFBUTTON4 = 0x300,
  MB_DEFMASK = 0xF00,

  MB_APPLMODAL = 0x0000,
  MB_SYSTEMMODAL = 0x1000,
  MB_TASKMODAL = 0x2000,
  MB_MODEMASK = 0x3000,

  MB_SETFOREGROUND = 0x10000,
  MB_TOPMOST = 0x40000,
};

// Box and dialog results.
enum : int {
  IDOK = 1,
  IDCANCEL = 2,
  IDABORT = 3,
  IDRETRY = 4,
  IDIGNORE = 5,
  IDYES = 6,
  IDNO = 7,
  IDTRYAGAIN = 10,
  IDCONTINUE = 11,
};

// messageBeep() types beyond the icon values: the simple beep.
inline constexpr uint32_t kSimpleBeep = 0xFFFFFFFF;

// The buttons of a style, in order, and the one a plain Enter would press.
std::vector<int> messageBoxButtons(uint32_t style);
int messageBoxDefaultResult(uint32_t style);

// A text with its "\r\n", "\r" and "\n" breaks made "\n".
std::string normaliseLineBreaks(std::string_view text);

class MessageBoxSink {
 public:
  virtual ~MessageBoxSink() = default;
  // Shows the box and returns the button pressed (an ID* value).
  virtual int show(WindowHandle owner, std::string_view text, std::string_view title,
                   uint32_t style) = 0;
  virtual void beep(uint32_t /*type*/) {}
};

// Prints "title: text" to stderr and answers with the default button, or with the answer a
// command line chose (for example --yes) when the box offers that button.
class StderrMessageBox : public MessageBoxSink {
 public:
  StderrMessageBox() = default;
  explicit StderrMessageBox(int preferredAnswer) : preferredAnswer_(preferredAnswer) {}

  int show(WindowHandle owner, std::string_view text, std::string_view title,
           uint32_t style) override;
  void beep(uint32_t type) override;

 private:
  int preferredAnswer_ = 0;
};

// Records every box and answers from a script; when the script is used up, the default button.
// Safe to use from several threads.
class RecordingMessageBox : public MessageBoxSink {
 public:
  struct Box {
    WindowHandle owner = nullptr;
    std::string title;
    std::string text;
    uint32_t style = 0;
  };

  int show(WindowHandle owner, std::string_view text, std::string_view title,
           uint32_t style) override;
  void beep(uint32_t type) override;

  // The answers of the next boxes, in order.
  void script(std::vector<int> answers);
  std::vector<Box> boxes() const;
  std::vector<std::string> texts() const;
  std::vector<uint32_t> beeps() const;
  void clear();

 private:
  mutable std::mutex mutex_;
  std::vector<Box> boxes_;
  std::deque<int> answers_;
  std::vector<uint32_t> beeps_;
};

// Installs a sink for the process (null: back to the default) and returns the previous one.
// The sink must outlive its installation.
MessageBoxSink* setMessageBoxSink(MessageBoxSink* sink);

// Installs a sink for the lifetime of the object, restoring the previous one after.
class ScopedMessageBoxSink {
 public:
  explicit ScopedMessageBoxSink(MessageBoxSink* sink) : previous_(setMessageBoxSink(sink)) {}
  ~ScopedMessageBoxSink() { setMessageBoxSink(previous_); }
  ScopedMessageBoxSink(const ScopedMessageBoxSink&) = delete;
  ScopedMessageBoxSink& operator=(const ScopedMessageBoxSink&) = delete;

 private:
  MessageBoxSink* previous_;
};

int messageBox(WindowHandle owner, std::string_view text, std::string_view title, uint32_t style);
void messageBeep(uint32_t type);

// ---- Dialogs of libraries ----

// The data record a dialog edits. Each library derives its own record per dialog; hosts find
// the concrete type with dynamic_cast.
struct DialogData {
  virtual ~DialogData() = default;
};

class DialogHost {
 public:
  virtual ~DialogHost() = default;
  // Runs the named dialog modally over owner with its data record; returns the end code
  // (IDOK, IDCANCEL or a dialog's own value).
  virtual intptr_t runModal(WindowHandle owner, std::string_view dialogName, DialogData& data) = 0;

  // Modeless dialogs that a library keeps up while it works (progress of a download ...): the
  // host shows the named dialog over owner from the record until closeModeless, and shows the
  // record again at each updateModeless (a host that shares the caller's thread also handles its
  // pending window events there). All three come from the thread that owns the windows; the
  // record lives until its dialog is closed. The user may close such a dialog early; the library
  // keeps updating the record regardless. Hosts without modeless dialogs show nothing.
  virtual void openModeless(WindowHandle /*owner*/, std::string_view /*dialogName*/,
                            DialogData& /*data*/) {}
  virtual void updateModeless(DialogData& /*data*/) {}
  virtual void closeModeless(DialogData& /*data*/) {}

  // Takes input away from a window, or gives it back (a library disables the owner of its
  // dialogs while it works on the caller's behalf); returns whether the window took input
  // before. From the thread that owns the windows. Hosts without windows answer true.
  virtual bool enableWindow(WindowHandle /*window*/, bool /*enable*/) { return true; }
};

// Installs a host for the process (null: none) and returns the previous one. The host must
// outlive its installation.
DialogHost* setDialogHost(DialogHost* host);
DialogHost* dialogHost();

// Asks the installed host to run a dialog; IDCANCEL without a host.
intptr_t runModalDialog(WindowHandle owner, std::string_view dialogName, DialogData& data);
// Hand a modeless dialog to the installed host (nothing without one).
void openModelessDialog(WindowHandle owner, std::string_view dialogName, DialogData& data);
void updateModelessDialog(DialogData& data);
void closeModelessDialog(DialogData& data);
// Through the installed host; true without one.
bool enableWindow(WindowHandle window, bool enable);

// A host for tests: a handler per dialog name acts as the user (changes the record and returns
// the end code); dialogs without a handler answer IDCANCEL. Every request is recorded.
class ScriptedDialogHost : public DialogHost {
 public:
  using Handler = std::function<intptr_t(WindowHandle owner, DialogData& data)>;

  void on(std::string dialogName, Handler handler);
  intptr_t runModal(WindowHandle owner, std::string_view dialogName, DialogData& data) override;
  std::vector<std::string> requested() const;

 private:
  mutable std::mutex mutex_;
  std::map<std::string, Handler, std::less<>> handlers_;
  std::vector<std::string> requested_;
};

class ScopedDialogHost {
 public:
  explicit ScopedDialogHost(DialogHost* host) : previous_(setDialogHost(host)) {}
  ~ScopedDialogHost() { setDialogHost(previous_); }
  ScopedDialogHost(const ScopedDialogHost&) = delete;
  ScopedDialogHost& operator=(const ScopedDialogHost&) = delete;

 private:
  DialogHost* previous_;
};

}  // namespace zov

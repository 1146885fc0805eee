#include "platform/ui.h"

#include <unistd.h>

#include <atomic>
#include <cstdio>

namespace zov {

std::vector<int> messageBoxButtons(uint32_t style) {
  switch (style & MB_TYPEMASK) {
    case MB_OKCANCEL:
      return {IDOK, IDCANCEL};
    case MB_ABORTRETRYIGNORE:
      return {IDABORT, IDRETRY, IDIGNORE};
    case MB_YESNOCANCEL:
      return {IDYES, IDNO, IDCANCEL};
    case MB_YESNO:
      return {IDYES, IDNO};
    case MB_RETRYCANCEL:
      return {IDRETRY, IDCANCEL};
    case MB_CANCELTRYCONTINUE:
      return {IDCANCEL, IDTRYAGAIN, IDCONTINUE};
    default:
      return {IDOK};
  }
}

int messageBoxDefaultResult(uint32_t style) {
  std::vector<int> buttons = messageBoxButtons(style);
  size_t index = (style & MB_DEFMASK) >> 8;
  // A default button beyond the box's buttons falls back to the first, as Windows does.
  return index < buttons.size() ? buttons[index] : buttons[0];
}

std::string normaliseLineBreaks(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r') {
      out += '\n';
      if (i + 1 < text.size() && text[i + 1] == '\n') ++i;
    } else {
      out += text[i];
    }
  }
  return out;
}

// ---- The default sink ----

int StderrMessageBox::show(WindowHandle, std::string_view text, std::string_view title,
                           uint32_t style) {
  std::string line(title);
  line += ": ";
  line += normaliseLineBreaks(text);
  line += '\n';
  std::fwrite(line.data(), 1, line.size(), stderr);
  std::fflush(stderr);
  if (preferredAnswer_ != 0) {
    for (int button : messageBoxButtons(style)) {
      if (button == preferredAnswer_) return button;
    }
  }
  return messageBoxDefaultResult(style);
}

void StderrMessageBox::beep(uint32_t) {
  // Only a terminal makes a sound of the bell; in a log it would be noise.
  if (isatty(STDERR_FILENO)) {
    std::fputc('\a', stderr);
    std::fflush(stderr);
  }
}

// ---- The recorder ----

int RecordingMessageBox::show(WindowHandle owner, std::string_view text, std::string_view title,
                              uint32_t style) {
  std::lock_guard lock(mutex_);
  boxes_.push_back(Box{owner, std::string(title), std::string(text), style});
  if (answers_.empty()) return messageBoxDefaultResult(style);
  int answer = answers_.front();
  answers_.pop_front();
  return answer;
}

void RecordingMessageBox::beep(uint32_t type) {
  std::lock_guard lock(mutex_);
  beeps_.push_back(type);
}

void RecordingMessageBox::script(std::vector<int> answers) {
  std::lock_guard lock(mutex_);
  answers_.assign(answers.begin(), answers.end());
}

std::vector<RecordingMessageBox::Box> RecordingMessageBox::boxes() const {
  std::lock_guard lock(mutex_);
  return boxes_;
}

std::vector<std::string> RecordingMessageBox::texts() const {
  std::lock_guard lock(mutex_);
  std::vector<std::string> out;
  for (const Box& b : boxes_) out.push_back(b.text);
  return out;
}

std::vector<uint32_t> RecordingMessageBox::beeps() const {
  std::lock_guard lock(mutex_);
  return beeps_;
}

void RecordingMessageBox::clear() {
  std::lock_guard lock(mutex_);
  boxes_.clear();
  answers_.clear();
  beeps_.clear();
}

// ---- Installation ----

namespace {

StderrMessageBox gStderrSink;
std::atomic<MessageBoxSink*> gSink{nullptr};
std::atomic<DialogHost*> gDialogHost{nullptr};

MessageBoxSink& currentSink() {
  MessageBoxSink* sink = gSink.load();
  return sink ? *sink : gStderrSink;
}

}  // namespace

MessageBoxSink* setMessageBoxSink(MessageBoxSink* sink) {
  return gSink.exchange(sink);
}

int messageBox(WindowHandle owner, std::string_view text, std::string_view title, uint32_t style) {
  return currentSink().show(owner, text, title, style);
}

void messageBeep(uint32_t type) {
  currentSink().beep(type);
}

DialogHost* setDialogHost(DialogHost* host) {
  return gDialogHost.exchange(host);
}
DialogHost* dialogHost() {
  return gDialogHost.load();
}

intptr_t runModalDialog(WindowHandle owner, std::string_view dialogName, DialogData& data) {
  DialogHost* host = gDialogHost.load();
  return host ? host->runModal(owner, dialogName, data) : intptr_t{IDCANCEL};
}

void openModelessDialog(WindowHandle owner, std::string_view dialogName, DialogData& data) {
  if (DialogHost* host = gDialogHost.load()) host->openModeless(owner, dialogName, data);
}

void updateModelessDialog(DialogData& data) {
  if (DialogHost* host = gDialogHost.load()) host->updateModeless(data);
}

void closeModelessDialog(DialogData& data) {
  if (DialogHost* host = gDialogHost.load()) host->closeModeless(data);
}

bool enableWindow(WindowHandle window, bool enable) {
  DialogHost* host = gDialogHost.load();
  return host ? host->enableWindow(window, enable) : true;
}

void ScriptedDialogHost::on(std::string dialogName, Handler handler) {
  std::lock_guard lock(mutex_);
  handlers_[std::move(dialogName)] = std::move(handler);
}

intptr_t ScriptedDialogHost::runModal(WindowHandle owner, std::string_view dialogName,
                                      DialogData& data) {
  Handler handler;
  {
    std::lock_guard lock(mutex_);
    requested_.emplace_back(dialogName);
    auto it = handlers_.find(dialogName);
    if (it == handlers_.end()) return IDCANCEL;
    handler = it->second;
  }
  // Run outside the lock: a dialog may open another one.
  return handler(owner, data);
}

std::vector<std::string> ScriptedDialogHost::requested() const {
  std::lock_guard lock(mutex_);
  return requested_;
}

}  // namespace zov

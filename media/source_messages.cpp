#include "media/source_messages.h"

#include <cstdarg>
#include <cstdio>
#include <mutex>
#include <vector>

#include "platform/ui.h"

namespace zov {

namespace {

std::mutex gSinkMutex;
SourceMessageSink gSink;

int defaultSink(const std::string& text, SourceMessageStyle style) {
  std::fprintf(stderr, "%s: %s\n", kCompressorTitle, text.c_str());
  return style == SourceMessageStyle::RetryCancel ? kSourceAnswerCancel : kSourceAnswerOk;
}

}  // namespace

SourceMessageSink setSourceMessageSink(SourceMessageSink sink) {
  std::lock_guard<std::mutex> lock(gSinkMutex);
  SourceMessageSink old = std::move(gSink);
  gSink = std::move(sink);
  return old;
}

int showSourceMessage(const std::string& text, SourceMessageStyle style) {
  SourceMessageSink sink;
  {
    std::lock_guard<std::mutex> lock(gSinkMutex);
    sink = gSink;
  }
  return sink ? sink(text, style) : defaultSink(text, style);
}

void routeSourceMessagesToMessageBox(void* owner) {
  setSourceMessageSink([owner](const std::string& text, SourceMessageStyle style) {
    uint32_t buttons = style == SourceMessageStyle::RetryCancel ? MB_RETRYCANCEL : MB_OK;
    int answer = messageBox(owner, text, kCompressorTitle, buttons | MB_ICONSTOP);
    return answer == IDRETRY ? kSourceAnswerRetry
           : answer == IDOK  ? kSourceAnswerOk
                             : kSourceAnswerCancel;
  });
}

std::string formatMessage(const char* format, ...) {
  va_list args;
  va_start(args, format);
  va_list copy;
  va_copy(copy, args);
  int n = std::vsnprintf(nullptr, 0, format, copy);
  va_end(copy);
  std::string out;
  if (n > 0) {
    std::vector<char> buf(size_t(n) + 1);
    std::vsnprintf(buf.data(), buf.size(), format, args);
    out.assign(buf.data(), size_t(n));
  }
  va_end(args);
  return out;
}

}  // namespace zov

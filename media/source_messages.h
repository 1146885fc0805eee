// How the source reader talks to the user: every message is a box with the title
// "ZOV Compressor" and a stop icon (AVC0016Q asks Retry or Cancel). The sink is replaceable: the
// window routes it to the platform message box, tests record the texts, and the default prints
// "ZOV Compressor: text" to stderr and answers Cancel.
#pragma once

#include <functional>
#include <string>

namespace zov {

inline constexpr char kCompressorTitle[] = "ZOV Compressor";

enum class SourceMessageStyle { Stop, RetryCancel };
// Answers, with the values of the platform's button ids.
enum : int { kSourceAnswerOk = 1, kSourceAnswerCancel = 2, kSourceAnswerRetry = 4 };

using SourceMessageSink = std::function<int(const std::string& text, SourceMessageStyle style)>;

// Installs the sink (an empty function restores the default); returns the previous one.
SourceMessageSink setSourceMessageSink(SourceMessageSink sink);
// Shows one message and returns the answer.
int showSourceMessage(const std::string& text, SourceMessageStyle style = SourceMessageStyle::Stop);
// Routes the messages to the platform message box (title "ZOV Compressor", stop icon, Retry and
// Cancel for AVC0016Q) with `owner` as parent: the window does this at start.
void routeSourceMessagesToMessageBox(void* owner);
// printf-style formatting for the messages that carry numbers and paths.
std::string formatMessage(const char* format, ...) __attribute__((format(printf, 1, 2)));

}  // namespace zov

// A compression run reports its failures from its own thread: the box must appear on the window
// thread (widgets can't be made elsewhere) and its answer reach the worker.
#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <atomic>
#include <thread>

#include "main_window_test_support.h"
#include "platform/qt/qt_platform.h"

namespace zov {
namespace {

TEST(WorkerMessageBoxTest, BoxFromAWorkerIsShownOnTheWindowThread) {
  QtMessageBoxSink sink;
  ScopedMessageBoxSink scope(&sink);
  std::atomic<bool> done{false};
  std::atomic<int> answer{0};
  QThread* shownOn = nullptr;
  QString shownText;
  QTimer poll;
  QObject::connect(&poll, &QTimer::timeout, [&] {
    if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
      shownOn = box->thread();
      shownText = box->text();
      box->button(QMessageBox::No)->click();
    }
  });
  poll.start(20);
  std::thread worker([&] {
    answer = messageBox(nullptr, "MCP0035Q Compression in progress!\rDo you wish to abort?",
                        "ZOV Compressor", MB_YESNO | MB_ICONSTOP);
    done = true;
  });
  const bool finished = testing_window::waitUntil([&] { return done.load(); }, 10000);
  worker.join();
  ASSERT_TRUE(finished);
  EXPECT_EQ(answer, IDNO);
  EXPECT_EQ(shownOn, qApp->thread());
  EXPECT_EQ(shownText, "MCP0035Q Compression in progress!\nDo you wish to abort?");
}

}  // namespace
}  // namespace zov

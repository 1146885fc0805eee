// Message boxes and library dialogs without a window system: replaceable sinks and hosts.
#include "platform/ui.h"

#include <gtest/gtest.h>

#include <thread>

namespace zov {
namespace {

TEST(MessageBox, DefaultButtonFollowsTheStyle) {
  EXPECT_EQ(messageBoxDefaultResult(MB_OK | MB_ICONSTOP), IDOK);
  EXPECT_EQ(messageBoxDefaultResult(MB_OKCANCEL), IDOK);
  EXPECT_EQ(messageBoxDefaultResult(MB_OKCANCEL | MB_DEFBUTTON2), IDCANCEL);
  EXPECT_EQ(messageBoxDefaultResult(MB_YESNO | MB_ICONQUESTION), IDYES);
  EXPECT_EQ(messageBoxDefaultResult(MB_YESNO | MB_DEFBUTTON2), IDNO);
  EXPECT_EQ(messageBoxDefaultResult(MB_YESNOCANCEL | MB_DEFBUTTON3), IDCANCEL);
  EXPECT_EQ(messageBoxDefaultResult(MB_RETRYCANCEL), IDRETRY);
  // A default beyond the box's buttons falls back to the first.
  EXPECT_EQ(messageBoxDefaultResult(MB_YESNO | MB_DEFBUTTON3), IDYES);
  EXPECT_EQ(messageBoxDefaultResult(MB_OK | MB_DEFBUTTON4 | MB_SYSTEMMODAL), IDOK);
}

TEST(MessageBox, DefaultSinkPrintsTitleAndTextToStderr) {
  ::testing::internal::CaptureStderr();
  int r = messageBox(nullptr, "CFG0002E Unintelligible\r\nsecond\rthird\nfourth", "ZOV Compressor",
                     MB_YESNO | MB_DEFBUTTON2 | MB_ICONQUESTION);
  std::string err = ::testing::internal::GetCapturedStderr();
  EXPECT_EQ(r, IDNO);
  EXPECT_EQ(err, "ZOV Compressor: CFG0002E Unintelligible\nsecond\nthird\nfourth\n");
}

TEST(MessageBox, CommandLineChoiceAnswersWhenTheBoxOffersIt) {
  StderrMessageBox yes(IDYES);
  ScopedMessageBoxSink scoped(&yes);
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(messageBox(nullptr, "Overwrite?", "T", MB_YESNO | MB_DEFBUTTON2), IDYES);
  EXPECT_EQ(messageBox(nullptr, "Go on?", "T", MB_OKCANCEL | MB_DEFBUTTON2), IDCANCEL);
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), "T: Overwrite?\nT: Go on?\n");
}

TEST(MessageBox, RecorderReplacesTheSinkAndAnswersFromItsScript) {
  RecordingMessageBox recorder;
  {
    ScopedMessageBoxSink scoped(&recorder);
    recorder.script({IDNO, IDCANCEL});
    int dummyWindow = 0;
    EXPECT_EQ(messageBox(&dummyWindow, "Q?", "T1", MB_YESNO), IDNO);
    EXPECT_EQ(messageBox(nullptr, "Q2?", "T2", MB_YESNOCANCEL), IDCANCEL);
    // Script used up: the default button.
    EXPECT_EQ(messageBox(nullptr, "E", "T3", MB_OKCANCEL | MB_DEFBUTTON2), IDCANCEL);
    messageBeep(MB_ICONEXCLAMATION);

    auto boxes = recorder.boxes();
    ASSERT_EQ(boxes.size(), 3u);
    EXPECT_EQ(boxes[0].owner, &dummyWindow);
    EXPECT_EQ(boxes[0].title, "T1");
    EXPECT_EQ(boxes[0].text, "Q?");
    EXPECT_EQ(boxes[0].style, uint32_t(MB_YESNO));
    EXPECT_EQ(recorder.texts(), (std::vector<std::string>{"Q?", "Q2?", "E"}));
    EXPECT_EQ(recorder.beeps(), std::vector<uint32_t>{MB_ICONEXCLAMATION});
  }
  // Uninstalled: boxes go to the default sink again, not to the recorder.
  ::testing::internal::CaptureStderr();
  messageBox(nullptr, "after", "T", MB_OK);
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), "T: after\n");
  EXPECT_EQ(recorder.boxes().size(), 3u);
}

TEST(MessageBox, RecorderTakesBoxesFromSeveralThreads) {
  RecordingMessageBox recorder;
  ScopedMessageBoxSink scoped(&recorder);
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([] {
      for (int i = 0; i < 50; ++i) messageBox(nullptr, "x", "t", MB_OK);
    });
  }
  for (auto& th : threads) th.join();
  EXPECT_EQ(recorder.boxes().size(), 200u);
}

struct NameRecord : DialogData {
  std::string name;
};

TEST(DialogHost, WithoutAHostAModalDialogIsCancelled) {
  ASSERT_EQ(dialogHost(), nullptr);
  NameRecord data;
  data.name = "unchanged";
  EXPECT_EQ(runModalDialog(nullptr, "DlgConfigure", data), IDCANCEL);
  EXPECT_EQ(data.name, "unchanged");
}

TEST(DialogHost, ScriptedHostActsAsTheUser) {
  ScriptedDialogHost host;
  host.on("DlgSite", [](WindowHandle, DialogData& d) -> intptr_t {
    auto* record = dynamic_cast<NameRecord*>(&d);
    if (!record) return IDCANCEL;
    record->name = "movies.example";
    return IDOK;
  });
  ScopedDialogHost scoped(&host);
  NameRecord data;
  EXPECT_EQ(runModalDialog(nullptr, "DlgSite", data), IDOK);
  EXPECT_EQ(data.name, "movies.example");
  EXPECT_EQ(runModalDialog(nullptr, "DlgOther", data), IDCANCEL);
  EXPECT_EQ(host.requested(), (std::vector<std::string>{"DlgSite", "DlgOther"}));
}

}  // namespace
}  // namespace zov

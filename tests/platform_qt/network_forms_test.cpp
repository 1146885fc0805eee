// The network source's dialogs driven through ZOVAccessZEV against a zevserve on a loopback
// port: the site recall list, the movie choice and the two progress dialogs.
#include <gtest/gtest.h>

#include <sys/socket.h>
#include <QApplication>
#include <QComboBox>
#include <QLineEdit>
#include <QListWidget>
#include <QProgressBar>
#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <thread>

#include "form_driver.h"
#include "network/zev_layout.h"
#include "platform/profile.h"
#include "zev_fixture.h"
#include "zov/zev_dialogs.h"
#include "zov/zovcod32.h"
#include "zov/zovcod32_dialogs.h"

namespace zov::qtforms {
namespace {

namespace fs = std::filesystem;

uint32_t smallFrames(uint32_t frame) {
  return 60 + frame % 7;
}

QDialog* visibleDialog(const QString& caption) {
  for (QWidget* w : QApplication::topLevelWidgets())
    if (auto* d = qobject_cast<QDialog*>(w); d && d->isVisible() && d->windowTitle() == caption)
      return d;
  return nullptr;
}

class NetworkForms : public testing::Test {
 protected:
  void SetUp() override {
    const char* home = std::getenv("ZOV_HOME");
    if (!home) GTEST_SKIP() << "needs a settings folder (ZOV_HOME)";
    movies = fs::path(home) / "movies";
    fs::create_directories(movies);
    test::writeFile(movies / "clip.zev", test::makeZevMovie(20, false, 0, smallFrames).bytes);
    test::writeFile(movies / "other.zev", test::makeZevMovie(12, false, 0, smallFrames).bytes);
    server = std::make_unique<test::RunningServer>(movies.string());
    setenv("ZOV_ZEV_PORT", std::to_string(server->port()).c_str(), 1);
    ProfileFile settings("zovcodec.ini");
    settings.writeString("ZOV1", "SiteRecall1", "example.invalid");
    settings.writeString("ZOV1", "SiteRecall2", "127.0.0.1");
    settings.writeString("ZOV1", "SiteRecall3", "movies.example");
  }
  void TearDown() override {
    ZOVFreeZEV();
    unsetenv("ZOV_ZEV_PORT");
  }

  fs::path movies;
  std::unique_ptr<test::RunningServer> server;
  QtPlatform platform;
  FormDriver user{platform};
};

TEST_F(NetworkForms, SiteAndMovieChosenInTheFormsOpenTheMovieWithProgressShown) {
  QStringList recall;
  QString editText;
  bool okWhileEmpty = true;
  user.on(network::kSiteDialog, [&](QDialog* d) {
    auto* combo = control<QComboBox>(d, network::kSiteCombo);
    for (int i = 0; i < combo->count(); ++i) recall << combo->itemText(i);
    editText = combo->currentText();
    combo->setEditText("");
    okWhileEmpty = control<QPushButton>(d, IDOK)->isEnabled();
    combo->lineEdit()->insert("127.0.0.1");
    click(d, IDOK);
  });
  QStringList listed;
  user.on(network::kMovieDialog, [&](QDialog* d) {
    auto* list = control<QListWidget>(d, network::kMovieList);
    for (int i = 0; i < list->count(); ++i) listed << list->item(i)->text();
    EXPECT_EQ(list->currentRow(), 0);
    list->setCurrentRow(1);
    click(d, IDOK);
  });
  bool loadingBar = false;
  user.on(network::kLoadingDialog, [&](QDialog* d) {
    loadingBar = control<QProgressBar>(d, network::kLoadingProgress) != nullptr;
  });
  user.on(network::kCacheStatusDialog, [](QDialog*) {});

  const char* access = ZOVAccessZEV(nullptr);
  ASSERT_NE(access, nullptr);
  const std::string local = access;  // the source's own copy goes with the source
  EXPECT_TRUE(fs::exists(local));
  EXPECT_EQ(recall, QStringList({"example.invalid", "127.0.0.1", "movies.example"}));
  EXPECT_EQ(editText, "example.invalid");
  EXPECT_FALSE(okWhileEmpty);
  EXPECT_EQ(listed, QStringList({"clip.zev", "other.zev"}));
  EXPECT_TRUE(loadingBar);
  // The loading dialog stands while the list comes, and again while the movie loads.
  EXPECT_EQ(user.shown, (std::vector<std::string>{network::kSiteDialog, network::kLoadingDialog,
                                                  network::kMovieDialog, network::kLoadingDialog,
                                                  network::kCacheStatusDialog}));
  EXPECT_EQ(visibleDialog("Loading Video..."), nullptr);  // closed once the cache was full

  // The cache status stays up and follows the source until the source goes.
  QDialog* cache = visibleDialog("Orvane Network Cache");
  ASSERT_NE(cache, nullptr);
  auto* bar = control<QProgressBar>(cache, network::kCacheProgress);
  ASSERT_NE(bar, nullptr);
  EXPECT_EQ(bar->maximum(), 100);
  EXPECT_GT(bar->value(), 0);
  ZOVFreeZEV();
  EXPECT_EQ(visibleDialog("Orvane Network Cache"), nullptr);
  EXPECT_FALSE(fs::exists(local));

  // The chosen site leads the recall list; the others keep their order.
  ProfileFile settings("zovcodec.ini");
  EXPECT_EQ(settings.getString("ZOV1", "SiteRecall1", "", 260), "127.0.0.1");
  EXPECT_EQ(settings.getString("ZOV1", "SiteRecall2", "", 260), "example.invalid");
  EXPECT_EQ(settings.getString("ZOV1", "SiteRecall3", "", 260), "movies.example");
}

TEST_F(NetworkForms, CancelOnTheSiteStopsQuietly) {
  user.on(network::kSiteDialog, [](QDialog* d) { click(d, IDCANCEL); });
  EXPECT_EQ(ZOVAccessZEV(nullptr), nullptr);
  EXPECT_EQ(user.shown, std::vector<std::string>{network::kSiteDialog});
}

// OK without a chosen movie is no choice: the source asks again, and gives up in the end.
TEST_F(NetworkForms, MovieOkWithoutSelectionIsAskedAgain) {
  user.on(network::kSiteDialog, [](QDialog* d) {
    control<QComboBox>(d, network::kSiteCombo)->setEditText("127.0.0.1");
    click(d, IDOK);
  });
  user.on(network::kMovieDialog, [](QDialog* d) {
    control<QListWidget>(d, network::kMovieList)->clearSelection();
    click(d, IDOK);
  });
  EXPECT_EQ(ZOVAccessZEV(nullptr), nullptr);
  const auto movieShows = std::count(user.shown.begin(), user.shown.end(), network::kMovieDialog);
  EXPECT_GT(movieShows, 1);
  // Only the one while the list came.
  EXPECT_EQ(std::count(user.shown.begin(), user.shown.end(), network::kLoadingDialog), 1);
}

// Threads of the process other than Qt's pool (which comes and goes by itself).
size_t threadCount() {
  size_t n = 0;
  for (const auto& task : fs::directory_iterator("/proc/self/task")) {
    std::ifstream comm(task.path() / "comm");
    std::string name;
    std::getline(comm, name);
    n += name != "Thread (pooled)";
  }
  return n;
}

// The thread count once it is `expected` or two seconds have passed: a thread just joined can
// still be listed for a moment while the kernel finishes its exit (seen under the sanitizers
// with the suite running beside). A thread left running stays, and fails the test.
size_t threadCountSettledAt(size_t expected) {
  const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(2);
  size_t n = threadCount();
  while (n != expected && std::chrono::steady_clock::now() < until) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
    n = threadCount();
  }
  return n;
}

// A server that stops answering, before its list or when the index is asked for: the loading
// dialog's Cancel ends the load at once, without a box, a thread or a placeholder left, and
// the owner window, disabled meanwhile, takes input again.
TEST_F(NetworkForms, CancelWhileLoadingEndsTheLoadAndGivesTheOwnerBack) {
  RecordingMessageBox boxes;
  ZOVSetUiHost(&boxes, &platform.dialogs());
  const fs::path tmp = movies.parent_path() / "tmp";
  fs::create_directories(tmp);
  setenv("TMPDIR", tmp.c_str(), 1);
  const std::vector<uint8_t> movie = test::makeZevMovie(20, false, 0, smallFrames).bytes;
  QWidget owner;
  owner.show();
  user.on(network::kSiteDialog, [&](QDialog* d) {
    control<QComboBox>(d, network::kSiteCombo)->setEditText("127.0.0.1");
    click(d, IDOK);
  });
  user.on(network::kMovieDialog, [](QDialog* d) { click(d, IDOK); });
  for (const bool listFirst : {false, true}) {
    SCOPED_TRACE(listFirst ? "stalled on the index" : "stalled before the list");
    const size_t threadsBefore = threadCount();
    bool indexAsked = false;
    {
      // Answers the header (and the source's check requests) and nothing after it.
      test::ScriptServer stalled([&, listFirst](int fd) {
        uint8_t count[4] = {1, 0, 0, 0};
        char name[256] = "movie.zev";
        if (listFirst && test::sendAll(fd, count, 4) && test::sendAll(fd, name, 256) &&
            test::recvAll(fd, name, 256)) {
          uint8_t request[8];
          while (test::recvAll(fd, request, 8)) {
            const uint32_t offset = network::le32(request), length = network::le32(request + 4);
            if (offset + length > network::kHeaderBytes) break;
            if (!test::sendAll(fd, movie.data() + offset, length)) return;
          }
          indexAsked = true;
        }
        char b;
        while (recv(fd, &b, 1, 0) > 0) {
        }
      });
      setenv("ZOV_ZEV_PORT", std::to_string(stalled.port()).c_str(), 1);
      // The dialog of the list comes first; the load's second.
      const long cancelledShow =
          std::count(user.shown.begin(), user.shown.end(), network::kLoadingDialog) +
          (listFirst ? 2 : 1);
      bool cancelled = false, ownerDisabled = false, dialogEnabled = false;
      size_t placeholdersWhileLoading = 0;
      user.on(network::kLoadingDialog, [&](QDialog* d) {
        if (std::count(user.shown.begin(), user.shown.end(), network::kLoadingDialog) !=
            cancelledShow)
          return;
        cancelled = true;
        ownerDisabled = !owner.isEnabled();
        dialogEnabled = d->isEnabled();
        QTimer::singleShot(300, d, [&, d] {
          placeholdersWhileLoading =
              size_t(std::distance(fs::directory_iterator(tmp), fs::directory_iterator{}));
          click(d, IDCANCEL);
        });
      });
      const auto start = std::chrono::steady_clock::now();
      EXPECT_EQ(ZOVAccessZEV(&owner), nullptr);
      // Far below the 20-second receive limit: the cancel, not a time limit, ended it.
      EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(3));
      EXPECT_TRUE(cancelled);
      EXPECT_TRUE(ownerDisabled);
      EXPECT_TRUE(dialogEnabled);
      EXPECT_TRUE(owner.isEnabled());
      EXPECT_EQ(visibleDialog("Loading Video..."), nullptr);
      EXPECT_EQ(placeholdersWhileLoading, listFirst ? 1u : 0u);
    }
    EXPECT_EQ(indexAsked, listFirst);
    EXPECT_EQ(threadCountSettledAt(threadsBefore), threadsBefore);
    EXPECT_TRUE(fs::is_empty(tmp));
  }
  unsetenv("TMPDIR");
  EXPECT_TRUE(boxes.texts().empty()) << boxes.texts()[0];
}

}  // namespace
}  // namespace zov::qtforms

// The network source's dialogs driven through ZOVAccessZEV against a zevserve on a loopback
// port: the site recall list, the movie choice and the two progress dialogs.
#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QLineEdit>
#include <QListWidget>
#include <QProgressBar>
#include <algorithm>
#include <cstdlib>
#include <filesystem>

#include "form_driver.h"
#include "platform/profile.h"
#include "zev_fixture.h"
#include "zov/zev_dialogs.h"
#include "zov/zovcod32.h"

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
  EXPECT_EQ(user.shown,
            (std::vector<std::string>{network::kSiteDialog, network::kMovieDialog,
                                      network::kLoadingDialog, network::kCacheStatusDialog}));
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
  EXPECT_EQ(std::count(user.shown.begin(), user.shown.end(), network::kLoadingDialog), 0);
}

TEST_F(NetworkForms, CacheStatusClosedByTheUserStaysClosed) {
  user.on(network::kSiteDialog, [](QDialog* d) {
    control<QComboBox>(d, network::kSiteCombo)->setEditText("127.0.0.1");
    click(d, IDOK);
  });
  user.on(network::kMovieDialog, [](QDialog* d) { click(d, IDOK); });
  user.on(network::kLoadingDialog, [](QDialog*) {});
  user.on(network::kCacheStatusDialog, [](QDialog* d) { click(d, IDOK); });  // "Close"
  ASSERT_NE(ZOVAccessZEV(nullptr), nullptr);
  QApplication::processEvents();  // the user's click
  QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  EXPECT_EQ(visibleDialog("Orvane Network Cache"), nullptr);
  ZOVFreeZEV();  // nothing left to close
}

}  // namespace
}  // namespace zov::qtforms

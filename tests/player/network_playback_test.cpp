// A networked movie: the teapot sample served by zevserve on loopback, chosen through the Qt
// forms of the network source's dialogs (acted on by the dialog host's show hook), played in the
// player's window. The pictures must equal the sample's own frames decoded by the codec.
#include <gtest/gtest.h>

#include <QComboBox>
#include <QListWidget>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <thread>

#include "compressor/avi_container.h"
#include "encoder/avi_writer.h"
#include "platform/profile.h"
#include "platform/qt/qt_platform.h"
#include "platform/vfw.h"
#include "player/movie_widget.h"
#include "player/player_window.h"
#include "support/player_fixture.h"
#include "tools/zevserve/server.h"
#include "zov/zev_dialogs.h"

namespace fs = std::filesystem;
using namespace zov;
using namespace zov::player;

namespace {

// The sample's stored frames written again as a stream file for the movie server.
bool writeServedMovie(const std::string& path, std::string& error) {
  auto file = AviContainer::open(test::teapotPath(), &error);
  if (!file) return false;
  BITMAPINFOHEADER format;
  std::memcpy(&format, file->videoFormat().data(), sizeof format);
  AviWriterSettings s;
  s.mode = RunMode::ZevStream;
  s.path = path;
  s.microSecPerFrame = 66666;
  s.fileScale = file->videoHeader().scale;
  s.fileRate = file->videoHeader().rate;
  s.width = format.biWidth;
  s.height = format.biHeight;
  std::memcpy(s.sourceVideoFormat.data(), file->videoFormat().data(), 40);
  WriterCallbacks callbacks;
  callbacks.error = [&](const std::string& e) { error = e; };
  callbacks.status = [](const std::string&) {};
  callbacks.message = [](const std::string&) {};
  AviWriter w;
  if (!w.open(s, callbacks)) return false;
  std::vector<uint8_t> frame;
  for (uint32_t f = 0; f < file->frameCount(); ++f) {
    if (!file->readFrame(f, frame)) return false;
    if (w.writeFrameRecord(frame.data(), uint32_t(frame.size()), nullptr, 0, file->isKeyFrame(f),
                           f + 1) != kRecordWritten)
      return false;
  }
  return w.finish();
}

}  // namespace

TEST(PlayerNetwork, AMovieFromTheServerPlaysThroughTheQtDialogs) {
  test::TempHome home;
  fs::create_directories(home.path() + "/movies");
  fs::create_directories(home.path() + "/tmp");
  std::string error;
  ASSERT_TRUE(writeServedMovie(home.path() + "/movies/teapot.zev", error)) << error;
  QtPlatform platform;  // also points the compression manager at the linked codec library
  // The reference pictures, before any network source exists (while one does, the codec takes
  // every chunk for a chunk number).
  const auto reference = test::decodeWithCodec(test::teapotPath(), 10);
  ASSERT_EQ(reference.size(), 10u);

  zevserve::ServerOptions options;
  options.directory = home.path() + "/movies";
  options.port = 0;
  options.log = [](const std::string&) {};
  zevserve::Server server;
  ASSERT_TRUE(server.open(options)) << server.error();
  std::thread serving([&] { server.run(); });
  struct Stop {
    zevserve::Server& server;
    std::thread& thread;
    ~Stop() {
      server.stop();
      thread.join();
    }
  } stop{server, serving};
  setenv("ZOV_ZEV_PORT", std::to_string(server.port()).c_str(), 1);
  setenv("TMPDIR", (home.path() + "/tmp").c_str(), 1);

  ASSERT_TRUE(platform.dialogs().hasForm(network::kSiteDialog));
  ASSERT_TRUE(platform.dialogs().hasForm(network::kMovieDialog));
  std::vector<std::string> dialogs;
  QStringList moviesListed;
  platform.dialogs().setShowHook([&](std::string_view name, QDialog* dialog) {
    dialogs.emplace_back(name);
    if (name != network::kSiteDialog && name != network::kMovieDialog) return;
    // Act once the dialog runs: type the site, or take the listed movie.
    QTimer::singleShot(0, dialog, [&, dialog, n = std::string(name)] {
      if (n == network::kSiteDialog) {
        auto* combo = dialog->findChild<QComboBox*>(QString::number(network::kSiteCombo));
        ASSERT_NE(combo, nullptr);
        combo->setEditText("127.0.0.1");
      } else if (n == network::kMovieDialog) {
        auto* list = dialog->findChild<QListWidget*>(QString::number(network::kMovieList));
        ASSERT_NE(list, nullptr);
        for (int i = 0; i < list->count(); ++i) moviesListed << list->item(i)->text();
        list->setCurrentRow(0);
      }
      auto* ok = dialog->findChild<QPushButton*>(QString::number(IDOK));
      if (ok) ok->click();
    });
  });

  ProfileFile(kSettingsFile).writeString(kSettingsSection, "NetworkedVideo", "1");
  auto engine = std::make_unique<PlaybackEngine>(createNullAudioOutput());
  PlayerWindow w(std::move(engine), std::make_unique<ProfileFile>(kSettingsFile),
                 DisplayInfo{6, 1024, 768, 24});
  w.show();
  w.runCommand(kOpenNetworked);
  ASSERT_TRUE(w.networkSourceOpen());
  ASSERT_TRUE(w.engine().isOpen());
  ASSERT_GE(dialogs.size(), 3u);
  EXPECT_EQ(dialogs[0], network::kSiteDialog);
  EXPECT_EQ(dialogs[1], network::kMovieDialog);
  EXPECT_EQ(dialogs[2], network::kLoadingDialog);
  EXPECT_EQ(moviesListed, QStringList{"teapot.zev"});
  const std::string local = w.engine().movie()->path();
  EXPECT_EQ(fs::path(local).parent_path(), fs::path(home.path() + "/tmp"));
  EXPECT_EQ(w.engine().length(), 10);
  EXPECT_EQ(test::drawn(w.movieWidget()), reference[0].pixels);

  w.settings().autoLoop = false;
  w.runCommand(kPlayInWindow);
  QTRY_COMPARE_WITH_TIMEOUT(int(w.engine().mode()), int(MovieMode::Stopped), 10000);
  EXPECT_EQ(w.engine().position(), 9);
  EXPECT_EQ(test::drawn(w.movieWidget()), reference[9].pixels);
  w.runCommand(kGotoStart);
  w.runCommand(kPlus1);
  w.runCommand(kPlus1);
  EXPECT_EQ(test::drawn(w.movieWidget()), reference[2].pixels);

  w.runCommand(kCloseVideo);
  EXPECT_FALSE(w.networkSourceOpen());
  EXPECT_FALSE(fs::exists(local)) << "the network source removes its local file";
  unsetenv("ZOV_ZEV_PORT");
  unsetenv("TMPDIR");
}

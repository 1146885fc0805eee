// A networked movie: the teapot sample with a PCM sound track served by zevserve on loopback,
// chosen through the Qt forms of the network source's dialogs (acted on by the dialog host's show
// hook), played in the player's window. The pictures must equal the sample's own frames decoded
// by the codec, and the sound the player's audio output receives must be the track's PCM.
#include <gtest/gtest.h>

#include <QComboBox>
#include <QListWidget>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <sstream>
#include <thread>

#include "compressor/zovcomp_cli.h"
#include "encoder/avi_writer.h"
#include "media/avi_container.h"
#include "media/video_decoder.h"
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

// The sound of frame f: 16-bit mono at 22,050 Hz, as many sample frames as the frame rate gives
// that frame (the chunk sizes vary by one sample frame as a compressor's rounding makes them).
std::vector<std::vector<uint8_t>> soundTrack(uint32_t frames, double fps) {
  std::vector<std::vector<uint8_t>> track;
  for (uint32_t f = 0; f < frames; ++f) {
    const auto first = uint32_t(std::lround(f * 22050 / fps));
    const auto end = uint32_t(std::lround((f + 1) * 22050 / fps));
    std::vector<uint8_t> pcm(size_t(end - first) * 2);
    for (size_t i = 0; i < pcm.size(); ++i) pcm[i] = uint8_t(f * 29 + i * 13 + (i >> 7));
    track.push_back(std::move(pcm));
  }
  return track;
}

// The sample's stored frames written again as a stream file for the movie server, with `track`
// two frames ahead of the picture (the audio preload).
bool writeServedMovie(const std::string& path, const std::vector<std::vector<uint8_t>>& track,
                      std::string& error) {
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
  constexpr uint32_t preload = 2;
  s.withAudio = true;
  s.audioPreloadFrames = preload;
  s.audioFormat = {1, 0, 1, 0, 0x22, 0x56, 0, 0, 0x44, 0xAC, 0, 0, 2, 0, 16, 0};
  s.audioStreamInfo.type = fourcc::kAuds;
  s.audioStreamInfo.scale = 2;
  s.audioStreamInfo.rate = 44100;
  s.audioStreamInfo.sampleSize = 2;
  WriterCallbacks callbacks;
  callbacks.error = [&](const std::string& e) { error = e; };
  callbacks.status = [](const std::string&) {};
  callbacks.message = [](const std::string&) {};
  AviWriter w;
  if (!w.open(s, callbacks)) return false;
  for (uint32_t k = 0; k < preload; ++k)
    if (w.writeAudioRecord(track[k].data(), uint32_t(track[k].size()), k) != kRecordWritten)
      return false;
  std::vector<uint8_t> frame;
  for (uint32_t f = 0; f < file->frameCount(); ++f) {
    if (!file->readFrame(f, frame)) return false;
    const uint32_t a = f + preload;
    const uint8_t* audio = a < track.size() ? track[a].data() : nullptr;
    const uint32_t audioSize = a < track.size() ? uint32_t(track[a].size()) : 0;
    if (w.writeFrameRecord(frame.data(), uint32_t(frame.size()), audio, audioSize,
                           file->isKeyFrame(f), f + 1) != kRecordWritten)
      return false;
  }
  return w.finish();
}

// The null output, keeping every byte queued to it.
class RecordingAudioOutput : public AudioOutput {
 public:
  explicit RecordingAudioOutput(std::vector<uint8_t>& bytes) : bytes_(bytes) {}
  bool open(const AudioFormat& format) override {
    format_ = format;
    return null_->open(format);
  }
  void close() override { null_->close(); }
  void queue(const uint8_t* data, size_t size) override {
    bytes_.insert(bytes_.end(), data, data + size);
    null_->queue(data, size);
  }
  size_t queuedBytes() const override { return null_->queuedBytes(); }
  void reset() override { null_->reset(); }
  void setPaused(bool paused) override { null_->setPaused(paused); }
  uint64_t playedFrames() const override { return null_->playedFrames(); }

 private:
  std::unique_ptr<AudioOutput> null_ = createNullAudioOutput();
  std::vector<uint8_t>& bytes_;
};

// zevserve serving `home`/movies on a loopback port, the network source pointed at it
// (ZOV_ZEV_PORT, TMPDIR = `home`/tmp) and its Qt dialogs answered through the dialog host's show
// hook: the site 127.0.0.1, then the first movie listed.
class ServedMovies {
 public:
  ServedMovies(QtPlatform& platform, const std::string& home) {
    zevserve::ServerOptions options;
    options.directory = home + "/movies";
    options.port = 0;
    options.log = [](const std::string&) {};
    if (!server_.open(options)) return;
    thread_ = std::thread([this] { server_.run(); });
    serving_ = true;
    setenv("ZOV_ZEV_PORT", std::to_string(server_.port()).c_str(), 1);
    setenv("TMPDIR", (home + "/tmp").c_str(), 1);
    if (!platform.dialogs().hasForm(network::kSiteDialog) ||
        !platform.dialogs().hasForm(network::kMovieDialog))
      serving_ = false;
    platform.dialogs().setShowHook([this](std::string_view name, QDialog* dialog) {
      dialogs.emplace_back(name);
      if (name != network::kSiteDialog && name != network::kMovieDialog) return;
      // Act once the dialog runs: type the site, or take the listed movie.
      QTimer::singleShot(0, dialog, [this, dialog, n = std::string(name)] {
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
  }
  ~ServedMovies() {
    if (thread_.joinable()) {
      server_.stop();
      thread_.join();
    }
    unsetenv("ZOV_ZEV_PORT");
    unsetenv("TMPDIR");
  }
  bool serving() const { return serving_; }
  std::string error() const { return server_.error(); }
  std::vector<std::string> dialogs;
  QStringList moviesListed;

 private:
  zevserve::Server server_;
  std::thread thread_;
  bool serving_ = false;
};

// A player window on the null audio output that records into `played`, opening the served movie.
std::unique_ptr<PlayerWindow> openServedMovie(std::vector<uint8_t>& played) {
  auto engine = std::make_unique<PlaybackEngine>(std::make_unique<RecordingAudioOutput>(played));
  auto w = std::make_unique<PlayerWindow>(std::move(engine),
                                          std::make_unique<ProfileFile>(kSettingsFile),
                                          DisplayInfo{6, 1024, 768, 24});
  w->show();
  w->runCommand(kOpenNetworked);
  return w;
}

int runZovcomp(std::vector<std::string> args) {
  args.insert(args.begin(), "zovcomp");
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  std::ostringstream out, err;
  const int rc = zovcompMain(int(argv.size()), argv.data(), out, err, false);
  setZovDecoderFactory(nullptr);
  return rc;
}

}  // namespace

TEST(PlayerNetwork, AMovieFromTheServerPlaysThroughTheQtDialogs) {
  test::TempHome home;
  fs::create_directories(home.path() + "/movies");
  fs::create_directories(home.path() + "/tmp");
  std::string error;
  auto sample = AviContainer::open(test::teapotPath(), &error);
  ASSERT_TRUE(sample) << error;
  const auto track = soundTrack(sample->frameCount(), double(sample->videoHeader().rate) /
                                                          double(sample->videoHeader().scale));
  ASSERT_TRUE(writeServedMovie(home.path() + "/movies/teapot.zev", track, error)) << error;
  QtPlatform platform;  // also points the compression manager at the linked codec library
  // The reference pictures, before any network source exists (while one does, the codec takes
  // every chunk for a chunk number).
  const auto reference = test::decodeWithCodec(test::teapotPath(), 10);
  ASSERT_EQ(reference.size(), 10u);

  ServedMovies served(platform, home.path());
  ASSERT_TRUE(served.serving()) << served.error();
  const auto& dialogs = served.dialogs;

  std::vector<uint8_t> played;
  auto window = openServedMovie(played);
  PlayerWindow& w = *window;
  ASSERT_TRUE(w.networkSourceOpen());
  ASSERT_TRUE(w.engine().isOpen());
  // The loading dialog stands while the list comes and again while the movie loads.
  ASSERT_GE(dialogs.size(), 4u);
  EXPECT_EQ(dialogs[0], network::kSiteDialog);
  EXPECT_EQ(dialogs[1], network::kLoadingDialog);
  EXPECT_EQ(dialogs[2], network::kMovieDialog);
  EXPECT_EQ(dialogs[3], network::kLoadingDialog);
  EXPECT_EQ(served.moviesListed, QStringList{"teapot.zev"});
  const std::string local = w.engine().movie()->path();
  EXPECT_EQ(fs::path(local).parent_path(), fs::path(home.path() + "/tmp"));
  EXPECT_EQ(w.engine().length(), 10);
  EXPECT_TRUE(w.windowTitle().startsWith("teapot.zev - ")) << w.windowTitle().toStdString();
  EXPECT_EQ(test::drawn(w.movieWidget()), reference[0].pixels);
  // The placeholder's audio track is played as the PCM it stands for.
  ASSERT_TRUE(w.engine().movie()->hasAudio());
  EXPECT_EQ(w.engine().movie()->audioFormat().sampleRate, 22050u);
  EXPECT_EQ(w.engine().movie()->audioFormat().channels, 1);
  EXPECT_EQ(w.engine().movie()->audioFormat().bitsPerSample, 16);

  w.settings().autoLoop = false;
  w.runCommand(kPlayInWindow);
  QTRY_COMPARE_WITH_TIMEOUT(int(w.engine().mode()), int(MovieMode::Stopped), 10000);
  EXPECT_EQ(w.engine().position(), 9);
  std::vector<uint8_t> source;
  for (const auto& chunk : track) source.insert(source.end(), chunk.begin(), chunk.end());
  EXPECT_EQ(played.size(), source.size());
  EXPECT_TRUE(played == source) << "the sound the output received is not the track's PCM";
  EXPECT_EQ(test::drawn(w.movieWidget()), reference[9].pixels);
  w.runCommand(kGotoStart);
  w.runCommand(kPlus1);
  w.runCommand(kPlus1);
  EXPECT_EQ(test::drawn(w.movieWidget()), reference[2].pixels);

  w.runCommand(kCloseVideo);
  EXPECT_FALSE(w.networkSourceOpen());
  EXPECT_FALSE(fs::exists(local)) << "the network source removes its local file";
}

TEST(PlayerNetwork, ACompressedMovieWithSoundPlaysTheSourcesPcm) {
  test::TempHome home;
  fs::create_directories(home.path() + "/movies");
  fs::create_directories(home.path() + "/tmp");
  // The pan clip (44,100 Hz 16-bit stereo at 30 frames a second) compressed, then written as a
  // stream file by the compressor, as a movie server's owner makes one.
  const std::string pan = std::string(ZOV_TEST_DATA_DIR) + "/pan-640x480-mjpeg-pcm.avi";
  const std::string compressed = home.path() + "/pan.avi";
  ASSERT_EQ(runZovcomp({"compress", pan, "-o", compressed, "--last", "29", "--resize", "160x120"}),
            0);
  ASSERT_EQ(
      runZovcomp({"compress", compressed, "-o", home.path() + "/movies/pan.zev", "--mode", "zev"}),
      0);
  std::string error;
  auto source = AviContainer::open(pan, &error);
  ASSERT_TRUE(source) << error;
  std::vector<uint8_t> pcm;
  ASSERT_EQ(source->readAudio(0, 30 * 1470, pcm), 30u * 1470 * 4);

  QtPlatform platform;
  ServedMovies served(platform, home.path());
  ASSERT_TRUE(served.serving()) << served.error();
  std::vector<uint8_t> played;
  auto window = openServedMovie(played);
  PlayerWindow& w = *window;
  ASSERT_TRUE(w.networkSourceOpen());
  ASSERT_TRUE(w.engine().isOpen());
  ASSERT_TRUE(w.engine().movie()->hasAudio());
  const AudioFormat& f = w.engine().movie()->audioFormat();
  EXPECT_EQ(f.sampleRate, 44100u);
  EXPECT_EQ(f.channels, 2);
  EXPECT_EQ(f.bitsPerSample, 16);
  const long frames = w.engine().length();
  ASSERT_GT(frames, 24);

  w.settings().autoLoop = false;
  w.runCommand(kPlayInWindow);
  QTRY_COMPARE_WITH_TIMEOUT(int(w.engine().mode()), int(MovieMode::Stopped), 10000);
  ASSERT_EQ(played.size(), size_t(frames) * 1470 * 4);
  EXPECT_TRUE(std::equal(played.begin(), played.end(), pcm.begin()))
      << "the sound the output received is not the clip's PCM";
  w.runCommand(kCloseVideo);
}

#include "codec/support/network_movie.h"

#include <dlfcn.h>
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>

#include "network/zev_source.h"

namespace zov::test {

namespace {

std::vector<uint8_t> varied(size_t n, uint32_t seed) {
  std::vector<uint8_t> v(n);
  for (size_t i = 0; i < n; ++i) v[i] = uint8_t((seed * 131 + i * 7) ^ (i >> 5));
  return v;
}

bool waitUntil(int timeoutMs, const auto& done) {
  const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (!done()) {
    if (std::chrono::steady_clock::now() > until) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return true;
}

}  // namespace

NetMovie makeNetMovie(uint32_t frames, uint32_t keyEvery, uint32_t (*videoPad)(uint32_t),
                      size_t audioBytes) {
  NetMovie m;
  m.keyEvery = keyEvery;
  m.format = streamFormat(m.width, m.height);
  for (uint32_t f = 0; f < frames; ++f) {
    std::vector<uint8_t> v = m.isKey(f)
                                 ? solidKeyFrame(m.width, m.height, uint16_t(0x0421 * (f % 29 + 1)))
                                 : patchFrame(m.width, m.height, int(f % 7) * 8, int(f % 5) * 8, 8,
                                              8, uint16_t(0x7C00 - (f % 997) * 3));
    if (videoPad) {
      std::vector<uint8_t> pad = varied(videoPad(f), f);
      v.insert(v.end(), pad.begin(), pad.end());
    }
    m.video.push_back(std::move(v));
    m.audio.push_back(varied(audioBytes + (f & 1) * 4, 500 + f));
  }
  return m;
}

std::string writeNetMovie(const NetMovie& movie, RunMode mode, const std::string& path) {
  AviWriterSettings s;
  s.mode = mode;
  s.path = path;
  s.microSecPerFrame = 66666;
  s.fileScale = 66666;
  s.fileRate = 1000000;
  s.width = uint32_t(movie.width);
  s.height = uint32_t(movie.height);
  const BITMAPINFOHEADER& format = movie.format;
  static_assert(sizeof format == 40);
  std::memcpy(s.sourceVideoFormat.data(), &format, 40);
  s.compressionWord = format.biCompression;  // the ordinary AVI's format word
  s.withAudio = !movie.audio.empty();
  s.audioFormat = {1, 0, 2, 0, 0x44, 0xAC, 0, 0, 0x10, 0xB1, 2, 0, 4, 0, 16, 0};
  s.audioStreamInfo.type = fourcc::kAuds;
  s.audioStreamInfo.scale = 4;
  s.audioStreamInfo.rate = 44100 * 4;
  s.audioStreamInfo.sampleSize = 4;
  std::string error;
  WriterCallbacks callbacks;
  callbacks.error = [&](const std::string& e) {
    if (error.empty()) error = e;
  };
  callbacks.status = [](const std::string&) {};
  callbacks.message = [](const std::string&) {};
  AviWriter w;
  if (!w.open(s, callbacks)) return error.empty() ? "open failed" : error;
  for (uint32_t f = 0; f < movie.video.size(); ++f) {
    const std::vector<uint8_t>& v = movie.video[f];
    const uint8_t* a = s.withAudio ? movie.audio[f].data() : nullptr;
    const uint32_t aSize = s.withAudio ? uint32_t(movie.audio[f].size()) : 0;
    if (w.writeFrameRecord(v.data(), uint32_t(v.size()), a, aSize, movie.isKey(f), f + 1) !=
        kRecordWritten)
      return error.empty() ? "frame " + std::to_string(f) + " not written" : error;
  }
  if (!w.finish()) return error.empty() ? "finish failed" : error;
  return {};
}

AviChunks readAviChunks(const std::string& path) {
  AviChunks result;
  std::ifstream in(path, std::ios::binary);
  const std::vector<uint8_t> file{std::istreambuf_iterator<char>(in), {}};
  auto le = [&](size_t at) -> uint32_t {
    return at + 4 <= file.size() ? uint32_t(file[at]) | uint32_t(file[at + 1]) << 8 |
                                       uint32_t(file[at + 2]) << 16 | uint32_t(file[at + 3]) << 24
                                 : 0;
  };
  auto id = [&](size_t at) {
    return at + 4 <= file.size() ? std::string(file.begin() + long(at), file.begin() + long(at + 4))
                                 : std::string();
  };
  if (id(0) != "RIFF" || id(8) != "AVI ") return {.error = "not an AVI file"};
  size_t movi = 0, idx1 = 0, idx1Size = 0;
  for (size_t at = 12; at + 8 <= file.size() && movi == 0; ++at) {
    if (id(at) == "strf" && result.videoFormat.empty() && at + 8 + le(at + 4) <= file.size())
      result.videoFormat.assign(file.begin() + long(at + 8),
                                file.begin() + long(at + 8 + le(at + 4)));
    if (id(at) == "movi") break;
  }
  for (size_t at = 12; at + 8 <= file.size(); at += 8 + ((size_t(le(at + 4)) + 1) & ~size_t(1))) {
    if (id(at) == "LIST" && id(at + 8) == "movi") movi = at + 8;
    if (id(at) == "idx1") idx1 = at + 8, idx1Size = le(at + 4);
  }
  if (movi == 0 || idx1 == 0) return {.error = "no movie list or no idx1"};
  // Offsets count from the 'movi' form type, or, in some writers' files, from the file start.
  size_t first = idx1;
  while (first + 16 <= idx1 + idx1Size && id(first) == "rec ") first += 16;
  const size_t base = id(movi + le(first + 8)) == id(first) ? movi : 0;
  for (size_t e = idx1; e + 16 <= idx1 + idx1Size && e + 16 <= file.size(); e += 16) {
    const std::string name = id(e);
    const size_t at = base + le(e + 8), size = le(e + 12);
    if (name == "rec ") continue;
    if (id(at) != name || at + 8 + size > file.size()) return {.error = "idx1 entry " + name};
    std::vector<uint8_t> data(file.begin() + long(at + 8), file.begin() + long(at + 8 + size));
    if (name == "00dc" || name == "00db") {
      result.video.push_back(std::move(data));
      result.videoKey.push_back((le(e + 4) & 0x10) != 0);
    } else if (name == "01wb") {
      result.audio.push_back(std::move(data));
    }
  }
  return result;
}

ChunkPlayer::ChunkPlayer(const BITMAPINFOHEADER& format)
    : in_(format),
      out_(rgbOutput(format.biWidth, format.biHeight)),
      bitmap_(size_t(format.biWidth) * size_t(std::abs(format.biHeight)), 0xCDCD) {
  begun_ = codec_ && ICDecompressBegin(codec_.hic(), &in_, &out_.header) == ICERR_OK;
}

ChunkPlayer::~ChunkPlayer() {
  if (begun_) ICDecompressEnd(codec_.hic());
}

bool ChunkPlayer::play(const std::vector<uint8_t>& chunk, bool key) {
  const std::vector<uint16_t> before = bitmap_;
  in_.biSizeImage = DWORD(chunk.size());
  EXPECT_EQ(ICDecompress(codec_.hic(), key ? 0 : ICDECOMPRESS_NOTKEYFRAME, &in_,
                         const_cast<uint8_t*>(chunk.data()), &out_.header, bitmap_.data()),
            DWORD(ICERR_OK));
  return bitmap_ != before;
}

bool ChunkPlayer::playKeyUntilShown(const std::vector<uint8_t>& chunk, int timeoutMs) {
  return waitUntil(timeoutMs, [&] {
    fill(0xCDCD);
    play(chunk, true);
    return bitmap_[0] != 0xCDCD;
  });
}

Playback playFrames(ChunkPlayer& player, const NetMovie& movie,
                    const std::vector<std::vector<uint16_t>>& expected, uint32_t from,
                    uint32_t to) {
  Playback p;
  for (uint32_t f = from; f < to; ++f) {
    std::vector<uint8_t> number(4);
    std::memcpy(number.data(), &f, 4);
    if (movie.isKey(f)) {
      EXPECT_TRUE(player.playKeyUntilShown(number)) << "key frame " << f;
    } else {
      const std::vector<uint16_t> before = player.picture();
      player.play(number, false);
      if (player.picture() != expected[f]) {
        EXPECT_EQ(player.picture(), before) << "frame " << f << " shown wrong";
        ++p.dropped;
        continue;
      }
    }
    EXPECT_EQ(player.picture(), expected[f]) << "frame " << f;
    ++p.shown;
  }
  return p;
}

std::vector<std::vector<uint16_t>> decodeChunks(const NetMovie& movie,
                                                const std::vector<std::vector<uint8_t>>& chunks) {
  std::vector<std::vector<uint16_t>> pictures;
  ChunkPlayer player(movie.format);
  EXPECT_TRUE(player);
  if (!player) return pictures;
  for (uint32_t f = 0; f < chunks.size(); ++f) {
    if (movie.isKey(f))
      player.playKeyUntilShown(chunks[f]);
    else
      player.play(chunks[f], false);
    pictures.push_back(player.picture());
  }
  return pictures;
}

std::vector<std::vector<uint8_t>> chunkNumbers(uint32_t frames) {
  std::vector<std::vector<uint8_t>> numbers;
  for (uint32_t f = 0; f < frames; ++f) {
    std::vector<uint8_t> n(4);
    std::memcpy(n.data(), &f, 4);
    numbers.push_back(n);
  }
  return numbers;
}

ServedLibrarySource::ServedLibrarySource(const std::filesystem::path& root) {
  const CodecExports& lib = codec();
  access_ = reinterpret_cast<decltype(access_)>(dlsym(lib.module, "ZOVAccessZEV"));
  obtainAudio_ = reinterpret_cast<decltype(obtainAudio_)>(dlsym(lib.module, "ZOVObtainAudio"));
  free_ = reinterpret_cast<decltype(free_)>(dlsym(lib.module, "ZOVFreeZEV"));
  std::filesystem::create_directories(root / "tmp");
  zevserve::ServerOptions options;
  options.directory = (root / "movies").string();
  options.port = 0;
  options.log = [](const std::string&) {};
  if (!access_ || !obtainAudio_ || !free_ || !server_.open(options)) return;
  thread_ = std::thread([this] { server_.run(); });
  serving_ = true;
  setenv("ZOV_ZEV_PORT", std::to_string(server_.port()).c_str(), 1);
  setenv("TMPDIR", (root / "tmp").c_str(), 1);
  // The dialog records are the library's own; the dialog names say which record comes.
  ui.dialogs.on(network::kSiteDialog, [](WindowHandle, DialogData& d) -> intptr_t {
    static_cast<network::SiteDialogData&>(d).text = "127.0.0.1";
    return IDOK;
  });
  ui.dialogs.on(network::kMovieDialog, [this](WindowHandle, DialogData& d) -> intptr_t {
    auto& m = static_cast<network::MovieDialogData&>(d);
    moviesSeen_ = m.movies;
    m.selected = 0;
    return IDOK;
  });
}

ServedLibrarySource::~ServedLibrarySource() {
  free();
  if (serving_) {
    server_.stop();
    thread_.join();
  }
  unsetenv("ZOV_ZEV_PORT");
  unsetenv("TMPDIR");
}

const char* ServedLibrarySource::access() {
  return access_ ? access_(nullptr) : nullptr;
}

const void* ServedLibrarySource::obtainAudio(uint32_t chunk, uint32_t* size) {
  return obtainAudio_ ? obtainAudio_(chunk, size) : nullptr;
}

const uint8_t* ServedLibrarySource::waitForAudio(uint32_t a, uint32_t* size, int timeoutMs) {
  const void* p = nullptr;
  waitUntil(timeoutMs, [&] { return (p = obtainAudio(a, size)) != nullptr; });
  return static_cast<const uint8_t*>(p);
}

void ServedLibrarySource::free() {
  if (free_) free_();
}

}  // namespace zov::test

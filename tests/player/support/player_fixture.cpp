#include "support/player_fixture.h"

#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>

#include <QImage>
#include <QPixmap>

#include "media/avi_container.h"
#include "platform/profile.h"
#include "platform/vfw.h"
#include "player/movie_widget.h"
#include "player/player_window.h"

namespace zov::test {

std::unique_ptr<player::PlayerWindow> makeShownPlayerWindow() {
  auto engine = std::make_unique<player::PlaybackEngine>(player::createNullAudioOutput());
  auto w = std::make_unique<player::PlayerWindow>(
      std::move(engine), std::make_unique<ProfileFile>(player::kSettingsFile),
      player::DisplayInfo{6, 1024, 768, 24});
  w->show();
  return w;
}

std::string makeTempFolder() {
  std::string pattern = (std::filesystem::temp_directory_path() / "zov-player-XXXXXX").string();
  return mkdtemp(pattern.data()) ? pattern : std::string();
}

TempHome::TempHome() : path_(makeTempFolder()) {
  if (const char* p = std::getenv("ZOV_HOME")) {
    previous_ = p;
    hadPrevious_ = true;
  }
  setenv("ZOV_HOME", path_.c_str(), 1);
}

TempHome::~TempHome() {
  if (hadPrevious_)
    setenv("ZOV_HOME", previous_.c_str(), 1);
  else
    unsetenv("ZOV_HOME");
  std::error_code ec;
  std::filesystem::remove_all(path_, ec);
}

std::vector<uint32_t> drawn(player::MovieWidget& movie) {
  QImage image = movie.grab(movie.pictureRect()).toImage().convertToFormat(QImage::Format_RGB32);
  std::vector<uint32_t> pixels;
  for (int y = 0; y < image.height(); ++y) {
    auto* row = reinterpret_cast<const uint32_t*>(image.constScanLine(y));
    pixels.insert(pixels.end(), row, row + image.width());
  }
  return pixels;
}

std::string teapotPath() {
  return std::string(ZOV_TEST_DATA_DIR) + "/sample-teapot-zov2.avi";
}

std::vector<player::Picture> decodeWithCodec(const std::string& path, uint32_t count) {
  std::vector<player::Picture> out;
  std::string error;
  auto file = AviContainer::open(path, &error);
  if (!file) return out;
  BITMAPINFOHEADER in;
  std::memcpy(&in, file->videoFormat().data(), sizeof in);
  HIC hic = ICOpen(ICTYPE_VIDEO, mmioFOURCC('z', 'o', 'v', char(in.biCompression >> 24)),
                   ICMODE_DECOMPRESS);
  if (!hic) return out;
  std::vector<uint8_t> proposed(sizeof(BITMAPINFOHEADER) + 1024);
  auto* fmt = reinterpret_cast<BITMAPINFOHEADER*>(proposed.data());
  if (ICDecompressGetFormat(hic, &in, fmt) == ICERR_OK && fmt->biBitCount == 16) {
    BITMAPINFOHEADER o = *fmt;
    std::vector<uint8_t> bits((size_t(o.biWidth) * 2 + 3) / 4 * 4 * size_t(o.biHeight));
    o.biSizeImage = DWORD(bits.size());
    if (ICDecompressBegin(hic, &in, &o) == ICERR_OK) {
      std::vector<uint8_t> data;
      for (uint32_t f = 0; f < count && f < file->frameCount(); ++f) {
        if (!file->readFrame(f, data)) break;
        BITMAPINFOHEADER i = in;
        i.biSizeImage = DWORD(data.size());
        DWORD flags = data.empty() ? ICDECOMPRESS_NULLFRAME : 0;
        if (!file->isKeyFrame(f)) flags |= ICDECOMPRESS_NOTKEYFRAME;
        if (ICDecompress(hic, flags, &i, data.data(), &o, bits.data()) != DWORD(ICERR_OK)) break;
        player::Picture p;
        player::dibToPicture(bits.data(), o.biWidth, o.biHeight, 16, nullptr, p);
        out.push_back(std::move(p));
      }
      ICDecompressEnd(hic);
    }
  }
  ICClose(hic);
  return out;
}

namespace {

void put32(std::vector<uint8_t>& b, uint32_t v) {
  for (int i = 0; i < 4; ++i) b.push_back(uint8_t(v >> (8 * i)));
}
void put16(std::vector<uint8_t>& b, uint16_t v) {
  b.push_back(uint8_t(v));
  b.push_back(uint8_t(v >> 8));
}
void putTag(std::vector<uint8_t>& b, const char* t) {
  b.insert(b.end(), t, t + 4);
}
// Opens a chunk or list; returns where its size goes.
size_t begin(std::vector<uint8_t>& b, const char* tag, const char* listType = nullptr) {
  putTag(b, tag);
  const size_t at = b.size();
  put32(b, 0);
  if (listType) putTag(b, listType);
  return at;
}
void end(std::vector<uint8_t>& b, size_t at) {
  const uint32_t size = uint32_t(b.size() - at - 4);
  std::memcpy(&b[at], &size, 4);
  if (b.size() & 1) b.push_back(0);
}

}  // namespace

bool writeClickClip(const std::string& path, uint32_t frames, uint32_t fps, uint32_t rate,
                    uint32_t keyInterval) {
  const int w = 64, h = 48;
  const uint32_t frameBytes = uint32_t(w * 3 * h);
  const uint32_t samplesPerFrame = rate / fps;
  std::vector<uint8_t> b;
  const size_t riff = begin(b, "RIFF", "AVI ");
  const size_t hdrl = begin(b, "LIST", "hdrl");
  const size_t avih = begin(b, "avih");
  put32(b, 1000000 / fps);
  put32(b, 0);
  put32(b, 0);
  put32(b, 0x10);  // has index
  put32(b, frames);
  put32(b, 0);
  put32(b, 2);
  put32(b, frameBytes);
  put32(b, uint32_t(w));
  put32(b, uint32_t(h));
  for (int i = 0; i < 4; ++i) put32(b, 0);
  end(b, avih);
  const size_t strlV = begin(b, "LIST", "strl");
  const size_t strhV = begin(b, "strh");
  putTag(b, "vids");
  put32(b, 0);
  put32(b, 0);
  put32(b, 0);
  put32(b, 0);
  put32(b, 1);
  put32(b, fps);
  put32(b, 0);
  put32(b, frames);
  put32(b, frameBytes);
  put32(b, 0xFFFFFFFF);
  put32(b, 0);
  put16(b, 0);
  put16(b, 0);
  put16(b, uint16_t(w));
  put16(b, uint16_t(h));
  end(b, strhV);
  const size_t strfV = begin(b, "strf");
  put32(b, 40);
  put32(b, uint32_t(w));
  put32(b, uint32_t(h));
  put16(b, 1);
  put16(b, 24);
  put32(b, 0);
  put32(b, frameBytes);
  for (int i = 0; i < 4; ++i) put32(b, 0);
  end(b, strfV);
  end(b, strlV);
  const size_t strlA = begin(b, "LIST", "strl");
  const size_t strhA = begin(b, "strh");
  putTag(b, "auds");
  put32(b, 0);
  put32(b, 0);
  put32(b, 0);
  put32(b, 0);
  put32(b, 1);
  put32(b, rate);
  put32(b, 0);
  put32(b, frames * samplesPerFrame);
  put32(b, samplesPerFrame);
  put32(b, 0xFFFFFFFF);
  put32(b, 1);
  for (int i = 0; i < 4; ++i) put16(b, 0);
  end(b, strhA);
  const size_t strfA = begin(b, "strf");
  put16(b, 1);
  put16(b, 1);
  put32(b, rate);
  put32(b, rate);
  put16(b, 1);
  put16(b, 8);
  end(b, strfA);
  end(b, strlA);
  end(b, hdrl);
  const size_t movi = begin(b, "LIST", "movi");
  struct Index {
    const char* tag;
    uint32_t flags, offset, size;
  };
  std::vector<Index> index;
  const uint32_t clickSamples = rate / 500;
  for (uint32_t f = 0; f < frames; ++f) {
    const bool key = f % keyInterval == 0;
    const size_t v = begin(b, "00db");
    b.insert(b.end(), frameBytes, key ? 0xFF : 0x00);
    index.push_back({"00db", key ? 0x10u : 0u, uint32_t(v - movi - 4), frameBytes});
    end(b, v);
    const size_t a = begin(b, "01wb");
    for (uint32_t s = 0; s < samplesPerFrame; ++s) b.push_back(key && s < clickSamples ? 255 : 128);
    index.push_back({"01wb", 0x10u, uint32_t(a - movi - 4), samplesPerFrame});
    end(b, a);
  }
  end(b, movi);
  const size_t idx1 = begin(b, "idx1");
  for (auto& e : index) {
    putTag(b, e.tag);
    put32(b, e.flags);
    put32(b, e.offset);
    put32(b, e.size);
  }
  end(b, idx1);
  end(b, riff);
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(b.data()), std::streamsize(b.size()));
  return bool(out);
}

}  // namespace zov::test

#include "avi_fixtures.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>

namespace zov::test {

int writeFixture(const std::string& path, const FixtureMovie& m, std::vector<std::string>* errors,
                 std::vector<std::string>* statuses) {
  AviWriterSettings s;
  s.mode = m.mode;
  s.path = path;
  s.microSecPerFrame = m.microSecPerFrame;
  s.fileScale = m.microSecPerFrame;
  s.fileRate = 1000000;
  s.width = uint32_t(m.width);
  s.height = uint32_t(m.height);
  s.cdromTarget = m.cdrom;
  s.cutOffKBLimit = m.cutOffKB;
  s.cutOffKBLimitNotify = m.cutOffNotify;
  s.compressionWord = m.compressionWord;
  DibHeader bih;
  bih.width = m.width;
  bih.height = m.height;
  bih.bitCount = uint16_t(m.bitCount);
  bih.compression = m.compression;
  bih.clrUsed = uint32_t(m.palette.size() / 4);
  s.sourceVideoFormat = bih.pack();
  if (m.channels) {
    s.withAudio = true;
    uint16_t align = uint16_t(m.channels * m.bitsPerSample / 8);
    std::vector<uint8_t> f(16, 0);
    putLE16(&f[0], m.formatTag);
    putLE16(&f[2], m.channels);
    putLE32(&f[4], m.sampleRate);
    putLE32(&f[8], m.sampleRate * align);
    putLE16(&f[12], align);
    putLE16(&f[14], m.bitsPerSample);
    s.audioFormat = f;
    s.audioStreamInfo.type = fourcc::kAuds;
    s.audioStreamInfo.scale = align;
    s.audioStreamInfo.rate = m.sampleRate * align;
    s.audioStreamInfo.sampleSize = align;
  }
  WriterCallbacks cb;
  cb.error = [errors](const std::string& t) {
    if (errors) errors->push_back(t);
  };
  cb.status = [statuses](const std::string& t) {
    if (statuses) statuses->push_back(t);
  };
  AviWriter w;
  if (!w.open(s, cb)) return -1;
  int written = 0;
  for (size_t i = 0; i < m.frames.size(); ++i) {
    const std::vector<uint8_t>* a = i < m.audio.size() ? &m.audio[i] : nullptr;
    bool key = m.keys.empty() || m.keys[i];
    int rc = w.writeFrameRecord(m.frames[i].data(), uint32_t(m.frames[i].size()),
                                a ? a->data() : nullptr, a ? uint32_t(a->size()) : 0, key,
                                uint32_t(i + 1));
    if (rc == kRecordSizeLimit) break;
    if (rc != kRecordWritten) {
      w.abandon();
      return -1;
    }
    ++written;
  }
  if (!w.finish()) return -1;
  // A palette lives after the 40-byte format: patch it in by rewriting the strf chunk is not
  // possible in place, so palettized fixtures are made by a separate helper in the tests.
  return written;
}

std::vector<uint8_t> readFileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

std::string tempFolder(const std::string& name) {
  const char* base = std::getenv("TEST_TMPDIR");
  std::filesystem::path p = std::filesystem::path(base && *base ? base : "/tmp") /
                            ("zov-avi-" + std::to_string(::getpid())) / name;
  std::filesystem::remove_all(p);
  std::filesystem::create_directories(p);
  return p.string();
}

void appendToVideoFormat(const std::string& path, const std::vector<uint8_t>& extra) {
  std::vector<uint8_t> f = readFileBytes(path);
  const uint32_t n = uint32_t(extra.size());
  // RIFF(12) LIST hdrl(12) avih(8+56) LIST strl(12) strh(8+64) strf(8+40) strn ...
  const size_t hdrl = 12, strl = hdrl + 12 + 64, strf = strl + 12 + 72;
  if (getLE32(&f[strf]) != fourcc::kStrf || n % 2) return;
  putLE32(&f[strf + 4], getLE32(&f[strf + 4]) + n);
  putLE32(&f[strl + 4], getLE32(&f[strl + 4]) + n);
  putLE32(&f[hdrl + 4], getLE32(&f[hdrl + 4]) + n);
  size_t junk = hdrl + 8 + getLE32(&f[hdrl + 4]) - n;
  if (getLE32(&f[junk]) != fourcc::kJunk || getLE32(&f[junk + 4]) < n) return;
  putLE32(&f[junk + 4], getLE32(&f[junk + 4]) - n);
  f.erase(f.begin() + long(junk + 8), f.begin() + long(junk + 8 + n));
  f.insert(f.begin() + long(strf + 8 + 40), extra.begin(), extra.end());
  std::ofstream(path, std::ios::binary | std::ios::trunc)
      .write(reinterpret_cast<const char*>(f.data()), long(f.size()));
}

bool haveProgram(const char* name) {
  std::string cmd = std::string("command -v ") + name + " >/dev/null 2>&1";
  return std::system(cmd.c_str()) == 0;
}

}  // namespace zov::test

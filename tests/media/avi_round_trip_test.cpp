// Files written by the output writer read back through the container reader: every frame, key
// flag and audio byte, in each mode, with and without audio, CD-ROM padding and cut-off; files
// whose index is missing or cut short; and third-party parsers' view of our files.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>

#include "encoder/zev_format.h"
#include "media/avi_container.h"
#include "support/avi_fixtures.h"

namespace zov {
namespace {

using test::FixtureMovie;

FixtureMovie randomMovie(int frames, bool audio, uint32_t seed) {
  std::mt19937 rng(seed);
  FixtureMovie m;
  m.compression = makeFourCC("cvid");  // delta-coded: the key flags count
  for (int i = 0; i < frames; ++i) {
    size_t n = rng() % 3000;
    if (i == 3) n = 0;  // a frame skipped by data-rate control
    if (i == 4) n = 1;  // odd sizes are padded
    std::vector<uint8_t> f(n);
    for (auto& b : f) b = uint8_t(rng());
    m.frames.push_back(f);
    m.keys.push_back(i % 5 == 0);
    if (audio) {
      std::vector<uint8_t> a(size_t(2 * (1400 + rng() % 150)));
      if (i == 6) a.clear();
      for (auto& b : a) b = uint8_t(rng());
      m.audio.push_back(a);
    }
  }
  if (audio) {
    m.channels = 1;
    m.sampleRate = 22050;
  }
  return m;
}

void expectSameContent(const AviContainer& c, const FixtureMovie& m, size_t frames) {
  ASSERT_EQ(c.frameCount(), frames);
  std::vector<uint8_t> got;
  for (uint32_t i = 0; i < frames; ++i) {
    ASSERT_TRUE(c.readFrame(i, got)) << "frame " << i;
    EXPECT_EQ(got, m.frames[i]) << "frame " << i;
    EXPECT_EQ(c.isKeyFrame(i), m.keys[i]) << "key flag of frame " << i;
  }
  if (m.audio.empty()) {
    EXPECT_FALSE(c.hasAudio());
    return;
  }
  ASSERT_TRUE(c.hasAudio());
  std::vector<uint8_t> all;
  for (size_t i = 0; i < frames; ++i) all.insert(all.end(), m.audio[i].begin(), m.audio[i].end());
  ASSERT_EQ(c.audioLength() * 2, all.size());
  std::vector<uint8_t> read;
  ASSERT_EQ(c.readAudio(0, c.audioLength(), read), all.size());
  EXPECT_EQ(read, all);
  // Reads that start and end inside chunks.
  ASSERT_EQ(c.readAudio(777, 2000, read), 4000u);
  EXPECT_TRUE(std::equal(read.begin(), read.end(), all.begin() + 1554));
}

struct Variant {
  const char* name;
  bool audio, cdrom;
};

TEST(AviRoundTrip, EveryFrameKeyFlagAndAudioByteComesBack) {
  const Variant variants[] = {{"plain", false, false},
                              {"audio", true, false},
                              {"cdrom", false, true},
                              {"audio-cdrom", true, true}};
  for (const Variant& v : variants) {
    SCOPED_TRACE(v.name);
    for (RunMode mode : {RunMode::Compress, RunMode::NoRecompression}) {
      std::string dir = test::tempFolder(std::string("rt-") + v.name);
      FixtureMovie m = randomMovie(23, v.audio, 7);
      m.cdrom = v.cdrom;
      m.mode = mode;
      ASSERT_EQ(test::writeFixture(dir + "/m.avi", m), 23);
      std::string err;
      auto c = AviContainer::open(dir + "/m.avi", &err);
      ASSERT_TRUE(c) << err;
      EXPECT_EQ(c->indexSource(), AviContainer::IndexSource::Idx1);
      expectSameContent(*c, m, 23);
      EXPECT_EQ(c->microSecPerFrame(), 66666u);
    }
  }
}

TEST(AviRoundTrip, CutOffFileHoldsTheRecordsWrittenBeforeTheLimit) {
  std::string dir = test::tempFolder("rt-cutoff");
  FixtureMovie m = randomMovie(60, true, 3);
  m.cdrom = true;
  m.cutOffKB = 40;
  int written = test::writeFixture(dir + "/m.avi", m);
  ASSERT_GT(written, 2);
  ASSERT_LT(written, 60);
  EXPECT_LE(std::filesystem::file_size(dir + "/m.avi"), 40u * 1024);
  auto c = AviContainer::open(dir + "/m.avi", nullptr);
  ASSERT_TRUE(c);
  expectSameContent(*c, m, size_t(written));
}

TEST(AviRoundTrip, MissingOrCutIndexFallsBackToScanningTheMovie) {
  std::string dir = test::tempFolder("rt-scan");
  FixtureMovie m = randomMovie(12, true, 11);
  m.keys.assign(12, true);
  ASSERT_EQ(test::writeFixture(dir + "/m.avi", m), 12);
  auto whole = test::readFileBytes(dir + "/m.avi");
  auto c = AviContainer::open(dir + "/m.avi", nullptr);
  ASSERT_TRUE(c);
  // Find idx1 from the reader's view: the last audio entry ends before it.
  uint64_t idx1 = c->audioEntries().back().offset + c->audioEntries().back().size;
  idx1 += idx1 & 1;
  ASSERT_EQ(getLE32(&whole[idx1]), fourcc::kIdx1);

  // Cut inside the index: the index runs past the end of the file.
  {
    std::vector<uint8_t> cut(whole.begin(), whole.begin() + long(idx1 + 8 + 40));
    std::ofstream(dir + "/cut.avi", std::ios::binary)
        .write(reinterpret_cast<const char*>(cut.data()), long(cut.size()));
    auto s = AviContainer::open(dir + "/cut.avi", nullptr);
    ASSERT_TRUE(s);
    EXPECT_EQ(s->indexSource(), AviContainer::IndexSource::Scan);
    expectSameContent(*s, m, 12);
  }
  // A compression that was killed: no index, sizes never fixed up, last chunk half written.
  {
    std::vector<uint8_t> cut(whole.begin(), whole.begin() + long(idx1));
    putLE32(&cut[4], 0);  // RIFF size never written
    // movi list header, then the first record's list header, then the video chunk header.
    uint64_t moviList = c->videoEntries().front().offset - 8 - 12 - 12;
    ASSERT_EQ(getLE32(&cut[moviList + 8]), fourcc::kMovi);
    putLE32(&cut[moviList + 4], 0);  // movi size never written
    // Add a frame record whose data did not reach the disk.
    uint8_t rec[8];
    putLE32(rec, fourcc::k00dc);
    putLE32(rec + 4, 5000);
    cut.insert(cut.end(), rec, rec + 8);
    cut.resize(cut.size() + 100, 0xAA);
    std::ofstream(dir + "/killed.avi", std::ios::binary)
        .write(reinterpret_cast<const char*>(cut.data()), long(cut.size()));
    auto s = AviContainer::open(dir + "/killed.avi", nullptr);
    ASSERT_TRUE(s);
    EXPECT_EQ(s->indexSource(), AviContainer::IndexSource::Scan);
    expectSameContent(*s, m, 12);
  }
}

// A two-part OpenDML file built by hand: RIFF AVI with a super index pointing at two standard
// indexes, the second part an AVIX list.
TEST(AviContainerOpenDml, SuperIndexAndContinuationPartsAreRead) {
  std::vector<uint8_t> f;
  auto u32 = [&](uint32_t v) {
    uint8_t b[4];
    putLE32(b, v);
    f.insert(f.end(), b, b + 4);
  };
  auto u64 = [&](uint64_t v) {
    u32(uint32_t(v));
    u32(uint32_t(v >> 32));
  };
  auto fcc = [&](const char(&s)[5]) { u32(makeFourCC(s)); };
  auto patch = [&](size_t at, uint32_t v) { putLE32(&f[at], v); };
  const int w = 4, h = 2;
  const uint32_t frameBytes = w * h * 3;
  fcc("RIFF");
  size_t riffSize = f.size();
  u32(0);
  fcc("AVI ");
  fcc("LIST");
  size_t hdrlSize = f.size();
  u32(0);
  fcc("hdrl");
  fcc("avih");
  u32(56);
  AviMainHeader mh;
  mh.microSecPerFrame = 40000;
  mh.streams = 1;
  auto mhb = mh.pack();
  f.insert(f.end(), mhb.begin(), mhb.end());
  fcc("LIST");
  size_t strlSize = f.size();
  u32(0);
  fcc("strl");
  fcc("strh");
  u32(64);
  AviStreamHeader sh;
  sh.type = fourcc::kVids;
  sh.scale = 1;
  sh.rate = 25;
  sh.length = 4;
  auto shb = sh.pack();
  f.insert(f.end(), shb.begin(), shb.end());
  fcc("strf");
  u32(40);
  DibHeader bih;
  bih.width = w;
  bih.height = h;
  bih.bitCount = 24;
  auto bb = bih.pack();
  f.insert(f.end(), bb.begin(), bb.end());
  fcc("indx");
  u32(24 + 2 * 16);
  f.push_back(4);  // longs per entry
  f.push_back(0);
  f.push_back(0);
  f.push_back(0);  // index of indexes
  u32(2);
  fcc("00db");
  u32(0);
  u32(0);
  u32(0);
  size_t super0 = f.size();
  u64(0);
  u32(0);
  u32(2);
  size_t super1 = f.size();
  u64(0);
  u32(0);
  u32(2);
  patch(strlSize, uint32_t(f.size() - strlSize - 4));
  patch(hdrlSize, uint32_t(f.size() - hdrlSize - 4));

  std::vector<std::vector<uint8_t>> frames;
  for (int i = 0; i < 4; ++i) frames.push_back(std::vector<uint8_t>(frameBytes, uint8_t(10 * i)));
  auto part = [&](int first, size_t superAt) {
    fcc("LIST");
    size_t moviSize = f.size();
    u32(0);
    fcc("movi");
    uint64_t base = f.size() - 4;
    std::vector<uint32_t> offs;
    for (int i = first; i < first + 2; ++i) {
      fcc("00db");
      u32(frameBytes);
      offs.push_back(uint32_t(f.size() - base));
      f.insert(f.end(), frames[i].begin(), frames[i].end());
    }
    size_t ix = f.size();
    fcc("ix00");
    u32(24 + 2 * 8);
    f.push_back(2);
    f.push_back(0);
    f.push_back(0);
    f.push_back(1);  // index of chunks
    u32(2);
    fcc("00db");
    u64(base);
    u32(0);
    for (int i = 0; i < 2; ++i) {
      u32(offs[i]);
      u32(frameBytes | (i == 1 ? 0x80000000u : 0));
    }
    patch(moviSize, uint32_t(f.size() - moviSize - 4));
    putLE32(&f[superAt], uint32_t(ix));
    putLE32(&f[superAt + 4], 0);
    putLE32(&f[superAt + 8], 24 + 16 + 8);
  };
  part(0, super0);
  patch(riffSize, uint32_t(f.size() - 8));
  size_t avix = f.size();
  fcc("RIFF");
  u32(0);
  fcc("AVIX");
  part(2, super1);
  patch(avix + 4, uint32_t(f.size() - avix - 8));

  std::string err;
  auto c = AviContainer::openMemory(f.data(), f.size(), &err);
  ASSERT_TRUE(c) << err;
  EXPECT_EQ(c->indexSource(), AviContainer::IndexSource::OpenDml);
  ASSERT_EQ(c->frameCount(), 4u);
  std::vector<uint8_t> got;
  for (uint32_t i = 0; i < 4; ++i) {
    ASSERT_TRUE(c->readFrame(i, got));
    EXPECT_EQ(got, frames[i]);
  }
  // Uncompressed video: every frame stands alone whatever the index says.
  EXPECT_TRUE(c->isKeyFrame(1));
  EXPECT_EQ(c->microSecPerFrame(), 40000u);
}

TEST(AviContainerHostile, DamagedFilesGiveErrorsNotCrashes) {
  std::string dir = test::tempFolder("hostile");
  FixtureMovie m = randomMovie(6, true, 5);
  ASSERT_EQ(test::writeFixture(dir + "/m.avi", m), 6);
  auto whole = test::readFileBytes(dir + "/m.avi");
  std::string err;
  EXPECT_FALSE(AviContainer::openMemory(whole.data(), 11, &err));
  EXPECT_EQ(err, "not an AVI file");
  EXPECT_FALSE(AviContainer::openMemory(whole.data(), 100, &err));
  EXPECT_EQ(err, "header list cut short");
  EXPECT_FALSE(AviContainer::open(dir + "/missing.avi", &err));

  // Every prefix and a scatter of corrupted bytes: never a crash, and whatever opens reads
  // frames within the file.
  std::mt19937 rng(1);
  for (size_t cut = 0; cut < whole.size(); cut += 97) {
    auto c = AviContainer::openMemory(whole.data(), cut, &err);
    if (!c) continue;
    std::vector<uint8_t> got;
    for (uint32_t i = 0; i < c->frameCount(); ++i) ASSERT_TRUE(c->readFrame(i, got));
  }
  for (int round = 0; round < 300; ++round) {
    auto bad = whole;
    for (int k = 0; k < 8; ++k) {
      size_t at = rng() % std::min<size_t>(bad.size(), 3000);
      bad[at] = uint8_t(rng());
    }
    if (round % 3 == 0) putLE32(&bad[rng() % 2500], 0xFFFFFFF0u);  // huge sizes and counts
    auto c = AviContainer::openMemory(bad.data(), bad.size(), &err);
    if (!c) continue;
    std::vector<uint8_t> got;
    for (uint32_t i = 0; i < c->frameCount(); ++i) c->readFrame(i, got);
    c->readAudio(0, 1u << 30, got);
  }
}

TEST(AviThirdParty, GStreamerAndMediaInfoAcceptOurFiles) {
  bool gst = test::haveProgram("gst-launch-1.0");
  bool mi = test::haveProgram("mediainfo");
  if (!gst && !mi) GTEST_SKIP() << "neither gst-launch-1.0 nor mediainfo is installed";
  for (bool audio : {false, true}) {
    std::string dir = test::tempFolder(audio ? "tp-audio" : "tp-video");
    FixtureMovie m = randomMovie(30, audio, 9);
    m.cdrom = true;
    m.keys.assign(30, true);
    m.frames[3].assign(10, 1);  // no empty chunks for the demuxer's sake
    ASSERT_EQ(test::writeFixture(dir + "/m.avi", m), 30);
    std::string path = dir + "/m.avi";
    if (gst) {
      std::string cmd = "gst-launch-1.0 -q filesrc location=" + path +
                        " ! avidemux name=d d.video_0 ! queue ! fakesink" +
                        (audio ? " d.audio_0 ! queue ! fakesink" : "") + " > " + dir +
                        "/gst.log 2>&1";
      EXPECT_EQ(std::system(cmd.c_str()), 0) << "avidemux rejected " << path;
    }
    if (mi) {
      std::string cmd = "mediainfo --Inform='General;%Format%|%VideoCount%|%AudioCount%' " + path +
                        " > " + dir + "/mi.txt 2>&1";
      ASSERT_EQ(std::system(cmd.c_str()), 0);
      std::ifstream in(dir + "/mi.txt");
      std::string line;
      std::getline(in, line);
      EXPECT_EQ(line, audio ? "AVI|1|1" : "AVI|1|");
      cmd = "mediainfo --Inform='Video;%FrameCount%|%Width%|%Height%' " + path + " > " + dir +
            "/mv.txt 2>&1";
      ASSERT_EQ(std::system(cmd.c_str()), 0);
      std::ifstream in2(dir + "/mv.txt");
      std::getline(in2, line);
      EXPECT_EQ(line, "30|16|8");
    }
  }
}

}  // namespace
}  // namespace zov

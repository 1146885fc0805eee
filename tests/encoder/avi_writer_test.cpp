// Layout of the output AVI file: headers and fix-ups, sector alignment, record lists, CD-ROM
// padding, the size cut-off, the ZEV stream file and the writer's error messages. The files are
// checked byte by byte with a small RIFF walker of the test's own.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "encoder/avi_writer.h"
#include "encoder/compression_settings.h"
#include "encoder/zev_format.h"
#include "format/stream_format.h"

namespace zov {
namespace {

std::vector<uint8_t> slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

std::string tempDir(const std::string& name) {
  auto p =
      std::filesystem::temp_directory_path() / ("zov-writer-" + std::to_string(::getpid())) / name;
  std::filesystem::remove_all(p);
  std::filesystem::create_directories(p);
  return p.string();
}

struct Chunk {
  FourCC id;
  uint64_t pos;  // header position
  uint32_t size;
  FourCC form;  // LIST/RIFF
};

// Walks the chunks of [begin, end) without descending.
std::vector<Chunk> chunksIn(const std::vector<uint8_t>& f, uint64_t begin, uint64_t end) {
  std::vector<Chunk> out;
  uint64_t p = begin;
  while (p + 8 <= end) {
    Chunk c{getLE32(&f[p]), p, getLE32(&f[p + 4]), 0};
    if (c.id == fourcc::kList || c.id == fourcc::kRiff) c.form = getLE32(&f[p + 8]);
    out.push_back(c);
    p += 8 + c.size + (c.size & 1);
  }
  return out;
}

const Chunk* find(const std::vector<Chunk>& cs, FourCC id, FourCC form = 0) {
  for (const Chunk& c : cs)
    if (c.id == id && (form == 0 || c.form == form)) return &c;
  return nullptr;
}

struct Recorder {
  std::vector<std::string> errors, statuses, messages;
  WriterCallbacks callbacks() {
    return {[this](const std::string& t) { errors.push_back(t); },
            [this](const std::string& t) { statuses.push_back(t); },
            [this](const std::string& t) { messages.push_back(t); }};
  }
};

AviWriterSettings baseSettings(const std::string& path, bool audio) {
  AviWriterSettings s;
  s.path = path;
  s.microSecPerFrame = 66666;
  s.fileScale = 66666;
  s.fileRate = 1000000;
  s.width = 32;
  s.height = 24;
  s.audioPreloadFrames = audio ? 12 : 0;
  s.compressionWord = kZov2Tag | 0x0200;
  if (audio) {
    s.withAudio = true;
    s.audioFormat = {1, 0, 1, 0, 0x22, 0x56, 0, 0, 0x44, 0xAC, 0, 0, 2, 0, 16, 0};
    s.audioStreamInfo.type = fourcc::kAuds;
    s.audioStreamInfo.scale = 2;
    s.audioStreamInfo.rate = 44100;
    s.audioStreamInfo.sampleSize = 2;
    s.audioStreamInfo.quality = 7;
  }
  return s;
}

std::vector<uint8_t> bytes(size_t n, uint8_t seed) {
  std::vector<uint8_t> v(n);
  for (size_t i = 0; i < n; ++i) v[i] = uint8_t(seed + i * 7);
  return v;
}

TEST(AviWriterLayout, MovieWithoutAudioAlignsFirstFrameAndFixesHeaders) {
  std::string dir = tempDir("noaudio");
  Recorder r;
  AviWriter w;
  ASSERT_TRUE(w.open(baseSettings(dir + "/movie.avi", false), r.callbacks()));
  // The temporary index has no name in the folder: only the output is there.
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir), {}), 1);
  auto f0 = bytes(101, 1), f1 = bytes(300, 2), f2 = bytes(77, 3);
  EXPECT_EQ(w.writeFrameRecord(f0.data(), 101, nullptr, 0, true, 1), kRecordWritten);
  EXPECT_EQ(w.writeFrameRecord(f1.data(), 300, nullptr, 0, false, 2), kRecordWritten);
  EXPECT_EQ(w.writeFrameRecord(nullptr, 0, nullptr, 0, false, 3), kRecordWritten);  // skipped
  EXPECT_EQ(w.writeFrameRecord(f2.data(), 77, nullptr, 0, false, 4), kRecordWritten);
  ASSERT_TRUE(w.finish());
  EXPECT_TRUE(r.errors.empty());
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir), {}), 1)
      << "temporary index left behind";

  auto f = slurp(dir + "/movie.avi");
  ASSERT_EQ(f.size() % 2048, 0u) << "file length is not a multiple of 2048";
  auto top = chunksIn(f, 0, f.size());
  ASSERT_EQ(top[0].id, fourcc::kRiff);
  ASSERT_EQ(top[0].form, fourcc::kAvi);
  auto inRiff = chunksIn(f, 12, 8 + top[0].size);
  const Chunk* hdrl = find(inRiff, fourcc::kList, fourcc::kHdrl);
  const Chunk* junk = find(inRiff, fourcc::kJunk);
  const Chunk* movi = find(inRiff, fourcc::kList, fourcc::kMovi);
  const Chunk* idx1 = find(inRiff, fourcc::kIdx1);
  ASSERT_TRUE(hdrl && junk && movi && idx1);
  EXPECT_EQ((junk->pos + 8 + junk->size) % 2048, 2036u);
  EXPECT_EQ((movi->pos + 12) % 2048, 0u) << "first frame chunk not on a sector boundary";

  auto h = chunksIn(f, hdrl->pos + 12, hdrl->pos + 8 + hdrl->size);
  ASSERT_EQ(h[0].id, fourcc::kAvih);
  AviMainHeader avih = AviMainHeader::unpack(&f[h[0].pos + 8], 56);
  EXPECT_EQ(avih.flags, 0x10u);
  EXPECT_EQ(avih.streams, 1u);
  EXPECT_EQ(avih.totalFrames, 4u);
  EXPECT_EQ(avih.suggestedBufferSize, 300u);
  EXPECT_EQ(avih.paddingGranularity, 0u);
  EXPECT_EQ(avih.width, 32u);
  EXPECT_EQ(avih.height, 24u);
  ASSERT_EQ(h.size(), 2u) << "one strl without audio";
  auto strl = chunksIn(f, h[1].pos + 12, h[1].pos + 8 + h[1].size);
  AviStreamHeader strh = AviStreamHeader::unpack(&f[strl[0].pos + 8], 64);
  EXPECT_EQ(strh.type, fourcc::kVids);
  EXPECT_EQ(strh.handler, fourcc::kZov2Lower);
  EXPECT_EQ(strh.length, 4u);
  EXPECT_EQ(strh.suggestedBufferSize, 300u);
  EXPECT_EQ(strh.quality, 10000u);
  EXPECT_EQ(strh.scale, 66666u);
  EXPECT_EQ(strh.frame[2], 32);
  DibHeader bih = DibHeader::unpack(&f[strl[1].pos + 8], 40);
  EXPECT_EQ(bih.bitCount, 16);
  EXPECT_EQ(bih.compression, kZov2Tag | 0x0200u);
  EXPECT_EQ(bih.sizeImage, 32u * 24 * 2);
  EXPECT_EQ(strl[2].size, 30u);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(&f[strl[2].pos + 8])),
            "Orvane ZOV2 Codec -- Video #1");

  // Movie chunks: odd lengths padded, the skipped frame a 00dc of length 0.
  auto m = chunksIn(f, movi->pos + 12, movi->pos + 8 + movi->size);
  ASSERT_EQ(m.size(), 4u);
  EXPECT_EQ(m[0].id, fourcc::k00db);
  EXPECT_EQ(m[1].id, fourcc::k00dc);
  EXPECT_EQ(m[2].id, fourcc::k00dc);
  EXPECT_EQ(m[2].size, 0u);
  EXPECT_EQ(m[1].pos, m[0].pos + 8 + 102) << "odd chunk not padded";
  EXPECT_TRUE(std::equal(f0.begin(), f0.end(), f.begin() + long(m[0].pos + 8)));

  // idx1: offsets from the movi form type.
  ASSERT_EQ(idx1->size, 4u * 16);
  for (int i = 0; i < 4; ++i) {
    const uint8_t* e = &f[idx1->pos + 8 + 16 * i];
    EXPECT_EQ(getLE32(e), m[i].id);
    EXPECT_EQ(getLE32(e + 4), i == 0 ? 0x10u : 0u);
    EXPECT_EQ(getLE32(e + 8), m[i].pos - (movi->pos + 8));
    EXPECT_EQ(getLE32(e + 12), m[i].size);
  }
}

TEST(AviWriterLayout, RecordListsWithCdromPaddingStartEachRecordOnASector) {
  std::string dir = tempDir("audio");
  Recorder r;
  AviWriterSettings s = baseSettings(dir + "/movie.avi", true);
  s.cdromTarget = true;
  s.reportPad = 1;
  AviWriter w;
  ASSERT_TRUE(w.open(s, r.callbacks()));
  ASSERT_EQ(r.messages.size(), 1u);
  EXPECT_EQ(r.messages[0], "Padding - " + std::to_string(w.lastPadding()) + " bytes");
  for (int i = 0; i < 5; ++i) {
    auto v = bytes(500 + 333 * i, uint8_t(i));
    auto a = bytes(i == 2 ? 0 : 2940, uint8_t(100 + i));
    ASSERT_EQ(w.writeFrameRecord(v.data(), uint32_t(v.size()), a.data(), uint32_t(a.size()), i == 0,
                                 uint32_t(i + 1)),
              kRecordWritten);
  }
  ASSERT_TRUE(w.finish());
  auto f = slurp(dir + "/movie.avi");
  ASSERT_EQ(f.size() % 2048, 0u);
  auto inRiff = chunksIn(f, 12, f.size());
  const Chunk* hdrl = find(inRiff, fourcc::kList, fourcc::kHdrl);
  const Chunk* junk = find(inRiff, fourcc::kJunk);
  const Chunk* movi = find(inRiff, fourcc::kList, fourcc::kMovi);
  ASSERT_TRUE(hdrl && junk && movi);
  EXPECT_EQ((junk->pos + 8 + junk->size) % 2048, 2024u);
  auto h = chunksIn(f, hdrl->pos + 12, hdrl->pos + 8 + hdrl->size);
  AviMainHeader avih = AviMainHeader::unpack(&f[h[0].pos + 8], 56);
  EXPECT_EQ(avih.flags, 0x110u);
  EXPECT_EQ(avih.streams, 2u);
  EXPECT_EQ(avih.paddingGranularity, 2048u);
  EXPECT_EQ(avih.initialFrames, 12u);
  ASSERT_EQ(h.size(), 3u);
  auto astrl = chunksIn(f, h[2].pos + 12, h[2].pos + 8 + h[2].size);
  AviStreamHeader astrh = AviStreamHeader::unpack(&f[astrl[0].pos + 8], 64);
  EXPECT_EQ(astrh.type, fourcc::kAuds);
  EXPECT_EQ(astrh.length, 4u * 2940 / 2);
  EXPECT_EQ(astrh.suggestedBufferSize, 2940u);
  EXPECT_EQ(astrh.initialFrames, 12u);
  EXPECT_EQ(astrh.quality, 7u);
  EXPECT_EQ(astrl[1].size, 16u);

  auto recs = chunksIn(f, movi->pos + 12, movi->pos + 8 + movi->size);
  ASSERT_EQ(recs.size(), 5u);
  uint32_t largest = 0;
  for (const Chunk& rec : recs) {
    EXPECT_EQ(rec.form, fourcc::kRec);
    EXPECT_EQ((rec.pos + 12) % 2048, 0u) << "record data not on a sector";
    EXPECT_EQ((rec.pos + 8 + rec.size) % 2048, 2036u);
    largest = std::max(largest, rec.size);
    auto inside = chunksIn(f, rec.pos + 12, rec.pos + 8 + rec.size);
    EXPECT_EQ(inside.back().id, fourcc::kJunk);
  }
  EXPECT_EQ(AviMainHeader::unpack(&f[h[0].pos + 8], 56).suggestedBufferSize, largest);
  auto third = chunksIn(f, recs[2].pos + 12, recs[2].pos + 8 + recs[2].size);
  EXPECT_EQ(third.size(), 2u) << "an empty audio block writes no chunk";
  // idx1: rec entry (list flag), then video, then audio.
  const Chunk* idx1 = find(inRiff, fourcc::kIdx1);
  ASSERT_TRUE(idx1);
  EXPECT_EQ(idx1->size, 16u * (5 + 5 + 4));
  const uint8_t* e = &f[idx1->pos + 8];
  EXPECT_EQ(getLE32(e), fourcc::kRec);
  EXPECT_EQ(getLE32(e + 4), 1u);
  EXPECT_EQ(getLE32(e + 12), recs[0].size);
  EXPECT_EQ(getLE32(e + 16), fourcc::k00db);
  EXPECT_EQ(getLE32(e + 20), 0x10u);
  EXPECT_EQ(getLE32(e + 32), fourcc::k01wb);
}

TEST(AviWriterLayout, NoJunkWhenAlreadyAlignedAndNoTrailPadWhenFileIsWhole) {
  std::string dir = tempDir("aligned");
  Recorder r;
  AviWriterSettings s = baseSettings(dir + "/movie.avi", false);
  s.cdromTarget = true;
  AviWriter w;
  ASSERT_TRUE(w.open(s, r.callbacks()));
  // The first chunk starts on the sector: 2040 bytes of data end it exactly on the next one.
  auto v = bytes(2040, 9);
  ASSERT_EQ(w.writeFrameRecord(v.data(), 2040, nullptr, 0, true, 1), kRecordWritten);
  EXPECT_EQ(w.lastPadding(), 0u);
  ASSERT_TRUE(w.finish());
  auto f = slurp(dir + "/movie.avi");
  auto inRiff = chunksIn(f, 12, f.size());
  const Chunk* movi = find(inRiff, fourcc::kList, fourcc::kMovi);
  ASSERT_TRUE(movi);
  auto m = chunksIn(f, movi->pos + 12, movi->pos + 8 + movi->size);
  ASSERT_EQ(m.size(), 1u) << "a JUNK chunk was written although the record ended aligned";
  // movi ends at a sector; idx1 (8 + 16 bytes) follows, then zeros to the sector.
  const Chunk* idx1 = find(inRiff, fourcc::kIdx1);
  ASSERT_TRUE(idx1);
  uint64_t riffEnd = 8 + getLE32(&f[4]);
  EXPECT_EQ(riffEnd, idx1->pos + 24);
  for (uint64_t i = riffEnd; i < f.size(); ++i) ASSERT_EQ(f[i], 0) << "trail pad not zero";
}

TEST(AviWriterLayout, CutOffStopsBeforeTheLimitWithoutNotify) {
  std::string dir = tempDir("cutoff");
  Recorder r;
  AviWriterSettings s = baseSettings(dir + "/movie.avi", true);
  s.cdromTarget = true;
  s.cutOffKBLimit = 20;
  AviWriter w;
  ASSERT_TRUE(w.open(s, r.callbacks()));
  int written = 0, rc = kRecordWritten;
  for (int i = 0; i < 100 && rc == kRecordWritten; ++i) {
    auto v = bytes(1000, uint8_t(i));
    auto a = bytes(600, uint8_t(i));
    rc = w.writeFrameRecord(v.data(), 1000, a.data(), 600, true, uint32_t(i + 1));
    if (rc == kRecordWritten) ++written;
  }
  EXPECT_EQ(rc, kRecordSizeLimit);
  uint32_t frames = w.framesWritten();
  ASSERT_TRUE(w.finish());
  EXPECT_EQ(frames, uint32_t(written));
  EXPECT_GT(written, 3);
  auto size = std::filesystem::file_size(dir + "/movie.avi");
  EXPECT_LE(size, 20u * 1024);
  EXPECT_TRUE(r.errors.empty());
  EXPECT_TRUE(r.statuses.empty());
}

TEST(AviWriterLayout, CutOffWithNotifyReportsTheFrameOnceAndGoesOn) {
  std::string dir = tempDir("notify");
  Recorder r;
  AviWriterSettings s = baseSettings(dir + "/movie.avi", false);
  s.cutOffKBLimit = 8;
  s.cutOffKBLimitNotify = true;
  AviWriter w;
  ASSERT_TRUE(w.open(s, r.callbacks()));
  for (int i = 0; i < 20; ++i) {
    auto v = bytes(1000, uint8_t(i));
    ASSERT_EQ(w.writeFrameRecord(v.data(), 1000, nullptr, 0, true, uint32_t(i + 1)),
              kRecordWritten);
  }
  ASSERT_TRUE(w.finish());
  EXPECT_GT(std::filesystem::file_size(dir + "/movie.avi"), 8u * 1024);
  ASSERT_GE(r.statuses.size(), 1u);
  // The header area is 2048 + 12 bytes; frames of 1008 bytes plus the index cross 8192 at 6.
  EXPECT_EQ(r.statuses[0], "CutOff KB Limit reached at 6");
}

TEST(AviWriterZev, RawChunksAndEightByteIndex) {
  std::string dir = tempDir("zev");
  Recorder r;
  AviWriterSettings s = baseSettings(dir + "/movie.zev", true);
  s.mode = RunMode::ZevStream;
  s.cdromTarget = true;
  s.sourceVideoFormat = DibHeader{40, 32, 24, 1, 16, kZov2Tag | 0x0200, 1536}.pack();
  AviWriter w;
  ASSERT_TRUE(w.open(s, r.callbacks()));
  auto v0 = bytes(101, 1), v1 = bytes(64, 2), a = bytes(50, 3);
  ASSERT_EQ(w.writeFrameRecord(v0.data(), 101, a.data(), 50, true, 1), kRecordWritten);
  ASSERT_EQ(w.writeFrameRecord(v1.data(), 64, a.data(), 50, false, 2), kRecordWritten);
  ASSERT_TRUE(w.finish());
  auto f = slurp(dir + "/movie.zev");
  EXPECT_EQ(f.size() % 2048, 0u);
  auto inRiff = chunksIn(f, 12, 8 + getLE32(&f[4]));
  const Chunk* hdrl = find(inRiff, fourcc::kList, fourcc::kHdrl);
  const Chunk* movi = find(inRiff, fourcc::kList, fourcc::kMovi);
  ASSERT_TRUE(hdrl && movi);
  auto h = chunksIn(f, hdrl->pos + 12, hdrl->pos + 8 + hdrl->size);
  EXPECT_EQ(AviMainHeader::unpack(&f[h[0].pos + 8], 56).paddingGranularity, 0u);
  auto astrl = chunksIn(f, h[2].pos + 12, h[2].pos + 8 + h[2].size);
  ASSERT_EQ(astrl[1].size, 18u);
  EXPECT_EQ(getLE16(&f[astrl[1].pos + 8]), 0xFFFF);
  EXPECT_EQ(getLE16(&f[astrl[1].pos + 10]), 1) << "channels kept";
  // Raw data straight after the movi form type, no record lists, no padding.
  uint64_t data = movi->pos + 12;
  EXPECT_TRUE(std::equal(v0.begin(), v0.end(), f.begin() + long(data)));
  EXPECT_TRUE(std::equal(a.begin(), a.end(), f.begin() + long(data + 101)));
  // The raw index follows the movie list: absolute offsets, key bit on the first frame.
  uint64_t idx = movi->pos + 8 + movi->size + (movi->size & 1);
  ZevIndexEntry e0 = ZevIndexEntry::unpack(&f[idx]);
  ZevIndexEntry e1 = ZevIndexEntry::unpack(&f[idx + 8]);
  ZevIndexEntry e2 = ZevIndexEntry::unpack(&f[idx + 16]);
  EXPECT_EQ(e0.offset, data);
  EXPECT_EQ(e0.size(), 101u);
  EXPECT_TRUE(e0.keyFrame());
  EXPECT_EQ(e1.offset, data + 101);
  EXPECT_FALSE(e1.keyFrame());
  EXPECT_EQ(e2.offset, data + 151);
  EXPECT_FALSE(e2.keyFrame());
  EXPECT_EQ(idx + 4 * 8, 8 + getLE32(&f[4])) << "index is not the last thing in the RIFF";
}

TEST(AviWriterZev, EmptyAndOversizedChunksHaltTheRun) {
  std::string dir = tempDir("zevbad");
  Recorder r;
  AviWriterSettings s = baseSettings(dir + "/movie.zev", false);
  s.mode = RunMode::ZevStream;
  {
    AviWriter w;
    ASSERT_TRUE(w.open(s, r.callbacks()));
    EXPECT_EQ(w.writeFrameRecord(nullptr, 0, nullptr, 0, false, 1), kRecordError);
    w.abandon();
  }
  ASSERT_EQ(r.errors.size(), 1u);
  EXPECT_EQ(r.errors[0], "CTR0047E ZEV chunks of zero length are not allowed - compression halted");
  EXPECT_FALSE(std::filesystem::exists(dir + "/movie.zev")) << "partial stream file kept";
  r.errors.clear();
  {
    AviWriter w;
    ASSERT_TRUE(w.open(s, r.callbacks()));
    auto big = bytes(131065, 1);
    EXPECT_EQ(w.writeFrameRecord(big.data(), 131065, nullptr, 0, true, 1), kRecordError);
    w.abandon();
  }
  ASSERT_EQ(r.errors.size(), 1u);
  EXPECT_EQ(r.errors[0],
            "CTR0048E ZEV chunks of larger than 131064 are not allowed - compression halted");
}

TEST(AviWriterErrors, UncreatableOutputAndHelpers) {
  Recorder r;
  AviWriter w;
  EXPECT_FALSE(w.open(baseSettings("/nonexistent-dir-zov/movie.avi", false), r.callbacks()));
  ASSERT_EQ(r.errors.size(), 1u);
  EXPECT_EQ(r.errors[0].rfind("CTR0012E Unable to create compression file - compression halted", 0),
            0u);

  // A failure the system explains names the cause.
  EXPECT_NE(r.errors[0].find("\nCause: No such file or directory"), std::string::npos);

  // Only a regular file at the output path is replaced: a pipe or a device (as root, -o
  // /dev/full) is refused and stays where it is.
  const std::string fifo = tempDir("fifo") + "/movie.avi";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  {
    AviWriter p;
    EXPECT_FALSE(p.open(baseSettings(fifo, false), r.callbacks()));
  }
  EXPECT_NE(r.errors.back().find("is not a regular file"), std::string::npos) << r.errors.back();
  EXPECT_TRUE(std::filesystem::is_fifo(fifo));

  CompressionSettings cs;
  cs.FieldType = kFieldSingle;
  cs.updateDerived();
  EXPECT_EQ(outputCompressionWord(cs), kZov2Tag | 0x0200u | 0x8000u);
  cs.FieldType = kFieldWide;
  cs.updateDerived();
  cs.ChromaKeying = true;
  cs.ChromaBackground = "back.bmp";
  EXPECT_EQ(outputCompressionWord(cs), kZov2Tag | 0x0200u | 0x2000u | 0x1000u);
  cs.ChromaBackground.clear();
  cs.ChromaScreening = kScreeningBackground;
  EXPECT_EQ(outputCompressionWord(cs), kZov2Tag | 0x0200u | 0x2000u | 0x0100u);
}

TEST(AviWriterLayout, OldOutputIsReplacedAndAUsersIndexFileKept) {
  std::string dir = tempDir("replace");
  { std::ofstream(dir + "/movie.avi") << "old movie"; }
  { std::ofstream(dir + "/movie.idx") << "old index"; }
  Recorder r;
  AviWriter w;
  ASSERT_TRUE(w.open(baseSettings(dir + "/movie.avi", false), r.callbacks()));
  auto v = bytes(10, 1);
  ASSERT_EQ(w.writeFrameRecord(v.data(), 10, nullptr, 0, true, 1), kRecordWritten);
  ASSERT_TRUE(w.finish());
  auto f = slurp(dir + "/movie.avi");
  EXPECT_EQ(getLE32(&f[0]), fourcc::kRiff);
  EXPECT_EQ(slurp(dir + "/movie.idx").size(), 9u) << "the user's movie.idx was touched";
}

}  // namespace
}  // namespace zov

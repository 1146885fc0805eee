// zovcomp's command line: arguments, checks, settings, and short runs on the teapot clip.
#include <unistd.h>

#include "compressor/zovcomp_cli.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "compressor/edit_list.h"
#include "compressor/run_source.h"
#include "encoder/block_file_reader.h"
#include "media/source_file.h"
#include "media/video_decoder.h"
#include "network/zev_layout.h"
#include "platform/ui.h"
#include "support/cli_run.h"

namespace zov {
namespace {

namespace fs = std::filesystem;

struct Cli {
  int rc = -1;
  std::string out, err;
};

Cli run(std::vector<std::string> args, bool terminal = false) {
  args.insert(args.begin(), "zovcomp");
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  std::ostringstream out, err;
  Cli c;
  c.rc = zovcompMain(int(argv.size()), argv.data(), out, err, terminal);
  c.out = out.str();
  c.err = err.str();
  setZovDecoderFactory(nullptr);
  return c;
}

std::string teapot() {
  return std::string(ZOV_TEST_DATA_DIR) + "/teapot-256x256-rgb24.avi";
}
std::string temp(const std::string& name) {
  return (fs::temp_directory_path() / ("zov-cli-" + std::to_string(getpid()) + "-" + name))
      .string();
}
int count(const std::string& text, const std::string& what) {
  int n = 0;
  for (size_t p = text.find(what); p != std::string::npos; p = text.find(what, p + 1)) ++n;
  return n;
}

TEST(ZovcompCli, HelpUsageAndArgumentErrors) {
  Cli help = run({"--help"});
  EXPECT_EQ(help.rc, 0);
  EXPECT_NE(help.out.find("zovcomp compress INPUT -o OUTPUT"), std::string::npos);
  for (const char* opt : {"--mode", "--verify", "--preset", "--set", "--filter", "--settings",
                          "--crop", "--letterbox", "--resize", "--strip", "--log", "--quiet"})
    EXPECT_NE(help.out.find(opt), std::string::npos) << opt;
  EXPECT_EQ(run({"compress", "--help"}).rc, 0);

  Cli bare = run({});
  EXPECT_EQ(bare.rc, 2);
  EXPECT_NE(bare.out.find("window is not built yet"), std::string::npos);
  EXPECT_NE(bare.out.find("Usage:"), std::string::npos);

  EXPECT_EQ(run({"squash", "x"}).rc, 2);
  EXPECT_EQ(run({"compress", teapot()}).rc, 2);  // no output
  EXPECT_EQ(run({"compress", teapot(), "-o", "x.avi", "--mode", "fast"}).rc, 2);
  EXPECT_EQ(run({"compress", teapot(), "-o", "x.avi", "--crop", "1,2,3"}).rc, 2);
  EXPECT_EQ(run({"compress", teapot(), "-o", "x.avi", "--preset", "Cartoon"}).rc, 2);
  EXPECT_EQ(run({"compress", teapot(), "-o", "x.avi", "--set", "=3"}).rc, 2);
  EXPECT_EQ(run({"compress", teapot(), "-o", "x.avi", "--filter", "Median:7"}).rc, 2);
  EXPECT_EQ(run({"compress", teapot(), "-o", "x.avi", "--bogus"}).rc, 2);
}

TEST(ZovcompCli, SetIsStrictAndPrintSettingsShowsTheResult) {
  struct Bad {
    const char* pair;
    const char* message;
  };
  for (const Bad& b :
       {Bad{"Keyrat=5", "unknown settings key \"Keyrat\""},
        Bad{"TextShowCmd=3", "unknown settings key \"TextShowCmd\""},
        Bad{"KeyRate=5x", "KeyRate accepts 0..100, not \"5x\""},
        Bad{"KeyRate=", "KeyRate accepts 0..100"}, Bad{"KeyRate=-1", "KeyRate accepts 0..100"},
        Bad{"KeyRate=250", "KeyRate accepts 0..100, not \"250\""},
        Bad{"FastCompression=2", "FastCompression accepts 0 or 1"},
        Bad{"SampleRate=44100", "SampleRate accepts 0, 11025 or 22050"},
        Bad{"DataRate=4294967295", "DataRate accepts 0..4194303"},
        Bad{"CutOffKBLimit=12345678", "CutOffKBLimit accepts 0..9999999"}}) {
    Cli c = run({"compress", teapot(), "-o", temp("never.avi"), "--set", b.pair});
    EXPECT_EQ(c.rc, 2) << b.pair;
    EXPECT_NE(c.err.find(b.message), std::string::npos) << b.pair << ": " << c.err;
  }
  EXPECT_FALSE(fs::exists(temp("never.avi")));

  // Keys match without regard to case, as in the file; a value at its limit is taken as it is.
  Cli c = run({"compress", "--set", "keyrate=100", "--set", "FilterThumbnailLeft=-5", "--set",
               "DataRate=150", "--filter", "Gamma:1.10", "--print-settings"});
  ASSERT_EQ(c.rc, 0) << c.err;
  EXPECT_EQ(c.out.rfind("[General]\nKeyRate=100\n", 0), 0u) << c.out;
  for (const char* line : {"\nFilterThumbnailLeft=-5\n", "\nDataRate=150\n",
                           "\nFilterType0=7\nFilterLevel0=110\nTotalFilters=1\n"})
    EXPECT_NE(c.out.find(line), std::string::npos) << line;
}

TEST(ZovcompCli, TheKeyReferenceIsTheOneInTheDocs) {
  Cli c = run({"--list-keys"});
  ASSERT_EQ(c.rc, 0);
  std::ifstream in(std::string(ZOV_TEST_DATA_DIR) + "/../../docs/SETTINGS.md");
  std::stringstream doc;
  doc << in.rdbuf();
  const std::string text = doc.str();
  const size_t start = text.find("```text\n");
  ASSERT_NE(start, std::string::npos);
  const size_t end = text.find("```", start + 8);
  ASSERT_NE(end, std::string::npos);
  EXPECT_EQ(text.substr(start + 8, end - start - 8), c.out)
      << "docs/SETTINGS.md is out of date: put the output of zovcomp --list-keys in its block";
  EXPECT_EQ(count(c.out, "\n"), 41) << "a header and one line per key";
}

TEST(ZovcompCli, FilterArguments) {
  std::string why;
  auto f = parseFilterArgument("Smoothen: Median", &why);
  ASSERT_TRUE(f);
  EXPECT_EQ(f->kind, 2);
  EXPECT_EQ(f->level, 1);
  f = parseFilterArgument("Lighting: Gamma:1.10", &why);
  ASSERT_TRUE(f);
  EXPECT_EQ(*f, (FilterEntry{6, 110}));
  f = parseFilterArgument("3:2", &why);
  ASSERT_TRUE(f);
  EXPECT_EQ(*f, (FilterEntry{3, 2}));
  f = parseFilterArgument("brightness:-15", &why);
  ASSERT_TRUE(f);
  EXPECT_EQ(*f, (FilterEntry{7, -15}));
  EXPECT_FALSE(parseFilterArgument("Low-Pass:5", &why));
  EXPECT_NE(why.find("1 to 4"), std::string::npos);
  EXPECT_FALSE(parseFilterArgument("Gamma:1.055", &why));
  EXPECT_FALSE(parseFilterArgument("9:1", &why));
  EXPECT_FALSE(parseFilterArgument("Blur", &why));
}

TEST(ZovcompCli, Presets) {
  CompressionSettings s;
  CompressorOptions o;
  s.FieldType = kFieldWide;
  s.KeyRate = 9;
  o.DualInitialKeyFrames = false;
  applyPreset(*parsePreset("Animation"), s, o);
  EXPECT_EQ(s.CompressionType, 0u);
  EXPECT_EQ(s.ImageLossLevel, 0u);
  EXPECT_FALSE(s.Lossy);
  EXPECT_FALSE(s.WideField);
  EXPECT_EQ(s.KeyRate, 3u);
  EXPECT_TRUE(o.DualInitialKeyFrames);
  applyPreset(*parsePreset("smoke/clouds/rain"), s, o);
  EXPECT_EQ(s.InterframeDetection, 5u);
  EXPECT_EQ(s.NoiseReduction, 15u);
  EXPECT_TRUE(s.Lossy);
  applyPreset(*parsePreset("Video"), s, o);
  EXPECT_EQ(s.CompressionType, 4u);
  EXPECT_EQ(s.InterframeDetection, 8u);
  EXPECT_EQ(s.NoiseReduction, 50u);
}

TEST(ZovcompCli, CompressVerifyAndReport) {
  const std::string out = temp("teapot.avi"), log = temp("teapot.log");
  fs::remove(log);
  Cli c = run({"compress", teapot(), "-o", out, "--last", "4", "--verify", "--log", log});
  ASSERT_EQ(c.rc, 0) << c.err;
  EXPECT_NE(c.out.find("Compressing..."), std::string::npos);
  EXPECT_NE(c.out.find("KFrame 1 - "), std::string::npos);
  EXPECT_NE(c.out.find("Wrote " + out + ": 4 frames"), std::string::npos);
  EXPECT_NE(c.out.find("Verified 4 frames, PSNR "), std::string::npos);
  // Plain progress lines when not on a terminal.
  EXPECT_NE(c.err.find("progress 4/4 frames"), std::string::npos);
  std::ifstream l(log);
  std::string logText((std::istreambuf_iterator<char>(l)), {});
  EXPECT_EQ(logText.rfind("Compressing...\n", 0), 0u);

  // Quiet: nothing but errors.
  Cli q = run({"compress", teapot(), "-o", out, "--last", "3", "--quiet"});
  EXPECT_EQ(q.rc, 0);
  EXPECT_TRUE(q.out.empty());
  EXPECT_TRUE(q.err.empty());

  // The progress bar on a terminal.
  Cli t = run({"compress", teapot(), "-o", out, "--last", "2"}, true);
  EXPECT_EQ(t.rc, 0);
  EXPECT_NE(t.err.find("] 2/2"), std::string::npos);
  fs::remove(out);
  fs::remove(log);
}

TEST(ZovcompCli, MachineReadableProgressStatsAndCutOffNotices) {
  const std::string out = temp("json.avi"), stats = temp("json-stats.json");
  Cli c = run({"compress", teapot(), "-o", out, "--last", "3", "--verify", "--progress", "json",
               "--stats", stats});
  ASSERT_EQ(c.rc, 0) << c.err;
  EXPECT_NE(c.err.find("{\"frame\":3,\"total\":3,\"bytes\":"), std::string::npos) << c.err;
  EXPECT_EQ(count(c.err, "\"eta\":"), 3) << "one object per frame";
  EXPECT_EQ(c.err.find("progress "), std::string::npos);
  EXPECT_NE(c.out.find(" kbit/s\n"), std::string::npos) << c.out;
  EXPECT_NE(c.out.find("\nTotal = "), std::string::npos) << "the run's last status line";
  std::ifstream f(stats);
  std::string json((std::istreambuf_iterator<char>(f)), {});
  for (const char* key : {"\"frames\":3,", "\"bpp\":", "\"psnr\":", "\"encode\":",
                          "\"exit_reason\":\"finished\"", "\"exit_status\":0}"})
    EXPECT_NE(json.find(key), std::string::npos) << key << " in " << json;
  EXPECT_EQ(json.find("\"psnr\":null"), std::string::npos) << json;

  // The size cut-off's notices reach the command line.
  Cli cut = run({"compress", teapot(), "-o", out, "--set", "CutOffKBLimit=40", "--stats", stats});
  ASSERT_EQ(cut.rc, 0) << cut.err;
  EXPECT_NE(cut.out.find("CutOff KB Limit reached, last frame = "), std::string::npos);
  std::ifstream g(stats);
  std::string cutJson((std::istreambuf_iterator<char>(g)), {});
  EXPECT_NE(cutJson.find("cut off at the size limit"), std::string::npos) << cutJson;
  Cli notify = run({"compress", teapot(), "-o", out, "--last", "8", "--set", "CutOffKBLimit=40",
                    "--set", "CutOffKBLimitNotify=1"});
  ASSERT_EQ(notify.rc, 0) << notify.err;
  EXPECT_NE(notify.out.find("CutOff KB Limit reached at "), std::string::npos) << notify.out;
  fs::remove(out);
  fs::remove(stats);
}

TEST(ZovcompCli, SettingsKeysPresetsAndFilters) {
  const std::string out = temp("keys.avi"), ini = temp("start.ini");
  // Fast compression through a settings key: every frame a key frame.
  Cli fast = run({"compress", teapot(), "-o", out, "--last", "5", "--set", "FastCompression=1"});
  ASSERT_EQ(fast.rc, 0) << fast.err;
  EXPECT_EQ(count(fast.out, "KFrame "), 5);
  EXPECT_NE(fast.out.find("Enhanced interframe compression NOT active"), std::string::npos);

  // A starting settings file, then a key over it.
  {
    std::ofstream f(ini);
    f << "[General]\nFastCompression=1\nKeyRate=1\n";
  }
  Cli file = run({"compress", teapot(), "-o", out, "--last", "5", "--settings", ini, "--set",
                  "FastCompression=0", "--set", "DualInitialKeyFrames=0"});
  ASSERT_EQ(file.rc, 0) << file.err;
  // KeyRate 1: every other frame.
  EXPECT_EQ(count(file.out, "KFrame "), 3);
  EXPECT_EQ(run({"compress", teapot(), "-o", out, "--settings", temp("missing.ini")}).rc, 1);

  // Lossless animation preset with a filter; the decoded frames match the filtered source.
  Cli anim = run({"compress", teapot(), "-o", out, "--last", "3", "--preset", "Animation",
                  "--filter", "Smoothen: Median", "--verify"});
  ASSERT_EQ(anim.rc, 0) << anim.err;
  const size_t at = anim.out.find("PSNR ");
  ASSERT_NE(at, std::string::npos);
  EXPECT_GT(std::stod(anim.out.substr(at + 5)), 60.0) << anim.out;
  fs::remove(out);
  fs::remove(ini);
}

TEST(ZovcompCli, ExtractionValuesAreChecked) {
  const std::string out = temp("extract.avi");
  Cli bad = run({"compress", teapot(), "-o", out, "--crop", "0,0,300,300"});
  EXPECT_EQ(bad.rc, 2);  // a usage error: nothing is corrected
  EXPECT_NE(bad.err.find("ZOV Compressor: CFG"), std::string::npos) << bad.err;
  Cli range = run({"compress", teapot(), "-o", out, "--first", "9", "--last", "3"});
  EXPECT_EQ(range.rc, 2);

  // Crop, letterbox and resize: the output carries the letterbox lines and reads back.
  Cli good = run({"compress", teapot(), "-o", out, "--first", "2", "--last", "4", "--crop",
                  "16,16,224,224", "--letterbox", "8,8", "--resize", "160x120", "--no-interpolate",
                  "--verify"});
  ASSERT_EQ(good.rc, 0) << good.err;
  EXPECT_NE(good.out.find("Verified 3 frames"), std::string::npos);
  installZovDecoderWithFallback();
  SourceFile back(out);
  setZovDecoderFactory(nullptr);
  EXPECT_EQ(back.Width, 160u);
  EXPECT_EQ(back.Height, 136u);
  fs::remove(out);
}

TEST(ZovcompCli, StreamAndBlockFilesCompressOtherSourcesFirst) {
  // Real footage of two kinds (RGB frames; Motion-JPEG with sound), written straight into a
  // stream file and a block file, cropped as a compression may be: the server's reader and the
  // block-file reader find every frame, and the block file's frames decode as ZOV2.
  struct Clip {
    std::string path;
    std::vector<std::string> extra;
    uint32_t frames, width, height;
    bool audio;
  };
  const Clip clips[] = {
      {teapot(), {"--last", "10", "--crop", "16,16,224,200"}, 10, 224, 200, false},
      {test::dataFile("pan-640x480-mjpeg-pcm.avi"), {"--last", "30"}, 30, 640, 480, true}};
  const std::string zev = temp("first.zev"), blocks = temp("first.zob");
  for (const Clip& clip : clips) {
    SCOPED_TRACE(clip.path);
    std::vector<std::string> args = {"compress", clip.path, "-o", zev, "--mode", "zev", "-q"};
    args.insert(args.end(), clip.extra.begin(), clip.extra.end());
    Cli z = run(args);
    ASSERT_EQ(z.rc, 0) << z.err;
    std::ifstream f(zev, std::ios::binary);
    std::vector<uint8_t> head(network::kHeaderBytes);
    f.read(reinterpret_cast<char*>(head.data()), std::streamsize(head.size()));
    network::ZevHeader h;
    std::string failure;
    ASSERT_TRUE(network::parseZevHeader(head.data(), head.size(), h, failure)) << failure;
    EXPECT_EQ(h.totalFrames, clip.frames);
    EXPECT_EQ(h.hasAudio, clip.audio);

    args[3] = blocks;
    args[5] = "blocks";
    Cli b = run(args);
    ASSERT_EQ(b.rc, 0) << b.err;
    std::vector<uint8_t> bytes;
    BlockFileContents contents;
    ASSERT_TRUE(readBlockFile(blocks, bytes, contents, failure)) << failure;
    ASSERT_EQ(contents.frames.size(), clip.frames);
    EXPECT_EQ(contents.header.width, clip.width);
    EXPECT_EQ(contents.header.height, clip.height);
    EXPECT_EQ(contents.header.flags & kBlockFileFlagAudio, clip.audio ? kBlockFileFlagAudio : 0u);
    DibHeader format;
    format.width = int32_t(contents.header.width);
    format.height = int32_t(contents.header.height);
    format.bitCount = 16;
    format.compression = contents.header.compression;
    std::vector<uint8_t> packed(40);
    format.packInto(packed.data());
    auto decoder = openBuiltInZovDecoder(packed);
    ASSERT_TRUE(decoder) << "the block file's format is no ZOV2 stream";
    DecodedFrame picture;
    for (const BlockFileFrame& frame : contents.frames)
      ASSERT_TRUE(decoder->decode(bytes.data() + frame.offset, frame.size, picture))
          << "frame at " << frame.offset;
  }
  fs::remove(zev);
  fs::remove(blocks);
}

TEST(ZovcompCli, ModesAndEditList) {
  const std::string zov = temp("m.avi"), copy = temp("m-copy.avi"), zev = temp("m.zev"),
                    blocks = temp("m.zob"), list = temp("m.zel");
  ASSERT_EQ(run({"compress", teapot(), "-o", zov, "--last", "4", "-q"}).rc, 0);
  Cli c = run({"compress", zov, "-o", copy, "--mode", "copy", "--verify", "-q"});
  EXPECT_EQ(c.rc, 0) << c.err;
  EXPECT_EQ(run({"compress", zov, "-o", zev, "--mode", "zev", "-q"}).rc, 0);
  EXPECT_EQ(run({"compress", zov, "-o", blocks, "--mode", "blocks", "-q"}).rc, 0);
  EXPECT_TRUE(fs::exists(zev));
  EXPECT_TRUE(fs::exists(blocks));
  // Other frames are never copied under the ZOV2 label: refused, nothing left behind (the
  // stream and block files compress them first, see below).
  Cli bad = run({"compress", teapot(), "-o", temp("bad.avi"), "--mode", "copy", "-q"});
  EXPECT_EQ(bad.rc, 2);
  EXPECT_NE(bad.err.find("copies ZOV2 frames as they are"), std::string::npos) << bad.err;
  EXPECT_FALSE(fs::exists(temp("bad.avi")));
  // Nor is a copy cropped, resized or filtered under headers that describe other pictures.
  for (const char* mode : {"copy", "zev", "blocks"}) {
    for (const std::vector<std::string>& extra : std::vector<std::vector<std::string>>{
             {"--crop", "0,0,128,128"}, {"--resize", "128x128"}, {"--filter", "Median"}}) {
      std::vector<std::string> args = {"compress", zov, "-o", copy, "--mode", mode};
      args.insert(args.end(), extra.begin(), extra.end());
      Cli cropped = run(args);
      EXPECT_EQ(cropped.rc, 2) << mode << " " << extra[0];
      EXPECT_NE(cropped.err.find("can't be applied"), std::string::npos) << cropped.err;
    }
  }
  // Values that change nothing are no reason to refuse a copy.
  Cli same = run({"compress", zov, "-o", copy, "--mode", "copy", "--strip", "none", "--interpolate",
                  "--crop", "0,0,256,256", "-q"});
  EXPECT_EQ(same.rc, 0) << same.err;
  // Nor does an edit list bring in what the options can't: a segment with its own crop is
  // refused in every copy mode, naming the segment and its file, and nothing is written.
  {
    RecordingMessageBox boxes;
    ScopedMessageBoxSink sink(&boxes);
    installZovDecoderWithFallback();
    SourceFile a(zov);
    setZovDecoderFactory(nullptr);
    ASSERT_TRUE(a.Opened);
    a.CropWidth = 128, a.CropHeight = 128;
    ASSERT_TRUE(saveEditList(list, {&a}));
  }
  for (const char* mode : {"copy", "zev", "blocks"}) {
    Cli cropped = run({"compress", list, "-o", temp("bad.avi"), "--mode", mode});
    EXPECT_EQ(cropped.rc, 2) << mode;
    EXPECT_NE(cropped.err.find("segment 1 (\"" + zov + "\") of the edit list \"" + list +
                               "\" is cropped to 128x128"),
              std::string::npos)
        << cropped.err;
    EXPECT_FALSE(fs::exists(temp("bad.avi"))) << mode;
  }

  // An edit list of two segments compresses into one file.
  {
    RecordingMessageBox boxes;
    ScopedMessageBoxSink sink(&boxes);
    auto a = std::make_unique<SourceFile>(teapot());
    auto b = std::make_unique<SourceFile>(teapot());
    ASSERT_TRUE(a->Opened && b->Opened);
    a->ExtractionStart = 0, a->ExtractionEnd = 2;
    b->ExtractionStart = 10, b->ExtractionEnd = 12;
    ASSERT_TRUE(saveEditList(list, {a.get(), b.get()}));
  }
  Cli batch = run({"compress", list, "-o", zov, "--verify"});
  ASSERT_EQ(batch.rc, 0) << batch.err;
  EXPECT_NE(batch.out.find("Wrote " + zov + ": 6 frames"), std::string::npos);
  EXPECT_NE(batch.out.find("Verified 6 frames"), std::string::npos);
  EXPECT_EQ(run({"compress", list, "-o", zov, "--last", "2"}).rc, 2);
  for (const auto& p : {zov, copy, zev, blocks, list}) fs::remove(p);
}

}  // namespace
}  // namespace zov

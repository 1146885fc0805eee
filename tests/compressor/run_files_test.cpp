// What a compression does to the files around it: an output that is an input is refused, a run
// that fails at its start leaves the old output as it was, the temporary index never touches the
// user's files, inputs that can't be used are named with the reason, and the command line never
// corrects an extraction value behind the user's back.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <memory>

#include "compressor/edit_list.h"
#include "media/source_file.h"
#include "platform/ui.h"
#include "support/avi_fixtures.h"
#include "support/cli_run.h"

namespace zov {
namespace {

namespace fs = std::filesystem;

std::string slurp(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(f), {}};
}

// A 24-bit bitmap of w x h black pixels.
void writeBitmap(const std::string& path, uint32_t w, uint32_t h) {
  const uint32_t line = (w * 3 + 3) & ~3u, size = 54 + line * h;
  std::vector<uint8_t> v(size, 0);
  auto put = [&](size_t at, uint32_t x, int n) {
    for (int i = 0; i < n; ++i) v[at + size_t(i)] = uint8_t(x >> (8 * i));
  };
  v[0] = 'B', v[1] = 'M';
  put(2, size, 4), put(10, 54, 4), put(14, 40, 4), put(18, w, 4), put(22, h, 4);
  put(26, 1, 2), put(28, 24, 2);
  std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(v.data()), size);
}

TEST(RunFiles, AnOutputThatIsAnInputIsRefusedBeforeAnythingIsOpened) {
  const std::string dir = test::tempFolder("output-is-input");
  const std::string src = dir + "/src.avi";
  fs::copy_file(test::dataFile("teapot-256x256-rgb24.avi"), src);
  fs::create_symlink(src, dir + "/link.avi");
  fs::create_hard_link(src, dir + "/hard.avi");
  fs::create_directory(dir + "/sub");
  const std::string before = slurp(src);
  for (const std::string& out :
       {src, dir + "/link.avi", dir + "/hard.avi", dir + "/sub/../src.avi"}) {
    test::CliResult r = test::runZovcomp({"compress", src, "-o", out, "--last", "2"});
    EXPECT_EQ(r.rc, 2) << out;
    EXPECT_NE(r.err.find("is the input"), std::string::npos) << r.err;
  }
  // A segment of an edit list is an input too.
  {
    RecordingMessageBox boxes;
    ScopedMessageBoxSink sink(&boxes);
    SourceFile a(src);
    ASSERT_TRUE(saveEditList(dir + "/list.zel", {&a}));
  }
  EXPECT_EQ(test::runZovcomp({"compress", dir + "/list.zel", "-o", dir + "/link.avi"}).rc, 2);
  // The statistics and log files are written too: never over an input (a segment of a list
  // included), nor over the output or one another.
  const std::string out = dir + "/out.avi";
  const std::vector<std::vector<std::string>> writes = {
      {"compress", src, "-o", out, "--stats", src},
      {"compress", src, "-o", out, "--log", dir + "/link.avi"},
      {"compress", dir + "/list.zel", "-o", out, "--stats", dir + "/hard.avi"},
      {"compress", src, "-o", out, "--log", out},
      {"compress", src, "-o", out, "--stats", dir + "/s.json", "--log", dir + "/sub/../s.json"},
      {"compress", src, "-o", out, "--stats", dir + "/" + std::string(260, 's')}};
  for (const auto& args : writes) {
    test::CliResult r = test::runZovcomp(args);
    EXPECT_EQ(r.rc, 2) << args[4] << " " << args.back();
    EXPECT_TRUE(r.err.find("is the input") != std::string::npos ||
                r.err.find("is the output file") != std::string::npos ||
                r.err.find("is the statistics file") != std::string::npos ||
                r.err.find("at most 259") != std::string::npos)
        << r.err;
  }
  EXPECT_FALSE(fs::exists(out));
  EXPECT_FALSE(fs::exists(dir + "/s.json"));
  EXPECT_EQ(slurp(src), before) << "the source was written";
  // Standard output can't hold an AVI file.
  test::CliResult pipe = test::runZovcomp({"compress", src, "-o", "-"});
  EXPECT_EQ(pipe.rc, 2);
  EXPECT_NE(pipe.err.find("standard output"), std::string::npos) << pipe.err;
  fs::remove_all(dir);
}

TEST(RunFiles, AFailedStartLeavesTheOldOutputAndTheUsersFilesAlone) {
  const std::string dir = test::tempFolder("failed-start");
  const std::string out = dir + "/keep.avi", bmp = dir + "/b.bmp";
  ASSERT_EQ(test::runZovcomp({"compress", test::dataFile("teapot-256x256-rgb24.avi"), "-o", out,
                              "--last", "3", "-q"})
                .rc,
            0);
  { std::ofstream(dir + "/keep.idx") << "the user's own index"; }
  const std::string good = slurp(out);
  writeBitmap(bmp, 64, 64);  // the movie is 256x256
  test::CliResult r =
      test::runZovcomp({"compress", test::dataFile("teapot-256x256-rgb24.avi"), "-o", out, "--set",
                        "ChromaKeying=1", "--set", "ChromaBackground=" + bmp});
  EXPECT_EQ(r.rc, 1);
  EXPECT_EQ(slurp(out), good) << "a run that failed at its start changed the old output";
  // A clean run leaves nothing but its output, and a file named like its index is not touched.
  ASSERT_EQ(test::runZovcomp({"compress", test::dataFile("teapot-256x256-rgb24.avi"), "-o", out,
                              "--last", "2", "-q"})
                .rc,
            0);
  EXPECT_EQ(slurp(dir + "/keep.idx"), "the user's own index");
  EXPECT_EQ(std::distance(fs::directory_iterator(dir), {}), 3) << "a temporary file stayed";
  fs::remove_all(dir);
}

TEST(RunFiles, UnusableInputsAreNamedWithTheReason) {
  const std::string dir = test::tempFolder("bad-inputs");
  { std::ofstream(dir + "/notes.txt") << "just some text\n"; }
  const std::string out = dir + "/o.avi";
  test::CliResult missing = test::runZovcomp({"compress", dir + "/gone.avi", "-o", out});
  EXPECT_EQ(missing.rc, 1);
  EXPECT_NE(missing.err.find("gone.avi\": No such file or directory"), std::string::npos)
      << missing.err;
  test::CliResult folder = test::runZovcomp({"compress", dir, "-o", out});
  EXPECT_NE(folder.err.find("is a folder"), std::string::npos) << folder.err;
  test::CliResult text = test::runZovcomp({"compress", dir + "/notes.txt", "-o", out});
  EXPECT_NE(text.err.find("neither an AVI file"), std::string::npos) << text.err;
  test::CliResult longName =
      test::runZovcomp({"compress", test::dataFile("teapot-256x256-rgb24.avi"), "-o",
                        dir + "/" + std::string(260, 'x') + ".avi"});
  EXPECT_EQ(longName.rc, 2);
  EXPECT_NE(longName.err.find("at most 259 are accepted"), std::string::npos) << longName.err;
  for (const auto* r : {&missing, &folder, &text})
    EXPECT_EQ(r->err.find("No valid settings"), std::string::npos) << r->err;

  // A list given by a relative name, whose segment is named relative to the list's folder.
  fs::create_directory(dir + "/clips");
  fs::copy_file(test::dataFile("teapot-256x256-rgb24.avi"), dir + "/clips/t.avi");
  {
    std::ofstream l(dir + "/clips/list.zel");
    l << "[" << kEditListSection << "]\nFileName0=t.avi\nCropX0=0\nCropY0=0\nCropWidth0=256\n"
      << "CropHeight0=256\nExtractionStart0=0\nExtractionEnd0=1\nTotalFiles=1\n";
  }
  const fs::path previous = fs::current_path();
  fs::current_path(dir);
  test::CliResult list = test::runZovcomp({"compress", "clips/list.zel", "-o", "o.avi", "-q"});
  fs::current_path(previous);
  EXPECT_EQ(list.rc, 0) << list.err;
  EXPECT_TRUE(fs::exists(out));
  // A segment's values pass the dialog's checks: a letterbox that makes the picture taller than
  // 480 lines is refused, naming the segment and its file.
  {
    std::ofstream l(dir + "/clips/list.zel", std::ios::app);
    l << "LetterBoxTop0=200\nLetterBoxBottom0=100\n";
  }
  test::CliResult tall = test::runZovcomp({"compress", dir + "/clips/list.zel", "-o", out});
  EXPECT_EQ(tall.rc, 1);
  EXPECT_NE(tall.err.find("Segment 1 (\"" + dir + "/clips/t.avi\"): CFG"), std::string::npos)
      << tall.err;
  fs::remove_all(dir);
}

TEST(RunFiles, MessagesBreakTheirLinesAndCorrectionsAreNotApplied) {
  const std::string dir = test::tempFolder("messages");
  const std::string out = dir + "/o.avi";
  // The dialog would change the first frame to 1; the command line says so and stops.
  test::CliResult first = test::runZovcomp(
      {"compress", test::dataFile("teapot-256x256-rgb24.avi"), "-o", out, "--first", "0"});
  EXPECT_EQ(first.rc, 2);
  EXPECT_NE(first.err.find("--first would be accepted as 1"), std::string::npos) << first.err;
  EXPECT_EQ(first.err.find("is being changed"), std::string::npos) << first.err;
  EXPECT_FALSE(fs::exists(out));

  // Two sizes in one list: the message's "\r" breaks are real line breaks.
  {
    RecordingMessageBox boxes;
    ScopedMessageBoxSink sink(&boxes);
    SourceFile a(test::dataFile("teapot-256x256-rgb24.avi"));
    SourceFile b(test::dataFile("pan-640x480-mjpeg-pcm.avi"));
    ASSERT_TRUE(saveEditList(dir + "/mix.zel", {&a, &b}));
  }
  test::CliResult mix = test::runZovcomp({"compress", dir + "/mix.zel", "-o", out});
  EXPECT_EQ(mix.rc, 1);
  EXPECT_NE(mix.err.find("MCP0013E"), std::string::npos) << mix.err;
  EXPECT_EQ(mix.err.find('\r'), std::string::npos) << mix.err;
  EXPECT_NE(mix.err.find("\nThe size of "), std::string::npos) << mix.err;
  fs::remove_all(dir);
}

}  // namespace
}  // namespace zov

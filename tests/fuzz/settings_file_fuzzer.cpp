// Loads arbitrary bytes as the compressor's settings file. Every loaded value must lie within
// its corrected range, a damaged filter list gives at most one message and an empty list, and
// a file written by saving must load and save again to the very same text.
#include <stdlib.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "compressor/settings_file.h"
#include "platform/ui.h"

namespace {

void require(bool condition) {
  if (!condition) __builtin_trap();
}

std::string readText(const std::filesystem::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

void checkRanges(const zov::CompressionSettings& s, const zov::CompressorOptions& o) {
  require(s.KeyRate <= 100 && s.ImageLossLevel <= 7 && s.Lossy == (s.ImageLossLevel != 0));
  require(s.CompressionType <= 4 && s.FieldType <= 2);
  require(s.SingleField == (s.FieldType == 1) && s.WideField == (s.FieldType == 2));
  require(s.InterframeDetection <= 25 && s.NoiseReduction <= 150);
  require(s.BackgroundDetection <= 25 && s.BackgroundNoiseReduction <= 150);
  require(s.ChromaScreening <= 2);
  require(s.ChromaGreen <= 31 && s.ChromaRed <= 31 && s.ChromaBlue <= 31);
  if (s.ChromaScreening == zov::kScreeningBlue) {
    require(s.ChromaBlue >= s.ChromaRed && s.ChromaBlue >= s.ChromaGreen);
  } else {
    require(s.ChromaGreen >= s.ChromaRed && s.ChromaGreen >= s.ChromaBlue);
  }
  require(s.ChromaBackground.size() <= zov::kChromaBackgroundMaxChars);
  require(s.DataRate % 1024 == 0);
  require(s.ForceKeyFramePercent <= 100 && s.IncreaseKeyRatePercent <= 100 &&
          s.IncreaseKeyRateValue <= 100);
  require(o.TabSettingsLastActive <= 7 && o.FilterThumbnailZoom <= 6);
  require(o.SampleRate == 0 || o.SampleRate == 11025 || o.SampleRate == 22050);
  require(o.CutOffKBLimit <= 9999999u || o.CutOffKBLimit >= 0xFFFFFFFFu - 999999u);
  require(o.LastSelectedFilter < zov::kFilterKindCount);
  for (int k = 0; k < zov::kFilterKindCount; ++k) {
    require(zov::filterLevelInRange(k, o.LastUsedFilterLevel[k]));
  }
  for (const zov::FilterEntry& e : o.Filters) {
    require(zov::isFilterKind(e.kind) && zov::filterLevelInRange(e.kind, e.level));
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // Files live in memory where possible: every profile write is flushed to the disk.
  static const std::filesystem::path home = [] {
    std::string tmpl = std::filesystem::is_directory("/dev/shm") ? "/dev/shm/zov-fuzz-XXXXXX"
                                                                 : "/tmp/zov-fuzz-XXXXXX";
    require(mkdtemp(tmpl.data()) != nullptr);
    setenv("ZOV_HOME", tmpl.c_str(), 1);
    std::atexit([] {
      std::error_code ec;
      std::filesystem::remove_all(getenv("ZOV_HOME"), ec);
    });
    return std::filesystem::path(tmpl);
  }();
  static zov::RecordingMessageBox boxes;
  static bool installed = (zov::setMessageBoxSink(&boxes), true);
  (void)installed;
  boxes.clear();

  std::filesystem::remove(home / "in.ini");
  std::filesystem::remove(home / "out1.ini");
  std::filesystem::remove(home / "out2.ini");
  std::ofstream(home / "in.ini", std::ios::binary)
      .write(reinterpret_cast<const char*>(data), std::streamsize(size));

  zov::CompressionSettings s1;
  zov::CompressorOptions o1;
  zov::loadSettings("in.ini", "General", s1, o1);
  checkRanges(s1, o1);
  // A damaged filter list is reported once and not loaded; each text longer than its key allows
  // is reported on its own (its message starts with the key's name in quotes).
  int listErrors = 0;
  for (const auto& box : boxes.boxes()) {
    require(box.text.rfind("CFG", 0) == 0 || box.text.rfind("\"", 0) == 0);
    listErrors += box.text.rfind("CFG", 0) == 0;
  }
  require(listErrors <= 1);
  if (listErrors != 0) require(o1.Filters.empty());

  zov::saveSettings("out1.ini", "General", s1, o1);
  zov::CompressionSettings s2;
  zov::CompressorOptions o2;
  zov::loadSettings("out1.ini", "General", s2, o2);
  checkRanges(s2, o2);
  zov::saveSettings("out2.ini", "General", s2, o2);
  zov::CompressionSettings s3;
  zov::CompressorOptions o3;
  zov::loadSettings("out2.ini", "General", s3, o3);
  std::filesystem::remove(home / "out1.ini");
  zov::saveSettings("out1.ini", "General", s3, o3);
  require(readText(home / "out1.ini") == readText(home / "out2.ini"));
  return 0;
}

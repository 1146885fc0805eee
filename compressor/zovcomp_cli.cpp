#include "compressor/zovcomp_cli.h"

#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <future>
#include <memory>
#include <ostream>
#include <sstream>
#include <thread>

#include "compressor/edit_list.h"
#include "compressor/filter_list.h"
#include "compressor/run_file_checks.h"
#include "compressor/run_report.h"
#include "compressor/run_source.h"
#include "compressor/settings_file.h"
#include "compressor/settings_keys.h"
#include "compressor/settings_validation.h"
#include "encoder/compression_run.h"
#include "format/colour_tables.h"
#include "format/cpu_features.h"
#include "media/source_file.h"
#include "media/source_messages.h"
#include "media/vfw_zov_decoder.h"
#include "platform/profile.h"
#include "platform/ui.h"

namespace zov {

namespace {

// The signal that asked the run to stop (SIGINT, SIGTERM, SIGHUP, SIGPIPE), 0 while none has.
volatile std::sig_atomic_t gStopSignal = 0;

// The messages' texts break their lines with "\r" (as the window's boxes do); a terminal or a
// pipe needs real line breaks.
std::string withLineBreaks(std::string text) {
  std::string r;
  r.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\r') {
      r += text[i];
    } else if (i + 1 >= text.size() || text[i + 1] != '\n') {
      r += '\n';
    }
  }
  return r;
}

std::string lower(std::string_view s) {
  std::string r(s);
  for (char& c : r) c = char(std::tolower(static_cast<unsigned char>(c)));
  return r;
}

std::string trim(std::string_view s) {
  size_t b = 0, e = s.size();
  while (b < e && std::isspace(static_cast<unsigned char>(s[b]))) ++b;
  while (e > b && std::isspace(static_cast<unsigned char>(s[e - 1]))) --e;
  return std::string(s.substr(b, e - b));
}

bool parseUnsigned(std::string_view text, uint32_t* value) {
  auto v = parseExtractionNumber(text);
  if (!v) return false;
  *value = *v;
  return true;
}

// "A,B" or "AxB" lists of unsigned numbers.
bool parseList(std::string_view text, std::vector<uint32_t>& values, size_t count) {
  values.clear();
  std::string cur;
  for (char c : std::string(text) + ",") {
    if (c == ',' || c == 'x' || c == 'X') {
      uint32_t v;
      if (!parseUnsigned(cur, &v)) return false;
      values.push_back(v);
      cur.clear();
    } else {
      cur += c;
    }
  }
  return values.size() == count;
}

std::optional<int32_t> kindByName(std::string_view name) {
  const std::string n = lower(trim(name));
  if (n.empty()) return std::nullopt;
  if (std::all_of(n.begin(), n.end(), [](char c) { return c >= '0' && c <= '9'; })) {
    uint32_t k;
    if (parseUnsigned(n, &k) && isFilterKind(int32_t(k))) return int32_t(k);
    return std::nullopt;
  }
  for (int k = 0; k < kFilterKindCount; ++k) {
    const std::string full = lower(kFilterKinds[size_t(k)].name);
    if (full == n) return k;
    const size_t colon = full.find(": ");
    if (colon != std::string::npos && full.substr(colon + 2) == n) return k;
  }
  return std::nullopt;
}

// Seconds as hours, minutes and seconds.
std::string clock(double seconds) {
  const uint64_t s = seconds > 0 ? uint64_t(seconds) : 0;
  char text[32];
  std::snprintf(text, sizeof text, "%02lu:%02lu:%02lu", (unsigned long)(s / 3600),
                (unsigned long)(s / 60 % 60), (unsigned long)(s % 60));
  return text;
}

// Peak signal-to-noise ratio of two 15-bit pictures, each component widened to 8 bits.
struct PsnrSum {
  double squared = 0;
  uint64_t samples = 0;
  // Pictures of w x h, bottom-up. A single-field stream codes the odd stored lines only.
  void add(const uint16_t* a, const uint16_t* b, size_t w, size_t h, bool singleField) {
    auto widen = [](int c) { return (c << 3) | (c >> 2); };
    for (size_t y = singleField ? 1 : 0; y < h; y += singleField ? 2 : 1) {
      for (size_t i = y * w; i < (y + 1) * w; ++i) {
        for (int shift : {10, 5, 0}) {
          const int d = widen((a[i] >> shift) & 31) - widen((b[i] >> shift) & 31);
          squared += double(d * d);
        }
      }
      samples += 3 * w;
    }
  }
  double psnr() const {
    if (samples == 0) return 0;
    const double mse = squared / double(samples);
    if (mse == 0) return INFINITY;
    return 10.0 * std::log10(255.0 * 255.0 / mse);
  }
};

// One encoder thread per core unless --threads says otherwise.
uint32_t defaultThreads() {
  const unsigned cores = std::thread::hardware_concurrency();
  return std::clamp<uint32_t>(cores ? cores : 1, 1, kMaxEncoderThreads);
}

struct CliArgs {
  std::string input, output, audio, settingsFile, logFile, statsFile;
  std::string progress;  // "json", "bar", "lines", "none"; empty: a bar on a terminal
  RunMode mode = RunMode::Compress;
  bool verify = false, quiet = false, times = false;
  std::optional<uint32_t> first, last;
  std::optional<std::vector<uint32_t>> crop, letterbox, resize;
  std::optional<bool> interpolate;
  std::optional<uint32_t> strip;
  uint32_t threads = defaultThreads();
  std::vector<std::string> presets;
  // The --set pairs, checked against the key table when parsed.
  std::vector<std::pair<const SettingsKey*, std::string>> sets;
  std::vector<FilterEntry> filters;
  bool printSettings = false;
  bool extractionGiven() const {
    return first || last || crop || letterbox || resize || interpolate || strip;
  }
};

class CliMessageBox : public MessageBoxSink {
 public:
  explicit CliMessageBox(std::ostream& err) : err_(err) {}
  int show(WindowHandle, std::string_view text, std::string_view title, uint32_t style) override {
    err_ << title << ": " << withLineBreaks(std::string(text)) << "\n";
    return messageBoxDefaultResult(style);
  }
  void beep(uint32_t) override {}

 private:
  std::ostream& err_;
};

// Applies the "--set Key=Value" pairs to the records, in order. They were checked when parsed;
// the chroma levels then follow the key-colour rule, as when the file is read.
void applySets(const CliArgs& a, CompressionSettings& s, CompressorOptions& o) {
  if (a.sets.empty()) return;
  for (const auto& [key, value] : a.sets) {
    std::string ignored;
    setSettingsKey(*key, value, s, o, ignored);
  }
  keepKeyColourHighest(s);
}

// Checks one "--set" argument against the key table; false after saying what is wrong.
bool parseSet(std::string_view kv, CliArgs& a, std::ostream& err) {
  const size_t eq = kv.find('=');
  if (eq == std::string::npos || eq == 0) {
    err << "zovcomp: --set needs Key=Value\n";
    return false;
  }
  const std::string name = trim(kv.substr(0, eq));
  const std::string value(kv.substr(eq + 1));
  const SettingsKey* key = findSettingsKey(name);
  if (!key) {
    err << "zovcomp: --set: unknown settings key \"" << name
        << "\" (zovcomp --list-keys lists them)\n";
    return false;
  }
  CompressionSettings scratchSettings;
  CompressorOptions scratchOptions;
  std::string why;
  if (!setSettingsKey(*key, value, scratchSettings, scratchOptions, why)) {
    err << "zovcomp: --set: " << why << "\n";
    return false;
  }
  a.sets.emplace_back(key, value);
  return true;
}

int parseArgs(int argc, char** argv, int start, CliArgs& a, std::ostream& err) {
  auto need = [&](int& i, const char* opt) -> const char* {
    if (i + 1 >= argc) {
      err << "zovcomp: " << opt << " needs a value\n";
      return nullptr;
    }
    return argv[++i];
  };
  for (int i = start; i < argc; ++i) {
    const std::string arg = argv[i];
    const char* v = nullptr;
    std::vector<uint32_t> list;
    if (arg == "-o" || arg == "--output") {
      if (!(v = need(i, "-o"))) return 2;
      a.output = v;
      if (a.output == "-") {
        err << "zovcomp: -o -: the output can't be standard output (an AVI file is finished by "
               "writing its headers again at the start, which needs a file); give a file name\n";
        return 2;
      }
    } else if (arg == "--audio") {
      if (!(v = need(i, "--audio"))) return 2;
      a.audio = v;
    } else if (arg == "--settings") {
      if (!(v = need(i, "--settings"))) return 2;
      a.settingsFile = v;
    } else if (arg == "--log") {
      if (!(v = need(i, "--log"))) return 2;
      a.logFile = v;
    } else if (arg == "--mode") {
      if (!(v = need(i, "--mode"))) return 2;
      const std::string m = lower(v);
      if (m == "compress")
        a.mode = RunMode::Compress;
      else if (m == "copy")
        a.mode = RunMode::NoRecompression;
      else if (m == "zev")
        a.mode = RunMode::ZevStream;
      else if (m == "blocks")
        a.mode = RunMode::BlockFile;
      else {
        err << "zovcomp: unknown mode \"" << v << "\" (compress, copy, zev, blocks)\n";
        return 2;
      }
    } else if (arg == "--first" || arg == "--last") {
      if (!(v = need(i, arg.c_str()))) return 2;
      uint32_t n;
      if (!parseUnsigned(v, &n)) {
        err << "zovcomp: " << arg << " needs a frame number\n";
        return 2;
      }
      (arg == "--first" ? a.first : a.last) = n;
    } else if (arg == "--crop") {
      if (!(v = need(i, "--crop")) || !parseList(v, list, 4)) {
        err << "zovcomp: --crop needs LEFT,TOP,WIDTH,HEIGHT\n";
        return 2;
      }
      a.crop = list;
    } else if (arg == "--letterbox") {
      if (!(v = need(i, "--letterbox")) || !parseList(v, list, 2)) {
        err << "zovcomp: --letterbox needs TOP,BOTTOM\n";
        return 2;
      }
      a.letterbox = list;
    } else if (arg == "--resize") {
      if (!(v = need(i, "--resize")) || !parseList(v, list, 2)) {
        err << "zovcomp: --resize needs WIDTHxHEIGHT\n";
        return 2;
      }
      a.resize = list;
    } else if (arg == "--no-interpolate") {
      a.interpolate = false;
    } else if (arg == "--interpolate") {
      a.interpolate = true;
    } else if (arg == "--strip") {
      if (!(v = need(i, "--strip"))) return 2;
      const std::string m = lower(v);
      if (m == "none")
        a.strip = 0;
      else if (m == "odd")
        a.strip = 1;
      else if (m == "even")
        a.strip = 2;
      else {
        err << "zovcomp: --strip takes none, odd or even\n";
        return 2;
      }
    } else if (arg == "--preset") {
      if (!(v = need(i, "--preset"))) return 2;
      if (!parsePreset(v)) {
        err << "zovcomp: unknown preset \"" << v << "\" (Video, Smoke/Clouds/Rain, Animation)\n";
        return 2;
      }
      a.presets.push_back(v);
    } else if (arg == "--set") {
      if (!(v = need(i, "--set"))) return 2;
      if (!parseSet(v, a, err)) return 2;
    } else if (arg == "--print-settings") {
      a.printSettings = true;
    } else if (arg == "--filter") {
      if (!(v = need(i, "--filter"))) return 2;
      std::string why;
      auto f = parseFilterArgument(v, &why);
      if (!f) {
        err << "zovcomp: " << why << "\n";
        return 2;
      }
      a.filters.push_back(*f);
    } else if (arg == "--threads") {
      if (!(v = need(i, "--threads"))) return 2;
      uint32_t n;
      if (!parseUnsigned(v, &n) || n < 1 || n > kMaxEncoderThreads) {
        err << "zovcomp: --threads needs a number from 1 to " << kMaxEncoderThreads << "\n";
        return 2;
      }
      a.threads = n;
    } else if (arg == "--verify") {
      a.verify = true;
    } else if (arg == "--progress") {
      if (!(v = need(i, "--progress"))) return 2;
      a.progress = lower(v);
      if (a.progress != "json" && a.progress != "bar" && a.progress != "lines" &&
          a.progress != "none") {
        err << "zovcomp: --progress takes json, bar, lines or none\n";
        return 2;
      }
    } else if (arg == "--stats") {
      if (!(v = need(i, "--stats"))) return 2;
      a.statsFile = v;
    } else if (arg == "--times") {
      a.times = true;
    } else if (arg == "--quiet" || arg == "-q") {
      a.quiet = true;
    } else if (arg.size() > 1 && arg[0] == '-' && arg != "-") {
      err << "zovcomp: unknown option " << arg << "\n";
      return 2;
    } else if (a.input.empty()) {
      a.input = arg;
    } else {
      err << "zovcomp: more than one input given\n";
      return 2;
    }
  }
  if (!a.printSettings && (a.input.empty() || a.output.empty())) {
    err << "zovcomp: compress needs INPUT and -o OUTPUT\n";
    return 2;
  }
  return 0;
}

// The settings of a run: the settings file, then the presets, the --set pairs and the filters.
bool resolveSettings(const CliArgs& a, CompressionSettings& settings, CompressorOptions& options,
                     std::ostream& err) {
  settings = defaultCompressionSettings();
  options = defaultCompressorOptions();
  if (!a.settingsFile.empty()) {
    std::error_code ec;
    if (!std::filesystem::is_regular_file(a.settingsFile, ec)) {
      err << "zovcomp: settings file \"" << a.settingsFile << "\" not found\n";
      return false;
    }
    const std::string path = std::filesystem::absolute(a.settingsFile).string();
    // A value the file holds too long to use is reported; the run doesn't start without it.
    if (!loadSettings(path, kGeneralSection, settings, options)) return false;
    options.PackPadding = readPackPadding(path, kGeneralSection);
    options.ReportPad = readReportPad(path, kGeneralSection);
    options.RemoveAudio = readRemoveAudio(path, kGeneralSection);
  }
  for (const auto& p : a.presets) applyPreset(*parsePreset(p), settings, options);
  applySets(a, settings, options);
  for (const auto& f : a.filters) options.Filters.push_back(f);
  settings.updateDerived();
  return true;
}

enum class MediaKind { Movie, EditList, None };

MediaKind mediaKindOf(const std::string& path) {
  if (path == "-") return MediaKind::Movie;
  std::ifstream f(path, std::ios::binary);
  char head[9] = {};
  f.read(head, 9);
  if (std::memcmp(head, "RIFF", 4) == 0 || std::memcmp(head, "YUV4MPEG2", 9) == 0)
    return MediaKind::Movie;
  std::string line;
  f.seekg(0);
  while (std::getline(f, line)) {
    if (trim(line) == std::string("[") + kEditListSection + "]") return MediaKind::EditList;
  }
  return MediaKind::None;
}

// The files a run writes (output, statistics, log) are none of its inputs, nor one another.
bool refuseWritesOverInputs(const CliArgs& a, const std::vector<std::string>& inputs,
                            std::ostream& err) {
  const std::pair<const std::string*, const char*> written[] = {
      {&a.output, "output file"}, {&a.statsFile, "statistics file"}, {&a.logFile, "log file"}};
  for (size_t i = 0; i < std::size(written); ++i) {
    const auto& [path, what] = written[i];
    if (path->empty()) continue;
    const std::string refusal = outputIsInputRefusal(*path, inputs, what);
    if (!refusal.empty()) {
      err << "zovcomp: " << refusal << "\n";
      return false;
    }
    for (size_t j = 0; j < i; ++j) {
      if (sameFile(*path, *written[j].first)) {
        err << "zovcomp: the " << what << " \"" << *path << "\" is the " << written[j].second
            << " \"" << *written[j].first << "\": choose another " << what << "\n";
        return false;
      }
    }
  }
  return true;
}

// The option that sets an extraction field, as the command line names it.
std::string optionOf(ExtractionField field) {
  switch (field) {
    case ExtractionField::FirstFrame:
      return "--first";
    case ExtractionField::LastFrame:
      return "--last";
    case ExtractionField::CropLeft:
      return "--crop LEFT";
    case ExtractionField::CropTop:
      return "--crop TOP";
    case ExtractionField::CropWidth:
      return "--crop WIDTH";
    case ExtractionField::CropHeight:
      return "--crop HEIGHT";
    case ExtractionField::LetterBoxTop:
      return "--letterbox TOP";
    case ExtractionField::LetterBoxBottom:
      return "--letterbox BOTTOM";
    case ExtractionField::ResizeWidth:
      return "--resize WIDTH";
    case ExtractionField::ResizeHeight:
      return "--resize HEIGHT";
  }
  return "--crop";
}

// A failed extraction check as the command line reports it. The dialog corrects the field and
// says so; here nothing is changed behind the user's back: the message names the option and the
// value it would accept, and the run does not start.
std::string commandLineCheckMessage(const ExtractionCheck& check) {
  std::string text = check.message;
  if (check.correction) {
    const size_t cut = text.find("\n(");
    if (cut != std::string::npos) text.erase(cut);
    text += "\n" + optionOf(check.focus) + " would be accepted as " +
            std::to_string(*check.correction) + "; nothing was changed and the run did not start";
  } else {
    text += "\n(" + optionOf(check.focus) + ")";
  }
  return withLineBreaks(text);
}

// Reads the output back with the source reader and compares every frame with the source. Audio
// preload records carry no video chunk, so output frame n is batch frame n.
bool readBack(const std::string& path, std::vector<SourceFile*>& sources, uint32_t frames,
              bool singleField, PsnrSum& psnr, std::ostream& err) {
  SourceFile out(path);
  if (!out.Opened) {
    err << "zovcomp: verify: the output can't be opened\n";
    return false;
  }
  if (out.FrameCount != frames) {
    err << "zovcomp: verify: the output holds " << out.FrameCount << " frames, " << frames
        << " were written\n";
    return false;
  }
  std::vector<uint8_t> a, b;
  uint32_t n = 0;
  for (SourceFile* src : sources) {
    for (uint32_t f = 0; f < src->framesToCompress() && n < frames; ++f, ++n) {
      if (!out.getFrame(n, b, nullptr, true, false, false)) {
        err << "zovcomp: verify: output frame " << n + 1 << " can't be decoded\n";
        return false;
      }
      if (!src->getFrame(f, a, nullptr, true, true, true)) return false;
      const uint32_t w = getLE32(a.data() + 4);
      const uint32_t h = uint32_t(std::abs(int32_t(getLE32(a.data() + 8))));
      const uint32_t ow = getLE32(b.data() + 4);
      const uint32_t oh = uint32_t(std::abs(int32_t(getLE32(b.data() + 8))));
      const uint32_t bottom = src->LetterBoxBottom;
      if (ow != w || oh < h + bottom || b.size() < 40 + size_t(2) * w * (h + bottom)) {
        err << "zovcomp: verify: output frame " << n + 1 << " has the wrong size\n";
        return false;
      }
      psnr.add(reinterpret_cast<const uint16_t*>(a.data() + 40),
               reinterpret_cast<const uint16_t*>(b.data() + 40) + size_t(w) * bottom, w, h,
               singleField);
    }
  }
  return true;
}

// The settings a run would use, in the settings file's form: every key of the table, then the
// filter list.
void printSettings(const CompressionSettings& settings, const CompressorOptions& options,
                   std::ostream& out) {
  out << "[" << kSettingsKeysSection << "]\n";
  for (const SettingsKey& key : settingsKeys())
    out << key.key << "=" << settingsKeyText(key, settings, options) << "\n";
  out << "\n[" << kFilteringSection << "]\n";
  for (size_t i = 0; i < options.Filters.size(); ++i) {
    out << "FilterType" << i << "=" << options.Filters[i].kind + 1 << "\n"
        << "FilterLevel" << i << "=" << options.Filters[i].level << "\n";
  }
  out << "TotalFilters=" << options.Filters.size() << "\n";
}

// The extraction options given on the command line, applied to a source's values.
void applyExtractionOptions(const CliArgs& a, ExtractionValues& v) {
  if (a.first) v.firstFrame = *a.first;
  if (a.last) v.lastFrame = *a.last;
  if (a.crop) {
    v.cropLeft = (*a.crop)[0];
    v.cropTop = (*a.crop)[1];
    v.cropWidth = (*a.crop)[2];
    v.cropHeight = (*a.crop)[3];
  }
  if (a.letterbox) {
    v.letterBoxTop = (*a.letterbox)[0];
    v.letterBoxBottom = (*a.letterbox)[1];
  }
  if (a.resize) {
    v.resizeWidth = (*a.resize)[0];
    v.resizeHeight = (*a.resize)[1];
  }
  if (a.strip) v.stripType = *a.strip;
}

// The modes that copy stored frames never label other data as ZOV2, nor change the pictures
// their headers describe. `--mode copy` takes ZOV2 sources only (as the window offers it);
// `--mode zev` and `--mode blocks` copy ZOV2 sources as they are and compress any other first,
// as `compress` would (a batch with one such source is compressed whole: one stream can't hold
// frames of two encodings). A copy refuses what it can't apply: options that change the picture
// (values that change nothing, such as "--strip none", pass), filters, and the segments of an
// edit list that carry their own cropping, letterbox, resizing or field stripping. Returns
// whether the frames are compressed first, or nothing after the refusal's message.
std::optional<bool> compressFirstFor(const CliArgs& a, const CompressorOptions& options,
                                     const std::vector<std::unique_ptr<SourceFile>>& sources,
                                     bool editList, std::ostream& err) {
  if (a.mode == RunMode::Compress) return false;
  const char* mode = a.mode == RunMode::NoRecompression ? "copy"
                     : a.mode == RunMode::ZevStream     ? "zev"
                                                        : "blocks";
  const SourceFile* other = nullptr;
  for (const auto& s : sources)
    if (!other && lower(s->Handler) != "zov2") other = s.get();
  if (other && a.mode != RunMode::NoRecompression) return true;
  if (other) {
    err << "zovcomp: --mode copy copies ZOV2 frames as they are, and \"" << other->Path
        << "\" holds \"" << other->Handler
        << "\" frames: compress it with --mode compress (or write it with --mode zev or "
           "--mode blocks, which compress it first)\n";
    return std::nullopt;
  }
  std::string changes;
  if (!editList && sources.size() == 1) {
    ExtractionValues v = extractionValuesOf(*sources[0]);
    applyExtractionOptions(a, v);
    changes = pictureChanges(v, sources[0]->Width, sources[0]->Height);
  }
  if (!changes.empty() || !options.Filters.empty()) {
    err << "zovcomp: --mode " << mode
        << " copies the stored ZOV2 frames as they are: cropping, letterbox, resizing, field "
           "stripping and filters can't be applied to them ("
        << (changes.empty() ? "filters are set" : "the options given leave the picture " + changes)
        << "; compress with --mode compress)\n";
    return std::nullopt;
  }
  for (size_t i = 0; editList && i < sources.size(); ++i) {
    const SourceFile& s = *sources[i];
    const std::string segment = pictureChanges(extractionValuesOf(s), s.Width, s.Height);
    if (segment.empty()) continue;
    err << "zovcomp: --mode " << mode << " copies the stored ZOV2 frames as they are, but segment "
        << i + 1 << " (\"" << s.Path << "\") of the edit list \"" << a.input << "\" is " << segment
        << ": its frames would have to be recompressed (compress the list with --mode compress, "
           "or give the segment its whole picture)\n";
    return std::nullopt;
  }
  return false;
}

// Whether the run ended at the size cut-off (or at the most a file can hold).
bool cutOff(CompressionRun& run) {
  for (const std::string& line : run.messages().lines())
    if (line.rfind("CutOff KB Limit reached", 0) == 0 || line.rfind("The file can hold", 0) == 0)
      return true;
  return false;
}

// Ctrl-C, SIGTERM, SIGHUP and a closed standard output stop the run after the current frame,
// as the window's Stop command does, so the file is finished and playable. A second Ctrl-C,
// SIGTERM or SIGHUP ends the program at once; SIGPIPE stays caught, since the run still prints
// into the closed pipe while it finishes (those writes fail quietly).
class StopSignals {
 public:
  StopSignals() {
    gStopSignal = 0;
    for (size_t i = 0; i < kSignals.size(); ++i) {
      struct sigaction action {};
      action.sa_handler = [](int signal) {
        if (!gStopSignal) gStopSignal = signal;
      };
      action.sa_flags = kSignals[i] == SIGPIPE ? 0 : SA_RESETHAND;
      sigemptyset(&action.sa_mask);
      sigaction(kSignals[i], &action, &previous_[i]);
    }
  }
  ~StopSignals() {
    // A closed pipe stays harmless for the messages after the run.
    for (size_t i = 0; i < kSignals.size(); ++i)
      if (kSignals[i] != SIGPIPE) sigaction(kSignals[i], &previous_[i], nullptr);
  }

 private:
  static constexpr std::array<int, 4> kSignals = {SIGINT, SIGTERM, SIGHUP, SIGPIPE};
  std::array<struct sigaction, 4> previous_{};
};

int compressCommand(const CliArgs& a, std::ostream& out, std::ostream& err, bool terminal) {
  CliMessageBox boxes(err);
  ScopedMessageBoxSink sinkScope(&boxes);
  // ZOV sources (no-recompression runs, reading the output back) decode through the codec.
  installZovDecoderWithFallback();

  // Nothing is opened before the files are known to be usable: a missing or unreadable input
  // is named with its reason, and an output that is one of the inputs is refused.
  // The window and its files keep paths of at most 259 characters; a longer one is refused here
  // rather than cut where it is saved.
  for (const std::string* path :
       {&a.input, &a.output, &a.audio, &a.settingsFile, &a.logFile, &a.statsFile}) {
    if (path->size() > 259) {
      err << "zovcomp: the path \"" << *path << "\" is " << path->size()
          << " characters long; at most 259 are accepted\n";
      return 2;
    }
  }
  for (const std::string* path : {&a.input, &a.audio}) {
    if (path->empty()) continue;
    const std::string problem = inputFileProblem(*path);
    if (!problem.empty()) {
      err << "zovcomp: " << problem << "\n";
      return 1;
    }
  }
  if (!refuseWritesOverInputs(a, {a.input, a.audio, a.settingsFile}, err)) return 2;
  const std::string outputProblem = outputFileProblem(a.output);
  if (!outputProblem.empty()) {
    err << "zovcomp: " << outputProblem << "\n";
    return 2;
  }

  CompressionSettings settings;
  CompressorOptions options;
  if (!resolveSettings(a, settings, options, err)) return 1;

  // A compressing run needs the colour tables (a few milliseconds to build): they are built
  // beside the opening of the sources. Waited for when the command ends; a failure to build
  // them shows where the encoder starts, which builds them again.
  std::future<void> tables;
  if (a.mode != RunMode::NoRecompression)
    tables = std::async(std::launch::async, [] { (void)colourTables(PixelKind::Rgb555); });

  // The run exists before the sources so that the filters applied in their reads are timed.
  CompressionRun run;
  SourceEnvironment env;
  env.removeAudio = [&options] { return options.RemoveAudio; };
  env.audioOptions = [&options] { return audioOptionsFrom(options); };
  env.applyFilters = [&options, &run](uint16_t* pixels, int w, int h) {
    if (options.Filters.empty()) return;
    RunStageTimes::Scope timer(run.stageTimes(), RunStage::Filter);
    applyFilterList(options.Filters, false, pixels, w, h, FilterCaller::FrameFetch);
  };
  setSourceEnvironment(env);
  struct EnvReset {
    ~EnvReset() { setSourceEnvironment({}); }
  } envReset;

  // The sources.
  std::vector<std::unique_ptr<SourceFile>> owned;
  // The source reader's messages go where the command's other messages go.
  const SourceMessageSink previousSink =
      setSourceMessageSink([&err](const std::string& text, SourceMessageStyle) {
        err << kCompressorTitle << ": " << withLineBreaks(text) << "\n";
        return int(kSourceAnswerCancel);
      });
  struct SinkReset {
    const SourceMessageSink& previous;
    ~SinkReset() { setSourceMessageSink(previous); }
  } sinkReset{previousSink};
  const MediaKind kind = mediaKindOf(a.input);
  if (kind == MediaKind::None) {
    err << "zovcomp: \"" << a.input
        << "\" is neither an AVI file, a YUV4MPEG2 stream nor an edit list\n";
    return 1;
  }
  if (kind == MediaKind::Movie) {
    auto src = std::make_unique<SourceFile>(a.input, a.audio);
    if (!src->Opened) {
      err << "zovcomp: \"" << a.input << "\" can't be read as a source\n";
      return 1;
    }
    owned.push_back(std::move(src));
  } else {
    if (a.extractionGiven()) {
      err << "zovcomp: extraction options don't apply to an edit list (its segments carry "
             "their own)\n";
      return 2;
    }
    // The list's name is taken from the current folder (a bare name would otherwise be looked
    // for in the settings folder); its segments' relative names from the list's own folder.
    auto list = loadEditList(std::filesystem::absolute(a.input).string());
    if (!list || list->empty()) {
      err << "zovcomp: \"" << a.input
          << "\" is neither a movie nor an edit list that can be read\n";
      return 1;
    }
    owned = std::move(*list);
  }
  const std::optional<bool> compressFirst =
      compressFirstFor(a, options, owned, kind == MediaKind::EditList, err);
  if (!compressFirst) return 2;
  // Standard input is read once, as its frames arrive: nothing can read it a second time.
  if (owned[0]->Streamed && a.verify) {
    err << "zovcomp: --verify reads the source a second time to compare it with the output; "
           "standard input is read only once (write the stream to a file to verify)\n";
    return 2;
  }
  if (owned.size() == 1 && a.extractionGiven()) {
    SourceFile& s = *owned[0];
    ExtractionValues v = extractionValuesOf(s);
    applyExtractionOptions(a, v);
    const ExtractionCheck check = validateExtraction(v, extractionSourceOf(s));
    if (!check.passed) {
      err << kCompressorTitle << ": " << commandLineCheckMessage(check) << "\n";
      return 2;
    }
    storeExtractionValues(v, s);
    if (a.interpolate) s.ResizeInterpolate = *a.interpolate;
  }

  std::vector<SourceFile*> sources;
  std::vector<std::unique_ptr<SourceFileRunSource>> adapters;
  std::vector<std::string> inputs;
  for (auto& s : owned) {
    sources.push_back(s.get());
    adapters.push_back(std::make_unique<SourceFileRunSource>(*s));
    inputs.push_back(s->Path);
    inputs.push_back(s->AudioPath);
  }
  if (settings.ChromaKeying) inputs.push_back(settings.ChromaBackground);
  if (!refuseWritesOverInputs(a, inputs, err)) return 2;

  // The segments of a list must fit one movie, as the window checks before its runs.
  std::vector<MixSegment> segments;
  for (SourceFile* s : sources) segments.push_back(mixSegmentOf(*s));
  MixRun mix = MixRun::Compress;
  if (a.mode == RunMode::NoRecompression) mix = MixRun::NoRecompression;
  if (a.mode == RunMode::ZevStream) mix = MixRun::ZevFile;
  if (a.mode == RunMode::BlockFile) mix = MixRun::MltFile;
  if (!checkMix(segments, mix, options.NoAudio, *compressFirst)) return 1;
  if (owned[0]->Streamed && owned[0]->streamEndsBefore(0)) {
    err << "zovcomp: standard input ended before frame " << owned[0]->ExtractionStart + 1
        << " (--first)\n";
    return 1;
  }

  // The frame must suit the encoder before a compressing run starts.
  if (a.mode == RunMode::Compress || *compressFirst) {
    std::vector<uint8_t> frame;
    if (!sources[0]->getFrame(0, frame, nullptr, true, false, true) || frame.size() < 40) return 1;
    if (!CheckCompressible(frame.data(), [](const std::string& text) {
          messageBox(nullptr, text, kCompressorTitle, MB_OK | MB_ICONSTOP);
          return false;
        }))
      return 1;
  }

  RunRequest req;
  req.mode = a.mode;
  req.outputPath = a.output;
  settings.threads = a.threads;
  req.settings = &settings;
  req.options = options;
  req.verify = a.verify;
  req.compressFirst = *compressFirst;
  for (auto& ad : adapters) req.sources.push_back(ad.get());

  RunCallbacks cb;
  cb.error = [](const std::string& text) {
    messageBox(nullptr, text, kCompressorTitle, MB_OK | MB_ICONSTOP);
  };
  cb.applyFilters = [&options](uint16_t* pixels, int w, int h) {
    applyFilterList(options.Filters, false, pixels, w, h, FilterCaller::CompressionRun);
  };
  bool barShown = false;
  // The writer's notices (the size cut-off's among them) are lines of their own; the last total
  // closes the run's report.
  std::string lastNotice, lastTotal;
  cb.status = [&](int pane, const std::string& text) {
    if (pane == 3) lastTotal = text;
    if (pane != 2 || a.quiet || text.empty() || text == lastNotice) return;
    lastNotice = text;
    if (terminal && barShown) err << "\r\033[K";
    out << text << "\n";
    out.flush();
  };
  const bool showBar = a.progress == "bar" || (a.progress.empty() && terminal);
  if (a.progress == "json") {
    cb.progress = [&](const RunProgress& p) {
      err << progressJson(p) << "\n";
      err.flush();
    };
  }
  if (!a.quiet) {
    cb.line = [&](const std::string& line) {
      if (terminal && barShown) err << "\r\033[K";
      out << line << "\n";
      out.flush();
    };
    if (a.progress.empty() || a.progress == "bar" || a.progress == "lines")
      cb.progress = [&](const RunProgress& p) {
        const double seconds = p.microSecPerFrame > 0 ? p.done * p.microSecPerFrame / 1e6 : 0;
        const double rate =
            seconds > 0 ? double(p.outputBytes - p.audioBytes) / seconds / 1024.0 : 0.0;
        const double eta =
            p.done ? double(p.frameCount - p.done) * p.elapsedSeconds / double(p.done) : 0.0;
        char text[160];
        if (p.frameCount == 0) {
          // A stream on standard input: its length is known at its end.
          std::snprintf(text, sizeof text, "%s%u frames  %.0f KB/s%s",
                        showBar ? "\r\033[K" : "progress ", p.done, rate, showBar ? "" : "\n");
          err << text;
          barShown = showBar;
        } else if (showBar) {
          const int width = 30;
          const int filled = p.frameCount ? int(double(width) * p.done / p.frameCount) : width;
          std::string bar(size_t(filled), '#');
          bar.resize(size_t(width), '.');
          std::snprintf(text, sizeof text, "\r\033[K[%s] %u/%u  %.0f KB/s  ETA %s", bar.c_str(),
                        p.done, p.frameCount, rate, clock(eta).c_str());
          err << text;
          barShown = true;
        } else {
          std::snprintf(text, sizeof text, "progress %u/%u frames, %.0f KB/s, ETA %s\n", p.done,
                        p.frameCount, rate, clock(eta).c_str());
          err << text;
        }
        err.flush();
      };
  }

  if (!a.logFile.empty() && !run.messages().openLog(a.logFile)) {
    err << "zovcomp: cannot open the log file \"" << a.logFile << "\"\n";
    return 1;
  }
  const auto t0 = std::chrono::steady_clock::now();
  int rc = -1;
  bool stopped = false;
  {
    StopSignals signals;
    if (run.start(std::move(req), cb)) {
      // Looks at the stop signals every 20 ms; the end of the run is seen as soon as it comes.
      while (run.activeAfter(std::chrono::milliseconds(20))) {
        if (gStopSignal && !stopped) {
          run.stop();
          stopped = true;
        }
      }
      rc = run.wait();
    }
  }
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
  if (terminal && barShown) err << "\n";
  if (!a.quiet && !lastTotal.empty()) out << lastTotal << "\n";
  RunSummary summary;
  summary.frames = run.framesWritten();
  summary.videoBytes = run.outputBytes();
  summary.width = sources[0]->outputWidth();
  summary.height = sources[0]->outputHeight();
  summary.movieSeconds = summary.frames * double(sources[0]->MicroSecPerFrame) / 1e6;
  summary.seconds = seconds;
  {
    const RunStageTimes& t = run.stageTimes();
    summary.readSeconds = t.readOnlySeconds();
    summary.filterSeconds = t.seconds(RunStage::Filter);
    summary.encodeSeconds = t.seconds(RunStage::Encode);
    summary.writeSeconds = t.seconds(RunStage::Write);
  }
  auto finish = [&](int status, const std::string& reason) {
    if (a.statsFile.empty()) return status;
    std::error_code sizeError;
    const auto length = std::filesystem::file_size(a.output, sizeError);
    summary.bytes = sizeError ? 0 : uint64_t(length);
    summary.exitReason = reason;
    summary.exitStatus = status;
    std::ofstream stats(a.statsFile, std::ios::trunc);
    stats << summaryJson(summary);
    if (!stats.flush()) {
      err << "zovcomp: cannot write the statistics file \"" << a.statsFile << "\"\n";
      return status ? status : 1;
    }
    return status;
  };
  if (a.times) {
    // Snapshot before reading the output back, which reads (and filters) the sources again.
    const RunStageTimes& t = run.stageTimes();
    char text[200];
    std::snprintf(text, sizeof text,
                  "Stage times: read %.3f s, filter %.3f s, encode %.3f s, write %.3f s, "
                  "total %.3f s\n",
                  t.readOnlySeconds(), t.seconds(RunStage::Filter), t.seconds(RunStage::Encode),
                  t.seconds(RunStage::Write), seconds);
    out << text;
    // Which kernels ran (ZOV_CPU may force the plain references) and on how many threads.
    out << "Kernels: " << cpuPathName(cpuFlags()) << ", " << a.threads << " thread"
        << (a.threads == 1 ? "" : "s") << "\n";
  }
  if (rc != 0) {
    err << "zovcomp: compression failed\n";
    return finish(1, "failed");
  }
  std::error_code ec;
  const auto size = std::filesystem::file_size(a.output, ec);
  const uint32_t frames = run.framesWritten();
  if (!a.quiet) {
    char text[256];
    summary.bytes = ec ? 0 : uint64_t(size);
    std::snprintf(text, sizeof text,
                  "Wrote %s: %u frames, %llu bytes, ratio %.2f:1, %.2f s, %.1f frames/s, "
                  "%.0f kbit/s\n",
                  a.output.c_str(), frames, (unsigned long long)(ec ? 0 : size),
                  run.outputBytes() ? double(run.rawBytes()) / double(run.outputBytes()) : 0.0,
                  seconds, seconds > 0 ? frames / seconds : 0.0, summary.kilobitsPerSecond());
    out << text;
  }
  if (a.verify && (a.mode == RunMode::Compress || a.mode == RunMode::NoRecompression)) {
    PsnrSum psnr;
    if (!readBack(a.output, sources, frames, a.mode == RunMode::Compress && settings.SingleField,
                  psnr, err)) {
      err << "zovcomp: verification failed\n";
      return finish(1, "verification failed");
    }
    summary.psnr = psnr.psnr();
    if (!a.quiet) {
      char text[128];
      std::snprintf(text, sizeof text, "Verified %u frames, PSNR %.2f dB\n", frames, psnr.psnr());
      out << text;
    }
  }
  if (stopped) {
    // The file is finished and playable, but shorter than asked: tell scripts so.
    const int signal = gStopSignal;
    err << "zovcomp: stopped by " << (signal == SIGINT ? "the user" : strsignal(signal))
        << " after " << frames << " frames\n";
    return finish(128 + signal, std::string("stopped by SIG") + sigabbrev_np(signal));
  }
  return finish(0, cutOff(run) ? "cut off at the size limit" : "finished");
}

}  // namespace

bool parseCompressCommand(const std::vector<std::string>& args, CompressCommand& command,
                          std::ostream& err) {
  std::vector<std::string> copies = args;
  std::vector<char*> argv;
  argv.push_back(const_cast<char*>("compress"));
  for (auto& arg : copies) argv.push_back(arg.data());
  CliArgs a;
  if (parseArgs(int(argv.size()), argv.data(), 1, a, err) != 0) return false;
  if (!resolveSettings(a, command.settings, command.options, err)) return false;
  command.input = a.input;
  command.output = a.output;
  command.audio = a.audio;
  command.mode = a.mode;
  command.first = a.first;
  command.last = a.last;
  if (a.crop) command.crop = {(*a.crop)[0], (*a.crop)[1], (*a.crop)[2], (*a.crop)[3]};
  if (a.letterbox) command.letterbox = {(*a.letterbox)[0], (*a.letterbox)[1]};
  if (a.resize) command.resize = {(*a.resize)[0], (*a.resize)[1]};
  command.interpolate = a.interpolate;
  command.strip = a.strip;
  return true;
}

std::optional<CompressionPreset> parsePreset(std::string_view name) {
  const std::string n = lower(trim(name));
  if (n == "video") return CompressionPreset::Video;
  if (n == "smoke/clouds/rain" || n == "smoke") return CompressionPreset::SmokeCloudsRain;
  if (n == "animation") return CompressionPreset::Animation;
  return std::nullopt;
}

void applyPreset(CompressionPreset preset, CompressionSettings& s, CompressorOptions& o) {
  switch (preset) {
    case CompressionPreset::Video:
      s.CompressionType = 4, s.InterframeDetection = 8, s.NoiseReduction = 50;
      s.ImageLossLevel = 7;
      break;
    case CompressionPreset::SmokeCloudsRain:
      s.CompressionType = 4, s.InterframeDetection = 5, s.NoiseReduction = 15;
      s.ImageLossLevel = 7;
      break;
    case CompressionPreset::Animation:
      s.CompressionType = 0, s.InterframeDetection = 0, s.NoiseReduction = 0;
      s.ImageLossLevel = 0;
      break;
  }
  s.FieldType = kFieldNormal;
  s.FastCompression = false;
  s.EnhancedEdges = true;
  s.KeyRate = 3;
  o.DualInitialKeyFrames = true;
  s.updateDerived();
}

std::optional<FilterEntry> parseFilterArgument(std::string_view text, std::string* error) {
  std::string t = trim(text);
  if (auto k = kindByName(t)) return FilterEntry{*k, kFilterKinds[size_t(*k)].defaultLevel};
  const size_t colon = t.rfind(':');
  if (colon == std::string::npos) {
    if (error) *error = "unknown filter \"" + t + "\"";
    return std::nullopt;
  }
  auto kind = kindByName(t.substr(0, colon));
  if (!kind) {
    if (error) *error = "unknown filter \"" + trim(t.substr(0, colon)) + "\"";
    return std::nullopt;
  }
  const FilterKind& fk = kFilterKinds[size_t(*kind)];
  const std::string lv = trim(t.substr(colon + 1));
  char* end = nullptr;
  const double value = std::strtod(lv.c_str(), &end);
  if (lv.empty() || !end || *end != '\0' || !std::isfinite(value)) {
    if (error) *error = "filter level \"" + lv + "\" is not a number";
    return std::nullopt;
  }
  const double scaled = fk.fractional ? value * 100.0 : value;
  const double rounded = std::round(scaled);
  if (std::fabs(scaled - rounded) > 1e-6 || rounded < fk.minLevel || rounded > fk.maxLevel) {
    char range[128];
    if (fk.fractional)
      std::snprintf(range, sizeof range, "%.2f to %.2f", fk.minLevel / 100.0, fk.maxLevel / 100.0);
    else
      std::snprintf(range, sizeof range, "%d to %d", fk.minLevel, fk.maxLevel);
    if (error) *error = std::string("level of \"") + fk.name + "\" must be " + range;
    return std::nullopt;
  }
  return FilterEntry{*kind, int32_t(rounded)};
}

std::string zovcompUsage() {
  return R"(Usage: zovcomp compress INPUT -o OUTPUT [options]
       zovcomp --list-keys
       zovcomp --help

INPUT is an AVI file, a YUV4MPEG2 file ("-" reads YUV4MPEG2 from standard input, coding
the frames as they arrive; a stream is read once, so --verify is refused for it) or an
edit-list file (its segments are compressed one after the other into one output).

Output:
  -o, --output FILE      the output file
  --mode MODE            compress  ZOV2 AVI file (default)
                         copy      no recompression: the stored ZOV2 frames as they are
                         zev       stream file for the movie server
                         blocks    block file
                         (zev and blocks copy ZOV2 frames as they are and compress any
                         other source first)
Extraction (single source; frames are 1-based; checked like the configuration dialog):
  --first N, --last N    frame range
  --crop L,T,W,H         crop rectangle
  --letterbox TOP,BOTTOM black lines added above and below
  --resize WxH           resize the cropped picture (0 keeps that side)
  --interpolate          resize with interpolation (default); --no-interpolate without
  --strip none|odd|even  field stripping
  --audio WAV            audio for a YUV4MPEG2 source
Settings (applied in this order):
  --settings FILE        start from this zovcomp.ini-style file (default: built-in defaults)
  --preset NAME          "Video", "Smoke/Clouds/Rain" (or "Smoke") or "Animation"
  --set Key=Value        any key of section "General" of zovcomp.ini, e.g. KeyRate=5,
                         ImageLossLevel=0, DataRate=150, CDROMTarget=1 (zovcomp --list-keys
                         lists them with what they accept); an unknown key or a value it does
                         not accept is a usage error
  --print-settings       print the settings the run would use (as zovcomp.ini) and exit
  --filter SPEC          add a filter: a kind name ("Smoothen: Median" or "Median"), or
                         KIND:LEVEL with KIND a name or number 0-8 ("Gamma:1.10", "3:2")
Run:
  --verify               decode every frame as it is written and compare it with the
                         encoder's picture (the run fails on the first difference); then
                         (modes compress and copy) read the output back with the source
                         reader and report the PSNR against the source frames
  --threads N            encoder threads (default: one per core); the output is the same
                         whatever the number
  --quiet, -q            print nothing but errors
  --log FILE             append the run's message lines to FILE
  --times                print the time spent reading, filtering, coding and writing
  --progress KIND        json: one JSON object per frame on standard error (frame, total,
                         bytes, fps, elapsed, eta); bar, lines, or none
  --stats FILE           write a JSON summary at the end: frames, bytes, bpp, kbit/s, PSNR
                         (with --verify), the time split and the exit reason
  -h, --help             this text

Progress: a bar with frame counter, data rate and time remaining on a terminal, plain
"progress" lines otherwise (standard error); the run's message lines go to standard output.
Ctrl-C, SIGTERM, SIGHUP and a closed standard output stop the run after the current frame
and finish the file (exit status 128 + the signal: 130, 143, 129, 141).
Exit status: 0 success, 1 failure, 2 usage error.
)";
}

int zovcompMain(int argc, char** argv, std::ostream& out, std::ostream& err, bool terminal) {
  if (argc < 2) {
    out << "zovcomp: the compressor window is not built yet; use the command line.\n\n"
        << zovcompUsage();
    return 2;
  }
  const std::string cmd = argv[1];
  if (cmd == "--help" || cmd == "-h" || cmd == "help") {
    out << zovcompUsage();
    return 0;
  }
  if (cmd == "--list-keys") {
    out << settingsKeyReference();
    return 0;
  }
  if (cmd != "compress") {
    err << "zovcomp: unknown command \"" << cmd << "\"\n\n" << zovcompUsage();
    return 2;
  }
  for (int i = 2; i < argc; ++i) {
    if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
      out << zovcompUsage();
      return 0;
    }
  }
  CliArgs a;
  if (int rc = parseArgs(argc, argv, 2, a, err)) return rc;
  if (a.printSettings) {
    CompressionSettings settings;
    CompressorOptions options;
    if (!resolveSettings(a, settings, options, err)) return 1;
    printSettings(settings, options, out);
    return 0;
  }
  return compressCommand(a, out, err, terminal);
}

}  // namespace zov

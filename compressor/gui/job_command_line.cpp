#include "compressor/gui/job_command_line.h"

#include <cstdio>

#include "compressor/settings_keys.h"
#include "media/source_file.h"

namespace zov {

namespace {

const char* modeName(RunMode mode) {
  switch (mode) {
    case RunMode::NoRecompression:
      return "copy";
    case RunMode::ZevStream:
      return "zev";
    case RunMode::BlockFile:
      return "blocks";
    default:
      return "compress";
  }
}

std::string filterLevel(const FilterEntry& f) {
  char text[32];
  if (kFilterKinds[size_t(f.kind)].fractional)
    std::snprintf(text, sizeof text, "%d:%.2f", f.kind, f.level / 100.0);
  else
    std::snprintf(text, sizeof text, "%d:%d", f.kind, f.level);
  return text;
}

}  // namespace

std::vector<std::string> jobArguments(const std::string& input, const SourceFile* single,
                                      const std::string& output, RunMode mode,
                                      const CompressionSettings& settings,
                                      const CompressorOptions& options) {
  std::vector<std::string> a{input, "-o", output, "--mode", modeName(mode)};
  if (single) {
    const SourceFile& s = *single;
    if (!s.AudioPath.empty()) a.insert(a.end(), {"--audio", s.AudioPath});
    auto num = [](uint32_t v) { return std::to_string(v); };
    a.insert(a.end(), {"--first", num(s.ExtractionStart + 1), "--last", num(s.ExtractionEnd + 1)});
    a.insert(a.end(), {"--crop", num(s.CropX) + "," + num(s.CropY) + "," + num(s.CropWidth) + "," +
                                     num(s.CropHeight)});
    a.insert(a.end(), {"--letterbox", num(s.LetterBoxTop) + "," + num(s.LetterBoxBottom)});
    a.insert(a.end(), {"--resize", num(s.ResizeWidth) + "x" + num(s.ResizeHeight)});
    a.push_back(s.ResizeInterpolate ? "--interpolate" : "--no-interpolate");
    static const char* const kStrip[] = {"none", "odd", "even"};
    a.insert(a.end(), {"--strip", kStrip[s.ResizeStripType < 3 ? s.ResizeStripType : 0]});
  }
  for (const SettingsKey& key : settingsKeys()) {
    std::string pair = key.key;
    pair += '=';
    pair += settingsKeyText(key, settings, options);
    a.insert(a.end(), {"--set", pair});
  }
  for (const FilterEntry& f : options.Filters) a.insert(a.end(), {"--filter", filterLevel(f)});
  return a;
}

std::string shellQuote(const std::string& word) {
  if (!word.empty() && word.find_first_not_of("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ"
                                              "0123456789_-+=.,:/@%") == std::string::npos)
    return word;
  std::string q = "'";
  for (char c : word) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}

std::string jobCommandLine(const std::vector<std::string>& arguments) {
  std::string line = "zovcomp compress";
  for (const std::string& a : arguments) {
    line += ' ';
    line += shellQuote(a);
  }
  return line;
}

}  // namespace zov

#include "compressor/settings_file.h"

#include <algorithm>
#include <cstdio>
#include <limits>
#include <new>
#include <string>
#include <variant>

#include "compressor/settings_keys.h"
#include "platform/profile.h"
#include "platform/ui.h"

namespace zov {

namespace {

// The keys' fields, defaults and corrections are those of the settings-key table.
using KeyRow = SettingsKey;
using Rule = KeyRule;

// Load order: the keys before the chroma levels, after them, and after the filter list.
const char* const kLoadFirst[] = {"CompressionType", "FieldType",      "InterframeDetection",
                                  "NoiseReduction",  "ImageLossLevel", "ChromaKeying",
                                  "ChromaScreening"};
const char* const kLoadSecond[] = {
    "ChromaAntialiasing",     "ChromaBackground",      "DataRateControl",
    "ForceKeyFrame",          "ForceKeyFramePercent",  "IncreaseKeyRate",
    "IncreaseKeyRatePercent", "IncreaseKeyRateValue",  "DataRate",
    "EnhancedEdges",          "BackgroundDetection",   "BackgroundNoiseReduction",
    "FastCompression",        "TabSettingsLastActive", "KeyRate"};
const char* const kLoadLast[] = {"FilterThumbnailZoom",
                                 "FilterThumbnailLeft",
                                 "FilterThumbnailTop",
                                 "CDROMTarget",
                                 "DualInitialKeyFrames",
                                 "CutOffKBLimitNotify",
                                 "CutOffKBLimit",
                                 "NoAudio",
                                 "MixToMono",
                                 "Make8Bit",
                                 "SampleRate",
                                 "ShowFilter"};

// Save order: the settings (the chroma levels among them), then the filter list, then these.
const char* const kSaveFirst[] = {"CompressionType",
                                  "FieldType",
                                  "InterframeDetection",
                                  "NoiseReduction",
                                  "ChromaKeying",
                                  "ImageLossLevel",
                                  "ChromaScreening",
                                  "ChromaGreen",
                                  "ChromaRed",
                                  "ChromaBlue",
                                  "ChromaAntialiasing",
                                  "ChromaBackground",
                                  "DataRateControl",
                                  "ForceKeyFrame",
                                  "ForceKeyFramePercent",
                                  "IncreaseKeyRate",
                                  "IncreaseKeyRatePercent",
                                  "IncreaseKeyRateValue",
                                  "DataRate",
                                  "EnhancedEdges",
                                  "BackgroundDetection",
                                  "BackgroundNoiseReduction",
                                  "FastCompression",
                                  "TabSettingsLastActive",
                                  "KeyRate"};
const char* const kSaveLast[] = {"FilterThumbnailZoom",
                                 "FilterThumbnailLeft",
                                 "FilterThumbnailTop",
                                 "CDROMTarget",
                                 "DualInitialKeyFrames",
                                 "CutOffKBLimitNotify",
                                 "CutOffKBLimit",
                                 "NoAudio",
                                 "MixToMono",
                                 "Make8Bit",
                                 "SampleRate",
                                 "ShowFilter"};

// The largest data rate in kilobytes whose byte count fits the record.
constexpr uint32_t kMaxDataRateKB = std::numeric_limits<uint32_t>::max() >> 10;

const KeyRow* findRow(std::string_view key) {
  return findSettingsKey(key);
}

// Parses like "%lu": blanks, an optional sign, decimal digits (a minus negates modulo 2^32);
// a number too large for 32 bits saturates. False when there is no digit.
bool parseUnsignedLong(std::string_view text, uint32_t& value) {
  size_t i = 0;
  while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  size_t start = i;
  uint64_t v = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    v = std::min<uint64_t>(v * 10 + uint64_t(text[i] - '0'), 0x100000000ull);
  }
  if (i == start) return false;
  uint32_t u = v > 0xFFFFFFFFull ? 0xFFFFFFFFu : uint32_t(v);
  value = negative ? 0u - u : u;
  return true;
}

struct Records {
  CompressionSettings& settings;
  CompressorOptions& options;
};

template <typename T>
T& fieldOf(Records r, T CompressionSettings::*m) {
  return r.settings.*m;
}
template <typename T>
T& fieldOf(Records r, T CompressorOptions::*m) {
  return r.options.*m;
}

// The field's value as the profile default: its default value, or the current one.
int32_t defaultAsInt(const KeyRow& row, Records current, Records defaults) {
  Records from = row.currentIsDefault ? current : defaults;
  return std::visit(
      [&](auto member) -> int32_t {
        const auto& v = fieldOf(from, member);
        using V = std::decay_t<decltype(v)>;
        if constexpr (std::is_same_v<V, std::string>) {
          return 0;
        } else if constexpr (std::is_same_v<V, bool>) {
          return v ? 1 : 0;
        } else if (row.rule == Rule::KiloBytes) {
          return int32_t(uint32_t(v) >> 10);
        } else {
          return int32_t(v);
        }
      },
      row.field);
}

// A text longer than its key allows is not used cut short (a cut path names another file): it is
// reported and the default kept. False when that happened.
bool loadRow(const ProfileFile& file, std::string_view section, const KeyRow& row, Records r,
             Records defaults) {
  const int32_t dflt = defaultAsInt(row, r, defaults);
  bool usable = true;
  std::visit(
      [&](auto member) {
        auto& field = fieldOf(r, member);
        using V = std::decay_t<decltype(field)>;
        if constexpr (std::is_same_v<V, std::string>) {
          std::string text =
              file.getString(section, row.key, fieldOf(defaults, member), std::string::npos);
          if (text.size() > row.limit) {
            usable = false;
            // Built by appending: GCC 12 warns falsely (-Wrestrict) on "..." + std::string&&.
            std::string message = "\"";
            message.append(row.key).append("\" in \"").append(file.path().string());
            message.append("\" is ").append(std::to_string(text.size()));
            message.append(" characters long; at most ").append(std::to_string(row.limit));
            message.append(" are accepted, so it is not used:\r").append(text);
            messageBox(nullptr, message, kCompressorTitle, MB_OK | MB_ICONSTOP);
            text = fieldOf(defaults, member);
          }
          field = std::move(text);
        } else if constexpr (std::is_same_v<V, bool>) {
          field = file.getInt(section, row.key, dflt) != 0;
        } else if constexpr (std::is_same_v<V, int32_t>) {
          field = int32_t(file.getInt(section, row.key, dflt));
        } else {
          uint32_t v = 0;
          switch (row.rule) {
            case Rule::Clamp:
              v = std::min(file.getInt(section, row.key, dflt), row.limit);
              break;
            case Rule::Reset:
              v = file.getInt(section, row.key, dflt);
              if (v > row.limit) v = uint32_t(dflt);
              break;
            case Rule::KiloBytes:
              // Saturates instead of wrapping: a huge kilobyte count must not become a tiny
              // byte rate.
              v = std::min(file.getInt(section, row.key, dflt), kMaxDataRateKB) << 10;
              break;
            case Rule::SampleRate:
              v = file.getInt(section, row.key, dflt);
              if (v != 0 && v != 11025 && v != 22050) v = 0;
              break;
            case Rule::NumberText: {
              std::string text = file.getString(section, row.key, "", row.limit + 1);
              if (!parseUnsignedLong(text, v)) v = 0;
              break;
            }
            default:
              v = file.getInt(section, row.key, dflt);
              break;
          }
          field = v;
        }
      },
      row.field);
  return usable;
}

// Writes one key; failures are ignored here (only the filter list reports them).
void saveRow(ProfileUpdate& file, std::string_view section, const KeyRow& row, Records r) {
  file.writeString(section, row.key, settingsKeyText(row, r.settings, r.options));
}

bool loadRows(const ProfileFile& file, std::string_view section, const char* const* keys,
              size_t count, Records r, Records defaults) {
  bool usable = true;
  for (size_t i = 0; i < count; ++i) {
    if (const KeyRow* row = findRow(keys[i]))
      usable = loadRow(file, section, *row, r, defaults) && usable;
  }
  return usable;
}

// ---- Chroma levels ----

uint32_t readLevel(const ProfileFile& file, std::string_view section, const char* key,
                   uint32_t dflt) {
  uint32_t v = file.getInt(section, key, int32_t(dflt));
  return v > 31 ? dflt : v;
}

// The key colour (blue for blue screening, green otherwise) is raised to the larger of the
// other two levels, so it is never below them.
void loadChromaLevels(const ProfileFile& file, std::string_view section, CompressionSettings& s) {
  if (s.ChromaScreening == kScreeningBlue) {
    s.ChromaBlue = readLevel(file, section, "ChromaBlue", 0);
    s.ChromaRed = readLevel(file, section, "ChromaRed", 2);
    if (s.ChromaRed > s.ChromaBlue) s.ChromaBlue = s.ChromaRed;
    s.ChromaGreen = readLevel(file, section, "ChromaGreen", 2);
    if (s.ChromaGreen > s.ChromaBlue) s.ChromaBlue = s.ChromaGreen;
  } else {
    s.ChromaGreen = readLevel(file, section, "ChromaGreen", 0);
    s.ChromaRed = readLevel(file, section, "ChromaRed", 2);
    if (s.ChromaRed > s.ChromaGreen) s.ChromaGreen = s.ChromaRed;
    s.ChromaBlue = readLevel(file, section, "ChromaBlue", 2);
    if (s.ChromaBlue > s.ChromaGreen) s.ChromaGreen = s.ChromaBlue;
  }
}

// ---- Filter list ----

void showError(const std::string& text) {
  messageBox(nullptr, text, kCompressorTitle, MB_OK | MB_ICONSTOP);
}

void showError(const char* format, int rc) {
  char text[160];
  std::snprintf(text, sizeof text, format, rc);
  showError(std::string(text));
}

std::string numberedKey(const char* prefix, int n, const char* suffix = "") {
  std::string key(prefix);
  key += std::to_string(n);
  key += suffix;
  return key;
}

void loadFilterList(const ProfileFile& file, CompressorOptions& o) {
  o.Filters.clear();
  o.Filters.shrink_to_fit();
  const char* section = kFilteringSection;

  for (int k = 0; k < kFilterKindCount; ++k) {
    const FilterKind& kind = kFilterKinds[k];
    int32_t level =
        int32_t(file.getInt(section, numberedKey("LastUsedFilter", k, "Level"), kind.defaultLevel));
    o.LastUsedFilterLevel[k] = filterLevelInRange(k, level) ? level : kind.defaultLevel;
  }
  uint32_t selected = file.getInt(section, "LastSelectedFilter", 1) - 1u;
  o.LastSelectedFilter = selected >= uint32_t(kFilterKindCount) ? 0 : selected;

  const uint32_t total = file.getInt(section, "TotalFilters", 0);
  if (total == 0) return;
  // Every entry needs its own keys, so a count beyond the keys present cannot be read whole;
  // reserving only what the file can hold keeps a damaged count from asking for gigabytes.
  const size_t plausible = std::min<size_t>(total, file.keys(section).size());
  std::vector<FilterEntry> list;
  try {
    list.reserve(plausible);
  } catch (const std::bad_alloc&) {
    showError("CFG0001E Unable to allocate a filter list! (not good)");
    return;
  }
  for (uint32_t i = 0; i < total; ++i) {
    uint32_t kind = file.getInt(section, numberedKey("FilterType", int(i)), 0) - 1u;
    if (kind >= uint32_t(kFilterKindCount)) {
      showError(
          "CFG0002E Unintelligible filter list: old filter settings NOT loaded (bad or missing "
          "type)");
      return;
    }
    int32_t level = int32_t(
        file.getInt(section, numberedKey("FilterLevel", int(i)), kFilterKinds[kind].defaultLevel));
    if (!filterLevelInRange(int32_t(kind), level)) {
      showError(
          "CFG0003E Unintelligible filter list: old filter settings NOT loaded (bad or missing "
          "level)");
      return;
    }
    try {
      list.push_back(FilterEntry{int32_t(kind), level});
    } catch (const std::bad_alloc&) {
      showError("CFG0001E Unable to allocate a filter list! (not good)");
      return;
    }
  }
  o.Filters = std::move(list);
}

void saveFilterList(ProfileUpdate& file, const CompressorOptions& o) {
  const char* section = kFilteringSection;
  if (!file.emptySection(section)) {
    showError("CFG0004E Unable to clear old filter settings, rc=%d", file.lastError());
  } else {
    for (int k = 0; k < kFilterKindCount; ++k) {
      if (!file.writeInt(section, numberedKey("LastUsedFilter", k, "Level"),
                         o.LastUsedFilterLevel[k])) {
        showError("CFG0005E Unable to save last used filter levels, rc=%d", file.lastError());
        break;
      }
    }
  }
  if (!file.writeInt(section, "LastSelectedFilter", int32_t(o.LastSelectedFilter + 1))) {
    showError("CFG0006E Unable to save last last selected filter, rc=%d", file.lastError());
  }
  for (size_t i = 0; i < o.Filters.size(); ++i) {
    const FilterEntry& e = o.Filters[i];
    if (!file.writeInt(section, numberedKey("FilterType", int(i)), e.kind + 1) ||
        !file.writeInt(section, numberedKey("FilterLevel", int(i)), e.level)) {
      showError("CFG0007E Unable to save filter settings, rc=%d", file.lastError());
      break;
    }
  }
  if (!file.writeInt(section, "TotalFilters", int32_t(o.Filters.size()))) {
    showError("CFG0008E Unable to save filter settings, rc=%d", file.lastError());
  }
}

}  // namespace

bool loadSettings(std::string_view fileName, std::string_view section,
                  CompressionSettings& settings, CompressorOptions& options) {
  const ProfileFile file(fileName);
  CompressionSettings defaultSettings;
  CompressorOptions defaultOptions;
  Records r{settings, options};
  Records defaults{defaultSettings, defaultOptions};

  bool usable = loadRows(file, section, kLoadFirst, std::size(kLoadFirst), r, defaults);
  settings.updateDerived();
  loadChromaLevels(file, section, settings);
  usable = loadRows(file, section, kLoadSecond, std::size(kLoadSecond), r, defaults) && usable;
  loadFilterList(file, options);
  usable = loadRows(file, section, kLoadLast, std::size(kLoadLast), r, defaults) && usable;
  return usable;
}

void saveSettings(std::string_view fileName, std::string_view section,
                  const CompressionSettings& settings, const CompressorOptions& options) {
  // Every key goes into one replacement of the file.
  ProfileUpdate file(fileName);
  // The rows take mutable records; nothing is changed through them here.
  Records r{const_cast<CompressionSettings&>(settings), const_cast<CompressorOptions&>(options)};
  for (const char* key : kSaveFirst) {
    if (const KeyRow* row = findRow(key)) saveRow(file, section, *row, r);
  }
  saveFilterList(file, options);
  for (const char* key : kSaveLast) {
    if (const KeyRow* row = findRow(key)) saveRow(file, section, *row, r);
  }
  if (!file.commit()) {
    // Nothing reached the file: the filter list's writes all failed, reported as each would
    // have been on its own.
    ProfileUpdate failed(file.path().string());
    failed.refuse(file.lastError());
    saveFilterList(failed, options);
  }
}

// ---- Keys of single owners ----

namespace {

struct OwnerText {
  const char* key;
  std::string CompressorOptions::*field;
};
const OwnerText kFolderKeys[] = {{"SourceFilePath", &CompressorOptions::SourceFilePath},
                                 {"TargetFilePath", &CompressorOptions::TargetFilePath},
                                 {"IniFilePath", &CompressorOptions::IniFilePath}};

struct OwnerSwitch {
  const char* key;
  bool CompressorOptions::*field;
};
const OwnerSwitch kShowKeys[] = {
    {"ShowTrack", &CompressorOptions::ShowTrack},
    {"ShowAudio", &CompressorOptions::ShowAudio},
    {"ShowToolbar", &CompressorOptions::ShowToolbar},
    {"ShowInputAVIThumbnails", &CompressorOptions::ShowInputAVIThumbnails}};

}  // namespace

void loadMainWindowOptions(std::string_view fileName, std::string_view section,
                           CompressorOptions& options) {
  const ProfileFile file(fileName);
  const CompressorOptions defaults;
  // A path longer than the keys hold is not remembered rather than cut into another path.
  auto path = [&](const std::string& key) {
    std::string text = file.getString(section, key, "", std::string::npos);
    return text.size() > kPathMaxChars ? std::string() : text;
  };
  for (const OwnerText& t : kFolderKeys) options.*t.field = path(t.key);
  for (int i = 0; i < kFileRecallCount; ++i)
    options.FileRecall[i] = path(numberedKey("FileRecall", i + 1));
  for (const OwnerSwitch& s : kShowKeys) {
    options.*s.field = file.getInt(section, s.key, defaults.*s.field ? 1 : 0) != 0;
  }
}

void saveMainWindowOptions(std::string_view fileName, std::string_view section,
                           const CompressorOptions& options) {
  ProfileUpdate file(fileName);
  // A path longer than the keys hold is saved empty (not remembered), never cut short: cut, it
  // would name another folder or file.
  auto fitting = [](const std::string& path) {
    return path.size() > kPathMaxChars ? std::string_view() : std::string_view(path);
  };
  for (const OwnerText& t : kFolderKeys)
    file.writeString(section, t.key, fitting(options.*t.field));
  for (int i = 0; i < kFileRecallCount; ++i)
    file.writeString(section, numberedKey("FileRecall", i + 1), fitting(options.FileRecall[i]));
  for (const OwnerSwitch& s : kShowKeys)
    file.writeString(section, s.key, options.*s.field ? "1" : "0");
  file.commit();
}

uint32_t readPackPadding(std::string_view fileName, std::string_view section) {
  return ProfileFile(fileName).getInt(section, "PackPadding", 0);
}

uint32_t readReportPad(std::string_view fileName, std::string_view section) {
  return ProfileFile(fileName).getInt(section, "ReportPad", 0);
}

bool readRemoveAudio(std::string_view fileName, std::string_view section) {
  return ProfileFile(fileName).getInt(section, "RemoveAudio", 0) != 0;
}

uint32_t readGotoFrame(std::string_view fileName, std::string_view section) {
  std::string text;
  uint32_t frame = 0;
  if (!ProfileFile(fileName).lookup(section, "GotoFrame", text)) return 0;
  return parseUnsignedLong(text, frame) ? frame : 0;
}

void writeGotoFrame(std::string_view fileName, std::string_view section, uint32_t frame) {
  ProfileFile(fileName).writeString(section, "GotoFrame", std::to_string(frame));
}

}  // namespace zov

#include "compressor/settings_keys.h"

#include <algorithm>
#include <limits>

namespace zov {

namespace {

using CS = CompressionSettings;
using CO = CompressorOptions;

// The largest data rate in kilobytes whose byte count fits the record.
constexpr uint32_t kMaxDataRateKB = std::numeric_limits<uint32_t>::max() >> 10;
constexpr uint32_t kChromaLevelMax = 31;

const SettingsKey kKeys[] = {
    {"KeyRate", &CS::KeyRate, KeyRule::Clamp, 100, false, KeyUse::Settings,
     "\"# Frames Between Keyframes\""},
    {"FastCompression", &CS::FastCompression, KeyRule::Switch, 0, false, KeyUse::Settings,
     "\"Fast Compression (for preview test)\": every frame a key frame"},
    {"ImageLossLevel", &CS::ImageLossLevel, KeyRule::Clamp, 7, false, KeyUse::Settings,
     "\"Image Loss Level\", 0 = lossless"},
    {"CompressionType", &CS::CompressionType, KeyRule::Clamp, 4, false, KeyUse::Settings,
     "colour space: 0 RGB, 1 YCrCb 4:2:2, 2 YCrCb 4:1:1, 3 YCrCb 8:1:1, 4 YCrCb 16:1:1"},
    {"FieldType", &CS::FieldType, KeyRule::Reset, 2, false, KeyUse::Settings,
     "0 Normal, 1 Single Field Only, 2 Wide Field"},
    {"InterframeDetection", &CS::InterframeDetection, KeyRule::Clamp, 25, false, KeyUse::Settings,
     "\"Interframe Detection\""},
    {"NoiseReduction", &CS::NoiseReduction, KeyRule::Clamp, 150, false, KeyUse::Settings,
     "\"Noise Reduction\""},
    {"BackgroundDetection", &CS::BackgroundDetection, KeyRule::Clamp, 25, false, KeyUse::Settings,
     "\"Background Detection\" (background screening)"},
    {"BackgroundNoiseReduction", &CS::BackgroundNoiseReduction, KeyRule::Clamp, 150, false,
     KeyUse::Settings, "\"Backgound Noise Reduction\""},
    {"EnhancedEdges", &CS::EnhancedEdges, KeyRule::Switch, 0, false, KeyUse::Settings,
     "\"Retain Edge Sharpness (for max detail)\""},
    {"ChromaKeying", &CS::ChromaKeying, KeyRule::Switch, 0, false, KeyUse::Settings,
     "chroma keying on"},
    {"ChromaScreening", &CS::ChromaScreening, KeyRule::Reset, 2, false, KeyUse::Settings,
     "0 green screening, 1 blue screening, 2 background screening"},
    {"ChromaGreen", &CS::ChromaGreen, KeyRule::Level, kChromaLevelMax, false, KeyUse::Settings,
     "green level; raised to the other levels unless blue screening", "0 (blue screening: 2)"},
    {"ChromaRed", &CS::ChromaRed, KeyRule::Level, kChromaLevelMax, false, KeyUse::Settings,
     "red level", "2"},
    {"ChromaBlue", &CS::ChromaBlue, KeyRule::Level, kChromaLevelMax, false, KeyUse::Settings,
     "blue level; raised to the other levels with blue screening", "2 (blue screening: 0)"},
    {"ChromaAntialiasing", &CS::ChromaAntialiasing, KeyRule::Switch, 0, false, KeyUse::Settings,
     "\"Chroma Edge Blending\""},
    {"ChromaBackground", &CS::ChromaBackground, KeyRule::Text, uint32_t(kChromaBackgroundMaxChars),
     false, KeyUse::Settings, "path of the chroma-key background bitmap"},
    {"DataRateControl", &CS::DataRateControl, KeyRule::Switch, 0, false, KeyUse::Settings,
     "data-rate control on"},
    {"DataRate", &CS::DataRate, KeyRule::KiloBytes, 0, false, KeyUse::Settings,
     "target data rate in kilobytes per second"},
    {"ForceKeyFrame", &CS::ForceKeyFrame, KeyRule::Switch, 0, false, KeyUse::Settings,
     "\"Force Key Frame\""},
    {"ForceKeyFramePercent", &CS::ForceKeyFramePercent, KeyRule::Clamp, 100, false,
     KeyUse::Settings, "\"Force Key Frame If Below Percent\""},
    {"IncreaseKeyRate", &CS::IncreaseKeyRate, KeyRule::Switch, 0, false, KeyUse::Settings,
     "\"Increase Key Rate\""},
    {"IncreaseKeyRatePercent", &CS::IncreaseKeyRatePercent, KeyRule::Clamp, 100, false,
     KeyUse::Settings, "\"Increase Key Rate If Above Percent\""},
    {"IncreaseKeyRateValue", &CS::IncreaseKeyRateValue, KeyRule::Clamp, 100, false,
     KeyUse::Settings, "\"Key Rate Value\""},
    {"TabSettingsLastActive", &CO::TabSettingsLastActive, KeyRule::Reset, 7, false,
     KeyUse::Settings, "configuration page shown last"},
    {"DualInitialKeyFrames", &CO::DualInitialKeyFrames, KeyRule::Switch, 0, false, KeyUse::Settings,
     "\"Dual Initial KeyFrames (for smooth play)\""},
    {"CDROMTarget", &CO::CDROMTarget, KeyRule::Switch, 0, false, KeyUse::Settings,
     "\"CD-ROM Target\": 2K padding for CD-ROM playback"},
    {"CutOffKBLimit", &CO::CutOffKBLimit, KeyRule::NumberText, 7, false, KeyUse::Settings,
     "compressed-file size in KB at which the run stops; 0 = no limit"},
    {"CutOffKBLimitNotify", &CO::CutOffKBLimitNotify, KeyRule::Switch, 0, false, KeyUse::Settings,
     "only report the frame where the limit is reached, don't stop"},
    {"NoAudio", &CO::NoAudio, KeyRule::Switch, 0, false, KeyUse::Settings, "\"No Audio\""},
    {"MixToMono", &CO::MixToMono, KeyRule::Switch, 0, false, KeyUse::Settings,
     "\"Convert Stereo to Mono\""},
    {"Make8Bit", &CO::Make8Bit, KeyRule::Switch, 0, false, KeyUse::Settings,
     "\"Convert 16-bit to 8-bit\""},
    {"SampleRate", &CO::SampleRate, KeyRule::SampleRate, 0, false, KeyUse::Settings,
     "audio sample rate in Hz; 0 = do not downsample"},
    {"ShowFilter", &CO::ShowFilter, KeyRule::Switch, 0, false, KeyUse::Settings,
     "filtered-source view shown"},
    {"FilterThumbnailZoom", &CO::FilterThumbnailZoom, KeyRule::Clamp, 6, true, KeyUse::Settings,
     "zoom of the filter preview"},
    {"FilterThumbnailLeft", &CO::FilterThumbnailLeft, KeyRule::Signed, 0, true, KeyUse::Settings,
     "left of the filter preview in the source frame"},
    {"FilterThumbnailTop", &CO::FilterThumbnailTop, KeyRule::Signed, 0, true, KeyUse::Settings,
     "top of the filter preview in the source frame"},
    {"PackPadding", &CO::PackPadding, KeyRule::Plain, 0, false, KeyUse::ReadByOwner,
     "read by the compression run, never written"},
    {"ReportPad", &CO::ReportPad, KeyRule::Plain, 0, false, KeyUse::ReadByOwner,
     "read by the compression run and the input window, never written"},
    {"RemoveAudio", &CO::RemoveAudio, KeyRule::Switch, 0, false, KeyUse::ReadByOwner,
     "the sources' audio is not opened; never written"},
};

char lower(char c) {
  return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c;
}

bool equalsNoCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(),
                                            [](char x, char y) { return lower(x) == lower(y); });
}

template <typename T>
T& fieldOf(CompressionSettings& s, CompressorOptions&, T CompressionSettings::*m) {
  return s.*m;
}
template <typename T>
T& fieldOf(CompressionSettings&, CompressorOptions& o, T CompressorOptions::*m) {
  return o.*m;
}

// Strict decimal: digits only (a leading minus when `allowMinus`), within [lo, hi].
bool parseStrict(std::string_view text, bool allowMinus, int64_t lo, int64_t hi, int64_t& value) {
  bool negative = allowMinus && !text.empty() && text[0] == '-';
  if (negative) text.remove_prefix(1);
  if (text.empty() || text.size() > 10) return false;
  int64_t v = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    v = v * 10 + (c - '0');
  }
  if (negative) v = -v;
  if (v < lo || v > hi) return false;
  value = v;
  return true;
}

}  // namespace

std::span<const SettingsKey> settingsKeys() {
  return kKeys;
}

const SettingsKey* findSettingsKey(std::string_view name) {
  for (const SettingsKey& k : kKeys) {
    if (equalsNoCase(name, k.key)) return &k;
  }
  return nullptr;
}

std::string settingsKeyText(const SettingsKey& key, const CompressionSettings& settings,
                            const CompressorOptions& options) {
  // Reading only; the accessors take mutable records.
  auto& s = const_cast<CompressionSettings&>(settings);
  auto& o = const_cast<CompressorOptions&>(options);
  return std::visit(
      [&](auto member) -> std::string {
        const auto& v = fieldOf(s, o, member);
        using V = std::decay_t<decltype(v)>;
        if constexpr (std::is_same_v<V, std::string>) {
          return std::string(std::string_view(v).substr(0, key.limit));
        } else if constexpr (std::is_same_v<V, bool>) {
          return v ? "1" : "0";
        } else if (key.rule == KeyRule::KiloBytes) {
          return std::to_string(int32_t(uint32_t(v) >> 10));
        } else {
          // "%d" for every number: a value read as "-1" is written back as "-1".
          return std::to_string(int32_t(v));
        }
      },
      key.field);
}

std::string settingsKeyDefault(const SettingsKey& key) {
  if (key.defaultText) return key.defaultText;
  std::string text = settingsKeyText(key, defaultCompressionSettings(), defaultCompressorOptions());
  if (key.rule == KeyRule::Text && text.empty()) return "(empty)";
  return text;
}

std::string settingsKeyAccepts(const SettingsKey& key) {
  const std::string limit = std::to_string(key.limit);
  switch (key.rule) {
    case KeyRule::Clamp:
    case KeyRule::Reset:
    case KeyRule::Level:
      return "0.." + limit;
    case KeyRule::Plain:
      return "0..4294967295";
    case KeyRule::Switch:
      return "0 or 1";
    case KeyRule::Signed:
      return "-2147483648..2147483647";
    case KeyRule::Text:
      return "text of at most " + limit + " characters";
    case KeyRule::KiloBytes:
      return "0.." + std::to_string(kMaxDataRateKB);
    case KeyRule::SampleRate:
      return "0, 11025 or 22050";
    case KeyRule::NumberText:
      return "0.." + std::string(key.limit, '9');
  }
  return {};
}

bool setSettingsKey(const SettingsKey& key, std::string_view text, CompressionSettings& settings,
                    CompressorOptions& options, std::string& error) {
  int64_t v = 0;
  bool ok = true;
  switch (key.rule) {
    case KeyRule::Clamp:
    case KeyRule::Reset:
    case KeyRule::Level:
      ok = parseStrict(text, false, 0, key.limit, v);
      break;
    case KeyRule::Plain:
      ok = parseStrict(text, false, 0, std::numeric_limits<uint32_t>::max(), v);
      break;
    case KeyRule::Switch:
      ok = parseStrict(text, false, 0, 1, v);
      break;
    case KeyRule::Signed:
      ok = parseStrict(text, true, std::numeric_limits<int32_t>::min(),
                       std::numeric_limits<int32_t>::max(), v);
      break;
    case KeyRule::Text:
      ok = text.size() <= key.limit;
      break;
    case KeyRule::KiloBytes:
      ok = parseStrict(text, false, 0, kMaxDataRateKB, v);
      v <<= 10;
      break;
    case KeyRule::SampleRate:
      ok = parseStrict(text, false, 0, 22050, v) && (v == 0 || v == 11025 || v == 22050);
      break;
    case KeyRule::NumberText:
      ok = text.size() <= key.limit && parseStrict(text, false, 0, 9999999, v);
      break;
  }
  if (!ok) {
    error = std::string(key.key) + " accepts " + settingsKeyAccepts(key) + ", not \"" +
            std::string(text) + "\"";
    return false;
  }
  std::visit(
      [&](auto member) {
        auto& field = fieldOf(settings, options, member);
        using V = std::decay_t<decltype(field)>;
        if constexpr (std::is_same_v<V, std::string>) {
          field = std::string(text);
        } else if constexpr (std::is_same_v<V, bool>) {
          field = v != 0;
        } else {
          field = V(v);
        }
      },
      key.field);
  return true;
}

void keepKeyColourHighest(CompressionSettings& s) {
  uint32_t& key = s.ChromaScreening == kScreeningBlue ? s.ChromaBlue : s.ChromaGreen;
  key = std::max({s.ChromaGreen, s.ChromaRed, s.ChromaBlue});
}

std::string settingsKeyReference() {
  size_t nameWidth = 3, defaultWidth = 7, acceptsWidth = 7;
  for (const SettingsKey& k : kKeys) {
    nameWidth = std::max(nameWidth, std::string_view(k.key).size());
    defaultWidth = std::max(defaultWidth, settingsKeyDefault(k).size());
    acceptsWidth = std::max(acceptsWidth, settingsKeyAccepts(k).size());
  }
  auto pad = [](std::string s, size_t width) {
    s.resize(std::max(s.size(), width), ' ');
    return s;
  };
  std::string out = pad("KEY", nameWidth) + "  " + pad("DEFAULT", defaultWidth) + "  " +
                    pad("ACCEPTS", acceptsWidth) + "  MEANING\n";
  for (const SettingsKey& k : kKeys) {
    out += pad(k.key, nameWidth) + "  " + pad(settingsKeyDefault(k), defaultWidth) + "  " +
           pad(settingsKeyAccepts(k), acceptsWidth) + "  " + k.meaning + "\n";
  }
  return out;
}

}  // namespace zov

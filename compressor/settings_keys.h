// The one table of the compressor's settings keys (section "General" of "zovcomp.ini"): per key
// its field in the records, its default, the values it accepts and the correction the file
// loader applies. The settings file's load and save, "zovcomp compress --set", the window's job
// command line and "zovcomp --list-keys" (docs/SETTINGS.md) all work from it.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <variant>

#include "encoder/compression_settings.h"

namespace zov {

// How a key's text becomes the field's value, and what the file loader corrects.
enum class KeyRule {
  Clamp,       // unsigned 0..limit; the loader makes a larger value `limit`
  Reset,       // unsigned 0..limit; the loader makes a larger value the default
  Plain,       // unsigned, any 32-bit value
  Level,       // a chroma level 0..limit, loaded by the key-colour rule
  Switch,      // "1"/"0"; the loader takes any non-zero value as on
  Signed,      // signed 32-bit value (the loader takes the unsigned read as signed)
  Text,        // at most `limit` characters (the loader cuts a longer text)
  KiloBytes,   // the file holds kilobytes, the record bytes
  SampleRate,  // 0, 11025 or 22050; the loader makes anything else 0
  NumberText,  // at most `limit` digits; the loader reads the text cut to `limit` like "%lu"
};

// Who reads the key: loaded and saved with the settings, or read on its own by the part that
// uses it ("PackPadding", "ReportPad", "RemoveAudio": never written to the file).
enum class KeyUse { Settings, ReadByOwner };

using KeyField = std::variant<uint32_t CompressionSettings::*, bool CompressionSettings::*,
                              std::string CompressionSettings::*, uint32_t CompressorOptions::*,
                              bool CompressorOptions::*, int32_t CompressorOptions::*>;

struct SettingsKey {
  const char* key;
  KeyField field;
  KeyRule rule;
  uint32_t limit = 0;
  // The value held before loading is the default (the filter preview position and zoom).
  bool currentIsDefault = false;
  KeyUse use = KeyUse::Settings;
  const char* meaning = "";
  // The file default when it is not the record's initial value (the chroma levels).
  const char* defaultText = nullptr;
};

inline constexpr const char* kSettingsKeysSection = "General";

// Every key, in the order of the reference.
std::span<const SettingsKey> settingsKeys();
// The key of this name, matched without regard to case as the file matches it; null if none.
const SettingsKey* findSettingsKey(std::string_view name);

// The key's value as the settings file holds it ("%d" numbers, "1"/"0", kilobytes, text).
std::string settingsKeyText(const SettingsKey& key, const CompressionSettings& settings,
                            const CompressorOptions& options);
// The default as the reference shows it, and the values the key accepts.
std::string settingsKeyDefault(const SettingsKey& key);
std::string settingsKeyAccepts(const SettingsKey& key);

// Sets the field from command-line text, strictly: a value that is not a number where a number
// is expected, or lies outside what the key accepts, is refused with `error` naming the key and
// what it accepts (nothing is changed).
bool setSettingsKey(const SettingsKey& key, std::string_view text, CompressionSettings& settings,
                    CompressorOptions& options, std::string& error);

// The key colour (blue for blue screening, green otherwise) is never below the other two levels.
void keepKeyColourHighest(CompressionSettings& settings);

// The reference of every key: name, default, accepted values and meaning, one per line.
std::string settingsKeyReference();

}  // namespace zov

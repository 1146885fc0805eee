// Loading and saving the compressor's settings file "zovcomp.ini".
//
// Section "General" holds the compression settings and the process-wide options; section
// "Filtering" holds the filter list and, per filter kind, the level last used. Values are decimal
// text, switches "1"/"0". Loading corrects out-of-range values without a message (comparisons
// are unsigned, so a negative number in the file counts as very large); only a damaged filter
// list is reported, in a message box titled "ZOV Compressor". Saving writes every key in a fixed
// order; failures to save the filter list are reported, other write failures are ignored.
//
// The window placements, recent folders and files, view switches and the keys read by single
// owners ("PackPadding", "ReportPad", "RemoveAudio", "GotoFrame") are not part of loadSettings /
// saveSettings; the helpers at the end serve those owners.
#pragma once

#include <string_view>

#include "encoder/compression_settings.h"
#include "media/source_messages.h"  // kCompressorTitle

namespace zov {

inline constexpr const char* kCompressorSettingsFile = "zovcomp.ini";
inline constexpr const char* kGeneralSection = "General";
inline constexpr const char* kFilteringSection = "Filtering";

// Reads the settings and options (and the filter list) from the file; what the file lacks or
// holds out of range takes its default. The filter list held before is dropped. A bad filter
// list is reported by message box and leaves the list empty. A text longer than its key allows
// (a background bitmap path of more than 79 characters) is reported and not used: false then.
bool loadSettings(std::string_view fileName, std::string_view section,
                  CompressionSettings& settings, CompressorOptions& options);

// Writes the same keys back. Section "Filtering" is rewritten from scratch.
void saveSettings(std::string_view fileName, std::string_view section,
                  const CompressionSettings& settings, const CompressorOptions& options);

// ---- Keys read and written by their owners ----

// "SourceFilePath", "TargetFilePath", "IniFilePath", "FileRecall1".."FileRecall8", "ShowTrack",
// "ShowAudio", "ShowToolbar", "ShowInputAVIThumbnails": read by the main window at start and
// written by it at exit, after saveSettings.
void loadMainWindowOptions(std::string_view fileName, std::string_view section,
                           CompressorOptions& options);
void saveMainWindowOptions(std::string_view fileName, std::string_view section,
                           const CompressorOptions& options);

// "PackPadding" and "ReportPad" (read by the compression run and the input window),
// "RemoveAudio" (read each time a source is opened), "GotoFrame" (the Goto Frame dialog).
uint32_t readPackPadding(std::string_view fileName, std::string_view section);
uint32_t readReportPad(std::string_view fileName, std::string_view section);
bool readRemoveAudio(std::string_view fileName, std::string_view section);
// The last frame number entered (1-based), parsed like "%lu"; 0 when none.
uint32_t readGotoFrame(std::string_view fileName, std::string_view section);
void writeGotoFrame(std::string_view fileName, std::string_view section, uint32_t frame);

}  // namespace zov

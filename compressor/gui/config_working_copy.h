// The configuration dialog's working copy: every value its pages edit, copied in when the
// dialog opens and copied back only at "Ok!". The resets of pages that are not on screen and
// the compression presets work on it alone, so they run without a window.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "compressor/settings_validation.h"
#include "encoder/compression_settings.h"

namespace zov {

class SourceFile;

// The pages in tab order; the index is "TabSettingsLastActive".
enum ConfigPageIndex : int {
  kPageExtractCrop = 0,
  kPageFiltering = 1,
  kPageCompression = 2,
  kPageChroma = 3,
  kPageDataRate = 4,
  kPageCutOff = 5,
  kPageAudio = 6,
  kPagePadding = 7,
};
inline constexpr int kConfigPageCount = 8;

// Tab text and page template of each page.
struct ConfigPageInfo {
  const char* tabText;
  const char* pageTemplate;
};
extern const ConfigPageInfo kConfigPages[kConfigPageCount];

// The presets of "Compression Defaults".
enum CompressionPreset : int {
  kPresetVideo = 0,
  kPresetSmokeCloudsRain = 1,
  kPresetAnimation = 2,
};

// The extraction fields of the current source: the values page 0 edits (frames 1-based, as the
// page shows them) and the resize interpolation switch.
struct SourceExtraction {
  ExtractionValues values;
  bool ResizeInterpolate = true;
};
SourceExtraction sourceExtractionOf(const SourceFile& source);
void storeSourceExtraction(const SourceExtraction& values, SourceFile& source);
// True when the source is already a ZOV2 file.
bool isZov2Source(const SourceFile* source);

// The option values the pages edit.
struct ConfigOptions {
  bool DualInitialKeyFrames = true;
  bool NoAudio = false;
  bool MixToMono = false;
  bool Make8Bit = false;
  uint32_t SampleRate = 0;
  uint32_t CutOffKBLimit = 0;
  bool CutOffKBLimitNotify = false;
  bool CDROMTarget = false;
};

class ConfigWorkingCopy {
 public:
  // Copies everything in. source may be null.
  ConfigWorkingCopy(const CompressionSettings& settings, const CompressorOptions& options,
                    SourceFile* source);

  CompressionSettings settings;  // copies of every field edited by the pages
  std::vector<FilterEntry> filters;
  ConfigOptions options;
  SourceExtraction extraction;

  SourceFile* source() const { return source_; }
  bool zov2() const { return zov2_; }
  uint32_t sourceFrameCount() const;
  uint32_t sourceWidth() const;
  uint32_t sourceHeight() const;

  // "Ok!": copies everything back (the process's filter list is replaced by the copy's).
  void commit(CompressionSettings& target, CompressorOptions& targetOptions,
              SourceFile* targetSource) const;

  // ---- Page resets that work on the copy alone (pages not on screen) ----
  void resetExtraction();        // page 0, not on screen
  void resetFiltering();         // page 1
  void applyPreset(int preset);  // page 2 (nothing for a ZOV2 source)
  void resetChroma();            // page 3
  void resetDataRate();          // page 4
  void resetCutOff();            // page 5
  void resetAudio();             // page 6
  void resetPadding();           // page 7
  // Resets page `index` in the copy (page 2 needs a preset, see applyPreset).
  void resetPage(int index);

 private:
  SourceFile* source_;
  bool zov2_;
};

// The order in which "Restore ALL pages to &defaults" resets the pages after the compression
// page.
inline constexpr int kRestoreAllOrder[] = {0, 5, 6, 7, 1, 3, 4};

}  // namespace zov

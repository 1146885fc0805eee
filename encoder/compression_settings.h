// The compressor's one settings record and the process-wide options beside it.
//
// CompressionSettings holds every choice that shapes a compression; the compression run reads it
// and the encoder keeps its run-time state in the same record (the EncoderState base).
// CompressorOptions holds the process-wide values of the compressor (audio conversion, CD-ROM
// padding, size cut-off, the filter list, view switches, recent folders and files).
//
// Both are loaded from "zovcomp.ini" once at start and written back once at exit (see
// compressor/settings_file.h). Field names are the settings keys; the member initialisers are the
// values a missing settings file yields.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "encoder/encoder_state.h"

namespace zov {

// Colour spaces of CompressionType.
enum : uint32_t {
  kCompressionRgb = 0,
  kCompressionYCrCb422 = 1,
  kCompressionYCrCb411 = 2,
  kCompressionYCrCb811 = 3,
  kCompressionYCrCb1611 = 4,
};

// Values of FieldType.
enum : uint32_t {
  kFieldNormal = 0,
  kFieldSingle = 1,
  kFieldWide = 2,
};

// Values of ChromaScreening.
enum : uint32_t {
  kScreeningGreen = 0,
  kScreeningBlue = 1,
  kScreeningBackground = 2,
};

// Most threads an encoder starts (more are clamped to this).
inline constexpr uint32_t kMaxEncoderThreads = 64;

// Longest ChromaBackground path kept (the record held it in 80 bytes with the terminator).
inline constexpr size_t kChromaBackgroundMaxChars = 79;

struct CompressionSettings : EncoderState {
  uint32_t KeyRate = 3;  // "# Frames Between Keyframes", 0..100
  bool FastCompression = false;
  uint32_t ImageLossLevel = 7;                       // 0..7, 0 = lossless
  bool Lossy = true;                                 // derived: ImageLossLevel != 0; not stored
  uint32_t CompressionType = kCompressionYCrCb1611;  // 0..4
  uint32_t FieldType = kFieldNormal;                 // 0..2
  bool SingleField = false;                          // derived: FieldType == 1; not stored
  bool WideField = false;                            // derived: FieldType == 2; not stored
  uint32_t InterframeDetection = 8;                  // 0..25
  uint32_t NoiseReduction = 50;                      // 0..150
  uint32_t BackgroundDetection = 8;                  // 0..25
  uint32_t BackgroundNoiseReduction = 50;            // 0..150
  bool EnhancedEdges = true;
  bool ChromaKeying = false;
  uint32_t ChromaScreening = kScreeningGreen;  // 0..2
  // Chroma levels 0..31. The key colour (blue for blue screening, green otherwise) is never
  // below the other two; with green screening and the file's defaults all three come out as 2.
  uint32_t ChromaGreen = 2;
  uint32_t ChromaRed = 2;
  uint32_t ChromaBlue = 2;
  bool ChromaAntialiasing = true;  // "Chroma Edge Blending"
  std::string ChromaBackground;    // background bitmap path, at most 79 characters
  bool DataRateControl = false;
  uint32_t DataRate = 0;  // bytes per second; the settings file holds kilobytes
  bool ForceKeyFrame = false;
  uint32_t ForceKeyFramePercent = 2;  // 0..100
  bool IncreaseKeyRate = false;
  uint32_t IncreaseKeyRatePercent = 50;  // 0..100
  uint32_t IncreaseKeyRateValue = 6;     // 0..100
  // Threads the encoder splits each frame's work over (zovcomp --threads). Not a settings-file
  // key: the codec library keeps one thread per instance. The output does not depend on it.
  uint32_t threads = 1;

  // Recomputes the derived switches from the values they follow.
  // The encoder state a run starts with: loss only when a lossy colour space is chosen and fast
  // compression is off, the periodic key-frame countdown (none with fast compression or a key
  // rate of 0), and capture of the chroma background when none is given.
  void prepareRun(bool backgroundGiven) {
    if (!FastCompression) {
      LossyActive = CompressionType != 0 && Lossy;
      KeyCountdown = KeyRate + 1;
    } else {
      LossyActive = false;
      KeyCountdown = 0;
    }
    if (KeyCountdown == 1) KeyCountdown = 0;
    CaptureBackground = ChromaKeying && ChromaScreening == kScreeningBackground && !backgroundGiven;
  }
  void updateDerived() {
    Lossy = ImageLossLevel != 0;
    SingleField = FieldType == kFieldSingle;
    WideField = FieldType == kFieldWide;
  }
};

// ---- Filter kinds and the filter list ----

inline constexpr int kFilterKindCount = 9;

// One row of the fixed table of filter kinds; the row number is the kind index.
struct FilterKind {
  const char* name;       // shown in lists
  bool fractional;        // level shown as hundredths (105 = 1.05)
  bool perLevelRoutines;  // one routine per level value (run routine level - 1)
  int32_t minLevel;
  int32_t maxLevel;
  int32_t defaultLevel;
  const char* dialogTemplate;  // the level dialog
  const char* dialogTitle;
};

enum : int32_t {
  kFilterInvertedLowPass = 0,
  kFilterHighPass = 1,
  kFilterMedian = 2,
  kFilterLowPass = 3,
  kFilterFlatten = 4,
  kFilterRip = 5,
  kFilterGamma = 6,
  kFilterBrightness = 7,
  kFilterContrast = 8,
};

inline constexpr std::array<FilterKind, kFilterKindCount> kFilterKinds = {{
    {"Sharpen: Inverted Low-Pass", false, true, 1, 4, 1, "DlgFilterInvertedLowPass",
     "Inverted Low-Pass Filter"},
    {"Sharpen: High-Pass", false, true, 1, 1, 1, "DlgFilterHighPass", "High-Pass Filter"},
    {"Smoothen: Median", false, true, 1, 1, 1, "DlgFilterMedian", "Median Filter"},
    {"Smoothen: Low-Pass", false, true, 1, 4, 1, "DlgFilterLowPass", "Low-Pass Filter"},
    {"Smoothen: Flatten", false, false, 1, 5, 1, "DlgFilterFlatten", "Flatten Filter"},
    {"Smoothen: Rip", false, false, 1, 1, 1, "DlgFilterRip", "Rip Filter"},
    {"Lighting: Gamma", true, false, -300, 300, 105, "DlgFilterGamma", "Gamma Filter"},
    {"Lighting: Brightness", false, false, -15, 15, 1, "DlgFilterBrightness", "Brightness Filter"},
    {"Lighting: Contrast", true, false, -300, 300, 105, "DlgFilterContrast", "Contrast Filter"},
}};

// True when kind is a valid kind index (0..8).
inline bool isFilterKind(int32_t kind) {
  return kind >= 0 && kind < kFilterKindCount;
}
// True when level lies within the kind's range (kind must be valid).
inline bool filterLevelInRange(int32_t kind, int32_t level) {
  return level >= kFilterKinds[kind].minLevel && level <= kFilterKinds[kind].maxLevel;
}

// One entry of the filter list: the kind index (0..8) and the level within the kind's range.
struct FilterEntry {
  int32_t kind = 0;
  int32_t level = 1;
  bool operator==(const FilterEntry&) const = default;
};

// The default level of every kind, in kind order.
constexpr std::array<int32_t, kFilterKindCount> defaultFilterLevels() {
  std::array<int32_t, kFilterKindCount> levels{};
  for (int k = 0; k < kFilterKindCount; ++k) levels[k] = kFilterKinds[k].defaultLevel;
  return levels;
}

// ---- Process-wide options ----

inline constexpr int kFileRecallCount = 8;
inline constexpr size_t kPathMaxChars = 259;  // folders and recalled files (MAX_PATH - 1)

struct CompressorOptions {
  uint32_t TabSettingsLastActive = 0;  // configuration page shown last, 0..7
  bool DualInitialKeyFrames = true;
  bool CDROMTarget = false;          // pad the output for CD-ROM playback (2K alignment)
  uint32_t CutOffKBLimit = 0;        // compressed-file size in KB at which the run stops; 0 = none
  bool CutOffKBLimitNotify = false;  // only report the frame at the limit, don't stop
  bool NoAudio = false;
  bool MixToMono = false;
  bool Make8Bit = false;
  uint32_t SampleRate = 0;           // 0 (keep), 22050 or 11025
  bool ShowFilter = true;            // filtered-source view shows the filtered frame
  uint32_t FilterThumbnailZoom = 0;  // 0 = fit, else 2^(zoom-1)x, at most 6
  int32_t FilterThumbnailLeft = 0;
  int32_t FilterThumbnailTop = 0;
  // Read-only keys, read by their owners (the compression run, the input window, the source
  // reader); never written back.
  uint32_t PackPadding = 0;
  uint32_t ReportPad = 0;
  bool RemoveAudio = false;
  uint32_t GotoFrame = 0;  // last frame entered in the Goto Frame dialog, 1-based; 0 = none
  std::string SourceFilePath;
  std::string TargetFilePath;
  std::string IniFilePath;
  std::array<std::string, kFileRecallCount> FileRecall;  // "FileRecall1".."FileRecall8"
  bool ShowTrack = true;
  bool ShowAudio = true;
  bool ShowToolbar = true;
  bool ShowInputAVIThumbnails = false;

  // The filter list (section "Filtering") with, per kind, the level last chosen in its level
  // dialog and the kind last chosen in the selection dialog.
  std::vector<FilterEntry> Filters;
  std::array<int32_t, kFilterKindCount> LastUsedFilterLevel = defaultFilterLevels();
  uint32_t LastSelectedFilter = 0;  // kind index 0..8
};

// The values a missing settings file yields.
inline CompressionSettings defaultCompressionSettings() {
  return CompressionSettings{};
}
inline CompressorOptions defaultCompressorOptions() {
  return CompressorOptions{};
}

}  // namespace zov

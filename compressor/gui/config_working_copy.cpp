#include "compressor/gui/config_working_copy.h"

#include <algorithm>
#include <cctype>

#include "media/source_file.h"

namespace zov {

const ConfigPageInfo kConfigPages[kConfigPageCount] = {
    {"Extraction && Cropping", "DlgTabExtractCrop"},
    {"Video Filtering", "DlgTabFiltering"},
    {"Video Compression", "DlgTabCompression"},
    {"Chroma Keying", "DlgTabChroma"},
    {"Video Data Rate", "DlgTabDataRate"},
    {"File Size Cutoff", "DlgTabKBCutOff"},
    {"Audio Options", "DlgTabAudio"},
    {"CD-ROM Padding", "DlgTabPadding"},
};

SourceExtraction sourceExtractionOf(const SourceFile& s) {
  return {extractionValuesOf(s), s.ResizeInterpolate};
}

void storeSourceExtraction(const SourceExtraction& e, SourceFile& s) {
  storeExtractionValues(e.values, s);
  s.ResizeInterpolate = e.ResizeInterpolate;
}

bool isZov2Source(const SourceFile* source) {
  if (!source) return false;
  std::string upper = source->Handler;
  for (char& c : upper) c = char(std::toupper(uint8_t(c)));
  return upper == "ZOV2";
}

ConfigWorkingCopy::ConfigWorkingCopy(const CompressionSettings& s, const CompressorOptions& o,
                                     SourceFile* source)
    : settings(s), filters(o.Filters), source_(source), zov2_(isZov2Source(source)) {
  options.DualInitialKeyFrames = o.DualInitialKeyFrames;
  options.NoAudio = o.NoAudio;
  options.MixToMono = o.MixToMono;
  options.Make8Bit = o.Make8Bit;
  options.SampleRate = o.SampleRate;
  options.CutOffKBLimit = o.CutOffKBLimit;
  options.CutOffKBLimitNotify = o.CutOffKBLimitNotify;
  options.CDROMTarget = o.CDROMTarget;
  if (source) extraction = sourceExtractionOf(*source);
}

uint32_t ConfigWorkingCopy::sourceFrameCount() const {
  return source_ ? source_->FrameCount : 0;
}
uint32_t ConfigWorkingCopy::sourceWidth() const {
  return source_ ? source_->Width : 0;
}
uint32_t ConfigWorkingCopy::sourceHeight() const {
  return source_ ? source_->Height : 0;
}

void ConfigWorkingCopy::commit(CompressionSettings& t, CompressorOptions& o,
                               SourceFile* targetSource) const {
  // Only the fields the pages edit go back: the encoder's run-time state in the record stays.
  t.CompressionType = settings.CompressionType;
  t.FieldType = settings.FieldType;
  t.InterframeDetection = settings.InterframeDetection;
  t.NoiseReduction = settings.NoiseReduction;
  t.ImageLossLevel = settings.ImageLossLevel;
  t.FastCompression = settings.FastCompression;
  t.EnhancedEdges = settings.EnhancedEdges;
  t.KeyRate = settings.KeyRate;
  t.ChromaKeying = settings.ChromaKeying;
  t.ChromaScreening = settings.ChromaScreening;
  t.ChromaGreen = settings.ChromaGreen;
  t.ChromaRed = settings.ChromaRed;
  t.ChromaBlue = settings.ChromaBlue;
  t.ChromaAntialiasing = settings.ChromaAntialiasing;
  t.BackgroundDetection = settings.BackgroundDetection;
  t.BackgroundNoiseReduction = settings.BackgroundNoiseReduction;
  t.ChromaBackground = settings.ChromaBackground;
  t.DataRate = settings.DataRate;
  t.ForceKeyFrame = settings.ForceKeyFrame;
  t.ForceKeyFramePercent = settings.ForceKeyFramePercent;
  t.IncreaseKeyRate = settings.IncreaseKeyRate;
  t.IncreaseKeyRatePercent = settings.IncreaseKeyRatePercent;
  t.IncreaseKeyRateValue = settings.IncreaseKeyRateValue;
  t.DataRateControl = settings.DataRateControl;
  t.updateDerived();
  o.Filters = filters;
  o.DualInitialKeyFrames = options.DualInitialKeyFrames;
  o.NoAudio = options.NoAudio;
  o.MixToMono = options.MixToMono;
  o.Make8Bit = options.Make8Bit;
  o.SampleRate = options.SampleRate;
  o.CutOffKBLimit = options.CutOffKBLimit;
  o.CutOffKBLimitNotify = options.CutOffKBLimitNotify;
  o.CDROMTarget = options.CDROMTarget;
  if (targetSource) storeSourceExtraction(extraction, *targetSource);
}

void ConfigWorkingCopy::resetExtraction() {
  if (!source_) return;
  ExtractionValues& v = extraction.values;
  v.firstFrame = 1;
  v.lastFrame = std::max<uint32_t>(source_->FrameCount, 1);
  if (zov2_) return;
  v.cropLeft = 0;
  v.cropTop = 0;
  v.cropWidth = source_->Width;
  v.cropHeight = source_->Height;
  v.letterBoxTop = 0;
  v.letterBoxBottom = 0;
}

void ConfigWorkingCopy::resetFiltering() {
  if (!zov2_) filters.clear();
}

void ConfigWorkingCopy::applyPreset(int preset) {
  if (zov2_ || preset < kPresetVideo || preset > kPresetAnimation) return;
  CompressionSettings& s = settings;
  bool animation = preset == kPresetAnimation;
  s.CompressionType = animation ? kCompressionRgb : kCompressionYCrCb1611;
  s.FieldType = kFieldNormal;
  s.InterframeDetection = animation ? 0 : preset == kPresetVideo ? 8 : 5;
  s.NoiseReduction = animation ? 0 : preset == kPresetVideo ? 50 : 15;
  s.ImageLossLevel = animation ? 0 : 7;
  s.FastCompression = false;
  s.EnhancedEdges = true;
  s.KeyRate = 3;
  options.DualInitialKeyFrames = true;
  s.updateDerived();
}

void ConfigWorkingCopy::resetChroma() {
  if (zov2_) return;
  CompressionSettings& s = settings;
  s.ChromaKeying = false;
  s.ChromaScreening = kScreeningGreen;
  s.ChromaBackground.clear();
  s.ChromaGreen = 16;
  s.ChromaRed = 2;
  s.ChromaBlue = 2;
  s.ChromaAntialiasing = true;
  s.BackgroundDetection = 8;
  s.BackgroundNoiseReduction = 50;
}

void ConfigWorkingCopy::resetDataRate() {
  if (zov2_) return;
  CompressionSettings& s = settings;
  s.ForceKeyFrame = false;
  s.ForceKeyFramePercent = 2;
  s.IncreaseKeyRate = false;
  s.IncreaseKeyRatePercent = 50;
  s.IncreaseKeyRateValue = 6;
  s.DataRate = 0;
  s.DataRateControl = false;
}

void ConfigWorkingCopy::resetCutOff() {
  options.CutOffKBLimit = 0;
  options.CutOffKBLimitNotify = false;
}

void ConfigWorkingCopy::resetAudio() {
  options.NoAudio = false;
  options.MixToMono = false;
  options.Make8Bit = false;
  options.SampleRate = 0;
}

void ConfigWorkingCopy::resetPadding() {
  options.CDROMTarget = false;
}

void ConfigWorkingCopy::resetPage(int index) {
  switch (index) {
    case kPageExtractCrop:
      resetExtraction();
      break;
    case kPageFiltering:
      resetFiltering();
      break;
    case kPageChroma:
      resetChroma();
      break;
    case kPageDataRate:
      resetDataRate();
      break;
    case kPageCutOff:
      resetCutOff();
      break;
    case kPageAudio:
      resetAudio();
      break;
    case kPagePadding:
      resetPadding();
      break;
    default:
      break;
  }
}

}  // namespace zov

// The checks of the extraction page (frame range, cropping, letterbox, resizing, field
// stripping) as one pure function, shared by the configuration dialog and the command line.
//
// The check stops at the first broken rule and names it with its message, the field that gets
// the keyboard focus, and the corrected value that goes into that field when the rule corrects
// one. The page shows the message, writes the correction and stays open, so the user sees the
// correction and must leave the page again to pass.
//
// All values are unsigned; sums and products are taken without wrapping around, so a huge typed
// value can never make a sum look small.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace zov {

class SourceFile;

// The ten edit fields of the page, in the order their numbers are checked.
enum class ExtractionField : int {
  FirstFrame,
  LastFrame,
  CropLeft,
  CropTop,
  CropWidth,
  CropHeight,
  LetterBoxTop,
  LetterBoxBottom,
  ResizeWidth,
  ResizeHeight,
};
inline constexpr int kExtractionFieldCount = 10;

// What the page shows, as numbers. Frames are 1-based here, as the user types them.
struct ExtractionValues {
  uint32_t firstFrame = 1;
  uint32_t lastFrame = 1;
  uint32_t cropLeft = 0, cropTop = 0, cropWidth = 0, cropHeight = 0;
  uint32_t letterBoxTop = 0, letterBoxBottom = 0;
  uint32_t resizeWidth = 0, resizeHeight = 0;
  uint32_t stripType = 0;  // 0 none, 1 strip odd fields, 2 strip even fields

  uint32_t& operator[](ExtractionField f);
  uint32_t operator[](ExtractionField f) const;
};

// What the page knows of the source: frame count N, frame size W x H, and whether a 0-based
// frame is a key frame.
struct ExtractionSource {
  uint32_t frameCount = 0;
  uint32_t width = 0;
  uint32_t height = 0;
  std::function<bool(uint32_t frame)> isKeyFrame;
};

struct ExtractionCheck {
  bool passed = true;
  std::string message;  // the whole box text, code first
  ExtractionField focus = ExtractionField::FirstFrame;
  std::optional<uint32_t> correction;  // the value written into `focus`, when the rule corrects
};

// The field texts as typed. A field holds a number when it is decimal digits (blanks around them
// allowed) whose value fits 32 bits.
using ExtractionTexts = std::array<std::string, kExtractionFieldCount>;
std::optional<uint32_t> parseExtractionNumber(std::string_view text);

// Checks typed texts: a field without a number gives its "is invalid" message first.
ExtractionCheck validateExtraction(const ExtractionTexts& texts, uint32_t stripType,
                                   const ExtractionSource& source);
// Checks values that are numbers already (the command line).
ExtractionCheck validateExtraction(const ExtractionValues& values, const ExtractionSource& source);

// Shows a failed check's message (title "ZOV Compressor", stop icon) over `owner`; nothing for a
// passed check.
void reportExtractionCheck(void* owner, const ExtractionCheck& check);

// ---- Between the page and the source record ----

// The source's frame count, frame size and key-frame query.
ExtractionSource extractionSourceOf(SourceFile& source);
// The record's extraction values as the page shows them (frames 1-based).
ExtractionValues extractionValuesOf(const SourceFile& source);
// Stores checked values into the record (frames back to 0-based).
void storeExtractionValues(const ExtractionValues& values, SourceFile& source);

// ---- The page's information lines (fields without a number count as 0) ----

// "(Key) First frame:" when the typed first frame is 1..N and a key frame, else "First frame:".
std::string firstFrameLabel(std::string_view firstFrameText, const ExtractionSource& source);
uint32_t targetWidth(const ExtractionValues& values);
uint32_t targetHeight(const ExtractionValues& values);
// What the values would change in the stored pictures of a `width` x `height` source ("cropped
// to ...", "letterboxed ...", ...); empty when they keep every picture as it is. Frames copied
// without recompression can't take such changes.
std::string pictureChanges(const ExtractionValues& v, uint32_t width, uint32_t height);
// Values from texts with non-numbers as 0.
ExtractionValues extractionValuesOf(const ExtractionTexts& texts, uint32_t stripType);

}  // namespace zov

#include "compressor/settings_validation.h"

#include <cctype>

#include "media/source_file.h"
#include "media/source_messages.h"
#include "platform/ui.h"

namespace zov {
namespace {

using F = ExtractionField;

// The largest picture the format carries, in pixels (640 x 480).
constexpr uint64_t kMaxArea = 307200;

ExtractionCheck fail(F focus, std::string message, std::optional<uint32_t> correction = {}) {
  ExtractionCheck c;
  c.passed = false;
  c.focus = focus;
  c.message = std::move(message);
  c.correction = correction;
  return c;
}

uint32_t down4(uint32_t v) {
  return v & ~3u;
}

}  // namespace

uint32_t& ExtractionValues::operator[](ExtractionField f) {
  switch (f) {
    case F::FirstFrame:
      return firstFrame;
    case F::LastFrame:
      return lastFrame;
    case F::CropLeft:
      return cropLeft;
    case F::CropTop:
      return cropTop;
    case F::CropWidth:
      return cropWidth;
    case F::CropHeight:
      return cropHeight;
    case F::LetterBoxTop:
      return letterBoxTop;
    case F::LetterBoxBottom:
      return letterBoxBottom;
    case F::ResizeWidth:
      return resizeWidth;
    case F::ResizeHeight:
      return resizeHeight;
  }
  return firstFrame;
}

uint32_t ExtractionValues::operator[](ExtractionField f) const {
  return const_cast<ExtractionValues&>(*this)[f];
}

std::optional<uint32_t> parseExtractionNumber(std::string_view text) {
  size_t i = 0, n = text.size();
  while (i < n && std::isspace(static_cast<unsigned char>(text[i]))) ++i;
  while (n > i && std::isspace(static_cast<unsigned char>(text[n - 1]))) --n;
  if (i == n) return std::nullopt;
  uint64_t v = 0;
  for (; i < n; ++i) {
    if (!std::isdigit(static_cast<unsigned char>(text[i]))) return std::nullopt;
    v = v * 10 + uint64_t(text[i] - '0');
    if (v > UINT32_MAX) return std::nullopt;
  }
  return uint32_t(v);
}

ExtractionCheck validateExtraction(const ExtractionTexts& texts, uint32_t stripType,
                                   const ExtractionSource& source) {
  static const char* const kInvalid[kExtractionFieldCount] = {
      "CFG0015E Starting frame is invalid", "CFG0016E Ending frame is invalid",
      "CFG0017E Cropping left is invalid",  "CFG0018E Cropping top is invalid",
      "CFG0019E Cropping width is invalid", "CFG0020E Cropping height is invalid",
      "CFG0021E Letterbox top is invalid",  "CFG0022E Letterbox bottom is invalid",
      "CFG0023E Resize width is invalid",   "CFG0024E Resize height is invalid",
  };
  ExtractionValues values;
  for (int i = 0; i < kExtractionFieldCount; ++i) {
    std::optional<uint32_t> v = parseExtractionNumber(texts[i]);
    if (!v) return fail(F(i), kInvalid[i]);
    values[F(i)] = *v;
  }
  values.stripType = stripType;
  return validateExtraction(values, source);
}

ExtractionCheck validateExtraction(const ExtractionValues& v, const ExtractionSource& source) {
  const uint32_t N = source.frameCount, W = source.width, H = source.height;
  const uint32_t F1 = v.firstFrame, E = v.lastFrame;
  const uint64_t L = uint64_t(v.letterBoxTop) + v.letterBoxBottom;
  const F letterboxFocus = v.letterBoxTop != 0 ? F::LetterBoxTop : F::LetterBoxBottom;

  // Frame range.
  if (F1 == 0) {
    return fail(F::FirstFrame,
                formatMessage("CFG0025E First frame (%u) cannot be less than 1\n"
                              "(First frame is being changed to 1)",
                              F1),
                1);
  }
  if (F1 > N) {
    return fail(F::FirstFrame,
                formatMessage("CFG0026E First frame (%u) cannot be greater than %u\n"
                              "(First frame is being changed to %u)",
                              F1, N, N),
                N);
  }
  if (source.isKeyFrame && !source.isKeyFrame(F1 - 1)) {
    return fail(F::FirstFrame, formatMessage("CFG0027E First frame (%u) must be set to a keyframe\n"
                                             "Please correct as desired",
                                             F1));
  }
  if (E == 0) {
    return fail(F::LastFrame,
                formatMessage("CFG0028E Last frame (%u) cannot be less than 1\n"
                              "(Last frame is being changed to 1)",
                              E),
                1);
  }
  if (E > N) {
    return fail(F::LastFrame,
                formatMessage("CFG0029E Last frame (%u) cannot be greater than %u\n"
                              "(Last frame is being changed to %u)",
                              E, N, N),
                N);
  }
  if (E < F1) {
    return fail(F::LastFrame,
                formatMessage("CFG0030E Last frame (%u) cannot be less than starting frame (%u)\n"
                              "(Last frame is being changed to %u)",
                              E, F1, F1),
                F1);
  }

  // Letterbox.
  if (v.letterBoxTop > 255) {
    return fail(F::LetterBoxTop,
                formatMessage("CFG0031E Letterbox top (%u) is too large.\n"
                              "(Letterbox top is being reduced to the maximum of 255)",
                              v.letterBoxTop),
                255);
  }
  if (v.letterBoxBottom > 255) {
    return fail(F::LetterBoxBottom,
                formatMessage("CFG0032E Letterbox bottom (%u) is too large.\n"
                              "(Letterbox bottom is being reduced to the maximum of 255)",
                              v.letterBoxBottom),
                255);
  }
  if (L % 4 != 0) {
    return fail(
        F::LetterBoxBottom,
        formatMessage("CFG0033E Letterbox top + letterbox bottom (%u) must be divisible by 4",
                      unsigned(L)));
  }

  // Resizing.
  const uint32_t RW = v.resizeWidth, RH = v.resizeHeight;
  if (RW != 0) {
    if (RW < 4) {
      return fail(F::ResizeWidth,
                  formatMessage("CFG0034E Resize width (%u) cannot be less than 4\n"
                                "(Resize width is being changed to 4)",
                                RW),
                  4);
    }
    if (RW > 640) {
      return fail(F::ResizeWidth,
                  formatMessage("CFG0035E Resize width (%u) cannot be greater than 640\n"
                                "(Resize width is being changed to 640)",
                                RW),
                  640);
    }
    if (RW % 4 != 0) {
      return fail(F::ResizeWidth,
                  formatMessage("CFG0036E Resize width (%u) must be divisible by 4\n"
                                "(Resize width is being changed to %u)",
                                RW, down4(RW)),
                  down4(RW));
    }
    if (RH == 0) {
      return fail(F::ResizeWidth,
                  "CFG0037E Resize width cannot be used alone.\r"
                  "Either set this to zero or set resize height too.");
    }
  }
  if (RH != 0) {
    if (RH < 4) {
      return fail(F::ResizeHeight,
                  formatMessage("CFG0038E Resize height (%u) cannot be less than 4\n"
                                "(Resize height is being changed to 4)",
                                RH),
                  4);
    }
    if (RH > 480) {
      return fail(F::ResizeHeight,
                  formatMessage("CFG0039E Resize height (%u) cannot be greater than 480\n"
                                "(Resize height is being changed to 480)",
                                RH),
                  480);
    }
    if (RH % 4 != 0) {
      return fail(F::ResizeHeight,
                  formatMessage("CFG0040E Resize height (%u) must be divisible by 4\n"
                                "(Resize height is being changed to %u)",
                                RH, down4(RH)),
                  down4(RH));
    }
    if (RW == 0) {
      return fail(F::ResizeHeight,
                  "CFG0041E Resize height cannot be used alone.\r"
                  "Either set this to zero or set resize width too.");
    }
    if (RH + L > 480) {
      return fail(letterboxFocus,
                  formatMessage("CFG0042E Resize height + letterbox settings (%u) cannot be "
                                "greater than 480\nPlease correct as desired",
                                unsigned(RH + L)));
    }
    if (uint64_t(RW) * (RH + L) > kMaxArea) {
      return fail(letterboxFocus,
                  "CFG0069E (Resize height + letterbox settings) * resize width cannot be greater "
                  "than 307200 (derived from 640*480)\nPlease correct as desired");
    }
  }
  const bool resizing = RW != 0 && RH != 0;
  const bool stripping = v.stripType != 0;

  // Crop position.
  const uint32_t CL = v.cropLeft, CT = v.cropTop, CW = v.cropWidth, CH = v.cropHeight;
  if (resizing && CL > W - 1) {
    return fail(F::CropLeft,
                formatMessage("CFG0043E When resizing, crop left (%u) cannot be greater than %u\n"
                              "(Crop left is being changed to %u)",
                              CL, W - 1, W - 1),
                W - 1);
  }
  if (!resizing && CL > W - 4) {
    return fail(F::CropLeft,
                formatMessage("CFG0044E When not resizing, crop left (%u) cannot be greater than "
                              "%u\n(Crop left is being changed to %u)",
                              CL, W - 4, W - 4),
                W - 4);
  }
  if (resizing && CT > H - 1) {
    return fail(F::CropTop,
                formatMessage("CFG0045E When resizing, crop top (%u) cannot be greater than %u\n"
                              "(Crop top is being changed to %u)",
                              CT, H - 1, H - 1),
                H - 1);
  }
  if (!resizing && CT > H - 4) {
    return fail(F::CropTop,
                formatMessage("CFG0046E When not resizing, crop top (%u) cannot be greater than "
                              "%u\n(Crop top is being changed to %u)",
                              CT, H - 4, H - 4),
                H - 4);
  }

  // Crop width.
  if (resizing) {
    if (CW < 1) {
      return fail(F::CropWidth,
                  formatMessage("CFG0047E When resizing, crop width (%u) cannot be less than 1\n"
                                "(Crop width is being changed to 1)",
                                CW),
                  1);
    }
  } else {
    if (CW < 4) {
      return fail(F::CropWidth,
                  formatMessage("CFG0048E When not resizing, crop width (%u) cannot be less than "
                                "4\n(Crop width is being changed to 4)",
                                CW),
                  4);
    }
    if (CW % 4 != 0) {
      return fail(F::CropWidth,
                  formatMessage("CFG0049E Crop width (%u) must be divisible by 4\n"
                                "(Crop width is being changed to %u)",
                                CW, down4(CW)),
                  down4(CW));
    }
    if (CW > 640) {
      return fail(F::CropWidth,
                  formatMessage("CFG0050E Crop width (%u) cannot be greater than 640\n"
                                "(Crop width is being changed to 640)",
                                CW),
                  640);
    }
  }
  if (uint64_t(CL) + CW > W) {
    return fail(F::CropWidth,
                formatMessage("CFG0051E Crop left (%u) + crop width (%u) cannot be greater than "
                              "%u\n(Crop width is being changed to %u)",
                              CL, CW, W, W - CL),
                W - CL);
  }

  // Crop height.
  if (uint64_t(CT) + CH > H) {
    return fail(F::CropHeight,
                formatMessage("CFG0052E Crop top (%u) + crop height (%u) cannot be greater than "
                              "%u\n(Crop height is being changed to %u)",
                              CT, CH, H, H - CT),
                H - CT);
  }
  if (resizing) {
    if (CH < 1) {
      return fail(F::CropHeight,
                  formatMessage("CFG0053E When resizing, crop height (%u) cannot be less than 1\n"
                                "(Crop height is being changed to 1)",
                                CH),
                  1);
    }
    return {};
  }
  if (!stripping) {
    if (CH < 4) {
      return fail(F::CropHeight,
                  formatMessage("CFG0054E When not resizing, crop height (%u) cannot be less than "
                                "4\n(Crop height is being changed to 4)",
                                CH),
                  4);
    }
    if (CH % 4 != 0) {
      return fail(F::CropHeight,
                  formatMessage("CFG0055E Crop height (%u) must be divisible by 4\n"
                                "(Crop height is being changed to %u)",
                                CH, down4(CH)),
                  down4(CH));
    }
    if (L == 0) {
      if (CH > 480) {
        return fail(F::CropHeight,
                    formatMessage("CFG0056E Crop height (%u) cannot be greater than 480\n"
                                  "(Crop height is being changed to 480)",
                                  CH),
                    480);
      }
    } else {
      if (CH + L > 480) {
        return fail(letterboxFocus,
                    formatMessage("CFG0057E Crop height + letterbox settings (%u) cannot be "
                                  "greater than 480\nPlease correct as desired",
                                  unsigned(CH + L)));
      }
      if (uint64_t(CW) * (CH + L) > kMaxArea) {
        return fail(letterboxFocus,
                    "CFG0070E (Crop height + letterbox settings) * crop width cannot be greater "
                    "than 307200 (derived from 640*480)\nPlease correct as desired");
      }
    }
    return {};
  }

  // Stripping keeps every second line: the picture is CH / 2 lines high.
  if (CH < 8) {
    return fail(F::CropHeight,
                formatMessage("CFG0058E When stripping and not resizing, crop height / 2 (%u) "
                              "cannot be less than 4\n(Crop height is being changed to 8)",
                              CH / 2),
                8);
  }
  if (CH % 8 != 0) {
    uint32_t corrected = CH & ~7u;
    return fail(F::CropHeight,
                formatMessage("CFG0059E When stripping and not resizing, crop height / 2 (%u) "
                              "must be divisible by 4\n(Crop height is being changed to %u)",
                              CH / 2, corrected),
                corrected);
  }
  if (L == 0) {
    if ((CH & ~1u) > 960) {
      return fail(F::CropHeight,
                  formatMessage("CFG0060E When stripping and not resizing, crop height / 2 (%u) "
                                "cannot be greater than 480\n(Crop height is being changed to "
                                "960)",
                                CH / 2),
                  960);
    }
  } else {
    if (CH / 2 + L > 480) {
      return fail(letterboxFocus,
                  formatMessage("CFG0061E When stripping and not resizing, crop height / 2 + "
                                "letterbox settings (%u) cannot be greater than 480\n"
                                "Please correct as desired",
                                unsigned(CH / 2 + L)));
    }
    if (uint64_t(CW) * (CH / 2 + L) > kMaxArea) {
      return fail(letterboxFocus,
                  "CFG0071E When stripping and not resizing, (crop height / 2 + letterbox "
                  "settings) * crop width cannot be greater than 307200 (derived from "
                  "640*480)\nPlease correct as desired");
    }
  }
  return {};
}

void reportExtractionCheck(void* owner, const ExtractionCheck& check) {
  if (check.passed) return;
  messageBox(owner, check.message, kCompressorTitle, MB_OK | MB_ICONSTOP);
}

ExtractionSource extractionSourceOf(SourceFile& source) {
  ExtractionSource s;
  s.frameCount = source.FrameCount;
  s.width = source.Width;
  s.height = source.Height;
  s.isKeyFrame = [&source](uint32_t frame) { return source.isKeyFrameAbsolute(frame); };
  return s;
}

ExtractionValues extractionValuesOf(const SourceFile& s) {
  ExtractionValues v;
  v.firstFrame = s.ExtractionStart + 1;
  v.lastFrame = s.ExtractionEnd + 1;
  v.cropLeft = s.CropX;
  v.cropTop = s.CropY;
  v.cropWidth = s.CropWidth;
  v.cropHeight = s.CropHeight;
  v.letterBoxTop = s.LetterBoxTop;
  v.letterBoxBottom = s.LetterBoxBottom;
  v.resizeWidth = s.ResizeWidth;
  v.resizeHeight = s.ResizeHeight;
  v.stripType = s.ResizeStripType;
  return v;
}

void storeExtractionValues(const ExtractionValues& v, SourceFile& s) {
  s.ExtractionStart = v.firstFrame - 1;
  s.ExtractionEnd = v.lastFrame - 1;
  s.CropX = v.cropLeft;
  s.CropY = v.cropTop;
  s.CropWidth = v.cropWidth;
  s.CropHeight = v.cropHeight;
  s.LetterBoxTop = v.letterBoxTop;
  s.LetterBoxBottom = v.letterBoxBottom;
  s.ResizeWidth = v.resizeWidth;
  s.ResizeHeight = v.resizeHeight;
  s.ResizeStripType = v.stripType;
}

ExtractionValues extractionValuesOf(const ExtractionTexts& texts, uint32_t stripType) {
  ExtractionValues v;
  for (int i = 0; i < kExtractionFieldCount; ++i) {
    v[F(i)] = parseExtractionNumber(texts[i]).value_or(0);
  }
  v.stripType = stripType;
  return v;
}

std::string firstFrameLabel(std::string_view firstFrameText, const ExtractionSource& source) {
  uint32_t f = parseExtractionNumber(firstFrameText).value_or(0);
  bool key = f >= 1 && f <= source.frameCount && source.isKeyFrame && source.isKeyFrame(f - 1);
  return key ? "(Key) First frame:" : "First frame:";
}

uint32_t targetWidth(const ExtractionValues& v) {
  return v.resizeWidth ? v.resizeWidth : v.cropWidth;
}

uint32_t targetHeight(const ExtractionValues& v) {
  uint32_t letterbox = v.letterBoxTop + v.letterBoxBottom;
  if (v.resizeHeight) return v.resizeHeight + letterbox;
  return (v.stripType ? v.cropHeight / 2 : v.cropHeight) + letterbox;
}

std::string pictureChanges(const ExtractionValues& v, uint32_t width, uint32_t height) {
  std::vector<std::string> what;
  if (v.cropLeft || v.cropTop || v.cropWidth != width || v.cropHeight != height)
    what.push_back("cropped to " + std::to_string(v.cropWidth) + "x" +
                   std::to_string(v.cropHeight) + " at " + std::to_string(v.cropLeft) + "," +
                   std::to_string(v.cropTop));
  if (v.letterBoxTop || v.letterBoxBottom)
    what.push_back("letterboxed (" + std::to_string(v.letterBoxTop) + " lines above, " +
                   std::to_string(v.letterBoxBottom) + " below)");
  const uint32_t stripped = v.stripType ? v.cropHeight / 2 : v.cropHeight;
  if (v.stripType)
    what.push_back(v.stripType == 1 ? "odd fields stripped" : "even fields stripped");
  if ((v.resizeWidth && v.resizeWidth != v.cropWidth) ||
      (v.resizeHeight && v.resizeHeight != stripped))
    what.push_back("resized to " + std::to_string(targetWidth(v)) + "x" +
                   std::to_string(v.resizeHeight ? v.resizeHeight : stripped));
  std::string text;
  for (const std::string& w : what) text += (text.empty() ? "" : ", ") + w;
  return text;
}

}  // namespace zov

// The extraction page's checks: order of the rules, the corrections, the exact message texts and
// where the focus goes.
#include <gtest/gtest.h>

#include "compressor/settings_validation.h"
#include "media/source_file.h"
#include "media/source_messages.h"
#include "platform/ui.h"
#include "support/avi_fixtures.h"

namespace zov {
namespace {

using F = ExtractionField;

ExtractionSource source320x240(uint32_t frames = 100) {
  ExtractionSource s;
  s.frameCount = frames;
  s.width = 320;
  s.height = 240;
  s.isKeyFrame = [](uint32_t) { return true; };
  return s;
}

ExtractionValues whole320x240() {
  ExtractionValues v;
  v.firstFrame = 1;
  v.lastFrame = 100;
  v.cropWidth = 320;
  v.cropHeight = 240;
  return v;
}

ExtractionTexts textsOf(const ExtractionValues& v) {
  ExtractionTexts t;
  for (int i = 0; i < kExtractionFieldCount; ++i) t[i] = std::to_string(v[F(i)]);
  return t;
}

void expectFailure(const ExtractionCheck& c, F focus, const std::string& message,
                   std::optional<uint32_t> correction) {
  EXPECT_FALSE(c.passed);
  EXPECT_EQ(c.message, message);
  EXPECT_EQ(int(c.focus), int(focus));
  EXPECT_EQ(c.correction, correction);
}

TEST(ExtractionCheck, WholeFramePasses) {
  EXPECT_TRUE(validateExtraction(whole320x240(), source320x240()).passed);
  EXPECT_TRUE(validateExtraction(textsOf(whole320x240()), 0, source320x240()).passed);
}

TEST(ExtractionCheck, FieldsWithoutANumberAreReportedFirstInFieldOrder) {
  ExtractionTexts t = textsOf(whole320x240());
  t[0] = "";
  t[5] = "x";
  expectFailure(validateExtraction(t, 0, source320x240()), F::FirstFrame,
                "CFG0015E Starting frame is invalid", std::nullopt);
  t[0] = " 1 ";
  expectFailure(validateExtraction(t, 0, source320x240()), F::CropHeight,
                "CFG0020E Cropping height is invalid", std::nullopt);
  t[5] = "240";
  t[9] = "-4";
  expectFailure(validateExtraction(t, 0, source320x240()), F::ResizeHeight,
                "CFG0024E Resize height is invalid", std::nullopt);
  t[9] = "4294967296";
  EXPECT_EQ(validateExtraction(t, 0, source320x240()).message, "CFG0024E Resize height is invalid");
  EXPECT_EQ(parseExtractionNumber("4294967295"), 4294967295u);
}

TEST(ExtractionCheck, FrameRange) {
  ExtractionValues v = whole320x240();
  v.firstFrame = 0;
  expectFailure(validateExtraction(v, source320x240()), F::FirstFrame,
                "CFG0025E First frame (0) cannot be less than 1\n"
                "(First frame is being changed to 1)",
                1u);
  v.firstFrame = 101;
  expectFailure(validateExtraction(v, source320x240()), F::FirstFrame,
                "CFG0026E First frame (101) cannot be greater than 100\n"
                "(First frame is being changed to 100)",
                100u);

  // Frame 5 (0-based 4) of a compressed source is not a key frame: no correction.
  ExtractionSource s = source320x240();
  s.isKeyFrame = [](uint32_t f) { return f % 10 == 0; };
  v.firstFrame = 5;
  expectFailure(validateExtraction(v, s), F::FirstFrame,
                "CFG0027E First frame (5) must be set to a keyframe\nPlease correct as desired",
                std::nullopt);
  v.firstFrame = 11;
  v.lastFrame = 0;
  expectFailure(validateExtraction(v, s), F::LastFrame,
                "CFG0028E Last frame (0) cannot be less than 1\n"
                "(Last frame is being changed to 1)",
                1u);
  v.lastFrame = 150;
  expectFailure(validateExtraction(v, s), F::LastFrame,
                "CFG0029E Last frame (150) cannot be greater than 100\n"
                "(Last frame is being changed to 100)",
                100u);
  v.lastFrame = 10;
  expectFailure(validateExtraction(v, s), F::LastFrame,
                "CFG0030E Last frame (10) cannot be less than starting frame (11)\n"
                "(Last frame is being changed to 11)",
                11u);
  v.lastFrame = 11;
  EXPECT_TRUE(validateExtraction(v, s).passed);
}

TEST(ExtractionCheck, Letterbox) {
  ExtractionValues v = whole320x240();
  v.cropHeight = 200;
  v.letterBoxTop = 256;
  expectFailure(validateExtraction(v, source320x240()), F::LetterBoxTop,
                "CFG0031E Letterbox top (256) is too large.\n"
                "(Letterbox top is being reduced to the maximum of 255)",
                255u);
  v.letterBoxTop = 0;
  v.letterBoxBottom = 300;
  expectFailure(validateExtraction(v, source320x240()), F::LetterBoxBottom,
                "CFG0032E Letterbox bottom (300) is too large.\n"
                "(Letterbox bottom is being reduced to the maximum of 255)",
                255u);
  v.letterBoxTop = 2;
  v.letterBoxBottom = 1;
  expectFailure(validateExtraction(v, source320x240()), F::LetterBoxBottom,
                "CFG0033E Letterbox top + letterbox bottom (3) must be divisible by 4",
                std::nullopt);
  v.letterBoxBottom = 2;
  EXPECT_TRUE(validateExtraction(v, source320x240()).passed);
}

TEST(ExtractionCheck, ResizeWidthAndHeight) {
  ExtractionValues v = whole320x240();
  v.resizeHeight = 240;
  v.resizeWidth = 2;
  expectFailure(validateExtraction(v, source320x240()), F::ResizeWidth,
                "CFG0034E Resize width (2) cannot be less than 4\n"
                "(Resize width is being changed to 4)",
                4u);
  v.resizeWidth = 642;
  expectFailure(validateExtraction(v, source320x240()), F::ResizeWidth,
                "CFG0035E Resize width (642) cannot be greater than 640\n"
                "(Resize width is being changed to 640)",
                640u);
  v.resizeWidth = 322;
  expectFailure(validateExtraction(v, source320x240()), F::ResizeWidth,
                "CFG0036E Resize width (322) must be divisible by 4\n"
                "(Resize width is being changed to 320)",
                320u);
  v.resizeWidth = 320;
  v.resizeHeight = 0;
  expectFailure(validateExtraction(v, source320x240()), F::ResizeWidth,
                "CFG0037E Resize width cannot be used alone.\r"
                "Either set this to zero or set resize height too.",
                std::nullopt);
  v.resizeHeight = 2;
  expectFailure(validateExtraction(v, source320x240()), F::ResizeHeight,
                "CFG0038E Resize height (2) cannot be less than 4\n"
                "(Resize height is being changed to 4)",
                4u);
  v.resizeHeight = 481;
  expectFailure(validateExtraction(v, source320x240()), F::ResizeHeight,
                "CFG0039E Resize height (481) cannot be greater than 480\n"
                "(Resize height is being changed to 480)",
                480u);
  v.resizeHeight = 239;
  expectFailure(validateExtraction(v, source320x240()), F::ResizeHeight,
                "CFG0040E Resize height (239) must be divisible by 4\n"
                "(Resize height is being changed to 236)",
                236u);
  v.resizeWidth = 0;
  v.resizeHeight = 240;
  expectFailure(validateExtraction(v, source320x240()), F::ResizeHeight,
                "CFG0041E Resize height cannot be used alone.\r"
                "Either set this to zero or set resize width too.",
                std::nullopt);
}

TEST(ExtractionCheck, ResizeWithLetterboxLimits) {
  ExtractionValues v = whole320x240();
  v.resizeWidth = 640;
  v.resizeHeight = 480;
  v.letterBoxBottom = 4;
  expectFailure(validateExtraction(v, source320x240()), F::LetterBoxBottom,
                "CFG0042E Resize height + letterbox settings (484) cannot be greater than 480\n"
                "Please correct as desired",
                std::nullopt);
  v.letterBoxTop = 4;
  EXPECT_EQ(int(validateExtraction(v, source320x240()).focus), int(F::LetterBoxTop));
  v.resizeHeight = 472;  // 472 + 8 = 480 lines, 640 * 480 pixels: both limits are met exactly
  EXPECT_TRUE(validateExtraction(v, source320x240()).passed);
}

TEST(ExtractionCheck, CropPositionDependsOnResizing) {
  ExtractionValues v = whole320x240();
  v.cropWidth = 4;
  v.cropLeft = 317;
  expectFailure(validateExtraction(v, source320x240()), F::CropLeft,
                "CFG0044E When not resizing, crop left (317) cannot be greater than 316\n"
                "(Crop left is being changed to 316)",
                316u);
  v.resizeWidth = 160;
  v.resizeHeight = 120;
  v.cropWidth = 3;
  EXPECT_TRUE(validateExtraction(v, source320x240()).passed);
  v.cropLeft = 320;
  expectFailure(validateExtraction(v, source320x240()), F::CropLeft,
                "CFG0043E When resizing, crop left (320) cannot be greater than 319\n"
                "(Crop left is being changed to 319)",
                319u);
  v.cropLeft = 0;
  v.cropTop = 240;
  expectFailure(validateExtraction(v, source320x240()), F::CropTop,
                "CFG0045E When resizing, crop top (240) cannot be greater than 239\n"
                "(Crop top is being changed to 239)",
                239u);
  v.resizeWidth = v.resizeHeight = 0;
  v.cropTop = 237;
  expectFailure(validateExtraction(v, source320x240()), F::CropTop,
                "CFG0046E When not resizing, crop top (237) cannot be greater than 236\n"
                "(Crop top is being changed to 236)",
                236u);
}

TEST(ExtractionCheck, CropWidth) {
  ExtractionValues v = whole320x240();
  v.cropWidth = 6;
  expectFailure(validateExtraction(v, source320x240()), F::CropWidth,
                "CFG0049E Crop width (6) must be divisible by 4\n"
                "(Crop width is being changed to 4)",
                4u);
  v.cropWidth = 3;
  expectFailure(validateExtraction(v, source320x240()), F::CropWidth,
                "CFG0048E When not resizing, crop width (3) cannot be less than 4\n"
                "(Crop width is being changed to 4)",
                4u);
  v.cropWidth = 644;
  expectFailure(validateExtraction(v, source320x240()), F::CropWidth,
                "CFG0050E Crop width (644) cannot be greater than 640\n"
                "(Crop width is being changed to 640)",
                640u);
  v.cropWidth = 320;
  v.cropLeft = 8;
  expectFailure(validateExtraction(v, source320x240()), F::CropWidth,
                "CFG0051E Crop left (8) + crop width (320) cannot be greater than 320\n"
                "(Crop width is being changed to 312)",
                312u);
  v.cropLeft = 0;
  v.resizeWidth = 320;
  v.resizeHeight = 240;
  v.cropWidth = 6;  // any width when resizing
  EXPECT_TRUE(validateExtraction(v, source320x240()).passed);
  v.cropWidth = 0;
  expectFailure(validateExtraction(v, source320x240()), F::CropWidth,
                "CFG0047E When resizing, crop width (0) cannot be less than 1\n"
                "(Crop width is being changed to 1)",
                1u);
  // A huge width must not wrap around the sum with the left crop.
  v.cropLeft = 1;
  v.cropWidth = 4294967295u;
  EXPECT_EQ(validateExtraction(v, source320x240()).message.substr(0, 8), "CFG0051E");
}

TEST(ExtractionCheck, CropHeightWithoutStripping) {
  ExtractionValues v = whole320x240();
  v.cropTop = 8;
  expectFailure(validateExtraction(v, source320x240()), F::CropHeight,
                "CFG0052E Crop top (8) + crop height (240) cannot be greater than 240\n"
                "(Crop height is being changed to 232)",
                232u);
  v.cropTop = 0;
  v.cropHeight = 2;
  expectFailure(validateExtraction(v, source320x240()), F::CropHeight,
                "CFG0054E When not resizing, crop height (2) cannot be less than 4\n"
                "(Crop height is being changed to 4)",
                4u);
  v.cropHeight = 10;
  expectFailure(validateExtraction(v, source320x240()), F::CropHeight,
                "CFG0055E Crop height (10) must be divisible by 4\n"
                "(Crop height is being changed to 8)",
                8u);
  v.resizeWidth = 160;
  v.resizeHeight = 120;
  v.cropHeight = 0;
  expectFailure(validateExtraction(v, source320x240()), F::CropHeight,
                "CFG0053E When resizing, crop height (0) cannot be less than 1\n"
                "(Crop height is being changed to 1)",
                1u);
}

ExtractionSource source640x960() {
  ExtractionSource s = source320x240();
  s.width = 640;
  s.height = 980;
  return s;
}

TEST(ExtractionCheck, FullSizeCropAndLetterbox) {
  ExtractionSource s = source640x960();
  ExtractionValues v = whole320x240();
  v.cropWidth = 640;
  v.cropHeight = 484;
  expectFailure(validateExtraction(v, s), F::CropHeight,
                "CFG0056E Crop height (484) cannot be greater than 480\n"
                "(Crop height is being changed to 480)",
                480u);
  v.cropHeight = 480;
  EXPECT_TRUE(validateExtraction(v, s).passed);
  v.letterBoxTop = 4;
  expectFailure(validateExtraction(v, s), F::LetterBoxTop,
                "CFG0057E Crop height + letterbox settings (484) cannot be greater than 480\n"
                "Please correct as desired",
                std::nullopt);
}

TEST(ExtractionCheck, StrippingWithoutResizing) {
  ExtractionSource s = source640x960();
  ExtractionValues v = whole320x240();
  v.stripType = 1;
  v.cropHeight = 12;
  expectFailure(validateExtraction(v, s), F::CropHeight,
                "CFG0059E When stripping and not resizing, crop height / 2 (6) must be divisible "
                "by 4\n(Crop height is being changed to 8)",
                8u);
  v.cropHeight = 6;
  expectFailure(validateExtraction(v, s), F::CropHeight,
                "CFG0058E When stripping and not resizing, crop height / 2 (3) cannot be less "
                "than 4\n(Crop height is being changed to 8)",
                8u);
  v.cropHeight = 968;
  expectFailure(validateExtraction(v, s), F::CropHeight,
                "CFG0060E When stripping and not resizing, crop height / 2 (484) cannot be "
                "greater than 480\n(Crop height is being changed to 960)",
                960u);
  v.cropHeight = 960;
  v.cropWidth = 640;
  EXPECT_TRUE(validateExtraction(v, s).passed);
  v.letterBoxBottom = 4;
  expectFailure(validateExtraction(v, s), F::LetterBoxBottom,
                "CFG0061E When stripping and not resizing, crop height / 2 + letterbox settings "
                "(484) cannot be greater than 480\nPlease correct as desired",
                std::nullopt);
  // Stripping with resizing follows the resizing rules only.
  v = whole320x240();
  v.stripType = 2;
  v.resizeWidth = 320;
  v.resizeHeight = 240;
  v.cropHeight = 1;
  EXPECT_TRUE(validateExtraction(v, s).passed);
}

TEST(ExtractionCheck, AreaLimitsWithLetterbox) {
  // Heights within 480 but more pixels than 640 x 480 can only arise where the width exceeds
  // 640, which the width rules forbid; the area rules remain as a guard. Check that a picture
  // exactly at the area passes.
  ExtractionSource s = source640x960();
  ExtractionValues v = whole320x240();
  v.cropWidth = 640;
  v.cropHeight = 472;
  v.letterBoxTop = 4;
  v.letterBoxBottom = 4;
  EXPECT_TRUE(validateExtraction(v, s).passed);
}

TEST(ExtractionCheck, ReportShowsTheMessageInAStopBox) {
  RecordingMessageBox boxes;
  ScopedMessageBoxSink scoped(&boxes);
  ExtractionValues v = whole320x240();
  reportExtractionCheck(nullptr, validateExtraction(v, source320x240()));
  EXPECT_TRUE(boxes.boxes().empty());
  v.firstFrame = 0;
  reportExtractionCheck(nullptr, validateExtraction(v, source320x240()));
  ASSERT_EQ(boxes.boxes().size(), 1u);
  EXPECT_EQ(boxes.boxes()[0].title, "ZOV Compressor");
  EXPECT_EQ(boxes.boxes()[0].style & MB_ICONMASK, uint32_t(MB_ICONSTOP));
}

TEST(ExtractionInformation, LabelAndTargetSize) {
  ExtractionSource s = source320x240();
  s.isKeyFrame = [](uint32_t f) { return f == 0 || f == 9; };
  EXPECT_EQ(firstFrameLabel("1", s), "(Key) First frame:");
  EXPECT_EQ(firstFrameLabel("10", s), "(Key) First frame:");
  EXPECT_EQ(firstFrameLabel("2", s), "First frame:");
  EXPECT_EQ(firstFrameLabel("", s), "First frame:");
  EXPECT_EQ(firstFrameLabel("101", s), "First frame:");

  ExtractionTexts t = textsOf(whole320x240());
  t[int(F::CropHeight)] = "abc";
  ExtractionValues v = extractionValuesOf(t, 1);
  EXPECT_EQ(v.cropHeight, 0u);
  v.cropHeight = 241;
  v.letterBoxTop = 4;
  EXPECT_EQ(targetWidth(v), 320u);
  EXPECT_EQ(targetHeight(v), 124u);  // 241 / 2 + 4
  v.stripType = 0;
  EXPECT_EQ(targetHeight(v), 245u);
  v.resizeWidth = 160;
  v.resizeHeight = 100;
  EXPECT_EQ(targetWidth(v), 160u);
  EXPECT_EQ(targetHeight(v), 104u);
}

TEST(ExtractionRecord, ValuesComeFromAndGoBackToTheSource) {
  setSourceMessageSink([](const std::string&, SourceMessageStyle) { return kSourceAnswerCancel; });
  std::string path = test::tempFolder("extraction-record") + "/keys.avi";
  test::FixtureMovie m;
  m.width = 16;
  m.height = 8;
  m.compression = 0;
  for (int i = 0; i < 6; ++i) {
    m.frames.push_back(test::makeDib24(16, 8, [i](int x, int) { return uint32_t(x * 16 + i); }));
  }
  ASSERT_EQ(test::writeFixture(path, m), 6);
  SourceFile source(path);
  ASSERT_TRUE(source.Opened);
  ExtractionValues v = extractionValuesOf(source);
  EXPECT_EQ(v.firstFrame, 1u);
  EXPECT_EQ(v.lastFrame, 6u);
  EXPECT_EQ(v.cropWidth, 16u);
  ExtractionSource s = extractionSourceOf(source);
  EXPECT_EQ(s.frameCount, 6u);
  EXPECT_TRUE(validateExtraction(v, s).passed);
  v.firstFrame = 4;
  v.lastFrame = 5;
  v.cropTop = 4;
  v.cropHeight = 4;
  EXPECT_TRUE(validateExtraction(v, s).passed);
  storeExtractionValues(v, source);
  EXPECT_EQ(source.ExtractionStart, 3u);
  EXPECT_EQ(source.ExtractionEnd, 4u);
  EXPECT_EQ(source.CropY, 4u);
  EXPECT_EQ(source.CropHeight, 4u);
  setSourceMessageSink(nullptr);
}

}  // namespace
}  // namespace zov

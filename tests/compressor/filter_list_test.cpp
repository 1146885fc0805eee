// The filter list's texts, its dialogs' logic, the page's operations and applying the list.
#include <gtest/gtest.h>

#include "compressor/filter_list.h"
#include "encoder/filters.h"
#include "platform/ui.h"

namespace zov {
namespace {

TEST(FilterListTexts, LinesShowLevelsAsTheKindDisplaysThem) {
  std::vector<std::string> lines = filterListLines({{6, 150}, {7, -3}, {2, 1}, {0, 4}, {8, -105}});
  EXPECT_EQ(lines, (std::vector<std::string>{"Lighting: Gamma (Level=1.50)",
                                             "Lighting: Brightness (Level=-3)", "Smoothen: Median",
                                             "Sharpen: Inverted Low-Pass (Level=4)",
                                             "Lighting: Contrast (Level=-1.05)"}));
}

TEST(FilterListTexts, FilteredViewTitle) {
  std::vector<FilterEntry> list = {{3, 1}, {5, 1}};
  EXPECT_EQ(filteredViewTitle(list, false, false), "Filtering hidden: hit Ctrl+F to toggle on");
  EXPECT_EQ(filteredViewTitle({}, true, false), "No Filtering...");
  EXPECT_EQ(filteredViewTitle(list, true, true), "No Filtering...");
  EXPECT_EQ(filteredViewTitle(list, true, false), "Smoothen: Low-Pass, Smoothen: Rip");

  std::vector<FilterEntry> longList(20, FilterEntry{0, 1});  // 26 characters a name
  std::string title = filteredViewTitle(longList, true, false);
  EXPECT_LE(title.size(), 255u);
  EXPECT_EQ(title.substr(title.size() - 3), "...");
  // Nine names and their separators make 9 * 26 + 8 * 2 = 250; the tenth does not fit.
  EXPECT_EQ(title.size(), 253u);
  EXPECT_EQ(title.find("..."), 250u);
}

TEST(FilterLevelDialog, IntegerKindsStartAtTheLastUsedLevel) {
  auto last = defaultFilterLevels();
  last[kFilterFlatten] = 3;
  FilterLevelDialog d(kFilterFlatten, last);
  EXPECT_TRUE(d.hasScrollBar());
  EXPECT_EQ(d.minPosition(), 1);
  EXPECT_EQ(d.maxPosition(), 5);
  EXPECT_EQ(d.level(), 3);
  d.lineDown();
  d.lineDown();
  d.lineDown();
  EXPECT_EQ(d.level(), 5);  // held within the range
  EXPECT_EQ(d.valueText(), "5");
  EXPECT_EQ(d.ok(last), 5);
  EXPECT_EQ(last[kFilterFlatten], 5);
  EXPECT_EQ(d.cancel(), 0);
  EXPECT_TRUE(filterLevelCancelled(kFilterFlatten, d.cancel()));
}

TEST(FilterLevelDialog, SingleLevelKindsReturnTheirDefaultWithoutAScrollBar) {
  auto last = defaultFilterLevels();
  FilterLevelDialog d(kFilterMedian, last);
  EXPECT_FALSE(d.hasScrollBar());
  EXPECT_EQ(d.ok(last), 1);
}

TEST(FilterLevelDialog, BrightnessZeroIsRefused) {
  RecordingMessageBox boxes;
  ScopedMessageBoxSink scoped(&boxes);
  auto last = defaultFilterLevels();
  FilterLevelDialog d(kFilterBrightness, last);
  EXPECT_EQ(d.minPosition(), -15);
  d.setPosition(0);
  EXPECT_EQ(d.ok(last), std::nullopt);
  ASSERT_EQ(boxes.texts().size(), 1u);
  EXPECT_EQ(boxes.texts()[0],
            "CFG0012E Brightness level 0 means no brightness change and is not allowed");
  EXPECT_EQ(last[kFilterBrightness], 1);  // not stored
  d.setPosition(-3);
  EXPECT_EQ(d.ok(last), -3);
  EXPECT_EQ(d.cancel(), -16);
}

TEST(FilterLevelDialog, HundredthsSkipTheBandAroundOne) {
  auto last = defaultFilterLevels();
  FilterLevelDialog d(kFilterGamma, last);
  EXPECT_EQ(d.minPosition(), -40);
  EXPECT_EQ(d.maxPosition(), 40);
  EXPECT_EQ(d.position(), 1);  // 105
  EXPECT_EQ(d.valueText(), "1.05");
  d.setPosition(-1);
  EXPECT_EQ(d.level(), -105);
  EXPECT_EQ(d.valueText(), "-1.05");
  d.setPosition(40);
  EXPECT_EQ(d.level(), 300);
  d.setPosition(-40);
  EXPECT_EQ(d.level(), -300);
  for (int p = -40; p <= 40; ++p) {
    int32_t level = FilterLevelDialog::hundredthsLevel(p);
    EXPECT_FALSE(level > -100 && level < 100) << p;
    EXPECT_EQ(FilterLevelDialog::hundredthsPosition(level), p) << level;
  }
  EXPECT_EQ(FilterLevelDialog::hundredthsPosition(-100), 0);
  EXPECT_EQ(FilterLevelDialog::hundredthsPosition(99), 0);
  EXPECT_EQ(FilterLevelDialog::hundredthsPosition(-101), 0);  // -101 / 5 + 20, truncated
}

TEST(FilterLevelDialog, LevelOneIsRefusedForGammaAndContrast) {
  RecordingMessageBox boxes;
  ScopedMessageBoxSink scoped(&boxes);
  auto last = defaultFilterLevels();
  FilterLevelDialog d(kFilterContrast, last);
  d.setPosition(0);
  EXPECT_EQ(d.valueText(), "1.00");
  EXPECT_EQ(d.ok(last), std::nullopt);
  EXPECT_EQ(boxes.texts(),
            std::vector<std::string>{"CFG0011E Level 1.00 means no correction and is not allowed"});
  d.setPosition(-20);
  EXPECT_EQ(d.ok(last), -200);
  EXPECT_EQ(last[kFilterContrast], -200);
  EXPECT_EQ(FilterLevelDialog(kFilterContrast, last).position(), -20);
}

TEST(FilterSelectDialog, CombinesKindAndLevel) {
  uint32_t lastSelected = 7;
  FilterSelectDialog d(lastSelected);
  EXPECT_EQ(d.selected(), 7);
  EXPECT_EQ(FilterSelectDialog::names().size(), 9u);
  EXPECT_EQ(d.levelChosen(-16, lastSelected), std::nullopt);  // level dialog cancelled
  d.select(6);
  std::optional<int32_t> r = d.levelChosen(-150, lastSelected);
  ASSERT_TRUE(r);
  EXPECT_EQ(lastSelected, 6u);
  EXPECT_EQ(splitFilterSelection(*r), (FilterEntry{6, -150}));
  EXPECT_EQ(splitFilterSelection(FilterSelectDialog::cancel()), std::nullopt);
  d.select(12);
  EXPECT_FALSE(d.okEnabled());
}

TEST(FilterListPage, AddInsertEditDelete) {
  FilterListPage page({{3, 1}, {7, 2}});
  EXPECT_EQ(page.selected(), 1);
  page.select(-1);
  EXPECT_FALSE(page.canInsert());
  page.insert(combineFilterSelection(2, 1));  // nothing without a selection
  EXPECT_EQ(page.list().size(), 2u);
  page.add(combineFilterSelection(5, 1));  // always appends
  EXPECT_EQ(page.list().back(), (FilterEntry{5, 1}));
  page.add(-1);  // cancelled
  EXPECT_EQ(page.list().size(), 3u);
  page.select(1);
  page.insert(combineFilterSelection(6, 200));
  EXPECT_EQ(page.list()[1], (FilterEntry{6, 200}));
  EXPECT_EQ(page.lines()[1], "Lighting: Gamma (Level=2.00)");
  EXPECT_EQ(page.lines()[2], "Lighting: Brightness (Level=2)");
  EXPECT_EQ(page.selected(), 1);

  EXPECT_TRUE(page.edit(-250));
  EXPECT_EQ(page.lines()[1], "Lighting: Gamma (Level=-2.50)");
  EXPECT_FALSE(page.edit(-301));  // cancelled level dialog
  EXPECT_EQ(page.selected(), 1);

  page.select(3);
  page.remove();  // the last line: the one before is selected
  EXPECT_EQ(page.selected(), 2);
  page.select(0);
  page.remove();
  EXPECT_EQ(page.selected(), 0);
  EXPECT_EQ(page.list(), (std::vector<FilterEntry>{{6, -250}, {7, 2}}));
  EXPECT_EQ(page.lines().size(), 2u);
  page.remove();
  page.remove();  // the only entry: the list empties
  EXPECT_TRUE(page.list().empty());
  EXPECT_TRUE(page.lines().empty());
  EXPECT_EQ(page.selected(), -1);
  EXPECT_TRUE(page.validate());
}

TEST(FilterListApply, RunsTheListOrNothing) {
  const int w = 8, h = 6;
  std::vector<uint16_t> frame(w * h, 0x1234 & 0x7FFF);
  for (int i = 0; i < w * h; ++i) frame[i] = uint16_t((i * 2654435761u >> 7) & 0x7FFF);
  std::vector<FilterEntry> list = {{7, 4}, {3, 3}};

  std::vector<uint16_t> zov2 = frame;
  EXPECT_TRUE(applyFilterList(list, true, zov2.data(), w, h, FilterCaller::FrameFetch));
  EXPECT_EQ(zov2, frame);

  std::vector<uint16_t> got = frame, want = frame;
  EXPECT_TRUE(applyFilterList(list, false, got.data(), w, h, FilterCaller::FrameFetch));
  std::vector<uint8_t> work(filterWorkBufferSize(w, h));
  runFilterList(list, want.data(), work.data(), w, h);
  EXPECT_EQ(got, want);
}

TEST(FilterListApply, BufferFailureLeavesTheFrameAndSaysWhoFailed) {
  RecordingMessageBox boxes;
  ScopedMessageBoxSink scoped(&boxes);
  std::vector<uint16_t> frame(16 * 16, 0x1111);
  std::vector<FilterEntry> list = {{7, 4}};
  filter_list_testing::failNextBufferAllocations(3);
  EXPECT_FALSE(applyFilterList(list, false, frame.data(), 16, 16, FilterCaller::FrameFetch));
  EXPECT_FALSE(applyFilterList(list, false, frame.data(), 16, 16, FilterCaller::CompressionRun));
  EXPECT_FALSE(applyFilterList(list, false, frame.data(), 16, 16, FilterCaller::FilteringPreview));
  EXPECT_EQ(frame, std::vector<uint16_t>(16 * 16, 0x1111));
  auto b = boxes.boxes();
  ASSERT_EQ(b.size(), 3u);
  EXPECT_EQ(b[0].text, "CFG0009E Error: Unable to allocate filter buffer");
  EXPECT_EQ(b[0].title, "Filter");
  EXPECT_EQ(b[1].text, "CFG0010E Error: Unable to allocate filter buffer");
  EXPECT_EQ(b[1].title, "Filter");
  EXPECT_EQ(b[2].text, "CFG0068E Error: Unable to allocate filter buffer");
  EXPECT_EQ(b[2].title, "ZOV Compressor");
  EXPECT_EQ(b[0].style & MB_ICONMASK, uint32_t(MB_ICONSTOP));
}

TEST(FilterPreview, ZoomLabelsAndPanning) {
  EXPECT_EQ(filterZoomLabel(0), "fit");
  EXPECT_EQ(filterZoomLabel(1), "1x");
  EXPECT_EQ(filterZoomLabel(6), "32x");
  // 320-pixel frame, 100-pixel picture at 2x shows 50 frame pixels: origin 0..270.
  EXPECT_EQ(clampPreviewOrigin(10, 30, 320, 100, 2), 40);
  EXPECT_EQ(clampPreviewOrigin(10, -30, 320, 100, 2), 0);
  EXPECT_EQ(clampPreviewOrigin(260, 30, 320, 100, 2), 270);
  EXPECT_EQ(clampPreviewOrigin(5, 5, 80, 200, 1), 0);  // picture wider than the frame
}

}  // namespace
}  // namespace zov

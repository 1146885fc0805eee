// The filter list as the compressor edits and applies it: the list lines and the filtered view's
// title, the selection and level dialogs' logic, the "Video Filtering" page's operations, the
// preview's zoom and panning, and applying the list to a frame with its own work buffer.
//
// Widgets only show these models and forward the user's actions to them; everything here runs
// without a window.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "encoder/compression_settings.h"

namespace zov {

// ---- Texts ----

// A list line: the kind's name, then " (Level=1.50)" for fractional kinds or " (Level=-3)" for
// kinds with more than one level.
std::string filterListLine(const FilterEntry& entry);
std::vector<std::string> filterListLines(const std::vector<FilterEntry>& list);

// Title of the filtered-source view: hidden, "No Filtering..." without a list or for ZOV2
// sources, else the kinds' names in list order joined by ", ", at most 255 characters (a name
// that would not fit is replaced by "..." and ends the title).
std::string filteredViewTitle(const std::vector<FilterEntry>& list, bool showFilter,
                              bool allSourcesZov2);

// ---- Applying the list ----

// Which caller applies the list; it decides the message shown when the work buffer can't be had.
enum class FilterCaller {
  FrameFetch,        // the source reader: "CFG0009E ...", title "Filter"
  CompressionRun,    // the run's own copy: "CFG0010E ...", title "Filter"
  FilteringPreview,  // the page's "After:" picture: "CFG0068E ...", title "ZOV Compressor"
};

// Runs every entry in order on the frame in place. Nothing is applied with an empty list or when
// every source is already ZOV2; false only when the work buffer could not be allocated (after
// its message).
bool applyFilterList(const std::vector<FilterEntry>& list, bool allSourcesZov2, uint16_t* pixels,
                     int width, int height, FilterCaller caller);

namespace filter_list_testing {
// Makes the next work-buffer allocations fail (count of them).
void failNextBufferAllocations(int count);
}  // namespace filter_list_testing

// ---- The level dialog of one kind ----

class FilterLevelDialog {
 public:
  // Starts at the kind's last-used level.
  FilterLevelDialog(int32_t kind, const std::array<int32_t, kFilterKindCount>& lastUsedLevels);

  int32_t kind() const { return kind_; }
  // Kinds with a single level have no scroll range.
  bool hasScrollBar() const { return minPosition_ != maxPosition_; }
  int32_t minPosition() const { return minPosition_; }
  int32_t maxPosition() const { return maxPosition_; }
  int32_t position() const { return position_; }
  // Moves the thumb (line and page steps are 1), held within the range.
  void setPosition(int32_t position);
  void lineUp() { setPosition(position_ - 1); }
  void lineDown() { setPosition(position_ + 1); }
  // The level the position stands for, and its text ("%d", or "%ld.%02ld" for hundredths).
  int32_t level() const;
  std::string valueText() const;

  // "Ok!": the chosen level, stored as the kind's last-used level; or, for a level that means
  // no change, nothing after its message (the dialog stays open).
  std::optional<int32_t> ok(std::array<int32_t, kFilterKindCount>& lastUsedLevels) const;
  // "Cancel": the kind's minimum minus 1.
  int32_t cancel() const;

  // Gamma and contrast: the position of a level and back (the band -1.00..1.00 is skipped).
  static int32_t hundredthsPosition(int32_t lastUsedLevel);
  static int32_t hundredthsLevel(int32_t position);

 private:
  int32_t kind_;
  int32_t minPosition_ = 0, maxPosition_ = 0, position_ = 0;
};

// True when a level dialog's result means the user cancelled.
inline bool filterLevelCancelled(int32_t kind, int32_t level) {
  return !filterLevelInRange(kind, level);
}

// ---- The selection dialog ("Select a new filter") ----

// The dialog's result: the kind index in the upper 16 bits and the level in the lower 16 bits,
// or -1 when cancelled.
int32_t combineFilterSelection(int32_t kind, int32_t level);
std::optional<FilterEntry> splitFilterSelection(int32_t result);

class FilterSelectDialog {
 public:
  explicit FilterSelectDialog(uint32_t lastSelectedFilter);
  // The nine names in kind order.
  static std::vector<std::string> names();
  int32_t selected() const { return selected_; }  // -1: none
  void select(int32_t kind) { selected_ = isFilterKind(kind) ? kind : -1; }
  bool okEnabled() const { return selected_ >= 0; }
  // After "Ok!" or a double click the selected kind's level dialog ran and returned `level`:
  // within range the kind becomes the last selected one and the combined result is returned;
  // otherwise (cancelled) the selection dialog stays open (nothing returned).
  std::optional<int32_t> levelChosen(int32_t level, uint32_t& lastSelectedFilter) const;
  static int32_t cancel() { return -1; }

 private:
  int32_t selected_;
};

// ---- The "Video Filtering" page ----

class FilterListPage {
 public:
  // Fills the lines from the working list and selects the last one.
  explicit FilterListPage(std::vector<FilterEntry> list);

  const std::vector<FilterEntry>& list() const { return list_; }
  const std::vector<std::string>& lines() const { return lines_; }
  int selected() const { return selected_; }  // -1: none
  void select(int index);

  // "&Add a filter to the bottom of the list" with the selection dialog's result.
  void add(int32_t selectionResult);
  // "&Insert a filter before the selected filter": nothing without a selection (the caller need
  // not even run the selection dialog, see canInsert()).
  bool canInsert() const { return selected_ >= 0; }
  void insert(int32_t selectionResult);
  // "&Edit the selected filter" with the level dialog's result: a level in range replaces the
  // entry's level and its line; the line stays selected. True when the entry changed (the
  // "After:" preview is redrawn).
  bool edit(int32_t level);
  // "&Delete the selected filter from the list". Removing the only entry empties the list as
  // "&Restore page to defaults" does.
  void remove();
  // "&Restore page to defaults": an empty list.
  void reset();
  // The page always accepts.
  bool validate() const { return true; }

 private:
  void insertAt(size_t index, int32_t selectionResult);
  std::vector<FilterEntry> list_;
  std::vector<std::string> lines_;
  int selected_ = -1;
};

// ---- The preview ----

inline constexpr uint32_t kMaxFilterThumbnailZoom = 6;
// "fit" at 0, else "1x" .. "32x".
std::string filterZoomLabel(uint32_t zoom);
// A new top-left position of a magnified preview: the position at the button press plus the
// mouse movement, held between 0 and the frame size minus the picture size divided by the
// magnification (0 when the picture shows the whole frame).
int32_t clampPreviewOrigin(int32_t pressOrigin, int32_t movement, int32_t frameSize,
                           int32_t pictureSize, uint32_t zoom);

}  // namespace zov

#include "compressor/filter_list.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <new>

#include "encoder/filters.h"
#include "platform/ui.h"

namespace zov {
namespace {

constexpr const char* kTitle = "ZOV Compressor";
constexpr size_t kMaxViewTitle = 255;

std::atomic<int> failingAllocations{0};

// The work buffer for one run of the list, or null when it can't be had.
std::unique_ptr<uint8_t[]> allocateWorkBuffer(int width, int height) {
  if (failingAllocations > 0) {
    --failingAllocations;
    return nullptr;
  }
  return std::unique_ptr<uint8_t[]>(new (std::nothrow)
                                        uint8_t[filterWorkBufferSize(width, height)]);
}

}  // namespace

namespace filter_list_testing {
void failNextBufferAllocations(int count) {
  failingAllocations = count;
}
}  // namespace filter_list_testing

// ---- Texts ----

std::string filterListLine(const FilterEntry& entry) {
  if (!isFilterKind(entry.kind)) return "?";
  const FilterKind& k = kFilterKinds[entry.kind];
  char level[48] = "";
  if (k.fractional) {
    std::snprintf(level, sizeof level, " (Level=%.2f)", entry.level / 100.0);
  } else if (k.minLevel != k.maxLevel) {
    std::snprintf(level, sizeof level, " (Level=%d)", int(entry.level));
  }
  return std::string(k.name) + level;
}

std::vector<std::string> filterListLines(const std::vector<FilterEntry>& list) {
  std::vector<std::string> lines;
  lines.reserve(list.size());
  for (const FilterEntry& e : list) lines.push_back(filterListLine(e));
  return lines;
}

std::string filteredViewTitle(const std::vector<FilterEntry>& list, bool showFilter,
                              bool allSourcesZov2) {
  if (!showFilter) return "Filtering hidden: hit Ctrl+F to toggle on";
  if (list.empty() || allSourcesZov2) return "No Filtering...";
  std::string title;
  for (const FilterEntry& e : list) {
    std::string piece = title.empty() ? "" : ", ";
    piece += isFilterKind(e.kind) ? kFilterKinds[e.kind].name : "?";
    if (title.size() + piece.size() > kMaxViewTitle) {
      title.resize(std::min(title.size(), kMaxViewTitle - 3));
      title += "...";
      break;
    }
    title += piece;
  }
  return title;
}

// ---- Applying ----

bool applyFilterList(const std::vector<FilterEntry>& list, bool allSourcesZov2, uint16_t* pixels,
                     int width, int height, FilterCaller caller) {
  if (list.empty() || allSourcesZov2 || width <= 0 || height <= 0) return true;
  std::unique_ptr<uint8_t[]> work = allocateWorkBuffer(width, height);
  if (!work) {
    switch (caller) {
      case FilterCaller::FrameFetch:
        messageBox(nullptr, "CFG0009E Error: Unable to allocate filter buffer", "Filter",
                   MB_OK | MB_ICONSTOP);
        break;
      case FilterCaller::CompressionRun:
        messageBox(nullptr, "CFG0010E Error: Unable to allocate filter buffer", "Filter",
                   MB_OK | MB_ICONSTOP);
        break;
      case FilterCaller::FilteringPreview:
        messageBox(nullptr, "CFG0068E Error: Unable to allocate filter buffer", kTitle,
                   MB_OK | MB_ICONSTOP);
        break;
    }
    return false;
  }
  runFilterList(list, pixels, work.get(), width, height);
  return true;
}

// ---- Level dialog ----

FilterLevelDialog::FilterLevelDialog(int32_t kind,
                                     const std::array<int32_t, kFilterKindCount>& lastUsedLevels)
    : kind_(isFilterKind(kind) ? kind : 0) {
  const FilterKind& k = kFilterKinds[kind_];
  int32_t last = lastUsedLevels[kind_];
  if (k.fractional) {
    // Five hundredths per step on either side of 1.00, the band -1.00..1.00 left out.
    maxPosition_ = (k.maxLevel - k.minLevel - 200) / 5 / 2;
    minPosition_ = -maxPosition_;
    setPosition(hundredthsPosition(last));
  } else if (k.minLevel != k.maxLevel) {
    minPosition_ = k.minLevel;
    maxPosition_ = k.maxLevel;
    setPosition(last);
  } else {
    minPosition_ = maxPosition_ = position_ = k.defaultLevel;
  }
}

void FilterLevelDialog::setPosition(int32_t position) {
  position_ = std::clamp(position, minPosition_, maxPosition_);
}

int32_t FilterLevelDialog::hundredthsPosition(int32_t level) {
  if (level >= -100 && level < 100) level = 100;
  return level > 0 ? level / 5 - 20 : level / 5 + 20;
}

int32_t FilterLevelDialog::hundredthsLevel(int32_t position) {
  return position >= 0 ? 5 * position + 100 : 5 * position - 100;
}

int32_t FilterLevelDialog::level() const {
  const FilterKind& k = kFilterKinds[kind_];
  if (k.fractional) return hundredthsLevel(position_);
  if (!hasScrollBar()) return k.defaultLevel;
  return position_;
}

std::string FilterLevelDialog::valueText() const {
  int32_t l = level();
  char text[32];
  if (kFilterKinds[kind_].fractional) {
    std::snprintf(text, sizeof text, "%ld.%02ld", long(l / 100), long(std::abs(l % 100)));
  } else {
    std::snprintf(text, sizeof text, "%d", int(l));
  }
  return text;
}

std::optional<int32_t> FilterLevelDialog::ok(
    std::array<int32_t, kFilterKindCount>& lastUsedLevels) const {
  int32_t l = level();
  if (kFilterKinds[kind_].fractional && l == 100) {
    messageBox(nullptr, "CFG0011E Level 1.00 means no correction and is not allowed", kTitle,
               MB_OK | MB_ICONSTOP);
    return std::nullopt;
  }
  if (kind_ == kFilterBrightness && l == 0) {
    messageBox(nullptr, "CFG0012E Brightness level 0 means no brightness change and is not allowed",
               kTitle, MB_OK | MB_ICONSTOP);
    return std::nullopt;
  }
  if (hasScrollBar()) lastUsedLevels[kind_] = l;
  return l;
}

int32_t FilterLevelDialog::cancel() const {
  return kFilterKinds[kind_].minLevel - 1;
}

// ---- Selection dialog ----

int32_t combineFilterSelection(int32_t kind, int32_t level) {
  return int32_t(uint32_t(kind) << 16 | (uint32_t(level) & 0xFFFF));
}

std::optional<FilterEntry> splitFilterSelection(int32_t result) {
  if (result == -1) return std::nullopt;
  FilterEntry e{int32_t(uint32_t(result) >> 16), int32_t(int16_t(uint32_t(result) & 0xFFFF))};
  if (!isFilterKind(e.kind) || !filterLevelInRange(e.kind, e.level)) return std::nullopt;
  return e;
}

FilterSelectDialog::FilterSelectDialog(uint32_t lastSelectedFilter)
    : selected_(lastSelectedFilter < uint32_t(kFilterKindCount) ? int32_t(lastSelectedFilter) : 0) {
}

std::vector<std::string> FilterSelectDialog::names() {
  std::vector<std::string> n;
  for (const FilterKind& k : kFilterKinds) n.emplace_back(k.name);
  return n;
}

std::optional<int32_t> FilterSelectDialog::levelChosen(int32_t level,
                                                       uint32_t& lastSelectedFilter) const {
  if (selected_ < 0 || !filterLevelInRange(selected_, level)) return std::nullopt;
  lastSelectedFilter = uint32_t(selected_);
  return combineFilterSelection(selected_, level);
}

// ---- Page ----

FilterListPage::FilterListPage(std::vector<FilterEntry> list) : list_(std::move(list)) {
  lines_ = filterListLines(list_);
  selected_ = list_.empty() ? -1 : int(list_.size()) - 1;
}

void FilterListPage::select(int index) {
  selected_ = index >= 0 && index < int(list_.size()) ? index : -1;
}

void FilterListPage::insertAt(size_t index, int32_t selectionResult) {
  std::optional<FilterEntry> e = splitFilterSelection(selectionResult);
  if (!e) return;
  list_.insert(list_.begin() + ptrdiff_t(index), *e);
  lines_.insert(lines_.begin() + ptrdiff_t(index), filterListLine(*e));
  selected_ = int(index);
}

void FilterListPage::add(int32_t selectionResult) {
  insertAt(list_.size(), selectionResult);
}

void FilterListPage::insert(int32_t selectionResult) {
  if (selected_ < 0) return;
  insertAt(size_t(selected_), selectionResult);
}

bool FilterListPage::edit(int32_t level) {
  if (selected_ < 0) return false;
  FilterEntry& e = list_[size_t(selected_)];
  if (!filterLevelInRange(e.kind, level)) return false;
  e.level = level;
  lines_[size_t(selected_)] = filterListLine(e);
  return true;
}

void FilterListPage::remove() {
  if (selected_ < 0) return;
  if (list_.size() == 1) {
    reset();
    return;
  }
  list_.erase(list_.begin() + selected_);
  lines_.erase(lines_.begin() + selected_);
  if (selected_ >= int(list_.size())) selected_ = int(list_.size()) - 1;
}

void FilterListPage::reset() {
  list_.clear();
  lines_.clear();
  selected_ = -1;
}

// ---- Preview ----

std::string filterZoomLabel(uint32_t zoom) {
  if (zoom == 0) return "fit";
  zoom = std::min(zoom, kMaxFilterThumbnailZoom);
  return std::to_string(1u << (zoom - 1)) + "x";
}

int32_t clampPreviewOrigin(int32_t pressOrigin, int32_t movement, int32_t frameSize,
                           int32_t pictureSize, uint32_t zoom) {
  if (zoom == 0) return 0;
  zoom = std::min(zoom, kMaxFilterThumbnailZoom);
  int64_t limit = int64_t(frameSize) - int64_t(pictureSize) / (int64_t(1) << (zoom - 1));
  if (limit < 0) limit = 0;
  int64_t origin = int64_t(pressOrigin) + movement;
  return int32_t(std::clamp<int64_t>(origin, 0, limit));
}

}  // namespace zov

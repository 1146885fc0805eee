// Window placements in "zovcomp.ini", section "General": per view a prefix ("Frame", "Text",
// "Input", "DataRate", "Filter", "Output", "RMS") followed by "ShowCmd", "MinX", "MinY", "MaxX",
// "MaxY", "Left", "Top", and for "Frame", "Text" and "DataRate" also "Right" and "Bottom".
#pragma once

#include <cstdint>
#include <string>

namespace zov {

// Show states of a placement.
enum : uint32_t { kShowNormal = 1, kShowMinimized = 2, kShowMaximized = 3, kShowRestore = 9 };

struct WindowPlacement {
  uint32_t showCmd = kShowRestore;
  int32_t minX = 0, minY = 0, maxX = 0, maxY = 0;
  int32_t left = 0, top = 0, right = 0, bottom = 0;
  bool hasRightBottom = false;

  int32_t width() const { return right - left; }
  int32_t height() const { return bottom - top; }
};

// The defaults of a prefix (the normal rectangle of views without "Right"/"Bottom" keys is 320
// by 60 from "Left"/"Top").
WindowPlacement defaultPlacement(const std::string& prefix);
WindowPlacement loadPlacement(const std::string& file, const std::string& prefix);
void savePlacement(const std::string& file, const std::string& prefix,
                   const WindowPlacement& placement);
// True once a placement of the prefix has been saved (a first start has none).
bool placementStored(const std::string& file, const std::string& prefix);
// The normal size of a view without "Right"/"Bottom" keys, kept beside its placement as
// prefix + "Width" and "Height"; 0 by 0 when none was kept.
struct ViewSize {
  int32_t width = 0, height = 0;
};
ViewSize loadViewSize(const std::string& file, const std::string& prefix);
void saveViewSize(const std::string& file, const std::string& prefix, ViewSize size);

}  // namespace zov

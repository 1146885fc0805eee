#include "compressor/gui/window_placement.h"

#include "compressor/settings_file.h"
#include "platform/profile.h"

namespace zov {

namespace {

bool withRightBottom(const std::string& prefix) {
  return prefix == "Frame" || prefix == "Text" || prefix == "DataRate";
}

}  // namespace

WindowPlacement defaultPlacement(const std::string& prefix) {
  WindowPlacement p;
  p.hasRightBottom = withRightBottom(prefix);
  if (prefix == "Text" || prefix == "DataRate") {
    p.minX = 326;
    p.left = 326;
    p.right = 645;
    p.bottom = 328;
  } else if (prefix == "Frame") {
    p.right = 1024;
    p.bottom = 720;
  } else {
    int number = -1;
    if (prefix == "Filter") number = 0;
    if (prefix == "Output") number = 1;
    if (prefix == "RMS") number = 2;
    if (number >= 0) p.left = p.top = 16 * (number + 1);
  }
  if (!p.hasRightBottom) {
    p.right = p.left + 320;
    p.bottom = p.top + 60;
  }
  return p;
}

WindowPlacement loadPlacement(const std::string& file, const std::string& prefix) {
  const WindowPlacement d = defaultPlacement(prefix);
  WindowPlacement p = d;
  ProfileFile f(file);
  auto get = [&](const char* key, int32_t dflt) {
    return int32_t(f.getInt(kGeneralSection, prefix + key, dflt));
  };
  p.showCmd = uint32_t(get("ShowCmd", int32_t(d.showCmd)));
  p.minX = get("MinX", d.minX);
  p.minY = get("MinY", d.minY);
  p.maxX = get("MaxX", d.maxX);
  p.maxY = get("MaxY", d.maxY);
  p.left = get("Left", d.left);
  p.top = get("Top", d.top);
  if (p.hasRightBottom) {
    p.right = get("Right", d.right);
    p.bottom = get("Bottom", d.bottom);
  } else {
    p.right = p.left + 320;
    p.bottom = p.top + 60;
  }
  return p;
}

void savePlacement(const std::string& file, const std::string& prefix, const WindowPlacement& p) {
  ProfileFile f(file);
  auto put = [&](const char* key, int32_t v) { f.writeInt(kGeneralSection, prefix + key, v); };
  put("ShowCmd", int32_t(p.showCmd));
  put("MinX", p.minX);
  put("MinY", p.minY);
  put("MaxX", p.maxX);
  put("MaxY", p.maxY);
  put("Left", p.left);
  put("Top", p.top);
  if (withRightBottom(prefix)) {
    put("Right", p.right);
    put("Bottom", p.bottom);
  }
}

bool placementStored(const std::string& file, const std::string& prefix) {
  return ProfileFile(file).hasKey(kGeneralSection, prefix + "Left");
}

ViewSize loadViewSize(const std::string& file, const std::string& prefix) {
  ProfileFile f(file);
  return {int32_t(f.getInt(kGeneralSection, prefix + "Width", 0)),
          int32_t(f.getInt(kGeneralSection, prefix + "Height", 0))};
}

void saveViewSize(const std::string& file, const std::string& prefix, ViewSize size) {
  ProfileFile f(file);
  f.writeInt(kGeneralSection, prefix + "Width", size.width);
  f.writeInt(kGeneralSection, prefix + "Height", size.height);
}

}  // namespace zov

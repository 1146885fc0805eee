#include "player/player_settings.h"

#include <algorithm>

#include "platform/profile.h"

namespace zov::player {

namespace {

constexpr const char* S = kSettingsSection;

std::string text(const ProfileFile& f, const char* key, const char* fallback) {
  return f.getString(S, key, fallback, 260);
}

uint32_t atMost(uint32_t value, uint32_t limit, uint32_t fallback) {
  return value <= limit ? value : fallback;
}

}  // namespace

uint32_t defaultWindowedStyle(const DisplayInfo& display) {
  if (display.processorLevel <= 4 || display.screenWidth <= 640) return 0;
  if (display.depth == 8) return 7;
  if (display.depth == 15 || display.depth == 16) return 4;
  return 0;
}

bool isRewFFSpeed(uint32_t speed) {
  return speed == 0 || speed == 2500 || speed == 5000 || speed == 7500 || speed == 10000;
}

PlayerSettings loadPlayerSettings(const ProfileFile& f, const DisplayInfo& display) {
  PlayerSettings s;
  s.windowX = int32_t(f.getInt(S, "WindowXPos", kDefaultWindowX));
  s.windowY = int32_t(f.getInt(S, "WindowYPos", kDefaultWindowY));
  s.windowWidth = f.getInt(S, "WindowWidth", 240);
  s.windowHeight = f.getInt(S, "WindowHeight", 320);
  // A size no screen could show is a damaged file: the defaults keep the window usable.
  if (s.windowWidth > 16384) s.windowWidth = 240;
  if (s.windowHeight > 16384) s.windowHeight = 320;
  const uint32_t windowedDefault = defaultWindowedStyle(display);
  s.windowedStyle =
      atMost(f.getInt(S, "WindowedStyle", int32_t(windowedDefault)), 12, windowedDefault);
  if (isPalettizedMethod(s.windowedStyle) && display.depth != 8) s.windowedStyle = 0;
  s.fullscreenStyle = atMost(f.getInt(S, "FullscreenStyle", 4), 12, 4);
  s.resolution = atMost(f.getInt(S, "Resolution", 2), 4, 2);
  s.brightness = int32_t(f.getInt(S, "Brightness", 0));
  if (s.brightness < -15 || s.brightness > 15) s.brightness = 0;
  s.gamma = int32_t(f.getInt(S, "Gamma", 100));
  if (s.gamma < -300 || s.gamma > 300) s.gamma = 100;
  s.rewFFSpeed = f.getInt(S, "RewFFSpeed", 0);
  if (!isRewFFSpeed(s.rewFFSpeed)) s.rewFFSpeed = 0;
  s.rewFFMute = f.getInt(S, "RewFFMute", 0) != 0;
  s.slowMoMute = f.getInt(S, "SlowMoMute", 0) != 0;
  s.autoLoop = f.getInt(S, "AutoLoop", 1) != 0;
  s.alwaysOnTop = f.getInt(S, "AlwaysOnTop", 0) != 0;
  s.boostPriority = f.getInt(S, "BoostPriority", 0) != 0;
  s.disableScreenSaver = f.getInt(S, "DisableScreenSaver", 1) != 0;
  s.maximized = f.getInt(S, "Maximized", 0) != 0;
  s.filePath = text(f, "FilePath", "*.avi");
  for (int i = 0; i < kRecallCount; ++i) {
    const std::string key = "FileRecall" + std::to_string(i + 1);
    s.fileRecall[size_t(i)] = text(f, key.c_str(), "");
  }
  s.networkedVideo = f.getInt(S, "NetworkedVideo", 0) != 0;
  s.gotoFrame = f.getInt(S, "GotoFrame", 1);
  s.replayStartFrame = text(f, "ReplayStartFrame", "");
  s.replayEndFrame = text(f, "ReplayEndFrame", "");
  return s;
}

bool savePlayerSettings(ProfileFile& f, const PlayerSettings& s) {
  std::vector<std::pair<std::string, std::string>> keys;
  // Start from what the file holds so that the read-only keys and any others stay.
  for (auto& entry : f.entries(S)) keys.push_back(entry);
  auto put = [&](const std::string& key, std::string value) {
    for (auto& [k, v] : keys) {
      if (std::equal(k.begin(), k.end(), key.begin(), key.end(),
                     [](char a, char b) { return std::tolower(a) == std::tolower(b); })) {
        v = std::move(value);
        return;
      }
    }
    keys.emplace_back(key, std::move(value));
  };
  put("WindowXPos", std::to_string(s.windowX));
  put("WindowYPos", std::to_string(s.windowY));
  put("WindowWidth", std::to_string(s.windowWidth));
  put("WindowHeight", std::to_string(s.windowHeight));
  put("WindowedStyle", std::to_string(s.windowedStyle));
  put("FullscreenStyle", std::to_string(s.fullscreenStyle));
  put("Resolution", std::to_string(s.resolution));
  put("Brightness", std::to_string(s.brightness));
  put("Gamma", std::to_string(s.gamma));
  put("RewFFSpeed", std::to_string(s.rewFFSpeed));
  put("RewFFMute", std::to_string(unsigned(s.rewFFMute)));
  put("SlowMoMute", std::to_string(unsigned(s.slowMoMute)));
  put("AutoLoop", std::to_string(unsigned(s.autoLoop)));
  put("AlwaysOnTop", std::to_string(unsigned(s.alwaysOnTop)));
  put("BoostPriority", std::to_string(unsigned(s.boostPriority)));
  put("FilePath", s.filePath);
  for (int i = 0; i < kRecallCount; ++i)
    put("FileRecall" + std::to_string(i + 1), s.fileRecall[size_t(i)]);
  put("GotoFrame", std::to_string(s.gotoFrame));
  put("ReplayStartFrame", s.replayStartFrame);
  put("ReplayEndFrame", s.replayEndFrame);
  // One atomic update for the whole section.
  return f.replaceSection(S, keys);
}

void placeOnScreen(PlayerSettings& s, int left, int top, int width, int height) {
  const bool xInside = s.windowX >= left && s.windowX < left + width;
  const bool yInside = s.windowY >= top && s.windowY < top + height;
  if (!xInside || !yInside) {
    s.windowX = kDefaultWindowX;
    s.windowY = kDefaultWindowY;
  }
}

void rememberFile(PlayerSettings& s, const std::string& path) {
  std::vector<std::string> list{path};
  for (auto& entry : s.fileRecall)
    if (!entry.empty() && entry != path) list.push_back(entry);
  for (size_t i = 0; i < s.fileRecall.size(); ++i) s.fileRecall[i] = i < list.size() ? list[i] : "";
}

}  // namespace zov::player

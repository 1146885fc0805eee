// The player's settings file "zovbrindle.ini", section "Movie Player": defaults, the ranges each
// value is kept in, the default windowed style for the display, and the start-up placement rule.
#pragma once

#include <array>
#include <cstdint>
#include <string>

namespace zov {

class ProfileFile;

namespace player {

inline constexpr const char* kSettingsFile = "zovbrindle.ini";
inline constexpr const char* kSettingsSection = "Movie Player";
inline constexpr int kDefaultWindowX = 157;
inline constexpr int kDefaultWindowY = 104;
inline constexpr int kRecallCount = 8;

// What the default windowed style depends on.
struct DisplayInfo {
  int processorLevel = 6;  // 4 for a 486, above 4 for Pentium-class processors
  int screenWidth = 1024;
  int screenHeight = 768;
  int depth = 16;  // bits per pixel
};

// 0 on a small screen or an old processor; on a wider screen 7 (8-bit display) or 4 (15/16-bit).
uint32_t defaultWindowedStyle(const DisplayInfo& display);
// The 8-bit output methods (7 to 12).
inline bool isPalettizedMethod(uint32_t method) {
  return method >= 7 && method <= 12;
}

struct PlayerSettings {
  int windowX = kDefaultWindowX;
  int windowY = kDefaultWindowY;
  uint32_t windowWidth = 240;
  uint32_t windowHeight = 320;
  uint32_t windowedStyle = 0;
  uint32_t fullscreenStyle = 4;
  uint32_t resolution = 2;
  int32_t brightness = 0;
  int32_t gamma = 100;
  uint32_t rewFFSpeed = 0;
  bool rewFFMute = false;
  bool slowMoMute = false;
  bool autoLoop = true;
  bool alwaysOnTop = false;
  bool boostPriority = false;
  bool disableScreenSaver = true;  // read only
  bool maximized = false;          // read only
  std::string filePath = "*.avi";
  std::array<std::string, kRecallCount> fileRecall;
  bool networkedVideo = false;  // read only
  uint32_t gotoFrame = 1;
  std::string replayStartFrame;
  std::string replayEndFrame;
};

// Reads every key, replacing out-of-range values by their defaults.
PlayerSettings loadPlayerSettings(const ProfileFile& file, const DisplayInfo& display);
// Writes back every key except the read-only ones.
bool savePlayerSettings(ProfileFile& file, const PlayerSettings& settings);

// Both coordinates return to (157, 104) when either lies outside the screen.
void placeOnScreen(PlayerSettings& settings, int screenLeft, int screenTop, int screenWidth,
                   int screenHeight);

// Adds a file to the front of the recall list, without duplicates, keeping eight.
void rememberFile(PlayerSettings& settings, const std::string& path);

// The speeds the options dialog offers for rewind and fast forward.
bool isRewFFSpeed(uint32_t speed);

}  // namespace player
}  // namespace zov

// Helpers of the player tests: a settings folder per test, the bundled sample, and pictures
// decoded straight through the codec for comparison with what the player shows.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "player/movie_file.h"

#include <memory>

namespace zov::player {
class MovieWidget;
class PlayerWindow;
}  // namespace zov::player

namespace zov::test {

// What the movie window shows in its picture area, as 0xFFRRGGBB pixels.
std::vector<uint32_t> drawn(player::MovieWidget& movie);

// A shown player window with silent audio, its settings in the ZOV home, on a 1024x768 24-bit
// display (windowed style 0).
std::unique_ptr<player::PlayerWindow> makeShownPlayerWindow();

// Points ZOV_HOME at a fresh folder for its lifetime.
class TempHome {
 public:
  TempHome();
  ~TempHome();
  const std::string& path() const { return path_; }

 private:
  std::string path_;
  std::string previous_;
  bool hadPrevious_ = false;
};

std::string makeTempFolder();
std::string teapotPath();

// Frames 0..count-1 of a ZOV movie decoded in order by a codec instance of their own, with the
// output the codec proposes, as pictures.
std::vector<player::Picture> decodeWithCodec(const std::string& path, uint32_t count);

// A generated clip for the sync measurement: 64x48 24-bit frames at `fps`, 8-bit mono PCM at
// `rate`; every `keyInterval`-th frame is a white key frame and its audio starts with a click
// (a full-scale pulse of 2 ms), the rest is black and silent.
bool writeClickClip(const std::string& path, uint32_t frames, uint32_t fps, uint32_t rate,
                    uint32_t keyInterval);

}  // namespace zov::test

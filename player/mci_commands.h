// The small MCI command-string layer: the player speaks to its movie window in command strings
// ("play window notify", "step by 1 reverse wait", "seek to 12 wait", "set audio all off" ...),
// and this layer turns them into calls on the movie device. Frames are numbered from 0.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace zov::player {

struct PlayRequest {
  bool fullscreen = false;
  bool reverse = false;
  bool notify = false;
  std::optional<long> from, to;
};

enum class MovieMode { NotReady, Stopped, Playing, Paused };

// What a movie window does for the commands.
class MovieDevice {
 public:
  virtual ~MovieDevice() = default;
  virtual bool isOpen() const = 0;
  virtual bool play(const PlayRequest& request) = 0;
  virtual void stop() = 0;
  virtual void pause() = 0;
  virtual bool seek(long frame) = 0;
  virtual bool step(long frames) = 0;  // negative: backwards
  virtual void setAudioEnabled(bool on) = 0;
  // 1000 is normal speed; 0 plays every frame as fast as it can be shown.
  virtual void setSpeed(uint32_t speed) = 0;
  virtual uint32_t speed() const = 0;
  virtual long position() const = 0;
  virtual long start() const = 0;
  virtual long length() const = 0;  // frames
  virtual MovieMode mode() const = 0;
};

// MCI-style results.
enum : long {
  kMciOk = 0,
  kMciNotOpen = 263,       // no device open
  kMciUnrecognized = 258,  // unknown command
  kMciBadParameter = 274,  // a parameter is missing or not a number
  kMciOutOfRange = 276,    // a frame outside the movie
};

// Sends one command; `result` receives the answer of "status ..." commands.
long sendCommandString(MovieDevice& device, std::string_view command,
                       std::string* result = nullptr);

// printf-style helper for the commands with numbers ("seek to %ld wait").
std::string commandWithNumbers(const char* format, long a, long b = 0);

}  // namespace zov::player

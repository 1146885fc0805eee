// The movie window's transport: plays, stops, seeks and steps one movie, keeps the picture and
// the audio in step, and answers the MCI command layer (it is the MovieDevice).
//
// Timing: frame n is due at n / framesPerSecond after the play started from its first frame,
// scaled by the speed (1000 is normal). While audio plays (forward at normal speed, audio on)
// the audio output's play position is the clock, so the picture follows the sound; otherwise the
// steady clock. A frame that is already late when the window's timer comes is not shown: the
// decoder moves on to the due frame (from the nearest key frame when that is shorter). At speed
// 0 every frame is shown, one per tick, without audio.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>

#include "player/audio_output.h"
#include "player/mci_commands.h"
#include "player/movie_file.h"

namespace zov::player {

// Where a frame lies on the timeline of a play; pure arithmetic, tested on its own.
struct PlayTimeline {
  long startFrame = 0;
  int direction = 1;      // 1 forward, -1 reverse
  uint32_t speed = 1000;  // MCI speed; 0 means "as fast as frames can be shown"
  double framesPerSecond = 15;
  // The frame due after `elapsedMicros` of playing.
  long dueFrame(int64_t elapsedMicros) const;
  // Microseconds from the start of the play until `frame` is due.
  int64_t dueTime(long frame) const;
};

struct PlaybackStats {
  uint64_t shown = 0;
  uint64_t dropped = 0;
};

class PlaybackEngine : public MovieDevice {
 public:
  // now(): a monotonic clock in microseconds (tests may drive their own).
  using Clock = std::function<int64_t()>;
  explicit PlaybackEngine(std::unique_ptr<AudioOutput> audio, Clock now = {});
  ~PlaybackEngine() override;

  void openMovie(std::unique_ptr<MovieFile> movie);
  void closeMovie();
  MovieFile* movie() const { return movie_.get(); }
  AudioOutput& audio() { return *audio_; }

  bool autoLoop = true;
  // Called when a new picture is ready, and when a play ends: ended is true at the movie's (or
  // the range's) end, false after a stop; notify is the play's "notify".
  std::function<void()> onPicture;
  std::function<void(bool ended, bool notify)> onPlayEnded;

  // Advances a playing movie; call it from the window's timer.
  void tick();
  // Microseconds until the next frame is due (a hint for the timer), 0 when not playing.
  int64_t microsUntilNextFrame() const;
  // Decodes the current frame again (after the codec's settings changed).
  bool redraw();
  bool fullscreenRequested() const { return playFullscreen_; }
  const PlaybackStats& stats() const { return stats_; }
  // The audio clock's lead over the picture at the last frame shown, in microseconds
  // (positive: the sound is ahead), for the sync measurement.
  int64_t lastSyncOffset() const { return lastSyncOffset_; }

  // ---- MovieDevice ----
  bool isOpen() const override { return movie_ != nullptr; }
  bool play(const PlayRequest& request) override;
  void stop() override;
  void pause() override;
  bool seek(long frame) override;
  bool step(long frames) override;
  void setAudioEnabled(bool on) override { audioEnabled_ = on; }
  bool audioEnabled() const { return audioEnabled_; }
  void setSpeed(uint32_t speed) override { speed_ = speed; }
  uint32_t speed() const override { return speed_; }
  long position() const override { return position_; }
  long start() const override { return 0; }
  long length() const override;
  MovieMode mode() const override;

 private:
  bool show(long frame);
  int64_t elapsed() const;
  void feedAudio();
  void finish(bool ended);
  void startTimeline(long from);

  std::unique_ptr<AudioOutput> audio_;
  Clock now_;
  std::unique_ptr<MovieFile> movie_;
  long position_ = 0;
  bool playing_ = false;
  bool paused_ = false;
  bool audioEnabled_ = true;
  bool audioClock_ = false;
  bool playFullscreen_ = false;
  bool notify_ = false;
  uint32_t speed_ = 1000;
  long from_ = 0, to_ = 0, loopFrom_ = 0;
  PlayTimeline timeline_;
  int64_t startedAt_ = 0;
  uint64_t audioNext_ = 0, audioEnd_ = 0, audioBase_ = 0;
  PlaybackStats stats_;
  int64_t lastSyncOffset_ = 0;
  std::vector<uint8_t> audioBuffer_;
};

}  // namespace zov::player

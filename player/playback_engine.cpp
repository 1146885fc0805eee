#include "player/playback_engine.h"

#include <chrono>
#include <cmath>

namespace zov::player {

namespace {

// Audio kept queued ahead of the play position.
constexpr int64_t kAudioLeadMicros = 250000;

int64_t steadyMicros() {
  return std::chrono::duration_cast<std::chrono::microseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

}  // namespace

long PlayTimeline::dueFrame(int64_t elapsedMicros) const {
  const double rate = framesPerSecond * (speed ? speed : 1000) / 1000.0;
  const long steps = long(std::floor(double(elapsedMicros) * rate / 1e6));
  return startFrame + direction * steps;
}

int64_t PlayTimeline::dueTime(long frame) const {
  const double rate = framesPerSecond * (speed ? speed : 1000) / 1000.0;
  const long steps = (frame - startFrame) * direction;
  return int64_t(std::ceil(double(steps) * 1e6 / rate));
}

PlaybackEngine::PlaybackEngine(std::unique_ptr<AudioOutput> audio, Clock now)
    : audio_(audio ? std::move(audio) : createNullAudioOutput()),
      now_(now ? std::move(now) : Clock(steadyMicros)) {}

PlaybackEngine::~PlaybackEngine() {
  audio_->close();
}

void PlaybackEngine::openMovie(std::unique_ptr<MovieFile> movie) {
  closeMovie();
  movie_ = std::move(movie);
  position_ = 0;
  if (movie_ && movie_->hasAudio()) audio_->open(movie_->audioFormat());
  show(0);
}

void PlaybackEngine::closeMovie() {
  if (playing_) finish(false);
  audio_->close();
  movie_.reset();
  position_ = 0;
}

long PlaybackEngine::length() const {
  return movie_ ? long(movie_->frameCount()) : 0;
}

MovieMode PlaybackEngine::mode() const {
  if (!movie_) return MovieMode::NotReady;
  if (playing_) return MovieMode::Playing;
  return paused_ ? MovieMode::Paused : MovieMode::Stopped;
}

bool PlaybackEngine::show(long frame) {
  if (!movie_ || frame < 0 || frame >= length()) return false;
  const bool ok = movie_->decodeTo(uint32_t(frame));
  position_ = frame;
  if (ok) {
    ++stats_.shown;
    if (onPicture) onPicture();
  }
  return ok;
}

int64_t PlaybackEngine::elapsed() const {
  if (audioClock_) {
    const auto& f = audio_->format();
    const uint64_t played = audio_->playedFrames() + audioBase_;
    // The audio started at the sample of the first frame; the clock counts from that frame.
    const double fromStart =
        double(played) - double(movie_->audioFrameAt(uint32_t(timeline_.startFrame)));
    return int64_t(fromStart * 1e6 / f.sampleRate);
  }
  return now_() - startedAt_;
}

void PlaybackEngine::startTimeline(long from) {
  timeline_.startFrame = from;
  timeline_.speed = speed_;
  timeline_.framesPerSecond = movie_->framesPerSecond();
  startedAt_ = now_();
  audioClock_ = audioEnabled_ && speed_ == 1000 && timeline_.direction > 0 && movie_->hasAudio() &&
                movie_->audioLength() > movie_->audioFrameAt(uint32_t(from));
  audio_->reset();
  if (audioClock_) {
    audioNext_ = audioBase_ = movie_->audioFrameAt(uint32_t(from));
    audioEnd_ = std::min<uint64_t>(movie_->audioLength(), movie_->audioFrameAt(uint32_t(to_ + 1)));
    if (to_ + 1 >= length()) audioEnd_ = movie_->audioLength();
    feedAudio();
    audio_->setPaused(false);
  }
}

bool PlaybackEngine::play(const PlayRequest& r) {
  if (!movie_) return false;
  const long last = length() - 1;
  timeline_.direction = r.reverse ? -1 : 1;
  long from = r.from ? *r.from : position_;
  long to = r.to ? *r.to : (r.reverse ? 0 : last);
  // A play from the end of the movie starts again at its beginning (and a reverse one at its end).
  if (!r.from && from == to) from = r.reverse ? last : 0;
  if ((to - from) * timeline_.direction < 0) std::swap(from, to);
  from_ = from;
  to_ = to;
  // A loop starts again at the movie's start (its end for a reverse play), or at the start of
  // the range the play was given, not where this play happened to begin.
  loopFrom_ = r.from ? from : (timeline_.direction > 0 ? 0 : last);
  notify_ = r.notify;
  playFullscreen_ = r.fullscreen;
  playing_ = true;
  paused_ = false;
  if (position_ != from || movie_->decodedFrame() != from) show(from);
  startTimeline(from);
  return true;
}

void PlaybackEngine::finish(bool ended) {
  playing_ = false;
  audio_->reset();
  audioClock_ = false;
  if (onPlayEnded) onPlayEnded(ended, notify_);
}

void PlaybackEngine::stop() {
  if (playing_) finish(false);
  paused_ = false;
}

void PlaybackEngine::pause() {
  if (!playing_) return;
  playing_ = false;
  paused_ = true;
  audio_->reset();
  audioClock_ = false;
}

bool PlaybackEngine::seek(long frame) {
  stop();
  return show(frame);
}

bool PlaybackEngine::step(long frames) {
  if (!movie_) return false;
  stop();
  long target = position_ + frames;
  if (target < 0) target = 0;
  if (target >= length()) target = length() - 1;
  return show(target);
}

void PlaybackEngine::feedAudio() {
  const auto& f = audio_->format();
  const uint64_t lead = uint64_t(kAudioLeadMicros) * f.sampleRate / 1000000;
  const uint64_t queued = audio_->queuedBytes() / f.bytesPerFrame();
  if (queued >= lead || audioNext_ >= audioEnd_) return;
  const uint64_t count = std::min(lead - queued, audioEnd_ - audioNext_);
  const size_t got = movie_->readAudio(audioNext_, count, audioBuffer_);
  if (got == 0) {
    audioEnd_ = audioNext_;  // an unreadable track ends the sound, not the picture
    return;
  }
  audio_->queue(audioBuffer_.data(), got);
  audioNext_ += got / f.bytesPerFrame();
}

void PlaybackEngine::tick() {
  if (!playing_ || !movie_) return;
  if (audioClock_) {
    feedAudio();
    // When the sound has run out before the picture, the steady clock carries on from here.
    if (audioNext_ >= audioEnd_ && audio_->queuedBytes() == 0) {
      const int64_t reached = elapsed();
      audioClock_ = false;
      startedAt_ = now_() - reached;
    }
  }
  long due;
  if (timeline_.speed == 0) {
    due = position_ + timeline_.direction;
  } else {
    due = timeline_.dueFrame(elapsed());
  }
  const bool past = timeline_.direction > 0 ? due > to_ : due < to_;
  if (past) due = to_;
  if (due != position_) {
    const long skipped = std::labs(due - position_) - 1;
    if (skipped > 0) stats_.dropped += uint64_t(skipped);
    show(due);
    if (audioClock_) lastSyncOffset_ = elapsed() - timeline_.dueTime(due);
  }
  if (past || position_ == to_) {
    // The last frame stays on screen for its own duration before the loop or the end.
    if (timeline_.speed != 0 && elapsed() < timeline_.dueTime(to_ + timeline_.direction)) return;
    if (autoLoop) {
      from_ = loopFrom_;
      show(from_);
      startTimeline(from_);
      return;
    }
    finish(true);
  }
}

int64_t PlaybackEngine::microsUntilNextFrame() const {
  if (!playing_ || !movie_) return 0;
  if (timeline_.speed == 0) return 1;
  const int64_t wait = timeline_.dueTime(position_ + timeline_.direction) - elapsed();
  return wait > 0 ? wait : 0;
}

bool PlaybackEngine::redraw() {
  if (!movie_) return false;
  std::string error;
  if (!movie_->renegotiate(&error)) return false;
  return show(position_);
}

}  // namespace zov::player

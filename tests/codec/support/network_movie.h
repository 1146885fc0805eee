// Test helpers for movies played through the codec library's network movie source: a movie of
// real ZOV2 frames and audio, written by the compressor's writer as an ordinary AVI file or as
// a stream file; a player that feeds chunks to one codec instance as a host does; and zevserve
// with the library's own source pointed at it.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "codec/support/codec_host.h"
#include "encoder/avi_writer.h"
#include "tools/zevserve/server.h"

namespace zov::test {

struct NetMovie {
  int width = 64, height = 48;
  BITMAPINFOHEADER format{};  // the stream's video format
  uint32_t keyEvery = 4;
  std::vector<bool> keys;  // when not empty, which frames are key frames
  std::vector<std::vector<uint8_t>> video, audio;
  bool isKey(uint32_t f) const { return keys.empty() ? f % keyEvery == 0 : bool(keys[f]); }
};

// `frames` frames: key frames of one colour, the others repaint a moving patch, so that every
// picture differs from the one before. `videoPad(f)` filler bytes follow frame f's coded data
// (the decoder reads only what the frame's fields announce), to give the chunks the sizes of
// real footage; audio chunk f holds `audioBytes` (+4 on odd frames) of varied bytes.
NetMovie makeNetMovie(uint32_t frames, uint32_t keyEvery, uint32_t (*videoPad)(uint32_t),
                      size_t audioBytes);

// Writes the movie with the compressor's writer: RunMode::Compress is an ordinary AVI file,
// RunMode::ZevStream the stream file a movie server serves. Returns an error text, empty on
// success.
std::string writeNetMovie(const NetMovie& movie, RunMode mode, const std::string& path);

// The video and audio chunks of an ordinary AVI file in the order of its 'idx1' index, read the
// way a player's file reader finds them (offsets from the 'movi' list, or from the file start).
struct AviChunks {
  std::vector<uint8_t> videoFormat;  // the first stream's 'strf'
  std::vector<std::vector<uint8_t>> video, audio;
  std::vector<bool> videoKey;
  std::string error;  // empty when the file was read
};
AviChunks readAviChunks(const std::string& path);

// One codec instance decoding a stream as a host's player does, into a 16-bit picture.
class ChunkPlayer {
 public:
  explicit ChunkPlayer(const BITMAPINFOHEADER& format);
  ~ChunkPlayer();
  explicit operator bool() const { return begun_; }
  // Decodes one chunk (key or not); returns whether the picture changed.
  bool play(const std::vector<uint8_t>& chunk, bool key);
  // Plays key frame chunk `chunk` again until it shows (bounded): the way a player retries a
  // frame whose data had not arrived.
  bool playKeyUntilShown(const std::vector<uint8_t>& chunk, int timeoutMs = 10000);
  const std::vector<uint16_t>& picture() const { return bitmap_; }
  void fill(uint16_t value) { std::fill(bitmap_.begin(), bitmap_.end(), value); }

 private:
  OpenCodec codec_;
  BITMAPINFOHEADER in_;
  OutputFormat out_;
  std::vector<uint16_t> bitmap_;
  bool begun_ = false;
};

// How many frames a player showed and how many it did not.
struct Playback {
  uint32_t shown = 0, dropped = 0;
};
// Plays frames [from, to) of the placeholder's chunk numbers as a player does: a key frame is
// tried again until it shows; a frame the codec did not show (its data was not there, or the
// codec waits for a key frame) must leave the picture as it was. Every picture shown must be
// `expected`'s.
Playback playFrames(ChunkPlayer& player, const NetMovie& movie,
                    const std::vector<std::vector<uint16_t>>& expected, uint32_t from, uint32_t to);

// The pictures of the given chunks decoded one after the other (key frames per `movie`).
std::vector<std::vector<uint16_t>> decodeChunks(const NetMovie& movie,
                                                const std::vector<std::vector<uint8_t>>& chunks);

// The 4-byte chunk numbers the placeholder file hands the codec for frames 0..frames-1.
std::vector<std::vector<uint8_t>> chunkNumbers(uint32_t frames);

// zevserve serving `root`/movies on a loopback port, the library's source pointed at it
// (ZOV_ZEV_PORT, TMPDIR = `root`/tmp), and its dialogs answered with 127.0.0.1 and the first
// movie. Frees the source, stops the server and clears the environment on destruction.
class ServedLibrarySource {
 public:
  explicit ServedLibrarySource(const std::filesystem::path& root);
  ~ServedLibrarySource();
  bool serving() const { return serving_; }
  // ZOVAccessZEV, ZOVObtainAudio, ZOVFreeZEV of the loaded library.
  const char* access();
  const void* obtainAudio(uint32_t chunk, uint32_t* size);
  // Waits (bounded) until audio chunk `a` is cached; null when it never is.
  const uint8_t* waitForAudio(uint32_t a, uint32_t* size, int timeoutMs = 10000);
  void free();
  const std::vector<std::string>& moviesSeen() const { return moviesSeen_; }
  // The first box shown, for failure messages ("" when none).
  std::string firstBox() const {
    auto texts = ui.boxes.texts();
    return texts.empty() ? std::string() : texts[0];
  }
  CodecUi ui;

 private:
  zevserve::Server server_;
  std::thread thread_;
  bool serving_ = false;
  std::vector<std::string> moviesSeen_;
  const char* (*access_)(void*) = nullptr;
  const void* (*obtainAudio_)(uint32_t, uint32_t*) = nullptr;
  void (*free_)() = nullptr;
};

}  // namespace zov::test

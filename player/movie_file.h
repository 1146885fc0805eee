// One movie as the movie window plays it: the AVI file, its video decoder and its PCM audio.
//
// ZOV1/ZOV2 video goes to the codec through the compression manager, and the codec chooses the
// picture it delivers (ICDecompressGetFormat), so the windowed enlargement style, brightness and
// gamma of the codec's settings show as they would in any host. Other video (uncompressed DIBs,
// YUV, Motion-JPEG) uses the source reader's decoders. Pictures come out as 32-bit xRGB rows,
// top row first.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "player/audio_output.h"
#include "player/network_audio.h"

namespace zov {
class AviContainer;
class VideoDecoder;
}  // namespace zov

namespace zov::player {

struct Picture {
  int width = 0;
  int height = 0;
  std::vector<uint32_t> pixels;  // 0xFFRRGGBB, top row first
};

class MovieFile {
 public:
  ~MovieFile();
  // Opens the file and its decoder; null with `error` set ("unsupported video compression ...").
  static std::unique_ptr<MovieFile> open(const std::string& path, std::string* error);

  const std::string& path() const { return path_; }
  uint32_t frameCount() const;
  // Frames per second from the stream's rate and scale.
  double framesPerSecond() const { return fps_; }
  int width() const { return width_; }    // of the stored picture
  int height() const { return height_; }  // likewise
  bool isZov() const { return codec_ != nullptr; }
  bool isKeyFrame(uint32_t frame) const;
  uint32_t previousKeyFrame(uint32_t frame) const;

  // Decodes the frames needed to show `frame` (from the last decoded one, or from the key frame
  // before it). With `present` false only the decoder's state advances. False when a frame could
  // not be read or decoded; the picture then keeps what it last showed.
  bool decodeTo(uint32_t frame, bool present = true);
  // Forgets the decoder's position (after a change of the codec's settings) and renegotiates the
  // codec's output; the next decodeTo starts from a key frame.
  bool renegotiate(std::string* error);
  long decodedFrame() const { return decoded_; }
  const Picture& picture() const { return picture_; }
  // Frames decoded but not shown since opening (late frames skipped by the player).
  uint64_t decodedOnly() const { return decodedOnly_; }

  // PCM audio, when the movie has a playable track.
  bool hasAudio() const { return audioFormat_.sampleRate != 0; }
  const AudioFormat& audioFormat() const { return audioFormat_; }
  // Sample frames of audio that belong before `frame` (the track's start offset included).
  uint64_t audioFrameAt(uint32_t frame) const;
  uint64_t audioLength() const;
  size_t readAudio(uint64_t start, uint64_t count, std::vector<uint8_t>& out) const;
  // For the network movie source's local file: takes the sound from `obtain` (ZOVObtainAudio)
  // when the audio track is the source's placeholder (format tag 0xFFFF). False, the movie
  // staying silent, when there is no such track or its format cannot be worked out.
  bool useNetworkAudio(NetworkAudio::Obtain obtain, std::string* error);

 private:
  class CodecDecoder;
  MovieFile() = default;
  bool decodeOne(uint32_t frame, bool present);

  std::string path_;
  std::unique_ptr<AviContainer> file_;
  std::unique_ptr<CodecDecoder> codec_;
  std::unique_ptr<VideoDecoder> other_;
  double fps_ = 15;
  int width_ = 0, height_ = 0;
  long decoded_ = -1;
  Picture picture_;
  uint64_t decodedOnly_ = 0;
  AudioFormat audioFormat_;
  double audioBlocksPerSecond_ = 0;
  uint32_t audioStartBlocks_ = 0;
  std::vector<uint8_t> scratch_;
  std::unique_ptr<NetworkAudio> network_;
};

// Converts a bottom-up DIB (8-bit with a palette of RGBQUADs, 16-bit 5-5-5, 24 or 32-bit) into a
// picture; 5-bit channels widen as (v << 3) | (v >> 2).
void dibToPicture(const uint8_t* bits, int width, int height, int bitCount, const uint8_t* palette,
                  Picture& out);

}  // namespace zov::player

// Runs pictures through the ZOV2 encoder the way the compression run calls it (periodic key
// frames, enhanced interframe mode one call late, the background bitmap frame), with every
// frame verified against the encoder's reconstruction, and then replays the stream through a
// fresh frame decoder as a player would.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "encoder/compression_settings.h"

namespace zov::test {

using Picture = std::vector<uint16_t>;  // 15-bit, bottom-up

struct EncodedRun {
  bool ok = false;
  std::string failure;  // first failure (verification message, replay mismatch)
  std::vector<std::string> messages;
  std::vector<std::vector<uint8_t>> frames;  // chunks as the file holds them
  std::vector<bool> keyFrames;
  std::vector<Picture> reconstructions;  // the encoder's picture after each frame
  uint32_t formatWord = 0;
  int skipped = 0;
  size_t bytes = 0;
};

struct HarnessOptions {
  bool dualInitialKeyFrames = true;
  bool verify = true;  // VerifyFrames inside the encoder
  bool replay = true;  // decode the whole stream again with a fresh decoder
  bool keepReconstructions = false;
  const Picture* backgroundBitmap = nullptr;
  uint32_t frameRate = 15, frameScale = 1;
  // Tell each call the next call's picture (CompressParams::next); with wrongHints every third
  // call is told another picture instead.
  bool hintNext = false, wrongHints = false;
};

EncodedRun encodePictures(CompressionSettings s, int width, int height,
                          const std::vector<Picture>& pictures, const HarnessOptions& options = {});

// Converts a bottom-up DIB frame to 15-bit colour: 24/32-bit by the nearest-colour rule,
// 16-bit by keeping the 15 low bits.
Picture toPicture15(const std::vector<uint8_t>& dib, int width, int height, int bitsPerPixel);

// Peak signal-to-noise ratio in dB of b against a on 5-bit components (99 when equal).
double psnr15(const Picture& a, const Picture& b);

}  // namespace zov::test

// Builds the bundled sample stream: the first frames of the teapot clip, reduced to 15 bits and
// coded by the reference encoder. Shared by the generator and the test that checks the committed
// sample against it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "support/avi_file_writer.h"
#include "support/reference_encoder.h"

namespace zov::test {

inline constexpr int kSampleFrames = 10;
inline constexpr int kSampleKeyInterval = 5;  // key frames at 0, 5, ...

struct EncodedSample {
  ZovAviDescription desc;
  std::vector<AviFrameData> frames;
  std::vector<std::vector<uint16_t>> reconstructions;  // the picture after each frame
  std::vector<ReferenceFrameStats> stats;
};

// Reads the first frameCount frames of a 24-bit uncompressed AVI and encodes them.
bool encodeSampleFrom(const std::string& sourceAvi, int frameCount, EncodedSample& sample,
                      std::string& error);

// A tiny stream of synthetic frames (for seed corpora): width x height, frameCount frames.
EncodedSample encodeSyntheticStream(int width, int height, int frameCount, unsigned seed);

}  // namespace zov::test

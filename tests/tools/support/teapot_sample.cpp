#include "teapot_sample.h"

#include <random>

#include "tools/zovinfo/movie_stream.h"

namespace zov::test {

bool encodeSampleFrom(const std::string& sourceAvi, int frameCount, EncodedSample& sample,
                      std::string& error) {
  info::MovieStream stream;
  if (!stream.open(sourceAvi, error)) {
    error = sourceAvi + ": " + error;
    return false;
  }
  if (stream.bitCount != 24 || stream.compression != 0 || stream.height <= 0) {
    error = sourceAvi + ": not a bottom-up 24-bit uncompressed video stream";
    return false;
  }
  if (int(stream.frames.size()) < frameCount) {
    error = sourceAvi + ": has only " + std::to_string(stream.frames.size()) + " frames";
    return false;
  }
  ReferenceEncoder encoder(stream.width, stream.height);
  sample = EncodedSample{};
  sample.desc.width = stream.width;
  sample.desc.height = stream.height;
  sample.desc.formatWord = encoder.formatWord();
  size_t stride = (size_t(stream.width) * 3 + 3) & ~size_t{3};
  std::vector<uint8_t> dib;
  for (int n = 0; n < frameCount; ++n) {
    if (!stream.readFrame(size_t(n), dib, error)) {
      error = sourceAvi + ": frame " + std::to_string(n) + ": " + error;
      return false;
    }
    if (dib.size() < stride * size_t(stream.height)) {
      error = sourceAvi + ": frame " + std::to_string(n) + " is too short";
      return false;
    }
    bool key = n % kSampleKeyInterval == 0;
    auto picture = rgb24ToRgb555(dib.data(), stream.width, stream.height);
    sample.frames.push_back({encoder.encode(picture, key), key});
    sample.reconstructions.push_back(encoder.reconstruction());
    sample.stats.push_back(encoder.lastStats());
  }
  return true;
}

EncodedSample encodeSyntheticStream(int width, int height, int frameCount, unsigned seed) {
  std::mt19937 rng(seed);
  ReferenceEncoder encoder(width, height);
  EncodedSample sample;
  sample.desc.width = width;
  sample.desc.height = height;
  sample.desc.formatWord = encoder.formatWord();
  // A gradient with a moving bright square and a little noise: smooth areas, sharp edges that
  // need large steps, and unchanged areas between frames.
  std::vector<uint16_t> picture(size_t(width) * size_t(height));
  for (int n = 0; n < frameCount; ++n) {
    for (int y = 0; y < height; ++y) {
      for (int x = 0; x < width; ++x) {
        int r = (x * 31) / (width > 1 ? width - 1 : 1);
        int g = (y * 31) / (height > 1 ? height - 1 : 1);
        int b = 8;
        bool inSquare = x >= n * 2 && x < n * 2 + 5 && y >= 1 && y < 6;
        if (inSquare) r = g = b = 31;
        if (y == height - 1 && rng() % 3 == 0) b = int(rng() % 32);
        picture[size_t(y) * width + x] = uint16_t(r << 10 | g << 5 | b);
      }
    }
    bool key = n == 0;
    sample.frames.push_back({encoder.encode(picture, key), key});
    sample.reconstructions.push_back(encoder.reconstruction());
    sample.stats.push_back(encoder.lastStats());
  }
  return sample;
}

}  // namespace zov::test

// Generates the bundled sample stream and the AVI seed corpus of the fuzz target:
//   zov_make_sample sample SOURCE.avi OUT.avi [FRAMES]
//   zov_make_sample corpus OUTDIR
#include <cstdio>
#include <cstdlib>
#include <string>

#include "support/avi_file_writer.h"
#include "support/teapot_sample.h"

using namespace zov::test;

int main(int argc, char** argv) {
  std::string mode = argc > 1 ? argv[1] : "";
  if (mode == "sample" && (argc == 4 || argc == 5)) {
    int frames = argc == 5 ? std::atoi(argv[4]) : kSampleFrames;
    if (frames < 1) {
      std::fprintf(stderr, "zov_make_sample: bad frame count\n");
      return 2;
    }
    EncodedSample sample;
    std::string error;
    if (!encodeSampleFrom(argv[2], frames, sample, error)) {
      std::fprintf(stderr, "zov_make_sample: %s\n", error.c_str());
      return 2;
    }
    auto bytes = buildZovAvi(sample.desc, sample.frames);
    if (!writeFileBytes(argv[3], bytes)) {
      std::fprintf(stderr, "zov_make_sample: cannot write %s\n", argv[3]);
      return 2;
    }
    for (size_t n = 0; n < sample.frames.size(); ++n) {
      const auto& s = sample.stats[n];
      std::printf("frame %zu: %zu bytes, interframe %d rle %d inexact %d NSYM %d W %d\n", n,
                  sample.frames[n].data.size(), s.interframeBlocks, s.rleBlocks, s.inexactPixels,
                  s.nsym, s.codeWidth);
    }
    std::printf("wrote %s: %zu bytes\n", argv[3], bytes.size());
    return 0;
  }
  if (mode == "corpus" && argc == 3) {
    std::string dir = argv[2];
    struct {
      int w, h, frames;
      unsigned seed;
    } seeds[] = {{16, 8, 3, 1}, {8, 4, 2, 2}, {24, 12, 4, 3}};
    int i = 0;
    for (const auto& s : seeds) {
      EncodedSample sample = encodeSyntheticStream(s.w, s.h, s.frames, s.seed);
      std::string path = dir + "/tiny-" + std::to_string(s.w) + "x" + std::to_string(s.h) + ".avi";
      if (!writeFileBytes(path, buildZovAvi(sample.desc, sample.frames))) {
        std::fprintf(stderr, "zov_make_sample: cannot write %s\n", path.c_str());
        return 2;
      }
      ++i;
    }
    // A background stream: the first chunk carries the background as an embedded key frame.
    {
      const int w = 16, h = 8;
      std::vector<uint16_t> background(size_t(w) * h), picture;
      for (int k = 0; k < w * h; ++k)
        background[size_t(k)] = uint16_t((k % w) << 10 | (k / w) << 5 | 9);
      ReferenceEncoder backgroundCoder(w, h);
      backgroundCoder.setChromaStream(true);
      auto backgroundFrame = backgroundCoder.encode(background, true);
      ReferenceEncoder coder(w, h);
      coder.setChromaStream(true);
      coder.setBackground(backgroundCoder.reconstruction());
      std::vector<AviFrameData> frames;
      for (int n = 0; n < 2; ++n) {
        picture = background;
        for (int x = 2 + 4 * n; x < 6 + 4 * n; ++x) picture[size_t(3) * w + x] = 0x7C00;
        auto frame = coder.encode(picture, n == 0);
        if (n == 0) frame = embedBackground(frame, backgroundFrame);
        frames.push_back({frame, n == 0});
      }
      ZovAviDescription desc{w, h, coder.formatWord(), 0x32766F7A, 15};
      std::string path = dir + "/tiny-background-16x8.avi";
      if (!writeFileBytes(path, buildZovAvi(desc, frames))) {
        std::fprintf(stderr, "zov_make_sample: cannot write %s\n", path.c_str());
        return 2;
      }
      ++i;
    }
    std::printf("wrote %d corpus files into %s\n", i, dir.c_str());
    return 0;
  }
  std::fprintf(stderr,
               "usage: zov_make_sample sample SOURCE.avi OUT.avi [FRAMES]\n"
               "       zov_make_sample corpus OUTDIR\n");
  return 2;
}

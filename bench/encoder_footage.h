// The footage of the encoder, decoder and x264 benchmarks: the teapot clip and the Motion-JPEG
// camera pan of tests/data, read through the compressor's source reader (decoded, turned to
// 15-bit colour and resized there as a compression run would), and the compression presets.
#pragma once

#include <benchmark/benchmark.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "encoder/compression_settings.h"
#include "support/encoder_harness.h"

namespace zov::bench {

using zov::test::Picture;

enum ClipKind { kTeapot = 0, kPan = 1 };
enum PresetKind { kVideo = 0, kSmokeCloudsRain = 1, kAnimation = 2, kFast = 3 };

struct Clip {
  int width = 0, height = 0;
  std::vector<Picture> pictures;  // 15-bit, bottom-up
};

// Frames per clip in every benchmark.
inline constexpr int kClipFrames = 30;

// The first `frames` frames of a clip at the given size (cached; empty when the file can't be
// read or is shorter).
const Clip& footage(ClipKind kind, int width, int height, int frames = kClipFrames);

// The settings of a preset, as zovcomp --preset sets them; kFast is "Video" with
// FastCompression.
CompressionSettings presetSettings(PresetKind preset);

// "Video teapot 640x480" and the like.
std::string caseLabel(PresetKind preset, ClipKind kind, int width, int height);

// The settings of `preset` on `threads` threads, as the compression
// run prepares them for the encoder.
CompressionSettings runSettings(PresetKind preset, uint32_t threads);

// Codes the clip's pictures once as the compression run hands them to the encoder (periodic
// key frames, enhanced interframe mode one call late), between StartEncoder and EndEncoder,
// which the caller makes. `coded(index, bytes)` follows every call that gave a frame. Returns
// the bytes of all frames.
size_t codeClip(CompressionSettings& s, const Clip& clip, std::vector<uint8_t>& out,
                const std::function<void(size_t, size_t)>& coded);

// The cases of the tables: both clips at 320 x 240 and 640 x 480 (the pan is 640 x 480 at its
// own size), for every preset. Args: width, height, preset, clip, then each of `extra` (none
// when empty).
void addCases(benchmark::internal::Benchmark* b, std::vector<int64_t> extra = {});

}  // namespace zov::bench

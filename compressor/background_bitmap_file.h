// The chroma-key background for a compression, and what the "Chroma Keying" page shows of it.
//
// When a compression with chroma keying starts, the run prepares a key mask (one byte per
// pixel) and, when a background bitmap is named or the method is background screening, a
// zero-filled 15-bit background picture; a named bitmap is then read into it (the encoder's
// bitmap reader) and handed to the encoder as its background. Failures are shown in a box
// titled "Chroma Keying" with a stop icon, brought to the foreground over the desktop, and stop
// the start of the run; the settings stay as they are.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "encoder/compression_settings.h"

namespace zov {

struct ChromaKeyBuffers {
  std::vector<uint16_t> background;  // width x height, bitmap line order; empty when not used
  std::vector<uint8_t> keyMask;      // width x height; empty without chroma keying
  bool bitmapLoaded = false;         // the background holds the named bitmap
};

// Prepares the buffers for a width x height output frame; false after the loader's message.
bool prepareChromaKeyBuffers(const CompressionSettings& settings, int width, int height,
                             ChromaKeyBuffers& buffers);

// ---- The page ----

// The "Background:" line: the bitmap's file name and extension; without one "First frame" under
// background screening, else "Black".
std::string chromaBackgroundLabel(const CompressionSettings& settings);
// The button beside it: "&Clear" while a path is set, else "&Browse...".
std::string chromaBackgroundButtonText(const CompressionSettings& settings);
// What the preview picture shows.
enum class ChromaPreviewSource { Bitmap, FirstFrame, Black };
ChromaPreviewSource chromaPreviewSource(const CompressionSettings& settings);

// Which controls of the page are enabled.
struct ChromaPageEnabling {
  bool methodButtons = false;
  bool colourLevels = false;  // the level group, its bars and "Chroma Edge Blending"
  bool backgroundOptions = false;
  bool backgroundFile = false;  // the "Background:" line and its button
};
ChromaPageEnabling chromaPageEnabling(const CompressionSettings& settings, bool zov2Source);

}  // namespace zov

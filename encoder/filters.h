// Image filters run on 15-bit frames before they are compressed (and in the filtered preview).
//
// Every routine works in place on a frame of 16-bit pixels (red bits 10-14, green 5-9, blue 0-4,
// lines in the frame's own order) and may use the caller's work buffer of
// filterWorkBufferSize(width, height) bytes, which one list run shares between all its entries:
// nothing is allocated per routine. The neighbourhood routines read only unfiltered values of a
// frame (each routine sees the frame as the previous one left it).
//
// Frames narrower or lower than 3 pixels are left unchanged by the neighbourhood routines; the
// lighting routines work on any size.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "encoder/compression_settings.h"

namespace zov {

// Bytes of the work buffer for a width x height frame: three byte planes and two lines.
inline size_t filterWorkBufferSize(int width, int height) {
  return 3 * size_t(width) * size_t(height) + 2 * size_t(width);
}

// One filter routine: pixels, work buffer, width, height, pixel count, level.
using FilterRoutine = void (*)(uint16_t* pixels, uint8_t* work, int width, int height,
                               int pixelCount, int level);

// The routine an entry runs: a kind with per-level routines runs its routine number level - 1,
// another kind its one routine. Null for an invalid kind or a level outside the kind's range.
FilterRoutine filterRoutine(int32_t kind, int32_t level);

// Runs one entry; false (frame unchanged) when the entry is invalid.
bool runFilter(const FilterEntry& entry, uint16_t* pixels, uint8_t* work, int width, int height);

// Runs every entry in list order. `work` must hold filterWorkBufferSize(width, height) bytes.
void runFilterList(std::span<const FilterEntry> list, uint16_t* pixels, uint8_t* work, int width,
                   int height);

// ---- The routines, by kind (exposed for tests and benchmarks) ----

// Kind 0, levels 1..4, and kind 3, levels 1..4.
void filterInvertedLowPass(uint16_t* pixels, uint8_t* work, int width, int height, int level);
void filterLowPass(uint16_t* pixels, uint8_t* work, int width, int height, int level);
// Kind 1.
void filterHighPass(uint16_t* pixels, uint8_t* work, int width, int height);
// Kind 2.
void filterMedian(uint16_t* pixels, uint8_t* work, int width, int height);
// Kind 4, levels 1..5.
void filterFlatten(uint16_t* pixels, uint8_t* work, int width, int height, int level);
// Kind 5.
void filterRip(uint16_t* pixels, uint8_t* work, int width, int height);
// Kind 6, level in hundredths (-300..-101 and 101..300; 100 and -100 are identities).
void filterGamma(uint16_t* pixels, int pixelCount, int level);
// Kind 7, -15..15.
void filterBrightness(uint16_t* pixels, int pixelCount, int level);
// Kind 8, level in hundredths (negative levels divide the contrast).
void filterContrast(uint16_t* pixels, int pixelCount, int level);

// The 32-entry component table of a gamma level (entry v is what component v becomes).
void gammaTable(int level, uint8_t table[32]);
// The luminance class (0..62) of a 15-bit colour, as rip compares neighbours.
int ripClass(uint16_t colour);

}  // namespace zov

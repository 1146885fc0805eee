// The unchanged test: which pixels differ from a reference picture by no more than noise.
#pragma once

#include <cstdint>

#include "encoder/encoder_buffers.h"

namespace zov {

class WorkerPool;

// Lines per task where a pass over the picture is split among the worker threads: a whole
// number of cell rows for every cell height.
inline constexpr int kBandLines = 16;

// Colour distance of every pixel of a to the same pixel of b.
void differenceMap(const uint16_t* a, const uint16_t* b, uint32_t* out, int n);
// The same over `lines` lines of `width` pixels, in bands of lines on the pool's workers.
void differenceMap(WorkerPool& pool, const uint16_t* a, const uint16_t* b, uint32_t* out, int width,
                   int lines);

// Marks as kMapCandidate every pixel with block-map value 0 that passes the test: a difference
// of at most t, or (inner pixels) at most n with all eight neighbours at most n and a median of
// the nine at most t. With a lookahead map, an inner pixel within n that fails the neighbourhood
// test is still unchanged when the lookahead passes it. With cells, a cell stays unchanged only
// when all of its pixels are. Runs in bands of lines on the encoder's workers.
void markUnchanged(EncoderBuffers& b, const uint32_t* diff, const uint32_t* lookDiff, uint32_t t,
                   uint32_t n, bool wholeCells);

}  // namespace zov

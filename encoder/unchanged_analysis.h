// The unchanged test: which pixels differ from a reference picture by no more than noise.
#pragma once

#include <cstdint>

#include "encoder/encoder_buffers.h"

namespace zov {

class WorkerPool;

// Lines per task where a pass over the picture is split among the worker threads: a whole
// number of cell rows for every cell height.
inline constexpr int kBandLines = 16;

// The class (kWithinT, kBeyondN of unchanged_kernels.h) of every pixel of a against the same
// pixel of b, `lines` lines of `width` pixels, in bands of lines on the pool's workers.
void differenceClasses(WorkerPool& pool, const uint16_t* a, const uint16_t* b, uint8_t* out,
                       int width, int lines, uint32_t t, uint32_t n);

// Marks as kMapCandidate every pixel with block-map value 0 that passes the test: a difference
// of at most t, or (inner pixels) at most n with all eight neighbours at most n and a median of
// the nine at most t. With a lookahead, an inner pixel within n that fails the neighbourhood
// test is still unchanged when the lookahead passes it. The differences come as classes under
// t and n (differenceClasses). With cells, a cell stays unchanged only when all of its pixels
// are. With `clear` the map is written whole, as if it were all kMapCoded before. Runs in bands
// of lines on the encoder's workers.
void markUnchanged(EncoderBuffers& b, const uint8_t* cls, const uint8_t* lookCls, bool wholeCells,
                   bool clear);

}  // namespace zov

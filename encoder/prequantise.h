// Pre-quantisation: turns a picture into one the decoder can rebuild exactly under the
// quantiser's steps, so that the analysis and the rectangles work on what will be shown.
#pragma once

#include <cstdint>

#include "encoder/encoder_buffers.h"

namespace zov {

// Type 0: quantises the components along the decoder's prediction paths (in place).
// Types 1..4: chooses a common chroma per cell and the best luma per pixel; `yc` receives the
// 17-bit targets and `pic` their table colours.
// `aside`: run as the worker pool's aside (the next picture taken in while a frame is coded);
// its tasks go out through WorkerPool::runAside, the aside's own with the last luma cache.
void prequantise(EncoderBuffers& b, uint16_t* pic, uint32_t* yc, bool enhancedEdges,
                 bool aside = false);
// The same reading the picture from `source` (all its lines, as wide as `pic`) and writing it to
// `pic`; `source` may be `pic` itself, else it is left as it is.
void prequantise(EncoderBuffers& b, const uint16_t* source, uint16_t* pic, uint32_t* yc,
                 bool enhancedEdges, bool aside = false);

// The luma that brings (luma, chroma) closest to colour, searched from the colour's own luma.
int bestLuma(const ColourTables& t, uint16_t colour, uint32_t chroma, int* distance = nullptr);

// The colour table regrouped by chroma (4096 rows of 32 lumas), for the pre-quantiser.
void buildLumaRows(const ColourTables& t, uint16_t* rows);

}  // namespace zov

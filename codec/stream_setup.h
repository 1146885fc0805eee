// Stream set-up shared by the plain, extended and fullscreen begin messages.
#pragma once

#include "codec/codec_state.h"
#include "format/decoder.h"
#include "format/gamma.h"

namespace zov::codec {

// Method repair for a stream's format word; records the format in the state.
void repairMethods(CodecState& s, uint32_t formatWord);
// The query without a destination: input checks, the size limit with its box, method repair.
LRESULT queryStream(CodecState& s, const BITMAPINFOHEADER* in);

// The brightness and gamma curve of the current settings.
Curve currentCurve();
DecoderOptions decoderOptionsFor(const CodecState& s);

// The per-stream set-up of a begin: working memory on first use, decoder, output method and
// tables, the background picture, the picture's pixel kind. The link's state may be replaced
// (re-read link.state afterwards). Returns an ICERR_* value.
LRESULT startStream(InstanceLinkStruct& link, const BITMAPINFOHEADER* in, bool topDown,
                    ptrdiff_t pitch);

}  // namespace zov::codec

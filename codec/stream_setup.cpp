#include "codec/stream_setup.h"

#include <new>

#include "codec/module.h"
#include "codec/stream_engine.h"
#include "format/output_method.h"

namespace zov::codec {

Curve currentCurve() {
  const CodecSettings& s = module().settings;
  return makeCurve(s.gammaIndex, s.brightness);
}

DecoderOptions decoderOptionsFor(const CodecState& s) {
  const CodecSettings& set = module().settings;
  DecoderOptions o;
  o.pixelKind = s.displayPixelKind == 2 ? PixelKind::Rgb565 : PixelKind::Rgb555;
  // The method the output stage writes with decides; a style change of the method in force
  // takes effect only at the next begin, when the output is set up for it.
  const bool outputReady = s.engine && s.engine->output.ready();
  o.singleField = (outputReady ? s.engine->output.method() : s.activeMethod) == 1;
  o.interpolate = set.interpolate != 0;
  o.noCache = set.noCache != 0;
  o.maintainUnchangedMap =
      !s.engine || !s.engine->output.ready() || s.engine->output.usesUnchangedMap();
  return o;
}

namespace {

// Replaces the small state block of a fresh instance by its working memory: a new block with
// the record copied in and the stream engine beside it.
LRESULT allocateStreamMemory(InstanceLinkStruct& link, bool large) {
  CodecState* old = link.state;
  const size_t bytes = large ? kLargeWorkingMemory : kSmallWorkingMemory;
  uint16_t access = 0;
  CodecState* block = allocateWorkingMemory(bytes, true, &access);
  if (!block) return ICERR_MEMORY;
  auto* engine = new (std::nothrow) StreamEngine;
  if (!engine) {
    releaseWorkingMemory(block, access, true);
    return ICERR_MEMORY;
  }
  *block = *old;
  block->workingMemoryBytes = bytes;
  block->selfAccess = access;
  block->engine = engine;
  block->workingMemoryReady = true;
  block->tablesBuilt = false;
  const uint16_t oldAccess = link.stateAccess;
  link.state = block;
  link.stateAccess = access;
  old->engine = nullptr;
  releaseWorkingMemory(old, oldAccess, true);
  return ICERR_OK;
}

}  // namespace

LRESULT startStream(InstanceLinkStruct& link, const BITMAPINFOHEADER* in, bool topDown,
                    ptrdiff_t pitch) {
  CodecState* s = link.state;
  s->streamPrepared = false;
  const int width = in->biWidth, height = in->biHeight;
  s->streamFormat = in->biCompression;
  s->streamWidth = width;
  s->streamHeight = height;
  s->streamImageSize = in->biSizeImage;

  const bool large = width * height > kSmallPixels;
  if (!s->workingMemoryReady) {
    if (LRESULT r = allocateStreamMemory(link, large)) return r;
    s = link.state;
  }
  // The engine sizes its pictures and maps for each stream, so a larger stream after a small
  // one never writes past what was allocated for the first.
  s->largeFrames = large;
  s->workingMemoryBytes = large ? kLargeWorkingMemory : kSmallWorkingMemory;

  StreamEngine& e = *s->engine;
  e.topDown = topDown;
  e.pitch = pitch;
  s->displayPixelKind = s->rgb565Output ? 2 : 1;
  const PixelKind kind = s->rgb565Output ? PixelKind::Rgb565 : PixelKind::Rgb555;

  if (!e.decoder.prepareStream(width, height, s->streamFormat, decoderOptionsFor(*s)))
    return ICERR_BADFORMAT;
  if (!e.output.setup(s->activeMethod, e.layout(), kind, topDown, pitch, currentCurve()))
    return ICERR_MEMORY;
  // Output tables follow the method and the pixel kind; remember what they were built for.
  if (!s->tablesBuilt || s->tablesPixelKind != s->displayPixelKind ||
      s->tablesMethod != s->activeMethod) {
    s->tablesBuilt = true;
    s->tablesPixelKind = s->displayPixelKind;
    s->tablesMethod = s->activeMethod;
  }
  s->tablesDirty = false;
  e.decoder.setOptions(decoderOptionsFor(*s));

  // Background picture of a chroma-keyed stream: borrow one from another instance of the process
  // that decoded the same stream, or wait for it.
  s->awaitingBackground = false;
  if (e.decoder.usesBackground() && !e.decoder.hasBackground()) {
    bool found = false;
    forEachInstanceOfProcess([&](CodecState& other) {
      if (found || &other == s || !other.engine) return;
      const FrameDecoder& d = other.engine->decoder;
      if (!d.hasBackground() || d.width() != width || d.height() != height) return;
      e.decoder.setBackground(d.background(), d.options().pixelKind);
      found = true;
    });
    s->awaitingBackground = !found;
  }
  s->streamPrepared = true;
  return ICERR_OK;
}

}  // namespace zov::codec

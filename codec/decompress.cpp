// Format negotiation and the decompression path: which formats are accepted, which output
// method serves them, and what one decompression call does around the decoder and the output
// stage.
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>

#include "codec/handlers.h"
#include "codec/module.h"
#include "codec/network_hooks.h"
#include "codec/stream_engine.h"
#include "codec/stream_setup.h"
#include "format/output_method.h"
#include "format/palette.h"
#include "platform/vfw_display.h"

namespace zov::codec {

namespace {

constexpr const char* kMakerAddress = "www.orvane.com";
constexpr DWORD kYuy2 = mmioFOURCC('Y', 'U', 'Y', '2');
constexpr DWORD kUyvy = mmioFOURCC('U', 'Y', 'V', 'Y');
constexpr DWORD k1632 = mmioFOURCC('1', '6', '3', '2');
// A header and 256 colours.
constexpr LRESULT kPaletteFormatSize = sizeof(BITMAPINFOHEADER) + 256 * sizeof(RGBQUAD);

bool diagnostic() {
  return module().settings.interframeDiagnostic != 0;
}
bool display8Bit() {
  return vfw::displayBitsPerPixel() == 8;
}

ResizeSettings resizeSettings() {
  const CodecSettings& s = module().settings;
  ResizeSettings r;
  r.autoResize4xHiColor = s.autoResize4xHiColor;
  r.autoResize4xPalettized = s.autoResize4xPalettized;
  r.autoResize9xHiColor = s.autoResize9xHiColor;
  r.autoResize9xPalettized = s.autoResize9xPalettized;
  r.disableAutoResizing = s.disableAutoResizing != 0;
  r.useHardware = s.useHardware != 0;
  r.interframeDiagnostic = diagnostic();
  return r;
}

void showSizeBox() {
  std::string text =
      "This version of the Orvane software cannot play this video file since it is larger than "
      "640x480.\rPlease check ";
  text += kMakerAddress;
  text += " for the availability of updated software.";
  showStopBox(text);
}

// Input checks shared by every message that examines a stream format.
LRESULT checkInput(const CodecState& s, const BITMAPINFOHEADER* in) {
  if (!in) return ICERR_BADFORMAT;
  if (in->biSize != sizeof(BITMAPINFOHEADER) || in->biBitCount != 16 ||
      defaultScheme(in->biCompression) >= kSchemeCount)
    return ICERR_BADFORMAT;
  const uint32_t tag = in->biCompression & 0xFFFF0000u;
  if (tag != (isZov2(s) ? kZov2Tag : kZov1Tag)) return ICERR_UNSUPPORTED;
  return ICERR_OK;
}

// The 640 x 480 limit (with its box); pictures without a row or column are refused quietly.
LRESULT checkSize(int width, int height) {
  if (width > kMaxWidth || height > kMaxHeight) {
    showSizeBox();
    return ICERR_BADFORMAT;
  }
  if (width <= 0 || height <= 0) return ICERR_BADFORMAT;
  return ICERR_OK;
}

enum class DestinationKind { Refused, Accepted, Packed };

uint32_t maskAt(const BITMAPINFOHEADER* h, int i) {
  uint32_t value;
  std::memcpy(&value, reinterpret_cast<const uint8_t*>(h) + sizeof(BITMAPINFOHEADER) + 4 * i, 4);
  return value;
}

// The destination format rules, in order.
DestinationKind checkDestination(CodecState& s, const BITMAPINFOHEADER* out, bool extended) {
  const DWORD c = out->biCompression;
  if (c == BI_BITFIELDS || (extended && c == k1632)) {
    if (out->biBitCount == 8) return DestinationKind::Accepted;
    if (out->biBitCount != 16) return DestinationKind::Refused;
    const uint32_t r = maskAt(out, 0), g = maskAt(out, 1), b = maskAt(out, 2);
    if (r == 0x7C00 && g == 0x03E0 && b == 0x001F) return DestinationKind::Accepted;
    if (r == 0xF800 && g == 0x07E0 && b == 0x001F) return DestinationKind::Accepted;
    return DestinationKind::Refused;
  }
  if (c == kYuy2 || c == kUyvy) {
    if (!module().settings.useHardware) return DestinationKind::Refused;
    s.windowedMethod = s.activeMethod = c == kYuy2 ? kYuy2Method : kUyvyMethod;
    return DestinationKind::Packed;
  }
  if (c == BI_RGB) return DestinationKind::Accepted;
  return DestinationKind::Refused;
}

// A packed YUV method stays in force only for packed destinations: an instance that answered a
// YUY2 or UYVY query and is then offered an RGB bitmap goes back to the plain method, so what it
// writes matches what it proposes.
void leavePackedMethod(CodecState& s) {
  const bool diag = diagnostic();
  const int plain = repairMethod(plainMethod(diag), s.streamFormat, diag);
  if (isPackedMethod(s.activeMethod)) s.activeMethod = plain;
  if (isPackedMethod(s.windowedMethod)) s.windowedMethod = plain;
}

bool isRgb565(const BITMAPINFOHEADER* out, bool extended) {
  return (out->biCompression == BI_BITFIELDS || (extended && out->biCompression == k1632)) &&
         out->biBitCount != 8 && maskAt(out, 0) == 0xF800;
}

LRESULT query(CodecState& s, const BITMAPINFOHEADER* in, const BITMAPINFOHEADER* out) {
  if (LRESULT r = checkInput(s, in)) return r;
  if (LRESULT r = checkSize(in->biWidth, in->biHeight)) return r;
  repairMethods(s, in->biCompression);
  if (!out) return ICERR_OK;
  switch (checkDestination(s, out, false)) {
    case DestinationKind::Refused:
      return ICERR_BADFORMAT;
    case DestinationKind::Packed:
      return ICERR_OK;
    case DestinationKind::Accepted:
      leavePackedMethod(s);
      break;
  }
  if (s.suspended) return out->biBitCount == 16 ? ICERR_OK : ICERR_BADFORMAT;
  SizeDecision d =
      decideDestinationSize(s.activeMethod, in->biCompression, in->biWidth, in->biHeight,
                            out->biWidth, out->biHeight, resizeSettings(), display8Bit());
  s.activeMethod = d.method;
  if (d.result != 0) return ICERR_BADFORMAT;
  return depthMatches(s.activeMethod, out->biBitCount) ? ICERR_OK : ICERR_BADFORMAT;
}

// Hands this instance's background picture to every other instance of the process that waits
// for one of the same size.
void distributeBackground(const CodecState& from) {
  const FrameDecoder& mine = from.engine->decoder;
  const PixelKind kind = mine.options().pixelKind;
  forEachInstanceOfProcess([&](CodecState& other) {
    if (&other == &from || !other.awaitingBackground || !other.engine) return;
    FrameDecoder& theirs = other.engine->decoder;
    if (theirs.width() != mine.width() || theirs.height() != mine.height()) return;
    theirs.setBackground(mine.background(), kind);
    other.awaitingBackground = false;
  });
}

// What one frame request asks for, common to the plain and the extended messages.
struct FrameRequest {
  DWORD flags;
  const uint8_t* data;
  size_t size;
};

enum class Step { Continue, Done };

// Network lookup: while a network movie source is open every chunk is a chunk number.
Step resolveNetworkChunk(CodecState& s, FrameRequest& f) {
  if (!networkSourceOpen()) return Step::Continue;
  if (f.size < 4) {
    s.waitForKeyFrame = true;
    return Step::Done;
  }
  uint32_t chunk;
  std::memcpy(&chunk, f.data, 4);
  size_t size = 0;
  const uint8_t* real = networkFrameData(chunk, &size);
  if (!real) {
    s.waitForKeyFrame = true;
    return Step::Done;
  }
  f.data = real;
  f.size = size;
  return Step::Continue;
}

// An embedded background picture comes with the first chunk a waiting instance sees.
void takeEmbeddedBackground(CodecState& s, FrameRequest& f) {
  if (hasFlag(s.streamFormat, stream_flag::kChroma1st)) return;  // the first picture serves
  size_t framePart = 0;
  if (s.engine->decoder.loadEmbeddedBackground(f.data, f.size, &framePart)) {
    f.size = framePart;
    s.awaitingBackground = false;
    distributeBackground(s);
  }
}

// Decoding, with key-frame waiting, preroll and null frames.
Step decodeStep(CodecState& s, const FrameRequest& f) {
  StreamEngine& e = *s.engine;
  if (f.flags & ICDECOMPRESS_NULLFRAME) {
    s.fullRedraw = true;
    return Step::Continue;
  }
  if (s.waitForKeyFrame) {
    if (f.flags & ICDECOMPRESS_NOTKEYFRAME) return Step::Done;
    s.waitForKeyFrame = false;
  }
  if (e.decoder.decodeFrame(f.data, f.size) == DecodeStatus::Damaged) {
    // What was decoded is shown; the next frames would build on a broken picture.
    s.waitForKeyFrame = true;
  }
  if (e.decoder.lastFrameWasKey()) s.fullRedraw = true;
  s.postFilterActive = e.decoder.postFilterActive();
  if (s.awaitingBackground && e.decoder.hasBackground()) {
    s.awaitingBackground = false;
    distributeBackground(s);
  }
  if (f.flags & ICDECOMPRESS_PREROLL) {
    s.outputPending = true;
    return Step::Done;
  }
  return Step::Continue;
}

// Recomputes the geometry after the frame set or removed a letterbox. Returns whether it did.
bool handleLetterboxChange(CodecState& s) {
  StreamEngine& e = *s.engine;
  if (!e.decoder.letterboxSet() && !e.decoder.letterboxRemoved()) return false;
  e.output.setLayout(e.layout(), e.topDown, e.pitch);
  e.decoder.clearLetterboxFlags();
  return true;
}

void rebuildTablesIfDirty(CodecState& s) {
  if (!s.tablesDirty) return;
  s.engine->output.setCurve(currentCurve());
  s.engine->decoder.setOptions(decoderOptionsFor(s));
  s.fullRedraw = true;
  s.tablesDirty = false;
}

void writeOutput(CodecState& s, uint8_t* dest, bool bufferChanged) {
  StreamEngine& e = *s.engine;
  const bool full = s.fullRedraw || s.outputPending || s.postFilterActive || bufferChanged ||
                    !e.decoder.unchangedMapMaintained();
  if (full) {
    s.outputPending = false;
    s.fullRedraw = false;
    e.output.writeFullFrame(e.pictures(), dest);
  } else {
    e.output.writeChangedBlocks(e.pictures(), dest);
  }
}

// Pre-V4 streams carry the letterbox because of their LBOX flag; V4 streams in their key-frame
// headers, without the flag. Either way the margins in force are the decoder's.
bool letterboxInForce(const CodecState& s) {
  const FrameDecoder& d = s.engine->decoder;
  return d.bottomMargin() || d.topMargin();
}

}  // namespace

void repairMethods(CodecState& s, uint32_t formatWord) {
  s.streamFormat = formatWord;
  const bool diag = diagnostic();
  s.activeMethod = repairMethod(s.activeMethod, formatWord, diag);
  s.windowedMethod = repairMethod(s.windowedMethod, formatWord, diag);
  s.fullscreenMethod = repairMethod(s.fullscreenMethod, formatWord, diag, false);
}

LRESULT queryStream(CodecState& s, const BITMAPINFOHEADER* in) {
  return query(s, in, nullptr);
}

LRESULT decompressQuery(CodecState& s, const BITMAPINFOHEADER* in, const BITMAPINFOHEADER* out) {
  return query(s, in, out);
}

LRESULT decompressGetFormat(CodecState& s, const BITMAPINFOHEADER* in, BITMAPINFOHEADER* out) {
  if (LRESULT r = checkInput(s, in)) return r;
  repairMethods(s, in->biCompression);
  if (!out) return kPaletteFormatSize;
  const bool eight = isPaletteMethod(s.activeMethod);
  std::memset(out, 0, eight ? kPaletteFormatSize : sizeof(BITMAPINFOHEADER));
  out->biSize = sizeof(BITMAPINFOHEADER);
  out->biWidth = in->biWidth;
  out->biHeight = in->biHeight;
  out->biPlanes = 1;
  out->biCompression = BI_RGB;
  if (!s.suspended) {
    if (hasFlag(in->biCompression, stream_flag::kWField)) {
      out->biHeight *= 2;
    } else {
      out->biWidth *= methodScale(s.activeMethod);
      out->biHeight *= methodScale(s.activeMethod);
    }
    const int bytes = eight ? 1 : 2;
    // Lines of a DIB are padded to 32 bits; a host that sizes its buffer from this must get
    // room for the padding too.
    out->biSizeImage =
        static_cast<DWORD>(dibPitch(std::abs(out->biWidth), bytes) * std::abs(out->biHeight));
    out->biBitCount = static_cast<WORD>(eight ? 8 : 16);
  } else {
    out->biSizeImage = static_cast<DWORD>(std::abs(out->biWidth) * std::abs(out->biHeight));
  }
  return ICERR_OK;
}

LRESULT decompressGetPalette(CodecState& s, const BITMAPINFOHEADER* in, BITMAPINFOHEADER* out) {
  if (LRESULT r = checkInput(s, in)) return r;
  repairMethods(s, in->biCompression);
  if (s.suspended || !isPaletteMethod(s.activeMethod)) return ICERR_BADFORMAT;
  if (!out) return kPaletteFormatSize;
  out->biClrUsed = 256;
  out->biClrImportant = 0;
  PALETTEENTRY system[256];
  vfw::getSystemPaletteEntries(0, 256, system);
  StaticColours statics;
  for (int i = 0; i < 20; ++i) {
    const PALETTEENTRY& p = system[i < 10 ? i : 236 + i];
    statics[i] = PaletteEntry{p.peBlue, p.peGreen, p.peRed, 0};
  }
  const Palette palette = methodPalette(s.activeMethod, statics);
  // The colours follow the header at its own size (a 40-byte header in every host we know).
  const size_t headerSize = out->biSize >= sizeof(BITMAPINFOHEADER) && out->biSize <= 124
                                ? out->biSize
                                : sizeof(BITMAPINFOHEADER);
  auto* colours = reinterpret_cast<RGBQUAD*>(reinterpret_cast<uint8_t*>(out) + headerSize);
  for (int i = 0; i < 256; ++i)
    colours[i] = RGBQUAD{palette[i].blue, palette[i].green, palette[i].red, 0};
  return ICERR_OK;
}

LRESULT decompressBegin(InstanceLinkStruct& link, const BITMAPINFOHEADER* in,
                        const BITMAPINFOHEADER* out) {
  CodecState* s = link.state;
  if (s->begun) {
    s->restarting = true;
    LRESULT r = decompressEnd(*s);
    s->restarting = false;
    if (r) return r;
  }
  s->outputPending = false;
  if (LRESULT r = query(*s, in, out)) return r;
  if (!out) return ICERR_BADFORMAT;  // a stream needs a destination format
  if (s->suspended) {
    s->waitForKeyFrame = true;
    s->begun = true;
    return ICERR_OK;
  }
  s->rgb565Output = isRgb565(out, false);
  s->extendedActive = false;
  // YUY2 and UYVY overlays are top-down; RGB bitmaps bottom-up.
  if (LRESULT r = startStream(link, in, isPackedMethod(s->activeMethod), 0)) return r;
  s = link.state;
  s->waitForKeyFrame = true;
  s->begun = true;
  s->lastOutputBuffer = nullptr;
  return ICERR_OK;
}

LRESULT decompressFrame(CodecState& s, const ICDECOMPRESS* request) {
  if (!s.begun || s.extendedActive) return ICERR_BADHANDLE;
  if (!request || !request->lpInput) return ICERR_CANTUPDATE;
  FrameRequest f{request->dwFlags, static_cast<const uint8_t*>(request->lpInput),
                 request->lpbiInput ? request->lpbiInput->biSizeImage : 0};
  if (s.engine && resolveNetworkChunk(s, f) == Step::Done) return ICERR_OK;
  if (s.awaitingBackground && s.streamPrepared) {
    if (f.flags & ICDECOMPRESS_NULLFRAME) return ICERR_CANTUPDATE;
    takeEmbeddedBackground(s, f);
  }
  if (s.suspended) return ICERR_OK;
  if (!request->lpOutput) return ICERR_CANTUPDATE;
  // Begun while suspended: nothing was set up for this stream, so nothing is drawn until the
  // host begins again.
  if (!s.streamPrepared) return ICERR_OK;

  StreamEngine& e = *s.engine;
  const OutputGeometry& g = e.output.geometry();
  if (const BITMAPINFOHEADER* o = request->lpbiOutput) {
    // Never write past what the host says its bitmap holds.
    if (std::abs(o->biWidth) < g.destWidth || std::abs(o->biHeight) < g.destHeight ||
        o->biBitCount != 8 * g.bytesPerPixel)
      return ICERR_BADFORMAT;
  }
  auto* dest = static_cast<uint8_t*>(request->lpOutput);
  if (writesAlternateLines(e.output.method()) && dest != s.lastOutputBuffer)
    e.output.clearUnwrittenLines(dest);
  if (decodeStep(s, f) == Step::Done) return ICERR_OK;
  // A new letterbox leaves the old picture in the margins: clear them then too.
  const bool letterboxChanged = handleLetterboxChange(s);
  if (letterboxInForce(s) && (dest != s.lastOutputBuffer || letterboxChanged))
    e.output.clearMargins(dest);
  if (letterboxChanged) s.fullRedraw = true;
  rebuildTablesIfDirty(s);
  const bool changed = dest != s.lastOutputBuffer;
  s.lastOutputBuffer = dest;
  writeOutput(s, dest, changed);
  return ICERR_OK;
}

namespace {

LRESULT extendedQuery(CodecState& s, const ICDECOMPRESSEX* r, LPARAM size) {
  if (s.suspended) return ICERR_BADFORMAT;
  if (!r) return ICERR_BADPARAM;
  if (LRESULT c = checkInput(s, r->lpbiSrc)) return c;
  // 52 bytes on the 32-bit platform; pointers make the record larger here.
  if (size != static_cast<LPARAM>(sizeof(ICDECOMPRESSEX)) || r->xSrc != 0 ||
      r->dxSrc != r->lpbiSrc->biWidth || r->dySrc != r->lpbiSrc->biHeight)
    return ICERR_BADPARAM;
  if (LRESULT c = checkSize(r->dxSrc, r->dySrc)) return c;
  repairMethods(s, r->lpbiSrc->biCompression);
  const BITMAPINFOHEADER* out = r->lpbiDst;
  if (!out) return ICERR_OK;
  if (out->biHeight >= 0) return ICERR_BADFORMAT;
  switch (checkDestination(s, out, true)) {
    case DestinationKind::Refused:
      return ICERR_BADFORMAT;
    case DestinationKind::Packed:
      return ICERR_OK;
    case DestinationKind::Accepted:
      leavePackedMethod(s);
      break;
  }
  SizeDecision d =
      decideDestinationSize(s.activeMethod, r->lpbiSrc->biCompression, r->dxSrc, r->dySrc, r->dxDst,
                            r->dyDst, resizeSettings(), display8Bit(), true);
  s.activeMethod = d.method;
  if (d.result != 0) return ICERR_BADFORMAT;
  return depthMatches(s.activeMethod, out->biBitCount) ? ICERR_OK : ICERR_BADFORMAT;
}

void forgetPosition(CodecState& s) {
  s.destBuffer = reinterpret_cast<void*>(-1);
  s.destX = -1;
  s.destY = -1;
}

}  // namespace

LRESULT decompressExQuery(CodecState& s, const ICDECOMPRESSEX* request, LPARAM size) {
  return extendedQuery(s, request, size);
}

LRESULT decompressExBegin(InstanceLinkStruct& link, const ICDECOMPRESSEX* r, LPARAM size) {
  CodecState* s = link.state;
  if (module().settings.forceDIB) return ICERR_BADFORMAT;
  if (s->begun) {
    s->restarting = true;
    LRESULT e = decompressEnd(*s);
    s->restarting = false;
    if (e) return e;
  }
  s->outputPending = false;
  if (LRESULT q = extendedQuery(*s, r, size)) return q;
  if (!r->lpbiDst) return ICERR_BADFORMAT;  // a stream needs a destination format
  if (s->suspended) {
    forgetPosition(*s);
    s->waitForKeyFrame = true;
    s->begun = true;
    return ICERR_OK;
  }
  if (s->activeMethod == kDiagnosticMethod) {
    s->extendedActive = false;
    return ICERR_BADFORMAT;
  }
  // No DirectDraw here: the probe finds what it finds when DirectDraw is missing.
  s->bankSwitchedDisplay = true;
  s->rgb565Output = isRgb565(r->lpbiDst, true);
  s->destBitCount = r->lpbiDst->biBitCount;
  s->destWidth = r->lpbiDst->biWidth;
  s->destHeight = r->lpbiDst->biHeight;
  s->extendedActive = true;
  const int bytes = isPaletteMethod(s->activeMethod) ? 1 : 2;
  if (LRESULT e = startStream(link, r->lpbiSrc, true, dibPitch(s->destWidth, bytes))) {
    link.state->extendedActive = false;
    return e;
  }
  s = link.state;
  forgetPosition(*s);
  s->waitForKeyFrame = true;
  s->begun = true;
  return ICERR_OK;
}

LRESULT decompressExFrame(CodecState& s, const ICDECOMPRESSEX* r) {
  if (!s.begun) return ICERR_BADHANDLE;
  if (!r || !r->lpSrc) return ICERR_CANTUPDATE;
  FrameRequest f{r->dwFlags, static_cast<const uint8_t*>(r->lpSrc),
                 r->lpbiSrc ? r->lpbiSrc->biSizeImage : 0};
  if (s.engine && resolveNetworkChunk(s, f) == Step::Done) return ICERR_OK;
  if (s.awaitingBackground && s.streamPrepared) {
    if (r->xSrc || r->ySrc) return ICERR_BADFORMAT;
    if (f.flags & ICDECOMPRESS_NULLFRAME) return ICERR_CANTUPDATE;
    takeEmbeddedBackground(s, f);
  }
  if (s.suspended) return ICERR_OK;
  if (r->xSrc || r->ySrc) return ICERR_BADFORMAT;
  if (!s.streamPrepared) return ICERR_OK;

  StreamEngine& e = *s.engine;
  const BITMAPINFOHEADER* dst = r->lpbiDst;
  if (!dst) return ICERR_BADFORMAT;
  if (dst->biWidth != s.destWidth || dst->biHeight != s.destHeight) {
    if (dst->biWidth <= 0) return ICERR_BADFORMAT;
    if (dst->biHeight >= 0) return ICERR_BADFORMAT;
    if (dst->biBitCount != s.destBitCount) return ICERR_BADFORMAT;
    const int bytes = isPaletteMethod(s.activeMethod) ? 1 : 2;
    const ptrdiff_t pitch = dibPitch(dst->biWidth, bytes);
    if (!e.output.setup(s.activeMethod, e.layout(), e.decoder.options().pixelKind, true, pitch,
                        currentCurve()))
      return ICERR_MEMORY;
    s.destWidth = dst->biWidth;
    s.destHeight = dst->biHeight;
    e.pitch = pitch;
    forgetPosition(s);
  }
  if (!r->lpDst) return ICERR_CANTUPDATE;

  if (decodeStep(s, f) == Step::Done) return ICERR_OK;

  const bool letterboxChanged = handleLetterboxChange(s);
  if (s.tablesDirty || letterboxChanged || r->lpDst != s.destBuffer || r->xDst != s.destX ||
      r->yDst != s.destY) {
    const OutputGeometry& g = e.output.geometry();
    const int rows = std::abs(s.destHeight);
    // The picture sits yDst lines above the bottom edge of the top-down destination; it must
    // lie inside it.
    if (r->xDst < 0 || r->yDst < 0 || r->xDst + g.destWidth > s.destWidth ||
        r->yDst + g.destHeight > rows) {
      forgetPosition(s);
      return ICERR_BADPARAM;
    }
    s.destBuffer = r->lpDst;
    s.destX = r->xDst;
    s.destY = r->yDst;
    s.destStart = static_cast<uint8_t*>(r->lpDst) + (rows - (r->yDst + g.destHeight)) * e.pitch +
                  static_cast<ptrdiff_t>(r->xDst) * g.bytesPerPixel;
    if (letterboxInForce(s)) e.output.clearMargins(s.destStart);
    if (writesAlternateLines(e.output.method())) e.output.clearUnwrittenLines(s.destStart);
    rebuildTablesIfDirty(s);
    s.fullRedraw = true;
    module().fastVideo = true;
  }
  writeOutput(s, s.destStart, false);
  return ICERR_OK;
}

LRESULT decompressEnd(CodecState& s) {
  // The colour tables are shared by the whole process and live as long as it does; the output
  // tables belong to the instance's working memory, so there is nothing to hand back here.
  if (s.fullscreenActive) {
    leaveFullscreen(s);
    s.fullscreenActive = false;
  }
  s.extendedActive = false;
  s.begun = false;
  s.streamPrepared = false;
  return ICERR_OK;
}

LRESULT drawStart(CodecState& s) {
  if (!module().settings.noSkipOnDrawStart) s.waitForKeyFrame = true;
  return ICERR_OK;
}

}  // namespace zov::codec

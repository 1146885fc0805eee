// The C interface of libzovdec over the frame decoder of format/: argument checks, key-frame
// waiting, the embedded background of background streams, and the writing of each picture in
// the caller's pixel format. Nothing here is shared between decoders.
#include "zov/zovdec.h"

#include <new>
#include <vector>

#include "format/decoder.h"
#include "format/stream_format.h"
#include "zovdec/picture_writer.h"

using zov::FrameDecoder;
namespace flag = zov::stream_flag;

struct ZOVDecoder {
  FrameDecoder decoder;
  bool waitingForKey = true;
  bool hasPicture = false;  // a key frame was decoded since creation or the last reset
  // Streams whose first chunk carries the background picture: the next key chunk is examined
  // for one (again after a reset, so that a seek back to the start finds it).
  bool awaitingBackground = false;
  bool backgroundLoaded = false;
  std::vector<uint16_t> savedBackground;
};

namespace {

bool carriesEmbeddedBackground(uint32_t word) {
  return zov::hasFlag(word, flag::kChroma) && !zov::hasFlag(word, flag::kChroma1st);
}

zov::dec::PictureShape shapeOf(const FrameDecoder& d) {
  zov::dec::PictureShape s;
  s.width = d.width();
  s.height = d.height();
  s.wField = zov::hasFlag(d.formatWord(), flag::kWField);
  s.sField = zov::hasFlag(d.formatWord(), flag::kSField);
  s.marginBottom = d.bottomMargin();
  s.marginTop = d.topMargin();
  return s;
}

bool validOutput(const ZOVDecoder& dec, ptrdiff_t stride, int format, unsigned flags) {
  if (format < 0 || format >= zov::dec::kOutputFormats || (flags & ~ZOVDEC_BOTTOM_UP) != 0)
    return false;
  const int bpp = zov::dec::bytesPerPixel(static_cast<zov::dec::OutputFormat>(format));
  return stride >= static_cast<ptrdiff_t>(dec.decoder.width()) * bpp;
}

void writeOutput(const ZOVDecoder& dec, void* pixels, ptrdiff_t stride, int format,
                 unsigned flags) {
  if (!pixels) return;
  zov::dec::writePicture(dec.decoder.picture(), shapeOf(dec.decoder),
                         static_cast<zov::dec::OutputFormat>(format), static_cast<uint8_t*>(pixels),
                         stride, (flags & ZOVDEC_BOTTOM_UP) != 0);
}

// Takes the background from the chunk when it carries one and returns the length of the
// frame's own part. A chunk that turns out not to carry one is decoded whole, and a background
// decoded earlier is put back.
size_t takeEmbeddedBackground(ZOVDecoder& dec, const uint8_t* chunk, size_t size) {
  FrameDecoder& d = dec.decoder;
  if (dec.backgroundLoaded)
    dec.savedBackground.assign(d.background(), d.background() + size_t(d.width()) * d.height());
  size_t framePart = size;
  if (d.loadEmbeddedBackground(chunk, size, &framePart)) {
    dec.awaitingBackground = false;
    dec.backgroundLoaded = true;
    return framePart;
  }
  if (dec.backgroundLoaded) d.setBackground(dec.savedBackground.data(), zov::PixelKind::Rgb555);
  return size;
}

}  // namespace

extern "C" {

int ZOVDecCreate(uint32_t formatWord, int width, int height, ZOVDecoder** decoder) {
  if (!decoder) return ZOVDEC_ERR_INVALID_ARGUMENT;
  *decoder = nullptr;
  const uint32_t tag = formatWord & 0xFFFF0000u;
  if (tag != zov::kZov1Tag && tag != zov::kZov2Tag) return ZOVDEC_ERR_UNSUPPORTED;
  try {
    auto* dec = new ZOVDecoder;
    zov::DecoderOptions options;  // 5-5-5, every row, no post filter: the picture as coded
    options.maintainUnchangedMap = false;
    if (!dec->decoder.prepareStream(width, height, formatWord, options)) {
      delete dec;
      return ZOVDEC_ERR_UNSUPPORTED;
    }
    dec->awaitingBackground = carriesEmbeddedBackground(formatWord);
    *decoder = dec;
    return ZOVDEC_OK;
  } catch (const std::bad_alloc&) {
    return ZOVDEC_ERR_NO_MEMORY;
  }
}

void ZOVDecDestroy(ZOVDecoder* decoder) {
  delete decoder;
}

int ZOVDecGetOutputSize(const ZOVDecoder* decoder, int* width, int* height) {
  if (!decoder) return ZOVDEC_ERR_INVALID_ARGUMENT;
  const zov::dec::PictureShape s = shapeOf(decoder->decoder);
  if (width) *width = s.width;
  if (height) *height = s.outputHeight();
  return ZOVDEC_OK;
}

int ZOVDecDecodeFrame(ZOVDecoder* decoder, const void* data, size_t size, void* pixels,
                      ptrdiff_t stride, int format, unsigned flags) {
  if (!decoder || (!data && size > 0)) return ZOVDEC_ERR_INVALID_ARGUMENT;
  if (pixels && !validOutput(*decoder, stride, format, flags)) return ZOVDEC_ERR_INVALID_ARGUMENT;
  ZOVDecoder& dec = *decoder;
  if (size == 0) {
    // A dropped frame: the picture stays as it is.
    if (dec.waitingForKey) return ZOVDEC_NEED_KEY_FRAME;
    writeOutput(dec, pixels, stride, format, flags);
    return ZOVDEC_OK;
  }
  const bool key = ZOVDecIsKeyFrame(data, size) == 1;
  if (dec.waitingForKey && !key) return ZOVDEC_NEED_KEY_FRAME;
  try {
    const auto* chunk = static_cast<const uint8_t*>(data);
    size_t framePart = size;
    if (dec.awaitingBackground && key) framePart = takeEmbeddedBackground(dec, chunk, size);
    const zov::DecodeStatus status = dec.decoder.decodeFrame(chunk, framePart);
    dec.hasPicture = true;
    dec.waitingForKey = status != zov::DecodeStatus::Ok;
    writeOutput(dec, pixels, stride, format, flags);
    return status == zov::DecodeStatus::Ok ? ZOVDEC_OK : ZOVDEC_ERR_INVALID_DATA;
  } catch (const std::bad_alloc&) {
    dec.waitingForKey = true;
    return ZOVDEC_ERR_NO_MEMORY;
  }
}

int ZOVDecWritePicture(const ZOVDecoder* decoder, void* pixels, ptrdiff_t stride, int format,
                       unsigned flags) {
  if (!decoder || !pixels || !validOutput(*decoder, stride, format, flags))
    return ZOVDEC_ERR_INVALID_ARGUMENT;
  if (!decoder->hasPicture) return ZOVDEC_NEED_KEY_FRAME;
  writeOutput(*decoder, pixels, stride, format, flags);
  return ZOVDEC_OK;
}

int ZOVDecReset(ZOVDecoder* decoder) {
  if (!decoder) return ZOVDEC_ERR_INVALID_ARGUMENT;
  decoder->waitingForKey = true;
  decoder->hasPicture = false;
  decoder->awaitingBackground = carriesEmbeddedBackground(decoder->decoder.formatWord());
  return ZOVDEC_OK;
}

int ZOVDecIsKeyFrame(const void* data, size_t size) {
  if (!data && size > 0) return ZOVDEC_ERR_INVALID_ARGUMENT;
  if (size < 4) return ZOVDEC_ERR_INVALID_DATA;
  // The first bit of a frame is the most significant bit of its first little-endian word.
  return (static_cast<const uint8_t*>(data)[3] & 0x80) ? 1 : 0;
}

const char* ZOVDecStatusText(int status) {
  switch (status) {
    case ZOVDEC_OK:
      return "success";
    case ZOVDEC_NEED_KEY_FRAME:
      return "waiting for a key frame";
    case ZOVDEC_ERR_INVALID_ARGUMENT:
      return "invalid argument";
    case ZOVDEC_ERR_UNSUPPORTED:
      return "unsupported stream format";
    case ZOVDEC_ERR_INVALID_DATA:
      return "invalid data";
    case ZOVDEC_ERR_NO_MEMORY:
      return "out of memory";
    default:
      return "unknown status";
  }
}

const char* ZOVDecVersion(void) {
  return ZOVDEC_VERSION_STRING;
}

}  // extern "C"

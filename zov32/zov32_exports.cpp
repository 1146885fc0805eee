// libzov32: the thirteen entry points the codec library forwards the compression messages of its
// zov2 instances to. The handle the codec keeps per instance holds a CompressionSession; every
// entry answers with Video for Windows results and lets no exception out.
#include <new>

#include "zov32/compression_session.h"

#define ZOV32_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

using zov::zov32::CompressionSession;

constexpr int32_t kInterfaceVersion = 1035;

CompressionSession* sessionOf(uintptr_t* handle) {
  return handle ? reinterpret_cast<CompressionSession*>(*handle) : nullptr;
}

template <typename F>
intptr_t guarded(uintptr_t* handle, F&& body) noexcept {
  CompressionSession* s = sessionOf(handle);
  if (!s) return ICERR_BADHANDLE;
  try {
    return body(*s);
  } catch (const std::bad_alloc&) {
    return ICERR_MEMORY;
  } catch (...) {
    return ICERR_INTERNAL;
  }
}

const BITMAPINFOHEADER* header(intptr_t p) {
  return reinterpret_cast<const BITMAPINFOHEADER*>(p);
}

}  // namespace

// Creates a session; non-zero on success.
ZOV32_EXPORT int32_t ZOV32CompressEntry(uintptr_t* handle) {
  if (!handle) return 0;
  CompressionSession* s = nullptr;
  try {
    s = new CompressionSession;
  } catch (...) {
    // Out of memory, for the record or inside it: no session.
  }
  *handle = reinterpret_cast<uintptr_t>(s);
  return s ? 1 : 0;
}

ZOV32_EXPORT int32_t ZOV32CompressExit(uintptr_t* handle) {
  delete sessionOf(handle);
  if (handle) *handle = 0;
  return static_cast<int32_t>(ICERR_OK);
}

ZOV32_EXPORT intptr_t ZOV32CompressFramesInfo(uintptr_t* handle, intptr_t p1, intptr_t) {
  return guarded(handle, [&](CompressionSession& s) {
    return s.framesInfo(reinterpret_cast<const ICCOMPRESSFRAMES*>(p1));
  });
}

ZOV32_EXPORT intptr_t ZOV32CompressQuery(uintptr_t* handle, intptr_t p1, intptr_t p2) {
  return guarded(handle, [&](CompressionSession& s) { return s.query(header(p1), header(p2)); });
}

ZOV32_EXPORT intptr_t ZOV32CompressGetFormat(uintptr_t* handle, intptr_t p1, intptr_t p2) {
  return guarded(handle, [&](CompressionSession& s) {
    return s.getFormat(header(p1), reinterpret_cast<BITMAPINFOHEADER*>(p2));
  });
}

ZOV32_EXPORT intptr_t ZOV32CompressGetSize(uintptr_t* handle, intptr_t p1, intptr_t) {
  return guarded(handle, [&](CompressionSession& s) { return s.getSize(header(p1)); });
}

ZOV32_EXPORT intptr_t ZOV32CompressBegin(uintptr_t* handle, intptr_t p1, intptr_t p2) {
  return guarded(handle, [&](CompressionSession& s) { return s.begin(header(p1), header(p2)); });
}

ZOV32_EXPORT intptr_t ZOV32Compress(uintptr_t* handle, intptr_t p1, intptr_t) {
  return guarded(handle, [&](CompressionSession& s) {
    return s.compress(reinterpret_cast<const ICCOMPRESS*>(p1));
  });
}

ZOV32_EXPORT intptr_t ZOV32CompressEnd(uintptr_t* handle) {
  return guarded(handle, [](CompressionSession& s) { return s.end(); });
}

ZOV32_EXPORT int32_t ZOV32CompressGetVersion(void) {
  return kInterfaceVersion;
}

// No configuration dialog: the query form (-1) and every other call answer "unsupported".
ZOV32_EXPORT intptr_t ZOV32CompressConfigure(uintptr_t*, intptr_t) {
  return ICERR_UNSUPPORTED;
}

// The codec resolves these but never calls them (its quality messages answer "unsupported").
ZOV32_EXPORT intptr_t ZOV32CompressGetQuality(uintptr_t*, intptr_t, intptr_t) {
  return ICERR_UNSUPPORTED;
}
ZOV32_EXPORT intptr_t ZOV32CompressSetQuality(uintptr_t*, intptr_t, intptr_t) {
  return ICERR_UNSUPPORTED;
}

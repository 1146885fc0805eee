// Stand-ins for the external compression library. Each call is appended to the file named by
// $FAKE_ZOV32_LOG. FAKE_ZOV32_OLD reports version 1034; FAKE_ZOV32_PARTIAL lacks one entry.
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#define EXPORT extern "C" __attribute__((visibility("default")))

namespace {
void note(const char* what, uintptr_t* handle, intptr_t a = 0, intptr_t b = 0) {
  if (const char* path = std::getenv("FAKE_ZOV32_LOG")) {
    if (FILE* f = std::fopen(path, "a")) {
      std::fprintf(f, "%s %lx %ld %ld\n", what, handle ? static_cast<unsigned long>(*handle) : 0UL,
                   static_cast<long>(a), static_cast<long>(b));
      std::fclose(f);
    }
  }
}
}  // namespace

EXPORT int32_t ZOV32CompressEntry(uintptr_t* h) {
  *h = 0x5eed;
  note("entry", h);
  return 1;
}
EXPORT int32_t ZOV32CompressExit(uintptr_t* h) {
  note("exit", h);
  return 0;
}
EXPORT intptr_t ZOV32CompressFramesInfo(uintptr_t* h, intptr_t a, intptr_t b) {
  note("framesinfo", h, a, b);
  return 0;
}
EXPORT intptr_t ZOV32CompressQuery(uintptr_t* h, intptr_t a, intptr_t b) {
  note("query", h, a, b);
  return 0;
}
EXPORT intptr_t ZOV32CompressGetFormat(uintptr_t* h, intptr_t a, intptr_t b) {
  note("getformat", h, a, b);
  return 40;
}
EXPORT intptr_t ZOV32CompressGetSize(uintptr_t* h, intptr_t a, intptr_t b) {
  note("getsize", h, a, b);
  return 12345;
}
EXPORT intptr_t ZOV32CompressBegin(uintptr_t* h, intptr_t a, intptr_t b) {
  note("begin", h, a, b);
  return 0;
}
EXPORT intptr_t ZOV32Compress(uintptr_t* h, intptr_t a, intptr_t b) {
  note("compress", h, a, b);
  return 0;
}
EXPORT intptr_t ZOV32CompressEnd(uintptr_t* h) {
  note("end", h);
  return 0;
}
EXPORT int32_t ZOV32CompressGetVersion() {
#ifdef FAKE_ZOV32_OLD
  return 1034;
#else
  return 1035;
#endif
}
EXPORT intptr_t ZOV32CompressConfigure(uintptr_t* h, intptr_t a) {
  note("configure", h, a);
  return 0;
}
EXPORT intptr_t ZOV32CompressGetQuality(uintptr_t* h, intptr_t, intptr_t) {
  return *h ? 0 : -1;
}
#ifndef FAKE_ZOV32_PARTIAL
EXPORT intptr_t ZOV32CompressSetQuality(uintptr_t* h, intptr_t, intptr_t) {
  return *h ? 0 : -1;
}
#endif

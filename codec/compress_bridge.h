// The compression bridge: for zov2 instances every compression message goes to the external
// compression library "libzov32.so.1" beside the codec library, loaded on the first such message
// and kept until the driver is freed.
//
// What a compression library must export (C linkage); `handle` points at the instance's session
// handle (0: none), which the entry function fills:
//   int32_t  ZOV32CompressEntry(uintptr_t* handle);            non-zero: session created
//   int32_t  ZOV32CompressExit(uintptr_t* handle);
//   intptr_t ZOV32CompressFramesInfo(uintptr_t* handle, intptr_t lParam1, intptr_t lParam2);
//   intptr_t ZOV32CompressQuery(...same...);      ZOV32CompressGetFormat(...);
//   intptr_t ZOV32CompressGetSize(...);           ZOV32CompressBegin(...);
//   intptr_t ZOV32Compress(...);
//   intptr_t ZOV32CompressEnd(uintptr_t* handle);
//   int32_t  ZOV32CompressGetVersion(void);                    must return 1035
//   intptr_t ZOV32CompressConfigure(uintptr_t* handle, intptr_t lParam1);
//   intptr_t ZOV32CompressGetQuality(uintptr_t* handle, intptr_t, intptr_t);   (resolved only)
//   intptr_t ZOV32CompressSetQuality(uintptr_t* handle, intptr_t, intptr_t);   (resolved only)
// Results of the message entries are Video for Windows results and reach the host unchanged.
#pragma once

#include <cstdint>

namespace zov::codec {

#ifndef ZOV_SOVERSION
#error "ZOV_SOVERSION (the libraries' major version) comes from the build"
#endif
#define ZOV_COMPRESSION_STRINGIFY_(x) #x
#define ZOV_COMPRESSION_STRINGIFY(x) ZOV_COMPRESSION_STRINGIFY_(x)
// Loaded by its runtime (SONAME) name, as the library packages install it.
inline constexpr const char* kCompressionLibrary =
    "libzov32.so." ZOV_COMPRESSION_STRINGIFY(ZOV_SOVERSION);

using CompressEntryFn = int32_t (*)(uintptr_t*);
using CompressMessageFn = intptr_t (*)(uintptr_t*, intptr_t, intptr_t);
using CompressNoArgsFn = intptr_t (*)(uintptr_t*);
using CompressVersionFn = int32_t (*)();
using CompressConfigureFn = intptr_t (*)(uintptr_t*, intptr_t);

}  // namespace zov::codec

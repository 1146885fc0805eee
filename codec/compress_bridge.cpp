#include "codec/compress_bridge.h"

#include <dlfcn.h>

#include <cstdio>
#include <filesystem>
#include <mutex>
#include <string>

#include "codec/handlers.h"
#include "codec/module.h"

namespace zov::codec {

namespace {

struct CompressionLibrary {
  void* module = nullptr;
  CompressEntryFn entry = nullptr;
  CompressEntryFn exit = nullptr;
  CompressMessageFn framesInfo = nullptr;
  CompressMessageFn query = nullptr;
  CompressMessageFn getFormat = nullptr;
  CompressMessageFn getSize = nullptr;
  CompressMessageFn begin = nullptr;
  CompressMessageFn compress = nullptr;
  CompressNoArgsFn end = nullptr;
  CompressVersionFn getVersion = nullptr;
  CompressConfigureFn configure = nullptr;
  void* getQuality = nullptr;
  void* setQuality = nullptr;
};

CompressionLibrary& library() {
  static CompressionLibrary l;
  return l;
}

// Guards library() and the sessions' handles while they are opened and closed: two instances
// may send their first compression message on two threads at once. Taken after the instance
// list's lock where both are held (DRV_CLOSE, DRV_FREE), never before it.
std::mutex& libraryLock() {
  static std::mutex m;
  return m;
}

// The directory the codec library itself was loaded from.
std::string codecDirectory() {
  Dl_info info{};
  if (!dladdr(reinterpret_cast<void*>(&codecDirectory), &info) || !info.dli_fname) return {};
  return std::filesystem::path(info.dli_fname).parent_path().string();
}

void unload() {
  CompressionLibrary& l = library();
  if (l.module) dlclose(l.module);
  l = CompressionLibrary{};
}

LRESULT loadLibrary() {
  CompressionLibrary& l = library();
  const std::filesystem::path path = std::filesystem::path(codecDirectory()) / kCompressionLibrary;
  std::error_code ec;
  // Without the library the codec is decompress-only, silently.
  if (!std::filesystem::is_regular_file(path, ec)) return ICERR_UNSUPPORTED;
  void* module = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!module) return ICERR_MEMORY;
  l.module = module;
  bool complete = true;
  auto resolve = [&](const char* name) {
    void* p = dlsym(module, name);
    if (!p) complete = false;
    return p;
  };
  l.entry = reinterpret_cast<CompressEntryFn>(resolve("ZOV32CompressEntry"));
  l.exit = reinterpret_cast<CompressEntryFn>(resolve("ZOV32CompressExit"));
  l.framesInfo = reinterpret_cast<CompressMessageFn>(resolve("ZOV32CompressFramesInfo"));
  l.query = reinterpret_cast<CompressMessageFn>(resolve("ZOV32CompressQuery"));
  l.getFormat = reinterpret_cast<CompressMessageFn>(resolve("ZOV32CompressGetFormat"));
  l.getSize = reinterpret_cast<CompressMessageFn>(resolve("ZOV32CompressGetSize"));
  l.begin = reinterpret_cast<CompressMessageFn>(resolve("ZOV32CompressBegin"));
  l.compress = reinterpret_cast<CompressMessageFn>(resolve("ZOV32Compress"));
  l.end = reinterpret_cast<CompressNoArgsFn>(resolve("ZOV32CompressEnd"));
  l.getVersion = reinterpret_cast<CompressVersionFn>(resolve("ZOV32CompressGetVersion"));
  l.configure = reinterpret_cast<CompressConfigureFn>(resolve("ZOV32CompressConfigure"));
  l.getQuality = resolve("ZOV32CompressGetQuality");
  l.setQuality = resolve("ZOV32CompressSetQuality");
  if (!complete) {
    unload();
    showStopBox("Obsolete ZOV32.DLL!\rplease reinstall Orvane!");
    return ICERR_MEMORY;
  }
  return ICERR_OK;
}

LRESULT openSession(CodecState& s) {
  if (!library().module)
    if (LRESULT r = loadLibrary()) return r;
  const int32_t version = library().getVersion();
  if (version != static_cast<int32_t>(kInterfaceVersion)) {
    unload();
    char text[200];
    std::snprintf(text, sizeof text,
                  "ZOVCOD32.DLL / ZOV32.DLL version mismatch!\rZOVCOD32.DLL version is %lu -- "
                  "ZOV32.DLL version is %lu\rplease reinstall Orvane!",
                  static_cast<unsigned long>(kInterfaceVersion),
                  static_cast<unsigned long>(static_cast<uint32_t>(version)));
    showStopBox(text);
    return ICERR_MEMORY;
  }
  return library().entry(&s.compressorHandle) ? ICERR_OK : ICERR_MEMORY;
}

}  // namespace

LRESULT forwardCompression(CodecState& s, UINT message, LPARAM p1, LPARAM p2) {
  if (!isZov2(s)) return ICERR_UNSUPPORTED;
  CompressionLibrary l;
  {
    std::lock_guard lock(libraryLock());
    // A session does not outlive its library (DRV_FREE closes them): start afresh.
    if (!library().module) s.compressorHandle = 0;
    if (!s.compressorHandle)
      if (LRESULT r = openSession(s)) return r;
    // The message itself runs unlocked: instances compress side by side, and the manager sends
    // DRV_FREE only once every instance is closed.
    l = library();
  }
  switch (message) {
    case ICM_COMPRESS_FRAMES_INFO:
      return l.framesInfo(&s.compressorHandle, p1, p2);
    case ICM_COMPRESS_QUERY:
      return l.query(&s.compressorHandle, p1, p2);
    case ICM_COMPRESS_GET_FORMAT:
      return l.getFormat(&s.compressorHandle, p1, p2);
    case ICM_COMPRESS_GET_SIZE:
      return l.getSize(&s.compressorHandle, p1, p2);
    case ICM_COMPRESS_BEGIN:
      return l.begin(&s.compressorHandle, p1, p2);
    case ICM_COMPRESS:
      return l.compress(&s.compressorHandle, p1, p2);
    case ICM_COMPRESS_END:
      return l.end(&s.compressorHandle);
    case ICM_CONFIGURE:
      return l.configure(&s.compressorHandle, p1);
    default:
      return ICERR_UNSUPPORTED;
  }
}

namespace {
void closeSession(CodecState& s) {
  if (!s.compressorHandle) return;
  // A session can only exist while its library is loaded, unless the driver was freed first.
  if (library().module) library().exit(&s.compressorHandle);
  s.compressorHandle = 0;
}
}  // namespace

void closeCompressionSession(CodecState& s) {
  std::lock_guard lock(libraryLock());
  closeSession(s);
}

void unloadCompressionLibrary() {
  // Sessions live in the library: those still open close before it goes, and no first message
  // of another thread opens one in between.
  InstanceListLock instances;
  std::lock_guard lock(libraryLock());
  forEachInstanceOfProcess([](CodecState& s) { closeSession(s); });
  unload();
}

}  // namespace zov::codec

#include "platform/vfw.h"

#include <dlfcn.h>
#include <unistd.h>

#include <cctype>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <list>
#include <map>
#include <memory>
#include <mutex>

#ifndef ZOV_INSTALL_LIBDIR
#define ZOV_INSTALL_LIBDIR "/usr/local/lib"
#endif

LRESULT DefDriverProc(DWORD_PTR, HDRVR, UINT message, LPARAM, LPARAM) {
  switch (message) {
    case DRV_LOAD:
    case DRV_FREE:
    case DRV_ENABLE:
    case DRV_DISABLE:
    case DRV_OPEN:
    case DRV_CLOSE:
      return 1;
    case DRV_INSTALL:
    case DRV_REMOVE:
      return DRVCNF_RESTART;
    default:
      return 0;
  }
}

namespace {

// One loaded driver library; shared by every instance opened on it, unloaded with the last.
struct LoadedDriver {
  std::string path;
  void* module = nullptr;
  DRIVERPROC proc = nullptr;
  int opens = 0;
};

std::mutex& managerLock() {
  static std::mutex lock;
  return lock;
}

std::list<LoadedDriver>& loadedDrivers() {
  static std::list<LoadedDriver> drivers;
  return drivers;
}

std::map<std::pair<DWORD, DWORD>, std::string>& installedDrivers() {
  static std::map<std::pair<DWORD, DWORD>, std::string> drivers;
  return drivers;
}

DWORD lowerFourcc(DWORD fcc) {
  DWORD out = 0;
  for (int i = 0; i < 4; ++i) {
    auto c = static_cast<unsigned char>(fcc >> (8 * i));
    out |= DWORD(std::tolower(c)) << (8 * i);
  }
  return out;
}

// Streams name their type 'vids'; codecs are registered as 'vidc'.
DWORD codecType(DWORD fccType) {
  return fccType == streamtypeVIDEO ? ICTYPE_VIDEO : fccType;
}

// The directory of the file this manager is linked into (the program, or libzovvfw).
std::string managerDirectory() {
  Dl_info info{};
  if (!dladdr(reinterpret_cast<void*>(&ICOpen), &info) || !info.dli_fname) return {};
  std::error_code ec;
  auto file = std::filesystem::canonical(info.dli_fname, ec);
  if (ec) return {};
  return file.parent_path().string();
}

std::string programDirectory() {
  std::error_code ec;
  auto exe = std::filesystem::read_symlink("/proc/self/exe", ec);
  if (ec) return {};
  return exe.parent_path().string();
}

}  // namespace

struct IcInstance {
  LoadedDriver* driver = nullptr;
  DWORD_PTR driverId = 0;
  DWORD fccType = 0;
  DWORD fccHandler = 0;
};

namespace zov::vfw {

std::vector<std::string> codecSearchDirectories() {
  std::vector<std::string> dirs;
  if (const char* env = std::getenv("ZOV_CODEC_PATH"); env && *env) {
    std::string all = env;
    size_t start = 0;
    while (start <= all.size()) {
      size_t end = all.find(':', start);
      if (end == std::string::npos) end = all.size();
      if (end > start) dirs.push_back(all.substr(start, end - start));
      start = end + 1;
    }
  }
  if (auto dir = programDirectory(); !dir.empty()) {
    dirs.push_back(dir);
    dirs.push_back((std::filesystem::path(dir).parent_path() / "lib").string());
  }
  // Built into libzovvfw, the manager finds the codec beside itself in a moved prefix.
  if (auto dir = managerDirectory(); !dir.empty()) dirs.push_back(dir);
  dirs.push_back(ZOV_INSTALL_LIBDIR);
  return dirs;
}

const char* codecLibraryName() {
  return ZOV_CODEC_LIBRARY;
}

std::string findDriverLibrary(DWORD fccType, DWORD fccHandler) {
  DWORD type = codecType(fccType);
  DWORD handler = lowerFourcc(fccHandler);
  {
    std::lock_guard guard(managerLock());
    auto it = installedDrivers().find({type, handler});
    if (it != installedDrivers().end()) return it->second;
  }
  if (type != ICTYPE_VIDEO) return {};
  if (handler != mmioFOURCC('z', 'o', 'v', '1') && handler != mmioFOURCC('z', 'o', 'v', '2'))
    return {};
  for (const auto& dir : codecSearchDirectories()) {
    auto candidate = std::filesystem::path(dir) / codecLibraryName();
    std::error_code ec;
    if (std::filesystem::is_regular_file(candidate, ec)) return candidate.string();
  }
  return {};
}

}  // namespace zov::vfw

BOOL ICInstall(DWORD fccType, DWORD fccHandler, LPARAM lParam, const char*, UINT wFlags) {
  if (!(wFlags & ICINSTALL_DRIVER) || lParam == 0) return 0;
  std::lock_guard guard(managerLock());
  installedDrivers()[{codecType(fccType), lowerFourcc(fccHandler)}] =
      reinterpret_cast<const char*>(lParam);
  return 1;
}

BOOL ICRemove(DWORD fccType, DWORD fccHandler, UINT) {
  std::lock_guard guard(managerLock());
  return installedDrivers().erase({codecType(fccType), lowerFourcc(fccHandler)}) ? 1 : 0;
}

namespace {

// Loads a driver library (or finds it loaded) and sends DRV_LOAD and DRV_ENABLE on its first
// load, as the Windows driver loader does. Called with the manager lock held.
LoadedDriver* loadDriver(const std::string& path) {
  for (auto& d : loadedDrivers())
    if (d.path == path) return &d;
  void* module = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!module) return nullptr;
  auto proc = reinterpret_cast<DRIVERPROC>(dlsym(module, "DriverProc"));
  if (!proc) {
    dlclose(module);
    return nullptr;
  }
  if (proc(0, nullptr, DRV_LOAD, 0, 0) == 0) {
    proc(0, nullptr, DRV_FREE, 0, 0);
    dlclose(module);
    return nullptr;
  }
  proc(0, nullptr, DRV_ENABLE, 0, 0);
  auto& d = loadedDrivers().emplace_back();
  d.path = path;
  d.module = module;
  d.proc = proc;
  return &d;
}

void releaseDriver(LoadedDriver* d) {
  if (d->opens > 0) return;
  d->proc(0, nullptr, DRV_DISABLE, 0, 0);
  d->proc(0, nullptr, DRV_FREE, 0, 0);
  dlclose(d->module);
  loadedDrivers().remove_if([d](const LoadedDriver& x) { return &x == d; });
}

}  // namespace

HIC ICOpen(DWORD fccType, DWORD fccHandler, UINT wMode) {
  std::string path = zov::vfw::findDriverLibrary(fccType, fccHandler);
  if (path.empty()) return nullptr;
  std::lock_guard guard(managerLock());
  LoadedDriver* driver = loadDriver(path);
  if (!driver) return nullptr;
  auto instance = std::make_unique<IcInstance>();
  instance->driver = driver;
  instance->fccType = codecType(fccType);
  instance->fccHandler = lowerFourcc(fccHandler);
  ICOPEN open{};
  open.dwSize = sizeof(ICOPEN);
  open.fccType = instance->fccType;
  open.fccHandler = instance->fccHandler;
  open.dwVersion = ICVERSION;
  open.dwFlags = wMode;
  LRESULT id = driver->proc(0, reinterpret_cast<HDRVR>(instance.get()), DRV_OPEN, 0,
                            reinterpret_cast<LPARAM>(&open));
  if (id == 0) {
    releaseDriver(driver);
    return nullptr;
  }
  instance->driverId = static_cast<DWORD_PTR>(id);
  ++driver->opens;
  return instance.release();
}

LRESULT ICClose(HIC hic) {
  if (!hic) return ICERR_BADHANDLE;
  std::lock_guard guard(managerLock());
  LoadedDriver* driver = hic->driver;
  driver->proc(hic->driverId, reinterpret_cast<HDRVR>(hic), DRV_CLOSE, 0, 0);
  --driver->opens;
  releaseDriver(driver);
  delete hic;
  return ICERR_OK;
}

LRESULT ICSendMessage(HIC hic, UINT msg, DWORD_PTR dw1, DWORD_PTR dw2) {
  if (!hic) return ICERR_BADHANDLE;
  return hic->driver->proc(hic->driverId, reinterpret_cast<HDRVR>(hic), msg,
                           static_cast<LPARAM>(dw1), static_cast<LPARAM>(dw2));
}

const char* ICGetDriverPath(HIC hic) {
  return hic ? hic->driver->path.c_str() : "";
}

LRESULT ICGetInfo(HIC hic, ICINFO* info, DWORD cb) {
  return ICSendMessage(hic, ICM_GETINFO, reinterpret_cast<DWORD_PTR>(info), cb);
}

DWORD ICDecompress(HIC hic, DWORD dwFlags, LPBITMAPINFOHEADER lpbiFormat, LPVOID lpData,
                   LPBITMAPINFOHEADER lpbi, LPVOID lpBits) {
  ICDECOMPRESS request{};
  request.dwFlags = dwFlags;
  request.lpbiInput = lpbiFormat;
  request.lpInput = lpData;
  request.lpbiOutput = lpbi;
  request.lpOutput = lpBits;
  return static_cast<DWORD>(
      ICSendMessage(hic, ICM_DECOMPRESS, reinterpret_cast<DWORD_PTR>(&request), sizeof request));
}

namespace {

LRESULT sendDecompressEx(HIC hic, UINT msg, DWORD dwFlags, LPBITMAPINFOHEADER lpbiSrc, LPVOID lpSrc,
                         int xSrc, int ySrc, int dxSrc, int dySrc, LPBITMAPINFOHEADER lpbiDst,
                         LPVOID lpDst, int xDst, int yDst, int dxDst, int dyDst) {
  ICDECOMPRESSEX request{};
  request.dwFlags = dwFlags;
  request.lpbiSrc = lpbiSrc;
  request.lpSrc = lpSrc;
  request.xSrc = xSrc;
  request.ySrc = ySrc;
  request.dxSrc = dxSrc;
  request.dySrc = dySrc;
  request.lpbiDst = lpbiDst;
  request.lpDst = lpDst;
  request.xDst = xDst;
  request.yDst = yDst;
  request.dxDst = dxDst;
  request.dyDst = dyDst;
  return ICSendMessage(hic, msg, reinterpret_cast<DWORD_PTR>(&request), sizeof request);
}

}  // namespace

LRESULT ICDecompressEx(HIC hic, DWORD dwFlags, LPBITMAPINFOHEADER lpbiSrc, LPVOID lpSrc, int xSrc,
                       int ySrc, int dxSrc, int dySrc, LPBITMAPINFOHEADER lpbiDst, LPVOID lpDst,
                       int xDst, int yDst, int dxDst, int dyDst) {
  return sendDecompressEx(hic, ICM_DECOMPRESSEX, dwFlags, lpbiSrc, lpSrc, xSrc, ySrc, dxSrc, dySrc,
                          lpbiDst, lpDst, xDst, yDst, dxDst, dyDst);
}

LRESULT ICDecompressExBegin(HIC hic, DWORD dwFlags, LPBITMAPINFOHEADER lpbiSrc, LPVOID lpSrc,
                            int xSrc, int ySrc, int dxSrc, int dySrc, LPBITMAPINFOHEADER lpbiDst,
                            LPVOID lpDst, int xDst, int yDst, int dxDst, int dyDst) {
  return sendDecompressEx(hic, ICM_DECOMPRESSEX_BEGIN, dwFlags, lpbiSrc, lpSrc, xSrc, ySrc, dxSrc,
                          dySrc, lpbiDst, lpDst, xDst, yDst, dxDst, dyDst);
}

LRESULT ICDecompressExQuery(HIC hic, DWORD dwFlags, LPBITMAPINFOHEADER lpbiSrc, LPVOID lpSrc,
                            int xSrc, int ySrc, int dxSrc, int dySrc, LPBITMAPINFOHEADER lpbiDst,
                            LPVOID lpDst, int xDst, int yDst, int dxDst, int dyDst) {
  return sendDecompressEx(hic, ICM_DECOMPRESSEX_QUERY, dwFlags, lpbiSrc, lpSrc, xSrc, ySrc, dxSrc,
                          dySrc, lpbiDst, lpDst, xDst, yDst, dxDst, dyDst);
}

LRESULT ICDecompressExEnd(HIC hic) {
  return ICSendMessage(hic, ICM_DECOMPRESSEX_END, 0, 0);
}

LRESULT ICDecompressQuery(HIC hic, const BITMAPINFOHEADER* lpbiInput,
                          const BITMAPINFOHEADER* lpbiOutput) {
  return ICSendMessage(hic, ICM_DECOMPRESS_QUERY, reinterpret_cast<DWORD_PTR>(lpbiInput),
                       reinterpret_cast<DWORD_PTR>(lpbiOutput));
}

LRESULT ICDecompressGetFormat(HIC hic, const BITMAPINFOHEADER* lpbiInput,
                              BITMAPINFOHEADER* lpbiOutput) {
  return ICSendMessage(hic, ICM_DECOMPRESS_GET_FORMAT, reinterpret_cast<DWORD_PTR>(lpbiInput),
                       reinterpret_cast<DWORD_PTR>(lpbiOutput));
}

LRESULT ICDecompressGetFormatSize(HIC hic, const BITMAPINFOHEADER* lpbiInput) {
  return ICDecompressGetFormat(hic, lpbiInput, nullptr);
}

LRESULT ICDecompressGetPalette(HIC hic, const BITMAPINFOHEADER* lpbiInput,
                               BITMAPINFOHEADER* lpbiOutput) {
  return ICSendMessage(hic, ICM_DECOMPRESS_GET_PALETTE, reinterpret_cast<DWORD_PTR>(lpbiInput),
                       reinterpret_cast<DWORD_PTR>(lpbiOutput));
}

LRESULT ICDecompressBegin(HIC hic, const BITMAPINFOHEADER* lpbiInput,
                          const BITMAPINFOHEADER* lpbiOutput) {
  return ICSendMessage(hic, ICM_DECOMPRESS_BEGIN, reinterpret_cast<DWORD_PTR>(lpbiInput),
                       reinterpret_cast<DWORD_PTR>(lpbiOutput));
}

LRESULT ICDecompressEnd(HIC hic) {
  return ICSendMessage(hic, ICM_DECOMPRESS_END, 0, 0);
}

namespace {

LRESULT sendFormats(HIC hic, UINT msg, const BITMAPINFOHEADER* a, const BITMAPINFOHEADER* b) {
  return ICSendMessage(hic, msg, reinterpret_cast<DWORD_PTR>(a), reinterpret_cast<DWORD_PTR>(b));
}

}  // namespace

LRESULT ICCompressQuery(HIC hic, const BITMAPINFOHEADER* lpbiInput,
                        const BITMAPINFOHEADER* lpbiOutput) {
  return sendFormats(hic, ICM_COMPRESS_QUERY, lpbiInput, lpbiOutput);
}

LRESULT ICCompressGetFormat(HIC hic, const BITMAPINFOHEADER* lpbiInput,
                            BITMAPINFOHEADER* lpbiOutput) {
  return sendFormats(hic, ICM_COMPRESS_GET_FORMAT, lpbiInput, lpbiOutput);
}

LRESULT ICCompressGetSize(HIC hic, const BITMAPINFOHEADER* lpbiInput,
                          const BITMAPINFOHEADER* lpbiOutput) {
  return sendFormats(hic, ICM_COMPRESS_GET_SIZE, lpbiInput, lpbiOutput);
}

LRESULT ICCompressBegin(HIC hic, const BITMAPINFOHEADER* lpbiInput,
                        const BITMAPINFOHEADER* lpbiOutput) {
  return sendFormats(hic, ICM_COMPRESS_BEGIN, lpbiInput, lpbiOutput);
}

LRESULT ICCompressEnd(HIC hic) {
  return ICSendMessage(hic, ICM_COMPRESS_END, 0, 0);
}

DWORD ICCompress(HIC hic, DWORD dwFlags, LPBITMAPINFOHEADER lpbiOutput, LPVOID lpData,
                 LPBITMAPINFOHEADER lpbiInput, LPVOID lpBits, DWORD* lpckid, DWORD* lpdwFlags,
                 LONG lFrameNum, DWORD dwFrameSize, DWORD dwQuality, LPBITMAPINFOHEADER lpbiPrev,
                 LPVOID lpPrev) {
  ICCOMPRESS request{dwFlags,   lpbiOutput, lpData,      lpbiInput, lpBits,   lpckid,
                     lpdwFlags, lFrameNum,  dwFrameSize, dwQuality, lpbiPrev, lpPrev};
  return static_cast<DWORD>(
      ICSendMessage(hic, ICM_COMPRESS, reinterpret_cast<DWORD_PTR>(&request), sizeof request));
}

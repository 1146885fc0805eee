// The installable-driver entry: library start-up and shut-down, instance creation and
// destruction, and the routing of every driver and codec message.
#include <cstring>
#include <memory>
#include <new>

#include "codec/handlers.h"
#include "codec/module.h"
#include "codec/network_hooks.h"
#include "network/zev_source.h"
#include "platform/vfw_display.h"
#include "zov/zovcod32.h"
#include "zov/zovcod32_dialogs.h"

namespace zov::codec {

namespace {

constexpr DWORD kZov1 = mmioFOURCC('z', 'o', 'v', '1');
constexpr DWORD kZov2 = mmioFOURCC('z', 'o', 'v', '2');
// The state blob of a zov2 instance: the characters Z, O, V, 2, most significant first.
constexpr uint32_t kStateValue =
    uint32_t('Z') << 24 | uint32_t('O') << 16 | uint32_t('V') << 8 | '2';

// Library start-up: settings, the hidden window's class, the hidden window.
void attach() {
  Module& m = module();
  if (m.attachCount++ > 0) return;
  m.settings = loadAndNormaliseSettings();
  setNetworkSourceApi({&network::accessZEV, &network::obtainAudio, &network::freeZEV,
                       &network::sourceOpen, &network::frameData, &network::movieName});
  network::setOutOfMemoryReport(&reportOutOfMemory);
  m.videEditClassRegistered = true;
  updateHiddenWindow();
}

void detach() {
  Module& m = module();
  if (m.attachCount == 0 || --m.attachCount > 0) return;
  m.videEditWindow = false;
  releaseNetworkSource();
}

// Runs when the library is loaded into a process and when it is unloaded. The codec serves the
// NT family only; this platform counts as one, so the library always loads.
__attribute__((constructor)) void libraryLoaded() {
  attach();
}
__attribute__((destructor)) void libraryUnloaded() {
  detach();
}

LRESULT openInstance(const ICOPEN* open) {
  if (!open) return 1;  // an open for configuration only, without an instance
  auto* icopen = const_cast<ICOPEN*>(open);
  if (open->fccType != mmioFOURCC('v', 'i', 'd', 's') &&
      open->fccType != mmioFOURCC('v', 'i', 'd', 'c'))
    return 0;
  if (open->fccHandler != kZov1 && open->fccHandler != kZov2) return 0;

  std::unique_ptr<InstanceLinkStruct> link(new (std::nothrow) InstanceLinkStruct{});
  if (!link) {
    char text[160];
    std::snprintf(text, sizeof text,
                  "Unable to allocate %lu bytes of storage for an InstanceLinkStruct!\r"
                  "Please reboot and try this again.",
                  static_cast<unsigned long>(sizeof(InstanceLinkStruct)));
    showStopBox(text);
    icopen->dwError = ICERR_MEMORY;
    return 0;
  }
  uint16_t access = 0;
  CodecState* state = allocateWorkingMemory(sizeof(CodecState), true, &access);
  if (!state) {
    icopen->dwError = ICERR_MEMORY;
    return 0;
  }
  link->state = state;
  link->stateAccess = access;
  state->selfAccess = access;
  state->ownerProcessId = currentProcessId();
  state->handler = open->fccHandler;

  // Instances of one process keep their methods in step: start from the last one's.
  Module& m = module();
  InstanceListLock lock;
  InstanceLinkStruct** tail = &m.instances;
  for (InstanceLinkStruct* l = m.instances; l; l = l->next) {
    if (l->state && l->state->ownerProcessId == state->ownerProcessId) {
      state->suspended = l->state->suspended;
      state->activeMethod = l->state->activeMethod;
      state->windowedMethod = l->state->windowedMethod;
      state->fullscreenMethod = l->state->fullscreenMethod;
      state->minFullscreenResolution = l->state->minFullscreenResolution;
    }
    tail = &l->next;
  }
  *tail = link.get();

  icopen->dwError = ICERR_OK;
  state->minFullscreenResolution = 2;
  if (m.settings.interframeDiagnostic) {
    state->windowedMethod = 13;
    state->activeMethod = 13;
  }
  return reinterpret_cast<LRESULT>(link.release());
}

LRESULT closeInstance(DWORD_PTR id) {
  if (id == 0 || id == 1) return 1;
  auto* link = reinterpret_cast<InstanceLinkStruct*>(id);
  InstanceListLock lock;
  if (!isListed(link)) return 0;
  if (link->state && link->state->compressorHandle) closeCompressionSession(*link->state);
  Module& m = module();
  for (InstanceLinkStruct** p = &m.instances; *p; p = &(*p)->next)
    if (*p == link) {
      *p = link->next;
      break;
    }
  if (link->state && link->state->begun) decompressEnd(*link->state);
  releaseWorkingMemory(link->state, link->stateAccess, true);
  link->state = nullptr;
  link->stateAccess = 0;
  delete link;
  return 1;
}

LRESULT getState(CodecState& s, void* buffer, LPARAM size) {
  if (!isZov2(s)) return ICERR_UNSUPPORTED;
  if (!buffer || size == 0) return 4;
  if (size != 4) return 0;
  std::memcpy(buffer, &kStateValue, 4);
  return 4;
}

LRESULT setState(CodecState& s, const void* buffer, LPARAM size) {
  if (!isZov2(s)) return ICERR_UNSUPPORTED;
  if (!buffer) return 4;
  uint32_t value = 0;
  if (size != 4) return 0;
  std::memcpy(&value, buffer, 4);
  return value == kStateValue ? 4 : 0;
}

void copyWide(WCHAR* to, const char* from) {
  while ((*to++ = static_cast<WCHAR>(static_cast<unsigned char>(*from++)))) {
  }
}

LRESULT getInfo(CodecState& s, ICINFO* info, LPARAM size) {
  // A buffer must reach at least to the driver name (312 bytes); it is not filled.
  if (!info || size < static_cast<LPARAM>(offsetof(ICINFO, szDriver))) return 0;
  // The whole buffer the host names is cleared, also beyond the record.
  std::memset(info, 0, static_cast<size_t>(size));
  const bool zov2 = isZov2(s);
  info->dwSize = sizeof(ICINFO);
  info->fccType = ICTYPE_VIDEO;
  info->fccHandler = s.handler;
  info->dwFlags = zov2 ? (VIDCF_QUALITY | VIDCF_TEMPORAL | VIDCF_COMPRESSFRAMES | VIDCF_DRAW |
                          VIDCF_FASTTEMPORALC | VIDCF_FASTTEMPORALD)
                       : (VIDCF_DRAW | VIDCF_FASTTEMPORALD);
  info->dwVersion = 0x10000;
  info->dwVersionICM = ICVERSION;
  copyWide(info->szName, zov2 ? "ZOV2" : "ZOV1");
  copyWide(info->szDescription, zov2 ? "Orvane ZOV2 Codec" : "Orvane ZOV1 Codec");
  return size;
}

// Messages that work on an instance get its state; 0 and 1 (no instance) answer BADHANDLE
// instead of reaching through a null record.
CodecState* stateOf(DWORD_PTR id) {
  if (id == 0 || id == 1) return nullptr;
  return reinterpret_cast<InstanceLinkStruct*>(id)->state;
}

}  // namespace

void hiColorCheck() {
  Module& m = module();
  if (m.hiColorChecked) return;
  m.hiColorChecked = true;
  if (readSetting("SuppressNoHiColorWarning", 0) != 0) return;
  writeSetting("SuppressNoHiColorWarning", 1);
  int bits = vfw::displayBitsPerPixel();
  if (bits == 15 || bits == 16) {
    writeSetting("SuppressNoHiColorWarning", 0);
    return;
  }
  HiColorDialogData data;
  if (runModalDialog(nullptr, kHiColorDialog, data) == IDOK && !data.dontShowAgain)
    writeSetting("SuppressNoHiColorWarning", 0);
}

intptr_t showAboutBox(void* owner) {
  AboutDialogData data;
  // The dialog ends with 1 on its button (command 1) and 0 when closed (command 2).
  return runModalDialog(owner, kAboutDialog, data) == IDOK ? 1 : 0;
}

LRESULT dispatch(DWORD_PTR id, HDRVR driver, UINT msg, LPARAM p1, LPARAM p2) {
  switch (msg) {
    case DRV_LOAD:
      hiColorCheck();
      return 1;
    case DRV_ENABLE:
    case DRV_DISABLE:
      return DefDriverProc(id, driver, msg, p1, p2);
    case DRV_OPEN:
      return openInstance(reinterpret_cast<const ICOPEN*>(p2));
    case DRV_CLOSE:
      return closeInstance(id);
    case DRV_FREE:
      // Closes the sessions still open, then unloads the compression library.
      unloadCompressionLibrary();
      return 1;
    case DRV_CONFIGURE:
      if (p1 != -1) showAboutBox(reinterpret_cast<void*>(p1));
      return 1;
    case DRV_QUERYCONFIGURE:
    case DRV_INSTALL:
    case DRV_REMOVE:
      return 1;
    case ICM_ABOUT:
      if (p1 != -1) showAboutBox(reinterpret_cast<void*>(p1));
      return ICERR_OK;
    case ICM_DRAW_STOP:
    case ICM_DRAW_GET_PALETTE:
    case ICM_DRAW_RENDERBUFFER:
      return 0;
    case ICM_DECOMPRESS_SET_PALETTE:
    case ICM_DRAW_GETTIME:
    case ICM_DRAW_WINDOW:
    case ICM_DRAW_SETTIME:
    case ICM_DRAW_FLUSH:
    case ICM_DRAW_START_PLAY:
    case ICM_DRAW_STOP_PLAY:
    case ICM_DRAW_SUGGESTFORMAT:
    case ICM_DRAW_CHANGEPALETTE:
    case ICM_SET_STATUS_PROC:
    case ICM_SET:
    case ICM_GET:
    case ICM_GETDEFAULTQUALITY:
    case ICM_GETQUALITY:
    case ICM_SETQUALITY:
      return ICERR_UNSUPPORTED;
    default:
      break;
  }

  // Everything below works on an instance.
  switch (msg) {
    case ICM_COMPRESS_GET_FORMAT:
    case ICM_COMPRESS_GET_SIZE:
    case ICM_COMPRESS_QUERY:
    case ICM_COMPRESS_BEGIN:
    case ICM_COMPRESS:
    case ICM_COMPRESS_END:
    case ICM_COMPRESS_FRAMES_INFO:
    case ICM_CONFIGURE:
    case ICM_DECOMPRESS_GET_FORMAT:
    case ICM_DECOMPRESS_QUERY:
    case ICM_DECOMPRESS_BEGIN:
    case ICM_DECOMPRESS:
    case ICM_DECOMPRESS_END:
    case ICM_DECOMPRESS_GET_PALETTE:
    case ICM_DECOMPRESSEX_BEGIN:
    case ICM_DECOMPRESSEX_QUERY:
    case ICM_DECOMPRESSEX:
    case ICM_DECOMPRESSEX_END:
    case ICM_DRAW_QUERY:
    case ICM_DRAW_BEGIN:
    case ICM_DRAW:
    case ICM_DRAW_END:
    case ICM_DRAW_START:
    case ICM_DRAW_REALIZE:
    case ICM_GETSTATE:
    case ICM_SETSTATE:
    case ICM_GETINFO:
    case ICM_GETBUFFERSWANTED:
    case ICM_GETDEFAULTKEYFRAMERATE:
      break;
    default:
      return DefDriverProc(id, driver, msg, p1, p2);
  }
  CodecState* state = stateOf(id);
  if (!state) return ICERR_BADHANDLE;
  CodecState& s = *state;
  auto* link = reinterpret_cast<InstanceLinkStruct*>(id);
  auto* bi1 = reinterpret_cast<BITMAPINFOHEADER*>(p1);
  auto* bi2 = reinterpret_cast<BITMAPINFOHEADER*>(p2);
  switch (msg) {
    case ICM_COMPRESS_GET_FORMAT:
    case ICM_COMPRESS_GET_SIZE:
    case ICM_COMPRESS_QUERY:
    case ICM_COMPRESS_BEGIN:
    case ICM_COMPRESS:
    case ICM_COMPRESS_END:
    case ICM_COMPRESS_FRAMES_INFO:
    case ICM_CONFIGURE:
      return forwardCompression(s, msg, p1, p2);
    case ICM_DECOMPRESS_GET_FORMAT:
      return decompressGetFormat(s, bi1, bi2);
    case ICM_DECOMPRESS_QUERY:
    case ICM_DRAW_QUERY:
      return decompressQuery(s, bi1, bi2);
    case ICM_DECOMPRESS_BEGIN:
      return decompressBegin(*link, bi1, bi2);
    case ICM_DECOMPRESS:
      return decompressFrame(s, reinterpret_cast<const ICDECOMPRESS*>(p1));
    case ICM_DECOMPRESS_END:
    case ICM_DECOMPRESSEX_END:
    case ICM_DRAW_END:
      return decompressEnd(s);
    case ICM_DECOMPRESS_GET_PALETTE:
      return decompressGetPalette(s, bi1, bi2);
    case ICM_DECOMPRESSEX_BEGIN:
      return decompressExBegin(*link, reinterpret_cast<const ICDECOMPRESSEX*>(p1), p2);
    case ICM_DECOMPRESSEX_QUERY:
      return decompressExQuery(s, reinterpret_cast<const ICDECOMPRESSEX*>(p1), p2);
    case ICM_DECOMPRESSEX:
      return decompressExFrame(s, reinterpret_cast<const ICDECOMPRESSEX*>(p1));
    case ICM_DRAW_BEGIN:
      return drawBegin(*link, reinterpret_cast<const ICDRAWBEGIN*>(p1));
    case ICM_DRAW:
      return drawFrame(s, reinterpret_cast<const ICDRAW*>(p1));
    case ICM_DRAW_START:
      return drawStart(s);
    case ICM_DRAW_REALIZE:
      return drawRealize(s);
    case ICM_GETSTATE:
      return getState(s, reinterpret_cast<void*>(p1), p2);
    case ICM_SETSTATE:
      return setState(s, reinterpret_cast<const void*>(p1), p2);
    case ICM_GETINFO:
      return getInfo(s, reinterpret_cast<ICINFO*>(p1), p2);
    case ICM_GETBUFFERSWANTED:
    case ICM_GETDEFAULTKEYFRAMERATE:
      if (!isZov2(s)) return ICERR_UNSUPPORTED;
      if (p1) {
        uint32_t value = msg == ICM_GETBUFFERSWANTED ? 0 : 4;
        std::memcpy(reinterpret_cast<void*>(p1), &value, 4);
      }
      return ICERR_OK;
    default:
      return DefDriverProc(id, driver, msg, p1, p2);
  }
}

}  // namespace zov::codec

extern "C" ZOVCOD32_API intptr_t DriverProc(uintptr_t driverId, void* driver, unsigned int message,
                                            intptr_t lParam1, intptr_t lParam2) {
  using namespace zov::codec;
  if (message != DRV_OPEN) {
    // A failed close has freed nothing; every other message reports the failure as its result.
    const LRESULT failed = message == DRV_CLOSE ? 0 : ICERR_MEMORY;
    return guarded<LRESULT>(failed, message == DRV_CLOSE ? 0 : ICERR_INTERNAL,
                            [&] { return dispatch(driverId, driver, message, lParam1, lParam2); });
  }
  // An open that fails refuses the instance and says why in ICOPEN.dwError.
  constexpr LRESULT kFailed = -1;
  const LRESULT id = guarded<LRESULT>(
      kFailed, kFailed, [&] { return dispatch(driverId, driver, message, lParam1, lParam2); });
  if (id != kFailed) return id;
  if (lParam2) reinterpret_cast<ICOPEN*>(lParam2)->dwError = ICERR_MEMORY;
  return 0;
}

extern "C" ZOVCOD32_API void ZOVSetUiHost(zov::MessageBoxSink* sink, zov::DialogHost* host) {
  zov::setMessageBoxSink(sink);
  zov::setDialogHost(host);
}

// Fullscreen drawing. The display layer of this platform has no exclusive mode: entering it
// always answers error 13, so every fullscreen request ends in its boxes and -1, and the host
// falls back to ordinary decompression.
#include <string>

#include "codec/handlers.h"
#include "codec/module.h"
#include "codec/stream_engine.h"
#include "codec/stream_setup.h"
#include "format/output_method.h"

namespace zov::codec {

namespace {

struct Resolution {
  int width, height;
};
constexpr Resolution kResolutions[5] = {
    {320, 200}, {640, 400}, {640, 480}, {800, 600}, {1024, 768}};

constexpr const char* kDisplayErrors[] = {
    "No Error",
    "Unable to identify your video adapter",
    "Not enough video memory to set selected video mode",
    "Error setting video mode",
    "Unsupported video mode",
    "Video memory bank switching failed",
    "VESA window is not 64Kb",
    "Unable to allocate a real mode memory buffer",
    "Unable to access PCI BIOS",
    "Real mode interrupt failed",
    "VESA is required to use your video adapter",
    "Unable to create a selector to access memory",
    "VESA failed a function required to use your video adapter",
    "Exclusive fullscreen playback not supported on this OS",
    "Unable to obtain exclusive system access for fullscreen playback",
    "Exception error occured in test video chipset",
    "Exception error occured in set video mode",
    "Direct Draw Error",
};

constexpr const char* kSlowerMethod =
    "Windows will attempt to continue using an unresized slower method";

// The display layer: no exclusive mode on this platform.
constexpr int kNoExclusiveMode = 13;
int enterExclusiveMode(void*) {
  return kNoExclusiveMode;
}
void leaveExclusiveMode() {}

}  // namespace

void showDisplayErrorBox(void* owner, int code) {
  std::string text = code >= 0 && code < static_cast<int>(std::size(kDisplayErrors))
                         ? kDisplayErrors[code]
                         : "Direct Draw Error";
  text += ".\rPlease reboot and try this again, or try another resolution,\r";
  const uint32_t manufacturer = module().settings.videoManufacturer;
  text += manufacturer == 0 || manufacturer == 255
              ? "or contact your video manufacturer for an updated VESA video driver."
              : "or try a VESA video driver and mode.";
  showStopBox(text, owner);
}

void leaveFullscreen(CodecState&) {
  leaveExclusiveMode();
}

LRESULT drawBegin(InstanceLinkStruct& link, const ICDRAWBEGIN* request) {
  auto fail = [&link](LRESULT result) {
    CodecState& s = *link.state;
    s.fullscreenActive = false;
    s.activeMethod = s.windowedMethod;
    return result;
  };
  CodecState* s = link.state;
  if (s->begun) {
    s->restarting = true;
    LRESULT r = decompressEnd(*s);
    s->restarting = false;
    if (r) return fail(r);
  }
  s->outputPending = false;
  if (!request) return fail(ICERR_BADPARAM);
  if (LRESULT r = queryStream(*s, request->lpbi)) return fail(r);
  if (s->suspended) return fail(ICERR_UNSUPPORTED);
  if (request->dwFlags & ICDRAW_QUERY) return ICERR_OK;
  // Windowed drawing is not offered: the host decompresses and draws itself.
  if (!(request->dwFlags & ICDRAW_FULLSCREEN)) return fail(ICERR_UNSUPPORTED);

  s->fullscreenActive = true;
  s->activeMethod = s->fullscreenMethod;
  if (LRESULT r = startStream(link, request->lpbi, true, 0)) return fail(r);
  s = link.state;
  const OutputLayout layout = s->engine->layout();
  const int neededWidth = outputWidth(s->activeMethod, layout);
  const int neededHeight = outputHeight(s->activeMethod, layout);

  int chosen = -1;
  for (int i = s->minFullscreenResolution; i >= 0 && i <= 4; ++i)
    if (kResolutions[i].width >= neededWidth && kResolutions[i].height >= neededHeight) {
      chosen = i;
      break;
    }
  if (chosen < 0) {
    showStopBox("The selected image will not fit within a 1024x768 screen resolution",
                request->hwnd);
    showStopBox(kSlowerMethod, request->hwnd);
    return fail(ICERR_UNSUPPORTED);
  }
  module().lastResolution = chosen;

  if (int code = enterExclusiveMode(request->hwnd)) {
    leaveExclusiveMode();
    showDisplayErrorBox(request->hwnd, code);
    showStopBox(kSlowerMethod, request->hwnd);
    return fail(ICERR_UNSUPPORTED);
  }
  return ICERR_OK;
}

LRESULT drawFrame(CodecState& s, const ICDRAW*) {
  if (!s.begun || !s.fullscreenActive) return ICERR_BADHANDLE;
  return ICERR_OK;
}

LRESULT drawRealize(CodecState& s) {
  if (!s.fullscreenActive || !isPaletteMethod(s.activeMethod)) return ICERR_BADFORMAT;
  return ICERR_OK;
}

}  // namespace zov::codec

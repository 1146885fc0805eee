// Test helpers that act as a host of the codec library: they find the built library, load it
// through the compression manager as any host would, reach its exports, make stream formats and
// frames, and run a test body in a child process when it needs a freshly loaded library.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "format/stream_format.h"
#include "platform/ui.h"
#include "platform/vfw.h"
#include "zov/zovcod32.h"
#include "zov/zovcod32_dialogs.h"

namespace zov::test {

// The exports of one loaded copy of the codec library.
struct CodecExports {
  void* module = nullptr;
  decltype(&DriverProc) driverProc = nullptr;
  decltype(&ZOVGetStyle) getStyle = nullptr;
  decltype(&ZOVSetStyle) setStyle = nullptr;
  decltype(&ZOVConfigure) configure = nullptr;
  decltype(&ZOVPreConfigure) preConfigure = nullptr;
  decltype(&ZOVPostConfigure) postConfigure = nullptr;
  decltype(&ZOVGetReadOnly) getReadOnly = nullptr;
  decltype(&ZOVAbout) about = nullptr;
  decltype(&ZOVStatus) status = nullptr;
  decltype(&ZOVTestCD) testCD = nullptr;
  decltype(&ZOVTestPCI) testPCI = nullptr;
  decltype(&ZOVSetUiHost) setUiHost = nullptr;
};

// The library the manager serves "zov2" with (the build's own), loaded once for the process.
const CodecExports& codec();
std::string codecLibraryPath();
// The settings folder of this test process (ZOV_HOME, a fresh temporary folder).
std::string testHome();
std::string readSettingsFile();

// Loads the library at `path` (a private copy gets its own globals) and resolves its exports.
CodecExports loadCodec(const std::string& path);
// Copies the built library into a new temporary folder and returns the copy's path.
std::string copyCodecLibrary(const std::string& folder = {});
std::string makeTempDir();

// Runs `body` in a forked child; returns its result (0 means success), or -1 when the child
// crashed. Use CHILD_CHECK inside.
int runInChild(const std::function<int()>& body);
#define CHILD_CHECK(cond)                                                                 \
  do {                                                                                    \
    if (!(cond)) {                                                                        \
      std::fprintf(stderr, "%s:%d: child check failed: %s\n", __FILE__, __LINE__, #cond); \
      return __LINE__;                                                                    \
    }                                                                                     \
  } while (0)

// Installs a recorder and a scripted dialog host in the codec library for a scope.
class CodecUi {
 public:
  explicit CodecUi(const CodecExports& exports = codec());
  ~CodecUi();
  RecordingMessageBox boxes;
  ScriptedDialogHost dialogs;

 private:
  const CodecExports& exports_;
};

// An open codec instance, closed at the end of the scope.
class OpenCodec {
 public:
  explicit OpenCodec(DWORD handler = mmioFOURCC('z', 'o', 'v', '2'));
  ~OpenCodec();
  OpenCodec(const OpenCodec&) = delete;
  OpenCodec& operator=(const OpenCodec&) = delete;
  HIC hic() const { return hic_; }
  explicit operator bool() const { return hic_ != nullptr; }
  LRESULT send(UINT msg, DWORD_PTR a = 0, DWORD_PTR b = 0) const {
    return ICSendMessage(hic_, msg, a, b);
  }

 private:
  HIC hic_;
};

// A compressed stream's format: 16 bits, the format word of generation '1' or '2' with `flags`
// and the default scheme.
BITMAPINFOHEADER streamFormat(int width, int height, uint32_t flags = 0x0200, char generation = '2',
                              int scheme = 0);

// An output format with room for three masks after the header.
struct OutputFormat {
  BITMAPINFOHEADER header{};
  DWORD masks[3]{};
  RGBQUAD more[253]{};  // so a palette of 256 colours fits after the header
};
OutputFormat rgbOutput(int width, int height, int bitCount = 16);
OutputFormat bitfieldsOutput(int width, int height, DWORD r, DWORD g, DWORD b);

// A whole-picture key frame of one colour (V4, RGB scheme) and a non-key frame that repaints
// the rectangle [x, x+w) x [y, y+h) (picture rows from the bottom) with `colour` and leaves the
// rest unchanged (Interframe blocks).
std::vector<uint8_t> solidKeyFrame(int width, int height, uint16_t colour);
std::vector<uint8_t> patchFrame(int width, int height, int x, int y, int w, int h, uint16_t colour);

}  // namespace zov::test

namespace zov::test {
// A key frame of one colour for any size up to 640 x 480 (tiled Rle blocks of at most 255).
std::vector<uint8_t> tiledKeyFrame(int width, int height, uint16_t colour,
                                   uint32_t formatWord = kZov2Tag | stream_flag::kV4);
}  // namespace zov::test

#include "codec/support/codec_host.h"

#include <dlfcn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "support/frame_builder.h"

namespace zov::test {

namespace fs = std::filesystem;

namespace {

std::string makeDirIn(const fs::path& base) {
  std::string pattern = (base / "zov-codec-XXXXXX").string();
  char* made = mkdtemp(pattern.data());
  return made ? std::string(made) : std::string();
}

}  // namespace

namespace {

// Before anything loads the codec: where to find it, and a settings folder of our own.
struct Environment {
  std::string home;
  pid_t owner = getpid();
  Environment() {
    setenv("ZOV_CODEC_PATH", ZOV_CODEC_DIR, 1);
    home = makeDirIn(fs::temp_directory_path());
    setenv("ZOV_HOME", home.c_str(), 1);
    unsetenv("ZOV_DISPLAY_BITS");
  }
  // Everything the tests made lies below the home folder.
  ~Environment() {
    std::error_code ec;
    if (getpid() == owner) fs::remove_all(home, ec);
  }
};
Environment& environment() {
  static Environment e;
  return e;
}
const Environment& kEnvironmentReady = environment();

template <typename T>
void resolve(void* module, T& slot, const char* name) {
  slot = reinterpret_cast<T>(dlsym(module, name));
}

}  // namespace

std::string testHome() {
  return environment().home;
}

std::string makeTempDir() {
  return makeDirIn(environment().home);
}

std::string readSettingsFile() {
  std::ifstream in(fs::path(testHome()) / "zovcodec.ini");
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

CodecExports loadCodec(const std::string& path) {
  CodecExports e;
  e.module = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!e.module) {
    std::fprintf(stderr, "cannot load %s: %s\n", path.c_str(), dlerror());
    std::abort();
  }
  resolve(e.module, e.driverProc, "DriverProc");
  resolve(e.module, e.getStyle, "ZOVGetStyle");
  resolve(e.module, e.setStyle, "ZOVSetStyle");
  resolve(e.module, e.configure, "ZOVConfigure");
  resolve(e.module, e.preConfigure, "ZOVPreConfigure");
  resolve(e.module, e.postConfigure, "ZOVPostConfigure");
  resolve(e.module, e.getReadOnly, "ZOVGetReadOnly");
  resolve(e.module, e.about, "ZOVAbout");
  resolve(e.module, e.status, "ZOVStatus");
  resolve(e.module, e.testCD, "ZOVTestCD");
  resolve(e.module, e.testPCI, "ZOVTestPCI");
  resolve(e.module, e.setUiHost, "ZOVSetUiHost");
  return e;
}

std::string codecLibraryPath() {
  environment();
  return vfw::findDriverLibrary(ICTYPE_VIDEO, mmioFOURCC('z', 'o', 'v', '2'));
}

const CodecExports& codec() {
  static CodecExports e = loadCodec(codecLibraryPath());
  return e;
}

std::string copyCodecLibrary(const std::string& folder) {
  std::string dir = folder.empty() ? makeTempDir() : folder;
  fs::path to = fs::path(dir) / vfw::codecLibraryName();
  fs::copy_file(codecLibraryPath(), to, fs::copy_options::overwrite_existing);
  return to.string();
}

int runInChild(const std::function<int()>& body) {
  std::fflush(nullptr);
  pid_t pid = fork();
  if (pid == 0) {
    int result = body();
    std::fflush(nullptr);
    _exit(result & 0xFF ? result & 0xFF : (result ? 1 : 0));
  }
  int status = 0;
  waitpid(pid, &status, 0);
  if (!WIFEXITED(status)) return -1;
  return WEXITSTATUS(status);
}

CodecUi::CodecUi(const CodecExports& exports) : exports_(exports) {
  exports_.setUiHost(&boxes, &dialogs);
  // Dialog logic that runs in the test program itself (openAdvanced) asks this process's host.
  setDialogHost(&dialogs);
}
CodecUi::~CodecUi() {
  exports_.setUiHost(nullptr, nullptr);
  setDialogHost(nullptr);
}

OpenCodec::OpenCodec(DWORD handler) : hic_(nullptr) {
  codec();
  hic_ = ICOpen(ICTYPE_VIDEO, handler, ICMODE_DECOMPRESS);
}
OpenCodec::~OpenCodec() {
  if (hic_) ICClose(hic_);
}

BITMAPINFOHEADER streamFormat(int width, int height, uint32_t flags, char generation, int scheme) {
  BITMAPINFOHEADER h{};
  h.biSize = sizeof h;
  h.biWidth = width;
  h.biHeight = height;
  h.biPlanes = 1;
  h.biBitCount = 16;
  h.biCompression =
      (generation == '1' ? kZov1Tag : kZov2Tag) | flags | static_cast<uint32_t>(scheme);
  h.biSizeImage = 0;
  return h;
}

OutputFormat rgbOutput(int width, int height, int bitCount) {
  OutputFormat f;
  f.header.biSize = sizeof(BITMAPINFOHEADER);
  f.header.biWidth = width;
  f.header.biHeight = height;
  f.header.biPlanes = 1;
  f.header.biBitCount = static_cast<WORD>(bitCount);
  f.header.biCompression = BI_RGB;
  return f;
}

OutputFormat bitfieldsOutput(int width, int height, DWORD r, DWORD g, DWORD b) {
  OutputFormat f = rgbOutput(width, height, 16);
  f.header.biCompression = BI_BITFIELDS;
  f.masks[0] = r;
  f.masks[1] = g;
  f.masks[2] = b;
  return f;
}

namespace {
constexpr uint32_t kV4Format = kZov2Tag | stream_flag::kV4;
}

std::vector<uint8_t> solidKeyFrame(int width, int height, uint16_t colour) {
  FrameSpec spec;
  spec.key = true;
  spec.residuals = false;
  spec.rle.push_back(Block{0, width, height, colour});
  return buildFrame(width, height, kV4Format, spec);
}

std::vector<uint8_t> patchFrame(int width, int height, int x, int y, int w, int h,
                                uint16_t colour) {
  FrameSpec spec;
  spec.key = false;
  spec.residuals = false;
  auto at = [width](int px, int py) { return static_cast<uint32_t>(py * width + px); };
  if (y > 0) spec.interframe.push_back(Block{at(0, 0), width, y, 0});
  if (x > 0) spec.interframe.push_back(Block{at(0, y), x, h, 0});
  if (x + w < width) spec.interframe.push_back(Block{at(x + w, y), width - x - w, h, 0});
  if (y + h < height) spec.interframe.push_back(Block{at(0, y + h), width, height - y - h, 0});
  spec.rle.push_back(Block{at(x, y), w, h, colour});
  return buildFrame(width, height, kV4Format, spec);
}

}  // namespace zov::test

namespace zov::test {
std::vector<uint8_t> tiledKeyFrame(int width, int height, uint16_t colour, uint32_t formatWord) {
  FrameSpec spec;
  spec.key = true;
  spec.residuals = false;
  for (int y = 0; y < height; y += 255)
    for (int x = 0; x < width; x += 255)
      spec.rle.push_back(Block{static_cast<uint32_t>(y * width + x), std::min(255, width - x),
                               std::min(255, height - y), colour});
  return buildFrame(width, height, formatWord, spec);
}
}  // namespace zov::test

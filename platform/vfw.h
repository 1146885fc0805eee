// Video for Windows, as the codec driver and its hosts see it: the records and constants of the
// installable-compressor interface, DefDriverProc, and a small compression manager (ICOpen,
// ICSendMessage, ICDecompress, ICClose ...) that loads codec drivers with dlopen and talks to
// their DriverProc exactly as the Windows manager does.
//
// Records keep the Windows field order and meaning. Fields that hold pointers or LPARAMs have the
// native width, so on a 64-bit build several records are larger than their 32-bit originals
// (noted at each record); size checks therefore compare with sizeof, never with the 32-bit
// numbers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// ---- Basic Windows types --------------------------------------------------------------------
typedef uint8_t BYTE;
typedef uint16_t WORD;
typedef uint32_t DWORD;
typedef int32_t LONG;
typedef int BOOL;
typedef unsigned int UINT;
typedef char16_t WCHAR;
typedef uintptr_t DWORD_PTR;
typedef intptr_t LPARAM;
typedef intptr_t LRESULT;
typedef void* LPVOID;
typedef void* HWND;
typedef void* HDC;
typedef void* HPALETTE;
typedef void* HDRVR;
typedef DWORD FOURCC;

constexpr DWORD mmioFOURCC(char a, char b, char c, char d) {
  return DWORD(uint8_t(a)) | DWORD(uint8_t(b)) << 8 | DWORD(uint8_t(c)) << 16 |
         DWORD(uint8_t(d)) << 24;
}

// ---- Bitmaps ----------------------------------------------------------------------------------
// 40 bytes on every platform: no pointers inside.
struct BITMAPINFOHEADER {
  DWORD biSize;
  LONG biWidth;
  LONG biHeight;
  WORD biPlanes;
  WORD biBitCount;
  DWORD biCompression;
  DWORD biSizeImage;
  LONG biXPelsPerMeter;
  LONG biYPelsPerMeter;
  DWORD biClrUsed;
  DWORD biClrImportant;
};
static_assert(sizeof(BITMAPINFOHEADER) == 40);
typedef BITMAPINFOHEADER* LPBITMAPINFOHEADER;

struct RGBQUAD {
  BYTE rgbBlue;
  BYTE rgbGreen;
  BYTE rgbRed;
  BYTE rgbReserved;
};

struct BITMAPINFO {
  BITMAPINFOHEADER bmiHeader;
  RGBQUAD bmiColors[1];
};

// A system palette entry (red-green-blue-flags order, unlike RGBQUAD).
struct PALETTEENTRY {
  BYTE peRed;
  BYTE peGreen;
  BYTE peBlue;
  BYTE peFlags;
};

constexpr DWORD BI_RGB = 0;
constexpr DWORD BI_BITFIELDS = 3;

// ---- Installable driver messages ---------------------------------------------------------------
constexpr UINT DRV_LOAD = 0x0001;
constexpr UINT DRV_ENABLE = 0x0002;
constexpr UINT DRV_OPEN = 0x0003;
constexpr UINT DRV_CLOSE = 0x0004;
constexpr UINT DRV_DISABLE = 0x0005;
constexpr UINT DRV_FREE = 0x0006;
constexpr UINT DRV_CONFIGURE = 0x0007;
constexpr UINT DRV_QUERYCONFIGURE = 0x0008;
constexpr UINT DRV_INSTALL = 0x0009;
constexpr UINT DRV_REMOVE = 0x000A;
constexpr UINT DRV_USER = 0x4000;

constexpr LRESULT DRV_OK = 1;
constexpr LRESULT DRVCNF_RESTART = 2;

// ---- Codec messages ----------------------------------------------------------------------------
constexpr UINT ICM_USER = DRV_USER;
constexpr UINT ICM_RESERVED_LOW = DRV_USER + 0x1000;

constexpr UINT ICM_GETSTATE = ICM_RESERVED_LOW + 0;
constexpr UINT ICM_SETSTATE = ICM_RESERVED_LOW + 1;
constexpr UINT ICM_GETINFO = ICM_RESERVED_LOW + 2;
constexpr UINT ICM_CONFIGURE = ICM_RESERVED_LOW + 10;
constexpr UINT ICM_ABOUT = ICM_RESERVED_LOW + 11;
constexpr UINT ICM_GETDEFAULTQUALITY = ICM_RESERVED_LOW + 30;
constexpr UINT ICM_GETQUALITY = ICM_RESERVED_LOW + 31;
constexpr UINT ICM_SETQUALITY = ICM_RESERVED_LOW + 32;
constexpr UINT ICM_SET = ICM_RESERVED_LOW + 40;
constexpr UINT ICM_GET = ICM_RESERVED_LOW + 41;

constexpr UINT ICM_COMPRESS_GET_FORMAT = ICM_USER + 4;
constexpr UINT ICM_COMPRESS_GET_SIZE = ICM_USER + 5;
constexpr UINT ICM_COMPRESS_QUERY = ICM_USER + 6;
constexpr UINT ICM_COMPRESS_BEGIN = ICM_USER + 7;
constexpr UINT ICM_COMPRESS = ICM_USER + 8;
constexpr UINT ICM_COMPRESS_END = ICM_USER + 9;
constexpr UINT ICM_DECOMPRESS_GET_FORMAT = ICM_USER + 10;
constexpr UINT ICM_DECOMPRESS_QUERY = ICM_USER + 11;
constexpr UINT ICM_DECOMPRESS_BEGIN = ICM_USER + 12;
constexpr UINT ICM_DECOMPRESS = ICM_USER + 13;
constexpr UINT ICM_DECOMPRESS_END = ICM_USER + 14;
constexpr UINT ICM_DRAW_BEGIN = ICM_USER + 15;
constexpr UINT ICM_DRAW_GET_PALETTE = ICM_USER + 16;
constexpr UINT ICM_DRAW_UPDATE = ICM_USER + 17;
constexpr UINT ICM_DRAW_START = ICM_USER + 18;
constexpr UINT ICM_DRAW_STOP = ICM_USER + 19;
constexpr UINT ICM_DRAW_BITS = ICM_USER + 20;
constexpr UINT ICM_DRAW_END = ICM_USER + 21;
constexpr UINT ICM_DECOMPRESS_SET_PALETTE = ICM_USER + 29;
constexpr UINT ICM_DECOMPRESS_GET_PALETTE = ICM_USER + 30;
constexpr UINT ICM_DRAW_QUERY = ICM_USER + 31;
constexpr UINT ICM_DRAW_GETTIME = ICM_USER + 32;
constexpr UINT ICM_DRAW = ICM_USER + 33;
constexpr UINT ICM_DRAW_WINDOW = ICM_USER + 34;
constexpr UINT ICM_DRAW_SETTIME = ICM_USER + 35;
constexpr UINT ICM_DRAW_REALIZE = ICM_USER + 36;
constexpr UINT ICM_DRAW_FLUSH = ICM_USER + 37;
constexpr UINT ICM_DRAW_RENDERBUFFER = ICM_USER + 38;
constexpr UINT ICM_DRAW_START_PLAY = ICM_USER + 39;
constexpr UINT ICM_DRAW_STOP_PLAY = ICM_USER + 40;
constexpr UINT ICM_GETBUFFERSWANTED = ICM_USER + 41;
constexpr UINT ICM_GETDEFAULTKEYFRAMERATE = ICM_USER + 42;
constexpr UINT ICM_DRAW_SUGGESTFORMAT = ICM_USER + 50;
constexpr UINT ICM_DRAW_CHANGEPALETTE = ICM_USER + 51;
constexpr UINT ICM_DECOMPRESSEX_BEGIN = ICM_USER + 60;
constexpr UINT ICM_DECOMPRESSEX_QUERY = ICM_USER + 61;
constexpr UINT ICM_DECOMPRESSEX = ICM_USER + 62;
constexpr UINT ICM_DECOMPRESSEX_END = ICM_USER + 63;
constexpr UINT ICM_COMPRESS_FRAMES_INFO = ICM_USER + 70;
constexpr UINT ICM_COMPRESS_FRAMES = ICM_USER + 71;
constexpr UINT ICM_SET_STATUS_PROC = ICM_USER + 72;

// ---- Results ---------------------------------------------------------------------------------
constexpr LRESULT ICERR_OK = 0;
constexpr LRESULT ICERR_DONTDRAW = 1;
constexpr LRESULT ICERR_NEWPALETTE = 2;
constexpr LRESULT ICERR_UNSUPPORTED = -1;
constexpr LRESULT ICERR_BADFORMAT = -2;
constexpr LRESULT ICERR_MEMORY = -3;
constexpr LRESULT ICERR_INTERNAL = -4;
constexpr LRESULT ICERR_BADFLAGS = -5;
constexpr LRESULT ICERR_BADPARAM = -6;
constexpr LRESULT ICERR_BADSIZE = -7;
constexpr LRESULT ICERR_BADHANDLE = -8;
constexpr LRESULT ICERR_CANTUPDATE = -9;
constexpr LRESULT ICERR_ABORT = -10;
constexpr LRESULT ICERR_ERROR = -100;

// ---- Types, flags, versions ---------------------------------------------------------------------
constexpr DWORD ICTYPE_VIDEO = mmioFOURCC('v', 'i', 'd', 'c');
constexpr DWORD streamtypeVIDEO = mmioFOURCC('v', 'i', 'd', 's');
constexpr DWORD ICVERSION = 0x0104;

constexpr UINT ICMODE_COMPRESS = 1;
constexpr UINT ICMODE_DECOMPRESS = 2;
constexpr UINT ICMODE_FASTDECOMPRESS = 3;
constexpr UINT ICMODE_QUERY = 4;
constexpr UINT ICMODE_FASTCOMPRESS = 5;
constexpr UINT ICMODE_DRAW = 8;

constexpr DWORD VIDCF_QUALITY = 0x0001;
constexpr DWORD VIDCF_CRUNCH = 0x0002;
constexpr DWORD VIDCF_TEMPORAL = 0x0004;
constexpr DWORD VIDCF_COMPRESSFRAMES = 0x0008;
constexpr DWORD VIDCF_DRAW = 0x0010;
constexpr DWORD VIDCF_FASTTEMPORALC = 0x0020;
constexpr DWORD VIDCF_FASTTEMPORALD = 0x0080;

constexpr DWORD ICDECOMPRESS_HURRYUP = 0x80000000;
constexpr DWORD ICDECOMPRESS_UPDATE = 0x40000000;
constexpr DWORD ICDECOMPRESS_PREROLL = 0x20000000;
constexpr DWORD ICDECOMPRESS_NULLFRAME = 0x10000000;
constexpr DWORD ICDECOMPRESS_NOTKEYFRAME = 0x08000000;

constexpr DWORD ICDRAW_QUERY = 0x00000001;
constexpr DWORD ICDRAW_FULLSCREEN = 0x00000002;
constexpr DWORD ICDRAW_HDC = 0x00000004;
constexpr DWORD ICDRAW_ANIMATE = 0x00000008;
constexpr DWORD ICDRAW_CONTINUE = 0x00000010;
constexpr DWORD ICDRAW_MEMORYDC = 0x00000020;
constexpr DWORD ICDRAW_UPDATING = 0x00000040;
constexpr DWORD ICDRAW_RENDER = 0x00000080;
constexpr DWORD ICDRAW_BUFFER = 0x00000100;

constexpr DWORD ICDRAW_HURRYUP = 0x80000000;
constexpr DWORD ICDRAW_UPDATE = 0x40000000;
constexpr DWORD ICDRAW_PREROLL = 0x20000000;
constexpr DWORD ICDRAW_NULLFRAME = 0x10000000;
constexpr DWORD ICDRAW_NOTKEYFRAME = 0x08000000;

// ---- Records exchanged with DriverProc --------------------------------------------------------

// lParam2 of DRV_OPEN. 32-bit size 36; dwError is an LRESULT and the reserved fields are
// pointers, so 56 bytes on x86-64.
struct ICOPEN {
  DWORD dwSize;
  DWORD fccType;
  DWORD fccHandler;
  DWORD dwVersion;
  DWORD dwFlags;
  LRESULT dwError;
  LPVOID pV1Reserved;
  LPVOID pV2Reserved;
  DWORD dnDevNode;
};

// No pointers: 568 bytes everywhere. A driver may be given a shorter buffer that ends before
// szDriver (312 bytes).
struct ICINFO {
  DWORD dwSize;
  DWORD fccType;
  DWORD fccHandler;
  DWORD dwFlags;
  DWORD dwVersion;
  DWORD dwVersionICM;
  WCHAR szName[16];
  WCHAR szDescription[128];
  WCHAR szDriver[128];
};
static_assert(sizeof(ICINFO) == 568);
static_assert(offsetof(ICINFO, szDriver) == 312);

// lParam1 of ICM_DECOMPRESS. 32-bit size 24, 48 on x86-64.
struct ICDECOMPRESS {
  DWORD dwFlags;
  LPBITMAPINFOHEADER lpbiInput;
  LPVOID lpInput;
  LPBITMAPINFOHEADER lpbiOutput;
  LPVOID lpOutput;
  DWORD ckid;
};

// lParam1 of the ICM_DECOMPRESSEX messages. 32-bit size 52, 72 on x86-64.
struct ICDECOMPRESSEX {
  DWORD dwFlags;
  LPBITMAPINFOHEADER lpbiSrc;
  LPVOID lpSrc;
  LPBITMAPINFOHEADER lpbiDst;
  LPVOID lpDst;
  int xDst;
  int yDst;
  int dxDst;
  int dyDst;
  int xSrc;
  int ySrc;
  int dxSrc;
  int dySrc;
};

// lParam1 of ICM_DRAW_BEGIN. 32-bit size 64.
struct ICDRAWBEGIN {
  DWORD dwFlags;
  HPALETTE hpal;
  HWND hwnd;
  HDC hdc;
  int xDst;
  int yDst;
  int dxDst;
  int dyDst;
  LPBITMAPINFOHEADER lpbi;
  int xSrc;
  int ySrc;
  int dxSrc;
  int dySrc;
  DWORD dwRate;
  DWORD dwScale;
};

// lParam1 of ICM_DRAW. 32-bit size 20.
struct ICDRAW {
  DWORD dwFlags;
  LPVOID lpFormat;
  LPVOID lpData;
  DWORD cbData;
  LONG lTime;
};

// lParam1 of ICM_COMPRESS. 32-bit size 48.
constexpr DWORD ICCOMPRESS_KEYFRAME = 0x00000001;
constexpr DWORD AVIIF_KEYFRAME = 0x00000010;
struct ICCOMPRESS {
  DWORD dwFlags;  // ICCOMPRESS_KEYFRAME: the host wants a key frame
  LPBITMAPINFOHEADER lpbiOutput;
  LPVOID lpOutput;
  LPBITMAPINFOHEADER lpbiInput;
  LPVOID lpInput;
  DWORD* lpckid;     // receives the chunk's two-character code, may be null
  DWORD* lpdwFlags;  // receives AVIIF_KEYFRAME for a key frame, may be null
  LONG lFrameNum;
  DWORD dwFrameSize;  // the host's size target, 0 for none
  DWORD dwQuality;
  LPBITMAPINFOHEADER lpbiPrev;
  LPVOID lpPrev;
};

// lParam1 of ICM_COMPRESS_FRAMES_INFO. 32-bit size 64.
struct ICCOMPRESSFRAMES {
  DWORD dwFlags;
  LPBITMAPINFOHEADER lpbiOutput;
  LPARAM lOutput;
  LPBITMAPINFOHEADER lpbiInput;
  LPARAM lInput;
  LONG lStartFrame;
  LONG lFrameCount;
  LONG lQuality;   // 0..10000, -1 for the codec's default
  LONG lDataRate;  // bytes per second, 0 for none
  LONG lKeyRate;   // a key frame every lKeyRate frames, 0 for the codec's default
  DWORD dwRate;
  DWORD dwScale;
  DWORD dwOverheadPerFrame;
  DWORD dwReserved2;
  LONG (*GetData)(LPARAM lInput, LONG lFrame, LPVOID lpBits, LONG len);
  LONG (*PutData)(LPARAM lOutput, LONG lFrame, LPVOID lpBits, LONG len);
};

// The entry every installable driver exports under the name "DriverProc".
typedef LRESULT (*DRIVERPROC)(DWORD_PTR driverId, HDRVR driver, UINT message, LPARAM lParam1,
                              LPARAM lParam2);

// What a driver hands every message it does not handle itself.
LRESULT DefDriverProc(DWORD_PTR driverId, HDRVR driver, UINT message, LPARAM lParam1,
                      LPARAM lParam2);

// ---- Compression manager ------------------------------------------------------------------------

// An open codec instance; null when an open failed.
struct IcInstance;
typedef IcInstance* HIC;

// Opens a codec of type fccType ('vidc', or 'vids' which is taken as 'vidc') for the handler
// fccHandler (case does not matter: it is passed to the driver in lower case, as stream headers
// may carry it either way). The driver library is loaded on the first open in the process and
// receives DRV_LOAD and DRV_ENABLE then; every open sends DRV_OPEN with an ICOPEN. Returns null
// when no driver serves the handler or the driver refuses the open.
HIC ICOpen(DWORD fccType, DWORD fccHandler, UINT wMode);

// Sends DRV_CLOSE; the last close of a driver also sends DRV_DISABLE and DRV_FREE and unloads it.
// Returns ICERR_OK, or ICERR_BADHANDLE for a null handle.
LRESULT ICClose(HIC hic);

// Passes a message to the instance's DriverProc and returns its answer (ICERR_BADHANDLE for a
// null handle).
LRESULT ICSendMessage(HIC hic, UINT msg, DWORD_PTR dw1, DWORD_PTR dw2);

// The path of the library that serves an open instance (empty for a null handle).
const char* ICGetDriverPath(HIC hic);

LRESULT ICGetInfo(HIC hic, ICINFO* info, DWORD cb);

// ICM_DECOMPRESS with an ICDECOMPRESS built from the arguments.
DWORD ICDecompress(HIC hic, DWORD dwFlags, LPBITMAPINFOHEADER lpbiFormat, LPVOID lpData,
                   LPBITMAPINFOHEADER lpbi, LPVOID lpBits);

// ICM_DECOMPRESSEX with an ICDECOMPRESSEX built from the arguments.
LRESULT ICDecompressEx(HIC hic, DWORD dwFlags, LPBITMAPINFOHEADER lpbiSrc, LPVOID lpSrc, int xSrc,
                       int ySrc, int dxSrc, int dySrc, LPBITMAPINFOHEADER lpbiDst, LPVOID lpDst,
                       int xDst, int yDst, int dxDst, int dyDst);
LRESULT ICDecompressExBegin(HIC hic, DWORD dwFlags, LPBITMAPINFOHEADER lpbiSrc, LPVOID lpSrc,
                            int xSrc, int ySrc, int dxSrc, int dySrc, LPBITMAPINFOHEADER lpbiDst,
                            LPVOID lpDst, int xDst, int yDst, int dxDst, int dyDst);
LRESULT ICDecompressExQuery(HIC hic, DWORD dwFlags, LPBITMAPINFOHEADER lpbiSrc, LPVOID lpSrc,
                            int xSrc, int ySrc, int dxSrc, int dySrc, LPBITMAPINFOHEADER lpbiDst,
                            LPVOID lpDst, int xDst, int yDst, int dxDst, int dyDst);
LRESULT ICDecompressExEnd(HIC hic);

// The plain decompression messages, as the Windows macros of the same names send them.
LRESULT ICDecompressQuery(HIC hic, const BITMAPINFOHEADER* lpbiInput,
                          const BITMAPINFOHEADER* lpbiOutput);
LRESULT ICDecompressGetFormat(HIC hic, const BITMAPINFOHEADER* lpbiInput,
                              BITMAPINFOHEADER* lpbiOutput);
LRESULT ICDecompressGetFormatSize(HIC hic, const BITMAPINFOHEADER* lpbiInput);
LRESULT ICDecompressGetPalette(HIC hic, const BITMAPINFOHEADER* lpbiInput,
                               BITMAPINFOHEADER* lpbiOutput);
LRESULT ICDecompressBegin(HIC hic, const BITMAPINFOHEADER* lpbiInput,
                          const BITMAPINFOHEADER* lpbiOutput);
LRESULT ICDecompressEnd(HIC hic);

// The compression messages, as the Windows macros of the same names send them.
LRESULT ICCompressQuery(HIC hic, const BITMAPINFOHEADER* lpbiInput,
                        const BITMAPINFOHEADER* lpbiOutput);
LRESULT ICCompressGetFormat(HIC hic, const BITMAPINFOHEADER* lpbiInput,
                            BITMAPINFOHEADER* lpbiOutput);
LRESULT ICCompressGetSize(HIC hic, const BITMAPINFOHEADER* lpbiInput,
                          const BITMAPINFOHEADER* lpbiOutput);
LRESULT ICCompressBegin(HIC hic, const BITMAPINFOHEADER* lpbiInput,
                        const BITMAPINFOHEADER* lpbiOutput);
LRESULT ICCompressEnd(HIC hic);
// ICM_COMPRESS with an ICCOMPRESS built from the arguments.
DWORD ICCompress(HIC hic, DWORD dwFlags, LPBITMAPINFOHEADER lpbiOutput, LPVOID lpData,
                 LPBITMAPINFOHEADER lpbiInput, LPVOID lpBits, DWORD* lpckid, DWORD* lpdwFlags,
                 LONG lFrameNum, DWORD dwFrameSize, DWORD dwQuality, LPBITMAPINFOHEADER lpbiPrev,
                 LPVOID lpPrev);

// Registers the driver library at the path lParam (a const char*) for type and handler, as the
// installation does on Windows; with ICINSTALL_DRIVER only. A registered library takes
// precedence over the search below. ICRemove forgets it again.
constexpr UINT ICINSTALL_DRIVER = 0x0002;
BOOL ICInstall(DWORD fccType, DWORD fccHandler, LPARAM lParam, const char* szDesc, UINT wFlags);
BOOL ICRemove(DWORD fccType, DWORD fccHandler, UINT wFlags);

namespace zov::vfw {

// The directories searched for a codec library, in order: each entry of $ZOV_CODEC_PATH
// (colon-separated), the program's own directory, ../lib from it, then the install libdir.
std::vector<std::string> codecSearchDirectories();

// The codec library's runtime file name (its SONAME, "libzovcod32.so.1").
const char* codecLibraryName();

// The library that serves a handler: one registered with ICInstall, else codecLibraryName() for
// "zov1"/"zov2" (any case) from the first search directory that has it. Empty when none.
std::string findDriverLibrary(DWORD fccType, DWORD fccHandler);

}  // namespace zov::vfw

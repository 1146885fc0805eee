/* zovvfw: Video for Windows, as ZOV's codec driver and the programs that drive it see it. The
 * records and constants of the installable-compressor interface, DefDriverProc, and a small
 * compression manager (ICOpen, ICSendMessage, ICDecompress, ICClose ...) that loads codec drivers
 * with dlopen and talks to their DriverProc exactly as the Windows manager does. Usable from C99
 * and C++; the manager functions live in libzovvfw (pkg-config zovvfw).
 *
 * The codec library (libzovcod32.so.N) is found in, in order: each entry of $ZOV_CODEC_PATH
 * (colon-separated), the program's own directory, ../lib from it, the directory of libzovvfw
 * itself, then the library folder it was installed to.
 *
 * Records keep the Windows field order and meaning. Fields that hold pointers or LPARAMs have the
 * native width, so on a 64-bit build several records are larger than their 32-bit originals
 * (noted at each record); size checks therefore compare with sizeof, never with the 32-bit
 * numbers.
 */
#ifndef ZOV_ZOVVFW_H
#define ZOV_ZOVVFW_H

#include <stddef.h>
#include <stdint.h>

/* ---- Basic Windows types -------------------------------------------------------------------- */
typedef uint8_t BYTE;
typedef uint16_t WORD;
typedef uint32_t DWORD;
typedef int32_t LONG;
typedef int BOOL;
typedef unsigned int UINT;
#ifdef __cplusplus
typedef char16_t WCHAR;
#else
typedef uint16_t WCHAR; /* the same 16-bit unit as C++'s char16_t */
#endif
typedef uintptr_t DWORD_PTR;
typedef intptr_t LPARAM;
typedef intptr_t LRESULT;
typedef void* LPVOID;
typedef void* HWND;
typedef void* HDC;
typedef void* HPALETTE;
typedef void* HDRVR;
typedef DWORD FOURCC;

#define mmioFOURCC(a, b, c, d) \
  ((DWORD)(BYTE)(a) | (DWORD)(BYTE)(b) << 8 | (DWORD)(BYTE)(c) << 16 | (DWORD)(BYTE)(d) << 24)

/* ---- Bitmaps ----------------------------------------------------------------------------------
 */
/* 40 bytes on every platform: no pointers inside. */
typedef struct BITMAPINFOHEADER {
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
} BITMAPINFOHEADER;
typedef BITMAPINFOHEADER* LPBITMAPINFOHEADER;

typedef struct RGBQUAD {
  BYTE rgbBlue;
  BYTE rgbGreen;
  BYTE rgbRed;
  BYTE rgbReserved;
} RGBQUAD;

typedef struct BITMAPINFO {
  BITMAPINFOHEADER bmiHeader;
  RGBQUAD bmiColors[1];
} BITMAPINFO;

/* A system palette entry (red-green-blue-flags order, unlike RGBQUAD). */
typedef struct PALETTEENTRY {
  BYTE peRed;
  BYTE peGreen;
  BYTE peBlue;
  BYTE peFlags;
} PALETTEENTRY;

#define BI_RGB ((DWORD)(0))
#define BI_BITFIELDS ((DWORD)(3))

/* ---- Installable driver messages ---------------------------------------------------------------
 */
#define DRV_LOAD ((UINT)(0x0001))
#define DRV_ENABLE ((UINT)(0x0002))
#define DRV_OPEN ((UINT)(0x0003))
#define DRV_CLOSE ((UINT)(0x0004))
#define DRV_DISABLE ((UINT)(0x0005))
#define DRV_FREE ((UINT)(0x0006))
#define DRV_CONFIGURE ((UINT)(0x0007))
#define DRV_QUERYCONFIGURE ((UINT)(0x0008))
#define DRV_INSTALL ((UINT)(0x0009))
#define DRV_REMOVE ((UINT)(0x000A))
#define DRV_USER ((UINT)(0x4000))

#define DRV_OK ((LRESULT)(1))
#define DRVCNF_RESTART ((LRESULT)(2))

/* ---- Codec messages ----------------------------------------------------------------------------
 */
#define ICM_USER ((UINT)(DRV_USER))
#define ICM_RESERVED_LOW ((UINT)(DRV_USER + 0x1000))

#define ICM_GETSTATE ((UINT)(ICM_RESERVED_LOW + 0))
#define ICM_SETSTATE ((UINT)(ICM_RESERVED_LOW + 1))
#define ICM_GETINFO ((UINT)(ICM_RESERVED_LOW + 2))
#define ICM_CONFIGURE ((UINT)(ICM_RESERVED_LOW + 10))
#define ICM_ABOUT ((UINT)(ICM_RESERVED_LOW + 11))
#define ICM_GETDEFAULTQUALITY ((UINT)(ICM_RESERVED_LOW + 30))
#define ICM_GETQUALITY ((UINT)(ICM_RESERVED_LOW + 31))
#define ICM_SETQUALITY ((UINT)(ICM_RESERVED_LOW + 32))
#define ICM_SET ((UINT)(ICM_RESERVED_LOW + 40))
#define ICM_GET ((UINT)(ICM_RESERVED_LOW + 41))

#define ICM_COMPRESS_GET_FORMAT ((UINT)(ICM_USER + 4))
#define ICM_COMPRESS_GET_SIZE ((UINT)(ICM_USER + 5))
#define ICM_COMPRESS_QUERY ((UINT)(ICM_USER + 6))
#define ICM_COMPRESS_BEGIN ((UINT)(ICM_USER + 7))
#define ICM_COMPRESS ((UINT)(ICM_USER + 8))
#define ICM_COMPRESS_END ((UINT)(ICM_USER + 9))
#define ICM_DECOMPRESS_GET_FORMAT ((UINT)(ICM_USER + 10))
#define ICM_DECOMPRESS_QUERY ((UINT)(ICM_USER + 11))
#define ICM_DECOMPRESS_BEGIN ((UINT)(ICM_USER + 12))
#define ICM_DECOMPRESS ((UINT)(ICM_USER + 13))
#define ICM_DECOMPRESS_END ((UINT)(ICM_USER + 14))
#define ICM_DRAW_BEGIN ((UINT)(ICM_USER + 15))
#define ICM_DRAW_GET_PALETTE ((UINT)(ICM_USER + 16))
#define ICM_DRAW_UPDATE ((UINT)(ICM_USER + 17))
#define ICM_DRAW_START ((UINT)(ICM_USER + 18))
#define ICM_DRAW_STOP ((UINT)(ICM_USER + 19))
#define ICM_DRAW_BITS ((UINT)(ICM_USER + 20))
#define ICM_DRAW_END ((UINT)(ICM_USER + 21))
#define ICM_DECOMPRESS_SET_PALETTE ((UINT)(ICM_USER + 29))
#define ICM_DECOMPRESS_GET_PALETTE ((UINT)(ICM_USER + 30))
#define ICM_DRAW_QUERY ((UINT)(ICM_USER + 31))
#define ICM_DRAW_GETTIME ((UINT)(ICM_USER + 32))
#define ICM_DRAW ((UINT)(ICM_USER + 33))
#define ICM_DRAW_WINDOW ((UINT)(ICM_USER + 34))
#define ICM_DRAW_SETTIME ((UINT)(ICM_USER + 35))
#define ICM_DRAW_REALIZE ((UINT)(ICM_USER + 36))
#define ICM_DRAW_FLUSH ((UINT)(ICM_USER + 37))
#define ICM_DRAW_RENDERBUFFER ((UINT)(ICM_USER + 38))
#define ICM_DRAW_START_PLAY ((UINT)(ICM_USER + 39))
#define ICM_DRAW_STOP_PLAY ((UINT)(ICM_USER + 40))
#define ICM_GETBUFFERSWANTED ((UINT)(ICM_USER + 41))
#define ICM_GETDEFAULTKEYFRAMERATE ((UINT)(ICM_USER + 42))
#define ICM_DRAW_SUGGESTFORMAT ((UINT)(ICM_USER + 50))
#define ICM_DRAW_CHANGEPALETTE ((UINT)(ICM_USER + 51))
#define ICM_DECOMPRESSEX_BEGIN ((UINT)(ICM_USER + 60))
#define ICM_DECOMPRESSEX_QUERY ((UINT)(ICM_USER + 61))
#define ICM_DECOMPRESSEX ((UINT)(ICM_USER + 62))
#define ICM_DECOMPRESSEX_END ((UINT)(ICM_USER + 63))
#define ICM_COMPRESS_FRAMES_INFO ((UINT)(ICM_USER + 70))
#define ICM_COMPRESS_FRAMES ((UINT)(ICM_USER + 71))
#define ICM_SET_STATUS_PROC ((UINT)(ICM_USER + 72))

/* ---- Results --------------------------------------------------------------------------------- */
#define ICERR_OK ((LRESULT)(0))
#define ICERR_DONTDRAW ((LRESULT)(1))
#define ICERR_NEWPALETTE ((LRESULT)(2))
#define ICERR_UNSUPPORTED ((LRESULT)(-1))
#define ICERR_BADFORMAT ((LRESULT)(-2))
#define ICERR_MEMORY ((LRESULT)(-3))
#define ICERR_INTERNAL ((LRESULT)(-4))
#define ICERR_BADFLAGS ((LRESULT)(-5))
#define ICERR_BADPARAM ((LRESULT)(-6))
#define ICERR_BADSIZE ((LRESULT)(-7))
#define ICERR_BADHANDLE ((LRESULT)(-8))
#define ICERR_CANTUPDATE ((LRESULT)(-9))
#define ICERR_ABORT ((LRESULT)(-10))
#define ICERR_ERROR ((LRESULT)(-100))

/* ---- Types, flags, versions ---------------------------------------------------------------------
 */
#define ICTYPE_VIDEO ((DWORD)(mmioFOURCC('v', 'i', 'd', 'c')))
#define streamtypeVIDEO ((DWORD)(mmioFOURCC('v', 'i', 'd', 's')))
#define ICVERSION ((DWORD)(0x0104))

#define ICMODE_COMPRESS ((UINT)(1))
#define ICMODE_DECOMPRESS ((UINT)(2))
#define ICMODE_FASTDECOMPRESS ((UINT)(3))
#define ICMODE_QUERY ((UINT)(4))
#define ICMODE_FASTCOMPRESS ((UINT)(5))
#define ICMODE_DRAW ((UINT)(8))

#define VIDCF_QUALITY ((DWORD)(0x0001))
#define VIDCF_CRUNCH ((DWORD)(0x0002))
#define VIDCF_TEMPORAL ((DWORD)(0x0004))
#define VIDCF_COMPRESSFRAMES ((DWORD)(0x0008))
#define VIDCF_DRAW ((DWORD)(0x0010))
#define VIDCF_FASTTEMPORALC ((DWORD)(0x0020))
#define VIDCF_FASTTEMPORALD ((DWORD)(0x0080))

#define ICDECOMPRESS_HURRYUP ((DWORD)(0x80000000))
#define ICDECOMPRESS_UPDATE ((DWORD)(0x40000000))
#define ICDECOMPRESS_PREROLL ((DWORD)(0x20000000))
#define ICDECOMPRESS_NULLFRAME ((DWORD)(0x10000000))
#define ICDECOMPRESS_NOTKEYFRAME ((DWORD)(0x08000000))

#define ICDRAW_QUERY ((DWORD)(0x00000001))
#define ICDRAW_FULLSCREEN ((DWORD)(0x00000002))
#define ICDRAW_HDC ((DWORD)(0x00000004))
#define ICDRAW_ANIMATE ((DWORD)(0x00000008))
#define ICDRAW_CONTINUE ((DWORD)(0x00000010))
#define ICDRAW_MEMORYDC ((DWORD)(0x00000020))
#define ICDRAW_UPDATING ((DWORD)(0x00000040))
#define ICDRAW_RENDER ((DWORD)(0x00000080))
#define ICDRAW_BUFFER ((DWORD)(0x00000100))

#define ICDRAW_HURRYUP ((DWORD)(0x80000000))
#define ICDRAW_UPDATE ((DWORD)(0x40000000))
#define ICDRAW_PREROLL ((DWORD)(0x20000000))
#define ICDRAW_NULLFRAME ((DWORD)(0x10000000))
#define ICDRAW_NOTKEYFRAME ((DWORD)(0x08000000))

/* ---- Records exchanged with DriverProc --------------------------------------------------------
 */

/* lParam2 of DRV_OPEN. 32-bit size 36; dwError is an LRESULT and the reserved fields are */
/* pointers, so 56 bytes on x86-64. */
typedef struct ICOPEN {
  DWORD dwSize;
  DWORD fccType;
  DWORD fccHandler;
  DWORD dwVersion;
  DWORD dwFlags;
  LRESULT dwError;
  LPVOID pV1Reserved;
  LPVOID pV2Reserved;
  DWORD dnDevNode;
} ICOPEN;

/* No pointers: 568 bytes everywhere. A driver may be given a shorter buffer that ends before */
/* szDriver (312 bytes). */
typedef struct ICINFO {
  DWORD dwSize;
  DWORD fccType;
  DWORD fccHandler;
  DWORD dwFlags;
  DWORD dwVersion;
  DWORD dwVersionICM;
  WCHAR szName[16];
  WCHAR szDescription[128];
  WCHAR szDriver[128];
} ICINFO;

/* lParam1 of ICM_DECOMPRESS. 32-bit size 24, 48 on x86-64. */
typedef struct ICDECOMPRESS {
  DWORD dwFlags;
  LPBITMAPINFOHEADER lpbiInput;
  LPVOID lpInput;
  LPBITMAPINFOHEADER lpbiOutput;
  LPVOID lpOutput;
  DWORD ckid;
} ICDECOMPRESS;

/* lParam1 of the ICM_DECOMPRESSEX messages. 32-bit size 52, 72 on x86-64. */
typedef struct ICDECOMPRESSEX {
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
} ICDECOMPRESSEX;

/* lParam1 of ICM_DRAW_BEGIN. 32-bit size 64. */
typedef struct ICDRAWBEGIN {
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
} ICDRAWBEGIN;

/* lParam1 of ICM_DRAW. 32-bit size 20. */
typedef struct ICDRAW {
  DWORD dwFlags;
  LPVOID lpFormat;
  LPVOID lpData;
  DWORD cbData;
  LONG lTime;
} ICDRAW;

/* lParam1 of ICM_COMPRESS. 32-bit size 48. */
#define ICCOMPRESS_KEYFRAME ((DWORD)(0x00000001))
#define AVIIF_KEYFRAME ((DWORD)(0x00000010))
typedef struct ICCOMPRESS {
  DWORD dwFlags; /* ICCOMPRESS_KEYFRAME: the host wants a key frame */
  LPBITMAPINFOHEADER lpbiOutput;
  LPVOID lpOutput;
  LPBITMAPINFOHEADER lpbiInput;
  LPVOID lpInput;
  DWORD* lpckid;    /* receives the chunk's two-character code, may be null */
  DWORD* lpdwFlags; /* receives AVIIF_KEYFRAME for a key frame, may be null */
  LONG lFrameNum;
  DWORD dwFrameSize; /* the host's size target, 0 for none */
  DWORD dwQuality;
  LPBITMAPINFOHEADER lpbiPrev;
  LPVOID lpPrev;
} ICCOMPRESS;

/* lParam1 of ICM_COMPRESS_FRAMES_INFO. 32-bit size 64. */
typedef struct ICCOMPRESSFRAMES {
  DWORD dwFlags;
  LPBITMAPINFOHEADER lpbiOutput;
  LPARAM lOutput;
  LPBITMAPINFOHEADER lpbiInput;
  LPARAM lInput;
  LONG lStartFrame;
  LONG lFrameCount;
  LONG lQuality;  /* 0..10000, -1 for the codec's default */
  LONG lDataRate; /* bytes per second, 0 for none */
  LONG lKeyRate;  /* a key frame every lKeyRate frames, 0 for the codec's default */
  DWORD dwRate;
  DWORD dwScale;
  DWORD dwOverheadPerFrame;
  DWORD dwReserved2;
  LONG (*GetData)(LPARAM lInput, LONG lFrame, LPVOID lpBits, LONG len);
  LONG (*PutData)(LPARAM lOutput, LONG lFrame, LPVOID lpBits, LONG len);
} ICCOMPRESSFRAMES;

/* The entry every installable driver exports under the name "DriverProc". */
typedef LRESULT (*DRIVERPROC)(DWORD_PTR driverId, HDRVR driver, UINT message, LPARAM lParam1,
                              LPARAM lParam2);

#ifdef __cplusplus
extern "C" {
#endif

/* What a driver hands every message it does not handle itself. */
LRESULT DefDriverProc(DWORD_PTR driverId, HDRVR driver, UINT message, LPARAM lParam1,
                      LPARAM lParam2);

/* ---- Compression manager ------------------------------------------------------------------------
 */

/* An open codec instance; null when an open failed. */
typedef struct IcInstance* HIC;

/* Opens a codec of type fccType ('vidc', or 'vids' which is taken as 'vidc') for the handler */
/* fccHandler (case does not matter: it is passed to the driver in lower case, as stream headers */
/* may carry it either way). The driver library is loaded on the first open in the process and */
/* receives DRV_LOAD and DRV_ENABLE then; every open sends DRV_OPEN with an ICOPEN. Returns null */
/* when no driver serves the handler or the driver refuses the open. */
HIC ICOpen(DWORD fccType, DWORD fccHandler, UINT wMode);

/* Sends DRV_CLOSE; the last close of a driver also sends DRV_DISABLE and DRV_FREE and unloads it.
 */
/* Returns ICERR_OK, or ICERR_BADHANDLE for a null handle. */
LRESULT ICClose(HIC hic);

/* Passes a message to the instance's DriverProc and returns its answer (ICERR_BADHANDLE for a */
/* null handle). */
LRESULT ICSendMessage(HIC hic, UINT msg, DWORD_PTR dw1, DWORD_PTR dw2);

/* The path of the library that serves an open instance (empty for a null handle). */
const char* ICGetDriverPath(HIC hic);

LRESULT ICGetInfo(HIC hic, ICINFO* info, DWORD cb);

/* ICM_DECOMPRESS with an ICDECOMPRESS built from the arguments. */
DWORD ICDecompress(HIC hic, DWORD dwFlags, LPBITMAPINFOHEADER lpbiFormat, LPVOID lpData,
                   LPBITMAPINFOHEADER lpbi, LPVOID lpBits);

/* ICM_DECOMPRESSEX with an ICDECOMPRESSEX built from the arguments. */
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

/* The plain decompression messages, as the Windows macros of the same names send them. */
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

/* The compression messages, as the Windows macros of the same names send them. */
LRESULT ICCompressQuery(HIC hic, const BITMAPINFOHEADER* lpbiInput,
                        const BITMAPINFOHEADER* lpbiOutput);
LRESULT ICCompressGetFormat(HIC hic, const BITMAPINFOHEADER* lpbiInput,
                            BITMAPINFOHEADER* lpbiOutput);
LRESULT ICCompressGetSize(HIC hic, const BITMAPINFOHEADER* lpbiInput,
                          const BITMAPINFOHEADER* lpbiOutput);
LRESULT ICCompressBegin(HIC hic, const BITMAPINFOHEADER* lpbiInput,
                        const BITMAPINFOHEADER* lpbiOutput);
LRESULT ICCompressEnd(HIC hic);
/* ICM_COMPRESS with an ICCOMPRESS built from the arguments. */
DWORD ICCompress(HIC hic, DWORD dwFlags, LPBITMAPINFOHEADER lpbiOutput, LPVOID lpData,
                 LPBITMAPINFOHEADER lpbiInput, LPVOID lpBits, DWORD* lpckid, DWORD* lpdwFlags,
                 LONG lFrameNum, DWORD dwFrameSize, DWORD dwQuality, LPBITMAPINFOHEADER lpbiPrev,
                 LPVOID lpPrev);

/* Registers the driver library at the path lParam (a const char*) for type and handler, as the */
/* installation does on Windows; with ICINSTALL_DRIVER only. A registered library takes */
/* precedence over the search below. ICRemove forgets it again. */
#define ICINSTALL_DRIVER ((UINT)(0x0002))
BOOL ICInstall(DWORD fccType, DWORD fccHandler, LPARAM lParam, const char* szDesc, UINT wFlags);
BOOL ICRemove(DWORD fccType, DWORD fccHandler, UINT wFlags);

#ifdef __cplusplus
}
#endif

#endif

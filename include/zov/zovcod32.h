/* libzovcod32: the ZOV1/ZOV2 video codec driver and its configuration exports.
 *
 * Hosts normally reach the codec through a Video for Windows style compression manager, which
 * loads this library and calls DriverProc. Applications that adjust the codec (the player, the
 * compressor) call the ZOV* functions below directly; they act on the codec instances of the
 * calling process, so open a codec instance (ICOpen of 'vidc'/'zov2') first.
 *
 * Results of the configuration functions: ZOV_OK (0) success, ZOV_CANCELLED (1) the user
 * cancelled a dialog, ZOV_TOO_SMALL (2) the record's size field is too small,
 * ZOV_NO_INSTANCE (3) no codec instance is open in the calling process, ZOV_NO_MEMORY (4) the
 * library ran out of memory (after its once-per-process box).
 *
 * Records are packed as on the original 32-bit platform, but pointer fields have the native
 * width: the full style record is 70 bytes on a 32-bit build and 78 on a 64-bit one. The size
 * thresholds below follow the field offsets (ZOV_STYLE_*_SIZE).
 */
#ifndef ZOV_ZOVCOD32_H
#define ZOV_ZOVCOD32_H

#include <stddef.h>
#include <stdint.h>

#if defined(__GNUC__)
#define ZOVCOD32_API __attribute__((visibility("default")))
#else
#define ZOVCOD32_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

enum { ZOV_OK = 0, ZOV_CANCELLED = 1, ZOV_TOO_SMALL = 2, ZOV_NO_INSTANCE = 3, ZOV_NO_MEMORY = 4 };

/* The version that ZOVGetReadOnly reports and the compression library must match. */
#define ZOV_INTERFACE_VERSION 1035

/* Same layout as a Windows RECT. */
typedef struct ZOVRect {
  int32_t left;
  int32_t top;
  int32_t right;
  int32_t bottom;
} ZOVRect;

#pragma pack(push, 1)
/* The style record of ZOVGetStyle / ZOVSetStyle. `size` says how many bytes the caller's record
 * has; fields beyond it are neither read nor written. 32-bit sizes: 30 for the fields up to
 * destRect, then 34, 38, 42, 46, 50, 54, 62 (brightness and gamma), 66, 70. */
typedef struct ZOVStyle {
  uint32_t size;
  uint32_t windowedMethod;          /* 0..12; 13 and above are reported as 0 */
  uint32_t fullscreenMethod;        /* 0..12 */
  uint32_t minFullscreenResolution; /* 0..4: 320x200, 640x400, 640x480, 800x600, 1024x768 */
  uint8_t videoChipset;
  uint8_t videoManufacturer;
  uint32_t noCache;
  const ZOVRect* sourceRect; /* may be null */
  ZOVRect* destRect;         /* may be null; filled from the source and the windowed method */
  uint32_t unused;
  uint32_t disableAutoResizing;
  uint32_t useHardware;
  uint32_t saveVideoState;
  uint32_t interpolate;
  uint32_t disableLinearVideo;
  int32_t brightness; /* -15..15 */
  int32_t gamma;      /* -300..-101 or 100..300, a multiple of 5 */
  uint32_t forceDIB;
  uint32_t noSkipOnDrawStart;
} ZOVStyle;
#pragma pack(pop)

#define ZOV_STYLE_MIN_SIZE (offsetof(ZOVStyle, destRect) + sizeof(ZOVRect*))
#define ZOV_STYLE_FIELD_END(field) (offsetof(ZOVStyle, field) + 4)
/* Brightness and gamma come as a pair: both need the record to reach the end of gamma. */
#define ZOV_STYLE_TONE_SIZE ZOV_STYLE_FIELD_END(gamma)
#define ZOV_STYLE_FULL_SIZE sizeof(ZOVStyle)

/* The request of ZOVConfigure: size (at least sizeof(ZOVConfigureRequest); 12 on 32-bit). */
typedef struct ZOVConfigureRequest {
  uint32_t size;
  const ZOVRect* sourceRect;
  ZOVRect* destRect;
} ZOVConfigureRequest;

/* The record of ZOVGetReadOnly (size at least 20). */
typedef struct ZOVReadOnly {
  uint32_t size;
  uint32_t version;     /* ZOV_INTERFACE_VERSION */
  uint32_t singleField; /* the stream of the first instance has SField */
  uint32_t wideField;   /* ... has WField */
  uint32_t background;  /* ... uses a background picture (Chroma or Chroma1st) */
} ZOVReadOnly;

/* The installable-driver entry (see platform/vfw.h for the messages and records). */
ZOVCOD32_API intptr_t DriverProc(uintptr_t driverId, void* driver, unsigned int message,
                                 intptr_t lParam1, intptr_t lParam2);

ZOVCOD32_API uint32_t ZOVGetStyle(ZOVStyle* style);
ZOVCOD32_API uint32_t ZOVSetStyle(ZOVStyle* style);
/* Shows the configuration dialog over the active window. */
ZOVCOD32_API uint32_t ZOVConfigure(ZOVConfigureRequest* request);
/* Suspends decoding in every instance of the process while a host reconfigures; returns
 * ZOV_NO_INSTANCE when there is none. ZOVPostConfigure resumes. */
ZOVCOD32_API uint32_t ZOVPreConfigure(void);
ZOVCOD32_API void ZOVPostConfigure(void);
ZOVCOD32_API uint32_t ZOVGetReadOnly(ZOVReadOnly* record);
/* The about box and the status dialog; return the dialog's end code. */
ZOVCOD32_API intptr_t ZOVAbout(void* owner);
ZOVCOD32_API intptr_t ZOVStatus(void* owner);
/* Hardware tests of the original platform; they only report that they do not run here. */
ZOVCOD32_API intptr_t ZOVTestCD(void* owner);
ZOVCOD32_API intptr_t ZOVTestPCI(void* owner);

/* The network movie source (available when the library was built with it; otherwise
 * ZOVAccessZEV returns null). ZOVAccessZEV returns the path of the local placeholder file. */
ZOVCOD32_API const char* ZOVAccessZEV(void* owner);
ZOVCOD32_API const void* ZOVObtainAudio(uint32_t chunk, uint32_t* out);
ZOVCOD32_API void ZOVFreeZEV(void);
/* The open networked movie's name on its server (for a window title), or null when none is
 * open. Valid until ZOVFreeZEV. */
ZOVCOD32_API const char* ZOVNetworkedMovieName(void);

#ifdef __cplusplus
}
#endif

#endif /* ZOV_ZOVCOD32_H */

// The codec's per-open records: the link record that the manager hands back with every message,
// and the per-instance CodecState that heads the instance's working memory.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <memory>

#include "platform/vfw.h"

namespace zov::codec {

struct CodecState;
class StreamEngine;

// One per DRV_OPEN; its address is the driver identifier. Zero-filled at creation.
struct InstanceLinkStruct {
  InstanceLinkStruct* next;
  CodecState* state;
  // The platform's access handle for the working memory. A flat address space needs none, so
  // it stays 0; it is kept so the allocation pairs read as they do on a segmented platform.
  uint16_t stateAccess;
};

// Per-instance state. At open the working memory holds only this record; the first stream
// begin replaces it by the large working memory (this record plus the stream engine: decoder,
// pictures and output stage), copying the record so the fields keep their values.
struct CodecState {
  uint16_t selfAccess;

  DWORD handler;  // "zov1" or "zov2" as a little-endian FourCC
  pid_t ownerProcessId;
  int windowedMethod;
  int fullscreenMethod;
  int activeMethod;
  int minFullscreenResolution;

  bool suspended;
  bool fullscreenActive;
  bool extendedActive;
  bool bankSwitchedDisplay;

  bool postFilterActive;
  int displayPixelKind;  // 1 for 5-5-5, 2 for 5-6-5
  // Key of the conversion tables last built for this instance.
  bool tablesBuilt;
  int tablesPixelKind;
  int tablesMethod;

  bool rgb565Output;
  bool fullRedraw;
  bool tablesDirty;
  bool outputPending;
  bool workingMemoryReady;
  bool begun;
  bool waitForKeyFrame;
  bool restarting;
  bool largeFrames;
  uintptr_t compressorHandle;  // native width: the library may keep a pointer in it

  // Stream format word of the last examined input (the flags stay set for the instance).
  uint32_t streamFormat;
  int streamWidth;
  int streamHeight;
  uint32_t streamImageSize;
  bool awaitingBackground;
  // The decoder and output stage were set up by the running stream's begin (a begin while
  // suspended sets nothing up).
  bool streamPrepared;
  // An extended-decompression stream placed output in this process (the status dialog).
  bool placedExtendedOutput;

  // Destination geometry.
  int destWidth;
  int destHeight;
  int destBitCount;
  int destX;
  int destY;
  void* destBuffer;
  uint8_t* destStart;
  void* lastOutputBuffer;

  // Size in bytes of the working memory this record heads.
  size_t workingMemoryBytes;
  // The decoder, pictures and output stage; present once the working memory is ready.
  StreamEngine* engine;
};

// Working-memory sizes of the two layouts (pictures up to 320 x 240, and larger).
inline constexpr size_t kSmallWorkingMemory = 1276492;
inline constexpr size_t kLargeWorkingMemory = 4041292;

inline bool isZov2(const CodecState& s) {
  return s.handler == mmioFOURCC('z', 'o', 'v', '2');
}

}  // namespace zov::codec

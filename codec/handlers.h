// The message handlers that DriverProc routes to, by area.
#pragma once

#include "codec/codec_state.h"
#include "platform/vfw.h"

namespace zov::codec {

// Format negotiation and decompression.
LRESULT decompressQuery(CodecState& s, const BITMAPINFOHEADER* in, const BITMAPINFOHEADER* out);
LRESULT decompressGetFormat(CodecState& s, const BITMAPINFOHEADER* in, BITMAPINFOHEADER* out);
LRESULT decompressGetPalette(CodecState& s, const BITMAPINFOHEADER* in, BITMAPINFOHEADER* out);
LRESULT decompressBegin(InstanceLinkStruct& link, const BITMAPINFOHEADER* in,
                        const BITMAPINFOHEADER* out);
LRESULT decompressFrame(CodecState& s, const ICDECOMPRESS* request);
LRESULT decompressExQuery(CodecState& s, const ICDECOMPRESSEX* request, LPARAM size);
LRESULT decompressExBegin(InstanceLinkStruct& link, const ICDECOMPRESSEX* request, LPARAM size);
LRESULT decompressExFrame(CodecState& s, const ICDECOMPRESSEX* request);
LRESULT decompressEnd(CodecState& s);
LRESULT drawStart(CodecState& s);

// Fullscreen drawing.
LRESULT drawBegin(InstanceLinkStruct& link, const ICDRAWBEGIN* request);
LRESULT drawFrame(CodecState& s, const ICDRAW* request);
LRESULT drawRealize(CodecState& s);
// Leaves exclusive mode (the end handler, when fullscreenActive is set).
void leaveFullscreen(CodecState& s);

// Compression forwarding to the external compression library.
LRESULT forwardCompression(CodecState& s, UINT message, LPARAM lParam1, LPARAM lParam2);
void closeCompressionSession(CodecState& s);
// DRV_FREE: closes the sessions of this process's instances and unloads the library.
void unloadCompressionLibrary();

// Dialogs shared by DriverProc and the exports.
intptr_t showAboutBox(void* owner);
void hiColorCheck();

}  // namespace zov::codec

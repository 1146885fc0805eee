/* libzovdec: decoding of ZOV1/ZOV2 video for other programs.
 *
 * One ZOVDecoder decodes one video stream, frame after frame, into pictures in the caller's
 * memory. A decoder holds everything it needs; decoders share nothing but read-only colour
 * tables built once on first use, so any number of decoders may run on any threads at once.
 * One decoder must not be used by two threads at the same time.
 *
 * A stream is described by three values from its AVI stream format (the BITMAPINFOHEADER of
 * the stream): biCompression (the stream's format word, not a plain FourCC: its upper 16 bits
 * are the characters 'v','1' or 'v','2', its lower bits the default coding scheme and the
 * stream flags), biWidth and biHeight. Each AVI chunk of the stream is one frame.
 *
 * Frames are coded against the picture before them; only a key frame stands alone. After
 * ZOVDecCreate, after ZOVDecReset (seeks) and after a damaged frame, the decoder waits for a
 * key frame and answers ZOVDEC_NEED_KEY_FRAME for the frames before it.
 *
 * No function of the library aborts, prints or shows anything; failures are return codes.
 * Every function that returns int returns one of the ZOVDecStatus values.
 */
#ifndef ZOV_ZOVDEC_H
#define ZOV_ZOVDEC_H

#include <stddef.h>
#include <stdint.h>

#if defined(__GNUC__)
#define ZOVDEC_API __attribute__((visibility("default")))
#else
#define ZOVDEC_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

/** Return codes. Negative values are failures. */
typedef enum ZOVDecStatus {
  /** Success. */
  ZOVDEC_OK = 0,
  /** The frame was not decoded because the decoder waits for a key frame (after creation,
   * a reset or a damaged frame). Nothing was written to the caller's buffer. */
  ZOVDEC_NEED_KEY_FRAME = 1,
  /** A null pointer, an unknown pixel format or flag, or a stride too small for one line. */
  ZOVDEC_ERR_INVALID_ARGUMENT = -1,
  /** The stream format is not ZOV video this library decodes: a format word whose upper 16 bits
   * are not 'v','1' or 'v','2', a default scheme of 5 or more, or a size outside 1..640 x
   * 1..480. */
  ZOVDEC_ERR_UNSUPPORTED = -2,
  /** The frame is damaged (it breaks a rule of the format or ends too early). The picture keeps
   * what was decoded before the fault, and that picture was written to the caller's buffer;
   * the decoder now waits for the next key frame. */
  ZOVDEC_ERR_INVALID_DATA = -3,
  /** Memory for the decoder could not be allocated. */
  ZOVDEC_ERR_NO_MEMORY = -4
} ZOVDecStatus;

/** Pixel formats of the output. 16-bit formats are 16-bit words in the machine's byte order;
 * the other formats are named by their bytes in memory order. */
typedef enum ZOVDecPixelFormat {
  /** 16 bits: red in bits 10-14, green 5-9, blue 0-4, bit 15 zero. The decoder's own picture. */
  ZOVDEC_RGB555 = 0,
  /** 16 bits: red in bits 11-15, green 5-10, blue 0-4. The low green bit is 0 (the 5-bit
   * green moved up one bit), as the ZOV codec writes 5-6-5 pictures. */
  ZOVDEC_RGB565 = 1,
  /** 3 bytes: red, green, blue. 8-bit components are the 5-bit ones with their top bits
   * repeated below them (31 becomes 255). */
  ZOVDEC_RGB24 = 2,
  /** 3 bytes: blue, green, red. */
  ZOVDEC_BGR24 = 3,
  /** 4 bytes: blue, green, red, 255. */
  ZOVDEC_BGRX32 = 4,
  /** 4 bytes: red, green, blue, 255. */
  ZOVDEC_RGBX32 = 5
} ZOVDecPixelFormat;

/** Flag for the `flags` argument of ZOVDecDecodeFrame and ZOVDecWritePicture: the first line in
 * memory is the bottom line of the image (as in a Windows DIB). Without it the first line is the
 * top line. */
#define ZOVDEC_BOTTOM_UP 0x1u

/** An opaque decoder for one stream. */
typedef struct ZOVDecoder ZOVDecoder;

/** Creates a decoder for a stream with the given format word (biCompression), width and height
 * (biWidth, biHeight of the stream format).
 * @param decoder receives the new decoder; the caller owns it and frees it with ZOVDecDestroy.
 *        Set to NULL on failure.
 * @return ZOVDEC_OK; ZOVDEC_ERR_INVALID_ARGUMENT when `decoder` is NULL;
 *         ZOVDEC_ERR_UNSUPPORTED for a format this library does not decode;
 *         ZOVDEC_ERR_NO_MEMORY. */
ZOVDEC_API int ZOVDecCreate(uint32_t formatWord, int width, int height, ZOVDecoder** decoder);

/** Frees a decoder and everything it holds. NULL is allowed and does nothing. */
ZOVDEC_API void ZOVDecDestroy(ZOVDecoder* decoder);

/** The size of the pictures the decoder writes. Streams coded as one field (the 0x2000 flag)
 * give pictures twice as high as the stream format says; otherwise the stream's size.
 * @param width, height receive the size; either may be NULL.
 * @return ZOVDEC_OK; ZOVDEC_ERR_INVALID_ARGUMENT when `decoder` is NULL. */
ZOVDEC_API int ZOVDecGetOutputSize(const ZOVDecoder* decoder, int* width, int* height);

/** Decodes the next frame of the stream and writes the picture.
 * @param data, size the frame: one AVI chunk, read only during the call (the caller keeps
 *        ownership). A chunk of size 0 (a dropped frame) repeats the previous picture.
 *        `data` may be NULL when `size` is 0.
 * @param pixels the caller's output buffer, or NULL to decode without writing. It must hold
 *        (height - 1) * stride + width * bytes-per-pixel bytes for the size of
 *        ZOVDecGetOutputSize. Written only when the result is ZOVDEC_OK or
 *        ZOVDEC_ERR_INVALID_DATA, and then every pixel of the picture is written (letterbox
 *        margins black); bytes between the end of a line and the next stride are left alone.
 * @param stride bytes from the start of one line in memory to the next, at least
 *        width * bytes-per-pixel; ignored when `pixels` is NULL.
 * @param format one of ZOVDecPixelFormat.
 * @param flags 0 or ZOVDEC_BOTTOM_UP.
 * @return ZOVDEC_OK; ZOVDEC_NEED_KEY_FRAME (nothing decoded or written: wait for a key frame);
 *         ZOVDEC_ERR_INVALID_DATA (damaged frame; see ZOVDecStatus);
 *         ZOVDEC_ERR_INVALID_ARGUMENT (nothing decoded or written). */
ZOVDEC_API int ZOVDecDecodeFrame(ZOVDecoder* decoder, const void* data, size_t size, void* pixels,
                                 ptrdiff_t stride, int format, unsigned flags);

/** Writes the current picture again (for instance in another format) without decoding.
 * Arguments as for ZOVDecDecodeFrame; `pixels` must not be NULL.
 * @return ZOVDEC_OK; ZOVDEC_NEED_KEY_FRAME when no key frame was decoded since creation or the
 *         last reset (nothing written); ZOVDEC_ERR_INVALID_ARGUMENT. */
ZOVDEC_API int ZOVDecWritePicture(const ZOVDecoder* decoder, void* pixels, ptrdiff_t stride,
                                  int format, unsigned flags);

/** Prepares for a jump in the stream (a seek): the next frame decoded must be a key frame.
 * The background picture of streams that have one is kept.
 * @return ZOVDEC_OK; ZOVDEC_ERR_INVALID_ARGUMENT when `decoder` is NULL. */
ZOVDEC_API int ZOVDecReset(ZOVDecoder* decoder);

/** Tells whether a frame is a key frame, from its first bit, without decoding it.
 * @return 1 for a key frame, 0 for a frame that needs the picture before it,
 *         ZOVDEC_ERR_INVALID_DATA when the frame is shorter than 4 bytes,
 *         ZOVDEC_ERR_INVALID_ARGUMENT when `data` is NULL and `size` is not 0. */
ZOVDEC_API int ZOVDecIsKeyFrame(const void* data, size_t size);

/** A short English text for a return code ("invalid data", ...). Never NULL; the text is
 * static and must not be freed. */
ZOVDEC_API const char* ZOVDecStatusText(int status);

/** The library's version, "MAJOR.MINOR.PATCH". Static; never NULL. */
ZOVDEC_API const char* ZOVDecVersion(void);

#ifdef __cplusplus
}
#endif

#endif /* ZOV_ZOVDEC_H */

/* zovdec-avi-to-png: decodes the ZOV video of an AVI file into one PNG picture per frame, with
 * libzovdec and libpng.
 *
 *   zovdec-avi-to-png MOVIE.avi OUTDIR
 *
 * writes OUTDIR/000000.png, OUTDIR/000001.png, ... (OUTDIR must exist). The AVI file is read
 * chunk by chunk in file order: the stream headers give the video stream's format, and each
 * chunk of that stream in the 'movi' lists is one frame, so no index is needed.
 *
 * Build outside the ZOV tree:
 *   cc zovdec_avi_to_png.c -o zovdec-avi-to-png $(pkg-config --cflags --libs zovdec libpng)
 *
 * Exit status: 0 every frame decoded, 1 a frame was damaged (its picture is still written, as
 * far as it was decoded), 2 the file could not be read or is not ZOV video.
 */
#include <png.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "zov/zovdec.h"

#define FOURCC(a, b, c, d) \
  ((uint32_t)(a) | (uint32_t)(b) << 8 | (uint32_t)(c) << 16 | (uint32_t)(d) << 24)

static uint32_t le32(const unsigned char* p) {
  return (uint32_t)p[0] | (uint32_t)p[1] << 8 | (uint32_t)p[2] << 16 | (uint32_t)p[3] << 24;
}

/* The AVI walk: where we are and what the headers said so far. */
struct movie {
  FILE* file;
  long size;
  int streams;    /* 'strh' chunks seen */
  int video;      /* number of the video stream, -1 before its 'strh' */
  int formatSeen; /* the video stream's 'strf' was read */
  uint32_t formatWord, width, height;
};

static int writePng(const char* path, const unsigned char* rgb, int width, int height) {
  FILE* f = fopen(path, "wb");
  if (!f) return 0;
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, NULL, NULL, NULL);
  png_infop info = png ? png_create_info_struct(png) : NULL;
  if (!info || setjmp(png_jmpbuf(png))) {
    png_destroy_write_struct(&png, &info);
    fclose(f);
    return 0;
  }
  png_init_io(png, f);
  png_set_IHDR(png, info, (png_uint_32)width, (png_uint_32)height, 8, PNG_COLOR_TYPE_RGB,
               PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  png_write_info(png, info);
  for (int y = 0; y < height; ++y) png_write_row(png, rgb + (size_t)y * (size_t)width * 3);
  png_write_end(png, NULL);
  png_destroy_write_struct(&png, &info);
  return fclose(f) == 0;
}

/* The chunk id of stream n's video data: "NNdc" (compressed) or "NNdb". */
static int isVideoChunk(uint32_t id, int n) {
  const char tens = (char)('0' + n / 10), units = (char)('0' + n % 10);
  return id == FOURCC(tens, units, 'd', 'c') || id == FOURCC(tens, units, 'd', 'b');
}

int main(int argc, char** argv) {
  if (argc != 3) {
    fprintf(stderr, "usage: %s MOVIE.avi OUTDIR\n", argv[0]);
    return 2;
  }
  const char* path = argv[1];
  struct movie m = {NULL, 0, 0, -1, 0, 0, 0, 0};
  m.file = fopen(path, "rb");
  if (!m.file || fseek(m.file, 0, SEEK_END) != 0 || (m.size = ftell(m.file)) < 12) {
    fprintf(stderr, "%s: cannot read the file\n", path);
    return 2;
  }
  ZOVDecoder* decoder = NULL;
  unsigned char* frame = NULL;
  unsigned char* rgb = NULL;
  int outWidth = 0, outHeight = 0, frames = 0, status = 0;
  long pos = 0;
  while (pos + 8 <= m.size) {
    unsigned char head[12];
    if (fseek(m.file, pos, SEEK_SET) != 0 || fread(head, 1, 8, m.file) != 8) break;
    const uint32_t id = le32(head), size = le32(head + 4);
    if (id == FOURCC('R', 'I', 'F', 'F') || id == FOURCC('L', 'I', 'S', 'T')) {
      if (fread(head + 8, 1, 4, m.file) != 4) break;
      const uint32_t type = le32(head + 8);
      /* Step into the lists that hold stream headers and frames; skip the others. */
      if (type == FOURCC('A', 'V', 'I', ' ') || type == FOURCC('A', 'V', 'I', 'X') ||
          type == FOURCC('h', 'd', 'r', 'l') || type == FOURCC('s', 't', 'r', 'l') ||
          type == FOURCC('m', 'o', 'v', 'i') || type == FOURCC('r', 'e', 'c', ' ')) {
        pos += 12;
        continue;
      }
    } else if (id == FOURCC('s', 't', 'r', 'h') && size >= 4) {
      if (fread(head, 1, 4, m.file) != 4) break;
      if (m.video < 0 && le32(head) == FOURCC('v', 'i', 'd', 's')) m.video = m.streams;
      ++m.streams;
    } else if (id == FOURCC('s', 't', 'r', 'f') && m.video == m.streams - 1 && !m.formatSeen) {
      unsigned char bih[20];
      if (size < 20 || fread(bih, 1, 20, m.file) != 20) break;
      m.formatSeen = 1;
      m.width = le32(bih + 4);
      m.height = le32(bih + 8);
      m.formatWord = le32(bih + 16);
    } else if (m.formatSeen && isVideoChunk(id, m.video)) {
      if (!decoder) {
        int r = ZOVDecCreate(m.formatWord, (int)m.width, (int)m.height, &decoder);
        if (r != ZOVDEC_OK) {
          fprintf(stderr, "%s: the video stream (%ux%u, format 0x%08X): %s\n", path, m.width,
                  m.height, m.formatWord, ZOVDecStatusText(r));
          status = 2;
          break;
        }
        ZOVDecGetOutputSize(decoder, &outWidth, &outHeight);
        rgb = malloc((size_t)outWidth * (size_t)outHeight * 3);
      }
      if ((long)size > m.size - pos - 8) {
        fprintf(stderr, "%s: frame %d runs past the end of the file\n", path, frames);
        status = 2;
        break;
      }
      unsigned char* grown = size ? realloc(frame, size) : frame;
      if ((size && !grown) || !rgb) {
        fprintf(stderr, "%s: frame %d: out of memory\n", path, frames);
        status = 2;
        break;
      }
      frame = grown;
      if (size && fread(frame, 1, size, m.file) != size) break;
      int r =
          ZOVDecDecodeFrame(decoder, frame, size, rgb, (ptrdiff_t)outWidth * 3, ZOVDEC_RGB24, 0);
      if (r == ZOVDEC_NEED_KEY_FRAME) {
        fprintf(stderr, "%s: frame %d skipped: %s\n", path, frames, ZOVDecStatusText(r));
      } else if (r == ZOVDEC_OK || r == ZOVDEC_ERR_INVALID_DATA) {
        if (r != ZOVDEC_OK) {
          fprintf(stderr, "%s: frame %d: %s\n", path, frames, ZOVDecStatusText(r));
          status = 1;
        }
        char name[4096];
        snprintf(name, sizeof name, "%s/%06d.png", argv[2], frames);
        if (!writePng(name, rgb, outWidth, outHeight)) {
          fprintf(stderr, "%s: cannot write the picture\n", name);
          status = 2;
          break;
        }
      }
      ++frames;
    }
    pos += 8 + (long)size + (long)(size & 1); /* chunks are padded to even sizes */
  }
  if (!m.formatSeen && status == 0) {
    fprintf(stderr, "%s: no video stream found\n", path);
    status = 2;
  }
  if (status != 2) printf("%s: %d frames %dx%d\n", path, frames, outWidth, outHeight);
  ZOVDecDestroy(decoder);
  free(frame);
  free(rgb);
  fclose(m.file);
  return status;
}

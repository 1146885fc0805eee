/* zovvfw-avi-to-png: decodes the video of a ZOV AVI file into one PNG picture per frame through
 * the Video for Windows interface of libzovvfw, as any host of the codec does: ICOpen for the
 * stream's handler, ICM_DECOMPRESS_QUERY and ICM_DECOMPRESS_BEGIN with the codec's proposed
 * RGB format, one ICDecompress per frame, ICClose.
 *
 *   zovvfw-avi-to-png MOVIE.avi OUTDIR
 *
 * writes OUTDIR/000000.png, OUTDIR/000001.png, ... (OUTDIR must exist). The AVI file is read
 * chunk by chunk in file order: the stream headers give the video stream's handler and format,
 * and each chunk of that stream in the 'movi' lists is one frame, so no index is needed.
 *
 * The codec library is looked for in $ZOV_CODEC_PATH, beside the program, in ../lib from it and
 * beside libzovvfw.
 *
 * Build outside the ZOV tree:
 *   cc zovvfw_avi_to_png.c -o zovvfw-avi-to-png $(pkg-config --cflags --libs zovvfw libpng)
 *
 * Exit status: 0 every frame decoded, 1 the codec refused a frame (the others are still
 * written), 2 the file could not be read, is not video the codec takes, or no codec was found.
 */
#include <png.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "zov/zovvfw.h"

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
  DWORD handler;  /* the video stream's fccHandler */
  BITMAPINFOHEADER format;
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

/* The codec's 16-bit RGB DIB (5-5-5, rows padded to 32 bits, bottom-up unless the height is
 * negative) as top-down 8-bit RGB. */
static void dibToRgb(const unsigned char* dib, const BITMAPINFOHEADER* bi, unsigned char* rgb) {
  const int width = bi->biWidth, height = bi->biHeight < 0 ? -bi->biHeight : bi->biHeight;
  const size_t pitch = ((size_t)width * 2 + 3) & ~(size_t)3;
  for (int y = 0; y < height; ++y) {
    const unsigned char* row = dib + pitch * (size_t)(bi->biHeight < 0 ? y : height - 1 - y);
    for (int x = 0; x < width; ++x) {
      const unsigned v = (unsigned)row[2 * x] | (unsigned)row[2 * x + 1] << 8;
      const unsigned r = v >> 10 & 31, g = v >> 5 & 31, b = v & 31;
      unsigned char* out = rgb + ((size_t)y * (size_t)width + (size_t)x) * 3;
      out[0] = (unsigned char)(r << 3 | r >> 2);
      out[1] = (unsigned char)(g << 3 | g >> 2);
      out[2] = (unsigned char)(b << 3 | b >> 2);
    }
  }
}

/* The chunk id of stream n's video data: "NNdc" (compressed) or "NNdb". */
static int isVideoChunk(uint32_t id, int n) {
  const char tens = (char)('0' + n / 10), units = (char)('0' + n % 10);
  return id == mmioFOURCC(tens, units, 'd', 'c') || id == mmioFOURCC(tens, units, 'd', 'b');
}

/* Opens the codec for the stream and begins a decompression to its proposed RGB format. */
static HIC beginDecompression(const char* path, struct movie* m, BITMAPINFOHEADER* out) {
  HIC hic = ICOpen(ICTYPE_VIDEO, m->handler, ICMODE_DECOMPRESS);
  if (!hic) {
    fprintf(stderr, "%s: no codec opens the handler '%.4s'\n", path, (const char*)&m->handler);
    return NULL;
  }
  LRESULT r = ICDecompressQuery(hic, &m->format, NULL);
  if (r == ICERR_OK) r = ICDecompressGetFormat(hic, &m->format, out);
  if (r == ICERR_OK && out->biBitCount != 16) r = ICERR_BADFORMAT;
  if (r == ICERR_OK) r = ICDecompressQuery(hic, &m->format, out);
  if (r == ICERR_OK) r = ICDecompressBegin(hic, &m->format, out);
  if (r != ICERR_OK) {
    fprintf(stderr, "%s: the codec refuses the video stream (%dx%d, format 0x%08X): error %ld\n",
            path, (int)m->format.biWidth, (int)m->format.biHeight,
            (unsigned)m->format.biCompression, (long)r);
    ICClose(hic);
    return NULL;
  }
  return hic;
}

int main(int argc, char** argv) {
  if (argc != 3) {
    fprintf(stderr, "usage: %s MOVIE.avi OUTDIR\n", argv[0]);
    return 2;
  }
  const char* path = argv[1];
  struct movie m;
  memset(&m, 0, sizeof m);
  m.video = -1;
  m.file = fopen(path, "rb");
  if (!m.file || fseek(m.file, 0, SEEK_END) != 0 || (m.size = ftell(m.file)) < 12) {
    fprintf(stderr, "%s: cannot read the file\n", path);
    if (m.file) fclose(m.file);
    return 2;
  }
  HIC hic = NULL;
  BITMAPINFOHEADER out;
  memset(&out, 0, sizeof out);
  unsigned char* frame = NULL;
  unsigned char* dib = NULL;
  unsigned char* rgb = NULL;
  int outHeight = 0, frames = 0, status = 0;
  long pos = 0;
  while (pos + 8 <= m.size) {
    unsigned char head[12];
    if (fseek(m.file, pos, SEEK_SET) != 0 || fread(head, 1, 8, m.file) != 8) break;
    const uint32_t id = le32(head), size = le32(head + 4);
    if (id == mmioFOURCC('R', 'I', 'F', 'F') || id == mmioFOURCC('L', 'I', 'S', 'T')) {
      if (fread(head + 8, 1, 4, m.file) != 4) break;
      const uint32_t type = le32(head + 8);
      /* Step into the lists that hold stream headers and frames; skip the others. */
      if (type == mmioFOURCC('A', 'V', 'I', ' ') || type == mmioFOURCC('A', 'V', 'I', 'X') ||
          type == mmioFOURCC('h', 'd', 'r', 'l') || type == mmioFOURCC('s', 't', 'r', 'l') ||
          type == mmioFOURCC('m', 'o', 'v', 'i') || type == mmioFOURCC('r', 'e', 'c', ' ')) {
        pos += 12;
        continue;
      }
    } else if (id == mmioFOURCC('s', 't', 'r', 'h') && size >= 8) {
      if (fread(head, 1, 8, m.file) != 8) break;
      if (m.video < 0 && le32(head) == streamtypeVIDEO) {
        m.video = m.streams;
        m.handler = le32(head + 4);
      }
      ++m.streams;
    } else if (id == mmioFOURCC('s', 't', 'r', 'f') && m.video == m.streams - 1 && !m.formatSeen) {
      unsigned char bih[40];
      if (size < 40 || fread(bih, 1, 40, m.file) != 40) break;
      m.formatSeen = 1;
      m.format.biSize = le32(bih);
      m.format.biWidth = (LONG)le32(bih + 4);
      m.format.biHeight = (LONG)le32(bih + 8);
      m.format.biPlanes = (WORD)(bih[12] | bih[13] << 8);
      m.format.biBitCount = (WORD)(bih[14] | bih[15] << 8);
      m.format.biCompression = le32(bih + 16);
      m.format.biSizeImage = le32(bih + 20);
    } else if (m.formatSeen && isVideoChunk(id, m.video)) {
      if (!hic) {
        if (!(hic = beginDecompression(path, &m, &out))) {
          status = 2;
          break;
        }
        outHeight = out.biHeight < 0 ? -out.biHeight : out.biHeight;
        const size_t pitch = ((size_t)out.biWidth * 2 + 3) & ~(size_t)3;
        dib = calloc(pitch, (size_t)outHeight);
        rgb = malloc((size_t)out.biWidth * (size_t)outHeight * 3);
      }
      if ((long)size > m.size - pos - 8) {
        fprintf(stderr, "%s: frame %d runs past the end of the file\n", path, frames);
        status = 2;
        break;
      }
      unsigned char* grown = size ? realloc(frame, size) : frame;
      if ((size && !grown) || !dib || !rgb) {
        fprintf(stderr, "%s: frame %d: out of memory\n", path, frames);
        status = 2;
        break;
      }
      frame = grown;
      if (size && fread(frame, 1, size, m.file) != size) break;
      m.format.biSizeImage = size;
      const LRESULT r = (LRESULT)(int32_t)ICDecompress(hic, size ? 0 : ICDECOMPRESS_NULLFRAME,
                                                       &m.format, size ? frame : NULL, &out, dib);
      if (r != ICERR_OK) {
        fprintf(stderr, "%s: frame %d: the codec answers error %ld\n", path, frames, (long)r);
        status = 1;
      } else {
        char name[4096];
        snprintf(name, sizeof name, "%s/%06d.png", argv[2], frames);
        dibToRgb(dib, &out, rgb);
        if (!writePng(name, rgb, (int)out.biWidth, outHeight)) {
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
  if (hic) {
    ICDecompressEnd(hic);
    ICClose(hic);
  }
  if (status != 2) printf("%s: %d frames %dx%d\n", path, frames, (int)out.biWidth, outHeight);
  free(frame);
  free(dib);
  free(rgb);
  fclose(m.file);
  return status;
}

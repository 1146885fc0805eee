// The ZOV frame decoder: turns one compressed frame into the codec's 16-bit picture and the
// per-frame maps that the output stage reads. One FrameDecoder per codec instance; it owns every
// buffer it uses, sized by the stream at prepareStream (the small and large layouts of the codec
// are one implementation here). The shared colour tables come from colourTables().
//
// The decoder trusts nothing in a frame: every read is bounded by the chunk and every write by
// the picture, whatever the bytes. See decodeFrame for what happens to a malformed frame.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "format/colour_tables.h"
#include "format/cover_bits.h"
#include "format/stream_format.h"

namespace zov {

struct DecoderOptions {
  PixelKind pixelKind = PixelKind::Rgb555;
  // Output method 1 ("Single Field"): only part 1 of the residual stream is decoded, the rows of
  // part 2 keep their previous values. Also keeps the post filter off.
  bool singleField = false;
  // The codec's Interpolate setting: the post filter runs on 811 and 1611 streams (V4 only).
  bool interpolate = false;
  // The codec's NoCache setting: the Huffman look-up table is always 2^16 entries wide.
  bool noCache = false;
  // False when the output stage never skips unchanged runs (full-frame writers with a neutral
  // curve): the unchanged map is then left alone, which saves a pass per frame.
  bool maintainUnchangedMap = true;
};

enum class DecodeStatus : uint8_t {
  Ok,
  // The frame broke a rule of the format. What was decoded before the fault is kept in the
  // picture; the caller should drop frames until the next key frame.
  Damaged,
};

// Block lists in frame order.
enum class BlockList : uint8_t { Interframe = 0, Chroma = 1, Rle = 2, Entropy = 3 };
inline constexpr int kBlockListCount = 4;

// What the last decodeFrame found, for diagnostics (zovinfo frames) and tests.
struct FrameInfo {
  bool key = false;
  Scheme scheme = Scheme::Rgb;
  bool enpy = false;
  bool edge = false;
  bool lboxField = false;  // the frame carried the two letterbox fields
  int topRows = 0;         // rows excluded at the top of the image (end of the buffer)
  int bottomRows = 0;      // rows excluded at the bottom of the image (from row 0 on)
  // Entries per list, summed over segments; present[] tells which lists the frame carried.
  std::array<bool, kBlockListCount> present{};
  std::array<int, kBlockListCount> longEntries{};
  std::array<int, kBlockListCount> shortEntries{};
  int nsym = 0;
  int lookupWidth = 0;  // W as written in the frame (0 when NSYM < 2)
  bool seed = false;    // a 15-bit seed colour was read
  uint32_t n1 = 0;
  uint32_t n2 = 0;
  // Symbols the reconstruction took from each part (equal to n1 and n2 in a sound frame; under
  // the single-field method part 2 is not decoded).
  uint32_t used1 = 0;
  uint32_t used2 = 0;
  uint64_t bitsRead = 0;  // bits consumed from the chunk
  DecodeStatus status = DecodeStatus::Ok;
  const char* fault = nullptr;  // short English reason when Damaged
};

class FrameDecoder {
 public:
  FrameDecoder();
  ~FrameDecoder();
  FrameDecoder(const FrameDecoder&) = delete;
  FrameDecoder& operator=(const FrameDecoder&) = delete;

  // Sets up a stream: geometry without letterbox, default scheme, buffers. Returns false (and
  // leaves the decoder unprepared) for formats no stream may have: width outside 1..640, height
  // outside 1..480, default scheme 5 or more. The picture and background survive a prepare of
  // the same size (converted when the pixel kind changes); otherwise they start black.
  bool prepareStream(int width, int height, uint32_t formatWord, const DecoderOptions& options);
  bool prepared() const { return prepared_; }

  // Changes the options between frames (output method or settings changed): the codec's
  // buildTables. The residual step tables are compile-time constants; the shared colour tables
  // of the new pixel kind are fetched, and the picture and background converted in place.
  void setOptions(const DecoderOptions& options);
  const DecoderOptions& options() const { return options_; }

  // Decodes one frame (the frame's own data only; for the first chunk of a Chroma stream use
  // loadEmbeddedBackground first and pass the frame part it reports).
  DecodeStatus decodeFrame(const uint8_t* data, size_t size);

  // The first chunk of a Chroma stream (without Chroma1st): the frame's own part, then a
  // complete key frame whose picture is the background, then a 4-byte little-endian offset of
  // that key frame from the chunk's start. Decodes the background (full field, no post filter),
  // stores it, and returns in *framePartSize the length of the frame's own part, which the
  // caller then passes to decodeFrame. Returns false when the offset does not fit the chunk or
  // the background frame is damaged (the background is then still whatever was decoded).
  bool loadEmbeddedBackground(const uint8_t* chunk, size_t size, size_t* framePartSize);

  // Background for Chroma blocks. hasBackground() is false until one was decoded or given. For
  // Chroma1st streams decodeFrame itself keeps the first decoded picture as the background.
  bool usesBackground() const;
  bool hasBackground() const { return hasBackground_; }
  // Copies a background picture (w*h pixels of the given kind), e.g. from another instance.
  void setBackground(const uint16_t* pixels, PixelKind kind);

  int width() const { return width_; }
  int height() const { return height_; }
  uint32_t formatWord() const { return formatWord_; }

  // The decoded picture, w*h pixels, row 0 = bottom row of the image; 5-5-5 or 5-6-5 (low green
  // bit 0) by the pixel kind. Kept between frames.
  const uint16_t* picture() const { return picture_.data(); }
  // What the output stage shows: the post-filtered picture while the filter runs, else picture().
  const uint16_t* outputPicture() const;
  bool postFilterActive() const { return filterActive_; }
  const uint16_t* background() const { return background_.data(); }

  // Per-pixel maps (w*h bytes). Block map: at the first pixel of every row of a block, its width;
  // 0 elsewhere. Unchanged map: the same for Interframe blocks only, plus runs of 255 (and a last
  // shorter run) over every row of the letterbox margins. Entropy map: 1 at the first pixel of
  // every row of an Entropy block.
  const uint8_t* blockMap() const { return blockMap_.data(); }
  const uint8_t* unchangedMap() const { return unchangedMap_.data(); }
  const uint8_t* entropyMap() const { return entropyMap_.data(); }
  // False while the post filter runs or when the options do not ask for it: the caller must then
  // write the whole picture.
  bool unchangedMapMaintained() const;

  // Letterbox in force: rows excluded at the bottom of the image (from row 0) and at the top
  // (end of the buffer).
  int bottomMargin() const { return bottomRows_; }
  int topMargin() const { return topRows_; }
  int activeHeight() const { return height_ - bottomRows_ - topRows_; }
  // Raised by decodeFrame when the frame set a new letterbox or removed one; cleared by the next
  // decodeFrame or by clearLetterboxFlags().
  bool letterboxSet() const { return letterboxSet_; }
  bool letterboxRemoved() const { return letterboxRemoved_; }
  void clearLetterboxFlags() { letterboxSet_ = letterboxRemoved_ = false; }

  Scheme scheme() const { return scheme_; }
  bool enpy() const { return enpy_; }
  bool edge() const { return edge_; }
  bool lastFrameWasKey() const { return info_.key; }
  const FrameInfo& lastFrame() const { return info_; }

 private:
  struct Impl;
  struct Geometry;

  void resetStreamState();
  void clearMaps();
  void setLetterbox(int top, int bottom);
  void markMarginsUnchanged();
  void convertPixelKind(PixelKind from, PixelKind to);
  DecodeStatus fail(const char* why);
  bool readHeader();
  bool readLists();
  bool readList(BlockList list);
  bool placeBlock(BlockList list, uint32_t pos, int bw, int bh, uint16_t colour);
  bool readResiduals();
  bool reconstruct();
  void runPostFilter();

  bool prepared_ = false;
  DecoderOptions options_;
  const ColourTables* tables_ = nullptr;
  int width_ = 0, height_ = 0;
  uint32_t formatWord_ = 0;
  bool v4_ = false, sfield_ = false;
  // Letterbox and the geometry derived from it.
  int topRows_ = 0, bottomRows_ = 0;
  int codedRows_ = 0;       // rows of the active area that carry data
  uint32_t positions_ = 0;  // positions a block may start at: w * codedRows
  // ceil(2^40 / w): a position's row is (pos * rowScale_) >> 40, exact for pos < 2^20.
  uint64_t rowScale_ = 0;
  uint32_t areaA_ = 0;  // w * active height
  int posBits_ = 0, countBits_ = 0, segments_ = 0;
  // Header state.
  Scheme scheme_ = Scheme::Rgb;
  bool enpy_ = false, edge_ = false;
  bool filterActive_ = false;
  bool hasBackground_ = false;
  bool letterboxSet_ = false, letterboxRemoved_ = false;
  FrameInfo info_;

  std::vector<uint16_t> picture_, filtered_, background_;
  std::vector<uint8_t> blockMap_, unchangedMap_, entropyMap_;
  CoverBits cover_;
  // The map bytes this stream set since the maps were last cleared (the first pixel of every
  // block row, and the seed): clearing them is cheaper than clearing the active area, which is
  // done only when the letterbox changed or the unchanged or Entropy map came into or out of use.
  std::vector<uint32_t> marks_;  // room for one per pixel and the seed
  size_t markCount_ = 0;
  // Where each list's marks lie among them (the lists come in order, the seed last).
  struct MarkRange {
    size_t begin = 0, end = 0;
  };
  std::array<MarkRange, kBlockListCount> listMarks_{};
  bool clearAll_ = true;
  bool marksUnchanged_ = false, marksEntropy_ = false;  // maps maintained when last cleared
  Impl* impl_ = nullptr;  // reader, symbol buffer, code tables, stores
};

}  // namespace zov

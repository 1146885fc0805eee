// The per-run working set of the encoder: geometry, pictures, maps, rectangle lists and the
// symbol stream. Everything is allocated once by StartEncoder; EncodeFrame only reuses it.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "encoder/luma_search_kernels.h"
#include "encoder/zeroed_buffer.h"
#include "format/bit_writer.h"
#include "format/colour_tables.h"
#include "format/decoder.h"

namespace zov {

class WorkerPool;
struct ResidualScratch;

// Block map markers: what covers a pixel of the coded picture.
enum : uint8_t {
  kMapCoded = 0,
  kMapCandidate = 1,
  kMapSmoothCandidate = 2,
  kMapSmooth = 0xFB,
  kMapSolid = 0xFD,
  kMapBackground = 0xFE,
  kMapUnchanged = 0xFF,
};

// One rectangle of a block list: top-left index in coded lines (line * width + column).
struct BlockRect {
  uint32_t pos = 0;
  uint16_t width = 0;
  uint16_t height = 0;
  uint16_t colour = 0;  // solid rectangles only
};

// The lists in stream order, as indices into EncoderBuffers::lists.
enum BlockListKind { kListUnchanged = 0, kListBackground = 1, kListSolid = 2, kListSmooth = 3 };

inline constexpr int kMaxRectsPerList = 4095;
inline constexpr int kMaxArea = 255 * 255;
inline constexpr int kSegmentPositions = 8192;
// The decoder refuses frames with more symbols than three per pixel of the largest picture.
inline constexpr uint32_t kMaxSymbols = 921600;

// A pixel's entry in the rectangle search's queue: its bound (an upper bound of the largest
// area from the pixel) and whether it is queued.
struct SearchSlot {
  uint16_t bound;  // areas are at most 255 x 255
  uint16_t queued;
  bool operator==(const SearchSlot&) const = default;
};

// Pixels of one bucket of the rectangle search's queue, a cache line each.
inline constexpr int kChunkPixels = 15;
struct SearchChunk {
  int32_t pixel[kChunkPixels];
  int32_t next;  // the bucket's next chunk, or the next free one
  bool operator==(const SearchChunk&) const = default;
};

struct RectList {
  std::vector<BlockRect> rects;  // capacity kMaxRectsPerList
  // Entries per segment and size class (long, short): a segment's count field holds 255.
  std::vector<uint16_t> longCount, shortCount;
  bool overflowReported = false;
};

struct EncoderBuffers {
  // Geometry of the coded picture: width x lines, lines = height (halved in single field).
  int width = 0;
  int height = 0;  // active height of the pictures the run hands in
  int lines = 0;
  int pixels = 0;      // width * lines
  int activeArea = 0;  // width * height: segment count and symbol-count width
  int segments = 0;
  bool singleField = false;
  int type = 0;  // CompressionType
  int cellW = 1, cellH = 1;
  int minUnchanged = 0, minSolid = 0, minSmooth = 0;
  uint32_t frameNumber = 0;  // calls that produced a frame, for messages

  // Pictures of the coded area (15-bit).
  ZeroedBuffer<uint16_t> cur;         // the picture being coded; becomes the reconstruction
  ZeroedBuffer<uint16_t> prev;        // previous reconstruction
  ZeroedBuffer<uint16_t> lookahead;   // enhanced mode: the picture given in this call
  ZeroedBuffer<uint16_t> held;        // enhanced mode: the picture to code (given last call)
  ZeroedBuffer<uint16_t> background;  // chroma background
  ZeroedBuffer<uint16_t> work;        // blending copy
  bool haveBackground = false;        // a bitmap was given (or the background was captured)
  bool bitmapGiven = false;
  bool holdingPicture = false;       // enhanced mode: held contains a picture not yet coded
  ZeroedBuffer<uint32_t> lookYc;     // enhanced mode: targets of the lookahead picture
  ZeroedBuffer<uint8_t> lookKeyMap;  // enhanced mode: key map of the lookahead picture
  bool havePrevious = false;         // a frame was coded: prev is the decoder's picture

  // Luma/chroma targets of the coded picture (types 1..4).
  ZeroedBuffer<uint32_t> curYc;

  // Maps.
  ZeroedBuffer<uint8_t> blockMap;
  ZeroedBuffer<uint8_t> keyMap, keyMapCopy;        // a key map has one byte more (see intake)
  ZeroedBuffer<uint8_t> diffClasses, lookClasses;  // the unchanged test's difference classes
  ZeroedBuffer<uint8_t> runs;
  ZeroedBuffer<uint8_t> runsByColumn;  // rectangle search: the runs column by column (+ 32)
  // Rectangle search queue: the head of each bound's chunks, a slot per pixel, and the chunks
  // (enough for every pixel in full chunks and a partly filled one per bound).
  ZeroedBuffer<int32_t> bucketHead;
  ZeroedBuffer<SearchSlot> searchSlots;
  ZeroedBuffer<SearchChunk> searchChunks;
  ZeroedBuffer<int32_t> levelOrder;      // rectangle search: one level's pixels
  ZeroedBuffer<uint8_t> scratchHeights;  // rectangle search: candidate lines below each pixel
  std::vector<uint8_t> searchLine;       // rectangle search: equal neighbours of two line pairs
  // The decoder's view of the blocks: width at the first pixel of every block row, and the
  // first pixel of every Entropy row.
  ZeroedBuffer<uint8_t> coverWidth;
  ZeroedBuffer<uint8_t> entropyStart;
  // The block rows entered in those two maps (position and height; the rest of both is zero),
  // so that the next frame clears only them.
  std::vector<BlockRect> coverRows;
  std::vector<uint32_t> chromaStore;          // one per cell column, as the decoder keeps it
  std::vector<uint32_t> columnStore;          // first-column values per line
  std::unique_ptr<ResidualScratch> residual;  // the coding passes' working space
  std::vector<uint32_t> cellChroma;           // pre-quantisation: chosen chroma per cell
  // Pre-quantisation: the colours of every cell at its last vote and the chroma it chose, so
  // that a cell whose colours did not change is not voted on again.
  ZeroedBuffer<uint16_t> voteColours;
  ZeroedBuffer<uint8_t> voteLumas;  // laid out as voteColours: each best luma under voteResult
  std::vector<uint32_t> voteResult;
  std::vector<uint8_t> voteKnown;
  std::vector<uint16_t> lumaRows;        // colour table by chroma rows of 32 lumas
  std::vector<LumaRowModel> lumaModels;  // each row as a line through the colour cube
  // Best luma per (colour, chroma), direct-mapped: one cache per worker thread.
  std::vector<ZeroedBuffer<uint64_t>> lumaCaches;
  std::unique_ptr<WorkerPool> pool;  // the frame's independent tasks (one thread: the caller)
  // The next call's picture taken in while this one is coded (CompressParams::next; more than
  // one thread): the input as given and what intake made of it. The last luma cache is its own.
  ZeroedBuffer<uint16_t> aheadInput, aheadPic;
  ZeroedBuffer<uint32_t> aheadYc;
  ZeroedBuffer<uint8_t> aheadKeyMap;
  bool aheadValid = false;

  RectList lists[4];

  // Symbol stream: part 1 (first column and odd lines) and part 2 (even lines).
  ZeroedBuffer<uint8_t> sym1, sym2;
  uint32_t n1 = 0, n2 = 0;
  uint32_t symbolCounts[16] = {};

  // Huffman code.
  uint32_t code[16] = {};
  uint8_t codeLength[16] = {};
  uint8_t leafOrder[16] = {};  // symbol values in the order the tree walk meets them
  int leafCount = 0;
  int tableWidth = 0;
  ZeroedBuffer<uint32_t> codeWords;   // the codes in the frame's word alignment (packCodes)
  ZeroedBuffer<uint32_t> codeEnds;    // the last bit of every code marked, for the cost model
  ZeroedBuffer<uint64_t> codeJoined;  // the words in overlapping pairs, for the cost model
  ZeroedBuffer<uint8_t> patternSeen;  // the table-width cost model's scratch
  // Writing a list: its entries by segment (indices into the list) and where each segment's
  // entries start among them (one more than the segments).
  std::vector<uint16_t> listOrder;
  std::vector<uint32_t> segmentStart;

  BitWriter writer;

  const ColourTables* tables = nullptr;
  std::unique_ptr<FrameDecoder> verifier;  // VerifyFrames: decodes every frame written
  uint32_t formatWord = 0;
  int streamHeight = 0;  // height with the letterbox lines

  EncoderBuffers();
  ~EncoderBuffers();
};

}  // namespace zov

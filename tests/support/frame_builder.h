// Writes ZOV frames field by field, for tests of the decoder and of anything that consumes
// frames. Two levels:
//  - FrameWriter: the fields themselves (headers, lists, seed, code table, counts, codes), in the
//    order the caller calls them, so a test can also write a frame that breaks the rules;
//  - buildFrame(): a whole frame from a FrameSpec (header, four lists, symbol parts), choosing a
//    Huffman code for the symbols given.
// Geometry (P, Q, segments) follows the stream format and the letterbox the writer is told.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "format/bit_writer.h"
#include "format/stream_format.h"

namespace zov::test {

// A block: position in coded-row raster order relative to the active area, width and height
// (1..255), and for Rle blocks the 15-bit colour.
struct Block {
  uint32_t pos = 0;
  int width = 1;
  int height = 1;
  uint16_t colour = 0;
};

// One leaf of a code: its bits (most significant first) and its symbol value.
struct Code {
  uint32_t bits = 0;
  int length = 0;
  uint8_t symbol = 0;
};

// Builds a complete prefix code for the symbols that occur in `symbols` (Huffman lengths), the
// leaves in the order of the tree walk (1-branch first). One distinct symbol gives one leaf of
// length 0.
std::vector<Code> codeFor(const std::vector<uint8_t>& symbols);
// Leaves for given code lengths (a complete code), in walk order, symbols assigned in order.
std::vector<Code> codeFromLengths(const std::vector<int>& lengths,
                                  const std::vector<uint8_t>& symbolValues);

class FrameWriter {
 public:
  FrameWriter(int width, int height, uint32_t formatWord);

  // The letterbox the decoder will have in force when it reads the lists (sets P, Q, segments).
  void setLetterbox(int top, int bottom);
  int positionBits() const { return posBits_; }
  int countBits() const { return countBits_; }
  int segments() const { return segments_; }

  void keyHeaderV4(Scheme scheme, bool enpy, bool edge, bool lbox = false, int top = 0,
                   int bottom = 0, bool flat = false);
  void interHeaderV4() { w_.write(0, 1); }
  void headerPreV4(bool key, int top = 0, int bottom = 0);  // letterbox fields if stream LBOX

  // A list in the stream's layout; blocks with width and height up to 16 become short entries
  // unless forceLong. Blocks must be in segment order for V4 (they are sorted here).
  void list(std::vector<Block> blocks, bool rle, bool forceLong = false);

  void nsym(int n) { w_.write(uint32_t(n), 4); }
  void seed(uint16_t rgb555) { w_.write(rgb555, 15); }
  // NSYM = 1: the single symbol value.
  void singleSymbol(uint8_t value) { w_.write(value, 4); }
  // NSYM >= 2: W, the symbol values in leaf order, the tree shape.
  void codeTable(const std::vector<Code>& leaves, int lookupWidth);
  void counts(uint32_t n1, uint32_t n2);
  void codes(const std::vector<Code>& leaves, const std::vector<uint8_t>& symbols);
  // At least `bits` zero bits, then up to the word boundary.
  std::vector<uint8_t> finish(int paddingBits = 16);

  BitWriter& bits() { return w_; }

 private:
  int width_, height_;
  uint32_t format_;
  int posBits_ = 0, countBits_ = 0, segments_ = 0;
  BitWriter w_;
};

struct FrameSpec {
  bool key = true;
  // V4 key-frame header fields (pre-V4 streams take the scheme from the format word).
  Scheme scheme = Scheme::Rgb;
  bool enpy = false;
  bool edge = false;
  bool lbox = false;
  int top = 0, bottom = 0;  // letterbox fields when written
  std::vector<Block> interframe, chroma, rle, entropy;
  bool residuals = true;         // false: NSYM 0
  std::optional<uint16_t> seed;  // written when set (the caller knows whether pixel 0 is free)
  std::vector<uint8_t> part1, part2;
  int lookupWidth = 0;           // W when wider than the longest code
  std::vector<int> codeLengths;  // optional explicit code (with codeSymbols)
  std::vector<uint8_t> codeSymbols;
};

// The letterbox the decoder has in force when the frame's lists are read: pass the margins of the
// previous frame for non-key V4 frames.
std::vector<uint8_t> buildFrame(int width, int height, uint32_t formatWord, const FrameSpec& spec,
                                int prevTop = 0, int prevBottom = 0);

}  // namespace zov::test

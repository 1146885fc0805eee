#include "encoder/frame_writer.h"

#include "encoder/huffman_code.h"
#include "encoder/rectangle_search.h"

namespace zov {
namespace {

// One entry: position in the segment, width and height, written as one field (and the colour).
inline void writeEntry(BitWriter& out, const BlockRect& r, uint32_t lo, bool isLong,
                       bool withColour) {
  if (isLong)
    out.write((r.pos - lo) << 16 | uint32_t(r.width - 1) << 8 | uint32_t(r.height - 1), 29);
  else
    out.write((r.pos - lo) << 8 | uint32_t(r.width - 1) << 4 | uint32_t(r.height - 1), 21);
  if (withColour) out.write(r.colour, 15);
}

// The entries [from, to) of one segment: the counts, then the long entries, then the short
// ones, each in list order.
void writeSegment(BitWriter& out, const BlockRect* from, const BlockRect* to, uint32_t lo,
                  bool withColour) {
  int longs = 0;
  for (const BlockRect* r = from; r != to; ++r) longs += isLongEntry(*r);
  const int shorts = int(to - from) - longs;
  out.write(uint32_t(longs & 255) << 8 | uint32_t(shorts & 255), 16);
  if (longs)
    for (const BlockRect* r = from; r != to; ++r)
      if (isLongEntry(*r)) writeEntry(out, *r, lo, true, withColour);
  if (shorts)
    for (const BlockRect* r = from; r != to; ++r)
      if (!isLongEntry(*r)) writeEntry(out, *r, lo, false, withColour);
}

void writeList(EncoderBuffers& b, const RectList& list, bool withColour) {
  BitWriter& out = b.writer;
  const BlockRect* const begin = list.rects.data();
  const BlockRect* const end = begin + list.rects.size();
  // The searches list their rectangles in scan order, so each segment's entries are one
  // stretch of the list; any other order takes the entries segment by segment.
  bool ordered = true;
  for (const BlockRect* r = begin; r + 1 < end && ordered; ++r) ordered = r[0].pos <= r[1].pos;
  if (ordered) {
    const BlockRect* r = begin;
    for (int seg = 0; seg < b.segments; ++seg) {
      const uint32_t lo = uint32_t(seg) * kSegmentPositions, hi = lo + kSegmentPositions;
      while (r != end && r->pos < lo) ++r;
      const BlockRect* const from = r;
      while (r != end && r->pos < hi) ++r;
      writeSegment(out, from, r, lo, withColour);
    }
    return;
  }
  for (int seg = 0; seg < b.segments; ++seg) {
    uint32_t lo = uint32_t(seg) * kSegmentPositions, hi = lo + kSegmentPositions;
    int longs = 0, shorts = 0;
    for (const BlockRect& r : list.rects) {
      if (r.pos < lo || r.pos >= hi) continue;
      if (isLongEntry(r))
        ++longs;
      else
        ++shorts;
    }
    out.write(uint32_t(longs & 255) << 8 | uint32_t(shorts & 255), 16);
    for (int pass = 0; pass < 2; ++pass) {
      bool wantLong = pass == 0;
      for (const BlockRect& r : list.rects)
        if (r.pos >= lo && r.pos < hi && isLongEntry(r) == wantLong)
          writeEntry(out, r, lo, wantLong, withColour);
    }
  }
}

}  // namespace

size_t writeFrame(EncoderBuffers& b, const FrameHeader& h, bool seed) {
  BitWriter& out = b.writer;
  out.reset();
  out.writeBit(h.key);
  if (h.key) {
    out.write(uint32_t(h.scheme), 3);
    out.writeBit(h.enpy);
    out.writeBit(h.edge);
    out.writeBit(false);  // FLAT
    out.writeBit(h.letterbox);
    if (h.letterbox) {
      out.write(uint32_t(h.topLines), 8);
      out.write(uint32_t(h.bottomLines), 8);
    }
  }
  if (h.unchangedList) writeList(b, b.lists[kListUnchanged], false);
  if (h.backgroundList) writeList(b, b.lists[kListBackground], false);
  writeList(b, b.lists[kListSolid], true);
  if (h.smoothList) writeList(b, b.lists[kListSmooth], false);

  int nsym = 0;
  for (int s = 0; s < 16; ++s) nsym += b.symbolCounts[s] != 0;
  const int countBits = b.activeArea > 76800 ? 19 : 18;
  if (nsym == 0 && !seed) {
    out.write(0, 4);
  } else if (nsym <= 1) {
    // A lone uncovered first pixel still needs the symbol section for its seed: it then
    // carries one symbol value and no symbols.
    int only = 7;
    for (int s = 0; s < 16; ++s)
      if (b.symbolCounts[s]) only = s;
    out.write(1, 4);
    if (seed) out.write(b.cur[0], 15);
    out.write(uint32_t(only), 4);
    out.write(b.n1, countBits);
    out.write(b.n2, countBits);
  } else {
    HuffmanCode code;
    buildHuffmanCode(b.symbolCounts, code);
    out.write(uint32_t(nsym), 4);
    if (seed) out.write(b.cur[0], 15);
    // The codes packed first, in the frame's word alignment, for the table-width model.
    const uint64_t startBit = out.bitCount() + 4 + 4 * uint64_t(nsym) + uint64_t(code.shapeLength) +
                              2 * uint64_t(countBits);
    const unsigned first = unsigned(startBit % 32);
    const uint64_t end = packCodes(code, b.sym1.data(), b.n1, b.sym2.data(), b.n2, first,
                                   b.codeWords.data(), b.codeEnds.data());
    int width = chooseTableWidth(code, b.codeWords.data(), b.codeEnds.data(), first, end,
                                 b.patternSeen.data(), b.pool.get());
    b.tableWidth = width;
    out.write(uint32_t(width), 4);
    for (int k = 0; k < code.leafCount; ++k) out.write(code.leafOrder[k], 4);
    out.write(code.shapeBits, code.shapeLength);
    out.write(b.n1, countBits);
    out.write(b.n2, countBits);
    out.appendAligned(b.codeWords.data(), end);
    out.writeZeros(size_t(width));
  }
  size_t bytes = out.finishWord();
  out.write(0, 32);
  return bytes + 4;
}

}  // namespace zov

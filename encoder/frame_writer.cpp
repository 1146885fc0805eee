#include "encoder/frame_writer.h"

#include <algorithm>

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

void writeList(EncoderBuffers& b, const RectList& list, bool withColour) {
  BitWriter& out = b.writer;
  const BlockRect* const rects = list.rects.data();
  const size_t count = list.rects.size();
  const uint32_t segments = uint32_t(b.segments);
  // The entries by segment, each segment's in list order (a counting sort).
  uint32_t* const start = b.segmentStart.data();
  uint16_t* const order = b.listOrder.data();
  std::fill(start, start + segments + 1, 0u);
  for (size_t i = 0; i < count; ++i) {
    const uint32_t seg = rects[i].pos / kSegmentPositions;
    if (seg < segments) ++start[seg + 1];
  }
  for (uint32_t seg = 0; seg < segments; ++seg) start[seg + 1] += start[seg];
  for (size_t i = 0; i < count; ++i) {
    const uint32_t seg = rects[i].pos / kSegmentPositions;
    if (seg < segments) order[start[seg]++] = uint16_t(i);
  }
  // start[seg] is now where segment seg + 1 starts.
  uint32_t from = 0;
  for (uint32_t seg = 0; seg < segments; ++seg) {
    const uint32_t to = start[seg], lo = seg * kSegmentPositions;
    int longs = 0;
    for (uint32_t k = from; k < to; ++k) longs += isLongEntry(rects[order[k]]);
    const int shorts = int(to - from) - longs;
    out.write(uint32_t(longs & 255) << 8 | uint32_t(shorts & 255), 16);
    if (longs)
      for (uint32_t k = from; k < to; ++k)
        if (isLongEntry(rects[order[k]])) writeEntry(out, rects[order[k]], lo, true, withColour);
    if (shorts)
      for (uint32_t k = from; k < to; ++k)
        if (!isLongEntry(rects[order[k]])) writeEntry(out, rects[order[k]], lo, false, withColour);
    from = to;
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
    // The code ends only for a cost model that walks them.
    uint32_t* const ends = tableWidthKernels().needsEnds ? b.codeEnds.data() : nullptr;
    uint64_t middle = 0;
    const uint64_t end = packCodes(code, b.sym1.data(), b.n1, b.sym2.data(), b.n2, first,
                                   b.codeWords.data(), ends, &middle);
    int width = chooseTableWidth(code, b.codeWords.data(), ends, first, end, b.codeJoined.data(),
                                 b.patternSeen.data(), b.pool.get(), middle);
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

// The coding passes mirror the frame decoder's walk step for step (format/decoder_schemes.cpp),
// so that the reconstruction is the decoder's picture by construction:
//  * every row walk starts at column 1 from the first-column value; a block that starts at
//    column 0 covers the row walk too, which resumes after it from its last pixel;
//  * covered runs chain through the block widths and stop at an Entropy run;
//  * rows of 411/811 go in pairs (carrying odd row from part 1, sharing even row from part 2),
//    rows of 1611 in blocks of four (3, 2, 1, 0 from parts 1, 2, 1, 2), leftover rows last from
//    the highest down as sharing rows; in single field every row comes from part 1;
//  * the chroma store starts neutral in every frame; a covered run in a carrying row stores
//    its colour difference unless every sharing row skips the same columns;
//  * Entropy runs: odd lines code even columns, even lines odd columns (in single field every
//    line counts as odd); a coded pixel is full in 422 rows, by its column in carrying rows,
//    the Y step from normal state with the stored colour difference in sharing rows (in the
//    first group, columns 1 .. g-1, that of the row's first-column value, as outside runs);
//  * an interpolated pixel that ends its run before an uncovered pixel sends nothing: the
//    uncovered pixel is coded first, by its ordinary rule from the run's running value, and
//    is the interpolated pixel's right neighbour; only at the end of the line is the last
//    interpolated pixel coded instead.
#include "encoder/residual_coder.h"

#include <algorithm>
#include <cstring>

#include "encoder/delta_quantiser.h"

namespace zov {
namespace {

// Symbol output of one coding pass. Counts symbols and keeps the frame within the decoder's
// limit: the extended-range code may spend up to three symbols per component, so it is only
// used while the pixels still to come can be coded with one symbol per component.
struct Coder {
  EncoderBuffers& b;
  bool edge;
  uint8_t* out = nullptr;
  uint32_t* count = nullptr;
  uint32_t total = 0;
  int64_t remaining = 0;  // pixels not yet walked (an upper bound of those still to code)

  Coder(EncoderBuffers& buffers, bool enhancedEdges) : b(buffers), edge(enhancedEdges) {
    remaining = b.pixels;
  }
  void part(int p) {
    out = p == 1 ? b.sym1.data() : b.sym2.data();
    count = p == 1 ? &b.n1 : &b.n2;
  }
  void put(uint8_t s) {
    out[(*count)++] = s;
    ++b.symbolCounts[s];
    ++total;
  }
  bool extendedAllowed() const {
    return int64_t(total) + 9 + 3 * (remaining - 1) <= int64_t(kMaxSymbols);
  }
  int component(int target, int pred, bool& doubled, bool extended) {
    return edge ? quantiseExtended(target, pred, extended, *this)
                : quantiseDoubling(target, pred, false, 0, doubled, *this);
  }
};

// ---- RGB ----

struct RgbWalk {
  uint16_t v = 0;
  bool flag[3] = {};
  void take(uint16_t pixel) {
    v = pixel;
    flag[0] = flag[1] = flag[2] = false;
  }
};

inline void codeRgbPixel(Coder& c, RgbWalk& w, uint16_t& px) {
  bool ext = c.edge && c.extendedAllowed();
  int r = c.component(px >> 10 & 31, w.v >> 10 & 31, w.flag[0], ext);
  int g = c.component(px >> 5 & 31, w.v >> 5 & 31, w.flag[1], ext);
  int bl = c.component(px & 31, w.v & 31, w.flag[2], ext);
  w.v = static_cast<uint16_t>(r << 10 | g << 5 | bl);
  px = w.v;
  --c.remaining;
}

void codeRgbRow(Coder& c, int line) {
  EncoderBuffers& b = c.b;
  const int w = b.width;
  uint16_t* p = b.cur.data() + size_t(line) * w;
  const uint8_t* cover = b.coverWidth.data() + size_t(line) * w;
  RgbWalk walk;
  walk.take(p[0]);
  // The row walk starts after the first column, or at a block that starts there.
  int x = cover[0] > 1 ? 0 : 1;
  c.remaining -= x;
  while (x < w) {
    if (cover[x]) {
      int start = x;
      while (x < w && cover[x]) x += cover[x];
      x = std::min(x, w);
      c.remaining -= x - start;
      walk.take(p[x - 1]);
      continue;
    }
    codeRgbPixel(c, walk, p[x]);
    ++x;
  }
}

void codeRgb(Coder& c) {
  EncoderBuffers& b = c.b;
  const int w = b.width;
  c.part(1);
  // First column, bottom line up; pixel 0 is always covered (a block or the seed).
  RgbWalk walk;
  walk.take(b.cur[0]);
  for (int line = 1; line < b.lines; ++line) {
    size_t i = size_t(line) * w;
    if (b.coverWidth[i]) {
      walk.take(b.cur[i]);
      continue;
    }
    codeRgbPixel(c, walk, b.cur[i]);
    ++c.remaining;  // the row walk counts the first column again
  }
  if (b.singleField) {
    for (int line = 0; line < b.lines; ++line) codeRgbRow(c, line);
    return;
  }
  for (int line = 1; line < b.lines; line += 2) codeRgbRow(c, line);
  c.part(2);
  for (int line = 0; line < b.lines; line += 2) codeRgbRow(c, line);
}

// ---- Luminance schemes ----

constexpr uint32_t kChromaMask = 0xFFF;

struct YcWalk {
  uint32_t v = 0;
  bool fy = false, fcr = false, fcb = false;
  void take(uint32_t value) {
    v = value;
    fy = fcr = fcb = false;
  }
};

enum class RowRole { Every, Carrying, Sharing };

struct LumaCoder {
  Coder& c;
  EncoderBuffers& b;
  const ColourTables& t;
  int g;  // columns per colour-difference group

  void full(YcWalk& w, size_t i) {
    bool ext = c.edge && c.extendedAllowed();
    uint32_t target = b.curYc[i];
    int y = c.component(int(target >> 12), int(w.v >> 12), w.fy, ext);
    int cr = c.component(int(target >> 6 & 63), int(w.v >> 6 & 63), w.fcr, ext);
    int cb = c.component(int(target & 63), int(w.v & 63), w.fcb, ext);
    w.v = uint32_t(y) << 12 | uint32_t(cr) << 6 | uint32_t(cb);
    put(w, i);
  }
  void luma(YcWalk& w, size_t i) {
    bool ext = c.edge && c.extendedAllowed();
    int y = c.component(int(b.curYc[i] >> 12), int(w.v >> 12), w.fy, ext);
    w.v = (w.v & kChromaMask) | uint32_t(y) << 12;
    put(w, i);
  }
  void put(YcWalk& w, size_t i) {
    b.curYc[i] = w.v;
    b.cur[i] = t.ycToRgb[w.v];
    --c.remaining;
  }
  uint32_t yc(size_t i) const { return t.rgbToYc[b.cur[i]]; }

  // A covered run in a carrying row stores, for every group start inside it, the covered
  // pixel's colour difference, unless every sharing row skips the same columns anyway.
  void storeCovered(int line, int col, int wd, int sharingRows) {
    const int w = b.width;
    bool skipped = sharingRows > 0;
    for (int k = 1; k <= sharingRows && skipped; ++k) {
      size_t j = size_t(line - k) * w + col;
      if (line - k < 0 || b.coverWidth[j] < wd || b.entropyStart[j]) skipped = false;
    }
    if (skipped) return;
    int first = std::max(g, (col + g - 1) / g * g);
    for (int gs = first; gs < col + wd && gs < w; gs += g)
      b.chromaStore[gs / g] = yc(size_t(line) * w + gs) & kChromaMask;
  }

  // An uncovered pixel outside Entropy runs: full at a group start in rows with colour
  // difference (stored in carrying rows), else the Y step, at a group start of a sharing row
  // with the group's stored colour difference.
  void ordinary(int x, size_t i, RowRole role, YcWalk& walk) {
    bool groupStart = x % g == 0;
    switch (role) {
      case RowRole::Every:
        if (groupStart)
          full(walk, i);
        else
          luma(walk, i);
        break;
      case RowRole::Carrying:
        if (groupStart) {
          full(walk, i);
          b.chromaStore[x / g] = walk.v & kChromaMask;
        } else {
          luma(walk, i);
        }
        break;
      case RowRole::Sharing:
        if (groupStart) walk.v = (walk.v & ~kChromaMask) | b.chromaStore[x / g];
        luma(walk, i);
        break;
    }
  }

  // A coded pixel of an Entropy run: full in rows with their own colour difference; by its
  // column in carrying rows; the Y step alone, from normal state, in sharing rows.
  void entropyCoded(int x, size_t i, RowRole role, YcWalk& walk) {
    switch (role) {
      case RowRole::Every:
        full(walk, i);
        break;
      case RowRole::Carrying:  // as outside the run
        ordinary(x, i, role, walk);
        break;
      case RowRole::Sharing:
        walk.v = (walk.v & ~kChromaMask) | b.chromaStore[x / g];
        walk.fy = false;
        luma(walk, i);
        break;
    }
  }

  // An interpolated pixel: halfway (rounded down) between its left value and the right Y.
  void entropyInterpolated(int x, size_t i, RowRole role, uint32_t left, int yRight) {
    int yLeft = int(left >> 12);
    int y = yLeft + ((yRight - yLeft) >> 1);
    uint32_t chroma = role == RowRole::Sharing ? b.chromaStore[x / g] : (left & kChromaMask);
    uint32_t v = uint32_t(y) << 12 | chroma;
    b.curYc[i] = v;
    b.cur[i] = t.ycToRgb[v];
    --c.remaining;
  }

  // The Entropy run at x (and any Entropy run directly continuing it), in the chess-board
  // pattern: odd lines code even columns, even lines odd columns (every line is odd in single
  // field); returns the column after it.
  int entropyRun(int line, int x, RowRole role, YcWalk& walk) {
    const int w = b.width;
    const size_t base = size_t(line) * w;
    const uint8_t* cover = b.coverWidth.data() + base;
    const uint8_t* entropy = b.entropyStart.data() + base;
    const bool oddLine = b.singleField || (line & 1) != 0;
    int end = x + cover[x];
    while (x < end) {
      if (((x & 1) == 0) == oddLine) {
        entropyCoded(x, base + x, role, walk);
        ++x;
        continue;
      }
      const uint32_t left = walk.v;
      const int xr = x + 1;
      if (xr < end || (xr < w && cover[xr] && entropy[xr])) {
        if (xr == end) end = xr + cover[xr];
        entropyCoded(xr, base + xr, role, walk);
        entropyInterpolated(x, base + x, role, left, int(walk.v >> 12));
        x += 2;
      } else if (xr < w && cover[xr]) {
        entropyInterpolated(x, base + x, role, left, int(yc(base + xr) >> 12));
        ++x;
      } else if (xr < w) {
        ordinary(xr, base + xr, role, walk);
        entropyInterpolated(x, base + x, role, left, int(walk.v >> 12));
        x += 2;
      } else {
        entropyCoded(x, base + x, role, walk);
        ++x;
      }
    }
    return x;
  }

  void row(int line, RowRole role, int sharingRows) {
    const int w = b.width;
    const size_t base = size_t(line) * w;
    const uint8_t* cover = b.coverWidth.data() + base;
    YcWalk walk;
    walk.take(b.columnStore[line]);
    int x = cover[0] > 1 ? 0 : 1;
    c.remaining -= x;
    if (role == RowRole::Sharing) b.chromaStore[0] = walk.v & kChromaMask;
    const uint8_t* entropy = b.entropyStart.data() + base;
    while (x < w) {
      if (cover[x] && entropy[x]) {
        x = entropyRun(line, x, role, walk);
        continue;
      }
      if (cover[x]) {
        int start = x;
        do {
          if (role == RowRole::Carrying) storeCovered(line, x, cover[x], sharingRows);
          x += cover[x];
        } while (x < w && cover[x] && !entropy[x]);
        x = std::min(x, w);
        c.remaining -= x - start;
        walk.take(yc(base + x - 1));
        continue;
      }
      ordinary(x, base + x, role, walk);
      ++x;
    }
  }
};

void codeLuma(Coder& c) {
  EncoderBuffers& b = c.b;
  const ColourTables& t = *b.tables;
  const int w = b.width, h = b.lines;
  const int type = b.type;
  LumaCoder lc{c, b, t, type >= 3 ? 4 : 2};
  auto carrying = [&](int line) {
    switch (type) {
      case 1:
        return true;
      case 2:
      case 3:
        return ((h - line) & 1) != 0;
      default:
        return (h - 1 - line) % 4 == 0;
    }
  };
  c.part(1);
  YcWalk walk;
  walk.take(lc.yc(0));
  b.columnStore[0] = walk.v;
  for (int line = 1; line < h; ++line) {
    size_t i = size_t(line) * w;
    if (b.coverWidth[i]) {
      walk.take(lc.yc(i));
    } else {
      if (carrying(line))
        lc.full(walk, i);
      else
        lc.luma(walk, i);
      ++c.remaining;
    }
    b.columnStore[line] = walk.v;
  }
  // Rows in the decoder's order; in single field every row comes from part 1.
  const uint32_t neutral = 31u << 6 | 31u;
  std::fill(b.chromaStore.begin(), b.chromaStore.end(), neutral);
  auto run = [&](int line, int part, RowRole role, int sharingRows) {
    c.part(b.singleField ? 1 : part);
    lc.row(line, role, sharingRows);
  };
  if (type == 1) {
    if (b.singleField) {
      for (int line = 0; line < h; ++line) run(line, 1, RowRole::Every, 0);
      return;
    }
    for (int line = 1; line < h; line += 2) run(line, 1, RowRole::Every, 0);
    for (int line = 0; line < h; line += 2) run(line, 2, RowRole::Every, 0);
    return;
  }
  if (type == 2 || type == 3) {
    int line = 0;
    for (; line + 1 < h; line += 2) {
      run(line + 1, 1, RowRole::Carrying, 1);
      run(line, 2, RowRole::Sharing, 0);
    }
    if (line < h) run(line, 2, RowRole::Sharing, 0);
    return;
  }
  int line = 0;
  for (; line + 3 < h; line += 4) {
    run(line + 3, 1, RowRole::Carrying, 3);
    run(line + 2, 2, RowRole::Sharing, 0);
    run(line + 1, 1, RowRole::Sharing, 0);
    run(line, 2, RowRole::Sharing, 0);
  }
  for (int last = h - 1; last >= line; --last) run(last, (last & 1) ? 1 : 2, RowRole::Sharing, 0);
}

}  // namespace

bool buildCoverMaps(EncoderBuffers& b) {
  std::memset(b.coverWidth.data(), 0, b.coverWidth.size());
  std::memset(b.entropyStart.data(), 0, b.entropyStart.size());
  const int w = b.width;
  for (int k = 0; k < 4; ++k) {
    for (const BlockRect& r : b.lists[k].rects) {
      for (int l = 0; l < r.height; ++l) {
        size_t i = r.pos + size_t(l) * w;
        b.coverWidth[i] = static_cast<uint8_t>(r.width);
        if (k == kListSmooth) b.entropyStart[i] = 1;
      }
    }
  }
  if (b.coverWidth[0] == 0) {
    b.coverWidth[0] = 1;
    return true;
  }
  return false;
}

void codeResiduals(EncoderBuffers& b, bool enhancedEdges) {
  b.n1 = b.n2 = 0;
  std::memset(b.symbolCounts, 0, sizeof b.symbolCounts);
  Coder c(b, enhancedEdges);
  if (b.type == 0)
    codeRgb(c);
  else
    codeLuma(c);
}

}  // namespace zov

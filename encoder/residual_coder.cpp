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
#include <limits>

#include "encoder/delta_quantiser.h"
#include "encoder/residual_kernels.h"
#include "encoder/worker_pool.h"

namespace zov {
namespace {

// The row walk's helpers go into the walk itself, so that the coder's state stays in registers.
#define ZOV_INLINE [[gnu::always_inline]] inline

constexpr int64_t kNoLimit = std::numeric_limits<int64_t>::max();
constexpr int64_t kNoPeak = std::numeric_limits<int64_t>::min();
// The most symbols one pixel can take: 3 for Y, 5 for each colour difference.
constexpr size_t kMaxSymbolsPerPixel = 13;
constexpr int kBandRows = 16;
constexpr uint32_t kNotStored = 0xFFFFFFFFu;
constexpr int kCountChunks = 8;
// Stretches of a sharing row at least this long (pixels, or pairs of an Entropy run) go to the
// residual kernels first.
constexpr int kKernelFrom = 2;

// Symbol output of one stretch of the coding (the first column, or one row). The frame must
// stay within the decoder's symbol limit: the extended-range code may spend several symbols
// per component, so it is only used while the pixels still to come could be coded with one
// symbol per component, that is while symbols so far + 3 * pixels not yet walked + 6 is at
// most kMaxSymbols. `limit` is that bound less the symbols before the stretch; a stretch coded
// before those are known gets no limit and keeps in `peak` the highest value it met, which is
// checked once the symbols before it are counted.
struct Coder {
  uint8_t* out;
  const uint8_t* start;
  int64_t remaining;  // pixels not yet walked (an upper bound of those still to code)
  int64_t limit;
  int64_t peak = kNoPeak;
  bool edge;
  // The last check passed and no pixel since took more than three symbols: with every walked
  // pixel the bound fell by 3 and rose by at most as many, so it still holds.
  bool stillAllowed = false;

  ZOV_INLINE void put(uint8_t s) { *out++ = s; }
  ZOV_INLINE bool extendedAllowed() {
    if (!edge) return false;
    if (stillAllowed) return true;
    int64_t use = int64_t(out - start) + 3 * remaining;
    if (use > limit) return false;
    peak = std::max(peak, use);
    stillAllowed = true;
    return true;
  }
  ZOV_INLINE int component(int target, int pred, bool& doubled, bool extended) {
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
  bool ext = c.extendedAllowed();
  int r = c.component(px >> 10 & 31, w.v >> 10 & 31, w.flag[0], ext);
  int g = c.component(px >> 5 & 31, w.v >> 5 & 31, w.flag[1], ext);
  int bl = c.component(px & 31, w.v & 31, w.flag[2], ext);
  w.v = static_cast<uint16_t>(r << 10 | g << 5 | bl);
  c.stillAllowed = false;  // up to 9 symbols
  px = w.v;
  --c.remaining;
}

void codeRgbRow(Coder& c, EncoderBuffers& b, int line) {
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

void codeRgbColumn(Coder& c, EncoderBuffers& b) {
  const int w = b.width;
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
    c.stillAllowed = false;
  }
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

enum class RowRole : uint8_t { Every, Carrying, Sharing };

// The group starts among the n coded columns first, first + 2, ... (groups of 2 or 4 columns).
inline int startsAmongPairs(int first, int n, int shift) {
  if (first & 1) return 0;
  if (shift == 1) return n;
  return (first & 2) ? n / 2 : (n + 1) / 2;
}

// One luminance row walk. `store` is the colour-difference store the row reads (sharing rows)
// or writes (carrying rows), one entry per group of columns.
struct LumaCoder {
  Coder& c;
  uint32_t* yc;  // targets in, rebuilt values out
  uint16_t* cur;
  const uint8_t* coverAll;
  const uint8_t* entropyAll;
  const ColourTables& t;
  uint32_t* store;
  int w;
  int gShift;  // log2 of the columns per colour-difference group
  bool singleField;
  const ResidualKernels& kernels;

  ZOV_INLINE void full(YcWalk& wk, size_t i) {
    bool ext = c.extendedAllowed();
    uint32_t target = yc[i];
    int y = c.component(int(target >> 12), int(wk.v >> 12), wk.fy, ext);
    int cr = c.component(int(target >> 6 & 63), int(wk.v >> 6 & 63), wk.fcr, ext);
    int cb = c.component(int(target & 63), int(wk.v & 63), wk.fcb, ext);
    wk.v = uint32_t(y) << 12 | uint32_t(cr) << 6 | uint32_t(cb);
    c.stillAllowed = false;  // up to 13 symbols
    put(wk, i);
  }
  ZOV_INLINE void luma(YcWalk& wk, size_t i) {
    bool ext = c.extendedAllowed();
    int y = c.component(int(yc[i] >> 12), int(wk.v >> 12), wk.fy, ext);
    wk.v = (wk.v & kChromaMask) | uint32_t(y) << 12;
    put(wk, i);
  }
  ZOV_INLINE void put(YcWalk& wk, size_t i) {
    yc[i] = wk.v;
    cur[i] = t.ycToRgb[wk.v];
    --c.remaining;
  }
  ZOV_INLINE uint32_t covered(size_t i) const { return t.rgbToYc[cur[i]]; }

  // A covered run in a carrying row stores, for every group start inside it, the covered
  // pixel's colour difference, unless every sharing row skips the same columns anyway.
  ZOV_INLINE void storeCovered(int line, int col, int wd, int sharingRows) {
    bool skipped = sharingRows > 0;
    for (int k = 1; k <= sharingRows && skipped; ++k) {
      if (line - k < 0) {
        skipped = false;
        break;
      }
      size_t j = size_t(line - k) * w + col;
      if (coverAll[j] < wd || entropyAll[j]) skipped = false;
    }
    if (skipped) return;
    const int g = 1 << gShift;
    int first = std::max(g, (col + g - 1) >> gShift << gShift);
    for (int gs = first; gs < col + wd && gs < w; gs += g)
      store[gs >> gShift] = covered(size_t(line) * w + gs) & kChromaMask;
  }

  // A stretch of a row walked with the walk's and the output's state in locals (every symbol
  // is a byte store, which would otherwise keep the coder's own state in memory); finish()
  // hands the state back.
  template <RowRole role>
  struct Stretch {
    struct Out {
      uint8_t* p;
      ZOV_INLINE void put(uint8_t s) { *p++ = s; }
    } out;
    const uint8_t* const start;
    const int64_t limit;
    const bool edge;
    int64_t remaining, peak;
    bool allowed;
    uint32_t* const target;
    uint16_t* const rgb;
    const uint16_t* const toRgb;
    uint32_t* const chroma;
    const int shift;
    const int groupMask;
    uint32_t v;
    bool fy, fcr, fcb;

    ZOV_INLINE Stretch(LumaCoder& lc, size_t base, const YcWalk& wk)
        : out{lc.c.out},
          start(lc.c.start),
          limit(lc.c.limit),
          edge(lc.c.edge),
          remaining(lc.c.remaining),
          peak(lc.c.peak),
          allowed(lc.c.stillAllowed),
          target(lc.yc + base),
          rgb(lc.cur + base),
          toRgb(lc.t.ycToRgb.data()),
          chroma(lc.store),
          shift(lc.gShift),
          groupMask((1 << lc.gShift) - 1),
          v(wk.v),
          fy(wk.fy),
          fcr(wk.fcr),
          fcb(wk.fcb) {}
    ZOV_INLINE void finish(Coder& c, YcWalk& wk) const {
      c.out = out.p;
      c.remaining = remaining;
      c.peak = peak;
      c.stillAllowed = allowed;
      wk.v = v;
      wk.fy = fy;
      wk.fcr = fcr;
      wk.fcb = fcb;
    }
    ZOV_INLINE bool extended() {
      if (!edge) return false;
      if (allowed) return true;
      int64_t use = int64_t(out.p - start) + 3 * remaining;
      if (use > limit) return false;
      peak = std::max(peak, use);
      allowed = true;
      return true;
    }
    ZOV_INLINE int component(int wanted, int pred, bool& doubled, bool ext) {
      return edge ? quantiseExtended(wanted, pred, ext, out)
                  : quantiseDoubling(wanted, pred, false, 0, doubled, out);
    }
    ZOV_INLINE void put(int at) {
      target[at] = v;
      rgb[at] = toRgb[v];
      --remaining;
    }
    ZOV_INLINE void full(int at) {
      const uint32_t wanted = target[at];
      const bool ext = extended();
      int y = component(int(wanted >> 12), int(v >> 12), fy, ext);
      int cr = component(int(wanted >> 6 & 63), int(v >> 6 & 63), fcr, ext);
      int cb = component(int(wanted & 63), int(v & 63), fcb, ext);
      v = uint32_t(y) << 12 | uint32_t(cr) << 6 | uint32_t(cb);
      allowed = false;  // up to 13 symbols
      put(at);
    }
    ZOV_INLINE void luma(int at) {
      const bool ext = extended();
      int y = component(int(target[at] >> 12), int(v >> 12), fy, ext);
      v = (v & kChromaMask) | uint32_t(y) << 12;
      put(at);
    }
    // A pixel outside Entropy runs: full at a group start in rows with colour difference
    // (stored in carrying rows), else the Y step, at a group start of a sharing row with the
    // group's stored colour difference.
    ZOV_INLINE void ordinary(int at) {
      if (at & groupMask) {
        luma(at);
      } else if constexpr (role == RowRole::Every) {
        full(at);
      } else if constexpr (role == RowRole::Carrying) {
        full(at);
        chroma[at >> shift] = v & kChromaMask;
      } else {
        v = (v & ~kChromaMask) | chroma[at >> shift];
        luma(at);
      }
    }
    // A coded pixel of an Entropy run: full in rows with their own colour difference, as
    // outside the run in carrying rows, the Y step alone from normal state in sharing rows.
    ZOV_INLINE void coded(int at) {
      if constexpr (role == RowRole::Every) {
        full(at);
      } else if constexpr (role == RowRole::Carrying) {
        ordinary(at);
      } else {
        v = (v & ~kChromaMask) | chroma[at >> shift];
        fy = false;
        luma(at);
      }
    }
    // The kernels' view of the `count` pixels (or pairs) from column `at`.
    ZOV_INLINE LumaStretch kernelStretch(int at, int count) const {
      return LumaStretch{target + at, rgb + at, toRgb, chroma,  out.p,
                         at,          count,    shift, v >> 12, v & kChromaMask};
    }
    // The kernels coded `symbols` symbols over `pixels` pixels from column `at`: the walk goes
    // on from the last of them, whose Y step left the channel's state normal.
    ZOV_INLINE void kernelCoded(int at, int symbols, int pixels) {
      out.p += symbols;
      remaining -= pixels;
      v = target[at + pixels - 1];
      fy = fcr = fcb = false;
    }
    // The kernels apply where a step of at most 6 gives one symbol and leaves the state as it
    // is: the extended-range code while it is allowed, the step-doubling code from normal state.
    ZOV_INLINE bool kernelsApply(bool normalState) const { return edge ? allowed : normalState; }
    // An interpolated pixel: halfway (rounded down) between its left value and the right Y.
    ZOV_INLINE void interpolated(int at, uint32_t left, int yRight) {
      int yLeft = int(left >> 12);
      int y = yLeft + ((yRight - yLeft) >> 1);
      uint32_t colour = role == RowRole::Sharing ? chroma[at >> shift] : (left & kChromaMask);
      uint32_t value = uint32_t(y) << 12 | colour;
      target[at] = value;
      rgb[at] = toRgb[value];
      --remaining;
    }
  };

  // The uncovered pixels [x, end) of a row outside Entropy runs.
  template <RowRole role>
  ZOV_INLINE void uncoveredRun(int x, int end, size_t base, YcWalk& wk) {
    Stretch<role> s(*this, base, wk);
    if constexpr (role == RowRole::Sharing) {
      while (x < end) {
        if (end - x >= kKernelFrom && s.kernelsApply(!s.fy)) {
          const int n = kernels.lumaSteps(s.kernelStretch(x, end - x));
          if (n) s.kernelCoded(x, n, n), x += n;
          if (x == end) break;
        }
        s.ordinary(x);  // the step the kernel left, or a short stretch
        ++x;
      }
    } else if constexpr (role == RowRole::Carrying) {
      while (x < end) {
        if (end - x >= kKernelFrom && s.kernelsApply(!s.fy && !s.fcr && !s.fcb)) {
          const int n = kernels.carryingSteps(s.kernelStretch(x, end - x));
          // One symbol a pixel and two more at each group start.
          const int starts = ((x + n - 1) >> gShift) - ((x - 1) >> gShift);
          if (n) s.kernelCoded(x, n + 2 * starts, n), x += n;
          if (x == end) break;
        }
        s.ordinary(x);
        ++x;
      }
    } else {
      for (; x < end; ++x) s.ordinary(x);
    }
    s.finish(c, wk);
  }

  // The Entropy run at x (and any Entropy run directly continuing it), in the chess-board
  // pattern: odd lines code even columns, even lines odd columns (every line is odd in single
  // field); returns the column after it.
  template <RowRole role>
  ZOV_INLINE int entropyRun(int line, int x, YcWalk& wk) {
    const size_t base = size_t(line) * w;
    const uint8_t* cover = coverAll + base;
    const uint8_t* entropy = entropyAll + base;
    const bool oddLine = singleField || (line & 1) != 0;
    Stretch<role> s(*this, base, wk);
    int end = x + cover[x];
    while (x < end) {
      if (((x & 1) == 0) == oddLine) {
        s.coded(x);
        ++x;
        continue;
      }
      if constexpr (role == RowRole::Sharing) {
        // Coded pixels start from normal state here.
        if (end - x >= 2 * kKernelFrom && s.kernelsApply(true)) {
          const int pairs = (end - x) / 2;
          const int n = kernels.entropyPairs(s.kernelStretch(x, pairs));
          if (n) s.kernelCoded(x, n, 2 * n), x += 2 * n;
          if (n == pairs) continue;
        }
      } else if constexpr (role == RowRole::Carrying) {
        if (end - x >= 2 * kKernelFrom && s.kernelsApply(!s.fy && !s.fcr && !s.fcb)) {
          const int pairs = (end - x) / 2;
          const int n = kernels.carryingPairs(s.kernelStretch(x, pairs));
          if (n) s.kernelCoded(x, n + 2 * startsAmongPairs(x + 1, n, gShift), 2 * n), x += 2 * n;
          if (n == pairs) continue;
        }
      }
      const uint32_t left = s.v;
      const int xr = x + 1;
      if (xr < end || (xr < w && cover[xr] && entropy[xr])) {
        if (xr == end) end = xr + cover[xr];
        s.coded(xr);
        s.interpolated(x, left, int(s.v >> 12));
        x += 2;
      } else if (xr < w && cover[xr]) {
        s.interpolated(x, left, int(covered(base + xr) >> 12));
        ++x;
      } else if (xr < w) {
        s.ordinary(xr);
        s.interpolated(x, left, int(s.v >> 12));
        x += 2;
      } else {
        s.coded(x);
        ++x;
      }
    }
    s.finish(c, wk);
    return x;
  }

  template <RowRole role>
  ZOV_INLINE void row(int line, uint32_t first, int sharingRows) {
    const size_t base = size_t(line) * w;
    const uint8_t* cover = coverAll + base;
    const uint8_t* entropy = entropyAll + base;
    YcWalk wk;
    wk.take(first);
    int x = cover[0] > 1 ? 0 : 1;
    c.remaining -= x;
    if constexpr (role == RowRole::Sharing) store[0] = wk.v & kChromaMask;
    while (x < w) {
      const uint8_t cw = cover[x];
      if (cw == 0) {
        int end = x + 1;
        for (uint64_t word; end + 8 <= w; end += 8) {
          std::memcpy(&word, cover + end, 8);
          if (word) break;
        }
        while (end < w && cover[end] == 0) ++end;
        uncoveredRun<role>(x, end, base, wk);
        x = end;
        continue;
      }
      if (entropy[x]) {
        x = entropyRun<role>(line, x, wk);
        continue;
      }
      int start = x;
      do {
        if constexpr (role == RowRole::Carrying) storeCovered(line, x, cover[x], sharingRows);
        x += cover[x];
      } while (x < w && cover[x] && !entropy[x]);
      x = std::min(x, w);
      c.remaining -= x - start;
      wk.take(covered(base + x - 1));
    }
  }
};

LumaCoder lumaCoder(Coder& c, EncoderBuffers& b, uint32_t* store) {
  return LumaCoder{c,
                   b.curYc.data(),
                   b.cur.data(),
                   b.coverWidth.data(),
                   b.entropyStart.data(),
                   *b.tables,
                   store,
                   b.width,
                   b.type >= 3 ? 2 : 1,
                   b.singleField,
                   residualKernels()};
}

bool carryingLine(int type, int h, int line) {
  switch (type) {
    case 1:
      return true;
    case 2:
    case 3:
      return ((h - line) & 1) != 0;
    default:
      return (h - 1 - line) % 4 == 0;
  }
}

void codeLumaColumn(Coder& c, EncoderBuffers& b) {
  const int w = b.width, h = b.lines;
  LumaCoder lc = lumaCoder(c, b, nullptr);
  YcWalk walk;
  walk.take(lc.covered(0));
  b.columnStore[0] = walk.v;
  for (int line = 1; line < h; ++line) {
    size_t i = size_t(line) * w;
    if (b.coverWidth[i]) {
      walk.take(lc.covered(i));
    } else {
      if (carryingLine(b.type, h, line))
        lc.full(walk, i);
      else
        lc.luma(walk, i);
      ++c.remaining;  // the row walk counts the first column again
      c.stillAllowed = false;
    }
    b.columnStore[line] = walk.v;
  }
}

// The rows in the decoder's order, with the pixels still to walk as each starts.
void listRows(EncoderBuffers& b, std::vector<CodedRow>& rows) {
  const int h = b.lines, w = b.width;
  rows.clear();
  auto add = [&](int line, int part, RowRole role, int sharingRows) {
    CodedRow r;
    r.line = line;
    r.part = uint8_t(b.singleField ? 1 : part);
    r.role = uint8_t(role);
    r.sharingRows = uint8_t(sharingRows);
    rows.push_back(r);
  };
  if (b.type <= 1) {
    if (b.singleField) {
      for (int line = 0; line < h; ++line) add(line, 1, RowRole::Every, 0);
    } else {
      for (int line = 1; line < h; line += 2) add(line, 1, RowRole::Every, 0);
      for (int line = 0; line < h; line += 2) add(line, 2, RowRole::Every, 0);
    }
  } else if (b.type <= 3) {
    int line = 0;
    for (; line + 1 < h; line += 2) {
      add(line + 1, 1, RowRole::Carrying, 1);
      add(line, 2, RowRole::Sharing, 0);
    }
    if (line < h) add(line, 2, RowRole::Sharing, 0);
  } else {
    int line = 0;
    for (; line + 3 < h; line += 4) {
      add(line + 3, 1, RowRole::Carrying, 3);
      add(line + 2, 2, RowRole::Sharing, 0);
      add(line + 1, 1, RowRole::Sharing, 0);
      add(line, 2, RowRole::Sharing, 0);
    }
    for (int last = h - 1; last >= line; --last) add(last, (last & 1) ? 1 : 2, RowRole::Sharing, 0);
  }
  // Every row counts all its pixels as walked: the first column (coded in the column pass)
  // when it steps past it, then every pixel it codes or skips.
  int64_t remaining = b.pixels;
  for (CodedRow& r : rows) {
    r.remaining = remaining;
    remaining -= w;
  }
}

// Codes one row into `out`; returns the number of symbols. Everything it calls is inlined (the
// quantisers too), so that the walk's state need not live in memory.
[[gnu::flatten]] uint32_t codeRow(EncoderBuffers& b, const CodedRow& r, uint8_t* out, int64_t limit,
                                  bool edge, uint32_t* store, int64_t& peak) {
  Coder c{out, out, r.remaining, limit, kNoPeak, edge};
  if (b.type == 0) {
    codeRgbRow(c, b, r.line);
  } else {
    LumaCoder lc = lumaCoder(c, b, store);
    const uint32_t first = b.columnStore[r.line];
    switch (RowRole(r.role)) {
      case RowRole::Every:
        lc.row<RowRole::Every>(r.line, first, r.sharingRows);
        break;
      case RowRole::Carrying:
        lc.row<RowRole::Carrying>(r.line, first, r.sharingRows);
        break;
      case RowRole::Sharing:
        lc.row<RowRole::Sharing>(r.line, first, r.sharingRows);
        break;
    }
  }
  peak = c.peak;
  return uint32_t(c.out - out);
}

// The store entries a carrying row set, over `store`.
void applyStored(uint32_t* store, const uint32_t* stored, size_t groups) {
  for (size_t k = 0; k < groups; ++k)
    if (stored[k] != kNotStored) store[k] = stored[k];
}

// The frame's symbols so far and where the next row of each part goes.
struct Output {
  EncoderBuffers& b;
  uint32_t n1 = 0, n2 = 0;
  int64_t total() const { return int64_t(n1) + n2; }
  uint8_t* at(int part) { return part == 1 ? b.sym1.data() + n1 : b.sym2.data() + n2; }
  void added(int part, uint32_t n) { (part == 1 ? n1 : n2) += n; }
};

// Codes rows [from, rows.size()) in bands on the pool, each row into its own slot, as if the
// symbol limit never applied, then joins them in order. Rows walk only their own line; the
// only thing one row hands to a later one is the colour-difference store that a carrying row
// fills for the sharing rows after it. So the carrying rows (and every row of the schemes
// without sharing rows) go first, each into a store of its own; each band then starts its
// sharing rows from the store that all carrying rows before it leave. Returns the first row
// whose symbol-limit check fails once the symbols before it are known (rows.size() when none
// does); that row and those after it are restored for coding again in order.
size_t codeRowsInBands(EncoderBuffers& b, ResidualScratch& s, size_t from, bool edge, Output& o) {
  const std::vector<CodedRow>& rows = s.rows;
  const size_t count = rows.size() - from;
  const int bands = int((count + kBandRows - 1) / kBandRows);
  const size_t w = size_t(b.width);
  const size_t groups = s.groups;
  const bool luma = b.type != 0;
  const bool sharing = b.type >= 2;
  auto bandRows = [&](int band, size_t& first, size_t& last) {
    first = from + size_t(band) * kBandRows;
    last = std::min(rows.size(), first + kBandRows);
  };
  auto code = [&](size_t i, uint32_t* store) {
    const CodedRow& r = rows[i];
    if (edge) {
      const size_t p = size_t(r.line) * w;
      if (luma)
        std::memcpy(s.backup.data() + p, b.curYc.data() + p, w * sizeof(uint32_t));
      else
        std::memcpy(s.backup.data() + p, b.cur.data() + p, w * sizeof(uint16_t));
    }
    s.counts[i] =
        codeRow(b, r, s.symbols.data() + i * s.slotBytes, kNoLimit, edge, store, s.peaks[i]);
  };
  auto rowChroma = [&](const CodedRow& r) { return s.rowChroma.data() + size_t(r.line) * groups; };

  b.pool->run(bands, [&](int band, int) {
    size_t first, last;
    bandRows(band, first, last);
    for (size_t i = first; i < last; ++i) {
      const CodedRow& r = rows[i];
      if (RowRole(r.role) == RowRole::Sharing) continue;
      uint32_t* store = nullptr;
      if (RowRole(r.role) == RowRole::Carrying) {
        store = rowChroma(r);
        std::fill(store, store + groups, kNotStored);
      }
      code(i, store);
    }
  });
  if (sharing) {
    std::memcpy(s.bandChroma.data(), b.chromaStore.data(), groups * sizeof(uint32_t));
    for (int band = 1; band < bands; ++band) {
      uint32_t* store = s.bandChroma.data() + size_t(band) * groups;
      std::memcpy(store, store - groups, groups * sizeof(uint32_t));
      size_t first, last;
      bandRows(band - 1, first, last);
      for (size_t i = first; i < last; ++i)
        if (RowRole(rows[i].role) == RowRole::Carrying)
          applyStored(store, rowChroma(rows[i]), groups);
    }
    b.pool->run(bands, [&](int band, int) {
      size_t first, last;
      bandRows(band, first, last);
      uint32_t* store = s.bandChroma.data() + size_t(band) * groups;
      for (size_t i = first; i < last; ++i) {
        const CodedRow& r = rows[i];
        if (RowRole(r.role) == RowRole::Carrying)
          applyStored(store, rowChroma(r), groups);
        else
          code(i, store);
      }
    });
  }
  // Join in order while the rows keep within the limit as coded.
  size_t i = from;
  for (; i < rows.size(); ++i) {
    const CodedRow& r = rows[i];
    if (edge && o.total() + s.peaks[i] > int64_t(kMaxSymbols) - 6) break;
    std::memcpy(o.at(r.part), s.symbols.data() + i * s.slotBytes, s.counts[i]);
    o.added(r.part, s.counts[i]);
    if (RowRole(r.role) == RowRole::Carrying)
      applyStored(b.chromaStore.data(), rowChroma(r), groups);
  }
  for (size_t k = i; k < rows.size(); ++k) {
    const size_t p = size_t(rows[k].line) * w;
    if (luma)
      std::memcpy(b.curYc.data() + p, s.backup.data() + p, w * sizeof(uint32_t));
    else
      std::memcpy(b.cur.data() + p, s.backup.data() + p, w * sizeof(uint16_t));
  }
  return i;
}

}  // namespace

void ResidualScratch::allocate(int width, int lines, int threads) {
  rows.reserve(size_t(lines));
  groups = size_t(width) / 2 + 1;
  if (threads <= 1) return;
  const size_t n = size_t(lines);
  slotBytes = kMaxSymbolsPerPixel * size_t(width) + 16;
  symbols.assign(n * slotBytes, 0);
  counts.assign(n, 0);
  peaks.assign(n, 0);
  rowChroma.assign(n * groups, 0);
  bandChroma.assign((n / kBandRows + 1) * groups, 0);
  backup.assign(n * size_t(width), 0);
  chunkCounts.assign(size_t(kCountChunks) * 16, 0);
}

bool buildCoverMaps(EncoderBuffers& b) {
  // Both maps hold only the previous frame's block rows: those are cleared.
  const size_t w = size_t(b.width);
  uint8_t* cover = b.coverWidth.data();
  uint8_t* entropy = b.entropyStart.data();
  std::vector<BlockRect>& rows = b.coverRows;
  for (const BlockRect& r : rows)
    for (size_t l = 0, i = r.pos; l < r.height; ++l, i += w) {
      cover[i] = 0;
      entropy[i] = 0;
    }
  rows.clear();
  for (int k = 0; k < 4; ++k) {
    const uint8_t start = k == kListSmooth;
    for (const BlockRect& r : b.lists[k].rects) {
      for (size_t l = 0, i = r.pos; l < r.height; ++l, i += w) {
        cover[i] = static_cast<uint8_t>(r.width);
        entropy[i] = start;
      }
      rows.push_back(r);
    }
  }
  if (cover[0] == 0) {
    cover[0] = 1;
    BlockRect seed;
    seed.height = 1;
    rows.push_back(seed);
    return true;
  }
  return false;
}

void codeResiduals(EncoderBuffers& b, bool enhancedEdges) {
  if (!b.residual) {
    b.residual = std::make_unique<ResidualScratch>();
    b.residual->allocate(b.width, b.lines, 1);
  }
  ResidualScratch& s = *b.residual;
  const bool edge = enhancedEdges;
  const int64_t budget = int64_t(kMaxSymbols) - 6;

  // The first column, bottom line up, into part 1.
  Output o{b};
  {
    Coder c{b.sym1.data(), b.sym1.data(), b.pixels, budget, kNoPeak, edge};
    if (b.type == 0)
      codeRgbColumn(c, b);
    else
      codeLumaColumn(c, b);
    o.n1 = uint32_t(c.out - c.start);
  }
  // The chroma store starts neutral in every frame.
  std::fill(b.chromaStore.begin(), b.chromaStore.end(), 31u << 6 | 31u);
  listRows(b, s.rows);
  const size_t rowCount = s.rows.size();
  auto codeInOrder = [&](size_t i) {
    const CodedRow& r = s.rows[i];
    int64_t peak;
    o.added(r.part,
            codeRow(b, r, o.at(r.part), budget - o.total(), edge, b.chromaStore.data(), peak));
  };
  size_t next = 0;
  if (b.pool && b.pool->threads() > 1 && !s.symbols.empty()) {
    // Rows are coded in order while the symbol limit may still decide the code of their
    // pixels; once it no longer does at a row's start, it seldom does again.
    while (next < rowCount && edge && o.total() + 3 * s.rows[next].remaining > budget)
      codeInOrder(next++);
    if (rowCount - next >= 2 * kBandRows) next = codeRowsInBands(b, s, next, edge, o);
  }
  while (next < rowCount) codeInOrder(next++);

  b.n1 = o.n1;
  b.n2 = o.n2;
  std::memset(b.symbolCounts, 0, sizeof b.symbolCounts);
  const CountSymbolsFn countSymbols = residualKernels().countSymbols;
  if (s.chunkCounts.empty()) {
    countSymbols(b.sym1.data(), b.n1, b.symbolCounts);
    countSymbols(b.sym2.data(), b.n2, b.symbolCounts);
    return;
  }
  // Both parts as one sequence in equal chunks on the pool, each with counts of its own.
  const uint64_t total = uint64_t(b.n1) + b.n2;
  std::fill(s.chunkCounts.begin(), s.chunkCounts.end(), 0);
  b.pool->run(kCountChunks, [&](int k, int) {
    uint64_t from = total * uint64_t(k) / kCountChunks, to = total * uint64_t(k + 1) / kCountChunks;
    uint32_t* counts = s.chunkCounts.data() + size_t(k) * 16;
    if (from < b.n1) {
      const uint64_t end = std::min<uint64_t>(to, b.n1);
      countSymbols(b.sym1.data() + from, uint32_t(end - from), counts);
      from = end;
    }
    if (from < to) countSymbols(b.sym2.data() + (from - b.n1), uint32_t(to - from), counts);
  });
  for (int k = 0; k < kCountChunks; ++k)
    for (int v = 0; v < 16; ++v) b.symbolCounts[v] += s.chunkCounts[size_t(k) * 16 + v];
}

}  // namespace zov

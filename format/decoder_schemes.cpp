// Reconstruction: the scheme routines that turn the symbol stream into pixels.
//
// Every coded pixel adds table steps to a running value (running_value.h). Covered runs are
// skipped by the widths stored in the block map. Part 1 and part 2 of the symbol stream are
// read through two pointers; a row starts only while its pointer is within its part, and after
// the walk both parts must have been used up exactly.
//
// Geometry: rows below are coded rows of the active area, numbered from 0 (in SField streams
// coded row r is active row 2r + 1). In SField streams the coded rows are walked as a picture of
// their own in the scheme's row order, all from part 1.
//
// Row rules the format leaves to this system (the encoder follows them exactly):
//  * Column pass of 411, 811 and 1611: the rule "full pixel when h - r is odd" (411, 811) and
//    "when h - 1 - r is a multiple of 4" (1611) uses h = the number of coded rows.
//  * Row order with a number of coded rows that does not fill the last pair (411, 811) or block
//    of four rows (1611): the remaining rows are decoded last, from the highest down, as rows
//    that do not carry colour difference (odd rows from part 1, even rows from part 2), with the
//    chroma store as the last complete pair or block left it (neutral at the start of a frame).
//  * Entropy runs may not start at column 0 (the column pass owns column 0), nor occur in RGB
//    frames; both are malformed.
//  * An interpolated pixel needs its right neighbour. When it is the last pixel of its run and
//    an uncovered pixel follows, that pixel is decoded first, by its ordinary rule (as after
//    the run, with the run's running value, that is its last coded pixel, and its step states,
//    as predictor), and its luminance is the right neighbour. When the row ends after it, the
//    pixel is coded instead, by the rule of a coded pixel of its run at its column.
//  * Carrying rows of 1611 (row 4k + 3) follow the column rule of the carrying rows of 411 and
//    811: a coded pixel at a group start (column 4j, j >= 1) is a full pixel and stores its
//    group's colour difference; any other coded pixel reads the Y step only; interpolated pixels
//    take the colour difference of the pixel to their left.
//  * Rows that do not carry colour difference (even rows of 411 and 811; rows 4k + 2, 4k + 1 and
//    4k of 1611) follow the even-row rule of 411 with the scheme's group: coded pixels read the
//    Y step only, after the Y step state returns to normal (before every coded pixel of the
//    run); coded and interpolated pixels take the stored colour difference of their group, or
//    in the first group (columns 1 .. g-1) that of the row's column-0 value.
//  * 422 rows: every coded pixel of a run is a full pixel; interpolated pixels take the colour
//    difference of the pixel to their left.
//  * "Odd" and "even" rows count coded rows from the first row of the active area for the part
//    choice and, outside SField streams, for the chess-board pattern. In SField streams every
//    coded row is an odd row of the picture (row 2r + 1) and the chess-board treats every row
//    as odd. Which rows carry colour difference in SField streams (411, 811, 1611) is counted
//    in coded rows, like the column pass rule above.
//  * Rows that share colour difference: Entropy pixels in columns 1 .. g-1 take the colour
//    difference of the row's column-0 value (chroma store 0), as the pixels outside runs do.
//  * A block that starts at column 0 also covers the row walk: the row resumes after it, with
//    the last covered pixel as predictor (its column-0 pixel was taken by the column pass).
//  * A "covered run" of the colour-difference storing rule is one block's row; when blocks
//    follow each other directly, each is judged on its own (its first column, its width).
//  * Outside Entropy runs, in rows that do not carry colour difference, only a group's first
//    pixel takes the stored colour difference; the other pixels keep their left neighbour's,
//    which after a covered pixel is the covered pixel's.
#include <bit>
#include <cstring>

#include "format/decoder.h"
#include "format/decoder_impl.h"
#include "format/decoder_kernels.h"
#include "format/running_value.h"

namespace zov {
namespace {

using namespace running;

// How a row treats colour difference: its own per pixel pair (422), carrying it for the rows
// that share it (odd rows of 411/811, rows 4k + 3 of 1611), or sharing the stored one.
enum class RowKind { Own, Carrying, Sharing };

// One step of component c. `doubled` holds the step-doubling state of the three components
// (bit c); after a symbol it is simply whether that symbol was 0 or 14, so it is kept apart from
// the value: the value then depends on the state only through the table look-up, and the adds of
// consecutive symbols do not wait for each other's look-ups.
template <bool Edge>
inline void step(uint32_t& r, uint32_t& doubled, int c, const uint8_t*& p, uint32_t& err) {
  if constexpr (!Edge) {
    const uint8_t s = *p++;
    r += kSteps.doubling[c][(doubled >> c) & 1][s];
    doubled = (doubled & ~(1u << c)) | uint32_t(s == 0 || s == 14) << c;
  } else {
    const uint8_t s = *p++;
    r += kSteps.plain[c][s];
    if (s == 0 || s == 14) [[unlikely]] {
      // Extended range: further symbols of the same component add twice their step while the
      // symbol read is 0 or 14. Done on the component alone, so a long run cannot spill.
      const int shift = componentShift(c);
      int v = static_cast<int>(r >> shift & 0xFF);
      uint8_t t;
      do {
        t = *p++;
        v += 2 * (t - 7);
        if (v < 0 || v > 255) {
          err |= 1;
          v &= 0xFF;
        }
      } while (t == 0 || t == 14);
      r = (r & ~(uint32_t{0xFF} << shift)) | uint32_t(v) << shift;
    }
  }
}

// The end of the uncovered run at x: the next column whose block map byte is set, or w.
inline int uncoveredEnd(const uint8_t* bm, int x, int w) {
  while (x + 8 <= w) {
    uint64_t word;
    std::memcpy(&word, bm + x, 8);
    if (word != 0) return x + std::countr_zero(word) / 8;  // little-endian: first byte lowest
    x += 8;
  }
  while (x < w && bm[x] == 0) ++x;
  return x;
}

struct Layout {
  int w = 0;
  size_t firstRow = 0;  // picture index of coded row 0
  size_t rowStep = 0;   // picture distance of consecutive coded rows
  size_t row(int cr) const { return firstRow + size_t(cr) * rowStep; }
};

template <bool Edge>
class RgbWalk {
 public:
  uint16_t* pic;
  const uint8_t* bmap;
  bool rgb565;
  int w;
  const uint8_t* p = nullptr;
  uint32_t err = 0;
  uint32_t st = 0;  // step-doubling states

  uint32_t valueOf(uint16_t px) const { return fromRgb555(rgb565 ? from565(px) : px); }
  void pixel(uint32_t& r, uint16_t* out) {
    step<Edge>(r, st, 0, p, err);
    step<Edge>(r, st, 1, p, err);
    step<Edge>(r, st, 2, p, err);
    err |= (r & kRgbCheckMask) ^ kCheckExpected;
    *out = rgb565 ? toRgb565(r) : toRgb555(r);
  }

  void row(size_t rowIdx) {
    uint16_t* px = pic + rowIdx;
    const uint8_t* bm = bmap + rowIdx;
    uint32_t r = valueOf(px[0]);
    st = 0;
    // Column 0 comes from the column pass; a block starting there covers the row further on.
    int x = bm[0] > 1 ? 0 : 1;
    while (x < w) {
      if (bm[x] == 0) {
        const int end = uncoveredEnd(bm, x, w);
        for (; x < end; ++x) pixel(r, px + x);
        continue;
      }
      do x += bm[x];
      while (x < w && bm[x] != 0);
      r = valueOf(px[x - 1]);
      st = 0;
    }
  }
};

template <bool Edge>
class YcWalk {
 public:
  uint16_t* pic;
  const uint8_t* bmap;
  const uint8_t* emap;
  const uint16_t* colours;  // by chroma first (ColourTables::ycToRgbByChroma)
  const uint32_t* rgbToYc;
  uint32_t* chroma;
  int w;
  int groupShift;  // log2 of the column group: 1 (422, 411) or 2 (811, 1611)
  bool own;        // 422: group starts where w - x is even
  SharingPairsFn sharingPairs;
  CarryingPairsFn carryingPairs;
  RowFn sharingRow;   // the whole row in vectors, or null
  RowFn carryingRow;  // the same
  uint16_t* c12;  // per column: its group's stored colour difference as a 17-bit value's low bits
  const uint8_t* p = nullptr;
  uint32_t err = 0;
  uint32_t st = 0;  // step-doubling states

  // Row state.
  size_t rowIdx = 0;
  bool oddRow = false;
  bool c12Ready = false;  // c12 holds the chroma store's colour differences
  const size_t* partners = nullptr;
  int partnerCount = 0;

  uint32_t covered(size_t i) const { return fromYc(rgbToYc[pic[i]]); }
  void put(size_t i, uint32_t r) {
    err |= (r & kYcCheckMask) ^ kCheckExpected;
    pic[i] = colours[toChromaMajor(r)];
  }
  void stepY(uint32_t& r) { step<Edge>(r, st, 0, p, err); }
  void stepFull(uint32_t& r) {
    step<Edge>(r, st, 0, p, err);
    step<Edge>(r, st, 1, p, err);
    step<Edge>(r, st, 2, p, err);
  }
  bool groupStart(int x) const {
    return own ? ((w - x) & 1) == 0 : (x & ((1 << groupShift) - 1)) == 0;
  }

  // An uncovered pixel outside Entropy runs (also the first pixel after a covered run).
  template <RowKind kind>
  void plainPixel(int x, uint32_t& r) {
    if (kind == RowKind::Sharing) {
      // A group's first pixel takes the stored colour difference: chosen by a mask, as the
      // group starts fall at no pattern a branch predictor could follow through short runs.
      // (Sharing rows never belong to 422, so a group start is a multiple of the group.)
      const uint32_t start = (x & ((1 << groupShift) - 1)) == 0;
      const uint32_t take = (0u - start) & kChromaMask;
      r = (r & ~take) | (chroma[x >> groupShift] & take);
      stepY(r);
    } else if (groupStart(x)) {
      stepFull(r);
      if (kind == RowKind::Carrying) chroma[x >> groupShift] = r & kChromaMask;
    } else {
      stepY(r);
    }
    put(rowIdx + x, r);
  }

  // A coded pixel of an Entropy run.
  template <RowKind kind>
  void codedPixel(int x, uint32_t& r) {
    switch (kind) {
      case RowKind::Own:
        stepFull(r);
        break;
      case RowKind::Carrying:
        if ((x & ((1 << groupShift) - 1)) == 0) {
          stepFull(r);
          chroma[x >> groupShift] = r & kChromaMask;
        } else {
          stepY(r);
        }
        break;
      case RowKind::Sharing:
        r = (r & ~kChromaMask) | chroma[x >> groupShift];
        st &= ~1u;  // the Y step state returns to normal
        stepY(r);
        break;
    }
    put(rowIdx + x, r);
  }

  template <RowKind kind>
  void interpolated(int x, uint32_t left, int yRight) {
    const int yLeft = yOf(left);
    const int y = yLeft + ((yRight - yLeft) >> 1);  // floor of half the step
    const uint32_t c = kind == RowKind::Sharing ? chroma[x >> groupShift] : (left & kChromaMask);
    put(rowIdx + x, (uint32_t(y) & 0xFF) << 16 | c);
  }

  // The pairs of an interpolated pixel at x + 2k and a coded one after it, inside an Entropy
  // run of a sharing row, through the kernel table; returns the pairs decoded (the kernel stops
  // where the pixel-by-pixel rules have something to say: extended steps, values out of range).
  void fillC12() {
    if (c12Ready) return;  // the store changed in a carrying row since the last sharing row
    // The group's value in each of its 2 or 4 columns, one store of a fixed size (a size
    // known only at run time would make every store a call of memcpy).
    const int groups = ((w - 1) >> groupShift) + 1;
    if (groupShift == 2) {
      for (int g = 0; g < groups; ++g) {
        const uint64_t v = (toYc(chroma[g]) & 0xFFF) * 0x0001000100010001u;
        std::memcpy(c12 + 4 * g, &v, 8);
      }
    } else {
      for (int g = 0; g < groups; ++g) {
        const uint32_t v = (toYc(chroma[g]) & 0xFFF) * 0x00010001u;
        std::memcpy(c12 + 2 * g, &v, 4);
      }
    }
    c12Ready = true;
  }

  int sharedPairs(int x, int pairs, bool codedFirst, uint32_t& r) {
    fillC12();
    const SharingPairs job{x, Edge, c12, colours, pic + rowIdx, codedFirst, w};
    const SharingPairsDone d = sharingPairs(job, p, pairs, yOf(r));
    const int done = d.pairs;
    if (done == 0) return 0;
    if constexpr (!Edge) {  // the extended-range code has no step states
      const uint8_t last = p[done - 1];
      st = (st & ~1u) | uint32_t(last == 0 || last == 14);
    }
    p += done;
    r = uint32_t(d.y) << 16 | chroma[(x + 2 * done - 1) >> groupShift];
    return done;
  }

  // The same in a carrying row (coded pixels in the even columns, x odd).
  int carriedPairs(int x, int pairs, bool codedFirst, uint32_t& r) {
    const CarryingPairs job{x, groupShift, chroma, colours, pic + rowIdx, codedFirst};
    const CarryingPairsDone d = carryingPairs(job, p, pairs, r);
    p += d.used;
    r = d.value;
    return d.pairs;
  }

  // Decodes the Entropy run starting at x (and any Entropy run that directly continues it);
  // returns the column after it.
  template <RowKind kind>
  [[gnu::always_inline]] int entropyRun(int x, uint32_t& r) {
    const uint8_t* bm = bmap + rowIdx;
    const uint8_t* em = emap + rowIdx;
    // Entropy runs that directly follow each other continue one pattern: walked as one run.
    // The first two links are followed without a branch (nine runs in ten have at most two; a
    // loop's end would be mispredicted at most runs), any further ones by the loop. An Entropy
    // map byte is set only where the block map holds a width; the loop tests the width too, so
    // that maps out of step with each other end the run instead of holding the walk in place.
    int end = x + bm[x];
    const auto link = [&](int e) {
      const int at = e < w ? e : w - 1;
      const int more = int(e < w) & int(em[at] != 0);
      return e + (int(bm[at]) & -more);
    };
    end = link(link(end));
    while (end < w && em[end] != 0 && bm[end] != 0) end += bm[end];
    // With the extended-range code, the uncovered pixel after the run (the right neighbour of
    // a last interpolated pixel) reads one Y step like a coded pixel of the run, and in
    // carrying rows also its colour difference at a group start, so the kernels take it as one
    // more pair: the pixel-by-pixel rules below then have nothing left at most runs' ends. In
    // a sharing row that holds where the pixel's colour difference (its group's at a group
    // start, otherwise that of the running value: the run's last coded pixel's, or what came
    // before a run of one interpolated pixel) is its group's. One more pixel when the run ends
    // with a coded one changes no count of pairs.
    int follow = 0;
    if constexpr (Edge && kind != RowKind::Own) {
      const int at = end < w ? end : w - 1;
      follow = int(end < w) & int(bm[at] == 0);
      if constexpr (kind == RowKind::Sharing) {
        fillC12();
        const int start = (at & ((1 << groupShift) - 1)) == 0;
        follow &= start | (int(at - 2 >= x) & int(c12[at] == c12[at >= 2 ? at - 2 : at]));
      }
    }
    if constexpr (kind != RowKind::Own) {
      // The kernel takes the run from its start, a coded pixel there standing as the second
      // pixel of a pair whose first is not written; what it leaves (an extended step, a value
      // out of range, the last interpolated pixel) goes pixel by pixel below.
      const bool codedFirst = ((x & 1) == 0) == oddRow;
      const int from = x - int(codedFirst);
      const int pairs = (end + follow - from) >> 1;
      int done = 0;
      if constexpr (kind == RowKind::Sharing) {
        if (err == 0) done = sharedPairs(from, pairs, codedFirst, r);
      } else if (err == 0 && (Edge || st == 0)) {
        // No symbol the kernel takes is 0 or 14, so the step states stay normal through it.
        done = carriedPairs(from, pairs, codedFirst, r);
      }
      if (done > 0) x = from + 2 * done;
    }
    // After a pixel-by-pixel step the kernel takes the run up again. Where it stopped (an
    // extended step, a value out of range) the pair goes pixel by pixel at once: the kernel
    // would only stop there again.
    const auto resume = [&]() __attribute__((always_inline)) {
      if constexpr (kind != RowKind::Own) {
        const int pairs = (end + follow - x) >> 1;
        int done = 0;
        if constexpr (kind == RowKind::Sharing) {
          if (err == 0 && pairs > 0) done = sharedPairs(x, pairs, false, r);
        } else if (err == 0 && pairs > 0 && (Edge || st == 0)) {
          done = carriedPairs(x, pairs, false, r);
        }
        x += 2 * done;
      }
    };
    while (x < end) {
      if (((x & 1) == 0) == oddRow) {  // odd rows code even columns, even rows odd columns
        codedPixel<kind>(x, r);
        ++x;
        if (x < end) resume();
        continue;
      }
      const uint32_t left = r;
      const int xr = x + 1;
      if (xr < end || (xr < w && bm[xr] != 0 && em[xr] != 0)) {
        if (xr == end) end = xr + bm[xr];  // a directly following run continues the pattern
        codedPixel<kind>(xr, r);
        interpolated<kind>(x, left, yOf(r));
        x += 2;
        if (x < end) resume();
      } else if (xr < w && bm[xr] != 0) {
        interpolated<kind>(x, left, yOf(covered(rowIdx + xr)));
        ++x;
      } else if (xr < w) {
        plainPixel<kind>(xr, r);  // the uncovered pixel after the run is the right neighbour
        interpolated<kind>(x, left, yOf(r));
        x += 2;
      } else {
        codedPixel<kind>(x, r);  // no right neighbour to interpolate towards
        ++x;
      }
    }
    return x;
  }

  // Covered run at x of width n in a carrying row: stores the colour difference of the covered
  // pixel at every group start inside it, unless every row that shares it has an equally long
  // covered run (not an Entropy run) starting at the same column.
  void storeCovered(int x, int n) {
    bool needed = false;
    for (int i = 0; i < partnerCount && !needed; ++i) {
      const size_t q = partners[i] + size_t(x);
      needed = bmap[q] < n || emap[q] != 0;
    }
    if (!needed) return;
    const int g = 1 << groupShift;
    for (int gs = (x + g - 1) & ~(g - 1); gs < x + n; gs += g)
      chroma[gs >> groupShift] = covered(rowIdx + gs) & kChromaMask;
  }

  // Decodes one row on a local copy of the walk: its state (symbol pointer, fault bits, step
  // states) then stays in registers instead of going through memory at every pixel, which the
  // stores to the picture and the chroma store and the kernel calls would otherwise force.
  template <RowKind kind>
  void row(uint32_t start) {
    YcWalk local = *this;
    local.template walkRow<kind>(start);
    p = local.p;
    err = local.err;
    st = local.st;
    c12Ready = local.c12Ready;
  }

  // The row as a whole through a vector kernel; false where it leaves the row to the walk.
  bool wholeRow(RowFn f, const uint8_t* bm, const uint8_t* em, uint32_t start) {
    RowJob job{bm, em, c12, colours, rgbToYc, pic + rowIdx, w, groupShift, oddRow, start};
    job.chroma = chroma;
    job.partners = partnerCount;
    for (int i = 0; i < partnerCount; ++i) {
      job.partnerBm[i] = bmap + partners[i];
      job.partnerEm[i] = emap + partners[i];
    }
    const int used = f(job, p);
    if (used < 0) return false;
    p += used;
    return true;
  }

  template <RowKind kind>
  [[gnu::always_inline]] void walkRow(uint32_t start) {
    const uint8_t* bm = bmap + rowIdx;
    const uint8_t* em = emap + rowIdx;
    uint32_t r = start & kValueMask;
    st = 0;
    if (kind == RowKind::Sharing) {
      chroma[0] = r & kChromaMask;
      const uint16_t first = static_cast<uint16_t>(toYc(chroma[0]) & 0xFFF);
      for (int col = 0; col < 1 << groupShift; ++col) c12[col] = first;
      if constexpr (Edge) {
        if (sharingRow != nullptr) {
          fillC12();
          if (wholeRow(sharingRow, bm, em, r)) return;
        }
      }
    } else {
      c12Ready = false;
      if constexpr (Edge && kind == RowKind::Carrying) {
        if (carryingRow != nullptr && wholeRow(carryingRow, bm, em, r)) return;
      }
    }
    // Column 0 comes from the column pass; a block starting there covers the row further on
    // and is skipped (and stores colour differences) like any covered run.
    int x = bm[0] > 1 ? 0 : 1;
    while (x < w) {
      if (bm[x] == 0) {
        // An uncovered run, decoded up to the next block in the map: one test of the map per
        // pixel, so the run's end costs one mispredicted branch (finding the end beforehand,
        // eight map bytes at a time, cost a second one at every run of eight pixels or more).
        if constexpr (kind == RowKind::Sharing) {
          // The pixels' colour differences come from the chroma store (c12 holds their part of
          // the look-up index per column) or, before the run's first group start, from the
          // running value; so each pixel's look-up index is one OR, and the running value's
          // luminance is the only chain from pixel to pixel. The stored colour differences and
          // the running value's lie in range in any row that has not failed, so only the
          // luminances are tested, all together at the run's end.
          fillC12();
          const int from = x, groupMask = (1 << groupShift) - 1;
          uint32_t yr = r & ~kChromaMask, index = toChromaMajor(r & kChromaMask);
          do {
            const uint32_t take = 0u - uint32_t((x & groupMask) == 0);
            index = (uint32_t(c12[x]) << 5 & take) | (index & ~take);
            stepY(yr);
            err |= (yr & 0xE00000) ^ 0x400000;  // the luminance byte reads 010xxxxx
            pic[rowIdx + x] = colours[index | (yr >> 16 & 31)];
            ++x;
          } while (x < w && bm[x] == 0);
          const int last = x - 1;
          const uint32_t takeLast = 0u - uint32_t(last >= from && (last & ~groupMask) >= from);
          r = yr | (chroma[last >> groupShift] & takeLast) | (r & kChromaMask & ~takeLast);
        } else {
          do plainPixel<kind>(x++, r);
          while (x < w && bm[x] == 0);
        }
      } else if (em[x] != 0) {
        x = entropyRun<kind>(x, r);
      } else {
        do {
          if (kind == RowKind::Carrying) storeCovered(x, bm[x]);
          x += bm[x];
        } while (x < w && bm[x] != 0 && em[x] == 0);
        r = covered(rowIdx + x - 1);
        st = 0;
      }
    }
  }
};

struct Parts {
  const uint8_t* p[2];
  const uint8_t* end[2];
};

template <bool Edge>
bool reconstructRgb(uint16_t* pic, const uint8_t* bmap, bool rgb565, const Layout& L, int rows,
                    bool sfield, bool part2, Parts& parts) {
  RgbWalk<Edge> walk{pic, bmap, rgb565, L.w};
  // Column pass.
  walk.p = parts.p[0];
  uint32_t r = 0;
  for (int cr = 0; cr < rows; ++cr) {
    const size_t i = L.row(cr);
    if (bmap[i] != 0) {
      r = walk.valueOf(pic[i]);
      walk.st = 0;
    } else
      walk.pixel(r, pic + i);
  }
  parts.p[0] = walk.p;
  if (walk.err) return false;
  auto run = [&](int cr, int part) {
    if (parts.p[part] > parts.end[part]) return false;
    walk.p = parts.p[part];
    walk.row(L.row(cr));
    parts.p[part] = walk.p;
    return walk.err == 0;
  };
  if (sfield) {
    for (int cr = 0; cr < rows; ++cr)
      if (!run(cr, 0)) return false;
    return true;
  }
  for (int cr = 1; cr < rows; cr += 2)
    if (!run(cr, 0)) return false;
  if (part2)
    for (int cr = 0; cr < rows; cr += 2)
      if (!run(cr, 1)) return false;
  return true;
}

template <bool Edge>
bool reconstructYc(Scheme scheme, uint16_t* pic, const uint8_t* bmap, const uint8_t* emap,
                   const ColourTables& tables, uint32_t* columnStore, uint32_t* chroma,
                   uint16_t* c12, const Layout& L, int rows, bool sfield, bool part2,
                   Parts& parts) {
  YcWalk<Edge> walk{pic,
                    bmap,
                    emap,
                    tables.ycToRgbByChroma.data(),
                    tables.rgbToYc.data(),
                    chroma,
                    L.w,
                    scheme == Scheme::Yc811 || scheme == Scheme::Yc1611 ? 2 : 1,
                    scheme == Scheme::Yc422,
                    decoderKernels().sharingPairs,
                    decoderKernels().carryingPairs,
                    decoderKernels().sharingRow,
                    decoderKernels().carryingRow,
                    c12};
  // Column pass: column 0 of every coded row, its value kept as the row's predictor.
  walk.p = parts.p[0];
  uint32_t r = 0;
  for (int cr = 0; cr < rows; ++cr) {
    const size_t i = L.row(cr);
    if (bmap[i] != 0) {
      r = walk.covered(i);
      walk.st = 0;
    } else {
      bool full = true;
      if (scheme == Scheme::Yc411 || scheme == Scheme::Yc811) full = ((rows - cr) & 1) != 0;
      if (scheme == Scheme::Yc1611) full = (rows - 1 - cr) % 4 == 0;
      if (full)
        walk.stepFull(r);
      else
        walk.stepY(r);
      walk.put(i, r);
    }
    columnStore[cr] = r & kValueMask;
  }
  parts.p[0] = walk.p;
  if (walk.err) return false;

  const uint32_t neutral = ((31u + 64u) << 8) | (31u + 64u);
  for (int gi = 0; gi <= L.w / 2 + 1; ++gi) chroma[gi] = neutral;

  size_t partnerRows[3];
  auto run = [&](int cr, int part, RowKind kind, int partnerCount) {
    if (sfield) part = 0;
    if (part == 1 && !part2) return true;
    if (parts.p[part] > parts.end[part]) return false;
    walk.p = parts.p[part];
    walk.rowIdx = L.row(cr);
    walk.oddRow = sfield || (cr & 1) != 0;
    walk.partners = partnerRows;
    walk.partnerCount = partnerCount;
    switch (kind) {
      case RowKind::Own:
        walk.template row<RowKind::Own>(columnStore[cr]);
        break;
      case RowKind::Carrying:
        walk.template row<RowKind::Carrying>(columnStore[cr]);
        break;
      case RowKind::Sharing:
        walk.template row<RowKind::Sharing>(columnStore[cr]);
        break;
    }
    parts.p[part] = walk.p;
    return walk.err == 0;
  };

  switch (scheme) {
    case Scheme::Yc422:
      if (sfield) {
        for (int cr = 0; cr < rows; ++cr)
          if (!run(cr, 0, RowKind::Own, 0)) return false;
        return true;
      }
      for (int cr = 1; cr < rows; cr += 2)
        if (!run(cr, 0, RowKind::Own, 0)) return false;
      for (int cr = 0; cr < rows; cr += 2)
        if (!run(cr, 1, RowKind::Own, 0)) return false;
      return true;
    case Scheme::Yc411:
    case Scheme::Yc811: {
      int cr = 0;
      for (; cr + 1 < rows; cr += 2) {
        partnerRows[0] = L.row(cr);
        if (!run(cr + 1, 0, RowKind::Carrying, 1) || !run(cr, 1, RowKind::Sharing, 0)) return false;
      }
      if (cr < rows && !run(cr, 1, RowKind::Sharing, 0)) return false;
      return true;
    }
    case Scheme::Yc1611: {
      int cr = 0;
      for (; cr + 3 < rows; cr += 4) {
        partnerRows[0] = L.row(cr + 2);
        partnerRows[1] = L.row(cr + 1);
        partnerRows[2] = L.row(cr);
        if (!run(cr + 3, 0, RowKind::Carrying, 3) || !run(cr + 2, 1, RowKind::Sharing, 0) ||
            !run(cr + 1, 0, RowKind::Sharing, 0) || !run(cr, 1, RowKind::Sharing, 0))
          return false;
      }
      for (int last = rows - 1; last >= cr; --last)
        if (!run(last, (last & 1) ? 0 : 1, RowKind::Sharing, 0)) return false;
      return true;
    }
    case Scheme::Rgb:
      break;
  }
  return false;
}

}  // namespace

bool FrameDecoder::reconstruct() {
  Impl& s = *impl_;
  Layout L;
  L.w = width_;
  L.firstRow = (size_t(bottomRows_) + (sfield_ ? 1 : 0)) * width_;
  L.rowStep = size_t(width_) * (sfield_ ? 2 : 1);
  Parts parts;
  const uint8_t* base = s.symbols.data();
  parts.p[0] = base;
  parts.end[0] = base + s.n1;
  parts.p[1] = base + s.n1;
  parts.end[1] = base + s.n1 + s.n2;
  const bool rgb565 = options_.pixelKind == PixelKind::Rgb565;
  bool ok;
  if (scheme_ == Scheme::Rgb) {
    ok = edge_ ? reconstructRgb<true>(picture_.data(), blockMap_.data(), rgb565, L, codedRows_,
                                      sfield_, s.part2, parts)
               : reconstructRgb<false>(picture_.data(), blockMap_.data(), rgb565, L, codedRows_,
                                       sfield_, s.part2, parts);
  } else {
    ok = edge_
             ? reconstructYc<true>(scheme_, picture_.data(), blockMap_.data(), entropyMap_.data(),
                                   *tables_, s.columnStore.data(), s.chromaStore.data(),
                                   s.c12.data(), L, codedRows_, sfield_, s.part2, parts)
             : reconstructYc<false>(scheme_, picture_.data(), blockMap_.data(), entropyMap_.data(),
                                    *tables_, s.columnStore.data(), s.chromaStore.data(),
                                    s.c12.data(), L, codedRows_, sfield_, s.part2, parts);
  }
  info_.used1 = static_cast<uint32_t>(parts.p[0] - base);
  info_.used2 = static_cast<uint32_t>(parts.p[1] - (base + s.n1));
  if (!ok) {
    fail(parts.p[0] > parts.end[0] || parts.p[1] > parts.end[1]
             ? "fewer symbols than pixels to be coded"
             : "component carried out of range");
    return false;
  }
  if (parts.p[0] != parts.end[0] || (s.part2 && parts.p[1] != parts.end[1]))
    return fail("symbol counts do not match the pixels to be coded"), false;
  return true;
}

}  // namespace zov

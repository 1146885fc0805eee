// The pre-quantiser's best-luma search, the encoder's most frequent question: which of the 32
// lumas of one chroma brings the result closest to a colour. The answer is the decoder-visible
// descent from the colour's own luma (downwards while the distance falls, then upwards while it
// still falls below the best), not the global minimum, and every version gives it exactly.
#pragma once

#include <cstdint>

namespace zov {

// `row`: the 32 table colours of one chroma, by luma. Returns the luma and its distance.
using BestLumaInRowFn = int (*)(const uint16_t* row, uint16_t colour, int start, int* distance);

// A chroma row as a line through the colour cube: the colour of luma y is (y + r, y + g, y + b)
// for every y in [lo, hi] (each component clamped to 0..31 outside). There the distance to a
// colour is a quadratic in y whose steps have a known sign, so the descent's end is found
// without walking; `weighted` = 30 r + 59 g + 20 b. lo > hi: the row is not such a line.
// A walk that ends at lo or hi compares one luma beyond, where some components stay clamped:
// that step changes the distance by a linear function of the colour, so whether the walk stops
// there is one more compare. The luma below lo does not bring a colour (R, G, B) closer when
// 2 (lowR R + lowG G + lowB B) > lowLimit (the weights doubled for the components that change
// between lo - 1 and lo, zero for the others); the luma above hi does not when
// 2 (highR R + highG G + highB B) <= highLimit. Where there is no such luma the compare fails.
struct alignas(64) LumaRowModel {
  // The same per walk, for the vector kernels to pick by lane: entry 0 the line's, 1 the upper
  // stretch's, 2 the lower's, of: magic, scale (row 0, entries 0-2 and 3-5), from, to (row 1),
  // below, above (row 2) and bias (row 3; the line's x is 2 (30 R + 59 G + 20 B) + bias too).
  // Row 1 entries 6 and 7: the components that change between lo - 1 and lo, and between hi and
  // hi + 1 (bit 0 red, bit 1 green, bit 2 blue), whose doubled weights are lowR.. and highR..
  // The other free entries repeat what else the AVX2 vote reads (kPick*), so that a proposal
  // reads one cache line of the model: the 4096 rows are 512 KiB, their first lines half that.
  alignas(64) int16_t pick[4][8] = {};
  int16_t r = 0, g = 0, b = 0;
  int16_t lo = 32, hi = -1;
  int16_t weighted = 0;
  int16_t lowR = 0, lowG = 0, lowB = 0, lowLimit = 0;
  int16_t highR = 0, highG = 0, highB = 0, highLimit = -1;
  // A walk whose lumas run from `first` to `last` compares one below lo when first < belowLo
  // and one above hi when last > aboveHi (lo + 1 and hi - 1, or never where lo is 0 or hi 31).
  int16_t belowLo = 33, aboveHi = -2;
  // The first stretch beyond each end of the line, where the components that reach 31 above hi
  // (or 0 below lo) stay there and the others still follow the line: the distance is again a
  // quadratic in y, now of weight W = the summed weights of the components still moving, so a
  // walk that starts there and compares no luma outside the stretch ends at a quotient too.
  // For a colour of weighted parts T (2 (30 R, 59 G, 20 B) summed over `active`: bit 0 red,
  // bit 1 green, bit 2 blue) x = T + bias is 2 S + W + 128 W (S as for the line, over the
  // moving components): the walk goes down to floor(x / 2W) - 64 and, when it does not go
  // down, up to floor((x - 1) / 2W) - 64; floor(x / 2W) = mulhi(mulhi(x, magic), scale) for
  // 0 <= x < 300 W. A walk there is answered when first >= below and last <= above, as with
  // belowLo and aboveHi. Where there is no such stretch, below = 33 and above = -2.
  struct Stretch {
    int16_t active = 0, bias = 0, magic = 0, scale = 0;
    int16_t from = 0, to = 31;  // the lumas the quadratic holds for (the line's end included)
    int16_t below = 33, above = -2;
  };
  Stretch upper, lower;
};

// Where pick repeats the model's other fields (row, entry): the line's offsets, the limits of
// the steps beyond its ends, the stretches' components. lo and hi are the line's from and to.
inline constexpr int kPickR[2] = {0, 6}, kPickG[2] = {0, 7}, kPickB[2] = {2, 6};
inline constexpr int kPickLowLimit[2] = {2, 7}, kPickHighLimit[2] = {3, 3};
inline constexpr int kPickUpperActive[2] = {3, 4}, kPickLowerActive[2] = {3, 5};

// The model of each of the 4096 chroma rows (`rows` as buildLumaRows lays them out), each
// checked against the table: a row that does not follow its line keeps lo > hi.
void buildLumaRowModels(const uint16_t* rows, LumaRowModel* models);

// The colours of one cell of the vote, up to 16, split into components, with their own lumas
// (where each search starts) and their weighted sums 30 r + 59 g + 20 b. Lanes from `count` on
// are zero.
struct alignas(32) VoteColours {
  int16_t r[16], g[16], b[16], start[16], weighted[16];
  uint16_t colour[16];
  int count = 0;
};

// Fills `c` with `count` colours (lanes from `count` on zero); `rgbToYc`: the colour table's
// reverse, for each colour's own luma. `colours` may be c.colour itself.
void setVoteColours(VoteColours& c, const uint16_t* colours, int count, const uint32_t* rgbToYc);

// Of the lanes a distances call answers: how many have a distance below the caller's `than`,
// and their distances summed (what decides a proposal of the vote).
// `undone`: the number of lanes left to the caller.
struct VoteTally {
  int closer = 0;
  uint32_t sum = 0;
  int undone = 0;
};

// The best luma of every colour of `c` (lanes 0..count-1) under one chroma and its distance:
// `row` its 32 colours, `model` its line; `lumas` and `distances` have room for 16. Returns the
// lanes left undone (bit u: lane u, whose walk leaves the line), for the caller to search;
// `tally` counts the lanes done against `than` (room for 16).
using LumaDistancesFn = uint32_t (*)(const LumaRowModel& model, const uint16_t* row,
                                     const VoteColours& c, const uint32_t* than, uint8_t* lumas,
                                     uint32_t* distances, VoteTally* tally);

// The vote's bookkeeping of one cell, pixel by pixel: `n` (1..16) pixels, their colours and
// their luma/chroma targets in arrays with room for 16 (entries from n on are ignored).
//
// The distinct chromas of the pixels in pixel order (the vote's proposals); returns their
// number.
using VoteChromasFn = int (*)(const uint32_t* ycs, int n, uint32_t* chromas);
// Fills `c` with the n pixels (lanes from n on zero), each search starting at its own luma.
using VoteFillFn = void (*)(VoteColours& c, const uint16_t* colours, const uint32_t* ycs, int n);
// Of lanes 0..n-1: how many have distances[u] < than[u]; `*sum` gets their summed distances.
using VoteTallyFn = int (*)(const uint32_t* distances, const uint32_t* than, int n, uint32_t* sum);

// The best lumas already found, per worker: a direct-mapped cache of 2^kLumaCacheBits entries,
// each key + 1 above the distance (times 32) and the luma (zero: empty). Since the vote answers
// almost every colour in registers, the cache serves few questions (on the pan about 20,000 a
// frame); 64 KiB of it keeps those near and leaves the second-level cache to the tables and
// pictures every pixel reads (at 512 KiB it missed less and took longer).
inline constexpr int kLumaCacheBits = 13;

// Walks `colour` under `chroma` on `rows` (the luma rows of all chromas) from the colour's own
// luma (`rgbToYc`) and keeps the answer in `entry`; returns it as the cache holds it.
uint32_t lumaCacheFill(uint64_t& entry, const uint16_t* rows, const uint32_t* rgbToYc,
                       BestLumaInRowFn search, uint16_t colour, uint32_t chroma, uint32_t key);

// The distance (times 32) and the best luma of a colour under a chroma, through `cache`; `key`:
// the colour above the chroma's twelve bits.
inline uint32_t lumaCacheSearchKey(uint64_t* cache, const uint16_t* rows, const uint32_t* rgbToYc,
                                   BestLumaInRowFn search, uint32_t key) {
  uint64_t& entry = cache[(key * 2654435761u) >> (32 - kLumaCacheBits)];
  const uint64_t e = entry;
  if (__builtin_expect(uint32_t(e >> 32) == key + 1, 1)) return uint32_t(e);
  return lumaCacheFill(entry, rows, rgbToYc, search, uint16_t(key >> 12), key & 0xFFF, key);
}

inline uint32_t lumaCacheSearch(uint64_t* cache, const uint16_t* rows, const uint32_t* rgbToYc,
                                BestLumaInRowFn search, uint16_t colour, uint32_t chroma) {
  return lumaCacheSearchKey(cache, rows, rgbToYc, search, uint32_t(colour) << 12 | chroma);
}

// What the vote on a cell reads besides its pixels: the luma rows and their models, the colour
// table's reverse, the worker's cache and the walk it fills the cache with.
struct VoteCellContext {
  const LumaRowModel* models;
  const uint16_t* rows;
  const uint32_t* rgbToYc;
  uint64_t* cache;
  BestLumaInRowFn search;
};

// The common chroma of one cell of n pixels (1..16; `colours` and their targets `ycs` with room
// for 16): every distinct chroma of the cell is proposed in pixel order, and a proposal replaces
// the best so far when it brings more than half of the pixels strictly closer (at exactly half,
// when its summed distance is smaller); the first is always taken. `lumas` (room for 16) gets
// each pixel's best luma under the chosen chroma.
using VoteCellFn = uint32_t (*)(const VoteCellContext& ctx, const uint16_t* colours,
                                const uint32_t* ycs, int n, uint8_t* lumas);

struct LumaSearchKernels {
  BestLumaInRowFn bestLumaInRow;
  LumaDistancesFn lumaDistances;
  VoteChromasFn voteChromas;
  VoteFillFn voteFill;
  VoteTallyFn voteTally;
  VoteCellFn voteCell;
};

// The plain C++ references: the walk, and the walk for every colour of a cell.
int bestLumaInRowScalar(const uint16_t* row, uint16_t colour, int start, int* distance);
uint32_t lumaDistancesScalar(const LumaRowModel& model, const uint16_t* row, const VoteColours& c,
                             const uint32_t* than, uint8_t* lumas, uint32_t* distances,
                             VoteTally* tally);
int voteChromasScalar(const uint32_t* ycs, int n, uint32_t* chromas);
void voteFillScalar(VoteColours& c, const uint16_t* colours, const uint32_t* ycs, int n);
int voteTallyScalar(const uint32_t* distances, const uint32_t* than, int n, uint32_t* sum);
// Every proposal's colours walked one by one, through the cache.
uint32_t voteCellScalar(const VoteCellContext& ctx, const uint16_t* colours, const uint32_t* ycs,
                        int n, uint8_t* lumas);

// The table for the given processor flags (references where a flag is missing).
LumaSearchKernels lumaSearchKernelsFor(unsigned cpuFlags);
// The table for this process, chosen once from cpuFlags().
const LumaSearchKernels& lumaSearchKernels();

}  // namespace zov

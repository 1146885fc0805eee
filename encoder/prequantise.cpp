#include "encoder/prequantise.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <type_traits>

#include "encoder/colour_quantiser.h"
#include "encoder/delta_quantiser.h"
#include "encoder/luma_search_kernels.h"
#include "encoder/prequantise_kernels.h"
#include "encoder/worker_pool.h"
#include "format/stream_format.h"

namespace zov {
namespace {

inline int quantise(int value, int pred, bool hasNext, int next, bool& doubled, bool edge) {
  SilentSymbols none;
  return edge ? quantiseExtended(value, pred, true, none)
              : quantiseDoubling(value, pred, hasNext, next, doubled, none);
}

void prequantiseRgb(EncoderBuffers& b, uint16_t* pic, bool edge) {
  const int w = b.width;
  for (int l = 1; l < b.lines; ++l) {
    uint16_t& px = pic[size_t(l) * w];
    uint16_t above = pic[size_t(l - 1) * w];
    uint16_t out = 0;
    for (int shift = 10; shift >= 0; shift -= 5) {
      bool flag = false;
      int v = quantise(px >> shift & 31, above >> shift & 31, false, 0, flag, edge);
      out = static_cast<uint16_t>(out | v << shift);
    }
    px = out;
  }
  for (int l = 0; l < b.lines; ++l) {
    uint16_t* row = pic + size_t(l) * w;
    bool flags[3] = {};
    for (int x = 1; x < w; ++x) {
      uint16_t out = 0;
      bool hasNext = x + 1 < w;
      for (int c = 0; c < 3; ++c) {
        int shift = 10 - 5 * c;
        int next = hasNext ? row[x + 1] >> shift & 31 : 0;
        int v =
            quantise(row[x] >> shift & 31, row[x - 1] >> shift & 31, hasNext, next, flags[c], edge);
        out = static_cast<uint16_t>(out | v << shift);
      }
      row[x] = out;
    }
  }
}

}  // namespace

int bestLuma(const ColourTables& t, uint16_t colour, uint32_t chroma, int* distance) {
  uint16_t row[32];
  for (uint32_t y = 0; y < 32; ++y) row[y] = t.ycToRgb[y << 12 | chroma];
  int d = 0;
  const int y = bestLumaInRowScalar(row, colour, int(t.rgbToYc[colour] >> 12), &d);
  if (distance) *distance = d;
  return y;
}

void buildLumaRows(const ColourTables& t, uint16_t* rows) {
  for (uint32_t chroma = 0; chroma < 4096; ++chroma)
    for (uint32_t y = 0; y < 32; ++y) rows[chroma * 32 + y] = t.ycToRgb[y << 12 | chroma];
}

namespace {

// The distance (times 32) and the best luma of `colour` under `chroma`, through the worker's
// cache (neighbouring pixels ask the same questions).
inline uint32_t cachedSearch(const EncoderBuffers& b, uint64_t* cache, BestLumaInRowFn search,
                             uint16_t colour, uint32_t chroma) {
  return lumaCacheSearch(cache, b.lumaRows.data(), b.tables->rgbToYc.data(), search, colour,
                         chroma);
}

inline int cachedBestLuma(const EncoderBuffers& b, uint64_t* cache, BestLumaInRowFn search,
                          uint16_t colour, uint32_t chroma) {
  return int(cachedSearch(b, cache, search, colour, chroma) & 31);
}

}  // namespace

namespace {

// Votes on every cell of one cell row, from the picture as it came in: cells `Cw` pixels wide,
// of which `Lines` lines are in the picture.
template <int Cw, int Lines>
void voteCells(EncoderBuffers& b, uint64_t* cache, const uint16_t* pic, uint32_t* yc, int cellRow) {
  using Line = std::conditional_t<Cw == 4, uint64_t, uint32_t>;  // one line of a cell's colours
  const ColourTables& t = *b.tables;
  const LumaSearchKernels& k = lumaSearchKernels();
  const int w = b.width, ch = b.cellH;
  const int cellCols = w / Cw;
  const int l = cellRow * ch;
  constexpr int n = Lines * Cw;
  // The targets of the cell row's lines as they came in, a whole line in one tight loop (the
  // pixels right of the last whole cell included); the cells copy theirs from there. (Gathered
  // eight at a time they take fewer instructions but longer.)
  const uint32_t* toYc = t.rgbToYc.data();
  const size_t end = size_t(l + Lines) * w;
  size_t p = size_t(l) * w;
  for (; p + 4 <= end; p += 4) {
    yc[p] = toYc[pic[p]];
    yc[p + 1] = toYc[pic[p + 1]];
    yc[p + 2] = toYc[pic[p + 2]];
    yc[p + 3] = toYc[pic[p + 3]];
  }
  for (; p < end; ++p) yc[p] = toYc[pic[p]];
  const VoteCellContext ctx{b.lumaModels.data(), b.lumaRows.data(), t.rgbToYc.data(), cache,
                            k.bestLumaInRow};
  // Every cell is taken in before the first vote: its lines into the memo of the colours last
  // voted on (each line compared with what it held), its colours and targets into the cell
  // row's own arrays, cell after cell, and the cells that changed (or were never voted on) onto
  // the list of those to vote on, without a branch per cell. The votes then read lines stored
  // long before (read whole soon after they were written value by value, they would wait for
  // the stores). A whole cell of 16 is read straight from the memo, laid out the same way.
  constexpr bool fromMemo = n == 16;
  const size_t firstCell = size_t(cellRow) * cellCols;
  const size_t cellSize = size_t(Cw * ch);
  alignas(32) uint16_t colours[fromMemo ? 1 : kMaxWidth / Cw][16];
  alignas(32) uint32_t ycs[kMaxWidth / Cw][16];
  uint16_t todo[kMaxWidth / Cw];
  int count = 0;
  const uint16_t* cellPic = pic + size_t(l) * w;
  const uint32_t* cellYc = yc + size_t(l) * w;
  uint16_t* memo = b.voteColours.data() + firstCell * cellSize;
  const uint8_t* known = b.voteKnown.data() + firstCell;
  for (int cx = 0; cx < cellCols; ++cx, cellPic += Cw, cellYc += Cw, memo += cellSize) {
    Line changed = 0;  // bits where a line differs
    for (int dy = 0; dy < Lines; ++dy) {
      Line v = 0, m = 0;
      std::memcpy(&v, cellPic + size_t(dy) * w, sizeof v);
      std::memcpy(&m, memo + dy * Cw, sizeof m);
      changed |= v ^ m;
      std::memcpy(memo + dy * Cw, &v, sizeof v);
      if constexpr (!fromMemo) std::memcpy(colours[cx] + dy * Cw, &v, sizeof v);
      std::memcpy(ycs[cx] + dy * Cw, cellYc + size_t(dy) * w, Cw * sizeof(uint32_t));
    }
    todo[count] = uint16_t(cx);
    count += known[cx] == 0 || changed != 0;
  }
  const uint16_t* memoRow = b.voteColours.data() + firstCell * cellSize;
  for (int i = 0; i < count; ++i) {
    const int cx = todo[i];
    const size_t cell = firstCell + size_t(cx);
    const uint16_t* cellColours = fromMemo ? memoRow + size_t(cx) * cellSize : colours[cx];
    b.voteResult[cell] =
        k.voteCell(ctx, cellColours, ycs[cx], n, b.voteLumas.data() + cell * cellSize);
    b.voteKnown[cell] = 1;
  }
}

// The same for any cell row: cells of 2 x 1, 2 x 2, 4 x 2 and 4 x 4, the last row of cells
// possibly cut short by the picture.
void voteCellRow(EncoderBuffers& b, uint64_t* cache, const uint16_t* pic, uint32_t* yc,
                 int cellRow) {
  const int lines = std::min(b.cellH, b.lines - cellRow * b.cellH);
  if (b.cellW == 2) {
    if (lines == 2)
      voteCells<2, 2>(b, cache, pic, yc, cellRow);
    else
      voteCells<2, 1>(b, cache, pic, yc, cellRow);
    return;
  }
  switch (lines) {
    case 4:
      voteCells<4, 4>(b, cache, pic, yc, cellRow);
      break;
    case 3:
      voteCells<4, 3>(b, cache, pic, yc, cellRow);
      break;
    case 2:
      voteCells<4, 2>(b, cache, pic, yc, cellRow);
      break;
    default:
      voteCells<4, 1>(b, cache, pic, yc, cellRow);
      break;
  }
}

// Quantises the voted chroma of cell (cellRow, cx) against `pred` (the cell to its left, or
// above for the first column; none for the first cell) with the row's step-doubling flags.
inline uint32_t quantiseCell(const EncoderBuffers& b, size_t cell, const uint32_t* pred, bool& fcr,
                             bool& fcb, bool edge) {
  const uint32_t best = b.voteResult[cell];
  if (!pred) return best;
  const int cr = quantise(int(best >> 6), int(*pred >> 6), false, 0, fcr, edge);
  const int cb = quantise(int(best & 63), int(*pred & 63), false, 0, fcb, edge);
  return uint32_t(cr) << 6 | uint32_t(cb);
}

// The first column of cells, a chain down the picture: each against the cell above.
void quantiseFirstColumn(EncoderBuffers& b, int cellRows, bool edge) {
  const size_t cellCols = size_t(b.width / b.cellW);
  uint32_t* cellChroma = b.cellChroma.data();
  for (int r = 0; r < cellRows; ++r) {
    bool fcr = false, fcb = false;
    const size_t cell = size_t(r) * cellCols;
    cellChroma[cell] =
        quantiseCell(b, cell, r > 0 ? cellChroma + cell - cellCols : nullptr, fcr, fcb, edge);
  }
}

// The rest of one cell row once the first column is known, each cell against the one to its
// left. The first cell is quantised again only for the flags it leaves (it is not written: the
// task of the row below may be reading it).
void quantiseCellRow(EncoderBuffers& b, int cellRow, bool edge) {
  const size_t cellCols = size_t(b.width / b.cellW);
  uint32_t* cellChroma = b.cellChroma.data();
  const size_t first = size_t(cellRow) * cellCols;
  bool fcr = false, fcb = false;
  quantiseCell(b, first, cellRow > 0 ? cellChroma + first - cellCols : nullptr, fcr, fcb, edge);
  for (size_t cell = first + 1; cell < first + cellCols; ++cell)
    cellChroma[cell] = quantiseCell(b, cell, cellChroma + cell - 1, fcr, fcb, edge);
}

// The best luma of every pixel of one line under its cell's chroma (`Cw` pixels wide): where
// the quantised chroma is the voted one the vote knows it, else it is searched.
template <int Cw, int Ch>
void wantedLumas(const EncoderBuffers& b, uint64_t* cache, const uint16_t* row,
                 const uint32_t* chromaRow, const uint32_t* votedRow, const uint8_t* lumaRow,
                 uint8_t* wanted) {
  constexpr size_t stride = size_t(Cw) * size_t(Ch);  // the vote's lumas, cell after cell
  const BestLumaInRowFn search = lumaSearchKernels().bestLumaInRow;
  auto cell = [&](int cx) {
    const uint32_t chroma = chromaRow[cx];
    const int x0 = cx * Cw;
    if (__builtin_expect(chroma == votedRow[cx], 1)) {
      std::memcpy(wanted + x0, lumaRow + size_t(cx) * stride, Cw);
      return;
    }
    for (int x = x0; x < x0 + Cw; ++x)
      wanted[x] = uint8_t(cachedBestLuma(b, cache, search, row[x], chroma));
  };
  const int cells = b.width / Cw;
  int cx = 0;
  // Two cells a step while both keep their voted chromas.
  for (; cx + 2 <= cells; cx += 2) {
    uint64_t chromas, voted;
    std::memcpy(&chromas, chromaRow + cx, 8);
    std::memcpy(&voted, votedRow + cx, 8);
    if (__builtin_expect(chromas == voted, 1)) {
      std::memcpy(wanted + cx * Cw, lumaRow + size_t(cx) * stride, Cw);
      std::memcpy(wanted + (cx + 1) * Cw, lumaRow + size_t(cx + 1) * stride, Cw);
      continue;
    }
    cell(cx);
    cell(cx + 1);
  }
  for (; cx < cells; ++cx) cell(cx);
}

// The lumas of one line, quantised along the line from its first pixel (already done).
void quantiseLine(EncoderBuffers& b, uint64_t* cache, const uint16_t* source, uint16_t* pic,
                  uint32_t* yc, int l, bool edge) {
  const int w = b.width;
  const uint16_t* sourceRow = source + size_t(l) * w;
  uint16_t* row = pic + size_t(l) * w;
  uint32_t* yrow = yc + size_t(l) * w;
  const size_t firstCell = size_t(l / b.cellH) * size_t(w / b.cellW);
  const uint32_t* chromaRow = b.cellChroma.data() + firstCell;
  const uint32_t* votedRow = b.voteResult.data() + firstCell;
  // The vote's lumas of this line: cell cx, pixel dx of its line.
  const int cw = b.cellW, cellPixels = cw * b.cellH;
  const uint8_t* lumaRow =
      b.voteLumas.data() + firstCell * size_t(cellPixels) + size_t(l % b.cellH) * size_t(cw);
  uint8_t wanted[kMaxWidth];
  // Cells of the types with cells: 2 x 1, 2 x 2, 4 x 2, 4 x 4.
  if (cw == 4 && b.cellH == 4)
    wantedLumas<4, 4>(b, cache, sourceRow, chromaRow, votedRow, lumaRow, wanted);
  else if (cw == 4)
    wantedLumas<4, 2>(b, cache, sourceRow, chromaRow, votedRow, lumaRow, wanted);
  else if (b.cellH == 2)
    wantedLumas<2, 2>(b, cache, sourceRow, chromaRow, votedRow, lumaRow, wanted);
  else
    wantedLumas<2, 1>(b, cache, sourceRow, chromaRow, votedRow, lumaRow, wanted);
  const LumaLineJob job{wanted,
                        yrow,
                        row,
                        chromaRow,
                        b.tables->ycToRgb.data(),
                        w,
                        __builtin_ctz(unsigned(cw)),
                        edge,
                        b.lumaRows.data()};
  prequantiseKernels().lumaLine(job);
}

}  // namespace

void prequantise(EncoderBuffers& b, const uint16_t* source, uint16_t* pic, uint32_t* yc, bool edge,
                 bool aside) {
  if (b.type == 0) {
    if (source != pic) std::memcpy(pic, source, size_t(b.width) * size_t(b.lines) * 2);
    prequantiseRgb(b, pic, edge);
    return;
  }
  const ColourTables& t = *b.tables;
  const int w = b.width, lines = b.lines, ch = b.cellH;
  const int cellRows = (lines + ch - 1) / ch;
  const int cellCols = w / b.cellW;
  // The vote reads only the incoming picture and each cell row writes its own cells, so the
  // cell rows go to the workers in any order; so do the lines once their first pixels (a
  // chain down the first column) are known.
  const int asideCache = int(b.lumaCaches.size()) - 1;
  auto forEach = [&](int count, auto&& task) {
    if (aside)
      b.pool->runAside(count, task);  // workers: the aside's own cache is the last one
    else
      b.pool->run(count, task);
  };
  // Each cell row's later work (its chromas after the first, its lines) goes preferably to the
  // worker that voted on it, whose cache still holds what the vote wrote: a row is claimed
  // once, from state[cellRow] (the voter plus one while unclaimed, 0 once claimed). Any
  // worker may take any row, so the result does not depend on who does what. (The pool hands
  // the caller its tasks from the end and the helpers theirs from the start, so each worker
  // votes on a stretch of rows, mostly the same one from frame to frame.)
  std::atomic<uint8_t> state[kMaxHeight];
  forEach(cellRows, [&](int cellRow, int worker) {
    voteCellRow(b, b.lumaCaches[size_t(worker)].data(), source, yc, cellRow);
    state[cellRow].store(uint8_t(std::min(worker, 254) + 1), std::memory_order_relaxed);
  });
  quantiseFirstColumn(b, cellRows, edge);
  uint64_t* cache0 = b.lumaCaches[size_t(aside ? asideCache : 0)].data();
  // The step-doubling flags start clear on every line, also for the first column's luma
  // (against the pixel above) and the first cell's chroma (against the cell above): each is
  // the start of its line, not a step of a walk down the column. The coding passes then
  // follow the decoder's column pass, which carries its states down the column, and write
  // back what it rebuilds.
  for (int l = 0; l < lines; ++l) {
    const size_t i = size_t(l) * w;
    const uint32_t chroma = b.cellChroma[size_t(l / ch) * cellCols];
    int y = cachedBestLuma(b, cache0, lumaSearchKernels().bestLumaInRow, source[i], chroma);
    if (l > 0) {
      bool flag = false;
      y = quantise(y, int(yc[i - w] >> 12), false, 0, flag, edge);
    }
    yc[i] = uint32_t(y) << 12 | chroma;
    pic[i] = t.ycToRgb[yc[i]];
  }
  // One task per cell row; a task takes the first unclaimed row its worker voted on, else the
  // first unclaimed row, looking from the worker's end of the picture (with helpers the
  // caller's is the bottom; alone it goes down the picture).
  const bool shared = b.pool->threads() > 1;
  forEach(cellRows, [&](int, int worker) {
    const uint8_t mine = uint8_t(std::min(worker, 254) + 1);
    const bool up = shared && worker == 0;
    const int step = up ? -1 : 1;
    const int first = up ? cellRows - 1 : 0;
    int row = -1;
    for (int pass = 0; pass < 2 && row < 0; ++pass)
      for (int r = first; r >= 0 && r < cellRows; r += step) {
        uint8_t v = state[r].load(std::memory_order_relaxed);
        if (v == 0 || (pass == 0 && v != mine)) continue;
        if (state[r].compare_exchange_strong(v, 0, std::memory_order_relaxed)) {
          row = r;
          break;
        }
      }
    quantiseCellRow(b, row, edge);
    uint64_t* cache = b.lumaCaches[size_t(worker)].data();
    const int end = std::min(lines, (row + 1) * ch);
    for (int l = row * ch; l < end; ++l) quantiseLine(b, cache, source, pic, yc, l, edge);
  });
}

void prequantise(EncoderBuffers& b, uint16_t* pic, uint32_t* yc, bool edge, bool aside) {
  prequantise(b, pic, pic, yc, edge, aside);
}

}  // namespace zov

// The rectangle search's kernels: the run map (candidates in a row to the right) of one line,
// the runs of one value for solid rectangles, equal neighbours of a line, the heights of a line
// with the pixels worth queueing, the map of runs column by column, the largest rectangle down a
// column and the candidates' return to coded. Every version gives the reference's output
// exactly.
#pragma once

#include <cstdint>

namespace zov {

// runs[x] = the number of entries equal to `candidate` from map[x] rightwards without a break,
// capped at 255 (0 where map[x] is not the candidate), for x in 0..width-1.
using RunMapLineFn = void (*)(const uint8_t* map, uint8_t* runs, int width, uint8_t candidate);

// Solid rectangles' runs: runs[x] = the number of entries from map[x] rightwards that equal
// `candidate` and hold the value of entry x, without a break, capped at 255 (0 where map[x] is
// not the candidate), for x in 0..width-1 (values: 17-bit targets or colours).
using SameRunLine32Fn = void (*)(const uint8_t* map, const uint32_t* value, uint8_t* runs,
                                 int width, uint8_t candidate);
using SameRunLine16Fn = void (*)(const uint8_t* map, const uint16_t* value, uint8_t* runs,
                                 int width, uint8_t candidate);

// out[x] = 1 where a[x] == b[x], else 0, for x in 0..n-1 (the values: 17-bit targets or
// colours).
using EqualLine32Fn = void (*)(const uint32_t* a, const uint32_t* b, uint8_t* out, int n);
using EqualLine16Fn = void (*)(const uint16_t* a, const uint16_t* b, uint8_t* out, int n);

// One line of the heights pass, which goes bottom-up.
struct HeightsLineJob {
  const uint8_t* runs;       // the line's runs
  const uint8_t* above;      // the runs of the line above (nullptr on the first line)
  const uint8_t* sameAbove;  // solid rectangles: 1 where the pixel above holds the same value
  const uint8_t* below;      // the heights of the line below (nullptr on the last line)
  const uint8_t* sameBelow;  // solid rectangles: 1 where the pixel below holds the same value
  uint8_t* heights;          // out: the line's heights
  int width;
  uint32_t minArea;
  int32_t* columns;  // out: the columns worth a closer look, increasing
};

// heights[x] = 0 where runs[x] is 0, else 1 + min(down, 254), where down is below[x] when
// there is a line below and (without sameBelow, or where sameBelow[x] is not 0), else 0.
// Lists the columns whose heights[x] * runs[x] reaches minArea, but not those held back by the
// line above: above given, heights[x] < 255, above[x] >= runs[x] and (without sameAbove, or
// where sameAbove[x] is not 0); nor, when minArea is above 0, those held back by their left
// neighbour: x > 0, runs[x - 1] > runs[x] and heights[x - 1] >= heights[x]. Returns the number of
// columns listed.
using HeightsLineFn = int (*)(const HeightsLineJob& job);

// The largest rectangle down a column of runs: the rectangle of height h has the width
// min(column[0..h-1]), for h up to maxLines; a run of 0 ends the column. The largest area above
// minArea - 1, at equal areas the lowest height (area 0 when there is none).
struct ColumnBest {
  int area = 0, width = 0, height = 0;
};
// Reads up to 32 entries past maxLines (which are not used).
using LargestInColumnFn = ColumnBest (*)(const uint8_t* column, int maxLines, int minArea);

// Every entry of map[0..n-1] equal to `from` becomes `to` (the candidates a search did not take
// go back to being coded).
using ReplaceEntriesFn = void (*)(uint8_t* map, int n, uint8_t from, uint8_t to);

// The map of runs column by column: byColumn[x * lines + l] = runs[l * width + x].
using TransposeRunsFn = void (*)(const uint8_t* runs, int width, int lines, uint8_t* byColumn);

struct RectangleSearchKernels {
  RunMapLineFn runMapLine;
  SameRunLine32Fn sameRunLine32;
  SameRunLine16Fn sameRunLine16;
  EqualLine32Fn equalLine32;
  EqualLine16Fn equalLine16;
  HeightsLineFn heightsLine;
  LargestInColumnFn largestInColumn;
  TransposeRunsFn transposeRuns;
  ReplaceEntriesFn replaceEntries;
};

// The plain C++ references.
void runMapLineScalar(const uint8_t* map, uint8_t* runs, int width, uint8_t candidate);
void sameRunLine32Scalar(const uint8_t* map, const uint32_t* value, uint8_t* runs, int width,
                         uint8_t candidate);
void sameRunLine16Scalar(const uint8_t* map, const uint16_t* value, uint8_t* runs, int width,
                         uint8_t candidate);
void equalLine32Scalar(const uint32_t* a, const uint32_t* b, uint8_t* out, int n);
void equalLine16Scalar(const uint16_t* a, const uint16_t* b, uint8_t* out, int n);
int heightsLineScalar(const HeightsLineJob& job);
ColumnBest largestInColumnScalar(const uint8_t* column, int maxLines, int minArea);
void replaceEntriesScalar(uint8_t* map, int n, uint8_t from, uint8_t to);
void transposeRunsScalar(const uint8_t* runs, int width, int lines, uint8_t* byColumn);

// The table for the given processor flags (references where a flag is missing).
RectangleSearchKernels rectangleSearchKernelsFor(unsigned cpuFlags);
// The table for this process, chosen once from cpuFlags().
const RectangleSearchKernels& rectangleSearchKernels();

}  // namespace zov

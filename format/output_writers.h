// The writers of the output methods. Each method has two: writeFullFrame writes every row of
// the active picture; writeChangedBlocks skips the runs recorded in the unchanged map (the
// Interframe blocks and letterbox margins the decoder marked) by their stored width. Writers are
// installed per method from a table, reference versions first; faster versions replace entries.
#pragma once

#include <cstdint>

#include "format/output_geometry.h"
#include "format/output_tables.h"

namespace zov {

struct OutputFrame {
  const OutputGeometry* geometry = nullptr;
  const OutputTables* tables = nullptr;
  const uint16_t* picture = nullptr;      // width x height pixels, row 0 the bottom row
  const uint8_t* unchangedMap = nullptr;  // one byte per pixel: run width at a run's start
  const uint8_t* blockMap = nullptr;      // method 13: every block's width at its row starts
  const uint8_t* entropyMap = nullptr;    // method 13: 1 at the row starts of Entropy blocks
  uint8_t* dest = nullptr;                // the output area's lowest address
};

using OutputWriter = void (*)(const OutputFrame&);

struct MethodWriters {
  OutputWriter writeFullFrame;
  OutputWriter writeChangedBlocks;
};

// The plain versions, one entry per method; the yardstick for the faster ones.
const MethodWriters& referenceWriters(int method);
// The writers in use: the reference table with faster versions where they exist.
const MethodWriters& methodWriters(int method);

// Per-kind reference entries, defined beside their kernels.
MethodWriters plainWriters(int method);      // 0, 1, 2, 9
MethodWriters enlargeWriters16(int method);  // 3, 4, 5, 6
MethodWriters enlargeWriters8(int method);   // 7, 8, 10, 11, 12
MethodWriters diagnosticWriters();           // 13
MethodWriters yuvWriters(int method);        // 14, 15
// Faster versions where they exist (entries left null otherwise).
MethodWriters fastWriters(int method);

}  // namespace zov

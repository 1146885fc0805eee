// The routine table of the filter kinds and running a filter list over a frame.
#include "encoder/filters.h"

namespace zov {
namespace {

// One routine per level for the kinds that have them, so the level never reaches the inner
// loops; the other kinds take the level.
template <int Level>
void invertedLowPass(uint16_t* p, uint8_t* work, int w, int h, int, int) {
  filterInvertedLowPass(p, work, w, h, Level);
}
template <int Level>
void lowPass(uint16_t* p, uint8_t* work, int w, int h, int, int) {
  filterLowPass(p, work, w, h, Level);
}
void highPass(uint16_t* p, uint8_t* work, int w, int h, int, int) {
  filterHighPass(p, work, w, h);
}
void median(uint16_t* p, uint8_t* work, int w, int h, int, int) {
  filterMedian(p, work, w, h);
}
void flatten(uint16_t* p, uint8_t* work, int w, int h, int, int level) {
  filterFlatten(p, work, w, h, level);
}
void rip(uint16_t* p, uint8_t* work, int w, int h, int, int) {
  filterRip(p, work, w, h);
}
void gamma(uint16_t* p, uint8_t*, int, int, int count, int level) {
  filterGamma(p, count, level);
}
void brightness(uint16_t* p, uint8_t*, int, int, int count, int level) {
  filterBrightness(p, count, level);
}
void contrast(uint16_t* p, uint8_t*, int, int, int count, int level) {
  filterContrast(p, count, level);
}

constexpr FilterRoutine kInvertedLowPass[4] = {invertedLowPass<1>, invertedLowPass<2>,
                                               invertedLowPass<3>, invertedLowPass<4>};
constexpr FilterRoutine kLowPass[4] = {lowPass<1>, lowPass<2>, lowPass<3>, lowPass<4>};
constexpr FilterRoutine kHighPass[1] = {highPass};
constexpr FilterRoutine kMedian[1] = {median};

// Per kind: the per-level routines (null for kinds with a single routine) or the one routine.
struct KindRoutines {
  const FilterRoutine* perLevel;
  FilterRoutine single;
};
constexpr KindRoutines kRoutines[kFilterKindCount] = {
    {kInvertedLowPass, nullptr}, {kHighPass, nullptr}, {kMedian, nullptr}, {kLowPass, nullptr},
    {nullptr, flatten},          {nullptr, rip},       {nullptr, gamma},   {nullptr, brightness},
    {nullptr, contrast},
};

}  // namespace

FilterRoutine filterRoutine(int32_t kind, int32_t level) {
  if (!isFilterKind(kind) || !filterLevelInRange(kind, level)) return nullptr;
  const KindRoutines& r = kRoutines[kind];
  return kFilterKinds[kind].perLevelRoutines ? r.perLevel[level - 1] : r.single;
}

bool runFilter(const FilterEntry& entry, uint16_t* pixels, uint8_t* work, int width, int height) {
  FilterRoutine routine = filterRoutine(entry.kind, entry.level);
  if (!routine || width <= 0 || height <= 0) return false;
  routine(pixels, work, width, height, width * height, entry.level);
  return true;
}

void runFilterList(std::span<const FilterEntry> list, uint16_t* pixels, uint8_t* work, int width,
                   int height) {
  for (const FilterEntry& entry : list) runFilter(entry, pixels, work, width, height);
}

}  // namespace zov

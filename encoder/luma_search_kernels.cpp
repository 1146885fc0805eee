#include "encoder/luma_search_kernels.h"

#include <algorithm>
#include <cstring>

#include "encoder/colour_quantiser.h"
#include "format/cpu_features.h"

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#define ZOV_X86 1
#endif

namespace zov {

int bestLumaInRowScalar(const uint16_t* row, uint16_t colour, int start, int* distance) {
  int best = start;
  int bestD = colourDistance(colour, row[start]);
  if (bestD != 0) {
    for (int y = start - 1; y >= 0; --y) {
      int d = colourDistance(colour, row[y]);
      if (d >= bestD) break;
      best = y;
      bestD = d;
      if (d == 0) break;
    }
  }
  if (bestD != 0) {
    for (int y = start + 1; y <= 31; ++y) {
      int d = colourDistance(colour, row[y]);
      if (d >= bestD) break;
      best = y;
      bestD = d;
      if (d == 0) break;
    }
  }
  *distance = bestD;
  return best;
}

uint32_t lumaDistancesScalar(const LumaRowModel&, const uint16_t* row, const VoteColours& c,
                             const uint32_t* than, uint8_t* lumas, uint32_t* distances,
                             VoteTally* tally) {
  VoteTally t;
  for (int u = 0; u < c.count; ++u) {
    int d = 0;
    lumas[u] = uint8_t(bestLumaInRowScalar(row, c.colour[u], c.start[u], &d));
    distances[u] = uint32_t(d);
    t.closer += distances[u] < than[u];
    t.sum += distances[u];
  }
  *tally = t;
  return 0;
}

void setVoteColours(VoteColours& c, const uint16_t* colours, int count, const uint32_t* rgbToYc) {
  uint32_t ycs[16] = {};
  for (int u = 0; u < count; ++u) ycs[u] = rgbToYc[colours[u]];
  voteFillScalar(c, colours, ycs, count);
}

int voteChromasScalar(const uint32_t* ycs, int n, uint32_t* chromas) {
  int count = 0;
  for (int i = 0; i < n; ++i) {
    const uint32_t chroma = ycs[i] & 0xFFF;
    int k = 0;
    while (k < count && chromas[k] != chroma) ++k;
    if (k == count) chromas[count++] = chroma;
  }
  return count;
}

void voteFillScalar(VoteColours& c, const uint16_t* colours, const uint32_t* ycs, int n) {
  for (int u = 0; u < 16; ++u) {
    const uint16_t colour = u < n ? colours[u] : 0;
    c.colour[u] = colour;
    c.r[u] = int16_t(colour >> 10 & 31);
    c.g[u] = int16_t(colour >> 5 & 31);
    c.b[u] = int16_t(colour & 31);
    c.start[u] = int16_t(u < n ? ycs[u] >> 12 : 0);
    c.weighted[u] = int16_t(30 * c.r[u] + 59 * c.g[u] + 20 * c.b[u]);
  }
  c.count = n;
}

int voteTallyScalar(const uint32_t* distances, const uint32_t* than, int n, uint32_t* sum) {
  int closer = 0;
  uint32_t total = 0;
  for (int u = 0; u < n; ++u) {
    closer += distances[u] < than[u];
    total += distances[u];
  }
  *sum = total;
  return closer;
}

uint32_t lumaCacheFill(uint64_t& entry, const uint16_t* rows, const uint32_t* rgbToYc,
                       BestLumaInRowFn search, uint16_t colour, uint32_t chroma, uint32_t key) {
  int d = 0;
  const int y = search(rows + size_t(chroma) * 32, colour, int(rgbToYc[colour] >> 12), &d);
  const uint32_t found = uint32_t(d) << 5 | uint32_t(y);
  entry = uint64_t(key + 1) << 32 | found;
  return found;
}

namespace {

// Against these the tally counts the pixels matched exactly.
alignas(32) constexpr uint32_t kOnes[16] = {1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1};

// The vote with the kernels of a table, one call per proposal. The distances kernel answers the
// lanes whose walk stays on the row's line with their tally against the best; the cache is asked
// for the others, and only while the proposal could still win.
uint32_t voteCellWith(const LumaSearchKernels& k, const VoteCellContext& ctx,
                      const uint16_t* colours, const uint32_t* ycs, int n, uint8_t* lumas) {
  alignas(32) uint32_t proposals[16];
  const int count = k.voteChromas(ycs, n, proposals);
  VoteColours c;
  k.voteFill(c, colours, ycs, n);
  alignas(32) uint32_t distances[2][16];
  alignas(16) uint8_t lumasOf[2][16];
  uint32_t* dist = distances[0];
  uint32_t* bestDist = distances[1];
  uint8_t* luma = lumasOf[0];
  uint8_t* bestLuma = lumasOf[1];
  // The reference walks every colour uncached: on that path the cache answers them all.
  const bool walkAll = k.lumaDistances == lumaDistancesScalar;
  uint32_t bestSum = 0;
  // The distances under `chroma` and their tally against `than`. Unless `all`, gives up (false)
  // as soon as the proposal cannot win any more: even with every pixel still to search closer,
  // no more than half would be (or exactly half, with the sum already too large).
  auto distancesUnder = [&](uint32_t chroma, const uint32_t* than, bool all, VoteTally& t) {
    uint32_t left = (1u << n) - 1;
    if (walkAll) {
      t = VoteTally{};
      t.undone = n;
    } else {
      left = k.lumaDistances(ctx.models[chroma], ctx.rows + size_t(chroma) * 32, c, than, luma,
                             dist, &t);
    }
    int closer = t.closer, open = t.undone;
    uint32_t sum = t.sum;
    auto lost = [&] {
      const int most = 2 * (closer + open);
      return most < n || (most == n && sum >= bestSum);
    };
    if (!all && lost()) return false;
    for (; left; left &= left - 1) {
      const int u = __builtin_ctz(left);
      const uint32_t found =
          lumaCacheSearch(ctx.cache, ctx.rows, ctx.rgbToYc, ctx.search, c.colour[u], chroma);
      const uint32_t d = found >> 5;
      luma[u] = uint8_t(found & 31);
      dist[u] = d;
      sum += d;
      --open;
      if (d < than[u])
        ++closer;
      else if (!all && lost())
        return false;
    }
    t.closer = closer;
    t.sum = sum;
    return true;
  };
  uint32_t best = proposals[0];
  VoteTally t;
  distancesUnder(best, kOnes, true, t);
  std::swap(dist, bestDist);
  std::swap(luma, bestLuma);
  if (count > 1) {
    bestSum = t.sum;
    int openWeight = n - t.closer;  // pixels not matched exactly
    for (int p = 1; p < count; ++p) {
      // More than half of the pixels are matched exactly: no later proposal can win.
      if (2 * openWeight < n) break;
      if (!distancesUnder(proposals[p], bestDist, false, t)) continue;
      if (2 * t.closer < n || (2 * t.closer == n && t.sum >= bestSum)) continue;
      best = proposals[p];
      bestSum = t.sum;
      std::swap(dist, bestDist);
      std::swap(luma, bestLuma);
      uint32_t unused = 0;
      openWeight = n - k.voteTally(bestDist, kOnes, n, &unused);
    }
  }
  std::copy(bestLuma, bestLuma + n, lumas);
  return best;
}

}  // namespace

uint32_t voteCellScalar(const VoteCellContext& ctx, const uint16_t* colours, const uint32_t* ycs,
                        int n, uint8_t* lumas) {
  static const LumaSearchKernels k = lumaSearchKernelsFor(0);
  return voteCellWith(k, ctx, colours, ycs, n, lumas);
}

namespace {

// floor(x / 2W) = mulhi(mulhi(x, magic), scale) for 0 <= x < 300 W, for every weight a stretch
// beyond the line can have (each magic tried over that range).
struct StretchDivisor {
  int weight, magic, scale;
};
constexpr StretchDivisor kStretchDivisors[] = {{89, 47128, 512},  {79, 53093, 512},
                                               {59, 35545, 1024}, {50, 41944, 1024},
                                               {30, 34953, 2048}, {20, 52429, 2048}};

// The stretch beyond `end` (hi when `up`, else lo) of a line with these offsets: the components
// that leave the cube's range there stay clamped, the others move on until the next one leaves.
LumaRowModel::Stretch stretchBeyond(const int* offset, int end, bool up) {
  static constexpr int kWeight[3] = {30, 59, 20};
  LumaRowModel::Stretch st;
  int active = 0, weight = 0, weightedOffsets = 0, from = 0, to = 31;
  for (int c = 0; c < 3; ++c) {
    const int limit = up ? 31 - offset[c] : -offset[c];  // where this component leaves
    if (limit == end) continue;                          // clamped beyond the end
    active |= 1 << c;
    weight += kWeight[c];
    weightedOffsets += kWeight[c] * offset[c];
    if (up)
      to = std::min(to, limit);
    else
      from = std::max(from, limit);
  }
  const StretchDivisor* d = nullptr;
  for (const StretchDivisor& e : kStretchDivisors)
    if (e.weight == weight) d = &e;
  if (!d) return st;  // all three clamped: a single colour, left to the walk
  st.active = int16_t(active);
  st.bias = int16_t(129 * weight - 2 * weightedOffsets);
  st.magic = int16_t(d->magic);
  st.scale = int16_t(d->scale);
  st.from = int16_t(up ? end : from);
  st.to = int16_t(up ? to : end);
  st.below = int16_t(st.from > 0 ? st.from + 1 : 0);
  st.above = int16_t(st.to < 31 ? st.to - 1 : 31);
  return st;
}

}  // namespace

void buildLumaRowModels(const uint16_t* rows, LumaRowModel* models) {
  for (int k = 0; k < 4096; ++k) {
    const uint16_t* row = rows + size_t(k) * 32;
    LumaRowModel m;
    int offset[3], lo = 0, hi = 31;
    bool line = true;
    for (int c = 0; c < 3 && line; ++c) {
      const int shift = 10 - 5 * c;
      // The offset from a luma whose component is not clamped, then every luma checked.
      int o = 99;
      for (int y = 0; y < 32 && o == 99; ++y) {
        const int v = row[y] >> shift & 31;
        if (v > 0 && v < 31) o = v - y;
      }
      for (int y = 0; y < 32 && line; ++y) {
        const int v = row[y] >> shift & 31;
        line = o != 99 && v == std::clamp(y + o, 0, 31);
      }
      offset[c] = o;
      lo = std::max(lo, -o);
      hi = std::min(hi, 31 - o);
    }
    if (line && lo <= hi) {
      m.r = int16_t(offset[0]);
      m.g = int16_t(offset[1]);
      m.b = int16_t(offset[2]);
      m.lo = int16_t(lo);
      m.hi = int16_t(hi);
      m.weighted = int16_t(30 * offset[0] + 59 * offset[1] + 20 * offset[2]);
      // The steps beyond the line: from lo to lo - 1 the distance changes by
      // sum of w (2 (X - v) + 1) over the components that change (v: their value at lo), from hi
      // to hi + 1 by sum of w (1 - 2 (X - v)) (v: their value at hi).
      static constexpr int kWeight[3] = {30, 59, 20};
      int16_t* low[3] = {&m.lowR, &m.lowG, &m.lowB};
      int16_t* high[3] = {&m.highR, &m.highG, &m.highB};
      int lowSum = 0, lowWeight = 0, highSum = 0, highWeight = 0;
      for (int c = 0; c < 3; ++c) {
        const int shift = 10 - 5 * c;
        if (lo > 0 && (row[lo] >> shift & 31) != (row[lo - 1] >> shift & 31)) {
          *low[c] = int16_t(2 * kWeight[c]);
          lowSum += kWeight[c] * (row[lo] >> shift & 31);
          lowWeight += kWeight[c];
        }
        if (hi < 31 && (row[hi] >> shift & 31) != (row[hi + 1] >> shift & 31)) {
          *high[c] = int16_t(2 * kWeight[c]);
          highSum += kWeight[c] * (row[hi] >> shift & 31);
          highWeight += kWeight[c];
        }
      }
      // Not closer below lo: 2 T >= 2 C - W; above hi: 2 T <= 2 C + W.
      m.lowLimit = int16_t(lo > 0 ? 2 * lowSum - lowWeight - 1 : 0x7FFF);
      m.highLimit = int16_t(hi < 31 ? 2 * highSum + highWeight : -1);
    }
    m.belowLo = int16_t(m.lo > 0 ? m.lo + 1 : 0);
    m.aboveHi = int16_t(m.hi < 31 ? m.hi - 1 : 31);
    if (line && lo <= hi) {
      if (hi < 31) m.upper = stretchBeyond(offset, hi, true);
      if (lo > 0) m.lower = stretchBeyond(offset, lo, false);
    }
    const LumaRowModel::Stretch walks[3] = {{0, int16_t(109 + 64 * 218 - 2 * m.weighted),
                                             int16_t(38480), 512, m.lo, m.hi, m.belowLo, m.aboveHi},
                                            m.upper,
                                            m.lower};
    for (int e = 0; e < 3; ++e) {
      m.pick[0][e] = walks[e].magic;
      m.pick[0][3 + e] = walks[e].scale;
      m.pick[1][e] = walks[e].from;
      m.pick[1][3 + e] = walks[e].to;
      m.pick[2][e] = walks[e].below;
      m.pick[2][3 + e] = walks[e].above;
      m.pick[3][e] = walks[e].bias;
    }
    m.pick[1][6] = int16_t((m.lowR ? 1 : 0) | (m.lowG ? 2 : 0) | (m.lowB ? 4 : 0));
    m.pick[1][7] = int16_t((m.highR ? 1 : 0) | (m.highG ? 2 : 0) | (m.highB ? 4 : 0));
    m.pick[kPickR[0]][kPickR[1]] = m.r;
    m.pick[kPickG[0]][kPickG[1]] = m.g;
    m.pick[kPickB[0]][kPickB[1]] = m.b;
    m.pick[kPickLowLimit[0]][kPickLowLimit[1]] = m.lowLimit;
    m.pick[kPickHighLimit[0]][kPickHighLimit[1]] = m.highLimit;
    m.pick[kPickUpperActive[0]][kPickUpperActive[1]] = m.upper.active;
    m.pick[kPickLowerActive[0]][kPickLowerActive[1]] = m.lower.active;
    models[k] = m;
  }
}

namespace {

// The descent on all 32 distances at once. `falling` bit y: d[y] < d[y + 1]; `rising` bit y:
// d[y + 1] < d[y] (bit 31 of both is meaningless). Downwards the search takes every luma below
// the start while the distance falls; upwards its first step must beat the best of the way
// down, and after that it goes on while the distance falls.
inline int descend(const int32_t* d, uint32_t falling, uint32_t rising, int start, int* distance) {
  int best = start;
  if (d[start] != 0 && start > 0) {
    const uint32_t stops = ~falling & ((1u << start) - 1);
    best = stops ? 32 - __builtin_clz(stops) : 0;
  }
  if (d[best] != 0 && start < 31 && d[start + 1] < d[best]) {
    const uint32_t stops = ~rising & (0x7FFFFFFFu & ~((2u << start) - 1));
    best = stops ? __builtin_ctz(stops) : 31;
  }
  *distance = d[best];
  return best;
}

#ifdef ZOV_X86

// AVX2: the 32 distances in four registers of eight. (An SSE2 version of the same costs more
// than the reference's short walks: on footage most descents end after two or three steps.)
__attribute__((target("avx2"))) int bestLumaInRowAvx2(const uint16_t* row, uint16_t colour,
                                                      int start, int* distance) {
  alignas(32) int32_t d[32];
  // Each 32-bit lane holds one table colour as (red, green) in its two halves, and blue.
  const __m256i target = _mm256_set1_epi32(int(colour >> 10 & 31) | int(colour >> 5 & 31) << 16);
  const __m256i targetB = _mm256_set1_epi32(colour & 31);
  const __m256i weightsRG = _mm256_set1_epi32(30 | 59 << 16);
  const __m256i weightB = _mm256_set1_epi32(20);
  const __m256i five = _mm256_set1_epi32(31), fiveHigh = _mm256_set1_epi32(31 << 16);
  __m256i dv[5];
  for (int k = 0; k < 4; ++k) {
    const __m256i c =
        _mm256_cvtepu16_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(row + 8 * k)));
    const __m256i rg = _mm256_or_si256(_mm256_and_si256(_mm256_srli_epi32(c, 10), five),
                                       _mm256_and_si256(_mm256_slli_epi32(c, 11), fiveHigh));
    const __m256i drg = _mm256_sub_epi16(rg, target);
    const __m256i db = _mm256_sub_epi16(_mm256_and_si256(c, five), targetB);
    dv[k] = _mm256_add_epi32(_mm256_madd_epi16(drg, _mm256_mullo_epi16(drg, weightsRG)),
                             _mm256_madd_epi16(db, _mm256_mullo_epi16(db, weightB)));
    _mm256_store_si256(reinterpret_cast<__m256i*>(d + 8 * k), dv[k]);
  }
  dv[4] = _mm256_setzero_si256();
  const __m256i rotate = _mm256_setr_epi32(1, 2, 3, 4, 5, 6, 7, 0);
  uint32_t falling = 0, rising = 0;
  for (int k = 0; k < 4; ++k) {
    const __m256i next = _mm256_blend_epi32(_mm256_permutevar8x32_epi32(dv[k], rotate),
                                            _mm256_permutevar8x32_epi32(dv[k + 1], rotate), 0x80);
    falling |= uint32_t(_mm256_movemask_ps(_mm256_castsi256_ps(_mm256_cmpgt_epi32(next, dv[k]))))
               << 8 * k;
    rising |= uint32_t(_mm256_movemask_ps(_mm256_castsi256_ps(_mm256_cmpgt_epi32(dv[k], next))))
              << 8 * k;
  }
  return descend(d, falling, rising, start, distance);
}

// The descent's end on the line of a chroma row, eight colours per register (16-bit lanes).
// With S = 30 (R - r) + 59 (G - g) + 20 (B - b) the step from luma y down to y - 1 changes the
// distance by 2 (S - 109 y) + 109, so the walk goes down from the start while 218 y > 2 S + 109
// and ends at floor((2 S + 109) / 218) (not below 0); when it does not go down it goes up while
// 218 y < 2 S - 109 and ends at ceil((2 S - 109) / 218) (not above 31). Both quotients are taken
// of numbers made positive (+ 64 * 218) by a multiplication: x * 38480 >> 23 is x / 218 for
// every x below 32768. The answer holds when every luma the walk compares, from one below the
// lower of start and end to one above the higher, lies on the line (AVX2 also answers a walk
// that reaches lo or hi when the luma beyond is not closer, see LumaRowModel; in SSE2, where
// each cell takes two halves, those compares cost more than the walks they spare); other lanes
// are left to the caller.
struct LineLanes {
  __m128i y, slow;
};

__attribute__((target("sse2"))) inline LineLanes lineEnd(__m128i w, __m128i start,
                                                         const LumaRowModel& m) {
  const __m128i s2 = _mm_slli_epi16(_mm_sub_epi16(w, _mm_set1_epi16(m.weighted)), 1);
  const __m128i bias = _mm_set1_epi16(64);
  const __m128i recip = _mm_set1_epi16(int16_t(38480));
  const __m128i down = _mm_sub_epi16(
      _mm_srli_epi16(_mm_mulhi_epu16(_mm_add_epi16(s2, _mm_set1_epi16(109 + 64 * 218)), recip), 7),
      bias);
  const __m128i up = _mm_sub_epi16(
      _mm_srli_epi16(_mm_mulhi_epu16(_mm_add_epi16(s2, _mm_set1_epi16(108 + 64 * 218)), recip), 7),
      bias);
  const __m128i zero = _mm_setzero_si128(), top = _mm_set1_epi16(31), one = _mm_set1_epi16(1);
  const __m128i moved = _mm_cmplt_epi16(down, start);
  const __m128i y =
      _mm_or_si128(_mm_and_si128(moved, _mm_max_epi16(down, zero)),
                   _mm_andnot_si128(moved, _mm_min_epi16(_mm_max_epi16(start, up), top)));
  const __m128i low = _mm_max_epi16(_mm_sub_epi16(_mm_min_epi16(y, start), one), zero);
  const __m128i high = _mm_min_epi16(_mm_add_epi16(_mm_max_epi16(y, start), one), top);
  const __m128i slow = _mm_or_si128(_mm_cmplt_epi16(low, _mm_set1_epi16(m.lo)),
                                    _mm_cmpgt_epi16(high, _mm_set1_epi16(m.hi)));
  return {y, slow};
}

// 30 er^2 + 59 eg^2 + 20 eb^2 of four lanes, from the interleaved (er, eg) and (eb, 0) pairs.
__attribute__((target("sse2"))) inline __m128i pairDistances(__m128i rg, __m128i b0) {
  const __m128i wrg = _mm_set1_epi32(30 | 59 << 16), wb = _mm_set1_epi32(20);
  return _mm_add_epi32(_mm_madd_epi16(rg, _mm_mullo_epi16(rg, wrg)),
                       _mm_madd_epi16(b0, _mm_mullo_epi16(b0, wb)));
}

__attribute__((target("sse2"))) uint32_t lumaDistancesSse2(const LumaRowModel& m, const uint16_t*,
                                                           const VoteColours& c,
                                                           const uint32_t* than, uint8_t* lumas,
                                                           uint32_t* distances, VoteTally* tally) {
  unsigned slow = 0;
  __m128i total = _mm_setzero_si128(), counts = _mm_setzero_si128();
  for (int h = 0; h < c.count; h += 8) {
    const __m128i r = _mm_load_si128(reinterpret_cast<const __m128i*>(c.r + h));
    const __m128i g = _mm_load_si128(reinterpret_cast<const __m128i*>(c.g + h));
    const __m128i b = _mm_load_si128(reinterpret_cast<const __m128i*>(c.b + h));
    const __m128i start = _mm_load_si128(reinterpret_cast<const __m128i*>(c.start + h));
    const __m128i w = _mm_load_si128(reinterpret_cast<const __m128i*>(c.weighted + h));
    const LineLanes e = lineEnd(w, start, m);
    const __m128i er = _mm_sub_epi16(r, _mm_add_epi16(e.y, _mm_set1_epi16(m.r)));
    const __m128i eg = _mm_sub_epi16(g, _mm_add_epi16(e.y, _mm_set1_epi16(m.g)));
    const __m128i eb = _mm_sub_epi16(b, _mm_add_epi16(e.y, _mm_set1_epi16(m.b)));
    const __m128i zero = _mm_setzero_si128();
    // The lanes done: below the count and on the line (as 32-bit masks in the order of the
    // distances).
    const __m128i done =
        _mm_andnot_si128(e.slow, _mm_cmpgt_epi16(_mm_set1_epi16(int16_t(c.count - h)),
                                                 _mm_setr_epi16(0, 1, 2, 3, 4, 5, 6, 7)));
    const __m128i dLow =
        _mm_and_si128(_mm_unpacklo_epi16(done, done),
                      pairDistances(_mm_unpacklo_epi16(er, eg), _mm_unpacklo_epi16(eb, zero)));
    const __m128i dHigh =
        _mm_and_si128(_mm_unpackhi_epi16(done, done),
                      pairDistances(_mm_unpackhi_epi16(er, eg), _mm_unpackhi_epi16(eb, zero)));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(distances + h), dLow);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(distances + h + 4), dHigh);
    // Distances stay below 2^20: signed compares serve. Lanes not done are zero and not
    // counted.
    const __m128i cLow = _mm_and_si128(
        _mm_unpacklo_epi16(done, done),
        _mm_cmpgt_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(than + h)), dLow));
    const __m128i cHigh = _mm_and_si128(
        _mm_unpackhi_epi16(done, done),
        _mm_cmpgt_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(than + h + 4)), dHigh));
    counts = _mm_sub_epi32(counts, _mm_add_epi32(cLow, cHigh));
    total = _mm_add_epi32(total, _mm_add_epi32(dLow, dHigh));
    _mm_storel_epi64(reinterpret_cast<__m128i*>(lumas + h), _mm_packus_epi16(e.y, zero));
    slow |= unsigned(_mm_movemask_epi8(_mm_packs_epi16(e.slow, zero))) << h;
  }
  total = _mm_add_epi32(total, _mm_shuffle_epi32(total, 0x4E));
  total = _mm_add_epi32(total, _mm_shuffle_epi32(total, 0xB1));
  counts = _mm_add_epi32(counts, _mm_shuffle_epi32(counts, 0x4E));
  counts = _mm_add_epi32(counts, _mm_shuffle_epi32(counts, 0xB1));
  tally->sum = uint32_t(_mm_cvtsi128_si32(total));
  tally->closer = _mm_cvtsi128_si32(counts);
  slow &= (1u << c.count) - 1;
  // The lanes undone, counted by clearing the lowest until none is left.
  int undone = 0;
  for (unsigned v = slow; v; v &= v - 1) ++undone;
  tally->undone = undone;
  return slow;
}

// Bit u of the result: 16-bit lane u of `mask` is set.
__attribute__((target("avx2"))) inline uint32_t laneBits(__m256i mask) {
  const unsigned bytes = unsigned(_mm256_movemask_epi8(_mm256_packs_epi16(mask, mask)));
  return (bytes & 0xFF) | (bytes >> 8 & 0xFF00);
}

// A cell's colours in registers, sixteen-bit lanes (lanes from the count on zero), and for the
// stretches beyond the line 2 (30 r, 59 g, 20 b) summed over each set of components (bit 0 red,
// bit 1 green, bit 2 blue).
struct CellLanes {
  __m256i r, g, b, start, weighted, valid;
  __m256i parts[8];
  // Constants the proposals use (64, 1 and 31 in every lane), kept as values: with the
  // registers all taken, the compiler would otherwise build each again for every proposal from
  // a general register (two vector operations) where a reload costs none.
  __m256i bias, one, top;
  __m256i fifteen, ten;  // (kept as values too, else multiplications become shifts and adds)
};

// The parts of `l` from its components.
__attribute__((target("avx2"))) inline void setParts(CellLanes& l) {
  const __m256i r = _mm256_mullo_epi16(l.r, _mm256_set1_epi16(60));
  const __m256i g = _mm256_mullo_epi16(l.g, _mm256_set1_epi16(118));
  const __m256i b = _mm256_mullo_epi16(l.b, _mm256_set1_epi16(40));
  l.parts[0] = _mm256_setzero_si256();
  l.parts[1] = r;
  l.parts[2] = g;
  l.parts[3] = _mm256_add_epi16(r, g);
  l.parts[4] = b;
  l.parts[5] = _mm256_add_epi16(r, b);
  l.parts[6] = _mm256_add_epi16(g, b);
  l.parts[7] = _mm256_add_epi16(l.parts[3], b);
  l.bias = _mm256_set1_epi16(64);
  l.one = _mm256_set1_epi16(1);
  l.top = _mm256_set1_epi16(31);
  l.fifteen = _mm256_set1_epi16(15);
  l.ten = _mm256_set1_epi16(10);
  __asm__("" : "+x"(l.bias), "+x"(l.one), "+x"(l.top), "+x"(l.fifteen), "+x"(l.ten));
}

// The answer for one chroma. 32-bit values come in two registers whose lanes are the cell's
// lanes 0-3 and 8-11 (`low`) and 4-7 and 12-15 (`high`), as unpacking leaves them: stored one
// after the other, lane u sits at (u & 3) | (u & 4) << 1 | (u & 8) >> 1 (bits 2 and 3 swapped).
struct ProposalLanes {
  __m256i y;             // the best lumas, sixteen-bit lanes in order
  __m256i dLow, dHigh;   // distances, zero where not done
  __m256i done, undone;  // lanes done and left to the caller, sixteen-bit lanes in order
};

// Row `row` of the model's tables in both halves.
__attribute__((target("avx2"))) inline __m256i pickTable(const LumaRowModel& m, int row) {
  return _mm256_broadcastsi128_si256(_mm_load_si128(reinterpret_cast<const __m128i*>(m.pick[row])));
}

// v - clamp(y + offset, 0, 31) in each lane.
__attribute__((target("avx2"))) inline __m256i clampedError(__m256i v, __m256i y, int16_t offset,
                                                            __m256i zero, __m256i top) {
  return _mm256_sub_epi16(
      v, _mm256_min_epi16(_mm256_max_epi16(_mm256_add_epi16(y, _mm256_set1_epi16(offset)), zero),
                          top));
}

// A proposal in two halves, so that the vote can work out the next proposal's first half before
// it judges the last one: the judging then waits on a shorter chain, and more of both is in flight
// at once. The first half: each lane's best luma and whether the lane is left to the walk.
struct ProposalEnds {
  __m256i y, slow;
};

__attribute__((target("avx2"))) inline ProposalEnds proposalEndsAvx2(const LumaRowModel& m,
                                                                     const CellLanes& c) {
  const __m256i start = c.start;
  // Everything is read from the model's first cache line, pick (see kPick*).
  const auto field = [&m](const int(&at)[2]) { return m.pick[at[0]][at[1]]; };
  const __m256i lo = _mm256_set1_epi16(m.pick[1][0]), hi = _mm256_set1_epi16(m.pick[1][3]);
  // Lanes starting beyond the line take the stretch there (where there is none, or where the
  // start lies beyond the stretch too, the bounds below leave them to the caller).
  // The stretches' fields: entry 1 of the tables is the upper's, entry 2 the lower's.
  const int upActive = field(kPickUpperActive), downActive = field(kPickLowerActive);
  // (A lane of a row that is no line counts as above: that row has no stretches.)
  const __m256i above = _mm256_cmpgt_epi16(start, hi);
  const __m256i below = _mm256_andnot_si256(above, _mm256_cmpgt_epi16(lo, start));
  // Each lane's entries of the model's tables: bytes 2k and 2k + 1 for entry k, 6 on for the
  // second half of a row.
  const __m256i entry =
      _mm256_add_epi16(_mm256_set1_epi16(0x0100),
                       _mm256_or_si256(_mm256_and_si256(above, _mm256_set1_epi16(0x0202)),
                                       _mm256_and_si256(below, _mm256_set1_epi16(0x0404))));
  const __m256i second = _mm256_add_epi16(entry, _mm256_set1_epi16(0x0606));
  const __m256i limits = pickTable(m, 1), bounds = pickTable(m, 2), quotient = pickTable(m, 0);
  // x = 2 S + W + 128 W for the lane's stretch (W = 109 on the line): 2 S + 109 is odd there, so
  // the two quotients floor((2 S + 109) / 218) and ceil((2 S - 109) / 218) =
  // floor((2 S + 108) / 218) are the same number.
  const __m256i x =
      _mm256_add_epi16(_mm256_blendv_epi8(_mm256_blendv_epi8(c.parts[7], c.parts[upActive], above),
                                          c.parts[downActive], below),
                       _mm256_shuffle_epi8(pickTable(m, 3), entry));
  const __m256i magic = _mm256_shuffle_epi8(quotient, entry);
  const __m256i scale = _mm256_shuffle_epi8(quotient, second);
  const __m256i bias = c.bias;
  const __m256i fall =
      _mm256_sub_epi16(_mm256_mulhi_epu16(_mm256_mulhi_epu16(x, magic), scale), bias);
  const __m256i rise = _mm256_sub_epi16(
      _mm256_mulhi_epu16(_mm256_mulhi_epu16(_mm256_sub_epi16(x, c.one), magic), scale), bias);
  const __m256i moved = _mm256_cmpgt_epi16(start, fall);
  const __m256i from = _mm256_shuffle_epi8(limits, entry), to = _mm256_shuffle_epi8(limits, second);
  // The walk stops at the ends of its stretch at the latest (whether it stops there is checked
  // below). It ends at fall when it moved down (fall < start), else at max(rise, start), and
  // rise <= fall: both are min(fall, max(rise, start)), which takes no blend. (Lanes that start
  // outside their stretch may come out otherwise; they are left to the walk.)
  __m256i y = _mm256_min_epi16(
      _mm256_max_epi16(_mm256_min_epi16(fall, _mm256_max_epi16(rise, start)), from), to);
  const __m256i first = _mm256_min_epi16(y, start), last = _mm256_max_epi16(y, start);
  // The walks that compare a luma beyond their stretch; of them, one that ends at lo or hi is
  // done when the luma beyond is not closer. When it is closer, a walk that reached lo going
  // down (or hi going up, not having gone down) goes on in the stretch beyond, whose quadratic
  // holds from lo (hi) on: it ends at that stretch's quotient, and it is answered when it
  // compares no luma beyond that stretch either. Both are worked out for every proposal, whether
  // or not a lane ends there: a branch on it would follow the footage and miss about every
  // third time, which costs more than the vector work.
  __m256i slowLow = _mm256_cmpgt_epi16(_mm256_shuffle_epi8(bounds, entry), first);
  __m256i slowHigh = _mm256_cmpgt_epi16(last, _mm256_shuffle_epi8(bounds, second));
  const __m256i atLo = _mm256_and_si256(slowLow, _mm256_cmpeq_epi16(first, lo));
  const __m256i atHi = _mm256_and_si256(slowHigh, _mm256_cmpeq_epi16(last, hi));
  {  // lanes at lo
    const __m256i belowLo =
        _mm256_cmpgt_epi16(c.parts[m.pick[1][6]], _mm256_set1_epi16(field(kPickLowLimit)));
    const __m256i on = _mm256_andnot_si256(belowLo, _mm256_and_si256(atLo, moved));
    const __m256i xs = _mm256_add_epi16(c.parts[downActive], _mm256_set1_epi16(m.pick[3][2]));
    const __m256i ys = _mm256_max_epi16(
        _mm256_sub_epi16(_mm256_mulhi_epu16(_mm256_mulhi_epu16(xs, _mm256_set1_epi16(m.pick[0][2])),
                                            _mm256_set1_epi16(m.pick[0][5])),
                         bias),
        _mm256_set1_epi16(m.pick[1][2]));
    y = _mm256_blendv_epi8(y, ys, on);
    slowLow = _mm256_blendv_epi8(_mm256_andnot_si256(_mm256_and_si256(belowLo, atLo), slowLow),
                                 _mm256_cmpgt_epi16(_mm256_set1_epi16(m.pick[2][2]), ys), on);
  }
  {  // lanes at hi
    const __m256i aboveHi =
        _mm256_cmpgt_epi16(c.parts[m.pick[1][7]], _mm256_set1_epi16(field(kPickHighLimit)));
    const __m256i on = _mm256_andnot_si256(moved, _mm256_and_si256(atHi, aboveHi));
    const __m256i xs = _mm256_sub_epi16(
        _mm256_add_epi16(c.parts[upActive], _mm256_set1_epi16(m.pick[3][1])), c.one);
    const __m256i ys = _mm256_min_epi16(
        _mm256_max_epi16(
            _mm256_sub_epi16(
                _mm256_mulhi_epu16(_mm256_mulhi_epu16(xs, _mm256_set1_epi16(m.pick[0][1])),
                                   _mm256_set1_epi16(m.pick[0][4])),
                bias),
            _mm256_add_epi16(hi, c.one)),
        _mm256_set1_epi16(m.pick[1][4]));
    y = _mm256_blendv_epi8(y, ys, on);
    slowHigh = _mm256_blendv_epi8(_mm256_andnot_si256(_mm256_andnot_si256(aboveHi, atHi), slowHigh),
                                  _mm256_cmpgt_epi16(ys, _mm256_set1_epi16(m.pick[2][4])), on);
  }
  return {y, _mm256_or_si256(slowLow, slowHigh)};
}

// The second half: the distances of the lanes done, under the model's offsets.
__attribute__((target("avx2"))) inline ProposalLanes proposalDistancesAvx2(const LumaRowModel& m,
                                                                           const CellLanes& c,
                                                                           ProposalEnds e) {
  const auto field = [&m](const int(&at)[2]) { return m.pick[at[0]][at[1]]; };
  const __m256i zero = _mm256_setzero_si256();
  const __m256i y = e.y, slow = e.slow;
  // Beyond the line the components are clamped.
  const __m256i top = c.top;
  const __m256i er = clampedError(c.r, y, field(kPickR), zero, top);
  const __m256i eg = clampedError(c.g, y, field(kPickG), zero, top);
  const __m256i eb = clampedError(c.b, y, field(kPickB), zero, top);
  // The lanes done: below the count and on the line; the others are the caller's.
  ProposalLanes p;
  const __m256i done = _mm256_andnot_si256(slow, c.valid);
  p.done = done;
  p.undone = _mm256_and_si256(slow, c.valid);
  p.y = y;
  // 30 er^2 + 59 eg^2 + 20 eb^2 = 2 (15 er^2 + 10 eb^2) + 59 eg^2: the squares and the first
  // part fit a signed sixteen-bit lane (at most 961 and 24025), so one multiply-add of each pair
  // gives the distance; lanes not done are zero.
  const __m256i sr = _mm256_mullo_epi16(er, er), sb = _mm256_mullo_epi16(eb, eb);
  const __m256i rb = _mm256_and_si256(
      done, _mm256_add_epi16(_mm256_mullo_epi16(sr, c.fifteen), _mm256_mullo_epi16(sb, c.ten)));
  const __m256i gg = _mm256_and_si256(done, _mm256_mullo_epi16(eg, eg));
  const __m256i weights = _mm256_set1_epi32(2 | 59 << 16);
  p.dLow = _mm256_madd_epi16(_mm256_unpacklo_epi16(rb, gg), weights);
  p.dHigh = _mm256_madd_epi16(_mm256_unpackhi_epi16(rb, gg), weights);
  return p;
}

__attribute__((target("avx2"))) inline ProposalLanes proposalAvx2(const LumaRowModel& m,
                                                                  const CellLanes& c) {
  return proposalDistancesAvx2(m, c, proposalEndsAvx2(m, c));
}

__attribute__((target("avx2"))) inline CellLanes cellLanesAvx2(const VoteColours& c) {
  CellLanes l;
  l.r = _mm256_load_si256(reinterpret_cast<const __m256i*>(c.r));
  l.g = _mm256_load_si256(reinterpret_cast<const __m256i*>(c.g));
  l.b = _mm256_load_si256(reinterpret_cast<const __m256i*>(c.b));
  l.start = _mm256_load_si256(reinterpret_cast<const __m256i*>(c.start));
  l.weighted = _mm256_load_si256(reinterpret_cast<const __m256i*>(c.weighted));
  l.valid =
      _mm256_cmpgt_epi16(_mm256_set1_epi16(int16_t(c.count)),
                         _mm256_setr_epi16(0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15));
  setParts(l);
  return l;
}

// AVX2: all sixteen colours in one register.
__attribute__((target("avx2"))) uint32_t lumaDistancesAvx2(const LumaRowModel& m, const uint16_t*,
                                                           const VoteColours& c,
                                                           const uint32_t* than, uint8_t* lumas,
                                                           uint32_t* distances, VoteTally* tally) {
  const ProposalLanes p = proposalAvx2(m, cellLanesAvx2(c));
  const __m256i dLow = p.dLow, dHigh = p.dHigh;
  const __m256i doneLow = _mm256_unpacklo_epi16(p.done, p.done);
  const __m256i doneHigh = _mm256_unpackhi_epi16(p.done, p.done);
  const __m256i undone = p.undone, y = p.y;
  _mm256_storeu_si256(reinterpret_cast<__m256i*>(distances),
                      _mm256_permute2x128_si256(dLow, dHigh, 0x20));
  _mm256_storeu_si256(reinterpret_cast<__m256i*>(distances + 8),
                      _mm256_permute2x128_si256(dLow, dHigh, 0x31));
  _mm_storeu_si128(reinterpret_cast<__m128i*>(lumas),
                   _mm_packus_epi16(_mm256_castsi256_si128(y), _mm256_extracti128_si256(y, 1)));
  const __m256i t0 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(than));
  const __m256i t1 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(than + 8));
  // Distances stay below 2^20: signed compares serve. The counts are summed like the
  // distances: -1 for each lane done and closer, -256 for each lane undone.
  const __m256i step = _mm256_set1_epi32(-256);
  const __m256i counts = _mm256_add_epi32(
      _mm256_add_epi32(_mm256_and_si256(_mm256_unpacklo_epi16(undone, undone), step),
                       _mm256_and_si256(_mm256_unpackhi_epi16(undone, undone), step)),
      _mm256_add_epi32(
          _mm256_and_si256(doneLow,
                           _mm256_cmpgt_epi32(_mm256_permute2x128_si256(t0, t1, 0x20), dLow)),
          _mm256_and_si256(doneHigh,
                           _mm256_cmpgt_epi32(_mm256_permute2x128_si256(t0, t1, 0x31), dHigh))));
  const __m256i both = _mm256_hadd_epi32(_mm256_add_epi32(dLow, dHigh), counts);
  __m128i h = _mm_add_epi32(_mm256_castsi256_si128(both), _mm256_extracti128_si256(both, 1));
  h = _mm_add_epi32(h, _mm_shuffle_epi32(h, 0xB1));
  tally->sum = uint32_t(_mm_cvtsi128_si32(h));
  const int negative = -_mm_extract_epi32(h, 2);
  tally->closer = negative & 255;
  tally->undone = negative >> 8;
  return laneBits(undone);
}

// SSE2: the same in two registers of eight (sixteen-bit lanes) or four of four (distances).
// Sixteen-bit lanes from `from` on that lie below n.
__attribute__((target("sse2"))) inline __m128i lanesBelow(int n, int from) {
  return _mm_cmpgt_epi16(_mm_set1_epi16(int16_t(n - from)), _mm_setr_epi16(0, 1, 2, 3, 4, 5, 6, 7));
}

// Eight 32-bit values as eight 16-bit lanes, each (v >> shift) & mask (mask below 2^15).
__attribute__((target("sse2"))) inline __m128i narrowedSse2(const uint32_t* v, int shift,
                                                            int mask) {
  const __m128i count = _mm_cvtsi32_si128(shift), m = _mm_set1_epi32(mask);
  const __m128i a =
      _mm_and_si128(_mm_srl_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(v)), count), m);
  const __m128i b = _mm_and_si128(
      _mm_srl_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(v + 4)), count), m);
  return _mm_packs_epi32(a, b);
}

__attribute__((target("sse2"))) int voteChromasSse2(const uint32_t* ycs, int n, uint32_t* chromas) {
  alignas(16) uint16_t lanes[32];
  const __m128i v0 = narrowedSse2(ycs, 0, 0xFFF), v1 = narrowedSse2(ycs + 8, 0, 0xFFF);
  const __m128i none = _mm_set1_epi16(-1);
  _mm_store_si128(reinterpret_cast<__m128i*>(lanes), none);
  _mm_store_si128(reinterpret_cast<__m128i*>(lanes + 8), none);
  _mm_store_si128(reinterpret_cast<__m128i*>(lanes + 16), v0);
  _mm_store_si128(reinterpret_cast<__m128i*>(lanes + 24), v1);
  __m128i seen0 = _mm_setzero_si128(), seen1 = _mm_setzero_si128();
  for (int k = 1; k < 16; ++k) {
    seen0 = _mm_or_si128(
        seen0,
        _mm_cmpeq_epi16(v0, _mm_loadu_si128(reinterpret_cast<const __m128i*>(lanes + 16 - k))));
    seen1 = _mm_or_si128(
        seen1,
        _mm_cmpeq_epi16(v1, _mm_loadu_si128(reinterpret_cast<const __m128i*>(lanes + 24 - k))));
  }
  const __m128i fresh0 = _mm_andnot_si128(seen0, lanesBelow(n, 0));
  const __m128i fresh1 = _mm_andnot_si128(seen1, lanesBelow(n, 8));
  int count = 0;
  for (uint32_t fresh = uint32_t(_mm_movemask_epi8(_mm_packs_epi16(fresh0, fresh1))); fresh;
       fresh &= fresh - 1)
    chromas[count++] = lanes[16 + __builtin_ctz(fresh)];
  return count;
}

__attribute__((target("sse2"))) void voteFillSse2(VoteColours& c, const uint16_t* colours,
                                                  const uint32_t* ycs, int n) {
  const __m128i five = _mm_set1_epi16(31);
  for (int h = 0; h < 16; h += 8) {
    const __m128i valid = lanesBelow(n, h);
    const __m128i v =
        _mm_and_si128(_mm_loadu_si128(reinterpret_cast<const __m128i*>(colours + h)), valid);
    _mm_store_si128(reinterpret_cast<__m128i*>(c.colour + h), v);
    const __m128i r = _mm_and_si128(_mm_srli_epi16(v, 10), five);
    const __m128i g = _mm_and_si128(_mm_srli_epi16(v, 5), five), b = _mm_and_si128(v, five);
    _mm_store_si128(reinterpret_cast<__m128i*>(c.r + h), r);
    _mm_store_si128(reinterpret_cast<__m128i*>(c.g + h), g);
    _mm_store_si128(reinterpret_cast<__m128i*>(c.b + h), b);
    _mm_store_si128(reinterpret_cast<__m128i*>(c.weighted + h),
                    _mm_add_epi16(_mm_add_epi16(_mm_mullo_epi16(r, _mm_set1_epi16(30)),
                                                _mm_mullo_epi16(g, _mm_set1_epi16(59))),
                                  _mm_mullo_epi16(b, _mm_set1_epi16(20))));
    _mm_store_si128(reinterpret_cast<__m128i*>(c.start + h),
                    _mm_and_si128(narrowedSse2(ycs + h, 12, 31), valid));
  }
  c.count = n;
}

__attribute__((target("sse2"))) int voteTallySse2(const uint32_t* distances, const uint32_t* than,
                                                  int n, uint32_t* sum) {
  const __m128i index = _mm_setr_epi32(0, 1, 2, 3);
  __m128i total = _mm_setzero_si128();
  unsigned bits = 0;
  for (int q = 0; q < 16; q += 4) {
    const __m128i valid = _mm_cmpgt_epi32(_mm_set1_epi32(n - q), index);
    const __m128i d =
        _mm_and_si128(_mm_loadu_si128(reinterpret_cast<const __m128i*>(distances + q)), valid);
    const __m128i t = _mm_loadu_si128(reinterpret_cast<const __m128i*>(than + q));
    bits |= unsigned(_mm_movemask_ps(_mm_castsi128_ps(_mm_and_si128(_mm_cmpgt_epi32(t, d), valid))))
            << q;
    total = _mm_add_epi32(total, d);
  }
  total = _mm_add_epi32(total, _mm_shuffle_epi32(total, 0x4E));
  total = _mm_add_epi32(total, _mm_shuffle_epi32(total, 0xB1));
  *sum = uint32_t(_mm_cvtsi128_si32(total));
  return __builtin_popcount(bits);
}

// Lanes 0..n-1 of sixteen 16-bit lanes.
__attribute__((target("avx2"))) inline __m256i firstLanes(int n) {
  return _mm256_cmpgt_epi16(
      _mm256_set1_epi16(int16_t(n)),
      _mm256_setr_epi16(0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15));
}

// Sixteen 32-bit values (two registers) as sixteen 16-bit lanes in order, each (v >> shift) &
// mask (mask below 2^16).
__attribute__((target("avx2"))) inline __m256i narrowed(const uint32_t* v, int shift, int mask) {
  const __m128i count = _mm_cvtsi32_si128(shift);
  const __m256i m = _mm256_set1_epi32(mask);
  const __m256i a = _mm256_and_si256(
      _mm256_srl_epi32(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(v)), count), m);
  const __m256i b = _mm256_and_si256(
      _mm256_srl_epi32(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(v + 8)), count), m);
  return _mm256_permute4x64_epi64(_mm256_packus_epi32(a, b), 0xD8);
}

// AVX2: the chromas of all pixels in one register, each compared with those before it (the
// register shifted by one to fifteen lanes, read back from memory behind a row of values no
// chroma takes).
__attribute__((target("avx2"))) int voteChromasAvx2(const uint32_t* ycs, int n, uint32_t* chromas) {
  alignas(32) uint16_t lanes[32];
  const __m256i v = narrowed(ycs, 0, 0xFFF);
  _mm256_store_si256(reinterpret_cast<__m256i*>(lanes), _mm256_set1_epi16(-1));
  _mm256_store_si256(reinterpret_cast<__m256i*>(lanes + 16), v);
  __m256i seen = _mm256_setzero_si256();
  for (int k = 1; k < 16; ++k)
    seen = _mm256_or_si256(
        seen, _mm256_cmpeq_epi16(
                  v, _mm256_loadu_si256(reinterpret_cast<const __m256i*>(lanes + 16 - k))));
  int count = 0;
  for (uint32_t fresh = laneBits(_mm256_andnot_si256(seen, firstLanes(n))); fresh;
       fresh &= fresh - 1)
    chromas[count++] = lanes[16 + __builtin_ctz(fresh)];
  return count;
}

__attribute__((target("avx2"))) void voteFillAvx2(VoteColours& c, const uint16_t* colours,
                                                  const uint32_t* ycs, int n) {
  const __m256i valid = firstLanes(n), five = _mm256_set1_epi16(31);
  const __m256i v =
      _mm256_and_si256(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(colours)), valid);
  _mm256_store_si256(reinterpret_cast<__m256i*>(c.colour), v);
  const __m256i r = _mm256_and_si256(_mm256_srli_epi16(v, 10), five);
  const __m256i g = _mm256_and_si256(_mm256_srli_epi16(v, 5), five);
  const __m256i b = _mm256_and_si256(v, five);
  _mm256_store_si256(reinterpret_cast<__m256i*>(c.r), r);
  _mm256_store_si256(reinterpret_cast<__m256i*>(c.g), g);
  _mm256_store_si256(reinterpret_cast<__m256i*>(c.b), b);
  _mm256_store_si256(
      reinterpret_cast<__m256i*>(c.weighted),
      _mm256_add_epi16(_mm256_add_epi16(_mm256_mullo_epi16(r, _mm256_set1_epi16(30)),
                                        _mm256_mullo_epi16(g, _mm256_set1_epi16(59))),
                       _mm256_mullo_epi16(b, _mm256_set1_epi16(20))));
  _mm256_store_si256(reinterpret_cast<__m256i*>(c.start),
                     _mm256_and_si256(narrowed(ycs, 12, 31), valid));
  c.count = n;
}

__attribute__((target("avx2"))) int voteTallyAvx2(const uint32_t* distances, const uint32_t* than,
                                                  int n, uint32_t* sum) {
  const __m256i index = _mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7);
  const __m256i valid0 = _mm256_cmpgt_epi32(_mm256_set1_epi32(n), index);
  const __m256i valid1 = _mm256_cmpgt_epi32(_mm256_set1_epi32(n - 8), index);
  const __m256i d0 =
      _mm256_and_si256(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(distances)), valid0);
  const __m256i d1 =
      _mm256_and_si256(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(distances + 8)), valid1);
  // Distances stay below 2^17: signed compares serve.
  const __m256i t0 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(than));
  const __m256i t1 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(than + 8));
  const __m256i c0 = _mm256_and_si256(_mm256_cmpgt_epi32(t0, d0), valid0);
  const __m256i c1 = _mm256_and_si256(_mm256_cmpgt_epi32(t1, d1), valid1);
  const unsigned bits = unsigned(_mm256_movemask_ps(_mm256_castsi256_ps(c0))) |
                        unsigned(_mm256_movemask_ps(_mm256_castsi256_ps(c1))) << 8;
  __m256i s = _mm256_add_epi32(d0, d1);
  __m128i h = _mm_add_epi32(_mm256_castsi256_si128(s), _mm256_extracti128_si256(s, 1));
  h = _mm_add_epi32(h, _mm_shuffle_epi32(h, 0x4E));
  h = _mm_add_epi32(h, _mm_shuffle_epi32(h, 0xB1));
  *sum = uint32_t(_mm_cvtsi128_si32(h));
  return __builtin_popcount(bits);
}

// SSE2: the vote on the table's SSE2 kernels.
uint32_t voteCellSse2(const VoteCellContext& ctx, const uint16_t* colours, const uint32_t* ycs,
                      int n, uint8_t* lumas) {
  static const LumaSearchKernels k = lumaSearchKernelsFor(kCpuSse2);
  return voteCellWith(k, ctx, colours, ycs, n, lumas);
}

// Bits of the 32-bit lanes of `low` and `high` set, in slot order.
__attribute__((target("avx2"))) inline uint32_t slotBits(__m256i low, __m256i high) {
  return unsigned(_mm256_movemask_ps(_mm256_castsi256_ps(low))) |
         unsigned(_mm256_movemask_ps(_mm256_castsi256_ps(high))) << 8;
}

__attribute__((target("avx2"))) inline uint32_t sumOf(__m256i low, __m256i high) {
  const __m256i s = _mm256_add_epi32(low, high);
  __m128i h = _mm_add_epi32(_mm256_castsi256_si128(s), _mm256_extracti128_si256(s, 1));
  h = _mm_add_epi32(h, _mm_shuffle_epi32(h, 0x4E));
  h = _mm_add_epi32(h, _mm_shuffle_epi32(h, 0xB1));
  return uint32_t(_mm_cvtsi128_si32(h));
}

// The distances and lumas of a proposal to memory by slot, for the walks, and back.
__attribute__((target("avx2"))) inline void spill(const ProposalLanes& p, uint32_t* dist,
                                                  uint32_t* ys) {
  const __m256i zero = _mm256_setzero_si256();
  _mm256_store_si256(reinterpret_cast<__m256i*>(dist), p.dLow);
  _mm256_store_si256(reinterpret_cast<__m256i*>(dist + 8), p.dHigh);
  _mm256_store_si256(reinterpret_cast<__m256i*>(ys), _mm256_unpacklo_epi16(p.y, zero));
  _mm256_store_si256(reinterpret_cast<__m256i*>(ys + 8), _mm256_unpackhi_epi16(p.y, zero));
}

__attribute__((target("avx2"))) inline void reload(ProposalLanes& p, const uint32_t* dist,
                                                   const uint32_t* ys) {
  p.dLow = _mm256_load_si256(reinterpret_cast<const __m256i*>(dist));
  p.dHigh = _mm256_load_si256(reinterpret_cast<const __m256i*>(dist + 8));
  p.y = _mm256_packus_epi32(_mm256_load_si256(reinterpret_cast<const __m256i*>(ys)),
                            _mm256_load_si256(reinterpret_cast<const __m256i*>(ys + 8)));
}

// Lanes of 32-bit masks by slot (`low`, `high`) as two bits each in lane order.
__attribute__((target("avx2"))) inline uint32_t laneBits2(__m256i low, __m256i high) {
  return unsigned(_mm256_movemask_epi8(_mm256_packs_epi32(low, high)));
}

// The lanes a proposal left undone, in slot order.
__attribute__((target("avx2"))) inline uint32_t undoneSlots(const ProposalLanes& p) {
  return slotBits(_mm256_unpacklo_epi16(p.undone, p.undone),
                  _mm256_unpackhi_epi16(p.undone, p.undone));
}

// The next proposal of a cell: the chroma of its first pixel in `unproposed` (two bits per
// pixel), whose pixels then all leave it.
__attribute__((target("avx2"))) inline uint32_t nextProposal(__m256i chromas,
                                                             const uint16_t* chromaOf,
                                                             uint32_t& unproposed) {
  const uint32_t chroma = chromaOf[__builtin_ctz(unproposed) >> 1];
  unproposed &= ~unsigned(
      _mm256_movemask_epi8(_mm256_cmpeq_epi16(chromas, _mm256_set1_epi16(int16_t(chroma)))));
  return chroma;
}

// AVX2: the whole vote of a cell in one call, its colours and the best proposal's distances
// and lumas kept in registers. A proposal is judged from its lanes done in registers first: it
// is dropped there when, with all its lanes left to the walk that could still come closer (those
// whose best distance is above zero), it could not win. Otherwise its walks go first to the lanes
// that could come closer, stopping as soon as the proposal cannot win.
__attribute__((target("avx2"))) uint32_t voteCellAvx2(const VoteCellContext& ctx,
                                                      const uint16_t* colours, const uint32_t* ycs,
                                                      int n, uint8_t* lumas) {
  CellLanes c;
  c.valid = firstLanes(n);
  const __m256i five = _mm256_set1_epi16(31);
  const __m256i v =
      _mm256_and_si256(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(colours)), c.valid);
  c.r = _mm256_and_si256(_mm256_srli_epi16(v, 10), five);
  c.g = _mm256_and_si256(_mm256_srli_epi16(v, 5), five);
  c.b = _mm256_and_si256(v, five);
  c.weighted = _mm256_add_epi16(_mm256_add_epi16(_mm256_mullo_epi16(c.r, _mm256_set1_epi16(30)),
                                                 _mm256_mullo_epi16(c.g, _mm256_set1_epi16(59))),
                                _mm256_mullo_epi16(c.b, _mm256_set1_epi16(20)));
  c.start = _mm256_and_si256(narrowed(ycs, 12, 31), c.valid);
  setParts(c);
  const __m256i zero = _mm256_setzero_si256();
  // The walks of lanes left undone work on the colours, lumas and distances by slot.
  // (The colours as the cache's keys, above the chroma's twelve bits.)
  alignas(32) uint32_t colour[16];
  _mm256_store_si256(reinterpret_cast<__m256i*>(colour),
                     _mm256_slli_epi32(_mm256_unpacklo_epi16(v, zero), 12));
  _mm256_store_si256(reinterpret_cast<__m256i*>(colour + 8),
                     _mm256_slli_epi32(_mm256_unpackhi_epi16(v, zero), 12));
  alignas(32) uint32_t dist[16];
  alignas(32) uint32_t ys[16];
  alignas(32) uint32_t than[16];
  uint64_t* const cache = ctx.cache;
  const uint16_t* const rows = ctx.rows;
  const uint32_t* const rgbToYc = ctx.rgbToYc;
  const BestLumaInRowFn search = ctx.search;
  auto walk = [&](uint32_t chroma, int s) {
    const uint32_t found = lumaCacheSearchKey(cache, rows, rgbToYc, search, colour[s] | chroma);
    ys[s] = found & 31;
    dist[s] = found >> 5;
    return found >> 5;
  };
  // The proposals: the chroma of the first pixel not yet proposed, then all pixels of that
  // chroma are (two bits per pixel, as the byte mask gives them).
  const __m256i chromas = narrowed(ycs, 0, 0xFFF);
  alignas(32) uint16_t chromaOf[16];
  _mm256_store_si256(reinterpret_cast<__m256i*>(chromaOf), chromas);
  uint32_t unproposed = n == 16 ? 0xFFFFFFFFu : (1u << 2 * n) - 1;
  uint32_t best = nextProposal(chromas, chromaOf, unproposed);
  ProposalLanes bp = proposalAvx2(ctx.models[best], c);
  if (uint32_t left = undoneSlots(bp)) {
    spill(bp, dist, ys);
    for (; left; left &= left - 1) walk(best, __builtin_ctz(left));
    reload(bp, dist, ys);
  }
  // The best's distances and lumas in registers.
  __m256i bestLow = bp.dLow, bestHigh = bp.dHigh, bestY = bp.y;
  if (unproposed) {
    uint32_t bestSum = sumOf(bestLow, bestHigh);
    // Lanes whose best distance is above zero: only they can come closer (lanes from n on have
    // zero distances). The counts are taken on masks of two bits per lane, so they come out
    // doubled, as they are compared with n.
    uint32_t open =
        ~laneBits2(_mm256_cmpeq_epi32(bestLow, zero), _mm256_cmpeq_epi32(bestHigh, zero));
    uint32_t following = nextProposal(chromas, chromaOf, unproposed);
    ProposalEnds followingEnds = proposalEndsAvx2(ctx.models[following], c);
    for (bool more = true; more;) {
      // More than half of the pixels are matched exactly: no later proposal can win.
      if (__builtin_popcount(open) < n) break;
      const uint32_t chroma = following;
      const ProposalEnds ends = followingEnds;
      more = unproposed != 0;
      if (more) {
        following = nextProposal(chromas, chromaOf, unproposed);
        followingEnds = proposalEndsAvx2(ctx.models[following], c);
      }
      ProposalLanes p = proposalDistancesAvx2(ctx.models[chroma], c, ends);
      // Twice the lanes done and closer, and twice the most that could be closer.
      int closer = __builtin_popcount(unsigned(_mm256_movemask_epi8(
          _mm256_and_si256(p.done, _mm256_packs_epi32(_mm256_cmpgt_epi32(bestLow, p.dLow),
                                                      _mm256_cmpgt_epi32(bestHigh, p.dHigh))))));
      const uint32_t undone = unsigned(_mm256_movemask_epi8(p.undone));
      if (__builtin_expect(undone == 0, 1)) {
        // Every lane is known: the proposal is taken or not without a branch (whether it wins
        // follows the footage and is as good as random).
        const uint32_t whole = sumOf(p.dLow, p.dHigh);
        const int take = int(closer > n) | (int(closer == n) & int(whole < bestSum));
        const __m256i taken = _mm256_set1_epi32(-take);
        best = take ? chroma : best;
        bestSum = take ? whole : bestSum;
        bestLow = _mm256_blendv_epi8(bestLow, p.dLow, taken);
        bestHigh = _mm256_blendv_epi8(bestHigh, p.dHigh, taken);
        bestY = _mm256_blendv_epi8(bestY, p.y, taken);
        open = ~laneBits2(_mm256_cmpeq_epi32(bestLow, zero), _mm256_cmpeq_epi32(bestHigh, zero));
        continue;
      }
      int most = closer + __builtin_popcount(undone & open);
      if (most < n) continue;
      // The sum decides only at exactly half; until the end `sum` is a part of it (the
      // distances are never negative), enough to drop a proposal.
      uint32_t sum = 0;
      if (most == n) {
        sum = sumOf(p.dLow, p.dHigh);
        if (sum >= bestSum) continue;
      }
      {
        // The open lanes by slot, for the walks.
        const uint32_t openSlots =
            ~slotBits(_mm256_cmpeq_epi32(bestLow, zero), _mm256_cmpeq_epi32(bestHigh, zero));
        const uint32_t left = undoneSlots(p);
        uint32_t hopeful = left & openSlots;
        spill(p, dist, ys);
        _mm256_store_si256(reinterpret_cast<__m256i*>(than), bestLow);
        _mm256_store_si256(reinterpret_cast<__m256i*>(than + 8), bestHigh);
        bool lost = false;
        for (; hopeful; hopeful &= hopeful - 1) {
          const int s = __builtin_ctz(hopeful);
          const uint32_t d = walk(chroma, s);
          sum += d;
          // Without a branch on the lane's outcome, which is as good as random.
          most -= 2 * int(d >= than[s]);
          if (most <= n && (most < n || sum >= bestSum)) {
            lost = true;
            break;
          }
        }
        if (lost) continue;
        // Every lane that could come closer is known: the most is the count.
        closer = most;
        // The rest cannot come closer; they only add to the sum.
        for (uint32_t rest = left & ~openSlots; rest; rest &= rest - 1) {
          sum += walk(chroma, __builtin_ctz(rest));
          if (most == n && sum >= bestSum) {
            lost = true;
            break;
          }
        }
        if (lost) continue;
        reload(p, dist, ys);
      }
      sum = sumOf(p.dLow, p.dHigh);
      if (closer < n || (closer == n && sum >= bestSum)) continue;
      best = chroma;
      bestSum = sum;
      bestLow = p.dLow;
      bestHigh = p.dHigh;
      bestY = p.y;
      open = ~laneBits2(_mm256_cmpeq_epi32(bestLow, zero), _mm256_cmpeq_epi32(bestHigh, zero));
    }
  }
  alignas(16) uint8_t out[16];
  _mm_store_si128(
      reinterpret_cast<__m128i*>(out),
      _mm_packus_epi16(_mm256_castsi256_si128(bestY), _mm256_extracti128_si256(bestY, 1)));
  if (n == 16)
    std::memcpy(lumas, out, 16);
  else
    std::copy(out, out + n, lumas);
  return best;
}

#endif

}  // namespace

LumaSearchKernels lumaSearchKernelsFor(unsigned flags) {
  LumaSearchKernels k{bestLumaInRowScalar, lumaDistancesScalar, voteChromasScalar,
                      voteFillScalar,      voteTallyScalar,     voteCellScalar};
#ifdef ZOV_X86
  if (flags & kCpuSse2) {
    k.lumaDistances = lumaDistancesSse2;
    k.voteChromas = voteChromasSse2;
    k.voteFill = voteFillSse2;
    k.voteTally = voteTallySse2;
    k.voteCell = voteCellSse2;
  }
  if (flags & kCpuAvx2) {
    k.bestLumaInRow = bestLumaInRowAvx2;
    k.lumaDistances = lumaDistancesAvx2;
    k.voteChromas = voteChromasAvx2;
    k.voteFill = voteFillAvx2;
    k.voteTally = voteTallyAvx2;
    k.voteCell = voteCellAvx2;
  }
#else
  (void)flags;
#endif
  return k;
}

const LumaSearchKernels& lumaSearchKernels() {
  static const LumaSearchKernels k = lumaSearchKernelsFor(cpuFlags());
  return k;
}

}  // namespace zov

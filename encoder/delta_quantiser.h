// The delta quantiser: chooses the 4-bit symbols (step = symbol - 7) that carry one colour
// component from its predictor towards a wanted value, and returns the value the decoder will
// rebuild from them. Used silently while pre-quantising and with symbol output while coding.
#pragma once

#include <cstdint>

namespace zov {

// Collects the symbols of one component; the silent form drops them.
struct SilentSymbols {
  void put(uint8_t) {}
};

// Step-doubling code (EDGE 0). `doubled` is the channel's state, as the decoder keeps it.
// With a next predictor (hasNext) and a normal state, a coming edge of 14 or more is
// anticipated by stepping towards the right-hand neighbour instead.
template <typename Sink>
inline int quantiseDoubling(int value, int pred, bool hasNext, int next, bool& doubled, Sink& out) {
  int d = value - pred;
  if (!doubled) {
    if (hasNext) {
      int e = next - pred;
      if (e >= 14 || e <= -14) d = e;
    }
    if (d >= 7) {
      out.put(14);
      doubled = true;
      return pred + 7;
    }
    if (d <= -7) {
      out.put(0);
      doubled = true;
      return pred - 7;
    }
    out.put(static_cast<uint8_t>(d + 7));
    return pred + d;
  }
  int h = d / 2;
  if (h >= 7) {
    out.put(14);
    return pred + 14;
  }
  if (h <= -7) {
    out.put(0);
    return pred - 14;
  }
  out.put(static_cast<uint8_t>(h + 7));
  doubled = false;
  return pred + 2 * h;
}

// Extended-range code (EDGE 1): an extreme symbol is followed by further symbols of doubled
// weight. An odd excess cannot be reached and is rounded towards the predictor. With
// `extended` false only single symbols 1..13 are used (steps clamped to -6..6), which keeps a
// frame within the decoder's symbol limit.
template <typename Sink>
inline int quantiseExtended(int value, int pred, bool extended, Sink& out) {
  int d = value - pred;
  if (!extended) {
    if (d > 6) d = 6;
    if (d < -6) d = -6;
    out.put(static_cast<uint8_t>(d + 7));
    return pred + d;
  }
  if (d > -7 && d < 7) {
    out.put(static_cast<uint8_t>(d + 7));
    return value;
  }
  if (d >= 7) {
    int e = (d - 7) / 2;
    int result = pred + 7 + 2 * e;
    out.put(14);
    while (e >= 7) {
      out.put(14);
      e -= 7;
    }
    out.put(static_cast<uint8_t>(e + 7));
    return result;
  }
  int e = (d + 7) / 2;  // truncated toward zero
  int result = pred - 7 + 2 * e;
  out.put(0);
  while (e <= -7) {
    out.put(0);
    e += 7;
  }
  out.put(static_cast<uint8_t>(e + 7));
  return result;
}

}  // namespace zov

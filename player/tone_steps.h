// The gamma and brightness steps of the player's menu. Gamma lives in the codec's file form:
// -300 to -105 and 100 to 300 in steps of 5, with -105 and 100 next to each other (the values
// between them mean nothing to the codec). Brightness runs from -15 to 15.
#pragma once

#include <cstdint>

namespace zov::player {

enum class ToneStep { Decrease, Increase, Reset };

// The new value; equal to the old one when the step is blocked at a limit.
int32_t stepGamma(int32_t gamma, ToneStep step);
int32_t stepBrightness(int32_t brightness, ToneStep step);

}  // namespace zov::player

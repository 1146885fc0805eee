#include "player/tone_steps.h"

namespace zov::player {

int32_t stepGamma(int32_t gamma, ToneStep step) {
  switch (step) {
    case ToneStep::Reset:
      return 100;
    case ToneStep::Increase:
      if (gamma >= 300) return gamma;
      if (gamma >= -105 && gamma < 100) return 100;
      return gamma + 5;
    case ToneStep::Decrease:
      if (gamma <= -300) return gamma;
      if (gamma > -105 && gamma <= 100) return -105;
      return gamma - 5;
  }
  return gamma;
}

int32_t stepBrightness(int32_t brightness, ToneStep step) {
  switch (step) {
    case ToneStep::Reset:
      return 0;
    case ToneStep::Increase:
      return brightness >= 15 ? brightness : brightness + 1;
    case ToneStep::Decrease:
      return brightness <= -15 ? brightness : brightness - 1;
  }
  return brightness;
}

}  // namespace zov::player

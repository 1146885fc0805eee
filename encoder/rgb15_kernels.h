// Conversion of decoded 24-bit pixels to 15-bit colour: every component x becomes
// min(31, (x + 3) >> 3) (the nearest level under the nearest-colour rule; see
// convertRowTo15Fast). Every version gives the reference's result exactly.
#pragma once

#include <cstdint>

namespace zov {

// `width` pixels of blue, green, red bytes to 15-bit colours (red in bits 10-14). Reads only
// the 3 * width bytes of the line.
using Bgr24To15Fn = void (*)(const uint8_t* bgr, int width, uint16_t* dst);

struct Rgb15Kernels {
  Bgr24To15Fn bgr24To15;
};

// The plain C++ reference.
void bgr24To15Scalar(const uint8_t* bgr, int width, uint16_t* dst);

// The table for the given processor flags (references where a flag is missing).
Rgb15Kernels rgb15KernelsFor(unsigned cpuFlags);
// The table for this process, chosen once from cpuFlags().
const Rgb15Kernels& rgb15Kernels();

}  // namespace zov

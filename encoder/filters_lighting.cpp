// Lighting filters: gamma, brightness and contrast. Each maps every 5-bit component through a
// 32-entry table.
#include <cmath>
#include <mutex>

#include "encoder/filters.h"

namespace zov {
namespace {

void applyComponentTable(uint16_t* pixels, int count, const uint8_t table[32]) {
  for (int i = 0; i < count; ++i) {
    uint16_t v = pixels[i];
    pixels[i] = uint16_t(table[v >> 10 & 31] << 10 | table[v >> 5 & 31] << 5 | table[v & 31]);
  }
}

// The gamma table of the last level used, kept for the process: the compression run and the
// preview may filter at the same time, so it is guarded.
std::mutex gammaMutex;
int gammaLevel = 0;  // 0: nothing built yet
uint8_t gammaCache[32];

}  // namespace

void gammaTable(int level, uint8_t table[32]) {
  double g = level / 100.0;
  table[0] = 0;
  for (int v = 1; v < 32; ++v) {
    double e;
    if (g > 0) {
      e = std::floor(32.0 * std::pow(v / 32.0, 1.0 / g) + 0.5);
    } else {
      e = std::floor(32.5 - 32.0 * std::pow((32 - v) / 32.0, 1.0 / -g));
    }
    table[v] = uint8_t(e > 31 ? 31 : e < 0 ? 0 : e);
  }
}

void filterGamma(uint16_t* pixels, int count, int level) {
  if (level == 0) return;  // no exponent: never offered, treated as no change
  uint8_t table[32];
  {
    std::lock_guard lock(gammaMutex);
    if (gammaLevel != level) {
      gammaTable(level, gammaCache);
      gammaLevel = level;
    }
    std::copy(gammaCache, gammaCache + 32, table);
  }
  applyComponentTable(pixels, count, table);
}

void filterBrightness(uint16_t* pixels, int count, int level) {
  uint8_t table[32];
  for (int v = 0; v < 32; ++v) {
    int e = v + level;
    table[v] = uint8_t(e < 0 ? 0 : e > 31 ? 31 : e);
  }
  applyComponentTable(pixels, count, table);
}

void filterContrast(uint16_t* pixels, int count, int level) {
  if (level == 0) return;  // no factor: never offered, treated as no change
  double c = level > 0 ? level / 100.0 : 1.0 / (-level / 100.0);
  uint8_t table[32];
  for (int v = 0; v < 32; ++v) {
    int e = int(std::trunc((v - 15) * c)) + 15;
    table[v] = uint8_t(e < 0 ? 0 : e > 31 ? 31 : e);
  }
  applyComponentTable(pixels, count, table);
}

}  // namespace zov

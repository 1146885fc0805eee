#include "format/cpu_features.h"

#include <cstdlib>
#include <cstring>

#if defined(__x86_64__) || defined(__i386__)
#include <cpuid.h>
#endif

namespace zov {

#if defined(__x86_64__) || defined(__i386__)
namespace {

// Whether the system saves and restores the AVX-512 state (XCR0: SSE, AVX, the mask registers
// and both halves of the 512-bit registers), without which the instructions fault.
bool systemSavesZmm() {
  unsigned a = 0, b = 0, c = 0, d = 0;
  if (!__get_cpuid(1, &a, &b, &c, &d) || !(c & bit_OSXSAVE)) return false;
  unsigned low = 0, high = 0;
  __asm__ volatile("xgetbv" : "=a"(low), "=d"(high) : "c"(0));
  return (low & 0xE6) == 0xE6;
}

}  // namespace
#endif

unsigned detectCpuFlags() {
  unsigned flags = 0;
#if defined(__x86_64__) || defined(__i386__)
  __builtin_cpu_init();
  if (__builtin_cpu_supports("sse2")) flags |= kCpuSse2;
  if (__builtin_cpu_supports("avx2")) flags |= kCpuAvx2;
  if (__builtin_cpu_supports("bmi") && __builtin_cpu_supports("bmi2")) flags |= kCpuBmi2;
  if ((flags & kCpuAvx2) && __builtin_cpu_supports("avx512f") &&
      __builtin_cpu_supports("avx512bw") && __builtin_cpu_supports("avx512vl") &&
      __builtin_cpu_supports("popcnt") && systemSavesZmm())
    flags |= kCpuAvx512;
#endif
  return flags;
}

unsigned limitCpuFlags(unsigned detected, const char* zovCpu) {
  if (!zovCpu) return detected;
  if (std::strcmp(zovCpu, "scalar") == 0) return 0;
  if (std::strcmp(zovCpu, "sse2") == 0) return detected & kCpuSse2;
  if (std::strcmp(zovCpu, "avx2") == 0) return detected & ~unsigned(kCpuAvx512);
  return detected;
}

unsigned cpuFlags() {
  static const unsigned flags = limitCpuFlags(detectCpuFlags(), std::getenv("ZOV_CPU"));
  return flags;
}

const char* cpuPathName(unsigned flags) {
  if ((flags & kCpuAvx512) && (flags & kCpuAvx2)) return "avx512";
  if (flags & kCpuAvx2) return "avx2";
  if (flags & kCpuSse2) return "sse2";
  return "scalar";
}

}  // namespace zov

#include "format/cpu_features.h"

#include <cstdlib>
#include <cstring>

namespace zov {

unsigned detectCpuFlags() {
  unsigned flags = 0;
#if defined(__x86_64__) || defined(__i386__)
  __builtin_cpu_init();
  if (__builtin_cpu_supports("sse2")) flags |= kCpuSse2;
  if (__builtin_cpu_supports("avx2")) flags |= kCpuAvx2;
  if (__builtin_cpu_supports("bmi") && __builtin_cpu_supports("bmi2")) flags |= kCpuBmi2;
  if (__builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") &&
      __builtin_cpu_supports("avx512vl") && __builtin_cpu_supports("avx512vbmi") &&
      __builtin_cpu_supports("avx512vbmi2") &&
      (flags & kCpuBmi2))
    flags |= kCpuAvx512;
#endif
  return flags;
}

unsigned limitCpuFlags(unsigned detected, const char* zovCpu) {
  if (!zovCpu) return detected;
  if (std::strcmp(zovCpu, "scalar") == 0) return 0;
  if (std::strcmp(zovCpu, "sse2") == 0) return detected & kCpuSse2;
  if (std::strcmp(zovCpu, "avx2") == 0) return detected & ~unsigned{kCpuAvx512};
  return detected;
}

unsigned cpuFlags() {
  static const unsigned flags = limitCpuFlags(detectCpuFlags(), std::getenv("ZOV_CPU"));
  return flags;
}

const char* cpuPathName(unsigned flags) {
  if (flags & kCpuAvx512) return "avx512";
  if (flags & kCpuAvx2) return "avx2";
  if (flags & kCpuSse2) return "sse2";
  return "scalar";
}

}  // namespace zov

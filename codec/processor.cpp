#include "codec/processor.h"

#if defined(__i386__) || defined(__x86_64__)
#include <cpuid.h>
#endif

namespace zov::codec {

std::string describeProcessor(int family, unsigned highestFunction, bool mmx) {
  std::string text;
  if (family == 3) return "Intel 386";
  if (family == 4) return "Intel 486";
  if (family < 5) return {};
  // Every later family reports itself to the old system as a 586.
  text = "Pentium";
  if (highestFunction == 2) text += " Pro";
  if (mmx) text += " MMX";
  return text;
}

std::string processorDescription() {
#if defined(__i386__) || defined(__x86_64__)
  unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
  if (!__get_cpuid(0, &eax, &ebx, &ecx, &edx)) return "Intel 386";
  unsigned highest = eax;
  if (!__get_cpuid(1, &eax, &ebx, &ecx, &edx)) return {};
  int family = static_cast<int>((eax >> 8) & 0xF);
  return describeProcessor(family, highest, (edx >> 23) & 1);
#else
  return {};
#endif
}

}  // namespace zov::codec

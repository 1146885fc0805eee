#include "setup/system_identity.h"

#include <sys/utsname.h>

#include <cstring>

#if defined(__i386__) || defined(__x86_64__)
#include <cpuid.h>
#endif

namespace zov::setup {
namespace {

std::optional<OsVersion>& osOverride() {
  static std::optional<OsVersion> value;
  return value;
}

std::optional<ProcessorIdentity>& processorOverride() {
  static std::optional<ProcessorIdentity> value;
  return value;
}

#if defined(__i386__) || defined(__x86_64__)
bool cpuidAvailable() {
#if defined(__x86_64__)
  return true;  // every 64-bit x86 processor has it
#else
  // The identification flag (bit 21) of the flags register can be toggled only when it exists.
  return __get_cpuid_max(0, nullptr) != 0;
#endif
}

ProcessorIdentity realProcessor() {
  ProcessorIdentity id;
  id.hasCpuid = cpuidAvailable();
  if (!id.hasCpuid) {
    id.description = "x86 processor without identification";
    return id;
  }
  unsigned a = 0, b = 0, c = 0, d = 0;
  unsigned maxFunction = __get_cpuid_max(0, nullptr);
  __cpuid(0, a, b, c, d);
  char vendor[13] = {};
  std::memcpy(vendor, &b, 4);
  std::memcpy(vendor + 4, &d, 4);
  std::memcpy(vendor + 8, &c, 4);
  unsigned family = 0, model = 0, stepping = 0;
  if (maxFunction >= 1) {
    __cpuid(1, a, b, c, d);
    id.hasMmx = (d & (1u << 23)) != 0;
    stepping = a & 0xF;
    model = (a >> 4) & 0xF;
    family = (a >> 8) & 0xF;
    if (family == 0xF) family += (a >> 20) & 0xFF;
    if (family >= 6) model |= ((a >> 16) & 0xF) << 4;
  }
  std::string brand;
  if (__get_cpuid_max(0x80000000, nullptr) >= 0x80000004) {
    char text[49] = {};
    for (unsigned f = 0; f < 3; ++f) {
      __cpuid(0x80000002 + f, a, b, c, d);
      std::memcpy(text + 16 * f, &a, 4);
      std::memcpy(text + 16 * f + 4, &b, 4);
      std::memcpy(text + 16 * f + 8, &c, 4);
      std::memcpy(text + 16 * f + 12, &d, 4);
    }
    brand = text;
    size_t first = brand.find_first_not_of(' ');
    brand = first == std::string::npos ? std::string() : brand.substr(first);
  }
  id.description = std::string(vendor) + " family " + std::to_string(family) + " model " +
                   std::to_string(model) + " stepping " + std::to_string(stepping);
  if (!brand.empty()) id.description += " (" + brand + ")";
  if (id.hasMmx) id.description += ", MMX";
  return id;
}
#else
ProcessorIdentity realProcessor() {
  ProcessorIdentity id;
  struct utsname name;
  id.description = uname(&name) == 0 ? std::string(name.machine) + " processor" : "processor";
  return id;
}
#endif

}  // namespace

OsVersion currentOsVersion() {
  return osOverride().value_or(OsVersion{});
}

ProcessorIdentity identifyProcessor() {
  if (processorOverride()) return *processorOverride();
  return realProcessor();
}

namespace testing {
void setOsVersion(std::optional<OsVersion> version) {
  osOverride() = version;
}
void setProcessor(std::optional<ProcessorIdentity> identity) {
  processorOverride() = identity;
}
}  // namespace testing

}  // namespace zov::setup

// What the setup tools ask about the machine: the operating-system family and version the
// installation checks, and the processor's identification.
#pragma once

#include <optional>
#include <string>

namespace zov::setup {

struct OsVersion {
  bool ntFamily = true;
  unsigned major = 4;
  unsigned minor = 0;
};

// Linux counts as the NT family at version 4.0: it runs the codec and installs the driver service.
OsVersion currentOsVersion();

struct ProcessorIdentity {
  bool hasCpuid = false;  // the identification instruction exists
  bool hasMmx = false;    // feature flag 23 of function 1
  std::string description;
};

// cpuid on x86 processors; elsewhere no identification and a generic text naming the machine.
ProcessorIdentity identifyProcessor();

namespace testing {
// Replaces what the functions above report (nullopt: the real machine again).
void setOsVersion(std::optional<OsVersion> version);
void setProcessor(std::optional<ProcessorIdentity> identity);
}  // namespace testing

}  // namespace zov::setup

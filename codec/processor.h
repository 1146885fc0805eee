// The processor line of the status dialog.
#pragma once

#include <string>

namespace zov::codec {

// "Intel 386", "Intel 486" or "Pentium", followed by " Pro" when the highest standard CPUID
// function is 2 and " MMX" when the processor has MMX; empty (the dialog keeps its own text)
// on other processors.
std::string processorDescription();

// The same rule on given CPUID facts, for tests.
std::string describeProcessor(int family, unsigned highestFunction, bool mmx);

}  // namespace zov::codec

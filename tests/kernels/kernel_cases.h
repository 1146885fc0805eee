// The kernel families kernel_check knows: each case checks one kernel's version for a set of
// processor flags against its reference and can time it.
#pragma once

#include <cstdint>
#include <random>
#include <string>
#include <vector>

namespace zov::test {

// Inputs shared by the cases: colours of real footage (15-bit) and a seeded generator.
struct KernelInputs {
  std::vector<uint16_t> footageColours;
  std::mt19937 random{20261208};
};

struct KernelCase {
  const char* name;
  // The version chosen for `flags` is the reference itself: nothing to compare.
  bool (*sameAsReference)(unsigned flags);
  // Compares the version for `flags` with the reference; on a difference describes the first
  // one in `why` and returns false.
  bool (*check)(unsigned flags, KernelInputs& in, std::string& why);
  // Runs the version for `flags` over a fixed workload; returns calls made.
  uint64_t (*bench)(unsigned flags, KernelInputs& in);
};

const std::vector<KernelCase>& kernelCases();

// The decoder's cases (decoder_kernel_cases.cpp).
KernelCase sharingPairsCase();
KernelCase sharingRowCase();
KernelCase carryingRowCase();
KernelCase carryingPairsCase();
KernelCase symbolDecodingCase();
// The unchanged analysis's cases (unchanged_kernel_cases.cpp).
std::vector<KernelCase> unchangedCases();
// The smooth-luma candidate marking (smooth_kernel_cases.cpp).
KernelCase smoothLineCase();
// The table-width cost model's cases (table_width_kernel_cases.cpp).
std::vector<KernelCase> tableWidthCases();

}  // namespace zov::test

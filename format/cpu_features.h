// The processor's vector extensions, detected once, and the ZOV_CPU override.
//
// Every hot kernel has a plain C++ reference and, where it pays, vector versions. Each kernel
// family keeps a small table of function pointers filled at first use from cpuFlags(); the
// references stay in the table for whatever the processor lacks. ZOV_CPU=scalar in the
// environment forces the references everywhere (ZOV_CPU=sse2 stops at SSE2), so that the
// tests can run once on each path and compare.
#pragma once

namespace zov {

enum CpuFlag : unsigned {
  kCpuSse2 = 1u << 0,
  kCpuAvx2 = 1u << 1,
  kCpuBmi2 = 1u << 2,  // bit deposit and friends; the AVX2 path takes it where present
  // AVX-512 F, BW and VL with VBMI (byte permutes), VBMI2 (compress and expand of 16-bit
  // lanes) and BMI2.
  kCpuAvx512 = 1u << 3,
};

// What the processor offers (x86-64 always has SSE2).
unsigned detectCpuFlags();

// The flags `detected` keeps under a ZOV_CPU value: "scalar" none, "sse2" SSE2 only; null,
// "avx2" all but AVX-512; empty or anything else keeps them all.
unsigned limitCpuFlags(unsigned detected, const char* zovCpu);

// detectCpuFlags() limited by $ZOV_CPU, computed on the first call.
unsigned cpuFlags();

// "scalar", "sse2", "avx2" or "avx512": the best path the flags select, for reports.
const char* cpuPathName(unsigned flags);

}  // namespace zov

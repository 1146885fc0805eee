// kernel_check [--bench] [DATA_DIR]: compares every vector kernel with its plain C++ reference
// on random and real input for each processor path this machine has (SSE2, AVX2, AVX-512); exits 1
// on the first difference. With --bench it also times each path against the reference.
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>

#include "format/cpu_features.h"
#include "kernel_cases.h"
#include "tests/support/footage_avi.h"

namespace {

using zov::test::KernelCase;
using zov::test::KernelInputs;

// Colours of the bundled teapot clip, turned to 15 bits as the compressor does.
void loadFootage(const std::string& dir, KernelInputs& in) {
  zov::test::Footage f;
  if (!zov::test::loadUncompressedAvi(dir + "/teapot-256x256-rgb24.avi", f, 4) ||
      f.bitsPerPixel != 24)
    return;
  const size_t stride = (size_t(f.width) * 3 + 3) & ~size_t(3);
  for (const auto& frame : f.frames)
    for (int y = 0; y < f.height; ++y)
      for (int x = 0; x < f.width; ++x) {
        const uint8_t* p = frame.data() + size_t(y) * stride + size_t(x) * 3;
        in.footageColours.push_back(uint16_t((p[2] >> 3) << 10 | (p[1] >> 3) << 5 | (p[0] >> 3)));
      }
}

double secondsOf(uint64_t (*bench)(unsigned, KernelInputs&), unsigned flags, KernelInputs& in,
                 uint64_t* calls) {
  const auto t0 = std::chrono::steady_clock::now();
  *calls = bench(flags, in);
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

}  // namespace

int main(int argc, char** argv) {
  bool bench = false;
  std::string dir = ".";
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--bench") == 0)
      bench = true;
    else
      dir = argv[i];
  }
  KernelInputs in;
  loadFootage(dir, in);
  if (in.footageColours.empty()) {
    std::fprintf(stderr, "kernel_check: cannot read %s/teapot-256x256-rgb24.avi\n", dir.c_str());
    return 2;
  }
  const unsigned detected = zov::detectCpuFlags();
  const unsigned paths[] = {zov::kCpuSse2, zov::kCpuSse2 | zov::kCpuAvx2 | zov::kCpuBmi2,
                            zov::kCpuSse2 | zov::kCpuAvx2 | zov::kCpuBmi2 | zov::kCpuAvx512};
  int failures = 0, compared = 0;
  for (const KernelCase& c : zov::test::kernelCases()) {
    uint64_t refCalls = 0;
    const double refSeconds = bench ? secondsOf(c.bench, 0, in, &refCalls) : 0;
    if (bench)
      std::printf("%-28s %-6s %8.2f ns/call\n", c.name, "scalar", 1e9 * refSeconds / refCalls);
    for (unsigned flags : paths) {
      if ((flags & detected) != flags || c.sameAsReference(flags)) continue;
      std::string why;
      ++compared;
      if (!c.check(flags, in, why)) {
        std::printf("FAIL %s (%s): %s\n", c.name, zov::cpuPathName(flags), why.c_str());
        ++failures;
        continue;
      }
      if (bench) {
        uint64_t calls = 0;
        const double s = secondsOf(c.bench, flags, in, &calls);
        std::printf("%-28s %-6s %8.2f ns/call  %5.2fx\n", c.name, zov::cpuPathName(flags),
                    1e9 * s / calls, (refSeconds / refCalls) / (s / calls));
      } else {
        std::printf("ok   %s (%s)\n", c.name, zov::cpuPathName(flags));
      }
    }
  }
  std::printf("%d comparisons, %d failures (this machine: %s)\n", compared, failures,
              zov::cpuPathName(detected));
  return failures ? 1 : 0;
}

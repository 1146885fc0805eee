#!/usr/bin/env bash
# Builds ZOV and runs every test.  --sanitize builds and tests with ASan + UBSan instead.
# The Release run uses the best kernels this processor has; the sanitizer run forces the plain
# C++ references (ZOV_CPU=scalar), so that CI passes the whole suite once on each path
# (kernel_check compares the paths directly in both). ZOV_CPU set by the caller wins.
# The fuzz targets (scripts/fuzz.sh) run the best kernels under AddressSanitizer.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
build=build
args=(-DCMAKE_BUILD_TYPE=Release)
if [ "${1:-}" = "--sanitize" ]; then
  build=build-sanitize
  args=(-DCMAKE_BUILD_TYPE=RelWithDebInfo -DZOV_SANITIZE=ON -DZOV_BENCH=OFF)
  export ZOV_CPU="${ZOV_CPU:-scalar}"
fi
cmake -S . -B "$build" -G Ninja "${args[@]}"
cmake --build "$build" -j"$(nproc)"
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
ctest --test-dir "$build" --output-on-failure -j"$(nproc)"
# Where AVX-512 takes the decoder's rows as a whole, the walk it stands in for runs the
# decoder's tests once more, on the AVX2 kernels.
if [ -z "${ZOV_CPU:-}" ] && grep -qw avx512_vbmi2 /proc/cpuinfo; then
  ZOV_CPU=avx2 ctest --test-dir "$build" --output-on-failure -j"$(nproc)" -R 'Decoder|Zov|Footage'
fi

#!/usr/bin/env bash
# Builds ZOV and runs every test.  --sanitize builds and tests with ASan + UBSan instead.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
build=build
args=(-DCMAKE_BUILD_TYPE=Release)
if [ "${1:-}" = "--sanitize" ]; then
  build=build-sanitize
  args=(-DCMAKE_BUILD_TYPE=RelWithDebInfo -DZOV_SANITIZE=ON -DZOV_BENCH=OFF)
fi
cmake -S . -B "$build" -G Ninja "${args[@]}"
cmake --build "$build" -j"$(nproc)"
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
ctest --test-dir "$build" --output-on-failure -j"$(nproc)"

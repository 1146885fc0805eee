#!/usr/bin/env bash
# Builds the libFuzzer targets with clang and runs each one for N seconds (default 60) from its
# seed corpus. A crash, leak or timeout fails the run.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
bash scripts/install-deps.sh
build=build-fuzz
CC=clang CXX=clang++ cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DZOV_FUZZ=ON -DZOV_TESTS=ON -DZOV_BENCH=OFF
cmake --build "$build" -j"$(nproc)" --target zov_fuzzers
status=0
for target in "$build"/tests/fuzz/fuzz_*; do
  [ -x "$target" ] || continue
  name=$(basename "$target")
  corpus_seed=tests/fuzz/corpus/${name#fuzz_}
  work=$(mktemp -d)
  [ -d "$corpus_seed" ] && cp -r "$corpus_seed"/. "$work"/
  echo "== $name for ${seconds}s"
  if ! "$target" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=4096 -print_final_stats=1 "$work" \
      >"$build/$name.log" 2>&1; then
    tail -n 60 "$build/$name.log"
    echo "FUZZ FAILURE: $name"
    status=1
  else
    grep -E 'stat::number_of_executed_units|Done' "$build/$name.log" | tail -n 2 || true
  fi
  rm -rf "$work"
done
exit $status

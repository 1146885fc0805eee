#!/usr/bin/env bash
# The codec library under the thread checker: builds only the library and the program that opens
# and closes instances from several threads while another walks the instance list through the
# exports, then loads the compression library (a stand-in) from two at once (tests/codec/threads),
# and runs it; then the encoder's threads, and sources read from several threads while the
# open-file table closes their files. Any report of the checker fails the run. A few minutes on
# two cores; ROUNDS (default 150) sets the program's rounds.
set -euo pipefail
cd "$(dirname "$0")/.."
build=build-tsan
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZOV_TSAN=ON -DZOV_GUI=OFF \
  -DZOV_BENCH=OFF >/dev/null
cmake --build "$build" -j"$(nproc)" --target zovcod32 instance_threads fake_zov32_good \
  encoder_tests media_tests
export TSAN_OPTIONS="halt_on_error=1 exitcode=66 ${TSAN_OPTIONS:-}"
# Without address randomisation: the checker's shadow memory needs the classic layout, which
# kernels with more randomisation bits no longer give by default.
run=()
if command -v setarch >/dev/null && setarch "$(uname -m)" -R true 2>/dev/null; then
  run=(setarch "$(uname -m)" -R)
fi
"${run[@]}" "$build/tests/codec/instance_threads" "$build/codec/libzovcod32.so" "${ROUNDS:-150}" \
  "$build/tests/codec/fake_zov32_good.so"
# The encoder's worker pool (the caller's jobs and the next picture's intake on shared helpers)
# and the compression run's read-ahead of source frames.
"${run[@]}" "$build/tests/encoder/encoder_tests" \
  --gtest_filter='WorkerPool.*:FrameReadAhead.*:EncoderInvariant.TwoThreadsAndNextPictureHints*'
# Sources read from several threads while the open-file table closes and reopens their files.
"${run[@]}" "$build/tests/media/media_tests" --gtest_filter='SourceFileTable.*' --gtest_repeat=20

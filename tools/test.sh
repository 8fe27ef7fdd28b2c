#!/usr/bin/env bash
# Builds Tern and runs every test: unit, integration, USB-level (label usb)
# and GUI tests, the unit, integration and USB-level tests again under
# AddressSanitizer and UndefinedBehaviorSanitizer, the threaded ones (the
# USB-level tests among them: the backend's reader is a thread) under
# ThreadSanitizer, and each fuzz target for a bounded time.
#
# The GUI tests spend most of their time waiting for the simulated line in
# real time, so they run one after another in the background while the
# sanitizer and fuzz stages build and run beside them at the lowest CPU
# priority; their log is printed when they are done.
# Exits non-zero on any failure.
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=${JOBS:-2}
fuzz_seconds=${FUZZ_SECONDS:-30}

echo "== build and test"
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release
cmake --build build -j"$jobs"
(cd build && ctest --output-on-failure -LE gui -j"$jobs")

echo "== GUI tests, in the background"
gui_log=build/gui-tests.log
# A process group of their own, so that they can be stopped whole.
setsid sh -c 'cd build && exec ctest --output-on-failure -L gui' >"$gui_log" 2>&1 &
gui_pid=$!
# Stops the GUI tests with this script, whatever ends it.
trap 'kill -- -"$gui_pid" 2>/dev/null || true' EXIT
renice -n 19 -p $$ >/dev/null

echo "== unit, integration and USB-level tests under ASan + UBSan"
cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=Debug -DTERN_GUI=OFF -DTERN_BENCH=OFF \
  -DTERN_SANITIZE=address,undefined
cmake --build build-asan -j"$jobs" --target tern_tests tern_usb_tests
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 build-asan/tests/tern_tests
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 build-asan/tests/usb/tern_usb_tests

echo "== threaded tests under TSan"
cmake -S . -B build-tsan -DCMAKE_BUILD_TYPE=Debug -DTERN_BENCH=OFF -DTERN_SANITIZE=thread
cmake --build build-tsan -j"$jobs" --target tern_app_tests tern_thread_tests tern_usb_tests
TSAN_OPTIONS=halt_on_error=1 build-tsan/tests/tern_app_tests
TSAN_OPTIONS=halt_on_error=1 build-tsan/tests/tern_thread_tests --gtest_filter='*Threads*:RxQueue*:LibftdiReader*'
TSAN_OPTIONS=halt_on_error=1 build-tsan/tests/usb/tern_usb_tests

echo "== fuzzing (${fuzz_seconds}s per target)"
CC=clang CXX=clang++ cmake -S . -B build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTERN_GUI=OFF \
  -DTERN_TESTS=OFF -DTERN_BENCH=OFF -DTERN_FUZZ=ON
cmake --build build-fuzz -j"$jobs"
for target in build-fuzz/tests/fuzz/fuzz_*; do
  [ -x "$target" ] || continue
  name=$(basename "$target")
  corpus="build-fuzz/corpus/$name"
  mkdir -p "$corpus"
  echo "-- $name"
  "$target" -max_total_time="$fuzz_seconds" -print_final_stats=1 "$corpus" tests/fuzz/seeds/"$name" 2>&1 | tail -n 15
done
echo "== GUI tests"
gui_rc=0
wait "$gui_pid" || gui_rc=$?
trap - EXIT
cat "$gui_log"
[ "$gui_rc" -eq 0 ] || { echo "== GUI tests failed" >&2; exit 1; }
echo "== all tests passed"

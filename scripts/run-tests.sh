#!/bin/sh
# Installs what is missing, then builds and runs every test: the whole suite in a normal
# build and again under AddressSanitizer + UndefinedBehaviorSanitizer, the threaded engine
# tests under ThreadSanitizer, and each fuzzer for a bounded time.
set -eu
cd "$(dirname "$0")/.."
scripts/install-deps.sh

run_ctest() {
    directory="$1"
    shift
    (cd "$directory" && ctest --output-on-failure --timeout 600 "$@")
}

echo "== normal build =="
scripts/build.sh release
run_ctest build/release

echo "== AddressSanitizer + UndefinedBehaviorSanitizer =="
scripts/build.sh asan
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
    run_ctest build/asan

echo "== ThreadSanitizer (threaded engine tests) =="
scripts/build.sh tsan
# High address-space randomisation confuses the ThreadSanitizer runtime; run without it.
TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1" \
    setarch "$(uname -m)" -R sh -c 'cd build/tsan && ctest --output-on-failure --timeout 600 -L threaded'

echo "== fuzzers =="
scripts/build.sh fuzz
run_ctest build/fuzz -L fuzz

echo "run-tests: all passed"

#!/bin/sh
# Installs what is missing, then builds and runs every test: the whole suite in a normal
# build and again under AddressSanitizer + UndefinedBehaviorSanitizer, the threaded engine
# tests under ThreadSanitizer, and each fuzzer for a bounded time.
set -eu
cd "$(dirname "$0")/.."
scripts/install-deps.sh

# Two tests at a time: most of the suite waits on processes, servers and sleeps, and the tests
# that share an audio server hold a resource lock.
run_ctest() {
    directory="$1"
    shift
    (cd "$directory" && ctest --output-on-failure --timeout 600 -j "${HALVORA_TEST_JOBS:-2}" "$@")
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
